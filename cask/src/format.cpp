#include "cask/format.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <openssl/evp.h>
#include "inspected_files.h"
#include "crc.h"
#include "memory_file.h"

namespace cask {

namespace {
// Room for the longest suffix put after a data file's name.
constexpr size_t kMaxFileNameLength = 255 - 12;
}  // namespace

bool needsHashedFileName(std::string_view mmapID) {
  if (mmapID == "." || mmapID == ".." || mmapID.size() > kMaxFileNameLength) return true;
  for (const char c : mmapID) {
    switch (c) {
      case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
      case '\0':
        return true;
      default:
        break;
    }
  }
  return false;
}

std::string md5Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xf];
  }
  return hex;
}

std::string encodeFilePath(std::string_view mmapID) {
  if (!needsHashedFileName(mmapID)) return std::string(mmapID);
  return std::string(kSpecialCharacterDirectoryName) + "/" + md5Hex(mmapID);
}

std::optional<CaskMetaInfo> readMetaInfo(const std::string& metaPath) {
  const std::vector<uint8_t> bytes = readWholeFile(metaPath);
  if (bytes.size() < sizeof(CaskMetaInfo)) return std::nullopt;
  CaskMetaInfo info;
  std::memcpy(&info, bytes.data(), sizeof info);
  return info;
}

namespace {

constexpr char kJournalMagic[8] = {'C', 'A', 'S', 'K', 'J', 'N', 'L', '1'};
constexpr size_t kJournalHeaderSize = 16;  // magic, data length, crc

bool contentMatches(const std::vector<uint8_t>& data, size_t size, uint32_t crc) {
  // The header takes 4 bytes; the content must fit behind it.
  if (size >= data.size() || size + 4 > data.size()) return false;
  return crc32Of(0, data.data() + 4, size) == crc;
}

// A journal left by an interrupted compaction replaces the first bytes of the
// data file and the meta record when the store loads; a damaged one is
// ignored. Applies an intact journal to `meta` and `data`.
void applyJournal(const std::string& journalPath, CaskMetaInfo& meta, std::vector<uint8_t>& data) {
  if (!isFileExist(journalPath)) return;
  const std::vector<uint8_t> bytes = readWholeFile(journalPath);
  if (bytes.size() < kJournalHeaderSize + sizeof(CaskMetaInfo) ||
      std::memcmp(bytes.data(), kJournalMagic, sizeof kJournalMagic) != 0) {
    return;
  }
  uint32_t dataLength = 0;
  uint32_t crc = 0;
  std::memcpy(&dataLength, bytes.data() + 8, 4);
  std::memcpy(&crc, bytes.data() + 12, 4);
  const size_t payload = sizeof(CaskMetaInfo) + dataLength;
  if (bytes.size() != kJournalHeaderSize + payload ||
      crc32Of(0, bytes.data() + kJournalHeaderSize, payload) != crc) {
    return;
  }
  std::memcpy(&meta, bytes.data() + kJournalHeaderSize, sizeof meta);
  if (data.size() < dataLength) data.resize(dataLength, 0);
  std::memcpy(data.data(), bytes.data() + kJournalHeaderSize + sizeof meta, dataLength);
}

}  // namespace

InspectedFiles inspectDataFile(const std::string& dataPath) {
  InspectedFiles files;
  if (!isFileExist(dataPath)) return files;
  const std::string metaPath = dataPath + kCrcSuffix;
  files.check = FileCheck::NoMeta;
  if (!isFileExist(metaPath)) return files;
  // The loader sees both files grown with zeros to whole pages, so short
  // files are judged the same way.
  std::vector<uint8_t> metaBytes;
  std::vector<uint8_t>& data = files.data;
  files.check = FileCheck::Unreadable;
  {
    File metaFile(metaPath, ReadOnly);
    File dataFile(dataPath, ReadOnly);
    if (!metaFile.isFileValid() || !dataFile.isFileValid()) return files;
    metaBytes = readWholeFile(metaPath);
    data = readWholeFile(dataPath);
    if (metaBytes.size() != metaFile.getActualFileSize() || data.size() != dataFile.getActualFileSize()) {
      return files;
    }
  }
  uint8_t raw[sizeof(CaskMetaInfo)] = {};
  // An empty meta file has no bytes at all (and a null data pointer).
  if (!metaBytes.empty()) std::memcpy(raw, metaBytes.data(), std::min(metaBytes.size(), sizeof raw));
  CaskMetaInfo& meta = files.meta;
  std::memcpy(&meta, raw, sizeof meta);
  applyJournal(dataPath + kJournalSuffix, meta, data);
  const size_t page = getPageSize();
  data.resize(std::max(page, (data.size() + page - 1) / page * page), 0);

  uint32_t& header = files.header;
  std::memcpy(&header, data.data(), sizeof header);
  const size_t size = meta.version >= CaskVersionActualSize ? meta.actualSize : header;
  files.contentSize = size;
  files.check = FileCheck::Valid;
  if (contentMatches(data, size, meta.crcDigest)) return files;
  // The loader's fallbacks that keep the whole content: the data header's
  // size with the meta CRC, and the last confirmed size and CRC.
  if (meta.version >= CaskVersionActualSize) {
    files.contentSize = header;
    if (header != size && contentMatches(data, header, meta.crcDigest)) return files;
    // The last confirmed state counts only when it is the whole content:
    // otherwise loading drops what was appended since.
    files.contentSize = size;
    if (meta.lastConfirmedActualSize == size &&
        contentMatches(data, meta.lastConfirmedActualSize, meta.lastConfirmedCrcDigest)) {
      return files;
    }
  }
  files.contentSize = 0;
  files.check = size + 4 > data.size() ? FileCheck::BadSize : FileCheck::BadCrc;
  return files;
}

FileCheck checkDataFile(const std::string& dataPath) { return inspectDataFile(dataPath).check; }

const char* fileCheckName(FileCheck check) {
  switch (check) {
    case FileCheck::Valid: return "valid";
    case FileCheck::NoData: return "no data file";
    case FileCheck::NoMeta: return "no meta file";
    case FileCheck::Unreadable: return "unreadable";
    case FileCheck::BadSize: return "size does not fit the file";
    case FileCheck::BadCrc: return "crc mismatch";
  }
  return "unknown";
}

}  // namespace cask
