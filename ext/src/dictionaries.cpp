#include "ext/dictionaries.h"

#include <climits>

#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace ext::detail {

std::optional<std::string> lowercasedText(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
  // ICU would turn ill-formed bytes into U+FFFD, silently changing the key.
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 point = 0;
    U8_NEXT(bytes, i, length, point);
    if (point < 0) return std::nullopt;
  }
  std::string lowered;
  icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), length))
      .toLower(icu::Locale::getRoot())
      .toUTF8String(lowered);
  return lowered;
}

}  // namespace ext::detail
