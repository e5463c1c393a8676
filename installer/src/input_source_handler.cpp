#include "installer/input_source_handler.h"

#include <filesystem>

#include "installer/identities.h"
#include "jot/log_line.h"
#include "platform/dispatch.h"
#include "platform/folders.h"
#include "platform/system_info.h"

namespace quillo {
namespace {
using vela::jot::LogError;
using vela::jot::LogInfo;
using vela::jot::LogWarn;

constexpr long kConsentMajorVersion = 12;

bool onConsentSystem() { return sysinfo::operatingSystemVersion().major >= kConsentMajorVersion; }

std::string idOf(const tis::InputSource& s) {
  return tis::stringProperty(s, tis::Property::InputSourceID).value_or("");
}

}  // namespace

// ---- InputSourceWrapper ----

std::shared_ptr<InputSourceWrapper> InputSourceWrapper::getInputSource() {
  LogInfo("getInputSource");
  auto wrapper = std::make_shared<InputSourceWrapper>();
  wrapper->sourceList_ = tis::createInputSourceList(
      {{tis::Property::BundleID, std::string(kInputMethodBundleId)}}, /*includeAllInstalled=*/true);
  for (const auto& s : wrapper->sourceList_) {
    auto id = tis::stringProperty(s, tis::Property::InputSourceID);
    if (!id) continue;
    if (*id == kInputSourceId) wrapper->source_ = s;
    if (*id == kPinyinInputModeId) wrapper->mode_ = s;
  }
  return wrapper;
}

bool InputSourceWrapper::enableSource() {
  if (!source_) return false;
  const auto status = tis::enableInputSource(*source_);
  LogWarn("enable input source: " + idOf(*source_) + ", result: " + std::to_string(status));
  return status == tis::noErr;
}

bool InputSourceWrapper::enableMode() {
  if (!mode_) return false;
  const auto status = tis::enableInputSource(*mode_);
  LogWarn("enable input mode: " + idOf(*mode_) + ", result: " + std::to_string(status));
  return status == tis::noErr;
}

bool InputSourceWrapper::selectMode() {
  if (!mode_) return false;
  const auto status = tis::selectInputSource(*mode_);
  LogWarn("select input mode: " + idOf(*mode_) + ", result: " + std::to_string(status));
  return status == tis::noErr;
}

// ---- InstallerInputSourceHandler ----

std::shared_ptr<InstallerInputSourceHandler> InstallerInputSourceHandler::create() {
  return std::shared_ptr<InstallerInputSourceHandler>(new InstallerInputSourceHandler);
}

InstallerInputSourceHandler::~InstallerInputSourceHandler() = default;

bool InstallerInputSourceHandler::isInputSourceEnabled() {
  const auto list = tis::createInputSourceList({}, /*includeAllInstalled=*/false);
  if (list.empty()) {
    LogError("[isInputSourceEnabled] input source list empty");
    return false;
  }
  bool found = false;
  for (const auto& s : list) {
    const auto id = idOf(s);
    LogInfo("input source: " + id);
    if (id == kInputSourceId) found = true;
  }
  return found;
}

bool InstallerInputSourceHandler::isCurrentInputMode() {
  auto current = tis::copyCurrentKeyboardInputSource();
  return current && idOf(*current) == kPinyinInputModeId;
}

bool InstallerInputSourceHandler::registerInputSource() {
  const std::string location(kInputMethodBundleLocation);
  const std::string path = folders::systemPath(location);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    LogError("Installed location: " + location + " not found");
    return false;
  }
  const auto status = tis::registerInputSource(path);
  LogWarn("Registered input source from " + location + ", result: " + std::to_string(status));
  return status == tis::noErr;
}

