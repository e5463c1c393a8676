#include "installer/installer_zip_download_manager.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "installer/g.h"
#include "installer/md5.h"
#include "installer/thread_helpers.h"
#include "jot/log_line.h"
#include "platform/folders.h"

namespace quillo {
namespace {

using vela::jot::LogError;
using vela::jot::LogInfo;

using ZipResult = ZipDownloadResult;

ZipResult fail(InstallerZipDownloadError error) { return ZipResult::failure(error); }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The last path component of `url`, percent-decoded; nothing when it is not a
// plain file name: it must never name anything outside the folder, and it
// goes into log lines, where a control character could forge a line.
std::optional<std::string> plainFileName(const std::string& url) {
  const auto components = URLComponents::parse(url);
  if (!components) return std::nullopt;
  const std::string& path = components->path;
  const std::string raw = path.substr(path.rfind('/') + 1);
  std::string name;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '%') {
      if (i + 2 >= raw.size() || hexValue(raw[i + 1]) < 0 || hexValue(raw[i + 2]) < 0) {
        return std::nullopt;
      }
      name.push_back(static_cast<char>(hexValue(raw[i + 1]) * 16 + hexValue(raw[i + 2])));
      i += 2;
    } else {
      name.push_back(raw[i]);
    }
  }
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return std::nullopt;
  }
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
  }
  return name;
}

// Creates the missing levels of `folder` as private folders and checks that
// the folder (and the private temporary folder above it) is really ours.
std::error_code ensureDownloadFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  const fs::path target(folder);
  fs::path prefix;
  for (const auto& part : target) {
    prefix /= part;
    if (prefix == prefix.root_path()) continue;
    struct stat st {};
    if (::lstat(prefix.c_str(), &st) != 0) {
      if (errno != ENOENT) return {errno, std::generic_category()};
      if (auto ec = folders::ensurePrivateDirectory(prefix.string())) return ec;
    }
  }
  const std::string tmp = folders::temporaryDirectory();
  if (folder.starts_with(tmp + "/")) {
    if (auto ec = folders::ensurePrivateDirectory(tmp)) return ec;
  }
  return folders::ensurePrivateDirectory(folder);
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string describe(const std::optional<int64_t>& value) {
  return value ? std::to_string(*value) : "nil";
}

}  // namespace

const char* toString(InstallerZipDownloadError error) {
  switch (error) {
    case InstallerZipDownloadError::fetchZipDownloadURLError: return "fetchZipDownloadURLError";
    case InstallerZipDownloadError::downloadZipError: return "downloadZipError";
    case InstallerZipDownloadError::noAvailableStorageError: return "noAvailableStorageError";
    case InstallerZipDownloadError::validateZipError: return "validateZipError";
  }
  return "unknown";
}

const std::shared_ptr<InstallerZipDownloadManager>& InstallerZipDownloadManager::shared() {
  static auto* manager = new std::shared_ptr<InstallerZipDownloadManager>(create({}));
  return *manager;
}

std::shared_ptr<InstallerZipDownloadManager> InstallerZipDownloadManager::create(Options options) {
  return std::shared_ptr<InstallerZipDownloadManager>(
      new InstallerZipDownloadManager(std::move(options)));
}

InstallerZipDownloadManager::InstallerZipDownloadManager(Options options)
    : options_([&] {
        if (!options.netManager) options.netManager = InstallerNetManager::shared();
        if (!options.probeSession) options.probeSession = URLSession::shared();
        if (options.downloadFolder.empty()) options.downloadFolder = G::zipDownloadLocation();
        if (!options.diskSpace) options.diskSpace = statvfsDiskSpace;
        return std::move(options);
      }()) {}

InstallerZipDownloadManager::~InstallerZipDownloadManager() {
  if (downLoadSession_) downLoadSession_->invalidateAndCancel();
}

InstallerZipDownloadManager::DiskSpace InstallerZipDownloadManager::statvfsDiskSpace(
    const std::string& folder) {
  struct statvfs vfs {};
  if (::statvfs(folder.c_str(), &vfs) != 0) {
    return {.error = std::error_code(errno, std::generic_category()).message()};
  }
  const auto unit = static_cast<int64_t>(vfs.f_frsize);
  return {.basic = static_cast<int64_t>(vfs.f_bavail) * unit,
          .important = static_cast<int64_t>(vfs.f_bfree) * unit};
}

