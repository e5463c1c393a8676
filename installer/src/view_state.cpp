#include "installer/view_state.h"

#include <cstdio>

namespace quillo {
namespace {

template <typename State>
std::string describeSevenCase(const State& state) {
  using Kind = typename State::Kind;
  switch (state.kind()) {
    case Kind::downloading: {
      char buffer[48];
      std::snprintf(buffer, sizeof buffer, "downloading(%g)", state.progress());
      return buffer;
    }
    case Kind::complete:
      return state.isReinstall() ? "complete(true)" : "complete(false)";
    case Kind::fail:
      return "fail(" + describe(state.error()) + ")";
    case Kind::none:
      return "none";
    case Kind::installing:
      return "installing";
    case Kind::activiting:
      return "activiting";
    case Kind::requireEnabling:
      return "requireEnabling";
  }
  return "unknown";
}

}  // namespace

std::string describe(InstallerViewStateError::ViewStateDownloadErrorReason reason) {
  using Reason = InstallerViewStateError::ViewStateDownloadErrorReason;
  switch (reason) {
    case Reason::lowDiskSpace:
      return "lowDiskSpace";
    case Reason::networkError:
      return "networkError";
    case Reason::validateError:
      return "validateError";
  }
  return "unknown";
}

std::string describe(const InstallerViewStateError& error) {
  using Kind = InstallerViewStateError::Kind;
  switch (error.kind()) {
    case Kind::downloadError:
      return "downloadError(" + describe(error.downloadReason()) + ")";
    case Kind::selectInputModeError:
      return error.isReinstall() ? "selectInputModeError(true)" : "selectInputModeError(false)";
    case Kind::authError:
      return "authError";
    case Kind::installError:
      return "installError";
  }
  return "unknown";
}

std::string describe(const InstallerViewState& state) { return describeSevenCase(state); }
std::string describe(const InstallerStepOneViewState& state) { return describeSevenCase(state); }

std::string describe(const InstallerStepTwoViewState& state) {
  return state.kind() == InstallerStepTwoViewState::Kind::fail
             ? "fail(" + describe(state.error()) + ")"
             : "requireEnabling";
}

}  // namespace quillo
