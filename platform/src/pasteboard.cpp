#include "platform/pasteboard.h"

#include <mutex>

namespace quillo {
namespace {

std::mutex& generalMutex() {
  static std::mutex mu;
  return mu;
}

std::shared_ptr<Pasteboard>& generalSlot() {  // Guarded by generalMutex().
  static auto* board = new std::shared_ptr<Pasteboard>(std::make_shared<MemoryPasteboard>());
  return *board;
}

}  // namespace

std::shared_ptr<Pasteboard> Pasteboard::general() {
  std::lock_guard lock(generalMutex());
  return generalSlot();
}

void Pasteboard::setGeneral(std::shared_ptr<Pasteboard> pasteboard) {
  std::lock_guard lock(generalMutex());
  generalSlot() = pasteboard ? std::move(pasteboard) : std::make_shared<MemoryPasteboard>();
}

std::vector<std::string> MemoryPasteboard::types() {
  std::vector<std::string> out;
  for (const auto& [type, data] : items_) out.push_back(type);
  return out;
}

std::optional<std::string> MemoryPasteboard::dataForType(std::string_view type) {
  auto it = items_.find(type);
  if (it == items_.end()) return std::nullopt;
  return it->second;
}

bool MemoryPasteboard::setData(const std::optional<std::string>& data, std::string_view type) {
  if (data) {
    items_.insert_or_assign(std::string(type), *data);
  } else if (auto it = items_.find(type); it != items_.end()) {
    items_.erase(it);
  }
  return true;
}

}  // namespace quillo
