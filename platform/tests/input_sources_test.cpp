#include "platform/input_sources.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dispatch.h"
#include "platform/folders.h"
#include "platform/notification_center.h"
#include "platform/process.h"
#include "platform/system_info.h"

namespace {
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace tis = quillo::tis;
using ::testing::HasSubstr;
using tis::InputSource;
using tis::Property;

constexpr const char* kManifest = R"({
  "CFBundleIdentifier": "org.example.im",
  "TISInputSource": {"id": "org.example.im", "modes": [
    {"id": "org.example.im.a", "inputModeId": "org.example.mode"},
    {"id": "org.example.im.b", "inputModeId": "org.example.mode", "selectCapable": false}]}})";

class InputSourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');  // Parameterised tests: "Name/0".
    root_ = fs::path(::testing::TempDir()) / ("tis-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(root_);
    fs::create_directories(root_);
    quillo::folders::setSystemRoot(root_.string());
    quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{14, 0, 0});
    changes_ = quillo::DistributedNotificationCenter::defaultCenter().addObserver(
        std::string(tis::kEnabledKeyboardInputSourcesChanged), [this](const auto&) { ++changed_; });
  }
  void TearDown() override {
    tis::setLockTimeoutForTesting(std::nullopt);
    tis::setRegistryReadHookForTesting({});
    changes_.reset();
    quillo::mainPlainLoop().clear();
    quillo::folders::setSystemRoot("");
    quillo::sysinfo::setOperatingSystemVersion(std::nullopt);
    fs::remove_all(root_);
  }
  std::string bundle(const std::string& manifest) {
    const auto path = root_ / "Library/Input Methods/Example.app";
    fs::create_directories(path / "Contents");
    std::ofstream(path / "Contents/Info.json") << manifest;
    return path.string();
  }
  static std::vector<std::string> ids(const std::vector<InputSource>& list) {
    std::vector<std::string> out;
    for (const auto& s : list) out.push_back(s.id());
    return out;
  }
  static bool enabled(const std::string& id) {
    return tis::boolProperty(InputSource(id), Property::InputSourceIsEnabled) == true;
  }
  std::string registryText() {
    std::ifstream in(tis::registryPath());
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Every change notification so far has been delivered (a marker posted
  // after them has arrived).
  void settle() {
    bool marker = false;
    auto obs = quillo::DistributedNotificationCenter::defaultCenter().addObserver(
        "InputSourcesTest.marker", [&](const auto&) { marker = true; });
    quillo::DistributedNotificationCenter::defaultCenter().post({"InputSourcesTest.marker"});
    ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return marker; }, 10s));
  }
  fs::path preferences() const { return fs::path(tis::registryPath()).parent_path(); }
  // Runs `argv` to its end; its exit status, its stderr in `err`.
  static int runCommand(const std::vector<std::string>& argv, std::string& err) {
    quillo::Spawned child;
    EXPECT_FALSE(quillo::spawnProcess(argv, {.captureOutput = true, .captureError = true}, child));
    std::string out;
    quillo::readBoth(child.outputFd, out, child.errorFd, err);
    ::close(child.outputFd);
    ::close(child.errorFd);
    return quillo::waitForExit(child.pid).value_or(-1);
  }
  // `argv` as the unprivileged user kOtherUid runs it.
  static std::vector<std::string> asOther(const std::vector<std::string>& argv) {
    std::vector<std::string> command{"setpriv", "--reuid=" + std::to_string(kOtherUid),
                                     "--regid=" + std::to_string(kOtherUid), "--clear-groups", "--"};
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
  }
  // The settings tool on this test's root.
  std::vector<std::string> tool(std::vector<std::string> args) const {
    args.insert(args.begin(), {QUILLO_INPUT_SOURCES_TOOL, "--root", root_.string()});
    return args;
  }

  // Runs `hook` at the next read of the registry file only.
  static void onNextRead(std::function<void()> hook) {
    tis::setRegistryReadHookForTesting(
        [hook = std::move(hook), done = std::make_shared<bool>(false)] {
          if (!std::exchange(*done, true)) hook();
        });
  }

  static constexpr uid_t kOtherUid = 65534;
  fs::path root_;
  int changed_ = 0;
  std::unique_ptr<quillo::NotificationObservation> changes_;
};

