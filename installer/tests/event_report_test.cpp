#include "installer/event_report.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "support/report_decoding.h"

namespace {

namespace pb = com::norvane::tanix::pb;
using quillo::ReportContext;
using quillo::testing::base64Decode;
using quillo::testing::formDecode;

ReportContext sampleContext() {
  return ReportContext{.clientTime = 1718879999,
                       .appVersion = "1.2.3(4) beta",
                       .vid = 42,
                       .deviceModelId = std::string("Mac14,2\0", 8),
                       .systemVersion = "14.5.0"};
}

// Undoes every step of the body as the receiving server would.
class EventReportBodyTest : public testing::Test {
 protected:
  // Returns the report parsed from `body`; fails the test if any step fails.
  pb::QlStatPcAppCommonActionReport decode(const std::string& body) {
    pb::QlStatPcAppCommonActionReport report;
    const std::string_view prefix = "content=";
    EXPECT_TRUE(body.starts_with(prefix)) << body;
    EXPECT_EQ(body.find_first_of(" &"), std::string::npos) << body;
    const std::optional<std::string> text = formDecode(std::string_view(body).substr(prefix.size()));
    EXPECT_TRUE(text.has_value()) << body;
    if (!text) return report;
    const std::string head = std::string(quillo::kCommonActionReportId) + ", ";
    EXPECT_TRUE(text->starts_with(head)) << *text;
    const std::optional<std::string> bytes = base64Decode(std::string_view(*text).substr(head.size()));
    EXPECT_TRUE(bytes.has_value()) << *text;
    if (bytes) {
      EXPECT_TRUE(report.ParseFromString(*bytes));
    }
    return report;
  }
};

TEST_F(EventReportBodyTest, RoundTripFindsEveryField) {
  const auto report = decode(quillo::commonActionReportBody(
      pb::ql_pc_app_scene_intro_install_failed, pb::ql_pc_app_action_click_install,
      sampleContext()));

  EXPECT_EQ(report.base_log().id(), "ql_stat_pc_app_common_action_report");
  EXPECT_EQ(report.base_log().clienttime(), 1718877600);
  EXPECT_EQ(report.base_log().appversion(), "1.2.3(4) beta");
  EXPECT_EQ(report.base_log().vid(), 42u);
  EXPECT_EQ(report.base_log().app(), pb::native_app);
  EXPECT_EQ(report.scene(), pb::ql_pc_app_scene_intro_install_failed);
  EXPECT_EQ(report.action(), pb::ql_pc_app_action_click_install);
  EXPECT_EQ(report.action_context(), "");
  EXPECT_EQ(report.device_type(), "Mac14,2;macOS 14.5.0");
}

TEST_F(EventReportBodyTest, EveryPaddingLengthSurvives) {
  // Growing versions move the serialised size through every length mod 3.
  for (const char* version : {"", "1", "12", "123", "版本 1.0+beta/2=3"}) {
    ReportContext context = sampleContext();
    context.appVersion = version;
    const auto report = decode(quillo::commonActionReportBody(
        pb::ql_pc_app_scene_intro_install, pb::ql_pc_app_action_exposure, context));
    EXPECT_EQ(report.base_log().appversion(), version);
  }
}

TEST_F(EventReportBodyTest, PlusInBase64SurvivesAFormDecoder) {
  // Search a user id whose Base64 holds a '+': sent raw it would decode to a blank.
  for (uint64_t vid = 1; vid < 100000; ++vid) {
    ReportContext context = sampleContext();
    context.vid = vid;
    const auto report = quillo::makeCommonActionReport(pb::ql_pc_app_scene_intro_install,
                                                       pb::ql_pc_app_action_exposure, context);
    if (quillo::reportText(quillo::kCommonActionReportId, report).find('+') == std::string::npos) {
      continue;
    }
    const std::string body = quillo::commonActionReportBody(
        pb::ql_pc_app_scene_intro_install, pb::ql_pc_app_action_exposure, context);
    EXPECT_NE(body.find("%2B"), std::string::npos);
    EXPECT_EQ(decode(body).base_log().vid(), vid);
    return;
  }
  FAIL() << "no user id produced a '+' in the Base64 text";
}

TEST(EventReportTest, ClientTimeIsTruncatedToTheHour) {
  EXPECT_EQ(quillo::generateBaseMsg("", "id", 1718877600, 0).clienttime(), 1718877600);
  EXPECT_EQ(quillo::generateBaseMsg("", "id", 1718881199, 0).clienttime(), 1718877600);
  EXPECT_EQ(quillo::generateBaseMsg("", "id", 1718881200, 0).clienttime(), 1718881200);
  EXPECT_EQ(quillo::generateBaseMsg("", "id", 3599, 0).clienttime(), 0);
}

TEST(EventReportTest, UnknownModelStillNamesTheSystem) {
  ReportContext context = sampleContext();
  context.deviceModelId = "";
  EXPECT_EQ(quillo::makeCommonActionReport(pb::ql_pc_app_scene_intro_install,
                                           pb::ql_pc_app_action_exposure, context)
                .device_type(),
            ";macOS 14.5.0");
}

TEST(EventReportTest, ReportMatchesTheSchemaWireBytes) {
  ReportContext context = sampleContext();
  context.deviceModelId = "Mac14,2";
  std::string wire;
  ASSERT_TRUE(quillo::makeCommonActionReport(pb::ql_pc_app_scene_intro_install,
                                             pb::ql_pc_app_action_exposure, context)
                  .SerializeToString(&wire));
  ASSERT_EQ(wire.size(), 90u);
  EXPECT_EQ(wire.substr(0, 4), std::string("\x0A\x3E\x0A\x23"));
  // No key 0x22: the empty action context is not written.
  EXPECT_EQ(wire.substr(64, 6), std::string("\x10\x01\x18\x01\x2A\x14"));
}

TEST(EventReportTest, EmptyReportGivesAnEmptyBase64Part) {
  EXPECT_EQ(quillo::reportText("rid", pb::QlStatPcAppCommonActionReport()), "rid, ");
}

TEST(EventReportTest, FormBodyEscapesAsTheQuerySetExceptPlus) {
  EXPECT_EQ(quillo::reportFormBody("a, b+c/d=="), "content=a,%20b%2Bc/d==");
  EXPECT_EQ(quillo::reportFormBody("~-._!$'()*;:@?"), "content=~-._!$'()*;:@?");
  EXPECT_EQ(quillo::reportFormBody("\"#%<>[]\\^`{|}"),
            "content=%22%23%25%3C%3E%5B%5D%5C%5E%60%7B%7C%7D");
  // The ends of the three letter and digit ranges stay as they are.
  EXPECT_EQ(quillo::reportFormBody("AZaz09"), "content=AZaz09");
  EXPECT_EQ(quillo::reportFormBody("é\n"), "content=%C3%A9%0A");
  EXPECT_EQ(quillo::reportFormBody(""), "content=");
}

}  // namespace
