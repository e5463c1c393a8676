#include "jot/log_line.h"

#include <algorithm>
#include <limits>

#include "jot/jot_util.h"

namespace vela::jot {
namespace {

void logAt(JotLevel level, const char* moduleName, const std::string& message,
           const std::source_location& where) {
  LogLine(level, moduleName, where.function_name(), where.file_name(), where.line(), message);
}

}  // namespace

void LogLine(JotLevel level, const char* moduleName, const char* functionName,
             const char* fileName, int64_t lineNumber, const std::string& message) {
  const auto line = static_cast<int32_t>(
      std::clamp<int64_t>(lineNumber, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max()));
  JotUtil::logWithLevel(level, moduleName, fileName, line, functionName, message);
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

void FlushLog() { JotUtil::flushLog(); }

}  // namespace vela::jot
