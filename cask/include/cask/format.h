#pragma once
// The store's files: the data file (a size header, then an append-only
// stream of varint-framed key/value pairs), the meta file beside it (".crc",
// the record below) and the value encodings. The layout is described in
// docs/cask_format.md; stored files and other processes rely on it, so it
// must not change. Safe from any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cask {

// The meta record at offset 0 of the meta file, little-endian.
struct CaskMetaInfo {
  uint32_t crcDigest = 0;  // CRC-32 of the content bytes
  uint32_t version = 1;
  uint32_t sequence = 0;  // raised by every full write-back, clear and shrink
  uint8_t vector[16] = {};  // AES IV of the content stream (version >= 2)
  uint32_t actualSize = 0;  // content size (authoritative from version 3)
  uint32_t lastConfirmedActualSize = 0;
  uint32_t lastConfirmedCrcDigest = 0;
  uint32_t reserved[16] = {};
};
static_assert(sizeof(CaskMetaInfo) == 104, "the meta record is 104 bytes");

enum CaskMetaVersion : uint32_t {
  CaskVersionDefault = 0,
  CaskVersionSequence = 1,
  CaskVersionRandomIV = 2,
  CaskVersionActualSize = 3,
};

inline constexpr char kDefaultMMapID[] = "cask.default";
inline constexpr char kSpecialCharacterDirectoryName[] = "specialCharacter";
inline constexpr char kCrcSuffix[] = ".crc";
// Beside the data file while a compaction rewrites it in place.
inline constexpr char kJournalSuffix[] = ".journal";
// The journal is written under this suffix, then renamed.
inline constexpr char kTempSuffix[] = ".tmp";
// Copies of damaged files taken before their content is discarded.
inline constexpr char kDamagedSuffix[] = ".damaged";

// The file name of a store id: the id itself, or "specialCharacter/" + the
// MD5 of the id (32 lowercase hex digits) when it holds any of \ / : * ? " < > |,
// is "." or "..", holds a NUL, or is too long for a file name.
[[nodiscard]] std::string encodeFilePath(std::string_view mmapID);
[[nodiscard]] bool needsHashedFileName(std::string_view mmapID);
// 32 lowercase hex digits.
[[nodiscard]] std::string md5Hex(std::string_view bytes);

// The meta record of a meta file, or nothing when it cannot be read.
[[nodiscard]] std::optional<CaskMetaInfo> readMetaInfo(const std::string& metaPath);

enum class FileCheck {
  Valid,        // the content matches the meta CRC
  NoData,       // no data file: nothing to be damaged
  NoMeta,       // data without its meta file
  Unreadable,
  BadSize,      // the recorded size does not fit the file
  BadCrc,
};
// Checks a data file against its meta file (data path + ".crc") without
// opening a store or writing anything, by the loader's rules: the size from
// the meta record (version 3 on) or the data header, then the fallbacks to
// the header's size and to the last confirmed size and CRC; short files count
// as zero-filled pages, and an intact compaction journal is applied first.
[[nodiscard]] FileCheck checkDataFile(const std::string& dataPath);
[[nodiscard]] const char* fileCheckName(FileCheck check);

}  // namespace cask
