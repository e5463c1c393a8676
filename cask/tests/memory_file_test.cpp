#include "memory_file.h"

#include <atomic>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "cask/cask.h"
#include "child_process.h"
#include "file_lock.h"

namespace {

using cask::getPageSize;
using cask::MemoryFile;

class MemoryFileTest : public ::testing::Test {
 protected:
  void TearDown() override { cask::testing::removeTempDir(dir_); }
  std::string dir_ = cask::testing::makeTempDir("memfile");
};

pthread_once_t g_once = PTHREAD_ONCE_INIT;
std::atomic<int> g_onceRuns{0};

TEST(CaskThreadLock, ThreadOnceRunsOnceAndLaterCallersSeeItDone) {
  std::vector<std::thread> threads;
  std::atomic<int> sawDone{0};
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      cask::ThreadLock::ThreadOnce(&g_once, [] {
        std::this_thread::yield();
        ++g_onceRuns;
      });
      if (g_onceRuns.load() == 1) ++sawDone;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(g_onceRuns.load(), 1);
  EXPECT_EQ(sawDone.load(), 8);
}

TEST_F(MemoryFileTest, FilesAreWholeZeroFilledPages) {
  const size_t page = getPageSize();
  MemoryFile file(dir_ + "/f");
  ASSERT_TRUE(file.isFileValid());
  EXPECT_EQ(file.getFileSize(), page);
  ASSERT_TRUE(file.truncate(100));
  EXPECT_EQ(file.getFileSize(), page);
  ASSERT_TRUE(file.truncate(2 * page));
  EXPECT_EQ(file.getFileSize(), 2 * page);
  ASSERT_TRUE(file.truncate(2 * page + 1));
  EXPECT_EQ(file.getFileSize(), 3 * page);
  EXPECT_EQ(file.getActualFileSize(), 3 * page);
  for (size_t i = 0; i < file.getFileSize(); ++i) ASSERT_EQ(file.getMemory()[i], 0) << i;
}

TEST_F(MemoryFileTest, GrowthIsAllocatedOnDiskSoAFullDiskFailsTheGrowth) {
  const size_t page = getPageSize();
  MemoryFile file(dir_ + "/allocated");
  ASSERT_TRUE(file.truncate(64 * page));
  struct stat st {};
  ASSERT_EQ(fstat(file.getFd(), &st), 0);
  // Not a sparse file: writes through the mapping need no new blocks.
  EXPECT_GE(static_cast<size_t>(st.st_blocks) * 512, 64 * page);
}

TEST_F(MemoryFileTest, RangedMsyncCoversWholePagesAndClipsAtTheEnd) {
  const size_t page = getPageSize();
  MemoryFile file(dir_ + "/ranged");
  ASSERT_TRUE(file.truncate(4 * page));
  file.getMemory()[page + 10] = 1;
  EXPECT_TRUE(file.msync(cask::CaskSync, 0, 4));
  EXPECT_TRUE(file.msync(cask::CaskSync, page + 10, 1));
  EXPECT_TRUE(file.msync(cask::CaskSync, 3 * page + 5, 10 * page));  // past the end
  EXPECT_TRUE(file.msync(cask::CaskSync, 2 * page, 0));
  EXPECT_TRUE(file.msync(cask::CaskSync, 8 * page, 1));  // wholly past the end: nothing
  MemoryFile unmapped(dir_ + "/missing/file");
  EXPECT_FALSE(unmapped.msync(cask::CaskSync, 0, 1));
}

TEST_F(MemoryFileTest, OddSizedFileIsGrownToWholePagesOnOpen) {
  const std::string path = dir_ + "/odd";
  {
    cask::File f(path, cask::ReadWrite | cask::Create);
    ASSERT_EQ(write(f.getFd(), "abc", 3), 3);
  }
  MemoryFile file(path);
  EXPECT_EQ(file.getFileSize(), getPageSize());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(file.getMemory()), 3), "abc");
}

