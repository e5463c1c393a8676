#include "installer/page_content.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ext/string_path.h"

namespace quillo {
namespace {

using ErrorKind = InstallerViewStateError::Kind;
using Reason = InstallerViewStateError::ViewStateDownloadErrorReason;
using StepOneKind = InstallerStepOneViewState::Kind;

// NaN becomes `lo`; everything else is held inside [lo, hi].
double clampNumber(double value, double lo, double hi) {
  if (std::isnan(value)) return lo;
  return std::clamp(value, lo, hi);
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

bool showsStepTwo(const InstallerViewState& state) {
  return state.is(InstallerViewState::Kind::requireEnabling) ||
         state.isFail(ErrorKind::selectInputModeError);
}

InstallerStepOneViewState stepOneState(const InstallerViewState& state) {
  return InstallerStepOneViewState::from(state);
}

InstallerStepTwoViewState stepTwoState(const InstallerViewState& state) {
  return state.is(InstallerViewState::Kind::fail) ? InstallerStepTwoViewState::fail(state.error())
                                                  : InstallerStepTwoViewState::requireEnabling();
}

ProgressRange progressRange(const InstallerStepOneViewState& state) {
  switch (state.kind()) {
    case StepOneKind::downloading:
      // A download reporting more than it was asked for must not push the
      // band's lower bound past its upper one.
      return {10 + 30 * clampNumber(state.progress(), 0, 1), 40};
    case StepOneKind::complete:
    case StepOneKind::requireEnabling:
      return {100, 100};
    case StepOneKind::fail:
      return {0, 0};
    case StepOneKind::none:
      return {0, 10};
    case StepOneKind::installing:
      return {40, 80};
    case StepOneKind::activiting:
      return {80, 100};
  }
  return {0, 0};
}

double autoIncreasedProgress(const InstallerStepOneViewState& state, double current) {
  return std::min(current + 1.0, progressRange(state).upper);
}

StepOneVisibility stepOneVisibility(const InstallerStepOneViewState& state) {
  StepOneVisibility v;  // logo, version label, button and hint shown; the rest hidden
  switch (state.kind()) {
    case StepOneKind::downloading:
    case StepOneKind::installing:
    case StepOneKind::activiting:
    case StepOneKind::requireEnabling:
      v.button = false;
      v.hint = false;
      v.progressBox = true;
      break;
    case StepOneKind::complete:
      v.versionLabel = state.isReinstall();
      v.hint = false;
      v.finishTip = !state.isReinstall();
      break;
    case StepOneKind::fail:
      switch (state.error().kind()) {
        case ErrorKind::authError:
          v.button = false;
          v.hint = false;
          v.retryBox = true;
          break;
        case ErrorKind::installError:
          break;
        case ErrorKind::downloadError:
        case ErrorKind::selectInputModeError:
          v.hint = false;
          break;
      }
      break;
    case StepOneKind::none:
      break;
  }
  return v;
}

std::optional<ButtonContent> stepOneButton(const InstallerStepOneViewState& state) {
  switch (state.kind()) {
    case StepOneKind::none:
      return ButtonContent{"安装", false};
    case StepOneKind::complete:
      return ButtonContent{"前往设置我的输入法", state.isReinstall()};
    case StepOneKind::fail:
      switch (state.error().kind()) {
        case ErrorKind::downloadError:
          switch (state.error().downloadReason()) {
            case Reason::lowDiskSpace:
              return ButtonContent{"磁盘空间不足 · 请重试", false};
            case Reason::networkError:
              return ButtonContent{"网络异常 · 请稍后重试", false};
            case Reason::validateError:
              return ButtonContent{"文件校验失败 · 请重试", false};
          }
          return std::nullopt;
        case ErrorKind::installError:
          return ButtonContent{"未安装成功 · 请重试", false};
        case ErrorKind::authError:
        case ErrorKind::selectInputModeError:
          return std::nullopt;
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::string stepOneHint(const InstallerStepOneViewState& state) {
  return state.isFail(ErrorKind::installError) ? "多次重试仍未成功，请重新下载安装包"
                                               : "适用于 macOS X 10.15 或更高版本";
}

std::string progressText(std::string_view prefix, double progress) {
  // Converting a negative, NaN or huge double to an unsigned integer is
  // undefined; hold it inside the bar's range first.
  const auto percent = static_cast<unsigned>(clampNumber(progress, 0, 100));
  char number[16];
  std::snprintf(number, sizeof number, "%u%%", percent);
  return std::string(prefix) + " " + number;
}

double progressAnimationDuration(double targetWidth, double currentWidth, double barWidth,
                                 bool animated) {
  if (!animated) return 0;
  if (!(barWidth > 0) || std::isnan(targetWidth) || std::isnan(currentWidth)) return 0;
  const double distance = std::clamp(targetWidth, 0.0, barWidth) - std::clamp(currentWidth, 0.0, barWidth);
  if (!(distance > 0)) return 0;
  return distance / barWidth * 1.5;
}

std::optional<StepTwoContent> stepTwoContent(const InstallerStepTwoViewState& state,
                                             std::string_view name) {
  if (state.kind() == InstallerStepTwoViewState::Kind::requireEnabling) {
    return StepTwoContent{"启用输入法", kEnableInputImage,
                          "为了正常使用，请将「Chirpa输入法」添加到输入法列表", {"去启用", false}};
  }
  const InstallerViewStateError error = state.error();
  if (error.kind() != ErrorKind::selectInputModeError) return std::nullopt;
  StepTwoContent content{"切换输入法", kSwitchInputImage,
                         "可以在右上角导航栏切换成「Chirpa输入法」", {}};
  if (error.isReinstall()) {
    content.button = {"安装完成", true};
  } else if (endsWith(name, "_d") || endsWith(name, "_e")) {
    content.button = {"开始体验跨设备粘贴", false};
  } else {
    content.button = {"个性化定制输入法", false};
  }
  return content;
}

std::string installerName(std::string_view bundlePath) {
  return ext::deletingPathExtension(ext::lastPathComponent(bundlePath));
}

}  // namespace quillo
