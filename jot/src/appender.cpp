#include "jot/appender.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>
#include <thread>

#include <boost/filesystem.hpp>

#include "jot/log_buffer.h"
#include "jot/reachability.h"

namespace vela::jot {
namespace {

constexpr size_t kLineBufferSize = 16 * 1024;
constexpr size_t kTipsBufferSize = 4 * 1024;

thread_local int tDepth = 0;
thread_local std::string tPending;

std::atomic<JotterAppender*> gDefault{nullptr};
std::atomic<void (*)(FlushStep)> gFlushStepHook{nullptr};

void flushStep(FlushStep step) {
  if (auto* hook = gFlushStepHook.load(std::memory_order_acquire)) hook(step);
}
std::atomic<bool> gConsole{false};
std::atomic<uint64_t> gMaxFileSize{0};

vela::comm::Mutex& closeMutex() {
  static auto* mutex = new vela::comm::Mutex();
  return *mutex;
}

// Closed writers are kept for the life of the process: a thread that took
// the pointer just before the close may still be inside Write.
void retire(JotterAppender* appender) {
  static auto* graveyard = new std::vector<JotterAppender*>();
  graveyard->push_back(appender);
}

// Closes the default writer, then forgets it: records that come while
// Close() runs the pending maintenance are still written.
void closeDefault() {
  vela::comm::ScopedLock lock(closeMutex());
  if (!lock.islocked()) return;
  JotterAppender* appender = gDefault.load(std::memory_order_acquire);
  if (!appender) return;
  appender->Close();
  gDefault.store(nullptr, std::memory_order_release);
  retire(appender);
}

void exitHandler() { closeDefault(); }

bool createDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  boost::system::error_code ec;
  boost::filesystem::create_directories(dir, ec);
  return !ec;
}

// A cache file found shorter than its blocks was cut: the zeros it was
// extended with are no body. Clears the first byte of each block that runs
// past `found` bytes, so that none is taken; returns how many.
size_t ForgetCutBlocks(char* memory, size_t found) {
  if (found >= kBufferBlockLength) return 0;
  auto* bytes = reinterpret_cast<uint8_t*>(memory);
  size_t cut = 0;
  for (const CacheBlock& block : LocateCacheBlocks(bytes, kBufferBlockLength)) {
    if (block.offset + kBlockHeaderLen + block.bodyLength <= found) continue;
    bytes[block.offset] = 0;
    ++cut;
  }
  return cut;
}

}  // namespace

JotterAppender::JotterAppender(JotClock clock) : clock_(std::move(clock)) {}

JotterAppender::~JotterAppender() {
  Close();
  // A writer that never opened fully still scheduled its maintenance: those
  // threads must not outlive the object they work on.
  for (auto& maintenance : maintenance_) {
    if (!maintenance.thread) continue;
    maintenance.thread->cancel_after();
    (void)maintenance.thread->join();
  }
}

void JotterAppender::SetMaxFileSize(uint64_t size) {
  maxFileSize_ = size;
  vela::comm::ScopedLock lock(stateMutex_);
  if (lock.islocked() && files_) files_->SetMaxFileSize(size);
}

std::string JotterAppender::MakeMark() {
  const time_t now = std::time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  char date[64];
  std::strftime(date, sizeof date, "%Y-%m-%d %z %H:%M:%S", &tm);
  char mark[256];
  std::snprintf(mark, sizeof mark, "[%jd,%jd][%s]", jotter_pid(), jotter_tid(), date);
  return mark;
}

void JotterAppender::MakeSyncBlock(const char* text, size_t len,
                                   vela::comm::AutoBuffer& out) const {
  LogCrypt::BuildSyncBlock(syncMagic_, hasKey_ ? &clientKey_ : nullptr, text, len, out);
}

