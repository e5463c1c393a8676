// The tools, benchmarks and scripts as a shell meets them: --help and -h print the
// usage on standard output and succeed; a usage error is exit 2 with what was
// refused and the usage on standard error. jotdump reads only regular files, and a cache no further
// than a cache's size.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/tool_run.h"

namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using toolstest::runTool;
using toolstest::ToolRun;

TEST(ToolCommandLine, HelpGoesToStandardOutputAndAUsageErrorToStandardError) {
  std::vector<std::pair<std::string, std::string>> tools = {
      {"jotdump", QUILLO_JOTDUMP},
      {"cask-tool", QUILLO_CASK_TOOL},
      {"quillo-input-sources", QUILLO_INPUT_SOURCES_TOOL},
      {"quillo-distribution-server", QUILLO_DISTRIBUTION_SERVER},
      {"scripts/test", QUILLO_SCRIPTS_DIR "/test"},
      {"scripts/run", QUILLO_SCRIPTS_DIR "/run"},
  };
#ifdef QUILLO_BENCHMARKS
  for (const std::string path : {QUILLO_BENCHMARKS})
    tools.emplace_back(fs::path(path).filename(), path);
#endif
  for (const auto& [name, path] : tools) {
    for (const char* flag : {"--help", "-h"}) {
      const ToolRun help = runTool({path, flag});
      EXPECT_EQ(help.status, 0) << name << " " << flag;
      EXPECT_THAT(help.out, StartsWith("usage: " + name)) << name << " " << flag;
      EXPECT_EQ(help.err, "") << name << " " << flag;
    }
    const ToolRun wrong = runTool({path, "--no-such-option"});
    EXPECT_EQ(wrong.status, 2) << name;
    EXPECT_EQ(wrong.out, "") << name;
    EXPECT_THAT(wrong.err, HasSubstr("--no-such-option\n"))
        << name << ": the refusal names what it refused";
    EXPECT_THAT(wrong.err, HasSubstr("usage: " + name)) << name;
  }
}

class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("command-line-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};
using JotdumpFilesTest = TempFolderTest;
using ScriptsTest = TempFolderTest;

TEST_F(ScriptsTest, HelpAndARefusedArgumentInstallAndBuildNothing) {
  // Alone in a clone of their own, without scripts/setup or any CMake file:
  // a script that went past its arguments would fail or leave a build folder.
  const fs::path scripts = dir_ / "scripts";
  fs::create_directories(scripts);
  struct Row {
    std::string script;
    std::vector<std::string> named;  // what its usage tells a newcomer
  };
  for (const Row& row :
       std::vector<Row>{{"test", {"QUILLO_PRESETS", "QUILLO_JOBS", "scripts/setup"}},
                        {"run", {"QUILLO_JOBS", "Xvfb", "xdotool key ctrl+w"}}}) {
    const fs::path script = scripts / row.script;
    fs::copy_file(std::string(QUILLO_SCRIPTS_DIR) + "/" + row.script, script);
    fs::permissions(script, fs::perms::owner_all);
    for (const std::string arg : {"--help", "-h", "--bogus"}) {
      const ToolRun r = runTool({script.string(), arg});
      const bool help = arg != "--bogus";
      EXPECT_EQ(r.status, help ? 0 : 2) << row.script << " " << arg << ": " << r.err;
      for (const std::string& name : row.named)
        EXPECT_THAT(help ? r.out : r.err, HasSubstr(name)) << row.script << " " << arg;
    }
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(dir_))
    left.push_back(fs::relative(entry.path(), dir_).string());
  std::sort(left.begin(), left.end());
  EXPECT_THAT(left, ::testing::ElementsAre("scripts", "scripts/run", "scripts/test"));
}

TEST_F(JotdumpFilesTest, DevicesAndPipesAreRefusedUnread) {
  const fs::path fifo = dir_ / "inst_a.mmap3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Without a writer, opening the pipe to read it would wait for ever.
  for (const std::string& path : {fifo.string(), std::string("/dev/zero")}) {
    const ToolRun r = runTool({"timeout", "20", QUILLO_JOTDUMP, "--cache", path});
    ASSERT_EQ(r.status, 2) << path;
    EXPECT_EQ(r.err, "jotdump: cannot read " + path + ": not a regular file\n");
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(JotdumpFilesTest, ACacheIsReadNoFurtherThanACachesSize) {
  // A sparse file far larger than a cache, read with too little memory to
  // hold it (a sanitizer's shadow memory does not suit such a limit).
  const fs::path cache = dir_ / "inst_a.mmap3";
  std::ofstream(cache).close();
  fs::resize_file(cache, std::uintmax_t{1} << 30);
  std::vector<std::string> argv = {QUILLO_JOTDUMP, cache.string()};
#if !defined(__SANITIZE_ADDRESS__)
  argv.insert(argv.begin(), {"prlimit", "--as=268435456", "--"});
#endif
  const ToolRun r = runTool(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

// A file that holds no log is reported as damage and fails the run; "-" is
// a file name, not an option.
TEST_F(JotdumpFilesTest, DamageAndMissingFilesFailTheRun) {
  const fs::path log = dir_ / "garbage.log";
  std::ofstream(log) << std::string(4096, 'x');
  const ToolRun damaged = runTool({QUILLO_JOTDUMP, log.string()});
  EXPECT_EQ(damaged.status, 1) << damaged.err;
  EXPECT_THAT(damaged.err, HasSubstr(log.string() + ": "));
  const ToolRun dash = runTool({QUILLO_JOTDUMP, "-"});
  EXPECT_EQ(dash.status, 2);
  EXPECT_THAT(dash.err, HasSubstr("jotdump: cannot read -: "));
  const ToolRun shortKey = runTool({QUILLO_JOTDUMP, "--key", "00"});
  EXPECT_EQ(shortKey.status, 2);
  EXPECT_EQ(shortKey.err, "jotdump: --key needs 64 hexadecimal digits\n");
}

}  // namespace
