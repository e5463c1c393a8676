#pragma once
// The install flow's view state and its errors, shared by the flow, the
// window's container and its two pages. Plain values: copy them freely and
// between threads; two states are equal when case and payload match.
//
//   auto s = quillo::InstallerViewState::fail(
//       quillo::InstallerViewStateError::downloadError(
//           quillo::InstallerViewStateError::ViewStateDownloadErrorReason::networkError));
//   describe(s)  -> "fail(downloadError(networkError))"
//
// The container widget names the first type InstallerView::ViewState, the
// pages theirs InstallerStepOneView::ViewState and InstallerStepTwoView::ViewState.
#include <string>

namespace quillo {

class InstallerViewStateError {
 public:
  enum class Kind { downloadError, selectInputModeError, authError, installError };
  enum class ViewStateDownloadErrorReason { lowDiskSpace, networkError, validateError };

  [[nodiscard]] static InstallerViewStateError downloadError(ViewStateDownloadErrorReason reason) {
    return InstallerViewStateError(Kind::downloadError, reason, false);
  }
  // `isReinstall`: the run installed over an existing input method.
  [[nodiscard]] static InstallerViewStateError selectInputModeError(bool isReinstall) {
    return InstallerViewStateError(Kind::selectInputModeError, {}, isReinstall);
  }
  [[nodiscard]] static InstallerViewStateError authError() {
    return InstallerViewStateError(Kind::authError, {}, false);
  }
  [[nodiscard]] static InstallerViewStateError installError() {
    return InstallerViewStateError(Kind::installError, {}, false);
  }

  [[nodiscard]] Kind kind() const { return kind_; }
  // Meaningful for downloadError only (lowDiskSpace otherwise).
  [[nodiscard]] ViewStateDownloadErrorReason downloadReason() const { return reason_; }
  // Meaningful for selectInputModeError only (false otherwise).
  [[nodiscard]] bool isReinstall() const { return isReinstall_; }

  friend bool operator==(const InstallerViewStateError&, const InstallerViewStateError&) = default;

 private:
  InstallerViewStateError(Kind kind, ViewStateDownloadErrorReason reason, bool isReinstall)
      : kind_(kind), reason_(reason), isReinstall_(isReinstall) {}

  // Payloads of other cases stay at their defaults so that == compares case and payload.
  Kind kind_;
  ViewStateDownloadErrorReason reason_ = ViewStateDownloadErrorReason::lowDiskSpace;
  bool isReinstall_ = false;
};

// The seven-case state. The container and the step-one page each keep a type
// of their own with this shape; `Tag` only tells them apart.
template <typename Tag>
class SevenCaseViewState {
 public:
  enum class Kind { downloading, complete, fail, none, installing, activiting, requireEnabling };

  // The initial state.
  SevenCaseViewState() = default;

  // `progress`: the download fraction, 0.0-1.0.
  [[nodiscard]] static SevenCaseViewState downloading(double progress) {
    SevenCaseViewState s(Kind::downloading);
    s.progress_ = progress;
    return s;
  }
  [[nodiscard]] static SevenCaseViewState complete(bool isReinstall) {
    SevenCaseViewState s(Kind::complete);
    s.isReinstall_ = isReinstall;
    return s;
  }
  [[nodiscard]] static SevenCaseViewState fail(InstallerViewStateError error) {
    SevenCaseViewState s(Kind::fail);
    s.error_ = error;
    return s;
  }
  [[nodiscard]] static SevenCaseViewState none() { return SevenCaseViewState(Kind::none); }
  [[nodiscard]] static SevenCaseViewState installing() {
    return SevenCaseViewState(Kind::installing);
  }
  [[nodiscard]] static SevenCaseViewState activiting() {
    return SevenCaseViewState(Kind::activiting);
  }
  [[nodiscard]] static SevenCaseViewState requireEnabling() {
    return SevenCaseViewState(Kind::requireEnabling);
  }

  // The same case and payload in another state type of this shape.
  template <typename OtherTag>
  [[nodiscard]] static SevenCaseViewState from(const SevenCaseViewState<OtherTag>& other) {
    SevenCaseViewState s(static_cast<Kind>(other.kind()));
    s.progress_ = other.kind() == SevenCaseViewState<OtherTag>::Kind::downloading ? other.progress() : 0.0;
    s.isReinstall_ = other.kind() == SevenCaseViewState<OtherTag>::Kind::complete && other.isReinstall();
    s.error_ = other.error();
    return s;
  }

  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] bool is(Kind kind) const { return kind_ == kind; }
  // Payloads; each is meaningful for its own case only (a neutral value otherwise).
  [[nodiscard]] double progress() const { return progress_; }
  [[nodiscard]] bool isReinstall() const { return isReinstall_; }
  [[nodiscard]] InstallerViewStateError error() const { return error_; }
  // Whether this is fail(e) with e of `kind`.
  [[nodiscard]] bool isFail(InstallerViewStateError::Kind kind) const {
    return kind_ == Kind::fail && error_.kind() == kind;
  }

  friend bool operator==(const SevenCaseViewState&, const SevenCaseViewState&) = default;

 private:
  explicit SevenCaseViewState(Kind kind) : kind_(kind) {}

  Kind kind_ = Kind::none;
  double progress_ = 0.0;
  bool isReinstall_ = false;
  InstallerViewStateError error_ = InstallerViewStateError::installError();
};

namespace detail {
struct InstallerViewTag;
struct InstallerStepOneViewTag;
}  // namespace detail

// InstallerView::ViewState.
using InstallerViewState = SevenCaseViewState<detail::InstallerViewTag>;
// InstallerStepOneView::ViewState.
using InstallerStepOneViewState = SevenCaseViewState<detail::InstallerStepOneViewTag>;

// InstallerStepTwoView::ViewState: fail(e) or requireEnabling (the initial state).
class InstallerStepTwoViewState {
 public:
  enum class Kind { fail, requireEnabling };

  InstallerStepTwoViewState() = default;
  [[nodiscard]] static InstallerStepTwoViewState fail(InstallerViewStateError error) {
    InstallerStepTwoViewState s;
    s.kind_ = Kind::fail;
    s.error_ = error;
    return s;
  }
  [[nodiscard]] static InstallerStepTwoViewState requireEnabling() { return {}; }

  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] InstallerViewStateError error() const { return error_; }

  friend bool operator==(const InstallerStepTwoViewState&,
                         const InstallerStepTwoViewState&) = default;

 private:
  Kind kind_ = Kind::requireEnabling;
  InstallerViewStateError error_ = InstallerViewStateError::installError();
};

// Printed forms for log lines: "downloading(0.25)", "complete(true)",
// "fail(selectInputModeError(false))", "none", ...
[[nodiscard]] std::string describe(InstallerViewStateError::ViewStateDownloadErrorReason reason);
[[nodiscard]] std::string describe(const InstallerViewStateError& error);
[[nodiscard]] std::string describe(const InstallerViewState& state);
[[nodiscard]] std::string describe(const InstallerStepOneViewState& state);
[[nodiscard]] std::string describe(const InstallerStepTwoViewState& state);

}  // namespace quillo
