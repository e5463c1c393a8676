#pragma once
// The container of the installer window's two pages and the owner of the
// install flow's single view state. Setting `viewState` is the only way the
// flow changes what the user sees: the container picks the visible page,
// pushes the state into both pages and relays their reports and clicks to
// its delegate (the flow controller).
#include <memory>

#include <QWidget>

#include "installer/atomic.h"
#include "installer/view_state.h"
#include "step_one_view.h"
#include "step_two_view.h"

namespace quillo {

class InstallerView;

// The flow controller's side. Called on the main thread only. The delegate
// must outlive the container or be reset to nullptr first.
class InstallerViewDelegate {
 public:
  virtual ~InstallerViewDelegate() = default;
  // Twice per change: once from the container's setter, once relayed from the
  // step-one page; handle it idempotently. On the main thread `fromState` is
  // the previous state; for a set made on another thread it is whatever the
  // container holds when the report runs (possibly the new state already).
  virtual void installerViewWillChangeToState(InstallerView* view,
                                              const InstallerViewState& state,
                                              const InstallerViewState& fromState) = 0;
  // Once the step-one page has finished showing `state` (its progress bar has
  // stopped moving), exactly once per state that is not replaced before.
  virtual void installerViewDidChangeToState(InstallerView* view,
                                             const InstallerViewState& state) = 0;
  virtual void installerViewDidClickInstallBtn(InstallerView* view, QWidget* button) = 0;
  virtual void installerViewDidClickEnableBtn(InstallerView* view, QWidget* button) = 0;
  virtual void installerViewDidClickRetryBtn(InstallerView* view, QWidget* button) = 0;
};

class InstallerView : public QWidget,
                      private InstallerStepOneViewDelegate,
                      private InstallerStepTwoViewDelegate {
 public:
  using ViewState = InstallerViewState;

  explicit InstallerView(QWidget* parent = nullptr);
  // `installerName` goes to the step-two page (see InstallerStepTwoView).
  InstallerView(std::string installerName, QWidget* parent);
  ~InstallerView() override;

  [[nodiscard]] ViewState viewState() const { return state_.get(); }
  // Safe from any thread. Reports will-change, stores the state, then shows
  // it: at once on the main thread, otherwise on the main thread later (the
  // pages change only when its loop runs). Any state may be set at any time,
  // the same one again included.
  void setViewState(const ViewState& state);

  void setDelegate(InstallerViewDelegate* delegate) { delegate_ = delegate; }
  [[nodiscard]] InstallerViewDelegate* delegate() const { return delegate_; }

  [[nodiscard]] InstallerStepOneView* stepOneView() const { return stepOneView_; }
  [[nodiscard]] InstallerStepTwoView* stepTwoView() const { return stepTwoView_; }

 // Places the children for the current size from the UI constants. Runs on
  // every resize; owners call it too, since Qt holds back resize events of
  // hidden widgets.
  void layoutSubviews();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void updateSubviewsHiddenState();
  void updateSubviewsViewState();

  void stepOneViewWillChangeToState(InstallerStepOneView* view,
                                    const InstallerStepOneViewState& state,
                                    const InstallerStepOneViewState& fromState) override;
  void stepOneViewDidChangeToState(InstallerStepOneView* view,
                                   const InstallerStepOneViewState& state) override;
  void stepOneViewDidClickInstallBtn(InstallerStepOneView* view, QWidget* button) override;
  void stepOneViewDidClickRetryBtn(InstallerStepOneView* view, QWidget* button) override;
  void stepTwoViewDidClickBtn(InstallerStepTwoView* view, QWidget* button) override;

  InstallerViewDelegate* delegate_ = nullptr;
  Atomic<ViewState> state_;
  InstallerStepOneView* stepOneView_;
  InstallerStepTwoView* stepTwoView_;
  // Lets blocks posted from other threads find the container or learn it is
  // gone; created and destroyed on the main thread.
  std::shared_ptr<InstallerView*> self_;
};

}  // namespace quillo
