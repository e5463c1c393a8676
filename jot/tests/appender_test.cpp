#include "jot/appender.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <random>
#include <regex>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

#include "jot/log_buffer.h"
#include "jot/log_format.h"
#include "support/jot_test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vela::jot::JotConfig;
using vela::jot::JotterInfo_t;

void writeRecord(const std::string& text, vela::jot::TLogLevel level = vela::jot::kLevelInfo) {
  JotterInfo_t info;
  info.level = level;
  info.tag = "test";
  info.filename = __FILE__;
  info.line = __LINE__;
  gettimeofday(&info.timeval, nullptr);
  vela::jot::jotter_Write(&info, text.c_str());
}

JotConfig configFor(const fs::path& dir, int32_t mode = vela::jot::kAppenderAsync,
                    bool zstd = false, const std::string& key = "") {
  JotConfig config;
  config.mode_ = mode;
  config.logdir_ = dir.string();
  config.nameprefix_ = "inst_a";
  config.pub_key_ = key;
  config.compressmode_ = zstd ? vela::jot::kZstd : vela::jot::kZlib;
  return config;
}

// The numbers n of every line "<tag> n<n>" in `text`, in order.
std::vector<int> numbersOf(const std::string& text, const std::string& tag) {
  std::vector<int> numbers;
  const std::regex pattern("\\] " + tag + " n(\\d+)[ \n]");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator();
       ++it) {
    numbers.push_back(std::stoi((*it)[1]));
  }
  return numbers;
}

// Waits (bounded only by the test timeout) until `done` holds.
template <class Pred>
bool eventually(Pred done) {
  for (int i = 0; i < 60000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

std::string runJotdump(const std::vector<std::string>& args, int* status,
                       bool withErrors = false) {
  std::string command = JOTDUMP_PATH;
  for (const auto& arg : args) command += " '" + arg + "'";
  if (withErrors) command += " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

class AppenderTest : public ::testing::Test {
 protected:
  void SetUp() override { vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose); }
  void TearDown() override { vela::jot::appender_close(); }

  jottest::TempDir dir_;
};

struct Mode {
  bool zstd;
  bool key;
};

class AppenderRoundTrip : public AppenderTest, public ::testing::WithParamInterface<Mode> {};

TEST_P(AppenderRoundTrip, JotdumpPrintsEveryRecordInOrder) {
  std::optional<jottest::KeyPair> server;
  if (GetParam().key) server = jottest::makeKeyPair();
  vela::jot::appender_open(configFor(dir_.path(), vela::jot::kAppenderAsync, GetParam().zstd,
                                     server ? server->pubHex() : ""));
  for (int i = 0; i < 3000; ++i) writeRecord("rt n" + std::to_string(i) + " payload payload");
  vela::jot::appender_close();

  const auto files = jottest::logFiles(dir_.path());
  ASSERT_EQ(files.size(), 1u);
  std::vector<std::string> args;
  if (server) args = {"--key", server->privHex()};
  args.push_back(files[0].string());
  int status = -1;
  const std::string out = runJotdump(args, &status);
  EXPECT_EQ(status, 0);
  const std::vector<int> numbers = numbersOf(out, "rt");
  ASSERT_EQ(numbers.size(), 3000u);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(numbers[i], i);
  EXPECT_EQ(out.find("===== begin =====["), 0u);
  EXPECT_NE(out.find("===== end =====["), std::string::npos);

  if (server) {
    // Without the key the records stay unreadable, and jotdump says so.
    const std::string locked = runJotdump({files[0].string()}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(numbersOf(locked, "rt").empty());
  }
}

INSTANTIATE_TEST_SUITE_P(AllModes, AppenderRoundTrip,
                         ::testing::Values(Mode{false, false}, Mode{false, true}, Mode{true, false},
                                           Mode{true, true}),
                         [](const auto& param) {
                           return std::string(param.param.zstd ? "Zstd" : "Zlib") +
                                  (param.param.key ? "Key" : "Plain");
                         });

TEST_F(AppenderTest, JotdumpRefusesADirectoryInBothModes) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{dir_.str()}, std::vector<std::string>{"--cache", dir_.str()}}) {
    int status = -1;
    const std::string out = runJotdump(args, &status, true);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(out, "jotdump: cannot read " + dir_.str() + ": is a directory\n");
  }
}

TEST_F(AppenderTest, SyncModeWritesEachRecordAtOnce) {
  vela::jot::appender_open(configFor(dir_.path(), vela::jot::kAppenderSync));
  writeRecord("sy n0");
  const std::string before = jottest::decodeDir(dir_.path(), std::nullopt);
  EXPECT_EQ(numbersOf(before, "sy"), std::vector<int>{0});
}

std::string todaysLogName() {
  char day[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(day, sizeof day, "%Y%m%d", std::localtime(&now));
  return "inst_a_" + std::string(day) + ".jot";
}

// The counts of the "<cause>, <n> records dropped" notices in `text`.
size_t droppedIn(const std::string& text, const std::string& cause = "log cache full") {
  size_t dropped = 0;
  const std::regex notice(R"(\[F\]\[ )" + cause + R"(, (\d+) records dropped\n)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), notice); it != std::sregex_iterator(); ++it) {
    dropped += std::stoul((*it)[1]);
  }
  return dropped;
}

TEST_F(AppenderTest, QuickOpenCloseCycles) {
  for (int i = 0; i < 200; ++i) {
    vela::jot::appender_open(configFor(dir_.path()));
    writeRecord("cy n" + std::to_string(i));
    vela::jot::appender_close();
  }
  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  EXPECT_EQ(jottest::countOf(text, "===== begin ====="), 200u);
  EXPECT_EQ(jottest::countOf(text, "===== end ====="), 200u);
  const std::vector<int> numbers = numbersOf(text, "cy");
  ASSERT_EQ(numbers.size(), 200u);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(numbers[i], i);
}

TEST_F(AppenderTest, CloseLeavesAnEmptyCacheAlsoWithWritersRacingIt) {
  const fs::path cache = dir_.path() / "inst_a.mmap3";
  for (bool zstd : {false, true}) {
    for (int cycle = 0; cycle < 20; ++cycle) {
      vela::jot::JotterAppender appender;
      appender.Open(configFor(dir_.path(), vela::jot::kAppenderAsync, zstd));
      std::atomic<bool> stop{false};
      std::vector<std::thread> writers;
      for (int t = 0; t < cycle % 2 * 3; ++t) {  // a plain open and close every other cycle
        writers.emplace_back([&] {
          JotterInfo_t info;
          while (!stop) appender.Write(&info, "racing n1");
        });
      }
      appender.Close();
      stop = true;
      for (auto& writer : writers) writer.join();
      const std::vector<uint8_t> bytes = jottest::readBytes(cache);
      ASSERT_EQ(bytes.size(), vela::jot::kCacheFileLength);
      ASSERT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }))
          << (zstd ? "zstd" : "zlib") << " cycle " << cycle;
    }
  }
}

TEST_F(AppenderTest, SecondOpenOnlyLeavesANotice) {
  vela::jot::appender_open(configFor(dir_.path()));
  vela::jot::appender_open(configFor(dir_.path() / "elsewhere"));
  vela::jot::appender_close();
  vela::jot::appender_close();  // does nothing
  writeRecord("dropped n1");
  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  EXPECT_EQ(jottest::countOf(text, "appender has already been opened. _dir:" +
                                       (dir_.path() / "elsewhere").string() + " _nameprefix:inst_a"),
            1u);
  EXPECT_FALSE(fs::exists(dir_.path() / "elsewhere"));
  EXPECT_TRUE(numbersOf(text, "dropped").empty());
}

TEST_F(AppenderTest, NestedReportIsOneLineOfItsOwn) {
  JotterInfo_t info;
  info.tag = "main";
  const std::string report = vela::jot::JotterAppender::NestedReport(&info, "inner text", 2);
  EXPECT_NE(report.find("|F|main|"), std::string::npos);
  EXPECT_NE(report.find("ERROR!!! jotter_appender Recursive calls!!!, count:2\ninner text\n"),
            std::string::npos);
  // However long the nested text, the report fits one notice and ends its line.
  const std::string huge(20000, 'x');
  const std::string cut = vela::jot::JotterAppender::NestedReport(&info, huge.c_str(), 3);
  EXPECT_LT(cut.size(), 4096u);
  EXPECT_EQ(cut.back(), '\n');
}

TEST_F(AppenderTest, ConsoleEchoShowsLevelTagFileAndText) {
  vela::jot::appender_open(configFor(dir_.path()));
  ::testing::internal::CaptureStderr();
  vela::jot::appender_set_console_log(true);
  writeRecord("echo n1", vela::jot::kLevelWarn);
  vela::jot::appender_set_console_log(false);
  writeRecord("quiet n2");
  const std::string echoed = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::regex_search(echoed, std::regex(R"(\[W\]\[test\]\[appender_test\.cpp:\d+\]echo n1\n)")))
      << echoed;
  EXPECT_EQ(echoed.find("quiet"), std::string::npos);
}

