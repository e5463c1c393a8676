// The installer's entry: Qt application, the main queue on Qt's loop, the
// clipboard as the pasteboard, the application delegate with the install flow.
#include <QApplication>

#include "app_delegate.h"
#include "installer_main_window_content.h"
#include "platform/dispatch.h"
#include "platform/qt_event_loop.h"
#include "platform/qt_pasteboard.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  quillo::setMainLoop(std::make_shared<quillo::QtEventLoop>());
  quillo::Pasteboard::setGeneral(std::make_shared<quillo::QtPasteboard>());
  quillo::AppDelegate delegate([] { return std::make_unique<quillo::InstallerFlowContent>(); });
  QObject::connect(&app, &QCoreApplication::aboutToQuit,
                   [&delegate] { delegate.applicationWillTerminate(); });
  delegate.applicationDidFinishLaunching();
  const int status = app.exec();
  quillo::Pasteboard::setGeneral(nullptr);
  quillo::setMainLoop(nullptr);
  return status;
}
