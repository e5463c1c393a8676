#include "icu_support.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include <unicode/brkiter.h>
#include <unicode/calendar.h>
#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/fmtable.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/numfmt.h>
#include <unicode/rbnf.h>
#include <unicode/regex.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include "ext/regex.h"

namespace ext::icu_support {

class CompiledRegex {
 public:
  explicit CompiledRegex(std::unique_ptr<icu::RegexPattern> pattern)
      : pattern_(std::move(pattern)) {}
  // Patterns are immutable; each search makes its own matcher.
  [[nodiscard]] const icu::RegexPattern& pattern() const { return *pattern_; }

 private:
  std::unique_ptr<icu::RegexPattern> pattern_;
};

namespace {

icu::UnicodeString unicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string utf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// ICU indexes in int32_t; longer texts are beyond what these helpers serve.
bool fitsIcu(std::size_t size) { return size <= static_cast<std::size_t>(INT32_MAX); }

// Break iterators are costly to make and not shareable, so each thread keeps one.
icu::BreakIterator* characterBreaks() {
  thread_local std::unique_ptr<icu::BreakIterator> breaks = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> made(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return U_SUCCESS(status) ? std::move(made) : nullptr;
  }();
  return breaks.get();
}

icu::Locale localeFor(std::string_view id) {
  return id.empty() ? icu::Locale::getDefault() : icu::Locale(std::string(id).c_str());
}

bool isAsciiByte(char c) { return static_cast<unsigned char>(c) < 0x80; }

bool isAscii(std::string_view text) { return std::all_of(text.begin(), text.end(), isAsciiByte); }

// Appends where the characters of `piece` start, counted from `offset`, one
// per scalar: the fallback where the break iterator cannot serve.
void appendScalarBoundaries(std::string_view piece, std::size_t offset,
                            std::vector<std::size_t>& boundaries) {
  for (std::size_t i = 0; i < piece.size();) {
    boundaries.push_back(offset + i);
    (void)nextScalar(piece, i);
  }
}

// Appends where the grapheme clusters of `piece` start, counted from
// `offset`; false, appending nothing, when the break iterator cannot serve.
bool appendBreakIteratorBoundaries(std::string_view piece, std::size_t offset,
                                   std::vector<std::size_t>& boundaries) {
  // Break positions are int32_t.
  icu::BreakIterator* breaks = fitsIcu(piece.size()) ? characterBreaks() : nullptr;
  if (breaks == nullptr) return false;
  UErrorCode status = U_ZERO_ERROR;
  UText utext = UTEXT_INITIALIZER;
  utext_openUTF8(&utext, piece.data(), static_cast<int64_t>(piece.size()), &status);
  if (U_SUCCESS(status)) breaks->setText(&utext, status);
  if (U_FAILURE(status)) {
    utext_close(&utext);
    return false;
  }
  // Offsets of a UTF-8 UText are byte offsets.
  for (int32_t at = breaks->first(); at != icu::BreakIterator::DONE; at = breaks->next()) {
    if (static_cast<std::size_t>(at) < piece.size())
      boundaries.push_back(offset + static_cast<std::size_t>(at));
  }
  // Detach before the UText goes away.
  breaks->setText(icu::UnicodeString());
  utext_close(&utext);
  return true;
}

bool isCategory(char32_t c, uint32_t mask) {
  return (U_GET_GC_MASK(static_cast<UChar32>(c)) & mask) != 0;
}

// A matcher over UTF-16 units [begin, end) of `text`, set up with `flags` and
// the limits of ext/regex.h; they cover everything the matcher does, so one
// replacement of every match shares them.
std::unique_ptr<icu::RegexMatcher> matcherFor(const CompiledRegex& regex,
                                              const icu::UnicodeString& text, std::uint64_t begin,
                                              std::uint64_t end, MatchFlags flags) {
  if (begin > end || end > static_cast<std::uint64_t>(text.length())) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(regex.pattern().matcher(text, status));
  if (U_FAILURE(status) || !matcher) return nullptr;
  // Before the region: setting the stack limit resets the matcher.
  matcher->setTimeLimit(kRegexTimeLimit, status);
  matcher->setStackLimit(kRegexStackLimit, status);
  matcher->region(static_cast<int64_t>(begin), static_cast<int64_t>(end), status);
  matcher->useTransparentBounds(flags.transparentBounds);
  matcher->useAnchoringBounds(!flags.withoutAnchoringBounds);
  if (U_FAILURE(status)) return nullptr;
  return matcher;
}

}  // namespace

std::vector<std::size_t> graphemeBoundaries(std::string_view text) {
  std::vector<std::size_t> boundaries;
  boundaries.reserve(text.size() + 1);
  // Two ASCII characters always have a boundary between them, except "\r\n":
  // every rule that joins characters needs a non-ASCII one. Cut there, the
  // text falls into pieces that break independently, and only pieces holding
  // non-ASCII text need the break iterator.
  std::size_t pieceStart = 0;
  const auto cutAt = [&](std::size_t end) {
    const std::string_view piece = text.substr(pieceStart, end - pieceStart);
    if (isAscii(piece)) {
      boundaries.push_back(pieceStart);  // one character, or "\r\n"
    } else if (!appendBreakIteratorBoundaries(piece, pieceStart, boundaries)) {
      appendScalarBoundaries(piece, pieceStart, boundaries);
    }
    pieceStart = end;
  };
  for (std::size_t at = 1; at < text.size(); ++at) {
    const char before = text[at - 1];
    const char after = text[at];
    if (isAsciiByte(before) && isAsciiByte(after) && !(before == '\r' && after == '\n')) cutAt(at);
  }
  if (!text.empty()) cutAt(text.size());
  boundaries.push_back(text.size());
  return boundaries;
}

std::vector<std::string_view> graphemes(std::string_view text) {
  const std::vector<std::size_t> bounds = graphemeBoundaries(text);
  std::vector<std::string_view> clusters;
  clusters.reserve(bounds.size() - 1);
  for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
    clusters.push_back(text.substr(bounds[i], bounds[i + 1] - bounds[i]));
  }
  return clusters;
}

