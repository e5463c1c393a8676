#pragma once
// Transforming strings: case shaping, accent folding, trimming,
// percent-encoding, slugs, truncation, padding, affixes, reversal, slicing by
// character offsets, generated text, and regular-expression replacement.
//
//   camelCased("Hello World")            -> "helloWorld"
//   latinized("Crème Brûlée")            -> "Creme Brulee"
//   toSlug("  Crème & Brûlée! ")         -> "creme-&-brulee"
//   truncated("Hello", 2, "...")         -> "He..."
//   paddingStart("x", 4, "ab")           -> "abax"
//   safe("héllo", ext::CharacterRange{1, 3}) -> "él"
//   slicing("hello", 3, 10)              -> "lo"
//   replacingOccurrences("a1b22", "[0-9]+", "#") -> "a#b#"
//
// Strings are UTF-8; offsets, lengths and counts are in characters (grapheme
// clusters), so "e" + U+0301 is one character and "\r\n" is one. Bytes that
// are not valid UTF-8 read as U+FFFD where a transform has to look at them.
// Read-only forms return a new string; mutating forms (taking std::string&)
// replace it and return it. Everything is pure and safe from any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ext/characters.h"
#include "ext/regex.h"
#include "ext/string_path.h"

namespace ext {

// How two pieces of text are compared.
struct CompareOptions {
  bool caseInsensitive = false;
  bool diacriticInsensitive = false;
  bool literal = false;   // scalar by scalar, without canonical equivalence
  bool anchored = false;  // regular expressions: matches only where the last one ended
  bool regularExpression = false;
};

// Character offsets i..<j, half-open.
struct CharacterRange {
  std::int64_t lower = 0;
  std::int64_t upper = 0;
};
// Character offsets i...j, closed.
struct ClosedCharacterRange {
  std::int64_t lower = 0;
  std::int64_t upper = 0;
};
// ..<j: the first j characters.
struct CharactersUpTo {
  std::int64_t upper = 0;
};
// ...j: the first j + 1 characters.
struct CharactersThrough {
  std::int64_t upper = 0;
};
// i...: from offset i to the end.
struct CharactersFrom {
  std::int64_t lower = 0;
};

// --- Case shaping and cleaning ---

// Lower-cased; when it holds a blank, the words after the first start upper
// case and blanks and line feeds go: "Hello World" -> "helloWorld",
// "HELLO" -> "hello", "" -> "".
[[nodiscard]] std::string camelCased(std::string_view text);
std::string& camelize(std::string& text);

// The first character replaced by its full upper-case form ("ß" -> "SS").
void firstCharacterUppercased(std::string& text);

// Accents removed (decomposed, nonspacing marks dropped, recomposed).
[[nodiscard]] std::string latinized(std::string_view text);
std::string& latinize(std::string& text);

// Whitespace and newlines (Unicode Z, U+0009...U+000D, U+0085) removed from
// both ends.
[[nodiscard]] std::string trimmed(std::string_view text);
std::string& trim(std::string& text);

// Every blank (" ") and line feed removed; tabs and other whitespace stay.
[[nodiscard]] std::string withoutSpacesAndNewLines(std::string_view text);

// Percent-encoded except ASCII letters, digits and !$&'()*+,-.:;=[]_~ (the
// characters allowed in a URL host).
[[nodiscard]] std::string urlEncoded(std::string_view text);
std::string& urlEncode(std::string& text);

// Percent-escapes decoded; `text` unchanged when an escape is malformed or
// the decoded bytes are not UTF-8.
[[nodiscard]] std::string urlDecoded(std::string_view text);
std::string& urlDecode(std::string& text);

// The text escaped to match itself as a regular expression.
[[nodiscard]] std::string regexEscaped(std::string_view text);

// Lower-cased, accents removed, blanks to "-", only letters, digits, marks,
// "-" and "&" kept, no "-" at either end, and "--" made "-" in one pass.
[[nodiscard]] std::string toSlug(std::string_view text);

// The characters in reverse order (each character stays whole).
std::string& reverse(std::string& text);

// --- Length and affixes ---

// The first `length` characters followed by `trailing`, when 0 <= length <
// count; else `text` unchanged.
[[nodiscard]] std::string truncated(std::string_view text, std::int64_t length,
                                    std::optional<std::string_view> trailing);
// Likewise, but a length of 0 leaves `text` unchanged.
std::string& truncate(std::string& text, std::int64_t length,
                      std::optional<std::string_view> trailing);

// `text` with `padding` repeated and cut before it (paddingStart) or after it
// (paddingEnd) so that the result has exactly `length` characters, counted
// after text and padding meet (a mark at either side merges there, a flag
// letter pairs up), as few padding characters as that takes. Unchanged when
// it already has that many, or when no cut of repeated `padding` gives
// exactly `length` (it is empty, or its characters merge when repeated, as
// combining marks and joiners do).
[[nodiscard]] std::string paddingStart(std::string_view text, std::int64_t length,
                                       std::string_view padding);
[[nodiscard]] std::string paddingEnd(std::string_view text, std::int64_t length,
                                     std::string_view padding);
std::string& padStart(std::string& text, std::int64_t length, std::string_view padding);
std::string& padEnd(std::string& text, std::int64_t length, std::string_view padding);

// Without the prefix's (suffix's) number of characters when `text` starts
// (ends) with it; else unchanged.
[[nodiscard]] std::string removingPrefix(std::string_view text, std::string_view prefix);
[[nodiscard]] std::string removingSuffix(std::string_view text, std::string_view suffix);
// `text` when it starts with `prefix`, else `prefix` + `text`.
[[nodiscard]] std::string withPrefix(std::string_view text, std::string_view prefix);

// --- Slicing by character offsets ---
// Out-of-range offsets give nothing (safe, slicing) or leave the string as it
// was (slice).

[[nodiscard]] std::optional<Character> safe(std::string_view text, std::int64_t offset);
// Nothing unless 0 <= lower <= upper <= count.
[[nodiscard]] std::optional<std::string> safe(std::string_view text, CharacterRange range);
// Nothing unless 0 <= lower <= upper < count.
[[nodiscard]] std::optional<std::string> safe(std::string_view text, ClosedCharacterRange range);
// Nothing unless 0 <= upper <= count.
[[nodiscard]] std::optional<std::string> safe(std::string_view text, CharactersUpTo range);
// Nothing unless 0 <= upper < count.
[[nodiscard]] std::optional<std::string> safe(std::string_view text, CharactersThrough range);
// Nothing unless 0 <= lower < count (so lower == count gives nothing).
[[nodiscard]] std::optional<std::string> safe(std::string_view text, CharactersFrom range);

// Up to `length` characters from `from`; "" for length 0; nothing when
// length < 0 or `from` is not a character's offset (from == count included).
[[nodiscard]] std::optional<std::string> slicing(std::string_view text, std::int64_t from,
                                                 std::int64_t length);
// `text` becomes slicing(text, from, length) when that exists.
std::string& slice(std::string& text, std::int64_t from, std::int64_t length);
// `text` becomes its characters lower..<upper when 0 <= lower <= upper <= count.
std::string& slice(std::string& text, CharacterRange range);
// `text` becomes its characters from `at` on when 0 <= at < count.
std::string& slice(std::string& text, std::int64_t at);

// --- Generated text ---

// `length` characters drawn uniformly from a-z, A-Z, 0-9; "" when length < 1.
// A length above the largest string's is a programming error.
[[nodiscard]] std::string random(std::int64_t length);
// The first `length` characters of the 445-character "Lorem ipsum ..."
// placeholder text (all of it when length >= 445); "" when length < 1.
[[nodiscard]] std::string loremIpsum(std::int64_t length);

// --- Regular-expression replacement ---

// Every match of `regex` within `range` (byte offsets on character
// boundaries; all of `text` when absent) replaced by `replacementTemplate`.
[[nodiscard]] std::string replacingOccurrences(std::string_view text, const Regex& regex,
                                               std::string_view replacementTemplate,
                                               MatchingOptions options = {},
                                               std::optional<StringRange> range = std::nullopt);
// The same with `pattern` compiled under `options` (caseInsensitive and
// anchored apply); `text` unchanged when the pattern does not compile.
[[nodiscard]] std::string replacingOccurrences(std::string_view text, std::string_view pattern,
                                               std::string_view replacementTemplate,
                                               CompareOptions options = {},
                                               std::optional<StringRange> range = std::nullopt);

// The longest run of trailing characters of `text` that pair up, from the
// end, with those of `other` under `options`; taken from `text`.
[[nodiscard]] std::string commonSuffix(std::string_view text, std::string_view other,
                                       CompareOptions options = {});

}  // namespace ext
