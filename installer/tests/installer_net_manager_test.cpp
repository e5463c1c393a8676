#include "installer/installer_net_manager.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "installer/installer_zip_download_manager.h"
#include "loopback_http_server.h"
#include "platform/dispatch.h"

namespace {

using namespace std::chrono_literals;
using quillo::InstallerNetManager;
using quillo::InstallInfo;
using quillo::testing::CannedResponse;
using quillo::testing::LoopbackHttpServer;

constexpr const char* kPath = "/web/mac/download";
constexpr double kClockStep = 0.001;
constexpr const char* kDoc =
    R"({"zip_download_url":"http://127.0.0.1/p.zip","zip_download_md5":"abc","zip_version":"1.2.3.4","package_type":"beta"})";

struct Answer {
  int order = -1;  // Position among the answers of the test.
  bool onMainThread = false;
  bool synchronous = false;
  std::optional<InstallInfo> info;
};

class InstallerNetManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { server_.route(kPath, CannedResponse{.body = kDoc}); }
  void TearDown() override { quillo::mainPlainLoop().clear(); }

  std::shared_ptr<InstallerNetManager> makeManager(std::optional<std::string> endpoint,
                                                   double timeout = 60.0) {
    return InstallerNetManager::create(
        {.endpoint = std::move(endpoint),
         .session = quillo::URLSession::make({.timeoutIntervalForRequest = timeout}),
         // Every reading is a little later, as a real clock's: a caller that
         // asks right after an answer finds it fresh, not stale at an equal time.
         .now = [this] { return now_.fetch_add(kClockStep) + kClockStep; }});
  }
  std::shared_ptr<InstallerNetManager> manager() {
    if (!manager_) manager_ = makeManager(server_.url(std::string(kPath) + "?channel=InstallInfo"));
    return manager_;
  }

  // Asks once; the answer lands in the returned slot.
  std::shared_ptr<Answer> ask(const std::shared_ptr<InstallerNetManager>& m) {
    auto answer = std::make_shared<Answer>();
    auto returned = std::make_shared<bool>(false);
    m->requestInstallInfoIfNeeded([this, answer, returned](const std::optional<InstallInfo>& info) {
      answer->order = answered_++;
      answer->onMainThread = quillo::isMainThread();
      answer->synchronous = !*returned;
      answer->info = info;
    });
    *returned = true;
    return answer;
  }
  std::shared_ptr<Answer> ask() { return ask(manager()); }
  bool waitUntilAnswered(int count) {
    return quillo::mainPlainLoop().runUntil([&] { return answered_ >= count; }, 20s);
  }
  size_t documentRequests() const { return server_.requestCount("GET", kPath); }

  LoopbackHttpServer server_;
  std::atomic<double> now_{1'700'000'000.0};
  std::shared_ptr<InstallerNetManager> manager_;
  int answered_ = 0;
};

TEST_F(InstallerNetManagerTest, ConcurrentCallersShareOneRequestAndTheLastAskerIsAnsweredFirst) {
  auto first = ask();
  auto second = ask();
  auto third = ask();
  ASSERT_TRUE(waitUntilAnswered(3));
  EXPECT_EQ(documentRequests(), 1u);
  EXPECT_EQ(third->order, 0);
  EXPECT_EQ(second->order, 1);
  EXPECT_EQ(first->order, 2);
  for (const auto& a : {first, second, third}) {
    EXPECT_TRUE(a->onMainThread);
    EXPECT_FALSE(a->synchronous);
    ASSERT_TRUE(a->info);
    EXPECT_EQ(a->info->zip_version, "1.2.3.4");
    EXPECT_EQ(a->info->timeStamp, now_.load());
  }
  EXPECT_EQ(server_.requests()[0].target, std::string(kPath) + "?channel=InstallInfo");
}

TEST_F(InstallerNetManagerTest, CallersFromManyThreadsStillMakeOneRequest) {
  // The answer waits until every caller has asked, so none comes late: with
  // the test's frozen clock a late caller would find the cache stale (its
  // time equals the fetch's) and rightly fetch again.
  constexpr int kCallers = 8;
  std::atomic<int> asked{0};
  server_.route(kPath, [&](const quillo::testing::RecordedRequest&) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (asked < kCallers && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    return CannedResponse{.body = kDoc, .chunkSize = 8, .chunkDelay = 5ms};
  });
  std::vector<std::thread> threads;
  std::atomic<int> answers{0};
  auto m = manager();
  for (int i = 0; i < kCallers; ++i) {
    threads.emplace_back([&] {
      m->requestInstallInfoIfNeeded([&](const auto& info) {
        EXPECT_TRUE(info);
        ++answers;
      });
      ++asked;
    });
  }
  for (auto& t : threads) t.join();
  ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return answers == kCallers; }, 20s));
  EXPECT_EQ(documentRequests(), 1u);
}

