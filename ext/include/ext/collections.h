#pragma once
// Extra operations on ranges and vectors: safe and offset access, index
// searches, chunking, adjacent pairs, a parallel for-each, averages, and
// vector reordering and de-duplication.
//
//   safe(std::vector{1, 2}, 5)                   -> nothing
//   atOffset(std::vector{1, 2, 3}, -1)           -> 3
//   group(std::vector{1, 2, 3, 4, 5}, 2)         -> {{1, 2}, {3, 4}, {5}}
//   indicesWhere(std::vector{1, 3}, isEven)      -> nothing (not an empty list)
//   indicesOf(std::vector{1, 3}, 2)              -> {}
//   sortedLike(items, {"b", "a"}, &Item::name)   -> the "b" items, the "a" items, the rest
//
// Indices are integer offsets from the first element. Predicates and bodies
// may throw; the exception ends the operation and passes to the caller
// unchanged. Breaking a stated limit (an offset outside the range, a negative
// count) is a programming error that aborts the process. Everything runs on
// the caller's thread except forEachInParallel.
#include <concepts>
#include <cstddef>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <ranges>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ext/precondition.h"
#include "ext/sequences.h"

namespace ext {

// A half-open range [lowerBound, upperBound) of integer offsets.
struct IndexRange {
  std::size_t lowerBound = 0;
  std::size_t upperBound = 0;

  friend bool operator==(const IndexRange&, const IndexRange&) = default;
};

// {0, number of elements}.
template <std::ranges::forward_range R>
[[nodiscard]] IndexRange fullRange(const R& collection) {
  return {0, static_cast<std::size_t>(std::ranges::distance(collection))};
}

// The element at `index`, or nothing when the collection has no such index.
// Text is left to the character-wise safe() of ext/string_editing.h.
template <std::ranges::forward_range R>
  requires(!std::convertible_to<const R&, std::string_view>)
[[nodiscard]] std::optional<RangeValue<R>> safe(const R& collection, std::ptrdiff_t index) {
  if (index < 0 || index >= std::ranges::distance(collection)) return std::nullopt;
  return *std::ranges::next(std::ranges::begin(collection), index);
}

// The element `distance` steps from the first, or for a negative distance
// counted back from the end (-1 is the last). The position must exist.
template <std::ranges::bidirectional_range R>
[[nodiscard]] decltype(auto) atOffset(R&& collection, std::ptrdiff_t distance) {
  const std::ptrdiff_t count = std::ranges::distance(collection);
  precondition(distance >= -count && distance < count, "offset outside the collection");
  if (distance >= 0) return *std::ranges::next(std::ranges::begin(collection), distance);
  return *std::ranges::next(std::ranges::begin(collection), count + distance);
}

// The indices, in order, of the elements satisfying `predicate`; nothing
// (not an empty list) when none does.
template <std::ranges::input_range R, class Predicate>
[[nodiscard]] std::optional<std::vector<std::size_t>> indicesWhere(R&& collection,
                                                                   Predicate predicate) {
  std::vector<std::size_t> indices;
  std::size_t index = 0;
  for (auto&& element : collection) {
    if (std::invoke(predicate, element)) indices.push_back(index);
    ++index;
  }
  if (indices.empty()) return std::nullopt;
  return indices;
}

// The indices, in order, of the elements equal to `value`; empty when none is.
template <std::ranges::input_range R>
[[nodiscard]] std::vector<std::size_t> indicesOf(R&& collection, const RangeValue<R>& value) {
  std::vector<std::size_t> indices;
  std::size_t index = 0;
  for (auto&& element : collection) {
    if (element == value) indices.push_back(index);
    ++index;
  }
  return indices;
}

// Chunks of `size` elements, the last holding the remainder; nothing when
// `size` is below 1 or the collection is empty.
template <std::ranges::forward_range R>
[[nodiscard]] std::optional<std::vector<std::vector<RangeValue<R>>>> group(const R& collection,
                                                                           std::ptrdiff_t size) {
  if (size < 1 || std::ranges::empty(collection)) return std::nullopt;
  std::vector<std::vector<RangeValue<R>>> chunks;
  auto start = std::ranges::begin(collection);
  const auto end = std::ranges::end(collection);
  while (start != end) {
    auto stop = std::ranges::next(start, size, end);
    chunks.emplace_back(start, stop);
    start = stop;
  }
  return chunks;
}

// Calls `body` with consecutive chunks of `slice` elements (the last may be
// shorter); a slice of 0 or an empty collection never calls it. `slice` must
// not be negative.
template <std::ranges::forward_range R, class Body>
void forEachSlice(const R& collection, std::ptrdiff_t slice, Body body) {
  precondition(slice >= 0, "negative slice size");
  auto start = std::ranges::begin(collection);
  const auto end = std::ranges::end(collection);
  while (true) {
    auto stop = std::ranges::next(start, slice, end);
    if (stop == start) return;
    std::invoke(body, std::vector<RangeValue<R>>(start, stop));
    start = stop;
  }
}

// A single-pass sequence of copies of the pairs (first, second), (second, third), ...
// of a collection. Every iteration over it, and over its copies, shares one
// pair of positions, so a second pass continues where the first stopped and
// after one complete pass yields nothing. The collection must outlive it and
// must not change while it is in use.
template <std::ranges::forward_range R>
class AdjacentPairs {
 public:
  using Iterator = std::ranges::iterator_t<const R>;
  using Pair = std::pair<RangeValue<R>, RangeValue<R>>;

