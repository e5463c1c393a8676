#pragma once
// Identities of what the installer puts on the machine and talks to: the
// input method bundle, its settings and feedback applications, and the
// launch argument the settings application understands.
#include <optional>
#include <string>
#include <string_view>

namespace quillo {

// System-wide locations; resolve them with folders::systemPath() before use.
inline constexpr std::string_view kInputMethodBundleLocation = "/Library/Input Methods/Quillo.app";
inline constexpr std::string_view kSettingsAppLocation =
    "/Library/Input Methods/Quillo.app/Contents/MacOS/QuilloSettings.app";

inline constexpr std::string_view kInputMethodBundleId = "com.norvane.inputmethod.quillo";
inline constexpr std::string_view kInputSourceId = "com.norvane.inputmethod.quillo";
inline constexpr std::string_view kPinyinInputModeId = "com.norvane.inputmethod.quillo.pinyin";
inline constexpr std::string_view kSettingsAppBundleId = "com.norvane.QuilloSettings";
inline constexpr std::string_view kFeedbackAppBundleId = "com.norvane.QuilloFeedback";

// The distributed notification a running settings application listens to.
inline constexpr std::string_view kSettingsChannelNotification = "Quillo2Settings_channel";

// Which page the settings application opens; compared by raw value.
enum class QuilloSettingsArgument { showSettings, showDeviceSync };

[[nodiscard]] std::string_view rawValue(QuilloSettingsArgument argument);
// Exactly "ShowSettings" or "ShowDeviceSync"; nothing for any other text.
[[nodiscard]] std::optional<QuilloSettingsArgument> settingsArgumentFromRawValue(
    std::string_view raw);

}  // namespace quillo
