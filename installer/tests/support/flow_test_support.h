#pragma once
// Shared pieces of the install-flow tests: a private system root, store and
// caches; the loopback distribution server (install information, package,
// report endpoint); the reports it received as (scene, action) pairs; and
// the view-model options that point at all of it.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "installer/installer_main_window_view_controller.h"
#include "installer/md5.h"
#include "loopback_http_server.h"
#include "platform/folders.h"
#include "platform/input_sources.h"
#include "platform/privileged.h"
#include "platform/system_info.h"
#include "schema/QlStatPcAppCommonActionReport.pb.h"
#include "support/report_decoding.h"

namespace flowtest {

namespace fs = std::filesystem;
using Report = std::pair<int, int>;  // (scene, action)

inline constexpr const char* kInfoPath = "/web/mac/download";
inline constexpr const char* kPackagePath = "/pkg/Quillo.zip";
inline constexpr const char* kReportPath = "/ombra/single";
inline constexpr const char* kPinyinMode = "com.norvane.inputmethod.quillo.pinyin";
inline constexpr const char* kInputMethod = "com.norvane.inputmethod.quillo";

// One test's world: folders under a fresh temporary folder, the server, and
// what the server serves. Set up before the flow starts.
class FlowWorld {
 public:
  FlowWorld() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    dir_ = fs::path(::testing::TempDir()) / ("flow-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "data");
    fs::create_directories(dir_ / "cache");
    ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
    ::setenv("QUILLO_FIXTURE_RECORD", recordPath().c_str(), 1);
    // A root of the test user's own: installs run without a prompt, as any user.
    fs::create_directories(dir_ / "system root");
    quillo::folders::setSystemRoot((dir_ / "system root").string());
    quillo::sysinfo::setOperatingSystemVersion(quillo::sysinfo::OsVersion{14, 0, 0});
    zip_ = std::string(QUILLO_FIXTURES_DIR) + "/Quillo.zip";
    serveInfo(*quillo::md5HexOfFile(zip_));
    server_.route(kPackagePath, {.bodyFile = zip_});
    server_.route(kReportPath, {.status = 200});
  }
  ~FlowWorld() {
    quillo::privileged::setAuthorizationPromptForTesting(nullptr);
    quillo::folders::setSystemRoot("");
    quillo::sysinfo::setOperatingSystemVersion(std::nullopt);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void serveInfo(const std::string& md5) {
    server_.route(kInfoPath, {.body = R"({"zip_download_url":")" + server_.url(kPackagePath) +
                                      R"(","zip_download_md5":")" + md5 +
                                      R"(","zip_version":"3.2.0.1"})"});
  }

  // Options for a flow against this world; the bundle's name picks the channel.
  quillo::InstallerMainWindowViewController::Options options(
      const std::string& bundleName = "QuilloInstaller_k.app",
      quillo::InstallerZipDownloadManager::DiskSpaceSource diskSpace = {}) {
    auto net = quillo::InstallerNetManager::create(
        {.endpoint = server_.url(std::string(kInfoPath) + "?channel=InstallInfo"),
         .now = [this] { return double(::time(nullptr)) + clockOffset_; },
         .reportEndpoint = server_.url(kReportPath)});
    auto manager = quillo::InstallerZipDownloadManager::create(
        {.netManager = net, .downloadFolder = (dir_ / "downloads").string(), .diskSpace = std::move(diskSpace)});
    quillo::InstallerMainWindowViewController::Options o;
    o.downloadManager = manager;
    o.netManager = net;
    o.resourcePath = (fs::path(QUILLO_BUNDLE_DIR) / "Contents/Resources").string();
    o.installHelperPath =
        (fs::path(QUILLO_BUNDLE_DIR) / "Contents/MacOS/quillo-install-helper").string();
    o.bundlePath = (dir_ / bundleName).string();
    return o;
  }

  // The reports received so far, in order of arrival.
  std::vector<Report> reports() const {
    std::vector<Report> out;
    for (const auto& r : decodedReports()) out.emplace_back(r.scene(), r.action());
    return out;
  }
  std::vector<com::norvane::tanix::pb::QlStatPcAppCommonActionReport> decodedReports() const {
    std::vector<com::norvane::tanix::pb::QlStatPcAppCommonActionReport> out;
    for (const auto& r : server_.requests()) {
      if (r.method != "POST" || r.path != kReportPath || !r.body.starts_with("content=")) continue;
      const auto text = quillo::testing::formDecode(r.body.substr(8));
      if (!text) continue;
      const auto comma = text->find(", ");
      if (comma == std::string::npos) continue;
      const auto bytes = quillo::testing::base64Decode(text->substr(comma + 2));
      com::norvane::tanix::pb::QlStatPcAppCommonActionReport report;
      if (!bytes || !report.ParseFromString(*bytes)) continue;
      out.push_back(report);
    }
    return out;
  }
  size_t reportCount() const { return server_.requestCount("POST", kReportPath); }
  size_t packageDownloads() const { return server_.requestCount("GET", kPackagePath); }

  // Moves the install information's clock past its cache lifetime.
  void expireInstallInfo() { clockOffset_ += 2 * quillo::InstallerNetManager::kCacheLifetime; }

  std::string recordPath() const { return (dir_ / "record.txt").string(); }
  std::vector<std::string> records() const {
    std::vector<std::string> lines;
    std::ifstream in(recordPath());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool recorded(const std::string& line) const {
    for (const auto& l : records()) {
      if (l == line) return true;
    }
    return false;
  }

  fs::path installed() const {
    return fs::path(quillo::folders::systemPath("/Library/Input Methods/Quillo.app"));
  }
  static bool pinyinIsCurrent() {
    const auto current = quillo::tis::copyCurrentKeyboardInputSource();
    return current && current->id() == kPinyinMode;
  }

  const fs::path& dir() const { return dir_; }
  quillo::testing::LoopbackHttpServer& server() { return server_; }
  const std::string& zip() const { return zip_; }

 private:
  fs::path dir_;
  std::string zip_;
  std::atomic<double> clockOffset_ = 0;
  quillo::testing::LoopbackHttpServer server_;
};

}  // namespace flowtest
