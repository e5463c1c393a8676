// cask-tool: reads a store without changing it (get, keys, meta, check), or
// opens it to write (set, remove).
//
//   cask-tool --root DIR [--key KEY] [--multi] [--log 0..4] ID COMMAND [ARGS]
//     get TYPE KEY         TYPE: bool int32 uint32 int64 uint64 float double string hex
//     keys
//     meta                 the meta record
//     check                "valid" when opening the store would lose nothing
//     set TYPE KEY VALUE
//     remove KEY
//
// Read commands work on a read-only snapshot of the files: they never
// create, grow, repair or discard anything, and report damage with exit 1.
// Exit status: 0 done, 1 failed (damage, missing value or store), 2 usage.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cask/cask.h"
#include "cask/store_snapshot.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage: cask-tool --root DIR [--key KEY] [--multi] [--log 0..4] ID COMMAND [ARGS]\n"
    "  read, never changing the store:\n"
    "    get TYPE KEY         TYPE: bool int32 uint32 int64 uint64 float double string hex\n"
    "    keys\n    meta\n    check\n"
    "  write:\n"
    "    set TYPE KEY VALUE\n    remove KEY\n";

template <typename... Args>
int fail(int status, const char* format, Args... args) {
  std::fprintf(stderr, "cask-tool: ");
  std::fprintf(stderr, format, args...);
  std::fprintf(stderr, "\n");
  return status;
}

// A refusal of the command line: what was refused, then the usage.
int usage(const std::string& why) {
  fail(kUsage, "%s", why.c_str());
  std::fputs(kUsageText, stderr);
  return kUsage;
}

// The arguments each command takes, for a refusal.
const char* argumentsOf(const std::string& command) {
  if (command == "get") return "TYPE KEY";
  if (command == "set") return "TYPE KEY VALUE";
  if (command == "remove") return "KEY";
  return "no arguments";
}

int badArguments(const std::string& command) {
  return usage(command + ": expected " + argumentsOf(command));
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

struct Options {
  std::string root = ".";
  std::string key;
  bool hasKey = false;
  int mode = cask::CaskSingleProcess;
  int logLevel = cask::CaskLogWarning;
  std::string id;
  std::string command;
  std::vector<std::string> args;
};

// Returns a usage status when the command line is not understood.
std::optional<int> parseOptions(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string option = argv[i];
    if (option == "-h" || option == "--help") {
      std::fputs(kUsageText, stdout);
      return 0;
    }
    if (option == "--multi") {
      options.mode = cask::CaskMultiProcess;
    } else if (i + 1 < argc && option == "--root") {
      options.root = argv[++i];
    } else if (i + 1 < argc && option == "--key") {
      options.key = argv[++i];
      options.hasKey = true;
    } else if (i + 1 < argc && option == "--log") {
      const std::string level = argv[++i];
      if (level.size() != 1 || level[0] < '0' || level[0] > '4') {
        return fail(kUsage, "--log: expected a level 0..4: %s", level.c_str());
      }
      options.logLevel = level[0] - '0';
    } else if (option == "--root" || option == "--key" || option == "--log") {
      return usage(option + ": missing value");
    } else {
      return usage("unknown option: " + option);
    }
  }
  if (argc - i < 2) return usage(argc - i == 0 ? "missing ID and COMMAND" : "missing COMMAND");
  options.id = argv[i];
  options.command = argv[i + 1];
  options.args.assign(argv + i + 2, argv + argc);
  return std::nullopt;
}

bool isReadCommand(const std::string& command) {
  return command == "get" || command == "keys" || command == "meta" || command == "check";
}

// The root must be a folder we may look into; only writes may create it.
std::optional<int> checkRoot(const std::string& root, bool mayCreate) {
  struct stat st {};
  if (stat(root.c_str(), &st) != 0) {
    if (errno == ENOENT && mayCreate) return std::nullopt;
    return fail(kUsage, "--root: %s: %s", root.c_str(), std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode)) return fail(kUsage, "--root: not a folder: %s", root.c_str());
  if (faccessat(AT_FDCWD, root.c_str(), X_OK, AT_EACCESS) != 0) {
    return fail(kUsage, "--root: %s: %s", root.c_str(), std::strerror(errno));
  }
  return std::nullopt;
}

// A record as the store writes it: a known version and zero reserved words.
bool isMetaRecord(const cask::CaskMetaInfo& meta) {
  if (meta.version > cask::CaskVersionActualSize) return false;
  for (const uint32_t word : meta.reserved) {
    if (word != 0) return false;
  }
  return true;
}

int printMeta(const std::string& metaPath) {
  struct stat st {};
  if (stat(metaPath.c_str(), &st) != 0) return fail(kFailed, "%s: %s", metaPath.c_str(), std::strerror(errno));
  const auto meta = cask::readMetaInfo(metaPath);
  if (!meta || !isMetaRecord(*meta)) return fail(kFailed, "%s: does not hold a meta record", metaPath.c_str());
  std::printf("crcDigest: %u\nversion: %u\nsequence: %u\nvector: %s\nactualSize: %u\n"
              "lastConfirmedActualSize: %u\nlastConfirmedCrcDigest: %u\n",
              meta->crcDigest, meta->version, meta->sequence, hex(meta->vector, sizeof meta->vector).c_str(),
              meta->actualSize, meta->lastConfirmedActualSize, meta->lastConfirmedCrcDigest);
  return 0;
}

