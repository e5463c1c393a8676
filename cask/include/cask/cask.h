#pragma once
// The store's core: one cask::Cask per open store, kept in a process-wide
// registry by instance key. A store is a memory-mapped, append-only file of
// typed values under string keys, optionally AES-128-CFB encrypted, and may
// be shared by several processes (CaskMultiProcess) through flock locks on its
// meta file. The file layout is in cask/format.h.
//
//   cask::Cask::initializeCask("/home/me/.local/share/app/cask");
//   cask::Cask* store = cask::Cask::caskWithID("settings", cask::CaskMultiProcess, &key);
//   store->set(int64_t{5}, "launches");
//   int64_t n = store->getInt64("launches");
//
// Thread-safe: every operation holds the store's recursive lock, and in
// multi-process mode the shared (reads) or exclusive (writes) file lock.
// Not fork-safe: a child process reopens stores after exec and never uses
// the ones it inherited (see cask_facade.h).
// Decoding errors never reach the caller: they are logged and turn into the
// default value or a false result. A store whose content does not decode
// (wrong key, plain/encrypted mix-up) is "undecodable": reads give defaults
// and writes fail until the key is changed or another process rewrites it.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cask/format.h"

namespace cask {

enum CaskMode : int32_t {
  CaskSingleProcess = 1 << 0,
  CaskMultiProcess = 1 << 1,
};

enum CaskLogLevel : int32_t {
  CaskLogDebug = 0,
  CaskLogInfo = 1,
  CaskLogWarning = 2,
  CaskLogError = 3,
  CaskLogNone = 4,
};

enum CaskErrorType : int32_t {
  CaskCRCCheckFail = 0,
  CaskFileLength = 1,
};

enum CaskRecoverStrategic : int32_t {
  CaskOnErrorDiscard = 0,
  CaskOnErrorRecover = 1,
};

using SyncFlag = bool;
inline constexpr SyncFlag CaskSync = true;
inline constexpr SyncFlag CaskAsync = false;

// Handlers are plain functions, called on the thread of the operation that
// needs them, with the store's locks held: they must not call back into the
// same store from another thread.
using LogHandler = void (*)(CaskLogLevel level, const char* file, int line, const char* function,
                            const std::string& message);
using ErrorHandler = CaskRecoverStrategic (*)(const std::string& mmapID, CaskErrorType errorType);
using ContentChangeHandler = void (*)(const std::string& mmapID);

// "v" followed by a three-part version number.
[[nodiscard]] const char* version();

class MemoryFile;
class AESCrypt;
class CodedOutputData;
class FileLock;
class InterProcessLock;
class ThreadLock;
class RvBuffer;
struct KeyValueHolder;
struct KeyValueHolderCrypt;
struct AESCryptStatus;
template <typename Value>
class FlatIndex;
class PairIndex;

class Cask {
 public:
  // Process-wide set-up: log level and handler, the default root directory
  // (created with its parents). Later calls change level, handler and root.
  static void initializeCask(const std::string& rootDir, CaskLogLevel logLevel = CaskLogInfo,
                             LogHandler handler = nullptr);
  static void setLogLevel(CaskLogLevel level);
  // nullptr clears a handler.
  static void registerLogHandler(LogHandler handler);
  static void registerErrorHandler(ErrorHandler handler);
  static void registerContentChangeHandler(ContentChangeHandler handler);
  [[nodiscard]] static std::string rootDir();
  // The page size; every data and meta file is a multiple of it.
  [[nodiscard]] static size_t pageSize();

