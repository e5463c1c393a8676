#pragma once
// System and bundle facts, and synchronous shell commands. Safe from any thread.
#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/bundle.h"
#include "platform/system_info.h"

namespace quillo {

// A type with no members, kept for callers that name it.
class InstallerUtils {};

class Utils {
 public:
  // "%s(%s)%s": short version, build, "" — e.g. "1.2.3(45)"; "0.0.0(0)" without keys.
  [[nodiscard]] static std::string appVersion();
  // nullptr means the main bundle.
  [[nodiscard]] static std::string appVersionWithBundle(const Bundle* bundle);
  [[nodiscard]] static std::string appShortVersion();
  [[nodiscard]] static std::string appShortVersionWithBundle(const Bundle* bundle);
  [[nodiscard]] static std::string appBuildNumber();
  [[nodiscard]] static std::string appBuildNumberWithBundle(const Bundle* bundle);

  // The machine model as stored by the firmware, ending in a NUL; nothing when unknown.
  [[nodiscard]] static std::optional<std::string> deviceModelID();
  // uname's machine field.
  [[nodiscard]] static std::string cpuType();
  // Whether cpuType() contains "arm" (case-insensitive); computed once.
  [[nodiscard]] static bool isAppleSilicon();
  // "%ld.%ld.%ld" of the platform version.
  [[nodiscard]] static std::string systemVer();

  [[nodiscard]] static std::optional<sysinfo::ProcessRecord> processInfoForPID(pid_t pid);
  // Time since this process started, "%02d:%02d:%02d"; nothing when unreadable.
  [[nodiscard]] static std::optional<std::string> runtimeString();
  // Runs the command line through the shell on the calling thread; status ignored.
  static void execCommand(const std::string& commandLine);
  // This process's CPU usage in percent; -1 when unreadable.
  [[nodiscard]] static double cpuUsage();
};

}  // namespace quillo
