#include "installer_main_window_content.h"

#include "app_delegate.h"
#include "installer/g.h"
#include "installer/page_content.h"

namespace quillo {

InstallerFlowContent::InstallerFlowContent(InstallerMainWindowViewController::Options options,
                                           std::function<void()> terminate)
    : view_(new InstallerContentView(installerName(options.bundlePath.value_or(G::bundlePath())),
                                     nullptr)),
      flow_(InstallerMainWindowViewController::create(std::move(options))),
      terminate_(terminate ? std::move(terminate) : std::function<void()>(&quillo::terminateApplication)) {
  container()->setDelegate(this);
  flow_->setView(this);
  flow_->viewDidLoad();
}

InstallerFlowContent::~InstallerFlowContent() {
  flow_->setView(nullptr);
  if (existInstallerHintWC_) existInstallerHintWC_->setDelegate(nullptr);
  if (view_) {
    container()->setDelegate(nullptr);
    if (!view_->parent()) delete view_.data();
  }
}

InstallerView* InstallerFlowContent::container() const {
  return view_ ? view_->installerView() : nullptr;
}

void InstallerFlowContent::viewDidAppear() { flow_->viewDidAppear(); }
void InstallerFlowContent::windowDidBecomeKey() { flow_->windowDidBecomeKey(); }
bool InstallerFlowContent::windowWillClose() { return flow_->windowWillClose(); }

InstallerViewState InstallerFlowContent::viewState() const {
  return container() ? container()->viewState() : InstallerViewState::none();
}

void InstallerFlowContent::setViewState(const InstallerViewState& state) {
  if (container()) container()->setViewState(state);
}

void InstallerFlowContent::setWindowLevel(int level) {
  if (view_) ::quillo::setWindowLevel(view_->window(), level);
}

void InstallerFlowContent::setVersionText(const std::string& text) {
  if (container()) {
    container()->stepOneView()->logoView()->versionLabel()->setText(QString::fromStdString(text));
  }
}

void InstallerFlowContent::autoIncreaseProgress() {
  if (container()) container()->stepOneView()->autoIncreaseProgress();
}

void InstallerFlowContent::showExistInstallerHint() {
  if (!existInstallerHintWC_) {
    existInstallerHintWC_ = std::make_unique<InstallerExistHintWindowController>();
    existInstallerHintWC_->setDelegate(this);
  }
  if (view_ && view_->window() != view_) existInstallerHintWC_->beginSheet(view_->window());
}

void InstallerFlowContent::closeExistInstallerHint() {
  if (existInstallerHintWC_) existInstallerHintWC_->close();
}

void InstallerFlowContent::orderOut() {
  if (view_) view_->window()->hide();
}

void InstallerFlowContent::activateApplication() {
  if (!view_) return;
  QWidget* window = view_->window();
  window->raise();
  window->activateWindow();
}

void InstallerFlowContent::terminateApplication() {
  if (terminate_) terminate_();
}

void InstallerFlowContent::installerViewWillChangeToState(InstallerView*, const InstallerViewState& state,
                                                          const InstallerViewState& fromState) {
  flow_->installerViewWillChangeToState(state, fromState);
}

void InstallerFlowContent::installerViewDidChangeToState(InstallerView*, const InstallerViewState& state) {
  flow_->installerViewDidChangeToState(state);
}

void InstallerFlowContent::installerViewDidClickInstallBtn(InstallerView*, QWidget*) {
  flow_->installerViewDidClickInstallBtn();
}

void InstallerFlowContent::installerViewDidClickEnableBtn(InstallerView*, QWidget*) {
  flow_->installerViewDidClickEnableBtn();
}

void InstallerFlowContent::installerViewDidClickRetryBtn(InstallerView*, QWidget*) {
  flow_->installerViewDidClickRetryBtn();
}

void InstallerFlowContent::existInstall() { flow_->existInstall(); }
void InstallerFlowContent::enableInput() { flow_->enableInput(); }

}  // namespace quillo
