#include "jot/mmap_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "support/jot_test_support.h"

namespace {

namespace fs = std::filesystem;

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

// An existing file is opened as it is, never made anew or removed.
TEST(MmapFile, ExistingFileIsMappedWithItsBytes) {
  jottest::TempDir dir;
  const auto path = dir.path() / "c.mmap3";
  jottest::writeBytes(path, {9, 1, 2, 3});
  boost::iostreams::mapped_file file;
  ASSERT_TRUE(vela::comm::OpenMmapFile(path.c_str(), 4096, file));
  EXPECT_EQ(file.data()[0], 9);
  vela::comm::CloseMmapFile(file);
  const auto bytes = jottest::readBytes(path);
  ASSERT_EQ(bytes.size(), 4096u);
  EXPECT_EQ(bytes[3], 3);
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

// --- Two processes racing for one cache file. ---

// Both start at once: one holds the cache, the other is refused, and the
// holder's file is still the one its path names (a loser that removed the
// file it found would leave the holder writing into a deleted file).
TEST(MmapCacheRace, OneOfTwoProcessesStartingAtOnceHoldsTheFileItMapped) {
  jottest::TempDir dir;
  const std::string path = (dir.path() / "c.mmap3").string();
  for (int round = 0; round < 40; ++round) {
    std::remove(path.c_str());
    int go[2];
    int done[2];
    int verdicts[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(done), 0);
    ASSERT_EQ(::pipe(verdicts), 0);
    pid_t children[2];
    for (pid_t& child : children) {
      child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        ::close(go[1]);
        ::close(done[1]);
        char c;
        (void)::read(go[0], &c, 1);  // released together
        vela::comm::MmapCache cache;
        const bool held = cache.open(path, 4096);
        char verdict = held ? 'H' : 'R';
        (void)::write(verdicts[1], &verdict, 1);
        (void)::read(done[0], &c, 1);  // both have tried
        if (held) {
          verdict = cache.replaced() ? 'X' : 'K';
          (void)::write(verdicts[1], &verdict, 1);
        }
        ::_exit(0);
      }
    }
    ::close(go[0]);
    ::close(done[0]);
    ::close(verdicts[1]);
    ::close(go[1]);  // EOF releases both
    std::string seen;
    char c;
    while (seen.size() < 2 && ::read(verdicts[0], &c, 1) == 1) seen += c;
    ::close(done[1]);
    while (::read(verdicts[0], &c, 1) == 1) seen += c;
    ::close(verdicts[0]);
    for (const pid_t child : children) ::waitpid(child, nullptr, 0);
    std::string sorted = seen;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(sorted, "HKR") << "round " << round;
  }
}

TEST(MmapCacheRace, ARemovedOrReplacedFileIsNoticed) {
  jottest::TempDir dir;
  const std::string path = (dir.path() / "c.mmap3").string();
  for (const bool replace : {false, true}) {
    vela::comm::MmapCache cache;
    ASSERT_TRUE(cache.open(path, 4096));
    EXPECT_FALSE(cache.replaced());
    std::remove(path.c_str());
    if (replace) jottest::writeBytes(path, {1, 2, 3});
    EXPECT_TRUE(cache.replaced()) << replace;
    cache.close();
    std::remove(path.c_str());
  }
}

// A file that was there before is never removed, whatever refused it.
TEST(MmapCacheRace, ARefusedOpenLeavesAFileItFoundInPlace) {
  jottest::TempDir dir;
  const auto path = dir.path() / "c.mmap3";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);  // opens without waiting, cannot be mapped
  vela::comm::MmapCache cache;
  EXPECT_FALSE(cache.open(path.string(), 4096));
  EXPECT_TRUE(fs::exists(path));
}

// Open descriptors of this process.
size_t openFds() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// Whatever errno holds when an open starts (an earlier call may have left
// EEXIST: a mkdir of a folder that is there), a file the open made is
// opened once and known as its own: it is removed again when it cannot be
// extended (here past the file size limit).
TEST(MmapCacheRace, AFileAnOpenMadeIsItsOwnWhateverErrnoHeld) {
  struct Row {
    bool cache;  // MmapCache, else OpenMmapFile
    bool tooBig;
  };
  for (const Row row : {Row{true, false}, Row{true, true}, Row{false, false}, Row{false, true}}) {
    SCOPED_TRACE(std::string(row.cache ? "cache" : "mapped file") + (row.tooBig ? ", too big" : ""));
    jottest::TempDir dir;
    const auto path = dir.path() / "c.mmap3";
    const size_t fdsBefore = openFds();
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    if (row.tooBig) {
      const struct rlimit none = {0, old.rlim_max};
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
    }
    bool opened = false;
    if (row.cache) {
      vela::comm::MmapCache cache;
      errno = EEXIST;
      opened = cache.open(path.string(), 4096);
    } else {
      boost::iostreams::mapped_file file;
      errno = EEXIST;
      opened = vela::comm::OpenMmapFile(path.c_str(), 4096, file);
      vela::comm::CloseMmapFile(file);
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(opened, !row.tooBig);
    EXPECT_EQ(fs::exists(path), !row.tooBig);
    EXPECT_EQ(openFds(), fdsBefore);
  }
}

}  // namespace
