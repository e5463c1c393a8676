#include "installer/installer_zip_download_manager.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "installer/md5.h"
#include "loopback_http_server.h"
#include "platform/dispatch.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quillo::InstallerZipDownloadError;
using quillo::InstallerZipDownloadManager;
using quillo::ZipDownloadResult;
using quillo::testing::CannedResponse;
using quillo::testing::LoopbackHttpServer;
using quillo::testing::RecordedRequest;
using Error = InstallerZipDownloadError;

constexpr int64_t kMargin = InstallerZipDownloadManager::kDiskMargin;

std::string makePackage(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) ^ (i >> 7));
  return bytes;
}

std::string md5Of(const std::string& bytes) {
  return quillo::md5Hex(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string infoDocument(const std::string& url, const std::optional<std::string>& md5) {
  nlohmann::json doc = {{"zip_download_url", url}, {"zip_version", "1.0.0.7"}};
  if (md5) doc["zip_download_md5"] = *md5;
  return doc.dump();
}

struct Outcome {
  std::vector<ZipDownloadResult> results;
  std::vector<double> progress;
  std::vector<std::string> folderWhenHeard;  // The folder's entries as the result arrived.
};

class ZipDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("zip-download-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    fs::permissions(root_, fs::perms::owner_all);
    folder_ = root_ / "Quillo" / "ZipFile";
    package_ = makePackage(300 * 1024, 1);
    servePackage(package_);
    serveInfo(infoDocument(packageUrl(), md5Of(package_)));
  }
  void TearDown() override {
    quillo::mainPlainLoop().clear();
    fs::remove_all(root_);
  }

  std::string packageUrl() const { return server_.url("/pkg/quillo-1.0.zip?sig=1"); }
  fs::path destination() const { return folder_ / "quillo-1.0.zip"; }
  void serveInfo(std::string body) { server_.route("/info", CannedResponse{.body = std::move(body)}); }
  void servePackage(std::string body) {
    server_.route("/pkg/quillo-1.0.zip", CannedResponse{.body = std::move(body)});
  }
  // HEAD announces `length` (or nothing); GET serves the package itself.
  void announceLength(std::optional<std::string> length) {
    server_.route("/pkg/quillo-1.0.zip", [this, length](const RecordedRequest& r) {
      CannedResponse response{.body = package_};
      if (r.method == "HEAD") {
        if (length) response.headers = {{"Content-Length", *length}};
        else response.omitContentLength = true;
      }
      return response;
    });
  }

  std::shared_ptr<InstallerZipDownloadManager> manager() {
    if (manager_) return manager_;
    auto net = quillo::InstallerNetManager::create(
        {.endpoint = server_.url("/info"), .now = [this] { return now_ += clockStep_; }});
    manager_ = InstallerZipDownloadManager::create(
        {.netManager = net,
         .downloadFolder = folder_.string(),
         .diskSpace = [this](const std::string&) {
           return InstallerZipDownloadManager::DiskSpace{.basic = freeSpace_.load() < 0
                                                                      ? std::nullopt
                                                                      : std::optional(freeSpace_.load())};
         },
         .requestTimeout = requestTimeout_});
    return manager_;
  }

  // Starts one download; results and progress land in the returned outcome.
  std::shared_ptr<Outcome> start() {
    auto outcome = std::make_shared<Outcome>();
    manager()->downloadZipPackage(
        [this, outcome](double f) {
          std::lock_guard lock(mu_);
          outcome->progress.push_back(f);
        },
        [this, outcome](ZipDownloadResult r) {
          auto entries = folderEntries();
          {
            std::lock_guard lock(mu_);
            outcome->results.push_back(std::move(r));
            outcome->folderWhenHeard = std::move(entries);
          }
          quillo::Queue::main()->async([] {});  // Wakes the waiting main loop.
        });
    return outcome;
  }
  // Serves the main queue until `done`; the condition may turn true on another thread.
  static bool pumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      quillo::mainPlainLoop().runUntil(done, 5ms);
    }
    return true;
  }
  bool waitFor(const std::shared_ptr<Outcome>& outcome) {
    return quillo::mainPlainLoop().runUntil(
        [&] {
          std::lock_guard lock(mu_);
          return !outcome->results.empty();
        },
        20s);
  }
  ZipDownloadResult run() {
    auto outcome = start();
    EXPECT_TRUE(waitFor(outcome));
    std::lock_guard lock(mu_);
    EXPECT_EQ(outcome->results.size(), 1u);
    last_ = outcome;
    return outcome->results.empty() ? ZipDownloadResult::failure(Error::downloadZipError)
                                    : outcome->results.front();
  }
  static std::optional<Error> errorOf(const ZipDownloadResult& r) {
    return r.isSuccess() ? std::nullopt : std::optional(r.error());
  }
  size_t packageRequests(const char* method) const {
    return server_.requestCount(method, "/pkg/quillo-1.0.zip");
  }
  std::vector<std::string> folderEntries() const {
    std::vector<std::string> names;
    if (!fs::exists(folder_)) return names;
    for (const auto& e : fs::directory_iterator(folder_)) names.push_back(e.path().filename());
    return names;
  }

  LoopbackHttpServer server_;
  fs::path root_;
  fs::path folder_;
  std::string package_;
  std::atomic<int64_t> freeSpace_{int64_t{1} << 40};
  std::atomic<double> now_{1'700'000'000.0};
  double clockStep_ = 0.001;
  double requestTimeout_ = 60.0;
  std::shared_ptr<InstallerZipDownloadManager> manager_;
  std::shared_ptr<Outcome> last_;
  std::mutex mu_;
};

