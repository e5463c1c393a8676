#pragma once
// Helpers for std::optional: defaults, failing on absence, running or
// assigning only when a value is (or is not) there, emptiness tests for
// optional containers, comparison of optional enumerations with optional raw
// values, and appending optional values to text with a placeholder.
//
//   unwrappedOr(std::optional<int>{}, 7)                      -> 7
//   assignIfPresent(a, std::optional<int>{})                  -> a unchanged
//   assignIfAbsent(a, [] { return expensive(); })             -> calls expensive() only when !a
//   isNilOrEmpty(std::optional<std::string>{""})              -> true
//   rawValueEquals(std::optional{Fruit::apple}, std::optional<std::string>{"apple"}) -> true
//   appendInterpolation(text, std::optional<int>{5}, "-", greaterThan10) -> appends "-"
//
// Functions passed in may throw; the exception passes to the caller
// unchanged. Nothing here keeps state or synchronises.
#include <charconv>
#include <concepts>
#include <functional>
#include <optional>
#include <ranges>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "ext/characters.h"

namespace ext {

// The held value, or `fallback`.
template <class T, class U>
[[nodiscard]] T unwrappedOr(const std::optional<T>& value, U&& fallback) {
  return value ? *value : static_cast<T>(std::forward<U>(fallback));
}

// The held value; throws exactly `error` when there is none.
template <class T, class Error>
[[nodiscard]] T unwrappedOrThrow(const std::optional<T>& value, Error&& error) {
  if (!value) throw std::forward<Error>(error);
  return *value;
}

// Calls `body` once with the held value; does nothing when there is none.
template <class T, class Body>
void run(const std::optional<T>& value, Body body) {
  if (value) std::invoke(body, *value);
}

// `target = value` when `value` holds one; an absent `value` never clears
// `target`.
template <class T>
void assignIfPresent(std::optional<T>& target, const std::optional<T>& value) {
  if (value) target = *value;
}

// Only when `target` is empty: `target = make()`, whose result may itself be
// empty. `make` is not called when `target` holds a value.
template <class T, class Make>
requires std::convertible_to<std::invoke_result_t<Make&>, std::optional<T>>
void assignIfAbsent(std::optional<T>& target, Make make) {
  if (!target) target = std::invoke(make);
}

// True when absent or holding an empty container.
template <std::ranges::range C>
[[nodiscard]] bool isNilOrEmpty(const std::optional<C>& value) {
  return !value || std::ranges::empty(*value);
}

// The held container when present and not empty; else nothing.
template <std::ranges::range C>
[[nodiscard]] std::optional<C> nonEmpty(const std::optional<C>& value) {
  if (isNilOrEmpty(value)) return std::nullopt;
  return value;
}

// --- Raw values ---
// A raw-representable type is an enumeration (its raw value is its underlying
// number) or a type with a `rawValue()` member.

template <class T>
concept RawRepresentable = std::is_enum_v<T> || requires(const T& value) {
  value.rawValue();
};

template <RawRepresentable T>
[[nodiscard]] auto rawValue(const T& value) {
  if constexpr (std::is_enum_v<T>) {
    return static_cast<std::underlying_type_t<T>>(value);
  } else {
    return value.rawValue();
  }
}

// Both absent: true; one absent: false; else whether the raw values are equal.
template <RawRepresentable T, class Raw>
[[nodiscard]] bool rawValueEquals(const std::optional<T>& value, const std::optional<Raw>& raw) {
  if (!value || !raw) return !value && !raw;
  return rawValue(*value) == *raw;
}
template <class Raw, RawRepresentable T>
requires(!RawRepresentable<Raw>) [[nodiscard]] bool rawValueEquals(const std::optional<Raw>& raw,
                                                                   const std::optional<T>& value) {
  return rawValueEquals(value, raw);
}

// The negation of rawValueEquals.
template <class A, class B>
[[nodiscard]] bool rawValueDiffers(const std::optional<A>& a, const std::optional<B>& b) {
  return !rawValueEquals(a, b);
}

// --- Interpolation ---

// How a value reads inside text: texts and characters (char, char32_t,
// Character) as they are, booleans as true/false, numbers in their shortest
// exact form (1.0 as "1.0"), anything else as its operator<< writes it.
template <class T>
[[nodiscard]] std::string interpolated(const T& value) {
  if constexpr (std::convertible_to<const T&, std::string_view>) {
    return std::string(std::string_view(value));
  } else if constexpr (std::same_as<T, char>) {
    return std::string(1, value);
  } else if constexpr (std::same_as<T, char32_t>) {
    return Character(value).string();
  } else if constexpr (std::same_as<T, Character>) {
    return value.string();
  } else if constexpr (std::same_as<T, bool>) {
    return value ? "true" : "false";
  } else if constexpr (std::is_arithmetic_v<T>) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    std::string text(buffer, end);
    if constexpr (std::floating_point<T>) {
      if (text.find_first_of(".einf") == std::string::npos) text += ".0";
    }
    return text;
  } else {
    std::ostringstream stream;
    stream << value;
    return std::move(stream).str();
  }
}

namespace detail {
template <class Placeholder>
void appendPlaceholder(std::string& text, Placeholder& placeholder) {
  if constexpr (std::invocable<Placeholder&>) {
    text += std::invoke(placeholder);
  } else {
    text += placeholder;
  }
}
}  // namespace detail

// Appends the value when present, else the placeholder. `placeholder` is a
// text, or a function giving one that is called only when it is appended.
template <class T, class Placeholder>
void appendInterpolation(std::string& text, const std::optional<T>& value,
                         Placeholder placeholder) {
  if (value) {
    text += interpolated(*value);
  } else {
    detail::appendPlaceholder(text, placeholder);
  }
}

// As above, but a present value that `accept` rejects also gives the
// placeholder. `accept` is asked once; when it throws nothing is appended.
template <class T, class Placeholder, class Accept>
requires std::predicate<Accept&, const T&>
void appendInterpolation(std::string& text, const std::optional<T>& value, Placeholder placeholder,
                         Accept accept) {
  if (value && std::invoke(accept, *value)) {
    text += interpolated(*value);
  } else {
    detail::appendPlaceholder(text, placeholder);
  }
}

}  // namespace ext
