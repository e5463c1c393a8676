#include "installer/privileged_task.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/notification_center.h"
#include "platform/process.h"
#include "platform/shell.h"

namespace quillo {
namespace {

constexpr double kStatusPollInterval = 0.05;

std::string currentDirectory() {
  std::error_code ec;
  auto path = std::filesystem::current_path(ec);
  return ec ? std::string() : path.string();
}

int32_t exitCodeOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return RkPrivilegedTask::kWaitFailedStatus;
}

}  // namespace

std::shared_ptr<RkPrivilegedTask> RkPrivilegedTask::create() {
  std::shared_ptr<RkPrivilegedTask> task(new RkPrivilegedTask);
  task->currentDirectoryPath_ = currentDirectory();
  return task;
}

std::shared_ptr<RkPrivilegedTask> RkPrivilegedTask::create(std::string launchPath,
                                                           std::vector<std::string> arguments) {
  auto task = create();
  task->launchPath_ = std::move(launchPath);
  task->arguments_ = std::move(arguments);
  return task;
}

std::shared_ptr<RkPrivilegedTask> RkPrivilegedTask::create(std::string launchPath,
                                                           std::vector<std::string> arguments,
                                                           std::string currentDirectory) {
  auto task = create(std::move(launchPath), std::move(arguments));
  task->currentDirectoryPath_ = std::move(currentDirectory);
  return task;
}

RkPrivilegedTask::~RkPrivilegedTask() {
  if (checkStatusTimer_) checkStatusTimer_->invalidate();
}

bool RkPrivilegedTask::authorizationFunctionAvailable() {
  return privileged::executeWithPrivilegesAvailable();
}

std::shared_ptr<RkPrivilegedTask> RkPrivilegedTask::launchedPrivilegedTaskWithLaunchPath(
    std::string launchPath, std::vector<std::string> arguments) {
  return launchedPrivilegedTaskWithLaunchPath(std::move(launchPath), std::move(arguments),
                                              currentDirectory());
}

std::shared_ptr<RkPrivilegedTask> RkPrivilegedTask::launchedPrivilegedTaskWithLaunchPath(
    std::string launchPath, std::vector<std::string> arguments, std::string currentDirectory) {
  auto task = create(std::move(launchPath), std::move(arguments), std::move(currentDirectory));
  (void)task->launch();
  task->waitUntilExit();
  return task;
}

std::shared_ptr<RkPrivilegedTask> RkPrivilegedTask::launchedPrivilegedTaskWithLaunchPath(
    std::string launchPath, std::vector<std::string> arguments, std::string currentDirectory,
    const privileged::Authorization& authorization) {
  auto task = create(std::move(launchPath), std::move(arguments), std::move(currentDirectory));
  (void)task->launchWithAuthorization(authorization);
  task->waitUntilExit();
  return task;
}

std::optional<RkPrivilegedTask::OSStatus> RkPrivilegedTask::launchRefusal() const {
  if (isRunning_) {
    consoleLog("Task already running: " + description());
    return 0;
  }
  if (!authorizationFunctionAvailable()) {
    consoleLog("AuthorizationExecuteWithPrivileges() function not available on this system");
    return kFunctionUnavailable;
  }
  return std::nullopt;
}

RkPrivilegedTask::OSStatus RkPrivilegedTask::launch() {
  if (const auto refusal = launchRefusal()) return *refusal;
  privileged::Authorization authorization;
  const OSStatus status = privileged::authorizeAdministrator(launchPath_, authorization);
  if (status != privileged::kErrAuthorizationSuccess) return status;
  return launchWithAuthorization(authorization);
}

RkPrivilegedTask::OSStatus RkPrivilegedTask::launchWithAuthorization(
    const privileged::Authorization& authorization) {
  if (const auto refusal = launchRefusal()) return *refusal;
  privileged::PrivilegedChild child;
  const OSStatus status = privileged::executeWithPrivileges(authorization, launchPath_, arguments_,
                                                            currentDirectoryPath_, child);
  if (status != privileged::kErrAuthorizationSuccess) return status;

  isRunning_ = true;
  terminationStatus_ = 0;
  outputFileHandle_ = std::make_unique<FileHandle>(child.outputFd, /*closeOnDealloc=*/true);
  // The child of our own fork: its pid is exact, unlike the owner of a pipe.
  processIdentifier_ = child.pid;
  // Only the main thread has a run loop for the poll; elsewhere only
  // waitUntilExit() observes the exit.
  if (isMainThread()) {
    std::weak_ptr<RkPrivilegedTask> weak = weak_from_this();
    checkStatusTimer_ = Timer::scheduled(kStatusPollInterval, /*repeats=*/true, [weak] {
      if (auto task = weak.lock()) task->pollStatus();
    });
  }
  return status;
}

void RkPrivilegedTask::pollStatus() {
  if (!isRunning_) return;
  int waitStatus = 0;
  const pid_t r = ::waitpid(processIdentifier_, &waitStatus, WNOHANG);
  if (r == 0 || (r < 0 && errno == EINTR)) return;
  const int32_t status = r == processIdentifier_ ? exitCodeOf(waitStatus) : kWaitFailedStatus;
  finish(status);
  NotificationCenter::defaultCenter().post(
      Notification{kDidTerminateNotification, std::nullopt, this});
  if (terminationHandler_) terminationHandler_(*this);
}

void RkPrivilegedTask::finish(int32_t status) {
  isRunning_ = false;
  terminationStatus_ = status;
  if (checkStatusTimer_) checkStatusTimer_->invalidate();
}

void RkPrivilegedTask::waitUntilExit() {
  if (!isRunning_) {
    consoleLog("Task " + baseDescription() + " is not running");
    return;
  }
  if (checkStatusTimer_) checkStatusTimer_->invalidate();
  const auto status = waitForExit(processIdentifier_);
  if (!status) consoleLog("Task " + description() + ": waiting for the tool failed");
  finish(status.value_or(kWaitFailedStatus));
}

std::string RkPrivilegedTask::baseDescription() const {
  char buf[48];
  std::snprintf(buf, sizeof buf, "<RkPrivilegedTask: %p>", static_cast<const void*>(this));
  return buf;
}

std::string RkPrivilegedTask::description() const {
  std::string text = baseDescription() + " " + launchPath_;
  for (const auto& a : arguments_) text += " '" + a + "'";
  return text + " (CWD:" + currentDirectoryPath_ + ")";
}

}  // namespace quillo
