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

// How a conversion lays out text: printf's "-" flag, width and precision,
// counted in characters.
struct TextLayout {
  bool leftAligned = false;
  std::size_t width = 0;
  std::optional<std::size_t> precision;
};

// The layout in `spec` ("%", flags, width, "." and precision); nothing when
// it is malformed or a number exceeds printf's int.
std::optional<TextLayout> textLayout(std::string_view spec) {
  TextLayout layout;
  std::size_t i = 1;
  constexpr std::string_view kFlags = "-+ #0";
  for (; i < spec.size() && kFlags.find(spec[i]) != std::string_view::npos; ++i) {
    if (spec[i] == '-') layout.leftAligned = true;
  }
  const auto number = [&]() -> std::optional<std::size_t> {
    std::size_t value = 0;
    for (; i < spec.size() && isDigit(spec[i]); ++i) {
      value = value * 10 + static_cast<std::size_t>(spec[i] - '0');
      if (value > static_cast<std::size_t>(std::numeric_limits<int>::max())) return std::nullopt;
    }
    return value;
  };
  const std::optional<std::size_t> width = number();
  if (!width) return std::nullopt;
  layout.width = *width;
  if (i < spec.size() && spec[i] == '.') {
    ++i;
    layout.precision = number();
    if (!layout.precision) return std::nullopt;
  }
  if (i != spec.size()) return std::nullopt;
  return layout;
}

// `text` cut to the precision and padded with blanks to the width, both in
// characters.
std::string laidOut(std::string_view text, const TextLayout& layout) {
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
    out = layout.leftAligned ? out + blanks : blanks + out;
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

// One conversion rendered with snprintf; `spec` holds flags, width and
// precision without length modifiers.
template <typename T>
std::string printed(const std::string& spec, T value) {
  const int size = std::snprintf(nullptr, 0, spec.c_str(), value);
  if (size < 0) return {};
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
    // Optional position "n$".
    std::size_t position = 0;
    std::size_t probe = i;
    while (probe < format.size() && isDigit(format[probe])) {
      position = position * 10 + static_cast<std::size_t>(format[probe] - '0');
      ++probe;
    }
    if (probe > i && probe < format.size() && format[probe] == '$' && position > 0)
      i = probe + 1;
    else
      position = 0;
    std::string spec = "%";
    while (i < format.size() &&
           std::string_view("-+ #0").find(format[i]) != std::string_view::npos) {
      spec.push_back(format[i++]);
    }
    while (i < format.size() && (isDigit(format[i]) || format[i] == '.'))
      spec.push_back(format[i++]);
    // Length modifiers change nothing here: every value is already 64 bits.
    while (i < format.size() &&
           std::string_view("hlqLztj").find(format[i]) != std::string_view::npos)
      ++i;
    const std::size_t index = position > 0 ? position - 1 : nextArgument++;
    if (i >= format.size() || index >= args.size()) {
      out.append(format.substr(start, std::min(i + 1, format.size()) - start));
      ++i;
      continue;
    }
    const char conversion = format[i++];
    const FormatArgument& argument = args[index];
    const std::string_view written = format.substr(start, i - start);
    switch (conversion) {
      case '@':
      case 's':
      case 'c':
        if (std::optional<TextLayout> layout = textLayout(spec)) {
          if (conversion == 'c') layout->precision.reset();  // printf ignores it for %c
          out += laidOut(conversion == 'c' ? codePointText(asInteger(argument)) : asText(argument),
                         *layout);
        } else {
          out.append(written);
        }
        break;
      case 'd':
      case 'i':
        out += printed(spec + "lld", asInteger(argument));
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        out +=
            printed(spec + "ll" + conversion, static_cast<unsigned long long>(asInteger(argument)));
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        out += printed(spec + conversion, asDouble(argument));
        break;
      default:
        out.append(written);
        break;
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
