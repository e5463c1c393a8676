#pragma once
// Operations on std::unordered_map: grouping, key tests and removal, random
// removal, JSON output, mapping keys and values, picking by keys, reverse
// lookup, lower-casing text keys, reading and writing along a path of keys
// through nested dictionaries, and merging and subtracting.
//
//   groupedBy(words, firstLetter)            -> {'a': {"ant", "ape"}, 'b': {"bee"}}
//   jsonString({{"a", 1}}, false)            -> "{\"a\":1}"
//   valueAtPath(d, {"user", "name"})         -> d["user"]["name"] when d["user"] is an object
//   merged({{"a", 1}}, {{"a", 2}})           -> {{"a", 2}}  (the right side wins)
//
// Walks follow the map's own (hash) order, and so does every result built
// from one. Transforms may throw: the exception passes to the caller and
// nothing is changed or built. Nothing here is synchronised; in-place
// operations need the map to themselves for their run.
//
// Nested dictionaries are seen through DynamicValue (ext/dynamic_value.h): a
// value counts as a nested dictionary when its dynamic form is an Object,
// whose keys are texts, so paths go deeper than one key only in maps keyed by
// std::string. Values need a DynamicConversion for the path and JSON
// operations.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ext/dynamic_value.h"
#include "ext/precondition.h"
#include "ext/sequences.h"

