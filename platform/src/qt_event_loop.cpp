#include "platform/qt_event_loop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

namespace quillo {

void QtEventLoop::post(Block block) {
  auto* app = QCoreApplication::instance();
  if (!app) return;  // The application is gone: the loop will never run again.
  QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

void QtEventLoop::postAfter(Clock::duration delay, Block block) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
  // A QTimer must start on the thread of its context object, so hop first.
  post([ms, b = std::move(block)]() mutable {
    QTimer::singleShot(ms, QCoreApplication::instance(), std::move(b));
  });
}

}  // namespace quillo
