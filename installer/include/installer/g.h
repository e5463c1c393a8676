#pragma once
// The installer's global constants, each computed once on first use and then
// shared read-only by all threads.
#include <optional>
#include <string>

namespace quillo {

struct G {
  // The user's private temporary folder + "/Quillo/ZipFile": holds the package.
  [[nodiscard]] static const std::string& zipDownloadLocation();
  // The main bundle's path; its name (less ".app") carries the install channel suffix.
  [[nodiscard]] static const std::string& bundlePath();
  // Download origin + "/web/mac/download?channel=InstallInfo"; nothing when not a valid URL.
  [[nodiscard]] static const std::optional<std::string>& jsonConfigURL();
  // Report origin + "/ombra/single"; nothing when not a valid URL.
  [[nodiscard]] static const std::optional<std::string>& reportCGIURL();
};

// `text` when it parses as an absolute http(s) URL with a host, else nothing.
[[nodiscard]] std::optional<std::string> urlFromString(const std::string& text);

}  // namespace quillo
