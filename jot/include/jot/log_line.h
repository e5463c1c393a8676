#pragma once
// The application's logging calls. Every line carries a level, the module, the
// calling function, the source file and line:
//
//   vela::jot::LogInfo("download finished");          // module "main", caller's position
//   vela::jot::LogLine(JotLevel::Warn, "main", __func__, __FILE__, __LINE__, "text");
//
// Lines go to the log writer once JotUtil::setUpJot has opened it (level
// filter, then one record each) and are dropped before that and after
// JotUtil::closeLog. Safe from any thread.
#include <cstdint>
#include <source_location>
#include <string>

namespace vela::jot {

enum class JotLevel : int32_t {
  Verbose = 0,
  Debug = 1,
  Info = 2,
  Warn = 3,
  Error = 4,
  Fatal = 5,
  None = 6,  // A filter setting only; no record is written at this level.
};

void LogLine(JotLevel level, const char* moduleName, const char* functionName,
             const char* fileName, int64_t lineNumber, const std::string& message);

void LogDebug(const std::string& message, const char* moduleName = "main",
              std::source_location where = std::source_location::current());
void LogInfo(const std::string& message, const char* moduleName = "main",
             std::source_location where = std::source_location::current());
void LogWarn(const std::string& message, const char* moduleName = "main",
             std::source_location where = std::source_location::current());
void LogError(const std::string& message, const char* moduleName = "main",
              std::source_location where = std::source_location::current());
void LogFatal(const std::string& message, const char* moduleName = "main",
              std::source_location where = std::source_location::current());

void FlushLog();

}  // namespace vela::jot
