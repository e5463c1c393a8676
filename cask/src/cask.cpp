#include "cask/cask.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "cask_internal.h"

namespace cask {

namespace detail {
std::atomic<ErrorHandler> g_errorHandler{nullptr};
std::atomic<ContentChangeHandler> g_contentChangeHandler{nullptr};
std::atomic<TestPointHook> g_testPointHook{nullptr};
}  // namespace detail

namespace {

pthread_once_t g_initOnce = PTHREAD_ONCE_INIT;
ThreadLock* g_instanceLock = nullptr;
std::unordered_map<std::string, Cask*>* g_instanceDic = nullptr;
std::string* g_rootDir = nullptr;  // Guarded by g_instanceLock.
bool g_terminated = false;         // Guarded by g_instanceLock.
// Stores unloaded by onExit stay allocated so that stale pointers return
// defaults instead of touching freed memory.
std::vector<Cask*>* g_retired = nullptr;

// The machine the process runs on, as uname(2) names it.
std::string machineName() {
  struct utsname name {};
  return uname(&name) == 0 ? std::string(name.machine) : std::string("unknown");
}

void initializeOnce() {
  ThreadLock::initialize();
  g_instanceLock = new ThreadLock();
  g_instanceDic = new std::unordered_map<std::string, Cask*>();
  g_rootDir = new std::string();
  g_retired = new std::vector<Cask*>();
  CaskInfo("version %s, page size %zu, arch %s", version(), getPageSize(), machineName().c_str());
}

void initialize() { ThreadLock::ThreadOnce(&g_initOnce, &initializeOnce); }

}  // namespace

const char* version() { return "v1.0.0"; }

namespace detail {
ThreadLock* instanceLock() {
  initialize();
  return g_instanceLock;
}
}  // namespace detail

namespace {
// "/a//b/" and "/a/b" name the same file.
std::string collapsedPath(const std::string& path) {
  std::string out;
  for (const char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return out;
}
}  // namespace

Cask* Cask::findOpenStore(const std::string& dataPath) {
  const std::string wanted = collapsedPath(dataPath);
  for (const auto& [key, store] : *g_instanceDic) {
    if (collapsedPath(store->m_dataPath) == wanted) return store;
  }
  return nullptr;
}

void Cask::initializeCask(const std::string& rootDir, CaskLogLevel logLevel, LogHandler handler) {
  detail::g_currentLogLevel = logLevel;
  detail::g_logHandler = handler;
  initialize();
  ScopedLock<ThreadLock> lock(g_instanceLock);
  *g_rootDir = rootDir;
  mkPath(rootDir);
  CaskInfo("root dir: %s", rootDir.c_str());
}

void Cask::setLogLevel(CaskLogLevel level) { detail::g_currentLogLevel = level; }
void Cask::registerLogHandler(LogHandler handler) { detail::g_logHandler = handler; }
void Cask::registerErrorHandler(ErrorHandler handler) { detail::g_errorHandler = handler; }
void Cask::registerContentChangeHandler(ContentChangeHandler handler) {
  detail::g_contentChangeHandler = handler;
}

std::string Cask::rootDir() {
  initialize();
  ScopedLock<ThreadLock> lock(g_instanceLock);
  return *g_rootDir;
}

size_t Cask::pageSize() { return getPageSize(); }

std::string Cask::mmapedKVKey(const std::string& mmapID, const std::string* rootPath) {
  if (rootPath == nullptr || rootPath->empty() || *rootPath == rootDir()) return mmapID;
  return md5Hex(*rootPath + "/" + mmapID);
}

std::string Cask::mappedKVPathWithID(const std::string& mmapID, const std::string* rootPath) {
  const std::string root = (rootPath != nullptr && !rootPath->empty()) ? *rootPath : rootDir();
  return root + "/" + encodeFilePath(mmapID);
}

std::string Cask::crcPathWithID(const std::string& mmapID, const std::string* rootPath) {
  return mappedKVPathWithID(mmapID, rootPath) + kCrcSuffix;
}

Cask* Cask::caskWithID(const std::string& mmapID, int mode, const std::string* cryptKey,
                       const std::string* rootPath) {
  if (mmapID.empty()) return nullptr;
  initialize();
  ScopedLock<ThreadLock> lock(g_instanceLock);
  if (g_terminated) return nullptr;
  const std::string key = mmapedKVKey(mmapID, rootPath);
  if (auto found = g_instanceDic->find(key); found != g_instanceDic->end()) return found->second;

  const std::string root = (rootPath != nullptr && !rootPath->empty()) ? *rootPath : *g_rootDir;
  if (root.empty()) {
    CaskError("no root dir for [%s]: call initializeCask first or pass a root path", mmapID.c_str());
    return nullptr;
  }
  // The same files under another instance key (the root directory changed
  // since): two stores on one file would overwrite each other's appends.
  if (Cask* sameFiles = findOpenStore(root + "/" + encodeFilePath(mmapID))) return sameFiles;
  // A given root gets its hashed-name folder whatever the id, so that a
  // restore of all stores into it finds where those stores go.
  const bool givenRoot = rootPath != nullptr && !rootPath->empty();
  if (givenRoot || needsHashedFileName(mmapID)) {
    mkPath(root + "/" + kSpecialCharacterDirectoryName);
  } else {
    mkPath(root);
  }
  if (givenRoot) {
    CaskInfo("prepare to load %s (id %s) from rootPath %s", key.c_str(), mmapID.c_str(), root.c_str());
  }
  auto* store = new Cask(mmapID, mode, cryptKey, &root);
  store->m_mmapKey = key;
  (*g_instanceDic)[key] = store;
  return store;
}

Cask* Cask::defaultCask(int mode, const std::string* cryptKey) {
  return caskWithID(kDefaultMMapID, mode, cryptKey, nullptr);
}

Cask::Cask(const std::string& mmapID, int mode, const std::string* cryptKey, const std::string* rootPath)
    : m_mmapID(mmapID),
      m_dataPath(mappedKVPathWithID(mmapID, rootPath)),
      m_metaPath(m_dataPath + kCrcSuffix),
      m_threadLock(std::make_unique<ThreadLock>()),
      m_multiProcess((mode & CaskMultiProcess) != 0) {
  if (cryptKey != nullptr && !cryptKey->empty()) {
    m_cipher = std::make_unique<AESCrypt>(cryptKey->data(), cryptKey->size());
    m_cryptIndex = std::make_unique<CryptIndex>();
  } else {
    m_plainIndex = std::make_unique<PlainIndex>();
  }
  m_metaMapping = std::make_unique<MemoryFile>(m_metaPath);
  m_dataFile = std::make_unique<MemoryFile>(m_dataPath);
  m_metaFileLock = std::make_unique<FileLock>(m_metaMapping->getFd());
  m_sharedLock = std::make_unique<InterProcessLock>(m_metaFileLock.get(), SharedLockType);
  m_exclusiveLock = std::make_unique<InterProcessLock>(m_metaFileLock.get(), ExclusiveLockType);
  m_sharedLock->setEnable(m_multiProcess);
  m_exclusiveLock->setEnable(m_multiProcess);
}

Cask::~Cask() {
  doClearMemoryCache();
  CaskInfo("destruct [%s]", m_mmapID.c_str());
}

void Cask::close() {
  CaskInfo("close [%s]", m_mmapID.c_str());
  {
    ScopedLock<ThreadLock> registry(g_instanceLock);
    ScopedLock<ThreadLock> lock(m_threadLock.get());
    if (auto found = g_instanceDic->find(m_mmapKey); found != g_instanceDic->end() && found->second == this) {
      g_instanceDic->erase(found);
    } else {
      return;  // already retired by onExit
    }
  }
  delete this;
}

void Cask::onExit() {
  initialize();
  ScopedLock<ThreadLock> registry(g_instanceLock);
  for (auto& [key, store] : *g_instanceDic) {
    ScopedLock<ThreadLock> lock(store->m_threadLock.get());
    store->sync(CaskSync);
    store->doClearMemoryCache();
    store->m_terminated = true;
    // Releases the process lock for good.
    store->m_metaFileLock->setFd(-1);
    store->m_metaMapping->clearMemoryCache();
    g_retired->push_back(store);
  }
  g_instanceDic->clear();
  g_terminated = true;
}

bool Cask::isWritable() const {
  return !m_terminated && !m_needsLoad && !m_undecodable && m_writer != nullptr &&
         m_dataFile->isFileValid() && m_metaMapping->isFileValid();
}

size_t Cask::indexSize() const { return m_cipher ? m_cryptIndex->size() : m_plainIndex->size(); }

std::span<const uint8_t> Cask::plainContent() const {
  if (!m_dataFile->isFileValid()) return {};
  return {m_dataFile->getMemory() + kFixed32Size, std::min(m_contentSize, m_dataFile->getFileSize() - kFixed32Size)};
}

// --- typed setters -------------------------------------------------------

namespace {

template <typename Writer>
std::vector<uint8_t> encode(size_t size, Writer&& write) {
  std::vector<uint8_t> bytes(size);
  CodedOutputData output(bytes.data(), bytes.size());
  write(output);
  return bytes;
}

}  // namespace

bool Cask::set(bool value, std::string_view key) {
  if (key.empty()) return false;
  return setDataForKey(encode(1, [&](CodedOutputData& o) { o.writeBool(value); }), key, false);
}

bool Cask::set(int32_t value, std::string_view key) {
  if (key.empty()) return false;
  return setDataForKey(encode(pbInt32Size(value), [&](CodedOutputData& o) { o.writeInt32(value); }), key, false);
}

bool Cask::set(uint32_t value, std::string_view key) {
  if (key.empty()) return false;
  return setDataForKey(encode(pbRawVarint32Size(value), [&](CodedOutputData& o) { o.writeUInt32(value); }),
                       key, false);
}

bool Cask::set(int64_t value, std::string_view key) {
  if (key.empty()) return false;
  return setDataForKey(encode(pbUInt64Size(static_cast<uint64_t>(value)),
                              [&](CodedOutputData& o) { o.writeInt64(value); }),
                       key, false);
}

bool Cask::set(uint64_t value, std::string_view key) {
  if (key.empty()) return false;
  return setDataForKey(encode(pbUInt64Size(value), [&](CodedOutputData& o) { o.writeUInt64(value); }), key,
                       false);
}

bool Cask::set(float value, std::string_view key) {
  if (key.empty()) return false;
  return setDataForKey(encode(4, [&](CodedOutputData& o) { o.writeFloat(value); }), key, false);
}

bool Cask::set(double value, std::string_view key) {
  if (key.empty()) return false;
  return setDataForKey(encode(8, [&](CodedOutputData& o) { o.writeDouble(value); }), key, false);
}

bool Cask::set(std::string_view value, std::string_view key) {
  if (key.empty()) return false;
  return setDataForKey({reinterpret_cast<const uint8_t*>(value.data()), value.size()}, key, true);
}

bool Cask::set(const char* value, std::string_view key) {
  if (key.empty()) return false;
  if (value == nullptr) {
    removeValueForKey(key);
    return true;
  }
  return set(std::string_view(value), key);
}

bool Cask::set(std::span<const uint8_t> value, std::string_view key) {
  if (key.empty()) return false;
  return setDataForKey(value, key, true);
}

bool Cask::setRaw(std::span<const uint8_t> value, std::string_view key) {
  if (key.empty() || value.empty()) return false;
  return setDataForKey(value, key, false);
}

// --- typed getters -------------------------------------------------------

template <typename Decode>
bool Cask::readValue(std::string_view key, Decode&& decode) {
  if (key.empty()) return false;
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  const RvBuffer bytes = getDataForKey(key);
  if (bytes.empty()) return false;
  try {
    decode(bytes);
    return true;
  } catch (const std::exception& e) {
    CaskError("%s", e.what());
    return false;
  }
}

#define CASK_SCALAR_GETTER(Name, Type)                                                     \
  Type Cask::Name(std::string_view key, Type defaultValue, bool* hasValue) {               \
    Type value = defaultValue;                                                             \
    const bool found =                                                                     \
        readValue(key, [&](const RvBuffer& bytes) { value = decodeValue<Type>(bytes.span()); }); \
    if (hasValue != nullptr) *hasValue = found;                                            \
    return value;                                                                          \
  }

CASK_SCALAR_GETTER(getBool, bool)
CASK_SCALAR_GETTER(getInt32, int32_t)
CASK_SCALAR_GETTER(getUInt32, uint32_t)
CASK_SCALAR_GETTER(getInt64, int64_t)
CASK_SCALAR_GETTER(getUInt64, uint64_t)
CASK_SCALAR_GETTER(getFloat, float)
CASK_SCALAR_GETTER(getDouble, double)
#undef CASK_SCALAR_GETTER

std::optional<std::string> Cask::getString(std::string_view key) {
  std::optional<std::string> result;
  readValue(key, [&](const RvBuffer& bytes) { result = decodeValue<std::string>(bytes.span()); });
  // Strings are UTF-8: other bytes under a string's prefix are no string
  // (getBytes still hands them out).
  if (result && !isValidUtf8({reinterpret_cast<const uint8_t*>(result->data()), result->size()})) return {};
  return result;
}

std::optional<std::vector<uint8_t>> Cask::getBytes(std::string_view key) {
  std::optional<std::vector<uint8_t>> result;
  readValue(key, [&](const RvBuffer& bytes) { result = decodeValue<std::vector<uint8_t>>(bytes.span()); });
  return result;
}

std::optional<std::vector<uint8_t>> Cask::getRaw(std::string_view key) {
  std::optional<std::vector<uint8_t>> result;
  readValue(key, [&](const RvBuffer& bytes) {
    result.emplace(bytes.data(), bytes.data() + bytes.length());
  });
  return result;
}

size_t Cask::getValueSize(std::string_view key, bool actualSize) {
  if (key.empty()) return 0;
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  const RvBuffer bytes = getDataForKey(key);
  if (actualSize && !bytes.empty()) {
    try {
      CodedInputData input(bytes.span());
      const int32_t length = input.readRawVarint32();
      if (length >= 0 && static_cast<size_t>(length) + pbRawVarint32Size(static_cast<uint32_t>(length)) ==
                             bytes.length()) {
        return static_cast<size_t>(length);
      }
    } catch (const std::exception& e) {
      CaskError("%s", e.what());
    }
  }
  return bytes.length();
}

int32_t Cask::writeValueToBuffer(std::string_view key, void* buffer, int32_t size) {
  if (key.empty() || size < 0) return -1;
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  const RvBuffer bytes = getDataForKey(key);
  if (bytes.empty()) return -1;
  int32_t length;
  try {
    length = CodedInputData(bytes.span()).readRawVarint32();
  } catch (const std::exception& e) {
    CaskError("%s", e.what());
    return -1;
  }
  const size_t prefix = pbRawVarint32Size(static_cast<uint32_t>(length));
  if (length >= 0 && static_cast<size_t>(length) + prefix == bytes.length()) {
    if (length > size) return -1;
    std::memcpy(buffer, bytes.data() + prefix, static_cast<size_t>(length));
    return length;
  }
  if (bytes.length() > static_cast<size_t>(size)) return -1;
  std::memcpy(buffer, bytes.data(), bytes.length());
  return static_cast<int32_t>(bytes.length());
}

// --- queries --------------------------------------------------------------

bool Cask::containsKey(std::string_view key) {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  checkLoadData();
  return m_cipher ? m_cryptIndex->contains(key) : m_plainIndex->contains(key, plainContent());
}

size_t Cask::count() {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  checkLoadData();
  return indexSize();
}

size_t Cask::totalSize() {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  checkLoadData();
  return m_dataFile->getFileSize();
}

size_t Cask::actualSize() {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  checkLoadData();
  return m_contentSize;
}

std::vector<std::string> Cask::allKeys() {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  checkLoadData();
  std::vector<std::string> keys;
  keys.reserve(indexSize());
  if (m_cipher) {
    for (const auto& entry : *m_cryptIndex) keys.push_back(entry.first);
  } else {
    const std::span<const uint8_t> content = plainContent();
    m_plainIndex->forEachOffset([&](uint32_t offset) {
      if (const auto pair = pairAt(content, offset)) keys.emplace_back(pair->key);
    });
  }
  return keys;
}

void Cask::enumerateKeys(const std::function<void(const std::string& key, bool& stop)>& block) {
  if (!block) return;
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  const std::vector<std::string> keys = allKeys();
  CaskInfo("enumerate [%s] begin", m_mmapID.c_str());
  for (const std::string& key : keys) {
    bool stop = false;
    block(key, stop);
    if (stop) break;
  }
  CaskInfo("enumerate [%s] finish", m_mmapID.c_str());
}

void Cask::removeValueForKey(std::string_view key) {
  if (key.empty()) return;
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_exclusiveLock.get());
  checkLoadData();
  (void)removeDataForKey(key);
}

void Cask::removeValuesForKeys(const std::vector<std::string>& keys) {
  if (keys.empty()) return;
  if (keys.size() == 1) {
    removeValueForKey(keys[0]);
    return;
  }
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_exclusiveLock.get());
  checkLoadData();
  if (!isWritable()) return;
  size_t deleted = 0;
  for (const std::string& key : keys) {
    deleted += m_cipher ? m_cryptIndex->erase(key) : m_plainIndex->erase(key, plainContent());
  }
  if (deleted > 0) {
    m_compacted = false;
    fullWriteback(Target::Keep, nullptr);
  }
}

