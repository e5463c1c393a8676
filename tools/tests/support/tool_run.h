#pragma once
// Runs a command-line tool to its end and keeps what it printed.
//
//   const ToolRun r = toolstest::runTool({QUILLO_JOTDUMP, "--help"});
//   EXPECT_EQ(r.status, 0);
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace toolstest {

struct ToolRun {
  int status = -1;  // the exit status, 128 + signal when killed; -1 when it did not start
  std::string out;
  std::string err;
};

inline ToolRun runTool(const std::vector<std::string>& argv) {
  quillo::Spawned child;
  ToolRun r;
  if (quillo::spawnProcess(argv, {.captureOutput = true, .captureError = true}, child)) return r;
  quillo::readBoth(child.outputFd, r.out, child.errorFd, r.err);
  ::close(child.outputFd);
  ::close(child.errorFd);
  r.status = quillo::waitForExit(child.pid).value_or(-1);
  return r;
}

}  // namespace toolstest