// Whether another open file description can take the lock kind now.
bool othersCan(const std::string& path, int operation) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool ok = flock(fd, operation | LOCK_NB) == 0;
  close(fd);
  return ok;
}

TEST_F(MemoryFileTest, FileLockCountsAndFallsBackToShared) {
  const std::string path = dir_ + "/lock";
  cask::File file(path, cask::ReadWrite | cask::Create);
  cask::FileLock lock(file.getFd());
  ASSERT_TRUE(lock.lock(cask::SharedLockType));
  EXPECT_TRUE(othersCan(path, LOCK_SH));
  ASSERT_TRUE(lock.lock(cask::ExclusiveLockType));
  EXPECT_FALSE(othersCan(path, LOCK_SH));
  ASSERT_TRUE(lock.unlock(cask::ExclusiveLockType));
  EXPECT_TRUE(othersCan(path, LOCK_SH));
  EXPECT_FALSE(othersCan(path, LOCK_EX));
  ASSERT_TRUE(lock.unlock(cask::SharedLockType));
  EXPECT_TRUE(othersCan(path, LOCK_EX));
  EXPECT_FALSE(lock.unlock(cask::SharedLockType));

  ASSERT_TRUE(lock.lock(cask::ExclusiveLockType));
  ASSERT_TRUE(lock.lock(cask::ExclusiveLockType));
  ASSERT_TRUE(lock.unlock(cask::ExclusiveLockType));
  EXPECT_FALSE(othersCan(path, LOCK_SH));
  ASSERT_TRUE(lock.unlock(cask::ExclusiveLockType));
  EXPECT_TRUE(othersCan(path, LOCK_EX));
}

// An upgrade drops the shared lock for a moment; when another descriptor's
// shared lock makes it fail, the shared one must be held again afterwards.
TEST_F(MemoryFileTest, FailedUpgradeTakesTheSharedLockBack) {
  const std::string path = dir_ + "/upgrade";
  cask::File file(path, cask::ReadWrite | cask::Create);
  cask::FileLock lock(file.getFd());
  ASSERT_TRUE(lock.lock(cask::SharedLockType));
  const int other = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_SH | LOCK_NB), 0);
  EXPECT_FALSE(lock.tryLock(cask::ExclusiveLockType));
  ASSERT_EQ(flock(other, LOCK_UN), 0);
  EXPECT_FALSE(othersCan(path, LOCK_EX));
  EXPECT_TRUE(othersCan(path, LOCK_SH));
  // The failed attempt left no exclusive count behind.
  ASSERT_TRUE(lock.unlock(cask::SharedLockType));
  EXPECT_FALSE(lock.unlock(cask::ExclusiveLockType));
  EXPECT_TRUE(othersCan(path, LOCK_EX));
  close(other);

  cask::FileLock closed(-1);
  EXPECT_FALSE(closed.lock(cask::SharedLockType));
  EXPECT_FALSE(closed.tryLock(cask::ExclusiveLockType));
}

// The store's lock that never waits: refused while another descriptor
// holds the file, taken once it is free; a disabled one takes nothing.
TEST_F(MemoryFileTest, InterProcessTryLockTakesOnlyAFreeLock) {
  const std::string path = dir_ + "/trylock";
  cask::File file(path, cask::ReadWrite | cask::Create);
  cask::FileLock fileLock(file.getFd());
  cask::InterProcessLock lock(&fileLock, cask::ExclusiveLockType);
  const int other = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_SH | LOCK_NB), 0);
  EXPECT_FALSE(lock.tryLock());
  ASSERT_EQ(flock(other, LOCK_UN), 0);
  close(other);
  EXPECT_TRUE(othersCan(path, LOCK_EX));
  ASSERT_TRUE(lock.tryLock());
  EXPECT_FALSE(othersCan(path, LOCK_SH));
  lock.unlock();
  EXPECT_TRUE(othersCan(path, LOCK_EX));

  lock.setEnable(false);
  EXPECT_TRUE(lock.tryLock());
  EXPECT_TRUE(othersCan(path, LOCK_EX));
  lock.unlock();
}

