#include "platform/url_session.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "loopback_http_server.h"

namespace {

using namespace std::chrono_literals;
using quillo::HTTPURLResponse;
using quillo::URLError;
using quillo::URLErrorCode;
using quillo::URLRequest;
using quillo::URLSession;
using quillo::testing::CannedResponse;
using quillo::testing::LoopbackHttpServer;

constexpr auto kWait = 20s;

struct DataResult {
  std::optional<std::string> body;
  std::optional<HTTPURLResponse> response;
  std::optional<URLError> error;
  std::string queueLabel;
};

// Collects results that arrive on other threads.
template <typename T>
class Inbox {
 public:
  void put(T value) {
    std::lock_guard lock(mu_);
    items_.push_back(std::move(value));
    cv_.notify_all();
  }
  bool waitFor(size_t count) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, kWait, [&] { return items_.size() >= count; });
  }
  std::vector<T> items() {
    std::lock_guard lock(mu_);
    return items_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<T> items_;
};

class UrlSessionTest : public ::testing::Test {
 protected:
  DataResult fetch(URLRequest request, const std::shared_ptr<URLSession>& session = URLSession::shared()) {
    Inbox<DataResult> inbox;
    auto task = session->dataTask(std::move(request), [&inbox](auto body, auto response, auto error) {
      const char* label = quillo::Queue::currentLabel();
      inbox.put({std::move(body), std::move(response), std::move(error), label ? label : ""});
    });
    task->resume();
    EXPECT_TRUE(inbox.waitFor(1));
    auto items = inbox.items();
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? DataResult{} : items.front();
  }
  DataResult get(const std::string& path) { return fetch({.url = server_.url(path)}); }

  LoopbackHttpServer server_;
};

TEST_F(UrlSessionTest, GetDeliversStatusHeadersAndBodyOnTheSessionQueue) {
  server_.route("/doc", {.headers = {{"X-Thing", "42"}}, .body = "hello"});
  const auto result = get("/doc?x=1");
  ASSERT_FALSE(result.error);
  EXPECT_EQ(result.body, "hello");
  ASSERT_TRUE(result.response);
  EXPECT_EQ(result.response->statusCode, 200);
  EXPECT_EQ(result.response->valueForHTTPHeaderField("x-thing"), "42");
  EXPECT_EQ(result.response->expectedContentLength(), 5);
  EXPECT_EQ(result.queueLabel, URLSession::shared()->delegateQueue()->label());
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].target, "/doc?x=1");
  server_.route("/empty", CannedResponse{});
  EXPECT_EQ(get("/empty").response->expectedContentLength(), 0);
}

TEST_F(UrlSessionTest, HeadGivesTheHeaderWithoutABody) {
  server_.route("/pkg", {.body = std::string(1000, 'z')});
  const auto result = fetch({.url = server_.url("/pkg"), .httpMethod = "HEAD"});
  ASSERT_FALSE(result.error);
  EXPECT_EQ(result.body, "");
  EXPECT_EQ(result.response->valueForHTTPHeaderField("Content-Length"), "1000");
  EXPECT_EQ(server_.requestCount("HEAD", "/pkg"), 1u);
}

TEST_F(UrlSessionTest, PostSendsMethodHeadersAndBody) {
  server_.route("/report", {.body = "ok"});
  const std::string body = "content=" + std::string(5000, 'a');
  const auto result = fetch({.url = server_.url("/report"),
                             .httpMethod = "POST",
                             .headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                                         {"Kb-OsType", "5"}},
                             .httpBody = body});
  ASSERT_FALSE(result.error);
  EXPECT_EQ(result.body, "ok");
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(requests[0].header("Kb-OsType"), "5");
  EXPECT_EQ(requests[0].body, body);
}

TEST_F(UrlSessionTest, RedirectsAreFollowedForGet) {
  server_.route("/old", {.status = 302, .headers = {{"Location", "/new"}}});
  server_.route("/new", {.body = "moved here"});
  const auto result = get("/old");
  ASSERT_FALSE(result.error);
  EXPECT_EQ(result.body, "moved here");
  EXPECT_EQ(result.response->url, server_.url("/new"));
  EXPECT_EQ(server_.requestCount("GET", "/new"), 1u);
}