char32_t nextScalar(std::string_view text, std::size_t& offset) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int64_t>(text.size());
  auto i = static_cast<int64_t>(offset);
  UChar32 c = 0;
  U8_NEXT(bytes, i, length, c);
  offset = static_cast<std::size_t>(i);
  return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

std::vector<char32_t> scalars(std::string_view text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) out.push_back(nextScalar(text, i));
  return out;
}

void appendUtf8(std::string& out, char32_t scalar) {
  uint8_t buffer[U8_MAX_LENGTH];
  int32_t length = 0;
  UBool error = false;
  U8_APPEND(buffer, length, U8_MAX_LENGTH, static_cast<UChar32>(scalar), error);
  if (error) {
    appendUtf8(out, U'\uFFFD');
    return;
  }
  out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

bool isValidUtf8(std::string_view bytes) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto length = static_cast<int64_t>(bytes.size());
  for (int64_t i = 0; i < length;) {
    UChar32 c = 0;
    U8_NEXT(data, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::string wellFormed(std::string_view text) {
  if (isValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) appendUtf8(out, nextScalar(text, i));
  return out;
}

std::u16string toUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = nextScalar(text, i);
    if (c > 0xFFFF) {
      out.push_back(static_cast<char16_t>(U16_LEAD(c)));
      out.push_back(static_cast<char16_t>(U16_TRAIL(c)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::string toUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (U16_IS_LEAD(c) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) {
      c = static_cast<char32_t>(U16_GET_SUPPLEMENTARY(c, text[i + 1]));
      ++i;
    } else if (U16_IS_SURROGATE(c)) {
      c = U'\uFFFD';
    }
    appendUtf8(out, c);
  }
  return out;
}

std::string nfc(std::string_view text) {
  if (isAscii(text)) return std::string(text);
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status) || !fitsIcu(text.size())) return std::string(text);
  // Most text is already composed; ill-formed text still needs its U+FFFD.
  if (isValidUtf8(text) &&
      normalizer->isNormalizedUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())),
                                   status) &&
      U_SUCCESS(status)) {
    return std::string(text);
  }
  status = U_ZERO_ERROR;
  const icu::UnicodeString normalized = normalizer->normalize(unicode(text), status);
  return U_SUCCESS(status) ? utf8(normalized) : std::string(text);
}

