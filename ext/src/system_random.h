#pragma once
// Uniform draws from the system's random source, for the sources of ext.
#include <cstddef>
#include <random>

namespace ext::detail {

// A uniform draw from [0, bound) with the system's random source; the
// distribution rejects rather than taking a remainder, so there is no bias.
// Requires: bound > 0.
inline std::size_t randomIndex(std::size_t bound) {
  thread_local std::random_device source;
  return std::uniform_int_distribution<std::size_t>(0, bound - 1)(source);
}

}  // namespace ext::detail
