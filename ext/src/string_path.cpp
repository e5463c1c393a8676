#include "ext/string_path.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include "icu_support.h"

namespace ext {

namespace {

constexpr char kSeparator = '/';
constexpr std::size_t kMidPair = static_cast<std::size_t>(-1);

// Collapses runs of separators and drops a trailing one ("/" itself stays).
// Every path operation reads the path through this first.
std::string fixSlashes(std::string_view path) {
  std::string fixed;
  fixed.reserve(path.size());
  for (char c : path) {
    if (c == kSeparator && !fixed.empty() && fixed.back() == kSeparator) continue;
    fixed.push_back(c);
  }
  if (fixed.size() > 1 && fixed.back() == kSeparator) fixed.pop_back();
  return fixed;
}

// Requires: `fixed` came from fixSlashes.
std::size_t startOfLastComponent(std::string_view fixed) {
  const auto slash = fixed.rfind(kSeparator);
  return slash == std::string_view::npos ? 0 : slash + 1;
}

// The offset just after the '.' that starts the extension, if any.
// Requires: `fixed` came from fixSlashes.
std::optional<std::size_t> startOfExtension(std::string_view fixed) {
  const std::string_view component = fixed.substr(startOfLastComponent(fixed));
  const auto dot = component.rfind('.');
  // A leading dot names a hidden file, not an extension; ".." is the parent.
  if (dot == std::string_view::npos || dot == 0 || component == "..") return std::nullopt;
  return fixed.size() - component.size() + dot + 1;
}

// The string decoded to UTF-16, with the byte offset at which every code unit
// starts (kMidPair for the second half of a surrogate pair) and one extra
// entry for the end.
struct Utf16Map {
  std::u16string units;
  std::vector<std::size_t> byteOffsets;
};

Utf16Map mapUtf16(std::string_view string) {
  Utf16Map map;
  map.units.reserve(string.size());
  map.byteOffsets.reserve(string.size() + 1);
  const auto* bytes = reinterpret_cast<const uint8_t*>(string.data());
  const auto length = static_cast<int64_t>(string.size());
  int64_t i = 0;
  while (i < length) {
    const auto start = static_cast<std::size_t>(i);
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) c = 0xFFFD;
    if (U16_LENGTH(c) == 2) {
      map.units.push_back(U16_LEAD(c));
      map.units.push_back(U16_TRAIL(c));
      map.byteOffsets.push_back(start);
      map.byteOffsets.push_back(kMidPair);
    } else {
      map.units.push_back(static_cast<char16_t>(c));
      map.byteOffsets.push_back(start);
    }
  }
  map.byteOffsets.push_back(string.size());
  return map;
}

[[noreturn]] void failToFindRange(std::string_view string, NSRange from) {
  const std::string message =
      "Failed to find range " + describe(from) + " in " + std::string(string);
  std::fprintf(stderr, "%s\n", message.c_str());
  std::abort();
}

}  // namespace

std::string describe(NSRange range) {
  return "{" + std::to_string(range.location) + ", " + std::to_string(range.length) + "}";
}

std::string lastPathComponent(std::string_view path) {
  std::string fixed = fixSlashes(path);
  if (fixed.size() <= 1) return fixed;
  return fixed.substr(startOfLastComponent(fixed));
}

std::string pathExtension(std::string_view path) {
  const std::string fixed = fixSlashes(path);
  const auto start = startOfExtension(fixed);
  return start ? fixed.substr(*start) : std::string();
}

std::string deletingLastPathComponent(std::string_view path) {
  std::string fixed = fixSlashes(path);
  if (fixed.empty() || fixed == "/") return fixed;
  const std::size_t start = startOfLastComponent(fixed);
  if (start == 0) return {};
  if (start == 1) return "/";
  return fixed.substr(0, start - 1);
}

