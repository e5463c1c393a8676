#include "installer/installer_cask_manager.h"

#include <nlohmann/json.hpp>

#include "cask/cask.h"
#include "platform/folders.h"

namespace quillo {

std::optional<std::string> InstallerInstallEventInfo::toJSON() const {
  return nlohmann::json{{"originSourceId", originSourceId}, {"source", source}}.dump();
}

std::optional<InstallerInstallEventInfo> InstallerInstallEventInfo::fromJSON(const std::string& json) {
  auto j = nlohmann::json::parse(json, nullptr, false);
  if (!j.is_object() || !j.contains("originSourceId") || !j["originSourceId"].is_string() ||
      !j.contains("source") || !j["source"].is_number_integer()) {
    return std::nullopt;
  }
  return InstallerInstallEventInfo{j["originSourceId"].get<std::string>(), j["source"].get<int32_t>()};
}

bool InstallerCask::setBool(bool value, const std::string& key) { return store_->set(value, key); }
bool InstallerCask::setString(const std::string& value, const std::string& key) {
  return store_->set(std::string_view(value), key);
}
bool InstallerCask::setInt64(int64_t value, const std::string& key) { return store_->set(value, key); }
bool InstallerCask::setData(const std::vector<uint8_t>& value, const std::string& key) {
  return store_->set(std::span<const uint8_t>(value), key);
}
std::optional<std::string> InstallerCask::getString(const std::string& key) {
  return store_->getString(key);
}
bool InstallerCask::getBool(const std::string& key) { return store_->getBool(key); }
int64_t InstallerCask::getInt64(const std::string& key) { return store_->getInt64(key); }
std::optional<std::vector<uint8_t>> InstallerCask::getData(const std::string& key) {
  return store_->getBytes(key);
}
bool InstallerCask::containsKey(const std::string& key) { return store_->containsKey(key); }
void InstallerCask::removeValueForKey(const std::string& key) { store_->removeValueForKey(key); }

void InstallerCaskManager::setupCask() {
  cask::Cask::initializeCask(folders::applicationSupportDirectory() + "/Quillo/cask",
                             cask::CaskLogWarning);
}

std::optional<InstallerCask> InstallerCaskManager::getInstallerCask() {
  cask::Cask* store = cask::Cask::caskWithID("quillo.installer", cask::CaskMultiProcess);
  if (!store) return std::nullopt;
  return InstallerCask(store);
}

}  // namespace quillo
