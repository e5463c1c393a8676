// The main() of every Qt test: a QApplication on the offscreen platform, with
// the main queue running on Qt's event loop.
#include <QApplication>

#include <gtest/gtest.h>

#include "platform/dispatch.h"
#include "platform/qt_event_loop.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                 : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  quillo::setMainLoop(std::make_shared<quillo::QtEventLoop>());
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  quillo::setMainLoop(nullptr);
  return rc;
}