int64_t InstallerZipDownloadManager::maximumBodySize(int64_t probedSize) {
  if (probedSize < 1 || probedSize >= kDiskCheckLimit - kBodySizeMargin) return kDiskCheckLimit;
  return probedSize + kBodySizeMargin;
}

bool InstallerZipDownloadManager::isCurrent(uint64_t generation) const {
  std::lock_guard lock(mu_);
  return generation == generation_;
}

bool InstallerZipDownloadManager::isCurrentSession(const URLSession& session) const {
  std::lock_guard lock(mu_);
  return downLoadSession_.get() == &session;
}

InstallerZipDownloadManager::Completion InstallerZipDownloadManager::takeCompletion() {
  std::lock_guard lock(mu_);
  Completion completion = std::move(downloadCompletion_);
  downloadCompletion_ = nullptr;
  return completion;
}

void InstallerZipDownloadManager::getVersionString(std::function<void(std::string)> completion) {
  options_.netManager->requestInstallInfoIfNeeded(
      [completion = std::move(completion)](const std::optional<InstallInfo>& info) {
        if (completion) completion(displayVersion(info));
      });
}

void InstallerZipDownloadManager::fetchInstallInfoIfNeeded(InstallerNetManager::Completion completion) {
  options_.netManager->requestInstallInfoIfNeeded(
      [completion = std::move(completion)](const std::optional<InstallInfo>& info) {
        if (!info) LogError("fetch install info error");
        completion(info);
      });
}

void InstallerZipDownloadManager::downloadZipPackage(Progress progress, Completion completion) {
  if (!completion) completion = [](ZipResult) {};
  uint64_t generation = 0;
  {
    std::lock_guard lock(mu_);
    generation = ++generation_;
  }
  std::weak_ptr<InstallerZipDownloadManager> weak = weak_from_this();
  fetchZipDownloadURLFromFeature([weak, generation, progress = std::move(progress),
                                  completion = std::move(completion)](auto source) mutable {
    if (!source.isSuccess()) return completion(fail(source.error()));
    auto self = weak.lock();
    if (!self || !self->isCurrent(generation)) {
      return completion(fail(InstallerZipDownloadError::downloadZipError));
    }
    const std::optional<std::string> md5 = source.value().md5;
    self->downloadZipFile(
        source.value(), generation, std::move(progress),
        [weak, generation, md5, completion = std::move(completion)](ZipResult file) mutable {
          if (!file.isSuccess()) return completion(std::move(file));
          auto strong = weak.lock();
          if (!strong) return completion(fail(InstallerZipDownloadError::downloadZipError));
          strong->validateZipMD5(file.value().path, md5, generation, std::move(completion));
        });
  });
}

void InstallerZipDownloadManager::fetchZipDownloadURLFromFeature(SourceCompletion completion) {
  fetchInstallInfoIfNeeded([completion = std::move(completion)](const std::optional<InstallInfo>& info) {
    std::optional<std::string> url;
    std::optional<std::string> name;
    if (info && info->zip_download_url) url = urlFromString(*info->zip_download_url);
    if (url) name = plainFileName(*url);
    if (!url || !name) {
      LogError("fetch zip download url error");
      completion(Result<PackageSource, InstallerZipDownloadError>::failure(
          InstallerZipDownloadError::fetchZipDownloadURLError));
      return;
    }
    LogInfo("fetch zip download url: " + *url);
    // The MD5 travels with the address: both come from this one document.
    completion(Result<PackageSource, InstallerZipDownloadError>::success(
        {.url = *url, .fileName = *name, .md5 = info->zip_download_md5}));
  });
}

std::shared_ptr<URLSession> InstallerZipDownloadManager::resetDownloadSession(uint64_t generation) {
  Completion replaced;
  std::shared_ptr<URLSession> previous;
  std::shared_ptr<URLSession> session;
  {
    std::lock_guard lock(mu_);
    if (generation != generation_) return nullptr;
    replaced = std::move(downloadCompletion_);
    downloadCompletion_ = nullptr;
    downloadProgress_ = nullptr;
    downloadDestinationURL_.reset();
    currentTask_.reset();
    previous = std::move(downLoadSession_);
    session = URLSession::make({.timeoutIntervalForRequest = options_.sessionRequestTimeout},
                               weak_from_this());
    downLoadSession_ = session;
  }
  if (previous) previous->invalidateAndCancel();
  if (replaced) replaced(fail(InstallerZipDownloadError::downloadZipError));
  return session;
}

