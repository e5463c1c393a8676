#include "platform/url_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include <curl/curl.h>

#include "platform/file_handle.h"

namespace quillo {
namespace {

using namespace std::chrono_literals;

// Large reads keep a loopback transfer from being bound by callback and write
// overhead; 512 KiB is the most libcurl accepts.
constexpr long kDownloadBufferSize = 512 * 1024;
constexpr long kMaxRedirects = 16;
constexpr auto kProgressInterval = std::chrono::milliseconds(20);

void initCurlOnce() {
  static const bool ready = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return true;
  }();
  (void)ready;
}

std::atomic<uint64_t> gNextTaskId{1};
std::atomic<uint64_t> gNextSessionId{1};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

const char* describe(URLErrorCode code) {
  switch (code) {
    case URLErrorCode::Cancelled: return "cancelled";
    case URLErrorCode::BadURL: return "bad URL";
    case URLErrorCode::TimedOut: return "The request timed out.";
    case URLErrorCode::UnsupportedURL: return "unsupported URL";
    case URLErrorCode::CannotFindHost: return "A server with the specified hostname could not be found.";
    case URLErrorCode::CannotConnectToHost: return "Could not connect to the server.";
    case URLErrorCode::NetworkConnectionLost: return "The network connection was lost.";
    case URLErrorCode::TooManyRedirects: return "too many HTTP redirects";
    case URLErrorCode::BadServerResponse: return "The server returned a malformed answer.";
    case URLErrorCode::DataLengthExceedsMaximum:
      return "The resource exceeds the maximum size.";
    case URLErrorCode::SecureConnectionFailed: return "A secure connection to the server could not be made.";
    case URLErrorCode::CannotCreateFile: return "The download file could not be created.";
    case URLErrorCode::CannotWriteToFile: return "The download file could not be written.";
    case URLErrorCode::Unknown: break;
  }
  return "An unknown error occurred.";
}

URLErrorCode codeForCurl(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT: return URLErrorCode::TimedOut;
    case CURLE_URL_MALFORMAT: return URLErrorCode::BadURL;
    case CURLE_UNSUPPORTED_PROTOCOL: return URLErrorCode::UnsupportedURL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return URLErrorCode::CannotFindHost;
    case CURLE_COULDNT_CONNECT: return URLErrorCode::CannotConnectToHost;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING: return URLErrorCode::NetworkConnectionLost;
    case CURLE_TOO_MANY_REDIRECTS: return URLErrorCode::TooManyRedirects;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return URLErrorCode::BadServerResponse;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE: return URLErrorCode::SecureConnectionFailed;
    case CURLE_WRITE_ERROR: return URLErrorCode::CannotWriteToFile;
    case CURLE_FILESIZE_EXCEEDED:
      return URLErrorCode::DataLengthExceedsMaximum;
    default: return URLErrorCode::Unknown;
  }
}

}  // namespace

URLError URLError::loading(URLErrorCode code, std::string detail) {
  URLError error{std::string(kURLErrorDomain), static_cast<int>(code), describe(code)};
  if (!detail.empty()) error.localizedDescription += " (" + detail + ")";
  return error;
}

