#include "installer/installer_net_manager.h"

#include <chrono>

#include "installer/g.h"
#include "installer/installer_cask_manager.h"
#include "installer/utils.h"
#include "jot/log_line.h"

namespace quillo {
namespace {

double systemNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

const std::shared_ptr<InstallerNetManager>& InstallerNetManager::shared() {
  static auto* manager = new std::shared_ptr<InstallerNetManager>(create({}));
  return *manager;
}

std::shared_ptr<InstallerNetManager> InstallerNetManager::create(Options options) {
  return std::shared_ptr<InstallerNetManager>(new InstallerNetManager(std::move(options)));
}

InstallerNetManager::InstallerNetManager(Options options) : options_([&] {
  if (!options.session) options.session = URLSession::shared();
  if (!options.now) options.now = systemNow;
  return std::move(options);
}()) {}

void InstallerNetManager::notifyNetworkReady() {
  requestInstallInfoIfNeeded([](const std::optional<InstallInfo>&) {});
}

void InstallerNetManager::requestInstallInfoIfNeeded(Completion completion) {
  if (!completion) completion = [](const std::optional<InstallInfo>&) {};
  if (auto cached = installInfo_.get()) {
    const double now = options_.now();
    // A clock set back to before the fetch makes the cache stale.
    if (cached->timeStamp < now && now - cached->timeStamp < kCacheLifetime) {
      completion(cached);
      return;
    }
  }
  const bool wasEmpty = featureRequestCompletionArray_.withValue([&](auto& pending) {
    const bool empty = pending.empty();
    pending.push_back(std::move(completion));
    return empty;
  });
  if (!wasEmpty) return;  // The request in flight answers this caller too.
  startRequest();
}

void InstallerNetManager::startRequest() {
  if (!options_.endpoint) {
    vela::jot::LogError("[FeatureDict] Invalid URL.");
    completeAllFeatureRequests(std::nullopt);
    return;
  }
  vela::jot::LogInfo("[FeatureDict] Start downloading feature dict from network...");
  // Held strongly: the waiting callers are answered even if the owner lets go.
  auto self = shared_from_this();
  auto task = options_.session->dataTask(
      {.url = *options_.endpoint, .maximumBodySize = kMaxInstallInfoSize},
      [self](std::optional<std::string> body, std::optional<HTTPURLResponse> response,
             std::optional<URLError> error) {
        if (error) {
          vela::jot::LogError("[FeatureDict] Network error: " + error->localizedDescription);
          self->completeAllFeatureRequests(std::nullopt);
          return;
        }
        if (!body) {
          vela::jot::LogError("[FeatureDict] No data received from network.");
          self->completeAllFeatureRequests(std::nullopt);
          return;
        }
        // An error page is not the document, even when it happens to decode.
        const bool statusOk = !response || response->isSuccess();
        auto info = statusOk ? InstallInfo::decode(*body, self->options_.now()) : std::nullopt;
        if (!info) {
          vela::jot::LogError("[FeatureDict] JSON parse error.");
          self->completeAllFeatureRequests(std::nullopt);
          return;
        }
        vela::jot::LogInfo("[FeatureDict] Feature dict downloaded and parsed successfully.");
        self->installInfo_.set(*info);
        self->completeAllFeatureRequests(info);
      });
  task->resume();
}

void InstallerNetManager::completeAllFeatureRequests(const std::optional<InstallInfo>& result) {
  // Taken out in one critical section: a completion may run on the main thread
  // while this loop is still scheduling, and a caller that asks again from
  // there belongs to the next round, not to this result.
  std::vector<Completion> waiting;
  featureRequestCompletionArray_.withValue([&](auto& pending) { waiting.swap(pending); });
  for (auto it = waiting.rbegin(); it != waiting.rend(); ++it) {
    Queue::main()->async([completion = std::move(*it), result] { completion(result); });
  }
}

}  // namespace quillo

namespace quillo {

void InstallerNetManager::manualReport(com::norvane::tanix::pb::QlStatPcAppCommonScene scene,
                                       com::norvane::tanix::pb::QlStatPcAppCommonAction action) {
  std::weak_ptr<InstallerNetManager> weak = weak_from_this();
  requestInstallInfoIfNeeded([weak, scene, action](const std::optional<InstallInfo>& info) {
    auto self = weak.lock();
    if (!self) return;
    const auto vid = self->vidProvider_.get();
    ReportContext context;
    context.clientTime = static_cast<int64_t>(self->options_.now());
    context.appVersion = displayVersion(info);
    context.vid = vid ? vid() : InstallerCaskManager::legalUin();
    context.deviceModelId = Utils::deviceModelID().value_or("");
    context.systemVersion = Utils::systemVer();
    self->sendReportToCGI(commonActionReportBody(scene, action, context));
  });
}

void InstallerNetManager::sendReportToCGI(std::string body) {
  if (!options_.reportEndpoint) {
    vela::jot::LogError("[Report] Invalid Report CGI URL.");
    return;
  }
  URLRequest request;
  request.url = *options_.reportEndpoint;
  request.httpMethod = "POST";
  request.timeoutInterval = 60.0;
  for (const auto& field : kReportHeaders) {
    request.headers.emplace_back(std::string(field.name), std::string(field.value));
  }
  request.httpBody = std::move(body);
  request.maximumBodySize = kMaxInstallInfoSize;  // The answer is not read; it may not fill memory.
  options_.session
      ->dataTask(std::move(request),
                 [](std::optional<std::string>, std::optional<HTTPURLResponse> response,
                    std::optional<URLError> error) {
                   const auto outcome = describeReportOutcome(response, error);
                   if (outcome.success) {
                     vela::jot::LogInfo(outcome.message);
                   } else {
                     vela::jot::LogError(outcome.message);
                   }
                 })
      ->resume();
}

ReportOutcome describeReportOutcome(const std::optional<HTTPURLResponse>& response,
                                    const std::optional<URLError>& error) {
  if (error) return {false, "[Report] CGI request failed: " + error->localizedDescription};
  if (!response) return {false, "[Report] CGI response is not HTTPURLResponse."};
  const auto status = std::to_string(response->statusCode);
  if (response->statusCode >= 200 && response->statusCode <= 299) {
    return {true, "[Report] CGI report success. Status: " + status};
  }
  return {false, "[Report] CGI report failed. Status: " + status};
}

}  // namespace quillo
