#pragma once
// Query and transformation algorithms over any input range: quantifiers,
// filtering and counting, conditional walks, running totals, single and first
// matches, duplicates, partitions, sorting by one to three keys, sums and
// products.
//
//   all(std::vector{2, 4}, isEven)                     -> true
//   single(std::vector{1, 2, 3}, isEven)               -> 2
//   accumulated(std::vector{1, 2, 3}, 0, std::plus{})  -> {1, 3, 6}
//   sortedBy(people, &Person::name, &Person::age)      -> by name, then age
//   duplicates(std::vector{1, 2, 2, 3, 3, 3})          -> {2, 3} in hash order
//
// A key is anything `std::invoke` can call with an element: a data-member
// pointer or a function. Predicates, keys and comparisons may throw; the first
// exception ends the operation at once, passes to the caller unchanged, and no
// partial result is returned. Results are new vectors; the range is never
// changed. Nothing here is synchronised or keeps state between calls.
#include <algorithm>
#include <concepts>
#include <cstddef>
#include <functional>
#include <iterator>
#include <numeric>
#include <optional>
#include <ranges>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ext/precondition.h"

namespace ext {

// Values a hash set can hold: std::hash and == exist.
template <class T>
concept Hashable = std::equality_comparable<T> && requires(const T& value) {
  { std::hash<T>{}(value) } -> std::convertible_to<std::size_t>;
};

template <std::ranges::input_range R>
using RangeValue = std::ranges::range_value_t<R>;

// The decayed type a key or transform gives for an element of R.
template <class Key, class R>
using KeyResult =
    std::remove_cvref_t<std::invoke_result_t<Key&, std::ranges::range_reference_t<R>>>;

namespace detail {

// A stable bottom-up merge sort of positions 0..n-1. Every read stays inside
// [0, n) whatever `before` answers, so NaN keys or an inconsistent comparison
// give some order, never a stray read. `before(a, b)` tells whether position a
// goes before position b; an exception from it leaves nothing changed.
template <class Before>
[[nodiscard]] std::vector<std::size_t> stableOrder(std::size_t n, Before&& before) {
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::vector<std::size_t> merged(n);
  for (std::size_t width = 1; width < n; width *= 2) {
    for (std::size_t low = 0; low < n; low += 2 * width) {
      const std::size_t mid = std::min(low + width, n);
      const std::size_t high = std::min(low + 2 * width, n);
      std::size_t left = low, right = mid, out = low;
      while (left < mid && right < high) {
        // Taking from the right only when strictly before keeps equal keys stable.
        merged[out++] = before(order[right], order[left]) ? order[right++] : order[left++];
      }
      while (left < mid) merged[out++] = order[left++];
      while (right < high) merged[out++] = order[right++];
    }
    order.swap(merged);
  }
  return order;
}

// Whether a goes before b by the keys in turn: a later key is read only when
// all earlier keys are equal, and each key of a is read before that of b.
template <class T, class Key>
[[nodiscard]] bool lessByKeys(const T& a, const T& b, Key& key) {
  decltype(auto) keyA = std::invoke(key, a);
  decltype(auto) keyB = std::invoke(key, b);
  return keyA < keyB;
}
template <class T, class Key, class Next, class... Rest>
[[nodiscard]] bool lessByKeys(const T& a, const T& b, Key& key, Next& next, Rest&... rest) {
  decltype(auto) keyA = std::invoke(key, a);
  decltype(auto) keyB = std::invoke(key, b);
  if (keyA == keyB) return lessByKeys(a, b, next, rest...);
  return keyA < keyB;
}

// The elements of `items` in a stable order by `before(const T&, const T&)`.
template <class T, class Before>
[[nodiscard]] std::vector<T> sortedVector(std::vector<T> items, Before&& before) {
  const std::vector<std::size_t> order = stableOrder(
      items.size(), [&](std::size_t a, std::size_t b) { return before(items[a], items[b]); });
  std::vector<T> result;
  result.reserve(items.size());
  for (std::size_t position : order) result.push_back(std::move(items[position]));
  return result;
}

template <std::ranges::input_range R>
[[nodiscard]] std::vector<RangeValue<R>> toVector(R&& range) {
  std::vector<RangeValue<R>> items;
  for (auto&& element : range) items.push_back(std::forward<decltype(element)>(element));
  return items;
}

// Integer arithmetic that traps on overflow, as the element types' own
// arithmetic does where these algorithms come from.
template <class T>
[[nodiscard]] T checkedAdd(const T& a, const T& b) {
  if constexpr (std::integral<T> && !std::same_as<T, bool>) {
    T sum{};
    precondition(!__builtin_add_overflow(a, b, &sum), "arithmetic overflow in a sum");
    return sum;
  } else {
    return a + b;
  }
}
template <class T>
[[nodiscard]] T checkedMultiply(const T& a, const T& b) {
  if constexpr (std::integral<T> && !std::same_as<T, bool>) {
    T product{};
    precondition(!__builtin_mul_overflow(a, b, &product), "arithmetic overflow in a product");
    return product;
  } else {
    return a * b;
  }
}

}  // namespace detail

// --- Tests, counts and walks ---

// True when no element fails `predicate`; stops at the first that does.
template <std::ranges::input_range R, class Predicate>
[[nodiscard]] bool all(R&& sequence, Predicate predicate) {
  for (auto&& element : sequence) {
    if (!std::invoke(predicate, element)) return false;
  }
  return true;
}

// True when no element satisfies `predicate`; stops at the first that does.
template <std::ranges::input_range R, class Predicate>
[[nodiscard]] bool none(R&& sequence, Predicate predicate) {
  for (auto&& element : sequence) {
    if (std::invoke(predicate, element)) return false;
  }
  return true;
}

// True when some element satisfies `predicate`; stops at the first that does.
template <std::ranges::input_range R, class Predicate>
[[nodiscard]] bool any(R&& sequence, Predicate predicate) {
  return !none(std::forward<R>(sequence), std::move(predicate));
}

// The elements that do not satisfy `predicate`, in order.
template <std::ranges::input_range R, class Predicate>
[[nodiscard]] std::vector<RangeValue<R>> reject(R&& sequence, Predicate predicate) {
  std::vector<RangeValue<R>> kept;
  for (auto&& element : sequence) {
    if (!std::invoke(predicate, element)) kept.push_back(element);
  }
  return kept;
}

// How many elements satisfy `predicate`; it is asked of every element.
template <std::ranges::input_range R, class Predicate>
[[nodiscard]] std::size_t countWhere(R&& sequence, Predicate predicate) {
  std::size_t count = 0;
  for (auto&& element : sequence) {
    if (std::invoke(predicate, element)) ++count;
  }
  return count;
}

// Gathers the elements first, then calls `body` from the last to the first.
template <std::ranges::input_range R, class Body>
void forEachReversed(R&& sequence, Body body) {
  std::vector<RangeValue<R>> items = detail::toVector(std::forward<R>(sequence));
  for (auto it = items.rbegin(); it != items.rend(); ++it) std::invoke(body, *it);
}

// Asks `predicate` of every element first, then calls `body` on each match in
// order; no body call happens before the predicate has seen every element.
template <std::ranges::input_range R, class Predicate, class Body>
void forEachWhere(R&& sequence, Predicate predicate, Body body) {
  std::vector<RangeValue<R>> matches;
  for (auto&& element : sequence) {
    if (std::invoke(predicate, element)) matches.push_back(element);
  }
  for (auto& match : matches) std::invoke(body, match);
}

// The only element satisfying `predicate`; nothing when none or several do.
// The predicate is not asked of elements after a second match.
template <std::ranges::input_range R, class Predicate>
[[nodiscard]] std::optional<RangeValue<R>> single(R&& sequence, Predicate predicate) {
  std::optional<RangeValue<R>> result;
  for (auto&& element : sequence) {
    if (!std::invoke(predicate, element)) continue;
    if (result) return std::nullopt;
    result.emplace(element);
  }
  return result;
}

// The first element whose key equals `value`; stops there.
template <std::ranges::input_range R, class Key, class Value>
[[nodiscard]] std::optional<RangeValue<R>> firstWhereEquals(R&& sequence, Key key,
                                                            const Value& value) {
  for (auto&& element : sequence) {
    if (std::invoke(key, element) == value) return element;
  }
  return std::nullopt;
}

// True when every element of `other` occurs in `sequence`, in any order or
// number; an empty `other` gives true. Stops at the first miss. Hashable
// elements go through a hash set of `sequence`; others are searched linearly,
// so `sequence` must then be walkable more than once.
template <std::ranges::input_range R, std::ranges::input_range Other>
[[nodiscard]] bool containsAll(R&& sequence, Other&& other) {
  using T = RangeValue<R>;
  if constexpr (Hashable<T>) {
    const std::unordered_set<T> present(std::ranges::begin(sequence), std::ranges::end(sequence));
    for (auto&& element : other) {
      if (!present.contains(element)) return false;
    }
  } else {
    static_assert(std::ranges::forward_range<R>, "a linear search walks the range repeatedly");
    for (auto&& element : other) {
      if (std::ranges::find(sequence, element) == std::ranges::end(sequence)) return false;
    }
  }
  return true;
}

// True when some value occurs twice; stops at the first repeat.
template <std::ranges::input_range R>
requires Hashable<RangeValue<R>>
[[nodiscard]] bool containsDuplicates(R&& sequence) {
  std::unordered_set<RangeValue<R>> seen;
  for (auto&& element : sequence) {
    if (!seen.insert(element).second) return true;
  }
  return false;
}

// Each value that occurs more than once, once, in hash order (not sequence order).
template <std::ranges::input_range R>
requires Hashable<RangeValue<R>>
[[nodiscard]] std::vector<RangeValue<R>> duplicates(R&& sequence) {
  std::unordered_set<RangeValue<R>> seen;
  std::unordered_set<RangeValue<R>> repeated;
  for (auto&& element : sequence) {
    if (!seen.insert(element).second) repeated.insert(element);
  }
  return {repeated.begin(), repeated.end()};
}

// --- Transformations ---

// The running values r1...rn with r0 = initial and r(i) = next(r(i-1), element i).
template <std::ranges::input_range R, class Result, class Next>
[[nodiscard]] std::vector<Result> accumulated(R&& sequence, Result initial, Next next) {
  std::vector<Result> running;
  Result current = std::move(initial);
  for (auto&& element : sequence) {
    current = std::invoke(next, std::move(current), element);
    running.push_back(current);
  }
  return running;
}

// Asks `predicate` of every element first, then maps each match in order.
template <std::ranges::input_range R, class Predicate, class Transform>
[[nodiscard]] auto filtered(R&& sequence, Predicate predicate, Transform transform) {
  std::vector<RangeValue<R>> matches;
  for (auto&& element : sequence) {
    if (std::invoke(predicate, element)) matches.push_back(element);
  }
  std::vector<std::remove_cvref_t<std::invoke_result_t<Transform&, RangeValue<R>&>>> mapped;
  mapped.reserve(matches.size());
  for (auto& match : matches) mapped.push_back(std::invoke(transform, match));
  return mapped;
}

// The elements in order, keeping the first for each distinct key. Hashable
// keys are remembered in a hash set; others in a list searched linearly.
template <std::ranges::input_range R, class Key>
[[nodiscard]] std::vector<RangeValue<R>> withoutDuplicates(R&& sequence, Key key) {
  using K = KeyResult<Key, R>;
  std::vector<RangeValue<R>> kept;
  if constexpr (Hashable<K>) {
    std::unordered_set<K> seen;
    for (auto&& element : sequence) {
      if (seen.insert(std::invoke(key, element)).second) kept.push_back(element);
    }
  } else {
    std::vector<K> seen;
    for (auto&& element : sequence) {
      K value = std::invoke(key, element);
      if (std::ranges::find(seen, value) != seen.end()) continue;
      seen.push_back(std::move(value));
      kept.push_back(element);
    }
  }
  return kept;
}

template <class T>
struct Division {
  std::vector<T> matching;
  std::vector<T> nonMatching;
};

// One walk: each element goes to `matching` or `nonMatching`, in order.
template <std::ranges::input_range R, class Predicate>
[[nodiscard]] Division<RangeValue<R>> divided(R&& sequence, Predicate predicate) {
  Division<RangeValue<R>> division;
  for (auto&& element : sequence) {
    (std::invoke(predicate, element) ? division.matching : division.nonMatching).push_back(element);
  }
  return division;
}

// --- Sorting ---
// Stable. Keys are read or computed afresh at every comparison (nothing is
// cached), so a key may be an expensive or impure function; a key or
// comparison that throws ends the sort.

// All elements ordered by `comparison(key(a), key(b))`.
template <std::ranges::input_range R, class Key, class Comparison>
[[nodiscard]] std::vector<RangeValue<R>> sortedWith(R&& sequence, Key key, Comparison comparison) {
  return detail::sortedVector(detail::toVector(std::forward<R>(sequence)),
                              [&](const auto& a, const auto& b) -> bool {
                                decltype(auto) keyA = std::invoke(key, a);
                                decltype(auto) keyB = std::invoke(key, b);
                                return std::invoke(comparison, keyA, keyB);
                              });
}

// All elements in ascending order of the first key, then the second among
// equal first keys, then the third.
template <std::ranges::input_range R, class... Keys>
requires(sizeof...(Keys) >= 1 && sizeof...(Keys) <= 3)
    [[nodiscard]] std::vector<RangeValue<R>> sortedBy(R&& sequence, Keys... keys) {
  return detail::sortedVector(
      detail::toVector(std::forward<R>(sequence)),
      [&](const auto& a, const auto& b) { return detail::lessByKeys(a, b, keys...); });
}

// --- Sums and products ---
// Integer totals that leave the type's range are a programming error.

template <std::ranges::input_range R>
[[nodiscard]] RangeValue<R> sum(R&& sequence) {
  RangeValue<R> total{};
  for (auto&& element : sequence) total = detail::checkedAdd(total, RangeValue<R>(element));
  return total;
}

template <std::ranges::input_range R>
[[nodiscard]] RangeValue<R> product(R&& sequence) {
  RangeValue<R> total(1);
  for (auto&& element : sequence) total = detail::checkedMultiply(total, RangeValue<R>(element));
  return total;
}

// Zero, plus each element's value in order.
template <std::ranges::input_range R, class Key>
[[nodiscard]] KeyResult<Key, R> sumFor(R&& sequence, Key key) {
  KeyResult<Key, R> total{};
  for (auto&& element : sequence) {
    total = detail::checkedAdd(total, KeyResult<Key, R>(std::invoke(key, element)));
  }
  return total;
}

// One, times each element's value in order.
template <std::ranges::input_range R, class Key>
[[nodiscard]] KeyResult<Key, R> productFor(R&& sequence, Key key) {
  KeyResult<Key, R> total(1);
  for (auto&& element : sequence) {
    total = detail::checkedMultiply(total, KeyResult<Key, R>(std::invoke(key, element)));
  }
  return total;
}

}  // namespace ext