TEST_F(ZipDownloadTest, DownloadsVerifiesAndReportsProgressUpToOne) {
  const auto result = run();
  ASSERT_TRUE(result.isSuccess()) << quillo::toString(result.error());
  EXPECT_EQ(result.value().path, destination().string());
  EXPECT_EQ(readFile(destination()), package_);
  EXPECT_EQ(folderEntries(), std::vector<std::string>{"quillo-1.0.zip"});
  EXPECT_EQ((fs::status(folder_).permissions() & fs::perms::all), fs::perms::owner_all);
  EXPECT_EQ(packageRequests("HEAD"), 1u);
  EXPECT_EQ(packageRequests("GET"), 1u);
  ASSERT_FALSE(last_->progress.empty());
  for (size_t i = 0; i < last_->progress.size(); ++i) {
    EXPECT_GE(last_->progress[i], i == 0 ? 0.0 : last_->progress[i - 1]);
    EXPECT_LE(last_->progress[i], 1.0);
  }
  EXPECT_EQ(last_->progress.back(), 1.0);
}

TEST_F(ZipDownloadTest, ExistingArchiveIsReusedWithoutTrafficWhenItsMd5Matches) {
  fs::create_directories(folder_);
  fs::permissions(folder_, fs::perms::owner_all);
  writeFile(destination(), package_);
  const auto result = run();
  ASSERT_TRUE(result.isSuccess());
  EXPECT_EQ(packageRequests("HEAD") + packageRequests("GET"), 0u);
}

TEST_F(ZipDownloadTest, ExistingArchiveWithAnotherMd5IsDeletedAndRejected) {
  fs::create_directories(folder_);
  fs::permissions(folder_, fs::perms::owner_all);
  writeFile(destination(), "stale archive");
  EXPECT_EQ(errorOf(run()), Error::validateZipError);
  EXPECT_FALSE(fs::exists(destination()));
  EXPECT_EQ(packageRequests("HEAD") + packageRequests("GET"), 0u);
}