std::optional<URLComponents> URLComponents::parse(std::string_view text) {
  // curl_url reads up to a NUL; an address holding one is not an address.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  initCurlOnce();
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
  if (!url || curl_url_set(url.get(), CURLUPART_URL, std::string(text).c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  auto part = [&](CURLUPart which) -> std::optional<std::string> {
    char* value = nullptr;
    if (curl_url_get(url.get(), which, &value, 0) != CURLUE_OK || !value) return std::nullopt;
    std::string out(value);
    curl_free(value);
    return out;
  };
  URLComponents components;
  auto scheme = part(CURLUPART_SCHEME);
  auto host = part(CURLUPART_HOST);
  if (!scheme || (*scheme != "http" && *scheme != "https") || !host || host->empty()) {
    return std::nullopt;
  }
  components.scheme = std::move(*scheme);
  components.host = std::move(*host);
  if (auto port = part(CURLUPART_PORT)) {
    int value = 0;
    const auto [ptr, ec] = std::from_chars(port->data(), port->data() + port->size(), value);
    if (ec != std::errc() || ptr != port->data() + port->size()) return std::nullopt;
    components.port = value;
  }
  components.path = part(CURLUPART_PATH).value_or("/");
  return components;
}

std::optional<std::string> HTTPURLResponse::valueForHTTPHeaderField(std::string_view name) const {
  for (const auto& [key, value] : headerFields) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

int64_t HTTPURLResponse::expectedContentLength() const {
  const auto value = valueForHTTPHeaderField("Content-Length");
  if (!value || value->empty()) return -1;
  int64_t length = -1;
  const auto* end = value->data() + value->size();
  const auto [ptr, ec] = std::from_chars(value->data(), end, length);
  if (ec != std::errc() || ptr != end || length < 0) return -1;
  return length;
}

void URLSessionDownloadDelegate::urlSession(URLSession&, URLSessionDownloadTask&, int64_t, int64_t,
                                            int64_t) {}
void URLSessionDownloadDelegate::urlSession(URLSession&, URLSessionTask&,
                                            const std::optional<URLError>&) {}

struct URLSessionTask::Impl {
  bool download = false;
  uint64_t id = 0;
  URLRequest request;
  double timeout = 60.0;
  std::string downloadFolder;

  std::mutex mu;
  std::shared_ptr<URLSession> session;          // Guarded by mu; released on completion.
  URLSession::DataCompletion completion;        // Guarded by mu; taken out once.
  State state = State::Suspended;               // Guarded by mu.
  bool cancelRequested = false;                 // Guarded by mu.
  CURLM* multi = nullptr;                       // Guarded by mu; set while transferring.
  std::optional<HTTPURLResponse> response;      // Guarded by mu.
  std::optional<URLError> error;                // Guarded by mu.
  int64_t written = 0;                          // Guarded by mu.
  int64_t reported = 0;                         // Guarded by mu.
  int64_t expected = -1;                        // Guarded by mu.
  bool progressPending = false;                 // Guarded by mu.
};

namespace {

// The state of one transfer, touched only by the transfer thread (curl runs
// every callback on the thread that drives the multi handle).
struct Transfer {
  std::shared_ptr<URLSessionTask> task;
  std::shared_ptr<URLSessionTask::Impl> implRef;
  URLSessionTask::Impl* impl = nullptr;
  std::shared_ptr<URLSession> session;
  Clock::time_point lastActivity = Clock::now();
  Clock::time_point lastProgressPost{};
  curl_off_t lastUploaded = 0;
  HTTPURLResponse pending;  // The answer whose header is arriving.
  std::string body;         // Data tasks.
  int fd = -1;              // Download tasks.
  std::string tempPath;
  int64_t bytesWritten = 0;
  int64_t bodyReceived = 0;
  int64_t maximumBody = -1;  // Negative: no limit.
  bool bodyTooLarge = false;
  bool sawHeader = false;
  int writeErrno = 0;
  char errorBuffer[CURL_ERROR_SIZE] = {};
};

void postProgress(Transfer& t, bool flush = false);

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const size_t n = size * count;
  t.lastActivity = Clock::now();
  std::string_view line(data, n);
  t.sawHeader = true;
  if (line.starts_with("HTTP/")) {
    // A new answer (after a redirect or an interim 1xx) replaces the previous one.
    t.pending = HTTPURLResponse{};
    const auto space = line.find(' ');
    if (space != std::string_view::npos) {
      auto rest = line.substr(space + 1);
      int status = 0;
      std::from_chars(rest.data(), rest.data() + rest.size(), status);
      t.pending.statusCode = status;
    }
    return n;
  }
  const auto trimmed = trim(line);
  if (trimmed.empty()) {
    if (t.pending.statusCode >= 200) {
      std::lock_guard lock(t.impl->mu);
      t.impl->response = t.pending;
      t.impl->expected = t.pending.expectedContentLength();
    }
    return n;
  }
  const auto colon = trimmed.find(':');
  if (colon != std::string_view::npos && colon > 0) {
    t.pending.headerFields.emplace_back(std::string(trim(trimmed.substr(0, colon))),
                                        std::string(trim(trimmed.substr(colon + 1))));
  }
  return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const size_t n = size * count;
  t.lastActivity = Clock::now();
  if (t.maximumBody >= 0 && t.bodyReceived + static_cast<int64_t>(n) > t.maximumBody) {
    t.bodyTooLarge = true;
    return 0;  // Makes curl stop with CURLE_WRITE_ERROR.
  }
  t.bodyReceived += static_cast<int64_t>(n);
  if (t.fd < 0) {
    t.body.append(data, n);
    return n;
  }
  if (!writeAll(t.fd, std::string_view(data, n))) {
    t.writeErrno = errno;
    return 0;  // Makes curl stop with CURLE_WRITE_ERROR.
  }
  t.bytesWritten += static_cast<int64_t>(n);
  postProgress(t);
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
  auto& t = *static_cast<Transfer*>(user);
  if (uploaded != t.lastUploaded) {
    t.lastUploaded = uploaded;
    t.lastActivity = Clock::now();
  }
  return 0;
}

// Reports are coalesced: while one is queued, later writes only add to it,
// and a new one is queued at most every kProgressInterval (`flush` forces one
// for what is left). Waking the delegate queue for every buffer costs a
// loopback download a tenth of its speed.
void postProgress(Transfer& t, bool flush) {
  auto* impl = t.impl;
  bool post = false;
  const auto now = flush ? Clock::time_point{} : Clock::now();
  const bool due = flush || now - t.lastProgressPost >= kProgressInterval;
  {
    std::lock_guard lock(impl->mu);
    impl->written = t.bytesWritten;
    if (due && !impl->progressPending) {
      impl->progressPending = true;
      post = true;
    }
  }
  if (!post) return;
  t.lastProgressPost = now;
  t.session->delegateQueue()->async([task = t.task, session = t.session, implRef = t.implRef] {
    auto* i = implRef.get();
    int64_t delta = 0, total = 0, expected = -1;
    {
      std::lock_guard lock(i->mu);
      i->progressPending = false;
      delta = i->written - i->reported;
      i->reported = i->written;
      total = i->written;
      expected = i->expected;
    }
    auto delegate = session->delegate();
    if (delegate && delta > 0) {
      delegate->urlSession(*session, static_cast<URLSessionDownloadTask&>(*task), delta, total,
                           expected);
    }
  });
}

// Every transfer runs on a thread of its own. The threads are tracked here so
// that invalidating a session, and leaving the process, cancels and joins
// them: a thread still inside libcurl while the process tears down its TLS
// library crashes or leaks.
class TransferThreads {
 public:
  static TransferThreads& instance() {
    static auto* threads = new TransferThreads;  // Outlives every static user.
    return *threads;
  }

  // Runs `body` on a new thread for `task` of session `sessionId`.
  void start(uint64_t sessionId, const std::shared_ptr<URLSessionTask>& task,
             std::function<void()> body) {
    std::vector<std::thread> finished;
    {
      std::lock_guard lock(mu_);
      if (!exitHookInstalled_) {
        // Registered after curl_global_init(), so it runs before the TLS
        // library's own exit cleanup.
        std::atexit([] { instance().cancelAndJoin(std::nullopt); });
        exitHookInstalled_ = true;
      }
      for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.finished) {
          finished.push_back(std::move(it->second.thread));
          it = entries_.erase(it);
        } else {
          ++it;
        }
      }
      const uint64_t key = nextKey_++;
      auto& entry = entries_[key];
      entry.session = sessionId;
      entry.task = task;
      // The thread marks itself under mu_, so it waits until its entry is whole.
      entry.thread = std::thread([this, key, body = std::move(body)] {
        body();
        std::lock_guard done(mu_);
        if (auto it = entries_.find(key); it != entries_.end()) it->second.finished = true;
      });
    }
    for (auto& thread : finished) thread.join();
  }

  // Cancels the transfers of `sessionId` (nothing: of every session) and
  // waits for their threads to end. A transfer thread never waits for itself.
  void cancelAndJoin(std::optional<uint64_t> sessionId) {
    std::vector<std::thread> threads;
    std::vector<std::shared_ptr<URLSessionTask>> tasks;
    {
      std::lock_guard lock(mu_);
      for (auto it = entries_.begin(); it != entries_.end();) {
        auto& entry = it->second;
        if ((sessionId && entry.session != *sessionId) ||
            entry.thread.get_id() == std::this_thread::get_id()) {
          ++it;
          continue;
        }
        if (auto task = entry.task.lock()) tasks.push_back(std::move(task));
        threads.push_back(std::move(entry.thread));
        it = entries_.erase(it);
      }
    }
    for (const auto& task : tasks) task->cancel();
    for (auto& thread : threads) thread.join();
  }

  // Transfers of `sessionId` whose thread has not ended.
  size_t running(uint64_t sessionId) {
    std::lock_guard lock(mu_);
    size_t n = 0;
    for (const auto& [key, entry] : entries_) n += entry.session == sessionId && !entry.finished;
    return n;
  }

 private:
  struct Entry {
    uint64_t session = 0;
    std::weak_ptr<URLSessionTask> task;
    std::thread thread;
    bool finished = false;
  };
  std::mutex mu_;
  std::map<uint64_t, Entry> entries_;  // Guarded by mu_.
  uint64_t nextKey_ = 1;               // Guarded by mu_.
  bool exitHookInstalled_ = false;     // Guarded by mu_.
};

}  // namespace

