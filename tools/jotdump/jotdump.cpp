// jotdump: prints the records of a log file ("*.jot") or block cache file
// ("*.mmap3"). Damaged stretches are reported on stderr and skipped.
//
//   jotdump [--key <64 hex digits: server private key>] [--cache] FILE...
//
// Only regular files are read, a cache no further than the cache's size.
// For a cache, the records it counts as dropped follow its blocks, as the
// notice the writer's next start writes.
// Exit status: 0 all blocks read, 1 some damage or undecodable block, 2 usage
// or I/O error.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "jot/block_reader.h"
#include "jot/log_buffer.h"
#include "jot/log_crypt.h"
#include "jot/log_format.h"

namespace {

constexpr const char* kUsage =
    "usage: jotdump [--key HEX64] [--cache] FILE...\n"
    "  prints the records of log files (*.jot) and block cache files (*.mmap3,\n"
    "  or any FILE with --cache); --key: the server's private key, for encrypted blocks\n";

// A refusal of the command line: what was refused, then the usage.
int usage(const std::string& why) {
  std::cerr << "jotdump: " << why << "\n" << kUsage;
  return 2;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The file's first `limit` bytes (all of a shorter file), or the reason it
// cannot be read ("not a regular file", ...). A device or pipe is refused
// before anything is read from it.
std::optional<std::vector<uint8_t>> readFile(const std::string& path, size_t limit, std::string& error) {
  // Non-blocking: opening a pipe without a writer must not wait for one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    error = "is a directory";
  } else if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
  } else {
    uint8_t chunk[65536];
    while (bytes.size() < limit) {
      const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - bytes.size()));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = std::strerror(errno);
        break;
      }
      if (n == 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
  }
  ::close(fd);
  if (!error.empty()) return std::nullopt;
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<vela::jot::EcPrivateKey> key;
  bool forceCache = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--key") {
      if (i + 1 >= argc) return usage("--key: missing value");
      vela::jot::EcPrivateKey k{};
      if (!vela::jot::ParseHexKey(argv[++i], k.data(), k.size())) {
        std::cerr << "jotdump: --key needs 64 hexadecimal digits\n";
        return 2;
      }
      key = k;
    } else if (arg == "--cache") {
      forceCache = true;
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage("unknown option: " + arg);
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) return usage("no FILE given");

  int status = 0;
  for (const std::string& path : files) {
    const bool cache = forceCache || endsWith(path, ".mmap3");
    std::string error;
    const std::optional<std::vector<uint8_t>> read =
        readFile(path, cache ? vela::jot::kCacheFileLength : SIZE_MAX, error);
    if (!read) {
      std::cerr << "jotdump: cannot read " << path << ": " << error << "\n";
      status = 2;
      continue;
    }
    const std::span<const uint8_t> bytes(*read);
    // A cache's blocks, then its counters (none in a cache of an earlier version).
    const std::span<const uint8_t> blocks =
        cache ? bytes.first(std::min(bytes.size(), vela::jot::kBufferBlockLength)) : bytes;
    const vela::jot::ReadResult result =
        cache ? vela::jot::ReadCacheBlocks(blocks, key) : vela::jot::ReadLogBlocks(bytes, key);
    for (const std::string& damage : result.damage) {
      std::cerr << path << ": " << damage << "\n";
      if (status == 0) status = 1;
    }
    for (const vela::jot::DecodedBlock& block : result.blocks) {
      if (!block.error.empty()) {
        std::cerr << path << ": block at offset " << block.offset << " (magic "
                  << static_cast<int>(block.magic) << ", seq " << block.seq
                  << "): " << block.error << "\n";
        if (status == 0) status = 1;
      }
      std::fwrite(block.text.data(), 1, block.text.size(), stdout);
    }
    if (!cache) continue;
    const std::optional<uint32_t> dropped =
        vela::jot::CachedDropCount(bytes.subspan(blocks.size()));
    if (!dropped) {
      std::cerr << path << ": damaged count of dropped records\n";
      if (status == 0) status = 1;
    } else if (*dropped > 0) {
      std::printf("[F][ log cache full, %u records dropped\n", *dropped);
    }
  }
  return status;
}