TEST_F(ZipDownloadTest, OtherEntriesOfTheFolderGoButNothingOutsideIt) {
  fs::create_directories(folder_ / "old-dir");
  fs::permissions(folder_, fs::perms::owner_all);
  writeFile(folder_ / "old.zip", "old");
  const fs::path outside = root_ / "keep.txt";
  writeFile(outside, "precious");
  fs::create_symlink(outside, folder_ / "link-out");
  fs::create_symlink(outside, destination());  // A link is never reused as the archive.
  ASSERT_TRUE(run().isSuccess());
  EXPECT_EQ(folderEntries(), std::vector<std::string>{"quillo-1.0.zip"});
  EXPECT_EQ(readFile(outside), "precious");
  EXPECT_FALSE(fs::is_symlink(destination()));
}

TEST_F(ZipDownloadTest, SizeProbeWithoutContentLengthFailsBeforeAnyTransfer) {
  announceLength(std::nullopt);
  EXPECT_EQ(errorOf(run()), Error::downloadZipError);
  EXPECT_EQ(packageRequests("HEAD"), 1u);
  EXPECT_EQ(packageRequests("GET"), 0u);
}

TEST_F(ZipDownloadTest, DiskCheckBoundaries) {
  const int64_t size = static_cast<int64_t>(package_.size());
  struct Case {
    std::string announced;
    int64_t freeSpace;  // -1: unknown
    std::optional<Error> expected;
  };
  const Case cases[] = {
      {"5368709119", 1000, Error::noAvailableStorageError},
      {"5368709120", 1000, std::nullopt},  // 5 GiB and more: check skipped.
      {std::to_string(size), size + kMargin, Error::noAvailableStorageError},
      {std::to_string(size), size + kMargin + 1, std::nullopt},
      {std::to_string(size), -1, std::nullopt},  // Unknown free space passes.
      {"1", 1 + kMargin, Error::noAvailableStorageError},  // The smallest size is checked too.
      {"0", 1000, std::nullopt},
      // A length that is no number reads as 0: the check is skipped, the download goes on.
      {"abc", 1000, std::nullopt},
      {"12abc", 1000, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.announced + " free=" + std::to_string(c.freeSpace));
    fs::remove_all(folder_);
    announceLength(c.announced);
    freeSpace_ = c.freeSpace;
    EXPECT_EQ(errorOf(run()), c.expected);
  }
}

TEST_F(ZipDownloadTest, AnnouncedMd5MustMatchExactlyInLowerCase) {
  std::string upper = md5Of(package_);
  for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (const std::optional<std::string>& md5 : {std::optional(upper), std::optional<std::string>(""),
                                                std::optional<std::string>()}) {
    fs::remove_all(folder_);
    manager_.reset();  // A fresh cache for the new document.
    serveInfo(infoDocument(packageUrl(), md5));
    EXPECT_EQ(errorOf(run()), Error::validateZipError) << md5.value_or("(none)");
    EXPECT_FALSE(fs::exists(destination()));
  }
}

TEST_F(ZipDownloadTest, CutOffTransferIsOneDownloadError) {
  server_.route("/pkg/quillo-1.0.zip", CannedResponse{.body = package_, .cutAfter = 1000});
  EXPECT_EQ(errorOf(run()), Error::downloadZipError);
  EXPECT_TRUE(last_->folderWhenHeard.empty());
  // A later, good download is unaffected by anything left of the failed one.
  servePackage(package_);
  EXPECT_TRUE(run().isSuccess());
}

// The probe announced one size; a body that keeps coming is not that package.
TEST_F(ZipDownloadTest, BodyGrowingPastTheProbedSizeIsADownloadError) {
  package_ = makePackage(InstallerZipDownloadManager::kBodySizeMargin + 300 * 1024, 2);
  serveInfo(infoDocument(packageUrl(), md5Of(package_)));
  server_.route("/pkg/quillo-1.0.zip", [this](const RecordedRequest& r) {
    CannedResponse response{.body = package_, .omitContentLength = true};
    if (r.method == "HEAD") response.headers = {{"Content-Length", "1000"}};
    return response;
  });
  EXPECT_EQ(errorOf(run()), Error::downloadZipError);
  EXPECT_TRUE(last_->folderWhenHeard.empty());
  manager_.reset();
  announceLength(std::to_string(package_.size()));
  EXPECT_TRUE(run().isSuccess()) << "the announced size is fine";
}

