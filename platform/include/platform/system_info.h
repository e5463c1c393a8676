#pragma once
// Facts about this machine and process, read from uname, /sys and /proc.
// Safe from any thread.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace quillo::sysinfo {

struct OsVersion {
  long major = 0;
  long minor = 0;
  long patch = 0;
  friend bool operator==(const OsVersion&, const OsVersion&) = default;
};

// The desktop platform version that version-gated steps read. Linux has no
// such number: it is emulated (compiled in, default 14.0.0) and tests set it.
[[nodiscard]] OsVersion operatingSystemVersion();
// Replaces the emulated version for this process; nullopt restores the default.
void setOperatingSystemVersion(std::optional<OsVersion> version);
// Parses "14.2.1" (missing parts are 0); nullopt when it does not start with a number.
[[nodiscard]] std::optional<OsVersion> parseOsVersion(const std::string& text);

// A readable description of the running system, e.g. "Version 14.0.0 (Linux 6.1.0-18-amd64)".
[[nodiscard]] std::string operatingSystemVersionString();

// uname's machine field, e.g. "x86_64" or "aarch64".
[[nodiscard]] std::string machine();

// The machine model as raw text, ending in a NUL character as firmware stores
// it: the device tree's model, else DMI's product name. Nothing when neither exists.
[[nodiscard]] std::optional<std::string> modelIdentifier();

// The start time of a process, since the epoch.
struct ProcessRecord {
  int64_t startSeconds = 0;
  int64_t startMicroseconds = 0;
};
[[nodiscard]] std::optional<ProcessRecord> processRecord(pid_t pid);

// CPU time of this process's threads that are not sleeping, as a percentage of
// one core over each thread's life; -1 when /proc cannot be read.
[[nodiscard]] double cpuUsage();

}  // namespace quillo::sysinfo