// Runs one transfer to its end on the calling (transfer) thread.
class TransferRunner {
 public:
  static void run(std::shared_ptr<URLSessionTask> task) {
    Transfer t;
    t.task = task;
    t.implRef = task->impl_;
    t.impl = t.implRef.get();
    {
      std::lock_guard lock(t.impl->mu);
      t.session = t.impl->session;
    }
    std::optional<URLError> error = perform(t);
    finish(t, std::move(error));
  }

  // Completes `task` with `error` without a transfer (cancelled before it began).
  static void finishWithoutTransfer(std::shared_ptr<URLSessionTask> task, URLError error) {
    Transfer t;
    t.task = std::move(task);
    t.implRef = t.task->impl_;
    t.impl = t.implRef.get();
    {
      std::lock_guard lock(t.impl->mu);
      t.session = t.impl->session;
    }
    finish(t, std::move(error));
  }

 private:
  static std::optional<URLError> perform(Transfer& t) {
    auto& impl = *t.impl;
    const auto& request = impl.request;
    if (request.url.empty()) return URLError::loading(URLErrorCode::BadURL);
    if (!startsWithIgnoringCase(request.url, "http://") &&
        !startsWithIgnoringCase(request.url, "https://")) {
      return URLError::loading(URLErrorCode::UnsupportedURL, request.url);
    }
    if (impl.download) {
      std::string pattern = impl.downloadFolder + "/.download-XXXXXX";
      const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
      if (fd < 0) {
        return URLError::loading(URLErrorCode::CannotCreateFile, std::strerror(errno));
      }
      t.fd = fd;
      t.tempPath = pattern;
    }

    initCurlOnce();
    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!easy || !multi) {
      if (easy) curl_easy_cleanup(easy);
      if (multi) curl_multi_cleanup(multi);
      return URLError::loading(URLErrorCode::Unknown, "curl init failed");
    }
    curl_slist* headers = nullptr;
    bool hasExpect = false;
    for (const auto& [name, value] : request.headers) {
      if (equalsIgnoringCase(name, "Expect")) hasExpect = true;
      // "Name;" is how curl is told to send a field with an empty value.
      const std::string line = value.empty() ? name + ";" : name + ": " + value;
      headers = curl_slist_append(headers, line.c_str());
    }
    if (!hasExpect) headers = curl_slist_append(headers, "Expect:");

