// Usage events posted to a loopback report endpoint, decoded as a server would.
#include <thread>

#include <gtest/gtest.h>

#include "installer/installer_main_window_view_model.h"
#include "installer/installer_net_manager.h"
#include "installer/utils.h"
#include "loopback_http_server.h"
#include "platform/dispatch.h"
#include "support/report_decoding.h"

namespace {

using namespace std::chrono_literals;
namespace pb = com::norvane::tanix::pb;
using quillo::testing::CannedResponse;
using quillo::testing::LoopbackHttpServer;

constexpr const char* kInfoPath = "/web/mac/download";
constexpr const char* kReportPath = "/ombra/single";

class ReportSenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.route(kInfoPath, CannedResponse{.body = R"({"zip_version":"1.2.3.4","package_type":"beta"})"});
    server_.route(kReportPath, CannedResponse{.status = 200});
  }
  void TearDown() override { quillo::mainPlainLoop().clear(); }

  std::shared_ptr<quillo::InstallerNetManager> manager(std::optional<std::string> reportUrl) {
    return quillo::InstallerNetManager::create({.endpoint = server_.url(kInfoPath),
                                                .session = quillo::URLSession::make({}),
                                                .now = [] { return 1718879999.0; },
                                                .reportEndpoint = std::move(reportUrl)});
  }
  // Serves the main queue (the install information answers there) until
  // `count` reports have arrived.
  bool waitForReports(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (server_.requestCount("POST", kReportPath) < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      quillo::mainPlainLoop().runPending();
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  pb::QlStatPcAppCommonActionReport receivedReport(size_t index) {
    std::vector<quillo::testing::RecordedRequest> posts;
    for (auto& r : server_.requests()) {
      if (r.method == "POST") posts.push_back(r);
    }
    const auto& body = posts.at(index).body;
    EXPECT_TRUE(body.starts_with("content="));
    const auto text = quillo::testing::formDecode(body.substr(8));
    EXPECT_TRUE(text);
    const std::string prefix = "ql_stat_pc_app_common_action_report, ";
    EXPECT_TRUE(text->starts_with(prefix)) << *text;
    const auto bytes = quillo::testing::base64Decode(text->substr(prefix.size()));
    EXPECT_TRUE(bytes);
    pb::QlStatPcAppCommonActionReport report;
    EXPECT_TRUE(report.ParseFromString(bytes.value_or("")));
    return report;
  }

  LoopbackHttpServer server_;
};

TEST_F(ReportSenderTest, PostsTheReportWithBothHeadersAndTheSentFields) {
  auto m = manager(server_.url(kReportPath));
  m->setVidProvider([] { return uint64_t{42}; });
  m->manualReport(pb::ql_pc_app_scene_intro_install, pb::ql_pc_app_action_click_install);
  ASSERT_TRUE(waitForReports(1));

  const auto post = server_.requests().back();
  EXPECT_EQ(post.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(post.header("Kb-OsType"), "5");
  EXPECT_EQ(post.body.find(' '), std::string::npos) << "no raw blank in the body";

  const auto report = receivedReport(0);
  EXPECT_EQ(report.base_log().id(), "ql_stat_pc_app_common_action_report");
  EXPECT_EQ(report.base_log().clienttime(), 1718877600) << "truncated to the hour";
  EXPECT_EQ(report.base_log().vid(), 42u);
  EXPECT_EQ(report.base_log().app(), pb::native_app);
  EXPECT_FALSE(report.base_log().appversion().empty());
  EXPECT_EQ(report.scene(), pb::ql_pc_app_scene_intro_install);
  EXPECT_EQ(report.action(), pb::ql_pc_app_action_click_install);
  EXPECT_TRUE(report.device_type().ends_with(";macOS " + quillo::Utils::systemVer()));
  EXPECT_EQ(report.device_type().find('\0'), std::string::npos);
}

TEST_F(ReportSenderTest, MissingInstallInformationStillSendsWithAnEmptyVersion) {
  server_.route(kInfoPath, CannedResponse{.status = 500});
  auto m = manager(server_.url(kReportPath));
  m->manualReport(pb::ql_pc_app_scene_download_failed_network_error, pb::ql_pc_app_action_exposure);
  ASSERT_TRUE(waitForReports(1));
  const auto report = receivedReport(0);
  EXPECT_EQ(report.base_log().appversion(), "");
  EXPECT_EQ(report.base_log().vid(), 0u);
  EXPECT_EQ(report.scene(), pb::ql_pc_app_scene_download_failed_network_error);
}

TEST_F(ReportSenderTest, NoReportUrlSendsNothing) {
  auto m = manager(std::nullopt);
  m->manualReport(pb::ql_pc_app_scene_intro_install, pb::ql_pc_app_action_exposure);
  // The install information is fetched first; after it nothing may be posted.
  ASSERT_TRUE(server_.waitForRequests(kInfoPath, 1, 10s));
  quillo::mainPlainLoop().runFor(50ms);
  EXPECT_EQ(server_.requestCount("POST", kReportPath), 0u);
}

TEST_F(ReportSenderTest, ViewModelReportsThroughItsNetManager) {
  quillo::InstallerMainWindowViewModel viewModel({.netManager = manager(server_.url(kReportPath))});
  viewModel.report(pb::ql_pc_app_scene_intro_installed_switched,
                   pb::ql_pc_app_action_click_personalised_keyboard);
  ASSERT_TRUE(waitForReports(1));
  const auto report = receivedReport(0);
  EXPECT_EQ(report.scene(), 2);
  EXPECT_EQ(report.action(), 59);
}

TEST(ReportOutcomeTest, StatusesAndErrorsGiveTheirLogLines) {
  using quillo::describeReportOutcome;
  // Every 2xx is a success, and nothing outside it.
  for (int status : {200, 204, 299}) {
    quillo::HTTPURLResponse ok;
    ok.statusCode = status;
    const auto outcome = describeReportOutcome(ok, std::nullopt);
    EXPECT_TRUE(outcome.success) << status;
    EXPECT_EQ(outcome.message, "[Report] CGI report success. Status: " + std::to_string(status));
  }
  for (int status : {199, 300, 302, 500}) {
    quillo::HTTPURLResponse answer;
    answer.statusCode = status;
    const auto outcome = describeReportOutcome(answer, std::nullopt);
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.message, "[Report] CGI report failed. Status: " + std::to_string(status));
  }
  EXPECT_EQ(describeReportOutcome(std::nullopt, std::nullopt).message,
            "[Report] CGI response is not HTTPURLResponse.");
  quillo::URLError error;
  error.localizedDescription = "Connection refused";
  EXPECT_EQ(describeReportOutcome(std::nullopt, error).message,
            "[Report] CGI request failed: Connection refused");
}

}  // namespace
