// The main() of every Qt test: a QApplication on the offscreen platform, with
// the main queue running on Qt's event loop. Built with QUILLO_TEST_XVFB it
// runs the tests on a private X server instead (Xvfb, no compositing
// manager), for tests that look at the screen as a user sees it.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/dispatch.h"
#include "platform/process.h"
#include "platform/qt_event_loop.h"

namespace {

// Xvfb on the first free display, ended with the program.
class PrivateXServer {
 public:
  PrivateXServer() = default;
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;
  ~PrivateXServer() {
    if (server_.pid > 0) {
      ::kill(server_.pid, SIGTERM);
      (void)quillo::waitForExit(server_.pid);
    }
    if (server_.outputFd >= 0) ::close(server_.outputFd);
  }

  // The display name, or nothing when the server did not start.
  std::optional<std::string> start() {
    // The server writes its display number to standard output once it accepts clients.
    if (quillo::spawnProcess({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                             {.captureOutput = true}, server_)) {
      return std::nullopt;
    }
    std::string number;
    char c = 0;
    while (::read(server_.outputFd, &c, 1) == 1 && c != '\n') number += c;
    if (number.empty()) return std::nullopt;
    return ":" + number;
  }

 private:
  quillo::Spawned server_;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                 : qgetenv("QT_QPA_PLATFORM"));
#if defined(QUILLO_TEST_XVFB)
  PrivateXServer xserver;
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing = listing || std::string_view(argv[i]) == "--gtest_list_tests";
  if (!listing) {
    const std::optional<std::string> display = xserver.start();
    if (!display) {
      std::fprintf(stderr, "cannot start Xvfb (Debian package xvfb)\n");
      return 1;
    }
    qputenv("DISPLAY", QByteArray::fromStdString(*display));
    qputenv("QT_QPA_PLATFORM", "xcb");
  }
#endif
  // Without a runtime folder Qt makes one in /tmp and leaves it behind; give
  // it a private one that goes with the test.
  QTemporaryDir runtime;
  if (qgetenv("XDG_RUNTIME_DIR").isEmpty() && runtime.isValid()) {
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  }
  QApplication app(argc, argv);
  quillo::setMainLoop(std::make_shared<quillo::QtEventLoop>());
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  quillo::setMainLoop(nullptr);
  return rc;
}
