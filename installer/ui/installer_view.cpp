#include "installer_view.h"

#include "installer/g.h"
#include "installer/page_content.h"
#include "installer/thread_helpers.h"

namespace quillo {

InstallerView::InstallerView(QWidget* parent)
    : InstallerView(installerName(G::bundlePath()), parent) {}

InstallerView::InstallerView(std::string installerName, QWidget* parent)
    : QWidget(parent),
      stepOneView_(new InstallerStepOneView(this)),
      stepTwoView_(new InstallerStepTwoView(std::move(installerName), this)),
      self_(std::make_shared<InstallerView*>(this)) {
  setObjectName("installerView");
  // Step two lies above step one.
  stepTwoView_->raise();
  stepOneView_->setDelegate(this);
  stepTwoView_->setDelegate(this);
  setViewState(ViewState::none());
}

InstallerView::~InstallerView() {
  // The pages die after this body; they must not call back into us.
  stepOneView_->setDelegate(nullptr);
  stepTwoView_->setDelegate(nullptr);
}

void InstallerView::resizeEvent(QResizeEvent*) { layoutSubviews(); }

void InstallerView::layoutSubviews() {
  stepOneView_->setGeometry(rect());
  stepTwoView_->setGeometry(rect());
  stepOneView_->layoutSubviews();
  stepTwoView_->layoutSubviews();
}

void InstallerView::setViewState(const ViewState& state) {
  std::weak_ptr<InstallerView*> weak = self_;
  runBlockOnMainThread([weak, state] {
    auto self = weak.lock();
    if (!self) return;
    InstallerView* view = *self;
    if (view->delegate_) view->delegate_->installerViewWillChangeToState(view, state, view->viewState());
  });
  state_.set(state);
  runBlockOnMainThread([weak] {
    auto self = weak.lock();
    if (!self) return;
    (*self)->updateSubviewsHiddenState();
    (*self)->updateSubviewsViewState();
  });
}

void InstallerView::updateSubviewsHiddenState() {
  const bool stepTwo = showsStepTwo(viewState());
  stepOneView_->setVisible(!stepTwo);
  stepTwoView_->setVisible(stepTwo);
}

void InstallerView::updateSubviewsViewState() {
  const ViewState state = viewState();
  stepOneView_->setViewState(stepOneState(state));
  stepTwoView_->setViewState(stepTwoState(state));
}

void InstallerView::stepOneViewWillChangeToState(InstallerStepOneView*,
                                                 const InstallerStepOneViewState& state,
                                                 const InstallerStepOneViewState& fromState) {
  if (delegate_) {
    delegate_->installerViewWillChangeToState(this, ViewState::from(state),
                                              ViewState::from(fromState));
  }
}

void InstallerView::stepOneViewDidChangeToState(InstallerStepOneView*,
                                                const InstallerStepOneViewState& state) {
  if (delegate_) delegate_->installerViewDidChangeToState(this, ViewState::from(state));
}

void InstallerView::stepOneViewDidClickInstallBtn(InstallerStepOneView*, QWidget* button) {
  if (delegate_) delegate_->installerViewDidClickInstallBtn(this, button);
}

void InstallerView::stepOneViewDidClickRetryBtn(InstallerStepOneView*, QWidget* button) {
  if (delegate_) delegate_->installerViewDidClickRetryBtn(this, button);
}

void InstallerView::stepTwoViewDidClickBtn(InstallerStepTwoView*, QWidget* button) {
  if (delegate_) delegate_->installerViewDidClickEnableBtn(this, button);
}

}  // namespace quillo