TEST_F(UrlSessionTest, RedirectChainsEndAtSixteenHops) {
  for (int hop = 0; hop < 17; ++hop) {
    server_.route("/hop" + std::to_string(hop),
                  {.status = 302, .headers = {{"Location", "/hop" + std::to_string(hop + 1)}}});
  }
  server_.route("/hop17", {.body = "end"});
  EXPECT_EQ(get("/hop1").body, "end");
  EXPECT_TRUE(get("/hop0").error->is(URLErrorCode::TooManyRedirects));
}

TEST_F(UrlSessionTest, ErrorStatusesAreAnswersNotErrors) {
  server_.route("/boom", {.status = 500, .body = "<html>oops</html>"});
  for (const char* path : {"/missing", "/boom"}) {
    const auto result = get(path);
    ASSERT_FALSE(result.error) << path;
    EXPECT_EQ(result.response->statusCode, std::string(path) == "/boom" ? 500 : 404);
    EXPECT_FALSE(result.response->isSuccess());
  }
}

TEST_F(UrlSessionTest, TransportFailuresHaveTheirCodes) {
  server_.route("/garbage", {.raw = "garbage that is not http\r\n\r\n"});
  server_.route("/cut", {.body = std::string(10000, 'x'), .cutAfter = 100});
  EXPECT_TRUE(get("/garbage").error->is(URLErrorCode::BadServerResponse));
  server_.route("/to-file", {.status = 302, .headers = {{"Location", "file:///etc/passwd"}}});
  EXPECT_TRUE(get("/to-file").error->is(URLErrorCode::UnsupportedURL));
  // A scheme curl would follow by default: refused, never connected to.
  server_.route("/to-ftp", {.status = 302, .headers = {{"Location", "ftp://127.0.0.1:1/x"}}});
  EXPECT_TRUE(get("/to-ftp").error->is(URLErrorCode::UnsupportedURL));
  EXPECT_TRUE(get("/cut").error->is(URLErrorCode::NetworkConnectionLost));
  EXPECT_TRUE(fetch({.url = "file:///etc/passwd"}).error->is(URLErrorCode::UnsupportedURL));
  EXPECT_TRUE(fetch({.url = ""}).error->is(URLErrorCode::BadURL));

  LoopbackHttpServer gone;
  const auto url = gone.url("/x");
  gone.stop();
  EXPECT_TRUE(fetch({.url = url}).error->is(URLErrorCode::CannotConnectToHost));
}

TEST_F(UrlSessionTest, StalledServerHitsTheIdleTimeout) {
  server_.route("/stall", {.stall = true});
  server_.route("/slow", {.body = std::string(40, 's'), .chunkSize = 10, .chunkDelay = 50ms});
  const auto stalled = fetch({.url = server_.url("/stall"), .timeoutInterval = 0.3});
  ASSERT_TRUE(stalled.error);
  EXPECT_TRUE(stalled.error->is(URLErrorCode::TimedOut));
  // Steady trickles keep a transfer alive past the idle timeout.
  const auto slow = fetch({.url = server_.url("/slow"), .timeoutInterval = 0.5});
  ASSERT_FALSE(slow.error);
  EXPECT_EQ(slow.body->size(), 40u);
}

TEST_F(UrlSessionTest, CancelCompletesOnceWithCancelled) {
  server_.route("/stall", {.stall = true});
  Inbox<DataResult> inbox;
  auto task = URLSession::shared()->dataTask({.url = server_.url("/stall")},
                                             [&](auto body, auto response, auto error) {
                                               inbox.put({body, response, error, ""});
                                             });
  task->resume();
  ASSERT_TRUE(server_.waitForRequests("/stall", 1, kWait));
  task->cancel();
  task->cancel();
  ASSERT_TRUE(inbox.waitFor(1));
  EXPECT_TRUE(inbox.items()[0].error->is(URLErrorCode::Cancelled));
  EXPECT_FALSE(inbox.items()[0].body);

  // Cancelled before it began: no request is made.
  auto early = URLSession::shared()->dataTask({.url = server_.url("/never")},
                                              [&](auto body, auto response, auto error) {
                                                inbox.put({body, response, error, ""});
                                              });
  early->cancel();
  early->resume();
  ASSERT_TRUE(inbox.waitFor(2));
  EXPECT_TRUE(inbox.items()[1].error->is(URLErrorCode::Cancelled));
  EXPECT_EQ(server_.requestCount("GET", "/never"), 0u);
  EXPECT_EQ(inbox.items().size(), 2u);
}

