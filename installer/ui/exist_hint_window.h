#pragma once
// The not-enabled hint sheet: shown on the main window when the user closes
// it while the input method still has to be enabled. It warns that quitting
// leaves the input method unusable and offers "去启用" and "退出安装".
// Main thread only.
#include <string_view>

#include <QPointer>
#include <QWidget>

#include "widget_kit.h"

namespace quillo {

class InstallerExistHintView;

// The sheet's buttons, as the flow controller receives them. The receiver
// ends the sheet (InstallerExistHintWindowController::close()).
class InstallerExistHintWindowDelegate {
 public:
  virtual ~InstallerExistHintWindowDelegate() = default;
  virtual void existInstall() = 0;  // quit the installer
  virtual void enableInput() = 0;   // try to enable the input source
};

class InstallerExistHintViewDelegate {
 public:
  virtual ~InstallerExistHintViewDelegate() = default;
  virtual void existHintViewDidClickEnableInput(InstallerExistHintView* view) = 0;
  virtual void existHintViewDidClickCancel(InstallerExistHintView* view) = 0;
};

// The sheet's content: picture, title, subtitle, and the quit (left) and
// enable (right) buttons.
class InstallerExistHintView : public QWidget {
 public:
  struct UI {
    struct Image {
      static constexpr QSize size{88, 88};
      static constexpr int topToWindow = 30;
      static constexpr std::string_view name = "exist_install_logo";
    };
    struct Text {
      static constexpr int fontSize = 16;
      static constexpr int height = 19;
      static constexpr int verticalSpacing = 8;
      static constexpr int topToImage = 20;
      static constexpr std::string_view color = "bc01";
    };
    struct Button {
      static constexpr QSize size{136, 44};
      static constexpr int fontSize = 15;
      static constexpr int topToSubTitle = 27;
      static constexpr int horizontalSpacing = 12;
      static constexpr qreal cornerRadius = 10;
    };
    static constexpr std::string_view backgroundColor = "bg06";
    // The layer's border colour, set with each appearance; the border's
    // width stays 0, so it is not drawn.
    static constexpr std::string_view borderColor = "bc09";
    static constexpr qreal borderWidth = 0;
    // The sheet's shadow: black at 0.25, falling off over `shadowRadius`
    // points around the sides and the bottom, `shadowOffsetY` lower.
    static constexpr QColor shadowColor{0, 0, 0, 64};
    static constexpr int shadowRadius = 12;
    static constexpr int shadowOffsetY = 3;
    struct Layout {
      QRect image;
      QRect title;
      QRect subTitle;
      QRect enableButton;
      QRect cancelButton;
    };
    [[nodiscard]] static Layout layout(QSize size);
  };

  explicit InstallerExistHintView(QWidget* parent = nullptr);

  void setDelegate(InstallerExistHintViewDelegate* delegate) { delegate_ = delegate; }
  // Re-reads every named colour for the current appearance, and sets the
  // border and shadow colours.
  void updateLayoutForCurrentAppearance();
  [[nodiscard]] QColor borderColor() const { return border_; }
  [[nodiscard]] QColor shadowColor() const { return shadow_; }

  [[nodiscard]] ImageView* imageView() const { return imageView_; }
  [[nodiscard]] TextLabel* titleLabel() const { return titleLabel_; }
  [[nodiscard]] TextLabel* subTitleLabel() const { return subTitleLabel_; }
  [[nodiscard]] RoundedButton* enableInputBtn() const { return enableInputBtn_; }
  [[nodiscard]] RoundedButton* cancelBtn() const { return cancelBtn_; }

 // Places the children for the current size from the UI constants (also on
  // every resize).
  void layoutSubviews();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  ImageView* imageView_;
  TextLabel* titleLabel_;
  TextLabel* subTitleLabel_;
  RoundedButton* enableInputBtn_;
  RoundedButton* cancelBtn_;
  InstallerExistHintViewDelegate* delegate_ = nullptr;
  QColor background_;
  QColor border_;
  QColor shadow_;
};

// Owns the sheet window and relays its two buttons to its delegate.
class InstallerExistHintWindowController : private InstallerExistHintViewDelegate {
 public:
  struct UI {
    struct Window {
      static constexpr QSize size{348, 287};
    };
  };

  InstallerExistHintWindowController();
  ~InstallerExistHintWindowController() override;
  InstallerExistHintWindowController(const InstallerExistHintWindowController&) = delete;
  InstallerExistHintWindowController& operator=(const InstallerExistHintWindowController&) = delete;

  // The delegate must outlive the controller or be reset first.
  void setDelegate(InstallerExistHintWindowDelegate* delegate) { delegate_ = delegate; }

  // Shows the sheet on `parent`'s window: a window-modal child without
  // decorations, hanging from the top of its content (below the menu bar),
  // centred, with its shadow drawn on the window around it. A sheet that is
  // already up stays as it is.
  void beginSheet(QWidget* parent);
  // Ends the sheet and releases the parent from its modality.
  void close();
  [[nodiscard]] bool isSheetVisible() const;

  [[nodiscard]] QWidget* window() const { return window_; }
  // The shadow under the sheet, a child of the parent window; null before
  // the first beginSheet().
  [[nodiscard]] QWidget* shadow() const { return shadow_; }
  [[nodiscard]] InstallerExistHintView* hintView() const { return hintView_; }

 private:
  void existHintViewDidClickEnableInput(InstallerExistHintView* view) override;
  void existHintViewDidClickCancel(InstallerExistHintView* view) override;

  InstallerExistHintWindowDelegate* delegate_ = nullptr;
  // The window belongs to its parent once the sheet has been begun; the
  // pointer clears itself if the parent takes it down first.
  QPointer<QWidget> window_;
  QPointer<QWidget> shadow_;
  InstallerExistHintView* hintView_;
};

}  // namespace quillo