template <typename T, typename Print>
bool printValue(const cask::StoreSnapshot& snapshot, const std::string& key, Print&& print) {
  const std::optional<T> value = snapshot.get<T>(key);
  if (value) print(*value);
  return value.has_value();
}

// Returns nothing for an unknown type.
std::optional<bool> getValue(const cask::StoreSnapshot& s, const std::string& type, const std::string& key) {
  if (type == "bool") return printValue<bool>(s, key, [](bool v) { std::printf("%s\n", v ? "true" : "false"); });
  if (type == "int32") return printValue<int32_t>(s, key, [](int32_t v) { std::printf("%d\n", v); });
  if (type == "uint32") return printValue<uint32_t>(s, key, [](uint32_t v) { std::printf("%u\n", v); });
  if (type == "int64") {
    return printValue<int64_t>(s, key, [](int64_t v) { std::printf("%lld\n", static_cast<long long>(v)); });
  }
  if (type == "uint64") {
    return printValue<uint64_t>(
        s, key, [](uint64_t v) { std::printf("%llu\n", static_cast<unsigned long long>(v)); });
  }
  if (type == "float") {
    return printValue<float>(s, key, [](float v) { std::printf("%.9g\n", static_cast<double>(v)); });
  }
  if (type == "double") return printValue<double>(s, key, [](double v) { std::printf("%.17g\n", v); });
  if (type == "string") {
    return printValue<std::string>(s, key, [](const std::string& v) { std::printf("%s\n", v.c_str()); });
  }
  if (type == "hex") {
    return printValue<std::vector<uint8_t>>(
        s, key, [](const std::vector<uint8_t>& v) { std::printf("%s\n", hex(v.data(), v.size()).c_str()); });
  }
  return std::nullopt;
}

int read(const Options& options) {
  const std::string dataPath = cask::Cask::mappedKVPathWithID(options.id, &options.root);
  if (options.command == "meta") {
    if (!options.args.empty()) return badArguments(options.command);
    return printMeta(dataPath + cask::kCrcSuffix);
  }
  const bool isCheck = options.command == "check" && options.args.empty();
  const bool isKeys = options.command == "keys" && options.args.empty();
  const bool isGet = options.command == "get" && options.args.size() == 2;
  if (!isCheck && !isKeys && !isGet) return badArguments(options.command);

  const cask::StoreSnapshot snapshot = cask::StoreSnapshot::read(dataPath, options.hasKey ? &options.key : nullptr);
  if (snapshot.fileCheck() == cask::FileCheck::NoData) return fail(kFailed, "%s: no such store", dataPath.c_str());
  std::string problem;
  if (!snapshot.isComplete()) {
    problem = snapshot.describe();
    if (snapshot.fileCheck() == cask::FileCheck::Valid && !snapshot.isDecoded()) {
      problem += options.hasKey ? " (wrong key?)" : " (encrypted? give --key)";
    }
  }
  if (isCheck) {
    if (!problem.empty()) return fail(kFailed, "%s: %s", dataPath.c_str(), problem.c_str());
    std::printf("%s: valid\n", dataPath.c_str());
    return 0;
  }
  // Nothing to show from content a load would not read.
  if (!snapshot.isDecoded()) return fail(kFailed, "%s: %s", dataPath.c_str(), problem.c_str());
  int status = 0;
  if (isKeys) {
    for (const std::string& key : snapshot.keys()) std::printf("%s\n", key.c_str());
  } else {
    const std::optional<bool> found = getValue(snapshot, options.args[0], options.args[1]);
    if (!found) return fail(kUsage, "unknown type: %s", options.args[0].c_str());
    if (!*found) status = fail(kFailed, "no %s value for %s", options.args[0].c_str(), options.args[1].c_str());
  }
  if (!problem.empty()) status = fail(kFailed, "%s: %s", dataPath.c_str(), problem.c_str());
  return status;
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

int write(const Options& options) {
  const bool isSet = options.command == "set" && options.args.size() == 3;
  const bool isRemove = options.command == "remove" && options.args.size() == 1;
  if (!isSet && !isRemove)
    return options.command == "set" || options.command == "remove"
               ? badArguments(options.command)
               : usage("unknown command: " + options.command);
  cask::Cask::initializeCask(options.root, static_cast<cask::CaskLogLevel>(options.logLevel));
  cask::Cask* store = cask::Cask::caskWithID(options.id, options.mode, options.hasKey ? &options.key : nullptr);
  if (store == nullptr) return fail(kFailed, "cannot open %s", options.id.c_str());
  int status = 0;
  try {
    if (isSet) {
      if (!setValue(*store, options.args[0], options.args[1], options.args[2])) {
        status = fail(kFailed, "cannot set %s", options.args[1].c_str());
      }
    } else {
      store->removeValueForKey(options.args[0]);
    }
  } catch (const std::exception& e) {
    status = fail(kUsage, "%s", e.what());
  }
  if (store->isUndecodable()) {
    status = fail(status == 0 ? kFailed : status,
                  "the store does not decode: wrong key, or plain/encrypted mix-up?");
  }
  cask::Cask::onExit();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::optional<int> status = parseOptions(argc, argv, options)) return *status;
  const bool reading = isReadCommand(options.command);
  if (const std::optional<int> status = checkRoot(options.root, !reading)) return *status;
  if (reading) {
    cask::Cask::setLogLevel(static_cast<cask::CaskLogLevel>(options.logLevel));
    return read(options);
  }
  return write(options);
}
