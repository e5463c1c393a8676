#include "loopback_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quillo::testing {
namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool sendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool sendFile(int fd, const std::string& path, size_t limit) {
  const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  off_t offset = 0;
  bool ok = true;
  while (static_cast<size_t>(offset) < limit) {
    const ssize_t n = ::sendfile(fd, in, &offset, limit - static_cast<size_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
  }
  ::close(in);
  return ok;
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

LoopbackHttpServer::LoopbackHttpServer(uint16_t port) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("socket failed");
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0) {
    ::close(listenFd_);
    throw std::runtime_error("bind or listen failed");
  }
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() { stop(); }

std::string LoopbackHttpServer::url(std::string_view pathAndQuery) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(pathAndQuery);
}

void LoopbackHttpServer::route(std::string path, Handler handler) {
  std::lock_guard lock(mu_);
  routes_[std::move(path)] = std::move(handler);
}

void LoopbackHttpServer::route(std::string path, CannedResponse response) {
  route(std::move(path), [response](const RecordedRequest&) { return response; });
}

std::vector<RecordedRequest> LoopbackHttpServer::requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

size_t LoopbackHttpServer::requestCount(std::string_view method, std::string_view path) const {
  std::lock_guard lock(mu_);
  return static_cast<size_t>(std::count_if(requests_.begin(), requests_.end(), [&](const auto& r) {
    return r.method == method && r.path == path;
  }));
}

bool LoopbackHttpServer::waitForRequests(std::string_view path, size_t count,
                                         std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] {
    return static_cast<size_t>(std::count_if(requests_.begin(), requests_.end(),
                                             [&](const auto& r) { return r.path == path; })) >=
           count;
  });
}

void LoopbackHttpServer::releaseStalled() {
  {
    std::lock_guard lock(mu_);
    ++stallEpoch_;
  }
  cv_.notify_all();
}

void LoopbackHttpServer::stop() {
  std::vector<std::thread> connections;
  {
    std::lock_guard lock(mu_);
    if (stopping_) return;
    stopping_ = true;
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  cv_.notify_all();
  ::shutdown(listenFd_, SHUT_RDWR);
  if (acceptThread_.joinable()) acceptThread_.join();
  ::close(listenFd_);
  {
    std::lock_guard lock(mu_);
    connections.swap(connections_);
  }
  for (auto& t : connections) t.join();
}

void LoopbackHttpServer::acceptLoop() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    std::lock_guard lock(mu_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    openFds_.push_back(fd);
    connections_.emplace_back([this, fd] { serve(fd); });
  }
}

bool LoopbackHttpServer::pause(std::chrono::milliseconds delay) {
  std::unique_lock lock(mu_);
  return !cv_.wait_for(lock, delay, [this] { return stopping_; });
}

void LoopbackHttpServer::serve(int fd) {
  std::string buffer;
  char chunk[16 * 1024];
  size_t headerEnd = std::string::npos;
  while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos &&
         buffer.size() < kMaxHeaderBytes) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer.append(chunk, static_cast<size_t>(n));
  }
  if (headerEnd != std::string::npos) {
    RecordedRequest request;
    std::string_view head(buffer.data(), headerEnd);
    const auto lineEnd = head.find("\r\n");
    const std::string_view first = head.substr(0, lineEnd);
    const auto sp1 = first.find(' ');
    const auto sp2 = first.find(' ', sp1 + 1);
    request.method = std::string(first.substr(0, sp1));
    request.target = std::string(first.substr(sp1 + 1, sp2 - sp1 - 1));
    request.path = request.target.substr(0, request.target.find('?'));
    size_t pos = lineEnd == std::string_view::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
      auto end = head.find("\r\n", pos);
      if (end == std::string_view::npos) end = head.size();
      const auto line = head.substr(pos, end - pos);
      const auto colon = line.find(':');
      if (colon != std::string_view::npos) {
        request.headers.emplace_back(std::string(trim(line.substr(0, colon))),
                                     std::string(trim(line.substr(colon + 1))));
      }
      pos = end + 2;
    }
    size_t length = 0;
    if (auto value = request.header("Content-Length")) {
      std::from_chars(value->data(), value->data() + value->size(), length);
    }
    if (auto expect = request.header("Expect"); expect && equalsIgnoringCase(*expect, "100-continue")) {
      static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
      sendAll(fd, kContinue, sizeof kContinue - 1);
    }
    request.body = buffer.substr(headerEnd + 4);
    while (request.body.size() < length) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      request.body.append(chunk, static_cast<size_t>(n));
    }
    Handler handler;
    {
      std::lock_guard lock(mu_);
      if (auto it = routes_.find(request.path); it != routes_.end()) handler = it->second;
    }
    CannedResponse response = handler ? handler(request)
                                      : CannedResponse{.status = 404, .body = "not found"};
    {
      std::lock_guard lock(mu_);
      requests_.push_back(request);
    }
    cv_.notify_all();
    answer(fd, request, response);
  }
  {
    std::lock_guard lock(mu_);
    std::erase(openFds_, fd);
  }
  ::shutdown(fd, SHUT_WR);
  ::close(fd);
}

void LoopbackHttpServer::answer(int fd, const RecordedRequest& request,
                                const CannedResponse& response) {
  if (response.stall) {
    std::unique_lock lock(mu_);
    const uint64_t epoch = stallEpoch_;
    cv_.wait(lock, [&] { return stopping_ || stallEpoch_ != epoch; });
    return;
  }
  if (response.raw) {
    sendAll(fd, response.raw->data(), response.raw->size());
    return;
  }
  size_t bodySize = response.body.size();
  if (response.bodyFile) {
    struct stat st {};
    if (::stat(response.bodyFile->c_str(), &st) != 0) return;
    bodySize = static_cast<size_t>(st.st_size);
  }
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                     reason(response.status) + "\r\nConnection: close\r\n";
  bool hasLength = false;
  for (const auto& [name, value] : response.headers) {
    if (equalsIgnoringCase(name, "Content-Length")) hasLength = true;
    head += name + ": " + value + "\r\n";
  }
  if (!hasLength && !response.omitContentLength) {
    head += "Content-Length: " + std::to_string(bodySize) + "\r\n";
  }
  head += "\r\n";
  if (!sendAll(fd, head.data(), head.size())) return;
  if (request.method == "HEAD") return;

  const size_t limit = std::min(bodySize, response.cutAfter.value_or(bodySize));
  if (response.bodyFile) {
    sendFile(fd, *response.bodyFile, limit);
    return;
  }
  const size_t step = response.chunkSize == 0 ? limit : response.chunkSize;
  for (size_t sent = 0; sent < limit; sent += step) {
    if (!sendAll(fd, response.body.data() + sent, std::min(step, limit - sent))) return;
    if (response.chunkDelay.count() > 0 && !pause(response.chunkDelay)) return;
  }
}

}  // namespace quillo::testing
