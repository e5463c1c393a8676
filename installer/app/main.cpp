// The installer's entry: Qt application, the main queue on Qt's loop, the
// clipboard as the pasteboard (also for ext's copies), the application
// delegate with the install flow.
#include <QApplication>

#include "app_delegate.h"
#include "ext/pasteboard_sink.h"
#include "installer_main_window_content.h"
#include "platform/dispatch.h"
#include "platform/qt_event_loop.h"
#include "platform/qt_pasteboard.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  quillo::setMainLoop(std::make_shared<quillo::QtEventLoop>());
  quillo::Pasteboard::setGeneral(std::make_shared<quillo::QtPasteboard>());
  ext::setPasteboardSink([](std::string_view text) {
    const auto board = quillo::Pasteboard::general();
    board->clearContents();
    return board->setData(std::string(text), quillo::Pasteboard::kStringType);
  });
  quillo::AppDelegate delegate([] { return std::make_unique<quillo::InstallerFlowContent>(); });
  QObject::connect(&app, &QCoreApplication::aboutToQuit,
                   [&delegate] { delegate.applicationWillTerminate(); });
  delegate.applicationDidFinishLaunching();
  const int status = app.exec();
  ext::setPasteboardSink(nullptr);
  quillo::Pasteboard::setGeneral(nullptr);
  quillo::setMainLoop(nullptr);
  return status;
}
