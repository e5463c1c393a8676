#pragma once
// The log writer proper. `appender_open` installs one process-wide writer
// that receives every record of `jotter_Write`: in async mode (the default)
// records are compressed, and enciphered when a server key is set, into a
// memory-mapped block cache that a flush thread writes out; in sync mode each
// record is written at once as a plain block. Block and cache formats:
// docs/log_format.md. All functions may be called from any thread and never
// throw.
//
// In async mode a caller only formats and compresses under a short lock and
// never waits for the files: while the flush thread writes a block, records
// go into a new block in the other half of the cache. A flush round writes
// the blocks already sealed, oldest first, and seals the open block only
// when nothing older waits; a block is otherwise sealed when it is full.
// A block the files refuse (a full disk, a log file that cannot seek) stays
// in the cache and is tried again every second; when newer records need its
// half it is given up. Records given up, or that find no room, are counted
// in the cache file, and the count is written as a notice as soon as a
// write succeeds, or by the next start after a kill. The flush thread wakes
// at a third of the cache, on a fatal record, on appender_flush() and every
// 15 minutes; a wake-up that comes while it is busy is not remembered, but
// it never sleeps on a block sealed for want of room.
//
// In sync mode a record the file refuses is counted (in memory: sync mode
// keeps nothing in the cache), and the count goes into the log as a notice
// before the next record the file takes.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jot/comm_sync.h"
#include "jot/comm_thread.h"
#include "jot/jot_config.h"
#include "jot/jotter.h"
#include "jot/log_crypt.h"
#include "jot/log_files.h"
#include "jot/log_format.h"
#include "jot/mmap_file.h"

namespace vela::jot {

class LogBaseBuffer;

// Opens and installs the default writer; a second call only writes the
// notice "appender has already been opened. ..." to the current log.
void appender_open(const JotConfig& config);
// Closes the default writer (every record accepted so far is written) and
// forgets it. Records after it are dropped.
void appender_close();
// Wakes the flush thread, which writes the current block out.
void appender_flush();
void appender_set_console_log(bool isOpen);
void appender_set_max_file_size(uint64_t maxByteSize);
// The function installed into the record layer.
void jotter_appender(const JotterInfo_t* info, const char* log);

// Where the flush thread stands when a test hook is called.
enum class FlushStep {
  Woken,    // the thread is about to take the blocks (also when there are none)
  Sealed,   // a block is finished in the cache, not yet in the file
  Written,  // that block is in the file, the cache not yet cleared
  Flushed,  // what was sealed is written; next the thread decides to sleep
  Idle,     // about to sleep; called under the thread's wait lock, so a hook
            // must not block here
  Failed,   // a write failed; the thread waits to try again
};
// Test hook, called on the flush thread at each step of every flush (null:
// none). Lets a test stop the thread there, for instance to kill the process.
void SetFlushStepHookForTesting(void (*hook)(FlushStep step));

class JotterAppender {
 public:
  static constexpr size_t kBufferBlockLength = vela::jot::kBufferBlockLength;
  static constexpr size_t kWakeLength = kBufferBlockLength / 3;
  static constexpr int64_t kAsyncWaitMs = 15 * 60 * 1000;
  // After a failed write, the flush thread tries again this much later (or
  // at appender_flush(), or at close).
  static constexpr int64_t kRetryMs = 1000;
  static constexpr int64_t kDelTimeoutDelayMs = 2 * 60 * 1000;
  static constexpr int64_t kMoveOldFilesDelayMs = 3 * 60 * 1000;
  static constexpr int kMaxNesting = 10;

  explicit JotterAppender(JotClock clock = JotClock::System());
  ~JotterAppender();
  JotterAppender(const JotterAppender&) = delete;
  JotterAppender& operator=(const JotterAppender&) = delete;

