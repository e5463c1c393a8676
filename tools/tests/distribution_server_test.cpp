// quillo-distribution-server as its users run it: a separate process on
// 127.0.0.1, its usage and start-up errors, what it serves and prints, and
// the bounds it keeps against slow, flooding and stalled clients.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <httplib.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <signal.h>
#include <span>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "installer/event_report.h"
#include "installer/md5.h"
#include "platform/process.h"

namespace {
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// A client socket connected to 127.0.0.1:`port`, or -1; with a receive
// buffer of `receiveBuffer` bytes when not 0. Sends give up after a while
// rather than block on a server that stopped reading.
int connectTo(int port, int receiveBuffer = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval timeout{.tv_sec = 5, .tv_usec = 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  // Before connecting: the window the client offers follows from it.
  if (receiveBuffer > 0)
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const std::string& bytes) {
  return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// Clients that each send `begun` and then read nothing, through a receive
// buffer of `receiveBuffer` bytes (0: the system's); `trickle` sends one more
// byte on each.
class Clients {
 public:
  Clients(int port, int count, const std::string& begun, int receiveBuffer = 0) {
    for (int i = 0; i < count; ++i) {
      const int fd = connectTo(port, receiveBuffer);
      if (fd >= 0 && sendAll(fd, begun)) fds_.push_back(fd);
    }
  }
  ~Clients() {
    for (const int fd : fds_) ::close(fd);
  }
  Clients(const Clients&) = delete;
  Clients& operator=(const Clients&) = delete;
  [[nodiscard]] size_t size() const { return fds_.size(); }
  void trickle() {
    for (const int fd : fds_) (void)::send(fd, "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  }

 private:
  std::vector<int> fds_;
};

// Clients that begin a request and then send one byte at a time, forever.
Clients slowClients(int port, int count) {
  return Clients(port, count, "GET /web/mac/download HTTP/1.1\r\nX-Slow: ");
}

// Whether this process may open `files` descriptors, its soft limit raised
// to the hard one first (the server it starts inherits it).
bool roomForFiles(rlim_t files) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  limit.rlim_cur = limit.rlim_max;
  return ::setrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur >= files;
}

// The server's most connections at once, as its header says.
constexpr int kServerConnections = 1024;

// A client that reads an answer a little at a time and checks that its
// body is `expected`, byte for byte. A small receive buffer makes each read
// acknowledge more: a download that moves, slowly.
class Reader {
 public:
  Reader(int port, const std::string& request, int receiveBuffer = 4096)
      : fd_(connectTo(port, receiveBuffer)) {
    if (fd_ >= 0 && !sendAll(fd_, request)) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~Reader() {
    if (fd_ >= 0) ::close(fd_);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  [[nodiscard]] bool connected() const { return fd_ >= 0; }
  // Takes at most `most` bytes, waiting for them up to the socket's timeout;
  // false once the answer has ended.
  bool take(size_t most, const std::string& expected) {
    char buffer[64 * 1024];
    const ssize_t got = ::recv(fd_, buffer, std::min(most, sizeof buffer), 0);
    if (got <= 0) return false;
    for (ssize_t i = 0; i < got; ++i) consume(buffer[i], expected);
    return true;
  }
  [[nodiscard]] bool whole(const std::string& expected) const {
    return headDone_ && same_ && body_ == expected.size() &&
           head_.find("200 OK") != std::string::npos;
  }
  // What arrived is the start of the answer, nothing else.
  [[nodiscard]] bool sound() const { return same_; }

 private:
  void consume(char c, const std::string& expected) {
    if (!headDone_) {
      head_ += c;
      headDone_ = head_.ends_with("\r\n\r\n");
      return;
    }
    same_ = same_ && body_ < expected.size() && expected[body_] == c;
    ++body_;
  }

  int fd_;
  std::string head_;
  bool headDone_ = false;
  size_t body_ = 0;
  bool same_ = true;
};

// How many sockets process `pid` holds open.
int socketsOf(pid_t pid) {
  int sockets = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    if (fs::read_symlink(entry.path(), ec).string().starts_with("socket:")) ++sockets;
  }
  return sockets;
}

// Calls `meanwhile` every 200 ms until `done` holds or 20 s have passed.
bool whileWaiting(const std::function<bool()>& done, const std::function<void()>& meanwhile) {
  for (auto deadline = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < deadline;) {
    if (done()) return true;
    meanwhile();
    std::this_thread::sleep_for(200ms);
  }
  return done();
}

class DistributionServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = fs::path(::testing::TempDir()) / ("distribution-server-" + std::to_string(::getpid()));
    fs::remove_all(work_);
  }
  void TearDown() override {
    if (server_.pid > 0) {
      ::kill(server_.pid, SIGKILL);
      (void)quillo::waitForExit(server_.pid);
    }
    if (server_.outputFd >= 0) ::close(server_.outputFd);
    fs::remove_all(work_);
  }

  static std::vector<std::string> command(std::vector<std::string> args) {
    args.insert(args.begin(), QUILLO_DISTRIBUTION_SERVER);
    return args;
  }
  // Runs the tool to its end with `args`.
  static ToolRun run(std::vector<std::string> args) {
    quillo::Spawned child;
    ToolRun r;
    if (quillo::spawnProcess(command(std::move(args)), {.captureOutput = true, .captureError = true}, child)) {
      return r;
    }
    quillo::readBoth(child.outputFd, r.out, child.errorFd, r.err);
    ::close(child.outputFd);
    ::close(child.errorFd);
    r.status = quillo::waitForExit(child.pid).value_or(-1);
    return r;
  }
  std::vector<std::string> withBundle(std::string port, std::string bundle = kBundle) const {
    return {"--port", std::move(port), "--bundle", std::move(bundle), "--work", work_.string()};
  }
  // Starts the server on a free port; returns its port, or 0.
  int start(const std::string& bundle = kBundle) {
    if (quillo::spawnProcess(command(withBundle("0", bundle)), {.captureOutput = true}, server_))
      return 0;
    const std::string line = nextLine();
    const std::string prefix = "serving on http://127.0.0.1:";
    if (!line.starts_with(prefix)) return 0;
    return std::stoi(line.substr(prefix.size()));
  }
  // Whether the started server has ended; its status in `status`.
  bool ended(int& status) {
    int raw = 0;
    if (::waitpid(server_.pid, &raw, WNOHANG) != server_.pid) return false;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    server_.pid = -1;
    return true;
  }
  // The server's next line of output; what came of it when none ends within
  // 20 s, so that a line never printed fails the test rather than hangs it.
  std::string nextLine() { return lineFrom(server_.outputFd); }
  static std::string lineFrom(int fd) {
    std::string line;
    pollfd ready{.fd = fd, .events = POLLIN, .revents = 0};
    char c;
    while (::poll(&ready, 1, 20'000) == 1 && ::read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  // A bundle whose package is far larger than what the sockets between a
  // client and the server hold, so that a client that does not read stalls
  // its download; empty when it cannot be made.
  std::string largeBundle() const {
    const fs::path bundle = work_ / "large" / "Quillo.app";
    std::error_code ec;
    fs::create_directories(bundle / "Contents", ec);
    fs::copy_file(fs::path(kBundle) / "Contents/Info.json", bundle / "Contents/Info.json", ec);
    if (ec) return "";
    // Does not compress: the package stays as large.
    std::mt19937_64 random(33);
    std::vector<uint64_t> words((size_t{4} << 20) / sizeof(uint64_t));
    for (uint64_t& word : words) word = random();
    std::ofstream out(bundle / "Contents/blob", std::ios::binary);
    out.write(reinterpret_cast<const char*>(words.data()),
              static_cast<std::streamsize>(words.size() * 8));
    return out ? bundle.string() : "";
  }

  // Starts the server on a large package with `count` clients that ask for it
  // through a small window and never read; returns its port once it has
  // answered `answered` of them, or 0.
  int startWithStalledDownloads(int count, int answered) {
    const std::string bundle = largeBundle();
    const int port = bundle.empty() ? 0 : start(bundle);
    if (port == 0) return 0;
    stalled_ = std::make_unique<Clients>(
        port, count, "GET /pkg/Quillo.zip HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 2048);
    if (stalled_->size() != static_cast<size_t>(count)) return 0;
    for (int i = 0; i < answered; ++i) {
      if (nextLine() != "GET /pkg/Quillo.zip") return 0;
    }
    return port;
  }

  static constexpr const char* kBundle = QUILLO_FIXTURES_DIR "/package/Quillo.app";
  fs::path work_;
  quillo::Spawned server_;
  std::unique_ptr<Clients> stalled_;
};

TEST_F(DistributionServerTest, UsageErrorsNameTheCause) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--port", "abc", "--bundle", kBundle, "--work", "w"}, "--port: not a port number: abc"},
      {{"--port", "-1", "--bundle", kBundle, "--work", "w"}, "--port: not a port number: -1"},
      {{"--port", "70000", "--bundle", kBundle, "--work", "w"}, "--port: not a port number (0-65535): 70000"},
      {{"--port", "65536", "--bundle", kBundle, "--work", "w"}, "--port: not a port number (0-65535): 65536"},
      {{"--port", "123456", "--bundle", kBundle, "--work", "w"}, "--port: not a port number: 123456"},
      {{"--port", "", "--bundle", kBundle, "--work", "w"}, "--port: not a port number: "},
      {{"--bundle", kBundle, "--work", "w", "--port"}, "--port: missing value"},
      {{"--port", "8740", "--bundle", "", "--work", "w"}, "--bundle: missing value"},
      {{"--bundle", kBundle, "--work", "w"}, "missing --port"},
      {{"--port", "8740", "--bundle", kBundle}, "missing --work"},
      {{"--port", "8740", "--bundle", kBundle, "--work"}, "--work: missing value"},
      {{"--port", "8740", "--work", "w"}, "missing --bundle"},
      {{"--colour", "red"}, "unknown option: --colour"},
  };
  for (const auto& [args, message] : cases) {
    const ToolRun r = run(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_THAT(r.err, HasSubstr("quillo-distribution-server: " + message + "\n"));
    EXPECT_THAT(r.err, HasSubstr("usage: "));
  }
  EXPECT_FALSE(fs::exists("w")) << "a usage error creates nothing";
}

TEST_F(DistributionServerTest, HelpPrintsTheUsageAndSucceeds) {
  for (const char* flag : {"--help", "-h"}) {
    const ToolRun r = run({flag});
    EXPECT_EQ(r.status, 0) << flag;
    EXPECT_EQ(r.out.rfind("usage: quillo-distribution-server --port PORT", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(DistributionServerTest, StartUpFailuresNameTheCause) {
  // A port someone else listens on.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  socklen_t size = sizeof address;
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));
  const ToolRun taken = run(withBundle(port));
  ::close(fd);
  EXPECT_EQ(taken.status, 1);
  EXPECT_EQ(taken.err, "quillo-distribution-server: cannot listen on 127.0.0.1:" + port +
                           ": address already in use\n");

  // Either the name or the Info.json alone is not a bundle.
  const fs::path named = work_ / "named" / "Quillo.app";
  const fs::path other = work_ / "other" / "Other.app";
  fs::create_directories(named / "Contents");
  fs::create_directories(other / "Contents");
  fs::copy_file(fs::path(kBundle) / "Contents/Info.json", other / "Contents/Info.json");
  const std::vector<std::pair<std::string, fs::path>> notBundles = {
      {"0", work_}, {"0", named}, {"0", other},
      {"65535", work_},  // The highest port is one: the bundle is what is refused.
  };
  for (const auto& [portText, bundle] : notBundles) {
    const ToolRun r = run({"--port", portText, "--bundle", bundle.string(), "--work", work_.string()});
    EXPECT_EQ(r.status, 1) << bundle << " on port " << portText;
    EXPECT_THAT(r.err, HasSubstr(bundle.string() + " is not a Quillo.app bundle")) << portText;
  }
}

TEST_F(DistributionServerTest, ServesThePackageItDescribesAndPrintsReportsByName) {
  const int port = start();
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);

  const auto info = client.Get("/web/mac/download?channel=InstallInfo");
  ASSERT_TRUE(info);
  EXPECT_EQ(nextLine(), "GET /web/mac/download?channel=InstallInfo");
  const auto package = client.Get("/pkg/Quillo.zip");
  ASSERT_TRUE(package);
  EXPECT_EQ(package->status, 200);
  EXPECT_EQ(nextLine(), "GET /pkg/Quillo.zip");
  // The installer's size probe.
  const auto probe = client.Head("/pkg/Quillo.zip");
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->get_header_value("Content-Length"), std::to_string(package->body.size()));
  EXPECT_EQ(nextLine(), "HEAD /pkg/Quillo.zip");
  EXPECT_THAT(info->body, HasSubstr("\"zip_download_md5\":\"" + quillo::md5Hex(std::span<const uint8_t>(
                                        reinterpret_cast<const uint8_t*>(package->body.data()), package->body.size())) + "\""));
  EXPECT_THAT(info->body, HasSubstr("\"zip_download_url\":\"http://127.0.0.1:" + std::to_string(port) +
                                    "/pkg/Quillo.zip\""));

  namespace pb = com::norvane::tanix::pb;
  const std::string body = quillo::commonActionReportBody(
      pb::ql_pc_app_scene_intro_install, pb::ql_pc_app_action_click_install, {.appVersion = "1.0.0(1)"});
  const auto posted = client.Post("/ombra/single", body, "application/x-www-form-urlencoded");
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 200);
  EXPECT_THAT(nextLine(), HasSubstr("report: scene ql_pc_app_scene_intro_install (1) "
                                    "action ql_pc_app_action_click_install (2) version \"1.0.0(1)\""));
}

// The status line of the answer to `request`, sent whole on a connection of
// its own; empty when there is none.
std::string statusLine(int port, const std::string& request) {
  const int fd = connectTo(port);
  std::string answer;
  if (fd >= 0 && sendAll(fd, request)) {
    char buffer[4096];
    ssize_t got;
    while (answer.find("\r\n") == std::string::npos && (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
      answer.append(buffer, static_cast<size_t>(got));
  }
  if (fd >= 0) ::close(fd);
  return answer.substr(0, answer.find("\r\n"));
}

// Each method on each path gets its status, and the lines printed say what
// came; a report that cannot be read is printed as such and answered.
TEST_F(DistributionServerTest, AnswersAndPrintsEachRequestByMethodAndPath) {
  const int port = start();
  ASSERT_GT(port, 0);
  struct Case {
    std::string request;
    std::string status;
    std::string line;  // Printed; empty for none.
  };
  const auto post = [](const std::string& path, const std::string& body) {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  const auto bare = [](const std::string& method, const std::string& path) {
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  };
  const std::vector<Case> cases = {
      {bare("GET", "/web/mac/download"), "HTTP/1.1 200 OK", "GET /web/mac/download"},
      {bare("HEAD", "/web/mac/download?x=%01"), "HTTP/1.1 200 OK", "HEAD /web/mac/download?x=%01"},
      // What the log line shows of a target's bytes.
      {bare("GET", "/web/mac/download?a b~\x7f\x1f"), "HTTP/1.1 200 OK", "GET /web/mac/download?a b~\\x7f\\x1f"},
      {bare("GET", "/ombra/single"), "HTTP/1.1 405 Method Not Allowed", "GET /ombra/single: reports are POSTed"},
      {bare("HEAD", "/ombra/single"), "HTTP/1.1 405 Method Not Allowed", "HEAD /ombra/single: reports are POSTed"},
      {post("/web/mac/download", "content=x"), "HTTP/1.1 405 Method Not Allowed", ""},
      {post("/pkg/Quillo.zip", "content=x"), "HTTP/1.1 405 Method Not Allowed", ""},
      {bare("DELETE", "/pkg/Quillo.zip"), "HTTP/1.1 405 Method Not Allowed", ""},
      {bare("GET", "/pkg/Other.zip"), "HTTP/1.1 404 Not Found", ""},
      {post("/ombra/single", "abc"), "HTTP/1.1 200 OK", "report: not a form with content="},
      {post("/ombra/single", "content=nocomma"), "HTTP/1.1 200 OK", "report: malformed content"},
      {post("/ombra/single", "content=%ZZ"), "HTTP/1.1 200 OK", "report: malformed content"},
      {post("/ombra/single", "content=a%2C%20%21%21"), "HTTP/1.1 200 OK", "report: undecodable a"},
  };
  std::vector<std::string> printed;
  for (const Case& c : cases) {
    EXPECT_EQ(statusLine(port, c.request), c.status) << c.request;
    if (!c.line.empty()) printed.push_back(c.line);
  }
  ASSERT_EQ(statusLine(port, bare("GET", "/web/mac/download?end")), "HTTP/1.1 200 OK");
  printed.push_back("GET /web/mac/download?end");
  for (const std::string& line : printed) EXPECT_EQ(nextLine(), line);
}

TEST_F(DistributionServerTest, OversizedBodiesAreRefusedAndStopEndsCleanly) {
  const int port = start();
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  // The limit is 64 KiB.
  for (const auto& [size, status] : {std::pair{64 << 10, 200}, {(64 << 10) + 1, 413}, {1 << 20, 413}}) {
    const auto posted = client.Post("/ombra/single", std::string(size, 'x'), "text/plain");
    ASSERT_TRUE(posted) << size;
    EXPECT_EQ(posted->status, status) << size;
  }
  const auto after = client.Get("/web/mac/download");
  ASSERT_TRUE(after) << "still serving";
  EXPECT_EQ(after->status, 200);

  ::kill(server_.pid, SIGTERM);
  EXPECT_EQ(quillo::waitForExit(server_.pid), 0);
  server_.pid = -1;
}

// Two servers started at once on one port: one serves, the other is told the
// port is taken; never do both listen.
TEST_F(DistributionServerTest, TwoServersStartedTogetherNeverShareAPort) {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t size = sizeof address;
  ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size), 0);
  ::close(probe);
  const std::string port = std::to_string(ntohs(address.sin_port));
  quillo::Spawned servers[2];
  for (int i = 0; i < 2; ++i) {
    const auto work = work_ / std::to_string(i);
    ASSERT_FALSE(quillo::spawnProcess(command({"--port", port, "--bundle", kBundle, "--work", work.string()}),
                                      {.captureOutput = true, .captureError = true}, servers[i]));
  }
  int serving = 0;
  for (auto& server : servers) {
    const bool serves = lineFrom(server.outputFd).starts_with("serving on");
    serving += serves ? 1 : 0;
    if (serves) ::kill(server.pid, SIGKILL);
    const std::string err = quillo::readAll(server.errorFd);
    ::close(server.outputFd);
    ::close(server.errorFd);
    const auto status = quillo::waitForExit(server.pid);
    if (!serves) {
      EXPECT_EQ(status, 1);
      EXPECT_THAT(err, HasSubstr(":" + port + ": address already in use"));
    }
  }
  EXPECT_EQ(serving, 1);
}

// Heads that never end, with long lines or many short ones, are cut off after
// a bounded amount, and the server goes on serving.
TEST_F(DistributionServerTest, EndlessRequestHeadsAreCutOff) {
  const int port = start();
  ASSERT_GT(port, 0);
  for (const std::string& line : {"X-Fill: " + std::string(8000, 'x') + "\r\n", std::string("a:b\r\n")}) {
    const int fd = connectTo(port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, "GET /web/mac/download HTTP/1.1\r\n"));
    size_t sent = 0;
    std::string block;
    while (block.size() < 64 * 1024) block += line;
    while (sent < (size_t{64} << 20) && sendAll(fd, block)) sent += block.size();
    EXPECT_LT(sent, size_t{64} << 20) << "the server kept reading a head of " << line.size() << "-byte lines";
    ::close(fd);
  }
  httplib::Client client("127.0.0.1", port);
  const auto after = client.Get("/web/mac/download");
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 200);
}

// Clients that trickle their requests hold no one up, nor more than the
// server's connections.
TEST_F(DistributionServerTest, SlowClientsNeverKeepOthersWaiting) {
  const int port = start();
  ASSERT_GT(port, 0);
  Clients slow = slowClients(port, 80);
  ASSERT_EQ(slow.size(), 80u);
  auto served = std::async(std::launch::async, [port] {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    const auto answer = client.Get("/web/mac/download");
    return answer ? answer->status : -1;
  });
  ASSERT_TRUE(whileWaiting([&] { return served.wait_for(0s) == std::future_status::ready; },
                           [&] { slow.trickle(); }));
  EXPECT_EQ(served.get(), 200);
  // Memory stays bounded: the rest wait to be accepted.
  EXPECT_LE(socketsOf(server_.pid), kServerConnections + 1) << "connections and the listener";
}

// More idle connections than the server takes at once, all ahead of a
// client in the queue: they give way to it.
TEST_F(DistributionServerTest, IdleConnectionsNeverQueueAheadOfAClient) {
  if (!roomForFiles(1700)) GTEST_SKIP() << "needs a limit of 1700 open files";
  const int port = start();
  ASSERT_GT(port, 0);
  Clients idle(port, 1500, "");
  ASSERT_EQ(idle.size(), 1500u);
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(2);
  client.set_read_timeout(2);
  const auto answer = client.Get("/web/mac/download");
  ASSERT_TRUE(answer) << "the client was not answered within 2 s";
  EXPECT_EQ(answer->status, 200);
  EXPECT_LE(socketsOf(server_.pid), kServerConnections + 1) << "connections and the listener";
}

// With every connection taken and nobody waiting, a request still coming in
// keeps its whole time: only a waiting client makes it give way.
TEST_F(DistributionServerTest, ARequestStillComingKeepsItsTimeWhileNobodyWaits) {
  if (!roomForFiles(1700)) GTEST_SKIP() << "needs a limit of 1700 open files";
  const int port = start();
  ASSERT_GT(port, 0);
  const int coming = connectTo(port);
  ASSERT_GE(coming, 0);
  ASSERT_TRUE(sendAll(coming, "GET /web/mac/download HTTP/1.1\r\n"));
  Clients idle(port, kServerConnections - 1, "");
  ASSERT_EQ(idle.size(), size_t{kServerConnections - 1});
  std::this_thread::sleep_for(1s);  // Past the grace, well within the request's time.
  ASSERT_TRUE(sendAll(coming, "Host: 127.0.0.1\r\n\r\n"));
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = ::recv(coming, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
  ::close(coming);
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")) << answer;
}

// Readers that take a little of their download now and then hold up no
// client, and those left keep their downloads whole.
TEST_F(DistributionServerTest, SlowReadersMakeRoomForAClient) {
  const std::string bundle = largeBundle();
  ASSERT_FALSE(bundle.empty());
  const int port = start(bundle);
  ASSERT_GT(port, 0);
  std::ifstream zip(work_ / "Quillo.zip", std::ios::binary);
  const std::string package((std::istreambuf_iterator<char>(zip)),
                            std::istreambuf_iterator<char>());
  ASSERT_GT(package.size(), size_t{1} << 20);
  std::vector<std::unique_ptr<Reader>> readers;
  for (int i = 0; i < 64; ++i) {
    readers.push_back(
        std::make_unique<Reader>(port, "GET /pkg/Quillo.zip HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    ASSERT_TRUE(readers.back()->connected());
  }
  std::vector<bool> going(readers.size(), true);
  const auto slowRound = [&] {
    for (size_t i = 0; i < readers.size(); ++i)
      going[i] = going[i] && readers[i]->take(4096, package);
    std::this_thread::sleep_for(500ms);
  };
  // Long enough for the server to see how slowly they read.
  for (int round = 0; round < 4; ++round) slowRound();
  auto served = std::async(std::launch::async, [port] {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2);
    client.set_read_timeout(2);
    const auto answer = client.Get("/pkg/Quillo.zip");
    return answer ? answer->body.size() : size_t{0};
  });
  while (served.wait_for(0s) != std::future_status::ready) slowRound();
  EXPECT_EQ(served.get(), package.size()) << "the client was not answered within 2 s";
  int left = 0;
  for (size_t i = 0; i < readers.size(); ++i) {
    while (going[i] && readers[i]->take(SIZE_MAX, package)) {
    }
    EXPECT_TRUE(readers[i]->sound()) << "reader " << i;
    left += readers[i]->whole(package) ? 1 : 0;
  }
  EXPECT_GE(left, 1) << "every reader was evicted";
}

// A request that never ends, in its head or in its body, is cut off.
TEST_F(DistributionServerTest, RequestsThatNeverEndAreCutOff) {
  const int port = start();
  ASSERT_GT(port, 0);
  const std::vector<std::string> begun = {
      "GET /web/mac/download HTTP/1.1\r\n",
      "POST /ombra/single HTTP/1.1\r\nContent-Length: 1000\r\n\r\ncontent="};
  std::vector<int> trickling;
  for (const std::string& start : begun) {
    trickling.push_back(connectTo(port));
    ASSERT_TRUE(sendAll(trickling.back(), start)) << start;
  }
  std::vector<bool> cutOff(trickling.size(), false);
  whileWaiting([&] { return std::find(cutOff.begin(), cutOff.end(), false) == cutOff.end(); },
               [&] {
                 for (size_t i = 0; i < trickling.size(); ++i)
                   cutOff[i] = cutOff[i] || !sendAll(trickling[i], "X");
               });
  for (size_t i = 0; i < trickling.size(); ++i) {
    EXPECT_TRUE(cutOff[i]) << begun[i];
    ::close(trickling[i]);
  }
}

// Clients that ask for the package and never read it hold every connection
// the server has; a new client is answered all the same.
TEST_F(DistributionServerTest, StalledDownloadsMakeRoomForANewClient) {
  // 72 ask, and the server takes as many as it serves at once.
  const int port = startWithStalledDownloads(72, 64);
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(5);
  client.set_read_timeout(5);
  const auto answer = client.Get("/web/mac/download");
  ASSERT_TRUE(answer) << "the new client was not answered within 5 s";
  EXPECT_EQ(answer->status, 200);
}

// SIGTERM ends the server at once, whoever is connected and however slowly.
TEST_F(DistributionServerTest, StopEndsTheServerWhileClientsAreSlow) {
  const int port = startWithStalledDownloads(16, 16);
  ASSERT_GT(port, 0);
  Clients slow = slowClients(port, 16);
  ASSERT_EQ(slow.size(), 16u);
  slow.trickle();
  ::kill(server_.pid, SIGTERM);
  int status = -1;
  ASSERT_TRUE(whileWaiting([&] { return ended(status); }, [&] { slow.trickle(); }));
  EXPECT_EQ(status, 0);
}

}  // namespace
