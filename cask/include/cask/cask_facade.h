#pragma once
// The store's public face for applications: process-wide initialisation,
// opening stores by id (cached per instance key), typed values, queries,
// backup and restore, idle clean-up and shutdown, over the core cask::Cask.
//
//   cask::facade::Cask::initializeCask(root, group, cask::CaskLogWarning);
//   std::shared_ptr<cask::facade::Cask> store =
//       cask::facade::Cask::caskWithID("settings", key, cask::CaskMultiProcess);
//   if (store) store->setBool(true, "firstRun");
//
// Value types: strings are UTF-8 (`std::string`), data are byte vectors
// (`Data`), dates are doubles of seconds since 1970, nil is an empty optional
// (or a null pointer for archived objects). Every method is thread-safe and
// multi-process-safe; none throws. Handler functions run on the thread of the
// operation that needs them, with the store's locks held.
//
// fork(): a store must not be shared across it. The child inherits the
// parent's descriptors, whose flock locks are the parent's own (they do not
// exclude each other, and an unlock in one releases the other), any thread
// lock held at the moment of the fork, and a private copy of the index that
// no longer sees the parent's appends. A child that needs a store reopens it
// in a fresh program (exec; the descriptors are close-on-exec) and leaves the
// inherited objects alone.
#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cask/cask.h"

namespace cask::facade {

using Data = std::vector<uint8_t>;

// A date where a value's type must say it is one (objects, defaults).
struct Date {
  double timeIntervalSince1970 = 0;
};

// An object stored as its own archive (no length prefix). Reading it back
// takes a type with `static std::optional<T> unarchive(std::span<const uint8_t>)`.
class Archivable {
 public:
  virtual ~Archivable() = default;
  // Empty means the object cannot be archived; it may throw.
  [[nodiscard]] virtual Data archive() const = 0;
};

template <typename T>
concept Unarchivable = requires(std::span<const uint8_t> bytes) {
  { T::unarchive(bytes) } -> std::same_as<std::optional<T>>;
};

// The receiver of the store's callbacks; each member is optional.
struct CaskHandler {
  std::function<CaskRecoverStrategic(const std::string& mmapID)> onCaskCRCCheckFail;
  std::function<CaskRecoverStrategic(const std::string& mmapID)> onCaskFileLengthError;
  std::function<void(CaskLogLevel level, const char* file, int line, const char* func, const std::string& message)>
      caskLogWithLevel;
  // Another process changed the store.
  std::function<void(const std::string& mmapID)> onCaskContentChange;
};

// One value of a user-defaults dictionary: bool and the integer and floating
// types stand for the number kinds; an archivable object stands for arrays and
// dictionaries; monostate for anything the store cannot hold.
using DefaultsValue = std::variant<std::monostate, std::string, Data, Date, bool, int32_t, int64_t, float, double,
                                   std::shared_ptr<const Archivable>>;
using UserDefaults = std::map<std::string, DefaultsValue>;

class Cask {
 public:
  // --- process-wide set-up --------------------------------------------------

  // One-time set-up: base path (empty: caskBasePath()), log level and handler
  // (copied; null: none). A second call only warns, unless setCaskBasePath()
  // came between. Returns caskBasePath().
  static std::string initializeCask(const std::string& rootDir);
  static std::string initializeCask(const std::string& rootDir, CaskLogLevel logLevel);
  static std::string initializeCask(const std::string& rootDir, CaskLogLevel logLevel, const CaskHandler* handler);
  // The same, and multi-process stores live in groupDir + "/cask".
  static std::string initializeCask(const std::string& rootDir, const std::string& groupDir, CaskLogLevel logLevel);
  static std::string initializeCask(const std::string& rootDir, const std::string& groupDir, CaskLogLevel logLevel,
                                    const CaskHandler* handler);

  [[nodiscard]] static size_t pageSize();
  // "v" and a three-part version number.
  [[nodiscard]] static std::string version();
  // The base path, defaulting to $HOME/Documents/cask; "" without a home.
  [[nodiscard]] static std::string caskBasePath();
  // Ignored when empty; else sets the base path, initialises with it and
  // allows one more initializeCask().
  static void setCaskBasePath(const std::string& path);
  // The id for a root path that is empty or the base path, else the MD5 hex
  // of root path + "/" + id.
  [[nodiscard]] static std::string mmapKeyWithMMapID(const std::string& mmapID, const std::string& rootPath);
  static void setLogLevel(CaskLogLevel level);
  // Copies the handler. A member left empty keeps the earlier core handler
  // of that kind in place.
  static void registerHandler(const CaskHandler& handler);
  static void unregiserHandler();

