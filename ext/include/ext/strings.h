#pragma once
// Questions about strings and read-only conversions: tests of form, searching
// and counting, base64, URLs, and splitting into characters, scalars, words
// and lines. Numbers, booleans and dates read from strings are in
// ext/string_numbers.h; transforms in ext/string_editing.h.
//
//   isValidEmail("me@example.com")   -> true
//   contains("Straße", "SS", false)  -> true (full case folding)
//   contains("abc", "")              -> false
//   count("aaa", "aa")               -> 1 (occurrences do not overlap)
//   base64Decoded("aGk")             -> "hi" (padding repaired)
//   stringFromBase64("aGk")          -> nothing (strict)
//   words("a, b  c.")                -> {"a", "b", "c"}
//   lines("one\r\ntwo\n")            -> {"one", "two"}
//   charactersArray("🇩🇪e\u0301")      -> two characters
//
// The string model: UTF-8 std::string; characters are extended grapheme
// clusters (a flag, a ZWJ family, "e" + U+0301 and "\r\n" are one each);
// characters compare by canonical equivalence; case mapping is full and
// locale-independent. Bytes that are not valid UTF-8 read as U+FFFD.
// Everything is pure and safe from any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ext/characters.h"
#include "ext/regex.h"
#include "ext/url.h"

namespace ext {

// --- Tests of form ---

// Whether the whole text matches the email pattern (RFC 5322 style, with
// \p{L} letters). Kept exactly as the pattern was written: the domain's
// inner labels take lower-case ASCII only, so "me@EXAMPLE.com" is rejected.
[[nodiscard]] bool isValidEmail(std::string_view text);

// Whether a URL can be made from the text (ext/url.h), with any scheme, with
// a scheme at all, with exactly "https" or "http", or with the file scheme.
[[nodiscard]] bool isValidUrl(std::string_view text);
[[nodiscard]] bool isValidSchemedUrl(std::string_view text);
[[nodiscard]] bool isValidHttpsUrl(std::string_view text);
[[nodiscard]] bool isValidHttpUrl(std::string_view text);
[[nodiscard]] bool isValidFileUrl(std::string_view text);

// Every scalar a decimal digit (any script); true for "".
[[nodiscard]] bool isDigits(std::string_view text);
// Nothing but whitespace and newlines; true for "".
[[nodiscard]] bool isWhitespace(std::string_view text);
// Some scalar is a letter (or combining mark), or a decimal digit.
[[nodiscard]] bool hasLetters(std::string_view text);
[[nodiscard]] bool hasNumbers(std::string_view text);
// Letters and no digits.
[[nodiscard]] bool isAlphabetic(std::string_view text);
// Letters and digits, and nothing but letters, marks and numbers.
[[nodiscard]] bool isAlphaNumeric(std::string_view text);
// The letters, compared case-insensitively from both ends towards the
// middle, pair up; digits, blanks and punctuation are ignored. False when
// the text holds no letter.
[[nodiscard]] bool isPalindrome(std::string_view text);
// Some scalar lies in the emoji ranges (see isEmojiScalar in characters.h),
// variation selectors included.
[[nodiscard]] bool containEmoji(std::string_view text);
// Not empty, and no character occurs twice.
[[nodiscard]] bool hasUniqueCharacters(std::string_view text);

// --- Searching, comparing and counting ---
// Matches cover whole characters: "e" is not found in "e" + U+0301.
// Case-insensitive comparison folds case fully ("ß" matches "SS").

// Whether `part` occurs in `text`; false for an empty `part`.
[[nodiscard]] bool contains(std::string_view text, std::string_view part,
                            bool caseSensitive = true);
// Non-overlapping occurrences of `part`, counted from the start; 0 for an
// empty `part`. Case-insensitively, both are lower-cased first.
[[nodiscard]] std::int64_t count(std::string_view text, std::string_view part,
                                 bool caseSensitive = true);
// Whether `text` begins (ends) with the given characters; case-insensitively
// both are lower-cased first. Everything starts and ends with "".
[[nodiscard]] bool starts(std::string_view text, std::string_view prefix,
                          bool caseSensitive = true);
[[nodiscard]] bool ends(std::string_view text, std::string_view suffix, bool caseSensitive = true);

// Whether `regex` matches somewhere in `text`.
[[nodiscard]] bool matches(std::string_view text, const Regex& regex, MatchingOptions options = {});
// The pattern-match operator: whether `text` contains a match of `pattern`
// (false when the pattern does not compile or is empty, as contains() is for
// an empty part), or of `regex`.
[[nodiscard]] bool patternMatches(std::string_view pattern, std::string_view text);
[[nodiscard]] bool patternMatches(const Regex& regex, std::string_view text);

// The character that occurs most often, blanks and line feeds not counted;
// nothing when none is left. Of equally frequent ones, the first to occur.
[[nodiscard]] std::optional<Character> mostCommonCharacter(std::string_view text);

// --- Conversions ---

// The URL made from the text, as in ext/url.h.
[[nodiscard]] std::optional<Url> url(std::string_view text);

// The bytes in standard base64 with "=" padding and no line breaks.
[[nodiscard]] std::string base64Encoded(std::string_view text);
// Base64 decoded, skipping characters outside the alphabet; when that fails,
// padded with "=" to a multiple of four characters (counting every character
// of `text`) and decoded again. Nothing when that fails too or the bytes are
// not UTF-8.
[[nodiscard]] std::optional<std::string> base64Decoded(std::string_view text);
// Strict base64: no character skipped, padding required; nothing when that
// fails or the bytes are not UTF-8.
[[nodiscard]] std::optional<std::string> stringFromBase64(std::string_view base64);

[[nodiscard]] std::vector<Character> charactersArray(std::string_view text);
// The scalar values, in order.
[[nodiscard]] std::vector<std::uint32_t> unicodeArray(std::string_view text);
[[nodiscard]] std::optional<std::string> firstCharacterAsString(std::string_view text);
[[nodiscard]] std::optional<std::string> lastCharacterAsString(std::string_view text);

// The pieces between whitespace, newlines and punctuation, empty ones dropped.
[[nodiscard]] std::vector<std::string> words(std::string_view text);
[[nodiscard]] std::int64_t wordCount(std::string_view text);
// The lines without their terminators ("\n", "\r", "\r\n", U+0085, U+2028,
// U+2029); a final terminator does not start another line.
[[nodiscard]] std::vector<std::string> lines(std::string_view text);

}  // namespace ext