void InstallerZipDownloadManager::downloadZipFile(const PackageSource& source, uint64_t generation,
                                                  Progress progress, Completion completion) {
  auto session = resetDownloadSession(generation);
  if (!session) {
    LogError("create download session fail");
    return completion(fail(InstallerZipDownloadError::downloadZipError));
  }
  const std::string& folder = options_.downloadFolder;
  const std::string destination = folder + "/" + source.fileName;

  if (auto ec = ensureDownloadFolder(folder)) {
    LogError("create destination directiory fail: " + ec.message());
    return completion(fail(InstallerZipDownloadError::downloadZipError));
  }
  if (isRegularFile(destination)) {
    // Reused without traffic; the MD5 check decides whether it is usable.
    return completion(ZipResult::success({.path = destination}));
  }
  // The folder holds at most one archive.
  std::error_code ignored;
  for (std::filesystem::directory_iterator it(folder, ignored), end; !ignored && it != end;
       it.increment(ignored)) {
    std::error_code removeError;
    std::filesystem::remove_all(it->path(), removeError);
  }

  std::weak_ptr<InstallerZipDownloadManager> weak = weak_from_this();
  getRemoteFileSize(source.url, [weak, url = source.url, destination, generation,
                                 progress = std::move(progress),
                                 completion = std::move(completion)](auto size) mutable {
    if (!size.isSuccess()) {
      LogError("fetch zip size error: " + size.error().localizedDescription);
      return completion(fail(InstallerZipDownloadError::downloadZipError));
    }
    auto self = weak.lock();
    if (!self || !self->isCurrent(generation)) {
      return completion(fail(InstallerZipDownloadError::downloadZipError));
    }
    const int64_t zipSize = size.value();
    const std::string& folderPath = self->options_.downloadFolder;
    const auto available = self->getAvailableDiskSpace(folderPath);
    LogInfo("disk check: available=" + describe(available) + " zipSize=" + std::to_string(zipSize) +
            " buffer=" + std::to_string(kDiskMargin));
    if (zipSize >= 1 && zipSize < kDiskCheckLimit) {
      const int64_t need = zipSize + kDiskMargin;
      if (available && *available <= need) {
        LogError("disk space not enough: available=" + std::to_string(*available) +
                 " need=" + std::to_string(need));
        return completion(fail(InstallerZipDownloadError::noAvailableStorageError));
      }
    } else {
      LogError("zip size looks invalid, skip disk space check: " + std::to_string(zipSize));
    }
    self->startDownload(url, destination, maximumBodySize(zipSize), generation,
                        std::move(progress), std::move(completion));
  });
}

void InstallerZipDownloadManager::startDownload(const std::string& url,
                                                const std::string& destination, int64_t maximumBody,
                                                uint64_t generation, Progress progress,
                                                Completion completion) {
  std::shared_ptr<URLSessionDownloadTask> task;
  {
    std::lock_guard lock(mu_);
    if (generation == generation_ && downLoadSession_) {
      task = downLoadSession_->downloadTask(
          {.url = url, .timeoutInterval = options_.requestTimeout, .maximumBodySize = maximumBody},
          options_.downloadFolder);
      downloadCompletion_ = std::move(completion);
      downloadProgress_ = std::move(progress);
      downloadDestinationURL_ = destination;
      currentTask_ = task;
    }
  }
  if (!task) {
    if (completion) completion(fail(InstallerZipDownloadError::downloadZipError));
    return;
  }
  task->resume();
}

void InstallerZipDownloadManager::getRemoteFileSize(
    const std::string& url, std::function<void(Result<int64_t, URLError>)> completion) {
  URLRequest request{.url = url, .httpMethod = "HEAD", .timeoutInterval = options_.requestTimeout};
  auto task = options_.probeSession->dataTask(
      std::move(request), [completion = std::move(completion)](auto, auto response, auto error) {
        if (error) return completion(Result<int64_t, URLError>::failure(*error));
        const auto length =
            response ? response->valueForHTTPHeaderField("Content-Length") : std::nullopt;
        if (!length) {
          return completion(Result<int64_t, URLError>::failure(
              URLError{.domain = "", .code = -1, .localizedDescription = "无法获取文件大小"}));
        }
        // Signed decimal; anything else counts as 0, which skips the disk check.
        int64_t size = 0;
        const char* begin = length->data();
        const char* end = begin + length->size();
        if (begin != end && *begin == '+') ++begin;
        const auto [ptr, ec] = std::from_chars(begin, end, size);
        if (ec != std::errc() || ptr != end || begin == end) size = 0;
        completion(Result<int64_t, URLError>::success(size));
      });
  task->resume();
}