TEST_F(InputSourcesTest, NewRegistryHasTheSystemLayoutCurrent) {
  EXPECT_EQ(ids(tis::createInputSourceList({}, false)), (std::vector<std::string>{"com.apple.keylayout.ABC"}));
  EXPECT_EQ(ids(tis::createInputSourceList({}, true)),
            (std::vector<std::string>{"com.apple.keylayout.ABC", "com.apple.keylayout.US"}));
  EXPECT_EQ(tis::copyCurrentKeyboardInputSource(), InputSource("com.apple.keylayout.ABC"));
}

TEST_F(InputSourcesTest, RegisteringAddsDisabledEntriesWithTheirProperties) {
  ASSERT_EQ(tis::registerInputSource(bundle(kManifest)), tis::noErr);
  const tis::Filter byBundle{{Property::BundleID, std::string("org.example.im")}};
  EXPECT_TRUE(tis::createInputSourceList(byBundle, false).empty());
  EXPECT_EQ(ids(tis::createInputSourceList(byBundle, true)),
            (std::vector<std::string>{"org.example.im", "org.example.im.a", "org.example.im.b"}));
  EXPECT_EQ(ids(tis::createInputSourceList({{Property::InputModeID, std::string("org.example.mode")},
                                            {Property::InputSourceIsSelectCapable, true}},
                                           true)),
            (std::vector<std::string>{"org.example.im.a"}));
  const InputSource im("org.example.im");
  EXPECT_EQ(tis::stringProperty(im, Property::InputModeID), std::nullopt);
  EXPECT_EQ(tis::boolProperty(im, Property::InputSourceIsSelectCapable), false) << "it has modes";
  EXPECT_EQ(tis::stringProperty(InputSource("org.example.im.a"), Property::InputModeID), "org.example.mode");
  EXPECT_EQ(tis::getInputSourceProperty(InputSource("gone"), Property::BundleID), std::nullopt);
}

TEST_F(InputSourcesTest, BadManifestsChangeNothing) {
  const auto before = registryText();
  EXPECT_EQ(tis::registerInputSource((root_ / "missing.app").string()), tis::paramErr);
  for (const char* manifest :
       {"not json", R"({"CFBundleIdentifier": "x"})",
        R"({"CFBundleIdentifier": "x", "TISInputSource": {"id": ""}})",
        R"({"CFBundleIdentifier": "x", "TISInputSource": {"id": "x", "modes": [{"id": "x"}]}})",
        R"({"CFBundleIdentifier": "x", "TISInputSource": {"id": "com.apple.keylayout.ABC"}})"}) {
    EXPECT_EQ(tis::registerInputSource(bundle(manifest)), tis::paramErr) << manifest;
  }
  EXPECT_EQ(registryText(), before);
  EXPECT_EQ(tis::createInputSourceList({}, true).size(), 2u);
}

TEST_F(InputSourcesTest, MalformedRegistryIsReportedAndLeftAlone) {
  // The second is a valid registry past the 1 MiB a registry may take.
  const std::pair<std::string, std::string> rows[] = {
      {R"({"sources": 3})", "is malformed"},
      {R"({"current": "a", "sources": [{"id": "a", "bundleId": "a", "enabled": true, "pending": false,
          "selectCapable": true, "selected": true, "system": false, "inputModeId": 5}]})",
       "is malformed"},
      {R"({"sources": [])" + std::string(1 << 20, ' ') + "]}", "is larger than 1048576 bytes"}};
  fs::create_directories(fs::path(tis::registryPath()).parent_path());
  for (const auto& [text, why] : rows) {
    SCOPED_TRACE(why);
    std::ofstream(tis::registryPath()) << text;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(tis::registerInputSource(bundle(kManifest)), tis::ioErr);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr(why));
    EXPECT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::ioErr);
    EXPECT_TRUE(tis::createInputSourceList({}, true).empty());
    EXPECT_EQ(tis::copyCurrentKeyboardInputSource(), std::nullopt);
    EXPECT_EQ(registryText(), text);
  }
}

