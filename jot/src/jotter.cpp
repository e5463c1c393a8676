#include "jot/jotter.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
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
constexpr char kBoostTag[] = "vela::comm";
constexpr char kBoostFunction[] = "throw_exception";
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

// The header "[time|L|tag|tid|file(line)] " written straight into `out`, as
// formatTime and "[%s|%s|%s|%jd|%s(%d)] " would; 0 when it does not fit in
// `room` (the caller then takes the general path). The local time of the
// last second is kept per thread: records come many to a second, and
// localtime_r is most of a header's cost.
size_t fastHeader(const JotterInfo_t& info, const char* letter, char* out, size_t room) {
  struct SecondText {
    time_t sec = 0;
    char text[16];  // "MM-DD/hh:mm:ss"
    size_t len = 0;
  };
  thread_local SecondText cached;
  const long ms = static_cast<long>(info.timeval.tv_usec / 1000);
  if (ms < 0 || ms > 999) return 0;  // formatTime's odd cases, left to it
  const char* tag = info.tag ? info.tag : "";
  const char* file = ExtractFileName(info.filename);
  const size_t tagLen = std::strlen(tag);
  const size_t fileLen = std::strlen(file);
  // Fixed parts, time and both numbers at their longest.
  if (tagLen + fileLen + 96 >= room) return 0;

  char* p = out;
  *p++ = '[';
  if (info.timeval.tv_sec != 0) {
    if (cached.sec != info.timeval.tv_sec || cached.len == 0) {
      const time_t sec = info.timeval.tv_sec;
      struct tm tm {};
      if (!::localtime_r(&sec, &tm)) return 0;
      const int n = std::snprintf(cached.text, sizeof cached.text, "%02d-%02d/%02d:%02d:%02d",
                                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
      if (n <= 0 || static_cast<size_t>(n) >= sizeof cached.text) return 0;
      cached.len = static_cast<size_t>(n);
      cached.sec = info.timeval.tv_sec;
    }
    std::memcpy(p, cached.text, cached.len);
    p += cached.len;
    *p++ = '.';
    *p++ = static_cast<char>('0' + ms / 100);
    *p++ = static_cast<char>('0' + ms / 10 % 10);
    *p++ = static_cast<char>('0' + ms % 10);
  }
  *p++ = '|';
  const size_t letterLen = std::strlen(letter);
  std::memcpy(p, letter, letterLen);
  p += letterLen;
  *p++ = '|';
  std::memcpy(p, tag, tagLen);
  p += tagLen;
  *p++ = '|';
  p = std::to_chars(p, p + 24, info.tid).ptr;
  *p++ = '|';
  std::memcpy(p, file, fileLen);
  p += fileLen;
  *p++ = '(';
  p = std::to_chars(p, p + 16, info.line).ptr;
  *p++ = ')';
  *p++ = ']';
  *p++ = ' ';
  return static_cast<size_t>(p - out);
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
  Jotter jotter(kLevelFatal, kBoostTag, __FILE__, kBoostFunction, __LINE__);
  const string_cast what(error.what());
  jotter.DoTypeSafeFormat("boost exception:%_", {&what});
}

JotterInfo_t jotter_BoostErrorInfo() {
  JotterInfo_t info;
  info.level = kLevelFatal;
  info.tag = kBoostTag;
  info.filename = __FILE__;
  info.func_name = kBoostFunction;
  info.line = __LINE__;
  gettimeofday(&info.timeval, nullptr);
  fillIds(info);
  return info;
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

  size_t fast = 0;
  if (info) {
    const char* letter = log ? LevelString(info->level) : kLevelStrings[kLevelFatal];
    fast = fastHeader(*info, letter, base + buff.Length(), room);
    buff.Length(buff.Length() + fast, buff.Length() + fast);
    room -= fast;
  }
  if (info && fast == 0) {
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
