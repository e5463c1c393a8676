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
// One thread serves all connections from a poll loop, with a bound on each
// request's head, body and time (see "HTTP" below), so slow, idle or flooding
// clients cost bounded memory and never keep others from being served. The
// port is its alone: one taken by another server, or one that another server
// is binding, is refused.
//
// Port 0 takes a free port; the "serving on" line names it. --help prints
// the usage. Runs until SIGINT or SIGTERM, which end it at any moment. Exit
// status: 0 stopped, 1 could not start (the message names the cause), 2 usage.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
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
// One thread serves every connection from one poll loop, so a slow or idle
// client holds no thread and no other client waits for it. Each connection
// costs at most its request (a head of kMaxHeadBytes in kMaxHeadLines lines,
// a body of kMaxRequestBody) and a response head: the package is shared, not
// copied. A request must be whole within kRequestTimeout of its first byte
// (kIdleTimeout when none comes), the answer sent within kResponseTimeout.
// With kMaxConnections open, a new client takes the place of the longest
// waiting unfinished request. Every answer closes its connection.

constexpr size_t kMaxConnections = 64;
constexpr size_t kMaxHeadBytes = 16 * 1024;
constexpr size_t kMaxHeadLines = 64;
// A report form is a few hundred bytes; nothing else carries a body.
constexpr size_t kMaxRequestBody = 64 * 1024;
constexpr auto kIdleTimeout = std::chrono::seconds(5);
constexpr auto kRequestTimeout = std::chrono::seconds(5);
constexpr auto kResponseTimeout = std::chrono::seconds(60);

using Clock = std::chrono::steady_clock;

struct Request {
  std::string method;
  std::string target;  // Path and query, as sent.
  std::string path;
  std::string body;
};

struct Response {
  int status = 200;
  std::string contentType;
  std::string body;                                // Small answers.
  std::shared_ptr<const std::string> sharedBody;   // The package.
};

const char* reasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
  }
  return "Error";
}

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

std::string lowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// What a complete head says: the request line and the body's length.
struct Head {
  Request request;
  size_t bodyLength = 0;
  int refusal = 0;  // An HTTP status when the head is unusable.
};