TEST_F(InputSourcesTest, ThirdPartySourceWaitsForApprovalThenItsModesNeedNone) {
  ASSERT_EQ(tis::registerInputSource(bundle(kManifest)), tis::noErr);
  const InputSource im("org.example.im"), mode("org.example.im.a");
  EXPECT_EQ(tis::enableInputSource(im), tis::noErr);
  EXPECT_FALSE(enabled(im.id()));
  EXPECT_TRUE(tis::isPendingApproval(im));
  EXPECT_EQ(tis::selectInputSource(mode), tis::paramErr) << "not enabled";
  settle();
  EXPECT_EQ(changed_, 0) << "nothing was enabled yet";

  ASSERT_EQ(tis::approvePendingInputSource(im), tis::noErr);
  EXPECT_TRUE(enabled(im.id()));
  EXPECT_EQ(tis::approvePendingInputSource(im), tis::paramErr) << "no longer pending";
  ASSERT_EQ(tis::enableInputSource(mode), tis::noErr);
  EXPECT_TRUE(enabled(mode.id()));
  ASSERT_EQ(tis::selectInputSource(mode), tis::noErr);
  EXPECT_EQ(tis::copyCurrentKeyboardInputSource(), mode);
  EXPECT_EQ(tis::boolProperty(InputSource("com.apple.keylayout.ABC"), Property::InputSourceIsSelected), false);
  settle();
  EXPECT_EQ(changed_, 2);
}

TEST_F(InputSourcesTest, BeforeVersion12EnablingNeedsNoConsent) {
  const struct {
    quillo::sysinfo::OsVersion version;
    bool needsConsent;
  } rows[] = {{{11, 7, 0}, false}, {{11, 99, 99}, false}, {{12, 0, 0}, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.version.major * 10000 + row.version.minor * 100 + row.version.patch);
    fs::remove_all(root_);
    fs::create_directories(root_);
    quillo::sysinfo::setOperatingSystemVersion(row.version);
    ASSERT_EQ(tis::registerInputSource(bundle(kManifest)), tis::noErr);
    ASSERT_EQ(tis::enableInputSource(InputSource("org.example.im")), tis::noErr);
    EXPECT_EQ(enabled("org.example.im"), !row.needsConsent);
    EXPECT_EQ(tis::isPendingApproval(InputSource("org.example.im")), row.needsConsent);
  }
  EXPECT_EQ(tis::enableInputSource(InputSource("nope")), tis::paramErr);
}

TEST_F(InputSourcesTest, DeselectingOrDisablingTheCurrentSourceFallsBackToTheSystemLayout) {
  quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{11, 0, 0});
  ASSERT_EQ(tis::registerInputSource(bundle(kManifest)), tis::noErr);
  const InputSource mode("org.example.im.a");
  ASSERT_EQ(tis::enableInputSource(mode), tis::noErr);
  ASSERT_EQ(tis::selectInputSource(mode), tis::noErr);
  ASSERT_EQ(tis::deselectInputSource(mode), tis::noErr);
  EXPECT_EQ(tis::copyCurrentKeyboardInputSource(), InputSource("com.apple.keylayout.ABC"));
  ASSERT_EQ(tis::selectInputSource(mode), tis::noErr);
  ASSERT_EQ(tis::disableInputSource(mode), tis::noErr);
  EXPECT_EQ(tis::copyCurrentKeyboardInputSource(), InputSource("com.apple.keylayout.ABC"));
  EXPECT_EQ(tis::boolProperty(mode, Property::InputSourceIsSelected), false);
}

