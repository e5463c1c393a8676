// quillo-distribution-server: a local distribution server for trying the
// installer on this machine. On 127.0.0.1 it serves the install information,
// the input method package it packs from a sample bundle (with the package's
// real MD5), and receives usage reports, printing each one.
//
//   quillo-distribution-server --port 8740 --work build/demo/server
//       --bundle build/demo/fixtures/package/Quillo.app
//
//   GET  /web/mac/download?channel=InstallInfo   the install information (JSON)
//   GET  /pkg/Quillo.zip                         the package (HEAD too)
//   POST /ombra/single                           a report; printed as
//        "report: scene ql_pc_app_scene_intro_install (1) action ql_pc_app_action_exposure (1) ..."
//
// libmicrohttpd serves every connection from one thread of its own, with a
// bound on each request's head, body and time, so slow, idle or flooding
// clients cost bounded memory and never keep others from being served.
// It takes up to 1024 connections (fewer when its file limit is lower), so
// that idle ones never queue ahead of a client: while they are all taken and
// a client waits, those that have not sent a whole request within 250 ms are
// closed. Beyond 64 downloads, those below 256 KiB/s over the last second
// are closed, the slowest first. The bounds are under "HTTP" below. The port
// is its alone: one taken by another server, or one that another server is
// binding, is refused.
//
// Port 0 takes a free port; the "serving on" line names it. --help prints
// the usage. Runs until SIGINT or SIGTERM, which end it at any moment. Exit
// status: 0 stopped, 1 could not start (the message names the cause), 2 usage.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/tcp.h>
#include <memory>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "installer/md5.h"
#include "platform/bundle.h"
#include "platform/process.h"
#include "schema/QlStatPcAppCommonActionReport.pb.h"
#include "support/report_decoding.h"