  // Opens (or returns the already open) store. `cryptKey` (first 16 bytes
  // used; null or empty: plain) and `rootPath` (null: the root directory)
  // are copied. A store found open keeps its own mode and key. Returns null
  // for an empty id, when no root directory is known, or after onExit(). The
  // store stays owned by the registry until close() or onExit().
  [[nodiscard]] static Cask* caskWithID(const std::string& mmapID, int mode = CaskSingleProcess,
                                        const std::string* cryptKey = nullptr,
                                        const std::string* rootPath = nullptr);
  [[nodiscard]] static Cask* defaultCask(int mode = CaskSingleProcess, const std::string* cryptKey = nullptr);
  // The registry key: the id, or the MD5 hex of rootPath + "/" + id when a
  // root path other than the root directory is given.
  [[nodiscard]] static std::string mmapedKVKey(const std::string& mmapID, const std::string* rootPath = nullptr);
  // Paths of a store's files (root path null: the root directory).
  [[nodiscard]] static std::string mappedKVPathWithID(const std::string& mmapID, const std::string* rootPath = nullptr);
  [[nodiscard]] static std::string crcPathWithID(const std::string& mmapID, const std::string* rootPath = nullptr);
  // Syncs and unloads every open store and empties the registry. Store
  // pointers stay safe to call afterwards: they return defaults and fail
  // writes. No store can be opened after it.
  static void onExit();

  // Backup and restore copy a store's data and meta files (and a pending
  // compaction journal) between its root directory and another one, also
  // while the store is open here or in other processes. A missing directory
  // argument means the root directory. Backups go through a synced temporary
  // file in the destination folder and a rename, so a destination is either
  // the old or the new copy. Restores refuse a backup that does not pass
  // isFileValid(); they write into the existing files (mappings stay
  // attached), raise the meta sequence so every process reloads, and reload a
  // store open here. Same directory on both sides: true (or 1), nothing copied.
  static bool backupOneToDirectory(const std::string& mmapID, const std::string& dstDir,
                                   const std::string* srcDir = nullptr);
  static bool restoreOneFromDirectory(const std::string& mmapID, const std::string& srcDir,
                                      const std::string* dstDir = nullptr);
  // The number of stores copied; data files without their meta file are
  // skipped with a warning.
  static size_t backupAllToDirectory(const std::string& dstDir, const std::string* srcDir = nullptr);
  static size_t restoreAllFromDirectory(const std::string& srcDir, const std::string* dstDir = nullptr);
  // Whether loading would accept the store's files as they are (same size,
  // CRC, fallback and journal rules); true when there is no data file.
  // Writes nothing.
  [[nodiscard]] static bool isFileValid(const std::string& mmapID, const std::string* rootPath = nullptr);

  Cask(const Cask&) = delete;
  Cask& operator=(const Cask&) = delete;

  [[nodiscard]] const std::string& mmapID() const { return m_mmapID; }
  [[nodiscard]] const std::string& mmapKey() const { return m_mmapKey; }
  [[nodiscard]] bool isMultiProcess() const { return m_multiProcess; }
  [[nodiscard]] const std::string& dataPath() const { return m_dataPath; }
  [[nodiscard]] const std::string& metaPath() const { return m_metaPath; }

  // Setters: false for an empty key, a key of 64 KiB or more, a key that is
  // not UTF-8, a value of 2 GiB or more, and when the write fails (store
  // undecodable or unusable, disk full).
  bool set(bool value, std::string_view key);
  bool set(int32_t value, std::string_view key);
  bool set(uint32_t value, std::string_view key);
  bool set(int64_t value, std::string_view key);
  bool set(uint64_t value, std::string_view key);
  bool set(float value, std::string_view key);
  bool set(double value, std::string_view key);  // also dates: seconds since 1970
  // A string (UTF-8) or byte data, stored with a length prefix.
  bool set(std::string_view value, std::string_view key);
  bool set(const char* value, std::string_view key);  // null removes the key
  bool set(std::span<const uint8_t> value, std::string_view key);
  // Bytes stored as they are, without a length prefix (archived objects);
  // empty bytes return false.
  bool setRaw(std::span<const uint8_t> value, std::string_view key);