std::string deletingPathExtension(std::string_view path) {
  std::string fixed = fixSlashes(path);
  const auto start = startOfExtension(fixed);
  return start ? fixed.substr(0, *start - 1) : fixed;
}

std::vector<std::string> pathComponents(std::string_view path) {
  std::vector<std::string> components;
  if (path.empty()) return components;
  if (path.front() == kSeparator) components.emplace_back("/");
  std::size_t pos = 0;
  while (pos < path.size()) {
    if (path[pos] == kSeparator) {
      ++pos;
      continue;
    }
    const auto end = std::min(path.find(kSeparator, pos), path.size());
    components.emplace_back(path.substr(pos, end - pos));
    pos = end;
  }
  if (path.size() > 1 && path.back() == kSeparator) components.emplace_back("/");
  return components;
}

std::string appendingPathComponent(std::string_view path, std::string_view component) {
  if (component.empty()) return fixSlashes(path);
  if (path.empty()) return fixSlashes(component);
  std::string joined(path);
  joined.push_back(kSeparator);
  joined.append(component);
  return fixSlashes(joined);
}

std::optional<std::string> appendingPathExtension(std::string_view path, std::string_view ext) {
  if (!ext.empty() && ext.front() == kSeparator) return std::nullopt;
  std::string fixed = fixSlashes(path);
  // Nothing to attach to: no file name, the root, or a home folder ("~", "~user").
  if (fixed.empty() || fixed == "/") return std::nullopt;
  if (fixed.front() == '~' && fixed.find(kSeparator) == std::string::npos) return std::nullopt;
  fixed.push_back('.');
  fixed.append(ext);
  return fixSlashes(fixed);
}

std::u16string nsString(std::string_view string) { return mapUtf16(string).units; }

NSRange fullNSRange(std::string_view string) {
  return nsRange(string, StringRange{0, string.size()});
}

std::optional<StringRange> checkedRange(std::string_view string, NSRange from) {
  const Utf16Map map = mapUtf16(string);
  const std::uint64_t total = map.units.size();
  if (from.location > total || from.length > total - from.location) return std::nullopt;
  const auto lowerUnit = static_cast<std::size_t>(from.location);
  const auto upperUnit = static_cast<std::size_t>(from.location + from.length);
  const std::size_t lower = map.byteOffsets[lowerUnit];
  const std::size_t upper = map.byteOffsets[upperUnit];
  if (lower == kMidPair || upper == kMidPair) return std::nullopt;
  if (!icu_support::areGraphemeBoundaries(map.units, {lowerUnit, upperUnit})) return std::nullopt;
  return StringRange{lower, upper};
}

StringRange range(std::string_view string, NSRange from) {
  const auto result = checkedRange(string, from);
  if (!result) failToFindRange(string, from);
  return *result;
}

NSRange nsRange(std::string_view string, StringRange from) {
  assert(from.lowerBound <= from.upperBound);
  const std::size_t lowerByte = std::min(from.lowerBound, string.size());
  const std::size_t upperByte = std::min(from.upperBound, string.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(string.data());
  const auto length = static_cast<int64_t>(string.size());
  std::uint64_t units = 0;
  NSRange result;
  int64_t i = 0;
  // A sequence counts towards a bound only when it ends at or before it.
  while (i < length) {
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (static_cast<std::size_t>(i) > upperByte) break;
    const std::uint64_t width = c < 0 ? 1 : U16_LENGTH(c);
    if (static_cast<std::size_t>(i) <= lowerByte) result.location += width;
    units += width;
  }
  result.length = units - result.location;
  return result;
}

std::string_view substring(std::string_view string, NSRange from) {
  const StringRange bytes = range(string, from);
  return string.substr(bytes.lowerBound, bytes.size());
}

std::optional<std::string_view> checkedSubstring(std::string_view string, NSRange from) {
  const auto bytes = checkedRange(string, from);
  if (!bytes) return std::nullopt;
  return string.substr(bytes->lowerBound, bytes->size());
}

}  // namespace ext