TEST(ZipDownloadLimitTest, BodyLimitFollowsTheProbeAndNeverPassesFiveGiB) {
  constexpr int64_t kBody = InstallerZipDownloadManager::kBodySizeMargin;
  constexpr int64_t kFiveGiB = InstallerZipDownloadManager::kDiskCheckLimit;
  const std::pair<int64_t, int64_t> cases[] = {
      {1000, 1000 + kBody}, {0, kFiveGiB}, {-1, kFiveGiB},
      {kFiveGiB - kBody - 1, kFiveGiB - 1}, {kFiveGiB - 1, kFiveGiB},
      {kFiveGiB, kFiveGiB}, {INT64_MAX, kFiveGiB},
  };
  for (const auto& [probed, limit] : cases) {
    EXPECT_EQ(InstallerZipDownloadManager::maximumBodySize(probed), limit) << probed;
  }
}

TEST_F(ZipDownloadTest, ErrorPageIsADownloadErrorAndNeverLandsAsTheArchive) {
  server_.route("/pkg/quillo-1.0.zip", CannedResponse{.status = 404, .body = "<html>gone</html>"});
  EXPECT_EQ(errorOf(run()), Error::downloadZipError);
  EXPECT_TRUE(last_->folderWhenHeard.empty());
}

// A folder that appears at the destination while the body is on its way
// cannot be replaced: the move fails, and that is the download's failure.
TEST_F(ZipDownloadTest, FailedMoveOfTheFinishedDownloadIsADownloadError) {
  server_.route("/pkg/quillo-1.0.zip", [this](const RecordedRequest& r) {
    if (r.method == "GET") fs::create_directories(destination() / "in the way");
    return CannedResponse{.body = package_};
  });
  EXPECT_EQ(errorOf(run()), Error::downloadZipError);
  EXPECT_TRUE(fs::is_directory(destination() / "in the way"));
  // The body it could not move is gone by the time the caller hears.
  EXPECT_EQ(last_->folderWhenHeard, std::vector<std::string>{"quillo-1.0.zip"});
}

TEST_F(ZipDownloadTest, StalledPackageServerHitsTheTimeout) {
  requestTimeout_ = 0.3;
  server_.route("/pkg/quillo-1.0.zip", [this](const RecordedRequest& r) {
    return r.method == "HEAD" ? CannedResponse{.body = package_} : CannedResponse{.stall = true};
  });
  EXPECT_EQ(errorOf(run()), Error::downloadZipError);
  EXPECT_TRUE(last_->folderWhenHeard.empty());
}

TEST_F(ZipDownloadTest, MissingOrUnusableAddressIsAUrlError) {
  const std::string hostile[] = {
      server_.url("/pkg/.."),
      server_.url("/pkg/."),
      server_.url("/pkg/"),
      server_.url("/pkg/%2E%2E"),
      server_.url("/pkg/a%2Fb"),
      server_.url("/pkg/..%2F..%2Fkeep.txt"),
      server_.url(""),
      server_.url("/pkg/a%00b"),
      server_.url("/pkg/bad%zz"),
      server_.url("/pkg/a%0Ab.zip"),
      server_.url("/pkg/a%0Db.zip"),
      server_.url("/pkg/a%1Bb.zip"),
      server_.url("/pkg/a%7Fb.zip"),
      "not a url",
      "file:///etc/passwd",
  };
  fs::create_directories(folder_);
  fs::permissions(folder_, fs::perms::owner_all);
  writeFile(folder_ / "other.zip", "left alone");
  writeFile(root_ / "keep.txt", "precious");
  for (const auto& url : hostile) {
    manager_.reset();
    serveInfo(infoDocument(url, "abc"));
    EXPECT_EQ(errorOf(run()), Error::fetchZipDownloadURLError) << url;
  }
  manager_.reset();
  serveInfo(R"({"zip_version":"1.0.0.7"})");
  EXPECT_EQ(errorOf(run()), Error::fetchZipDownloadURLError);
  manager_.reset();
  server_.route("/info", CannedResponse{.status = 500, .body = "down"});
  EXPECT_EQ(errorOf(run()), Error::fetchZipDownloadURLError);

  EXPECT_EQ(readFile(root_ / "keep.txt"), "precious");
  EXPECT_EQ(readFile(folder_ / "other.zip"), "left alone");
  EXPECT_EQ(packageRequests("HEAD") + packageRequests("GET"), 0u);
}