  // --- opening --------------------------------------------------------------
  // Null for an empty id, when the store cannot be opened, and after
  // onAppTerminate(). An empty key means a plain store; an empty root path the
  // base path (mode 1) or the group path (mode 2). A store already open is
  // returned as it is, with its own key and mode.

  [[nodiscard]] static std::shared_ptr<Cask> defaultCask();
  [[nodiscard]] static std::shared_ptr<Cask> defaultCaskWithCryptKey(const Data& cryptKey);
  [[nodiscard]] static std::shared_ptr<Cask> caskWithID(const std::string& mmapID);
  [[nodiscard]] static std::shared_ptr<Cask> caskWithID(const std::string& mmapID, int mode);
  [[nodiscard]] static std::shared_ptr<Cask> caskWithID(const std::string& mmapID, const Data& cryptKey);
  [[nodiscard]] static std::shared_ptr<Cask> caskWithID(const std::string& mmapID, const Data& cryptKey, int mode);
  // Also the relative-path form: both take the path as a root path.
  [[nodiscard]] static std::shared_ptr<Cask> caskWithID(const std::string& mmapID, const std::string& rootPath);
  [[nodiscard]] static std::shared_ptr<Cask> caskWithID(const std::string& mmapID, const Data& cryptKey,
                                                        const std::string& rootPath);
  // The one real opener.
  [[nodiscard]] static std::shared_ptr<Cask> caskWithID(const std::string& mmapID, const Data& cryptKey,
                                                        const std::string& rootPath, int mode);

  // --- files: validation, backup and restore (see cask::Cask) ---------------

  [[nodiscard]] static bool isFileValid(const std::string& mmapID);
  [[nodiscard]] static bool isFileValid(const std::string& mmapID, const std::string& rootPath);
  static bool backupOneCask(const std::string& mmapID, const std::string& rootPath, const std::string& dstDir);
  static bool restoreOneCask(const std::string& mmapID, const std::string& rootPath, const std::string& srcDir);
  static size_t backupAll(const std::string& rootPath, const std::string& dstDir);
  static size_t restoreAll(const std::string& rootPath, const std::string& srcDir);
  static bool backupMultiProcessCask(const std::string& mmapID, const std::string& dstDir);
  static bool restoreMultiProcessCask(const std::string& mmapID, const std::string& srcDir);
  static size_t backupAllMultiProcessToDirectory(const std::string& dstDir);
  static size_t restoreAllMultiProcessFromDirectory(const std::string& srcDir);

  // --- idle clean-up and shutdown -------------------------------------------

  // Every maxIdleMinutes, closes cached stores idle that long that nobody
  // but the cache holds.
  static void enableAutoCleanUp(uint32_t maxIdleMinutes);
  static void disableAutoCleanUp();
  static void tryAutoCleanUpInstances();
  // Syncs and closes every store; store objects still held return defaults
  // and fail writes, and nothing opens afterwards.
  static void onAppTerminate();

  // Stores one defaults value by its type; false for a type the store
  // cannot hold or a failed write.
  static bool tranlateData(const DefaultsValue& value, const std::string& key, Cask& kv);

  // --- one store ------------------------------------------------------------

  Cask(const Cask&) = delete;
  Cask& operator=(const Cask&) = delete;
  // Closes the core store unless another object took it over.
  ~Cask();

  [[nodiscard]] const std::string& mmapID() const { return m_mmapID; }
  void clearAll();
  void trim();
  void clearMemoryCache();
  // Drops the object from the cache; the store closes with the last holder.
  void close();
  // The key (bytes up to the first zero, at most 16); nothing when plain.
  [[nodiscard]] std::optional<Data> cryptKey();
  // Empty: turns the store plain.
  bool reKey(const Data& cryptKey);
  void checkReSetCryptKey(const Data& cryptKey);

