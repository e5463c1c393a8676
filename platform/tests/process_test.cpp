#include "platform/process.h"

#include <cerrno>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {
using quillo::SpawnOptions;
using quillo::Spawned;

// Runs argv with stdout captured; returns {output, exit status}.
std::pair<std::string, std::optional<int>> run(const std::vector<std::string>& argv,
                                               SpawnOptions options = {}) {
  options.captureOutput = true;
  Spawned child;
  if (auto ec = quillo::spawnProcess(argv, options, child)) return {"spawn: " + ec.message(), {}};
  auto out = quillo::readAll(child.outputFd);
  ::close(child.outputFd);
  return {out, quillo::waitForExit(child.pid)};
}

TEST(ProcessTest, ArgumentsWithQuotesBlanksAndShellSyntaxArriveIntact) {
  const std::vector<std::string> odd = {"a b", "it's", "\"q\"", "$(touch /tmp/x)", "; rm -rf /", ""};
  std::vector<std::string> argv = {"/usr/bin/printf", "[%s]"};
  argv.insert(argv.end(), odd.begin(), odd.end());
  auto [out, status] = run(argv);
  EXPECT_EQ(out, "[a b][it's][\"q\"][$(touch /tmp/x)][; rm -rf /][]");
  EXPECT_EQ(status, 0);
}

TEST(ProcessTest, ProgramIsFoundInPathAndGetsEnvironmentAndFolder) {
  // An override replaces the inherited entry of its name, and only that one.
  ::setenv("QUILLO_PROCESS_OLD", "parent", 1);
  ::setenv("QUILLO_PROCESS_OLX", "kept", 1);
  SpawnOptions options;
  options.workingDirectory = "/";
  options.environment = {{"QUILLO_PROCESS_TEST", "v a l"}, {"QUILLO_PROCESS_OLD", "child"}};
  auto [out, status] =
      run({"sh", "-c",
           "printf '%s|%s|%s|%s|' \"$QUILLO_PROCESS_TEST\" \"$QUILLO_PROCESS_OLD\" "
           "\"$QUILLO_PROCESS_OLX\" \"$PWD\"; "
           "tr '\\0' '\\n' < /proc/$$/environ | grep -c '^QUILLO_PROCESS_OLD='"},
          options);
  ::unsetenv("QUILLO_PROCESS_OLD");
  ::unsetenv("QUILLO_PROCESS_OLX");
  EXPECT_EQ(out, "v a l|child|kept|/|1\n");
  EXPECT_EQ(status, 0);
}

// Output read in pieces of any size, even one byte, comes whole; and errno
// left at EINTR by an earlier interrupted call does not make the start wait
// for a report that never comes.
TEST(ProcessTest, OutputInSmallPiecesAndAStaleEintrAreReadToTheEnd) {
  errno = EINTR;
  auto [out, status] =
      run({"/bin/sh", "-c", "printf x; sleep 0.1; printf y; sleep 0.1; printf zz"});
  EXPECT_EQ(out, "xyzz");
  EXPECT_EQ(status, 0);
}

TEST(ProcessTest, MissingProgramOrFolderStartsNothing) {
  Spawned child;
  EXPECT_EQ(quillo::spawnProcess({"/nonexistent/tool"}, {}, child),
            std::make_error_code(std::errc::no_such_file_or_directory));
  EXPECT_EQ(child.pid, -1);
  SpawnOptions options;
  options.workingDirectory = "/nonexistent-folder";
  EXPECT_TRUE(quillo::spawnProcess({"/bin/true"}, options, child));
  EXPECT_EQ(child.pid, -1);
  EXPECT_EQ(quillo::spawnProcess({}, {}, child), std::make_error_code(std::errc::invalid_argument));
}

TEST(ProcessTest, ExitCodesSignalsAndFailedWaits) {
  EXPECT_EQ(run({"/bin/sh", "-c", "exit 3"}).second, 3);
  EXPECT_EQ(run({"/bin/sh", "-c", "kill -KILL $$"}).second, 128 + SIGKILL);
  EXPECT_EQ(quillo::waitForExit(::getpid()), std::nullopt) << "not our child";
  EXPECT_EQ(quillo::waitForExit(-1), std::nullopt);
}

TEST(ProcessTest, ReadBothDrainsLargeOutputOnBothPipes) {
  SpawnOptions options;
  options.captureOutput = options.captureError = true;
  Spawned child;
  ASSERT_FALSE(quillo::spawnProcess(
      {"/bin/sh", "-c", "head -c 200000 /dev/zero >&2; head -c 300000 /dev/zero"}, options, child));
  std::string out, err;
  quillo::readBoth(child.outputFd, out, child.errorFd, err);
  ::close(child.outputFd);
  ::close(child.errorFd);
  EXPECT_EQ(quillo::waitForExit(child.pid), 0);
  EXPECT_EQ(out.size(), 300000u);
  EXPECT_EQ(err.size(), 200000u);
}

TEST(ProcessTest, ShellQuoteIsForLogsAndRoundTripsThroughTheShell) {
  EXPECT_EQ(quillo::shellQuote("a'b c"), "'a'\\''b c'");
  const std::vector<std::string> argv = {"x y", "it's", "\"", "$HOME"};
  auto [out, status] = run({"/bin/sh", "-c", "printf '[%s]' " + quillo::shellQuote(argv)});
  EXPECT_EQ(out, "[x y][it's][\"][$HOME]");
}

}  // namespace