TEST_F(InstallerNetManagerTest, FreshCacheAnswersAtOnceAndAStaleOneFetchesAgain) {
  ask();
  ASSERT_TRUE(waitUntilAnswered(1));
  now_ = now_ + 3599.0;
  auto cached = ask();
  EXPECT_TRUE(cached->synchronous);
  EXPECT_TRUE(cached->info);
  EXPECT_EQ(documentRequests(), 1u);

  now_ = now_ + 1.0;  // Exactly an hour old: stale.
  auto refetched = ask();
  EXPECT_FALSE(refetched->synchronous);
  ASSERT_TRUE(waitUntilAnswered(3));
  EXPECT_EQ(documentRequests(), 2u);
}

TEST_F(InstallerNetManagerTest, ClockSetBackMakesTheCacheStale) {
  ask();
  ASSERT_TRUE(waitUntilAnswered(1));
  now_ = now_ - 10.0;
  auto answer = ask();
  EXPECT_FALSE(answer->synchronous);
  ASSERT_TRUE(waitUntilAnswered(2));
  EXPECT_EQ(documentRequests(), 2u);
}

TEST_F(InstallerNetManagerTest, UndecodableDocumentGivesNothingAndKeepsThePreviousCache) {
  ask();
  ASSERT_TRUE(waitUntilAnswered(1));
  now_ = now_ + 7200.0;
  server_.route(kPath, CannedResponse{.body = R"({"zip_version":1.2})"});
  auto answer = ask();
  ASSERT_TRUE(waitUntilAnswered(2));
  EXPECT_FALSE(answer->info);
  ASSERT_TRUE(manager()->installInfo());
  EXPECT_EQ(manager()->installInfo()->zip_version, "1.2.3.4");
}

TEST_F(InstallerNetManagerTest, ErrorStatusIsAFailureAndIsNotCached) {
  server_.route(kPath, CannedResponse{.status = 404, .body = "<html>Not Found</html>"});
  auto html = ask();
  ASSERT_TRUE(waitUntilAnswered(1));
  EXPECT_FALSE(html->info);

  // Even a well-formed document under an error status is not the answer.
  server_.route(kPath, CannedResponse{.status = 500, .body = kDoc});
  auto json = ask();
  ASSERT_TRUE(waitUntilAnswered(2));
  EXPECT_FALSE(json->info);
  EXPECT_FALSE(manager()->installInfo());

  server_.route(kPath, CannedResponse{.body = kDoc});
  auto good = ask();
  ASSERT_TRUE(waitUntilAnswered(3));
  EXPECT_TRUE(good->info);
  EXPECT_EQ(documentRequests(), 3u);
}

// A hostile endpoint cannot make us hold an endless document: above 1 MiB
// it is refused, announced or not.
TEST_F(InstallerNetManagerTest, DocumentAboveOneMiBIsRefused) {
  const std::string padded = std::string(R"({"package_type":")") +
                             std::string(InstallerNetManager::kMaxInstallInfoSize, 'x') + R"("})";
  for (const bool announced : {true, false}) {
    SCOPED_TRACE(announced ? "announced" : "unannounced");
    server_.route(kPath, CannedResponse{.body = padded, .omitContentLength = !announced});
    auto answer = ask();
    ASSERT_TRUE(waitUntilAnswered(announced ? 1 : 2));
    EXPECT_FALSE(answer->info);
  }
  server_.route(kPath, CannedResponse{.body = kDoc});
  auto good = ask();
  ASSERT_TRUE(waitUntilAnswered(3));
  EXPECT_TRUE(good->info);
}

