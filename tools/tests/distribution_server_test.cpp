// quillo-distribution-server as its users run it: a separate process on
// 127.0.0.1, its usage and start-up errors, what it serves and prints.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include "installer/event_report.h"
#include "installer/md5.h"
#include "platform/process.h"

namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct ToolRun {
  int status = -1;
  std::string err;
};

class DistributionServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = fs::path(::testing::TempDir()) / ("distribution-server-" + std::to_string(::getpid()));
    fs::remove_all(work_);
  }
  void TearDown() override {
    if (server_.pid > 0) {
      ::kill(server_.pid, SIGKILL);
      (void)quillo::waitForExit(server_.pid);
    }
    if (server_.outputFd >= 0) ::close(server_.outputFd);
    fs::remove_all(work_);
  }

  static std::vector<std::string> command(std::vector<std::string> args) {
    args.insert(args.begin(), QUILLO_DISTRIBUTION_SERVER);
    return args;
  }
  // Runs the tool to its end with `args`.
  static ToolRun run(std::vector<std::string> args) {
    quillo::Spawned child;
    ToolRun r;
    if (quillo::spawnProcess(command(std::move(args)), {.captureError = true}, child)) return r;
    r.err = quillo::readAll(child.errorFd);
    ::close(child.errorFd);
    r.status = quillo::waitForExit(child.pid).value_or(-1);
    return r;
  }
  std::vector<std::string> withBundle(std::string port) const {
    return {"--port", std::move(port), "--bundle", kBundle, "--work", work_.string()};
  }
  // Starts the server on a free port; returns its port, or 0.
  int start() {
    if (quillo::spawnProcess(command(withBundle("0")), {.captureOutput = true}, server_)) return 0;
    const std::string line = nextLine();
    const std::string prefix = "serving on http://127.0.0.1:";
    if (!line.starts_with(prefix)) return 0;
    return std::stoi(line.substr(prefix.size()));
  }
  // The server's next line of output.
  std::string nextLine() {
    std::string line;
    char c;
    while (::read(server_.outputFd, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  static constexpr const char* kBundle = QUILLO_FIXTURES_DIR "/package/Quillo.app";
  fs::path work_;
  quillo::Spawned server_;
};

TEST_F(DistributionServerTest, UsageErrorsNameTheCause) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--port", "abc", "--bundle", kBundle, "--work", "w"}, "--port: not a port number: abc"},
      {{"--port", "-1", "--bundle", kBundle, "--work", "w"}, "--port: not a port number: -1"},
      {{"--port", "70000", "--bundle", kBundle, "--work", "w"}, "--port: not a port number (0-65535): 70000"},
      {{"--port", "8740", "--bundle", kBundle, "--work"}, "--work: missing value"},
      {{"--port", "8740", "--work", "w"}, "missing --bundle"},
      {{"--colour", "red"}, "unknown option: --colour"},
  };
  for (const auto& [args, message] : cases) {
    const ToolRun r = run(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_THAT(r.err, HasSubstr("quillo-distribution-server: " + message + "\n"));
    EXPECT_THAT(r.err, HasSubstr("usage: "));
  }
  EXPECT_FALSE(fs::exists("w")) << "a usage error creates nothing";
}

TEST_F(DistributionServerTest, StartUpFailuresNameTheCause) {
  // A port someone else listens on.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  socklen_t size = sizeof address;
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));
  const ToolRun taken = run(withBundle(port));
  ::close(fd);
  EXPECT_EQ(taken.status, 1);
  EXPECT_EQ(taken.err, "quillo-distribution-server: cannot listen on 127.0.0.1:" + port +
                           ": address already in use\n");

  const ToolRun notABundle = run({"--port", "0", "--bundle", work_.string(), "--work", work_.string()});
  EXPECT_EQ(notABundle.status, 1);
  EXPECT_THAT(notABundle.err, HasSubstr("is not a Quillo.app bundle"));
}

TEST_F(DistributionServerTest, ServesThePackageItDescribesAndPrintsReportsByName) {
  const int port = start();
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);

  const auto info = client.Get("/web/mac/download?channel=InstallInfo");
  ASSERT_TRUE(info);
  EXPECT_EQ(nextLine(), "GET /web/mac/download?channel=InstallInfo");
  const auto package = client.Get("/pkg/Quillo.zip");
  ASSERT_TRUE(package);
  EXPECT_EQ(package->status, 200);
  EXPECT_EQ(nextLine(), "GET /pkg/Quillo.zip");
  EXPECT_THAT(info->body, HasSubstr("\"zip_download_md5\":\"" + quillo::md5Hex(std::span<const uint8_t>(
                                        reinterpret_cast<const uint8_t*>(package->body.data()), package->body.size())) + "\""));
  EXPECT_THAT(info->body, HasSubstr("\"zip_download_url\":\"http://127.0.0.1:" + std::to_string(port) +
                                    "/pkg/Quillo.zip\""));

  namespace pb = com::norvane::tanix::pb;
  const std::string body = quillo::commonActionReportBody(
      pb::ql_pc_app_scene_intro_install, pb::ql_pc_app_action_click_install, {.appVersion = "1.0.0(1)"});
  const auto posted = client.Post("/ombra/single", body, "application/x-www-form-urlencoded");
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 200);
  EXPECT_THAT(nextLine(), HasSubstr("report: scene ql_pc_app_scene_intro_install (1) "
                                    "action ql_pc_app_action_click_install (2) version \"1.0.0(1)\""));
}

TEST_F(DistributionServerTest, OversizedBodiesAreRefusedAndStopEndsCleanly) {
  const int port = start();
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  const auto huge = client.Post("/ombra/single", std::string(1 << 20, 'x'), "text/plain");
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->status, 413);
  const auto after = client.Get("/web/mac/download");
  ASSERT_TRUE(after) << "still serving";
  EXPECT_EQ(after->status, 200);

  ::kill(server_.pid, SIGTERM);
  EXPECT_EQ(quillo::waitForExit(server_.pid), 0);
  server_.pid = -1;
}

}  // namespace
