#include "installer/md5.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include <openssl/evp.h>

namespace quillo {
namespace {

struct CtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using Ctx = std::unique_ptr<EVP_MD_CTX, CtxFree>;

Ctx newMd5() {
  Ctx ctx(EVP_MD_CTX_new());
  if (ctx && EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) ctx.reset();
  return ctx;
}

std::string finishHex(EVP_MD_CTX* ctx) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(ctx, digest, &size);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (unsigned i = 0; i < size; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 15]);
  }
  return out;
}

}  // namespace

std::string md5Hex(std::span<const uint8_t> bytes) {
  auto ctx = newMd5();
  EVP_DigestUpdate(ctx.get(), bytes.data(), bytes.size());
  return finishHex(ctx.get());
}

std::string md5Hex(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  return md5Hex(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::optional<std::string> md5HexOfFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  auto ctx = newMd5();
  std::vector<uint8_t> buffer(1 << 20);
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(n));
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  return finishHex(ctx.get());
}

}  // namespace quillo
