#pragma once
// The first page of the installer window: logo with version line, the main
// button, the hint under it, the progress bar and the password retry prompt
// in the button's place, and the install-complete tip. It shows its own copy
// of the install state and reports "did change" only when the progress bar
// has finished moving, which is when the flow takes its next step.
#include <memory>

#include <QWidget>

#include "installer/atomic.h"
#include "installer/page_content.h"
#include "installer/view_state.h"
#include "progress_views.h"
#include "small_widgets.h"

namespace quillo {

class InstallerStepOneView;

// Called on the main thread. The delegate must outlive the page or be reset.
class InstallerStepOneViewDelegate {
 public:
  virtual ~InstallerStepOneViewDelegate() = default;
  virtual void stepOneViewWillChangeToState(InstallerStepOneView* view,
                                            const InstallerStepOneViewState& state,
                                            const InstallerStepOneViewState& fromState) = 0;
  // Once the bar has finished showing `state`; a state replaced before that
  // gets no report of its own.
  virtual void stepOneViewDidChangeToState(InstallerStepOneView* view,
                                           const InstallerStepOneViewState& state) = 0;
  virtual void stepOneViewDidClickInstallBtn(InstallerStepOneView* view, QWidget* button) = 0;
  virtual void stepOneViewDidClickRetryBtn(InstallerStepOneView* view, QWidget* button) = 0;
};

class InstallerStepOneView : public QWidget {
 public:
  using ViewState = InstallerStepOneViewState;

  struct UI {
    struct LogoView {
      static constexpr int topToWindowTop = 54;
    };
    struct BtnView {
      static constexpr int topToLogoView = 48;
      static constexpr std::string_view iconImage = kFinishInstallImage;
    };
    struct StateHintView {
      static constexpr int topToBtn = 12;
    };
    // The page's children for a page of `size`: logo, button (the progress
    // box and the retry box lie exactly over it), hint, finish tip.
    struct Layout {
      QRect logo;
      QRect button;
      QRect hint;
      QRect finishTip;
    };
    [[nodiscard]] static Layout layout(QSize size);
  };

  explicit InstallerStepOneView(QWidget* parent = nullptr);
  ~InstallerStepOneView() override;

  [[nodiscard]] ViewState viewState() const;
  // Safe from any thread. On the main thread the page updates before this
  // returns; elsewhere the update is posted to the main thread.
  void setViewState(const ViewState& state);

  // One tick of the fake progress (+1 percent up to the band's upper bound).
  // Main thread; never reports did-change.
  void autoIncreaseProgress();

  void setDelegate(InstallerStepOneViewDelegate* delegate) { delegate_ = delegate; }
  [[nodiscard]] double currentProgress() const { return currentProgress_; }

  [[nodiscard]] InstallerLogoView* logoView() const { return logoView_; }
  [[nodiscard]] InstallerBtnView* btnView() const { return btnView_; }
  [[nodiscard]] InstallerStateHintTextView* stateHintView() const { return stateHintView_; }
  [[nodiscard]] InstallerFinishTipView* finishTipView() const { return finishTipView_; }
  [[nodiscard]] InstallerProgressView* progressView() const { return progressView_; }
  [[nodiscard]] InstallerRetryView* retryView() const { return retryView_; }

 // Places the children for the current size from the UI constants. Runs on
  // every resize; owners call it too, since Qt holds back resize events of
  // hidden widgets.
  void layoutSubviews();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The stored state and how many stores the main thread has not applied yet;
  // read and written together under one lock.
  struct Stored {
    ViewState state;
    int unapplied = 0;
  };

  void viewWillChangeToState(const ViewState& state, const ViewState& oldState);
  void applyStoredState();
  void updateViewHiddenState(const ViewState& state);
  void updateProgressView(const ViewState& state);
  void updateBtnTitle(const ViewState& state);
  void updateHintContent(const ViewState& state);
  void progressDidEnd(uint64_t generation);

  Atomic<Stored> stored_;
  // Lets blocks posted from other threads find the page, or learn it is
  // gone; created and destroyed on the main thread.
  std::shared_ptr<InstallerStepOneView*> self_;
  InstallerStepOneViewDelegate* delegate_ = nullptr;
  double currentProgress_ = 0;
  // Counts the bar moves started for states; only the latest may report.
  uint64_t progressGeneration_ = 0;

  InstallerLogoView* logoView_;
  InstallerProgressView* progressView_;
  InstallerBtnView* btnView_;
  InstallerStateHintTextView* stateHintView_;
  InstallerRetryView* retryView_;
  InstallerFinishTipView* finishTipView_;
};

}  // namespace quillo
