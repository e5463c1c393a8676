#include "ext/url.h"

#include <cctype>

namespace ext {

namespace {

bool isAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool isUriCharacter(char c) {
  constexpr std::string_view kPunctuation = "-._~:/?#[]@!$&'()*+,;=";
  return isAsciiAlpha(c) || isAsciiDigit(c) || kPunctuation.find(c) != std::string_view::npos;
}

// The scheme before the first ':' when the text starts with one; else "".
std::string_view schemeOf(std::string_view text) {
  if (text.empty() || !isAsciiAlpha(text.front())) return {};
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') return text.substr(0, i);
    if (!isAsciiAlpha(c) && !isAsciiDigit(c) && c != '+' && c != '-' && c != '.') return {};
  }
  return {};
}

}  // namespace

std::optional<Url> Url::make(std::string_view text) {
  if (text.empty()) return std::nullopt;
  bool seenFragment = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) {
        return std::nullopt;
      }
      i += 2;
      continue;
    }
    if (!isUriCharacter(c)) return std::nullopt;
    if (c == '#') {
      if (seenFragment) return std::nullopt;
      seenFragment = true;
    }
  }
  return Url(std::string(text), std::string(schemeOf(text)));
}

bool Url::isFileUrl() const {
  if (scheme_.size() != 4) return false;
  std::string lower;
  for (char c : scheme_)
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return lower == "file";
}

}  // namespace ext