    const std::string& method = request.httpMethod;
    const long timeoutMs = std::max(1L, static_cast<long>(impl.timeout * 1000.0));
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorBuffer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    if (impl.download) curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kDownloadBufferSize);
    if (method == "GET" || method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
      curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    }
    t.maximumBody = request.maximumBodySize;
    if (t.maximumBody >= 0) {
      // Refuses an announced length above the limit before any body byte.
      curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t.maximumBody));
    }
    if (method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
      // A HEAD answer has no body: its Content-Length is the caller's to
      // read (onHeader keeps it), and curl must not refuse one it cannot parse.
      curl_easy_setopt(easy, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    } else if (method == "POST") {
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
    } else if (method != "GET") {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    if (method != "GET" && method != "HEAD") {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.httpBody.data());
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.httpBody.size()));
    }
    curl_multi_add_handle(multi, easy);

    std::optional<URLErrorCode> stopped;  // Set when we end the transfer ourselves.
    CURLcode result = CURLE_OK;
    {
      std::lock_guard lock(impl.mu);
      if (impl.cancelRequested) stopped = URLErrorCode::Cancelled;
      impl.multi = multi;
    }
    t.lastActivity = Clock::now();
    const auto idleLimit = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(impl.timeout));
    while (!stopped) {
      int running = 0;
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        result = CURLE_FAILED_INIT;
        break;
      }
      if (running == 0) {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
          if (msg->msg == CURLMSG_DONE) result = msg->data.result;
        }
        break;
      }
      {
        std::lock_guard lock(impl.mu);
        if (impl.cancelRequested) {
          stopped = URLErrorCode::Cancelled;
          break;
        }
      }
      const auto idle = Clock::now() - t.lastActivity;
      if (idle >= idleLimit) {
        stopped = URLErrorCode::TimedOut;
        break;
      }
      const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(idleLimit - idle);
      curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::clamp<int64_t>(waitMs.count() + 1, 1, 1000)),
                      nullptr);
    }
    {
      std::lock_guard lock(impl.mu);
      impl.multi = nullptr;
    }

    if (!stopped && result == CURLE_OK) {
      long status = 0;
      char* effective = nullptr;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
      curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
      std::lock_guard lock(impl.mu);
      if (!impl.response) impl.response = t.pending;
      impl.response->statusCode = static_cast<int>(status);
      impl.response->url = effective ? effective : request.url;
    } else {
      std::lock_guard lock(impl.mu);
      if (impl.response) {
        char* effective = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
        impl.response->url = effective ? effective : request.url;
      }
    }
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);

    if (stopped) return URLError::loading(*stopped);
    if (result == CURLE_OK) return std::nullopt;
    if (t.bodyTooLarge) {
      return URLError::loading(URLErrorCode::DataLengthExceedsMaximum,
                               "more than " + std::to_string(t.maximumBody) + " bytes");
    }
    if (result == CURLE_WRITE_ERROR && t.writeErrno != 0) {
      return URLError::loading(URLErrorCode::CannotWriteToFile, std::strerror(t.writeErrno));
    }
    const char* detail = t.errorBuffer[0] ? t.errorBuffer : curl_easy_strerror(result);
    if (result == CURLE_UNSUPPORTED_PROTOCOL && !t.sawHeader) {
      // The scheme was checked above: this is an answer without an HTTP status line.
      return URLError::loading(URLErrorCode::BadServerResponse, detail);
    }
    return URLError::loading(codeForCurl(result), detail);
  }

  static void finish(Transfer& t, std::optional<URLError> error) {
    auto& impl = *t.impl;
    if (t.fd >= 0) {
      ::close(t.fd);
      t.fd = -1;
    }
    URLSession::DataCompletion completion;
    std::optional<HTTPURLResponse> response;
    {
      std::lock_guard lock(impl.mu);
      impl.state = URLSessionTask::State::Completed;
      impl.error = error;
      response = impl.response;
      completion = std::move(impl.completion);
      impl.completion = nullptr;
      impl.session.reset();  // A finished task no longer keeps its session alive.
    }
    auto session = std::move(t.session);
    auto task = std::move(t.task);
    const auto& queue = session->delegateQueue();
    if (!impl.download) {
      std::optional<std::string> body;
      if (!error) body = std::move(t.body);
      queue->async([completion = std::move(completion), body = std::move(body),
                    response = std::move(response), error]() mutable {
        if (completion) completion(std::move(body), std::move(response), std::move(error));
      });
      return;
    }
    if (error) {
      if (!t.tempPath.empty()) ::unlink(t.tempPath.c_str());
    } else {
      t.session = session;
      t.task = task;
      postProgress(t, /*flush=*/true);  // The last bytes are reported before the finish.
      queue->async([session, task, location = t.tempPath] {
        if (auto delegate = session->delegate()) {
          delegate->urlSession(*session, static_cast<URLSessionDownloadTask&>(*task), location);
        }
        ::unlink(location.c_str());  // Gone already when the delegate moved it.
      });
    }
    queue->async([session, task, error] {
      if (auto delegate = session->delegate()) delegate->urlSession(*session, *task, error);
    });
  }
};

