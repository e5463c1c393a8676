#pragma once
// Numbers, booleans and dates read from strings, and the current locale and
// time zone those readings use.
//
//   intValue("+5")               -> 5       intValue(" 5")  -> nothing
//   intValue("-0")               -> 0       intValue("9223372036854775808") -> nothing
//   boolValue(" YES \n")         -> true    boolValue("2")  -> nothing
//   doubleValue("3,5", "de_DE")  -> 3.5
//   isNumeric("1.5e3")           -> true (in an English current locale)
//   date("2024-02-29")           -> midnight of that day in the current time zone
//
// A failed parse is an absent result, never an error. The current locale and
// time zone start as the process environment's; tests pin them with
// setCurrentLocale() and setCurrentTimeZone(). Every reading is safe from any
// thread; the two setters must not race with any other call into ext.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ext {

// A point in time, as the dates below yield it: milliseconds since 1970,
// which reach every date read (the clock's own nanoseconds end in 2262).
using Date = std::chrono::sys_time<std::chrono::milliseconds>;

// --- Current locale and time zone ---

// The current locale's identifier, such as "en_US".
[[nodiscard]] std::string currentLocale();
// False, leaving the locale as it was, when `id` is not a well-formed
// locale identifier.
[[nodiscard]] bool setCurrentLocale(std::string_view id);
// The current time zone's identifier, such as "UTC" or "Europe/Berlin".
[[nodiscard]] std::string currentTimeZone();
// False, leaving the time zone as it was, when `id` names no time zone.
[[nodiscard]] bool setCurrentTimeZone(std::string_view id);

// --- Parsing ---

// Trimmed of whitespace and newlines and lower-cased, the text is searched
// for "true", "yes", "1", "false", "no", "0" in that order; the first one
// found anywhere decides (the first three mean true). So "nothing" is false
// and "false1" is true. Nothing when none is found.
[[nodiscard]] std::optional<bool> boolValue(std::string_view text);

// An optional "+" or "-", then one or more ASCII digits, nothing else (no
// blanks, no separators); nothing when empty, malformed or outside int64_t.
[[nodiscard]] std::optional<std::int64_t> intValue(std::string_view text);

// The whole text read as a decimal number in `locale` (an identifier such as
// "de_DE"; "" means the current locale), with its decimal separator and
// without grouping; nothing when any of the text is not part of the number.
[[nodiscard]] std::optional<float> floatValue(std::string_view text, std::string_view locale = "");
[[nodiscard]] std::optional<double> doubleValue(std::string_view text,
                                                std::string_view locale = "");
// CGFloat is a 64-bit float on every platform this serves.
[[nodiscard]] std::optional<double> cgFloatValue(std::string_view text,
                                                 std::string_view locale = "");

// Whether, after optional leading whitespace, the text holds one decimal
// number (sign, digits, the current locale's decimal separator, exponent)
// followed by nothing but whitespace.
[[nodiscard]] bool isNumeric(std::string_view text);

// Dates are read for the years 1 to 9999 of the common era, in the
// calendar that is Julian before 1582-10-15 and Gregorian from then on.
// Nothing for a date outside those years, or one that never existed: field
// values out of range ("2023-02-30"), the days 1582-10-05 to 1582-10-14 that
// the change of calendar skipped, or a local time that a time-zone change
// skipped.

// Trimmed of whitespace and newlines and lower-cased, the text read as
// "yyyy-MM-dd" (date) or "yyyy-MM-dd HH:mm:ss" (dateTime) in the current
// time zone.
[[nodiscard]] std::optional<Date> date(std::string_view text);
[[nodiscard]] std::optional<Date> dateTime(std::string_view text);

// The text as it stands read with the date pattern `format` (ICU/Unicode
// pattern letters, as "yyyy-MM-dd'T'HH:mm") in the current locale and time
// zone; nothing unless the whole text matches.
[[nodiscard]] std::optional<Date> date(std::string_view text, std::string_view format);

}  // namespace ext
