// cask-tool from a user's shell: read commands never change a store, damage
// and bad input give a clear message and a non-zero exit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <map>

#include "store_fixture.h"

namespace {

using cask::Cask;

struct ToolRun {
  int status = -1;  // exit code, or -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

class CaskToolTest : public cask::testing::StoreTest {
 protected:
  ToolRun tool(std::vector<std::string> args) {
    args.insert(args.begin(), CASK_TOOL_PATH);
    const std::string outPath = dir_ + "/.tool-out";
    const std::string errPath = dir_ + "/.tool-err";
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto out = cask::readWholeFile(outPath);
    const auto err = cask::readWholeFile(errPath);
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return run;
  }

  // A closed store "s" holding n = 5 and name = "quillo".
  void makeStore(const std::string& key = "") {
    Cask* store = open("s", key);
    ASSERT_TRUE(store->set(int64_t{5}, "n"));
    ASSERT_TRUE(store->set(std::string_view("quillo"), "name"));
    forget(store);
    store->close();
  }

  std::map<std::string, std::vector<uint8_t>> files() {
    std::map<std::string, std::vector<uint8_t>> all;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      all[entry.path().string()] = bytesOf(entry.path().string());
    }
    return all;
  }
};

TEST_F(CaskToolTest, ReadsAndWritesAnIntactStore) {
  ASSERT_EQ(tool({"--root", dir_, "s", "set", "int64", "n", "5"}).status, 0);
  ASSERT_EQ(tool({"--root", dir_, "s", "set", "string", "name", "quillo"}).status, 0);
  EXPECT_EQ(tool({"--root", dir_, "s", "get", "int64", "n"}).out, "5\n");
  EXPECT_EQ(tool({"--root", dir_, "s", "get", "string", "name"}).out, "quillo\n");
  EXPECT_EQ(tool({"--root", dir_, "s", "keys"}).out, "n\nname\n");
  const ToolRun check = tool({"--root", dir_, "s", "check"});
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, dataPath("s") + ": valid\n");
  const ToolRun meta = tool({"--root", dir_, "s", "meta"});
  EXPECT_EQ(meta.status, 0);
  EXPECT_NE(meta.out.find("version: "), std::string::npos);
  ASSERT_EQ(tool({"--root", dir_, "s", "remove", "n"}).status, 0);
  EXPECT_EQ(tool({"--root", dir_, "s", "keys"}).out, "name\n");
}

TEST_F(CaskToolTest, ReadCommandsReportDamageAndNeverChangeTheStore) {
  makeStore();
  auto bytes = bytesOf(dataPath("s"));
  bytes[9] ^= 0x5A;
  writeBytes(dataPath("s"), bytes);
  // A short file the store would grow to a page on open.
  writeBytes(dataPath("s") + ".crc", cut(bytesOf(dataPath("s") + ".crc"), 200));
  const auto before = files();
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"keys"}, {"get", "int64", "n"}, {"check"}}) {
    std::vector<std::string> args{"--root", dir_, "s"};
    args.insert(args.end(), command.begin(), command.end());
    const ToolRun run = tool(args);
    EXPECT_EQ(run.status, 1) << command[0];
    EXPECT_EQ(run.out, "") << command[0];
    EXPECT_EQ(run.err, "cask-tool: " + dataPath("s") + ": crc mismatch\n") << command[0];
  }
  EXPECT_EQ(tool({"--root", dir_, "s", "meta"}).status, 0);
  EXPECT_EQ(files(), before);
}

