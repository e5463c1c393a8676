#pragma once
// Notification centres: the local centre delivers inside this process; the
// distributed centre delivers to every process on the D-Bus session bus (this
// one included). Observers are kept by the returned Observation: dropping it
// removes the observer.
//
//   auto obs = quillo::DistributedNotificationCenter::defaultCenter().addObserver(
//       "Quillo2Settings_channel", [](const quillo::Notification& n) { ... });  // on main
//   quillo::DistributedNotificationCenter::defaultCenter().post({"Quillo2Settings_channel", "ShowSettings"});
//
// Both centres are safe from any thread.
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillo {

struct Notification {
  std::string name;
  // The object, as text; the only object a distributed notification carries.
  std::optional<std::string> object;
  // The posting object, for local notifications only; never dereferenced here.
  const void* sender = nullptr;
};

using NotificationHandler = std::function<void(const Notification&)>;

// Keeps one observer registered. Destroying it removes the observer: no later
// delivery starts, though a handler already running on another thread finishes.
class NotificationObservation {
 public:
  struct Entry;
  struct Registry;
  NotificationObservation(std::weak_ptr<Registry> registry, std::shared_ptr<Entry> entry);
  ~NotificationObservation();
  NotificationObservation(const NotificationObservation&) = delete;
  NotificationObservation& operator=(const NotificationObservation&) = delete;

 private:
  std::weak_ptr<Registry> registry_;
  std::shared_ptr<Entry> entry_;
};

class NotificationCenter {
 public:
  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // The process-wide centre; never destroyed.
  [[nodiscard]] static NotificationCenter& defaultCenter();

  // `name` empty observes every notification.
  [[nodiscard]] std::unique_ptr<NotificationObservation> addObserver(std::string name,
                                                                     NotificationHandler handler);
  // Calls the matching observers synchronously on the calling thread, in the
  // order they were added.
  void post(const Notification& notification);

 private:
  std::shared_ptr<NotificationObservation::Registry> registry_;
};

class DistributedNotificationCenter {
 public:
  // The process-wide centre; connects to the session bus on first use.
  [[nodiscard]] static DistributedNotificationCenter& defaultCenter();

  // Handlers run on the main queue. When addObserver() returns, the bus
  // already routes notifications to this process. `name` empty observes all.
  [[nodiscard]] std::unique_ptr<NotificationObservation> addObserver(std::string name,
                                                                     NotificationHandler handler);
  // Delivered at once to every observer of every process on the session bus.
  // Without a bus: logs a warning (once) and delivers to this process only.
  void post(const Notification& notification);

  // Whether the session bus could be reached.
  [[nodiscard]] bool isConnected();

  struct Impl;

 private:
  DistributedNotificationCenter();
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillo
