#pragma once
// Programming errors in the extension library: a limit the caller must respect
// (an offset past the end, a negative count, two pairs mapped to one key) was
// broken. There is no sound result to hand back, so the process stops with a
// message on stderr instead of reading or writing out of bounds.
#include <string_view>

namespace ext {

// Writes "Precondition failed: <message>" to stderr and aborts.
[[noreturn]] void preconditionFailure(std::string_view message);

// Aborts with `message` unless `condition` holds.
inline void precondition(bool condition, std::string_view message) {
  if (!condition) preconditionFailure(message);
}

}  // namespace ext
