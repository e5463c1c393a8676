// install.sh on crafted archives: whatever an entry claims in the listing,
// only regular files and folders are ever installed, and nothing outside the
// system root is touched. A package it refuses, and a run that is stopped or
// fails on the way, leave the installed copy (or its absence) as it was.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

#include <zlib.h>

#include <gtest/gtest.h>

#include "platform/process.h"

namespace {
namespace fs = std::filesystem;

constexpr uint8_t kHostUnix = 3;
constexpr uint8_t kHostVms = 2;  // Lists as "RWED,..." yet unpacks a link all the same.

struct ZipEntry {
  std::string name;
  mode_t mode;  // File type and permissions, as a Unix host records them.
  std::string data;
  uint8_t host = kHostUnix;
  // The size the central directory declares (a zip64 field), when not the data's.
  std::optional<uint64_t> declaredSize = std::nullopt;
};

void put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xff);
  out += static_cast<char>(v >> 8);
}
void put32(std::string& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v & 0xffff));
  put16(out, static_cast<uint16_t>(v >> 16));
}

// A stored (uncompressed) zip archive of `entries`, written byte by byte so
// that every field a hostile packer controls can be set.
std::string zipArchive(const std::vector<ZipEntry>& entries) {
  std::string local;
  std::string central;
  for (const auto& e : entries) {
    const auto crc = static_cast<uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    const auto offset = static_cast<uint32_t>(local.size());
    const auto size = static_cast<uint32_t>(e.data.size());
    const auto nameSize = static_cast<uint16_t>(e.name.size());
    std::string extra;
    if (e.declaredSize) {
      put16(extra, 1);  // zip64: the uncompressed size
      put16(extra, 8);
      put32(extra, static_cast<uint32_t>(*e.declaredSize));
      put32(extra, static_cast<uint32_t>(*e.declaredSize >> 32));
    }
    put32(local, 0x04034b50);
    put16(local, 20);
    put16(local, 0);      // flags
    put16(local, 0);      // stored
    put16(local, 0);      // time
    put16(local, 0x21);   // 1980-01-01
    put32(local, crc);
    put32(local, size);
    put32(local, size);
    put16(local, nameSize);
    put16(local, 0);
    local += e.name + e.data;

    put32(central, 0x02014b50);
    put16(central, static_cast<uint16_t>(e.host << 8 | 45));
    put16(central, 45);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0x21);
    put32(central, crc);
    put32(central, size);
    put32(central, e.declaredSize ? 0xffffffff : size);
    put16(central, nameSize);
    put16(central, static_cast<uint16_t>(extra.size()));
    put16(central, 0);    // comment
    put16(central, 0);    // disk
    put16(central, 0);    // internal attributes
    put32(central, static_cast<uint32_t>(e.mode) << 16);
    put32(central, offset);
    central += e.name + extra;
  }
  std::string end;
  put32(end, 0x06054b50);
  put16(end, 0);
  put16(end, 0);
  put16(end, static_cast<uint16_t>(entries.size()));
  put16(end, static_cast<uint16_t>(entries.size()));
  put32(end, static_cast<uint32_t>(central.size()));
  put32(end, static_cast<uint32_t>(local.size()));
  put16(end, 0);
  return local + central + end;
}

ZipEntry file(const std::string& name, const std::string& data = "{}", mode_t mode = 0644) {
  return {name, S_IFREG | mode, data};
}
ZipEntry folder(const std::string& name, mode_t mode = 0755) { return {name, S_IFDIR | mode, ""}; }
ZipEntry link(const std::string& name, const std::string& target, uint8_t host) {
  return {name, S_IFLNK | 0777, target, host};
}

// Everything under `top`, one line per entry: type, mode, owner, and the
// content or link target.
std::map<std::string, std::string> snapshot(const fs::path& top) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(top, fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec)) {
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    std::string line = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" +
                       std::to_string(st.st_gid) + " ";
    if (S_ISREG(st.st_mode)) {
      std::ifstream in(it->path(), std::ios::binary);
      line += std::string((std::istreambuf_iterator<char>(in)), {});
    } else if (S_ISLNK(st.st_mode)) {
      line += fs::read_symlink(it->path()).string();
    }
    out[fs::relative(it->path(), top).string()] = line;
  }
  return out;
}

