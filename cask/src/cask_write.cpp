// Appending, growth, compaction (full write-back), clear, trim and re-key.
#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>

#include "cask_internal.h"

namespace cask {

struct Cask::Prepared {
  // Plain store: each live pair's offset (in its index slot) and size, by
  // offset, unless inPlace.
  std::vector<std::pair<uint32_t*, uint32_t>> plainEntries;
  // Plain store: the live pairs tile the content, so none of them moves.
  bool inPlace = false;
  std::vector<uint8_t> memoryPairs;  // encrypted store: the in-memory values as pairs
  size_t total = 0;                  // content size after the rewrite
  uint32_t holderSize = 4;
};

struct Cask::AppendResult {
  uint32_t keySize = 0;
  uint32_t valueSize = 0;
  uint32_t offset = 0;
  AESCryptStatus state;
};

namespace {

// A write-back ends with a synchronous sync, which costs the same few
// milliseconds whatever it writes. When the room the previous write-back left
// was used up by fewer bytes of appends than this, the file doubles as well,
// so that a store written in a loop soon syncs once per this many bytes
// rather than once per few kilobytes. It applies only to a file its appends
// filled, so a file never outgrows twice what was written into it this way.
constexpr size_t kWriteBackSpacing = size_t{1} << 20;

// Values whose varint has exactly 1..5 bytes.
constexpr uint32_t kHolderValues[] = {0, 0x0F, 0xFF, 0xFFFF, 0x00FFFFFF, 0xFFFFFFFF};

// The item-size holder keeps the width of the current one when the first
// live pair follows it directly, so sections only ever move down.
uint32_t holderSizeFor(std::optional<uint32_t> lowestOffset) {
  if (!lowestOffset) return 4;
  const uint32_t offset = *lowestOffset;
  assert(offset != 0 && "sizeHolderSize != 0");
  if (offset == 1 || offset == 2 || offset == 3 || offset == 5) return offset;
  return 4;
}

void writeHolder(uint8_t* base, uint32_t holderSize) {
  CodedOutputData output(base, holderSize);
  output.writeRawVarint32(static_cast<int32_t>(kHolderValues[holderSize]));
}

void appendPair(std::vector<uint8_t>& out, const std::string& key, std::span<const uint8_t> value) {
  uint8_t prefix[10];
  auto putVarint = [&](uint32_t v) {
    CodedOutputData o(prefix, sizeof prefix);
    o.writeUInt32(v);
    out.insert(out.end(), prefix, prefix + o.position());
  };
  putVarint(static_cast<uint32_t>(key.size()));
  out.insert(out.end(), key.begin(), key.end());
  putVarint(static_cast<uint32_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

}  // namespace

RvBuffer Cask::getDataForKey(std::string_view key) {
  checkLoadData();
  const uint8_t* content = m_dataFile->isFileValid() ? m_dataFile->getMemory() + kFixed32Size : nullptr;
  if (m_cipher) {
    const KeyValueHolderCrypt* found = m_cryptIndex->find(key);
    if (found == nullptr) return {};
    if (found->isOffset() && content == nullptr) return {};
    return found->toRvBuffer(content, *m_cipher);
  }
  if (content == nullptr) return {};
  // The slot leads straight to the pair, where the key is compared: a hit
  // touches the slot and the pair only.
  const auto pair = m_plainIndex->find(key, plainContent());
  return pair ? RvBuffer(pair->value.data(), pair->value.size(), RvBufferNoCopy) : RvBuffer();
}

bool Cask::setDataForKey(std::span<const uint8_t> data, std::string_view key, bool isDataHolder) {
  if (key.empty() || (!isDataHolder && data.empty())) return false;
  if (key.size() > kMaxKeyLength) {
    CaskError("[%s] refusing a key of %zu bytes (at most %zu)", m_mmapID.c_str(), key.size(), kMaxKeyLength);
    return false;
  }
  if (data.size() >= kMaxValueLength) {
    CaskError("[%s] refusing a value of %zu bytes", m_mmapID.c_str(), data.size());
    return false;
  }
  if (!isValidUtf8({reinterpret_cast<const uint8_t*>(key.data()), key.size()})) {
    CaskError("[%s] refusing a key that is not UTF-8", m_mmapID.c_str());
    return false;
  }
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_exclusiveLock.get());
  if (!processLock.locked()) return false;
  checkLoadData();
  if (!isWritable()) {
    CaskError("[%s] is not writable", m_mmapID.c_str());
    return false;
  }

  if (m_cipher) {
    std::vector<uint8_t> encoded;
    std::span<const uint8_t> value = data;
    if (isDataHolder) {
      const size_t withPrefix = data.size() + pbRawVarint32Size(static_cast<uint32_t>(data.size()));
      if (withPrefix < kOffsetHolderMinValueSize) {
        // Small values are kept in memory exactly as their stored bytes.
        encoded.resize(withPrefix);
        CodedOutputData output(encoded.data(), encoded.size());
        output.writeData(data);
        value = encoded;
        isDataHolder = false;
      }
    }
    const auto result = doAppendDataWithKey(value, key, isDataHolder);
    if (!result) return false;
    if (result->valueSize >= kOffsetHolderMinValueSize) {
      m_cryptIndex->insert_or_assign(
          key, KeyValueHolderCrypt::offsetForm(result->keySize, result->valueSize, result->offset,
                                                        result->state));
    } else {
      m_cryptIndex->insert_or_assign(key, KeyValueHolderCrypt::inMemory(value));
    }
  } else {
    const auto result = doAppendDataWithKey(data, key, isDataHolder);
    if (!result) return false;
    m_plainIndex->assign(key, keyHash(key), result->offset, plainContent());
  }
  m_compacted = false;
  return true;
}

bool Cask::removeDataForKey(std::string_view key) {
  if (key.empty() || !isWritable()) return false;
  if (m_cipher ? !m_cryptIndex->contains(key) : !m_plainIndex->contains(key, plainContent())) return false;
  m_compacted = false;
  const auto result = doAppendDataWithKey({}, key, false);
  if (!result) return false;
  if (m_cipher) {
    m_cryptIndex->erase(key);
  } else {
    m_plainIndex->erase(key, plainContent());
  }
  return true;
}

std::optional<Cask::AppendResult> Cask::doAppendDataWithKey(std::span<const uint8_t> data, std::string_view key,
                                                            bool isDataHolder) {
  const auto dataSize = static_cast<uint32_t>(data.size());
  const uint32_t valueLength = dataSize + (isDataHolder ? pbRawVarint32Size(dataSize) : 0);
  const auto keySize = static_cast<uint32_t>(key.size());
  const size_t size =
      size_t{pbRawVarint32Size(keySize)} + keySize + pbRawVarint32Size(valueLength) + valueLength;

  ScopedLock<InterProcessLock> processLock(m_exclusiveLock.get());
  if (!processLock.locked() || !ensureMemorySize(size) || !m_dataFile->isFileValid() || !m_writer) {
    return std::nullopt;
  }
  AppendResult result;
  if (m_cipher) m_cipher->getCurStatus(result.state);
  const size_t offset = m_contentSize;
  try {
    m_writer->setPosition(offset);
    m_writer->writeData({reinterpret_cast<const uint8_t*>(key.data()), key.size()});
    if (isDataHolder) m_writer->writeUInt32(valueLength);
    m_writer->writeData(data);
  } catch (const std::exception& e) {
    CaskError("%s", e.what());
    m_writer->setPosition(offset);
    return std::nullopt;
  }
  detail::testPoint("after-pair");
  uint8_t* pair = m_dataFile->getMemory() + kFixed32Size + offset;
  if (m_cipher) m_cipher->encrypt(pair, pair, size);
  m_crcDigest = crc32Of(m_crcDigest, pair, size);
  writeActualSize(offset + size, m_crcDigest, nullptr, false);
  if (m_appendedSinceWriteBack != SIZE_MAX) m_appendedSinceWriteBack += size;
  result.keySize = keySize;
  result.valueSize = valueLength;
  result.offset = static_cast<uint32_t>(offset);
  return result;
}

Cask::Prepared Cask::prepareData() {
  Prepared prepared;
  std::optional<uint32_t> lowest;
  size_t sum = 0;
  if (m_cipher) {
    for (const auto& [key, holder] : *m_cryptIndex) {
      if (holder.isOffset()) {
        sum += holder.pairSize();
        lowest = std::min(lowest.value_or(holder.offset()), holder.offset());
      } else {
        appendPair(prepared.memoryPairs, key, holder.valueBytes());
      }
    }
    sum += prepared.memoryPairs.size();
  } else {
    const std::span<const uint8_t> content = plainContent();
    prepared.plainEntries.reserve(m_plainIndex->size());
    m_plainIndex->forEachOffset([&](uint32_t& offset) {
      const auto pair = pairAt(content, offset);
      const uint32_t size = pair ? pair->size() : 0;
      sum += size;
      lowest = std::min(lowest.value_or(offset), offset);
      prepared.plainEntries.emplace_back(&offset, size);
    });
  }
  prepared.holderSize = holderSizeFor(lowest);
  prepared.total = prepared.holderSize + sum;
  // Growth of a store without dead pairs (every fill) needs no sort.
  prepared.inPlace = !m_cipher && prepared.total == m_contentSize && lowest.value_or(4) == prepared.holderSize;
  if (prepared.inPlace) {
    prepared.plainEntries.clear();
  } else {
    std::sort(prepared.plainEntries.begin(), prepared.plainEntries.end(),
              [](const auto& a, const auto& b) { return *a.first < *b.first; });
  }
  return prepared;
}

bool Cask::ensureMemorySize(size_t newSize) {
  if (!m_dataFile->isFileValid() || !m_writer) {
    CaskWarning("[%s] file not valid", m_mmapID.c_str());
    return false;
  }
  if (m_writer->spaceLeft() > newSize && indexSize() > 0) return true;

  Prepared prepared = prepareData();
  const size_t lenNeeded = prepared.total + kFixed32Size + newSize;
  const size_t count = indexSize();
  const size_t avgItemSize = lenNeeded / std::max<size_t>(1, count);
  const size_t futureUsage = avgItemSize * std::max<size_t>(8, (count + 1) / 2);
  const size_t fileSize = m_dataFile->getFileSize();
  // Only when the room ran out: an empty index writes back with room to spare.
  const bool crowded = m_writer->spaceLeft() <= newSize && m_appendedSinceWriteBack < kWriteBackSpacing;
  if (lenNeeded >= fileSize || lenNeeded + futureUsage >= fileSize || crowded) {
    size_t newFileSize = fileSize;
    do {
      newFileSize *= 2;
    } while (lenNeeded + futureUsage >= newFileSize);
    // Sizes and offsets in the file are 32-bit.
    if (newFileSize > (size_t{1} << 32)) {
      CaskError("[%s] refusing to grow beyond 4 GiB (need %zu)", m_mmapID.c_str(), lenNeeded);
      return false;
    }
    CaskInfo("extending [%s] file size from %zu to %zu, incoming size:%zu, future usage:%zu", m_mmapID.c_str(),
             fileSize, newFileSize, newSize, futureUsage);
    if (!m_dataFile->truncate(newFileSize)) {
      if (!m_dataFile->isFileValid()) {
        CaskWarning("[%s] file not valid", m_mmapID.c_str());
        doClearMemoryCache();
      }
      return false;
    }
    resetWriter();  // the mapping may have moved
    detail::testPoint("after-truncate");
  }
  if (m_contentSize > 0 && prepared.total >= m_contentSize) {
    // Content without a dead byte gains nothing from a rewrite, nor from the
    // sync that ends one: the growth alone made the room. The content is
    // confirmed as it stands, and the raised sequence sends other processes
    // to remap the grown file.
    writeActualSize(m_contentSize, m_crcDigest, nullptr, true);
    m_compacted = true;
    return true;
  }
  doFullWriteBack(std::move(prepared), Target::Keep, nullptr);
  return true;
}

bool Cask::fullWriteback(Target target, AESCrypt* newCrypter) {
  if (m_compacted || m_needsLoad) return true;
  if (!m_dataFile->isFileValid() || !m_writer || m_undecodable) {
    CaskWarning("[%s] file not valid", m_mmapID.c_str());
    return false;
  }
  if (indexSize() == 0) {
    doClearAll();
    return true;
  }
  Prepared prepared = prepareData();
  ScopedLock<InterProcessLock> processLock(m_exclusiveLock.get());
  if (prepared.total == 0) return false;
  if (prepared.total + kFixed32Size > m_dataFile->getFileSize()) {
    CaskError("[%s] live content %zu does not fit the file", m_mmapID.c_str(), prepared.total);
    return false;
  }
  return doFullWriteBack(std::move(prepared), target, newCrypter);
}

bool Cask::doFullWriteBack(Prepared prepared, Target target, AESCrypt* newCrypter) {
  AESCrypt* targetCrypter = target == Target::Plain        ? nullptr
                            : target == Target::NewCrypter ? newCrypter
                                                           : m_cipher.get();
  // The rewrite happens in place; a kill in the middle would leave neither
  // the old nor the new content. The journal lets the next load restore what
  // it overwrites: the header and the new content's length of old bytes
  // (sources only move down, so nothing above is touched).
  const bool hadContent = m_contentSize > 0;
  const bool changesBytes = hadContent && rewriteChangesBytes(prepared, targetCrypter);
  if (changesBytes) {
    if (m_multiProcess) {
      // Other processes trust their index while the sequence stands; raised
      // now, it sends them to a full load, which finds the journal should
      // this process die mid-rewrite.
      m_metaInfo.sequence++;
      std::memcpy(m_metaMapping->getMemory() + offsetof(CaskMetaInfo, sequence), &m_metaInfo.sequence,
                  sizeof m_metaInfo.sequence);
    }
    if (!writeJournal(kFixed32Size + prepared.total)) {
      CaskError("[%s] cannot write the journal, compaction skipped", m_mmapID.c_str());
      return false;
    }
  }
  uint8_t iv[kAESKeyLength];
  if (targetCrypter != nullptr) {
    AESCrypt::fillRandomIV(iv);
    targetCrypter->resetIV(iv, sizeof iv);
  }
  resetWriter();
  if (m_cipher) {
    memmoveCrypt(prepared, targetCrypter);
  } else {
    memmovePlain(prepared, targetCrypter);
  }
  const uint8_t* content = m_dataFile->getMemory() + kFixed32Size;
  const auto crc = crc32Of(0, content, prepared.total);
  writeActualSize(prepared.total, crc, targetCrypter != nullptr ? iv : nullptr, true);
  m_compacted = true;
  // A rewrite that changed no byte of the content (it only dropped dead
  // pairs from its end) leaves on disk a prefix of what was there: the old
  // and the new record both describe it, so there is nothing to sync.
  if (changesBytes || !hadContent) {
    m_appendedSinceWriteBack = 0;
    detail::testPoint("write-back-sync");
    // What lies beyond the new content is stale: only the content is synced.
    m_dataFile->msync(CaskSync, 0, kFixed32Size + prepared.total);
    m_metaMapping->msync(CaskSync);
  }
  removeJournal();
  return true;
}

bool Cask::rewriteChangesBytes(const Prepared& prepared, AESCrypt* target) const {
  // A new stream (and a plain store's turn to encrypted) rewrites everything.
  if (m_cipher || target != nullptr) return true;
  uint8_t holder[5];
  writeHolder(holder, prepared.holderSize);
  const uint8_t* base = m_dataFile->getMemory() + kFixed32Size;
  if (std::memcmp(base, holder, prepared.holderSize) != 0) return true;
  if (prepared.inPlace) return false;
  // Pairs that already follow each other from the holder on stay in place.
  size_t expected = prepared.holderSize;
  for (const auto& [offset, size] : prepared.plainEntries) {
    if (*offset != expected) return true;
    expected = *offset + size;
  }
  return false;
}

void Cask::memmovePlain(const Prepared& prepared, AESCrypt* target) {
  uint8_t* base = m_dataFile->getMemory() + kFixed32Size;
  const auto& entries = prepared.plainEntries;

  // In place, every pair stays where it is (and `entries` is empty).
  size_t written = prepared.inPlace ? prepared.total : prepared.holderSize;
  for (size_t i = 0; i < entries.size();) {
    const size_t start = *entries[i].first;
    size_t end = start + entries[i].second;
    size_t j = i + 1;
    while (j < entries.size() && *entries[j].first == end) end += entries[j++].second;
    assert(written <= start);
    if (written != start) std::memmove(base + written, base + start, end - start);
    for (size_t k = i; k < j; ++k) {
      *entries[k].first = static_cast<uint32_t>(written + (*entries[k].first - start));
    }
    written += end - start;
    i = j;
  }
  detail::testPoint("mid-compaction");
  writeHolder(base, prepared.holderSize);
  if (target != nullptr) target->encrypt(base, base, written);
  assert(written == prepared.total && "writtenSize == totalSize");
  m_writer->setPosition(written);
}

void Cask::memmoveCrypt(const Prepared& prepared, AESCrypt* target) {
  uint8_t* base = m_dataFile->getMemory() + kFixed32Size;
  std::vector<KeyValueHolderCrypt*> entries;
  for (auto& [key, holder] : *m_cryptIndex) {
    if (holder.isOffset()) entries.push_back(&holder);
  }
  std::sort(entries.begin(), entries.end(), [](auto* a, auto* b) { return a->offset() < b->offset(); });

  // Runs of touching pairs are one piece of the stream: decrypt each run
  // straight into its new place (never above its old one).
  size_t written = prepared.holderSize;
  uint8_t scratch[4096];
  for (size_t i = 0; i < entries.size();) {
    const size_t start = entries[i]->offset();
    size_t end = start + entries[i]->pairSize();
    size_t j = i + 1;
    while (j < entries.size() && entries[j]->offset() == end) end += entries[j++]->pairSize();
    assert(written <= start);
    AESCrypt decrypter = m_cipher->cloneWithStatus(entries[i]->savedState());
    for (size_t done = 0; done < end - start;) {
      const size_t step = std::min(sizeof scratch, end - start - done);
      decrypter.decrypt(base + start + done, scratch, step);
      std::memcpy(base + written + done, scratch, step);
      done += step;
    }
    written += end - start;
    i = j;
  }
  detail::testPoint("mid-compaction");
  writeHolder(base, prepared.holderSize);
  if (target != nullptr) target->encrypt(base, base, prepared.holderSize);
  size_t position = prepared.holderSize;
  for (KeyValueHolderCrypt* entry : entries) {
    entry->setOffset(static_cast<uint32_t>(position));
    if (target != nullptr) {
      AESCryptStatus state;
      target->getCurStatus(state);
      entry->setSavedState(state);
      target->encrypt(base + position, base + position, entry->pairSize());
    }
    position += entry->pairSize();
  }
  if (!prepared.memoryPairs.empty()) {
    std::memcpy(base + position, prepared.memoryPairs.data(), prepared.memoryPairs.size());
    if (target != nullptr) target->encrypt(base + position, base + position, prepared.memoryPairs.size());
    position += prepared.memoryPairs.size();
  }
  assert(position == prepared.total && "writtenSize + sizeHolderSize == preparedData.second");
  m_writer->setPosition(position);
}

void Cask::clearAll() {
  CaskInfo("cleaning all key-values from [%s]", m_mmapID.c_str());
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_exclusiveLock.get());
  if (!processLock.locked()) return;
  checkLoadData();
  if (!isWritable()) {
    CaskError("[%s] is not writable", m_mmapID.c_str());
    return;
  }
  doClearAll();
}

void Cask::doClearAll() {
  const size_t page = getPageSize();
  if (m_dataFile->getFileSize() == page && m_contentSize == 0) {
    CaskInfo("nothing to clear for [%s]", m_mmapID.c_str());
    return;
  }
  if (!m_dataFile->truncate(page)) {
    if (!m_dataFile->isFileValid()) doClearMemoryCache();
    return;
  }
  uint8_t iv[kAESKeyLength];
  AESCrypt::fillRandomIV(iv);
  if (m_cipher) m_cipher->resetIV(iv, sizeof iv);
  // A new sequence makes other processes remap the shrunk file.
  writeActualSize(0, 0, iv, true);
  m_metaMapping->msync(CaskSync);
  doClearMemoryCache();
  loadFromFile();
}

void Cask::trim() {
  CaskInfo("prepare to trim %s", m_mmapID.c_str());
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  // Held across compaction, shrink and the sequence raise, so no other
  // process appends into the part being cut off.
  ScopedLock<InterProcessLock> processLock(m_exclusiveLock.get());
  if (!processLock.locked()) return;
  checkLoadData();
  if (!isWritable()) return;
  if (m_contentSize == 0) {
    doClearAll();
    return;
  }
  const size_t page = getPageSize();
  if (m_dataFile->getFileSize() <= page) return;
  fullWriteback(Target::Keep, nullptr);
  if (!isWritable()) return;
  const size_t fileSize = m_dataFile->getFileSize();
  const size_t limit = 2 * (m_contentSize + kFixed32Size);
  size_t newSize = fileSize;
  while (newSize > limit && newSize > page) newSize /= 2;
  newSize = std::max(newSize, page);
  if (newSize == fileSize) {
    CaskInfo("there's no need to trim %s with size %zu, actualSize %zu", m_mmapID.c_str(), fileSize, m_contentSize);
    return;
  }
  CaskInfo("trimming %s from %zu to %zu, actualSize %zu", m_mmapID.c_str(), fileSize, newSize, m_contentSize);
  if (!m_dataFile->truncate(newSize)) {
    if (!m_dataFile->isFileValid()) doClearMemoryCache();
    return;
  }
  detail::testPoint("after-truncate");
  resetWriter();
  writeActualSize(m_contentSize, m_crcDigest, nullptr, true);
  syncFiles(CaskSync);
  CaskInfo("finish trim %s from %zu to %zu", m_mmapID.c_str(), fileSize, m_dataFile->getFileSize());
}

bool Cask::reKey(const std::string& cryptKey) {
  ScopedLock<ThreadLock> lock(m_threadLock.get());
  ScopedLock<InterProcessLock> processLock(m_exclusiveLock.get());
  if (!processLock.locked()) return false;
  checkLoadData();
  if (!isWritable()) return false;
  if (m_cipher) {
    if (cryptKey.empty()) {
      CaskInfo("reKey to no aes key");
      m_compacted = false;
      if (!fullWriteback(Target::Plain, nullptr)) return false;
      m_cipher.reset();
      if (!m_plainIndex) m_plainIndex = std::make_unique<PlainIndex>();
      doClearMemoryCache();
      return true;
    }
    if (AESCrypt(cryptKey.data(), cryptKey.size()).keyString() == m_cipher->keyString()) return true;
    CaskInfo("reKey with new aes key");
  } else {
    if (cryptKey.empty()) return true;
    CaskInfo("reKey to a aes key");
  }
  auto newCrypter = std::make_unique<AESCrypt>(cryptKey.data(), cryptKey.size());
  m_compacted = false;
  if (!fullWriteback(Target::NewCrypter, newCrypter.get())) return false;
  // An empty store was cleared rather than rewritten; its next load decodes
  // nothing, whatever the key.
  m_cipher = std::move(newCrypter);
  if (!m_cryptIndex) m_cryptIndex = std::make_unique<CryptIndex>();
  doClearMemoryCache();
  return true;
}

}  // namespace cask
