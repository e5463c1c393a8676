#include "jot/jot_util.h"

#include <sys/time.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "jot/appender.h"
#include "jot/jotter.h"

namespace vela::jot {
namespace {

constexpr uint64_t kMaxLogFileSize = 10 * 1024 * 1024;

struct AppInfo {
  std::mutex mu;
  JotUtil::TextProvider appVersion;
  JotUtil::TextProvider deviceModel;
  std::string machineType;
};

AppInfo& appInfo() {
  static auto* info = new AppInfo();
  return *info;
}

std::string callOr(const JotUtil::TextProvider& provider) {
  return provider ? provider() : std::string();
}

std::string envOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}

std::string readMachineType() {
  struct utsname name {};
  return ::uname(&name) == 0 ? std::string(name.machine) : std::string();
}

std::string osVersion() {
  struct utsname name {};
  if (::uname(&name) != 0) return {};
  return std::string(name.sysname) + " " + name.release;
}

}  // namespace

// Not a point of the curve: with it the writer logs unencrypted.
const char* const JotUtil::kServerPublicKey =
    "3f0c9a7e51b2d84c6e07a9f13d5b8c2e90f4a6d1c7e3b5089a2f6d4c1e8b7a30"
    "59d2c6f8e1a4b7d3c0f9e2a5b8d1c4e7f0a3b6d9c2e5f8a1b4d7c0e3f6a9b2d5";

void JotUtil::setAppInfoProvider(TextProvider appVersion, TextProvider deviceModel) {
  AppInfo& info = appInfo();
  std::lock_guard lock(info.mu);
  info.appVersion = std::move(appVersion);
  info.deviceModel = std::move(deviceModel);
}

void JotUtil::setUpJot(JotLevel level) { setUpJot(level, 0); }

std::string JotUtil::logPath() {
  const std::string caches = envOr("XDG_CACHE_HOME", envOr("HOME", "/") + "/.cache");
  return caches + "/Quillo/Logs/";
}

void JotUtil::setUpJot(JotLevel level, int32_t appType) {
  jotter_SetLevel(static_cast<TLogLevel>(level));
  appender_set_max_file_size(kMaxLogFileSize);
  appender_set_console_log(false);
  JotConfig config;
  config.mode_ = kAppenderAsync;
  config.logdir_ = logPath();
  config.nameprefix_ = logNamePrefixByAppType(appType);
  config.pub_key_ = kServerPublicKey;
  config.compressmode_ = kZlib;
  config.compresslevel_ = 6;
  config.cache_days_ = 3;
  appender_open(config);

  const std::string machine = readMachineType();
  if (shouldLog(JotLevel::Warn)) {
    TextProvider versionOf, modelOf;
    {
      AppInfo& info = appInfo();
      std::lock_guard lock(info.mu);
      versionOf = info.appVersion;
      modelOf = info.deviceModel;
    }
    std::string model = callOr(modelOf);
    model.erase(std::remove(model.begin(), model.end(), '\0'), model.end());
    const std::string line = "App start: " + callOr(versionOf) + ", OS: " + osVersion() +
                             ", Model: " + model + ", " + machine;
    logWithLevel(JotLevel::Warn, "main", __FILE__, __LINE__, "setUpJot:appType:", line);
  }
  AppInfo& info = appInfo();
  std::lock_guard lock(info.mu);
  info.machineType = machine;
}

void JotUtil::_logWithLevel(JotLevel level, const char* moduleName, const char* fileName,
                            int32_t lineNumber, const char* funcName, const std::string& message) {
  JotterInfo_t info;
  info.level = static_cast<TLogLevel>(level);
  info.tag = moduleName;
  info.filename = fileName;
  info.func_name = funcName;
  info.line = lineNumber;
  gettimeofday(&info.timeval, nullptr);
  info.tid = jotter_tid();
  info.maintid = jotter_maintid();
  info.pid = jotter_pid();
  info.traceLog = 0;
  jotter_Write(&info, message.c_str());
}

void JotUtil::logWithLevel(JotLevel level, const char* moduleName, const char* fileName,
                           int32_t lineNumber, const char* funcName, const std::string& message) {
  if (shouldLog(level)) _logWithLevel(level, moduleName, fileName, lineNumber, funcName, message);
}

void JotUtil::logWithLevelFormat(JotLevel level, const char* moduleName, const char* fileName,
                                 int32_t lineNumber, const char* funcName, const char* format,
                                 ...) {
  if (!shouldLog(level) || !format) return;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string message;
  if (n > 0) {
    std::vector<char> text(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    message.assign(text.data(), static_cast<size_t>(n));
  }
  va_end(args);
  logWithLevel(level, moduleName, fileName, lineNumber, funcName, message);
}

bool JotUtil::shouldLog(JotLevel level) {
  return jotter_IsEnabledFor(static_cast<TLogLevel>(level));
}

void JotUtil::flushLog() { appender_flush(); }

void JotUtil::closeLog() {
  if (shouldLog(JotLevel::Warn)) {
    logWithLevel(JotLevel::Warn, "main", __FILE__, __LINE__, "closeLog", "close log");
  }
  appender_close();
}

std::string JotUtil::logNamePrefixByAppType(int32_t appType) {
  switch (appType) {
    case 1: return "inst_p";
    case 2: return "inst_a";
    case 3: return "inst_h";
    case 4: return "qlfb";
    default: return "ql";
  }
}

std::string JotUtil::machineType() {
  AppInfo& info = appInfo();
  std::lock_guard lock(info.mu);
  return info.machineType;
}

}  // namespace vela::jot