URLSessionTask::URLSessionTask(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
URLSessionTask::~URLSessionTask() = default;

void URLSessionTask::resume() {
  bool cancelled = false;
  std::shared_ptr<URLSession> session;
  {
    std::lock_guard lock(impl_->mu);
    if (impl_->state != State::Suspended) return;
    impl_->state = State::Running;
    cancelled = impl_->cancelRequested;
    session = impl_->session;
  }
  if (cancelled || (session && session->isInvalidated())) {
    TransferRunner::finishWithoutTransfer(shared_from_this(),
                                          URLError::loading(URLErrorCode::Cancelled));
    return;
  }
  initCurlOnce();
  auto self = shared_from_this();
  TransferThreads::instance().start(session ? session->id_ : 0, self,
                                    [self] { TransferRunner::run(self); });
}

void URLSessionTask::cancel() {
  bool finishNow = false;
  {
    std::lock_guard lock(impl_->mu);
    if (impl_->state == State::Completed || impl_->cancelRequested) return;
    impl_->cancelRequested = true;
    if (impl_->multi) curl_multi_wakeup(impl_->multi);
    if (impl_->state == State::Suspended) {
      impl_->state = State::Running;
      finishNow = true;
    }
  }
  if (finishNow) {
    TransferRunner::finishWithoutTransfer(shared_from_this(),
                                          URLError::loading(URLErrorCode::Cancelled));
  }
}

uint64_t URLSessionTask::taskIdentifier() const { return impl_->id; }

URLSessionTask::State URLSessionTask::state() const {
  std::lock_guard lock(impl_->mu);
  return impl_->state;
}

const URLRequest& URLSessionTask::originalRequest() const { return impl_->request; }

std::optional<HTTPURLResponse> URLSessionTask::response() const {
  std::lock_guard lock(impl_->mu);
  return impl_->response;
}

std::optional<URLError> URLSessionTask::error() const {
  std::lock_guard lock(impl_->mu);
  return impl_->error;
}

URLSession::URLSession(URLSessionConfiguration configuration,
                       std::weak_ptr<URLSessionDownloadDelegate> delegate,
                       std::shared_ptr<Queue> delegateQueue)
    : id_(gNextSessionId.fetch_add(1)),
      configuration_(configuration),
      delegate_(std::move(delegate)),
      delegateQueue_(delegateQueue ? std::move(delegateQueue)
                                   : Queue::makeSerial("url-session.delegate")) {}

URLSession::~URLSession() = default;

const std::shared_ptr<URLSession>& URLSession::shared() {
  static auto* session = new std::shared_ptr<URLSession>(
      make(URLSessionConfiguration::defaultConfiguration(), {},
           Queue::makeSerial("url-session.shared")));
  return *session;
}

std::shared_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration,
                                             std::weak_ptr<URLSessionDownloadDelegate> delegate,
                                             std::shared_ptr<Queue> delegateQueue) {
  return std::shared_ptr<URLSession>(
      new URLSession(configuration, std::move(delegate), std::move(delegateQueue)));
}