namespace {
namespace fs = std::filesystem;
namespace pb = com::norvane::tanix::pb;

constexpr const char* kHost = "127.0.0.1";
constexpr const char* kInfoPath = "/web/mac/download";
constexpr const char* kPackagePath = "/pkg/Quillo.zip";
constexpr const char* kReportPath = "/ombra/single";

constexpr const char* kUsage = "usage: quillo-distribution-server --port PORT --bundle Quillo.app --work DIR\n";

int usage(const std::string& why) {
  std::fprintf(stderr, "quillo-distribution-server: %s\n%s", why.c_str(), kUsage);
  return 2;
}

int cannotStart(const std::string& why) {
  std::fprintf(stderr, "quillo-distribution-server: %s\n", why.c_str());
  return 1;
}

std::mutex outputMutex;

void say(const std::string& line) {
  std::lock_guard lock(outputMutex);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// strerror's text with a lower-case start, to read as part of a sentence.
std::string errorText(int err) {
  std::string text = std::strerror(err);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

// "scene ql_pc_app_scene_intro_install (1)"; an unknown value shows as "?".
template <typename Enum, typename NameOf>
std::string named(const char* label, int value, NameOf nameOf, bool known) {
  const std::string name = known ? nameOf(static_cast<Enum>(value)) : std::string();
  return std::string(label) + " " + (name.empty() ? "?" : name) + " (" + std::to_string(value) + ")";
}

// "report: scene NAME (1) action NAME (2) version ... vid 0 device ..." or why it is unreadable.
std::string describeReport(const std::string& body) {
  if (!body.starts_with("content=")) return "report: not a form with content=";
  const auto text = quillo::testing::formDecode(body.substr(8));
  const auto comma = text ? text->find(", ") : std::string::npos;
  if (comma == std::string::npos) return "report: malformed content";
  const auto bytes = quillo::testing::base64Decode(text->substr(comma + 2));
  pb::QlStatPcAppCommonActionReport report;
  if (!bytes || !report.ParseFromString(*bytes)) return "report: undecodable " + text->substr(0, comma);
  const auto sceneName = [](pb::QlStatPcAppCommonScene v) { return pb::QlStatPcAppCommonScene_Name(v); };
  const auto actionName = [](pb::QlStatPcAppCommonAction v) { return pb::QlStatPcAppCommonAction_Name(v); };
  return "report: " +
         named<pb::QlStatPcAppCommonScene>("scene", report.scene(), sceneName,
                                           pb::QlStatPcAppCommonScene_IsValid(report.scene())) +
         " " +
         named<pb::QlStatPcAppCommonAction>("action", report.action(), actionName,
                                            pb::QlStatPcAppCommonAction_IsValid(report.action())) +
         " version \"" + report.base_log().appversion() + "\" vid " + std::to_string(report.base_log().vid()) +
         " device \"" + report.device_type() + "\"";
}

// Packs `bundle` (a folder named Quillo.app) into `zip`; the reason on failure.
std::optional<std::string> pack(const fs::path& bundle, const fs::path& zip) {
  std::error_code ec;
  fs::remove(zip, ec);
  quillo::Spawned child;
  if (auto error = quillo::spawnProcess({"zip", "-q", "-r", "-X", zip.string(), bundle.filename().string()},
                                        {.workingDirectory = bundle.parent_path().string()}, child)) {
    return "cannot run zip: " + error.message();
  }
  if (quillo::waitForExit(child.pid) != 0) return "zip failed for " + bundle.string();
  return std::nullopt;
}

// ---- HTTP ----
//
// libmicrohttpd reads and answers every request on one thread of its own
// (epoll); this file routes, and bounds what a client may take:
// - Up to kMaxConnections at once (less a few when the file limit is lower);
//   further clients wait to be accepted. Idle connections cost a descriptor
//   and little memory, so there is room for many, and while every one is
//   taken and a client waits, each whose request is not whole kRequestGrace
//   after its acceptance is shut: a client never waits behind more than a
//   round of idle connections.
// - A request head must fit in kMaxHeadBytes, the memory the library gives a
//   connection (it refuses a longer head); a body over kMaxRequestBody is
//   read, dropped and answered 413, so that the client hears the answer.
// - A request must be whole within kRequestTimeout of its connection's
//   acceptance: the watchdog below shuts the socket of one that is not.
// - Slow downloads are evicted, slowest first: a download pins up to its
//   send buffer, so while more than kMaxDownloads are answered, those whose
//   client acknowledged less than kMinRate over the last kRateWindow give
//   way until kMaxDownloads are left. A client on 127.0.0.1 reads megabytes
//   a second even on a loaded machine; one that does not read at all is at
//   0. Otherwise a connection on which nothing moves for
//   kIdleTimeoutSeconds is closed.
// - Answers come from one shared buffer (the install information) or from
//   the package's file, never copied per client; each closes its connection.
//   A connection's send buffer is kSendBuffer, so that clients that do not
//   read pin little of the system's memory (on 127.0.0.1 it costs no speed).
// No limit per client address: every client of this server is on 127.0.0.1.

constexpr unsigned kMaxConnections = 1024;
// Descriptors kept for everything else the server opens.
constexpr unsigned kSpareFiles = 32;
constexpr size_t kMaxDownloads = 64;
constexpr size_t kMaxHeadBytes = 16 * 1024;
// A report form is a few hundred bytes; nothing else carries a body.
constexpr size_t kMaxRequestBody = 64 * 1024;
constexpr auto kRequestTimeout = std::chrono::seconds(5);
constexpr auto kRequestGrace = std::chrono::milliseconds(250);
constexpr auto kRateWindow = std::chrono::seconds(1);
constexpr uint64_t kMinRate = 256 * 1024;  // Bytes a second.
constexpr unsigned kIdleTimeoutSeconds = 60;
constexpr auto kWatchInterval = std::chrono::milliseconds(100);
constexpr int kSendBuffer = 256 * 1024;

using Clock = std::chrono::steady_clock;

// The request target for a log line: bytes outside printable ASCII as \xNN.
std::string printable(std::string_view text) {
  std::string out;
  for (const unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return out;
}

// A connection and its one request, from acceptance to close.
struct Exchange {
  Exchange(int socket, Clock::time_point now) : fd(socket), accepted(now), windowStart(now) {}

  const int fd;
  const Clock::time_point accepted;
  // Touched on the library's thread only.
  std::string target;  // Path and query, as sent.
  std::string body;    // At most kMaxRequestBody bytes.
  bool bodyTooLarge = false;
  bool headRead = false;
  // Guarded by Watchdog::mutex_.
  bool answered = false;
  bool evicted = false;
  // Since the answer, the bytes acknowledged over each kRateWindow.
  Clock::time_point windowStart;
  uint64_t windowAcked = 0;
  bool rated = false;  // A whole window has passed since the answer.
  uint64_t rate = 0;   // Bytes a second over the last whole window.
};

// What the client has acknowledged of what was sent to it; 0 when unknown.
uint64_t bytesAcked(int fd) {
  tcp_info info{};
  socklen_t size = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return 0;
  return info.tcpi_bytes_acked;
}

// Keeps every connection from its start to its close, and ends those that
// break a bound the library does not keep by itself: a request's time, room
// for a waiting client, and the number of slow downloads. Ends one by
// shutting its socket down, which the library sees as the client gone; the
// socket stays open until the library has told `remove`. add, remove and
// answered are called on the library's thread; the watchdog runs on its own
// until `stop`.
class Watchdog {
 public:
  // `limit`: the connections the library takes at most.
  Watchdog(int listener, size_t limit)
      : listener_(listener), limit_(limit), thread_([this] { run(); }) {}
  ~Watchdog() { stop(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  [[nodiscard]] Exchange* add(int fd) {
    std::lock_guard lock(mutex_);
    exchanges_.push_back(std::make_unique<Exchange>(fd, Clock::now()));
    wake_.notify_one();
    return exchanges_.back().get();
  }
  void remove(const Exchange* exchange) {
    std::lock_guard lock(mutex_);
    std::erase_if(exchanges_, [exchange](const auto& e) { return e.get() == exchange; });
    wake_.notify_one();
  }
  void answered(Exchange& exchange) {
    std::lock_guard lock(mutex_);
    exchange.answered = true;
    exchange.windowStart = Clock::now();
    exchange.windowAcked = bytesAcked(exchange.fd);
  }
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      wake_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      sweep(Clock::now());
      wake_.wait_for(lock, kWatchInterval);
    }
  }

  // Requires: mutex_ held.
  void sweep(Clock::time_point now) {
    std::vector<Exchange*> lateRequests;
    std::vector<Exchange*> slowDownloads;
    size_t downloads = 0;
    for (const auto& e : exchanges_) {
      if (e->evicted) continue;
      if (!e->answered) {
        if (now - e->accepted >= kRequestTimeout) {
          evict(*e);
        } else if (now - e->accepted >= kRequestGrace) {
          lateRequests.push_back(e.get());
        }
        continue;
      }
      ++downloads;
      if (now - e->windowStart >= kRateWindow) {
        const uint64_t acked = bytesAcked(e->fd);
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - e->windowStart);
        e->rate = (acked - std::min(acked, e->windowAcked)) * 1000 /
                  static_cast<uint64_t>(elapsed.count());
        e->rated = true;
        e->windowStart = now;
        e->windowAcked = acked;
      }
      if (e->rated && e->rate < kMinRate) slowDownloads.push_back(e.get());
    }
    // The library counts evicted connections until it has closed them.
    if (exchanges_.size() >= limit_ && clientWaiting()) {
      for (Exchange* e : lateRequests) evict(*e);
    }
    if (downloads > kMaxDownloads) {
      std::sort(slowDownloads.begin(), slowDownloads.end(),
                [](const Exchange* a, const Exchange* b) { return a->rate < b->rate; });
      const size_t over = std::min(downloads - kMaxDownloads, slowDownloads.size());
      for (size_t i = 0; i < over; ++i) evict(*slowDownloads[i]);
    }
  }

  // Requires: mutex_ held.
  static void evict(Exchange& exchange) {
    ::shutdown(exchange.fd, SHUT_RDWR);
    exchange.evicted = true;
  }

  // Whether a client waits in the listener's queue (the library, out of
  // connections, accepts none then).
  [[nodiscard]] bool clientWaiting() const {
    pollfd listener{listener_, POLLIN, 0};
    return ::poll(&listener, 1, 0) == 1 && (listener.revents & POLLIN) != 0;
  }

  const int listener_;
  const size_t limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::unique_ptr<Exchange>> exchanges_;  // Guarded by mutex_.
  bool stopping_ = false;                             // Guarded by mutex_.
  std::thread thread_;                                // Last: it uses the members above.
};

// The answers: built once, shared by every client.
struct Site {
  std::string info;
  MHD_Response* infoResponse = nullptr;
  MHD_Response* packageResponse = nullptr;
  MHD_Response* emptyResponse = nullptr;  // For any status without a body.
  Watchdog* watchdog = nullptr;

  Site() = default;
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;
  ~Site() {
    for (MHD_Response* response : {infoResponse, packageResponse, emptyResponse}) {
      if (response != nullptr) MHD_destroy_response(response);
    }
  }
};

// A response that closes its connection, with `contentType` when not empty;
// nullptr when the library refuses it.
MHD_Response* closing(MHD_Response* response, const char* contentType) {
  if (response == nullptr) return nullptr;
  if (MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close") != MHD_YES ||
      (*contentType != '\0' &&
       MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType) != MHD_YES)) {
    MHD_destroy_response(response);
    return nullptr;
  }
  return response;
}

Exchange* exchangeOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info == nullptr ? nullptr : static_cast<Exchange*>(info->socket_context);
}

void onConnection(void* cls, MHD_Connection* connection, void** context,
                  MHD_ConnectionNotificationCode code) {
  auto& watchdog = *static_cast<Watchdog*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const int fd = info == nullptr ? -1 : info->connect_fd;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
    *context = watchdog.add(fd);
  } else {
    watchdog.remove(static_cast<Exchange*>(*context));
    *context = nullptr;
  }
}