TEST_F(InputSourcesTest, ReRegisteringKeepsStatesAndDropsWhatTheBundleNoLongerDeclares) {
  quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{11, 0, 0});
  const auto path = bundle(kManifest);
  ASSERT_EQ(tis::registerInputSource(path), tis::noErr);
  ASSERT_EQ(tis::enableInputSource(InputSource("org.example.im")), tis::noErr);
  bundle(R"({"CFBundleIdentifier": "org.example.im", "TISInputSource": {"id": "org.example.im"}})");
  ASSERT_EQ(tis::registerInputSource(path), tis::noErr);
  EXPECT_TRUE(enabled("org.example.im"));
  EXPECT_EQ(ids(tis::createInputSourceList({{Property::BundleID, std::string("org.example.im")}}, true)),
            (std::vector<std::string>{"org.example.im"}));
  EXPECT_EQ(tis::boolProperty(InputSource("org.example.im"), Property::InputSourceIsSelectCapable), true)
      << "an input method without modes is selected itself";
}

// Reading is what the installer does at start and what "list" does: it must
// leave a system root as it found it.
TEST_F(InputSourcesTest, ReadingTheRegistryCreatesNothing) {
  EXPECT_EQ(tis::checkRegistry(), tis::noErr);
  EXPECT_EQ(tis::createInputSourceList({}, true).size(), 2u);
  EXPECT_EQ(tis::copyCurrentKeyboardInputSource(), InputSource("com.apple.keylayout.ABC"));
  EXPECT_FALSE(tis::isPendingApproval(InputSource("com.apple.keylayout.US")));
  EXPECT_TRUE(fs::is_empty(root_));
}

// Root rewrites the registry: a link planted where a predictable temporary
// name would be must not make it write through to the link's target.
TEST_F(InputSourcesTest, PlantedTemporaryLinkIsNeverWrittenThrough) {
  const auto folder = fs::path(tis::registryPath()).parent_path();
  fs::create_directories(folder);
  const auto victim = root_ / "victim";
  std::ofstream(victim) << "precious";
  fs::create_symlink(victim, folder / "InputSources.json.tmp");
  ASSERT_EQ(tis::registerInputSource(bundle(kManifest)), tis::noErr);
  ASSERT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
  std::ifstream in(victim);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
  EXPECT_TRUE(enabled("com.apple.keylayout.US"));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"InputSources.json", "InputSources.json.lock",
                                             "InputSources.json.tmp"}))
      << "no temporary file is left behind";
  struct stat st {};
  ASSERT_EQ(::stat(tis::registryPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u) << "everyone may read the registry";
}

// A writer killed between writing its temporary file and the rename leaves
// the file behind; the next change removes it, and nothing else.
TEST_F(InputSourcesTest, KilledWritersLeftoversGoAtTheNextChange) {
  const auto folder = fs::path(tis::registryPath()).parent_path();
  fs::create_directories(folder);
  std::ofstream(folder / "InputSources.json.tmp-Ab12Cd") << "half";
  const std::vector<std::string> usersOwn{
      "InputSources.json.backup", "InputSources.json.tmp-backup1", "InputSources.json.tmp-Ab12C",
      "InputSources.json.tmp-Ab-2Cd"};
  for (const auto& name : usersOwn) std::ofstream(folder / name) << "mine";
  ASSERT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
  EXPECT_FALSE(fs::exists(folder / "InputSources.json.tmp-Ab12Cd"));
  for (const auto& name : usersOwn) EXPECT_TRUE(fs::exists(folder / name)) << name;
}

