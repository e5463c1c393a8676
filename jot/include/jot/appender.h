#pragma once
// The log writer proper. `appender_open` installs one process-wide writer
// that receives every record of `jotter_Write`: in async mode (the default)
// records are compressed, and enciphered when a server key is set, into a
// memory-mapped block cache that a flush thread writes out; in sync mode each
// record is written at once as a plain block. Block and cache formats:
// docs/log_format.md. All functions may be called from any thread and never
// throw.
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
  Woken,    // the thread is about to take the block (also when there is none)
  Sealed,   // the block is finished in the cache, not yet in the file
  Written,  // the block is in the file, the cache not yet cleared
};
// Test hook, called on the flush thread at each step of every flush (null:
// none). Lets a test stop the thread there, for instance to kill the process.
void SetFlushStepHookForTesting(void (*hook)(FlushStep step));
// How long a writer waits for room in a full cache before its record is
// replaced by the cache-full notice (default 5,000 ms). For tests.
void SetDrainWaitForTesting(int64_t ms);

class JotterAppender {
 public:
  static constexpr size_t kBufferBlockLength = vela::jot::kBufferBlockLength;
  static constexpr size_t kRefuseLength = kBufferBlockLength * 4 / 5;
  static constexpr size_t kWakeLength = kBufferBlockLength / 3;
  static constexpr int64_t kAsyncWaitMs = 15 * 60 * 1000;
  static constexpr int64_t kDelTimeoutDelayMs = 2 * 60 * 1000;
  static constexpr int64_t kMoveOldFilesDelayMs = 3 * 60 * 1000;
  static constexpr int kMaxNesting = 10;

  explicit JotterAppender(JotClock clock = JotClock::System());
  ~JotterAppender();
  JotterAppender(const JotterAppender&) = delete;
  JotterAppender& operator=(const JotterAppender&) = delete;

  // Call once. Prepares directories, maps the cache (heap memory when the
  // file is locked by another process or cannot be mapped), writes out a
  // block left in the cache by an earlier run, then the begin marker.
  void Open(const JotConfig& config);
  // Writes one record; dropped when closed. Keeps the caller's errno.
  void Write(const JotterInfo_t* info, const char* log);
  // A plain notice block written to the log file at once.
  void WriteTips2File(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Writes the end marker and everything still cached, then releases the
  // cache. Later calls do nothing.
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
  void WriteSync(const JotterInfo_t* info, const char* log);
  void WriteAsync(const JotterInfo_t* info, const char* log);
  void AsyncLogThread();
  // Seals the open block and copies it to `block`; false without a cache.
  bool SealCache(vela::comm::AutoBuffer& block);
  // Clears a sealed block and wakes the writers waiting for room.
  void ClearSealedCache();
  // Writes the cached block to the file, and only then clears the cache, so
  // a kill at any point leaves the block in the file, the cache, or both.
  void FlushCacheToFile();
  // Writes a block an earlier run left in the cache, unless that run got it
  // into the file before it died; then clears the cache.
  void RecoverCache();
  // Turns the filesystem errors met since the last call into fatal records,
  // each distinct one once. Requires: no lock of this writer held.
  void ReportFileErrors();
  // Runs the maintenance jobs that have not run yet (at close).
  void RunPendingMaintenance();
  void WriteTips2Console(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void MakeSyncBlock(const char* text, size_t len, vela::comm::AutoBuffer& out) const;
  // Requires: bufferMutex_ held.
  void NoteBlockState();
  void NotifyDrained();
  [[nodiscard]] static std::string MakeMark();

  JotConfig config_;
  const JotClock clock_;
  std::unique_ptr<LogFiles> files_;
  std::unique_ptr<LogBaseBuffer> buffer_;  // Guarded by bufferMutex_.
  vela::comm::MmapCache mmap_;             // Guarded by bufferMutex_ after Open.
  std::unique_ptr<char[]> heap_;           // Guarded by bufferMutex_ after Open.
  std::unique_ptr<vela::comm::Thread> asyncThread_;
  struct Maintenance {
    std::unique_ptr<vela::comm::Thread> thread;
    std::function<void()> job;  // runs once, on its thread or at close
  };
  std::vector<Maintenance> maintenance_;
  std::vector<std::string> reportedErrors_;  // Guarded by stateMutex_.
  vela::comm::Mutex bufferMutex_;
  vela::comm::Mutex stateMutex_;
  vela::comm::Condition cond_;     // wakes the flush thread
  bool wake_ = false;              // Guarded by cond_.mutex().
  vela::comm::Condition drained_;  // wakes writers waiting for room
  std::atomic<bool> blocked_{false};
  std::atomic<bool> console_{false};
  std::atomic<bool> closed_{true};
  std::atomic<bool> syncReady_{false};
  std::atomic<uint64_t> maxFileSize_{0};
  char syncMagic_ = 0;
  bool hasKey_ = false;
  EcPublicKey clientKey_{};
};

}  // namespace vela::jot