// Holds the flush thread at one step while set; notes when it got there and
// when it last went to sleep.
std::atomic<vela::jot::FlushStep> gHoldAt{vela::jot::FlushStep::Woken};
std::atomic<bool> gHold{false};
std::atomic<bool> gHeld{false};
std::atomic<int> gIdle{0};
std::atomic<int> gFailed{0};
std::atomic<int> gSlowWriteMs{0};
void holdFlush(vela::jot::FlushStep step) {
  if (step == vela::jot::FlushStep::Idle) ++gIdle;
  if (step == vela::jot::FlushStep::Failed) ++gFailed;
  // A slow disk: every block takes this long to write.
  if (step == vela::jot::FlushStep::Sealed && gSlowWriteMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(gSlowWriteMs.load()));
  }
  if (step != gHoldAt) return;
  while (gHold) {
    gHeld = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

class HeldFlushTest : public AppenderTest {
 protected:
  // Opens the writer and waits until its flush thread stands at `step` (at
  // Sealed and Written: with the block of the begin marker).
  void openAndHoldAt(vela::jot::FlushStep step, const JotConfig& config) {
    gHoldAt = step;
    gHold = true;
    gHeld = false;
    vela::jot::SetFlushStepHookForTesting(&holdFlush);
    vela::jot::appender_open(config);
    // A wake-up while the thread is busy is not remembered: ask again.
    ASSERT_TRUE(eventually([] {
      vela::jot::appender_flush();
      return gHeld.load();
    }));
  }
  void openAndHoldAt(vela::jot::FlushStep step) { openAndHoldAt(step, configFor(dir_.path())); }
  void release() { gHold = false; }
  void TearDown() override {
    release();
    AppenderTest::TearDown();
    vela::jot::SetFlushStepHookForTesting(nullptr);
    gSlowWriteMs = 0;
  }
};

// Text that hardly compresses: each such record takes about 6.6 KB of cache.
std::string noisyRecord(const std::string& head, std::mt19937& rng) {
  std::string text = head + " ";
  for (int c = 0; c < 8000; ++c) text += static_cast<char>('!' + rng() % 90);
  return text;
}

// Writes `text` and returns how long the call took.
std::chrono::milliseconds timedWrite(const std::string& text) {
  const auto start = std::chrono::steady_clock::now();
  writeRecord(text);
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

constexpr std::chrono::milliseconds kQuick{100};  // a writer that waited on the files takes seconds

class HeldFlushAt : public HeldFlushTest,
                    public ::testing::WithParamInterface<vela::jot::FlushStep> {};

TEST_P(HeldFlushAt, WritersGoOnIntoTheCacheAndCountWhatFindsNoRoom) {
  // The thread has not taken the first block yet, or the files do not take it.
  openAndHoldAt(GetParam());
  std::mt19937 rng(11);
  std::chrono::milliseconds slowest{0};
  for (int i = 0; i < 40 && slowest < kQuick; ++i) {
    slowest = std::max(slowest, timedWrite(noisyRecord("held n" + std::to_string(i), rng)));
  }
  release();
  vela::jot::appender_close();

  ASSERT_LT(slowest, kQuick);
  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  const std::vector<int> kept = numbersOf(text, "held");
  // The cache took the first records, in order; the rest found it full and
  // are counted, once, after them.
  ASSERT_GE(kept.size(), 5u);
  ASSERT_LT(kept.size(), 40u);
  for (size_t i = 0; i < kept.size(); ++i) ASSERT_EQ(kept[i], static_cast<int>(i));
  const std::string notice = "[F][ log cache full, " + std::to_string(40 - kept.size()) + " records dropped\n";
  EXPECT_EQ(jottest::countOf(text, notice), 1u);
  EXPECT_EQ(droppedIn(text), 40 - kept.size());
  EXPECT_GT(text.find(notice), text.find("] held n" + std::to_string(kept.back()) + " "));
  EXPECT_EQ(jottest::countOf(text, "===== end ====="), 1u);  // the close finds room
}

INSTANTIATE_TEST_SUITE_P(Steps, HeldFlushAt,
                         ::testing::Values(vela::jot::FlushStep::Woken,
                                           vela::jot::FlushStep::Sealed),
                         [](const auto& param) {
                           return param.param == vela::jot::FlushStep::Woken ? "BeforeTheFirstBlock"
                                                                             : "InTheFirstWrite";
                         });

class HealthyDisk : public HeldFlushTest, public ::testing::WithParamInterface<Mode> {};

TEST_P(HealthyDisk, ThreadsWritingFlatOutLoseNothingOverASlowDisk) {
  // A flush round seals the block still filling only when no older block
  // waits: so the writers always have a half to go on in while the thread
  // writes, however slowly.
  std::optional<jottest::KeyPair> server;
  if (GetParam().key) server = jottest::makeKeyPair();
  release();
  gSlowWriteMs = 2;
  vela::jot::SetFlushStepHookForTesting(&holdFlush);
  vela::jot::appender_open(configFor(dir_.path(), vela::jot::kAppenderAsync, GetParam().zstd,
                                     server ? server->pubHex() : ""));
  constexpr int kThreads = 8;
  constexpr int kRecords = 5000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kRecords; ++i) {
        writeRecord("t" + std::to_string(t) + " n" + std::to_string(i) + " some text of a record");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  vela::jot::appender_close();

  std::vector<std::string> problems;
  const std::string text = jottest::decodeDir(
      dir_.path(), server ? std::optional(server->priv) : std::nullopt, &problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_EQ(droppedIn(text), 0u);
  std::vector<int> expected(kRecords);
  for (int i = 0; i < kRecords; ++i) expected[i] = i;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(numbersOf(text, "t" + std::to_string(t)) == expected) << "thread " << t;
  }
}

INSTANTIATE_TEST_SUITE_P(AllCompressors, HealthyDisk,
                         ::testing::Values(Mode{false, true}, Mode{true, false}),
                         [](const auto& param) { return param.param.zstd ? "Zstd" : "ZlibKey"; });

TEST_F(HeldFlushTest, WakeUpWhileTheThreadIsBusyIsNotRemembered) {
  openAndHoldAt(vela::jot::FlushStep::Written);
  writeRecord("late n1");
  vela::jot::appender_flush();  // the thread is busy writing
  const int idle = gIdle;
  release();
  ASSERT_TRUE(eventually([&] { return gIdle > idle; }));  // asleep again
  EXPECT_TRUE(numbersOf(jottest::decodeDir(dir_.path(), std::nullopt), "late").empty());
  vela::jot::appender_flush();
  EXPECT_TRUE(eventually([&] {
    return numbersOf(jottest::decodeDir(dir_.path(), std::nullopt), "late").size() == 1;
  }));
}

TEST_F(HeldFlushTest, BlockSealedWhileTheThreadIsBusyIsWrittenBeforeItSleeps) {
  // The writers fill the cache and seal its block just after the thread
  // found nothing more to write: that wake-up is lost, and the records after
  // it find no room and wake nothing.
  openAndHoldAt(vela::jot::FlushStep::Flushed);
  std::mt19937 rng(13);
  // Past four fifths the records are stored as short notices, until the
  // block reaches the end of the cache.
  for (int i = 0; i < 30000; ++i) {
    writeRecord(i < 30 ? noisyRecord("sealed n" + std::to_string(i), rng) : "sealed n" + std::to_string(i));
  }
  const int idle = gIdle;
  release();
  ASSERT_TRUE(eventually([&] { return gIdle > idle; }));  // asleep again
  const std::vector<int> kept = numbersOf(jottest::decodeDir(dir_.path(), std::nullopt), "sealed");
  ASSERT_GE(kept.size(), 5u);
  for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i], static_cast<int>(i));
}

TEST_F(HeldFlushTest, FatalRecordAndFlushWakeASleepingThread) {
  release();
  vela::jot::SetFlushStepHookForTesting(&holdFlush);
  const int idle = gIdle;
  vela::jot::appender_open(configFor(dir_.path()));
  auto fileHas = [&](size_t n) {
    return numbersOf(jottest::decodeDir(dir_.path(), std::nullopt), "wake").size() == n;
  };
  ASSERT_TRUE(eventually([&] { return gIdle > idle; }));
  const int woken = gIdle;
  writeRecord("wake n1", vela::jot::kLevelFatal);
  EXPECT_TRUE(eventually([&] { return fileHas(1); }));
  ASSERT_TRUE(eventually([&] { return gIdle > woken; }));
  writeRecord("wake n2");
  vela::jot::appender_flush();
  EXPECT_TRUE(eventually([&] { return fileHas(2); }));
}

TEST_F(HeldFlushTest, WriterIsNotHeldByALogFileThatHangsAndLosesNothing) {
  // Today's log file is a FIFO nobody reads: the flush thread hangs opening
  // it, as on a disk that stops answering.
  const fs::path fifo = dir_.path() / todaysLogName();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  openAndHoldAt(vela::jot::FlushStep::Sealed);
  release();  // on into the FIFO's open, where it hangs

  std::chrono::milliseconds slowest{0};
  for (int i = 0; i < 200 && slowest < kQuick; ++i) {
    slowest = std::max(slowest, timedWrite("hung n" + std::to_string(i)));
    vela::jot::appender_flush();
  }
  // The disk answers again: the FIFO is read once, then a plain file takes
  // its place.
  std::vector<uint8_t> fifoBytes;
  std::thread reader([&] {
    const int fd = ::open(fifo.c_str(), O_RDONLY);
    ::unlink(fifo.c_str());
    uint8_t chunk[4096];
    ssize_t n;
    while (fd >= 0 && (n = ::read(fd, chunk, sizeof chunk)) > 0) fifoBytes.insert(fifoBytes.end(), chunk, chunk + n);
    if (fd >= 0) ::close(fd);
  });
  reader.join();
  vela::jot::appender_close();

  EXPECT_LT(slowest, kQuick);
  std::string text;
  for (const auto& block : vela::jot::ReadLogBlocks(fifoBytes, std::nullopt).blocks) text += block.text;
  text += jottest::decodeDir(dir_.path(), std::nullopt);
  std::vector<int> expected(200);
  for (int i = 0; i < 200; ++i) expected[i] = i;
  EXPECT_EQ(numbersOf(text, "hung"), expected);
}

