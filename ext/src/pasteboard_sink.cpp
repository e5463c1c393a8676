#include "ext/pasteboard_sink.h"

#include <memory>
#include <mutex>
#include <utility>

namespace ext {

namespace {

std::mutex sinkMutex;
// Guarded by sinkMutex. Shared so a copy in progress keeps its sink alive
// while another thread installs a new one.
std::shared_ptr<const PasteboardSink> installedSink;

}  // namespace

void setPasteboardSink(PasteboardSink sink) {
  auto next = sink ? std::make_shared<const PasteboardSink>(std::move(sink)) : nullptr;
  const std::lock_guard lock(sinkMutex);
  installedSink = std::move(next);
}

PasteboardCopy copyToPasteboard(std::string_view text) {
  std::shared_ptr<const PasteboardSink> sink;
  {
    const std::lock_guard lock(sinkMutex);
    sink = installedSink;
  }
  if (!sink) return PasteboardCopy::noSink;
  return (*sink)(text) ? PasteboardCopy::copied : PasteboardCopy::refused;
}

}  // namespace ext
