#include "installer/g.h"

#include "installer/endpoints.h"
#include "platform/bundle.h"
#include "platform/folders.h"
#include "platform/url_session.h"

namespace quillo {

std::optional<std::string> urlFromString(const std::string& text) {
  if (!URLComponents::parse(text)) return std::nullopt;
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