// Makes today's log file refuse every block until restore(): a link to
// /dev/full (a full disk: ENOSPC), a FIFO with a reader, which is not a
// regular file (so never written), or a folder. A
// file already there is put back by restore().
enum class Refuser { FullDisk, Fifo, Folder };

class RefusingLogFile {
 public:
  RefusingLogFile(const fs::path& dir, Refuser kind)
      : path_(dir / todaysLogName()), aside_(path_.string() + ".aside") {
    if (fs::exists(path_)) fs::rename(path_, aside_);
    switch (kind) {
      case Refuser::FullDisk:
        fs::create_symlink("/dev/full", path_);
        break;
      case Refuser::Fifo:
        EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
        reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        EXPECT_GE(reader_, 0);
        break;
      case Refuser::Folder:
        fs::create_directories(path_);
        break;
    }
  }
  ~RefusingLogFile() { restore(); }
  RefusingLogFile(const RefusingLogFile&) = delete;
  RefusingLogFile& operator=(const RefusingLogFile&) = delete;
  // The next block opens a plain file in its place.
  void restore() {
    // In one step when a file goes back: the writer may be trying again.
    std::error_code ec;
    if (fs::exists(aside_) && !fs::is_directory(path_)) {
      fs::rename(aside_, path_);
    } else {
      fs::remove(path_, ec);
    }
    if (reader_ >= 0) ::close(reader_);
    reader_ = -1;
  }

 private:
  fs::path path_;
  fs::path aside_;
  int reader_ = -1;
};

struct Refusal {
  Refuser kind;
  bool cacheDir;      // the log folder's file is taken by one in the cache folder
  const char* cause;  // what the console says, once
};

class RefusedWrites : public HeldFlushTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedWrites, BlocksWaitInTheCacheAndWhatMakesWayIsCounted) {
  JotConfig config = configFor(dir_.path());
  if (GetParam().cacheDir) {
    config.cachedir_ = (dir_.path() / "cache").string();
    fs::create_directories(config.cachedir_);
  }
  RefusingLogFile refusing(GetParam().cacheDir ? dir_.path() / "cache" : dir_.path(),
                           GetParam().kind);
  release();
  gFailed = 0;
  vela::jot::SetFlushStepHookForTesting(&holdFlush);
  ::testing::internal::CaptureStderr();
  vela::jot::appender_open(config);
  ASSERT_TRUE(eventually([] {
    vela::jot::appender_flush();
    return gFailed > 0;
  }));
  // Several cache loads: blocks refused once are given up for newer ones.
  constexpr int kRecords = 60;
  std::mt19937 rng(5);
  for (int i = 0; i < kRecords; ++i) writeRecord(noisyRecord("full n" + std::to_string(i), rng));
  const int failed = gFailed;
  ASSERT_TRUE(eventually([&] { return gFailed > failed; }));  // tried again, refused again
  refusing.restore();
  // What the cache kept goes out, then the count, without waiting for a close.
  ASSERT_TRUE(eventually([&] {
    vela::jot::appender_flush();
    return droppedIn(jottest::decodeDir(dir_.path(), std::nullopt)) > 0;
  }));
  vela::jot::appender_close();
  const std::string console = ::testing::internal::GetCapturedStderr();

  // Once the cache folder's file is gone, blocks go to the log folder.
  int status = -1;
  (void)runJotdump({(dir_.path() / todaysLogName()).string()}, &status);
  EXPECT_EQ(status, 0);
  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  const std::vector<int> kept = numbersOf(text, "full");
  EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end()) &&
              std::adjacent_find(kept.begin(), kept.end()) == kept.end());
  ASSERT_FALSE(kept.empty());
  // Every record is in the file or counted; so is the begin marker.
  const size_t beginLost = jottest::countOf(text, "===== begin =====") == 0 ? 1 : 0;
  EXPECT_EQ(kept.size() + droppedIn(text), kRecords + beginLost) << text;
  // Said once, with its cause, however often the block was tried.
  EXPECT_EQ(jottest::countOf(console, GetParam().cause), 1u) << console;
  std::set<std::string> lines;
  for (size_t from = 0, end; (end = console.find('\n', from)) != std::string::npos;
       from = end + 1) {
    EXPECT_TRUE(lines.insert(console.substr(from, end - from)).second) << console;
  }
}

const Refusal kFullDisk{Refuser::FullDisk, false, "No space left on device"};
const Refusal kFifo{Refuser::Fifo, false, "(not a regular file"};
const Refusal kFolder{Refuser::Folder, false, "(Is a directory)"};

std::string refusalName(const ::testing::TestParamInfo<Refusal>& param) {
  return std::string(param.param.kind == Refuser::FullDisk ? "FullDisk"
                     : param.param.kind == Refuser::Fifo   ? "Fifo"
                                                           : "Folder") +
         (param.param.cacheDir ? "InTheCacheFolder" : "");
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedWrites,
                         ::testing::Values(kFullDisk, kFifo, kFolder,
                                           Refusal{Refuser::FullDisk, true,
                                                   "No space left on device"}),
                         refusalName);

class SyncRefusals : public AppenderTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SyncRefusals, RefusedRecordsAreCountedBeforeTheNextRecordTheFileTakes) {
  std::optional<RefusingLogFile> refusing;
  refusing.emplace(dir_.path(), GetParam().kind);
  ::testing::internal::CaptureStderr();
  vela::jot::appender_open(configFor(dir_.path(), vela::jot::kAppenderSync));
  for (int i = 0; i < 5; ++i) writeRecord("sy n" + std::to_string(i));
  refusing.reset();
  writeRecord("sy n5");
  vela::jot::appender_close();
  const std::string console = ::testing::internal::GetCapturedStderr();

  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  EXPECT_EQ(numbersOf(text, "sy"), std::vector<int>{5}) << text;
  // The five records and the begin marker, said before the record after them.
  const std::string notice = "[F][ log file refused, 6 records dropped\n";
  EXPECT_EQ(jottest::countOf(text, notice), 1u) << text;
  EXPECT_LT(text.find(notice), text.find("sy n5")) << text;
  EXPECT_EQ(jottest::countOf(console, GetParam().cause), 1u) << console;
  EXPECT_EQ(jottest::countOf(console, "its record is dropped and counted"), 1u) << console;
  EXPECT_EQ(jottest::countOf(console, "records the file refused; they are lost"), 0u) << console;
}

INSTANTIATE_TEST_SUITE_P(Files, SyncRefusals, ::testing::Values(kFullDisk, kFifo, kFolder),
                         refusalName);

TEST_F(AppenderTest, SyncWritersRacingEachRefusedRecordIsCountedOnce) {
  std::optional<RefusingLogFile> refusing;
  refusing.emplace(dir_.path(), Refuser::FullDisk);
  ::testing::internal::CaptureStderr();
  vela::jot::appender_open(configFor(dir_.path(), vela::jot::kAppenderSync));
  constexpr int kThreads = 8;
  constexpr int kEach = 100;
  auto writeAll = [](int from) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([=] {
        for (int i = 0; i < kEach; ++i) writeRecord("sy n" + std::to_string(from + t * kEach + i));
      });
    }
    for (auto& thread : threads) thread.join();
  };
  writeAll(0);
  refusing.reset();
  // Every thread finds the count waiting at once.
  writeAll(kThreads * kEach);
  vela::jot::appender_close();
  (void)::testing::internal::GetCapturedStderr();

  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  EXPECT_EQ(numbersOf(text, "sy").size(), size_t{kThreads * kEach});
  EXPECT_EQ(droppedIn(text, "log file refused"),
            size_t{kThreads * kEach + 1});  // and the begin marker
}