// What a hostile or broken server may send.

TEST_F(UrlSessionTest, BodyAboveTheLimitFailsWhetherAnnouncedOrNot) {
  server_.route("/announced", {.body = std::string(2000, 'a')});
  server_.route("/unannounced", {.body = std::string(2000, 'u'), .omitContentLength = true});
  server_.route("/fits", {.body = std::string(1000, 'f'), .omitContentLength = true});
  for (const char* path : {"/announced", "/unannounced"}) {
    const auto r = fetch({.url = server_.url(path), .maximumBodySize = 1000});
    ASSERT_TRUE(r.error) << path;
    EXPECT_TRUE(r.error->is(URLErrorCode::DataLengthExceedsMaximum))
        << path << ": " << r.error->code;
    EXPECT_FALSE(r.body);
  }
  const auto fits = fetch({.url = server_.url("/fits"), .maximumBodySize = 1000});
  ASSERT_FALSE(fits.error);
  EXPECT_EQ(fits.body->size(), 1000u);
}

TEST_F(UrlSessionTest, HeadHandsOverALengthCurlCannotParse) {
  for (const std::string length : {"abc", "-5", "12abc", ""}) {
    server_.route("/size", {.raw = "HTTP/1.1 200 OK\r\nContent-Length: " + length +
                                   "\r\nConnection: close\r\n\r\n"});
    const auto r = fetch({.url = server_.url("/size"), .httpMethod = "HEAD"});
    ASSERT_FALSE(r.error) << length << ": " << r.error->localizedDescription;
    EXPECT_EQ(r.response->valueForHTTPHeaderField("Content-Length"), length);
    EXPECT_EQ(r.response->expectedContentLength(), -1);
  }
}

TEST(URLComponentsTest, AddressesParseAsAURLParserReadsThem) {
  using quillo::URLComponents;
  const auto ipv6 = URLComponents::parse("http://[::1]:8080/a%20b.zip?x=1#f");
  ASSERT_TRUE(ipv6);
  EXPECT_EQ(ipv6->scheme, "http");
  EXPECT_EQ(ipv6->host, "[::1]");
  EXPECT_EQ(ipv6->port, 8080);
  EXPECT_EQ(ipv6->path, "/a%20b.zip");
  const auto underscore = URLComponents::parse("HTTPS://cdn_1.example.com");
  ASSERT_TRUE(underscore);
  EXPECT_EQ(underscore->scheme, "https");
  EXPECT_EQ(underscore->host, "cdn_1.example.com");
  EXPECT_EQ(underscore->port, std::nullopt);
  EXPECT_EQ(underscore->path, "/");
  for (const std::string& bad : std::vector<std::string>{
           "ftp://host/x", "file:///etc/passwd", "http://", "host/x", "http://host/a b",
           "http://host/a\nb", std::string("http://host/a\0b", 15), "http://host:99999/", ""}) {
    EXPECT_FALSE(URLComponents::parse(bad)) << bad;
  }
}

// Transfer threads.

