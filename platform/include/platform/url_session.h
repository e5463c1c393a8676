#pragma once
// URL sessions over HTTP(S): data tasks (GET, HEAD, POST, ...) whose
// completion runs on the session's callback queue, and download tasks that
// report to a delegate on the session's serial delegate queue.
//
//   auto task = URLSession::shared()->dataTask(request,
//       [](std::optional<std::string> body, std::optional<HTTPURLResponse> response,
//          std::optional<URLError> error) { ... });   // on the session's queue
//   task->resume();
//
// Tasks are created suspended; resume() starts them on a thread of their own.
// Every task completes exactly once: a data task through its completion, a
// download task through the delegate's didCompleteWithError callback.
// An HTTP error status (404, 500) is not a transport error: the answer is
// delivered like any other. Only http and https are accepted. Redirects are
// followed for GET and HEAD. The timeout is an idle timeout: the task fails
// with TimedOut when no byte moves for that long. All members are safe from
// any thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/dispatch.h"

namespace quillo {

// The domain of errors raised by URL loading itself.
inline constexpr std::string_view kURLErrorDomain = "quillo.url";

enum class URLErrorCode : int {
  Unknown = -1,
  Cancelled = -999,
  BadURL = -1000,
  TimedOut = -1001,
  UnsupportedURL = -1002,
  CannotFindHost = -1003,
  CannotConnectToHost = -1004,
  NetworkConnectionLost = -1005,
  TooManyRedirects = -1007,
  BadServerResponse = -1011,
  DataLengthExceedsMaximum = -1103,
  SecureConnectionFailed = -1200,
  CannotCreateFile = -3000,
  CannotWriteToFile = -3003,
};

// An error with a domain, a code and an English description. URL loading
// uses kURLErrorDomain and URLErrorCode; callers may build their own.
struct URLError {
  std::string domain;
  int code = 0;
  std::string localizedDescription;

  [[nodiscard]] static URLError loading(URLErrorCode code, std::string detail = {});
  [[nodiscard]] bool isURLLoadingError() const { return domain == kURLErrorDomain; }
  [[nodiscard]] bool is(URLErrorCode c) const {
    return isURLLoadingError() && code == static_cast<int>(c);
  }
};

using HTTPHeaders = std::vector<std::pair<std::string, std::string>>;

struct URLRequest {
  std::string url;
  std::string httpMethod = "GET";
  HTTPHeaders headers;  // Sent as given, in order.
  std::string httpBody;
  // Seconds without progress before TimedOut; nothing means the session's.
  std::optional<double> timeoutInterval;
  // The most body bytes accepted (negative: no limit). An answer announcing
  // more, or sending more, fails with DataLengthExceedsMaximum.
  int64_t maximumBodySize = -1;
};

// An absolute http or https address as libcurl's URL parser reads it: hosts
// with "_", IPv6 literals ("[::1]") and ports parse; blanks, control
// characters, other schemes and addresses without a host do not.
//
//   URLComponents::parse("http://[::1]:8080/a%20b.zip?x")
//     == {scheme "http", host "[::1]", port 8080, path "/a%20b.zip"}
struct URLComponents {
  std::string scheme;  // "http" or "https"
  std::string host;
  std::optional<int> port;
  std::string path;  // As written, percent-encoded; "/" at least.

  [[nodiscard]] static std::optional<URLComponents> parse(std::string_view text);
};

struct HTTPURLResponse {
  std::string url;  // After redirects.
  int statusCode = 0;
  HTTPHeaders headerFields;  // Of the final answer, in arrival order.

  // The first field of that name, compared without regard to case.
  [[nodiscard]] std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const;
  // Content-Length when it is a plain non-negative number, else -1.
  [[nodiscard]] int64_t expectedContentLength() const;
  [[nodiscard]] bool isSuccess() const { return statusCode >= 200 && statusCode < 300; }
};

struct URLSessionConfiguration {
  double timeoutIntervalForRequest = 60.0;

  [[nodiscard]] static URLSessionConfiguration defaultConfiguration() { return {}; }
};

class URLSession;
class URLSessionDownloadTask;

class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
 public:
  enum class State { Suspended, Running, Completed };

  virtual ~URLSessionTask();
  URLSessionTask(const URLSessionTask&) = delete;
  URLSessionTask& operator=(const URLSessionTask&) = delete;

  // Starts the transfer; later calls do nothing.
  void resume();
  // Stops the transfer; the task completes with Cancelled unless it has
  // completed already.
  void cancel();

