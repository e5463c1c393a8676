#include "installer/installer_cask_manager.h"

#include <array>
#include <limits>

#include <nlohmann/json.hpp>

#include "ext/string_path.h"
#include "jot/log_line.h"
#include "platform/folders.h"

namespace quillo {

namespace {

using cask::facade::Cask;
using cask::facade::Data;

// Two halves that give the key only when mixed.
constexpr std::array<uint8_t, 16> kKeyMask = {0x5e, 0x13, 0xa7, 0x42, 0x9c, 0x31, 0xe8, 0x0d,
                                              0x76, 0xb4, 0x2a, 0xc9, 0x58, 0x1f, 0x93, 0x64};
constexpr std::array<uint8_t, 16> kKeyMixed = {0x2f, 0x66, 0xce, 0x2e, 0xf3, 0x5e, 0x9a, 0x64,
                                               0x11, 0xd1, 0x44, 0xe6, 0x2b, 0x3a, 0xf6, 0x1a};

}  // namespace

std::optional<std::string> StringMixUtil::installerKey() {
  std::string key(kKeyMask.size(), '\0');
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<char>(kKeyMask[i] ^ kKeyMixed[i]);
  return key;
}

std::string InstallerInstallEventInfo::toJSON() const {
  const nlohmann::json json{{"originSourceId", originSourceId}, {"source", static_cast<int32_t>(source)}};
  return json.dump();
}

std::optional<InstallerInstallEventInfo> InstallerInstallEventInfo::fromJSON(std::string_view text) {
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return std::nullopt;
  const auto origin = json.find("originSourceId");
  const auto source = json.find("source");
  if (origin == json.end() || !origin->is_string() || source == json.end() || !source->is_number_integer()) {
    return std::nullopt;
  }
  int64_t raw = 0;
  if (source->is_number_unsigned()) {
    const auto value = source->get<uint64_t>();
    if (value > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return std::nullopt;
    raw = static_cast<int64_t>(value);
  } else {
    raw = source->get<int64_t>();
  }
  if (raw < std::numeric_limits<int32_t>::min() || raw > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return InstallerInstallEventInfo{origin->get<std::string>(),
                                   static_cast<com::norvane::tanix::pb::QlAppPcInstallSource>(raw)};
}

const std::string& InstallerCaskManager::criptKey() {
  static const std::string key = StringMixUtil::installerKey().value_or(std::string());
  return key;
}

std::string InstallerCaskManager::baseFolder() {
  const std::string support = folders::applicationSupportDirectory();
  if (support.empty()) return {};
  return ext::appendingPathComponent(support, "Quillo");
}

void InstallerCaskManager::setupCask() { setupCask(baseFolder()); }

void InstallerCaskManager::setupCask(const std::string& base) {
  if (base.empty()) {
    vela::jot::LogError("Search for application support directory fail");
    return;
  }
  Cask::initializeCask(base + "/cask", base, cask::CaskLogWarning);
}

std::shared_ptr<Cask> InstallerCaskManager::getInstallerCask() {
  const std::string& key = criptKey();
  return Cask::caskWithID(std::string(kCaskID), Data(key.begin(), key.end()), cask::CaskMultiProcess);
}

std::optional<uint64_t> InstallerCaskManager::parseLegalUin(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (negative && value != 0) return std::nullopt;
  return value;
}

uint64_t InstallerCaskManager::legalUin() {
  const auto store = getInstallerCask();
  if (!store) return 0;
  const std::optional<std::string> text = store->getString(InstallerCaskKeys::userLegalUinKey);
  if (!text || text->empty()) return 0;
  return parseLegalUin(*text).value_or(0);
}

}  // namespace quillo