std::atomic<int> g_interruptions{0};
void countInterruption(int) { ++g_interruptions; }

// A signal that interrupts a waiting lock makes it wait again, not fail.
TEST_F(MemoryFileTest, WaitingLockOutlastsSignals) {
  const std::string path = dir_ + "/signalled";
  cask::File file(path, cask::ReadWrite | cask::Create);
  const int holder = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  struct sigaction action {};
  action.sa_handler = &countInterruption;  // no SA_RESTART: flock returns EINTR
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  g_interruptions = 0;
  std::atomic<bool> done{false};
  bool locked = false;
  cask::FileLock lock(file.getFd());
  std::thread waiter([&] {
    locked = lock.lock(cask::SharedLockType);
    done = true;
  });
  // Each signal is sent once the previous one was handled, most of them
  // while the waiter sits in flock.
  for (int sent = 0; sent < 50 && !done; ++sent) {
    pthread_kill(waiter.native_handle(), SIGUSR1);
    while (g_interruptions.load() <= sent && !done) std::this_thread::yield();
  }
  EXPECT_FALSE(done.load());
  flock(holder, LOCK_UN);
  waiter.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(locked);
  EXPECT_FALSE(othersCan(path, LOCK_EX));
  lock.unlock(cask::SharedLockType);
  close(holder);
}

std::vector<std::pair<cask::CaskLogLevel, std::string>> g_lines;
void keepLine(cask::CaskLogLevel level, const char*, int, const char*, const std::string& message) {
  g_lines.emplace_back(level, message);
}

TEST_F(MemoryFileTest, ReadingAMissingFileWarnsOnceAndGivesNothing) {
  g_lines.clear();
  cask::Cask::setLogLevel(cask::CaskLogInfo);
  cask::Cask::registerLogHandler(&keepLine);
  const std::string path = dir_ + "/missing";
  EXPECT_TRUE(cask::readWholeFile(path).empty());
  cask::Cask::registerLogHandler(nullptr);
  const std::vector<std::pair<cask::CaskLogLevel, std::string>> expected{
      {cask::CaskLogWarning, "fail to open " + path + ": No such file or directory"}};
  EXPECT_EQ(g_lines, expected);
}

TEST_F(MemoryFileTest, MkPathFailsThroughARegularFile) {
  ASSERT_TRUE(cask::mkPath(dir_ + "/a/b/c"));
  cask::File blocker(dir_ + "/file", cask::ReadWrite | cask::Create);
  EXPECT_FALSE(cask::mkPath(dir_ + "/file/sub"));
}

TEST_F(MemoryFileTest, CopyFileReplacesTheTargetWhole) {
  const std::string src = dir_ + "/src";
  const std::string dst = dir_ + "/dst";
  {
    cask::File f(src, cask::ReadWrite | cask::Create);
    ASSERT_EQ(write(f.getFd(), "hello world", 11), 11);
    cask::File g(dst, cask::ReadWrite | cask::Create);
    ASSERT_EQ(write(g.getFd(), "old content that is longer", 26), 26);
  }
  ASSERT_TRUE(cask::copyFile(src, dst));
  const auto bytes = cask::readWholeFile(dst);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "hello world");
  EXPECT_FALSE(cask::tryAtomicRename(dir_ + "/missing", dst));
  ASSERT_TRUE(cask::copyFileContent(src, dir_ + "/content"));
  EXPECT_EQ(cask::readWholeFile(dir_ + "/content").size(), 11u);
  int files = 0;
  cask::walkInDir(dir_, cask::WalkFile, [&](const std::string&, cask::WalkType) { ++files; });
  EXPECT_EQ(files, 3);  // no temporary left behind
}

}  // namespace