TEST_F(HeldFlushTest, ATryAgainLeavesTheBlockStillFillingOpenAndEachFailureIsSaidOnce) {
  std::optional<RefusingLogFile> refusing;
  refusing.emplace(dir_.path(), Refuser::FullDisk);
  release();
  gFailed = 0;
  vela::jot::SetFlushStepHookForTesting(&holdFlush);
  ::testing::internal::CaptureStderr();
  vela::jot::appender_open(configFor(dir_.path()));
  auto refusedAgain = [] {
    const int failed = gFailed;
    return eventually([&] {
      vela::jot::appender_flush();
      return gFailed > failed;
    });
  };
  ASSERT_TRUE(refusedAgain());  // the block of the begin marker
  writeRecord("open n1");       // starts a block in the other half
  ASSERT_TRUE(refusedAgain());
  // That block was left open: the record goes in, nothing is given up.
  writeRecord("open n2");
  refusing.reset();
  ASSERT_TRUE(eventually([&] {
    vela::jot::appender_flush();
    return numbersOf(jottest::decodeDir(dir_.path(), std::nullopt), "open").size() == 2;
  }));
  // Refused again later: said again.
  refusing.emplace(dir_.path(), Refuser::FullDisk);
  writeRecord("open n3");
  ASSERT_TRUE(refusedAgain());
  refusing.reset();
  vela::jot::appender_close();
  const std::string console = ::testing::internal::GetCapturedStderr();

  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  EXPECT_EQ(numbersOf(text, "open"), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(jottest::countOf(text, "===== begin ====="), 1u);
  EXPECT_EQ(droppedIn(text), 0u);
  EXPECT_EQ(jottest::countOf(console, "No space left on device"), 2u) << console;
  EXPECT_EQ(jottest::countOf(console, "log file refused a block (No space left on device)"), 2u)
      << console;
}

TEST_F(AppenderTest, WriteKeepsErrno) {
  vela::jot::appender_open(configFor(dir_.path(), vela::jot::kAppenderSync));
  errno = ERANGE;
  writeRecord("errno n1");
  EXPECT_EQ(errno, ERANGE);
}

TEST_F(AppenderTest, CacheThatCannotBeMappedIsSaidOnTheConsoleAndInTheLog) {
  // Another writer holds it, or something else is in its place: the records
  // wait in memory, and a crash would lose them.
  for (const bool inUse : {true, false}) {
    jottest::TempDir dir;
    const fs::path cache = dir.path() / "inst_a.mmap3";
    const std::string cause = inUse ? "in use by another process" : "Is a directory";
    vela::jot::JotterAppender first;
    if (inUse) {
      first.Open(configFor(dir.path()));
      EXPECT_TRUE(first.IsCacheMapped());
    } else {
      fs::create_directories(cache);
    }
    vela::jot::JotterAppender second;
    ::testing::internal::CaptureStderr();
    second.Open(configFor(dir.path()));
    EXPECT_FALSE(second.IsCacheMapped());
    JotterInfo_t info;
    info.tid = 1;
    first.Write(&info, "one n1");
    second.Write(&info, "two n1");
    first.Close();
    second.Close();
    const std::string console = ::testing::internal::GetCapturedStderr();
    const std::string text = jottest::decodeDir(dir.path(), std::nullopt);
    EXPECT_EQ(numbersOf(text, "one").size(), inUse ? 1u : 0u);
    EXPECT_EQ(numbersOf(text, "two").size(), 1u);
    const std::string notice = "log cache " + cache.string() + " not used (" + cause + ")";
    EXPECT_EQ(jottest::countOf(console, notice), 1u) << console;
    EXPECT_EQ(jottest::countOf(text, "[F][ " + notice), 1u) << text;
  }
}

TEST_F(AppenderTest, DamagedCacheFilesNeverCrashTheStart) {
  const fs::path cache = dir_.path() / "inst_a.mmap3";
  std::vector<uint8_t> huge(vela::jot::kBufferBlockLength, 0);
  huge[0] = 9;
  huge[5] = huge[6] = huge[7] = huge[8] = 0xFF;  // body length far past the cache
  jottest::writeBytes(cache, huge);
  {
    vela::jot::JotterAppender appender;
    appender.Open(configFor(dir_.path()));
    EXPECT_TRUE(appender.IsCacheMapped());
  }
  jottest::writeBytes(cache, {9, 0, 0, 0, 0, 20, 0, 0, 0});  // short file
  {
    vela::jot::JotterAppender appender;
    appender.Open(configFor(dir_.path()));
    EXPECT_TRUE(appender.IsCacheMapped());
    JotterInfo_t info;
    appender.Write(&info, "after n1");
  }
  EXPECT_EQ(fs::file_size(cache), vela::jot::kCacheFileLength);
  std::vector<std::string> problems;
  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt, &problems);
  EXPECT_EQ(numbersOf(text, "after").size(), 1u);
}

// A true count of 154,988 with the same bit flipped in both halves, the top
// count with a zero high half, and a word that is no count.
const uint64_t kDamagedDropWords[] = {
    jottest::dropCountWord(154988) ^ (uint64_t{1} << 3 | uint64_t{1} << 35),
    uint64_t{0x00000000FFFFFFFF}, uint64_t{12345}};

// A cache of empty blocks whose count of dropped records is `word`.
void writeCacheWithDropWord(const fs::path& dir, uint64_t word) {
  std::vector<uint8_t> cache(vela::jot::kCacheFileLength, 0);
  std::memcpy(cache.data() + vela::jot::kBufferBlockLength, &word, sizeof word);
  jottest::writeBytes(dir / "inst_a.mmap3", cache);
}

TEST_F(AppenderTest, ADamagedCountOfDroppedRecordsIsSaidNeverBelieved) {
  for (const uint64_t word : kDamagedDropWords) {
    SCOPED_TRACE(word);
    jottest::TempDir dir;
    writeCacheWithDropWord(dir.path(), word);
    ::testing::internal::CaptureStderr();
    vela::jot::JotterAppender appender;
    appender.Open(configFor(dir.path()));
    appender.Close();
    const std::string console = ::testing::internal::GetCapturedStderr();
    const std::string text = jottest::decodeDir(dir.path(), std::nullopt);
    const std::string notice = "log cache: the count of dropped records was damaged";
    EXPECT_EQ(jottest::countOf(console, notice), 1u) << console;
    EXPECT_EQ(jottest::countOf(text, "[F][ " + notice + "\n"), 1u) << text;
    EXPECT_EQ(text.find("records dropped"), std::string::npos) << text;
  }
}

TEST_F(AppenderTest, JotdumpSaysACountOfDroppedRecordsIsDamagedAndFails) {
  for (const uint64_t word : kDamagedDropWords) {
    SCOPED_TRACE(word);
    jottest::TempDir dir;
    writeCacheWithDropWord(dir.path(), word);
    int status = -1;
    const std::string dumped = runJotdump({(dir.path() / "inst_a.mmap3").string()}, &status, true);
    EXPECT_EQ(status, 1) << dumped;
    EXPECT_EQ(jottest::countOf(dumped, "damaged count of dropped records"), 1u) << dumped;
    EXPECT_EQ(dumped.find("records dropped"), std::string::npos) << dumped;
  }
}

TEST_F(AppenderTest, EmptyLogDirectoryUsesHeapAndWritesNothing) {
  vela::jot::JotterAppender appender;
  appender.Open(configFor(""));
  EXPECT_FALSE(appender.IsCacheMapped());
  JotterInfo_t info;
  appender.Write(&info, "nowhere");
  appender.Close();
  EXPECT_FALSE(fs::exists("/inst_a.mmap3"));
}

// Runs this test binary again with only `test` and the child's settings in
// its environment (JOT_CHILD_DIR, JOT_CHILD_FD: the write end of a pipe whose
// read end is returned, and `extraEnv`). Returns the child's pid or -1.
pid_t spawnChild(const std::string& test, const fs::path& dir, int* readFd,
                 const std::vector<std::string>& extraEnv = {}) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back("JOT_CHILD_DIR=" + dir.string());
  env.push_back("JOT_CHILD_FD=" + std::to_string(fds[1]));
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string self = fs::read_symlink("/proc/self/exe").string();
  std::string filter = "--gtest_filter=" + test;
  char* argv[] = {self.data(), filter.data(), nullptr};
  pid_t child = -1;
  if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()) != 0) child = -1;
  ::close(fds[1]);
  *readFd = fds[0];
  return child;
}

// Opens and closes a writer on the folder a killed child left, and returns
// the text of its logs, which must read without damage.
std::string recoverAndRead(const fs::path& dir) {
  vela::jot::appender_open(configFor(dir));
  vela::jot::appender_close();
  std::vector<std::string> problems;
  const std::string text = jottest::decodeDir(dir, std::nullopt, &problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
  return text;
}

TEST_F(AppenderTest, SyncRecordsStillRefusedAtCloseAreKeptInTheCacheOrSaidLost) {
  // A mapped cache keeps their count for the next start; heap memory loses
  // it, which the first refusal says.
  for (const bool mapped : {true, false}) {
    jottest::TempDir dir;
    if (!mapped) fs::create_directories(dir.path() / "inst_a.mmap3");
    {
      RefusingLogFile refusing(dir.path(), Refuser::FullDisk);
      ::testing::internal::CaptureStderr();
      vela::jot::appender_open(configFor(dir.path(), vela::jot::kAppenderSync));
      writeRecord("sy n0");
      vela::jot::appender_close();
    }
    const std::string console = ::testing::internal::GetCapturedStderr();
    // Unmapped: the begin marker, the cache notice, the record, the end marker.
    EXPECT_EQ(
        jottest::countOf(console, "log closed with 4 records the files refused; they are lost"),
        mapped ? 0u : 1u)
        << console;
    EXPECT_EQ(jottest::countOf(console, "no cache file keeps their count: a crash loses it"),
              mapped ? 0u : 1u)
        << console;
    if (mapped) {
      EXPECT_EQ(droppedIn(recoverAndRead(dir.path())), 3u);
    }
  }
}

TEST_F(AppenderTest, BlocksTheFilesStillRefuseAtCloseWaitForTheNextStart) {
  {
    // A run, then a start that meets the refusal too.
    RefusingLogFile refusing(dir_.path(), Refuser::FullDisk);
    ::testing::internal::CaptureStderr();
    vela::jot::appender_open(configFor(dir_.path()));
    for (int i = 0; i < 5; ++i) writeRecord("kept n" + std::to_string(i));
    vela::jot::appender_close();
    vela::jot::appender_open(configFor(dir_.path()));
    vela::jot::appender_close();
    (void)::testing::internal::GetCapturedStderr();
  }
  // The second start gave up what its begin marker needed room for, and
  // counted it. Of the 11 records of the three runs (markers and "kept"),
  // each is in the log or counted.
  const std::string text = recoverAndRead(dir_.path());
  EXPECT_EQ(numbersOf(text, "kept").size() + jottest::countOf(text, "===== begin =====") +
                jottest::countOf(text, "===== end =====") + droppedIn(text),
            11u)
      << text;
}

// --- Recovery tells a torn copy from an intact block by the blocks' structure. ---

TEST_F(AppenderTest, RecoveryCutsOnlyATornCopyOfTheCachedBlock) {
  // A cached zstd block without a key starts 0d 00 (magic, low byte of
  // sequence number 256).
  std::vector<char> cache(vela::jot::kBufferBlockLength, 0);
  {
    vela::jot::LogZstdBuffer buffer(cache.data(), cache.size(), true, "", 3);
    ASSERT_TRUE(buffer.Write("[I] cached n1\n", 14));
  }
  cache[1] = 0x00;
  cache[2] = 0x01;
  uint32_t bodyLen = 0;
  std::memcpy(&bodyLen, cache.data() + 5, sizeof bodyLen);
  std::vector<uint8_t> block(cache.begin(), cache.begin() + 73 + bodyLen);
  block.push_back(0);  // as the next run seals it

  // The file's last block is intact and ends 0d 00: text ending in '\r'.
  vela::comm::AutoBuffer lastBlock;
  vela::jot::LogCrypt::BuildSyncBlock(0x0B, nullptr, "intact line\r", 12, lastBlock);
  const auto* last = static_cast<const uint8_t*>(lastBlock.Ptr());
  const std::vector<uint8_t> intact(last, last + lastBlock.Length());
  ASSERT_EQ(intact[intact.size() - 2], 0x0d);
  ASSERT_EQ(intact.back(), 0x00);

  struct Case {
    const char* name;
    size_t copied;  // bytes of the cached block after the intact one
  };
  for (const Case& c : {Case{"intact, ending 0d 00", 0}, Case{"torn after 2 bytes", 2},
                        Case{"torn in the header", 40}, Case{"torn in the body", block.size() - 3},
                        Case{"whole", block.size()}}) {
    jottest::TempDir dir;
    std::vector<uint8_t> file = intact;
    file.insert(file.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(c.copied));
    jottest::writeBytes(dir.path() / todaysLogName(), file);
    jottest::writeBytes(dir.path() / "inst_a.mmap3", std::vector<uint8_t>(cache.begin(), cache.end()));

    const std::string text = recoverAndRead(dir.path());
    EXPECT_EQ(jottest::countOf(text, "intact line\r"), 1u) << c.name;
    EXPECT_EQ(numbersOf(text, "cached"), std::vector<int>{1}) << c.name;
    EXPECT_EQ(jottest::countOf(text, "~~~~~ begin of mmap ~~~~~"), c.copied == block.size() ? 0u : 1u)
        << c.name;
  }
}

// --- A writer killed mid-write: its cached records reach the next file. ---

constexpr int kChildRecords = 1000;

TEST(AppenderCrash, ChildWritesUntilKilled) {
  const char* dir = std::getenv("JOT_CHILD_DIR");
  const char* fd = std::getenv("JOT_CHILD_FD");
  if (!dir || !fd) GTEST_SKIP() << "helper of AppenderCrash.KilledWritersRecordsAreRecovered";
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  vela::jot::appender_open(configFor(dir));
  const int out = std::atoi(fd);
  for (int i = 0; i < kChildRecords; ++i) {
    writeRecord("kill n" + std::to_string(i));
    ASSERT_EQ(::write(out, &i, sizeof i), static_cast<ssize_t>(sizeof i));
  }
  ::pause();  // stays until killed
}

TEST(AppenderCrash, KilledWritersRecordsAreRecovered) {
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  jottest::TempDir dir;
  int fds[2];
  const pid_t child = spawnChild("AppenderCrash.ChildWritesUntilKilled", dir.path(), &fds[0]);
  ASSERT_GT(child, 0);

  // Kill while the child is still writing.
  int last = -1;
  int value;
  while (last < kChildRecords / 3 && ::read(fds[0], &value, sizeof value) == sizeof value) last = value;
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  while (::read(fds[0], &value, sizeof value) == sizeof value) last = value;
  ::close(fds[0]);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_GE(last, kChildRecords / 3);

  const std::string text = recoverAndRead(dir.path());
  const std::vector<int> numbers = numbersOf(text, "kill");
  // Every record written before the kill, once, in order; maybe the one in flight.
  ASSERT_GE(numbers.size(), static_cast<size_t>(last + 1)) << text;
  ASSERT_LE(numbers.size(), static_cast<size_t>(last + 2));
  for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int>(i));
  // The last records come from the cache the child left, framed by the
  // notices, unless the child died after writing that block to the file.
  const size_t begin = text.find("~~~~~ begin of mmap ~~~~~\n");
  const size_t lastRecord = text.find("] kill n" + std::to_string(last) + "\n");
  const size_t marker = text.rfind("===== begin =====[");
  EXPECT_LT(lastRecord, marker);
  if (begin != std::string::npos) {
    EXPECT_LT(begin, lastRecord);
    EXPECT_LT(lastRecord, text.find("~~~~~ end of mmap ~~~~~["));
  }
}

// --- Killed inside the flush window: the block reaches the file once. ---

constexpr int kWindowRecords = 500;

// Runs in the child: stops the flush thread at the step named by
// JOT_CHILD_STEP and tells the parent, which then kills the process.
int gStepFd = -1;
vela::jot::FlushStep gStopAt = vela::jot::FlushStep::Sealed;
std::atomic<bool> gArmed{false};  // flushes before the records pass freely
std::atomic<int> gChildIdle{0};

void stopAtStep(vela::jot::FlushStep step) {
  if (step == vela::jot::FlushStep::Idle) ++gChildIdle;
  if (step != gStopAt || !gArmed) return;
  const int marker = -1;
  if (::write(gStepFd, &marker, sizeof marker) != sizeof marker) std::abort();
  for (;;) ::pause();
}