std::optional<int64_t> InstallerZipDownloadManager::getAvailableDiskSpace(const std::string& folder) {
  const DiskSpace space = options_.diskSpace(folder);
  if (space.error) {
    LogError("get disk space error: " + *space.error);
    return std::nullopt;
  }
  LogInfo("disk space at " + folder + ": basic=" + describe(space.basic) +
          " important=" + describe(space.important));
  if (space.basic) return space.basic;
  return space.important;
}

void InstallerZipDownloadManager::validateZipMD5(const std::string& fileURL,
                                                 const std::optional<std::string>& md5,
                                                 uint64_t generation, Completion completion) {
  std::weak_ptr<InstallerZipDownloadManager> weak = weak_from_this();
  // Hashing a large file must not hold up the main thread.
  runBlockOnBackgroundThread([weak, fileURL, md5, generation, completion = std::move(completion)] {
    auto self = weak.lock();
    if (!self || !self->isCurrent(generation)) {
      // Replaced: a newer download may be using this very file, so leave it.
      return completion(fail(InstallerZipDownloadError::downloadZipError));
    }
    const auto actual = (md5 && !md5->empty()) ? md5HexOfFile(fileURL) : std::nullopt;
    struct stat st {};
    if (actual && *actual == *md5 && ::stat(fileURL.c_str(), &st) == 0) {
      return completion(ZipResult::success({fileURL, *md5, st.st_size}));
    }
    ::unlink(fileURL.c_str());
    completion(fail(InstallerZipDownloadError::validateZipError));
  });
}

void InstallerZipDownloadManager::urlSession(URLSession& session, URLSessionDownloadTask&,
                                             int64_t, int64_t totalBytesWritten,
                                             int64_t totalBytesExpectedToWrite) {
  Progress progress;
  {
    std::lock_guard lock(mu_);
    if (downLoadSession_.get() != &session) return;
    progress = downloadProgress_;
  }
  // An unknown or empty expected size gives no meaningful fraction.
  if (!progress || totalBytesExpectedToWrite <= 0) return;
  const double fraction =
      static_cast<double>(totalBytesWritten) / static_cast<double>(totalBytesExpectedToWrite);
  progress(std::clamp(fraction, 0.0, 1.0));
}

void InstallerZipDownloadManager::urlSession(URLSession& session,
                                             URLSessionDownloadTask& downloadTask,
                                             const std::string& location) {
  if (!isCurrentSession(session)) return;
  if (auto error = downloadTask.error()) {
    LogError("download finish, error: " + error->localizedDescription);
    return;
  }
  Completion completion;
  std::optional<std::string> destination;
  {
    std::lock_guard lock(mu_);
    completion = std::move(downloadCompletion_);
    downloadCompletion_ = nullptr;
    destination = downloadDestinationURL_;
  }
  if (!completion) {
    LogError("download finish, no completion to call");
    return;
  }
  // Whatever fails, the temporary file is gone before the caller hears of it:
  // the caller may remove the folder, or start the next download, at once.
  const auto failWith = [&](const std::string& message) {
    LogError(message);
    ::unlink(location.c_str());
    completion(fail(InstallerZipDownloadError::downloadZipError));
  };
  // An error page is not the package: do not put it where the package goes.
  if (const auto response = downloadTask.response(); response && !response->isSuccess()) {
    return failWith("download finish, error: HTTP status " + std::to_string(response->statusCode));
  }
  if (!isRegularFile(location)) return failWith("download finish, zip file not exist: " + location);
  if (!destination) return failWith("download finish, destinationLocation is nil");
  LogInfo("download finish, will move: " + location + " to: " + *destination);
  if (std::rename(location.c_str(), destination->c_str()) != 0) {
    return failWith("download finish, move file error: " +
                    std::error_code(errno, std::generic_category()).message());
  }
  completion(ZipResult::success({.path = *destination}));
}

void InstallerZipDownloadManager::urlSession(URLSession& session, URLSessionTask&,
                                             const std::optional<URLError>& error) {
  if (!error || !isCurrentSession(session)) return;
  if (error->isURLLoadingError()) LogError("dowload complete, error: " + error->localizedDescription);
  if (auto completion = takeCompletion()) {
    completion(fail(InstallerZipDownloadError::downloadZipError));
  } else {
    LogError("download complete, no completion to call");
  }
}

}  // namespace quillo
