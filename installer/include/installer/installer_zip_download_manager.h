#pragma once
// Downloads the package named by the install information into the private
// download folder, after a size probe and a disk check, and accepts it only
// when its MD5 matches the one announced by the same document.
//
//   InstallerZipDownloadManager::shared()->downloadZipPackage(
//       [](double fraction) { ... },                 // download session's queue
//       [](ZipDownloadResult result) { ... });       // whichever thread ends the chain
//
// Every call's completion runs exactly once. A new call replaces a pending
// one: the replaced caller gets downloadZipError, and reports of the replaced
// download are dropped. Safe from any thread.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "installer/install_info.h"
#include "installer/installer_net_manager.h"
#include "installer/result.h"
#include "platform/url_session.h"

namespace quillo {

enum class InstallerZipDownloadError {
  fetchZipDownloadURLError,  // No document, no or bad "zip_download_url", unusable file name.
  downloadZipError,          // Folder, size probe, transfer or move failed; or replaced.
  noAvailableStorageError,   // Free space does not exceed size + 100 MiB.
  validateZipError,          // MD5 missing or different.
};

[[nodiscard]] const char* toString(InstallerZipDownloadError error);

// A verified archive: its local path and the MD5 it matched, which the
// privileged side checks again on its own copy.
struct DownloadedZip {
  std::string path;
  std::string md5;
  int64_t size = 0;  // Bytes, as verified.
  friend bool operator==(const DownloadedZip&, const DownloadedZip&) = default;
};

// The archive, or why there is none.
using ZipDownloadResult = Result<DownloadedZip, InstallerZipDownloadError>;

class InstallerZipDownloadManager final
    : public URLSessionDownloadDelegate,
      public std::enable_shared_from_this<InstallerZipDownloadManager> {
 public:
  using Progress = std::function<void(double fraction)>;
  using Completion = std::function<void(ZipDownloadResult result)>;

  // A volume's free space in bytes; each figure may be unknown.
  struct DiskSpace {
    std::optional<int64_t> basic;
    std::optional<int64_t> important;
    std::optional<std::string> error;  // Set when nothing could be read.
  };
  using DiskSpaceSource = std::function<DiskSpace(const std::string& folder)>;

  struct Options {
    // Null: InstallerNetManager::shared().
    std::shared_ptr<InstallerNetManager> netManager;
    // Carries the size probe. Null: URLSession::shared().
    std::shared_ptr<URLSession> probeSession;
    // Empty: G::zipDownloadLocation().
    std::string downloadFolder;
    // Null: statvfs of the folder.
    DiskSpaceSource diskSpace;
    double sessionRequestTimeout = 5.0;
    double requestTimeout = 60.0;  // Size probe and download request.
  };

  static constexpr int64_t kDiskMargin = 104'857'600;            // 100 MiB
  static constexpr int64_t kDiskCheckLimit = 5'368'709'120;      // 5 GiB
  // How far the body may grow past the size the probe announced; no body
  // grows past kDiskCheckLimit.
  static constexpr int64_t kBodySizeMargin = 1 << 20;

  // The most body bytes a download accepts after the probe announced
  // `probedSize` (0 or less: unknown): that size plus the margin, and never
  // more than kDiskCheckLimit.
  [[nodiscard]] static int64_t maximumBodySize(int64_t probedSize);

  [[nodiscard]] static const std::shared_ptr<InstallerZipDownloadManager>& shared();
  [[nodiscard]] static std::shared_ptr<InstallerZipDownloadManager> create(Options options);
  ~InstallerZipDownloadManager() override;
  InstallerZipDownloadManager(const InstallerZipDownloadManager&) = delete;
  InstallerZipDownloadManager& operator=(const InstallerZipDownloadManager&) = delete;

  // `progress` gets fractions in [0, 1], only while the expected size is known.
  void downloadZipPackage(Progress progress, Completion completion);
  // The display version of the install information (see displayVersion());
  // runs where the install-information completion runs.
  void getVersionString(std::function<void(std::string)> completion);

  // The statvfs figures: basic = blocks free to us, important = all free blocks.
  [[nodiscard]] static DiskSpace statvfsDiskSpace(const std::string& folder);

  // Download delegate reports; they act only for the current download session.
  void urlSession(URLSession& session, URLSessionDownloadTask& downloadTask, int64_t didWriteData,
                  int64_t totalBytesWritten, int64_t totalBytesExpectedToWrite) override;
  void urlSession(URLSession& session, URLSessionDownloadTask& downloadTask,
                  const std::string& didFinishDownloadingTo) override;
  void urlSession(URLSession& session, URLSessionTask& task,
                  const std::optional<URLError>& didCompleteWithError) override;

 private:
  // What one document says about the package.
  struct PackageSource {
    std::string url;
    std::string fileName;
    std::optional<std::string> md5;
  };
  using SourceCompletion = std::function<void(Result<PackageSource, InstallerZipDownloadError>)>;

  explicit InstallerZipDownloadManager(Options options);

  void fetchInstallInfoIfNeeded(InstallerNetManager::Completion completion);
  void fetchZipDownloadURLFromFeature(SourceCompletion completion);
  void downloadZipFile(const PackageSource& source, uint64_t generation, Progress progress,
                       Completion completion);
  void getRemoteFileSize(const std::string& url,
                         std::function<void(Result<int64_t, URLError>)> completion);
  [[nodiscard]] std::optional<int64_t> getAvailableDiskSpace(const std::string& folder);
  void validateZipMD5(const std::string& fileURL, const std::optional<std::string>& md5,
                      uint64_t generation, Completion completion);
  // Returns the session it made, or null.
  std::shared_ptr<URLSession> resetDownloadSession(uint64_t generation);
  void startDownload(const std::string& url, const std::string& destination, int64_t maximumBody,
                     uint64_t generation, Progress progress, Completion completion);

  [[nodiscard]] bool isCurrent(uint64_t generation) const;
  [[nodiscard]] bool isCurrentSession(const URLSession& session) const;
  // Takes the stored completion out; null when there is none.
  Completion takeCompletion();

  const Options options_;

  mutable std::mutex mu_;
  uint64_t generation_ = 0;                             // Guarded by mu_.
  std::shared_ptr<URLSession> downLoadSession_;         // Guarded by mu_.
  std::weak_ptr<URLSessionDownloadTask> currentTask_;   // Guarded by mu_.
  Completion downloadCompletion_;                       // Guarded by mu_.
  Progress downloadProgress_;                           // Guarded by mu_.
  std::optional<std::string> downloadDestinationURL_;   // Guarded by mu_.
};

}  // namespace quillo
