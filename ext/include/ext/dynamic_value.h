#pragma once
// A value whose type is known only at run time: null, bool, 64-bit integer,
// double, UTF-8 text, array or text-keyed object. Dictionaries use it to read
// and write along a path of keys and to write JSON (ext/dictionaries.h).
//
//   DynamicValue(DynamicValue::Object{{"a", 1}}).isObject()   -> true
//   toJson(DynamicValue::Object{{"a", 1}}, false)             -> "{\"a\":1}"
//   toJson(DynamicValue::Object{{"a", 1}}, true)              -> "{\n  \"a\" : 1\n}"
//   toJson(DynamicValue(1.0 / 0.0), false)                    -> nothing
//
// DynamicConversion<T> moves a typed value in and out of a DynamicValue;
// both directions report a value that does not fit as nothing. A DynamicValue
// is a plain value: copies are independent and it is safe to use from any
// thread as long as one thread at a time changes it. Copying, comparing and
// destroying walk nested values without recursion, so any depth is safe;
// JSON is written up to kMaxJsonDepth levels.
#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace ext {

// The deepest nesting of arrays and objects that JSON is written for; the
// outermost container is level 1.
inline constexpr std::size_t kMaxJsonDepth = 512;

class DynamicValue {
 public:
  using Array = std::vector<DynamicValue>;
  using Object = std::unordered_map<std::string, DynamicValue>;

  DynamicValue() = default;  // null
  DynamicValue(std::nullptr_t) {}
  DynamicValue(bool value) : value_(value) {}
  // Any integer that fits in 64 signed bits; 64-bit unsigned values go
  // through DynamicConversion, which checks the range.
  template <std::integral T>
  requires(!std::same_as<T, bool> && (std::is_signed_v<T> || sizeof(T) < sizeof(std::int64_t)))
      DynamicValue(T value)
      : value_(static_cast<std::int64_t>(value)) {}
  DynamicValue(double value) : value_(value) {}
  DynamicValue(float value) : value_(static_cast<double>(value)) {}
  DynamicValue(std::string value) : value_(std::move(value)) {}
  DynamicValue(std::string_view value) : value_(std::string(value)) {}
  DynamicValue(const char* value) : value_(std::string(value)) {}
  DynamicValue(Array value) : value_(std::move(value)) {}
  DynamicValue(Object value) : value_(std::move(value)) {}

  DynamicValue(const DynamicValue& other);
  DynamicValue(DynamicValue&&) noexcept = default;
  DynamicValue& operator=(const DynamicValue& other);
  DynamicValue& operator=(DynamicValue&&) noexcept = default;
  ~DynamicValue();

  [[nodiscard]] bool isNull() const { return std::holds_alternative<std::nullptr_t>(value_); }
  [[nodiscard]] bool isObject() const { return std::holds_alternative<Object>(value_); }
  [[nodiscard]] bool isArray() const { return std::holds_alternative<Array>(value_); }

  // The held value when it has type T (bool, std::int64_t, double,
  // std::string, Array or Object), else null. The pointer lives as long as
  // this value is neither changed nor destroyed.
  template <class T>
  [[nodiscard]] const T* getIf() const {
    return std::get_if<T>(&value_);
  }
  template <class T>
  [[nodiscard]] T* getIf() {
    return std::get_if<T>(&value_);
  }

  // Same type and value; arrays element by element, objects key by key.
  friend bool operator==(const DynamicValue& a, const DynamicValue& b);

 private:
  using Storage =
      std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Array, Object>;

  // Whether this is an array or object with members, the only values that
  // nest.
  [[nodiscard]] bool hasMembers() const;

  Storage value_;
};

// Whether `value` can be written as JSON: an array or object at the top,
// nested at most kMaxJsonDepth levels deep, every number finite, every text
// (keys included) valid UTF-8.
[[nodiscard]] bool isValidJsonObject(const DynamicValue& value);

// JSON text of `value`, or nothing when isValidJsonObject refuses it.
// Compact: no spaces at all ({"a":[1,2]}). Pretty: one member per line,
// two-space indent, " : " between key and value, and an empty array or object
// written as its brackets around an empty line. "/" is escaped as "\/";
// other text is written as is, apart from quotes, backslashes and control
// characters. Objects are written in their own (hash) order.
[[nodiscard]] std::optional<std::string> toJson(const DynamicValue& value, bool prettify);

// --- Conversions ---

// Specialised for each type that has a dynamic form:
//   static std::optional<DynamicValue> toDynamic(const T&);
//   static std::optional<T> fromDynamic(const DynamicValue&);
template <class T>
struct DynamicConversion;

template <class T>
concept DynamicConvertible = requires(const T& value, const DynamicValue& dynamic) {
  { DynamicConversion<T>::toDynamic(value) } -> std::same_as<std::optional<DynamicValue>>;
  { DynamicConversion<T>::fromDynamic(dynamic) } -> std::same_as<std::optional<T>>;
};

template <>
struct DynamicConversion<DynamicValue> {
  static std::optional<DynamicValue> toDynamic(const DynamicValue& value) { return value; }
  static std::optional<DynamicValue> fromDynamic(const DynamicValue& value) { return value; }
};

