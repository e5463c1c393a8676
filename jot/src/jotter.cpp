#include "jot/jotter.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace vela::jot {
namespace {

std::atomic<int32_t> gLevel{kLevelNone};
std::atomic<jotter_appender_t> gAppender{nullptr};

// Diagnostic only: how often the formatter refused a record and how long the
// last refused text was.
std::atomic<uint32_t> gRefusedCount{0};
std::atomic<uint32_t> gRefusedSize{0};

constexpr const char* kLevelStrings[] = {"V", "D", "I", "W", "E", "F"};
constexpr size_t kRefuseRoom = 5 * 1024;
constexpr size_t kMaxBody = 0xFFFF;
constexpr char kNullBody[] = "error!! NULL==_logbody";

intmax_t systemTid() { return static_cast<intmax_t>(::syscall(SYS_gettid)); }

// The thread that runs static initialisers is the main thread.
const intmax_t gMainTid = systemTid();

bool isValidLevel(int32_t level) { return level >= kLevelVerbose && level <= kLevelFatal; }

void fillIds(JotterInfo_t& info) {
  if (info.pid == -1) info.pid = jotter_pid();
  if (info.tid == -1) info.tid = jotter_tid();
  if (info.maintid == -1) info.maintid = jotter_maintid();
}

void formatTime(const struct timeval& tv, char* out, size_t size) {
  out[0] = '\0';
  if (tv.tv_sec == 0) return;
  const time_t sec = tv.tv_sec;
  struct tm tm {};
  if (!::localtime_r(&sec, &tm)) return;
  std::snprintf(out, size, "%02d-%02d/%02d:%02d:%02d.%.3d", tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(tv.tv_usec / 1000));
}

}  // namespace

TLogLevel jotter_Level() { return static_cast<TLogLevel>(gLevel.load(std::memory_order_relaxed)); }

void jotter_SetLevel(TLogLevel level) { gLevel.store(level, std::memory_order_relaxed); }

bool jotter_IsEnabledFor(TLogLevel level) {
  return gLevel.load(std::memory_order_relaxed) <= static_cast<int32_t>(level);
}

jotter_appender_t jotter_SetAppender(jotter_appender_t appender) {
  return gAppender.exchange(appender);
}

jotter_filter_t jotter_GetFilter() { return nullptr; }

void jotter_Write(const JotterInfo_t* info, const char* log) {
  const jotter_appender_t appender = gAppender.load(std::memory_order_acquire);
  if (!appender) return;
  // The level picks a letter from a six-row table; anything else is not a record.
  if (info && !isValidLevel(info->level)) return;
  JotterInfo_t copy;
  if (info) {
    copy = *info;
    fillIds(copy);
  }
  if (!log) {
    if (info) copy.level = kLevelFatal;
    log = "NULL == _log";
  }
  appender(info ? &copy : nullptr, log);
}

void jotter_Assert(const JotterInfo_t* info, const char* expression, const char* message) {
  if (!info) return;
  JotAssert2(info->filename, info->line, info->func_name, expression, "%s",
             message ? message : "");
}

void jotter_ReportBoostError(const std::exception& error) {
  if (!jotter_IsEnabledFor(kLevelFatal)) return;
  Jotter jotter(kLevelFatal, "vela::comm", __FILE__, "throw_exception", __LINE__);
  const string_cast what(error.what());
  jotter.DoTypeSafeFormat("boost exception:%_", {&what});
}

intmax_t jotter_pid() {
  static const intmax_t pid = ::getpid();
  return pid;
}

intmax_t jotter_tid() {
  thread_local const intmax_t tid = systemTid();
  return tid;
}

intmax_t jotter_maintid() { return gMainTid; }

const char* ExtractFileName(const char* path) {
  if (!path) return "";
  const char* slash = std::strrchr(path, '\\');
  if (!slash) slash = std::strrchr(path, '/');
  if (!slash || slash[1] == '\0') return path;
  return slash + 1;
}

const char* LevelString(int32_t level) {
  return isValidLevel(level) ? kLevelStrings[level] : "";
}

void log_formater(const JotterInfo_t* info, const char* log, vela::comm::PtrBuffer& buff) {
  if (!buff.Ptr() || buff.Length() > buff.MaxLength()) return;
  auto* base = static_cast<char*>(buff.Ptr());
  buff.Length(buff.Length(), buff.Length());  // write at the end
  size_t room = buff.MaxLength() - buff.Length();
  if (room <= kRefuseRoom) {
    gRefusedCount.fetch_add(1, std::memory_order_relaxed);
    gRefusedSize.store(log ? static_cast<uint32_t>(::strnlen(log, 1024 * 1024)) : 0,
                       std::memory_order_relaxed);
    if (room >= 128) {
      const int n = std::snprintf(base + buff.Length(), room, "[F]log_size <= 5*1024, err(%u, %u)\n",
                                  gRefusedCount.load(), gRefusedSize.load());
      if (n > 0) {
        const size_t end = buff.Length() + std::min(static_cast<size_t>(n), room - 1);
        buff.Length(end, end);
      }
      gRefusedCount = 0;
      gRefusedSize = 0;
    }
    return;
  }

  if (info) {
    char timeText[64];
    formatTime(info->timeval, timeText, sizeof timeText);
    const char* letter = log ? LevelString(info->level) : kLevelStrings[kLevelFatal];
    const int n = std::snprintf(base + buff.Length(), room, "[%s|%s|%s|%jd|%s(%d)] ", timeText,
                                letter, info->tag ? info->tag : "", info->tid,
                                ExtractFileName(info->filename), info->line);
    if (n > 0) {
      const size_t written = std::min(static_cast<size_t>(n), room - 1);
      buff.Length(buff.Length() + written, buff.Length() + written);
      room -= written;
    }
  }

  if (log) {
    const size_t limit = room >= 131 ? std::min(room - 130, kMaxBody) : 0;
    const size_t len = ::strnlen(log, limit);
    buff.Write(log, len);
  } else {
    buff.Write(kNullBody, sizeof kNullBody - 1);
  }

  if (buff.Length() == 0 || base[buff.Length() - 1] != '\n') buff.Write("\n", 1);
}

