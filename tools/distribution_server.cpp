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
// It runs on cpp-httplib with a bounded pool of worker threads (the accept
// loop waits when every worker and queue slot is busy), read, write and
// keep-alive timeouts, and a limit on request bodies, so slow or idle clients
// cannot pile up threads or memory.
//
// Port 0 takes a free port; the "serving on" line names it.
// Runs until SIGINT or SIGTERM. Exit status: 0 stopped, 1 could not start
// (the message names the cause), 2 usage.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

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

constexpr size_t kWorkerThreads = 8;
constexpr size_t kQueuedConnections = 32;
constexpr time_t kIoTimeoutSeconds = 10;
constexpr time_t kKeepAliveSeconds = 5;
// A report form is a few hundred bytes; nothing else carries a body.
constexpr size_t kMaxRequestBody = 64 * 1024;

void usageLine() {
  std::fprintf(stderr, "usage: quillo-distribution-server --port PORT --bundle Quillo.app --work DIR\n");
}

int usage(const std::string& why) {
  std::fprintf(stderr, "quillo-distribution-server: %s\n", why.c_str());
  usageLine();
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

// A fixed pool of workers over a bounded queue: enqueue() waits for a free
// slot, so a flood of connections waits in the kernel's backlog instead of
// in memory. (The library's own pool queues without limit.)
class BoundedPool final : public httplib::TaskQueue {
 public:
  BoundedPool(size_t threads, size_t capacity) : capacity_(capacity) {
    for (size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
  }
  ~BoundedPool() override { shutdown(); }
  BoundedPool(const BoundedPool&) = delete;
  BoundedPool& operator=(const BoundedPool&) = delete;

  void enqueue(std::function<void()> fn) override {
    std::unique_lock lock(mu_);
    roomOrStop_.wait(lock, [&] { return stopping_ || jobs_.size() < capacity_; });
    // After shutdown the job still runs here, so its socket is closed.
    if (stopping_) {
      lock.unlock();
      fn();
      return;
    }
    jobs_.push_back(std::move(fn));
    workOrStop_.notify_one();
  }

  void shutdown() override {
    {
      std::lock_guard lock(mu_);
      if (stopping_ && workers_.empty()) return;
      stopping_ = true;
    }
    workOrStop_.notify_all();
    roomOrStop_.notify_all();
    for (auto& t : workers_) t.join();
    workers_.clear();
  }

 private:
  void work() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mu_);
        workOrStop_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // Stopping, and everything queued has run.
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      roomOrStop_.notify_one();
      job();
    }
  }

  const size_t capacity_;
  std::mutex mu_;
  std::condition_variable workOrStop_;
  std::condition_variable roomOrStop_;
  std::deque<std::function<void()>> jobs_;  // Guarded by mu_.
  bool stopping_ = false;                   // Guarded by mu_.
  std::vector<std::thread> workers_;
};

// Binds a probe socket the way the server will, to learn why a bind fails:
// the HTTP library only answers yes or no. Nothing on success.
std::optional<int> bindError(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, kHost, &address.sin_addr);
  std::optional<int> error;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) error = errno;
  ::close(fd);
  return error;
}

std::string queryOf(const httplib::Request& request) {
  std::string query;
  for (const auto& [key, value] : request.params) query += (query.empty() ? "?" : "&") + key + "=" + value;
  return query;
}

struct Options {
  int port = -1;
  fs::path bundle;
  fs::path work;
};

// Nothing on success, else the usage error to print.
std::optional<std::string> parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
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
  Options options;
  if (auto error = parse(argc, argv, options)) return usage(*error);
  const fs::path& bundle = options.bundle;
  if (bundle.filename() != "Quillo.app" || !fs::is_regular_file(bundle / "Contents/Info.json")) {
    return cannotStart(bundle.string() + " is not a Quillo.app bundle");
  }
  if (auto err = bindError(options.port)) {
    return cannotStart("cannot listen on " + std::string(kHost) + ":" + std::to_string(options.port) + ": " +
                       errorText(*err));
  }

  // Signals are taken by sigwait below; block them before any thread starts.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::error_code ec;
  fs::create_directories(options.work, ec);
  if (ec) return cannotStart("cannot create " + options.work.string() + ": " + ec.message());
  const fs::path zip = options.work / "Quillo.zip";
  if (auto error = pack(bundle, zip)) return cannotStart(*error);
  const auto md5 = quillo::md5HexOfFile(zip.string());
  std::ifstream in(zip, std::ios::binary);
  const std::string package(std::istreambuf_iterator<char>(in), {});
  if (!md5 || in.bad()) return cannotStart("cannot read " + zip.string());
  const quillo::Bundle sample(bundle.string());
  const std::string version = sample.infoString("CFBundleShortVersionString").value_or("0.0.0") + "." +
                              sample.infoString("CFBundleVersion").value_or("0");
  std::string info;  // Set once the port is known, before the first request.

  httplib::Server server;
  server.new_task_queue = [] { return new BoundedPool(kWorkerThreads, kQueuedConnections); };
  server.set_read_timeout(kIoTimeoutSeconds, 0);
  server.set_write_timeout(kIoTimeoutSeconds, 0);
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.set_payload_max_length(kMaxRequestBody);

  server.Get(kInfoPath, [&](const httplib::Request& req, httplib::Response& res) {
    say(req.method + " " + req.path + queryOf(req));
    res.set_content(info, "application/json");
  });
  server.Get(kPackagePath, [&](const httplib::Request& req, httplib::Response& res) {
    say(req.method + " " + req.path);
    res.set_content(package, "application/zip");
  });
  server.Post(kReportPath, [](const httplib::Request& req, httplib::Response& res) {
    say(describeReport(req.body));
    res.status = 200;
  });
  server.Get(kReportPath, [](const httplib::Request& req, httplib::Response& res) {
    say(req.method + " " + req.path + ": reports are POSTed");
    res.status = 405;
  });

  const int port = options.port == 0 ? server.bind_to_any_port(kHost)
                                     : (server.bind_to_port(kHost, options.port) ? options.port : -1);
  if (port <= 0) {
    const auto err = bindError(options.port);
    return cannotStart("cannot listen on " + std::string(kHost) + ":" + std::to_string(options.port) + ": " +
                       (err ? errorText(*err) : "the port is taken"));
  }
  const std::string origin = "http://" + std::string(kHost) + ":" + std::to_string(port);
  info = R"({"zip_download_url":")" + origin + kPackagePath + R"(","zip_download_md5":")" + *md5 +
         R"(","zip_version":")" + version + R"(","package_type":"demo"})";
  std::thread listener([&] { server.listen_after_bind(); });
  say("serving on " + origin + "/: package " + zip.string() + " md5 " + *md5 + " version " + version);
  int sig = 0;
  sigwait(&stopSignals, &sig);
  say("stopping");
  server.stop();
  listener.join();
  return 0;
}
