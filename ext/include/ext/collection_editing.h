#pragma once
// Editing operations on containers: in-place sorts by keys, assigning one
// property of every element, construction by repeated evaluation, rotation,
// removing the first match or a random element, leading runs, removing
// elements with repeated keys, access by integer offsets, and appending
// optional values.
//
//   rotated(std::vector{1, 2, 3, 4}, 1)             -> {4, 1, 2, 3}
//   rotated(std::vector{1, 2, 3, 4}, -1)            -> {2, 3, 4, 1}
//   keepWhile(v = {1, 2, 3, 1}, lessThan3)          -> v == {1, 2}
//   skipWhile(std::vector{1, 2, 3, 1}, lessThan3)   -> {3, 1}
//   replaceOffsets(v = {1, 2, 3, 4}, offsets(1, 3), {7}) -> v == {1, 7, 4}
//
// Containers are sequence containers with insert and erase (vector, deque,
// list, string); the sorts need random access. Predicates and keys may throw:
// the exception passes to the caller unchanged, and in-place operations run
// their predicates before changing anything, so a throw leaves the container
// as it was. Breaking a stated limit aborts the process. Not synchronised.
#include <concepts>
#include <cstddef>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <ranges>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ext/precondition.h"
#include "ext/sequences.h"

namespace ext {

// Containers that can insert and erase ranges.
template <class C>
concept RangeReplaceable = std::ranges::forward_range<C> && std::default_initializable<C> &&
    requires(C& c, std::ranges::iterator_t<C> position, std::ranges::range_value_t<C> value) {
  c.insert(position, value);
  c.erase(position, position);
  c.push_back(value);
};

namespace detail {

// A copy of the elements of `range`, taken before an edit starts, so that a
// range that is, or views, the container being edited reads as it was.
template <class C, std::ranges::input_range R>
[[nodiscard]] C copiedElements(R&& range) {
  C copy;
  for (auto&& element : range) copy.push_back(element);
  return copy;
}

// Puts the elements of a random-access range into the order `order` gives.
template <std::ranges::random_access_range R>
void applyOrder(R& range, const std::vector<std::size_t>& order) {
  auto first = std::ranges::begin(range);
  std::vector<std::ranges::range_value_t<R>> moved;
  moved.reserve(order.size());
  for (std::size_t position : order) {
    moved.push_back(std::move(first[static_cast<std::ptrdiff_t>(position)]));
  }
  std::ranges::move(moved, first);
}

}  // namespace detail

// --- In-place sorts (stable; keys recomputed at every comparison) ---

// Sorts by `comparison(key(a), key(b))`. A throwing key or comparison leaves
// the range unchanged.
template <std::ranges::random_access_range R, class Key, class Comparison>
void sortWith(R& range, Key key, Comparison comparison) {
  auto first = std::ranges::begin(range);
  const auto order = detail::stableOrder(
      static_cast<std::size_t>(std::ranges::distance(range)), [&](std::size_t a, std::size_t b) {
        decltype(auto) keyA = std::invoke(key, first[static_cast<std::ptrdiff_t>(a)]);
        decltype(auto) keyB = std::invoke(key, first[static_cast<std::ptrdiff_t>(b)]);
        return static_cast<bool>(std::invoke(comparison, keyA, keyB));
      });
  detail::applyOrder(range, order);
}

// Sorts ascending by the first key, then the second, then the third.
template <std::ranges::random_access_range R, class... Keys>
requires(sizeof...(Keys) >= 1 && sizeof...(Keys) <= 3) void sortBy(R& range, Keys... keys) {
  auto first = std::ranges::begin(range);
  const auto order = detail::stableOrder(
      static_cast<std::size_t>(std::ranges::distance(range)), [&](std::size_t a, std::size_t b) {
        return detail::lessByKeys(first[static_cast<std::ptrdiff_t>(a)],
                                  first[static_cast<std::ptrdiff_t>(b)], keys...);
      });
  detail::applyOrder(range, order);
}

// Sets the property that `property` names (a data-member pointer, or a
// function returning a reference) to `value` on every element, in order.
template <std::ranges::forward_range R, class Property, class Value>
void assignToAll(R& range, const Value& value, Property property) {
  for (auto&& element : range) std::invoke(property, element) = value;
}

// --- Containers that insert and erase ---

// A container of `count` results of `expression`, evaluated once per element;
// a count of 0 or less evaluates nothing.
template <RangeReplaceable C, class Expression>
[[nodiscard]] C makeRepeating(Expression expression, std::ptrdiff_t count) {
  C collection;
  if (count < 1) return collection;
  if constexpr (requires { collection.reserve(std::size_t{}); }) {
    collection.reserve(static_cast<std::size_t>(count));
  }
  for (std::ptrdiff_t i = 0; i < count; ++i) collection.push_back(std::invoke(expression));
  return collection;
}

// Rotates by `places` toward the end (negative: toward the start), wrapping
// around: {1, 2, 3, 4} by 1 is {4, 1, 2, 3}. A non-zero rotation needs a
// non-empty container. Returns the container.
template <RangeReplaceable C>
C& rotate(C& collection, std::ptrdiff_t places) {
  if (places == 0) return collection;
  const auto count = static_cast<std::ptrdiff_t>(std::ranges::distance(collection));
  precondition(count != 0, "rotating an empty collection");
  const std::ptrdiff_t remainder = places % count;
  const std::ptrdiff_t toFront = remainder > 0 ? count - remainder : -remainder;
  std::ranges::rotate(collection, std::ranges::next(std::ranges::begin(collection), toFront));
  return collection;
}

// A rotated copy; the container is unchanged.
template <RangeReplaceable C>
[[nodiscard]] C rotated(C collection, std::ptrdiff_t places) {
  rotate(collection, places);
  return collection;
}

// Removes and returns the first element satisfying `predicate`; nothing, and
// nothing removed, when none does.
template <RangeReplaceable C, class Predicate>
std::optional<std::ranges::range_value_t<C>> removeFirstWhere(C& collection, Predicate predicate) {
  for (auto it = std::ranges::begin(collection); it != std::ranges::end(collection); ++it) {
    if (!std::invoke(predicate, *it)) continue;
    std::optional<std::ranges::range_value_t<C>> removed(std::move(*it));
    collection.erase(it);
    return removed;
  }
  return std::nullopt;
}

// Removes and returns an element picked uniformly at random (from the
// system's random source); nothing when the container is empty.
template <RangeReplaceable C>
std::optional<std::ranges::range_value_t<C>> removeRandomElement(C& collection) {
  const auto count = std::ranges::distance(collection);
  if (count == 0) return std::nullopt;
  std::random_device source;
  std::uniform_int_distribution<std::ptrdiff_t> pick(0, count - 1);
  auto it = std::ranges::next(std::ranges::begin(collection), pick(source));
  std::optional<std::ranges::range_value_t<C>> removed(std::move(*it));
  collection.erase(it);
  return removed;
}

namespace detail {
// The first position whose element fails `predicate`.
template <class C, class Predicate>
auto endOfLeadingRun(C& collection, Predicate& predicate) {
  auto it = std::ranges::begin(collection);
  while (it != std::ranges::end(collection) && std::invoke(predicate, *it)) ++it;
  return it;
}
}  // namespace detail

// Removes everything from the first element that fails `predicate` to the
// end. Returns the container.
template <RangeReplaceable C, class Predicate>
C& keepWhile(C& collection, Predicate predicate) {
  collection.erase(detail::endOfLeadingRun(collection, predicate), std::ranges::end(collection));
  return collection;
}

// The leading run of elements satisfying `predicate`.
template <RangeReplaceable C, class Predicate>
[[nodiscard]] C takeWhile(const C& collection, Predicate predicate) {
  return C(std::ranges::begin(collection), detail::endOfLeadingRun(collection, predicate));
}

// The elements from the first that fails `predicate` to the end.
template <RangeReplaceable C, class Predicate>
[[nodiscard]] C skipWhile(const C& collection, Predicate predicate) {
  return C(detail::endOfLeadingRun(collection, predicate), std::ranges::end(collection));
}

// Removes each element whose key equals that of an element kept earlier, so
// the first element of each key survives in order. Hashable keys are
// remembered in a hash set, others in a list searched linearly.
template <RangeReplaceable C, class Key>
void removeDuplicates(C& collection, Key key) {
  using K = std::remove_cvref_t<std::invoke_result_t<Key&, std::ranges::range_reference_t<C>>>;
  std::conditional_t<Hashable<K>, std::unordered_set<K>, std::vector<K>> seen;
  // Decide every element's fate first, so a throwing key changes nothing.
  std::vector<bool> keep;
  for (auto&& element : collection) {
    K value = std::invoke(key, element);
    if constexpr (Hashable<K>) {
      keep.push_back(seen.insert(std::move(value)).second);
    } else {
      const bool isNew = std::ranges::find(seen, value) == seen.end();
      if (isNew) seen.push_back(std::move(value));
      keep.push_back(isNew);
    }
  }
  // One compaction pass, then one erase of the tail: erasing each element
  // in place would shift the rest every time.
  std::size_t index = 0;
  auto kept = std::ranges::begin(collection);
  for (auto it = std::ranges::begin(collection); it != std::ranges::end(collection); ++it) {
    if (!keep[index++]) continue;
    if (kept != it) *kept = std::move(*it);
    ++kept;
  }
  collection.erase(kept, std::ranges::end(collection));
}

// --- Offsets ---

// A range of integer offsets, possibly open at either end, as the caller
// wrote it; it is resolved against 0...count when used.
struct OffsetRange {
  std::optional<std::ptrdiff_t> lower;
  std::optional<std::ptrdiff_t> upper;
  bool closed = false;  // Whether `upper` itself is included.
};

// [lower, upper)
[[nodiscard]] constexpr OffsetRange offsets(std::ptrdiff_t lower, std::ptrdiff_t upper) {
  return {lower, upper, false};
}
// [lower, upper]; lower <= upper, as for ClosedRange.
[[nodiscard]] constexpr OffsetRange offsetsThrough(std::ptrdiff_t lower, std::ptrdiff_t upper) {
  return {lower, upper, true};
}
// [lower, count)
[[nodiscard]] constexpr OffsetRange offsetsFrom(std::ptrdiff_t lower) { return {lower, {}, false}; }
// [0, upper)
[[nodiscard]] constexpr OffsetRange offsetsUpTo(std::ptrdiff_t upper) { return {{}, upper, false}; }
// [0, upper]
[[nodiscard]] constexpr OffsetRange offsetsUpThrough(std::ptrdiff_t upper) {
  return {{}, upper, true};
}

namespace detail {
// The half-open bounds of `range` within 0...count; a programming error when
// they fall outside or cross.
[[nodiscard]] inline std::pair<std::ptrdiff_t, std::ptrdiff_t> resolve(OffsetRange range,
                                                                       std::ptrdiff_t count) {
  const std::ptrdiff_t lower = range.lower.value_or(0);
  std::ptrdiff_t upper = range.upper.value_or(count);
  if (range.closed) {
    // Checked before the bound is made exclusive, which would let 1...0
    // pass as the empty 1..<1.
    precondition(!range.lower || lower <= upper, "a closed offset range needs lower <= upper");
    precondition(range.upper.has_value() && upper < count, "closed offset range past the end");
    ++upper;
  }
  precondition(0 <= lower && lower <= upper && upper <= count, "offset range outside 0...count");
  return {lower, upper};
}
}  // namespace detail

// The element `offset` steps from the first, to read or assign; offset must
// lie in 0...count-1.
template <std::ranges::forward_range C>
[[nodiscard]] decltype(auto) elementAtOffset(C&& collection, std::ptrdiff_t offset) {
  precondition(offset >= 0 && offset < std::ranges::distance(collection),
               "offset outside the collection");
  return *std::ranges::next(std::ranges::begin(collection), offset);
}

// The elements at `range`, as a container of the same type.
template <RangeReplaceable C>
[[nodiscard]] C sliceAtOffsets(const C& collection, OffsetRange range) {
  const auto [lower, upper] = detail::resolve(range, std::ranges::distance(collection));
  const auto first = std::ranges::next(std::ranges::begin(collection), lower);
  return C(first, std::ranges::next(first, upper - lower));
}

// Replaces the elements at `range` with `replacement`, which may be longer or
// shorter, and may be the container itself (as it was before the edit).
template <RangeReplaceable C, std::ranges::input_range Replacement>
void replaceOffsets(C& collection, OffsetRange range, Replacement&& replacement) {
  const auto [lower, upper] = detail::resolve(range, std::ranges::distance(collection));
  C elements = detail::copiedElements<C>(replacement);
  auto first = std::ranges::next(std::ranges::begin(collection), lower);
  auto position = collection.erase(first, std::ranges::next(first, upper - lower));
  collection.insert(position, std::make_move_iterator(elements.begin()),
                    std::make_move_iterator(elements.end()));
}
template <RangeReplaceable C>
void replaceOffsets(C& collection, OffsetRange range,
                    std::initializer_list<std::ranges::range_value_t<C>> replacement) {
  replaceOffsets(collection, range, std::vector(replacement));
}

// --- Optional appends ---

// Appends `element` when present.
template <RangeReplaceable C>
void appendIfNonNil(C& collection, const std::optional<std::ranges::range_value_t<C>>& element) {
  if (element) collection.push_back(*element);
}

// Appends every element of `elements`, in order, when present; `elements`
// may view the container itself (as it was before the edit).
template <RangeReplaceable C, std::ranges::input_range S>
void appendContentsIfNonNil(C& collection, const std::optional<S>& elements) {
  if (!elements) return;
  C appended = detail::copiedElements<C>(*elements);
  collection.insert(std::ranges::end(collection), std::make_move_iterator(appended.begin()),
                    std::make_move_iterator(appended.end()));
}

}  // namespace ext