namespace ext {

// The elements of `sequence` in lists under the key `key` reads from each,
// each list in sequence order; only keys that occur get an entry.
template <std::ranges::input_range R, class Key>
[[nodiscard]] std::unordered_map<KeyResult<Key, R>, std::vector<RangeValue<R>>> groupedBy(
    R&& sequence, Key key) {
  std::unordered_map<KeyResult<Key, R>, std::vector<RangeValue<R>>> groups;
  for (auto&& element : sequence) groups[std::invoke(key, element)].push_back(element);
  return groups;
}

template <class K, class V>
[[nodiscard]] bool hasKey(const std::unordered_map<K, V>& dictionary, const K& key) {
  return dictionary.contains(key);
}

// Removes the entry of each key in turn; keys without one are passed over.
// The keys are read before anything is removed, so they may be a view of
// the map itself: removeAllKeys(d, d | std::views::keys) empties it.
template <class K, class V, std::ranges::input_range Keys>
void removeAllKeys(std::unordered_map<K, V>& dictionary, const Keys& keys) {
  std::vector<K> listed;
  for (const auto& key : keys) listed.emplace_back(key);
  for (const K& key : listed) dictionary.erase(key);
}

// Removes the entry of a key picked uniformly at random (from the system's
// random source) and returns its value; nothing when the map is empty.
template <class K, class V>
std::optional<V> removeValueForRandomKey(std::unordered_map<K, V>& dictionary) {
  if (dictionary.empty()) return std::nullopt;
  std::random_device source;
  std::uniform_int_distribution<std::size_t> pick(0, dictionary.size() - 1);
  auto it = std::next(dictionary.begin(), static_cast<std::ptrdiff_t>(pick(source)));
  std::optional<V> value(std::move(it->second));
  dictionary.erase(it);
  return value;
}

// The map's dynamic form: an Object when keys are texts and every value
// converts, else nothing.
template <class K, class V>
requires DynamicConvertible<V>
[[nodiscard]] std::optional<DynamicValue> toDynamic(const std::unordered_map<K, V>& dictionary) {
  if constexpr (std::same_as<K, std::string>) {
    return DynamicConversion<std::unordered_map<K, V>>::toDynamic(dictionary);
  } else {
    return std::nullopt;  // JSON objects and dynamic Objects take text keys only
  }
}

// JSON text of the map (see ext::toJson for the two layouts); nothing when
// keys are not texts, or a value has no JSON form (NaN, infinity, invalid
// UTF-8, or a value that does not convert).
template <class K, class V>
requires DynamicConvertible<V>
[[nodiscard]] std::optional<std::string> jsonString(const std::unordered_map<K, V>& dictionary,
                                                    bool prettify) {
  const std::optional<DynamicValue> dynamic = toDynamic(dictionary);
  if (!dynamic) return std::nullopt;
  return toJson(*dynamic, prettify);
}

// The same JSON as bytes.
template <class K, class V>
requires DynamicConvertible<V>
[[nodiscard]] std::optional<std::vector<std::uint8_t>> jsonData(
    const std::unordered_map<K, V>& dictionary, bool prettify) {
  const std::optional<std::string> text = jsonString(dictionary, prettify);
  if (!text) return std::nullopt;
  return std::vector<std::uint8_t>(text->begin(), text->end());
}

namespace detail {
template <class Pairs>
[[nodiscard]] auto mapFromDistinctPairs(Pairs pairs) {
  using Pair = typename Pairs::value_type;
  std::unordered_map<typename Pair::first_type, typename Pair::second_type> result;
  result.reserve(pairs.size());
  for (auto& [key, value] : pairs) {
    precondition(result.emplace(std::move(key), std::move(value)).second,
                 "a key and value transform gave two entries the same key");
  }
  return result;
}
}  // namespace detail

// A new map of `transform(key, value)` for every entry, where the transform
// returns a std::pair. Two entries given the same new key is a programming
// error (the process aborts rather than drop one of them).
template <class K, class V, class Transform>
[[nodiscard]] auto mapKeysAndValues(const std::unordered_map<K, V>& dictionary,
                                    Transform transform) {
  using Pair = std::remove_cvref_t<std::invoke_result_t<Transform&, const K&, const V&>>;
  std::vector<Pair> pairs;
  pairs.reserve(dictionary.size());
  for (const auto& [key, value] : dictionary) pairs.push_back(std::invoke(transform, key, value));
  return detail::mapFromDistinctPairs(std::move(pairs));
}

// As mapKeysAndValues, with a transform returning std::optional<std::pair>;
// entries it gives nothing for are dropped.
template <class K, class V, class Transform>
[[nodiscard]] auto compactMapKeysAndValues(const std::unordered_map<K, V>& dictionary,
                                           Transform transform) {
  using Pair = typename std::remove_cvref_t<
      std::invoke_result_t<Transform&, const K&, const V&>>::value_type;
  std::vector<Pair> pairs;
  for (const auto& [key, value] : dictionary) {
    auto pair = std::invoke(transform, key, value);
    if (pair) pairs.push_back(std::move(*pair));
  }
  return detail::mapFromDistinctPairs(std::move(pairs));
}

// The entries of the listed keys that the map holds.
template <class K, class V>
[[nodiscard]] std::unordered_map<K, V> pick(const std::unordered_map<K, V>& dictionary,
                                            const std::vector<K>& keys) {
  std::unordered_map<K, V> picked;
  for (const K& key : keys) {
    if (auto it = dictionary.find(key); it != dictionary.end()) picked.insert(*it);
  }
  return picked;
}

// Every key whose value equals `value`, in the map's order.
template <class K, class V>
[[nodiscard]] std::vector<K> keysForValue(const std::unordered_map<K, V>& dictionary,
                                          const V& value) {
  std::vector<K> keys;
  for (const auto& [key, held] : dictionary) {
    if (held == value) keys.push_back(key);
  }
  return keys;
}

namespace detail {
// The Unicode lower-case form of `text`; nothing when it is not valid UTF-8.
[[nodiscard]] std::optional<std::string> lowercasedText(std::string_view text);
}  // namespace detail

// Moves every entry under its key's lower-case form. When several keys
// lower-case alike, one entry remains, holding the value of the last key
// walked that was not already lower-case. Keys that are not valid UTF-8 are
// left as they are.
template <class V>
void lowercaseAllKeys(std::unordered_map<std::string, V>& dictionary) {
  std::vector<std::string> keys;
  keys.reserve(dictionary.size());
  for (const auto& entry : dictionary) keys.push_back(entry.first);
  for (const std::string& key : keys) {
    std::optional<std::string> lowered = detail::lowercasedText(key);
    if (!lowered) continue;
    V value = std::move(dictionary.at(key));
    dictionary.erase(key);
    dictionary.insert_or_assign(std::move(*lowered), std::move(value));
  }
}

// --- Paths through nested dictionaries ---

namespace detail {
// The value reached from `value` through `keys`, walked by reference; null
// when a key is missing or a value on the way is not a dictionary.
template <class Value>
requires std::same_as<std::remove_const_t<Value>, DynamicValue>
[[nodiscard]] Value* valueBelow(Value& value, std::span<const std::string> keys) {
  Value* current = &value;
  for (const std::string& key : keys) {
    auto* nested = current->template getIf<DynamicValue::Object>();
    if (nested == nullptr) return nullptr;
    const auto member = nested->find(key);
    if (member == nested->end()) return nullptr;
    current = &member->second;
  }
  return current;
}
}  // namespace detail

// The value at `path`: the map's value for the first key, then that value's
// entry for the next key while the values are nested dictionaries. Nothing
// for an empty path, a missing key, or a path through a value that is not a
// dictionary.
template <class K, class V>
requires DynamicConvertible<V>
[[nodiscard]] std::optional<DynamicValue> valueAtPath(const std::unordered_map<K, V>& dictionary,
                                                      std::span<const K> path) {
  if (path.empty()) return std::nullopt;
  const auto entry = dictionary.find(path.front());
  if (entry == dictionary.end()) return std::nullopt;
  if constexpr (std::same_as<K, std::string>) {
    // Only the value found is copied; the levels above it are walked.
    std::optional<DynamicValue> converted;
    const DynamicValue* top = nullptr;
    if constexpr (std::same_as<V, DynamicValue>) {
      top = &entry->second;
    } else {
      converted = DynamicConversion<V>::toDynamic(entry->second);
      if (!converted) return std::nullopt;
      top = &*converted;
    }
    const DynamicValue* found = detail::valueBelow(*top, path.subspan(1));
    if (found == nullptr) return std::nullopt;
    return *found;
  } else {
    if (path.size() > 1) return std::nullopt;  // only text-keyed values nest
    return DynamicConversion<V>::toDynamic(entry->second);
  }
}

// Stores `value` at `path`. A one-key path stores it under that key when it
// is present and converts to V. A longer path stores it under its last key
// in the nested dictionary the keys before lead to: in place when V is
// DynamicValue, else in a copy of the first key's value that is stored back.
// Nothing changes for an empty path, an absent value on a one-key path, a
// missing or non-dictionary entry on the way (no dictionaries are created),
// or a changed copy that no longer converts to V (the entry keeps its old
// value).
template <class K, class V>
requires DynamicConvertible<V>
void setValueAtPath(std::unordered_map<K, V>& dictionary, std::span<const K> path,
                    const std::optional<DynamicValue>& value) {
  if (path.empty()) return;
  if (path.size() == 1) {
    if (!value) return;
    if (std::optional<V> converted = DynamicConversion<V>::fromDynamic(*value)) {
      dictionary.insert_or_assign(path.front(), std::move(*converted));
    }
    return;
  }
  if constexpr (std::same_as<K, std::string>) {
    const auto entry = dictionary.find(path.front());
    if (entry == dictionary.end()) return;
    const std::span<const std::string> between = path.subspan(1, path.size() - 2);
    if constexpr (std::same_as<V, DynamicValue>) {
      // Any value converts back to a DynamicValue, so it is edited in place.
      DynamicValue* parent = detail::valueBelow(entry->second, between);
      if (parent == nullptr) return;
      DynamicValue::Object* object = parent->getIf<DynamicValue::Object>();
      if (object == nullptr) return;
      setValueAtPath(*object, path.last(1), value);
    } else {
      std::optional<DynamicValue> nested = DynamicConversion<V>::toDynamic(entry->second);
      if (!nested) return;
      DynamicValue* parent = detail::valueBelow(*nested, between);
      if (parent == nullptr) return;
      DynamicValue::Object* object = parent->getIf<DynamicValue::Object>();
      if (object == nullptr) return;
      setValueAtPath(*object, path.last(1), value);
      if (std::optional<V> converted = DynamicConversion<V>::fromDynamic(*nested)) {
        entry->second = std::move(*converted);
      }
    }
  }
}

// Reads the value at `path`, lets `change` edit it (it may also set or clear
// it), then stores the result with setValueAtPath's rules.
template <class K, class V, class Change>
requires DynamicConvertible<V>
void updateValueAtPath(std::unordered_map<K, V>& dictionary, std::span<const K> path,
                       Change change) {
  std::optional<DynamicValue> value = valueAtPath(dictionary, path);
  std::invoke(change, value);
  setValueAtPath(dictionary, path, value);
}

// Braced paths: valueAtPath(d, {"a", "b"}).
template <class V>
requires DynamicConvertible<V>
[[nodiscard]] std::optional<DynamicValue> valueAtPath(
    const std::unordered_map<std::string, V>& dictionary, std::initializer_list<std::string> path) {
  return valueAtPath(dictionary, std::span<const std::string>(path.begin(), path.size()));
}
template <class V>
requires DynamicConvertible<V>
void setValueAtPath(std::unordered_map<std::string, V>& dictionary,
                    std::initializer_list<std::string> path,
                    const std::optional<DynamicValue>& value) {
  setValueAtPath(dictionary, std::span<const std::string>(path.begin(), path.size()), value);
}

// --- Merging and subtracting ---

// Every entry of `right` stored into `left` in turn; the right side wins.
template <class K, class V>
void mergeInPlace(std::unordered_map<K, V>& left, const std::unordered_map<K, V>& right) {
  for (const auto& [key, value] : right) left.insert_or_assign(key, value);
}

// A copy of `left` with `right` merged in; the right side wins.
template <class K, class V>
[[nodiscard]] std::unordered_map<K, V> merged(std::unordered_map<K, V> left,
                                              const std::unordered_map<K, V>& right) {
  mergeInPlace(left, right);
  return left;
}

// A copy of the map without the listed keys.
template <class K, class V, std::ranges::input_range Keys>
[[nodiscard]] std::unordered_map<K, V> removingKeys(std::unordered_map<K, V> dictionary,
                                                    const Keys& keys) {
  removeAllKeys(dictionary, keys);
  return dictionary;
}

}  // namespace ext