void JotterAppender::Open(const JotConfig& config) {
  {
    vela::comm::ScopedLock lock(stateMutex_);
    if (!lock.islocked() || files_) return;  // opened once
    config_ = config;
    files_ = std::make_unique<LogFiles>(
        config_, clock_,
        [this](const char* text, size_t len, vela::comm::AutoBuffer& out) {
          MakeSyncBlock(text, len, out);
        },
        [this](const std::string& text) { FileNoticeOnce(text); });
    files_->SetMaxFileSize(maxFileSize_);
  }

  // Each job runs once: on its thread when the delay passes, or at Close()
  // when the writer closes first, so expiry and moves are never skipped.
  auto schedule = [this](std::function<void()> work, int64_t delayMs) {
    auto claimed = std::make_shared<std::atomic<bool>>(false);
    std::function<void()> job = [this, claimed, work = std::move(work)] {
      if (claimed->exchange(true)) return;
      work();
      ReportFileErrors();
    };
    auto thread = std::make_unique<vela::comm::Thread>(job, "jot-maint");
    if (thread->start_after(delayMs) != 0) thread.reset();
    maintenance_.push_back({std::move(thread), std::move(job)});
  };
  {
    vela::comm::ScopedLock dirLock(LogDirectoryMutex());
    if (!config_.cachedir_.empty()) {
      createDirectories(config_.cachedir_);
      const std::string cacheDir = config_.cachedir_;
      schedule([this, cacheDir] { files_->DelTimeoutFile(cacheDir); }, kDelTimeoutDelayMs);
      schedule([this] { files_->MoveOldFiles(config_.cachedir_, config_.logdir_, config_.nameprefix_); },
               kMoveOldFilesDelayMs);
      (void)vela::comm::setAttrProtectionNone(config_.cachedir_.c_str());
    }
    if (!config_.logdir_.empty()) {
      const std::string logDir = config_.logdir_;
      schedule([this, logDir] { files_->DelTimeoutFile(logDir); }, kDelTimeoutDelayMs);
      createDirectories(config_.logdir_);
      (void)vela::comm::setAttrProtectionNone(config_.logdir_.c_str());
    }
  }

  // With no log directory nothing is written; the cache then lives on the
  // heap rather than in a file next to the filesystem root.
  const std::string& cacheDir = config_.cachedir_.empty() ? config_.logdir_ : config_.cachedir_;
  char* memory = nullptr;
  std::string notMapped;  // why a cache file that should be mapped is not
  size_t cutBlocks = 0;
  if (!cacheDir.empty()) {
    char path[512];
    std::snprintf(path, sizeof path, "%s/%s.mmap3", cacheDir.c_str(), config_.nameprefix_.c_str());
    if (mmap_.open(path, kCacheFileLength)) {
      memory = mmap_.data();
      cutBlocks = ForgetCutBlocks(memory, mmap_.foundSize());
    } else {
      notMapped = std::string("log cache ") + path + " not used (" + mmap_.error() +
                  "): records wait in memory, a crash loses them";
    }
  }
  if (!memory) {
    // Words: the counters after the blocks are 8-byte aligned.
    heap_.reset(new (std::nothrow) uint64_t[kCacheFileLength / sizeof(uint64_t)]());
    memory = reinterpret_cast<char*>(heap_.get());
  }
  if (!memory) return;  // stays closed

  {
    vela::comm::ScopedLock lock(bufferMutex_);
    char* counters = memory + kBufferBlockLength;
    if (config_.compressmode_ == kZstd) {
      buffer_ = std::make_unique<LogZstdBuffer>(memory, kBufferBlockLength, true,
                                                config_.pub_key_.c_str(), config_.compresslevel_,
                                                counters);
    } else {
      buffer_ = std::make_unique<LogZlibBuffer>(memory, kBufferBlockLength, true,
                                                config_.pub_key_.c_str(), counters);
    }
    syncMagic_ = buffer_->SyncMagic();
    hasKey_ = buffer_->IsCrypt();
    clientKey_ = buffer_->Crypt().publicKey();
  }
  syncReady_ = true;
  // Before the flush thread starts, which would write the block as its own.
  RecoverCache();

  {
    vela::comm::ScopedLock lock(stateMutex_);
    closed_ = false;
    if (config_.mode_ != kAppenderSync) {
      asyncThread_ = std::make_unique<vela::comm::Thread>([this] { AsyncLogThread(); }, "jot-flush");
      asyncThread_->start();
    }
  }

  const std::string begin = "===== begin =====" + MakeMark();
  Write(nullptr, begin.c_str());
  if (cutBlocks > 0) {
    const std::string cut = "log cache " + mmap_.path() + " was cut short (" +
                            std::to_string(mmap_.foundSize()) +
                            " bytes): " + std::to_string(cutBlocks) + " cut block(s) not written";
    WriteTips2Console("%s", cut.c_str());
    Write(nullptr, ("[F][ " + cut).c_str());
  }
  if (!notMapped.empty()) {
    // Crash safety is off: say so once, here and in the log.
    WriteTips2Console("%s", notMapped.c_str());
    Write(nullptr, ("[F][ " + notMapped).c_str());
  }
  ReportFileErrors();
}