TEST_F(CaskToolTest, EncryptedStoreChecksOnlyWithItsKey) {
  makeStore("secret");
  EXPECT_EQ(tool({"--root", dir_, "--key", "secret", "s", "check"}).status, 0);
  EXPECT_EQ(tool({"--root", dir_, "--key", "secret", "s", "get", "string", "name"}).out, "quillo\n");
  const ToolRun plain = tool({"--root", dir_, "s", "check"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.err.find("(encrypted? give --key)"), std::string::npos) << plain.err;
  const ToolRun wrong = tool({"--root", dir_, "--key", "wrong", "s", "keys"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("(wrong key?)"), std::string::npos) << wrong.err;

  // A flipped IV leaves the CRC intact but the content unreadable.
  auto meta = bytesOf(dataPath("s") + ".crc");
  meta[offsetof(cask::CaskMetaInfo, vector)] ^= 1;
  writeBytes(dataPath("s") + ".crc", meta);
  EXPECT_EQ(tool({"--root", dir_, "--key", "secret", "s", "check"}).status, 1);
}

TEST_F(CaskToolTest, BadInputIsAnErrorWithItsReason) {
  makeStore();
  writeBytes(dir_ + "/file", {1, 2, 3});
  std::vector<uint8_t> garbage(Cask::pageSize());
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 131 + 7);
  writeBytes(dir_ + "/garbage", garbage);
  writeBytes(dir_ + "/garbage.crc", garbage);
  const std::string root = dir_;
  const std::string file = dir_ + "/file";
  const std::string missing = dir_ + "/missing";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"--root", file, "s", "keys"}, 2, "cask-tool: --root: not a folder: " + file + "\n"},
      {{"--root", file, "s", "set", "int32", "k", "1"}, 2, "cask-tool: --root: not a folder: " + file + "\n"},
      {{"--root", missing, "s", "check"}, 2, "cask-tool: --root: " + missing + ": No such file or directory\n"},
      {{"--root", root, "--log", "9", "s", "keys"}, 2, "cask-tool: --log: expected a level 0..4: 9\n"},
      {{"--root", root, "--log", "-1", "s", "keys"}, 2, "cask-tool: --log: expected a level 0..4: -1\n"},
      {{"--root", root, "--log", "2x", "s", "keys"}, 2, "cask-tool: --log: expected a level 0..4: 2x\n"},
      {{"--root", root, "garbage", "meta"}, 1, "cask-tool: " + root + "/garbage.crc: does not hold a meta record\n"},
      {{"--root", root, "garbage", "check"}, 1, "cask-tool: " + root + "/garbage: size does not fit the file\n"},
      {{"--root", root, "nothing", "meta"}, 1,
       "cask-tool: " + root + "/nothing.crc: No such file or directory\n"},
      {{"--root", root, "nothing", "check"}, 1, "cask-tool: " + root + "/nothing: no such store\n"},
      {{"--root", root, "s", "get", "int64", "absent"}, 1, "cask-tool: no int64 value for absent\n"},
      {{"--root", root, "s", "get", "colour", "n"}, 2, "cask-tool: unknown type: colour\n"},
      {{"--root", root, "s", "set", "int32", "k", "12x"}, 2, "cask-tool: bad number: 12x\n"},
      {{"--root", root, "s", "set", "hex", "k", "abc"}, 2, "cask-tool: bad hex: abc\n"},
  };
  for (const Case& c : cases) {
    const ToolRun run = tool(c.args);
    std::string line;
    for (const std::string& arg : c.args) line += arg + " ";
    EXPECT_EQ(run.status, c.status) << line;
    EXPECT_EQ(run.err, c.err) << line;
  }
  EXPECT_FALSE(cask::isFileExist(missing));
  EXPECT_FALSE(cask::isFileExist(dir_ + "/nothing"));
  // A refusal of the command line names what it refused, then the usage.
  const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
      {{"--root", root, "s"}, "missing COMMAND"},
      {{"--root", root, "--colour", "s", "keys"}, "unknown option: --colour"},
      {{"--root", root, "s", "get", "int32"}, "get: expected TYPE KEY"},
      {{"--root", root, "s", "set", "int32", "k"}, "set: expected TYPE KEY VALUE"},
      {{"--root", root, "s", "remove"}, "remove: expected KEY"},
      {{"--root", root, "--key", "k"}, "missing ID and COMMAND"},
      {{"--root", root, "s", "frobnicate"}, "unknown command: frobnicate"},
  };
  for (const auto& [args, why] : refusals) {
    const ToolRun usage = tool(args);
    EXPECT_EQ(usage.status, 2) << why;
    EXPECT_EQ(usage.err.rfind("cask-tool: " + why + "\nusage: cask-tool", 0), 0u) << usage.err;
  }
}

// A folder closed to the user is not a missing store.
TEST_F(CaskToolTest, ARootClosedToTheUserIsPermissionDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may look into every folder";
  const std::string locked = dir_ + "/locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0), 0);
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"keys"}, {"set", "int32", "k", "1"}}) {
    std::vector<std::string> args{"--root", locked, "s"};
    args.insert(args.end(), command.begin(), command.end());
    const ToolRun run = tool(args);
    EXPECT_EQ(run.status, 2) << command[0];
    EXPECT_EQ(run.err, "cask-tool: --root: " + locked + ": Permission denied\n") << command[0];
  }
  ::chmod(locked.c_str(), 0700);
}

}  // namespace
