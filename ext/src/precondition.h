#pragma once
// How the extension library stops on a broken caller limit: the message on
// standard error, then abort. Limits are programming errors, never input.
#include <string_view>

namespace ext::detail {

[[noreturn]] void programmingError(std::string_view message);

// Stops with `message` unless `condition` holds.
inline void require(bool condition, std::string_view message) {
  if (!condition) programmingError(message);
}

}  // namespace ext::detail
