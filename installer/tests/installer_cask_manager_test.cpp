// The installer's store: its place, key, keys, the account number and the
// install-event record, with a second real process sharing the store.
#include "installer/installer_cask_manager.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

extern char** environ;

namespace {

using quillo::InstallerCaskKeys;
using quillo::InstallerCaskManager;
using quillo::InstallerInstallEventInfo;

constexpr char kBaseVariable[] = "QUILLO_CASK_TEST_BASE";

std::string makeBase() {
  static std::atomic<int> counter{0};
  const char* root = std::getenv("QUILLO_TEST_TMP");
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path base = std::filesystem::path(root != nullptr ? root : "/tmp") /
                                     ("installer-cask-" + std::string(info->name()) + "-" +
                                      std::to_string(getpid()) + "-" + std::to_string(counter++)) /
                                     "Quillo";
  std::filesystem::remove_all(base.parent_path());
  std::filesystem::create_directories(base.parent_path());
  return base.string();
}

// Removes the test's folder when the test ends, however it ends.
struct RemovedAtExit {
  std::filesystem::path path;
  ~RemovedAtExit() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// Runs one of the disabled child tests below in a fresh process of this
// binary; returns whether it passed.
bool runChild(const std::string& test, const std::string& base) {
  const std::string filter = "--gtest_filter=InstallerCaskChild.DISABLED_" + test;
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  char* argv[] = {self.data(), const_cast<char*>(filter.c_str()),
                  const_cast<char*>("--gtest_also_run_disabled_tests"), nullptr};
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.push_back(std::string(kBaseVariable) + "=" + base);
  std::vector<char*> envp;
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(InstallerCaskManager, InstallerSequenceIsSharedWithAnotherProcess) {
  const std::string base = makeBase();
  const RemovedAtExit cleanup{std::filesystem::path(base).parent_path()};
  InstallerCaskManager::setupCask(base);
  auto store = InstallerCaskManager::getInstallerCask();
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(store, InstallerCaskManager::getInstallerCask());
  EXPECT_TRUE(std::filesystem::exists(base + "/cask/quillo.installer"));

  store->removeValueForKey(InstallerCaskKeys::stepTwoOpenSettingsKey);
  ASSERT_TRUE(store->setBool(true, InstallerCaskKeys::showGreenPointKey));
  ASSERT_TRUE(store->setInt64(1, InstallerCaskKeys::useThirdSettingKey));
  const std::string event = InstallerInstallEventInfo{"com.apple.keylayout.ABC",
                                                      com::norvane::tanix::pb::QlAppPcInstallSource(34)}
                                .toJSON();
  ASSERT_TRUE(store->setData(std::span(reinterpret_cast<const uint8_t*>(event.data()), event.size()),
                             InstallerCaskKeys::reportInstallEventKey));
  ASSERT_TRUE(store->setString("1", InstallerCaskKeys::stepTwoOpenSettingsKey));
  EXPECT_EQ(store->getString(InstallerCaskKeys::stepTwoOpenSettingsKey), "1");
  EXPECT_EQ(InstallerCaskManager::legalUin(), 0u);

  // The other program reads what we wrote and leaves the account number.
  ASSERT_TRUE(runChild("ReadsTheInstallerWritesAndLeavesTheAccount", base));
  EXPECT_EQ(InstallerCaskManager::legalUin(), 42u);
  store->removeValueForKey(InstallerCaskKeys::userLegalUinKey);
  EXPECT_EQ(InstallerCaskManager::legalUin(), 0u);

  // Encrypted: the record's text is not in the file.
  std::ifstream file(base + "/cask/quillo.installer", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.find("keylayout"), std::string::npos);
}

TEST(InstallerCaskChild, DISABLED_ReadsTheInstallerWritesAndLeavesTheAccount) {
  const char* base = std::getenv(kBaseVariable);
  ASSERT_NE(base, nullptr);
  InstallerCaskManager::setupCask(base);
  auto store = InstallerCaskManager::getInstallerCask();
  ASSERT_NE(store, nullptr);
  EXPECT_TRUE(store->getBool(InstallerCaskKeys::showGreenPointKey));
  EXPECT_EQ(store->getInt64(InstallerCaskKeys::useThirdSettingKey), 1);
  EXPECT_EQ(store->getString(InstallerCaskKeys::stepTwoOpenSettingsKey), "1");
  const auto data = store->getData(InstallerCaskKeys::reportInstallEventKey);
  ASSERT_TRUE(data.has_value());
  const auto event = InstallerInstallEventInfo::fromJSON(std::string(data->begin(), data->end()));
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->source, 34);
  EXPECT_TRUE(store->setString("+42", InstallerCaskKeys::userLegalUinKey));
}

TEST(InstallerCaskManager, UnusableStoreSkipsEverything) {
  // In its own process: the facade is set up once per process.
  ASSERT_TRUE(runChild("WithoutSetUpThereIsNoStore", ""));
}

TEST(InstallerCaskChild, DISABLED_WithoutSetUpThereIsNoStore) {
  InstallerCaskManager::setupCask(std::string());  // no application-support folder
  EXPECT_EQ(InstallerCaskManager::getInstallerCask(), nullptr);
  EXPECT_EQ(InstallerCaskManager::legalUin(), 0u);
}

TEST(InstallerCaskManager, KeyIsSixteenStableBytes) {
  const std::string& key = InstallerCaskManager::criptKey();
  EXPECT_EQ(key.size(), 16u);
  EXPECT_EQ(key.find('\0'), std::string::npos);  // the store would cut it there
  EXPECT_EQ(key, quillo::StringMixUtil::installerKey());
}

TEST(InstallerCaskManager, BaseFolderFollowsApplicationSupport) {
  EXPECT_TRUE(InstallerCaskManager::baseFolder().ends_with("/Quillo"));
}

TEST(InstallerCaskManager, LegalUinParsesWholeUnsignedNumbers) {
  const std::pair<const char*, std::optional<uint64_t>> cases[] = {
      {"+42", 42},   {"0042", 42},         {"-0", 0},
      {"-000", 0},   {"7", 7},             {"18446744073709551615", UINT64_MAX},
      {"-5", {}},    {"4 2", {}},          {"18446744073709551616", {}},
      {"", {}},      {"+", {}},            {"-", {}},
      {"42x", {}},   {" 42", {}},          {"++1", {}},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(InstallerCaskManager::parseLegalUin(text), expected) << '"' << text << '"';
  }
}

TEST(InstallerInstallEventInfo, JsonRoundTripKeepsRawSource) {
  const InstallerInstallEventInfo info{"com.other.ime", com::norvane::tanix::pb::QlAppPcInstallSource(34)};
  const auto json = nlohmann::json::parse(info.toJSON());
  EXPECT_EQ(json.size(), 2u);
  EXPECT_EQ(json.at("source"), 34);
  EXPECT_EQ(json.at("originSourceId"), "com.other.ime");
  EXPECT_EQ(InstallerInstallEventInfo::fromJSON(info.toJSON()), info);
  // A raw value without a named case still decodes, up to both ends of int32.
  for (const int64_t raw : {int64_t{-7}, int64_t{2147483647}, int64_t{-2147483648}}) {
    const auto decoded = InstallerInstallEventInfo::fromJSON(
        R"({"originSourceId":"a","source":)" + std::to_string(raw) + "}");
    ASSERT_TRUE(decoded.has_value()) << raw;
    EXPECT_EQ(static_cast<int64_t>(decoded->source), raw);
  }
}

TEST(InstallerInstallEventInfo, MalformedJsonDecodesToNothing) {
  for (const char* text : {R"({"originSourceId":"a"})", R"({"source":1})", R"({"originSourceId":1,"source":1})",
                           R"({"originSourceId":"a","source":"1"})", R"({"originSourceId":"a","source":1.5})",
                           R"({"originSourceId":"a","source":2147483648})",
                           R"({"originSourceId":"a","source":-2147483649})", R"([1,2])", "not json", ""}) {
    EXPECT_EQ(InstallerInstallEventInfo::fromJSON(text), std::nullopt) << text;
  }
}

}  // namespace