// Waits up to 30 s for `condition`.
template <typename F>
bool eventually(F condition) {
  using namespace std::chrono_literals;
  for (auto deadline = std::chrono::steady_clock::now() + 30s;
       std::chrono::steady_clock::now() < deadline;) {
    if (condition()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return condition();
}

// How a run meets a failure on its way: stand-ins for unzip and mv ahead in
// PATH, which pass everything else to the real ones.
enum class Fault { kNone, kStopDuringUnpack, kStopDuringFinalMove, kFinalMoveFails };

class InstallScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("install-script-" + std::to_string(::getpid()) + "-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(root() / "Library/Input Methods");
    // A folder of the user's, which a linked Quillo.app would lead to.
    fs::create_directories(outside() / "Contents");
    std::ofstream(outside() / "Contents/Info.json") << "{}";
    fs::permissions(outside() / "Contents/Info.json", fs::perms(0666));
    fs::create_directories(dir_ / "bin");
    writeTool("unzip",
              "case $1 in -Z) exec /usr/bin/unzip \"$@\" ;; esac\n"
              "/usr/bin/unzip \"$@\" || exit\n"
              "[ \"$FAULT\" = unpack ] || exit 0\n"
              ": > \"$READY\"\nexec sleep 300\n");
    writeTool("mv",
              "for arg; do source=$destination; destination=$arg; done\n"
              "if [ \"$destination\" = \"$TARGET\" ] && [ \"${source##*/}\" = Quillo.app ]; then\n"
              "  case $FAULT in\n"
              "    move) : > \"$READY\"; exec sleep 300 ;;\n"
              "    fail) exit 1 ;;\n"
              "  esac\n"
              "fi\nexec /bin/mv \"$@\"\n");
  }
  void TearDown() override {
    // A stop may leave folders closed to their owner.
    quillo::Spawned p;
    if (!quillo::spawnProcess({"chmod", "-R", "u+rwx", dir_.string()}, {}, p)) {
      (void)quillo::waitForExit(p.pid);
    }
    fs::remove_all(dir_);
  }

  void writeTool(const std::string& name, const std::string& body) {
    std::ofstream(dir_ / "bin" / name) << "#!/bin/sh\n" << body;
    fs::permissions(dir_ / "bin" / name, fs::perms(0755));
  }
  fs::path root() const { return dir_ / "root"; }
  fs::path outside() const { return dir_ / "outside"; }
  fs::path targetDir() const { return root() / "Library/Input Methods"; }
  fs::path installed() const { return targetDir() / "Quillo.app"; }
  fs::path ready() const { return dir_ / "ready"; }
  // An installed copy as an earlier install leaves it.
  void installEarlierCopy() {
    fs::create_directories(installed() / "Contents/MacOS");
    std::ofstream(installed() / "Contents/Info.json") << "earlier";
    std::ofstream(installed() / "Contents/MacOS/Quillo") << "earlier program";
    fs::permissions(installed() / "Contents/MacOS/Quillo", fs::perms(0755));
  }
  fs::path writePackage(const std::vector<ZipEntry>& entries) {
    const auto package = dir_ / "package.zip";
    std::ofstream(package, std::ios::binary) << zipArchive(entries);
    return package;
  }

  // Runs install.sh on an archive of `entries`, in a session of its own
  // (a stop reaches its whole group, as the helper sends it); its exit status.
  int install(const std::vector<ZipEntry>& entries, Fault fault = Fault::kNone) {
    const auto package = writePackage(entries);
    fs::remove(ready());
    const char* faultName = fault == Fault::kStopDuringUnpack      ? "unpack"
                            : fault == Fault::kStopDuringFinalMove ? "move"
                            : fault == Fault::kFinalMoveFails      ? "fail"
                                                                   : "";
    quillo::Spawned p;
    EXPECT_FALSE(quillo::spawnProcess(
        {"/usr/bin/setsid", "/bin/sh", script(), package.string()},
        {.environment = {{"QUILLO_SYSTEM_ROOT", root().string()},
                         {"PATH", (dir_ / "bin").string() + ":/usr/sbin:/usr/bin:/sbin:/bin"},
                         {"FAULT", faultName},
                         {"READY", ready().string()},
                         {"TARGET", installed().string()}},
         .captureError = true},
        p));
    if (fault == Fault::kStopDuringUnpack || fault == Fault::kStopDuringFinalMove) {
      EXPECT_TRUE(eventually([&] { return fs::exists(ready()); }));
      // -1 would signal init: only a started script's group.
      if (p.pid > 0) {
        EXPECT_EQ(::kill(-p.pid, SIGTERM), 0);
      }
    }
    error_ = quillo::readAll(p.errorFd);
    ::close(p.errorFd);
    return quillo::waitForExit(p.pid).value_or(-1);
  }
  static std::string script() {
    return (fs::path(QUILLO_BUNDLE_DIR) / "Contents/Resources/install.sh").string();
  }
  // The mode of an installed entry, without its type.
  mode_t modeOf(const std::string& inside) const {
    struct stat st {};
    EXPECT_EQ(::lstat((installed() / inside).c_str(), &st), 0) << inside;
    return st.st_mode & 07777;
  }

  fs::path dir_;
  std::string error_;
};

TEST_F(InstallScriptTest, ArchivesThatUnpackLinksAreRefusedAndTouchNothingOutside) {
  const std::string target = outside().string();
  const std::vector<std::pair<std::string, std::vector<ZipEntry>>> cases = {
      {"nested link, another host's entry",
       {file("Quillo.app/Contents/Info.json"), link("Quillo.app/Contents/MacOS", target, kHostVms)}},
      {"Quillo.app itself a link, another host's entry", {link("Quillo.app", target, kHostVms)}},
      {"nested link", {file("Quillo.app/Contents/Info.json"), link("Quillo.app/x", "/", kHostUnix)}},
      {"Quillo.app itself a link", {link("Quillo.app", target, kHostUnix)}},
  };
  for (const auto& [what, entries] : cases) {
    SCOPED_TRACE(what);
    EXPECT_NE(install(entries), 0);
    EXPECT_NE(error_.find("neither files nor folders"), std::string::npos) << error_;
    EXPECT_FALSE(fs::exists(fs::symlink_status(installed())));
    EXPECT_EQ(fs::status(outside() / "Contents/Info.json").permissions(), fs::perms(0666))
        << "the modes of a tree outside the root are left alone";
    EXPECT_EQ(std::distance(fs::directory_iterator(targetDir()), {}), 0)
        << "no staging folder is left behind";
  }
}

TEST_F(InstallScriptTest, InstalledTreeHoldsOnlyFilesAndFolders) {
  // An entry that claims to be a pipe: if it is unpacked at all, it is a plain file.
  ASSERT_EQ(install({file("Quillo.app/Contents/Info.json"),
                     {"Quillo.app/Contents/fifo", S_IFIFO | 0644, ""}}),
            0)
      << error_;
  for (const auto& entry : fs::recursive_directory_iterator(installed())) {
    const auto type = fs::symlink_status(entry.path()).type();
    EXPECT_TRUE(type == fs::file_type::regular || type == fs::file_type::directory) << entry.path();
  }
}

// Whatever route refuses a package, the root holds afterwards exactly what
// it held before: the earlier copy byte for byte, or still nothing.
TEST_F(InstallScriptTest, RefusedPackageLeavesTheTargetAsItWas) {
  const auto loose = [](const std::string& top) {
    return std::vector<ZipEntry>{folder(top + "/", 0777), folder(top + "/Contents/", 0777),
                                 file(top + "/Contents/MacOS/Quillo", "#!/bin/sh\n", 0777)};
  };
  auto ownPrevious = loose("previous");
  auto ownPreviousAndNoManifest = loose("previous");
  ownPreviousAndNoManifest.push_back(folder("Quillo.app/"));
  // Entries each of which would fit, and all together would not.
  struct statvfs space {};
  ASSERT_EQ(::statvfs(targetDir().c_str(), &space), 0);
  const uint64_t half = uint64_t{space.f_bavail} * space.f_frsize / 2;
  const auto declaring = [](std::vector<uint64_t> sizes) {
    std::vector<ZipEntry> entries{file("Quillo.app/Contents/Info.json")};
    for (const uint64_t size : sizes) {
      entries.push_back(
          {"Quillo.app/" + std::to_string(entries.size()), S_IFREG | 0644, "x", kHostUnix, size});
    }
    return entries;
  };
  struct Case {
    std::string what;
    std::vector<ZipEntry> entries;
    std::string why;
  };
  const std::vector<Case> packages = {
      {"a previous/ of its own and no Quillo.app", ownPrevious, "no Quillo.app"},
      {"a previous/ of its own and no manifest", ownPreviousAndNoManifest, "no manifest"},
      {"a Quillo.app that is a file", {file("Quillo.app")}, "no Quillo.app"},
      {"a manifest that is a folder", {folder("Quillo.app/Contents/Info.json/")}, "no manifest"},
      {"a link",
       {file("Quillo.app/Contents/Info.json"), link("Quillo.app/x", "/", kHostUnix)},
       "neither files nor folders"},
      {"a file and a folder both named Quillo.app",
       {file("Quillo.app", "twenty-three bytes long"), file("Quillo.app/Contents/Info.json")},
       "cannot unpack"},
      {"more than the free space declared", declaring({uint64_t{1} << 60}), "free space"},
      {"more than the free space declared by three entries", declaring({half, half, half}),
       "free space"},
      {"declared sizes whose total wraps past 2^64",
       declaring({uint64_t{1} << 63, uint64_t{1} << 63}), "free space"},
  };
  for (const bool earlier : {false, true}) {
    if (earlier) installEarlierCopy();
    const auto before = snapshot(root());
    for (const auto& [what, entries, why] : packages) {
      SCOPED_TRACE(what + (earlier ? ", over an earlier copy" : ", nothing installed"));
      EXPECT_NE(install(entries), 0);
      EXPECT_NE(error_.find(why), std::string::npos) << error_;
      EXPECT_EQ(snapshot(root()), before) << error_;
    }
    const auto garbage = dir_ / "garbage.zip";
    std::ofstream(garbage) << "not a zip";
    quillo::Spawned p;
    ASSERT_FALSE(quillo::spawnProcess({"/bin/sh", script(), garbage.string()},
                                      {.environment = {{"QUILLO_SYSTEM_ROOT", root().string()}}},
                                      p));
    EXPECT_NE(quillo::waitForExit(p.pid), 0);
    EXPECT_EQ(snapshot(root()), before);
  }
}

// One package, a regular file, named by a path that never passes for an
// option.
TEST_F(InstallScriptTest, TakesOnePackageWhoseNameIsNoOption) {
  const std::string package = writePackage({file("Quillo.app/Contents/Info.json")}).string();
  const auto run = [&](const std::vector<std::string>& args) {
    // Reading a pipe without a writer would wait for ever.
    std::vector<std::string> argv = {"timeout", "20", "/bin/sh", script()};
    argv.insert(argv.end(), args.begin(), args.end());
    quillo::Spawned p;
    EXPECT_FALSE(quillo::spawnProcess(argv,
                                      {.workingDirectory = dir_.string(),
                                       .environment = {{"QUILLO_SYSTEM_ROOT", root().string()}}},
                                      p));
    return quillo::waitForExit(p.pid).value_or(-1);
  };
  const std::string fifo = (dir_ / "fifo.zip").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {package, package}, {fifo}}) {
    EXPECT_EQ(run(args), 1) << args.size() << " arguments";
    EXPECT_FALSE(fs::exists(installed())) << args.size() << " arguments";
  }
  // Into a root without its folders, over a dangling link, then over that copy.
  fs::remove_all(root() / "Library");
  fs::create_directories(root());
  fs::rename(package, dir_ / "-q.zip");
  EXPECT_EQ(run({"-q.zip"}), 0);
  EXPECT_EQ(fs::status(targetDir()).permissions(), fs::perms(0755));
  fs::remove_all(installed());
  fs::create_symlink(dir_ / "nowhere", installed());
  EXPECT_EQ(run({"-q.zip"}), 0);
  EXPECT_FALSE(fs::is_symlink(installed()));
  EXPECT_EQ(run({"-q.zip"}), 0);
  EXPECT_TRUE(fs::exists(installed() / "Contents/Info.json"));
  EXPECT_EQ(std::distance(fs::directory_iterator(targetDir()), {}), 1)
      << "only Quillo.app: no staging folder, no copy set aside";
}

