#pragma once
// Shell commands and the console, the platform's stand-ins for system(3)
// callers and the system log.
#include <string>

namespace quillo {

// Runs `commandLine` through /bin/sh (system(3)), synchronously on the
// calling thread; returns its wait status (-1 when no shell could run).
int runShellCommand(const std::string& commandLine);

// Writes one line to the system console (stderr), prefixed with the time and pid.
void consoleLog(const std::string& message);

}  // namespace quillo