// Percent escapes in the name are decoded, with hex digits of either case:
// the archive lands under the plain name.
TEST_F(ZipDownloadTest, EscapedNameLandsDecoded) {
  const std::string path = "/pkg/%4A%4F%4a%4f%30%39.zip";
  server_.route(path, CannedResponse{.body = package_});
  serveInfo(infoDocument(server_.url(path), md5Of(package_)));
  const auto result = run();
  ASSERT_TRUE(result.isSuccess()) << quillo::toString(result.error());
  EXPECT_EQ(result.value().path, (folder_ / "JOJO09.zip").string());
  EXPECT_EQ(readFile(folder_ / "JOJO09.zip"), package_);
}

TEST_F(ZipDownloadTest, UncreatableFolderIsADownloadError) {
  writeFile(root_ / "Quillo", "a file where the folder should be");
  EXPECT_EQ(errorOf(run()), Error::downloadZipError);
  EXPECT_EQ(packageRequests("HEAD"), 0u);
}

TEST_F(ZipDownloadTest, UnknownLengthGivesNoProgressButStillSucceeds) {
  server_.route("/pkg/quillo-1.0.zip", [this](const RecordedRequest& r) {
    CannedResponse response{.body = package_};
    if (r.method == "GET") response.omitContentLength = true;
    return response;
  });
  ASSERT_TRUE(run().isSuccess());
  EXPECT_TRUE(last_->progress.empty());
}

TEST_F(ZipDownloadTest, Md5ComesFromTheDocumentThatNamedTheArchive) {
  // Every clock reading is an hour later, so each question refetches; the
  // second document names another archive and another MD5.
  clockStep_ = 4000.0;
  const std::string other = makePackage(1000, 9);
  std::atomic<int> served{0};
  server_.route("/info", [&](const RecordedRequest&) {
    return CannedResponse{
        .body = served++ == 0 ? infoDocument(packageUrl(), md5Of(package_))
                              : infoDocument(server_.url("/pkg/other.zip"),
                                             md5Of(other))};
  });
  const auto result = run();
  ASSERT_TRUE(result.isSuccess());
  EXPECT_EQ(result.value().path, destination().string());
  EXPECT_EQ(server_.requestCount("GET", "/info"), 1u);
}

TEST_F(ZipDownloadTest, NewDownloadReplacesAPendingOneWhoseCallerGetsOneError) {
  std::atomic<int> gets{0};
  server_.route("/pkg/quillo-1.0.zip", [&](const RecordedRequest& r) {
    if (r.method == "GET" && gets++ == 0) return CannedResponse{.stall = true};
    return CannedResponse{.body = package_};
  });
  auto first = start();
  // The first download is under way once its GET has arrived (after the HEAD).
  ASSERT_TRUE(pumpUntil([&] { return packageRequests("GET") == 1; }));
  auto second = start();
  ASSERT_TRUE(waitFor(second));
  ASSERT_TRUE(waitFor(first));
  server_.releaseStalled();
  std::lock_guard lock(mu_);
  ASSERT_EQ(first->results.size(), 1u);
  EXPECT_EQ(errorOf(first->results[0]), Error::downloadZipError);
  ASSERT_EQ(second->results.size(), 1u);
  EXPECT_TRUE(second->results[0].isSuccess());
  EXPECT_EQ(readFile(destination()), package_);
}

}  // namespace
