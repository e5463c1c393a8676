#pragma once
// File-path operations on UTF-8 strings, with the desktop platform's rules
// for separators, trailing slashes and extensions, and conversions between
// NSRange (location and length in UTF-16 code units) and ranges of byte
// offsets into the UTF-8 string.
//
//   lastPathComponent("/tmp/scratch.tiff")          -> "scratch.tiff"
//   lastPathComponent("scratch///")                 -> "scratch"
//   pathExtension("/tmp/scratch..tiff")             -> "tiff"
//   deletingLastPathComponent("/tmp/lock/")         -> "/tmp"
//   deletingPathExtension("scratch.bundle/")        -> "scratch"
//   pathComponents("/tmp/scratch/")                 -> {"/", "tmp", "scratch", "/"}
//   appendingPathComponent("/tmp/", "scratch.tiff") -> "/tmp/scratch.tiff"
//   appendingPathExtension("/tmp/", "tiff")         -> "/tmp.tiff"
//   appendingPathExtension("/", "tiff")             -> nothing
//
// Every function is pure and safe to call from any thread. Paths are treated
// as bytes: only '/' and '.' are special, so any UTF-8 passes through intact.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ext {

// A span of UTF-16 code units, as the platform counts string lengths.
struct NSRange {
  std::uint64_t location = 0;
  std::uint64_t length = 0;

  friend bool operator==(const NSRange&, const NSRange&) = default;
};

// The platform's "no such location" marker.
inline constexpr std::uint64_t kNSNotFound = static_cast<std::uint64_t>(INT64_MAX);

// "{location, length}", e.g. "{3, 2}".
[[nodiscard]] std::string describe(NSRange range);

// A half-open range [lowerBound, upperBound) of byte offsets into a UTF-8 string.
struct StringRange {
  std::size_t lowerBound = 0;
  std::size_t upperBound = 0;

  [[nodiscard]] std::size_t size() const { return upperBound - lowerBound; }
  friend bool operator==(const StringRange&, const StringRange&) = default;
};

// --- Paths ---

// The part after the last separator, ignoring trailing separators; "/" stays
// "/" and "" stays "".
[[nodiscard]] std::string lastPathComponent(std::string_view path);

// The last component's text after its final '.', or "" when it has none. A
// leading '.' does not start an extension (".tiff" has none), nor does "..".
[[nodiscard]] std::string pathExtension(std::string_view path);

// The path without its last component and the separator before it. Runs of
// separators collapse and trailing ones go: "/tmp/" -> "/", "scratch" -> "".
[[nodiscard]] std::string deletingLastPathComponent(std::string_view path);

// The path without its extension and the '.' before it; with separators
// cleaned as above. A path without extension comes back cleaned only.
[[nodiscard]] std::string deletingPathExtension(std::string_view path);

// The components in order: a leading "/" and a trailing "/" are components of
// their own, runs of separators count once, "" gives no components.
[[nodiscard]] std::vector<std::string> pathComponents(std::string_view path);

// `path` and `component` joined by exactly one separator, runs of separators
// collapsed and a trailing one removed; an empty side gives the other.
[[nodiscard]] std::string appendingPathComponent(std::string_view path, std::string_view component);

// `path` (trailing separators removed) + "." + `ext`. Nothing when the path
// is empty, "/", "~" or "~user", or when `ext` starts with a separator.
[[nodiscard]] std::optional<std::string> appendingPathExtension(std::string_view path,
                                                                std::string_view ext);

// --- NSRange bridging ---

// The string as the platform's UTF-16 string: a copy, the units NSRange
// counts in.
[[nodiscard]] std::u16string nsString(std::string_view string);

// Strings that are not valid UTF-8 are read as if each maximal ill-formed
// subsequence were U+FFFD (one UTF-16 unit).

// {0, length of `string` in UTF-16 code units}.
[[nodiscard]] NSRange fullNSRange(std::string_view string);

// The byte range of `string` that `from` covers, or nothing when `from` runs
// past the end, starts or ends inside a surrogate pair, or splits a grapheme
// cluster (a user-perceived character).
[[nodiscard]] std::optional<StringRange> checkedRange(std::string_view string, NSRange from);

// As checkedRange, for ranges the caller knows to map onto `string`. A range
// that does not map is a programming error: the process aborts with
// "Failed to find range {location, length} in <string>".
[[nodiscard]] StringRange range(std::string_view string, NSRange from);

// The NSRange of a byte range of `string`. Bounds past the end are clamped;
// a bound inside a UTF-8 sequence counts from that sequence's start.
[[nodiscard]] NSRange nsRange(std::string_view string, StringRange from);

// The part of `string` that `range(string, from)` covers; it views `string`,
// which must outlive it. Aborts like range() when `from` does not map.
[[nodiscard]] std::string_view substring(std::string_view string, NSRange from);
[[nodiscard]] std::optional<std::string_view> checkedSubstring(std::string_view string,
                                                               NSRange from);

}  // namespace ext
