#include "installer/event_report.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace quillo {

namespace pb = com::norvane::tanix::pb;

namespace {

constexpr int64_t kSecondsPerHour = 3600;

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t n = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 |
                       uint32_t(uint8_t(bytes[i + 2]));
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
    if (rest == 2) n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// The URL-query-allowed set: unreserved characters and the sub-delimiters
// plus ":", "@", "/" and "?". '+' is left out on purpose (see the header).
bool isQueryAllowed(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  constexpr std::string_view kOthers = "-._~!$&'()*,;=:@/?";
  return kOthers.find(char(c)) != std::string_view::npos;
}

}  // namespace

pb::BaseMsg generateBaseMsg(std::string_view versionStr, std::string_view reportId,
                            int64_t clientTime, uint64_t vid) {
  pb::BaseMsg header;
  header.set_id(std::string(reportId));
  // Integer division truncates toward zero, as the hour rounding must.
  header.set_clienttime(clientTime / kSecondsPerHour * kSecondsPerHour);
  header.set_appversion(std::string(versionStr));
  header.set_vid(vid);
  header.set_app(pb::native_app);
  return header;
}

pb::QlStatPcAppCommonActionReport makeCommonActionReport(pb::QlStatPcAppCommonScene scene,
                                                         pb::QlStatPcAppCommonAction action,
                                                         const ReportContext& context) {
  pb::QlStatPcAppCommonActionReport report;
  *report.mutable_base_log() = generateBaseMsg(context.appVersion, kCommonActionReportId,
                                               context.clientTime, context.vid);
  report.set_scene(scene);
  report.set_action(action);
  report.set_action_context("");
  // The model id comes from a C string property and may carry its terminator.
  std::string deviceType = context.deviceModelId;
  std::erase(deviceType, '\0');
  deviceType += ";macOS ";
  deviceType += context.systemVersion;
  report.set_device_type(std::move(deviceType));
  return report;
}

std::string reportText(std::string_view reportId, const google::protobuf::MessageLite& report) {
  std::string bytes;
  if (!report.SerializeToString(&bytes)) bytes.clear();
  std::string text(reportId);
  text += ", ";
  text += base64(bytes);
  return text;
}

std::string reportFormBody(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string body = "content=";
  body.reserve(body.size() + text.size() + 8);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (isQueryAllowed(c)) {
      body += ch;
    } else {
      body += '%';
      body += kHex[c >> 4];
      body += kHex[c & 15];
    }
  }
  return body;
}

std::string commonActionReportBody(pb::QlStatPcAppCommonScene scene,
                                   pb::QlStatPcAppCommonAction action,
                                   const ReportContext& context) {
  return reportFormBody(
      reportText(kCommonActionReportId, makeCommonActionReport(scene, action, context)));
}

}  // namespace quillo