void Cask::syncFiles(SyncFlag flag) {
  m_dataFile->msync(flag);
  m_metaMapping->msync(flag);
}

void Cask::sync(SyncFlag flag) {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  if (m_needsLoad || !m_dataFile->isFileValid()) return;
  ScopedLock<InterProcessLock> processLock(m_exclusiveLock.get());
  if (flag != CaskSync) {
    syncFiles(flag);
    return;
  }
  // Writes dirty only the header and the content (everything that shrinks
  // the content syncs the whole file itself). One call: each msync(MS_SYNC)
  // costs the device a cache flush, however few pages it writes.
  m_dataFile->msync(flag, 0, kFixed32Size + m_contentSize);
  m_metaMapping->msync(flag);
}

void Cask::clearMemoryCache() {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  if (m_needsLoad) return;
  CaskInfo("clearMemoryCache [%s]", m_mmapID.c_str());
  doClearMemoryCache();
}

void Cask::doClearMemoryCache() {
  m_needsLoad = true;
  m_undecodable = false;
  m_appendedSinceWriteBack = SIZE_MAX;
  clearIndex();
  if (m_cipher) {
    if (m_metaInfo.version >= CaskVersionRandomIV) {
      m_cipher->resetIV(m_metaInfo.vector, sizeof m_metaInfo.vector);
    } else {
      m_cipher->resetIV();
    }
  }
  m_writer.reset();
  // Only the data file: the meta file carries the process lock and must
  // stay open for the store's whole life.
  m_dataFile->clearMemoryCache();
  m_contentSize = 0;
  m_metaInfo.crcDigest = 0;
}