// `head` without its final empty line; lines end in LF or CRLF.
Head parseHead(std::string_view head) {
  Head parsed;
  size_t lineEnd = head.find('\n');
  std::string_view line = head.substr(0, lineEnd);
  if (line.ends_with('\r')) line.remove_suffix(1);
  const size_t firstBlank = line.find(' ');
  const size_t lastBlank = line.rfind(' ');
  if (firstBlank == std::string_view::npos || lastBlank == firstBlank ||
      !line.substr(lastBlank + 1).starts_with("HTTP/1.")) {
    parsed.refusal = 400;
    return parsed;
  }
  parsed.request.method = std::string(line.substr(0, firstBlank));
  parsed.request.target = std::string(line.substr(firstBlank + 1, lastBlank - firstBlank - 1));
  parsed.request.path = parsed.request.target.substr(0, parsed.request.target.find('?'));
  while (lineEnd != std::string_view::npos) {
    const size_t start = lineEnd + 1;
    lineEnd = head.find('\n', start);
    line = head.substr(start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string name = lowerCase(line.substr(0, colon));
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (name == "transfer-encoding") {
      parsed.refusal = 501;  // Every client we serve sends a length.
    } else if (name == "content-length") {
      if (value.empty() || value.size() > 18 || value.find_first_not_of("0123456789") != std::string_view::npos) {
        parsed.refusal = 400;
      } else {
        parsed.bodyLength = std::stoull(std::string(value));
      }
    }
  }
  return parsed;
}

// A client connection, from accept to close.
class Connection {
 public:
  enum class State { Reading, Discarding, Writing };

  Connection(int fd, Clock::time_point now) : fd_(fd), accepted_(now) {}
  ~Connection() { ::close(fd_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] State state() const { return state_; }
  [[nodiscard]] Clock::time_point accepted() const { return accepted_; }
  [[nodiscard]] Clock::time_point deadline() const {
    if (state_ == State::Writing) return answered_ + kResponseTimeout;
    return firstByte_ ? *firstByte_ + kRequestTimeout : accepted_ + kIdleTimeout;
  }

  // Reads what has come. Returns a complete request once, or nothing; sets
  // `closed` when the peer is gone.
  std::optional<Request> receive(Clock::time_point now, bool& closed) {
    char buffer[16 * 1024];
    // A fast sender gets a share of the loop, not all of it.
    for (int reads = 0; reads < 16; ++reads) {
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return std::nullopt;
      if (n <= 0) {
        closed = true;
        return std::nullopt;
      }
      if (!firstByte_) firstByte_ = now;
      if (auto request = take(std::string_view(buffer, static_cast<size_t>(n)))) return request;
      if (state_ == State::Writing) return std::nullopt;
    }
    return std::nullopt;
  }

  void answer(const Response& response, bool head, Clock::time_point now) {
    const size_t length = response.sharedBody ? response.sharedBody->size() : response.body.size();
    out_ = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) + "\r\n";
    if (!response.contentType.empty()) out_ += "Content-Type: " + response.contentType + "\r\n";
    out_ += "Content-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n";
    if (!head) {
      if (response.sharedBody) {
        sharedBody_ = response.sharedBody;
      } else {
        out_ += response.body;
      }
    }
    in_.clear();
    in_.shrink_to_fit();
    state_ = State::Writing;
    answered_ = now;
  }

  // Sends what the socket takes. True once everything is sent (or the peer is gone).
  bool send() {
    for (;;) {
      std::string_view rest = sent_ < out_.size() ? std::string_view(out_).substr(sent_)
                              : sharedBody_ ? std::string_view(*sharedBody_).substr(sent_ - out_.size())
                                            : std::string_view();
      if (rest.empty()) return true;
      const ssize_t n = ::send(fd_, rest.data(), rest.size(), MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
      if (n <= 0) return true;
      sent_ += static_cast<size_t>(n);
    }
  }

 private:
  // Adds `bytes` to the request under the limits; answers a refusal itself.
  std::optional<Request> take(std::string_view bytes) {
    if (state_ == State::Discarding) {
      const size_t skipped = std::min(discard_, bytes.size());
      discard_ -= skipped;
      if (discard_ == 0) refuse(413);
      return std::nullopt;
    }
    if (!head_) {
      const size_t limit = kMaxHeadBytes - in_.size();
      in_.append(bytes.substr(0, limit));
      bytes.remove_prefix(std::min(limit, bytes.size()));
      size_t end = std::string::npos;
      size_t lines = 0;
      for (size_t i = 0; i < in_.size(); ++i) {
        if (in_[i] != '\n') continue;
        ++lines;
        if (i >= 1 && in_[i - 1] == '\n') end = i + 1;
        if (i >= 2 && in_[i - 1] == '\r' && in_[i - 2] == '\n') end = i + 1;
        if (end != std::string::npos) break;
      }
      // Beyond the limits nothing more of the head is read.
      if (end == std::string::npos ? in_.size() >= kMaxHeadBytes || lines > kMaxHeadLines
                                   : lines > kMaxHeadLines + 1) {
        refuse(431);
        return std::nullopt;
      }
      if (end == std::string::npos) return std::nullopt;
      Head parsed = parseHead(std::string_view(in_).substr(0, end));
      std::string rest = in_.substr(end);
      rest.append(bytes);
      bytes = {};
      in_ = std::move(rest);
      head_ = std::move(parsed);
      if (head_->refusal != 0) {
        refuse(head_->refusal);
        return std::nullopt;
      }
      if (head_->bodyLength > kMaxRequestBody) {
        // Read and dropped, so the client hears the answer.
        state_ = State::Discarding;
        discard_ = head_->bodyLength - std::min(head_->bodyLength, in_.size());
        in_.clear();
        if (discard_ == 0) refuse(413);
        return std::nullopt;
      }
    }
    in_.append(bytes.substr(0, head_->bodyLength - std::min(head_->bodyLength, in_.size())));
    if (in_.size() < head_->bodyLength) return std::nullopt;
    Request request = std::move(head_->request);
    request.body = in_.substr(0, head_->bodyLength);
    return request;
  }

  void refuse(int status) {
    Response response;
    response.status = status;
    answer(response, /*head=*/false, Clock::now());
  }

  int fd_;
  Clock::time_point accepted_;
  std::optional<Clock::time_point> firstByte_;
  Clock::time_point answered_;
  State state_ = State::Reading;
  std::string in_;
  std::optional<Head> head_;
  size_t discard_ = 0;
  std::string out_;
  std::shared_ptr<const std::string> sharedBody_;
  size_t sent_ = 0;
};

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

// Serves on `listener` until a signal of `stopFd` (a signalfd) comes.
void serve(int listener, int stopFd, const std::function<Response(const Request&)>& route) {
  std::vector<std::unique_ptr<Connection>> connections;
  std::vector<pollfd> watched;
  for (;;) {
    auto now = Clock::now();
    watched.clear();
    watched.push_back({stopFd, POLLIN, 0});
    const bool roomForMore = connections.size() < kMaxConnections ||
                             std::any_of(connections.begin(), connections.end(), [](const auto& c) {
                               return c->state() != Connection::State::Writing;
                             });
    watched.push_back({roomForMore ? listener : -1, POLLIN, 0});
    auto nextDeadline = Clock::time_point::max();
    for (const auto& c : connections) {
      const short events = c->state() == Connection::State::Writing ? POLLOUT : POLLIN;
      watched.push_back({c->fd(), events, 0});
      nextDeadline = std::min(nextDeadline, c->deadline());
    }
    int timeoutMs = -1;
    if (nextDeadline != Clock::time_point::max()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextDeadline - now).count();
      timeoutMs = static_cast<int>(std::clamp<int64_t>(wait, 0, 60'000));
    }
    if (::poll(watched.data(), watched.size(), timeoutMs) < 0 && errno != EINTR) return;
    if (watched[0].revents != 0) return;
    now = Clock::now();

    // Connections first, as the vector stood when polled; then new ones.
    std::vector<bool> done(connections.size(), false);
    for (size_t i = 0; i < connections.size(); ++i) {
      Connection& c = *connections[i];
      const short revents = watched[i + 2].revents;
      if (revents != 0 && c.state() != Connection::State::Writing) {
        bool closed = false;
        if (auto request = c.receive(now, closed)) {
          c.answer(route(*request), request->method == "HEAD", now);
        }
        done[i] = closed;
      }
      if (!done[i] && c.state() == Connection::State::Writing) done[i] = c.send();
      if (now >= c.deadline()) done[i] = true;
    }
    size_t kept = 0;
    for (size_t i = 0; i < connections.size(); ++i) {
      if (!done[i]) connections[kept++] = std::move(connections[i]);
    }
    connections.resize(kept);

    if (watched[1].revents == 0) continue;
    // A few at a time, so that a flood of connections cannot push out one
    // that has just come before its request is read.
    for (size_t accepted = 0; accepted < kMaxConnections / 4; ++accepted) {
      const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) break;
      if (connections.size() >= kMaxConnections) {
        // The longest waiting unfinished request makes room.
        auto oldest = connections.end();
        for (auto it = connections.begin(); it != connections.end(); ++it) {
          if ((*it)->state() == Connection::State::Writing) continue;
          if (oldest == connections.end() || (*it)->accepted() < (*oldest)->accepted()) oldest = it;
        }
        if (oldest == connections.end()) {
          ::close(fd);
          break;
        }
        connections.erase(oldest);
      }
      connections.push_back(std::make_unique<Connection>(fd, now));
    }
  }
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
  // Taken from a descriptor by the loop; blocked first, so that a stop during
  // the start waits for it instead of cutting it short.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  const int stopFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (stopFd < 0) return cannotStart("cannot watch for signals: " + errorText(errno));

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
  std::ifstream in(zip, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();  // a read error sets failbit here instead of throwing
  if (!md5 || !in || !bytes) return cannotStart("cannot read " + zip.string());
  const auto package = std::make_shared<const std::string>(std::move(bytes).str());
  const quillo::Bundle sample(bundle.string());
  const std::string version = sample.infoString("CFBundleShortVersionString").value_or("0.0.0") + "." +
                              sample.infoString("CFBundleVersion").value_or("0");
  const std::string origin = "http://" + std::string(kHost) + ":" + std::to_string(boundPort(listener));
  const std::string info = R"({"zip_download_url":")" + origin + kPackagePath + R"(","zip_download_md5":")" +
                           *md5 + R"(","zip_version":")" + version + R"(","package_type":"demo"})";

  const auto route = [&](const Request& request) {
    Response response;
    const bool get = request.method == "GET" || request.method == "HEAD";
    const std::string line = request.method + " " + printable(request.target);
    if (request.path == kInfoPath && get) {
      say(line);
      response.contentType = "application/json";
      response.body = info;
    } else if (request.path == kPackagePath && get) {
      say(line);
      response.contentType = "application/zip";
      response.sharedBody = package;
    } else if (request.path == kReportPath && request.method == "POST") {
      say(describeReport(request.body));
    } else if (request.path == kReportPath && get) {
      say(line + ": reports are POSTed");
      response.status = 405;
    } else {
      response.status = request.path == kInfoPath || request.path == kPackagePath ? 405 : 404;
    }
    return response;
  };
  say("serving on " + origin + "/: package " + zip.string() + " md5 " + *md5 + " version " + version);
  serve(listener, stopFd, route);
  say("stopping");
  ::close(listener);
  return 0;
}