// The target as sent, before the library decodes it, for the log line.
void* onTarget(void*, const char* target, MHD_Connection* connection) {
  if (Exchange* exchange = exchangeOf(connection)) exchange->target = target;
  return nullptr;
}

struct Reply {
  unsigned status;
  MHD_Response* response;
};

Reply route(const Site& site, const std::string& method, const std::string& path,
            const Exchange& exchange) {
  const bool get = method == "GET" || method == "HEAD";
  const std::string line = method + " " + printable(exchange.target);
  if (path == kInfoPath && get) {
    say(line);
    return {MHD_HTTP_OK, site.infoResponse};
  }
  if (path == kPackagePath && get) {
    say(line);
    return {MHD_HTTP_OK, site.packageResponse};
  }
  if (path == kReportPath && method == "POST") {
    say(describeReport(exchange.body));
    return {MHD_HTTP_OK, site.emptyResponse};
  }
  if (path == kReportPath && get) {
    say(line + ": reports are POSTed");
    return {MHD_HTTP_METHOD_NOT_ALLOWED, site.emptyResponse};
  }
  const bool known = path == kInfoPath || path == kPackagePath;
  return {known ? unsigned{MHD_HTTP_METHOD_NOT_ALLOWED} : unsigned{MHD_HTTP_NOT_FOUND},
          site.emptyResponse};
}

