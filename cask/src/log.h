#pragma once
// The store's own log lines: filtered by level, then handed to the registered
// log handler or written to stderr. Safe from any thread.
#include "cask/cask.h"

namespace cask::detail {

void logMessage(CaskLogLevel level, const char* file, const char* function, int line,
                const char* format, ...) __attribute__((format(printf, 5, 6)));

bool shouldLog(CaskLogLevel level);

}  // namespace cask::detail

#define CASK_LOG(level, ...)                                                          \
  do {                                                                                \
    if (::cask::detail::shouldLog(level))                                             \
      ::cask::detail::logMessage(level, __FILE_NAME__, __func__, __LINE__, __VA_ARGS__); \
  } while (0)
#define CaskDebug(...) CASK_LOG(::cask::CaskLogDebug, __VA_ARGS__)
#define CaskInfo(...) CASK_LOG(::cask::CaskLogInfo, __VA_ARGS__)
#define CaskWarning(...) CASK_LOG(::cask::CaskLogWarning, __VA_ARGS__)
#define CaskError(...) CASK_LOG(::cask::CaskLogError, __VA_ARGS__)
