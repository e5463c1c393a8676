#include "installer/text.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace quillo {

uint32_t cStrLen(const char* text) { return text ? static_cast<uint32_t>(std::strlen(text)) : 0; }

std::optional<std::string> fromUtf8Bytes(const char* bytes, uint32_t length) {
  if (bytes == nullptr) return std::nullopt;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes);
  int32_t i = 0;
  const auto n = static_cast<int32_t>(length);
  while (i < n) {
    UChar32 c;
    U8_NEXT(p, i, n, c);
    if (c < 0) return std::nullopt;
  }
  return std::string(bytes, length);
}

std::string fromCUnsignedChar(uint8_t value) {
  if (value < 0x80) return std::string(1, static_cast<char>(value));
  return {static_cast<char>(0xC0 | (value >> 6)), static_cast<char>(0x80 | (value & 0x3F))};
}

std::string fromCChar(int8_t value) {
  return value < 0 ? std::string() : std::string(1, static_cast<char>(value));
}

std::vector<uint8_t> asciiValues(std::string_view text) {
  std::vector<uint8_t> out;
  const auto ustr = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return out;
  it->setText(ustr);
  for (int32_t start = it->first(), end = it->next(); end != icu::BreakIterator::DONE;
       start = end, end = it->next()) {
    const auto length = end - start;
    if (length == 1 && ustr.charAt(start) < 0x80) {
      out.push_back(static_cast<uint8_t>(ustr.charAt(start)));
    } else if (length == 2 && ustr.charAt(start) == u'\r' && ustr.charAt(start + 1) == u'\n') {
      out.push_back('\n');
    }
  }
  return out;
}

uint64_t genCurrentTimeInMs() {
  // 978307200: seconds from the Unix epoch to 2001-01-01 00:00:00 UTC.
  using namespace std::chrono;
  const auto sinceUnix = duration_cast<milliseconds>(system_clock::now().time_since_epoch());
  return static_cast<uint64_t>(sinceUnix.count() - 978307200LL * 1000);
}

double costTimeInMS(MediaTime from) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
}

std::string costTimeInMSString(MediaTime from) {
  return costTimeInMSString(from, std::chrono::steady_clock::now());
}

std::string costTimeInMSString(MediaTime from, MediaTime to) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2fms",
                std::chrono::duration<double, std::milli>(to - from).count());
  return buffer;
}

}  // namespace quillo
