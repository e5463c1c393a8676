#include "installer/thread_helpers.h"

#include <cstring>

namespace quillo {

void runBlockOnMainThread(Block block) {
  if (isMainThread()) {
    block();
  } else {
    Queue::main()->async(std::move(block));
  }
}

void runBlockOnBackgroundThread(Block block) {
  if (isMainThread()) {
    Queue::global(Qos::Default)->async(std::move(block));
  } else {
    block();
  }
}

void runBlockOnQueue(const std::shared_ptr<Queue>& queue, Block block) {
  if (DispatchBridge::inQueue(queue)) {
    block();
  } else {
    queue->async(std::move(block));
  }
}

bool DispatchBridge::inQueueForLabel(const char* label) {
  if (label == nullptr || *label == '\0') return false;
  const char* current = Queue::currentLabel();
  return current != nullptr && std::strcmp(current, label) == 0;
}

bool DispatchBridge::inQueue(const std::shared_ptr<Queue>& queue) {
  return queue && inQueueForLabel(queue->label().c_str());
}

}  // namespace quillo
