#pragma once
// Registering, enabling and selecting the input method with the system's text
// input sources, and following the system's notice that the set of enabled
// sources changed (from platform version 12 the moment the user has agreed to
// enable the input method).
//
//   auto handler = InstallerInputSourceHandler::create();
//   handler->setDelegate(flowController);          // held weakly
//   if (handler->registerInputSource()) handler->enableInputSource();
//   // ... later, on the main thread: delegate->enableInputSourceFinished(selectModeFailed)
//
// Every public operation is called on the main thread; the delegate is called
// there too.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/input_sources.h"
#include "platform/notification_center.h"

namespace quillo {

class InstallerInputSourceHandlerDelegate {
 public:
  virtual ~InstallerInputSourceHandlerDelegate() = default;
  // The end of an enable-and-select run; `selectModeFailed` when the pinyin
  // mode was not newly selected (missing, not selectable, or already selected).
  virtual void enableInputSourceFinished(bool selectModeFailed) = 0;
};

// One lookup of the input method's source and pinyin mode.
class InputSourceWrapper {
 public:
  // All installed sources of the input method's bundle, enabled or not.
  [[nodiscard]] static std::shared_ptr<InputSourceWrapper> getInputSource();

  // Each returns whether the platform call succeeded; false without a call
  // when the source or mode is missing.
  bool enableSource();
  bool enableMode();
  bool selectMode();

  [[nodiscard]] const std::optional<tis::InputSource>& source() const { return source_; }
  [[nodiscard]] const std::optional<tis::InputSource>& mode() const { return mode_; }

 private:
  std::vector<tis::InputSource> sourceList_;
  std::optional<tis::InputSource> source_;
  std::optional<tis::InputSource> mode_;
};

class InstallerInputSourceHandler : public std::enable_shared_from_this<InstallerInputSourceHandler> {
 public:
  static constexpr const char* kEnabledChangedNotification = "InputSourceEnabledChangedNotification";

  [[nodiscard]] static std::shared_ptr<InstallerInputSourceHandler> create();
  // Stops observing both notification centres.
  ~InstallerInputSourceHandler();
  InstallerInputSourceHandler(const InstallerInputSourceHandler&) = delete;
  InstallerInputSourceHandler& operator=(const InstallerInputSourceHandler&) = delete;

  void setDelegate(std::weak_ptr<InstallerInputSourceHandlerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  // Before platform version 12: a successful enable reports at once, without selecting.
  [[nodiscard]] bool dontSelectInputMode() const { return dontSelectInputMode_; }
  void setDontSelectInputMode(bool value) { dontSelectInputMode_ = value; }
  // Kept for the flow, so that disableAll() runs at most once per process.
  [[nodiscard]] bool hasRunDisable() const { return hasRunDisable_; }
  void setHasRunDisable(bool value) { hasRunDisable_ = value; }

  // The enabled sources include the input method's.
  [[nodiscard]] bool isInputSourceEnabled();
  // The current keyboard source is the pinyin mode.
  [[nodiscard]] bool isCurrentInputMode();
  // Registers the installed bundle; false when it is missing or refused.
  bool registerInputSource();
  // Starts enabling; see the notes in the source for what follows when.
  bool enableInputSource();
  void enableAndSelectInputMode(bool needCallback);
  // Deselects and disables the pinyin mode, then the input method.
  void disableAll();
  // Selects the system's ABC layout.
  void changeToSystemInputMode();

 private:
  InstallerInputSourceHandler() = default;
  void registerNotification();
  void handleEnabledNotification(const Notification& notification);
  void disableInputSource(const std::string& id, tis::Property property);
  void callDelegate(bool selectModeFailed);

  std::weak_ptr<InstallerInputSourceHandlerDelegate> delegate_;
  bool dontSelectInputMode_ = false;
  std::shared_ptr<InputSourceWrapper> enablingWrapper_;
  bool isRegisteredNotification_ = false;
  bool hasRunDisable_ = false;
  std::unique_ptr<NotificationObservation> distributedObservation_;
  std::unique_ptr<NotificationObservation> localObservation_;
};

}  // namespace quillo
