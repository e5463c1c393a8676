#include "installer/version.h"

#include <charconv>
#include <cstdint>
#include <vector>

namespace quillo {
namespace {

std::vector<int64_t> numbers(std::string_view text) {
  std::vector<int64_t> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t dot = text.find('.', start);
    if (dot == std::string_view::npos) dot = text.size();
    auto piece = text.substr(start, dot - start);
    if (!piece.empty()) {
      // A leading "+" parses as a number, as it does for Int(String).
      if (piece.front() == '+' && piece.size() > 1) piece.remove_prefix(1);
      int64_t value = 0;
      auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
      if (ec == std::errc() && end == piece.data() + piece.size()) out.push_back(value);
    }
    start = dot + 1;
  }
  return out;
}

}  // namespace

int compareVersion(std::string_view a, std::string_view b) {
  const auto left = numbers(a);
  const auto right = numbers(b);
  for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
    const int64_t x = i < left.size() ? left[i] : 0;
    const int64_t y = i < right.size() ? right[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace quillo
