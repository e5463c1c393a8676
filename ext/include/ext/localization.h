#pragma once
// Localised strings: a lookup the application installs (its main bundle's
// string tables), and printf-style formatting of what it finds.
//
//   ext::localized("Cancel", "button")                       -> "Abbrechen"
//   ext::formatLocalized("%1$@ of %2$d", "", {"3", 7})        -> "3 of 7"
//
// With no lookup installed, or when it has no entry, a key stands for itself.
// setLocalizer() and the lookups are safe from any thread; the installed
// lookup runs on the caller's thread.
#include <concepts>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace ext {

// The localised text for `key` in the default table, or nothing.
using Localizer =
    std::function<std::optional<std::string>(std::string_view key, std::string_view comment)>;

// Installs `localizer` for the whole process; an empty one uninstalls.
void setLocalizer(Localizer localizer);

// The localised text for `key`, even an empty one; `key` itself when there
// is none.
[[nodiscard]] std::string localized(std::string_view key, std::string_view comment);

// One argument of a format.
class FormatArgument {
 public:
  // Any integer (unsigned ones above INT64_MAX keep their bits, so %u and
  // %x print them right) or floating-point value, or text; implicit, as
  // printf's arguments are.
  template <std::integral T>
  FormatArgument(T value) : value_(static_cast<std::int64_t>(value)) {}  // NOLINT
  template <std::floating_point T>
  FormatArgument(T value) : value_(static_cast<double>(value)) {}         // NOLINT
  FormatArgument(std::string value) : value_(std::move(value)) {}         // NOLINT
  FormatArgument(std::string_view value) : value_(std::string(value)) {}  // NOLINT
  FormatArgument(const char* value) : value_(std::string(value)) {}       // NOLINT

  [[nodiscard]] const std::variant<std::int64_t, double, std::string>& value() const {
    return value_;
  }

 private:
  std::variant<std::int64_t, double, std::string> value_;
};

// `format` with each conversion replaced by the next argument, or by the
// n-th with "%n$": %@ and %s take any argument as text, %d %i %u %x %X %o
// take it as an integer (a double truncated and held to the 64-bit range,
// NaN as 0), %c as an integer that is a code point (U+FFFD when it is none),
// %f %e %g %a (upper case too) as a double. Flags, width and precision act as
// printf's, also `*` and `.*`, which take the next argument (a negative width
// left-aligns, a negative precision counts as none); the width and precision
// of %@, %s and %c count characters. "hh" and "h" narrow an integer to char
// and short as printf's; other length modifiers change nothing, as every
// integer is already 64 bits. "%%" is "%". A conversion with no argument
// left, or one that is malformed (a second width or precision, a width,
// precision or position past 2^31 - 1), is written as it stands. The result
// is valid UTF-8: ill-formed bytes of the format or a text read as U+FFFD.
[[nodiscard]] std::string formatted(std::string_view format,
                                    std::initializer_list<FormatArgument> arguments);

// formatted() of localized(key, comment).
[[nodiscard]] std::string formatLocalized(std::string_view key, std::string_view comment,
                                          std::initializer_list<FormatArgument> arguments);

}  // namespace ext
