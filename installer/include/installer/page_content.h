#pragma once
// What the window shows for a view state: which page, which subviews, which
// texts and images, and where the progress bar moves. Pure functions of the
// state, so the flow and its tests can reason about the window without Qt;
// the widgets in ui/ only apply the results. Safe from any thread.
//
//   progressRange(InstallerStepOneViewState::downloading(0.5))  -> {25, 40}
//   progressText("正在安装", 37.8)                                -> "正在安装 37%"
#include <optional>
#include <string>
#include <string_view>

#include "installer/view_state.h"

namespace quillo {

// --- The container ---------------------------------------------------------

// Whether the container shows the step-two page (and hides step one):
// requireEnabling and fail(selectInputModeError(_)).
[[nodiscard]] bool showsStepTwo(const InstallerViewState& state);
// The state pushed into each page: step one gets the same case and payload;
// step two gets fail(e) for fail(e) and requireEnabling for everything else.
[[nodiscard]] InstallerStepOneViewState stepOneState(const InstallerViewState& state);
[[nodiscard]] InstallerStepTwoViewState stepTwoState(const InstallerViewState& state);

// --- The step-one page ------------------------------------------------------

// The progress band, in percent.
struct ProgressRange {
  double lower = 0;
  double upper = 0;
  friend bool operator==(const ProgressRange&, const ProgressRange&) = default;
};
// downloading(p): 10 + 30p .. 40 (p clamped to 0-1, NaN as 0); complete and
// requireEnabling: 100; fail: 0; none: 0 .. 10; installing: 40 .. 80;
// activiting: 80 .. 100.
[[nodiscard]] ProgressRange progressRange(const InstallerStepOneViewState& state);

// One tick of the fake progress: `current` + 1, held inside the state's band's
// upper bound.
[[nodiscard]] double autoIncreasedProgress(const InstallerStepOneViewState& state,
                                           double current);

struct StepOneVisibility {
  bool logo = true;
  bool versionLabel = true;
  bool button = true;
  bool hint = true;
  bool progressBox = false;
  bool retryBox = false;
  bool finishTip = false;
  friend bool operator==(const StepOneVisibility&, const StepOneVisibility&) = default;
};
[[nodiscard]] StepOneVisibility stepOneVisibility(const InstallerStepOneViewState& state);

// The image assets and fixed texts of the pages.
inline constexpr std::string_view kFinishInstallImage = "icon_finish_install";
inline constexpr std::string_view kEnableInputImage = "icon_enable_input";
inline constexpr std::string_view kSwitchInputImage = "icon_switch_input";
inline constexpr std::string_view kProgressPrefixText = "正在安装";

// A button's title and whether the finish icon stands before it.
struct ButtonContent {
  std::string title;
  bool finishIcon = false;
  friend bool operator==(const ButtonContent&, const ButtonContent&) = default;
};
// The main button of the step-one page; nothing means "leave it as it is"
// (fail(authError), fail(selectInputModeError), and the working states).
[[nodiscard]] std::optional<ButtonContent> stepOneButton(const InstallerStepOneViewState& state);
// The hint under the main button.
[[nodiscard]] std::string stepOneHint(const InstallerStepOneViewState& state);

// The progress label: prefix, a space, the percentage truncated toward zero
// (clamped to 0-100; NaN shows 0) and a percent sign.
[[nodiscard]] std::string progressText(std::string_view prefix, double progress);

// Seconds the foreground of a `barWidth`-wide bar takes to grow from
// `currentWidth` to `targetWidth`: 1.5 s for the full width, proportionally
// less for shorter moves; 0 when not animated, when shrinking, and when any
// input is zero-width, negative or not a number.
[[nodiscard]] double progressAnimationDuration(double targetWidth, double currentWidth,
                                               double barWidth, bool animated);

// --- The step-two page ------------------------------------------------------

struct StepTwoContent {
  std::string title;
  std::string_view image;  // asset name
  std::string hint;
  ButtonContent button;
  friend bool operator==(const StepTwoContent&, const StepTwoContent&) = default;
};
// The page's content; nothing (leave it as it is) for fail states other than
// selectInputModeError. `installerName` is the installer bundle's file name
// without extension: "_d" and "_e" suffixes (case-sensitive) mark the
// cross-device builds.
[[nodiscard]] std::optional<StepTwoContent> stepTwoContent(const InstallerStepTwoViewState& state,
                                                           std::string_view installerName);
// The installer bundle's file name without its extension ("QuilloInstaller_d").
[[nodiscard]] std::string installerName(std::string_view bundlePath);

}  // namespace quillo
