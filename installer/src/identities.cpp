#include "installer/identities.h"

namespace quillo {

std::string_view rawValue(QuilloSettingsArgument argument) {
  switch (argument) {
    case QuilloSettingsArgument::showSettings:
      return "ShowSettings";
    case QuilloSettingsArgument::showDeviceSync:
      return "ShowDeviceSync";
  }
  return {};
}

std::optional<QuilloSettingsArgument> settingsArgumentFromRawValue(std::string_view raw) {
  for (auto a : {QuilloSettingsArgument::showSettings, QuilloSettingsArgument::showDeviceSync}) {
    if (rawValue(a) == raw) return a;
  }
  return std::nullopt;
}

}  // namespace quillo