// A stop (SIGTERM to the script's group, as the helper sends it) or a failed
// final move puts back what was there, and no staging folder stays.
TEST_F(InstallScriptTest, StoppedOrFailedRunLeavesTheTargetAsItWas) {
  const std::vector<ZipEntry> good = {
      file("Quillo.app/Contents/Info.json", "new"),
      file("Quillo.app/Contents/MacOS/Quillo", "new program", 0755)};
  for (const bool earlier : {false, true}) {
    if (earlier) installEarlierCopy();
    const auto before = snapshot(root());
    for (const Fault fault :
         {Fault::kStopDuringUnpack, Fault::kStopDuringFinalMove, Fault::kFinalMoveFails}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(fault)) +
                   (earlier ? ", over an earlier copy" : ""));
      EXPECT_EQ(install(good, fault), 1) << error_;
      EXPECT_EQ(snapshot(root()), before) << error_;
    }
  }
}

TEST_F(InstallScriptTest, ArchiveModesAreNormalised) {
  struct Case {
    std::string name;
    mode_t archived;
    mode_t installed;
  };
  const std::vector<Case> cases = {
      {"Quillo.app", S_IFDIR | 0, 0755},
      {"Quillo.app/Contents", S_IFDIR | 0777, 0755},
      {"Quillo.app/Contents/Info.json", S_IFREG | 0, 0644},
      {"Quillo.app/Contents/closed", S_IFDIR | 0, 0755},
      {"Quillo.app/Contents/closed/inside", S_IFREG | 0200, 0644},
      {"Quillo.app/Contents/shared", S_IFREG | 0666, 0644},
      {"Quillo.app/Contents/program", S_IFREG | 0777, 0755},
      {"Quillo.app/Contents/owner-only", S_IFREG | 0100, 0755},
      {"Quillo.app/Contents/set-id", S_IFREG | 06755, 0755},
      {"Quillo.app/Contents/sticky", S_IFDIR | 01777, 0755},
  };
  std::vector<ZipEntry> entries;
  for (const auto& c : cases) {
    entries.push_back(
        {c.name + (S_ISDIR(c.archived) ? "/" : ""), c.archived, S_ISDIR(c.archived) ? "" : "x"});
  }
  ASSERT_EQ(install(entries), 0) << error_;
  for (const auto& c : cases) {
    EXPECT_EQ(modeOf(fs::relative(c.name, "Quillo.app").string()), c.installed) << c.name;
  }
}