void ConsoleLog(const JotterInfo_t* info, const char* log) {
  if (!info || !log) return;
  char line[16 * 1024];
  std::snprintf(line, sizeof line, "[%s][%s][%s:%d]%s", LevelString(info->level),
                info->tag ? info->tag : "", ExtractFileName(info->filename), info->line, log);
  std::fprintf(stderr, "%s\n", line);
}

namespace {

void writeAssert(const char* file, int line, const char* func, const char* text) {
  JotterInfo_t info;
  info.level = kLevelFatal;
  info.tag = "vela::comm";
  info.filename = file;
  info.func_name = func;
  info.line = line;
  gettimeofday(&info.timeval, nullptr);
  jotter_Write(&info, text);
}

}  // namespace

void JotAssert(const char* file, int line, const char* func, const char* expression) {
  char text[4096];
  if (std::snprintf(text, sizeof text, "[ASSERT(%s)]", expression ? expression : "") < 0) {
    std::snprintf(text, sizeof text, "[ASSERT] FAILED!!!");
  }
  writeAssert(file, line, func, text);
}

void JotAssert2(const char* file, int line, const char* func, const char* expression,
                const char* format, ...) {
  va_list args;
  va_start(args, format);
  JotAssertV2(file, line, func, expression, format, args);
  va_end(args);
}

void JotAssertV2(const char* file, int line, const char* func, const char* expression,
                 const char* format, va_list args) {
  char text[4096];
  int n = std::snprintf(text, sizeof text, "[ASSERT(%s)]", expression ? expression : "");
  if (n < 0) n = std::snprintf(text, sizeof text, "[ASSERT] FAILED!!!");
  const size_t used = std::min(static_cast<size_t>(n), sizeof text - 1);
  if (format && used < sizeof text - 1) {
    if (std::vsnprintf(text + used, sizeof text - used, format, args) < 0) {
      std::snprintf(text + used, sizeof text - used, "[ASSERT2] FAILED!!!");
    }
  }
  writeAssert(file, line, func, text);
}

Jotter::Jotter(TLogLevel level, const char* tag, const char* file, const char* func, int line,
               int32_t traceLog, Hook hook)
    : hook_(hook) {
  info_.level = level;
  info_.tag = tag;
  info_.filename = file;
  info_.func_name = func;
  info_.line = line;
  info_.traceLog = traceLog;
  message_.reserve(512);
}

Jotter::~Jotter() {
  if (!isAssert_ && message_.empty()) return;
  gettimeofday(&info_.timeval, nullptr);
  if (hook_ && !hook_(info_, message_)) return;
  const JotterInfo_t* info = infoNull_ ? nullptr : &info_;
  if (isAssert_) {
    jotter_Assert(&info_, expression_, message_.c_str());
  } else {
    jotter_Write(info, message_.c_str());
  }
}

Jotter& Jotter::DoTypeSafeFormat(const char* format,
                                 std::initializer_list<const string_cast*> args) {
  if (!format) return *this;
  static constexpr char kNotice[] = "{!!! void Jotter::DoTypeSafeFormat: ";
  const auto* argv = args.begin();
  const size_t argc = std::min(args.size(), kMaxArgs);
  size_t counter = 0;
  auto appendArg = [&](size_t index) {
    const string_cast* arg = index < argc ? argv[index] : nullptr;
    if (!arg) {
      message_ += kNotice;
      message_ += "_args[" + std::to_string(index) + "] == NULL !!!}";
      info_.level = kLevelFatal;
    } else if (!arg->str()) {
      message_ += kNotice;
      message_ += "_args[" + std::to_string(index) + "]->str() == NULL !!!}";
      info_.level = kLevelFatal;
    } else {
      message_ += arg->str();
    }
    ++counter;
  };

  for (const char* p = format; *p;) {
    if (*p != '%') {
      message_ += *p++;
      continue;
    }
    const char next = p[1];
    if (next == '_') {
      appendArg(counter);
      p += 2;
    } else if (next >= '0' && next <= '9') {
      appendArg(static_cast<size_t>(next - '0'));
      p += 2;
    } else if (next == '%') {
      message_ += '%';
      p += 2;
    } else {
      // Unknown directive, or a '%' that ends the format.
      message_ += kNotice;
      message_ += '%';
      if (next) message_ += next;
      message_ += " not fit mode !!!}";
      info_.level = kLevelFatal;
      p += 1;  // the character after '%' is read again as text
    }
  }
  return *this;
}

}  // namespace vela::jot

#ifdef BOOST_NO_EXCEPTIONS
// Boost calls this instead of throwing. It must not return, so after the
// record the process ends; builds with exceptions never get here.
namespace boost {
[[noreturn]] void throw_exception(const std::exception& error) {
  vela::jot::jotter_ReportBoostError(error);
  std::abort();
}
}  // namespace boost
#endif
