#include "ext/string_path.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using ext::NSRange;
using ext::StringRange;

// Each row: a path and what each operation gives for it.
struct PathCase {
  std::string path;
  std::string last;
  std::string extension;
  std::string withoutLast;
  std::string withoutExtension;
};

class PathTable : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathTable, OperationsFollowPlatformRules) {
  const PathCase& c = GetParam();
  EXPECT_EQ(ext::lastPathComponent(c.path), c.last);
  EXPECT_EQ(ext::pathExtension(c.path), c.extension);
  EXPECT_EQ(ext::deletingLastPathComponent(c.path), c.withoutLast);
  EXPECT_EQ(ext::deletingPathExtension(c.path), c.withoutExtension);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathTable,
    ::testing::Values(
        PathCase{"/tmp/scratch.tiff", "scratch.tiff", "tiff", "/tmp", "/tmp/scratch"},
        PathCase{"/tmp/scratch", "scratch", "", "/tmp", "/tmp/scratch"},
        PathCase{"/tmp/", "tmp", "", "/", "/tmp"},
        PathCase{"/tmp", "tmp", "", "/", "/tmp"},
        PathCase{"/tmp/lock/", "lock", "", "/tmp", "/tmp/lock"},
        PathCase{"scratch///", "scratch", "", "", "scratch"},
        PathCase{"scratch.tiff", "scratch.tiff", "tiff", "", "scratch"},
        PathCase{"scratch.bundle/", "scratch.bundle", "bundle", "", "scratch"},
        PathCase{"/", "/", "", "/", "/"},
        PathCase{"///", "/", "", "/", "/"},
        PathCase{"", "", "", "", ""},
        PathCase{"scratch..tiff", "scratch..tiff", "tiff", "", "scratch."},
        PathCase{".tiff", ".tiff", "", "", ".tiff"},
        PathCase{".scratch.tiff", ".scratch.tiff", "tiff", "", ".scratch"},
        PathCase{"/tmp/scratch.", "scratch.", "", "/tmp", "/tmp/scratch"},
        PathCase{"/a/..", "..", "", "/a", "/a/.."},
        PathCase{"/a.b/c", "c", "", "/a.b", "/a.b/c"},
        PathCase{"//tmp//x.tar.gz//", "x.tar.gz", "gz", "/tmp", "/tmp/x.tar"},
        PathCase{"/Applications/QuilloInstaller_k.app", "QuilloInstaller_k.app", "app",
                 "/Applications", "/Applications/QuilloInstaller_k"},
        PathCase{"/用户/文档.稿", "文档.稿", "稿", "/用户", "/用户/文档"}));

TEST(PathComponents, SplitsOnSeparatorsKeepingRootAndTrailingSlash) {
  using V = std::vector<std::string>;
  EXPECT_EQ(ext::pathComponents("tmp/scratch.tiff"), (V{"tmp", "scratch.tiff"}));
  EXPECT_EQ(ext::pathComponents("/tmp/scratch.tiff"), (V{"/", "tmp", "scratch.tiff"}));
  EXPECT_EQ(ext::pathComponents("/tmp/scratch/"), (V{"/", "tmp", "scratch", "/"}));
  EXPECT_EQ(ext::pathComponents("//tmp///x"), (V{"/", "tmp", "x"}));
  EXPECT_EQ(ext::pathComponents("a/"), (V{"a", "/"}));
  EXPECT_EQ(ext::pathComponents("/"), (V{"/"}));
  EXPECT_EQ(ext::pathComponents(""), V{});
}

TEST(AppendingPathComponent, JoinsWithExactlyOneSeparator) {
  EXPECT_EQ(ext::appendingPathComponent("/tmp", "scratch.tiff"), "/tmp/scratch.tiff");
  EXPECT_EQ(ext::appendingPathComponent("/tmp/", "scratch.tiff"), "/tmp/scratch.tiff");
  EXPECT_EQ(ext::appendingPathComponent("/", "scratch.tiff"), "/scratch.tiff");
  EXPECT_EQ(ext::appendingPathComponent("", "scratch.tiff"), "scratch.tiff");
  EXPECT_EQ(ext::appendingPathComponent("/tmp//", "/a/"), "/tmp/a");
  EXPECT_EQ(ext::appendingPathComponent("/tmp/", ""), "/tmp");
  EXPECT_EQ(ext::appendingPathComponent("/home/u/.local/share", "Quillo"),
            "/home/u/.local/share/Quillo");
  EXPECT_EQ(ext::appendingPathComponent("/b.app/Contents/Resources", "install.sh"),
            "/b.app/Contents/Resources/install.sh");
}

TEST(AppendingPathExtension, AppendsAfterTrailingSlashesAreRemoved) {
  EXPECT_EQ(ext::appendingPathExtension("/tmp/scratch.old", "tiff"), "/tmp/scratch.old.tiff");
  EXPECT_EQ(ext::appendingPathExtension("/tmp/scratch.", "tiff"), "/tmp/scratch..tiff");
  EXPECT_EQ(ext::appendingPathExtension("/tmp/", "tiff"), "/tmp.tiff");
  EXPECT_EQ(ext::appendingPathExtension("scratch", "tiff"), "scratch.tiff");
  EXPECT_EQ(ext::appendingPathExtension("~/notes", "txt"), "~/notes.txt");
}

