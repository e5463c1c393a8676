// quillo-input-sources as the user runs it: its listing, its refusals in
// words with the platform status, and its bad-input exits.
#include <unistd.h>

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
using toolstest::ToolRun;

class InputSourcesToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) / ("input-sources-tool-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  static ToolRun run(std::vector<std::string> args) {
    args.insert(args.begin(), QUILLO_INPUT_SOURCES_TOOL);
    return toolstest::runTool(args);
  }
  ToolRun onRoot(std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", root_.string()});
    return run(std::move(args));
  }

  fs::path root_;
};

TEST_F(InputSourcesToolTest, ListStartsWithAHeaderRow) {
  const ToolRun r = onRoot({"list"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, StartsWith("ID\tSTATE\tSELECTION\tBUNDLE\n"));
  EXPECT_THAT(r.out, HasSubstr("\ncom.apple.keylayout.ABC\tenabled\tcurrent\t"));
}

TEST_F(InputSourcesToolTest, RefusalsSayWhyInWords) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"select", "com.example.none"}, "cannot select com.example.none: no such input source (-50)"},
      {{"select", "com.apple.keylayout.US"}, "cannot select com.apple.keylayout.US: the source is not enabled (-50)"},
      {{"approve", "com.apple.keylayout.ABC"},
       "cannot approve com.apple.keylayout.ABC: the source is already enabled (-50)"},
      {{"approve", "com.apple.keylayout.US"},
       "cannot approve com.apple.keylayout.US: the source is not waiting for approval (-50)"},
  };
  for (const auto& [args, message] : cases) {
    const ToolRun r = onRoot(args);
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_EQ(r.err, "quillo-input-sources: " + message + "\n");
  }
}

TEST_F(InputSourcesToolTest, BadRootsAndRegistriesAreErrorsNotCrashes) {
  std::ofstream(root_ / "file") << "x";
  const ToolRun file = run({"--root", (root_ / "file").string(), "list"});
  EXPECT_EQ(file.status, 2);
  EXPECT_EQ(file.err, "quillo-input-sources: --root: not a folder: " + (root_ / "file").string() + "\n");
  EXPECT_EQ(run({"--root", (root_ / "missing").string(), "list"}).status, 2);
  EXPECT_FALSE(fs::exists(root_ / "missing")) << "a refused root is not created";

  fs::create_directories(root_ / "Library/Preferences/InputSources.json");
  const ToolRun folder = onRoot({"list"});
  EXPECT_EQ(folder.status, 1);
  EXPECT_THAT(folder.err, HasSubstr("InputSources.json: it is not a plain file"));
  EXPECT_EQ(folder.out, "");
  fs::remove(root_ / "Library/Preferences/InputSources.json");

  std::ofstream(root_ / "Library/Preferences/InputSources.json") << "{not json";
  const ToolRun malformed = onRoot({"list"});
  EXPECT_EQ(malformed.status, 1) << "an unreadable registry is not an empty list";
  EXPECT_THAT(malformed.err, HasSubstr("quillo-input-sources: cannot read the registry " +
                                       (root_ / "Library/Preferences/InputSources.json").string() + "\n"));
  EXPECT_EQ(malformed.out, "");

  EXPECT_EQ(run({}).status, 2);
  const ToolRun noRoot = run({"--root"});
  EXPECT_EQ(noRoot.status, 2);
  EXPECT_THAT(noRoot.err, HasSubstr("quillo-input-sources: --root: missing value\n"));
  EXPECT_EQ(onRoot({"select"}).status, 2);
}

}  // namespace
