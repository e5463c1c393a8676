#include "installer/installer_net_manager.h"

#include <chrono>

#include "installer/g.h"
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
      {.url = *options_.endpoint},
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
  // Emptied before any completion runs, so a completion that asks again starts afresh.
  for (;;) {
    auto completion = featureRequestCompletionArray_.withValue([](auto& pending) -> Completion {
      if (pending.empty()) return nullptr;
      auto last = std::move(pending.back());
      pending.pop_back();
      return last;
    });
    if (!completion) return;
    Queue::main()->async([completion = std::move(completion), result] { completion(result); });
  }
}

}  // namespace quillo
