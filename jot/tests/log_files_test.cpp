#include "jot/log_files.h"

#include <ctime>
#include <fcntl.h>
#include <memory>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "jot/log_crypt.h"
#include "support/jot_test_support.h"

namespace {

namespace fs = std::filesystem;
using vela::jot::JotConfig;
using vela::jot::LogFiles;

time_t utc(int year, int month, int day, int hour, int minute = 0) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  return timegm(&tm);
}

class LogFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    logDir_ = dir_.path() / "logs";
    cacheDir_ = dir_.path() / "cache";
    fs::create_directories(logDir_);
    fs::create_directories(cacheDir_);
  }

  std::unique_ptr<LogFiles> make(int32_t mode = vela::jot::kAppenderAsync, bool withCache = false,
                                 int cacheDays = 0) {
    JotConfig config;
    config.mode_ = mode;
    config.logdir_ = logDir_.string();
    config.nameprefix_ = "inst_a";
    if (withCache) config.cachedir_ = cacheDir_.string();
    config.cache_days_ = cacheDays;
    vela::jot::JotClock clock{[this] { return timeval{now_, 0}; }, [this] { return tick_; }};
    return std::make_unique<LogFiles>(
        config, clock,
        [](const char* text, size_t len, vela::comm::AutoBuffer& out) {
          vela::jot::LogCrypt::BuildSyncBlock(0x08, nullptr, text, len, out);
        },
        [this](const std::string& text) { console_.push_back(text); });
  }

  // Writes one sync block of `text`.
  static void put(LogFiles& files, const std::string& text) {
    vela::comm::AutoBuffer block;
    vela::jot::LogCrypt::BuildSyncBlock(0x08, nullptr, text.data(), text.size(), block);
    files.Log2File(block.Ptr(), block.Length(), true);
  }

  static std::string textOf(const fs::path& file) {
    std::string text;
    for (const auto& block : vela::jot::ReadLogBlocks(jottest::readBytes(file), std::nullopt).blocks) {
      text += block.text;
    }
    return text;
  }

  static void touch(const fs::path& path, time_t mtime, size_t size = 1) {
    jottest::writeBytes(path, std::vector<uint8_t>(size, 'x'));
    fs::last_write_time(path, fs::file_time_type::clock::now() -
                                  std::chrono::seconds(std::time(nullptr) - mtime));
  }

  jottest::TempDir dir_;
  fs::path logDir_;
  fs::path cacheDir_;
  time_t now_ = utc(2025, 1, 5, 13, 4);
  uint64_t tick_ = 1000000;
  std::vector<std::string> console_;
};

TEST_F(LogFilesTest, OneFilePerDayNamedByPrefixAndDate) {
  auto files = make();
  put(*files, "a\n");
  put(*files, "b\n");
  now_ = utc(2025, 1, 6, 0, 1);
  tick_ += 11 * 3600 * 1000;
  put(*files, "c\n");
  EXPECT_EQ(textOf(logDir_ / "inst_a_20250105.jot"), "a\nb\n");
  EXPECT_EQ(textOf(logDir_ / "inst_a_20250106.jot"), "c\n");
}

TEST_F(LogFilesTest, SizeSplitOpensTheNextIndex) {
  auto files = make();
  files->SetMaxFileSize(10 * 1024 * 1024);
  const fs::path today = logDir_ / "inst_a_20250105.jot";
  jottest::writeBytes(today, {});
  fs::resize_file(today, 10 * 1024 * 1024 + 512 * 1024);
  put(*files, "next\n");
  EXPECT_EQ(textOf(logDir_ / "inst_a_20250105_1.jot"), "next\n");
}

// Which file of the day the next block goes to, from the names already there
// (maximum size 100): the newest name is the longest, then the greatest; an
// index is decimal digits up to 1000000, else the name is not one of ours.
TEST_F(LogFilesTest, IndexIsReadFromTheNewestName) {
  struct Row {
    std::vector<std::pair<std::string, size_t>> existing;  // index part, size
    std::string written;
  };
  const Row rows[] = {
      {{{"_9", 500}, {"_10", 0}}, "_10"}, {{{"_9", 0}, {"_10", 0}}, "_10"},
      {{{"_1", 0}, {"_2", 0}}, "_2"},     {{{"_9", 0}}, "_9"},
      {{{"_1000000", 0}}, "_1000000"},    {{{"_1000001", 0}}, ""},
  };
  for (const Row& row : rows) {
    std::string names;
    for (const auto& [index, size] : row.existing)
      names += index + ":" + std::to_string(size) + " ";
    SCOPED_TRACE(names + "-> '" + row.written + "'");
    fs::remove_all(logDir_);
    fs::create_directories(logDir_);
    for (const auto& [index, size] : row.existing) {
      jottest::writeBytes(logDir_ / ("inst_a_20250105" + index + ".jot"),
                          std::vector<uint8_t>(size, 0));
    }
    auto files = make();
    files->SetMaxFileSize(100);
    put(*files, "x\n");
    EXPECT_EQ(textOf(logDir_ / ("inst_a_20250105" + row.written + ".jot")), "x\n");
  }
}

