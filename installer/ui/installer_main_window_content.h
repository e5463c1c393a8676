#pragma once
// The install flow in the window: the window's content controller. It owns
// the flow (InstallerMainWindowViewController, plain C++), shows the
// container for it and relays the container's reports, the clicks, the close
// request and the hint sheet's buttons; the flow's decisions come back
// through InstallerMainWindowView. Main thread only.
#include <functional>
#include <memory>

#include <QPointer>

#include "exist_hint_window.h"
#include "installer/installer_main_window_view_controller.h"
#include "main_window.h"

namespace quillo {

class InstallerFlowContent final : public InstallerMainWindowContent,
                                   public InstallerMainWindowView,
                                   private InstallerViewDelegate,
                                   private InstallerExistHintWindowDelegate {
 public:
  // `options` configure the flow's view model (endpoints, folders, bundle);
  // `terminate` ends the application (default: terminateApplication()).
  explicit InstallerFlowContent(InstallerMainWindowViewController::Options options = {},
                                std::function<void()> terminate = {});
  ~InstallerFlowContent() override;
  InstallerFlowContent(const InstallerFlowContent&) = delete;
  InstallerFlowContent& operator=(const InstallerFlowContent&) = delete;

  [[nodiscard]] InstallerMainWindowViewController& flow() { return *flow_; }
  [[nodiscard]] InstallerView* container() const;
  // The hint sheet, once it was first shown.
  [[nodiscard]] InstallerExistHintWindowController* existInstallerHintWC() const {
    return existInstallerHintWC_.get();
  }

  // InstallerMainWindowContent
  [[nodiscard]] QWidget* view() override { return view_; }
  void viewDidAppear() override;
  void windowDidBecomeKey() override;
  bool windowWillClose() override;

  // InstallerMainWindowView
  [[nodiscard]] InstallerViewState viewState() const override;
  void setViewState(const InstallerViewState& state) override;
  void setWindowLevel(int level) override;
  void setVersionText(const std::string& text) override;
  void autoIncreaseProgress() override;
  void showExistInstallerHint() override;
  void closeExistInstallerHint() override;
  void orderOut() override;
  void activateApplication() override;
  void terminateApplication() override;

 private:
  void installerViewWillChangeToState(InstallerView* view, const InstallerViewState& state,
                                      const InstallerViewState& fromState) override;
  void installerViewDidChangeToState(InstallerView* view, const InstallerViewState& state) override;
  void installerViewDidClickInstallBtn(InstallerView* view, QWidget* button) override;
  void installerViewDidClickEnableBtn(InstallerView* view, QWidget* button) override;
  void installerViewDidClickRetryBtn(InstallerView* view, QWidget* button) override;
  void existInstall() override;
  void enableInput() override;

  // Owned by the window once it has taken the view over; deleted here otherwise.
  QPointer<InstallerContentView> view_;
  std::shared_ptr<InstallerMainWindowViewController> flow_;
  std::unique_ptr<InstallerExistHintWindowController> existInstallerHintWC_;
  std::function<void()> terminate_;
};

}  // namespace quillo
