#include "platform/folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/build_config.h"

namespace quillo::folders {
namespace {

std::string envOr(const char* name, std::string fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : std::move(fallback);
}

std::string home() { return envOr("HOME", "/"); }

std::mutex gRootMu;
std::string& rootSlot() {
  static auto* root = new std::string(kCompiledSystemRoot);
  return *root;
}

}  // namespace

std::string temporaryDirectory() {
  auto base = envOr("TMPDIR", "/tmp");
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  static std::mutex mu;
  static auto* chosen = new std::map<std::string, std::string>;  // Guarded by mu.
  std::lock_guard lock(mu);
  if (auto it = chosen->find(base); it != chosen->end()) return it->second;
  const std::string predictable = base + "/quillo-" + std::to_string(::geteuid());
  std::string path = predictable;
  if (ensurePrivateDirectory(predictable)) {
    // Someone else holds the usual name; take one they cannot guess.
    std::string pattern = predictable + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return predictable;
    path = pattern;
  }
  chosen->emplace(base, path);
  return path;
}

std::string cachesDirectory() { return envOr("XDG_CACHE_HOME", home() + "/.cache"); }

std::string applicationSupportDirectory() {
  return envOr("XDG_DATA_HOME", home() + "/.local/share");
}

std::error_code ensurePrivateDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return {errno, std::generic_category()};
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {errno, std::generic_category()};
  if (S_ISLNK(st.st_mode)) return std::make_error_code(std::errc::too_many_symbolic_link_levels);
  if (!S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::not_a_directory);
  if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    return std::make_error_code(std::errc::permission_denied);
  }
  return {};
}

std::string systemRoot() {
  std::lock_guard lock(gRootMu);
  return rootSlot();
}

void setSystemRoot(std::string root) {
  while (!root.empty() && root.back() == '/') root.pop_back();
  std::lock_guard lock(gRootMu);
  rootSlot() = std::move(root);
}

std::string systemPath(std::string_view absolutePath) {
  return systemRoot() + std::string(absolutePath);
}

}  // namespace quillo::folders