// However long the log directory's path, the file is its day's file in it:
// a path cut short would name a file the expiry and the index never find,
// or one outside the directory.
TEST_F(LogFilesTest, LongDirectoryPathsKeepTheWholeFileName) {
  for (const size_t length : {1010u, 1100u}) {
    const fs::path root = dir_.path() / "long";
    logDir_ = root;
    while (logDir_.string().size() + 1 < length) {
      logDir_ /= std::string(std::min<size_t>(100, length - logDir_.string().size() - 1), 'd');
    }
    fs::create_directories(logDir_);
    put(*make(), "x\n");
    EXPECT_EQ(textOf(logDir_ / "inst_a_20250105.jot"), "x\n") << length;
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root))
      files += entry.is_regular_file();
    EXPECT_EQ(files, 1u) << length;
    fs::remove_all(root);
  }
}

TEST_F(LogFilesTest, NoSplitWithoutMaximumSize) {
  auto files = make();
  jottest::writeBytes(logDir_ / "inst_a_20250105.jot", std::vector<uint8_t>(100000, 0));
  put(*files, "same\n");
  EXPECT_EQ(jottest::logFiles(logDir_).size(), 1u);
}

TEST_F(LogFilesTest, ClockSetBackKeepsTheLastFile) {
  auto files = make();
  now_ = utc(2025, 1, 5, 0, 30);
  put(*files, "before\n");
  now_ = utc(2025, 1, 4, 23, 30);
  tick_ += 1000;
  put(*files, "after\n");
  EXPECT_EQ(textOf(logDir_ / "inst_a_20250105.jot"), "before\nafter\n");
  EXPECT_FALSE(fs::exists(logDir_ / "inst_a_20250104.jot"));
}

