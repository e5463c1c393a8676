#include "ext/dictionaries.h"

#include "icu_support.h"

namespace ext::detail {

std::optional<std::string> lowercasedText(std::string_view text) {
  // ICU would turn ill-formed bytes into U+FFFD, silently changing the key.
  if (!icu_support::isValidUtf8(text)) return std::nullopt;
  return icu_support::lowercased(text);
}

}  // namespace ext::detail
