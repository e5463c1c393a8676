#include "platform/bundle.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace quillo {
namespace fs = std::filesystem;

Bundle::Bundle(std::string bundlePath) : path_(std::move(bundlePath)) {
  std::ifstream in(path_ + "/Contents/Info.json");
  if (!in) return;
  info_ = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
  if (!info_.is_object()) info_ = nlohmann::json::object();
}

std::optional<std::string> Bundle::enclosingBundlePath(const std::string& filePath) {
  for (fs::path p(filePath); !p.empty(); p = p.parent_path()) {
    const auto name = p.filename().string();
    if (name.size() > 4 && name.ends_with(".app")) return p.string();
    if (p == p.parent_path()) break;
  }
  return std::nullopt;
}

const Bundle& Bundle::main() {
  static const Bundle* bundle = [] {
    std::error_code ec;
    const auto exe = fs::read_symlink("/proc/self/exe", ec).string();
    auto path = enclosingBundlePath(exe);
    return new Bundle(path ? *path : fs::path(exe).parent_path().string());
  }();
  return *bundle;
}

std::optional<std::string> Bundle::infoString(std::string_view key) const {
  if (!info_.is_object()) return std::nullopt;
  auto it = info_.find(key);
  if (it == info_.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

}  // namespace quillo
