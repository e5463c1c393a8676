#include "installer/utils.h"

#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/shell.h"

namespace quillo {
namespace {
const Bundle& orMain(const Bundle* bundle) { return bundle ? *bundle : Bundle::main(); }
}  // namespace

std::string Utils::appVersion() { return appVersionWithBundle(nullptr); }

std::string Utils::appVersionWithBundle(const Bundle* bundle) {
  return appShortVersionWithBundle(bundle) + "(" + appBuildNumberWithBundle(bundle) + ")" + "";
}

std::string Utils::appShortVersion() { return appShortVersionWithBundle(nullptr); }

std::string Utils::appShortVersionWithBundle(const Bundle* bundle) {
  return orMain(bundle).infoString("CFBundleShortVersionString").value_or("0.0.0");
}

std::string Utils::appBuildNumber() { return appBuildNumberWithBundle(nullptr); }

std::string Utils::appBuildNumberWithBundle(const Bundle* bundle) {
  return orMain(bundle).infoString("CFBundleVersion").value_or("0");
}

std::optional<std::string> Utils::deviceModelID() { return sysinfo::modelIdentifier(); }

std::string Utils::cpuType() { return sysinfo::machine(); }

bool Utils::isAppleSilicon() {
  static const bool arm = [] {
    auto type = cpuType();
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return type.find("arm") != std::string::npos;
  }();
  return arm;
}

std::string Utils::systemVer() {
  const auto v = sysinfo::operatingSystemVersion();
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%ld.%ld.%ld", v.major, v.minor, v.patch);
  return buffer;
}

std::optional<sysinfo::ProcessRecord> Utils::processInfoForPID(pid_t pid) {
  return sysinfo::processRecord(pid);
}

std::optional<std::string> Utils::runtimeString() {
  auto record = processInfoForPID(::getpid());
  if (!record) return std::nullopt;
  struct timeval now {};
  ::gettimeofday(&now, nullptr);
  const int64_t startMs = record->startSeconds * 1000 + record->startMicroseconds / 1000;
  const int64_t nowMs = int64_t{now.tv_sec} * 1000 + now.tv_usec / 1000;
  const int64_t seconds = std::max<int64_t>(0, (nowMs - startMs) / 1000);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60));
  return buffer;
}

void Utils::execCommand(const std::string& commandLine) { (void)runShellCommand(commandLine); }

double Utils::cpuUsage() { return sysinfo::cpuUsage(); }

}  // namespace quillo
