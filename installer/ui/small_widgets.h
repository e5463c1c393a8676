#pragma once
// The fixed-size widgets the installer's pages are assembled from: the logo
// with its version line, the main action button, the hint line, the
// install-complete tip and the administrator-password retry prompt. Each
// fixes its own size, fonts, colour names and images (its `UI` constants);
// the pages only place them. Main thread only.
#include <optional>
#include <string_view>

#include <QWidget>

#include "widget_kit.h"

namespace quillo {

// Logo picture with the version line below it. The layout size is 116 x 158;
// the version label reaches 2 pixels below that, and since Qt clips children
// to their parent, the widget itself is 2 pixels taller (`widgetSize`).
class InstallerLogoView : public QWidget {
 public:
  struct UI {
    static constexpr QSize size{116, 158};
    static constexpr QSize widgetSize{116, 160};
    static constexpr QSize imageViewSize{116, 135};
    static constexpr int versionTextHeight = 16;
    static constexpr std::string_view image = "icon_install_logo";
    static constexpr std::string_view versionColor = "bc09";
    static constexpr int versionFontSize = 13;
    static constexpr QRect imageRect{0, 0, 116, 135};
    // Centred, bottom 2 below the view's, 4 in from each side.
    static constexpr QRect versionLabelRect{4, 158 + 2 - 16, 116 - 8, 16};
  };

  explicit InstallerLogoView(QWidget* parent = nullptr);

  [[nodiscard]] ImageView* logoImage() const { return logoImage_; }
  [[nodiscard]] TextLabel* versionLabel() const { return versionLabel_; }
  [[nodiscard]] QSize sizeHint() const override { return UI::size; }

 private:
  ImageView* logoImage_;
  TextLabel* versionLabel_;
};

// The 240 x 44 main action button: title (15 px, "bc17") on an accent
// rounded rectangle ("bg04", radius 12), picture before the title.
class InstallerBtnView : public RoundedButton {
 public:
  struct UI {
    static constexpr QSize size{240, 44};
    static constexpr std::string_view textColor = "bc17";
    static constexpr std::string_view backgroundColor = "bg04";
    static constexpr qreal cornerRadius = 12;
    static constexpr int titleFontSize = 15;
    // The finish picture's size beside the title.
    static constexpr QSize imageSize{24, 16};
  };

  explicit InstallerBtnView(QWidget* parent = nullptr);
  [[nodiscard]] QSize sizeHint() const override { return UI::size; }
};

// The hint line: 12 px, colour "bc09", centred, wrapping, 17 px high.
class InstallerStateHintTextView : public TextLabel {
 public:
  struct UI {
    static constexpr std::string_view textColor = "bc09";
    static constexpr int fontSize = 12;
    static constexpr int height = 17;
  };

  explicit InstallerStateHintTextView(QWidget* parent = nullptr);
  void updateContentAndAdjustSize(const QString& text);
};

// "安装完成" with a check mark, 80 x 18.
class InstallerFinishTipView : public QWidget {
 public:
  struct UI {
    static constexpr QSize size{80, 18};
    static constexpr QSize iconSize{14, 14};
    static constexpr int textFontSize = 14;
    static constexpr std::string_view textColor = "bg04";
    static constexpr std::string_view image = "icon_install_complete";
    static constexpr int textSpacing = 6;
    static constexpr QRect iconRect{0, (18 - 14) / 2, 14, 14};
    static constexpr QRect textRect{14 + 6, 0, 80 - 14 - 6, 18};
  };

  explicit InstallerFinishTipView(QWidget* parent = nullptr);

  [[nodiscard]] ImageView* iconView() const { return iconView_; }
  [[nodiscard]] TextLabel* textField() const { return textField_; }
  [[nodiscard]] QSize sizeHint() const override { return UI::size; }

 private:
  ImageView* iconView_;
  TextLabel* textField_;
};

// "请输入管理员账号密码" with a small "重试" button, on a pale accent box.
// The owner connects the button's clicked signal.
class InstallerRetryView : public QWidget {
 public:
  struct UI {
    static constexpr QSize size{240, 44};
    static constexpr QSize btnSize{52, 28};
    static constexpr qreal cornerRadius = 12;
    static constexpr qreal btnCornerRadius = 7;
    static constexpr int fontSize = 15;
    static constexpr int btnFontSize = 14;
    static constexpr std::string_view textColor = "bc16";
    static constexpr std::string_view accentColor = "bg04";
    static constexpr qreal boxAlpha = 0.1;
    static constexpr int textLeading = 14;
    static constexpr int btnTrailing = 8;
    static constexpr QRect btnRect{240 - 8 - 52, (44 - 28) / 2, 52, 28};
    static constexpr QRect textRect{14, 0, 240 - 8 - 52 - 14 - 4, 44};
  };

  explicit InstallerRetryView(QWidget* parent = nullptr);

  [[nodiscard]] TextLabel* retryText() const { return retryText_; }
  [[nodiscard]] RoundedButton* retryBtn() const { return retryBtn_; }
  [[nodiscard]] QSize sizeHint() const override { return UI::size; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TextLabel* retryText_;
  RoundedButton* retryBtn_;
  QColor boxColor_;
};

}  // namespace quillo