  // Getters: the default (and *hasValue = false) for an empty or missing key
  // or a value that does not decode as the type.
  bool getBool(std::string_view key, bool defaultValue = false, bool* hasValue = nullptr);
  int32_t getInt32(std::string_view key, int32_t defaultValue = 0, bool* hasValue = nullptr);
  uint32_t getUInt32(std::string_view key, uint32_t defaultValue = 0, bool* hasValue = nullptr);
  int64_t getInt64(std::string_view key, int64_t defaultValue = 0, bool* hasValue = nullptr);
  uint64_t getUInt64(std::string_view key, uint64_t defaultValue = 0, bool* hasValue = nullptr);
  float getFloat(std::string_view key, float defaultValue = 0, bool* hasValue = nullptr);
  double getDouble(std::string_view key, double defaultValue = 0, bool* hasValue = nullptr);
  // Length-prefixed values (strings, byte data); nothing when missing or
  // not decodable.
  std::optional<std::string> getString(std::string_view key);
  std::optional<std::vector<uint8_t>> getBytes(std::string_view key);
  // The value bytes as stored; nothing when missing.
  std::optional<std::vector<uint8_t>> getRaw(std::string_view key);

  // With actualSize, the length inside a length prefix that spans the whole
  // value; else (or without such a prefix) the stored byte count.
  size_t getValueSize(std::string_view key, bool actualSize);
  // Copies the value (without its length prefix when it has one) into
  // `buffer`; returns the bytes written, or -1 when missing or too large.
  int32_t writeValueToBuffer(std::string_view key, void* buffer, int32_t size);

  bool containsKey(std::string_view key);
  size_t count();
  size_t totalSize();   // data file size
  size_t actualSize();  // content bytes
  std::vector<std::string> allKeys();
  // Calls `block` for each key of a snapshot taken first, so the block may
  // write to the store. Setting `stop` ends the walk.
  void enumerateKeys(const std::function<void(const std::string& key, bool& stop)>& block);

  void removeValueForKey(std::string_view key);
  void removeValuesForKeys(const std::vector<std::string>& keys);

  void sync(SyncFlag flag = CaskSync);
  // Drops the decoded index and unmaps the data file; the next access reloads.
  void clearMemoryCache();
  void clearAll();
  // Compacts and shrinks the data file to what the content needs.
  void trim();
  // Re-encrypts the content with `cryptKey` (empty: turns the store plain).
  bool reKey(const std::string& cryptKey);
  // Uses `cryptKey` (null or empty: none) for reading from now on, e.g. after
  // another process re-keyed the store, and reloads.
  void checkReSetCryptKey(const std::string* cryptKey);
  // The key up to its first zero byte (at most 16 bytes); empty when plain.
  std::string cryptKey();
  // Picks up changes made by other processes now.
  void checkContentChanged();
  // The content passed its CRC but did not decode (wrong key?).
  bool isUndecodable();

  // Removes the store from the registry and destroys it; the pointer is
  // dangling afterwards.
  void close();

 private:
  struct Prepared;
  enum class Validation { Load, Recover, Discard, NeedExclusive };
  enum class Target { Keep, NewCrypter, Plain };
  using PlainIndex = PairIndex;
  using CryptIndex = FlatIndex<KeyValueHolderCrypt>;

  Cask(const std::string& mmapID, int mode, const std::string* cryptKey, const std::string* rootPath);
  ~Cask();

  // Backup and restore (cask_backup.cpp).
  // Requires: g_instanceLock held. The open store whose data file is `dataPath`.
  static Cask* findOpenStore(const std::string& dataPath);
  static bool backupOne(const std::string& srcDataPath, const std::string& dstDataPath);
  static bool restoreOne(const std::string& srcDataPath, const std::string& dstDataPath);
  static size_t backupOrRestoreAll(const std::string& srcDir, const std::string& dstDir, bool restore);
  // The same for a root directory and its special-character subdirectory;
  // 1 when the two are one directory.
  static size_t backupOrRestoreTree(const std::string& srcDir, const std::string& dstDir, bool restore);

  // Getters (cask.cpp, the only user). Takes the locks, looks `key` up and
  // hands its stored bytes to `decode`. False when the key is missing or
  // `decode` throws (the error is logged).
  template <typename Decode>
  bool readValue(std::string_view key, Decode&& decode);

