#pragma once
// Runs the main queue on Qt's event loop. Install once a QCoreApplication
// exists: quillo::setMainLoop(std::make_shared<quillo::QtEventLoop>());
#include "platform/event_loop.h"

namespace quillo {

class QtEventLoop final : public EventLoop {
 public:
  // Safe from any thread; blocks run on the QCoreApplication's thread.
  void post(Block block) override;
  void postAfter(Clock::duration delay, Block block) override;
};

}  // namespace quillo
