#include "cask/cask_facade.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "cask_internal.h"

namespace cask::facade {

namespace {

// Seconds between 1970 and the reference date, 1 January 2001.
constexpr uint64_t kReferenceDateOffset = 978307200;

uint64_t secondsSinceReferenceDate() {
  const auto now = static_cast<uint64_t>(std::time(nullptr));
  return now > kReferenceDateOffset ? now - kReferenceDateOffset : 0;
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Lock order: g_lock before the core registry's lock before a store's lock.
// Made once and never destroyed: a second initialisation or a late caller
// after onAppTerminate() must not find it gone.
ThreadLock& facadeLock() {
  static auto* lock = new ThreadLock();
  return *lock;
}

struct FacadeState {
  std::unordered_map<std::string, std::shared_ptr<Cask>> instances;
  // Which object owns each core store, also after close() dropped it from
  // `instances`: a reopening shares that object instead of a second owner.
  struct Owner {
    const Cask* object;
    std::weak_ptr<Cask> weak;
  };
  std::unordered_map<cask::Cask*, Owner> owners;
  std::string basePath;
  std::string groupPath;
  bool hasCalledInitializeCask = false;
  bool terminated = false;
  uint32_t maxIdleSeconds = 0;
};

// Guarded by facadeLock().
FacadeState& state() {
  static auto* s = new FacadeState();
  return *s;
}

// The handler is read from store threads while they hold store locks, so it
// has its own leaf lock instead of facadeLock().
// Both leaked on purpose: stores may log while static destructors run.
struct HandlerSlot {
  std::mutex mutex;
  std::shared_ptr<const CaskHandler> handler;  // Guarded by mutex.
};

HandlerSlot& handlerSlot() {
  static auto* slot = new HandlerSlot();
  return *slot;
}

std::shared_ptr<const CaskHandler> currentHandler() {
  std::lock_guard<std::mutex> lock(handlerSlot().mutex);
  return handlerSlot().handler;
}

void setHandler(std::shared_ptr<const CaskHandler> handler) {
  std::lock_guard<std::mutex> lock(handlerSlot().mutex);
  handlerSlot().handler = std::move(handler);
}

void logHandler(CaskLogLevel level, const char* file, int line, const char* function, const std::string& message) {
  if (auto handler = currentHandler(); handler && handler->caskLogWithLevel) {
    handler->caskLogWithLevel(level, file, line, function, message);
  }
}

CaskRecoverStrategic errorHandler(const std::string& mmapID, CaskErrorType errorType) {
  const auto handler = currentHandler();
  if (!handler) return CaskOnErrorDiscard;
  const auto& method = errorType == CaskFileLength ? handler->onCaskFileLengthError : handler->onCaskCRCCheckFail;
  return method ? method(mmapID) : CaskOnErrorDiscard;
}

void contentChangeHandler(const std::string& mmapID) {
  if (auto handler = currentHandler(); handler && handler->onCaskContentChange) handler->onCaskContentChange(mmapID);
}

// Installs the core handlers for the members the handler has; a missing one
// leaves the earlier core handler in place.
void installCoreHandlers(const CaskHandler& handler, bool includeLog) {
  if (includeLog && handler.caskLogWithLevel) cask::Cask::registerLogHandler(logHandler);
  if (handler.onCaskCRCCheckFail || handler.onCaskFileLengthError) cask::Cask::registerErrorHandler(errorHandler);
  if (handler.onCaskContentChange) cask::Cask::registerContentChangeHandler(contentChangeHandler);
}

// Fires tryAutoCleanUpInstances() every period on its own thread.
class CleanUpTimer {
 public:
  void start(std::chrono::seconds period) {
    std::unique_lock<std::mutex> lock(mutex_);
    period_ = period;
    generation_++;
    if (!thread_.joinable()) {
      stop_ = false;
      thread_ = std::thread([this] { run(); });
    }
    changed_.notify_all();
  }

  // Must not be called with facadeLock() held: the timer's handler takes it.
  void stop() {
    std::thread thread;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      stop_ = true;
      thread = std::move(thread_);
      changed_.notify_all();
    }
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
    if (thread.joinable()) thread.detach();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      const uint64_t generation = generation_;
      const auto deadline = std::chrono::steady_clock::now() + period_;
      if (changed_.wait_until(lock, deadline, [&] { return stop_ || generation_ != generation; })) continue;
      lock.unlock();
      Cask::tryAutoCleanUpInstances();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;                   // Guarded by mutex_.
  std::chrono::seconds period_{0};       // Guarded by mutex_.
  uint64_t generation_ = 0;              // Guarded by mutex_.
  bool stop_ = false;                    // Guarded by mutex_.
};

// Leaked on purpose: a joinable thread must not meet a static destructor.
CleanUpTimer& cleanUpTimer() {
  static auto* timer = new CleanUpTimer();
  return *timer;
}

std::string keyString(const Data& key) { return std::string(key.begin(), key.end()); }

}  // namespace

// --- set-up ---------------------------------------------------------------------

std::string Cask::initializeCask(const std::string& rootDir) { return initializeCask(rootDir, CaskLogInfo, nullptr); }

std::string Cask::initializeCask(const std::string& rootDir, CaskLogLevel logLevel) {
  return initializeCask(rootDir, logLevel, nullptr);
}

std::string Cask::initializeCask(const std::string& rootDir, CaskLogLevel logLevel, const CaskHandler* handler) {
  ScopedLock<ThreadLock> lock(&facadeLock());
  FacadeState& s = state();
  if (s.hasCalledInitializeCask) {
    CaskWarning("already called +initializeCask before, ignore this request");
    return caskBasePath();
  }
  // The cache and its lock exist once per process: initialising again (after
  // setCaskBasePath) keeps the stores already open.
  setHandler(handler != nullptr ? std::make_shared<const CaskHandler>(*handler) : nullptr);
  const bool hasLog = handler != nullptr && static_cast<bool>(handler->caskLogWithLevel);
  if (!rootDir.empty()) s.basePath = rootDir;
  const std::string basePath = caskBasePath();
  cask::Cask::initializeCask(basePath, logLevel, hasLog ? logHandler : nullptr);
  if (handler != nullptr) installCoreHandlers(*handler, false);
  s.hasCalledInitializeCask = true;
  return basePath;
}

std::string Cask::initializeCask(const std::string& rootDir, const std::string& groupDir, CaskLogLevel logLevel) {
  return initializeCask(rootDir, groupDir, logLevel, nullptr);
}

std::string Cask::initializeCask(const std::string& rootDir, const std::string& groupDir, CaskLogLevel logLevel,
                                 const CaskHandler* handler) {
  const std::string result = initializeCask(rootDir, logLevel, handler);
  ScopedLock<ThreadLock> lock(&facadeLock());
  state().groupPath = groupDir.empty() ? std::string() : withoutTrailingSlashes(groupDir) + "/cask";
  CaskInfo("groupDir: %s", groupDir.c_str());
  return result;
}

size_t Cask::pageSize() { return cask::Cask::pageSize(); }

std::string Cask::version() { return cask::version(); }

std::string Cask::caskBasePath() {
  ScopedLock<ThreadLock> lock(&facadeLock());
  FacadeState& s = state();
  if (s.basePath.empty()) {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') s.basePath = withoutTrailingSlashes(home) + "/Documents/cask";
  }
  return s.basePath;
}

void Cask::setCaskBasePath(const std::string& path) {
  if (path.empty()) return;
  ScopedLock<ThreadLock> lock(&facadeLock());
  state().basePath = path;
  initializeCask(path);
  state().hasCalledInitializeCask = false;
  CaskInfo("set Cask base path to: %s", path.c_str());
}

std::string Cask::mmapKeyWithMMapID(const std::string& mmapID, const std::string& rootPath) {
  if (rootPath.empty() || rootPath == caskBasePath()) return mmapID;
  return md5Hex(withoutTrailingSlashes(rootPath) + "/" + mmapID);
}

void Cask::setLogLevel(CaskLogLevel level) { cask::Cask::setLogLevel(level); }

void Cask::registerHandler(const CaskHandler& handler) {
  ScopedLock<ThreadLock> lock(&facadeLock());
  setHandler(std::make_shared<const CaskHandler>(handler));
  installCoreHandlers(handler, true);
}

void Cask::unregiserHandler() {
  ScopedLock<ThreadLock> lock(&facadeLock());
  setHandler(nullptr);
  cask::Cask::registerLogHandler(nullptr);
  cask::Cask::registerErrorHandler(nullptr);
  cask::Cask::registerContentChangeHandler(nullptr);
}

// --- opening ----------------------------------------------------------------------

std::shared_ptr<Cask> Cask::defaultCask() { return caskWithID(kDefaultMMapID, Data(), std::string(), CaskSingleProcess); }

std::shared_ptr<Cask> Cask::defaultCaskWithCryptKey(const Data& cryptKey) {
  return caskWithID(kDefaultMMapID, cryptKey, std::string(), CaskSingleProcess);
}

std::shared_ptr<Cask> Cask::caskWithID(const std::string& mmapID) {
  return caskWithID(mmapID, Data(), std::string(), CaskSingleProcess);
}

std::shared_ptr<Cask> Cask::caskWithID(const std::string& mmapID, int mode) {
  return caskWithID(mmapID, Data(), std::string(), mode);
}

std::shared_ptr<Cask> Cask::caskWithID(const std::string& mmapID, const Data& cryptKey) {
  return caskWithID(mmapID, cryptKey, std::string(), CaskSingleProcess);
}

std::shared_ptr<Cask> Cask::caskWithID(const std::string& mmapID, const Data& cryptKey, int mode) {
  // The real opener falls back to the group path for multi-process stores.
  return caskWithID(mmapID, cryptKey, std::string(), mode);
}

std::shared_ptr<Cask> Cask::caskWithID(const std::string& mmapID, const std::string& rootPath) {
  return caskWithID(mmapID, Data(), rootPath, CaskSingleProcess);
}

std::shared_ptr<Cask> Cask::caskWithID(const std::string& mmapID, const Data& cryptKey, const std::string& rootPath) {
  return caskWithID(mmapID, cryptKey, rootPath, CaskSingleProcess);
}

std::shared_ptr<Cask> Cask::caskWithID(const std::string& mmapID, const Data& cryptKey, const std::string& rootPath,
                                       int mode) {
  if (mmapID.empty()) return nullptr;
  ScopedLock<ThreadLock> lock(&facadeLock());
  FacadeState& s = state();
  if (s.terminated) return nullptr;
  std::string root = rootPath;
  if ((mode & CaskMultiProcess) != 0 && root.empty()) {
    root = s.groupPath;
    if (root.empty()) {
      CaskError("Getting a multi-process Cask [%s] without setting groupDir makes no sense", mmapID.c_str());
    }
  }
  const std::string key = mmapKeyWithMMapID(mmapID, root);
  std::shared_ptr<Cask> object;
  if (auto found = s.instances.find(key); found != s.instances.end()) {
    object = found->second;
  } else {
    const std::string coreKey = keyString(cryptKey);
    cask::Cask* core = cask::Cask::caskWithID(mmapID, mode, cryptKey.empty() ? nullptr : &coreKey,
                                              root.empty() ? nullptr : &root);
    if (core == nullptr) return nullptr;
    auto owner = s.owners.find(core);
    if (owner != s.owners.end()) object = owner->second.weak.lock();
    if (!object) {
      object = std::shared_ptr<Cask>(new Cask(core, key));
      s.owners[core] = FacadeState::Owner{object.get(), object};
    }
    s.instances[key] = object;
  }
  object->m_lastAccessTime = secondsSinceReferenceDate();
  return object;
}

Cask::Cask(cask::Cask* core, std::string mmapKey)
    : m_mmapID(core->mmapID()), m_mmapKey(std::move(mmapKey)), m_cask(core) {}

Cask::~Cask() {
  ScopedLock<ThreadLock> lock(&facadeLock());
  FacadeState& s = state();
  CaskInfo("dealloc %s", m_mmapID.c_str());
  if (m_cask == nullptr) return;
  // A reopening may have made a new object for this core store while this
  // one was on its way out; then that one owns it now.
  auto owner = s.owners.find(m_cask);
  if (owner == s.owners.end() || owner->second.object != this) return;
  s.owners.erase(owner);
  m_cask->clearMemoryCache();
  m_cask->close();
  m_cask = nullptr;
}

// --- files ----------------------------------------------------------------------------

namespace {
const std::string* orNull(const std::string& path) { return path.empty() ? nullptr : &path; }
}  // namespace

bool Cask::isFileValid(const std::string& mmapID) { return isFileValid(mmapID, std::string()); }

bool Cask::isFileValid(const std::string& mmapID, const std::string& rootPath) {
  if (mmapID.empty()) return false;
  return cask::Cask::isFileValid(mmapID, orNull(rootPath));
}

bool Cask::backupOneCask(const std::string& mmapID, const std::string& rootPath, const std::string& dstDir) {
  return cask::Cask::backupOneToDirectory(mmapID, dstDir, orNull(rootPath));
}

bool Cask::restoreOneCask(const std::string& mmapID, const std::string& rootPath, const std::string& srcDir) {
  return cask::Cask::restoreOneFromDirectory(mmapID, srcDir, orNull(rootPath));
}

size_t Cask::backupAll(const std::string& rootPath, const std::string& dstDir) {
  return cask::Cask::backupAllToDirectory(dstDir, orNull(rootPath));
}

size_t Cask::restoreAll(const std::string& rootPath, const std::string& srcDir) {
  return cask::Cask::restoreAllFromDirectory(srcDir, orNull(rootPath));
}

namespace {
std::string groupPath() {
  ScopedLock<ThreadLock> lock(&facadeLock());
  return state().groupPath;
}
}  // namespace

bool Cask::backupMultiProcessCask(const std::string& mmapID, const std::string& dstDir) {
  const std::string group = groupPath();
  if (group.empty()) {
    CaskError("Backup a multi-process Cask [%s] without setting groupDir makes no sense", mmapID.c_str());
  }
  return cask::Cask::backupOneToDirectory(mmapID, dstDir, orNull(group));
}

bool Cask::restoreMultiProcessCask(const std::string& mmapID, const std::string& srcDir) {
  const std::string group = groupPath();
  if (group.empty()) {
    CaskError("Restore a multi-process Cask [%s] without setting groupDir makes no sense", mmapID.c_str());
  }
  return cask::Cask::restoreOneFromDirectory(mmapID, srcDir, orNull(group));
}

size_t Cask::backupAllMultiProcessToDirectory(const std::string& dstDir) {
  const std::string group = groupPath();
  if (group.empty()) CaskError("Backup multi-process Cask without setting groupDir makes no sense.");
  return cask::Cask::backupAllToDirectory(dstDir, orNull(group));
}

size_t Cask::restoreAllMultiProcessFromDirectory(const std::string& srcDir) {
  const std::string group = groupPath();
  if (group.empty()) CaskError("Restore multi-process Cask without setting groupDir makes no sense.");
  return cask::Cask::restoreAllFromDirectory(srcDir, orNull(group));
}

// --- idle clean-up and shutdown -----------------------------------------------------

void Cask::enableAutoCleanUp(uint32_t maxIdleMinutes) {
  CaskInfo("enable auto clean up with maxIdleMinutes:%u", maxIdleMinutes);
  uint32_t seconds;
  {
    ScopedLock<ThreadLock> lock(&facadeLock());
    state().maxIdleSeconds = maxIdleMinutes * 60;
    seconds = state().maxIdleSeconds;
  }
  if (seconds == 0) {
    // A zero period would spin.
    cleanUpTimer().stop();
    return;
  }
  cleanUpTimer().start(std::chrono::seconds(seconds));
}

void Cask::disableAutoCleanUp() {
  CaskInfo("disable auto clean up");
  {
    ScopedLock<ThreadLock> lock(&facadeLock());
    state().maxIdleSeconds = 0;
  }
  cleanUpTimer().stop();
}

void Cask::tryAutoCleanUpInstances() {
  std::vector<std::shared_ptr<Cask>> idle;
  {
    ScopedLock<ThreadLock> lock(&facadeLock());
    FacadeState& s = state();
    const uint64_t now = secondsSinceReferenceDate();
    std::string keys;
    for (auto it = s.instances.begin(); it != s.instances.end();) {
      if (it->second->m_lastAccessTime + s.maxIdleSeconds <= now && it->second.use_count() == 1) {
        keys += (keys.empty() ? "" : ", ") + it->first;
        idle.push_back(std::move(it->second));
        it = s.instances.erase(it);
      } else {
        ++it;
      }
    }
    if (!idle.empty()) CaskInfo("auto cleanup cask (%s)", keys.c_str());
    // Released here, under the lock, so a reopening waits for the close.
    idle.clear();
  }
}

void Cask::onAppTerminate() {
  cleanUpTimer().stop();
  ScopedLock<ThreadLock> lock(&facadeLock());
  FacadeState& s = state();
  for (auto& [key, object] : s.instances) object->m_cask = nullptr;
  for (auto& [core, owner] : s.owners) {
    if (auto object = owner.weak.lock()) object->m_cask = nullptr;
  }
  s.instances.clear();
  s.owners.clear();
  s.basePath.clear();
  s.groupPath.clear();
  s.terminated = true;
  cask::Cask::onExit();
}

// --- one store --------------------------------------------------------------------------

void Cask::clearAll() {
  if (m_cask != nullptr) m_cask->clearAll();
}

void Cask::trim() {
  if (m_cask != nullptr) m_cask->trim();
}

void Cask::clearMemoryCache() {
  if (m_cask != nullptr) m_cask->clearMemoryCache();
}

void Cask::close() {
  ScopedLock<ThreadLock> lock(&facadeLock());
  CaskInfo("closing %s", m_mmapID.c_str());
  FacadeState& s = state();
  if (auto found = s.instances.find(m_mmapKey); found != s.instances.end() && found->second.get() == this) {
    // Keep this object alive until the lock is released: the erase may drop
    // the last reference, whose destructor takes the lock again.
    std::shared_ptr<Cask> keep = std::move(found->second);
    s.instances.erase(found);
  }
}

std::optional<Data> Cask::cryptKey() {
  if (m_cask == nullptr) return std::nullopt;
  const std::string key = m_cask->cryptKey();
  if (key.empty()) return std::nullopt;
  return Data(key.begin(), key.end());
}

bool Cask::reKey(const Data& cryptKey) { return m_cask != nullptr && m_cask->reKey(keyString(cryptKey)); }

void Cask::checkReSetCryptKey(const Data& cryptKey) {
  if (m_cask == nullptr) return;
  const std::string key = keyString(cryptKey);
  m_cask->checkReSetCryptKey(key.empty() ? nullptr : &key);
}

bool Cask::setObject(const Archivable* object, std::string_view key) {
  if (key.empty() || m_cask == nullptr) return false;
  if (object == nullptr) {
    m_cask->removeValueForKey(key);
    return true;
  }
  Data archive;
  try {
    archive = object->archive();
  } catch (const std::exception& e) {
    CaskError("%s", e.what());
    return false;
  } catch (...) {
    CaskError("archiving [%.*s] failed", static_cast<int>(key.size()), key.data());
    return false;
  }
  return !archive.empty() && m_cask->setRaw(archive, key);
}

bool Cask::setBool(bool value, std::string_view key) { return m_cask != nullptr && m_cask->set(value, key); }
bool Cask::setInt32(int32_t value, std::string_view key) { return m_cask != nullptr && m_cask->set(value, key); }
bool Cask::setUInt32(uint32_t value, std::string_view key) { return m_cask != nullptr && m_cask->set(value, key); }
bool Cask::setInt64(int64_t value, std::string_view key) { return m_cask != nullptr && m_cask->set(value, key); }
bool Cask::setUInt64(uint64_t value, std::string_view key) { return m_cask != nullptr && m_cask->set(value, key); }
bool Cask::setFloat(float value, std::string_view key) { return m_cask != nullptr && m_cask->set(value, key); }
bool Cask::setDouble(double value, std::string_view key) { return m_cask != nullptr && m_cask->set(value, key); }

bool Cask::setString(std::optional<std::string_view> value, std::string_view key) {
  if (key.empty() || m_cask == nullptr) return false;
  if (!value) {
    m_cask->removeValueForKey(key);
    return true;
  }
  return m_cask->set(*value, key);
}

bool Cask::setDate(std::optional<double> value, std::string_view key) {
  if (key.empty() || m_cask == nullptr) return false;
  if (!value) {
    m_cask->removeValueForKey(key);
    return true;
  }
  return m_cask->set(*value, key);
}

bool Cask::setData(std::optional<std::span<const uint8_t>> value, std::string_view key) {
  if (key.empty() || m_cask == nullptr) return false;
  if (!value) {
    m_cask->removeValueForKey(key);
    return true;
  }
  return m_cask->set(*value, key);
}

#define CASK_FACADE_GETTER(Name, Type)                                          \
  Type Cask::Name(std::string_view key, Type defaultValue, bool* hasValue) {    \
    if (m_cask == nullptr) {                                                    \
      if (hasValue != nullptr) *hasValue = false;                               \
      return defaultValue;                                                      \
    }                                                                           \
    return m_cask->Name(key, defaultValue, hasValue);                           \
  }

CASK_FACADE_GETTER(getBool, bool)
CASK_FACADE_GETTER(getInt32, int32_t)
CASK_FACADE_GETTER(getUInt32, uint32_t)
CASK_FACADE_GETTER(getInt64, int64_t)
CASK_FACADE_GETTER(getUInt64, uint64_t)
CASK_FACADE_GETTER(getFloat, float)
CASK_FACADE_GETTER(getDouble, double)
#undef CASK_FACADE_GETTER

namespace {
template <typename T>
std::optional<T> objectOrDefault(std::optional<T> found, std::optional<T> defaultValue, bool* hasValue) {
  if (found) return found;
  if (hasValue != nullptr) *hasValue = false;
  return defaultValue;
}
}  // namespace

std::optional<std::string> Cask::getString(std::string_view key, std::optional<std::string> defaultValue,
                                           bool* hasValue) {
  if (key.empty()) return defaultValue;
  std::optional<std::string> found = m_cask != nullptr ? m_cask->getString(key) : std::nullopt;
  return objectOrDefault(std::move(found), std::move(defaultValue), hasValue);
}

std::optional<double> Cask::getDate(std::string_view key, std::optional<double> defaultValue, bool* hasValue) {
  if (key.empty()) return defaultValue;
  std::optional<double> found;
  if (m_cask != nullptr) {
    bool has = false;
    const double seconds = m_cask->getDouble(key, 0, &has);
    if (has) found = seconds;
  }
  return objectOrDefault(found, defaultValue, hasValue);
}

std::optional<Data> Cask::getData(std::string_view key, std::optional<Data> defaultValue, bool* hasValue) {
  if (key.empty()) return defaultValue;
  std::optional<Data> found = m_cask != nullptr ? m_cask->getBytes(key) : std::nullopt;
  return objectOrDefault(std::move(found), std::move(defaultValue), hasValue);
}

std::optional<std::vector<uint8_t>> Cask::rawValue(std::string_view key) {
  if (key.empty() || m_cask == nullptr) return std::nullopt;
  return m_cask->getRaw(key);
}

void Cask::logUnarchiveFailure(const char* what) { CaskError("%s", what); }

size_t Cask::getValueSizeForKey(std::string_view key, bool actualSize) {
  return m_cask != nullptr ? m_cask->getValueSize(key, actualSize) : 0;
}

int32_t Cask::writeValueForKey(std::string_view key, std::span<uint8_t> buffer) {
  if (m_cask == nullptr) return -1;
  const auto size = static_cast<int32_t>(std::min<size_t>(buffer.size(), INT32_MAX));
  return m_cask->writeValueToBuffer(key, buffer.data(), size);
}

bool Cask::containsKey(std::string_view key) { return m_cask != nullptr && m_cask->containsKey(key); }
size_t Cask::count() { return m_cask != nullptr ? m_cask->count() : 0; }
size_t Cask::totalSize() { return m_cask != nullptr ? m_cask->totalSize() : 0; }
size_t Cask::actualSize() { return m_cask != nullptr ? m_cask->actualSize() : 0; }
std::vector<std::string> Cask::allKeys() { return m_cask != nullptr ? m_cask->allKeys() : std::vector<std::string>(); }

void Cask::enumerateKeys(const std::function<void(const std::string& key, bool& stop)>& block) {
  if (m_cask != nullptr) m_cask->enumerateKeys(block);
}

void Cask::removeValueForKey(std::string_view key) {
  if (m_cask != nullptr) m_cask->removeValueForKey(key);
}

void Cask::removeValuesForKeys(const std::vector<std::string>& keys) {
  if (m_cask != nullptr) m_cask->removeValuesForKeys(keys);
}

void Cask::sync() {
  if (m_cask != nullptr) m_cask->sync(CaskSync);
}

void Cask::async() {
  if (m_cask != nullptr) m_cask->sync(CaskAsync);
}

void Cask::checkContentChanged() {
  if (m_cask != nullptr) m_cask->checkContentChanged();
}

// --- defaults migration ---------------------------------------------------------------

bool Cask::tranlateData(const DefaultsValue& value, const std::string& key, Cask& kv) {
  struct Visitor {
    const std::string& key;
    Cask& kv;
    bool operator()(std::monostate) const {
      CaskWarning("unknown type of key:%s", key.c_str());
      return false;
    }
    bool operator()(const std::string& v) const { return kv.setString(v, key); }
    bool operator()(const Data& v) const { return kv.setData(v, key); }
    bool operator()(const Date& v) const { return kv.setDate(v.timeIntervalSince1970, key); }
    // A boolean is a one-byte number: stored as an int32.
    bool operator()(bool v) const { return kv.setInt32(v ? 1 : 0, key); }
    bool operator()(int32_t v) const { return kv.setInt32(v, key); }
    bool operator()(int64_t v) const { return kv.setInt64(v, key); }
    bool operator()(float v) const { return kv.setFloat(v, key); }
    bool operator()(double v) const { return kv.setDouble(v, key); }
    bool operator()(const std::shared_ptr<const Archivable>& v) const {
      return v ? kv.setObject(v.get(), key) : (*this)(std::monostate{});
    }
  };
  return std::visit(Visitor{key, kv}, value);
}

size_t Cask::migrateFromUserDefaults(const UserDefaults& userDefaults) {
  if (userDefaults.empty()) {
    CaskInfo("migrate data fail, userDaults is nil or empty");
    return 0;
  }
  size_t count = 0;
  for (const auto& [key, value] : userDefaults) {
    if (tranlateData(value, key, *this)) ++count;
  }
  return count;
}

}  // namespace cask::facade