  // Loading (cask_load.cpp). Requires: m_threadLock held.
  void checkLoadData();
  void loadFromFile();
  void partialLoadFromFile();
  Validation checkDataValid(bool mayWrite);
  bool checkLastConfirmedInfo();
  bool checkFileCRCValid(size_t actualSize, uint32_t crcDigest);
  // Stores `computed` as the running CRC; false (logged) when it is not `crcDigest`.
  bool crcMatches(uint32_t computed, uint32_t crcDigest);
  // checkFileCRCValid that decodes the content in the same read; a passing
  // check leaves the index in m_checkedIndex or m_checkedCryptIndex.
  bool checkAndDecode(size_t actualSize, uint32_t crcDigest);
  size_t readActualSize();
  bool writeActualSize(size_t size, uint32_t crcDigest, const uint8_t* iv, bool increaseSequence);
  void readMetaFromMapping(CaskMetaInfo& info) const;
  bool decodeContent(size_t from, bool greedy);
  void clearIndex();
  void notifyContentChanged();
  void copyDamagedFilesAside();
  bool restoreFromJournalIfNeeded();
  void doClearMemoryCache();

  // Writing (cask_write.cpp). Requires: m_threadLock held.
  RvBuffer getDataForKey(std::string_view key);
  bool setDataForKey(std::span<const uint8_t> data, std::string_view key, bool isDataHolder);
  bool removeDataForKey(std::string_view key);
  struct AppendResult;
  std::optional<AppendResult> doAppendDataWithKey(std::span<const uint8_t> data, std::string_view key,
                                                  bool isDataHolder);
  bool ensureMemorySize(size_t newSize);
  Prepared prepareData();
  bool fullWriteback(Target target, AESCrypt* newCrypter);
  bool doFullWriteBack(Prepared prepared, Target target, AESCrypt* newCrypter);
  void memmovePlain(const Prepared& prepared, AESCrypt* target);
  void memmoveCrypt(const Prepared& prepared, AESCrypt* target);
  // Saves the meta record and the data file's first `dataLength` bytes.
  bool writeJournal(size_t dataLength);
  bool rewriteChangesBytes(const Prepared& prepared, AESCrypt* target) const;
  void removeJournal();
  void removeStaleJournalTemp();
  void doClearAll();
  void resetWriter();
  bool isWritable() const;
  size_t indexSize() const;
  // The plain content as mapped now (empty when the file is not); the plain
  // index reads keys and sizes there.
  std::span<const uint8_t> plainContent() const;
  void syncFiles(SyncFlag flag);

  std::string m_mmapKey;
  std::string m_mmapID;
  std::string m_dataPath;     // data file
  std::string m_metaPath;  // meta file
  std::unique_ptr<PlainIndex> m_plainIndex;
  std::unique_ptr<CryptIndex> m_cryptIndex;
  // Decoded while the content's CRC was checked; taken by the load that follows.
  std::unique_ptr<PlainIndex> m_checkedIndex;
  std::unique_ptr<CryptIndex> m_checkedCryptIndex;
  std::unique_ptr<AESCryptStatus> m_checkedCrypterEnd;  // where the crypter stands after it
  std::unique_ptr<MemoryFile> m_dataFile;
  std::unique_ptr<CodedOutputData> m_writer;
  size_t m_contentSize = 0;
  size_t m_lastIndexSize = 0;  // entries before the last clearIndex()
  // Pair bytes appended since this process's last write-back of the store;
  // SIZE_MAX when there was none since the store was loaded.
  size_t m_appendedSinceWriteBack = SIZE_MAX;
  bool m_needsLoad = true;
  bool m_compacted = false;
  bool m_undecodable = false;
  bool m_terminated = false;
  uint32_t m_crcDigest = 0;
  // The meta file stays open and mapped for the store's whole life: the
  // process lock lives on its descriptor.
  std::unique_ptr<MemoryFile> m_metaMapping;
  CaskMetaInfo m_metaInfo;
  std::unique_ptr<AESCrypt> m_cipher;
  std::unique_ptr<ThreadLock> m_threadLock;
  std::unique_ptr<FileLock> m_metaFileLock;
  std::unique_ptr<InterProcessLock> m_sharedLock;
  std::unique_ptr<InterProcessLock> m_exclusiveLock;
  bool m_multiProcess = false;

  friend struct CaskTestAccess;
};

}  // namespace cask