template <>
struct DynamicConversion<bool> {
  static std::optional<DynamicValue> toDynamic(bool value) { return DynamicValue(value); }
  static std::optional<bool> fromDynamic(const DynamicValue& value) {
    if (const bool* held = value.getIf<bool>()) return *held;
    return std::nullopt;
  }
};

// Integers convert only when the value fits the target type.
template <std::integral T>
requires(!std::same_as<T, bool>) struct DynamicConversion<T> {
  static std::optional<DynamicValue> toDynamic(T value) {
    if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(std::int64_t)) {
      if (value > static_cast<T>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
      return DynamicValue(static_cast<std::int64_t>(value));
    } else {
      return DynamicValue(value);
    }
  }
  static std::optional<T> fromDynamic(const DynamicValue& value) {
    const std::int64_t* held = value.getIf<std::int64_t>();
    if (held == nullptr || !std::in_range<T>(*held)) return std::nullopt;
    return static_cast<T>(*held);
  }
};

namespace detail {
// Whether `value` is finite but outside To's range, where converting it would
// be undefined; infinities and NaN convert as they are.
template <std::floating_point To, std::floating_point From>
[[nodiscard]] bool exceedsFloatingRange(From value) {
  if constexpr (std::numeric_limits<From>::max_exponent <= std::numeric_limits<To>::max_exponent) {
    return false;
  } else {
    return std::isfinite(value) && (value > static_cast<From>(std::numeric_limits<To>::max()) ||
                                    value < static_cast<From>(std::numeric_limits<To>::lowest()));
  }
}
}  // namespace detail

// A finite value beyond the other type's range converts to nothing:
// fromDynamic<float>(1e300) is nothing, not infinity.
template <std::floating_point T>
struct DynamicConversion<T> {
  static std::optional<DynamicValue> toDynamic(T value) {
    if (detail::exceedsFloatingRange<double>(value)) return std::nullopt;
    return DynamicValue(static_cast<double>(value));
  }
  static std::optional<T> fromDynamic(const DynamicValue& value) {
    if (const double* held = value.getIf<double>()) {
      if (detail::exceedsFloatingRange<T>(*held)) return std::nullopt;
      return static_cast<T>(*held);
    }
    if (const std::int64_t* held = value.getIf<std::int64_t>()) return static_cast<T>(*held);
    return std::nullopt;
  }
};

template <>
struct DynamicConversion<std::string> {
  static std::optional<DynamicValue> toDynamic(const std::string& value) {
    return DynamicValue(value);
  }
  static std::optional<std::string> fromDynamic(const DynamicValue& value) {
    if (const std::string* held = value.getIf<std::string>()) return *held;
    return std::nullopt;
  }
};

template <DynamicConvertible T>
struct DynamicConversion<std::vector<T>> {
  static std::optional<DynamicValue> toDynamic(const std::vector<T>& values) {
    DynamicValue::Array array;
    array.reserve(values.size());
    for (const T& value : values) {
      std::optional<DynamicValue> converted = DynamicConversion<T>::toDynamic(value);
      if (!converted) return std::nullopt;
      array.push_back(std::move(*converted));
    }
    return DynamicValue(std::move(array));
  }
  static std::optional<std::vector<T>> fromDynamic(const DynamicValue& value) {
    const DynamicValue::Array* array = value.getIf<DynamicValue::Array>();
    if (array == nullptr) return std::nullopt;
    std::vector<T> values;
    values.reserve(array->size());
    for (const DynamicValue& element : *array) {
      std::optional<T> converted = DynamicConversion<T>::fromDynamic(element);
      if (!converted) return std::nullopt;
      values.push_back(std::move(*converted));
    }
    return values;
  }
};

namespace detail {
// Text-keyed maps share one conversion to and from Object.
template <class Map>
struct TextKeyedMapConversion {
  using Mapped = typename Map::mapped_type;
  static std::optional<DynamicValue> toDynamic(const Map& map) {
    DynamicValue::Object object;
    for (const auto& [key, value] : map) {
      std::optional<DynamicValue> converted = DynamicConversion<Mapped>::toDynamic(value);
      if (!converted) return std::nullopt;
      object.emplace(key, std::move(*converted));
    }
    return DynamicValue(std::move(object));
  }
  static std::optional<Map> fromDynamic(const DynamicValue& value) {
    const DynamicValue::Object* object = value.getIf<DynamicValue::Object>();
    if (object == nullptr) return std::nullopt;
    Map map;
    for (const auto& [key, element] : *object) {
      std::optional<Mapped> converted = DynamicConversion<Mapped>::fromDynamic(element);
      if (!converted) return std::nullopt;
      map.emplace(key, std::move(*converted));
    }
    return map;
  }
};
}  // namespace detail

template <DynamicConvertible T>
struct DynamicConversion<std::unordered_map<std::string, T>>
    : detail::TextKeyedMapConversion<std::unordered_map<std::string, T>> {};

template <DynamicConvertible T>
struct DynamicConversion<std::map<std::string, T>>
    : detail::TextKeyedMapConversion<std::map<std::string, T>> {};

}  // namespace ext
