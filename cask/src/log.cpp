#include "log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace cask {
namespace detail {

std::atomic<int32_t> g_currentLogLevel{CaskLogInfo};
std::atomic<LogHandler> g_logHandler{nullptr};

bool shouldLog(CaskLogLevel level) { return level >= g_currentLogLevel.load(std::memory_order_relaxed); }

void logMessage(CaskLogLevel level, const char* file, const char* function, int line,
                const char* format, ...) {
  if (!shouldLog(level)) return;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string message(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(message.data(), message.size() + 1, format, args);
  va_end(args);

  if (LogHandler handler = g_logHandler.load()) {
    handler(level, file, line, function, message);
    return;
  }
  static constexpr const char* kLetters[] = {"D", "I", "W", "E"};
  const char* letter = (level >= 0 && level <= 3) ? kLetters[level] : "N";
  std::fprintf(stderr, "[%s] <%s:%d::%s> %s\n", letter, file, line, function, message.c_str());
}

}  // namespace detail
}  // namespace cask
