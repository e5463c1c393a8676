#include "installer/install_info.h"

#include <vector>

#include <nlohmann/json.hpp>

#include "jot/log_line.h"

namespace quillo {
namespace {

using nlohmann::json;

// Missing or null gives nothing; a string gives itself; anything else fails.
bool readOptionalString(const json& object, const char* key, std::optional<std::string>& out) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) {
    out.reset();
    return true;
  }
  if (!it->is_string()) return false;
  out = it->get<std::string>();
  return true;
}

}  // namespace

std::optional<InstallInfo> InstallInfo::decode(std::string_view text, double now) {
  InstallInfo info;
  info.timeStamp = now;
  const json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded() || !document.is_object()) return std::nullopt;
  if (!readOptionalString(document, "zip_download_url", info.zip_download_url) ||
      !readOptionalString(document, "zip_download_md5", info.zip_download_md5) ||
      !readOptionalString(document, "zip_version", info.zip_version) ||
      !readOptionalString(document, "package_type", info.package_type)) {
    return std::nullopt;
  }
  return info;
}

std::string InstallInfo::encode() const {
  json document = json::object();
  if (zip_download_url) document["zip_download_url"] = *zip_download_url;
  if (zip_download_md5) document["zip_download_md5"] = *zip_download_md5;
  if (zip_version) document["zip_version"] = *zip_version;
  if (package_type) document["package_type"] = *package_type;
  // Invalid UTF-8 is replaced rather than thrown on: encoding never fails.
  return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string displayVersion(const std::optional<InstallInfo>& info) {
  if (!info || !info->zip_version) {
    vela::jot::LogError("fetch version error, no value for key: zip_version");
    return "";
  }
  const std::string& version = *info->zip_version;
  vela::jot::LogInfo("fetch version: " + version);
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = version.find('.', start);
    parts.push_back(version.substr(start, dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts.size() != 4) {
    vela::jot::LogError("version format invalid");
    return "";
  }
  return parts[0] + "." + parts[1] + "." + parts[2] + "(" + parts[3] + ")" + " " +
         info->package_type.value_or("");
}

}  // namespace quillo