namespace {
std::shared_ptr<URLSessionTask::Impl> newImpl(const std::shared_ptr<URLSession>& session,
                                              URLRequest request, bool download) {
  auto impl = std::make_shared<URLSessionTask::Impl>();
  impl->download = download;
  impl->id = gNextTaskId.fetch_add(1);
  impl->timeout = request.timeoutInterval.value_or(session->configuration().timeoutIntervalForRequest);
  impl->request = std::move(request);
  impl->session = session;
  return impl;
}
}  // namespace

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request,
                                                         DataCompletion completion) {
  auto impl = newImpl(shared_from_this(), std::move(request), false);
  impl->completion = std::move(completion);
  auto task = std::shared_ptr<URLSessionDataTask>(new URLSessionDataTask(std::move(impl)));
  track(task);
  return task;
}

std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTask(URLRequest request,
                                                                 std::string downloadFolder) {
  auto impl = newImpl(shared_from_this(), std::move(request), true);
  impl->downloadFolder = std::move(downloadFolder);
  auto task = std::shared_ptr<URLSessionDownloadTask>(new URLSessionDownloadTask(std::move(impl)));
  track(task);
  return task;
}

void URLSession::track(const std::shared_ptr<URLSessionTask>& task) {
  std::lock_guard lock(mu_);
  std::erase_if(tasks_, [](const auto& weak) { return weak.expired(); });
  tasks_.push_back(task);
}

void URLSession::invalidateAndCancel() {
  std::vector<std::weak_ptr<URLSessionTask>> tasks;
  {
    std::lock_guard lock(mu_);
    invalidated_ = true;
    tasks.swap(tasks_);
  }
  for (const auto& weak : tasks) {
    if (auto task = weak.lock()) task->cancel();
  }
  TransferThreads::instance().cancelAndJoin(id_);
}

size_t URLSession::runningTransferCount() const { return TransferThreads::instance().running(id_); }

bool URLSession::isInvalidated() const {
  std::lock_guard lock(mu_);
  return invalidated_;
}

}  // namespace quillo