std::string lowercased(std::string_view text) {
  if (!fitsIcu(text.size())) return std::string(text);
  return utf8(unicode(text).toLower(icu::Locale::getRoot()));
}

std::string uppercased(std::string_view text) {
  if (!fitsIcu(text.size())) return std::string(text);
  return utf8(unicode(text).toUpper(icu::Locale::getRoot()));
}

std::string caseFolded(std::string_view text) {
  if (isAscii(text)) {
    std::string folded(text);
    for (char& c : folded) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
  }
  if (!fitsIcu(text.size())) return std::string(text);
  return utf8(unicode(text).foldCase());
}

std::string capitalized(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = i;
    std::size_t probe = i;
    // Whitespace is copied as is; each run between it is one word.
    const bool space = isWhitespaceOrNewline(nextScalar(text, probe));
    while (end < text.size()) {
      std::size_t next = end;
      if (isWhitespaceOrNewline(nextScalar(text, next)) != space) break;
      end = next;
    }
    const std::string_view run = text.substr(i, end - i);
    if (space || !fitsIcu(run.size())) {
      out.append(run);
    } else {
      out += utf8(unicode(run).toTitle(nullptr, icu::Locale::getRoot(), U_TITLECASE_WHOLE_STRING));
    }
    i = end;
  }
  return out;
}

std::string withoutDiacritics(std::string_view text) {
  if (!fitsIcu(text.size())) return std::string(text);
  // Decomposed, filtered and recomposed in three passes: a transliterator
  // removing the marks from one long string shifts its tail each time.
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* decomposer = icu::Normalizer2::getNFDInstance(status);
  const icu::Normalizer2* composer = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return std::string(text);
  const icu::UnicodeString decomposed = decomposer->normalize(unicode(text), status);
  icu::UnicodeString kept;
  for (int32_t i = 0; i < decomposed.length();) {
    const UChar32 c = decomposed.char32At(i);
    if (u_charType(c) != U_NON_SPACING_MARK) kept.append(c);
    i += U16_LENGTH(c);
  }
  const icu::UnicodeString composed = composer->normalize(kept, status);
  if (U_FAILURE(status)) return std::string(text);
  return utf8(composed);
}

bool isLetterOrMark(char32_t c) { return isCategory(c, U_GC_L_MASK | U_GC_M_MASK); }
bool isDecimalDigit(char32_t c) { return isCategory(c, U_GC_ND_MASK); }
bool isAlphanumeric(char32_t c) { return isCategory(c, U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK); }
bool isPunctuation(char32_t c) { return isCategory(c, U_GC_P_MASK); }
bool isWhitespaceOrNewline(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x85 || isCategory(c, U_GC_Z_MASK);
}
bool isAlphabetic(char32_t c) {
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC);
}

std::shared_ptr<const CompiledRegex> compileRegex(std::string_view pattern, RegexFlags flags) {
  if (!fitsIcu(pattern.size())) return nullptr;
  uint32_t icuFlags = 0;
  if (flags.caseInsensitive) icuFlags |= UREGEX_CASE_INSENSITIVE;
  if (flags.comments) icuFlags |= UREGEX_COMMENTS;
  if (flags.literal) icuFlags |= UREGEX_LITERAL;
  if (flags.dotAll) icuFlags |= UREGEX_DOTALL;
  if (flags.multiline) icuFlags |= UREGEX_MULTILINE;
  if (flags.unixLines) icuFlags |= UREGEX_UNIX_LINES;
  if (flags.unicodeWords) icuFlags |= UREGEX_UWORD;
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError{};
  std::unique_ptr<icu::RegexPattern> compiled(
      icu::RegexPattern::compile(unicode(pattern), icuFlags, parseError, status));
  if (U_FAILURE(status) || !compiled) return nullptr;
  return std::make_shared<const CompiledRegex>(std::move(compiled));
}

bool regexFind(const CompiledRegex& regex, std::string_view text, std::uint64_t begin,
               std::uint64_t end, MatchFlags flags) {
  if (!fitsIcu(text.size())) return false;
  const icu::UnicodeString input = unicode(text);
  auto matcher = matcherFor(regex, input, begin, end, flags);
  if (!matcher) return false;
  UErrorCode status = U_ZERO_ERROR;
  const bool found = flags.anchored ? matcher->lookingAt(status) : matcher->find(status);
  return U_SUCCESS(status) && found;
}

