#pragma once
// The application's front end of the log writer: opens it once at launch,
// filters by level, turns one message into one record, and closes it.
// Class methods only; any thread may call them.
//
//   JotUtil::setAppInfoProvider([] { return version(); }, [] { return model(); });
//   JotUtil::setUpJot(JotLevel::Info, 2);   // "<caches>/Quillo/Logs/inst_a_YYYYMMDD.jot"
//   ...
//   JotUtil::closeLog();
#include <cstdint>
#include <functional>
#include <string>

#include "jot/log_line.h"

namespace vela::jot {

class JotUtil {
 public:
  using TextProvider = std::function<std::string()>;

  JotUtil() = delete;

  // The application's version and the machine model for the start line;
  // set them before setUpJot. Unset providers give empty texts.
  static void setAppInfoProvider(TextProvider appVersion, TextProvider deviceModel);

  static void setUpJot(JotLevel level);
  // Sets the level and opens the writer: async, zlib, files named by the
  // application type's prefix in logPath(). A second call changes the level
  // and leaves a notice in the open log.
  static void setUpJot(JotLevel level, int32_t appType);
  // $XDG_CACHE_HOME (else $HOME/.cache) + "/Quillo/Logs/".
  [[nodiscard]] static std::string logPath();

  // One record, no level check.
  static void _logWithLevel(JotLevel level, const char* moduleName, const char* fileName,
                            int32_t lineNumber, const char* funcName, const std::string& message);
  // One record when shouldLog(level).
  static void logWithLevel(JotLevel level, const char* moduleName, const char* fileName,
                           int32_t lineNumber, const char* funcName, const std::string& message);
  // printf-style; the format must be a literal of the caller's.
  static void logWithLevelFormat(JotLevel level, const char* moduleName, const char* fileName,
                                 int32_t lineNumber, const char* funcName, const char* format, ...)
      __attribute__((format(printf, 6, 7)));

  [[nodiscard]] static bool shouldLog(JotLevel level);
  static void flushLog();
  // Writes "close log" (at warn) and closes the writer; records after it are dropped.
  static void closeLog();
  // 1 "inst_p", 2 "inst_a", 3 "inst_h", 4 "qlfb", anything else "ql".
  [[nodiscard]] static std::string logNamePrefixByAppType(int32_t appType);
  // The machine type ("x86_64"); empty until setUpJot has run.
  [[nodiscard]] static std::string machineType();

  // The log-encryption server public key that setUpJot uses (128 hex digits).
  static const char* const kServerPublicKey;
};

}  // namespace vela::jot
