#include "platform/notification_center.h"

#include <dbus/dbus.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch.h"
#include "platform/shell.h"

namespace quillo {

struct NotificationObservation::Entry {
  std::string name;
  NotificationHandler handler;
  std::atomic<bool> active{true};

  bool matches(const Notification& n) const { return name.empty() || name == n.name; }
};

struct NotificationObservation::Registry {
  std::mutex mu;
  std::vector<std::shared_ptr<Entry>> entries;  // Guarded by mu.

  std::shared_ptr<Entry> add(std::string name, NotificationHandler handler) {
    auto entry = std::make_shared<Entry>();
    entry->name = std::move(name);
    entry->handler = std::move(handler);
    std::lock_guard lock(mu);
    entries.push_back(entry);
    return entry;
  }
  std::vector<std::shared_ptr<Entry>> matching(const Notification& n) {
    std::vector<std::shared_ptr<Entry>> found;
    std::lock_guard lock(mu);
    for (const auto& e : entries) {
      if (e->matches(n)) found.push_back(e);
    }
    return found;
  }
  // Hands each matching observer to the main queue.
  void deliverOnMain(const Notification& n) {
    for (auto& entry : matching(n)) {
      Queue::main()->async([entry, n] {
        if (entry->active) entry->handler(n);
      });
    }
  }
};

NotificationObservation::NotificationObservation(std::weak_ptr<Registry> registry,
                                                 std::shared_ptr<Entry> entry)
    : registry_(std::move(registry)), entry_(std::move(entry)) {}

NotificationObservation::~NotificationObservation() {
  entry_->active = false;
  if (auto registry = registry_.lock()) {
    std::lock_guard lock(registry->mu);
    std::erase(registry->entries, entry_);
  }
}

// ---- Local centre ----

NotificationCenter::NotificationCenter()
    : registry_(std::make_shared<NotificationObservation::Registry>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
  static auto* center = new NotificationCenter;
  return *center;
}

std::unique_ptr<NotificationObservation> NotificationCenter::addObserver(
    std::string name, NotificationHandler handler) {
  auto entry = registry_->add(std::move(name), std::move(handler));
  return std::make_unique<NotificationObservation>(registry_, std::move(entry));
}

void NotificationCenter::post(const Notification& notification) {
  for (const auto& entry : registry_->matching(notification)) {
    if (entry->active) entry->handler(notification);
  }
}

// ---- Distributed centre ----
//
// Each notification is a broadcast signal on the session bus. A listener
// thread with a private connection of its own reads the signals, so that
// delivery needs no event loop in this process besides the main queue.

namespace {

constexpr const char* kObjectPath = "/org/quillo/DistributedNotificationCenter";
constexpr const char* kInterface = "org.quillo.DistributedNotificationCenter";
constexpr const char* kMember = "Notification";
constexpr int kListenerTickMs = 100;

DBusConnection* openPrivateSessionBus(std::string& error) {
  DBusError err;
  dbus_error_init(&err);
  DBusConnection* conn = dbus_bus_get_private(DBUS_BUS_SESSION, &err);
  if (!conn) {
    error = err.message ? err.message : "no session bus";
    dbus_error_free(&err);
    return nullptr;
  }
  dbus_connection_set_exit_on_disconnect(conn, FALSE);
  return conn;
}

void closeConnection(DBusConnection* conn) {
  if (!conn) return;
  dbus_connection_close(conn);
  dbus_connection_unref(conn);
}

}  // namespace

struct DistributedNotificationCenter::Impl {
  std::shared_ptr<NotificationObservation::Registry> registry =
      std::make_shared<NotificationObservation::Registry>();
  std::once_flag connectOnce;
  DBusConnection* sender = nullptr;    // Set once under connectOnce; sends serialised by sendMu.
  DBusConnection* listener = nullptr;  // Set once under connectOnce; used by the listener thread.
  std::mutex sendMu;
  std::atomic<bool> warnedNoBus{false};

