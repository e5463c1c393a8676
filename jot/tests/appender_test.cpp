#include "jot/appender.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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

TEST_F(AppenderTest, EightThreadsKeepTheirOrder) {
  const jottest::KeyPair server = jottest::makeKeyPair();
  vela::jot::appender_open(configFor(dir_.path(), vela::jot::kAppenderAsync, false, server.pubHex()));
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 10000; ++i) {
        writeRecord("t" + std::to_string(t) + " n" + std::to_string(i) + " some text of a record");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  vela::jot::appender_close();

  std::vector<std::string> problems;
  const std::string text = jottest::decodeDir(dir_.path(), server.priv, &problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
  for (int t = 0; t < 8; ++t) {
    const std::vector<int> numbers = numbersOf(text, "t" + std::to_string(t));
    ASSERT_EQ(numbers.size(), 10000u) << "thread " << t;
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(numbers[i], i) << "thread " << t;
  }
  EXPECT_EQ(text.find("sg_buffer_async"), std::string::npos);
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

// Holds the flush thread at its next wake-up while set.
std::atomic<bool> gHoldFlush{false};
void holdFlush(vela::jot::FlushStep step) {
  while (step == vela::jot::FlushStep::Woken && gHoldFlush) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TEST_F(AppenderTest, FullCacheStoresTheNoticeInsteadOfTheRecord) {
  gHoldFlush = true;
  vela::jot::SetFlushStepHookForTesting(&holdFlush);
  vela::jot::SetDrainWaitForTesting(20);
  vela::jot::appender_open(configFor(dir_.path()));
  // Text that hardly compresses fills the cache past four fifths.
  std::mt19937 rng(7);
  for (int i = 0; i < 30; ++i) {
    std::string text = "fill n" + std::to_string(i) + " ";
    for (int c = 0; c < 8000; ++c) text += static_cast<char>('!' + rng() % 90);
    writeRecord(text);
  }
  gHoldFlush = false;
  vela::jot::appender_close();
  vela::jot::SetFlushStepHookForTesting(nullptr);
  vela::jot::SetDrainWaitForTesting(5000);

  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  const std::vector<int> kept = numbersOf(text, "fill");
  ASSERT_FALSE(kept.empty());
  ASSERT_LT(kept.size(), 30u);
  // The first records in order, then one notice per refused record.
  for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i], static_cast<int>(i));
  EXPECT_EQ(jottest::countOf(text, "[F][ sg_buffer_async.Length() >= BUFFER_BLOCK_LENTH*4/5, len: "),
            30 - kept.size());
}

// Holds the flush thread once it has sealed a block, while set.
std::atomic<bool> gHoldSealed{false};
std::atomic<bool> gHeldSealed{false};
void holdSealed(vela::jot::FlushStep step) {
  if (step != vela::jot::FlushStep::Sealed) return;
  while (gHoldSealed) {
    gHeldSealed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TEST_F(AppenderTest, RecordThatOutwaitsAStuckFlushGoesStraightToTheFile) {
  gHoldSealed = true;
  gHeldSealed = false;
  vela::jot::SetFlushStepHookForTesting(&holdSealed);
  vela::jot::SetDrainWaitForTesting(20);
  vela::jot::appender_open(configFor(dir_.path()));
  writeRecord("stuck n0");
  vela::jot::appender_flush();
  ASSERT_TRUE(eventually([] { return gHeldSealed.load(); }));
  writeRecord("stuck n1");  // the cache stays sealed past the writer's wait
  // Written while the flush is still held (n0 too, if the thread sealed the
  // begin marker's block before n0 arrived).
  const std::vector<int> early = numbersOf(jottest::decodeDir(dir_.path(), std::nullopt), "stuck");
  const bool alreadyInFile = std::find(early.begin(), early.end(), 1) != early.end();
  gHoldSealed = false;
  vela::jot::appender_close();
  vela::jot::SetFlushStepHookForTesting(nullptr);
  vela::jot::SetDrainWaitForTesting(5000);

  EXPECT_TRUE(alreadyInFile);
  std::vector<int> numbers = numbersOf(jottest::decodeDir(dir_.path(), std::nullopt), "stuck");
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, (std::vector<int>{0, 1}));  // each once
}

TEST_F(AppenderTest, WriterIsNotHeldByAFlushHangingInTheFileSystem) {
  // Today's log file is a FIFO nobody reads: the flush thread hangs opening
  // it, holding the files, as on a hung disk.
  char day[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(day, sizeof day, "%Y%m%d", std::localtime(&now));
  const fs::path fifo = dir_.path() / ("inst_a_" + std::string(day) + ".jot");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  vela::jot::SetDrainWaitForTesting(20);
  vela::jot::appender_open(configFor(dir_.path()));

  std::atomic<bool> returned{false};
  std::thread writer([&] {
    for (int i = 0; i < 3; ++i) {
      writeRecord("hung n" + std::to_string(i));
      vela::jot::appender_flush();
    }
    returned = true;
  });
  bool writerReturned = false;
  for (int i = 0; i < 2000 && !writerReturned; ++i) {
    writerReturned = returned.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // Let the flush through: read the FIFO once; later opens make a plain file.
  std::thread reader([&] {
    const int fd = ::open(fifo.c_str(), O_RDONLY);
    ::unlink(fifo.c_str());
    char chunk[4096];
    while (fd >= 0 && ::read(fd, chunk, sizeof chunk) > 0) {
    }
    if (fd >= 0) ::close(fd);
  });
  reader.join();
  writer.join();
  vela::jot::appender_close();
  vela::jot::SetDrainWaitForTesting(5000);
  EXPECT_TRUE(writerReturned);
}

TEST_F(AppenderTest, WriteKeepsErrno) {
  vela::jot::appender_open(configFor(dir_.path(), vela::jot::kAppenderSync));
  errno = ERANGE;
  writeRecord("errno n1");
  EXPECT_EQ(errno, ERANGE);
}

TEST_F(AppenderTest, FatalRecordAndFlushWakeTheThread) {
  vela::jot::appender_open(configFor(dir_.path()));
  writeRecord("wake n1", vela::jot::kLevelFatal);
  EXPECT_TRUE(eventually([&] {
    return numbersOf(jottest::decodeDir(dir_.path(), std::nullopt), "wake").size() == 1;
  }));
  writeRecord("wake n2");
  vela::jot::appender_flush();
  EXPECT_TRUE(eventually([&] {
    return numbersOf(jottest::decodeDir(dir_.path(), std::nullopt), "wake").size() == 2;
  }));
}

TEST_F(AppenderTest, SameCacheInTwoWritersFallsBackToHeap) {
  vela::jot::JotterAppender first;
  vela::jot::JotterAppender second;
  first.Open(configFor(dir_.path()));
  second.Open(configFor(dir_.path()));
  EXPECT_TRUE(first.IsCacheMapped());
  EXPECT_FALSE(second.IsCacheMapped());
  JotterInfo_t info;
  info.tid = 1;
  first.Write(&info, "one n1");
  second.Write(&info, "two n1");
  first.Close();
  second.Close();
  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  EXPECT_EQ(numbersOf(text, "one").size(), 1u);
  EXPECT_EQ(numbersOf(text, "two").size(), 1u);
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
  EXPECT_EQ(fs::file_size(cache), vela::jot::kBufferBlockLength);
  std::vector<std::string> problems;
  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt, &problems);
  EXPECT_EQ(numbersOf(text, "after").size(), 1u);
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

void stopAtStep(vela::jot::FlushStep step) {
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
    writeRecord("win n" + std::to_string(i));
    ASSERT_EQ(::write(gStepFd, &i, sizeof i), static_cast<ssize_t>(sizeof i));
  }
  gArmed = true;
  writeRecord("armed");  // the next flush has a block, so it reaches the hook
  vela::jot::appender_flush();
  for (;;) ::pause();
}

class AppenderWindowKill : public ::testing::TestWithParam<const char*> {
 protected:
  // Starts the child, waits until its flush thread stands at the step, kills
  // it there and returns the last record it acknowledged.
  int killAtStep(const jottest::TempDir& dir) {
    int fds[2];
    const pid_t child = spawnChild("AppenderCrash.ChildStopsInFlushWindow", dir.path(), &fds[0],
                                   {std::string("JOT_CHILD_STEP=") + GetParam()});
    EXPECT_GT(child, 0);
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

// --- The filesystem never takes the writer down. ---

TEST_F(AppenderTest, SymlinkLoopInTheLogFolderIsReportedNotFatal) {
  fs::create_symlink(dir_.path() / "inst_a_loop_b.jot", dir_.path() / "inst_a_loop_a.jot");
  fs::create_symlink(dir_.path() / "inst_a_loop_a.jot", dir_.path() / "inst_a_loop_b.jot");
  vela::jot::appender_set_max_file_size(1024 * 1024);  // makes every block scan the folder
  vela::jot::appender_open(configFor(dir_.path()));
  writeRecord("loop n1");
  vela::jot::appender_flush();
  // Reported as the Boost error hook's fatal record, which wakes the thread.
  EXPECT_TRUE(eventually([&] {
    return jottest::decodeDir(dir_.path(), std::nullopt).find("|F|vela::comm|") != std::string::npos;
  }));
  writeRecord("loop n2");
  vela::jot::appender_flush();
  vela::jot::appender_close();
  vela::jot::appender_set_max_file_size(0);

  const std::string text = jottest::decodeDir(dir_.path(), std::nullopt);
  EXPECT_EQ(numbersOf(text, "loop"), (std::vector<int>{1, 2}));
  // Each broken link once, however often the folder was scanned.
  EXPECT_EQ(jottest::countOf(text, "|F|vela::comm|"), 2u) << text;
  EXPECT_NE(text.find("boost exception:boost::filesystem::status"), std::string::npos) << text;
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

}  // namespace
