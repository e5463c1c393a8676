#include "step_one_view.h"

#include "installer/thread_helpers.h"
#include "jot/log_line.h"

namespace quillo {

InstallerStepOneView::UI::Layout InstallerStepOneView::UI::layout(QSize size) {
  const int centerX = size.width() / 2;
  Layout l;
  l.logo = QRect(centerX - InstallerLogoView::UI::size.width() / 2, LogoView::topToWindowTop,
                 InstallerLogoView::UI::size.width(), InstallerLogoView::UI::size.height());
  l.button = QRect(centerX - InstallerBtnView::UI::size.width() / 2,
                   l.logo.bottom() + 1 + BtnView::topToLogoView, InstallerBtnView::UI::size.width(),
                   InstallerBtnView::UI::size.height());
  l.hint = QRect(0, l.button.bottom() + 1 + StateHintView::topToBtn, size.width(),
                 InstallerStateHintTextView::UI::height);
  l.finishTip = QRect(centerX - InstallerFinishTipView::UI::size.width() / 2,
                      l.logo.bottom() + 1 - InstallerFinishTipView::UI::size.height(),
                      InstallerFinishTipView::UI::size.width(),
                      InstallerFinishTipView::UI::size.height());
  return l;
}

InstallerStepOneView::InstallerStepOneView(QWidget* parent)
    : QWidget(parent),
      self_(std::make_shared<InstallerStepOneView*>(this)),
      logoView_(new InstallerLogoView(this)),
      progressView_(new InstallerProgressView(this)),
      btnView_(new InstallerBtnView(this)),
      stateHintView_(new InstallerStateHintTextView(this)),
      retryView_(new InstallerRetryView(this)),
      finishTipView_(new InstallerFinishTipView(this)) {
  setObjectName("stepOneView");
  btnView_->setObjectName("installButton");
  stateHintView_->setObjectName("stateHintLabel");
  QObject::connect(btnView_, &QPushButton::clicked, this, [this] {
    if (delegate_) delegate_->stepOneViewDidClickInstallBtn(this, btnView_);
  });
  QObject::connect(retryView_->retryBtn(), &QPushButton::clicked, this, [this] {
    if (delegate_) delegate_->stepOneViewDidClickRetryBtn(this, retryView_->retryBtn());
  });
}

InstallerStepOneView::~InstallerStepOneView() = default;

void InstallerStepOneView::resizeEvent(QResizeEvent*) { layoutSubviews(); }

void InstallerStepOneView::layoutSubviews() {
  const UI::Layout l = UI::layout(size());
  logoView_->setGeometry(QRect(l.logo.topLeft(), InstallerLogoView::UI::widgetSize));
  btnView_->setGeometry(l.button);
  progressView_->setGeometry(l.button);
  retryView_->setGeometry(l.button);
  stateHintView_->setGeometry(l.hint);
  finishTipView_->setGeometry(l.finishTip);
}

InstallerStepOneView::ViewState InstallerStepOneView::viewState() const {
  return stored_.get().state;
}

void InstallerStepOneView::setViewState(const ViewState& state) {
  std::weak_ptr<InstallerStepOneView*> weak = self_;
  if (isMainThread()) {
    viewWillChangeToState(state, viewState());
  } else {
    Queue::main()->async([weak, state] {
      if (auto self = weak.lock()) (*self)->viewWillChangeToState(state, (*self)->viewState());
    });
  }
  stored_.withValue([&](Stored& s) {
    s.state = state;
    ++s.unapplied;
  });
  runBlockOnMainThread([weak] {
    if (auto self = weak.lock()) (*self)->applyStoredState();
  });
}

void InstallerStepOneView::viewWillChangeToState(const ViewState& state, const ViewState& oldState) {
  using Kind = ViewState::Kind;
  if (!(state.is(Kind::downloading) && oldState.is(Kind::downloading))) {
    vela::jot::LogInfo("installer step one view state: " + describe(oldState) + " -> " +
                       describe(state));
  }
  if (delegate_) delegate_->stepOneViewWillChangeToState(this, state, oldState);
}

void InstallerStepOneView::applyStoredState() {
  const ViewState state = stored_.withValue([](Stored& s) {
    if (s.unapplied > 0) --s.unapplied;
    return s.state;
  });
  updateViewHiddenState(state);
  updateProgressView(state);
  updateBtnTitle(state);
  updateHintContent(state);
}

void InstallerStepOneView::updateViewHiddenState(const ViewState& state) {
  const StepOneVisibility v = stepOneVisibility(state);
  logoView_->setVisible(v.logo);
  logoView_->versionLabel()->setVisible(v.versionLabel);
  btnView_->setVisible(v.button);
  stateHintView_->setVisible(v.hint);
  progressView_->setVisible(v.progressBox);
  retryView_->setVisible(v.retryBox);
  finishTipView_->setVisible(v.finishTip);
}

void InstallerStepOneView::updateProgressView(const ViewState& state) {
  const ProgressRange range = progressRange(state);
  const bool animated = currentProgress_ < range.lower;
  currentProgress_ = range.lower;
  const uint64_t generation = ++progressGeneration_;
  // The bar is our child: its queued completions die with it, and so with us.
  progressView_->progressView()->show(range.lower, kProgressPrefixText, animated,
                                      [this, generation] { progressDidEnd(generation); });
}

void InstallerStepOneView::progressDidEnd(uint64_t generation) {
  // A later state has started its own move (or is about to, when its store
  // is still on the way to this thread); that one reports.
  if (generation != progressGeneration_) return;
  const std::optional<ViewState> state = stored_.withValue([](Stored& s) {
    return s.unapplied > 0 ? std::nullopt : std::optional<ViewState>(s.state);
  });
  if (state && delegate_) delegate_->stepOneViewDidChangeToState(this, *state);
}

void InstallerStepOneView::updateBtnTitle(const ViewState& state) {
  if (const auto content = stepOneButton(state)) {
    btnView_->setContent(QString::fromStdString(content->title),
                         content->finishIcon ? UI::BtnView::iconImage : std::string_view());
  }
}

void InstallerStepOneView::updateHintContent(const ViewState& state) {
  stateHintView_->updateContentAndAdjustSize(QString::fromStdString(stepOneHint(state)));
}

void InstallerStepOneView::autoIncreaseProgress() {
  currentProgress_ = autoIncreasedProgress(viewState(), currentProgress_);
  progressView_->progressView()->show(currentProgress_, kProgressPrefixText, false);
}

}  // namespace quillo
