#include "cask/store_snapshot.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <span>

#include "aes_crypt.h"
#include "coded_data.h"
#include "inspected_files.h"

namespace cask {

namespace {

// The shared process lock that readers of the store take. Opened read-only
// and never created: a store without a meta file is judged invalid anyway.
class SharedMetaLock {
 public:
  explicit SharedMetaLock(const std::string& metaPath) : fd_(open(metaPath.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ >= 0) flock(fd_, LOCK_SH);
  }
  SharedMetaLock(const SharedMetaLock&) = delete;
  SharedMetaLock& operator=(const SharedMetaLock&) = delete;
  // Closing the descriptor releases the lock.
  ~SharedMetaLock() {
    if (fd_ >= 0) close(fd_);
  }

 private:
  int fd_;
};

// Loading ignores the item-size holder, but every writer puts one of these
// there, in its shortest form. The CRC covers the stored bytes and not the
// IV: a damaged IV garbles the first 16 content bytes, holder included.
bool isWrittenHolder(uint32_t value, size_t width) {
  constexpr uint32_t kWritten[] = {0, 0x0F, 0xFF, 0xFFFF, 0x00FFFFFF, 0xFFFFFFFF};
  return std::find(std::begin(kWritten), std::end(kWritten), value) != std::end(kWritten) &&
         width == pbRawVarint32Size(value);
}

}  // namespace

StoreSnapshot StoreSnapshot::read(const std::string& dataPath, const std::string* cryptKey) {
  StoreSnapshot snapshot;
  InspectedFiles files;
  {
    SharedMetaLock lock(dataPath + kCrcSuffix);
    files = inspectDataFile(dataPath);
  }
  snapshot.fileCheck_ = files.check;
  if (files.check != FileCheck::Valid) return snapshot;
  // Every load writes a version; a blank record beside written data means
  // the meta file was lost or zeroed, and an open would start empty.
  snapshot.blankMeta_ = files.meta.version == CaskVersionDefault && files.contentSize == 0 &&
                        std::any_of(files.data.begin(), files.data.end(), [](uint8_t b) { return b != 0; });
  // The header is written just before the meta record: a header beyond the
  // size a load accepts means pairs that load drops, or a damaged header or
  // file (or a write killed before it was acknowledged).
  if (files.header > files.contentSize) snapshot.droppedBytes_ = files.header - files.contentSize;

  std::span<const uint8_t> content(files.data.data() + 4, files.contentSize);
  std::vector<uint8_t> plain;
  if (cryptKey != nullptr && !cryptKey->empty()) {
    // One CFB stream from the meta IV (or, before version 2, from the key).
    AESCrypt crypter(cryptKey->data(), cryptKey->size());
    if (files.meta.version >= CaskVersionRandomIV) crypter.resetIV(files.meta.vector, sizeof files.meta.vector);
    plain.resize(content.size());
    crypter.decrypt(content.data(), plain.data(), content.size());
    content = plain;
  }

  // The loader's rules: empty keys are skipped, keys that are not UTF-8 are
  // skipped (all of them not UTF-8: undecodable), an empty value removes.
  try {
    CodedInputData input(content);
    if (!content.empty()) {
      const auto holder = static_cast<uint32_t>(input.readRawVarint32());
      if (!isWrittenHolder(holder, input.position())) {
        throw std::invalid_argument("the item-size holder is not one the store writes (damaged IV?)");
      }
    }
    bool sawKey = false;
    while (!input.isAtEnd()) {
      KeyValueHolder holder;
      std::string key = input.readString(holder);
      input.readData(holder);
      if (key.empty()) continue;
      if (!isValidUtf8({reinterpret_cast<const uint8_t*>(key.data()), key.size()})) {
        ++snapshot.skippedEntries_;
        continue;
      }
      sawKey = true;
      if (holder.valueSize == 0) {
        snapshot.values_.erase(key);
        continue;
      }
      const uint8_t* value = content.data() + holder.offset + holder.computedKVSize;
      snapshot.values_.insert_or_assign(std::move(key), std::vector<uint8_t>(value, value + holder.valueSize));
    }
    if (snapshot.skippedEntries_ > 0 && !sawKey) throw std::invalid_argument("no key is UTF-8");
    snapshot.decoded_ = true;
  } catch (const std::exception& e) {
    snapshot.decodeError_ = e.what();
    snapshot.values_.clear();
  }
  return snapshot;
}

std::string StoreSnapshot::describe() const {
  if (fileCheck_ != FileCheck::Valid) return fileCheckName(fileCheck_);
  if (blankMeta_) return "the meta record is blank but the data file is not (an open would start empty)";
  if (droppedBytes_ > 0) {
    return "the data header records " + std::to_string(droppedBytes_) +
           " content bytes more than the meta record accepts (an open drops them)";
  }
  if (!decoded_) return "content does not decode: " + decodeError_;
  if (skippedEntries_ > 0) {
    return std::to_string(skippedEntries_) + " entries whose key is not UTF-8 are skipped";
  }
  return "valid";
}

std::vector<std::string> StoreSnapshot::keys() const {
  std::vector<std::string> keys;
  keys.reserve(values_.size());
  for (const auto& entry : values_) keys.push_back(entry.first);
  return keys;
}

std::optional<std::vector<uint8_t>> StoreSnapshot::getRaw(std::string_view key) const {
  const auto found = values_.find(key);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

template <typename T>
std::optional<T> StoreSnapshot::get(std::string_view key) const {
  const auto found = values_.find(key);
  if (found == values_.end()) return std::nullopt;
  try {
    return decodeValue<T>(found->second);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

template std::optional<bool> StoreSnapshot::get<bool>(std::string_view) const;
template std::optional<int32_t> StoreSnapshot::get<int32_t>(std::string_view) const;
template std::optional<uint32_t> StoreSnapshot::get<uint32_t>(std::string_view) const;
template std::optional<int64_t> StoreSnapshot::get<int64_t>(std::string_view) const;
template std::optional<uint64_t> StoreSnapshot::get<uint64_t>(std::string_view) const;
template std::optional<float> StoreSnapshot::get<float>(std::string_view) const;
template std::optional<double> StoreSnapshot::get<double>(std::string_view) const;
template std::optional<std::string> StoreSnapshot::get<std::string>(std::string_view) const;
template std::optional<std::vector<uint8_t>> StoreSnapshot::get<std::vector<uint8_t>>(std::string_view) const;

}  // namespace cask
