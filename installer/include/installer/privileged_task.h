#pragma once
// RkPrivilegedTask: runs one tool as root, in the manner of a task object.
// Set the launch path, the arguments (each one stays one argument, blanks and
// quotes included) and the working folder; launch() obtains the
// administrator right and starts the tool; read outputFileHandle() to end of
// file; waitUntilExit() blocks for the exit status.
//
//   auto task = RkPrivilegedTask::create("/bin/sh", {script, package});
//   if (task->launch() == 0) {
//     auto text = task->outputFileHandle()->readDataToEndOfFile();
//     task->waitUntilExit();
//     int status = task->terminationStatus();  // 128 + signal when killed
//   }
//
// Messages go to the platform console. Not thread-safe: one thread drives a
// task, except that the status poll of a task launched on the main thread
// runs there.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch.h"
#include "platform/file_handle.h"
#include "platform/privileged.h"

namespace quillo {

class RkPrivilegedTask : public std::enable_shared_from_this<RkPrivilegedTask> {
 public:
  using OSStatus = privileged::OSStatus;
  // The privileged-execution function is missing.
  static constexpr OSStatus kFunctionUnavailable = -70001;
  // terminationStatus() after a wait that failed: never reported as success.
  static constexpr int32_t kWaitFailedStatus = -1;
  static constexpr const char* kDidTerminateNotification = "RkPrivilegedTaskDidTerminateNotification";

  // Working folder: this process's current folder at creation.
  [[nodiscard]] static std::shared_ptr<RkPrivilegedTask> create();
  [[nodiscard]] static std::shared_ptr<RkPrivilegedTask> create(
      std::string launchPath, std::vector<std::string> arguments = {});
  [[nodiscard]] static std::shared_ptr<RkPrivilegedTask> create(
      std::string launchPath, std::vector<std::string> arguments, std::string currentDirectory);
  ~RkPrivilegedTask();
  RkPrivilegedTask(const RkPrivilegedTask&) = delete;
  RkPrivilegedTask& operator=(const RkPrivilegedTask&) = delete;

  // Whether the privileged-execution function exists here.
  [[nodiscard]] static bool authorizationFunctionAvailable();

  // Create, launch, waitUntilExit. A task that did not start only logs from the wait.
  [[nodiscard]] static std::shared_ptr<RkPrivilegedTask> launchedPrivilegedTaskWithLaunchPath(
      std::string launchPath, std::vector<std::string> arguments = {});
  [[nodiscard]] static std::shared_ptr<RkPrivilegedTask> launchedPrivilegedTaskWithLaunchPath(
      std::string launchPath, std::vector<std::string> arguments, std::string currentDirectory);
  [[nodiscard]] static std::shared_ptr<RkPrivilegedTask> launchedPrivilegedTaskWithLaunchPath(
      std::string launchPath, std::vector<std::string> arguments, std::string currentDirectory,
      const privileged::Authorization& authorization);

  [[nodiscard]] const std::string& launchPath() const { return launchPath_; }
  void setLaunchPath(std::string path) { launchPath_ = std::move(path); }
  [[nodiscard]] const std::vector<std::string>& arguments() const { return arguments_; }
  void setArguments(std::vector<std::string> arguments) { arguments_ = std::move(arguments); }
  [[nodiscard]] const std::string& currentDirectoryPath() const { return currentDirectoryPath_; }
  void setCurrentDirectoryPath(std::string path) { currentDirectoryPath_ = std::move(path); }
  // Called once, on the main thread, when the status poll sees the exit.
  void setTerminationHandler(std::function<void(RkPrivilegedTask&)> handler) {
    terminationHandler_ = std::move(handler);
  }

  // The read end of the tool's stdout; null before a launch.
  [[nodiscard]] FileHandle* outputFileHandle() const { return outputFileHandle_.get(); }
  [[nodiscard]] bool isRunning() const { return isRunning_; }
  [[nodiscard]] int32_t processIdentifier() const { return processIdentifier_; }
  // The exit code; 128 + signal when a signal ended the tool; kWaitFailedStatus
  // when the wait failed.
  [[nodiscard]] int32_t terminationStatus() const { return terminationStatus_; }

  // Obtains the administrator right (the prompt) and starts the tool. 0 on
  // success, and when already running; -60006 when the prompt was dismissed;
  // kFunctionUnavailable; any other authorization or execution error as is.
  [[nodiscard]] OSStatus launch();
  // Starts the tool with an authorization that already holds the right.
  [[nodiscard]] OSStatus launchWithAuthorization(const privileged::Authorization& authorization);
  // Blocks until the tool has exited; only logs when it is not running.
  void waitUntilExit();

  // "<RkPrivilegedTask: 0x...> /bin/sh 'a' 'b c' (CWD:/x)"
  [[nodiscard]] std::string description() const;

 private:
  RkPrivilegedTask() = default;
  [[nodiscard]] std::string baseDescription() const;
  // The status to return, logged, when the task may not start now.
  [[nodiscard]] std::optional<OSStatus> launchRefusal() const;
  void pollStatus();
  void finish(int32_t status);

  std::unique_ptr<Timer> checkStatusTimer_;
  bool isRunning_ = false;
  int32_t processIdentifier_ = 0;
  int32_t terminationStatus_ = 0;
  std::vector<std::string> arguments_;
  std::string currentDirectoryPath_;
  std::string launchPath_;
  std::unique_ptr<FileHandle> outputFileHandle_;
  std::function<void(RkPrivilegedTask&)> terminationHandler_;
};

}  // namespace quillo