  explicit AdjacentPairs(const R& collection) : state_(std::make_shared<State>()) {
    state_->end = std::ranges::end(collection);
    state_->first = std::ranges::begin(collection);
    state_->second = state_->first == state_->end ? state_->end : std::next(state_->first);
  }

  class iterator {
   public:
    using value_type = Pair;
    using difference_type = std::ptrdiff_t;

    iterator() = default;
    Pair operator*() const { return {*state_->first, *state_->second}; }
    iterator& operator++() {
      ++state_->first;
      ++state_->second;
      return *this;
    }
    void operator++(int) { ++*this; }
    friend bool operator==(const iterator& it, std::default_sentinel_t) {
      return it.state_->first == it.state_->end || it.state_->second == it.state_->end;
    }

   private:
    friend class AdjacentPairs;
    explicit iterator(std::shared_ptr<typename AdjacentPairs::State> state)
        : state_(std::move(state)) {}
    std::shared_ptr<typename AdjacentPairs::State> state_;
  };

  [[nodiscard]] iterator begin() const { return iterator(state_); }
  [[nodiscard]] std::default_sentinel_t end() const { return {}; }

 private:
  struct State {
    Iterator first;
    Iterator second;
    std::ranges::sentinel_t<const R> end;
  };
  std::shared_ptr<State> state_;
};

template <std::ranges::forward_range R>
[[nodiscard]] AdjacentPairs<R> adjacentPairs(const R& collection) {
  return AdjacentPairs<R>(collection);
}
template <std::ranges::forward_range R>
void adjacentPairs(const R&& collection) = delete;  // the pairs would outlive it

namespace detail {

// Runs `body(i)` for every i in [0, iterations) on min(iterations, hardware
// threads) workers (the caller is one) that take indices from an atomic
// counter. Returns after all have joined; the first exception a body threw is
// rethrown then, and once one is caught no further indices are started.
void concurrentPerform(std::size_t iterations, const std::function<void(std::size_t)>& body);

}  // namespace detail

// Calls `body` once for every element, concurrently on worker threads in no
// promised order, and returns when every call has returned. `body` must be
// safe to run concurrently with itself; the collection must not change
// meanwhile. A body that throws: see detail::concurrentPerform.
template <std::ranges::forward_range R, class Body>
void forEachInParallel(R&& collection, Body&& body) {
  if constexpr (std::ranges::random_access_range<R>) {
    auto first = std::ranges::begin(collection);
    detail::concurrentPerform(
        static_cast<std::size_t>(std::ranges::distance(collection)),
        [&](std::size_t i) { std::invoke(body, first[static_cast<std::ptrdiff_t>(i)]); });
  } else {
    std::vector<std::ranges::iterator_t<R>> positions;
    for (auto it = std::ranges::begin(collection); it != std::ranges::end(collection); ++it) {
      positions.push_back(it);
    }
    detail::concurrentPerform(positions.size(),
                              [&](std::size_t i) { std::invoke(body, *positions[i]); });
  }
}

// The mean of integer elements as a double; 0.0 when empty. The sum is taken
// in the element type: an overflow there is a programming error.
template <std::ranges::input_range R>
requires std::integral<RangeValue<R>>
[[nodiscard]] double average(R&& collection) {
  RangeValue<R> total{};
  std::size_t count = 0;
  for (auto&& element : collection) {
    total = detail::checkedAdd(total, RangeValue<R>(element));
    ++count;
  }
  if (count == 0) return 0.0;
  return static_cast<double>(total) / static_cast<double>(count);
}

// The mean of floating-point elements in their own type; zero when empty.
template <std::ranges::input_range R>
requires std::floating_point<RangeValue<R>>
[[nodiscard]] RangeValue<R> average(R&& collection) {
  RangeValue<R> total{};
  std::size_t count = 0;
  for (auto&& element : collection) {
    total += element;
    ++count;
  }
  if (count == 0) return RangeValue<R>{};
  return total / static_cast<RangeValue<R>>(count);
}

// The last element whose key equals `value`, searched from the end.
template <std::ranges::bidirectional_range R, class Key, class Value>
[[nodiscard]] std::optional<RangeValue<R>> lastWhereEquals(const R& collection, Key key,
                                                           const Value& value) {
  return firstWhereEquals(collection | std::views::reverse, std::move(key), value);
}

// --- Vectors ---

// {make(0), make(1), ..., make(count - 1)}. `count` must not be negative.
template <class Make>
[[nodiscard]] auto makeArray(std::ptrdiff_t count, Make make) {
  precondition(count >= 0, "negative element count");
  std::vector<std::remove_cvref_t<std::invoke_result_t<Make&, std::ptrdiff_t>>> elements;
  elements.reserve(static_cast<std::size_t>(count));
  for (std::ptrdiff_t i = 0; i < count; ++i) elements.push_back(std::invoke(make, i));
  return elements;
}

// Inserts `element` before the first element.
template <class T, class U>
void prepend(std::vector<T>& vector, U&& element) {
  vector.insert(vector.begin(), std::forward<U>(element));
}

// Swaps two elements when the positions differ and both exist; else nothing.
template <class T>
void safeSwap(std::vector<T>& vector, std::ptrdiff_t from, std::ptrdiff_t to) {
  const auto count = static_cast<std::ptrdiff_t>(vector.size());
  if (from == to || from < 0 || to < 0 || from >= count || to >= count) return;
  using std::swap;
  swap(vector[static_cast<std::size_t>(from)], vector[static_cast<std::size_t>(to)]);
}

// The elements whose keys appear in `order` first, in that order (a key listed
// twice counts at its later position), then the rest, in their own order.
template <class T, class Key, class K = KeyResult<Key, const std::vector<T>&>>
requires Hashable<K>
[[nodiscard]] std::vector<T> sortedLike(const std::vector<T>& vector,
                                        const std::type_identity_t<std::vector<K>>& order,
                                        Key key) {
  std::unordered_map<K, std::size_t> rank;
  for (std::size_t i = 0; i < order.size(); ++i) rank[order[i]] = i;
  return detail::sortedVector(vector, [&](const T& a, const T& b) {
    const auto rankA = rank.find(std::invoke(key, a));
    if (rankA == rank.end()) return false;
    const auto rankB = rank.find(std::invoke(key, b));
    if (rankB == rank.end()) return true;
    return rankA->second < rankB->second;
  });
}

// Removes every element equal to `value`, keeping the order of the rest.
// `value` may be an element of `vector` itself.
template <class T>
std::vector<T>& removeAll(std::vector<T>& vector, const T& value) {
  // Copied first: erasing moves elements over the one `value` may refer to.
  const T removed = value;
  std::erase(vector, removed);
  return vector;
}

// Removes every element that `values` contains; an empty `values` changes nothing.
template <class T>
std::vector<T>& removeAllOf(std::vector<T>& vector, const std::vector<T>& values) {
  std::erase_if(
      vector, [&](const T& element) { return std::ranges::find(values, element) != values.end(); });
  return vector;
}

// The first occurrence of each value, in order (linear search of those kept).
template <class T>
[[nodiscard]] std::vector<T> withoutDuplicates(const std::vector<T>& vector) {
  std::vector<T> kept;
  for (const T& element : vector) {
    if (std::ranges::find(kept, element) == kept.end()) kept.push_back(element);
  }
  return kept;
}

// As withoutDuplicates, in place.
template <class T>
std::vector<T>& removeDuplicates(std::vector<T>& vector) {
  vector = withoutDuplicates(vector);
  return vector;
}

}  // namespace ext
