#pragma once
// The second page of the installer window: asks the user to enable the input
// method (requireEnabling) or to switch to it (fail(selectInputModeError)),
// with a title, a hint, a large picture and one button.
#include <memory>
#include <string>

#include <QWidget>

#include "installer/atomic.h"
#include "installer/page_content.h"
#include "installer/view_state.h"
#include "small_widgets.h"

namespace quillo {

class InstallerStepTwoView;

// Called on the main thread. The delegate must outlive the page or be reset.
class InstallerStepTwoViewDelegate {
 public:
  virtual ~InstallerStepTwoViewDelegate() = default;
  virtual void stepTwoViewDidClickBtn(InstallerStepTwoView* view, QWidget* button) = 0;
};

class InstallerStepTwoView : public QWidget {
 public:
  using ViewState = InstallerStepTwoViewState;

  struct UI {
    struct Title {
      static constexpr int fontSize = 20;
      static constexpr std::string_view textColor = "bc03";
      static constexpr int topToWindowTop = 30;
      static constexpr int height = 28;
    };
    struct HintView {
      static constexpr int topToTitle = 7;
    };
    struct ImageView {
      static constexpr std::string_view enableImage = kEnableInputImage;
      static constexpr std::string_view switchImage = kSwitchInputImage;
      static constexpr int topToHint = 20;
      static constexpr QSize size{320, 191};
      static constexpr qreal cornerRadius = 12;
    };
    struct BtnView {
      static constexpr QSize size{240, 44};
      static constexpr int topToImage = 24;
      static constexpr std::string_view finishImage = kFinishInstallImage;
    };
    struct Layout {
      QRect title;
      QRect hint;
      QRect image;
      QRect button;
    };
    [[nodiscard]] static Layout layout(QSize size);
  };

  // `installerName`: the installer bundle's name without extension, which
  // picks the button title after a failed mode selection; by default the
  // running installer's (G::bundlePath()).
  explicit InstallerStepTwoView(QWidget* parent = nullptr);
  InstallerStepTwoView(std::string installerName, QWidget* parent);
  ~InstallerStepTwoView() override;

  [[nodiscard]] ViewState viewState() const { return state_.get(); }
  // Safe from any thread; the page redraws on the main thread (at once when
  // called there).
  void setViewState(const ViewState& state);

  void setDelegate(InstallerStepTwoViewDelegate* delegate) { delegate_ = delegate; }

  [[nodiscard]] TextLabel* titleTextView() const { return titleTextView_; }
  [[nodiscard]] quillo::ImageView* imageView() const { return imageView_; }
  [[nodiscard]] InstallerBtnView* btnView() const { return btnView_; }
  [[nodiscard]] InstallerStateHintTextView* stateHintTextView() const { return stateHintTextView_; }

 // Places the children for the current size from the UI constants. Runs on
  // every resize; owners call it too, since Qt holds back resize events of
  // hidden widgets.
  void layoutSubviews();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void onStateChange();

  std::string installerName_;
  TextLabel* titleTextView_;
  quillo::ImageView* imageView_;
  InstallerBtnView* btnView_;
  InstallerStateHintTextView* stateHintTextView_;
  Atomic<ViewState> state_;
  InstallerStepTwoViewDelegate* delegate_ = nullptr;
  std::shared_ptr<InstallerStepTwoView*> self_;
};

}  // namespace quillo
