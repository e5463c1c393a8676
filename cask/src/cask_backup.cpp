// Backup, restore and file validation of stores.
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "cask_internal.h"

namespace cask {

namespace {

std::string fileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool endsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string trimmedDirectory(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// A compaction journal belongs to the data file it sits beside: it travels
// with the copy, and a stale one at the destination must not be replayed
// over what was copied.
bool carryJournal(const std::string& srcDataPath, const std::string& dstDataPath) {
  const std::string src = srcDataPath + kJournalSuffix;
  const std::string dst = dstDataPath + kJournalSuffix;
  if (isFileExist(src)) return copyFile(src, dst);
  if (unlink(dst.c_str()) != 0 && errno != ENOENT) {
    CaskError("fail to remove stale journal [%s], %s", dst.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

// A short meta file reads as zeros, as the loader sees it.
bool readMetaAt(int fd, CaskMetaInfo& info) {
  uint8_t raw[sizeof(CaskMetaInfo)] = {};
  const ssize_t got = pread(fd, raw, sizeof raw, 0);
  std::memcpy(&info, raw, sizeof info);
  return got >= 0;
}

// After a restore the meta record carries a sequence above both the old and
// the restored one, so every process holding the store reloads it whole.
bool raiseSequence(int metaFd, uint32_t oldSequence) {
  CaskMetaInfo info;
  if (!readMetaAt(metaFd, info)) return false;
  info.sequence = std::max(info.sequence, oldSequence) + 1;
  if (info.version < CaskVersionSequence) info.version = CaskVersionSequence;
  if (pwrite(metaFd, &info, sizeof info, 0) != static_cast<ssize_t>(sizeof info)) {
    CaskError("fail to write meta sequence, %s", std::strerror(errno));
    return false;
  }
  return true;
}

// Copies a backup into the destination's existing files, keeping their
// inodes. Requires: the destination's exclusive process lock held.
bool restoreFiles(const std::string& srcDataPath, const std::string& dstDataPath, int dstDataFd, int dstMetaFd) {
  CaskMetaInfo before;
  readMetaAt(dstMetaFd, before);
  // Drop a stale journal first: replayed later it would undo the restore.
  if (unlink((dstDataPath + kJournalSuffix).c_str()) != 0 && errno != ENOENT) return false;
  const bool dataCopied = dstDataFd >= 0 ? copyFileContent(srcDataPath, dstDataFd)
                                         : copyFileContent(srcDataPath, dstDataPath);
  if (!dataCopied || !copyFileContent(srcDataPath + kCrcSuffix, dstMetaFd)) return false;
  if (!raiseSequence(dstMetaFd, before.sequence)) return false;
  if (!carryJournal(srcDataPath, dstDataPath)) return false;
  if (dstDataFd >= 0) fsync(dstDataFd);
  fsync(dstMetaFd);
  return true;
}

bool backupIsSound(const std::string& srcDataPath) {
  const FileCheck check = checkDataFile(srcDataPath);
  if (check == FileCheck::Valid) return true;
  CaskError("backup [%s] is not sound (%s); nothing restored", srcDataPath.c_str(), fileCheckName(check));
  return false;
}

}  // namespace

bool Cask::backupOne(const std::string& srcDataPath, const std::string& dstDataPath) {
  ScopedLock<ThreadLock> registry(detail::instanceLock());
  if (Cask* store = findOpenStore(srcDataPath)) {
    CaskInfo("backup one cached cask[%s] from [%s] to [%s]", store->m_mmapKey.c_str(), srcDataPath.c_str(),
             dstDataPath.c_str());
    ScopedLock<ThreadLock> lock(store->m_threadLock.get());
    ScopedLock<InterProcessLock> processLock(store->m_exclusiveLock.get());
    store->sync(CaskSync);
    const bool ok = copyFile(srcDataPath, dstDataPath) && copyFile(store->m_metaPath, dstDataPath + kCrcSuffix) &&
                    carryJournal(srcDataPath, dstDataPath);
    CaskInfo("finish backup one cask[%s], ret: %d", store->m_mmapKey.c_str(), ok);
    return ok;
  }
  File meta(srcDataPath + kCrcSuffix, ReadOnly);
  if (!meta.isFileValid()) return false;
  CaskInfo("backup one cask[%s] from [%s] to [%s]", fileNameOf(srcDataPath).c_str(), srcDataPath.c_str(),
           dstDataPath.c_str());
  if (flock(meta.getFd(), LOCK_SH) != 0) {
    CaskError("fail to lock [%s], %s", meta.getPath().c_str(), std::strerror(errno));
    return false;
  }
  const bool ok = copyFile(srcDataPath, dstDataPath) && copyFile(meta.getPath(), dstDataPath + kCrcSuffix) &&
                  carryJournal(srcDataPath, dstDataPath);
  flock(meta.getFd(), LOCK_UN);
  CaskInfo("finish backup one cask[%s]", fileNameOf(srcDataPath).c_str());
  return ok;
}

bool Cask::restoreOne(const std::string& srcDataPath, const std::string& dstDataPath) {
  if (!backupIsSound(srcDataPath)) return false;
  ScopedLock<ThreadLock> registry(detail::instanceLock());
  if (Cask* store = findOpenStore(dstDataPath)) {
    CaskInfo("restore one cached cask[%s] from [%s] to [%s]", store->m_mmapKey.c_str(), srcDataPath.c_str(),
             dstDataPath.c_str());
    ScopedLock<ThreadLock> lock(store->m_threadLock.get());
    if (store->m_terminated) return false;
    ScopedLock<InterProcessLock> processLock(store->m_exclusiveLock.get());
    if (!processLock.locked()) return false;
    store->sync(CaskSync);
    const bool ok =
        restoreFiles(srcDataPath, dstDataPath, store->m_dataFile->getFd(), store->m_metaMapping->getFd());
    // Whatever was copied, the memory state no longer matches the files.
    store->doClearMemoryCache();
    store->loadFromFile();
    if (store->m_multiProcess) store->notifyContentChanged();
    CaskInfo("finish restore one cask[%s], ret: %d", store->m_mmapKey.c_str(), ok);
    return ok;
  }
  mkPath(directoryOf(dstDataPath));
  File meta(dstDataPath + kCrcSuffix, ReadWrite | Create);
  if (!meta.isFileValid()) return false;
  CaskInfo("restore one cask[%s] from [%s] to [%s]", fileNameOf(dstDataPath).c_str(), srcDataPath.c_str(),
           dstDataPath.c_str());
  if (flock(meta.getFd(), LOCK_EX) != 0) {
    CaskError("fail to lock [%s], %s", meta.getPath().c_str(), std::strerror(errno));
    return false;
  }
  const bool ok = restoreFiles(srcDataPath, dstDataPath, -1, meta.getFd());
  flock(meta.getFd(), LOCK_UN);
  CaskInfo("finish restore one cask[%s]", fileNameOf(dstDataPath).c_str());
  return ok;
}

bool Cask::backupOneToDirectory(const std::string& mmapID, const std::string& dstDir, const std::string* srcDir) {
  if (mmapID.empty() || dstDir.empty()) return false;
  const std::string root = trimmedDirectory(srcDir != nullptr && !srcDir->empty() ? *srcDir : rootDir());
  const std::string target = trimmedDirectory(dstDir);
  if (target == root) return true;
  const std::string fileName = encodeFilePath(mmapID);
  mkPath(directoryOf(target + "/" + fileName));
  return backupOne(root + "/" + fileName, target + "/" + fileName);
}

bool Cask::restoreOneFromDirectory(const std::string& mmapID, const std::string& srcDir, const std::string* dstDir) {
  if (mmapID.empty() || srcDir.empty()) return false;
  const std::string root = trimmedDirectory(dstDir != nullptr && !dstDir->empty() ? *dstDir : rootDir());
  const std::string source = trimmedDirectory(srcDir);
  if (source == root) return true;
  const std::string fileName = encodeFilePath(mmapID);
  mkPath(directoryOf(root + "/" + fileName));
  return restoreOne(source + "/" + fileName, root + "/" + fileName);
}

size_t Cask::backupOrRestoreAll(const std::string& srcDir, const std::string& dstDir, bool restore) {
  std::set<std::string> metaFiles;
  std::vector<std::string> dataFiles;
  walkInDir(srcDir, WalkFile, [&](const std::string& path, WalkType) {
    const std::string name = fileNameOf(path);
    // Copies of damaged files, journals and half-written temporaries are
    // not stores.
    if (name.starts_with(".") || endsWith(name, kJournalSuffix) || endsWith(name, kDamagedSuffix) ||
        endsWith(name, kTempSuffix)) {
      return;
    }
    if (endsWith(name, kCrcSuffix)) {
      metaFiles.insert(path);
    } else {
      dataFiles.push_back(path);
    }
  });
  if (dataFiles.empty()) return 0;
  std::sort(dataFiles.begin(), dataFiles.end());
  mkPath(dstDir);
  size_t count = 0;
  for (const std::string& path : dataFiles) {
    if (!metaFiles.contains(path + kCrcSuffix)) {
      CaskWarning("crc not exist [%s]", path.c_str());
      continue;
    }
    const std::string destination = dstDir + "/" + fileNameOf(path);
    if (restore ? restoreOne(path, destination) : backupOne(path, destination)) ++count;
  }
  return count;
}

size_t Cask::backupOrRestoreTree(const std::string& srcDir, const std::string& dstDir, bool restore) {
  if (srcDir == dstDir) return 1;
  size_t count = backupOrRestoreAll(srcDir, dstDir, restore);
  // Hashed-name stores travel whenever the source has their folder; the
  // copy makes the folder on the other side when it is not there yet.
  const std::string special = srcDir + "/" + kSpecialCharacterDirectoryName;
  if (isFileExist(special)) {
    count += backupOrRestoreAll(special, dstDir + "/" + kSpecialCharacterDirectoryName, restore);
  }
  return count;
}

size_t Cask::backupAllToDirectory(const std::string& dstDir, const std::string* srcDir) {
  if (dstDir.empty()) return 0;
  const std::string root = trimmedDirectory(srcDir != nullptr && !srcDir->empty() ? *srcDir : rootDir());
  return backupOrRestoreTree(root, trimmedDirectory(dstDir), false);
}

size_t Cask::restoreAllFromDirectory(const std::string& srcDir, const std::string* dstDir) {
  if (srcDir.empty()) return 0;
  const std::string root = trimmedDirectory(dstDir != nullptr && !dstDir->empty() ? *dstDir : rootDir());
  return backupOrRestoreTree(trimmedDirectory(srcDir), root, true);
}

bool Cask::isFileValid(const std::string& mmapID, const std::string* rootPath) {
  if (mmapID.empty()) return false;
  const FileCheck check = checkDataFile(mappedKVPathWithID(mmapID, rootPath));
  if (check != FileCheck::Valid && check != FileCheck::NoData) {
    CaskWarning("[%s] is not valid: %s", mmapID.c_str(), fileCheckName(check));
  }
  return check == FileCheck::Valid || check == FileCheck::NoData;
}

}  // namespace cask
