#pragma once
// Builds what one event report sends: a common-action report with its header,
// serialised, Base64-encoded, prefixed by its report id and percent-encoded
// into a form body. The format is described in docs/report_format.md.
// Pure functions of their arguments; safe to call from any thread.
//
//   ReportContext context{.clientTime = now, .appVersion = "1.2.3(4) beta", .vid = 42,
//                         .deviceModelId = "Mac14,2", .systemVersion = "14.5.0"};
//   std::string body = commonActionReportBody(ql_pc_app_scene_intro_install,
//                                             ql_pc_app_action_exposure, context);
//   // body == "content=ql_stat_pc_app_common_action_report,%20Cj4KI3Fs..."
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include <google/protobuf/message_lite.h>

#include "schema/BaseMsg.pb.h"
#include "schema/QlStatPcAppCommonAction.pb.h"
#include "schema/QlStatPcAppCommonActionReport.pb.h"
#include "schema/QlStatPcAppCommonScene.pb.h"

namespace quillo {

// The header's `id` and the prefix of the sent text.
inline constexpr std::string_view kCommonActionReportId = "ql_stat_pc_app_common_action_report";

// What a report carries besides its scene and action. The caller gathers the
// values (install information, installer store, system facts); nothing here
// reads the clock or the machine.
struct ReportContext {
  int64_t clientTime = 0;     // now, in seconds since 1970 UTC; sent truncated to the hour
  std::string appVersion;     // display version of the package; empty when unknown
  uint64_t vid = 0;           // user id; 0 when unknown
  std::string deviceModelId;  // hardware model id as read, NULs allowed; empty when unknown
  std::string systemVersion;  // operating-system version, such as "14.5.0"
};

struct HttpHeaderField {
  std::string_view name;
  std::string_view value;
};

// The request headers of every report POST.
inline constexpr std::array<HttpHeaderField, 2> kReportHeaders{{
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Kb-OsType", "5"},
}};

// The header: `id` = reportId, `clienttime` = clientTime truncated toward zero
// to a whole hour, `appversion` = versionStr, `vid`, `app` = native_app.
[[nodiscard]] com::norvane::tanix::pb::BaseMsg generateBaseMsg(std::string_view versionStr,
                                                               std::string_view reportId,
                                                               int64_t clientTime, uint64_t vid);

// The report: the header above with kCommonActionReportId, scene, action, an
// empty `action_context`, and `device_type` = model id without NULs + ";macOS "
// + system version. All other fields stay unset.
[[nodiscard]] com::norvane::tanix::pb::QlStatPcAppCommonActionReport makeCommonActionReport(
    com::norvane::tanix::pb::QlStatPcAppCommonScene scene,
    com::norvane::tanix::pb::QlStatPcAppCommonAction action, const ReportContext& context);

// "<reportId>, <Base64 of the serialised report>" (standard alphabet, padded,
// no line breaks). The Base64 part is empty when serialisation fails.
[[nodiscard]] std::string reportText(std::string_view reportId,
                                     const google::protobuf::MessageLite& report);

// "content=" followed by `text` percent-encoded with the URL-query-allowed
// set, except that '+' is sent as %2B: a form decoder would turn a raw '+'
// into a blank and corrupt the Base64.
[[nodiscard]] std::string reportFormBody(std::string_view text);

// The whole body of the POST for one event: makeCommonActionReport, then
// reportText with kCommonActionReportId, then reportFormBody.
[[nodiscard]] std::string commonActionReportBody(
    com::norvane::tanix::pb::QlStatPcAppCommonScene scene,
    com::norvane::tanix::pb::QlStatPcAppCommonAction action, const ReportContext& context);

}  // namespace quillo
