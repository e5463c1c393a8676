#pragma once
// Where finished blocks go: one file per local day and name prefix
// ("<dir>/<prefix>_20250105.jot", then "_1", "_2"... when a maximum size is
// set), in the log directory or, under conditions, in the cache directory,
// from which older files are later moved. Files older than the maximum age
// are deleted. Thread-safe: writing runs under the file lock, the directory
// scans also under the process-wide directory lock (taken first).
#include <sys/time.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

#include "jot/auto_buffer.h"
#include "jot/comm_sync.h"
#include "jot/jot_config.h"

namespace vela::jot {

// Process-wide lock of directory creation and the maintenance scans. Taken
// before any LogFiles::fileMutex().
[[nodiscard]] vela::comm::Mutex& LogDirectoryMutex();

class LogFiles {
 public:
  // Builds a plain sync block of a notice line (header, text, tail) in `out`.
  using SyncBlockMaker = std::function<void(const char* text, size_t len, vela::comm::AutoBuffer& out)>;
  // Shows a notice on the console.
  using ConsoleSink = std::function<void(const std::string& text)>;

  LogFiles(JotConfig config, JotClock clock, SyncBlockMaker makeSyncBlock, ConsoleSink console);
  ~LogFiles();
  LogFiles(const LogFiles&) = delete;
  LogFiles& operator=(const LogFiles&) = delete;

  void SetMaxFileSize(uint64_t size);
  void SetMaxAliveTime(int64_t seconds);

  // Writes one finished block. `move` lets a block written to the cache
  // directory pull the cached day file over to the log directory. Returns 0
  // when the block is in a file (or there is nowhere to write: no log
  // directory), else why it is not: the errno of the failed open or write
  // (ESPIPE: the file cannot seek, so a partial write could not be undone).
  int Log2File(const void* data, size_t len, bool move);
  // Deletes "*.jot" files and 8-digit directories older than the maximum age.
  void DelTimeoutFile(const std::string& dir);
  // Appends cached "<prefix>*jot" files older than the cache days to the
  // same names in `dest` and deletes them; stops at the first failure.
  void MoveOldFiles(const std::string& src, const std::string& dest, const std::string& prefix);
  // Closes the open file (at close of the writer).
  void CloseFile();
  // True when `block` (a whole block as the writer wrote it) is already in
  // one of the newest log files of the log or cache directory. The end-hour
  // byte is not compared: a block taken over from the cache gets a new one.
  // The files are walked block by block from their start; a file whose walk
  // ends in a piece shorter than `block` that is its beginning ends with a
  // write a kill cut short: that torn copy is cut off, and the result is
  // false, so the block is then written whole.
  [[nodiscard]] bool ContainsBlock(const void* block, size_t len);
  // The filesystem errors met since the last call (at most kMaxErrors),
  // oldest first. Collected rather than logged on the spot: the locks held
  // here must not be taken again by the record that reports them.
  [[nodiscard]] std::vector<boost::filesystem::filesystem_error> TakeErrors();
  static constexpr size_t kMaxErrors = 16;

  // "<dir>/<prefix>_YYYYMMDD[_index].<ext>" for the local day of `tv`.
  [[nodiscard]] std::string MakeLogFileName(const struct timeval& tv, const std::string& dir,
                                            const std::string& prefix, const std::string& ext);
  [[nodiscard]] static std::string MakeLogFileNamePrefix(const struct timeval& tv,
                                                         const std::string& prefix);
  // Appends `src` to `dst`; on failure `dst` is cut back and `src` kept.
  [[nodiscard]] static bool AppendFile(const std::string& src, const std::string& dst);
  [[nodiscard]] static bool string_compare_greater(const std::string& a, const std::string& b);

  // The mutex that guards the open file and every file write.
  [[nodiscard]] vela::comm::Mutex& fileMutex() { return fileMutex_; }

 private:
  // Requires: fileMutex_ held.
  // True when the block is in a file; lastError_ says why not.
  bool Log2FileLocked(const void* data, size_t len, bool move);
  bool OpenLogFile(const std::string& dir);
  bool WriteFile(const void* data, size_t len, int fd);
  bool CacheLogs();
  long GetNextFileIndex(const std::string& filePrefix, const std::string& ext);
  void GetFileNamesByPrefix(const std::string& dir, const std::string& filePrefix,
                            const std::string& ext, std::vector<std::string>& names);
  void CloseFileLocked();
  // Notes a failed filesystem call for TakeErrors().
  void NoteError(const char* what, const boost::filesystem::path& path,
                 const boost::system::error_code& ec);

  const JotConfig config_;
  const JotClock clock_;
  const SyncBlockMaker makeSyncBlock_;
  const ConsoleSink console_;
  vela::comm::Mutex fileMutex_;
  uint64_t maxFileSize_ = 0;       // Guarded by fileMutex_.
  int64_t maxAliveTime_ = 864000;  // Guarded by fileMutex_.
  int logFd_ = -1;                 // opened O_APPEND; Guarded by fileMutex_.
  std::string openDir_;            // the folder of logFd_; Guarded by fileMutex_.
  time_t openFileTime_ = 0;        // Guarded by fileMutex_.
  time_t lastTime_ = 0;            // Guarded by fileMutex_.
  uint64_t lastTick_ = 0;          // Guarded by fileMutex_.
  std::string lastFilePath_;       // Guarded by fileMutex_.
  int lastError_ = 0;              // why the last open or write failed; Guarded by fileMutex_.
  // The write error last noted in a file, until a write succeeds: a block
  // tried again and again notes its failure once. Guarded by fileMutex_.
  int notedWriteError_ = 0;
  vela::comm::Mutex errorMutex_;
  std::vector<boost::filesystem::filesystem_error> errors_;  // Guarded by errorMutex_.
};

}  // namespace vela::jot
