// cask-tool: opens a store and reads or writes typed values, lists keys,
// dumps the meta record or checks a data file against its CRC.
//
//   cask-tool --root DIR [--key KEY] [--multi] [--log 0..4] ID COMMAND [ARGS]
//     set TYPE KEY VALUE   TYPE: bool int32 uint32 int64 uint64 float double string hex
//     get TYPE KEY
//     remove KEY
//     keys
//     meta                 the meta record (read without opening the store)
//     check                the data file against the meta CRC (without opening)
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cask/cask.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: cask-tool --root DIR [--key KEY] [--multi] [--log 0..4] ID COMMAND [ARGS]\n"
               "  set TYPE KEY VALUE   TYPE: bool int32 uint32 int64 uint64 float double string hex\n"
               "  get TYPE KEY\n  remove KEY\n  keys\n  meta\n  check\n");
  return 2;
}

std::string hex(const uint8_t* bytes, size_t size) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0xf];
  }
  return out;
}

bool parseHex(const std::string& text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = text.substr(i, 2);
    const long value = std::strtol(pair.c_str(), &end, 16);
    if (*end != '\0') return false;
    out.push_back(static_cast<uint8_t>(value));
  }
  return true;
}

bool setValue(cask::Cask& store, const std::string& type, const std::string& key, const std::string& value) {
  char* end = nullptr;
  errno = 0;
  auto checked = [&](auto parsed) {
    if (end == value.c_str() || *end != '\0' || errno != 0) throw std::invalid_argument("bad number: " + value);
    return parsed;
  };
  if (type == "bool") return store.set(value == "true" || value == "1", key);
  if (type == "int32") return store.set(static_cast<int32_t>(checked(std::strtol(value.c_str(), &end, 0))), key);
  if (type == "uint32") return store.set(static_cast<uint32_t>(checked(std::strtoul(value.c_str(), &end, 0))), key);
  if (type == "int64") return store.set(static_cast<int64_t>(checked(std::strtoll(value.c_str(), &end, 0))), key);
  if (type == "uint64") return store.set(static_cast<uint64_t>(checked(std::strtoull(value.c_str(), &end, 0))), key);
  if (type == "float") return store.set(checked(std::strtof(value.c_str(), &end)), key);
  if (type == "double") return store.set(checked(std::strtod(value.c_str(), &end)), key);
  if (type == "string") return store.set(std::string_view(value), key);
  if (type == "hex") {
    std::vector<uint8_t> bytes;
    if (!parseHex(value, bytes)) throw std::invalid_argument("bad hex: " + value);
    return store.set(std::span<const uint8_t>(bytes), key);
  }
  throw std::invalid_argument("unknown type: " + type);
}

int getValue(cask::Cask& store, const std::string& type, const std::string& key) {
  bool has = true;
  if (type == "bool") {
    const bool v = store.getBool(key, false, &has);
    if (has) std::printf("%s\n", v ? "true" : "false");
  } else if (type == "int32") {
    const int32_t v = store.getInt32(key, 0, &has);
    if (has) std::printf("%d\n", v);
  } else if (type == "uint32") {
    const uint32_t v = store.getUInt32(key, 0, &has);
    if (has) std::printf("%u\n", v);
  } else if (type == "int64") {
    const int64_t v = store.getInt64(key, 0, &has);
    if (has) std::printf("%lld\n", static_cast<long long>(v));
  } else if (type == "uint64") {
    const uint64_t v = store.getUInt64(key, 0, &has);
    if (has) std::printf("%llu\n", static_cast<unsigned long long>(v));
  } else if (type == "float") {
    const float v = store.getFloat(key, 0, &has);
    if (has) std::printf("%.9g\n", static_cast<double>(v));
  } else if (type == "double") {
    const double v = store.getDouble(key, 0, &has);
    if (has) std::printf("%.17g\n", v);
  } else if (type == "string") {
    const auto v = store.getString(key);
    has = v.has_value();
    if (has) std::printf("%s\n", v->c_str());
  } else if (type == "hex") {
    const auto v = store.getBytes(key);
    has = v.has_value();
    if (has) std::printf("%s\n", hex(v->data(), v->size()).c_str());
  } else {
    std::fprintf(stderr, "unknown type: %s\n", type.c_str());
    return 2;
  }
  if (!has) {
    std::fprintf(stderr, "no value for %s\n", key.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string root = ".";
  std::string key;
  bool hasKey = false;
  int mode = cask::CaskSingleProcess;
  int logLevel = cask::CaskLogWarning;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string option = argv[i];
    if (option == "--multi") {
      mode = cask::CaskMultiProcess;
    } else if (i + 1 < argc && option == "--root") {
      root = argv[++i];
    } else if (i + 1 < argc && option == "--key") {
      key = argv[++i];
      hasKey = true;
    } else if (i + 1 < argc && option == "--log") {
      logLevel = std::atoi(argv[++i]);
    } else {
      return usage();
    }
  }
  if (argc - i < 2) return usage();
  const std::string id = argv[i];
  const std::string command = argv[i + 1];
  const std::vector<std::string> args(argv + i + 2, argv + argc);

  cask::Cask::initializeCask(root, static_cast<cask::CaskLogLevel>(logLevel));
  const std::string dataPath = cask::Cask::mappedKVPathWithID(id);
  if (command == "meta") {
    const auto meta = cask::readMetaInfo(dataPath + cask::kCrcSuffix);
    if (!meta) {
      std::fprintf(stderr, "cannot read %s%s\n", dataPath.c_str(), cask::kCrcSuffix);
      return 1;
    }
    std::printf("crcDigest: %u\nversion: %u\nsequence: %u\nvector: %s\nactualSize: %u\n"
                "lastConfirmedActualSize: %u\nlastConfirmedCrcDigest: %u\n",
                meta->crcDigest, meta->version, meta->sequence, hex(meta->vector, sizeof meta->vector).c_str(),
                meta->actualSize, meta->lastConfirmedActualSize, meta->lastConfirmedCrcDigest);
    return 0;
  }
  if (command == "check") {
    const cask::FileCheck check = cask::checkDataFile(dataPath);
    std::printf("%s: %s\n", dataPath.c_str(), cask::fileCheckName(check));
    return check == cask::FileCheck::Valid || check == cask::FileCheck::NoData ? 0 : 1;
  }

  cask::Cask* store = cask::Cask::caskWithID(id, mode, hasKey ? &key : nullptr);
  if (store == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", id.c_str());
    return 1;
  }
  int status = 0;
  try {
    if (command == "set" && args.size() == 3) {
      status = setValue(*store, args[0], args[1], args[2]) ? 0 : 1;
    } else if (command == "get" && args.size() == 2) {
      status = getValue(*store, args[0], args[1]);
    } else if (command == "remove" && args.size() == 1) {
      store->removeValueForKey(args[0]);
    } else if (command == "keys" && args.empty()) {
      for (const std::string& k : store->allKeys()) std::printf("%s\n", k.c_str());
    } else {
      status = usage();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    status = 2;
  }
  if (store->isUndecodable()) {
    std::fprintf(stderr, "the store does not decode: wrong key, or plain/encrypted mix-up?\n");
    status = status == 0 ? 1 : status;
  }
  cask::Cask::onExit();
  return status;
}