void JotterAppender::RecoverCache() {
  bool framed = false;
  auto frame = [&] {
    if (!framed) WriteTips2File("~~~~~ begin of mmap ~~~~~\n");
    framed = true;
  };
  bool failed = false;
  for (;;) {
    std::span<const uint8_t> block;
    {
      vela::comm::ScopedLock lock(bufferMutex_);
      if (!lock.islocked() || !buffer_) return;
      block = buffer_->TakeOldestSealed();
    }
    if (block.empty()) break;
    // A run killed after writing a block but before clearing it left the
    // block in both places: write it once.
    int error = 0;
    if (!files_->ContainsBlock(block.data(), block.size())) {
      frame();
      error = files_->Log2File(block.data(), block.size(), false);
    }
    vela::comm::ScopedLock lock(bufferMutex_);
    if (!lock.islocked() || !buffer_) return;
    if (error != 0) {
      buffer_->KeepOldestSealed();  // the flush thread tries again
      NoteWriteFailure(error);
      failed = true;
      break;
    }
    buffer_->DropOldestSealed();
  }
  bool counted = false;
  bool damaged = false;
  {
    vela::comm::ScopedLock lock(bufferMutex_);
    counted = lock.islocked() && buffer_ && buffer_->Dropped() > 0;
    damaged = lock.islocked() && buffer_ && buffer_->DropCountWasDamaged();
  }
  if (damaged) {
    // Records may have been lost uncounted: never a silent 0.
    static constexpr char kDamaged[] = "log cache: the count of dropped records was damaged";
    WriteTips2Console("%s", kDamaged);
    frame();
    WriteTips2File("[F][ %s\n", kDamaged);
  }
  if (counted && !failed) {
    frame();
    (void)WriteDroppedNotice();
  }
  if (framed) WriteTips2File("~~~~~ end of mmap ~~~~~%s\n", MakeMark().c_str());
}

void JotterAppender::NoteCacheReplaced() {
  if (cacheReplaced_ || !mmap_.isOpen() || !mmap_.replaced()) return;
  cacheReplaced_ = true;
  const std::string text = "log cache " + mmap_.path() +
                           " was removed or replaced: records wait in memory, a crash loses them";
  WriteTips2Console("%s", text.c_str());
  WriteTips2File("[F][ %s\n", text.c_str());
}