TEST_F(InputSourcesTest, LockFileIsTheOwnersAloneAndAKeptLockIsAnError) {
  ASSERT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
  const std::string lockPath = tis::registryPath() + ".lock";
  struct stat st {};
  ASSERT_EQ(::stat(lockPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  tis::setLockTimeoutForTesting(0.05);
  for (const int mode : {LOCK_EX, LOCK_SH}) {  // A shared holder keeps writers out too.
    const int holder = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, mode), 0);
    EXPECT_EQ(tis::disableInputSource(InputSource("com.apple.keylayout.US")), tis::fBsyErr) << mode;
    EXPECT_TRUE(enabled("com.apple.keylayout.US")) << "reading goes on while the lock is kept";
    ::close(holder);
  }
  EXPECT_EQ(tis::disableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
}

// A Preferences folder that others may write could hold their lock, link or
// registry: the registry is refused, with the folder and the fix named.
TEST_F(InputSourcesTest, FolderOthersCanWriteIsRefusedWithItsFix) {
  fs::create_directories(preferences());
  for (const auto mode : {fs::perms(01777), fs::perms(0777), fs::perms(0775)}) {
    fs::permissions(preferences(), mode);
    EXPECT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::permErr);
    EXPECT_EQ(tis::checkRegistry(), tis::permErr);
    EXPECT_TRUE(tis::createInputSourceList({}, true).empty());
    const auto why = tis::registryRefusal();
    EXPECT_NE(why.find(preferences().string()), std::string::npos) << why;
    EXPECT_NE(why.find("chmod go-w"), std::string::npos) << why;
  }
  EXPECT_TRUE(fs::is_empty(preferences())) << "nothing was created in it";
  fs::permissions(preferences(), fs::perms(0755));
  EXPECT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
  EXPECT_EQ(tis::registryRefusal(), "");
}

TEST_F(InputSourcesTest, RegistryOrLockOpenToOthersIsRefusedWithItsFix) {
  ASSERT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
  const std::string registry = tis::registryPath();
  const std::string lock = registry + ".lock";
  fs::permissions(registry, fs::perms(0666));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(tis::disableInputSource(InputSource("com.apple.keylayout.US")), tis::permErr);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("chmod go-w '" + registry + "'"));
  EXPECT_NE(tis::registryRefusal().find("chmod go-w '" + registry + "'"), std::string::npos)
      << tis::registryRefusal();
  fs::permissions(registry, fs::perms(0644));

  fs::remove(lock);
  fs::create_symlink(root_ / "elsewhere", lock);
  EXPECT_EQ(tis::disableInputSource(InputSource("com.apple.keylayout.US")), tis::permErr);
  EXPECT_NE(tis::registryRefusal().find("rm '" + lock + "'"), std::string::npos) << tis::registryRefusal();
  EXPECT_FALSE(fs::exists(root_ / "elsewhere"));
  std::string err;
  EXPECT_EQ(runCommand(tool({"select", "com.apple.keylayout.US"}), err), 1);
  EXPECT_NE(err.find("rm '" + lock + "'"), std::string::npos) << err;
  fs::remove(lock);
  EXPECT_EQ(tis::disableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
}

// Another user in a shared folder: holding the lock or planting a link at
// its name no longer stops root's changes for good; they are refused at once.
TEST_F(InputSourcesTest, AnotherUsersLockInASharedFolderIsRefusedAtOnce) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  fs::create_directories(preferences());
  fs::permissions(preferences(), fs::perms(01777));
  const std::string lock = tis::registryPath() + ".lock";
  tis::setLockTimeoutForTesting(0.05);
  // One process that opens, locks and keeps the lock: killing it ends it all.
  quillo::Spawned holder;
  ASSERT_FALSE(quillo::spawnProcess(
      asOther({"/bin/sh", "-c", "exec 9>>\"$0\" && flock 9 && exec sleep 60", lock}), {}, holder));
  const auto held = [&] {
    const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    const bool locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0) ::close(fd);
    return locked;
  };
  for (int i = 0; i < 1000 && !held(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(held());
  EXPECT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::permErr);
  ::kill(holder.pid, SIGKILL);
  (void)quillo::waitForExit(holder.pid);

  fs::remove(lock);
  std::string err;
  ASSERT_EQ(runCommand(asOther({"ln", "-s", "/etc/passwd", lock}), err), 0) << err;
  EXPECT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::permErr);
  EXPECT_NE(tis::registryRefusal().find(preferences().string()), std::string::npos) << tis::registryRefusal();
}

