#include "ext/localization.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "ext/string_numbers.h"
#include "icu_support.h"

namespace ext {

namespace {

std::mutex localizerMutex;
// Guarded by localizerMutex.
std::shared_ptr<const Localizer> installedLocalizer;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string asText(const FormatArgument& argument) {
  const auto& value = argument.value();
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", std::get<double>(value));
  return buffer;
}

long long asInteger(const FormatArgument& argument) {
  const auto& value = argument.value();
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  if (const auto* real = std::get_if<double>(&value)) {
    // Truncated and held to the integer range, NaN as 0: converting a value
    // outside it would be undefined.
    if (std::isnan(*real)) return 0;
    if (*real >= 0x1p63) return std::numeric_limits<long long>::max();
    if (*real < -0x1p63) return std::numeric_limits<long long>::min();
    return static_cast<long long>(*real);
  }
  return intValue(std::get<std::string>(value)).value_or(0);
}

double asDouble(const FormatArgument& argument) {
  const auto& value = argument.value();
  if (const auto* real = std::get_if<double>(&value)) return *real;
  if (const auto* number = std::get_if<std::int64_t>(&value)) return static_cast<double>(*number);
  return doubleValue(std::get<std::string>(value), "en_US_POSIX").value_or(0);
}

// A conversion's flags, width and precision as printf reads them, `*` and
// `.*` already taken from the arguments.
struct Layout {
  std::string flags;
  std::size_t width = 0;
  std::optional<std::size_t> precision;