// Called once the head is read, once for each piece of the body, and once
// when the request is whole, which it answers.
MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* path, const char* method,
                     const char* /*version*/, const char* upload, size_t* uploadSize,
                     void** /*request*/) {
  const auto& site = *static_cast<const Site*>(cls);
  Exchange* exchange = exchangeOf(connection);
  if (exchange == nullptr) return MHD_NO;
  if (!exchange->headRead) {
    exchange->headRead = true;
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    // Beyond the limit the body is read and dropped.
    const size_t room = exchange->bodyTooLarge ? 0 : kMaxRequestBody - exchange->body.size();
    if (*uploadSize > room) {
      exchange->bodyTooLarge = true;
      exchange->body.clear();
      exchange->body.shrink_to_fit();
    } else {
      exchange->body.append(upload, *uploadSize);
    }
    *uploadSize = 0;
    return MHD_YES;
  }
  const Reply reply = exchange->bodyTooLarge ? Reply{MHD_HTTP_CONTENT_TOO_LARGE, site.emptyResponse}
                                             : route(site, method, path, *exchange);
  site.watchdog->answered(*exchange);
  return MHD_queue_response(connection, reply.status, reply.response);
}

// Opens the listening socket on kHost:port: never shared with another
// socket (no SO_REUSEPORT), so a port another server holds, or is binding,
// is refused. The socket, or -errno.
int listenOn(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -errno;
  // Only lets a restarted server take its port back from connections in TIME_WAIT.
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, kHost, &address.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    const int err = errno;
    ::close(fd);
    return -err;
  }
  return fd;
}

int boundPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return -1;
  return ntohs(address.sin_port);
}

// Connections the server may hold: kMaxConnections, less when the file
// limit, raised to its hard limit first, leaves fewer.
unsigned connectionLimit() {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return kMaxDownloads;
  if (files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0) (void)::getrlimit(RLIMIT_NOFILE, &files);
  }
  const rlim_t room =
      files.rlim_cur > kSpareFiles + kMaxDownloads ? files.rlim_cur - kSpareFiles : kMaxDownloads;
  return static_cast<unsigned>(std::min<rlim_t>(room, kMaxConnections));
}

struct Options {
  int port = -1;
  fs::path bundle;
  fs::path work;
  bool help = false;
};

