#pragma once
// The install information: the small JSON document that names the package to
// download. Decoding reads "zip_download_url", "zip_download_md5",
// "zip_version" and "package_type": a missing key or null gives nothing, any
// other non-string value fails the whole decoding, unknown keys are ignored.
//
//   auto info = InstallInfo::decode(R"({"zip_version":"1.2.3.4","x":1})", 1.7e9);
//   info->zip_version == "1.2.3.4";  info->zip_download_url == std::nullopt
#include <optional>
#include <string>
#include <string_view>

namespace quillo {

struct InstallInfo {
  std::optional<std::string> zip_download_url;
  std::optional<std::string> zip_download_md5;
  std::optional<std::string> zip_version;
  std::optional<std::string> package_type;
  // Seconds since 1970-01-01 UTC at which the document was decoded; never in the JSON.
  double timeStamp = 0;

  // Nothing when `json` is not an object of the shape above.
  [[nodiscard]] static std::optional<InstallInfo> decode(std::string_view json, double now);
  // The keys that are present, as a JSON object.
  [[nodiscard]] std::string encode() const;

  friend bool operator==(const InstallInfo&, const InstallInfo&) = default;
};

// The version shown under the logo and carried by reports:
// "1.2.3.4" with package type "beta" gives "1.2.3(4) beta"; without a package
// type "1.2.3(4) " (one blank). Nothing to show (no document, no version, not
// four dot-separated parts) gives "". Logs what it finds.
[[nodiscard]] std::string displayVersion(const std::optional<InstallInfo>& info);

}  // namespace quillo