// unzip never asks: of two entries of one name the first stays, and what
// the caller typed is never read.
TEST_F(InstallScriptTest, DuplicateEntriesNeverReadTheCallersInput) {
  const auto package = writePackage({file("Quillo.app/Contents/Info.json", "first"),
                                     file("Quillo.app/Contents/Info.json", "second")});
  const auto answers = dir_ / "answers";
  std::ofstream(answers) << "A\nA\nA\n";
  quillo::Spawned p;
  ASSERT_FALSE(
      quillo::spawnProcess({"/bin/sh", "-c", "{ /bin/sh \"$0\" \"$1\"; cat > \"$2\"; } < \"$3\"",
                            script(), package.string(), (dir_ / "left").string(), answers.string()},
                           {.environment = {{"QUILLO_SYSTEM_ROOT", root().string()}}}, p));
  EXPECT_EQ(quillo::waitForExit(p.pid), 0);
  std::ifstream manifest(installed() / "Contents/Info.json");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(manifest)), {}), "first");
  std::ifstream left(dir_ / "left");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(left)), {}), "A\nA\nA\n");
}

// An encrypted entry would have unzip ask for a password on the caller's
// terminal, and root's install wait for an answer: it is refused instead.
TEST_F(InstallScriptTest, EncryptedEntriesNeverAskForAPassword) {
  fs::create_directories(dir_ / "work/Quillo.app/Contents");
  std::ofstream(dir_ / "work/Quillo.app/Contents/Info.json") << "{}";
  quillo::Spawned zip;
  ASSERT_FALSE(quillo::spawnProcess(
      {"zip", "-q", "-r", "-P", "secret", (dir_ / "encrypted.zip").string(), "Quillo.app"},
      {.workingDirectory = (dir_ / "work").string()}, zip));
  ASSERT_EQ(quillo::waitForExit(zip.pid), 0);
  // On a terminal of its own (script(1)), whose output we read as it comes.
  quillo::Spawned p;
  ASSERT_FALSE(
      quillo::spawnProcess({"script", "-qec", "/bin/sh \"$INSTALL\" \"$PACKAGE\"", "/dev/null"},
                           {.environment = {{"QUILLO_SYSTEM_ROOT", root().string()},
                                            {"SHELL", "/bin/sh"},
                                            {"INSTALL", script()},
                                            {"PACKAGE", (dir_ / "encrypted.zip").string()}},
                            .captureOutput = true},
                           p));
  // unzip asks "[archive] entry password: ". Its refusal of an entry whose
  // header check passed by chance (1 in 256) says "incorrect password".
  constexpr const char* kPrompt = "password: ";
  std::string shown;
  char buffer[256];
  for (ssize_t n; (n = ::read(p.outputFd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    shown.append(buffer, static_cast<size_t>(n));
    if (shown.find(kPrompt) != std::string::npos)
      ::kill(p.pid, SIGKILL);  // It would wait for ever.
  }
  ::close(p.outputFd);
  (void)quillo::waitForExit(p.pid);
  EXPECT_EQ(shown.find(kPrompt), std::string::npos) << shown;
  EXPECT_NE(shown.find("cannot unpack"), std::string::npos) << shown;
  EXPECT_FALSE(fs::exists(installed()));
}

// Staging folders of runs whose process is gone go; one holding the copy
// its run had moved aside puts it back first, unless that is a link or a
// copy is in place already. A running one's, a link, and anything not of
// that name, stay.
TEST_F(InstallScriptTest, StagingFoldersOfEndedRunsAreSwept) {
  quillo::Spawned ended;
  ASSERT_FALSE(quillo::spawnProcess({"/bin/true"}, {}, ended));
  ASSERT_EQ(quillo::waitForExit(ended.pid), 0);
  const std::string gone = std::to_string(ended.pid);
  const auto stale = targetDir() / (".quillo-install." + gone + ".Ab12Cd");
  const auto running = targetDir() / (".quillo-install." + std::to_string(::getpid()) + ".Ab12Cd");
  // Swept before and after `stale` (names in that order): a linked copy
  // never takes the place, and a copy in place is never replaced.
  const auto linkedPrevious = targetDir() / (".quillo-install." + gone + ".Aa00Aa");
  const auto lateStale = targetDir() / (".quillo-install." + gone + ".Zz99Yy");
  std::vector<fs::path> others = {targetDir() / ".quillo-install.notes",
                                  targetDir() / (".quillo-install." + gone + ".Ab12Cd7"),
                                  targetDir() / (".quillo-install.0" + gone + ".Ab12Cd"),
                                  targetDir() / (".quillo-install." + gone + ".Ab-2Cd")};
  installEarlierCopy();
  fs::create_directories(stale);
  fs::rename(installed(), stale / "previous");
  fs::create_directories(linkedPrevious);
  fs::create_symlink(outside(), linkedPrevious / "previous");
  fs::create_directories(lateStale / "previous/Contents");
  std::ofstream(lateStale / "previous/Contents/Info.json") << "late";
  // A link of that name, to a folder of the user's with a copy of its own.
  const auto linked = targetDir() / (".quillo-install." + gone + ".Lk56Mn");
  fs::create_directories(outside() / "previous/Contents");
  fs::create_directory_symlink(outside(), linked);
  for (const auto& folder : others) fs::create_directories(folder / "unpack");
  if (::geteuid() == 0) {  // Only root can make a folder someone else's.
    others.push_back(targetDir() / (".quillo-install." + gone + ".Xy34Zw"));
    fs::create_directories(others.back());
    ASSERT_EQ(::chown(others.back().c_str(), 4242, 4242), 0);
  }
  fs::create_directories(running / "unpack");
  EXPECT_NE(install({file("Other.app/x")}), 0) << "a refused package";
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_FALSE(fs::exists(fs::symlink_status(linkedPrevious)));
  EXPECT_FALSE(fs::exists(lateStale));
  EXPECT_FALSE(fs::is_symlink(installed()));
  std::ifstream program(installed() / "Contents/MacOS/Quillo");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(program)), {}), "earlier program");
  EXPECT_TRUE(fs::exists(running));
  EXPECT_TRUE(fs::is_symlink(linked));
  EXPECT_TRUE(fs::exists(outside() / "previous/Contents"));
  EXPECT_EQ(fs::status(outside() / "Contents/Info.json").permissions(), fs::perms(0666));
  for (const auto& folder : others) EXPECT_TRUE(fs::exists(folder)) << folder;
}

}  // namespace
