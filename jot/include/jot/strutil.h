#pragma once
// Two string tests: StartsWith("abc", "ab") and EndsWith("a.jot", "jot") are
// true; an empty prefix or suffix always matches.
#include <string_view>

namespace vela::comm::strutil {

[[nodiscard]] inline bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

[[nodiscard]] inline bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace vela::comm::strutil