  // Setters: false for an empty key or a failed write. A nil object, string,
  // date or data removes the key and returns true.
  bool setObject(const Archivable* object, std::string_view key);
  bool setBool(bool value, std::string_view key);
  bool setInt32(int32_t value, std::string_view key);
  bool setUInt32(uint32_t value, std::string_view key);
  bool setInt64(int64_t value, std::string_view key);
  bool setUInt64(uint64_t value, std::string_view key);
  bool setFloat(float value, std::string_view key);
  bool setDouble(double value, std::string_view key);
  bool setString(std::optional<std::string_view> value, std::string_view key);
  bool setDate(std::optional<double> value, std::string_view key);
  bool setData(std::optional<std::span<const uint8_t>> value, std::string_view key);

  // Getters: the default for an empty or missing key or a value that does not
  // decode. `hasValue` (may be null) tells whether a value was found.
  bool getBool(std::string_view key, bool defaultValue = false, bool* hasValue = nullptr);
  int32_t getInt32(std::string_view key, int32_t defaultValue = 0, bool* hasValue = nullptr);
  uint32_t getUInt32(std::string_view key, uint32_t defaultValue = 0, bool* hasValue = nullptr);
  int64_t getInt64(std::string_view key, int64_t defaultValue = 0, bool* hasValue = nullptr);
  uint64_t getUInt64(std::string_view key, uint64_t defaultValue = 0, bool* hasValue = nullptr);
  float getFloat(std::string_view key, float defaultValue = 0, bool* hasValue = nullptr);
  double getDouble(std::string_view key, double defaultValue = 0, bool* hasValue = nullptr);
  // For these, an empty key leaves hasValue untouched, and so does a found
  // value: only a missing one writes false.
  std::optional<std::string> getString(std::string_view key, std::optional<std::string> defaultValue = std::nullopt,
                                       bool* hasValue = nullptr);
  std::optional<double> getDate(std::string_view key, std::optional<double> defaultValue = std::nullopt,
                                bool* hasValue = nullptr);
  std::optional<Data> getData(std::string_view key, std::optional<Data> defaultValue = std::nullopt,
                              bool* hasValue = nullptr);
  // std::string, Data, Date, or an Unarchivable type; nothing when missing or
  // not decodable.
  template <typename T>
  std::optional<T> getObjectOfClass(std::string_view key);

  size_t getValueSizeForKey(std::string_view key, bool actualSize);
  // Copies the value (without its length prefix) into `buffer`; the bytes
  // written, or -1 when missing or too large.
  int32_t writeValueForKey(std::string_view key, std::span<uint8_t> buffer);

  bool containsKey(std::string_view key);
  size_t count();
  size_t totalSize();
  size_t actualSize();
  std::vector<std::string> allKeys();
  void enumerateKeys(const std::function<void(const std::string& key, bool& stop)>& block);
  void removeValueForKey(std::string_view key);
  void removeValuesForKeys(const std::vector<std::string>& keys);

  void sync();
  void async();
  void checkContentChanged();
  // Stores every value it can; returns how many.
  size_t migrateFromUserDefaults(const UserDefaults& userDefaults);

 private:
  struct Access;
  Cask(cask::Cask* core, std::string mmapKey);
  std::optional<std::vector<uint8_t>> rawValue(std::string_view key);
  static void logUnarchiveFailure(const char* what);

  std::string m_mmapID;
  std::string m_mmapKey;
  cask::Cask* m_cask;  // Null after onAppTerminate(). Owned (see ~Cask).
  uint64_t m_lastAccessTime = 0;  // Guarded by the facade lock.
};

template <typename T>
std::optional<T> Cask::getObjectOfClass(std::string_view key) {
  if constexpr (std::same_as<T, std::string>) {
    return getString(key);
  } else if constexpr (std::same_as<T, Data>) {
    return getData(key);
  } else if constexpr (std::same_as<T, Date>) {
    const std::optional<double> seconds = getDate(key);
    if (!seconds) return std::nullopt;
    return Date{*seconds};
  } else {
    static_assert(Unarchivable<T>, "stored objects are strings, data, dates or Unarchivable types");
    const std::optional<std::vector<uint8_t>> bytes = rawValue(key);
    if (!bytes) return std::nullopt;
    try {
      return T::unarchive(std::span<const uint8_t>(*bytes));
    } catch (const std::exception& e) {
      logUnarchiveFailure(e.what());
    } catch (...) {
      logUnarchiveFailure("unknown exception");
    }
    return std::nullopt;
  }
}

}  // namespace cask::facade