  // Call once. Prepares directories, maps the cache (heap memory when the
  // file is locked by another process or cannot be mapped), writes out the
  // blocks an earlier run left in the cache, then the begin marker.
  void Open(const JotConfig& config);
  // Writes one record; dropped when closed. Keeps the caller's errno.
  void Write(const JotterInfo_t* info, const char* log);
  // A plain notice block written to the log file at once.
  void WriteTips2File(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Runs the maintenance still pending, writes the end marker and everything
  // still cached, then zeroes and releases the cache. Blocks the files still
  // refuse (and the count of dropped records) stay in a mapped cache for the
  // next start. Later calls do nothing.
  void Close();
  // Wakes the flush thread.
  void Flush();
  void SetConsoleLog(bool isOpen) { console_ = isOpen; }
  void SetMaxFileSize(uint64_t size);
  [[nodiscard]] bool IsClosed() const { return closed_.load(); }
  // The report kept for a record that arrived while its thread was already
  // inside Write (depth `depth`): the recursion line, the record's text, and
  // a line break, at most one notice long. Written before the thread's next
  // record.
  [[nodiscard]] static std::string NestedReport(const JotterInfo_t* info, const char* log,
                                                int depth);
  // True when the block cache is a mapped file (not heap memory).
  [[nodiscard]] bool IsCacheMapped() const { return mmap_.isOpen(); }

 private:
  // Write's work. `own`: the writer's own record (a file error, the end
  // marker), taken also while it closes.
  void Store(const JotterInfo_t* info, const char* log, bool own);
  void WriteSync(const JotterInfo_t* info, const char* log);
  // Sync mode: writes the count of refused records as a notice; 0, or the
  // errno of a refusal (the count stays).
  int WriteSyncRefusedNotice();
  void WriteAsync(const JotterInfo_t* info, const char* log, bool own);
  enum class WakeReason { None, Threshold, MustWake };
  // Stores one formatted line in the cache; says whether and how to wake
  // the flush thread. Requires: bufferMutex_ held.
  WakeReason StoreLocked(const char* line, size_t len, bool fatal);
  // Wakes the flush thread. `sure`: also when it is just deciding to sleep
  // (it takes the thread's wait lock; the frequent threshold wake-ups do
  // not, and may be missed).
  void Wake(bool sure);
  void AsyncLogThread();
  enum class FlushResult { Done, Failed, NoCache };
  // Writes the sealed blocks to the file one by one, oldest first, each
  // cleared from the cache only after its write, so a kill at any point
  // leaves a block in the file, the cache, or both; then the count of
  // dropped records. Seals the open block first, but only when no sealed
  // block waits. Stops at the first write that fails, keeping that block.
  FlushResult FlushCacheToFile();
  // Says once, on the console and in the log, that the cache file was
  // removed or replaced under the writer. Flush thread, or Close() after it.
  void NoteCacheReplaced();
  // Writes "[F][ <cause>, <dropped> records dropped" as a notice block; 0,
  // or the errno of the refusal.
  int WriteCountNotice(const char* cause, uint32_t dropped);
  // Writes the count of dropped records as a notice; false when the files
  // refused it (the count stays).
  bool WriteDroppedNotice();
  // Writes the blocks an earlier run left in the cache, unless that run got
  // them into the file before it died, and the count of records it dropped;
  // clears each after. Stops at a write that fails: the flush thread goes on.
  void RecoverCache();
  // A write failed with `error` (an errno): said on the console once for as
  // long as the files keep refusing for that reason.
  void NoteWriteFailure(int error);
  void NoteWriteSuccess();
  // The file layer's console notices, each once until a write succeeds: a
  // block tried again every second must not repeat them.
  void FileNoticeOnce(const std::string& text);
  // Turns the filesystem errors met since the last call into fatal records
  // in this writer, each distinct one once. Requires: no lock of this writer
  // held.
  void ReportFileErrors();
  // Runs the maintenance jobs that have not run yet (at close).
  void RunPendingMaintenance();
  void WriteTips2Console(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void MakeSyncBlock(const char* text, size_t len, vela::comm::AutoBuffer& out) const;
  [[nodiscard]] static std::string MakeMark();

  // The buffer lock as the flush thread takes it: ahead of writers.
  class FlushLock : public vela::comm::ScopedLock {
   public:
    explicit FlushLock(JotterAppender& appender)
        : vela::comm::ScopedLock(appender.bufferMutex_, false), waiting_(appender.flushWaiting_) {
      ++waiting_;
      lock();
      --waiting_;
    }

   private:
    std::atomic<int>& waiting_;
  };

  JotConfig config_;
  const JotClock clock_;
  std::unique_ptr<LogFiles> files_;
  std::unique_ptr<LogBaseBuffer> buffer_;  // Guarded by bufferMutex_.
  vela::comm::MmapCache mmap_;             // Guarded by bufferMutex_ after Open.
  bool cacheReplaced_ = false;             // said; flush thread, then Close().
  std::unique_ptr<uint64_t[]> heap_;       // Guarded by bufferMutex_ after Open.
  std::unique_ptr<vela::comm::Thread> asyncThread_;
  struct Maintenance {
    std::unique_ptr<vela::comm::Thread> thread;
    std::function<void()> job;  // runs once, on its thread or at close
  };
  std::vector<Maintenance> maintenance_;
  std::vector<std::string> reportedErrors_;  // Guarded by stateMutex_.
  bool closing_ = false;                     // Guarded by stateMutex_.
  vela::comm::Mutex bufferMutex_;
  vela::comm::Mutex stateMutex_;
  vela::comm::Mutex noticeMutex_;
  int writeFailure_ = 0;  // errno of the failure said last; Guarded by noticeMutex_.
  std::vector<std::string> fileNotices_;  // said since the last write; Guarded by noticeMutex_.
  vela::comm::Condition cond_;  // wakes the flush thread
  // A block sealed for want of room waits in the cache. Set under
  // bufferMutex_, read by the flush thread under cond_.mutex().
  std::atomic<bool> sealedWaiting_{false};
  std::atomic<int> flushWaiting_{0};  // the flush thread waits for bufferMutex_
  std::atomic<bool> flushAsked_{false};  // appender_flush(): try a refused block now
  std::atomic<bool> console_{false};
  // Set under cond_.mutex() (by Close), so the flush thread never sleeps
  // through it; writers check it again under bufferMutex_.
  std::atomic<bool> closed_{true};
  std::atomic<bool> syncReady_{false};
  std::atomic<uint64_t> maxFileSize_{0};
  std::atomic<uint32_t> syncRefused_{0};  // sync records the file refused, not yet noted
  std::atomic<bool> syncCountSaid_{false};  // that a crash loses that count, said once
  char syncMagic_ = 0;
  bool hasKey_ = false;
  EcPublicKey clientKey_{};
};

}  // namespace vela::jot