  [[nodiscard]] bool leftAligned() const { return flags.find('-') != std::string::npos; }
  // The part of a printf conversion before its length and type; every
  // number in it was parsed here, so snprintf never sees a malformed one.
  [[nodiscard]] std::string spec() const {
    std::string out = "%" + flags;
    if (width > 0) out += std::to_string(width);
    if (precision) out += "." + std::to_string(*precision);
    return out;
  }
};

constexpr long long kIntMax = std::numeric_limits<int>::max();

// The digits at `i` as a number, `i` moved past all of them; nothing when it
// exceeds printf's int, so no count or position wraps.
std::optional<std::size_t> digitsAt(std::string_view format, std::size_t& i) {
  std::size_t value = 0;
  bool fits = true;
  for (; i < format.size() && isDigit(format[i]); ++i) {
    if (fits) value = value * 10 + static_cast<std::size_t>(format[i] - '0');
    if (value > static_cast<std::size_t>(kIntMax)) fits = false;
  }
  if (!fits) return std::nullopt;
  return value;
}

// `text` cut to the precision and padded with blanks to the width, both in
// characters.
std::string laidOut(std::string_view text, const Layout& layout) {
  std::string out(text);
  if (layout.precision) {
    const std::vector<std::size_t> starts = icu_support::graphemeBoundaries(text);
    if (*layout.precision + 1 < starts.size()) out.resize(starts[*layout.precision]);
  }
  // A blank next to a mark (or after a prepended sign) merges with it, so the
  // padded text is counted again.
  std::size_t count = icu_support::graphemeBoundaries(out).size() - 1;
  while (count < layout.width) {
    const std::string blanks(layout.width - count, ' ');
    out = layout.leftAligned() ? out + blanks : blanks + out;
    count = icu_support::graphemeBoundaries(out).size() - 1;
  }
  return out;
}

// The code point of a %c argument as UTF-8; U+FFFD for a value that is no
// code point (appendUtf8 writes it for surrogates).
std::string codePointText(long long value) {
  std::string out;
  // Checked before narrowing, which would wrap 2^32 + 0x41 round to "A".
  const bool inRange = value >= 0 && value <= 0x10FFFF;
  icu_support::appendUtf8(out, inRange ? static_cast<char32_t>(value) : U'\uFFFD');
  return out;
}

// One conversion rendered with snprintf; nothing when it fails.
template <typename T>
std::optional<std::string> printed(const std::string& spec, T value) {
  const int size = std::snprintf(nullptr, 0, spec.c_str(), value);
  if (size < 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(out.data(), out.size(), spec.c_str(), value);
  out.resize(static_cast<std::size_t>(size));
  return out;
}

}  // namespace

void setLocalizer(Localizer localizer) {
  auto next = localizer ? std::make_shared<const Localizer>(std::move(localizer)) : nullptr;
  const std::lock_guard lock(localizerMutex);
  installedLocalizer = std::move(next);
}

std::string localized(std::string_view key, std::string_view comment) {
  std::shared_ptr<const Localizer> localizer;
  {
    const std::lock_guard lock(localizerMutex);
    localizer = installedLocalizer;
  }
  if (localizer) {
    if (auto text = (*localizer)(key, comment)) return std::move(*text);
  }
  return std::string(key);
}

std::string formatted(std::string_view format, std::initializer_list<FormatArgument> arguments) {
  const std::vector<FormatArgument> args(arguments);
  std::string out;
  std::size_t nextArgument = 0;
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      out.push_back(format[i++]);
      continue;
    }
    const std::size_t start = i++;
    if (i < format.size() && format[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    // Parsed as printf does; anything it would not take is written as it
    // stands, and only numbers parsed here reach snprintf.
    bool wellFormed = true;
    const auto nextValue = [&]() -> std::optional<long long> {
      const std::size_t index = nextArgument++;
      if (index >= args.size()) return std::nullopt;
      return asInteger(args[index]);
    };
    // Optional position "n$".
    std::optional<std::size_t> position;
    std::size_t probe = i;
    const std::optional<std::size_t> number = digitsAt(format, probe);
    if (probe > i && probe < format.size() && format[probe] == '$' && number != 0) {
      position = number;
      wellFormed = number.has_value();
      i = probe + 1;
    }
    Layout layout;
    while (i < format.size() &&
           std::string_view("-+ #0").find(format[i]) != std::string_view::npos) {
      layout.flags.push_back(format[i++]);
    }
    if (i < format.size() && format[i] == '*') {
      ++i;
      // A negative width left-aligns, as printf's.
      const std::optional<long long> width = nextValue();
      if (!width || *width > kIntMax || *width < -kIntMax) {
        wellFormed = false;
      } else {
        if (*width < 0) layout.flags.push_back('-');
        layout.width = static_cast<std::size_t>(*width < 0 ? -*width : *width);
      }
    } else if (const std::optional<std::size_t> width = digitsAt(format, i)) {
      layout.width = *width;
    } else {
      wellFormed = false;
    }
    if (i < format.size() && format[i] == '.') {
      ++i;
      if (i < format.size() && format[i] == '*') {
        ++i;
        // A negative precision counts as none, as printf's.
        const std::optional<long long> precision = nextValue();
        if (!precision || *precision > kIntMax) {
          wellFormed = false;
        } else if (*precision >= 0) {
          layout.precision = static_cast<std::size_t>(*precision);
        }
      } else {
        layout.precision = digitsAt(format, i);
        if (!layout.precision) wellFormed = false;
      }
    }
    // A second width or precision ("%1.2.3d", "%..d") is malformed.
    while (i < format.size() && (isDigit(format[i]) || format[i] == '.' || format[i] == '*')) {
      wellFormed = false;
      ++i;
    }
    const std::size_t lengthStart = i;
    while (i < format.size() &&
           std::string_view("hlqLztj").find(format[i]) != std::string_view::npos)
      ++i;
    // Every value is held in 64 bits; only "hh" and "h" narrow it.
    const std::string_view length = format.substr(lengthStart, i - lengthStart);
    const std::size_t index = position ? *position - 1 : nextArgument++;
    if (i >= format.size()) {
      out.append(format.substr(start));
      break;
    }
    const char conversion = format[i++];
    const std::string_view written = format.substr(start, i - start);
    if (!wellFormed || index >= args.size()) {
      out.append(written);
      continue;
    }
    const FormatArgument& argument = args[index];
    std::optional<std::string> rendered;
    switch (conversion) {
      case '@':
      case 's':
        rendered = laidOut(asText(argument), layout);
        break;
      case 'c':
        layout.precision.reset();  // printf ignores it for %c
        rendered = laidOut(codePointText(asInteger(argument)), layout);
        break;
      case 'd':
      case 'i': {
        long long value = asInteger(argument);
        if (length == "hh") value = static_cast<signed char>(value);
        if (length == "h") value = static_cast<short>(value);
        rendered = printed(layout.spec() + "lld", value);
        break;
      }
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        auto value = static_cast<unsigned long long>(asInteger(argument));
        if (length == "hh") value = static_cast<unsigned char>(value);
        if (length == "h") value = static_cast<unsigned short>(value);
        rendered = printed(layout.spec() + "ll" + conversion, value);
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        rendered = printed(layout.spec() + conversion, asDouble(argument));
        break;
      default:
        break;
    }
    if (rendered) {
      out += *rendered;
    } else {
      out.append(written);
    }
  }
  // The format and text arguments may hold ill-formed bytes; the result never does.
  return icu_support::wellFormed(out);
}

std::string formatLocalized(std::string_view key, std::string_view comment,
                            std::initializer_list<FormatArgument> arguments) {
  return formatted(localized(key, comment), arguments);
}

}  // namespace ext
