#pragma once
// Dotted version comparison.
//
//   compareVersion("1.10", "1.9") == 1;  compareVersion("1.2", "1.2.0") == 0
//   compareVersion("", "0.1") == -1;     pieces that are not numbers are dropped
#include <string_view>

namespace quillo {

// -1 when `a` is older, 1 when newer, 0 when equal.
[[nodiscard]] int compareVersion(std::string_view a, std::string_view b);

}  // namespace quillo
