#pragma once
// A read-only view of a store: its files judged by the loader's rules and
// its content decoded, without opening the store and without creating,
// growing or writing any file. For tools that look into a store that may be
// damaged, or open in other processes. See docs/cask_format.md.
//
//   const auto snapshot = cask::StoreSnapshot::read(cask::Cask::mappedKVPathWithID("settings"));
//   if (snapshot.isComplete()) launches = snapshot.get<int64_t>("launches");
//
// A snapshot does not change once read: safe to share between threads.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cask/format.h"

namespace cask {

class StoreSnapshot {
 public:
  // Reads the data file at `dataPath` and its meta file under a shared lock
  // on the meta file, so a writer in another process is never seen halfway.
  // `cryptKey` as for opening: the first 16 bytes; null or empty: plain.
  [[nodiscard]] static StoreSnapshot read(const std::string& dataPath, const std::string* cryptKey = nullptr);

  // How the files stand against the meta record.
  [[nodiscard]] FileCheck fileCheck() const { return fileCheck_; }
  // Every pair decoded (false when the files are not valid).
  [[nodiscard]] bool isDecoded() const { return decoded_; }
  // Why the content did not decode; empty when it did.
  [[nodiscard]] const std::string& decodeError() const { return decodeError_; }
  // Entries a load skips because their key is not UTF-8.
  [[nodiscard]] size_t skippedEntries() const { return skippedEntries_; }
  // Opening the store with the same key would read every value stored and
  // drop nothing: the files are valid, the content decodes and no entry is
  // skipped. A load accepts some damage silently; here it counts: an
  // item-size holder no writer makes (most damage to the IV, which the CRC
  // does not cover), a blank meta record beside a data file that holds
  // bytes, and a data header recording more content than the meta record
  // accepts (also left by a write killed before it was acknowledged).
  [[nodiscard]] bool isComplete() const {
    return fileCheck_ == FileCheck::Valid && decoded_ && skippedEntries_ == 0 && !blankMeta_ &&
           droppedBytes_ == 0;
  }
  // "valid", or what is wrong, in a few words.
  [[nodiscard]] std::string describe() const;

  // The live keys, sorted; empty unless decoded.
  [[nodiscard]] std::vector<std::string> keys() const;
  // The value bytes as stored; nothing when missing.
  [[nodiscard]] std::optional<std::vector<uint8_t>> getRaw(std::string_view key) const;
  // The value read as T: bool, int32_t, uint32_t, int64_t, uint64_t, float,
  // double, std::string or std::vector<uint8_t> (length-prefixed strings and
  // byte data). Nothing when missing or when the bytes do not hold a T.
  template <typename T>
  [[nodiscard]] std::optional<T> get(std::string_view key) const;

 private:
  FileCheck fileCheck_ = FileCheck::NoData;
  bool decoded_ = false;
  std::string decodeError_;
  size_t skippedEntries_ = 0;
  bool blankMeta_ = false;
  size_t droppedBytes_ = 0;
  std::map<std::string, std::vector<uint8_t>, std::less<>> values_;
};

}  // namespace cask