TEST_F(UrlSessionTest, InvalidatingASessionJoinsItsTransferThreads) {
  server_.route("/stall", {.stall = true});
  auto session = URLSession::make({});
  Inbox<DataResult> inbox;
  for (int i = 0; i < 3; ++i) {
    session
        ->dataTask({.url = server_.url("/stall")},
                   [&](auto body, auto response, auto error) {
                     inbox.put({body, response, error, ""});
                   })
        ->resume();
  }
  ASSERT_TRUE(server_.waitForRequests("/stall", 3, kWait));
  EXPECT_EQ(session->runningTransferCount(), 3u);
  session->invalidateAndCancel();
  EXPECT_EQ(session->runningTransferCount(), 0u) << "joined before invalidateAndCancel returns";
  ASSERT_TRUE(inbox.waitFor(3));
  for (const auto& r : inbox.items()) EXPECT_TRUE(r.error->is(URLErrorCode::Cancelled));
}

// A process that ends with transfers in flight cancels and joins them first,
// so no transfer thread is inside libcurl while the process tears down.
TEST_F(UrlSessionTest, ExitWithTransfersInFlightEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  server_.route("/stall", {.stall = true});
  const auto url = server_.url("/stall");
  EXPECT_EXIT(
      {
        auto session = URLSession::make({});
        for (int i = 0; i < 2; ++i)
          session->dataTask({.url = url}, [](auto, auto, auto) {})->resume();
        while (session->runningTransferCount() < 2) std::this_thread::sleep_for(1ms);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// Download tasks.

struct Event {
  std::string kind;  // "progress", "finish", "complete"
  int64_t written = 0;
  int64_t expected = 0;
  std::string content;  // Of the file handed to finish.
  std::string location;
  std::optional<URLError> error;
};

class RecordingDelegate : public quillo::URLSessionDownloadDelegate {
 public:
  void urlSession(URLSession&, quillo::URLSessionDownloadTask&, int64_t, int64_t total,
                  int64_t expected) override {
    events.put({.kind = "progress", .written = total, .expected = expected});
  }
  void urlSession(URLSession&, quillo::URLSessionDownloadTask&, const std::string& location) override {
    std::ifstream in(location, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    events.put({.kind = "finish", .content = content, .location = location});
  }
  void urlSession(URLSession&, quillo::URLSessionTask&, const std::optional<URLError>& error) override {
    events.put({.kind = "complete", .error = error});
  }
  Inbox<Event> events;
};

class DownloadTaskTest : public UrlSessionTest {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::path(::testing::TempDir()) /
              ("url-session-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // Downloads `path` and returns every delegate report up to completion.
  std::vector<Event> download(const std::string& path) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = URLSession::make({.timeoutIntervalForRequest = 5.0}, delegate);
    session->downloadTask({.url = server_.url(path)}, folder_.string())->resume();
    return waitForCompletion(*delegate);
  }
  static std::vector<Event> waitForCompletion(RecordingDelegate& delegate) {
    for (size_t n = 1;; ++n) {
      if (!delegate.events.waitFor(n)) return delegate.events.items();
      if (delegate.events.items()[n - 1].kind == "complete") return delegate.events.items();
    }
  }
  size_t filesInFolder() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder_), {}));
  }

  std::filesystem::path folder_;
};

TEST_F(DownloadTaskTest, ReportsProgressThenFinishThenCompleteAndCleansUp) {
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13 + (i >> 9));
  struct Row {
    const char* name;
    CannedResponse response;
    int64_t expected;
  };
  // The slow one's every piece is reported before the next arrives, so the
  // last report before the finish has nothing new to say.
  const Row rows[] = {
      {"at once", {.body = big}, static_cast<int64_t>(big.size())},
      {"in slow pieces, no length",
       {.body = "abc", .omitContentLength = true, .chunkSize = 1, .chunkDelay = 150ms},
       -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    server_.route("/pkg.zip", row.response);
    const auto events = download("/pkg.zip");
    ASSERT_GE(events.size(), 3u);
    const auto& finish = events[events.size() - 2];
    EXPECT_EQ(finish.kind, "finish");
    EXPECT_EQ(finish.content, row.response.body);
    EXPECT_EQ(std::filesystem::path(finish.location).parent_path(), folder_);
    EXPECT_EQ(events.back().kind, "complete");
    EXPECT_FALSE(events.back().error);
    int64_t last = 0;
    for (size_t i = 0; i + 2 < events.size(); ++i) {
      EXPECT_EQ(events[i].kind, "progress");
      EXPECT_EQ(events[i].expected, row.expected);
      EXPECT_GT(events[i].written, last) << "a report of no new bytes";
      last = events[i].written;
    }
    EXPECT_EQ(last, static_cast<int64_t>(row.response.body.size()));
    EXPECT_EQ(filesInFolder(), 0u);  // Not moved by the delegate: removed.
  }
}