std::optional<std::string> regexReplace(const CompiledRegex& regex, std::string_view text,
                                        std::uint64_t begin, std::uint64_t end,
                                        std::string_view replacement, MatchFlags flags) {
  if (!fitsIcu(text.size()) || !fitsIcu(replacement.size())) return std::nullopt;
  const icu::UnicodeString input = unicode(text);
  const icu::UnicodeString replacementText = unicode(replacement);
  auto matcher = matcherFor(regex, input, begin, end, flags);
  if (!matcher) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString out;
  int32_t expectedStart = static_cast<int32_t>(begin);
  while (matcher->find(status) && U_SUCCESS(status)) {
    // Anchored: each match must start where the previous one ended.
    if (flags.anchored && matcher->start(status) != expectedStart) break;
    matcher->appendReplacement(out, replacementText, status);
    if (U_FAILURE(status)) return std::nullopt;
    expectedStart = matcher->end(status);
  }
  if (U_FAILURE(status)) return std::nullopt;
  matcher->appendTail(out);
  return utf8(out);
}

std::optional<double> parseNumber(std::string_view text, std::string_view locale) {
  if (text.empty() || !fitsIcu(text.size())) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::NumberFormat> format(
      icu::NumberFormat::createInstance(localeFor(locale), status));
  if (U_FAILURE(status) || !format) return std::nullopt;
  format->setGroupingUsed(false);
  format->setParseIntegerOnly(false);
  const icu::UnicodeString input = unicode(text);
  icu::Formattable number;
  icu::ParsePosition position(0);
  format->parse(input, number, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
  const double value = number.getDouble(status);
  if (U_FAILURE(status)) return std::nullopt;
  return value;
}

std::string decimalSeparator(std::string_view locale) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::DecimalFormatSymbols symbols(localeFor(locale), status);
  if (U_FAILURE(status)) return ".";
  return utf8(symbols.getConstSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
}

namespace {

// The time of `text` read by `format` into `calendar`; nothing unless all of
// the text is read and its fields are valid.
std::optional<UDate> parsedTime(const icu::DateFormat& format, const icu::UnicodeString& text,
                                icu::Calendar& calendar) {
  calendar.clear();
  icu::ParsePosition position(0);
  format.parse(text, calendar, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != text.length()) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  const UDate time = calendar.getTime(status);
  if (U_FAILURE(status)) return std::nullopt;
  return time;
}

// Whether `a` at `timeA` and `b` at `timeB` show the same day.
bool sameDay(icu::Calendar& a, UDate timeA, icu::Calendar& b, UDate timeB) {
  UErrorCode status = U_ZERO_ERROR;
  a.setTime(timeA, status);
  b.setTime(timeB, status);
  for (const UCalendarDateFields field : {UCAL_ERA, UCAL_YEAR, UCAL_MONTH, UCAL_DATE}) {
    if (a.get(field, status) != b.get(field, status)) return false;
  }
  return U_SUCCESS(status);
}

// Whether `time` falls in the years 1 to 9999 of the common era in `zone`.
bool inYearsOneTo9999(UDate time, const icu::TimeZone& zone) {
  UErrorCode status = U_ZERO_ERROR;
  icu::GregorianCalendar calendar(zone, status);
  calendar.setTime(time, status);
  const int32_t era = calendar.get(UCAL_ERA, status);
  const int32_t year = calendar.get(UCAL_YEAR, status);
  return U_SUCCESS(status) && era == icu::GregorianCalendar::AD && year >= 1 && year <= 9999;
}

}  // namespace

std::optional<double> parseDate(std::string_view text, std::string_view pattern) {
  if (text.empty() || !fitsIcu(text.size()) || !fitsIcu(pattern.size())) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  icu::SimpleDateFormat format(unicode(pattern), icu::Locale::getDefault(), status);
  if (U_FAILURE(status)) return std::nullopt;
  format.setLenient(false);
  const icu::UnicodeString input = unicode(text);
  std::unique_ptr<icu::Calendar> calendar(format.getCalendar()->clone());
  const std::optional<UDate> date = parsedTime(format, input, *calendar);
  if (!date) return std::nullopt;
  // The calendar is Julian before 1582-10-15 and Gregorian from then on, so
  // 1582-10-05 to 10-14 never existed; it reads them ten days on, as 10-15
  // to 10-24. Read with Gregorian rules throughout, those days are
  // themselves, which tells them apart from the days they were moved to.
  if (const auto* mixed = dynamic_cast<const icu::GregorianCalendar*>(calendar.get())) {
    std::unique_ptr<icu::GregorianCalendar> gregorian(mixed->clone());
    gregorian->setGregorianChange(U_DATE_MIN, status);
    const std::optional<UDate> asGregorian = parsedTime(format, input, *gregorian);
    if (U_SUCCESS(status) && asGregorian && !sameDay(*calendar, *date, *gregorian, *asGregorian)) {
      return std::nullopt;
    }
  }
  if (!inYearsOneTo9999(*date, calendar->getTimeZone())) return std::nullopt;
  return *date;
}

namespace {

std::unique_ptr<icu::NumberFormat> numberFormatter(NumberStyle style, std::string_view locale) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::NumberFormat> formatter;
  switch (style) {
    case NumberStyle::Ordinal:
      formatter = std::make_unique<icu::RuleBasedNumberFormat>(icu::URBNF_ORDINAL,
                                                               localeFor(locale), status);
      break;
    case NumberStyle::SpellOut:
      formatter = std::make_unique<icu::RuleBasedNumberFormat>(icu::URBNF_SPELLOUT,
                                                               localeFor(locale), status);
      break;
    case NumberStyle::Currency:
      formatter.reset(icu::NumberFormat::createCurrencyInstance(localeFor(locale), status));
      break;
  }
  if (U_FAILURE(status)) return nullptr;
  return formatter;
}

std::optional<std::string> formatWith(const icu::Formattable& number, NumberStyle style,
                                      std::string_view locale) {
  const std::unique_ptr<icu::NumberFormat> formatter = numberFormatter(style, locale);
  if (!formatter) return std::nullopt;
  icu::UnicodeString text;
  UErrorCode status = U_ZERO_ERROR;
  formatter->format(number, text, status);
  if (U_FAILURE(status) || text.isBogus() || text.isEmpty()) return std::nullopt;
  return utf8(text);
}

}  // namespace

