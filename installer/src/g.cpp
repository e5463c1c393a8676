#include "installer/g.h"

#include <regex>

#include "installer/endpoints.h"
#include "platform/bundle.h"
#include "platform/folders.h"

namespace quillo {

std::optional<std::string> urlFromString(const std::string& text) {
  // scheme://host[:port][/path][?query]; no blanks or controls anywhere.
  static const std::regex kUrl(R"(^https?://[A-Za-z0-9.\-]+(:[0-9]{1,5})?([/?][^\s\x00-\x1f]*)?$)");
  if (!std::regex_match(text, kUrl)) return std::nullopt;
  return text;
}

const std::string& G::zipDownloadLocation() {
  static const std::string location = folders::temporaryDirectory() + "/Quillo/ZipFile";
  return location;
}

const std::string& G::bundlePath() {
  static const std::string path = Bundle::main().bundlePath();
  return path;
}

const std::optional<std::string>& G::jsonConfigURL() {
  static const auto url =
      urlFromString(std::string(kDownloadOrigin) + "/web/mac/download?channel=InstallInfo");
  return url;
}

const std::optional<std::string>& G::reportCGIURL() {
  static const auto url = urlFromString(std::string(kReportOrigin) + "/ombra/single");
  return url;
}

}  // namespace quillo
