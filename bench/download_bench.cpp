// Downloads a 512 MiB file from the loopback server with the URL session and
// with `curl -o`, then hashes it with md5HexOfFile and with `md5sum`, and
// prints the figures with their ratios. Each figure is the best of three runs.
//
//   build/dev/bench/quillo_download_bench [MiB]
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

#include "installer/installer_zip_download_manager.h"
#include "installer/md5.h"
#include "loopback_http_server.h"
#include "platform/dispatch.h"
#include "platform/url_session.h"

namespace {

namespace fs = std::filesystem;
using Seconds = std::chrono::duration<double>;

constexpr int kRuns = 3;

double bestOf(const std::function<void()>& body) {
  double best = 1e30;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    best = std::min(best, Seconds(std::chrono::steady_clock::now() - start).count());
  }
  return best;
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

int main(int argc, char** argv) {
  size_t mib = 512;
  if (argc > 1) {
    char* end = nullptr;
    mib = std::strtoul(argv[1], &end, 10);
    if (argc > 2 || end == argv[1] || *end != '\0' || mib == 0) {
      std::fprintf(stderr, "quillo_download_bench: bad argument: %s\nusage: quillo_download_bench [MIB]\n",
                   argv[argc > 2 ? 2 : 1]);
      return 2;
    }
  }
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
  const double sessionTime = bestOf([&] {
    fs::remove(ours);
    ok = sessionDownload(url, folder, ours) && ok;
  });
  const double curlTime = bestOf([&] {
    fs::remove(theirs);
    ok = std::system(curlCommand.c_str()) == 0 && ok;
  });
  std::string ourMd5;
  const double md5Time = bestOf([&] { ourMd5 = quillo::md5HexOfFile(ours.string()).value_or(""); });
  const std::string md5sumCommand = "md5sum '" + theirs.string() + "' > /dev/null";
  const double md5sumTime = bestOf([&] { ok = std::system(md5sumCommand.c_str()) == 0 && ok; });
  const double managerTime = bestOf([&] { ok = managerDownload(server, folder, ourMd5) && ok; });
  const bool same = fs::file_size(ours) == fs::file_size(source) &&
                    quillo::md5HexOfFile(theirs.string()) == ourMd5 &&
                    quillo::md5HexOfFile(source.string()) == ourMd5;

  const double size = static_cast<double>(mib);
  std::printf("file: %zu MiB over 127.0.0.1, best of %d runs\n", mib, kRuns);
  std::printf("download  URLSession   %8.3f s  %8.1f MiB/s\n", sessionTime, size / sessionTime);
  std::printf("download  curl -o      %8.3f s  %8.1f MiB/s\n", curlTime, size / curlTime);
  std::printf("  throughput ratio (ours / curl): %.3f\n", curlTime / sessionTime);
  std::printf("md5       md5HexOfFile %8.3f s  %8.1f MiB/s\n", md5Time, size / md5Time);
  std::printf("md5       md5sum       %8.3f s  %8.1f MiB/s\n", md5sumTime, size / md5sumTime);
  std::printf("  time ratio (ours / md5sum):     %.3f\n", md5Time / md5sumTime);
  std::printf("whole chain (info, HEAD, disk check, download, MD5): %.3f s\n", managerTime);
  std::printf("results %s\n", ok && same ? "identical" : "DIFFER OR FAILED");
  fs::remove_all(folder);
  return ok && same ? 0 : 1;
}
