// Downloads a 512 MiB file from the loopback server with the URL session and
// with `curl -o`, then hashes it with md5HexOfFile and with `md5sum`, and
// prints the figures with their ratios. Each figure is the median of --runs
// runs (default 5) with their spread (min..max), ours and the peer's taking
// turns; a ratio whose two spreads overlap prints as "~1x". The load average
// is printed before and after.
//
//   build/dev/bench/quillo_download_bench [MiB] [--runs=5]
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "bench_stats.h"
#include "installer/installer_zip_download_manager.h"
#include "installer/md5.h"
#include "loopback_http_server.h"
#include "platform/dispatch.h"
#include "platform/url_session.h"

namespace {

namespace fs = std::filesystem;
using Seconds = std::chrono::duration<double>;

double secondsOf(const std::function<void()>& body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return Seconds(std::chrono::steady_clock::now() - start).count();
}

// Runs `ours` and `theirs` in turns, `runs` times each; their seconds.
std::pair<bench::Spread, bench::Spread> inTurns(int runs, const std::function<void()>& ours,
                                                const std::function<void()>& theirs) {
  std::vector<double> a, b;
  for (int i = 0; i < runs; ++i) {
    a.push_back(secondsOf(ours));
    b.push_back(secondsOf(theirs));
  }
  return {bench::spreadOf(a), bench::spreadOf(b)};
}

// MiB/s from seconds: the fastest run gives the largest rate.
bench::Spread rateOf(double mib, const bench::Spread& seconds) {
  return {mib / seconds.median, mib / seconds.max, mib / seconds.min};
}

void writeRandomFile(const fs::path& path, size_t mib) {
  std::ofstream out(path, std::ios::binary);
  std::vector<uint64_t> block((4 << 20) / sizeof(uint64_t));
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (size_t written = 0; written < mib; written += 4) {
    for (auto& v : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      v = x;
    }
    out.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(block.size() * sizeof(uint64_t)));
  }
}

class MoveDelegate : public quillo::URLSessionDownloadDelegate {
 public:
  explicit MoveDelegate(std::string target) : target_(std::move(target)) {}
  using quillo::URLSessionDownloadDelegate::urlSession;
  void urlSession(quillo::URLSession&, quillo::URLSessionDownloadTask&,
                  const std::string& location) override {
    moved_ = std::rename(location.c_str(), target_.c_str()) == 0;
  }
  void urlSession(quillo::URLSession&, quillo::URLSessionTask&,
                  const std::optional<quillo::URLError>& error) override {
    done_.set_value(!error && moved_);
  }
  std::future<bool> done() { return done_.get_future(); }

 private:
  std::string target_;
  bool moved_ = false;
  std::promise<bool> done_;
};

bool sessionDownload(const std::string& url, const fs::path& folder, const fs::path& target) {
  auto delegate = std::make_shared<MoveDelegate>(target.string());
  auto done = delegate->done();
  auto session = quillo::URLSession::make({}, delegate);
  session->downloadTask({.url = url}, folder.string())->resume();
  return done.get();
}

bool managerDownload(quillo::testing::LoopbackHttpServer& server, const fs::path& folder,
                     const std::string& md5) {
  server.route("/info", quillo::testing::CannedResponse{
                            .body = R"({"zip_download_url":")" + server.url("/big.zip") +
                                    R"(","zip_download_md5":")" + md5 + R"("})"});
  auto manager = quillo::InstallerZipDownloadManager::create(
      {.netManager = quillo::InstallerNetManager::create({.endpoint = server.url("/info")}),
       .downloadFolder = (folder / "manager").string()});
  std::atomic<int> result{-1};
  manager->downloadZipPackage(nullptr, [&](quillo::ZipDownloadResult r) {
    result = r.isSuccess() ? 1 : 0;
    quillo::Queue::main()->async([] {});
  });
  quillo::mainPlainLoop().runUntil([&] { return result >= 0; }, std::chrono::minutes(5));
  fs::remove_all(folder / "manager");
  return result == 1;
}

}  // namespace

constexpr const char* kUsage = "usage: quillo_download_bench [MIB] [--runs=5]\n";

