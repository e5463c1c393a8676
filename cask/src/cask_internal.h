#pragma once
// Internals shared by the store's sources: process-wide state, handlers and
// the crash-test seam. Not part of the public interface.
#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "aes_crypt.h"
#include "cask/cask.h"
#include "coded_data.h"
#include "coded_input_crypt.h"
#include "crc.h"
#include "file_lock.h"
#include "flat_index.h"
#include "log.h"
#include "memory_file.h"
#include "pair_index.h"
#include "rv_buffer.h"

namespace cask {

inline constexpr uint32_t kFixed32Size = 4;  // the data file's size header
inline constexpr size_t kMaxKeyLength = 0xffff - 3 - 5;  // computed size must fit 16 bits
inline constexpr size_t kMaxValueLength = (size_t{1} << 31) - 16;

namespace detail {

extern std::atomic<int32_t> g_currentLogLevel;
extern std::atomic<LogHandler> g_logHandler;
extern std::atomic<ErrorHandler> g_errorHandler;
extern std::atomic<ContentChangeHandler> g_contentChangeHandler;

// The registry's recursive lock (made on first use).
ThreadLock* instanceLock();

// Crash tests install a hook that kills the process at a named point of a
// write ("after-pair", "after-header", "after-crc", "mid-compaction",
// "after-truncate", "write-back-sync", ...). Null in production.
using TestPointHook = void (*)(const char* name);
extern std::atomic<TestPointHook> g_testPointHook;
inline void testPoint(const char* name) {
  if (TestPointHook hook = g_testPointHook.load(std::memory_order_relaxed)) hook(name);
}

}  // namespace detail
}  // namespace cask