// Root's changes in a user's own folder leave the registry and its lock to
// that user, who goes on changing it; what is not the owner's is refused.
TEST_F(InputSourcesTest, RegistryAndLockStayTheFolderOwnersAfterRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  fs::create_directories(preferences());
  ASSERT_EQ(::chown(preferences().c_str(), kOtherUid, kOtherUid), 0);
  ASSERT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
  for (const auto& path : {tis::registryPath(), tis::registryPath() + ".lock"}) {
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kOtherUid) << path;
  }
  std::string err;
  EXPECT_EQ(runCommand(asOther(tool({"select", "com.apple.keylayout.US"})), err), 0) << err;

  // A lock of root's, as an older version left it: the owner is told to remove it.
  const std::string lock = tis::registryPath() + ".lock";
  ASSERT_EQ(::chown(lock.c_str(), 0, 0), 0);
  EXPECT_EQ(runCommand(asOther(tool({"select", "com.apple.keylayout.ABC"})), err), 1);
  EXPECT_NE(err.find("rm '" + lock + "'"), std::string::npos) << err;
  // A registry of a third user's is nobody's to trust.
  ASSERT_EQ(::chown(lock.c_str(), kOtherUid, kOtherUid), 0);
  ASSERT_EQ(::chown(tis::registryPath().c_str(), kOtherUid + 1, kOtherUid + 1), 0);
  EXPECT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.ABC")), tis::permErr);
  EXPECT_NE(tis::registryRefusal().find("belongs to user " + std::to_string(kOtherUid + 1)), std::string::npos)
      << tis::registryRefusal();
}