int main(int argc, char** argv) {
  size_t mib = 512;
  int runs = bench::kDefaultRuns;
  bool sawSize = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    char* end = nullptr;
    bool bad = false;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg.rfind("--runs=", 0) == 0) {
      bad = !bench::parseRuns(arg, runs);
    } else {
      mib = std::strtoul(argv[i], &end, 10);
      bad = sawSize || end == argv[i] || *end != '\0' || mib == 0 || arg[0] == '-';
      sawSize = true;
    }
    if (bad) {
      std::fprintf(stderr, "quillo_download_bench: bad argument: %s\n%s", argv[i], kUsage);
      return 2;
    }
  }
  const std::string loadBefore = bench::loadAverage();
  char pattern[] = "/tmp/quillo-download-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const fs::path folder = pattern;
  const fs::path source = folder / "source.bin";
  const fs::path ours = folder / "ours.bin";
  const fs::path theirs = folder / "curl.bin";
  writeRandomFile(source, mib);

  quillo::testing::LoopbackHttpServer server;
  quillo::testing::CannedResponse file{.bodyFile = source.string()};
  server.route("/big.bin", file);
  server.route("/big.zip", file);
  const std::string url = server.url("/big.bin");
  const std::string curlCommand = "curl -s -o '" + theirs.string() + "' '" + url + "'";

  bool ok = true;
  const auto [sessionTime, curlTime] = inTurns(
      runs,
      [&] {
        fs::remove(ours);
        ok = sessionDownload(url, folder, ours) && ok;
      },
      [&] {
        fs::remove(theirs);
        ok = std::system(curlCommand.c_str()) == 0 && ok;
      });
  std::string ourMd5;
  const std::string md5sumCommand = "md5sum '" + theirs.string() + "' > /dev/null";
  const auto [md5Time, md5sumTime] = inTurns(
      runs, [&] { ourMd5 = quillo::md5HexOfFile(ours.string()).value_or(""); },
      [&] { ok = std::system(md5sumCommand.c_str()) == 0 && ok; });
  std::vector<double> chain;
  for (int i = 0; i < runs; ++i) chain.push_back(secondsOf([&] { ok = managerDownload(server, folder, ourMd5) && ok; }));
  const bool same = fs::file_size(ours) == fs::file_size(source) &&
                    quillo::md5HexOfFile(theirs.string()) == ourMd5 &&
                    quillo::md5HexOfFile(source.string()) == ourMd5;

  const auto size = static_cast<double>(mib);
  std::printf("file: %zu MiB over 127.0.0.1; median (min..max) of %d runs; load average before %s, after %s\n",
              mib, runs, loadBefore.c_str(), bench::loadAverage().c_str());
  std::printf("download  URLSession   %28s s  %28s MiB/s\n", bench::spreadText(sessionTime, "%.3f").c_str(),
              bench::spreadText(rateOf(size, sessionTime), "%.1f").c_str());
  std::printf("download  curl -o      %28s s  %28s MiB/s\n", bench::spreadText(curlTime, "%.3f").c_str(),
              bench::spreadText(rateOf(size, curlTime), "%.1f").c_str());
  std::printf("  throughput ratio (ours / curl): %s\n",
              bench::ratioText(rateOf(size, sessionTime), rateOf(size, curlTime)).c_str());
  std::printf("md5       md5HexOfFile %28s s  %28s MiB/s\n", bench::spreadText(md5Time, "%.3f").c_str(),
              bench::spreadText(rateOf(size, md5Time), "%.1f").c_str());
  std::printf("md5       md5sum       %28s s  %28s MiB/s\n", bench::spreadText(md5sumTime, "%.3f").c_str(),
              bench::spreadText(rateOf(size, md5sumTime), "%.1f").c_str());
  std::printf("  time ratio (ours / md5sum):     %s\n", bench::ratioText(md5Time, md5sumTime).c_str());
  std::printf("whole chain (info, HEAD, disk check, download, MD5): %s s\n",
              bench::spreadText(bench::spreadOf(chain), "%.3f").c_str());
  std::printf("results %s\n", ok && same ? "identical" : "DIFFER OR FAILED");
  fs::remove_all(folder);
  return ok && same ? 0 : 1;
}