  void connect() {
    std::call_once(connectOnce, [this] {
      dbus_threads_init_default();
      std::string error;
      DBusConnection* out = openPrivateSessionBus(error);
      DBusConnection* in = out ? openPrivateSessionBus(error) : nullptr;
      if (in) {
        DBusError err;
        dbus_error_init(&err);
        const std::string rule = std::string("type='signal',interface='") + kInterface + "'";
        // Blocks for the bus's reply, so the route exists once we return.
        dbus_bus_add_match(in, rule.c_str(), &err);
        if (dbus_error_is_set(&err)) {
          error = err.message;
          dbus_error_free(&err);
          closeConnection(in);
          in = nullptr;
        }
      }
      if (!in) {
        closeConnection(out);
        warnNoBus(error);
        return;
      }
      sender = out;
      listener = in;
      // The listener lives as long as the process, as the centre does.
      std::thread([this] { listen(); }).detach();
    });
  }

  void warnNoBus(const std::string& why) {
    if (!warnedNoBus.exchange(true)) {
      consoleLog("distributed notifications: no session bus (" + why +
                 "); delivering in this process only");
    }
  }

  void listen() {
    while (dbus_connection_read_write(listener, kListenerTickMs)) {
      while (DBusMessage* msg = dbus_connection_pop_message(listener)) {
        if (dbus_message_is_signal(msg, kInterface, kMember)) handleSignal(msg);
        dbus_message_unref(msg);
      }
    }
    consoleLog("distributed notifications: session bus connection closed");
  }

  void handleSignal(DBusMessage* msg) {
    const char* name = nullptr;
    dbus_bool_t hasObject = FALSE;
    const char* object = nullptr;
    DBusError err;
    dbus_error_init(&err);
    if (!dbus_message_get_args(msg, &err, DBUS_TYPE_STRING, &name, DBUS_TYPE_BOOLEAN, &hasObject,
                               DBUS_TYPE_STRING, &object, DBUS_TYPE_INVALID)) {
      dbus_error_free(&err);
      return;  // Not ours, or malformed: ignore it.
    }
    Notification n{name, hasObject ? std::optional<std::string>(object) : std::nullopt};
    registry->deliverOnMain(n);
  }

  // False when there is no bus; true otherwise (a notification the bus
  // cannot carry is logged and dropped).
  bool send(const Notification& n) {
    if (!sender) return false;
    if (!dbus_validate_utf8(n.name.c_str(), nullptr) ||
        (n.object && !dbus_validate_utf8(n.object->c_str(), nullptr)) ||
        n.name.find('\0') != std::string::npos ||
        (n.object && n.object->find('\0') != std::string::npos)) {
      consoleLog("distributed notifications: dropped a notification that is not valid UTF-8");
      return true;
    }
    DBusMessage* msg = dbus_message_new_signal(kObjectPath, kInterface, kMember);
    if (!msg) return true;
    const char* name = n.name.c_str();
    dbus_bool_t hasObject = n.object.has_value();
    const char* object = n.object ? n.object->c_str() : "";
    bool ok = dbus_message_append_args(msg, DBUS_TYPE_STRING, &name, DBUS_TYPE_BOOLEAN, &hasObject,
                                       DBUS_TYPE_STRING, &object, DBUS_TYPE_INVALID);
    if (ok) {
      std::lock_guard lock(sendMu);
      ok = dbus_connection_send(sender, msg, nullptr);
      dbus_connection_flush(sender);
    }
    dbus_message_unref(msg);
    if (!ok) consoleLog("distributed notifications: cannot send " + n.name);
    return true;
  }
};

DistributedNotificationCenter::DistributedNotificationCenter() : impl_(std::make_unique<Impl>()) {}

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter() {
  static auto* center = new DistributedNotificationCenter;
  return *center;
}

bool DistributedNotificationCenter::isConnected() {
  impl_->connect();
  return impl_->sender != nullptr;
}

std::unique_ptr<NotificationObservation> DistributedNotificationCenter::addObserver(
    std::string name, NotificationHandler handler) {
  impl_->connect();
  auto entry = impl_->registry->add(std::move(name), std::move(handler));
  return std::make_unique<NotificationObservation>(impl_->registry, std::move(entry));
}

void DistributedNotificationCenter::post(const Notification& notification) {
  impl_->connect();
  Notification n{notification.name, notification.object};  // The sender stays in this process.
  if (impl_->send(n)) return;
  impl_->warnNoBus("cannot send");
  impl_->registry->deliverOnMain(n);
}

}  // namespace quillo