JotterAppender::FlushResult JotterAppender::FlushCacheToFile() {
  NoteCacheReplaced();
  for (bool first = true;; first = false) {
    std::span<const uint8_t> block;
    {
      FlushLock lock(*this);
      if (!lock.islocked() || !buffer_) return FlushResult::NoCache;
      // The block still filling is sealed only when no older one waits:
      // sealed beside it, it would leave the writers no half to go on in.
      if (first && buffer_->SealedCount() == 0) buffer_->Seal();
      block = buffer_->TakeOldestSealed();
    }
    if (block.empty()) break;
    // Straight from the cache: writers leave a block being written alone.
    flushStep(FlushStep::Sealed);
    const int error = files_->Log2File(block.data(), block.size(), true);
    flushStep(FlushStep::Written);
    {
      FlushLock lock(*this);
      if (!lock.islocked() || !buffer_) return FlushResult::NoCache;
      // Nobody else drops a block being written, so the oldest is this one.
      if (error == 0) {
        buffer_->DropOldestSealed();
      } else {
        buffer_->KeepOldestSealed();
      }
      sealedWaiting_ = buffer_->SealedCount() > 0;
    }
    if (error != 0) {
      NoteWriteFailure(error);
      return FlushResult::Failed;
    }
    NoteWriteSuccess();
  }
  return WriteDroppedNotice() ? FlushResult::Done : FlushResult::Failed;
}

int JotterAppender::WriteCountNotice(const char* cause, uint32_t dropped) {
  char notice[128];
  const int n =
      std::snprintf(notice, sizeof notice, "[F][ %s, %u records dropped\n", cause, dropped);
  vela::comm::AutoBuffer block;
  MakeSyncBlock(notice, static_cast<size_t>(n), block);
  return files_->Log2File(block.Ptr(), block.Length(), false);
}

bool JotterAppender::WriteDroppedNotice() {
  uint32_t dropped = 0;
  {
    FlushLock lock(*this);
    if (!lock.islocked() || !buffer_) return true;
    dropped = buffer_->Dropped();
  }
  if (dropped == 0) return true;
  const int error = WriteCountNotice("log cache full", dropped);
  if (error != 0) {
    NoteWriteFailure(error);
    return false;
  }
  NoteWriteSuccess();
  // Only what this notice says: more may have been dropped meanwhile.
  FlushLock lock(*this);
  if (lock.islocked() && buffer_) buffer_->ForgetDropped(dropped);
  return true;
}

void JotterAppender::NoteWriteFailure(int error) {
  {
    vela::comm::ScopedLock lock(noticeMutex_);
    if (!lock.islocked() || error == writeFailure_) return;
    writeFailure_ = error;
  }
  WriteTips2Console("log file refused a block (%s%s): %s",
                    error == ESPIPE ? "not a regular file: " : "", std::strerror(error),
                    config_.mode_ == kAppenderSync ? "its record is dropped and counted"
                                                   : "it stays in the cache and is tried again");
}

void JotterAppender::NoteWriteSuccess() {
  vela::comm::ScopedLock lock(noticeMutex_);
  if (!lock.islocked()) return;
  writeFailure_ = 0;
  fileNotices_.clear();
}

void JotterAppender::FileNoticeOnce(const std::string& text) {
  {
    vela::comm::ScopedLock lock(noticeMutex_);
    if (!lock.islocked() ||
        std::find(fileNotices_.begin(), fileNotices_.end(), text) != fileNotices_.end()) {
      return;
    }
    if (fileNotices_.size() >= 16) fileNotices_.erase(fileNotices_.begin());
    fileNotices_.push_back(text);
  }
  WriteTips2Console("%s", text.c_str());
}

void JotterAppender::ReportFileErrors() {
  if (!files_) return;
  for (const auto& error : files_->TakeErrors()) {
    const std::string what = error.what();
    {
      vela::comm::ScopedLock lock(stateMutex_);
      if (!lock.islocked()) return;
      if (std::find(reportedErrors_.begin(), reportedErrors_.end(), what) != reportedErrors_.end()) {
        continue;
      }
      if (reportedErrors_.size() >= 64) reportedErrors_.erase(reportedErrors_.begin());
      reportedErrors_.push_back(what);
    }
    if (!jotter_IsEnabledFor(kLevelFatal)) continue;
    // Into this writer's own cache, closed or not: an error marked as
    // reported must never be dropped on the way.
    const JotterInfo_t info = jotter_BoostErrorInfo();
    Store(&info, ("boost exception:" + what).c_str(), true);
  }
}

void JotterAppender::RunPendingMaintenance() {
  for (auto& maintenance : maintenance_) {
    if (maintenance.thread) {
      maintenance.thread->cancel_after();
      (void)maintenance.thread->join();
    }
    maintenance.job();  // does nothing when its thread ran it
  }
  maintenance_.clear();
}

void JotterAppender::Write(const JotterInfo_t* info, const char* log) {
  if (closed_.load(std::memory_order_acquire)) return;
  Store(info, log, false);
}

void JotterAppender::Store(const JotterInfo_t* info, const char* log, bool own) {
  const int savedErrno = errno;
  ++tDepth;
  if (console_) ConsoleLog(info, log);

  if (tDepth >= 2) {
    // Called from inside our own call chain (a lock's report, the console):
    // never touch the buffer again, keep one report for the next record.
    if (tPending.empty() && tDepth <= kMaxNesting) {
      tPending = NestedReport(info, log, tDepth);
      JotterInfo_t copy = info ? *info : JotterInfo_t{};
      copy.level = kLevelFatal;
      ConsoleLog(&copy, tPending.c_str());
    }
    --tDepth;
    errno = savedErrno;
    return;
  }

  if (!tPending.empty()) {
    std::string pending;
    pending.swap(tPending);
    WriteTips2File("%s", pending.c_str());
  }
  if (config_.mode_ == kAppenderSync) {
    WriteSync(info, log);
  } else {
    WriteAsync(info, log, own);
  }
  --tDepth;
  errno = savedErrno;
}

std::string JotterAppender::NestedReport(const JotterInfo_t* info, const char* log, int depth) {
  JotterInfo_t copy = info ? *info : JotterInfo_t{};
  copy.level = kLevelFatal;
  char head[128];
  std::snprintf(head, sizeof head, "ERROR!!! jotter_appender Recursive calls!!!, count:%d", depth);
  char report[kLineBufferSize];
  vela::comm::PtrBuffer buff(report, 0, sizeof report);
  log_formater(&copy, head, buff);
  // The report goes out as one notice: keep it, line break included, within
  // the notice buffer.
  const size_t room = kTipsBufferSize - 2;
  if (log && buff.Length() < room) buff.Write(log, ::strnlen(log, room - buff.Length()));
  std::string text(report, std::min(buff.Length(), room));
  if (text.empty() || text.back() != '\n') text += '\n';
  return text;
}

void JotterAppender::WriteTips2File(const char* format, ...) {
  if (!format || !syncReady_) return;
  char text[kTipsBufferSize];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n <= 0) return;
  vela::comm::AutoBuffer block;
  MakeSyncBlock(text, std::min(static_cast<size_t>(n), sizeof text - 1), block);
  (void)files_->Log2File(block.Ptr(), block.Length(), false);
}

