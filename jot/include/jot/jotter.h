#pragma once
// The record layer: levels, record metadata, the process-wide level filter
// and appender slot, the line formatter and the assertion reporters.
// Every function may be called from any thread. The line format is
//
//   [01-05/13:04:05.123|I|main|1234|Downloader.src(100)] text\n
//
// (time, level letter, tag, thread id, file name, line).
#include <sys/time.h>

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>

#include "jot/auto_buffer.h"

namespace vela::jot {

enum TLogLevel : int32_t {
  kLevelAll = 0,
  kLevelVerbose = 0,
  kLevelDebug = 1,
  kLevelInfo = 2,
  kLevelWarn = 3,
  kLevelError = 4,
  kLevelFatal = 5,
  kLevelNone = 6,  // a filter value only
};

struct JotterInfo_t {
  TLogLevel level = kLevelInfo;
  const char* tag = nullptr;
  const char* filename = nullptr;
  const char* func_name = nullptr;
  int32_t line = 0;
  struct timeval timeval = {0, 0};
  intmax_t pid = -1;      // -1: filled in by jotter_Write
  intmax_t tid = -1;      // -1: filled in by jotter_Write
  intmax_t maintid = -1;  // -1: filled in by jotter_Write
  int32_t traceLog = 0;
};

using jotter_appender_t = void (*)(const JotterInfo_t* info, const char* log);
using jotter_filter_t = bool (*)(JotterInfo_t& info, const char* log);

// The filter starts at kLevelNone: nothing passes before a level is set.
[[nodiscard]] TLogLevel jotter_Level();
void jotter_SetLevel(TLogLevel level);
[[nodiscard]] bool jotter_IsEnabledFor(TLogLevel level);
// Returns the previous appender.
jotter_appender_t jotter_SetAppender(jotter_appender_t appender);
// Always empty: no record is filtered.
[[nodiscard]] jotter_filter_t jotter_GetFilter();

// Hands one record to the appender. A null `log` becomes a fatal
// "NULL == _log" record; a level outside 0..5 is dropped. Without an
// appender nothing happens.
void jotter_Write(const JotterInfo_t* info, const char* log);
// Reports a failed assertion with `message` as plain text (never a format).
void jotter_Assert(const JotterInfo_t* info, const char* expression, const char* message);

[[nodiscard]] intmax_t jotter_pid();
[[nodiscard]] intmax_t jotter_tid();
[[nodiscard]] intmax_t jotter_maintid();

// "a/b/c.txt" -> "c.txt"; "a\\b/c.txt" -> "b/c.txt" (backslash first);
// "dir/" -> "dir/"; nullptr -> "".
[[nodiscard]] const char* ExtractFileName(const char* path);

// Appends one line for the record to `buff`. With 5,120 bytes of room or
// less only a refusal line is written. A null `info` writes the text alone.
void log_formater(const JotterInfo_t* info, const char* log, vela::comm::PtrBuffer& buff);
// Console echo on stderr: "[I][main][file.cpp:12]text".
void ConsoleLog(const JotterInfo_t* info, const char* log);

// Assertion reports: a fatal record tagged "vela::comm"; the program goes on.
void JotAssert(const char* file, int line, const char* func, const char* expression);
void JotAssert2(const char* file, int line, const char* func, const char* expression,
                const char* format, ...) __attribute__((format(printf, 5, 6)));
void JotAssertV2(const char* file, int line, const char* func, const char* expression,
                 const char* format, va_list args) __attribute__((format(printf, 5, 0)));

// The handler for Boost's errors: a fatal record tagged "vela::comm" from
// function "throw_exception", "boost exception:<description>", when fatal
// records are enabled. Returns.
void jotter_ReportBoostError(const std::exception& error);
// The metadata of that record, time and ids filled in: the writer stores the
// errors of its own files itself (see LogFiles::TakeErrors), also while it
// closes, when it takes no records from outside.
[[nodiscard]] JotterInfo_t jotter_BoostErrorInfo();

// Level letter of 0..5, "" for anything else.
[[nodiscard]] const char* LevelString(int32_t level);

// One argument of the positional format of `Jotter`.
class string_cast {
 public:
  string_cast(const char* text) : str_(text) {}  // NOLINT: implicit on purpose
  string_cast(const std::string& text) : str_(text.c_str()) {}  // NOLINT
  [[nodiscard]] const char* str() const { return str_; }

 private:
  const char* str_;
};

// One record, written when the object is destroyed:
//
//   {
//     vela::jot::Jotter j(kLevelInfo, "main", __FILE__, __func__, __LINE__);
//     j.DoTypeSafeFormat("%_ of %_", {&done, &total});   // "3 of 7"
//   }
class Jotter {
 public:
  using Hook = bool (*)(JotterInfo_t& info, std::string& log);
  static constexpr size_t kMaxArgs = 16;

  Jotter(TLogLevel level, const char* tag, const char* file, const char* func, int line,
         int32_t traceLog = 0, Hook hook = nullptr);
  ~Jotter();
  Jotter(const Jotter&) = delete;
  Jotter& operator=(const Jotter&) = delete;

  // "%_" takes the next argument, "%0".."%9" the numbered one, "%%" is '%'.
  // A missing argument or an unknown directive appends a notice and makes
  // the record fatal; nothing is read past the arguments or the format.
  Jotter& DoTypeSafeFormat(const char* format, std::initializer_list<const string_cast*> args);
  Jotter& Append(const std::string& text) {
    message_ += text;
    return *this;
  }
  // Turns the record into an assertion report of `expression`.
  Jotter& Assert(const char* expression) {
    isAssert_ = true;
    expression_ = expression;
    return *this;
  }
  // The record is written without metadata (text only).
  Jotter& InfoNull() {
    infoNull_ = true;
    return *this;
  }
  [[nodiscard]] const std::string& Message() const { return message_; }
  [[nodiscard]] const JotterInfo_t& Info() const { return info_; }

 private:
  JotterInfo_t info_;
  std::string message_;
  bool isAssert_ = false;
  const char* expression_ = nullptr;
  Hook hook_;
  bool infoNull_ = false;
};

}  // namespace vela::jot

#define VELA_ASSERT(e) \
  ((e) ? (void)0 : ::vela::jot::JotAssert(__FILE__, __LINE__, __func__, #e))
// As VELA_ASSERT, with the report's expression text given word for word.
#define VELA_CHECK(e, text) \
  ((e) ? (void)0 : ::vela::jot::JotAssert(__FILE__, __LINE__, __func__, text))
#define VELA_CHECK2(e, text, fmt, ...) \
  ((e) ? (void)0                       \
       : ::vela::jot::JotAssert2(__FILE__, __LINE__, __func__, text, fmt __VA_OPT__(, ) __VA_ARGS__))
#define VELA_ASSERT2(e, fmt, ...) \
  ((e) ? (void)0 : ::vela::jot::JotAssert2(__FILE__, __LINE__, __func__, #e, fmt __VA_OPT__(, ) __VA_ARGS__))
