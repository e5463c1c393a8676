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
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "installer/atomic.h"
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
  };

  static constexpr double kCacheLifetime = 3600.0;

  // The process-wide manager on G::jsonConfigURL() and the shared session.
  [[nodiscard]] static const std::shared_ptr<InstallerNetManager>& shared();
  [[nodiscard]] static std::shared_ptr<InstallerNetManager> create(Options options);

  InstallerNetManager(const InstallerNetManager&) = delete;
  InstallerNetManager& operator=(const InstallerNetManager&) = delete;

  void requestInstallInfoIfNeeded(Completion completion);
  // Warms the cache.
  void notifyNetworkReady();

  // The last document decoded successfully, fresh or not.
  [[nodiscard]] std::optional<InstallInfo> installInfo() const { return installInfo_.get(); }

 private:
  explicit InstallerNetManager(Options options);
  void startRequest();
  void completeAllFeatureRequests(const std::optional<InstallInfo>& result);

  const Options options_;
  Atomic<std::optional<InstallInfo>> installInfo_;
  // The callers waiting for the request in flight; empty when none is.
  Atomic<std::vector<Completion>> featureRequestCompletionArray_;
};

}  // namespace quillo