void JotterAppender::WriteTips2Console(const char* format, ...) {
  if (!format) return;
  char text[kTipsBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  JotterInfo_t info;
  info.level = kLevelError;
  ConsoleLog(&info, text);
}

void JotterAppender::WriteSync(const JotterInfo_t* info, const char* log) {
  if (!syncReady_) return;
  char line[kLineBufferSize];
  vela::comm::PtrBuffer buff(line, 0, sizeof line);
  log_formater(info, log, buff);
  vela::comm::AutoBuffer block;
  MakeSyncBlock(line, buff.Length(), block);
  int error = WriteSyncRefusedNotice();
  if (error == 0) error = files_->Log2File(block.Ptr(), block.Length(), false);
  if (error == 0) {
    NoteWriteSuccess();
    return;
  }
  syncRefused_.fetch_add(1);
  bool mapped = false;
  {
    // The count survives a kill in the cache file's counter; the next start
    // notes it.
    vela::comm::ScopedLock lock(bufferMutex_);
    if (lock.islocked() && buffer_) {
      buffer_->AddDropped(1);
      mapped = mmap_.isOpen();
    }
  }
  NoteWriteFailure(error);
  if (!mapped && !syncCountSaid_.exchange(true)) {
    WriteTips2Console(
        "log file refused records and no cache file keeps their count: a crash loses it");
  }
}

int JotterAppender::WriteSyncRefusedNotice() {
  // Taken whole, so two writers never note the same records.
  const uint32_t refused = syncRefused_.exchange(0);
  if (refused == 0) return 0;
  const int error = WriteCountNotice("log file refused", refused);
  if (error != 0) {
    syncRefused_.fetch_add(refused);
    return error;
  }
  vela::comm::ScopedLock lock(bufferMutex_);
  if (lock.islocked() && buffer_) buffer_->ForgetDropped(std::min(refused, buffer_->Dropped()));
  return 0;
}

void JotterAppender::Flush() {
  flushAsked_ = true;
  Wake(true);
}

void JotterAppender::Wake(bool sure) {
  if (!sure) {
    cond_.notifyAll();
    return;
  }
  // Under the lock the flush thread decides to sleep under: it is either
  // past that decision and waiting, or has yet to see what this call follows.
  vela::comm::ScopedLock lock(cond_.mutex());
  cond_.notifyAll();
}

void JotterAppender::WriteAsync(const JotterInfo_t* info, const char* log, bool own) {
  char line[kLineBufferSize];
  vela::comm::PtrBuffer buff(line, 0, sizeof line);
  log_formater(info, log, buff);
  const bool fatal = (info && info->level == kLevelFatal) || !log;
  WakeReason wake;
  {
    // The flush thread goes first: a plain mutex can keep it out for long
    // while writers keep coming, and the cache fills meanwhile. It holds the
    // lock for microseconds.
    while (flushWaiting_.load(std::memory_order_acquire) > 0) std::this_thread::yield();
    vela::comm::ScopedLock lock(bufferMutex_);
    // Checked again under the lock: nothing enters the cache after Close()
    // took its last blocks out.
    if (!lock.islocked() || !buffer_ || (closed_ && !own)) return;
    wake = StoreLocked(line, buff.Length(), fatal);
  }
  if (wake != WakeReason::None && !closed_) Wake(wake == WakeReason::MustWake);
}

JotterAppender::WakeReason JotterAppender::StoreLocked(const char* line, size_t len, bool fatal) {
  const uint64_t sealed = buffer_->SealedSoFar();
  // A record that finds no room is counted by the buffer; the block that
  // filled the cache was sealed, and the thread woken, by an earlier write.
  (void)buffer_->Write(line, len);
  if (buffer_->SealedSoFar() != sealed) {
    sealedWaiting_ = true;
    return WakeReason::MustWake;
  }
  if (fatal) return WakeReason::MustWake;
  // Every record past the threshold wakes the thread, so one missed is
  // followed by the next.
  return buffer_->OpenLength() >= kWakeLength ? WakeReason::Threshold : WakeReason::None;
}

void JotterAppender::AsyncLogThread() {
  while (true) {
    flushStep(FlushStep::Woken);
    flushAsked_ = false;
    const FlushResult result = FlushCacheToFile();
    if (result == FlushResult::NoCache || closed_) break;
    flushStep(result == FlushResult::Failed ? FlushStep::Failed : FlushStep::Flushed);
    ReportFileErrors();
    vela::comm::ScopedLock lock(cond_.mutex());
    if (!lock.islocked()) break;
    if (result == FlushResult::Failed) {
      // Not at every record: the files are tried again in a while, at once
      // when asked to flush or closing.
      (void)cond_.wait(lock, kRetryMs, [this] { return closed_.load() || flushAsked_.load(); });
      continue;
    }
    // Wake-ups that came while this thread was busy are not remembered, but
    // a close, or a block a writer sealed because it was full, is.
    if (closed_ || sealedWaiting_) continue;
    flushStep(FlushStep::Idle);
    cond_.wait(lock, kAsyncWaitMs);
  }
}

void JotterAppender::Close() {
  {
    vela::comm::ScopedLock lock(stateMutex_);
    if (!lock.islocked() || closed_ || closing_) return;
    closing_ = true;
  }
  RunPendingMaintenance();
  {
    vela::comm::ScopedLock lock(cond_.mutex());
    closed_ = true;
    cond_.notifyAll();
  }
  if (asyncThread_) (void)asyncThread_->join();

  // What writers added after the thread's last round goes out first: the
  // errors the files meet on the way (a short run meets them only here) are
  // reported before the end marker, which then finds room in a cache
  // however full it was.
  const bool async = config_.mode_ != kAppenderSync;
  if (async) (void)FlushCacheToFile();
  NoteCacheReplaced();
  ReportFileErrors();
  const std::string end = "===== end =====" + MakeMark() + "\n";
  Store(nullptr, end.c_str(), true);
  if (async) (void)FlushCacheToFile();
  {
    vela::comm::ScopedLock lock(bufferMutex_);
    if (lock.islocked() && buffer_) {
      const uint64_t unwritten = buffer_->HeldRecords() + buffer_->Dropped();
      if (buffer_->IsEmpty() && buffer_->Dropped() == 0) {
        buffer_->Clear();
      } else if (mmap_.isOpen()) {
        // The files still refuse them: the next start writes them.
        WriteTips2Console("log closed with records the files refused; they stay in the cache file");
      } else {
        WriteTips2Console("log closed with %ju records the files refused; they are lost",
                          static_cast<uintmax_t>(unwritten));
      }
      buffer_.reset();
      mmap_.close();
      heap_.reset();
    }
  }
  syncReady_ = false;
  if (files_) files_->CloseFile();
}

void appender_open(const JotConfig& config) {
  vela::comm::ScopedLock lock(closeMutex());
  if (!lock.islocked()) return;
  if (JotterAppender* current = gDefault.load()) {
    current->WriteTips2File("appender has already been opened. _dir:%s _nameprefix:%s",
                            config.logdir_.c_str(), config.nameprefix_.c_str());
    return;
  }
  // Links in the reachability monitor, whose instance is made at start-up.
  (void)vela::comm::ReachabilityMonitorStarted();
  auto* appender = new JotterAppender();
  appender->SetMaxFileSize(gMaxFileSize);
  appender->SetConsoleLog(gConsole);
  // Installed before it opens: records of other threads are taken as soon
  // as the writer is open.
  gDefault.store(appender, std::memory_order_release);
  jotter_SetAppender(&jotter_appender);
  appender->Open(config);
  static const bool registered = [] { return std::atexit(exitHandler) == 0; }();
  (void)registered;
}

void appender_close() { closeDefault(); }

void SetFlushStepHookForTesting(void (*hook)(FlushStep step)) {
  gFlushStepHook.store(hook, std::memory_order_release);
}

void appender_flush() {
  if (JotterAppender* appender = gDefault.load(std::memory_order_acquire)) appender->Flush();
}

void appender_set_console_log(bool isOpen) {
  gConsole = isOpen;
  if (JotterAppender* appender = gDefault.load(std::memory_order_acquire)) {
    appender->SetConsoleLog(isOpen);
  }
}

void appender_set_max_file_size(uint64_t maxByteSize) {
  gMaxFileSize = maxByteSize;
  if (JotterAppender* appender = gDefault.load(std::memory_order_acquire)) {
    appender->SetMaxFileSize(maxByteSize);
  }
}

void jotter_appender(const JotterInfo_t* info, const char* log) {
  if (JotterAppender* appender = gDefault.load(std::memory_order_acquire)) {
    appender->Write(info, log);
  }
}

}  // namespace vela::jot