void Cask::clearIndex() {
  // A reload of the same content will need as many entries again.
  const size_t entries = (m_plainIndex ? m_plainIndex->size() : 0) + (m_cryptIndex ? m_cryptIndex->size() : 0);
  if (entries > 0) m_lastIndexSize = entries;
  if (m_plainIndex) m_plainIndex->clear();
  if (m_cryptIndex) m_cryptIndex->clear();
}

std::string Cask::cryptKey() {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  return m_cipher ? m_cipher->keyString() : std::string();
}

void Cask::checkReSetCryptKey(const std::string* cryptKey) {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  if (m_terminated) return;
  const bool hasKey = cryptKey != nullptr && !cryptKey->empty();
  if (m_cipher && hasKey && AESCrypt(cryptKey->data(), cryptKey->size()).keyString() == m_cipher->keyString()) {
    return;
  }
  if (!m_cipher && !hasKey) return;
  CaskInfo(hasKey ? "setting new aes key" : "reset aes key");
  // Drop what was decoded with the old key before swapping the index kind.
  doClearMemoryCache();
  if (hasKey) {
    m_cipher = std::make_unique<AESCrypt>(cryptKey->data(), cryptKey->size());
    if (!m_cryptIndex) m_cryptIndex = std::make_unique<CryptIndex>();
  } else {
    m_cipher.reset();
    if (!m_plainIndex) m_plainIndex = std::make_unique<PlainIndex>();
  }
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  checkLoadData();
}

void Cask::checkContentChanged() {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  checkLoadData();
}

bool Cask::isUndecodable() {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_sharedLock.get());
  checkLoadData();
  return m_undecodable;
}

void Cask::notifyContentChanged() {
  if (ContentChangeHandler handler = detail::g_contentChangeHandler.load()) handler(m_mmapID);
}

}  // namespace cask
