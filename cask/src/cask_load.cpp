// Loading, validation, recovery and the meta record update.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "cask_internal.h"
#include "pair_stream.h"

namespace cask {

namespace {

constexpr char kJournalMagic[8] = {'C', 'A', 'S', 'K', 'J', 'N', 'L', '1'};
constexpr size_t kJournalHeaderSize = 16;  // magic, data length, crc

// A full load sizes its index once, after this many pairs: room for as many
// more as the rest of the content holds at their size (dead pairs count too).
constexpr size_t kSizingPairs = 1024;

size_t estimatePairs(size_t pairs, size_t position, size_t contentSize) {
  return contentSize / std::max<size_t>(1, position / pairs) + pairs;
}

uint32_t readHeader(const MemoryFile& file) {
  uint32_t size = 0;
  std::memcpy(&size, file.getMemory(), sizeof size);
  return size;
}

// One decoded pair waiting for its index slot.
template <typename Holder>
struct PendingPair {
  std::string key;
  uint32_t hash = 0;
  Holder holder;
};

// Decodes pairs until `input` ends and hands them to `apply` in file order,
// a few places behind, so each pair's index slot loads while later pairs
// decode. `decode(pair)` fills a pair and says whether it counts. Pairs
// decoded before damage (an exception) are still applied.
template <typename Holder, typename Index, typename Input, typename Decode, typename Apply>
void decodeAhead(Input& input, Index& index, Decode decode, Apply apply) {
  constexpr size_t kAhead = 8;
  std::array<PendingPair<Holder>, kAhead> ring;
  size_t decoded = 0;
  size_t applied = 0;
  auto applyNext = [&] { apply(ring[applied++ % kAhead]); };
  try {
    while (!input.isAtEnd()) {
      PendingPair<Holder>& pending = ring[decoded % kAhead];
      if (!decode(pending)) continue;
      pending.hash = Index::hashOf(pending.key);
      index.prefetchSlot(pending.hash);
      if (++decoded - applied == kAhead) applyNext();
    }
  } catch (...) {
    while (applied < decoded) applyNext();
    throw;
  }
  while (applied < decoded) applyNext();
}

// Reads plain pairs until `input` ends into `target`; `usable(key, offset)`
// says whether a pair counts. Each pair reaches the index a few pairs after
// it was read, its slot loaded meanwhile; keys are then compared in
// `mapped`, where hashes meet. Pairs read before damage (an exception) are
// still applied. With `sizeIndex` the index is sized after the first pairs.
template <typename Usable>
void decodePlainPairs(PairStream& input, PairIndex& target, std::span<const uint8_t> mapped, bool sizeIndex,
                      size_t contentSize, Usable usable) {
  struct Pending {
    uint32_t hash;
    uint32_t offset;
    bool removes;
  };
  constexpr size_t kAhead = 8;
  std::array<Pending, kAhead> ring;
  size_t pairs = 0;
  size_t read = 0;
  size_t applied = 0;
  auto applyNext = [&] {
    const Pending& next = ring[applied++ % kAhead];
    if (next.removes) {
      target.eraseAt(next.hash, next.offset, mapped);
    } else {
      target.assignAt(next.hash, next.offset, mapped);
    }
  };
  try {
    while (!input.isAtEnd()) {
      const PairStream::Pair pair = input.readPair();
      if (++pairs == kSizingPairs && sizeIndex) target.reserve(estimatePairs(pairs, input.position(), contentSize));
      if (!usable(pair.key, pair.offset)) continue;
      const uint32_t hash = keyHash(pair.key);
      target.prefetchSlot(hash);
      ring[read++ % kAhead] = {hash, pair.offset, pair.valueSize == 0};
      if (read - applied == kAhead) applyNext();
    }
  } catch (...) {
    while (applied < read) applyNext();
    throw;
  }
  while (applied < read) applyNext();
}

// Reads encrypted pairs until `input` ends into `target`, like
// decodePlainPairs; values under 256 bytes are kept decrypted in the index's
// arena.
template <typename Usable>
void decodeCryptPairs(CodedInputDataCrypt& input, FlatIndex<KeyValueHolderCrypt>& target, bool sizeIndex,
                      size_t contentSize, Usable usable) {
  size_t pairs = 0;
  decodeAhead<KeyValueHolderCrypt>(
      input, target,
      [&](PendingPair<KeyValueHolderCrypt>& pending) {
        const size_t offset = input.position();
        pending.key = input.readPair(pending.holder, &target.arena());
        if (++pairs == kSizingPairs && sizeIndex) target.reserve(estimatePairs(pairs, input.position(), contentSize));
        return usable(pending.key, offset);
      },
      [&](PendingPair<KeyValueHolderCrypt>& pending) {
        if (pending.holder.realValueSize() > 0) {
          target.insert_or_assign(std::move(pending.key), pending.hash, std::move(pending.holder));
        } else {
          target.erase(pending.key, pending.hash);
        }
      });
}

// Thrown to give up a combined check and decode (see checkAndDecode).
struct NotPlainSailing {};

}  // namespace

void Cask::readMetaFromMapping(CaskMetaInfo& info) const {
  std::memcpy(&info, m_metaMapping->getMemory(), sizeof info);
}

void Cask::checkLoadData() {
  if (m_terminated) return;
  if (m_needsLoad) {
    ScopedLock<InterProcessLock> lock(m_sharedLock.get());
    loadFromFile();
    return;
  }
  if (!m_multiProcess || !m_metaMapping->isFileValid()) return;

  ScopedLock<InterProcessLock> lock(m_sharedLock.get());
  // A journal is only ever left behind a raised sequence (see
  // doFullWriteBack), and the full load below looks for it.
  CaskMetaInfo mapped;
  readMetaFromMapping(mapped);
  if (mapped.sequence != m_metaInfo.sequence) {
    CaskInfo("[%s] oldSeq %u, newSeq %u", m_mmapID.c_str(), m_metaInfo.sequence, mapped.sequence);
    doClearMemoryCache();
    loadFromFile();
    notifyContentChanged();
  } else if (mapped.crcDigest != m_metaInfo.crcDigest || mapped.actualSize != m_metaInfo.actualSize) {
    const size_t fileSize = m_dataFile->getActualFileSize();
    if (fileSize != m_dataFile->getFileSize()) {
      CaskInfo("file size has changed [%s] from %zu to %zu", m_mmapID.c_str(), m_dataFile->getFileSize(), fileSize);
      doClearMemoryCache();
      loadFromFile();
    } else {
      partialLoadFromFile();
    }
    notifyContentChanged();
  }
}

void Cask::loadFromFile() {
  removeStaleJournalTemp();
  restoreFromJournalIfNeeded();
  // The first pass validates under the caller's shared lock. Anything that
  // writes (discard, recovery, fallback) runs in a second pass under the
  // exclusive lock, after re-reading the meta record: taking it may have
  // dropped the shared lock and let another process change the files.
  for (int pass = 0; pass < 2; ++pass) {
    const bool exclusive = pass == 1 || !m_multiProcess;
    ScopedLock<InterProcessLock> upgrade(pass == 1 ? m_exclusiveLock.get() : nullptr);
    if (!m_metaMapping->isFileValid()) {
      m_metaMapping->reloadFromFile();
      m_metaFileLock->setFd(m_metaMapping->getFd());
    }
    if (!m_metaMapping->isFileValid()) {
      // Without the meta record nothing can be checked, and without its
      // descriptor there is no process lock: stay unloaded, fail writes.
      CaskError("file [%s] not valid", m_metaPath.c_str());
      clearIndex();
      m_needsLoad = true;
      return;
    }
    if (pass == 1 && !upgrade.locked()) {
      CaskError("[%s] cannot take the exclusive lock", m_mmapID.c_str());
      m_needsLoad = true;
      return;
    }
    readMetaFromMapping(m_metaInfo);
    if (m_cipher) {
      if (m_metaInfo.version >= CaskVersionRandomIV) {
        m_cipher->resetIV(m_metaInfo.vector, sizeof m_metaInfo.vector);
      } else {
        m_cipher->resetIV();
      }
    }
    // The mapping was made without the lock (at construction, or before
    // another process grew the file): never judge the content through a
    // mapping shorter than the file.
    if (m_dataFile->isFileValid() && m_dataFile->getActualFileSize() != m_dataFile->getFileSize()) {
      m_writer.reset();
      m_dataFile->clearMemoryCache();
    }
    if (!m_dataFile->isFileValid()) m_dataFile->reloadFromFile();
    if (!m_dataFile->isFileValid()) {
      CaskError("file [%s] not valid", m_dataPath.c_str());
      m_needsLoad = false;
      return;
    }

    const Validation validation = checkDataValid(exclusive);
    const std::unique_ptr<PlainIndex> checked = std::move(m_checkedIndex);
    const std::unique_ptr<CryptIndex> checkedCrypt = std::move(m_checkedCryptIndex);
    if (validation == Validation::NeedExclusive) continue;
    const bool decode = validation != Validation::Discard && m_contentSize > 0;
    const bool hadContent = m_contentSize > 0;
    // Empty or discarded content is written back as empty, which needs the
    // exclusive pass; decided before the line below so one load logs once.
    const bool needsWrite = !decode && (hadContent || readHeader(*m_dataFile) != 0 || m_metaInfo.crcDigest != 0 ||
                                        m_metaInfo.actualSize != 0 || m_metaInfo.version == CaskVersionDefault);
    if (needsWrite && !exclusive) continue;
    CaskInfo("loading [%s] with %zu actual size, file size %zu, InterProcess %d, meta info version:%u",
             m_mmapID.c_str(), m_contentSize, m_dataFile->getFileSize(), m_multiProcess, m_metaInfo.version);
    clearIndex();
    m_undecodable = false;
    if (decode) {
      CaskInfo("loading [%s] with crc %u sequence %u version %u", m_mmapID.c_str(), m_metaInfo.crcDigest,
               m_metaInfo.sequence, m_metaInfo.version);
      const bool greedy = validation == Validation::Recover;
      if (checked && !greedy) {
        m_plainIndex->swap(*checked);
      } else if (checkedCrypt && !greedy) {
        m_cryptIndex->swap(*checkedCrypt);
        m_cipher->setStatus(*m_checkedCrypterEnd);
      } else if (!decodeContent(0, greedy) && !greedy) {
        // The CRC matched, so the bytes are what was written: they just are
        // not readable this way. Keep them for a reader with the right key.
        CaskError("[%s] content does not decode (wrong key or plain/encrypted mix-up); "
                  "reads give defaults and writes fail", m_mmapID.c_str());
        clearIndex();
        m_writer.reset();
        m_undecodable = true;
        m_needsLoad = false;
        return;
      }
      resetWriter();
      m_needsLoad = false;
      if (greedy) {
        m_compacted = false;
        fullWriteback(Target::Keep, nullptr);
      }
    } else {
      m_contentSize = 0;
      resetWriter();
      if (hadContent) {
        copyDamagedFilesAside();
        writeActualSize(0, 0, nullptr, true);
        syncFiles(CaskSync);
      } else if (needsWrite) {
        writeActualSize(0, 0, nullptr, false);
      }
      clearIndex();
    }
    CaskInfo("loaded [%s] with %zu key-values", m_mmapID.c_str(), indexSize());
    m_needsLoad = false;
    return;
  }
}

bool Cask::decodeContent(size_t from, bool greedy) {
  const uint8_t* content = m_dataFile->getMemory() + kFixed32Size;
  // A key that is not UTF-8 cannot be named by any caller: its entry is
  // skipped and the rest stays readable. Content where no key at all is
  // UTF-8 is far more likely read with the wrong key than damaged this way,
  // so it counts as undecodable and stays untouched.
  size_t skipped = 0;
  bool sawKey = false;
  auto usable = [&](std::string_view key, size_t offset) {
    if (key.empty()) return false;
    if (isValidUtf8({reinterpret_cast<const uint8_t*>(key.data()), key.size()})) {
      sawKey = true;
      return true;
    }
    ++skipped;
    CaskWarning("[%s] skipping an entry whose key is not UTF-8 (%zu bytes at offset %zu)", m_mmapID.c_str(),
                key.size(), offset);
    return false;
  };
  auto allSkipped = [&] {
    if (from > 0 || skipped == 0 || sawKey) return false;
    CaskError("[%s] no key of the content is UTF-8", m_mmapID.c_str());
    return true;
  };
  try {
    if (m_cipher) {
      CodedInputDataCrypt input(content, m_contentSize, *m_cipher);
      if (from == 0) {
        (void)input.readRawVarint32();  // the item-size holder
      } else {
        input.seek(from);
      }
      CryptIndex fresh;
      CryptIndex& target = (greedy || from > 0) ? *m_cryptIndex : fresh;
      if (from == 0) {
        target.reserve(m_lastIndexSize);
        target.arena().expect(m_contentSize);
      }
      decodeCryptPairs(input, target, from == 0 && m_lastIndexSize == 0, m_contentSize, usable);
      if (allSkipped()) return false;
      if (&target == &fresh) m_cryptIndex->swap(fresh);
    } else {
      // Read from the file, not the mapping (see pair_stream.h); the index
      // compares keys in the mapping only when their hashes meet.
      PairStream input(m_dataFile->getFd(), kFixed32Size, m_contentSize, from);
      if (from == 0) (void)input.readRawVarint32();  // the item-size holder
      PlainIndex fresh;
      PlainIndex& target = (greedy || from > 0) ? *m_plainIndex : fresh;
      if (from == 0) target.reserve(m_lastIndexSize);
      decodePlainPairs(input, target, plainContent(), from == 0 && m_lastIndexSize == 0, m_contentSize, usable);
      if (allSkipped()) return false;
      if (&target == &fresh) m_plainIndex->swap(fresh);
    }
    return true;
  } catch (const std::exception& e) {
    CaskError("%s", e.what());
    return false;
  }
}

void Cask::resetWriter() {
  m_writer = std::make_unique<CodedOutputData>(m_dataFile->getMemory() + kFixed32Size,
                                               m_dataFile->getFileSize() - kFixed32Size);
  m_writer->setPosition(m_contentSize);
}

size_t Cask::readActualSize() {
  const uint32_t header = readHeader(*m_dataFile);
  if (m_metaInfo.version < CaskVersionActualSize) return header;
  if (m_metaInfo.actualSize != header) {
    CaskWarning("[%s] actual size %u, meta actual size %u", m_mmapID.c_str(), header, m_metaInfo.actualSize);
  }
  return m_metaInfo.actualSize;
}

Cask::Validation Cask::checkDataValid(bool mayWrite) {
  m_contentSize = readActualSize();
  const size_t fileSize = m_dataFile->getFileSize();
  CaskRecoverStrategic strategic;
  if (m_contentSize < fileSize && m_contentSize + kFixed32Size <= fileSize) {
    if (checkAndDecode(m_contentSize, m_metaInfo.crcDigest)) return Validation::Load;
    if (!mayWrite) return Validation::NeedExclusive;
    if (checkLastConfirmedInfo()) return Validation::Load;
    ErrorHandler handler = detail::g_errorHandler.load();
    strategic = handler != nullptr ? handler(m_mmapID, CaskCRCCheckFail) : CaskOnErrorDiscard;
  } else {
    if (!mayWrite) return Validation::NeedExclusive;
    CaskError("check [%s] error: %zu size in total, file size is %zu", m_mmapID.c_str(), m_contentSize, fileSize);
    if (checkLastConfirmedInfo()) return Validation::Load;
    ErrorHandler handler = detail::g_errorHandler.load();
    strategic = handler != nullptr ? handler(m_mmapID, CaskFileLength) : CaskOnErrorDiscard;
    if (strategic == CaskOnErrorRecover) m_contentSize = fileSize - kFixed32Size;
  }
  CaskInfo("recover strategic for [%s] is %d", m_mmapID.c_str(), strategic);
  return strategic == CaskOnErrorRecover ? Validation::Recover : Validation::Discard;
}

bool Cask::checkLastConfirmedInfo() {
  if (m_metaInfo.version < CaskVersionActualSize) return false;
  const size_t fileSize = m_dataFile->getFileSize();
  const uint32_t oldStyle = readHeader(*m_dataFile);
  if (oldStyle != m_contentSize) {
    CaskWarning("oldStyleActualSize %u not equal to meta actual size %zu", oldStyle, m_contentSize);
    if (oldStyle < fileSize && oldStyle + kFixed32Size <= fileSize) {
      if (checkFileCRCValid(oldStyle, m_metaInfo.crcDigest)) {
        CaskInfo("looks like [%s] been downgrade & upgrade again", m_mmapID.c_str());
        writeActualSize(oldStyle, m_metaInfo.crcDigest, nullptr, false);
        return true;
      }
    } else {
      CaskWarning("oldStyleActualSize %u greater than file size %zu", oldStyle, fileSize);
    }
  }
  const uint32_t last = m_metaInfo.lastConfirmedActualSize;
  if (last < fileSize && last + kFixed32Size <= fileSize) {
    if (checkFileCRCValid(last, m_metaInfo.lastConfirmedCrcDigest)) {
      // Whatever was appended since the last confirmed state is dropped;
      // the header may record more than a damaged meta record does.
      if (last != m_contentSize || oldStyle > last) copyDamagedFilesAside();
      writeActualSize(last, m_metaInfo.lastConfirmedCrcDigest, nullptr, false);
      return true;
    }
    CaskError("check [%s] error: lastActualSize %u, lastActualCRC %u", m_mmapID.c_str(), last,
              m_metaInfo.lastConfirmedCrcDigest);
  } else {
    CaskError("check [%s] error: lastActualSize %u, file size is %zu", m_mmapID.c_str(), last, fileSize);
  }
  return false;
}

bool Cask::checkFileCRCValid(size_t actualSize, uint32_t crcDigest) {
  // From the file, like the plain load (pair_stream.h); a failed read is a
  // mismatch.
  return crcMatches(fileCrc32(m_dataFile->getFd(), kFixed32Size, actualSize, 0).value_or(~crcDigest), crcDigest);
}

bool Cask::crcMatches(uint32_t computed, uint32_t crcDigest) {
  m_crcDigest = computed;
  if (m_crcDigest == crcDigest) return true;
  CaskError("check crc [%s] fail, crc32:%u, m_crcDigest:%u", m_mmapID.c_str(), m_crcDigest, crcDigest);
  return false;
}

bool Cask::checkAndDecode(size_t actualSize, uint32_t crcDigest) {
  m_checkedIndex.reset();
  m_checkedCryptIndex.reset();
  if (actualSize == 0) return checkFileCRCValid(actualSize, crcDigest);
  const size_t expected = indexSize() > 0 ? indexSize() : m_lastIndexSize;
  // A key that is not UTF-8 is warned about while decoding, after the
  // check: such content takes the two reads.
  auto usable = [](std::string_view key, size_t) {
    if (key.empty()) return false;
    if (!isValidUtf8({reinterpret_cast<const uint8_t*>(key.data()), key.size()})) throw NotPlainSailing{};
    return true;
  };
  uint32_t computed = 0;
  std::unique_ptr<PlainIndex> plain;
  std::unique_ptr<CryptIndex> crypt;
  try {
    if (m_cipher) {
      // A copy of the crypter: a failed check leaves the store's at the start.
      AESCryptStatus start;
      m_cipher->getCurStatus(start);
      AESCrypt crypter = m_cipher->cloneWithStatus(start);
      CodedInputDataCrypt input(CipherText(m_dataFile->getFd(), kFixed32Size, actualSize), crypter);
      (void)input.readRawVarint32();  // the item-size holder
      crypt = std::make_unique<CryptIndex>();
      crypt->reserve(expected);
      crypt->arena().expect(actualSize);
      decodeCryptPairs(input, *crypt, expected == 0, actualSize, usable);
      computed = input.crc();
      m_checkedCrypterEnd = std::make_unique<AESCryptStatus>();
      crypter.getCurStatus(*m_checkedCrypterEnd);
    } else {
      PairStream input(m_dataFile->getFd(), kFixed32Size, actualSize, 0);
      input.keepCrc();
      (void)input.readRawVarint32();  // the item-size holder
      plain = std::make_unique<PlainIndex>();
      plain->reserve(expected);
      decodePlainPairs(input, *plain, plainContent(), expected == 0, actualSize, usable);
      computed = input.crc();
    }
  } catch (...) {
    // Damage, a failed read or such a key: check first, decode later.
    return checkFileCRCValid(actualSize, crcDigest);
  }
  if (!crcMatches(computed, crcDigest)) return false;
  m_checkedIndex = std::move(plain);
  m_checkedCryptIndex = std::move(crypt);
  return true;
}

void Cask::partialLoadFromFile() {
  readMetaFromMapping(m_metaInfo);
  const size_t oldSize = m_contentSize;
  const size_t newSize = readActualSize();
  const size_t fileSize = m_dataFile->getFileSize();
  if (!m_undecodable && m_writer && newSize > oldSize && newSize < fileSize &&
      newSize + kFixed32Size <= fileSize) {
    const uint8_t* content = m_dataFile->getMemory() + kFixed32Size;
    m_crcDigest = crc32Of(m_crcDigest, content + oldSize, newSize - oldSize);
    if (m_crcDigest == m_metaInfo.crcDigest) {
      // The crypter must stand where the tail starts.
      if (!m_cipher || m_cipher->number() == oldSize % kAESKeyLength) {
        m_contentSize = newSize;
        if (decodeContent(oldSize, true)) {
          m_writer->setPosition(newSize);
          m_compacted = false;
          return;
        }
      }
    } else {
      CaskError("m_crcDigest[%u] != m_metaInfo->m_crcDigest[%u]", m_crcDigest, m_metaInfo.crcDigest);
    }
  }
  doClearMemoryCache();
  loadFromFile();
}

bool Cask::writeActualSize(size_t size, uint32_t crcDigest, const uint8_t* iv, bool increaseSequence) {
  // Header, then meta CRC, then meta size: a kill between any two leaves a
  // state that the checks on load resolve to the old or the new content.
  const auto size32 = static_cast<uint32_t>(size);
  std::memcpy(m_dataFile->getMemory(), &size32, sizeof size32);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  detail::testPoint("after-header");
  m_contentSize = size;
  if (!m_metaMapping->isFileValid()) return false;

  m_metaInfo.actualSize = size32;
  m_crcDigest = crcDigest;
  m_metaInfo.crcDigest = crcDigest;
  bool needsFullWrite = false;
  if (m_metaInfo.version < CaskVersionSequence) {
    m_metaInfo.version = CaskVersionSequence;
    needsFullWrite = true;
  }
  if (iv != nullptr) {
    std::memcpy(m_metaInfo.vector, iv, sizeof m_metaInfo.vector);
    if (m_metaInfo.version < CaskVersionRandomIV) m_metaInfo.version = CaskVersionRandomIV;
    needsFullWrite = true;
  }
  if (increaseSequence) {
    m_metaInfo.sequence++;
    m_metaInfo.lastConfirmedActualSize = size32;
    m_metaInfo.lastConfirmedCrcDigest = crcDigest;
    if (m_metaInfo.version < CaskVersionActualSize) m_metaInfo.version = CaskVersionActualSize;
    CaskInfo("[%s] increase sequence to %u, crc %u, actualSize %u", m_mmapID.c_str(), m_metaInfo.sequence,
             crcDigest, size32);
    needsFullWrite = true;
  }
  uint8_t* meta = m_metaMapping->getMemory();
  if (needsFullWrite) {
    std::memcpy(meta, &m_metaInfo, sizeof m_metaInfo);
  } else {
    std::memcpy(meta + offsetof(CaskMetaInfo, crcDigest), &m_metaInfo.crcDigest, sizeof(uint32_t));
    std::atomic_signal_fence(std::memory_order_seq_cst);
    detail::testPoint("after-crc");
    std::memcpy(meta + offsetof(CaskMetaInfo, actualSize), &m_metaInfo.actualSize, sizeof(uint32_t));
  }
  return true;
}

void Cask::copyDamagedFilesAside() {
  CaskWarning("[%s] discarding damaged content; copies kept as %s%s", m_mmapID.c_str(), m_dataPath.c_str(),
              kDamagedSuffix);
  m_dataFile->msync(CaskSync);
  copyFile(m_dataPath, m_dataPath + kDamagedSuffix);
  copyFile(m_metaPath, m_metaPath + kDamagedSuffix);
}

bool Cask::writeJournal(size_t dataLength) {
  const std::string journal = m_dataPath + kJournalSuffix;
  const std::string temp = journal + kTempSuffix;
  const uint8_t* data = m_dataFile->getMemory();
  CaskMetaInfo meta;
  readMetaFromMapping(meta);
  uint32_t crc = crc32Of(0, &meta, sizeof meta);
  crc = crc32Of(crc, data, dataLength);
  uint8_t header[kJournalHeaderSize];
  std::memcpy(header, kJournalMagic, sizeof kJournalMagic);
  const auto length32 = static_cast<uint32_t>(dataLength);
  const auto crc32v = static_cast<uint32_t>(crc);
  std::memcpy(header + 8, &length32, 4);
  std::memcpy(header + 12, &crc32v, 4);

  File file(temp, WriteOnly | Create | Truncate);
  if (!file.isFileValid()) return false;
  const std::pair<const void*, size_t> parts[] = {
      {header, sizeof header}, {&meta, sizeof meta}, {data, dataLength}};
  for (const auto& [bytes, length] : parts) {
    size_t done = 0;
    while (done < length) {
      const ssize_t put = write(file.getFd(), static_cast<const uint8_t*>(bytes) + done, length - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        CaskError("fail to write journal [%s], %s", temp.c_str(), std::strerror(errno));
        unlink(temp.c_str());
        return false;
      }
      done += static_cast<size_t>(put);
    }
  }
  // No fsync: the journal guards against a kill, which keeps the page
  // cache, and the rewrite it guards ends with a synchronous sync.
  if (!tryAtomicRename(temp, journal)) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

void Cask::removeJournal() { unlink((m_dataPath + kJournalSuffix).c_str()); }

void Cask::removeStaleJournalTemp() {
  // Left by a kill while a journal was being written (it can be as large as
  // the data file); the journal itself was never renamed into place, so it
  // holds nothing the data file lacks.
  const std::string temp = m_dataPath + kJournalSuffix + kTempSuffix;
  if (!isFileExist(temp)) return;
  // Journals are written under the exclusive lock: holding it, no other
  // process is writing this one now.
  ScopedLock<InterProcessLock> lock(m_exclusiveLock.get());
  if (!lock.locked()) return;
  if (unlink(temp.c_str()) == 0) {
    CaskWarning("[%s] removed a stale %s", m_mmapID.c_str(), temp.c_str());
  } else if (errno != ENOENT) {
    CaskError("fail to remove [%s], %s", temp.c_str(), std::strerror(errno));
  }
}

bool Cask::restoreFromJournalIfNeeded() {
  const std::string journal = m_dataPath + kJournalSuffix;
  if (!isFileExist(journal)) return false;
  ScopedLock<InterProcessLock> lock(m_exclusiveLock.get());
  // Another process may have restored it while we waited.
  if (!isFileExist(journal) || !m_metaMapping->isFileValid()) return false;
  const std::vector<uint8_t> bytes = readWholeFile(journal);
  uint32_t dataLength = 0;
  uint32_t crc = 0;
  if (bytes.size() >= kJournalHeaderSize + sizeof(CaskMetaInfo)) {
    std::memcpy(&dataLength, bytes.data() + 8, 4);
    std::memcpy(&crc, bytes.data() + 12, 4);
  }
  const size_t payload = sizeof(CaskMetaInfo) + dataLength;
  if (bytes.size() != kJournalHeaderSize + payload || std::memcmp(bytes.data(), kJournalMagic, 8) != 0 ||
      crc32Of(0, bytes.data() + kJournalHeaderSize, payload) != crc) {
    CaskWarning("[%s] ignoring a damaged journal %s", m_mmapID.c_str(), journal.c_str());
    unlink(journal.c_str());
    return false;
  }
  CaskWarning("[%s] a compaction was interrupted; restoring from %s", m_mmapID.c_str(), journal.c_str());
  if (!m_dataFile->isFileValid()) m_dataFile->reloadFromFile();
  if (!m_dataFile->isFileValid() ||
      (m_dataFile->getFileSize() < dataLength && !m_dataFile->truncate(dataLength))) {
    CaskError("[%s] cannot restore from the journal", m_mmapID.c_str());
    return false;
  }
  CaskMetaInfo mapped;
  readMetaFromMapping(mapped);
  CaskMetaInfo restored;
  std::memcpy(&restored, bytes.data() + kJournalHeaderSize, sizeof restored);
  // A new sequence makes every other process reload.
  restored.sequence = std::max(restored.sequence, mapped.sequence) + 1;
  std::memcpy(m_dataFile->getMemory(), bytes.data() + kJournalHeaderSize + sizeof(CaskMetaInfo), dataLength);
  std::memcpy(m_metaMapping->getMemory(), &restored, sizeof restored);
  m_dataFile->msync(CaskSync);
  m_metaMapping->msync(CaskSync);
  unlink(journal.c_str());
  return true;
}

}  // namespace cask
