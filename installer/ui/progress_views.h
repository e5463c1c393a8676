#pragma once
// The step-one page's progress bar: a pale section with green text under an
// accent section with white text whose width is the progress; both labels
// span the whole bar and each section clips its own, so the text turns from
// green to white exactly at the progress edge. Main thread only.
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include <QWidget>

#include "widget_kit.h"

class QVariantAnimation;

namespace quillo {

// One layer of the bar: a colour filled inside the bar's rounded outline,
// and a single-line label as wide as the bar.
class InstallProgressSectionView : public QWidget {
 public:
  explicit InstallProgressSectionView(QWidget* parent = nullptr);

  void setTextColor(const QColor& color) { textField_->setTextColor(color); }
  void setBackgroundColor(const QColor& color);
  [[nodiscard]] const QColor& backgroundColor() const { return background_; }
  // The bar's outline, which this section fills as far as its own width goes.
  void setOutline(QSize barSize, qreal cornerRadius);
  [[nodiscard]] RvVerticallyCenteredLabel* textField() const { return textField_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  RvVerticallyCenteredLabel* textField_;
  QColor background_;
  QSize barSize_;
  qreal cornerRadius_ = 0;
};

// The bar. show() sets the text at once and moves the foreground's edge,
// animated or not.
class InstallProgressView : public QWidget {
 public:
  using Completion = std::function<void()>;

  explicit InstallProgressView(QWidget* parent = nullptr);
  ~InstallProgressView() override;

  // Shows `progress` percent (held inside 0-100; NaN counts as 0) with the
  // text "<prefixText> <whole percent>%". When `animated` the foreground
  // grows over 1.5 s per full width (times delayScale()); it never animates
  // when shrinking. `completion` runs exactly once, on a later turn of the
  // event loop, when the move ends, also when nothing moves. A show while an
  // earlier move runs stops that move where it stands and delivers the
  // earlier completion (once) before the new one. Completions of a bar that
  // is destroyed are dropped.
  void show(double progress, std::string_view prefixText, bool animated,
            Completion completion = nullptr);

  [[nodiscard]] InstallProgressSectionView* bgView() const { return bgView_; }
  [[nodiscard]] InstallProgressSectionView* fgView() const { return fgView_; }
  // The width the foreground is moving to (or stands at).
  [[nodiscard]] qreal targetWidth() const { return targetWidth_; }
  [[nodiscard]] bool isAnimating() const;
  void setCornerRadius(qreal radius);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Ends the running move, if any, and posts its completion.
  void finishRunning();
  void setForegroundWidth(qreal width);
  void applyColors();

  InstallProgressSectionView* bgView_;
  InstallProgressSectionView* fgView_;
  QVariantAnimation* animation_;
  qreal targetWidth_ = 0;
  qreal cornerRadius_ = 0;
  // The move whose completion is still owed.
  struct Running {
    uint64_t serial;
    Completion completion;
  };
  std::optional<Running> running_;
  uint64_t nextSerial_ = 0;
};

// The 240 x 44 rounded box that hosts the bar on the step-one page.
class InstallerProgressView : public QWidget {
 public:
  struct UI {
    static constexpr QSize size{240, 44};
    static constexpr qreal cornerRadius = 12;
    static constexpr std::string_view accentColor = "bg04";
    static constexpr qreal backgroundAlpha = 0.2;
    static constexpr QColor backgroundTextColor{22, 172, 102};
    static constexpr int fontSize = 15;
  };

  explicit InstallerProgressView(QWidget* parent = nullptr);

  [[nodiscard]] InstallProgressView* progressView() const { return progressView_; }
  [[nodiscard]] QSize sizeHint() const override { return UI::size; }

 private:
  InstallProgressView* progressView_;
};

}  // namespace quillo