TEST(AppenderCrash, ChildStopsInFlushWindow) {
  const char* dir = std::getenv("JOT_CHILD_DIR");
  const char* fd = std::getenv("JOT_CHILD_FD");
  const char* step = std::getenv("JOT_CHILD_STEP");
  if (!dir || !fd || !step) GTEST_SKIP() << "helper of AppenderCrash.KillIn*";
  gStepFd = std::atoi(fd);
  gStopAt = std::string(step) == "written" ? vela::jot::FlushStep::Written
                                           : vela::jot::FlushStep::Sealed;
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  vela::jot::SetFlushStepHookForTesting(&stopAtStep);
  vela::jot::appender_open(configFor(dir));
  for (int i = 0; i < kWindowRecords; ++i) {
    if (i == kWindowRecords - 50) {
      // Let the thread finish a round and go to sleep: from here on the cache
      // holds one open block, the one the armed flush takes.
      const int idle = gChildIdle;
      vela::jot::appender_flush();
      while (gChildIdle == idle) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writeRecord("win n" + std::to_string(i));
    ASSERT_EQ(::write(gStepFd, &i, sizeof i), static_cast<ssize_t>(sizeof i));
  }
  writeRecord("armed");
  gArmed = true;
  // A wake-up while the thread is busy is not remembered: ask until the hook
  // holds the thread.
  for (;;) {
    vela::jot::appender_flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

class AppenderWindowKill : public ::testing::TestWithParam<const char*> {
 protected:
  // Starts the child, waits until its flush thread stands at the step, kills
  // it there and returns the last record it acknowledged.
  int killAtStep(const jottest::TempDir& dir) {
    int fds[2];
    const pid_t child = spawnChild("AppenderCrash.ChildStopsInFlushWindow", dir.path(), &fds[0],
                                   {std::string("JOT_CHILD_STEP=") + GetParam()});
    // kill(-1) would reach every process: never past a failed start.
    if (child <= 0) {
      ADD_FAILURE() << "the child did not start";
      return -1;
    }
    int last = -1;
    int value;
    while (::read(fds[0], &value, sizeof value) == sizeof value && value != -1) last = value;
    EXPECT_EQ(value, -1) << "the child never reached the flush step";
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(fds[0]);
    EXPECT_TRUE(WIFSIGNALED(status));
    return last;
  }
};

TEST_P(AppenderWindowKill, EveryAcknowledgedRecordIsInTheLogOnce) {
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  jottest::TempDir dir;
  ASSERT_EQ(killAtStep(dir), kWindowRecords - 1);

  const std::string text = recoverAndRead(dir.path());
  const std::vector<int> numbers = numbersOf(text, "win");
  ASSERT_EQ(numbers.size(), static_cast<size_t>(kWindowRecords)) << text;
  for (int i = 0; i < kWindowRecords; ++i) ASSERT_EQ(numbers[i], i);
  // The notices frame a block only when it came from the cache.
  const bool written = std::string(GetParam()) == "written";
  EXPECT_EQ(jottest::countOf(text, "~~~~~ begin of mmap ~~~~~"), written ? 0u : 1u);
  EXPECT_EQ(jottest::countOf(text, "===== begin ====="), 2u);
}

INSTANTIATE_TEST_SUITE_P(AppenderCrash, AppenderWindowKill, ::testing::Values("sealed", "written"),
                         [](const auto& param) {
                           return std::string(param.param) == "sealed" ? "BeforeTheFileWrite"
                                                                       : "AfterTheFileWrite";
                         });

// --- Killed while records are dropped: the next start counts them. ---

// Runs in the child: four threads write until killed, each acknowledging
// the number of every record its write returned from. JOT_CHILD_HOLD=held
// stops the flush thread in its first write; otherwise the parent made the
// log file refuse every block.
TEST(AppenderCrash, ChildWritesWhileRecordsAreDropped) {
  const char* dir = std::getenv("JOT_CHILD_DIR");
  const char* fd = std::getenv("JOT_CHILD_FD");
  const char* hold = std::getenv("JOT_CHILD_HOLD");
  if (!dir || !fd || !hold) GTEST_SKIP() << "helper of AppenderCrash.LostRecordsAreCounted*";
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  if (std::string(hold) == "held") {
    vela::jot::SetFlushStepHookForTesting([](vela::jot::FlushStep step) {
      while (step == vela::jot::FlushStep::Sealed) ::pause();
    });
  }
  vela::jot::appender_open(configFor(dir));
  const int out = std::atoi(fd);
  std::atomic<int> next{0};
  for (int t = 0; t < 4; ++t) {
    std::thread([&next, out, t] {
      std::mt19937 rng(static_cast<unsigned>(t));
      for (;;) {
        const int n = next++;
        writeRecord("drop n" + std::to_string(n) + " " + noisyRecord("", rng).substr(0, 1000));
        if (::write(out, &n, sizeof n) != sizeof n) std::abort();
      }
    }).detach();
  }
  ::pause();  // stays until killed
}

class AppenderDropKill : public ::testing::TestWithParam<const char*> {};

TEST_P(AppenderDropKill, LostRecordsAreNeverMoreThanTheCount) {
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  jottest::TempDir dir;
  const bool held = std::string(GetParam()) == "held";
  std::optional<RefusingLogFile> refusing;
  if (!held) refusing.emplace(dir.path(), Refuser::FullDisk);
  int fd = -1;
  const pid_t child = spawnChild("AppenderCrash.ChildWritesWhileRecordsAreDropped", dir.path(), &fd,
                                 {std::string("JOT_CHILD_HOLD=") + GetParam()});
  ASSERT_GT(child, 0);
  // The cache holds some 180 such records: kill well past that.
  std::set<int> acknowledged;
  int value;
  while (acknowledged.size() < 1000 && ::read(fd, &value, sizeof value) == sizeof value) {
    acknowledged.insert(value);
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  while (::read(fd, &value, sizeof value) == sizeof value) acknowledged.insert(value);
  ::close(fd);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_GE(acknowledged.size(), 1000u);
  refusing.reset();

  // The cache the child left reads whole, its count after its blocks.
  const std::string cached = runJotdump({(dir.path() / "inst_a.mmap3").string()}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_GT(droppedIn(cached), 0u);

  const std::string text = recoverAndRead(dir.path());
  const std::vector<int> kept = numbersOf(text, "drop");
  EXPECT_EQ(std::set<int>(kept.begin(), kept.end()).size(), kept.size());  // none twice
  size_t lost = 0;
  for (int n : acknowledged) lost += std::find(kept.begin(), kept.end(), n) == kept.end() ? 1 : 0;
  EXPECT_GT(lost, 0u);
  EXPECT_LE(lost, droppedIn(text));
  // Said by the start, with the blocks the killed run left.
  EXPECT_LT(text.find("records dropped"), text.find("~~~~~ end of mmap ~~~~~"));
}

INSTANTIATE_TEST_SUITE_P(AppenderCrash, AppenderDropKill, ::testing::Values("held", "refused"),
                         [](const auto& param) {
                           return std::string(param.param) == "held" ? "FlushHeld" : "FilesRefuse";
                         });

// --- A cache an earlier version left is read as it was. ---

TEST_F(AppenderTest, CacheOfAnEarlierVersionIsRecoveredWhole) {
  // One block at offset 0 running past the middle, zeros after it, and no
  // counters (the file is only as long as its blocks).
  std::vector<uint8_t> cache(vela::jot::kBufferBlockLength, 0);
  z_stream zs{};
  ASSERT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
  zs.next_out = cache.data() + 73;
  zs.avail_out = static_cast<uInt>(cache.size() - 74);
  std::mt19937 rng(3);
  int records = 0;
  while (zs.total_out < cache.size() * 2 / 3) {
    std::string line =
        "[I] old n" + std::to_string(records++) + " " + noisyRecord("", rng).substr(0, 300) + "\n";
    zs.next_in = reinterpret_cast<Bytef*>(line.data());
    zs.avail_in = static_cast<uInt>(line.size());
    ASSERT_EQ(deflate(&zs, Z_SYNC_FLUSH), Z_OK);
  }
  const auto bodyLen = static_cast<uint32_t>(zs.total_out);
  deflateEnd(&zs);
  const std::time_t now = std::time(nullptr);
  cache[0] = 0x09;  // raw deflate, no key, async
  cache[1] = 7;
  cache[3] = cache[4] = static_cast<uint8_t>(std::localtime(&now)->tm_hour);
  std::memcpy(cache.data() + 5, &bodyLen, sizeof bodyLen);
  jottest::writeBytes(dir_.path() / "inst_a.mmap3", cache);

  int status = -1;
  const std::string dumped = runJotdump({(dir_.path() / "inst_a.mmap3").string()}, &status);
  EXPECT_EQ(status, 0);
  std::vector<int> expected(static_cast<size_t>(records));
  for (int i = 0; i < records; ++i) expected[i] = i;
  EXPECT_EQ(numbersOf(dumped, "old"), expected);
  EXPECT_EQ(numbersOf(recoverAndRead(dir_.path()), "old"), expected);
}

TEST_F(AppenderTest, ACacheCutShortNeverMakesTheLogUndecodable) {
  // A sealed block in the first half and one still open in the second, as a
  // kill leaves them; then the file is cut.
  enum Kept { kNone, kFirst, kAll };
  struct Row {
    size_t length;  // 0: just past the open block's body
    Kept kept;
  };
  const Row rows[] = {{120000, kFirst}, {76850, kFirst}, {50000, kNone}, {0, kAll}, {153610, kAll}};
  for (const Mode mode : {Mode{false, false}, Mode{true, false}, Mode{false, true}}) {
    std::optional<jottest::KeyPair> server;
    if (mode.key) server = jottest::makeKeyPair();
    const std::string key = server ? server->pubHex() : "";
    std::vector<uint8_t> cache(vela::jot::kCacheFileLength, 0);
    uint64_t* counters = reinterpret_cast<uint64_t*>(cache.data() + vela::jot::kBufferBlockLength);
    std::unique_ptr<vela::jot::LogBaseBuffer> buffer;
    if (mode.zstd) {
      buffer = std::make_unique<vela::jot::LogZstdBuffer>(
          cache.data(), vela::jot::kBufferBlockLength, true, key.c_str(), 3, counters);
    } else {
      buffer = std::make_unique<vela::jot::LogZlibBuffer>(
          cache.data(), vela::jot::kBufferBlockLength, true, key.c_str(), counters);
    }
    std::mt19937 rng(5);
    int records = 0;
    int inFirst = -1;
    while (buffer->SealedCount() == 0 || buffer->OpenLength() < 60000) {
      const std::string line = "[I] cut n" + std::to_string(records++) + " " +
                               noisyRecord("", rng).substr(0, 200) + "\n";
      ASSERT_TRUE(buffer->Write(line.data(), line.size()));
      if (inFirst < 0 && buffer->SealedCount() == 1) inFirst = records - 1;
    }
    const size_t openEnd = vela::jot::kBufferBlockLength / 2 + buffer->OpenLength();
    buffer.reset();  // killed
    for (Row row : rows) {
      if (row.length == 0) row.length = openEnd;  // its tail byte is still to come
      SCOPED_TRACE(std::to_string(row.length) + (mode.zstd ? " zstd" : " zlib") +
                   (mode.key ? " key" : ""));
      jottest::TempDir dir;
      jottest::writeBytes(dir.path() / "inst_a.mmap3",
                          std::vector<uint8_t>(cache.begin(), cache.begin() + row.length));
      ::testing::internal::CaptureStderr();
      vela::jot::appender_open(configFor(dir.path(), vela::jot::kAppenderAsync, mode.zstd, key));
      vela::jot::appender_close();
      const std::string console = ::testing::internal::GetCapturedStderr();
      std::vector<std::string> problems;
      const std::string text = jottest::decodeDir(
          dir.path(), server ? std::optional(server->priv) : std::nullopt, &problems);
      EXPECT_TRUE(problems.empty()) << problems.front();
      const std::vector<int> kept = numbersOf(text, "cut");
      std::vector<int> expected;
      const int whole = row.kept == kAll ? records : row.kept == kFirst ? inFirst : 0;
      for (int i = 0; i < whole; ++i) expected.push_back(i);
      EXPECT_EQ(kept, expected);
      const bool cut = row.kept != kAll;
      EXPECT_EQ(
          jottest::countOf(console, "was cut short (" + std::to_string(row.length) + " bytes)"),
          cut ? 1u : 0u)
          << console;
      EXPECT_EQ(jottest::countOf(text, "was cut short"), cut ? 1u : 0u);
    }
  }
}

// --- The filesystem never takes the writer down. ---

// A symlink loop in the log folder makes the expiry scan fail on it.
void makeSymlinkLoop(const fs::path& dir) {
  fs::create_symlink(dir / "inst_a_loop_b.jot", dir / "inst_a_loop_a.jot");
  fs::create_symlink(dir / "inst_a_loop_a.jot", dir / "inst_a_loop_b.jot");
}

TEST_F(AppenderTest, SymlinkLoopInTheLogFolderIsReportedOnceNotFatal) {
  // Met by rounds of the flush thread, or only by the flush at close (a short
  // run): each broken link once, however often the folder was scanned.
  for (int rounds : {0, 3}) {
    jottest::TempDir dir;
    vela::jot::appender_set_max_file_size(1024 * 1024);  // makes every block scan the folder
    vela::jot::appender_open(configFor(dir.path()));
    ASSERT_TRUE(eventually([&] {
      vela::jot::appender_flush();
      return jottest::decodeDir(dir.path(), std::nullopt).find("===== begin =====") != std::string::npos;
    }));
    makeSymlinkLoop(dir.path());  // the thread is done with the begin marker
    std::vector<int> expected;
    for (int i = 1; i <= rounds + 1; ++i) {
      writeRecord("loop n" + std::to_string(i));
      expected.push_back(i);
      if (i > rounds) break;
      ASSERT_TRUE(eventually([&] {
        vela::jot::appender_flush();
        return numbersOf(jottest::decodeDir(dir.path(), std::nullopt), "loop") == expected;
      }));
    }
    vela::jot::appender_close();
    vela::jot::appender_set_max_file_size(0);

    const std::string text = jottest::decodeDir(dir.path(), std::nullopt);
    EXPECT_EQ(numbersOf(text, "loop"), expected);
    EXPECT_EQ(jottest::countOf(text, "boost exception:boost::filesystem::status"), 2u) << rounds << text;
    EXPECT_LT(text.rfind("boost exception:"), text.find("===== end =====")) << rounds;
  }
}

TEST_F(AppenderTest, FileErrorsMetWhileOpeningAreWritten) {
  // Writing the block an earlier run left scans the folder already inside
  // appender_open.
  std::vector<char> cache(vela::jot::kBufferBlockLength, 0);
  {
    vela::jot::LogZlibBuffer buffer(cache.data(), cache.size(), true, "");
    ASSERT_TRUE(buffer.Write("[I] left n1\n", 12));
  }
  jottest::writeBytes(dir_.path() / "inst_a.mmap3", std::vector<uint8_t>(cache.begin(), cache.end()));
  makeSymlinkLoop(dir_.path());
  vela::jot::appender_set_max_file_size(1024 * 1024);  // makes every block scan the folder
  vela::jot::appender_open(configFor(dir_.path()));
  vela::jot::appender_close();
  vela::jot::appender_set_max_file_size(0);
  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  EXPECT_EQ(numbersOf(text, "left"), std::vector<int>{1});
  EXPECT_EQ(jottest::countOf(text, "boost exception:boost::filesystem::status"), 2u) << text;
}

TEST(AppenderExit, ChildOpensAndExits) {
  const char* dir = std::getenv("JOT_CHILD_DIR");
  if (!dir) GTEST_SKIP() << "helper of AppenderTest.ErrorsOfTheMaintenanceAtCloseAreWritten";
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  vela::jot::appender_open(configFor(dir));
  std::exit(0);  // the exit handler closes the writer
}

TEST_F(AppenderTest, ErrorsOfTheMaintenanceAtCloseAreWritten) {
  // A run shorter than the maintenance delay, closed by appender_close or
  // by the exit handler: the expiry runs at close, and what it meets is logged.
  for (bool atExit : {false, true}) {
    jottest::TempDir dir;
    makeSymlinkLoop(dir.path());
    if (atExit) {
      int fd = -1;
      const pid_t child = spawnChild("AppenderExit.ChildOpensAndExits", dir.path(), &fd);
      ASSERT_GT(child, 0);
      int status = 0;
      ::waitpid(child, &status, 0);
      ::close(fd);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
      vela::jot::appender_open(configFor(dir.path()));
      vela::jot::appender_close();
    }
    const std::string text = jottest::decodeDir(dir.path(), std::nullopt);
    EXPECT_NE(text.find("|F|vela::comm|"), std::string::npos) << (atExit ? "exit handler" : "close");
    EXPECT_NE(text.find("boost exception:boost::filesystem::last_write_time"), std::string::npos)
        << text;
    EXPECT_LT(text.find("boost exception:"), text.find("===== end ====="));
  }
}

TEST_F(AppenderTest, CloseRunsTheExpiryThatWasStillPending) {
  const fs::path old = dir_.path() / "inst_a_20200101.jot";
  jottest::writeBytes(old, {});
  fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(24 * 11));
  vela::jot::appender_open(configFor(dir_.path()));
  EXPECT_TRUE(fs::exists(old));  // its two minutes have not passed
  vela::jot::appender_close();
  EXPECT_FALSE(fs::exists(old));
}

// ---- Checks of the notice path ----

// A notice goes to the files only between Open() and Close(): before Open
// there are no files to write it to, after Close the file is done.
TEST_F(AppenderTest, NoticesOutsideOpenAndCloseWriteNothing) {
  vela::jot::JotterAppender appender;
  appender.WriteTips2File("before open n1\n");
  appender.Open(configFor(dir_.path(), vela::jot::kAppenderSync));
  appender.WriteTips2File("while open n2\n");
  appender.Close();
  appender.WriteTips2File("after close n3\n");
  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  EXPECT_EQ(jottest::countOf(text, "while open n2"), 1u);
  EXPECT_EQ(jottest::countOf(text, "before open"), 0u);
  EXPECT_EQ(jottest::countOf(text, "after close"), 0u);
}

// The file layer's console notices are said once each, of the last 16
// kept: the 17th distinct one pushes the first out, which is then said again.
TEST_F(AppenderTest, FileNoticesAreSaidOnceOfTheLastSixteen) {
  const time_t day = 86400;
  time_t now = 1736078400;  // 2025-01-05 12:00 UTC
  setenv("TZ", "UTC", 1);
  tzset();
  const vela::jot::JotClock clock{[&] { return timeval{now, 0}; }, [] { return uint64_t{1000}; }};
  vela::jot::JotterAppender appender(clock);
  auto fileOf = [&](time_t at) {
    return dir_.path() /
           ("inst_a" + vela::jot::LogFiles::MakeLogFileNamePrefix(timeval{at, 0}, "") + ".jot");
  };
  // Day 0 and day 16 refuse writes, days 1..15 cannot be opened: 17
  // distinct notices, the refusal of day 16 again that of day 0.
  const time_t start = now;
  for (int d = 0; d <= 16; ++d) {
    if (d == 0 || d == 16) {
      fs::create_symlink("/dev/full", fileOf(start + d * day));
    } else {
      fs::create_directories(fileOf(start + d * day));
    }
  }
  ::testing::internal::CaptureStderr();
  appender.Open(configFor(dir_.path(), vela::jot::kAppenderSync));
  JotterInfo_t info;
  for (int d = 0; d <= 16; ++d) {
    now = start + d * day;
    appender.Write(&info, ("day n" + std::to_string(d)).c_str());
  }
  appender.Close();
  const std::string console = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(jottest::countOf(console, "log file refused a block (No space left on device)"), 2u)
      << console;
  EXPECT_EQ(jottest::countOf(console, "open file error:21"), 15u) << console;
}

// --- Two processes on one log, a log file that blocks. ---

namespace two_processes {

struct RunSize {
  int threads = 4;
  int recordsPerThread = 3000;
};

// JOT_TWO_WRITERS=<threads>x<records per thread> runs the check at full size
// by hand (the children inherit it); the default keeps the suite fast.
RunSize runSize() {
  RunSize size;
  const char* given = std::getenv("JOT_TWO_WRITERS");
  if (given) std::sscanf(given, "%dx%d", &size.threads, &size.recordsPerThread);
  return size;
}

// Runs in a child: writes JOT_CHILD_TAG records from each thread, closes.
TEST(TwoWriters, ChildWritesAndCloses) {
  const char* dir = std::getenv("JOT_CHILD_DIR");
  const char* tag = std::getenv("JOT_CHILD_TAG");
  const char* key = std::getenv("JOT_CHILD_KEY");
  if (!dir || !tag || !key) {
    GTEST_SKIP() << "helper of TwoWriters.BlocksOfTwoProcessesNeverInterleave";
  }
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  vela::jot::appender_open(configFor(dir, vela::jot::kAppenderAsync, true, key));
  const RunSize size = runSize();
  std::atomic<int> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < size.threads; ++t) {
    threads.emplace_back([&next, &size, tag, t] {
      std::mt19937 rng(static_cast<unsigned>(t));
      for (int i = 0; i < size.recordsPerThread; ++i) {
        // Half noise: blocks of many 4 KiB pages, so a block written in
        // pieces would let the other process's blocks in between.
        writeRecord(std::string(tag) + " n" + std::to_string(next++) + " " +
                    noisyRecord("", rng).substr(0, 400));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  vela::jot::appender_close();
}

TEST(TwoWriters, BlocksOfTwoProcessesNeverInterleave) {
  jottest::TempDir dir;
  // Each writer makes a key pair of its own and puts the public half into
  // every block it writes: so each notice of dropped records has its writer.
  const jottest::KeyPair server = jottest::makeKeyPair();
  const std::string key = "JOT_CHILD_KEY=" + server.pubHex();
  int fds[2];
  const pid_t a = spawnChild("TwoWriters.ChildWritesAndCloses", dir.path(), &fds[0],
                             {"JOT_CHILD_TAG=pa", key});
  const pid_t b = spawnChild("TwoWriters.ChildWritesAndCloses", dir.path(), &fds[1],
                             {"JOT_CHILD_TAG=pb", key});
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  for (const pid_t child : {a, b}) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ::close(fds[0]);
  ::close(fds[1]);
  const auto files = jottest::logFiles(dir.path());
  ASSERT_EQ(files.size(), 1u);
  const std::vector<uint8_t> bytes = jottest::readBytes(files[0]);
  const auto result = vela::jot::ReadLogBlocks(bytes, server.priv);
  ASSERT_TRUE(result.damage.empty()) << result.damage.front();
  std::map<std::string, std::string> textOf;  // by the writer's public key
  for (const auto& block : result.blocks) {
    ASSERT_TRUE(block.error.empty()) << block.error;
    const auto writer = bytes.begin() + static_cast<long>(block.offset + vela::jot::kBlockKeyOffset);
    textOf[std::string(writer, writer + vela::jot::kBlockKeyLen)] += block.text;
  }
  ASSERT_EQ(textOf.size(), 2u);
  const RunSize size = runSize();
  const size_t total = static_cast<size_t>(size.threads) * size.recordsPerThread;
  std::string summary;
  for (const auto& [writer, text] : textOf) {
    const bool first = !numbersOf(text, "pa").empty();
    const std::string tag = first ? "pa" : "pb";
    EXPECT_TRUE(numbersOf(text, first ? "pb" : "pa").empty()) << tag;
    const std::vector<int> kept = numbersOf(text, tag);
    EXPECT_EQ(std::set<int>(kept.begin(), kept.end()).size(), kept.size()) << tag;
    const size_t dropped = droppedIn(text);
    EXPECT_LE(total - kept.size(), dropped) << tag;
    summary += tag + " kept " + std::to_string(kept.size()) + " of " + std::to_string(total) +
               ", " + std::to_string(dropped) + " dropped noted; ";
  }
  // The dump tool must read the same file whole too.
  int status = -1;
  (void)runJotdump({"--key", server.privHex(), files[0].string()}, &status);
  EXPECT_EQ(status, 0);
  if (std::getenv("JOT_TWO_WRITERS")) {
    std::printf("two writers: %sjotdump exit %d\n", summary.c_str(), status);
  }
}

}  // namespace two_processes

// Runs in a child: writes into a log whose file is a FIFO without a reader,
// then closes; each call must return.
TEST(FifoLog, ChildWritesIntoAFifoAndCloses) {
  const char* dir = std::getenv("JOT_CHILD_DIR");
  const char* fd = std::getenv("JOT_CHILD_FD");
  const char* mode = std::getenv("JOT_CHILD_MODE");
  if (!dir || !fd || !mode) GTEST_SKIP() << "helper of FifoLog.NoCallerNorCloseWaitsOnAFifo";
  const bool sync = std::string(mode) == "sync";
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  ::testing::internal::CaptureStderr();
  vela::jot::appender_open(
      configFor(dir, sync ? vela::jot::kAppenderSync : vela::jot::kAppenderAsync));
  for (int i = 0; i < 20; ++i) writeRecord("fifo n" + std::to_string(i));
  vela::jot::appender_close();
  const std::string console = ::testing::internal::GetCapturedStderr();
  const int done = 1;
  ASSERT_EQ(::write(std::atoi(fd), &done, sizeof done), static_cast<ssize_t>(sizeof done));
  EXPECT_NE(console.find("No such device or address"), std::string::npos) << console;
  // Async mode keeps the records in the cache for the next start, sync mode
  // their count.
  EXPECT_NE(console.find("they stay in the cache file"), std::string::npos) << console;
}

TEST(FifoLog, NoCallerNorCloseWaitsOnAFifo) {
  for (const char* mode : {"sync", "async"}) {
    jottest::TempDir dir;
    const fs::path fifo = dir.path() / todaysLogName();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int fd = -1;
    const pid_t child = spawnChild("FifoLog.ChildWritesIntoAFifoAndCloses", dir.path(), &fd,
                                   {std::string("JOT_CHILD_MODE=") + mode});
    ASSERT_GT(child, 0);
    // A child held in open() never answers: bounded, it fails here.
    struct pollfd ready {
      fd, POLLIN, 0
    };
    int done = 0;
    const bool answered =
        ::poll(&ready, 1, 60000) == 1 && ::read(fd, &done, sizeof done) == sizeof done;
    if (!answered) ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(fd);
    ASSERT_TRUE(answered) << mode;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << mode;
    // What the FIFO refused waited in the cache for this start: the records,
    // or in sync mode their count (with the begin and end markers).
    fs::remove(fifo);
    const std::string text = recoverAndRead(dir.path());
    if (std::string(mode) == "async") {
      EXPECT_EQ(numbersOf(text, "fifo").size(), 20u);
    } else {
      EXPECT_EQ(droppedIn(text), 22u) << text;
    }
  }
}

// Runs in a child: sync mode over a log file that refuses, acknowledging
// each record, until killed.
TEST(FifoLog, ChildWritesRefusedRecordsUntilKilled) {
  const char* dir = std::getenv("JOT_CHILD_DIR");
  const char* fd = std::getenv("JOT_CHILD_FD");
  if (!dir || !fd || !std::getenv("JOT_CHILD_SYNC")) GTEST_SKIP() << "helper of FifoLog.Sync*";
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  vela::jot::appender_open(configFor(dir, vela::jot::kAppenderSync));
  for (int i = 0;; ++i) {
    writeRecord("refused n" + std::to_string(i));
    if (::write(std::atoi(fd), &i, sizeof i) != sizeof i) std::abort();
  }
}

TEST(FifoLog, SyncModesRefusedCountOutlivesAKill) {
  jottest::TempDir dir;
  const fs::path fifo = dir.path() / todaysLogName();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int fd = -1;
  const pid_t child = spawnChild("FifoLog.ChildWritesRefusedRecordsUntilKilled", dir.path(), &fd,
                                 {"JOT_CHILD_SYNC=1"});
  ASSERT_GT(child, 0);
  int acknowledged = 0;
  int value;
  while (acknowledged < 2000 && ::read(fd, &value, sizeof value) == sizeof value) ++acknowledged;
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  while (::read(fd, &value, sizeof value) == sizeof value) ++acknowledged;
  ::close(fd);
  ASSERT_GE(acknowledged, 2000);
  fs::remove(fifo);
  const std::string text = recoverAndRead(dir.path());
  EXPECT_TRUE(numbersOf(text, "refused").empty());
  // Each acknowledged record, the begin marker, maybe the one in flight.
  EXPECT_GE(droppedIn(text), static_cast<size_t>(acknowledged) + 1);
  EXPECT_LE(droppedIn(text), static_cast<size_t>(acknowledged) + 2);
}

// The cache file removed or replaced under a running writer: said at the
// next flush, on the console and in the log.
TEST_F(AppenderTest, ACacheFileRemovedOrReplacedIsSaidAtTheNextFlush) {
  for (const bool replace : {false, true}) {
    jottest::TempDir dir;
    const fs::path cache = dir.path() / "inst_a.mmap3";
    ::testing::internal::CaptureStderr();
    vela::jot::appender_open(configFor(dir.path()));
    writeRecord("gone n0");
    fs::remove(cache);
    if (replace) jottest::writeBytes(cache, std::vector<uint8_t>(16, 0));
    writeRecord("gone n1");
    vela::jot::appender_close();
    const std::string console = ::testing::internal::GetCapturedStderr();
    const std::string notice = "log cache " + cache.string() + " was removed or replaced";
    EXPECT_EQ(jottest::countOf(console, notice), 1u) << console;
    const std::string text = jottest::decodeDir(dir.path(), std::nullopt);
    EXPECT_EQ(jottest::countOf(text, "[F][ " + notice), 1u) << text;
    EXPECT_EQ(numbersOf(text, "gone"), (std::vector<int>{0, 1}));
  }
}

}  // namespace
