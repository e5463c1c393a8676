#include "jot/log_line.h"

#include <cstdio>
#include <mutex>

namespace vela::jot {
namespace {

// Until the block writer is bound, lines go to stderr at Info and above.
constexpr JotLevel kStderrLevel = JotLevel::Info;

const char* baseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/') base = p + 1;
  }
  return base;
}

void logAt(JotLevel level, const char* moduleName, const std::string& message,
           const std::source_location& where) {
  LogLine(level, moduleName, where.function_name(), where.file_name(), where.line(), message);
}

}  // namespace

void LogLine(JotLevel level, const char* moduleName, const char* functionName,
             const char* fileName, int64_t lineNumber, const std::string& message) {
  if (static_cast<int32_t>(level) < static_cast<int32_t>(kStderrLevel) || level == JotLevel::None) {
    return;
  }
  static std::mutex mu;
  static constexpr char kLetters[] = "VDIWEF";
  std::lock_guard lock(mu);
  std::fprintf(stderr, "[%c|%s|%s(%lld)|%s] %s\n", kLetters[static_cast<int>(level)], moduleName,
               baseName(fileName), static_cast<long long>(lineNumber), functionName,
               message.c_str());
}

void LogDebug(const std::string& m, const char* mod, std::source_location w) {
  logAt(JotLevel::Debug, mod, m, w);
}
void LogInfo(const std::string& m, const char* mod, std::source_location w) {
  logAt(JotLevel::Info, mod, m, w);
}
void LogWarn(const std::string& m, const char* mod, std::source_location w) {
  logAt(JotLevel::Warn, mod, m, w);
}
void LogError(const std::string& m, const char* mod, std::source_location w) {
  logAt(JotLevel::Error, mod, m, w);
}
void LogFatal(const std::string& m, const char* mod, std::source_location w) {
  logAt(JotLevel::Fatal, mod, m, w);
}

void FlushLog() { std::fflush(stderr); }

}  // namespace vela::jot