TEST_F(InstallerNetManagerTest, TransportFailuresAnswerEveryCallerWithNothingOnTheMainThread) {
  LoopbackHttpServer gone;
  const auto url = gone.url(kPath);
  gone.stop();
  auto refused = makeManager(url);
  auto a = ask(refused);
  auto b = ask(refused);
  ASSERT_TRUE(waitUntilAnswered(2));
  EXPECT_FALSE(a->info);
  EXPECT_FALSE(b->info);
  EXPECT_TRUE(a->onMainThread && b->onMainThread);

  auto noUrl = makeManager(std::nullopt);
  auto c = ask(noUrl);
  EXPECT_FALSE(c->synchronous);
  ASSERT_TRUE(waitUntilAnswered(3));
  EXPECT_FALSE(c->info);
  EXPECT_TRUE(c->onMainThread);
}

TEST_F(InstallerNetManagerTest, StalledServerTimesOutAndTheNextCallTriesAgain) {
  server_.route(kPath, CannedResponse{.stall = true});
  auto stalled = makeManager(server_.url(kPath), 0.3);
  auto first = ask(stalled);
  ASSERT_TRUE(waitUntilAnswered(1));
  EXPECT_FALSE(first->info);
  server_.route(kPath, CannedResponse{.body = kDoc});
  auto second = ask(stalled);
  ASSERT_TRUE(waitUntilAnswered(2));
  EXPECT_TRUE(second->info);
}

TEST_F(InstallerNetManagerTest, CompletionThatAsksAgainStartsANewRound) {
  std::shared_ptr<Answer> inner;
  manager()->requestInstallInfoIfNeeded([&](const auto&) {
    ++answered_;
    now_ = now_ + 4000.0;  // Make the fresh document stale.
    inner = ask();
  });
  ASSERT_TRUE(waitUntilAnswered(2));
  EXPECT_TRUE(inner->info);
  EXPECT_EQ(documentRequests(), 2u);
}

TEST_F(InstallerNetManagerTest, CallerAskingAgainMidRoundIsNotAnsweredWithTheOldResult) {
  // Many waiters keep the answering round busy while the first answered
  // caller (the last asker) already asks again on the main thread.
  std::optional<InstallInfo> reasked;
  bool reaskAnswered = false;
  auto m = manager();
  for (int i = 0; i < 300; ++i) m->requestInstallInfoIfNeeded([](const auto&) {});
  m->requestInstallInfoIfNeeded([&](const auto&) {
    server_.route(kPath, CannedResponse{.body = R"({"zip_version":"9.9.9.9"})"});
    now_ = now_ + 4000.0;
    m->requestInstallInfoIfNeeded([&](const auto& info) {
      reasked = info;
      reaskAnswered = true;
    });
  });
  ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return reaskAnswered; }, 20s));
  ASSERT_TRUE(reasked);
  EXPECT_EQ(reasked->zip_version, "9.9.9.9");
  EXPECT_EQ(documentRequests(), 2u);
}

TEST_F(InstallerNetManagerTest, VersionStringFollowsTheDocument) {
  auto downloads = quillo::InstallerZipDownloadManager::create({.netManager = manager()});
  std::string version = "unset";
  downloads->getVersionString([&](std::string text) { version = std::move(text); });
  ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return version != "unset"; }, 20s));
  EXPECT_EQ(version, "1.2.3(4) beta");

  server_.route(kPath, CannedResponse{.body = R"({"zip_version":"1.2.3"})"});
  now_ = now_ + 4000.0;
  version = "unset";
  downloads->getVersionString([&](std::string text) { version = std::move(text); });
  ASSERT_TRUE(quillo::mainPlainLoop().runUntil([&] { return version != "unset"; }, 20s));
  EXPECT_EQ(version, "");
}

}  // namespace
