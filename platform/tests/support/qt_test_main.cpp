// The main() of every Qt test: a QApplication on the offscreen platform, with
// the main queue running on Qt's event loop.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/dispatch.h"
#include "platform/qt_event_loop.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                 : qgetenv("QT_QPA_PLATFORM"));
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
