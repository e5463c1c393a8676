#include "platform/shell.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace quillo {

int runShellCommand(const std::string& commandLine) { return std::system(commandLine.c_str()); }

void consoleLog(const std::string& message) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%F %T", &tm);
  std::fprintf(stderr, "%s quillo[%d] %s\n", stamp, static_cast<int>(::getpid()), message.c_str());
}

}  // namespace quillo
