#pragma once
// TEMPORARY stand-in for the installer store until its own branch lands:
// the same names (InstallerCaskManager, InstallerCaskKeys,
// InstallerInstallEventInfo) over the store engine, plain (no key).
// Replace this file wholesale with the real one on merge.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cask {
class Cask;
}

namespace quillo {

struct InstallerCaskKeys {
  static constexpr const char* showGreenPointKey = "ShouldShowGreenPoint";
  static constexpr const char* stepTwoOpenSettingsKey = "StepTwo_openSettings";
  static constexpr const char* reportInstallEventKey = "InstallEventReportInfo";
  static constexpr const char* useThirdSettingKey = "use_third_setting";
  static constexpr const char* userLegalUinKey = "biz_leagl_uin";
};

struct InstallerInstallEventInfo {
  std::string originSourceId;
  int32_t source = 0;
  [[nodiscard]] std::optional<std::string> toJSON() const;
  [[nodiscard]] static std::optional<InstallerInstallEventInfo> fromJSON(const std::string& json);
  friend bool operator==(const InstallerInstallEventInfo&, const InstallerInstallEventInfo&) = default;
};

class InstallerCask {
 public:
  explicit InstallerCask(cask::Cask* store) : store_(store) {}
  bool setBool(bool value, const std::string& key);
  bool setString(const std::string& value, const std::string& key);
  bool setInt64(int64_t value, const std::string& key);
  bool setData(const std::vector<uint8_t>& value, const std::string& key);
  [[nodiscard]] std::optional<std::string> getString(const std::string& key);
  [[nodiscard]] bool getBool(const std::string& key);
  [[nodiscard]] int64_t getInt64(const std::string& key);
  [[nodiscard]] std::optional<std::vector<uint8_t>> getData(const std::string& key);
  [[nodiscard]] bool containsKey(const std::string& key);
  void removeValueForKey(const std::string& key);

 private:
  cask::Cask* store_;
};

class InstallerCaskManager {
 public:
  static void setupCask();
  // Null when the store cannot be opened.
  [[nodiscard]] static std::optional<InstallerCask> getInstallerCask();
};

}  // namespace quillo
