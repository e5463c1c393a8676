#include "cask/format.h"

#include <cstring>

#include <openssl/evp.h>
#include <zlib.h>

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

FileCheck checkDataFile(const std::string& dataPath) {
  if (!isFileExist(dataPath)) return FileCheck::NoData;
  const std::string metaPath = dataPath + kCrcSuffix;
  if (!isFileExist(metaPath)) return FileCheck::NoMeta;
  const std::optional<CaskMetaInfo> meta = readMetaInfo(metaPath);
  const std::vector<uint8_t> data = readWholeFile(dataPath);
  if (!meta || data.size() < 4) return FileCheck::Unreadable;
  uint32_t size = 0;
  std::memcpy(&size, data.data(), sizeof size);
  if (meta->version >= CaskVersionActualSize) size = meta->actualSize;
  if (size > data.size() - 4) return FileCheck::BadSize;
  const uLong crc = crc32(0, data.data() + 4, size);
  return static_cast<uint32_t>(crc) == meta->crcDigest ? FileCheck::Valid : FileCheck::BadCrc;
}

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