TEST_F(LogFilesTest, ClockJumpAheadIsNotedInTheNewFile) {
  auto files = make();
  put(*files, "before\n");
  now_ += 86400;
  tick_ += 1000;
  put(*files, "after\n");
  const std::string text = textOf(logDir_ / "inst_a_20250106.jot");
  EXPECT_EQ(text.rfind("[F][ last log file:", 0), 0u) << text;
  EXPECT_NE(text.find("inst_a_20250105.jot from 2025-01-05 +0000 13:04:00 to 2025-01-06"),
            std::string::npos);
  EXPECT_NE(text.find("time_diff:86400, tick_diff:1000\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 6), "after\n");
}

TEST_F(LogFilesTest, ExpiryDeletesOnlyOldLogsAndDateFolders) {
  auto files = make();
  const time_t real = std::time(nullptr);
  now_ = real;
  const time_t old = real - 11 * 86400;
  touch(logDir_ / "old.jot", old);
  touch(logDir_ / "young.jot", real - 86400);
  touch(logDir_ / "x.jot.bak", old);
  fs::create_directories(logDir_ / "20240101" / "inner");
  touch(logDir_ / "20240101" / "inner" / "f", old);
  fs::create_directories(logDir_ / "2024010");
  fs::last_write_time(logDir_ / "20240101", fs::last_write_time(logDir_ / "old.jot"));
  fs::last_write_time(logDir_ / "2024010", fs::last_write_time(logDir_ / "old.jot"));
  files->DelTimeoutFile(logDir_.string());
  EXPECT_FALSE(fs::exists(logDir_ / "old.jot"));
  EXPECT_TRUE(fs::exists(logDir_ / "young.jot"));
  EXPECT_TRUE(fs::exists(logDir_ / "x.jot.bak"));
  EXPECT_FALSE(fs::exists(logDir_ / "20240101"));
  EXPECT_TRUE(fs::exists(logDir_ / "2024010"));
}

TEST_F(LogFilesTest, MovesAppendOldCachedFilesAndKeepYoungOnes) {
  auto files = make(vela::jot::kAppenderAsync, true, 3);
  const time_t real = std::time(nullptr);
  now_ = real;
  touch(cacheDir_ / "inst_a_20241231.jot", real - 6 * 86400, 0);  // empty: moved, the scan goes on
  touch(cacheDir_ / "inst_a_20250101.jot", real - 5 * 86400, 3);
  touch(cacheDir_ / "inst_a_20250105.jot", real - 86400, 4);
  touch(cacheDir_ / "other_20250101.jot", real - 5 * 86400);
  jottest::writeBytes(logDir_ / "inst_a_20250101.jot", {'a', 'b'});
  files->MoveOldFiles(cacheDir_.string(), logDir_.string(), "inst_a");
  EXPECT_FALSE(fs::exists(cacheDir_ / "inst_a_20241231.jot"));
  EXPECT_FALSE(fs::exists(cacheDir_ / "inst_a_20250101.jot"));
  EXPECT_EQ(jottest::readBytes(logDir_ / "inst_a_20250101.jot"),
            (std::vector<uint8_t>{'a', 'b', 'x', 'x', 'x'}));
  EXPECT_TRUE(fs::exists(cacheDir_ / "inst_a_20250105.jot"));
  EXPECT_TRUE(fs::exists(cacheDir_ / "other_20250101.jot"));
}

TEST_F(LogFilesTest, FailedAppendKeepsItsSource) {
  jottest::writeBytes(cacheDir_ / "src.jot", {'1', '2'});
  fs::create_directories(logDir_ / "dst.jot");  // cannot be opened for appending
  EXPECT_FALSE(LogFiles::AppendFile((cacheDir_ / "src.jot").string(), (logDir_ / "dst.jot").string()));
  EXPECT_TRUE(fs::exists(cacheDir_ / "src.jot"));
  // Nor is one whose source cannot be opened: no descriptor is left.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  const struct rlimit none = {0, old.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  const bool appended =
      LogFiles::AppendFile((cacheDir_ / "src.jot").string(), (logDir_ / "new.jot").string());
  ::setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_FALSE(appended);

  auto files = make(vela::jot::kAppenderAsync, true, 0);
  fs::rename(cacheDir_ / "src.jot", cacheDir_ / "inst_a_20240101.jot");
  fs::create_directories(logDir_ / "inst_a_20240101.jot");
  files->MoveOldFiles(cacheDir_.string(), logDir_.string(), "inst_a");
  EXPECT_TRUE(fs::exists(cacheDir_ / "inst_a_20240101.jot"));
}

// Appends that must fail and leave the destination as it was: the caller
// deletes a source it took for appended.
TEST_F(LogFilesTest, AppendThatCannotCopyEverythingFailsAndLeavesTheDestination) {
  // A kernel attribute file claims 4096 bytes and reads a few: a source
  // shorter than its size.
  const fs::path shortSource = "/sys/devices/system/cpu/online";
  std::error_code ec;
  const bool haveShort =
      fs::file_size(shortSource, ec) > jottest::readBytes(shortSource).size() && !ec;
  jottest::writeBytes(cacheDir_ / "src.jot", {'1', '2'});
  fs::create_symlink("/dev/full", logDir_ / "full.jot");
  struct Row {
    const char* what;
    fs::path src;
    fs::path dst;
  };
  const Row rows[] = {
      {"source shorter than its size", shortSource, logDir_ / "dst.jot"},
      {"flush fails", cacheDir_ / "src.jot", logDir_ / "full.jot"},
  };
  for (const Row& row : rows) {
    if (row.src == shortSource && !haveShort) continue;
    jottest::writeBytes(logDir_ / "dst.jot", {'a', 'b'});
    EXPECT_FALSE(LogFiles::AppendFile(row.src.string(), row.dst.string())) << row.what;
    EXPECT_EQ(jottest::readBytes(logDir_ / "dst.jot"), (std::vector<uint8_t>{'a', 'b'}))
        << row.what;
  }
  if (!haveShort) GTEST_SKIP() << shortSource << " reads as long as its size";
  // Moving it away keeps the source.
  auto files = make(vela::jot::kAppenderAsync, true, 0);
  fs::create_symlink(shortSource, cacheDir_ / "inst_a_20240101.jot");
  files->MoveOldFiles(cacheDir_.string(), logDir_.string(), "inst_a");
  EXPECT_TRUE(fs::is_symlink(cacheDir_ / "inst_a_20240101.jot"));
}

// A cached block counts as written only where the same bytes are: another
// block of its length is not it.
TEST_F(LogFilesTest, OnlyTheSameBlockIsFoundInTheLog) {
  auto files = make();
  vela::comm::AutoBuffer same;
  vela::comm::AutoBuffer other;
  vela::jot::LogCrypt::BuildSyncBlock(0x08, nullptr, "aaaa\n", 5, same);
  vela::jot::LogCrypt::BuildSyncBlock(0x08, nullptr, "bbbb\n", 5, other);
  ASSERT_EQ(files->Log2File(same.Ptr(), same.Length(), true), 0);
  EXPECT_TRUE(files->ContainsBlock(same.Ptr(), same.Length()));
  EXPECT_FALSE(files->ContainsBlock(other.Ptr(), other.Length()));
  // The beginning of `other` after damage is not a torn write: kept.
  const fs::path file = logDir_ / "inst_a_20250105.jot";
  std::vector<uint8_t> bytes = jottest::readBytes(file);
  bytes.insert(bytes.end(), {0xEE, 0xEE, 0xEE});
  const auto* start = static_cast<const uint8_t*>(other.Ptr());
  bytes.insert(bytes.end(), start, start + 10);
  jottest::writeBytes(file, bytes);
  EXPECT_FALSE(files->ContainsBlock(other.Ptr(), other.Length()));
  EXPECT_EQ(jottest::readBytes(file), bytes);
}

TEST_F(LogFilesTest, WriteErrorIsDetectedAndTheBlockGoesToTheCache) {
  auto files = make(vela::jot::kAppenderAsync, true, 0);
  fs::create_symlink("/dev/full", logDir_ / "inst_a_20250105.jot");
  put(*files, "kept\n");
  ASSERT_FALSE(console_.empty());
  EXPECT_EQ(console_[0], "write file error:28");
  EXPECT_EQ(textOf(cacheDir_ / "inst_a_20250105.jot"), "kept\n");
}

// A file size limit stands in for a nearly full disk: a block does not fit,
// the short notice of its failure does.
TEST_F(LogFilesTest, ABlockTriedAgainNotesItsFailureOnce) {
  struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) {
      ::getrlimit(RLIMIT_FSIZE, &saved);
      previousHandler = ::signal(SIGXFSZ, SIG_IGN);
      const struct rlimit limit {bytes, saved.rlim_max};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
      ::setrlimit(RLIMIT_FSIZE, &saved);
      ::signal(SIGXFSZ, previousHandler);
    }
    struct rlimit saved {};
    sighandler_t previousHandler;
  };
  const fs::path file = logDir_ / "inst_a_20250105.jot";
  auto files = make();
  const std::string large(1000, 'x');
  put(*files, "a\n");
  for (const char* then : {"b\n", "c\n"}) {
    {
      FileSizeLimit limit(fs::file_size(file) + 200);
      for (int i = 0; i < 3; ++i) put(*files, large);
    }
    put(*files, then);
  }
  {
    // Room for one byte: the piece that fit is cut back too.
    const uintmax_t before = fs::file_size(file);
    FileSizeLimit limit(before + 1);
    put(*files, large);
    EXPECT_EQ(fs::file_size(file), before);
  }
  put(*files, "d\n");
  EXPECT_EQ(textOf(file), "a\n\nwrite file error:27\nb\n\nwrite file error:27\nc\nd\n");
  // Cutting a regular file back works: no truncate error is said.
  for (const std::string& line : console_)
    EXPECT_EQ(line.find("truncate error"), std::string::npos);
}

