#pragma once
// Fetches the install information, keeps it for one hour and shares one
// request in flight among all callers. Safe from any thread.
//
//   InstallerNetManager::shared()->requestInstallInfoIfNeeded(
//       [](const std::optional<InstallInfo>& info) { ... });
//
// The completion runs exactly once: at once on the caller's thread when the
// cache is fresh, otherwise later on the main queue (the last caller of a
// round first). Nothing means that no document could be obtained; the next
// call tries again.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "installer/atomic.h"
#include "installer/event_report.h"
#include "installer/g.h"
#include "installer/install_info.h"
#include "platform/url_session.h"

namespace quillo {

class InstallerNetManager : public std::enable_shared_from_this<InstallerNetManager> {
 public:
  using Completion = std::function<void(const std::optional<InstallInfo>&)>;
  // Seconds since 1970-01-01 UTC.
  using NowFunction = std::function<double()>;

  struct Options {
    // The document's address; nothing fails every request ("[FeatureDict] Invalid URL.").
    std::optional<std::string> endpoint = G::jsonConfigURL();
    // Null: URLSession::shared().
    std::shared_ptr<URLSession> session;
    // Null: the system clock.
    NowFunction now;
    // Where reports go; nothing drops them ("[Report] Invalid Report CGI URL.").
    std::optional<std::string> reportEndpoint = G::reportCGIURL();
  };

  // Supplies the user id a report carries (0 when unknown).
  using VidProvider = std::function<uint64_t()>;

  static constexpr double kCacheLifetime = 3600.0;
  // The install information is a few hundred bytes: a larger answer is refused.
  static constexpr int64_t kMaxInstallInfoSize = 1 << 20;

  // The process-wide manager on G::jsonConfigURL() and the shared session.
  [[nodiscard]] static const std::shared_ptr<InstallerNetManager>& shared();
  [[nodiscard]] static std::shared_ptr<InstallerNetManager> create(Options options);

  InstallerNetManager(const InstallerNetManager&) = delete;
  InstallerNetManager& operator=(const InstallerNetManager&) = delete;

  void requestInstallInfoIfNeeded(Completion completion);
  // Warms the cache.
  void notifyNetworkReady();

  // Sends one usage event, fire and forget: the display version from the
  // install information (empty when unknown), the user id, the machine model
  // and system version, posted as a form to the report endpoint. The outcome
  // is only logged. Returns at once.
  void manualReport(com::norvane::tanix::pb::QlStatPcAppCommonScene scene,
                    com::norvane::tanix::pb::QlStatPcAppCommonAction action);
  // Replaces the user-id source (by default the installer store's legalUin).
  void setVidProvider(VidProvider provider) { vidProvider_.set(std::move(provider)); }

  // The last document decoded successfully, fresh or not.
  [[nodiscard]] std::optional<InstallInfo> installInfo() const { return installInfo_.get(); }

 private:
  explicit InstallerNetManager(Options options);
  void startRequest();
  void completeAllFeatureRequests(const std::optional<InstallInfo>& result);
  void sendReportToCGI(std::string body);

  const Options options_;
  Atomic<std::optional<InstallInfo>> installInfo_;
  // The callers waiting for the request in flight; empty when none is.
  Atomic<std::vector<Completion>> featureRequestCompletionArray_;
  Atomic<VidProvider> vidProvider_;
};

// The log line of a report's outcome: a transport error, no HTTP answer, a
// 2xx status (Info) or any other status (Error).
struct ReportOutcome {
  bool success = false;
  std::string message;
};
[[nodiscard]] ReportOutcome describeReportOutcome(const std::optional<HTTPURLResponse>& response,
                                                  const std::optional<URLError>& error);

}  // namespace quillo