TEST(AppendingPathExtension, GivesNothingWhenThereIsNoFileName) {
  EXPECT_EQ(ext::appendingPathExtension("", "tiff"), std::nullopt);
  EXPECT_EQ(ext::appendingPathExtension("/", "tiff"), std::nullopt);
  EXPECT_EQ(ext::appendingPathExtension("//", "tiff"), std::nullopt);
  EXPECT_EQ(ext::appendingPathExtension("~", "tiff"), std::nullopt);
  EXPECT_EQ(ext::appendingPathExtension("~user/", "tiff"), std::nullopt);
  EXPECT_EQ(ext::appendingPathExtension("scratch", "/tiff"), std::nullopt);
}

// "a", then "é" as e + combining acute (one cluster, two units), then U+1F600
// (a surrogate pair), then "b". Bytes: a=0, e=1, U+0301=2..3, U+1F600=4..7, b=8.
const std::string kMixed = "ae\xCC\x81\xF0\x9F\x98\x80" "b";

TEST(NSRangeBridging, FullRangeCountsUtf16Units) {
  EXPECT_EQ(ext::fullNSRange(""), (NSRange{0, 0}));
  EXPECT_EQ(ext::fullNSRange("\xF0\x9F\x98\x80"), (NSRange{0, 2}));
  EXPECT_EQ(ext::fullNSRange("中文"), (NSRange{0, 2}));
  EXPECT_EQ(ext::fullNSRange(kMixed), (NSRange{0, 6}));
}

TEST(NSRangeBridging, WholeRangeRoundTrips) {
  for (const std::string& s : {std::string(), kMixed, std::string("plain"), std::string("中文")}) {
    EXPECT_EQ(ext::nsRange(s, StringRange{0, s.size()}), ext::fullNSRange(s)) << s;
    EXPECT_EQ(ext::range(s, ext::fullNSRange(s)), (StringRange{0, s.size()})) << s;
    EXPECT_EQ(ext::substring(s, ext::fullNSRange(s)), s);
  }
}

TEST(NSRangeBridging, EmptyRangeAtStartMapsToStart) {
  EXPECT_EQ(ext::range("abc", NSRange{0, 0}), (StringRange{0, 0}));
  EXPECT_EQ(ext::range("", NSRange{0, 0}), (StringRange{0, 0}));
  EXPECT_EQ(ext::substring("abc", NSRange{0, 0}), "");
}

TEST(NSRangeBridging, ClusterAlignedRangesMapBothWays) {
  const struct {
    NSRange units;
    StringRange bytes;
    std::string text;
  } cases[] = {
      {{0, 1}, {0, 1}, "a"},
      {{1, 2}, {1, 4}, "e\xCC\x81"},
      {{3, 2}, {4, 8}, "\xF0\x9F\x98\x80"},
      {{5, 1}, {8, 9}, "b"},
      {{6, 0}, {9, 9}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ext::range(kMixed, c.units), c.bytes) << ext::describe(c.units);
    EXPECT_EQ(ext::substring(kMixed, c.units), c.text) << ext::describe(c.units);
    EXPECT_EQ(ext::nsRange(kMixed, c.bytes), c.units) << ext::describe(c.units);
  }
}

TEST(NSRangeBridging, RangesThatDoNotMapGiveNothing) {
  for (const NSRange r : {NSRange{4, 1},               // inside the surrogate pair
                          NSRange{3, 1},               // ends inside it
                          NSRange{1, 1},               // splits e + accent
                          NSRange{2, 1},               // starts on the accent
                          NSRange{7, 0},               // past the end
                          NSRange{5, 2},               // runs past the end
                          NSRange{ext::kNSNotFound, 0},
                          NSRange{1, UINT64_MAX}}) {   // overflowing end
    EXPECT_EQ(ext::checkedRange(kMixed, r), std::nullopt) << ext::describe(r);
    EXPECT_EQ(ext::checkedSubstring(kMixed, r), std::nullopt) << ext::describe(r);
  }
  // CR LF is one cluster.
  EXPECT_EQ(ext::checkedRange("a\r\nb", NSRange{0, 2}), std::nullopt);
  EXPECT_EQ(ext::checkedRange("a\r\nb", NSRange{1, 2}), (StringRange{1, 3}));
}

TEST(NSRangeBridging, NSRangeOfByteBoundsInsideSequencesCountsFromTheirStart) {
  // Byte 5 lies inside the 4-byte emoji starting at 4.
  EXPECT_EQ(ext::nsRange(kMixed, StringRange{5, 9}), (NSRange{3, 3}));
  EXPECT_EQ(ext::nsRange(kMixed, StringRange{0, 100}), ext::fullNSRange(kMixed));
}

TEST(NSRangeBridging, IllFormedBytesCountAsOneUnitEach) {
  const std::string s = "a\xFF" "b\xC3";  // stray byte, then a truncated sequence
  EXPECT_EQ(ext::fullNSRange(s), (NSRange{0, 4}));
  EXPECT_EQ(ext::substring(s, NSRange{1, 2}), "\xFF" "b");
}

TEST(NSRangeBridgingDeathTest, UnmappableRangeAbortsWithDescription) {
  EXPECT_DEATH((void)ext::range("abc", NSRange{2, 5}), "Failed to find range \\{2, 5\\} in abc");
  EXPECT_DEATH((void)ext::substring(kMixed, NSRange{4, 1}), "Failed to find range \\{4, 1\\} in a");
}

}  // namespace