  [[nodiscard]] uint64_t taskIdentifier() const;
  [[nodiscard]] State state() const;
  [[nodiscard]] const URLRequest& originalRequest() const;
  // Set once the answer's header has arrived.
  [[nodiscard]] std::optional<HTTPURLResponse> response() const;
  // Set when the task has failed.
  [[nodiscard]] std::optional<URLError> error() const;

  struct Impl;

 protected:
  explicit URLSessionTask(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> impl_;

  friend class URLSession;
  friend class TransferRunner;
};

class URLSessionDataTask final : public URLSessionTask {
  using URLSessionTask::URLSessionTask;
  friend class URLSession;
};

class URLSessionDownloadTask final : public URLSessionTask {
  using URLSessionTask::URLSessionTask;
  friend class URLSession;
};

// Receives a download task's reports, in this order, on the delegate queue:
// progress (any number of times, coalesced), finished-to-location (only when
// the transfer ended well), then completed with or without an error.
class URLSessionDownloadDelegate {
 public:
  virtual ~URLSessionDownloadDelegate() = default;

  // Bytes written since the last report, in total, and the expected total
  // (-1 when the server did not announce one).
  virtual void urlSession(URLSession& session, URLSessionDownloadTask& downloadTask,
                          int64_t didWriteData, int64_t totalBytesWritten,
                          int64_t totalBytesExpectedToWrite);
  // `didFinishDownloadingTo` is a file in the task's download folder that is
  // removed when this call returns: move it away to keep it.
  virtual void urlSession(URLSession& session, URLSessionDownloadTask& downloadTask,
                          const std::string& didFinishDownloadingTo) = 0;
  virtual void urlSession(URLSession& session, URLSessionTask& task,
                          const std::optional<URLError>& didCompleteWithError);
};

class URLSession : public std::enable_shared_from_this<URLSession> {
 public:
  using DataCompletion = std::function<void(std::optional<std::string> data,
                                            std::optional<HTTPURLResponse> response,
                                            std::optional<URLError> error)>;

  // The process-wide session: default configuration, its own serial callback
  // queue, no delegate.
  [[nodiscard]] static const std::shared_ptr<URLSession>& shared();
  // A session reporting download tasks to `delegate` (held weakly: reports
  // for a delegate that is gone are dropped) on `delegateQueue`, or on a new
  // serial queue of its own when that is null.
  [[nodiscard]] static std::shared_ptr<URLSession> make(
      URLSessionConfiguration configuration,
      std::weak_ptr<URLSessionDownloadDelegate> delegate = {},
      std::shared_ptr<Queue> delegateQueue = nullptr);

  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  // `completion` runs once on the delegate queue with the body (empty when
  // there was none) and the response, or with the error.
  [[nodiscard]] std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request,
                                                             DataCompletion completion);
  // Writes the body to a new private file in `downloadFolder` (which must
  // exist) and hands it to the delegate when the transfer has ended well.
  [[nodiscard]] std::shared_ptr<URLSessionDownloadTask> downloadTask(URLRequest request,
                                                                     std::string downloadFolder);

  // Cancels every task of this session and refuses new ones (they complete
  // with Cancelled as soon as they are resumed). Returns once the transfer
  // threads of its tasks have ended; their completions may still be queued.
  // Leaving the process does the same for every session.
  void invalidateAndCancel();
  // Tasks of this session whose transfer thread has not ended.
  [[nodiscard]] size_t runningTransferCount() const;

  [[nodiscard]] const URLSessionConfiguration& configuration() const { return configuration_; }
  [[nodiscard]] const std::shared_ptr<Queue>& delegateQueue() const { return delegateQueue_; }
  [[nodiscard]] std::shared_ptr<URLSessionDownloadDelegate> delegate() const {
    return delegate_.lock();
  }
  [[nodiscard]] bool isInvalidated() const;

 private:
  URLSession(URLSessionConfiguration configuration,
             std::weak_ptr<URLSessionDownloadDelegate> delegate,
             std::shared_ptr<Queue> delegateQueue);
  void track(const std::shared_ptr<URLSessionTask>& task);
  friend class URLSessionTask;

  const uint64_t id_;
  const URLSessionConfiguration configuration_;
  const std::weak_ptr<URLSessionDownloadDelegate> delegate_;
  const std::shared_ptr<Queue> delegateQueue_;

  mutable std::mutex mu_;
  bool invalidated_ = false;                                 // Guarded by mu_.
  std::vector<std::weak_ptr<URLSessionTask>> tasks_;  // Guarded by mu_.
};

}  // namespace quillo