// Reports for a delegate that is gone are dropped; the file is still removed.
TEST_F(DownloadTaskTest, GoneDelegateGetsNothingAndLeavesNoFile) {
  server_.route("/pkg.zip", {.body = std::string(100000, 'g')});
  auto delegate = std::make_shared<RecordingDelegate>();
  auto session = URLSession::make({.timeoutIntervalForRequest = 5.0}, delegate);
  auto task = session->downloadTask({.url = server_.url("/pkg.zip")}, folder_.string());
  delegate.reset();
  task->resume();
  ASSERT_TRUE(server_.waitForRequests("/pkg.zip", 1, kWait));
  while (session->runningTransferCount() > 0) std::this_thread::sleep_for(1ms);
  Inbox<int> drained;  // The delegate queue is serial: what was queued before has run.
  session->delegateQueue()->async([&] { drained.put(1); });
  ASSERT_TRUE(drained.waitFor(1));
  EXPECT_EQ(filesInFolder(), 0u);
}

TEST_F(DownloadTaskTest, CutOffTransferCompletesWithAnErrorAndNoFinish) {
  server_.route("/pkg.zip", {.body = std::string(100000, 'p'), .cutAfter = 5000});
  const auto events = download("/pkg.zip");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().kind, "complete");
  ASSERT_TRUE(events.back().error);
  EXPECT_TRUE(events.back().error->is(URLErrorCode::NetworkConnectionLost));
  for (const auto& e : events) EXPECT_NE(e.kind, "finish");
  EXPECT_EQ(filesInFolder(), 0u);
}

TEST_F(DownloadTaskTest, InvalidatedSessionCancelsItsDownload) {
  server_.route("/pkg.zip", {.stall = true});
  auto delegate = std::make_shared<RecordingDelegate>();
  auto session = URLSession::make({}, delegate);
  session->downloadTask({.url = server_.url("/pkg.zip")}, folder_.string())->resume();
  ASSERT_TRUE(server_.waitForRequests("/pkg.zip", 1, kWait));
  session->invalidateAndCancel();
  EXPECT_EQ(session->runningTransferCount(), 0u);
  const auto events = waitForCompletion(*delegate);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].error->is(URLErrorCode::Cancelled));
  EXPECT_EQ(filesInFolder(), 0u);
}

// A file size limit makes the download's writes fail as a full disk would.
TEST_F(DownloadTaskTest, WriteFailureCompletesWithCannotWriteToFileAndNoFinish) {
  server_.route("/pkg.zip", {.body = std::string(200000, 'w')});
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = std::min<rlim_t>(saved.rlim_max, 4096);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const auto events = download("/pkg.zip");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().kind, "complete");
  ASSERT_TRUE(events.back().error);
  EXPECT_TRUE(events.back().error->is(URLErrorCode::CannotWriteToFile))
      << events.back().error->code;
  EXPECT_NE(events.back().error->localizedDescription.find(std::strerror(EFBIG)), std::string::npos)
      << "the reason is the write's: " << events.back().error->localizedDescription;
  for (const auto& e : events) EXPECT_NE(e.kind, "finish");
  EXPECT_EQ(filesInFolder(), 0u);
}

TEST_F(DownloadTaskTest, MissingFolderFailsWithoutARequest) {
  auto delegate = std::make_shared<RecordingDelegate>();
  auto session = URLSession::make({}, delegate);
  session->downloadTask({.url = server_.url("/pkg.zip")}, (folder_ / "nope").string())->resume();
  const auto events = waitForCompletion(*delegate);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].error->is(URLErrorCode::CannotCreateFile));
  EXPECT_TRUE(server_.requests().empty());
}

}  // namespace