// The settings tool says so and fails when it cannot lock or read the registry.
TEST_F(InputSourcesTest, ToolFailsWhenTheRegistryIsLockedOrUnreadable) {
  auto runTool = [&](const std::vector<std::string>& args, std::string& err) {
    return runCommand(tool(args), err);
  };
  ASSERT_EQ(tis::registerInputSource(bundle(kManifest)), tis::noErr);
  ASSERT_EQ(tis::enableInputSource(InputSource("org.example.im")), tis::noErr);
  const int holder = ::open((tis::registryPath() + ".lock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  std::string err;
  EXPECT_EQ(runTool({"approve", "org.example.im"}, err), 1);
  EXPECT_NE(err.find("locked"), std::string::npos) << err;
  EXPECT_EQ(runTool({"list"}, err), 0) << "listing needs no lock: " << err;
  ::close(holder);
  EXPECT_EQ(runTool({"approve", "org.example.im"}, err), 0) << err;

  std::ofstream(tis::registryPath()) << "garbage";
  EXPECT_EQ(runTool({"list"}, err), 1);
  EXPECT_NE(err.find("cannot read"), std::string::npos) << err;
}

// Root changes the owner or mode only of a lock it has just made itself. A
// lock or registry found that is not the owner's plain 0600 (lock) file
// with one link may be another user's file that the folder's owner linked
// or moved there: it is refused and left exactly as it was.
constexpr uid_t kThirdUid = 65533;

struct PlantedCase {
  const char* name;
  bool needsRoot;  // Plants a file of another user's in a folder of kOtherUid's.
  bool readsToo;   // Reading is refused as well (a registry, not a lock).
  std::string (*plant)(const fs::path& folder);  // The name planted in `folder`.
};

void PrintTo(const PlantedCase& c, std::ostream* os) { *os << c.name; }

std::string plantLock(const fs::path& folder, fs::perms mode, uid_t owner) {
  const auto lock = folder / "InputSources.json.lock";
  std::ofstream(lock) << "someone's";
  fs::permissions(lock, mode);
  EXPECT_EQ(::chown(lock.c_str(), owner, static_cast<gid_t>(-1)), 0);
  return lock.filename();
}

const PlantedCase kPlantedCases[] = {
    {"LockOpenToOthers", false, false,
     [](const fs::path& folder) { return plantLock(folder, fs::perms(0644), ::geteuid()); }},
    {"LockWithASecondLink", false, false,
     [](const fs::path& folder) {
       const auto lock = plantLock(folder, fs::perms(0600), ::geteuid());
       fs::create_hard_link(folder / lock, folder / "kept");
       return lock;
     }},
    {"RegistryWithASecondLink", false, true,
     [](const fs::path& folder) {
       EXPECT_EQ(tis::disableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
       fs::create_hard_link(folder / "InputSources.json", folder / "kept");
       return std::string("InputSources.json");
     }},
    {"RegistryAsALink", false, true,
     [](const fs::path& folder) {
       EXPECT_EQ(tis::disableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
       fs::rename(folder / "InputSources.json", folder / "elsewhere");
       fs::create_symlink(folder / "elsewhere", folder / "InputSources.json");
       return std::string("InputSources.json");
     }},
    {"LockOfAnotherUser", true, false,
     [](const fs::path& folder) { return plantLock(folder, fs::perms(0644), kThirdUid); }},
    {"LockOfRoot", true, false,
     [](const fs::path& folder) { return plantLock(folder, fs::perms(0600), 0); }},
};

// What a change could have altered in a file.
std::string fileState(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "missing";
  std::ifstream in(path);
  return std::to_string(st.st_ino) + " " + std::to_string(st.st_uid) + ":" +
         std::to_string(st.st_gid) + " " + std::to_string(st.st_mode) + " " +
         std::to_string(st.st_nlink) + " " + std::string(std::istreambuf_iterator<char>(in), {});
}

class PlantedFileTest : public InputSourcesTest,
                        public ::testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedFileTest, IsRefusedAndLeftAsItWas) {
  if (GetParam().needsRoot && ::geteuid() != 0)
    GTEST_SKIP() << "needs root to plant another user's file";
  fs::create_directories(preferences());
  if (GetParam().needsRoot) {
    ASSERT_EQ(::chown(preferences().c_str(), kOtherUid, kOtherUid), 0);
  }
  const fs::path planted = preferences() / GetParam().plant(preferences());
  const auto before = fileState(planted);
  EXPECT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::permErr);
  EXPECT_EQ(fileState(planted), before) << "never repaired";
  EXPECT_NE(tis::registryRefusal().find(planted.string()), std::string::npos)
      << tis::registryRefusal();
  EXPECT_EQ(tis::checkRegistry(), GetParam().readsToo ? tis::permErr : tis::noErr);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlantedFileTest, ::testing::ValuesIn(kPlantedCases),
                         [](const auto& param) { return std::string(param.param.name); });

// The folder's owner renames a pipe over the registry once a change holds
// the lock: the change is refused at once instead of waiting on the pipe
// forever with the lock held, and readers are refused too.
TEST_F(InputSourcesTest, RegistrySwappedForAPipeIsRefusedNotWaitedOn) {
  ASSERT_EQ(tis::disableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
  const auto pipe = preferences() / "pipe";
  onNextRead([&] {
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    fs::rename(pipe, tis::registryPath());
  });
  EXPECT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::permErr);
  EXPECT_EQ(tis::checkRegistry(), tis::permErr);
  EXPECT_TRUE(tis::createInputSourceList({}, true).empty());
  EXPECT_TRUE(fs::is_fifo(tis::registryPath()));
}

// The Preferences folder replaced by a link once a change holds the lock:
// the change reads and writes the folder it checked and locked, never the
// link's target.
TEST_F(InputSourcesTest, FolderSwappedForALinkIsNeverWrittenThrough) {
  ASSERT_EQ(tis::registerInputSource(bundle(kManifest)), tis::noErr);
  const auto moved = root_ / "moved", elsewhere = root_ / "elsewhere";
  fs::create_directories(elsewhere);
  onNextRead([&] {
    fs::rename(preferences(), moved);
    fs::create_directory_symlink(elsewhere, preferences());
  });
  ASSERT_EQ(tis::enableInputSource(InputSource("com.apple.keylayout.US")), tis::noErr);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  fs::remove(preferences());
  fs::rename(moved, preferences());
  EXPECT_TRUE(enabled("com.apple.keylayout.US")) << "the change went to the folder it locked";
  EXPECT_EQ(tis::createInputSourceList({{Property::BundleID, std::string("org.example.im")}}, true)
                .size(),
            3u)
      << "and started from the registry in it";
}

}  // namespace
