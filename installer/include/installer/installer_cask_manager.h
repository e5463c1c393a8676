#pragma once
// The installer's key-value store "quillo.installer": encrypted, shared with
// the installed input method and its settings application (multi-process),
// under the user's application-support folder + "/Quillo/cask". Also the
// install-channel record kept in it and the account number read from it.
// Safe from any thread; store trouble never stops the installer: without a
// store, writes are skipped and reads give their defaults.
//
//   InstallerCaskManager::setupCask();  // once, before any access
//   if (auto store = InstallerCaskManager::getInstallerCask()) {
//     store->setBool(true, InstallerCaskKeys::showGreenPointKey);
//   }
//   uint64_t vid = InstallerCaskManager::legalUin();
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cask/cask_facade.h"
#include "schema/QlAppPcInstallSource.pb.h"

namespace quillo {

// The keys the installer and the installed applications share; their value
// types are part of that contract.
struct InstallerCaskKeys {
  // Bool: true on a first install.
  static constexpr std::string_view showGreenPointKey = "ShouldShowGreenPoint";
  // String "1" when step two opened the settings.
  static constexpr std::string_view stepTwoOpenSettingsKey = "StepTwo_openSettings";
  // Data: the JSON of InstallerInstallEventInfo.
  static constexpr std::string_view reportInstallEventKey = "InstallEventReportInfo";
  // Int64 1 when the input source before the install was another vendor's.
  static constexpr std::string_view useThirdSettingKey = "use_third_setting";
  // String of decimal digits, written by the input method: the account number.
  static constexpr std::string_view userLegalUinKey = "biz_leagl_uin";
};

// Where this install came from: {"originSourceId": "...", "source": 34}.
struct InstallerInstallEventInfo {
  std::string originSourceId;  // the input source current when the installer started
  com::norvane::tanix::pb::QlAppPcInstallSource source{};  // kept as its raw int32, named or not

  // The JSON object with exactly the two members.
  [[nodiscard]] std::string toJSON() const;
  // Nothing unless both members are there with the right types and "source"
  // is an integer within int32.
  [[nodiscard]] static std::optional<InstallerInstallEventInfo> fromJSON(std::string_view json);

  friend bool operator==(const InstallerInstallEventInfo&, const InstallerInstallEventInfo&) = default;
};

// The store key's provider: the same text for every program sharing the
// store, built at run time so it is not one readable constant in the binary.
struct StringMixUtil {
  [[nodiscard]] static std::optional<std::string> installerKey();
};

class InstallerCaskManager {
 public:
  InstallerCaskManager() = delete;

  static constexpr std::string_view kCaskID = "quillo.installer";

  // The store key text, made once per process; "" when the provider gives none.
  [[nodiscard]] static const std::string& criptKey();
  // The application-support folder + "Quillo"; "" when there is none.
  [[nodiscard]] static std::string baseFolder();
  // Initialises the store facade once: root baseFolder() + "/cask", group
  // folder baseFolder(), log level warning. Without a base folder it logs an
  // error and does nothing else.
  static void setupCask();
  // The same with another base folder (tests).
  static void setupCask(const std::string& baseFolder);
  // Opens (or finds open) "quillo.installer", multi-process and encrypted.
  // Null when the store cannot be opened: callers skip their read or write.
  [[nodiscard]] static std::shared_ptr<cask::facade::Cask> getInstallerCask();
  // The account number under userLegalUinKey; 0 without a store, value or a
  // parsable number.
  [[nodiscard]] static uint64_t legalUin();
  // A whole decimal uint64 with an optional "+" ("-" only for zero); nothing
  // for anything else.
  [[nodiscard]] static std::optional<uint64_t> parseLegalUin(std::string_view text);
};

}  // namespace quillo