TEST_F(LogFilesTest, YoungLogsGoToTheCacheWhenAsked) {
  auto files = make(vela::jot::kAppenderAsync, true, 3);
  put(*files, "cached\n");
  const fs::space_info space = fs::space(cacheDir_);
  if (space.available < (uintmax_t{1} << 30)) GTEST_SKIP() << "cache volume has under 1 GiB free";
  EXPECT_EQ(textOf(cacheDir_ / "inst_a_20250105.jot"), "cached\n");
  EXPECT_FALSE(fs::exists(logDir_ / "inst_a_20250105.jot"));
}

TEST_F(LogFilesTest, EmptyLogDirectoryWritesNothing) {
  JotConfig config;
  config.nameprefix_ = "inst_a";
  LogFiles files(config, vela::jot::JotClock::System(),
                 [](const char*, size_t, vela::comm::AutoBuffer&) {}, [](const std::string&) {});
  files.Log2File("abc", 3, true);
  EXPECT_FALSE(fs::exists("/inst_a_" + LogFiles::MakeLogFileNamePrefix(timeval{std::time(nullptr), 0}, "").substr(1) + ".jot"));
}

// --- Files that must never be waited on or written once moved. ---

// Sync mode keeps its file open: a file maintenance moved away is closed,
// and the next record goes to the one its folder names then.
TEST_F(LogFilesTest, SyncModeNeverWritesIntoAFileMaintenanceMoved) {
  auto files = make(vela::jot::kAppenderSync, true, 0);
  fs::create_directories(logDir_ /
                         "inst_a_20250105.jot");  // refuses: the cache folder's file takes it
  put(*files, "a\n");
  ASSERT_EQ(textOf(cacheDir_ / "inst_a_20250105.jot"), "a\n");
  fs::remove(logDir_ / "inst_a_20250105.jot");
  files->MoveOldFiles(cacheDir_.string(), logDir_.string(), "inst_a");
  ASSERT_FALSE(fs::exists(cacheDir_ / "inst_a_20250105.jot"));
  put(*files, "b\n");
  EXPECT_EQ(textOf(logDir_ / "inst_a_20250105.jot"), "a\nb\n");
}