bool InstallerInputSourceHandler::enableInputSource() {
  LogInfo("enableInputSource");
  if (isInputSourceEnabled()) {
    LogWarn("Input source enabled");
    if (onConsentSystem()) {
      enableAndSelectInputMode(true);
    } else {
      callDelegate(false);
    }
    return true;
  }
  if (onConsentSystem()) registerNotification();

  auto wrapper = InputSourceWrapper::getInputSource();
  if (!wrapper->source()) {
    LogWarn("input source not found, try register again");
    registerInputSource();
    return false;
  }
  enablingWrapper_ = wrapper;
  const bool ok = wrapper->enableSource();
  // From version 12 the system now asks the user; the rest follows the
  // enabled-sources notification.
  if (onConsentSystem()) return ok;
  if (!ok) return false;
  if (dontSelectInputMode_) {
    callDelegate(false);
    return true;
  }
  enableAndSelectInputMode(true);
  return true;
}

void InstallerInputSourceHandler::enableAndSelectInputMode(bool needCallback) {
  LogInfo("enableAndSelectInputMode");
  if (!enablingWrapper_) enablingWrapper_ = InputSourceWrapper::getInputSource();
  auto wrapper = enablingWrapper_;
  const auto& mode = wrapper->mode();
  if (!mode || tis::boolProperty(*mode, tis::Property::InputSourceIsEnabled) != true) {
    wrapper->enableMode();
  }
  bool selected = false;
  if (mode && tis::boolProperty(*mode, tis::Property::InputSourceIsSelectCapable) == true) {
    if (tis::boolProperty(*mode, tis::Property::InputSourceIsSelected) != true) {
      selected = wrapper->selectMode();
    }
  }
  if (needCallback) callDelegate(!selected);
  enablingWrapper_.reset();
}

void InstallerInputSourceHandler::disableAll() {
  disableInputSource(std::string(kPinyinInputModeId),
                     onConsentSystem() ? tis::Property::InputSourceID : tis::Property::InputModeID);
  disableInputSource(std::string(kInputSourceId), tis::Property::InputSourceID);
}

void InstallerInputSourceHandler::disableInputSource(const std::string& id, tis::Property property) {
  const std::string propertyName(tis::propertyName(property));
  LogInfo("disableInputSource: " + id + " for property: " + propertyName);
  const auto list = tis::createInputSourceList({{property, id}}, /*includeAllInstalled=*/true);
  if (list.empty()) {
    LogWarn("sourceList empty: " + id + " for property: " + propertyName);
    return;
  }
  // Only the first match, as the system's own settings do.
  (void)tis::deselectInputSource(list.front());
  (void)tis::disableInputSource(list.front());
}

void InstallerInputSourceHandler::changeToSystemInputMode() {
  const auto list = tis::createInputSourceList({}, /*includeAllInstalled=*/true);
  if (list.empty()) {
    LogError("input source list empty");
    return;
  }
  for (const auto& s : list) {
    if (idOf(s) == tis::kSystemLayoutId) {
      (void)tis::selectInputSource(s);
      return;
    }
  }
}

void InstallerInputSourceHandler::registerNotification() {
  if (isRegisteredNotification_) return;
  isRegisteredNotification_ = true;
  distributedObservation_ = DistributedNotificationCenter::defaultCenter().addObserver(
      std::string(tis::kEnabledKeyboardInputSourcesChanged), [](const Notification&) {
        LogWarn("kTISNotifyEnabledKeyboardInputSourcesChanged");
        NotificationCenter::defaultCenter().post(
            Notification{kEnabledChangedNotification, std::nullopt, nullptr});
      });
  std::weak_ptr<InstallerInputSourceHandler> weak = weak_from_this();
  localObservation_ = NotificationCenter::defaultCenter().addObserver(
      kEnabledChangedNotification, [weak](const Notification& n) {
        if (auto self = weak.lock()) self->handleEnabledNotification(n);
      });
}

void InstallerInputSourceHandler::handleEnabledNotification(const Notification&) {
  LogInfo("receive InputSourceEnabledChangedNotification");
  std::weak_ptr<InstallerInputSourceHandler> weak = weak_from_this();
  Queue::main()->async([weak] {
    auto self = weak.lock();
    if (self && self->isInputSourceEnabled()) self->enableAndSelectInputMode(true);
  });
}

void InstallerInputSourceHandler::callDelegate(bool selectModeFailed) {
  if (auto delegate = delegate_.lock()) delegate->enableInputSourceFinished(selectModeFailed);
}

}  // namespace quillo
