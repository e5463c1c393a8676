// The installer's entry: Qt application, the main queue on Qt's loop, the
// application delegate.
#include <QApplication>

#include "app_delegate.h"
#include "platform/dispatch.h"
#include "platform/qt_event_loop.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  quillo::setMainLoop(std::make_shared<quillo::QtEventLoop>());
  quillo::AppDelegate delegate([] { return std::make_unique<quillo::InstallerIdleContent>(); });
  QObject::connect(&app, &QCoreApplication::aboutToQuit,
                   [&delegate] { delegate.applicationWillTerminate(); });
  delegate.applicationDidFinishLaunching();
  const int status = app.exec();
  quillo::setMainLoop(nullptr);
  return status;
}
