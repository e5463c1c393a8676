#include "installer/utils.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "installer/g.h"
#include "installer/identities.h"

namespace {
namespace fs = std::filesystem;

TEST(UtilsTest, VersionStringsOfTheBuiltBundle) {
  quillo::Bundle bundle(QUILLO_BUNDLE_DIR);
  EXPECT_EQ(bundle.bundleIdentifier(), "com.norvane.QuilloInstaller");
  const auto version = quillo::Utils::appVersionWithBundle(&bundle);
  EXPECT_TRUE(std::regex_match(version, std::regex(R"(\d+\.\d+\.\d+\(\d+\))"))) << version;
  EXPECT_EQ(version, quillo::Utils::appShortVersionWithBundle(&bundle) + "(" +
                         quillo::Utils::appBuildNumberWithBundle(&bundle) + ")");
}

TEST(UtilsTest, BundleWithoutVersionKeysGivesDefaults) {
  const auto dir = fs::path(::testing::TempDir()) / (std::to_string(::getpid()) + "-NoKeys.app");
  fs::create_directories(dir / "Contents");
  std::ofstream(dir / "Contents/Info.json") << R"({"CFBundleIdentifier":"x"})";
  quillo::Bundle bundle(dir.string());
  EXPECT_EQ(quillo::Utils::appVersionWithBundle(&bundle), "0.0.0(0)");
  fs::remove_all(dir);
}

TEST(UtilsTest, SystemFacts) {
  EXPECT_TRUE(std::regex_match(quillo::Utils::systemVer(), std::regex(R"(\d+\.\d+\.\d+)")));
  EXPECT_EQ(quillo::Utils::isAppleSilicon(),
            quillo::Utils::cpuType().find("arm") != std::string::npos ||
                quillo::Utils::cpuType().find("ARM") != std::string::npos);
  const auto runtime = quillo::Utils::runtimeString();
  ASSERT_TRUE(runtime);
  EXPECT_TRUE(std::regex_match(*runtime, std::regex(R"(\d{2,}:\d{2}:\d{2})"))) << *runtime;
}

TEST(UtilsTest, ExecCommandRunsSynchronously) {
  const auto marker =
      fs::path(::testing::TempDir()) / ("exec-command-marker-" + std::to_string(::getpid()));
  fs::remove(marker);
  quillo::Utils::execCommand("touch '" + marker.string() + "'");
  EXPECT_TRUE(fs::exists(marker));
  fs::remove(marker);
}

TEST(GlobalsTest, EndpointsAndDownloadFolder) {
  ASSERT_TRUE(quillo::G::jsonConfigURL());
  EXPECT_TRUE(quillo::G::jsonConfigURL()->ends_with("/web/mac/download?channel=InstallInfo"));
  ASSERT_TRUE(quillo::G::reportCGIURL());
  EXPECT_TRUE(quillo::G::reportCGIURL()->ends_with("/ombra/single"));
  // The private folder is made on first use: make it in a folder of ours.
  const auto tmp =
      fs::path(::testing::TempDir()) / ("globals-tmpdir-" + std::to_string(::getpid()));
  fs::create_directories(tmp);
  ::setenv("TMPDIR", tmp.c_str(), 1);
  EXPECT_EQ(quillo::G::zipDownloadLocation(),
            (tmp / ("quillo-" + std::to_string(::geteuid())) / "Quillo/ZipFile").string());
  ::unsetenv("TMPDIR");
  fs::remove_all(tmp);
}

TEST(GlobalsTest, UrlValidation) {
  EXPECT_EQ(quillo::urlFromString("http://127.0.0.1:8080/a?b=c"), "http://127.0.0.1:8080/a?b=c");
  EXPECT_EQ(quillo::urlFromString("https://host.example"), "https://host.example");
  EXPECT_EQ(quillo::urlFromString("ftp://host/x"), std::nullopt);
  EXPECT_EQ(quillo::urlFromString("http://"), std::nullopt);
  EXPECT_EQ(quillo::urlFromString("http://host/a b"), std::nullopt);
  // As a URL parser reads them: "_" in hosts, IPv6 literals, ports.
  EXPECT_EQ(quillo::urlFromString("https://cdn_2.example.com:8443/p.zip"),
            "https://cdn_2.example.com:8443/p.zip");
  EXPECT_EQ(quillo::urlFromString("http://[::1]:8080/p.zip"), "http://[::1]:8080/p.zip");
}

TEST(IdentitiesTest, SettingsArgumentRawValues) {
  using quillo::QuilloSettingsArgument;
  EXPECT_EQ(quillo::rawValue(QuilloSettingsArgument::showSettings), "ShowSettings");
  EXPECT_EQ(quillo::settingsArgumentFromRawValue("ShowDeviceSync"),
            QuilloSettingsArgument::showDeviceSync);
  EXPECT_EQ(quillo::settingsArgumentFromRawValue("showsettings"), std::nullopt);
  EXPECT_EQ(quillo::settingsArgumentFromRawValue(""), std::nullopt);
}

}  // namespace
