#include "jot/timer_runer.h"

#include <algorithm>
#include <list>

#include "jot/comm_sync.h"

namespace vela::comm {
namespace {

struct Entry {
  const void* timer;
  std::function<void()> invalidate;
  std::shared_ptr<void> object;
};

// Made before main and never destroyed: timers may fire during exit.
struct TimerList {
  Mutex mutex;
  std::list<Entry> entries;  // Guarded by mutex.
};
TimerList& timers() {
  static auto* list = new TimerList();
  return *list;
}
[[maybe_unused]] TimerList& gTimersAtLoad = timers();

}  // namespace

void TimerRuner::Add(const void* timer, std::function<void()> invalidate,
                     std::shared_ptr<void> object) {
  TimerList& list = timers();
  ScopedLock lock(list.mutex);
  if (lock.islocked()) list.entries.push_back({timer, std::move(invalidate), std::move(object)});
}

bool TimerRuner::Run(const void* timer) {
  Entry entry;
  {
    TimerList& list = timers();
    ScopedLock lock(list.mutex);
    if (!lock.islocked()) return false;
    auto it = std::find_if(list.entries.begin(), list.entries.end(),
                           [timer](const Entry& e) { return e.timer == timer; });
    if (it == list.entries.end()) return false;
    entry = std::move(*it);
    list.entries.erase(it);
  }
  // Outside the lock: the timer's owner may call back in.
  if (entry.invalidate) entry.invalidate();
  return true;
}

}  // namespace vela::comm