std::optional<std::string> formatNumber(std::int64_t value, NumberStyle style,
                                        std::string_view locale) {
  return formatWith(icu::Formattable(static_cast<int64_t>(value)), style, locale);
}

std::optional<std::string> formatNumber(double value, NumberStyle style, std::string_view locale) {
  return formatWith(icu::Formattable(value), style, locale);
}

std::optional<std::string> formatDecimal(std::string_view decimal, NumberStyle style,
                                         std::string_view locale) {
  if (!fitsIcu(decimal.size())) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  const icu::Formattable number(
      icu::StringPiece(decimal.data(), static_cast<int32_t>(decimal.size())), status);
  if (U_FAILURE(status)) return std::nullopt;
  return formatWith(number, style, locale);
}

bool areGraphemeBoundaries(std::u16string_view units,
                           std::initializer_list<std::size_t> offsets) {
  // ICU counts in int32_t; beyond that only code-point boundaries are checked.
  if (units.size() > static_cast<std::size_t>(INT32_MAX)) return true;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> breaks(
      ubrk_open(UBRK_CHARACTER, "", units.data(), static_cast<int32_t>(units.size()), &status),
      &ubrk_close);
  if (U_FAILURE(status) || !breaks) return true;
  for (std::size_t offset : offsets) {
    if (!ubrk_isBoundary(breaks.get(), static_cast<int32_t>(offset))) return false;
  }
  return true;
}

std::string defaultLocale() { return icu::Locale::getDefault().getName(); }

bool setDefaultLocale(std::string_view id) {
  const icu::Locale locale(std::string(id).c_str());
  if (locale.isBogus()) return false;
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(locale, status);
  return U_SUCCESS(status);
}

std::string defaultTimeZone() {
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
  icu::UnicodeString id;
  zone->getID(id);
  return utf8(id);
}

bool setDefaultTimeZone(std::string_view id) {
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(unicode(id)));
  if (!zone || *zone == icu::TimeZone::getUnknown()) return false;
  icu::TimeZone::adoptDefault(zone.release());
  return true;
}

}  // namespace ext::icu_support