// Nothing on success, else the usage error to print.
std::optional<std::string> parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--help" || flag == "-h") {
      options.help = true;
      return std::nullopt;
    }
    if (flag != "--port" && flag != "--bundle" && flag != "--work") return "unknown option: " + flag;
    if (i + 1 >= argc) return flag + ": missing value";
    const std::string value = argv[++i];
    if (flag == "--port") {
      const bool digits = !value.empty() && value.size() <= 5 &&
                          value.find_first_not_of("0123456789") == std::string::npos;
      if (!digits) return "--port: not a port number: " + value;
      options.port = std::stoi(value);
      if (options.port > 65535) return "--port: not a port number (0-65535): " + value;
    } else if (value.empty()) {
      return flag + ": missing value";
    } else if (flag == "--bundle") {
      options.bundle = fs::absolute(value);
    } else {
      options.work = fs::absolute(value);
    }
  }
  if (options.port < 0) return "missing --port";
  if (options.bundle.empty()) return "missing --bundle";
  if (options.work.empty()) return "missing --work";
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked before any thread starts, so that every thread inherits it and
  // only sigwait below takes them; a stop during the start waits for it.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  Options options;
  if (auto error = parse(argc, argv, options)) return usage(*error);
  if (options.help) {
    std::printf("%s", kUsage);
    return 0;
  }
  const fs::path& bundle = options.bundle;
  if (bundle.filename() != "Quillo.app" || !fs::is_regular_file(bundle / "Contents/Info.json")) {
    return cannotStart(bundle.string() + " is not a Quillo.app bundle");
  }
  // Before anything else: a second server on the same port fails here.
  const int listener = listenOn(options.port);
  if (listener < 0) {
    return cannotStart("cannot listen on " + std::string(kHost) + ":" + std::to_string(options.port) + ": " +
                       errorText(-listener));
  }

  std::error_code ec;
  fs::create_directories(options.work, ec);
  if (ec) return cannotStart("cannot create " + options.work.string() + ": " + ec.message());
  const fs::path zip = options.work / "Quillo.zip";
  if (auto error = pack(bundle, zip)) return cannotStart(*error);
  const auto md5 = quillo::md5HexOfFile(zip.string());
  const int packageFd = ::open(zip.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat packageStat {};
  if (!md5 || packageFd < 0 || ::fstat(packageFd, &packageStat) != 0) {
    return cannotStart("cannot read " + zip.string());
  }
  const quillo::Bundle sample(bundle.string());
  const std::string version = sample.infoString("CFBundleShortVersionString").value_or("0.0.0") + "." +
                              sample.infoString("CFBundleVersion").value_or("0");
  const std::string origin = "http://" + std::string(kHost) + ":" + std::to_string(boundPort(listener));

  Site site;
  site.info = R"({"zip_download_url":")" + origin + kPackagePath + R"(","zip_download_md5":")" +
              *md5 + R"(","zip_version":")" + version + R"(","package_type":"demo"})";
  site.infoResponse = closing(
      MHD_create_response_from_buffer(site.info.size(), site.info.data(), MHD_RESPMEM_PERSISTENT),
      "application/json");
  site.packageResponse =
      closing(MHD_create_response_from_fd(static_cast<size_t>(packageStat.st_size), packageFd),
              "application/zip");
  site.emptyResponse =
      closing(MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT), "");
  if (!site.infoResponse || !site.packageResponse || !site.emptyResponse) {
    return cannotStart("cannot prepare the answers");
  }

  const unsigned limit = connectionLimit();
  Watchdog watchdog(listener, limit);
  site.watchdog = &watchdog;
  MHD_Daemon* daemon = MHD_start_daemon(
      MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC, 0, nullptr, nullptr, &onRequest, &site,
      MHD_OPTION_LISTEN_SOCKET, listener, MHD_OPTION_CONNECTION_LIMIT, limit,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kMaxHeadBytes, MHD_OPTION_CONNECTION_TIMEOUT,
      kIdleTimeoutSeconds, MHD_OPTION_NOTIFY_CONNECTION, &onConnection, &watchdog,
      MHD_OPTION_URI_LOG_CALLBACK, &onTarget, nullptr, MHD_OPTION_END);
  if (daemon == nullptr) return cannotStart("cannot start serving on " + origin);

  say("serving on " + origin + "/: package " + zip.string() + " md5 " + *md5 + " version " + version);
  int signal = 0;
  sigwait(&stopSignals, &signal);
  say("stopping");
  // The watchdog first: it looks at the listener, which the library closes.
  watchdog.stop();
  MHD_stop_daemon(daemon);
  return 0;
}
