#include "jot/mmap_file.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "support/jot_test_support.h"

namespace {

TEST(MmapFile, NewFileHasExactlyTheSizeAllZero) {
  jottest::TempDir dir;
  const auto path = dir.path() / "c.mmap3";
  boost::iostreams::mapped_file file;
  ASSERT_TRUE(vela::comm::OpenMmapFile(path.c_str(), 153600, file));
  vela::comm::CloseMmapFile(file);
  const auto bytes = jottest::readBytes(path);
  EXPECT_EQ(bytes.size(), 153600u);
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST(MmapFile, ShortFileIsExtendedWithZerosBeforeMapping) {
  jottest::TempDir dir;
  const auto path = dir.path() / "c.mmap3";
  jottest::writeBytes(path, {9, 1, 2, 3});
  vela::comm::MmapCache cache;
  ASSERT_TRUE(cache.open(path.string(), 153600));
  EXPECT_EQ(cache.data()[0], 9);
  cache.data()[153599] = 7;  // the last byte is backed by the file
  cache.close();
  const auto bytes = jottest::readBytes(path);
  ASSERT_EQ(bytes.size(), 153600u);
  EXPECT_EQ(bytes[153599], 7);
  EXPECT_EQ(bytes[100], 0);
}

TEST(MmapFile, RefusesEmptyPathsAndZeroSizes) {
  boost::iostreams::mapped_file file;
  EXPECT_FALSE(vela::comm::OpenMmapFile("", 10, file));
  EXPECT_FALSE(vela::comm::OpenMmapFile(nullptr, 10, file));
  jottest::TempDir dir;
  EXPECT_FALSE(vela::comm::OpenMmapFile((dir.path() / "x").c_str(), 0, file));
  EXPECT_FALSE(vela::comm::OpenMmapFile((dir.path() / "missing" / "x").c_str(), 10, file));
  // One byte is a size.
  EXPECT_TRUE(vela::comm::OpenMmapFile((dir.path() / "one").c_str(), 1, file));
  vela::comm::CloseMmapFile(file);
  vela::comm::MmapCache cache;
  EXPECT_FALSE(cache.open((dir.path() / "c").string(), 0));
  EXPECT_TRUE(cache.open((dir.path() / "c").string(), 1));
}

TEST(MmapCache, SecondHolderOfTheSameFileIsRefused) {
  jottest::TempDir dir;
  const std::string path = (dir.path() / "c.mmap3").string();
  vela::comm::MmapCache first;
  vela::comm::MmapCache second;
  ASSERT_TRUE(first.open(path, 4096));
  EXPECT_FALSE(second.open(path, 4096));
  first.close();
  EXPECT_TRUE(second.open(path, 4096));
}

// ---- Checks of the cache path ----

// A device in the cache's place is refused before anything is written to it.
TEST(MmapCache, ADeviceInItsPlaceIsNoCache) {
  jottest::TempDir dir;
  const auto path = dir.path() / "c.mmap3";
  std::filesystem::create_symlink("/dev/null", path);
  vela::comm::MmapCache cache;
  EXPECT_FALSE(cache.open(path.string(), 4096));
  EXPECT_EQ(cache.error(), "not a regular file");
  EXPECT_TRUE(std::filesystem::is_symlink(path));
}

}  // namespace
