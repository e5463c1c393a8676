// quillo-distribution-server: a local distribution server for trying the
// installer on this machine. On 127.0.0.1 it serves the install information,
// the input method package it packs from a sample bundle (with the package's
// real MD5), and receives usage reports, printing each one.
//
//   quillo-distribution-server --port 8740 --work build/demo/server
//       --bundle build/demo/fixtures/package/Quillo.app
//
//   GET  /web/mac/download?channel=InstallInfo   the install information (JSON)
//   GET  /pkg/Quillo.zip                         the package
//   POST /ombra/single                           a report; printed as "report: scene S action A ..."
//
// Runs until SIGINT or SIGTERM. Exit status: 0 stopped, 1 could not start, 2 usage.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "installer/md5.h"
#include "loopback_http_server.h"
#include "platform/bundle.h"
#include "platform/process.h"
#include "schema/QlStatPcAppCommonActionReport.pb.h"
#include "support/report_decoding.h"

namespace {
namespace fs = std::filesystem;
using quillo::testing::CannedResponse;
using quillo::testing::RecordedRequest;

constexpr const char* kInfoPath = "/web/mac/download";
constexpr const char* kPackagePath = "/pkg/Quillo.zip";
constexpr const char* kReportPath = "/ombra/single";

int usage() {
  std::fprintf(stderr, "usage: quillo-distribution-server --port PORT --bundle Quillo.app --work DIR\n");
  return 2;
}

std::mutex outputMutex;

void say(const std::string& line) {
  std::lock_guard lock(outputMutex);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// "report: scene 1 action 2 version 3.2.0(320)  vid 0 device ..." or why it is unreadable.
std::string describeReport(const std::string& body) {
  if (!body.starts_with("content=")) return "report: not a form with content=";
  const auto text = quillo::testing::formDecode(body.substr(8));
  const auto comma = text ? text->find(", ") : std::string::npos;
  if (comma == std::string::npos) return "report: malformed content";
  const auto bytes = quillo::testing::base64Decode(text->substr(comma + 2));
  com::norvane::tanix::pb::QlStatPcAppCommonActionReport report;
  if (!bytes || !report.ParseFromString(*bytes)) return "report: undecodable " + text->substr(0, comma);
  return "report: scene " + std::to_string(report.scene()) + " action " + std::to_string(report.action()) +
         " version \"" + report.base_log().appversion() + "\" vid " + std::to_string(report.base_log().vid()) +
         " device \"" + report.device_type() + "\"";
}

// Packs `bundle` (a folder named Quillo.app) into `zip`; false with a message on failure.
bool pack(const fs::path& bundle, const fs::path& zip) {
  std::error_code ec;
  fs::remove(zip, ec);
  quillo::Spawned child;
  if (auto error = quillo::spawnProcess({"zip", "-q", "-r", "-X", zip.string(), bundle.filename().string()},
                                        {.workingDirectory = bundle.parent_path().string()}, child)) {
    std::fprintf(stderr, "quillo-distribution-server: cannot run zip: %s\n", error.message().c_str());
    return false;
  }
  if (quillo::waitForExit(child.pid) != 0) {
    std::fprintf(stderr, "quillo-distribution-server: zip failed for %s\n", bundle.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long port = -1;
  fs::path bundle, work;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--port") {
      char* end = nullptr;
      port = std::strtol(argv[i + 1], &end, 10);
      if (*end != '\0') port = -1;
    } else if (flag == "--bundle") {
      bundle = fs::absolute(argv[i + 1]);
    } else if (flag == "--work") {
      work = fs::absolute(argv[i + 1]);
    } else {
      return usage();
    }
  }
  if (argc % 2 == 0 || port < 1 || port > 65535 || bundle.empty() || work.empty()) return usage();
  if (bundle.filename() != "Quillo.app" || !fs::is_regular_file(bundle / "Contents/Info.json")) {
    std::fprintf(stderr, "quillo-distribution-server: %s is not a Quillo.app bundle\n", bundle.c_str());
    return 1;
  }

  // Signals are taken by sigwait below; block them before any thread starts.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::error_code ec;
  fs::create_directories(work, ec);
  const fs::path zip = work / "Quillo.zip";
  if (!pack(bundle, zip)) return 1;
  const auto md5 = quillo::md5HexOfFile(zip.string());
  if (!md5) {
    std::fprintf(stderr, "quillo-distribution-server: cannot read %s\n", zip.c_str());
    return 1;
  }
  const quillo::Bundle sample(bundle.string());
  const std::string version = sample.infoString("CFBundleShortVersionString").value_or("0.0.0") + "." +
                              sample.infoString("CFBundleVersion").value_or("0");

  try {
    quillo::testing::LoopbackHttpServer server(static_cast<uint16_t>(port));
    const std::string info = R"({"zip_download_url":")" + server.url(kPackagePath) +
                             R"(","zip_download_md5":")" + *md5 + R"(","zip_version":")" + version +
                             R"(","package_type":"demo"})";
    server.route(kInfoPath, [info](const RecordedRequest& r) {
      say(r.method + " " + r.target);
      return CannedResponse{.headers = {{"Content-Type", "application/json"}}, .body = info};
    });
    server.route(kPackagePath, [zip](const RecordedRequest& r) {
      say(r.method + " " + r.target);
      return CannedResponse{.bodyFile = zip.string()};
    });
    server.route(kReportPath, [](const RecordedRequest& r) {
      say(r.method != "POST" ? r.method + " " + r.target + ": reports are POSTed" : describeReport(r.body));
      return CannedResponse{.status = r.method == "POST" ? 200 : 405};
    });
    say("serving on " + server.url("") + ": package " + zip.string() + " md5 " + *md5 + " version " + version);
    int sig = 0;
    sigwait(&stopSignals, &sig);
    say("stopping");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillo-distribution-server: cannot listen on 127.0.0.1:%ld: %s\n", port, e.what());
    return 1;
  }
  return 0;
}