// Sync mode keeps its file only for the folder it opened it in: once the
// cache folder has today's file (another process's), the next record goes
// there and moves it, so the log keeps the order the blocks came in.
TEST_F(LogFilesTest, SyncModeKeepsItsFileOnlyForItsFolder) {
  auto files = make(vela::jot::kAppenderSync, true, 0);
  put(*files, "a\n");
  ASSERT_EQ(textOf(logDir_ / "inst_a_20250105.jot"), "a\n");
  vela::comm::AutoBuffer early;
  vela::jot::LogCrypt::BuildSyncBlock(0x08, nullptr, "early\n", 6, early);
  const auto* bytes = static_cast<const uint8_t*>(early.Ptr());
  jottest::writeBytes(cacheDir_ / "inst_a_20250105.jot", {bytes, bytes + early.Length()});
  put(*files, "b\n");
  EXPECT_EQ(textOf(logDir_ / "inst_a_20250105.jot"), "a\nearly\nb\n");
  EXPECT_FALSE(fs::exists(cacheDir_ / "inst_a_20250105.jot"));
}

// A FIFO without a reader would hold open() forever; with one it is no file.
TEST_F(LogFilesTest, AFifoInPlaceOfALogFileIsRefusedAtOnce) {
  for (const bool reader : {false, true}) {
    for (const int32_t mode : {vela::jot::kAppenderSync, vela::jot::kAppenderAsync}) {
      const fs::path fifo = logDir_ / "inst_a_20250105.jot";
      ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
      const int readFd = reader ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
      console_.clear();
      auto files = make(mode);
      vela::comm::AutoBuffer block;
      vela::jot::LogCrypt::BuildSyncBlock(0x08, nullptr, "x\n", 2, block);
      EXPECT_EQ(files->Log2File(block.Ptr(), block.Length(), true), reader ? ESPIPE : ENXIO);
      ASSERT_FALSE(console_.empty());
      EXPECT_NE(console_[0].find(reader ? "not a regular file" : "No such device or address"),
                std::string::npos)
          << console_[0];
      files.reset();
      if (readFd >= 0) ::close(readFd);
      fs::remove(fifo);
    }
  }
}

// Maintenance moves only regular files: a FIFO named like a log is left.
TEST_F(LogFilesTest, MaintenanceNeverOpensAFifoItWouldWaitOn) {
  auto files = make(vela::jot::kAppenderAsync, true, 0);
  ASSERT_EQ(::mkfifo((cacheDir_ / "inst_a_20240101.jot").c_str(), 0600), 0);
  files->MoveOldFiles(cacheDir_.string(), logDir_.string(), "inst_a");
  EXPECT_TRUE(fs::exists(cacheDir_ / "inst_a_20240101.jot"));
  EXPECT_FALSE(fs::exists(logDir_ / "inst_a_20240101.jot"));
}

}  // namespace
