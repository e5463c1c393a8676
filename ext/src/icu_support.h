#pragma once
// The one place where ext talks to ICU: grapheme breaking, normalisation,
// case mapping, character properties, regular expressions, and number and
// date parsing. Everything takes and gives UTF-8; ill-formed input is read as
// if each maximal ill-formed subsequence were U+FFFD.
//
// Safe from any thread, except setDefaultLocale() and setDefaultTimeZone(),
// which must not race with other calls.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ext::icu_support {

// --- Text units ---

// The byte offsets where grapheme clusters start, plus one for the end
// (so {0} for ""). Every offset lies on a UTF-8 sequence boundary.
[[nodiscard]] std::vector<std::size_t> graphemeBoundaries(std::string_view text);

// The grapheme clusters of `text`, viewing `text`.
[[nodiscard]] std::vector<std::string_view> graphemes(std::string_view text);

// The Unicode scalars of `text`.
[[nodiscard]] std::vector<char32_t> scalars(std::string_view text);

// Decodes one scalar starting at `offset` and moves `offset` past it.
// Requires: offset < text.size().
[[nodiscard]] char32_t nextScalar(std::string_view text, std::size_t& offset);

// Appends `scalar` as UTF-8; a surrogate or a value past U+10FFFF as U+FFFD.
void appendUtf8(std::string& out, char32_t scalar);

[[nodiscard]] bool isValidUtf8(std::string_view bytes);
// `text` with each maximal ill-formed subsequence replaced by U+FFFD.
[[nodiscard]] std::string wellFormed(std::string_view text);
// Whether each of `offsets` (UTF-16 units) lies between grapheme clusters.
// Beyond ICU's int32 lengths only code-point boundaries are checked (true).
[[nodiscard]] bool areGraphemeBoundaries(std::u16string_view units,
                                         std::initializer_list<std::size_t> offsets);

[[nodiscard]] std::u16string toUtf16(std::string_view text);
[[nodiscard]] std::string toUtf8(std::u16string_view text);

// --- Normalisation and case ---

[[nodiscard]] std::string nfc(std::string_view text);
// Full, locale-independent mappings ("ß" upper-cases to "SS").
[[nodiscard]] std::string lowercased(std::string_view text);
[[nodiscard]] std::string uppercased(std::string_view text);
[[nodiscard]] std::string caseFolded(std::string_view text);
// Each run between whitespace starts upper case (title case) and goes on
// lower case: "hello wORLD" -> "Hello World".
[[nodiscard]] std::string capitalized(std::string_view text);
// Accents removed: decomposed, nonspacing marks dropped, recomposed.
[[nodiscard]] std::string withoutDiacritics(std::string_view text);

// --- Character properties of one scalar ---

[[nodiscard]] bool isLetterOrMark(char32_t c);         // general category L or M
[[nodiscard]] bool isDecimalDigit(char32_t c);         // Nd
[[nodiscard]] bool isAlphanumeric(char32_t c);         // L, M or N
[[nodiscard]] bool isPunctuation(char32_t c);          // P
[[nodiscard]] bool isWhitespaceOrNewline(char32_t c);  // Z, U+0009...U+000D, U+0085
[[nodiscard]] bool isAlphabetic(char32_t c);           // the Alphabetic property

// --- Regular expressions ---

// Flags of the expression itself.
struct RegexFlags {
  bool caseInsensitive = false;
  bool comments = false;
  bool literal = false;
  bool dotAll = false;
  bool multiline = false;
  bool unixLines = false;
  bool unicodeWords = false;
};

// How one search runs.
struct MatchFlags {
  bool anchored = false;
  bool transparentBounds = false;
  bool withoutAnchoringBounds = false;
};

class CompiledRegex;

// Nothing when `pattern` does not compile.
[[nodiscard]] std::shared_ptr<const CompiledRegex> compileRegex(std::string_view pattern,
                                                                RegexFlags flags);

// Searches run under the limits of ext/regex.h; reaching one is a failure.

// Whether `regex` matches within UTF-16 units [begin, end) of `text`;
// false when the bounds do not fit the text or a limit is reached.
[[nodiscard]] bool regexFind(const CompiledRegex& regex, std::string_view text, std::uint64_t begin,
                             std::uint64_t end, MatchFlags flags);

// `text` with every match inside UTF-16 units [begin, end) replaced by
// `replacement` ($n for groups, backslash escapes); nothing when the bounds
// do not fit, the template is malformed or a limit is reached.
[[nodiscard]] std::optional<std::string> regexReplace(const CompiledRegex& regex,
                                                      std::string_view text, std::uint64_t begin,
                                                      std::uint64_t end,
                                                      std::string_view replacement,
                                                      MatchFlags flags);

// --- Numbers and dates ---

// The whole of `text` parsed as a decimal number in `locale` ("" for the
// default), grouping off; nothing when any of it is left over.
[[nodiscard]] std::optional<double> parseNumber(std::string_view text, std::string_view locale);

// The decimal separator of `locale` ("" for the default).
[[nodiscard]] std::string decimalSeparator(std::string_view locale);

// The whole of `text` parsed with the date pattern `pattern` in the default
// locale and time zone, not leniently; milliseconds since 1970. Nothing for
// a day that never existed (1582-10-05 to 10-14, skipped when the Julian
// calendar gave way to the Gregorian) or outside the years 1 to 9999.
[[nodiscard]] std::optional<double> parseDate(std::string_view text, std::string_view pattern);

// The styles of the locale-aware number texts.
enum class NumberStyle { Ordinal, SpellOut, Currency };

// The text a formatter made for this call gives `value` in `locale` ("" for
// the default); nothing when the formatter cannot be made or gives no text.
[[nodiscard]] std::optional<std::string> formatNumber(std::int64_t value, NumberStyle style,
                                                      std::string_view locale);
[[nodiscard]] std::optional<std::string> formatNumber(double value, NumberStyle style,
                                                      std::string_view locale);
// The same for a number written in decimal ("1e+300", "-12.5"), for values
// that neither int64 nor the formatter's double path hold exactly.
[[nodiscard]] std::optional<std::string> formatDecimal(std::string_view decimal, NumberStyle style,
                                                       std::string_view locale);

[[nodiscard]] std::string defaultLocale();
[[nodiscard]] bool setDefaultLocale(std::string_view id);
[[nodiscard]] std::string defaultTimeZone();
[[nodiscard]] bool setDefaultTimeZone(std::string_view id);

}  // namespace ext::icu_support
