#include "platform/system_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <charconv>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/build_config.h"

namespace quillo::sysinfo {
namespace {

std::mutex gVersionMu;
std::optional<OsVersion> gVersionOverride;  // Guarded by gVersionMu.

std::optional<std::string> readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Fields of /proc/<pid>/stat after the command name, which may hold blanks
// and parentheses itself; fields[0] is the state (field 3 of proc(5)).
std::optional<std::vector<std::string>> statFields(const std::string& path) {
  auto text = readWhole(path);
  if (!text) return std::nullopt;
  auto close = text->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream in(text->substr(close + 1));
  std::vector<std::string> fields;
  for (std::string f; in >> f;) fields.push_back(f);
  return fields;
}

std::optional<int64_t> bootTimeSeconds() {
  std::ifstream in("/proc/stat");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("btime ", 0) == 0) return std::stoll(line.substr(6));
  }
  return std::nullopt;
}

}  // namespace

std::optional<OsVersion> parseOsVersion(const std::string& text) {
  OsVersion v;
  long* parts[] = {&v.major, &v.minor, &v.patch};
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 3 && p < end; ++i) {
    auto [next, ec] = std::from_chars(p, end, *parts[i]);
    if (ec != std::errc()) {
      if (i == 0) return std::nullopt;
      break;
    }
    p = next;
    if (p < end && *p == '.') ++p;
  }
  if (text.empty()) return std::nullopt;
  return v;
}

OsVersion operatingSystemVersion() {
  std::lock_guard lock(gVersionMu);
  if (gVersionOverride) return *gVersionOverride;
  static const OsVersion compiled = parseOsVersion(kCompiledPlatformVersion).value_or(OsVersion{});
  return compiled;
}

void setOperatingSystemVersion(std::optional<OsVersion> version) {
  std::lock_guard lock(gVersionMu);
  gVersionOverride = version;
}

std::string operatingSystemVersionString() {
  const auto v = operatingSystemVersion();
  struct utsname u {};
  std::string kernel = ::uname(&u) == 0 ? std::string(u.sysname) + " " + u.release : "unknown";
  return "Version " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
         std::to_string(v.patch) + " (" + kernel + ")";
}

std::string machine() {
  struct utsname u {};
  return ::uname(&u) == 0 ? std::string(u.machine) : std::string();
}

std::optional<std::string> modelIdentifier() {
  if (auto dt = readWhole("/proc/device-tree/model"); dt && !dt->empty()) {
    if (dt->back() != '\0') dt->push_back('\0');
    return dt;
  }
  if (auto dmi = readWhole("/sys/class/dmi/id/product_name"); dmi && !dmi->empty()) {
    while (!dmi->empty() && (dmi->back() == '\n' || dmi->back() == '\0')) dmi->pop_back();
    dmi->push_back('\0');
    return dmi;
  }
  return std::nullopt;
}

std::optional<ProcessRecord> processRecord(pid_t pid) {
  auto fields = statFields("/proc/" + std::to_string(pid) + "/stat");
  // starttime is field 22 of proc(5), index 19 after the command name.
  if (!fields || fields->size() < 20) return std::nullopt;
  auto boot = bootTimeSeconds();
  if (!boot) return std::nullopt;
  const long ticks = ::sysconf(_SC_CLK_TCK);
  const int64_t start = std::stoll((*fields)[19]);
  ProcessRecord r;
  r.startSeconds = *boot + start / ticks;
  r.startMicroseconds = (start % ticks) * 1'000'000 / ticks;
  return r;
}

double cpuUsage() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const long ticks = ::sysconf(_SC_CLK_TCK);
  auto boot = bootTimeSeconds();
  if (!boot) return -1;
  const double now = static_cast<double>(::time(nullptr));
  double total = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/task", ec)) {
    auto fields = statFields(entry.path().string() + "/stat");
    if (!fields || fields->size() < 20) return -1;
    if ((*fields)[0] == "S" || (*fields)[0] == "I") continue;  // idle threads
    const double cpu = (std::stod((*fields)[11]) + std::stod((*fields)[12])) / ticks;
    const double alive = now - (*boot + std::stod((*fields)[19]) / ticks);
    if (alive > 0) total += cpu / alive * 100.0;
  }
  if (ec) return -1;
  return total;
}

}  // namespace quillo::sysinfo
