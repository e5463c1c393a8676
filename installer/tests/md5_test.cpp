#include "installer/md5.h"

#include <filesystem>
#include <fstream>
#include <regex>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

TEST(Md5Test, KnownDigestsAreLowerCaseHex) {
  EXPECT_EQ(quillo::md5Hex(std::string_view("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(quillo::md5Hex(std::string_view("abc")), "900150983cd24fb0d6963f7d28e17f72");
  const std::vector<uint8_t> empty;
  EXPECT_EQ(quillo::md5Hex(std::span<const uint8_t>(empty)), "d41d8cd98f00b204e9800998ecf8427e");
  const std::regex hex("^[0-9a-f]{32}$");
  for (int i = 0; i < 64; ++i) {
    std::vector<uint8_t> bytes(static_cast<size_t>(i), static_cast<uint8_t>(i * 7));
    EXPECT_TRUE(std::regex_match(quillo::md5Hex(std::span<const uint8_t>(bytes)), hex));
  }
}

TEST(Md5Test, TextStopsAtTheFirstNul) {
  EXPECT_EQ(quillo::md5Hex(std::string_view("abc\0def", 7)), quillo::md5Hex(std::string_view("abc")));
}

TEST(Md5Test, FileDigestMatchesTheBytesAndMissingFileGivesNothing) {
  const auto path = std::filesystem::path(::testing::TempDir()) /
                    ("md5-file-test-" + std::to_string(::getpid()) + ".bin");
  std::string content(3 << 20, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 + (i >> 11));
  std::ofstream(path, std::ios::binary) << content;
  EXPECT_EQ(quillo::md5HexOfFile(path.string()), quillo::md5Hex(std::span(
      reinterpret_cast<const uint8_t*>(content.data()), content.size())));
  // Started with standard input closed (as a daemon may be), the file opens as 0.
  const int savedInput = ::dup(STDIN_FILENO);
  if (savedInput >= 0) ::close(STDIN_FILENO);
  const auto withoutInput = quillo::md5HexOfFile(path.string());
  if (savedInput >= 0) {
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
  }
  EXPECT_EQ(withoutInput, quillo::md5HexOfFile(path.string()));
  EXPECT_NE(withoutInput, std::nullopt);
  std::filesystem::remove(path);
  EXPECT_EQ(quillo::md5HexOfFile(path.string()), std::nullopt);
}

// A folder opens but cannot be read: it has no digest, not the empty one.
TEST(Md5Test, UnreadableFileGivesNothing) {
  EXPECT_EQ(quillo::md5HexOfFile(::testing::TempDir()), std::nullopt);
}

}  // namespace
