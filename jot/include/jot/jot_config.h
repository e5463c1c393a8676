#pragma once
// Configuration of the log writer and the clock it reads.
#include <sys/time.h>

#include <cstdint>
#include <functional>
#include <string>

namespace vela::jot {

enum TAppenderMode : int32_t {
  kAppenderAsync = 0,  // block cache and flush thread
  kAppenderSync = 1,   // one plain block per record, written at once
};

enum TCompressMode : int32_t {
  kZlib = 0,  // raw deflate, level 9 (any value but kZstd)
  kZstd = 1,
};

struct JotConfig {
  int32_t mode_ = kAppenderAsync;
  std::string logdir_;   // empty disables all writing
  std::string nameprefix_;
  std::string pub_key_;  // 128 hex characters, or empty for plain logs
  int32_t compressmode_ = kZlib;
  int32_t compresslevel_ = 6;  // zstd only
  std::string cachedir_;       // optional second directory (cache file, young logs)
  int32_t cache_days_ = 0;
};

// Wall clock and monotonic milliseconds; tests inject their own.
struct JotClock {
  std::function<struct timeval()> now;
  std::function<uint64_t()> tick;

  [[nodiscard]] static JotClock System();
};

}  // namespace vela::jot
