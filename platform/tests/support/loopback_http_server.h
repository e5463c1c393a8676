#pragma once
// An HTTP/1.1 server on 127.0.0.1 (a free port) for tests and benchmarks. It
// records every request and answers each from a route: good answers, files
// (sent with sendfile), slow or cut-off bodies, answers without a length,
// stalls and raw bytes for malformed answers. Every answer closes its
// connection. Safe from any thread.
//
//   quillo::testing::LoopbackHttpServer server;
//   server.route("/info", {.body = R"({"zip_version":"1.2.3.4"})"});
//   fetch(server.url("/info"));
//   EXPECT_EQ(server.requestCount("GET", "/info"), 1u);
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quillo::testing {

struct RecordedRequest {
  std::string method;
  std::string target;  // As sent, with the query.
  std::string path;    // Without the query.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The first header of that name, compared without regard to case.
  [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
};

struct CannedResponse {
  int status = 200;
  // Sent as given. A "Content-Length" here replaces the computed one.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Sent instead of `body` when set; its size is the Content-Length.
  std::optional<std::string> bodyFile;
  // No Content-Length: the body ends when the connection closes.
  bool omitContentLength = false;
  // The full length is announced but the connection closes after this many body bytes.
  std::optional<size_t> cutAfter;
  // Send the body in pieces of this size with a pause after each (0: at once).
  size_t chunkSize = 0;
  std::chrono::milliseconds chunkDelay{0};
  // Read the request and answer nothing until the server stops.
  bool stall = false;
  // Sent verbatim instead of a built answer.
  std::optional<std::string> raw;
};

using Handler = std::function<CannedResponse(const RecordedRequest&)>;

class LoopbackHttpServer {
 public:
  // Listens at once on `port` (0: a free one); answers 404 for paths without
  // a route. Throws std::runtime_error when the port cannot be had.
  explicit LoopbackHttpServer(uint16_t port = 0);
  // Stops: closes every connection (stalled ones too) and joins its threads.
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  [[nodiscard]] uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" + pathAndQuery.
  [[nodiscard]] std::string url(std::string_view pathAndQuery) const;

  // Routes by path (the query is ignored); a later route replaces an earlier one.
  void route(std::string path, Handler handler);
  void route(std::string path, CannedResponse response);

  [[nodiscard]] std::vector<RecordedRequest> requests() const;
  [[nodiscard]] size_t requestCount(std::string_view method, std::string_view path) const;
  // Waits until `count` requests for `path` have arrived; false after `timeout`.
  bool waitForRequests(std::string_view path, size_t count, std::chrono::milliseconds timeout);

  // Releases every stalled answer (their connections close) and keeps serving.
  void releaseStalled();
  void stop();

 private:
  void acceptLoop();
  void serve(int fd);
  void answer(int fd, const RecordedRequest& request, const CannedResponse& response);
  // Waits up to `delay`; returns false when the server is stopping.
  bool pause(std::chrono::milliseconds delay);

  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::thread acceptThread_;

  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool stopping_ = false;                      // Guarded by mu_.
  uint64_t stallEpoch_ = 0;                    // Guarded by mu_.
  std::map<std::string, Handler> routes_;      // Guarded by mu_.
  std::vector<RecordedRequest> requests_;      // Guarded by mu_.
  std::vector<int> openFds_;                   // Guarded by mu_.
  std::vector<std::thread> connections_;       // Guarded by mu_.
};

}  // namespace quillo::testing
