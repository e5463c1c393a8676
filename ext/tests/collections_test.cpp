#include "ext/collections.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <limits>
#include <list>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;
using ::testing::Optional;
using Pair = std::pair<int, int>;

struct Item {
  std::string name;
  int rank = 0;
  friend bool operator==(const Item&, const Item&) = default;
};

TEST(CollectionAccess, SafeGivesNothingOutsideTheIndices) {
  const std::vector<int> numbers{10, 20};
  EXPECT_EQ(ext::safe(numbers, 1), 20);
  EXPECT_EQ(ext::safe(numbers, 2), std::nullopt);
  EXPECT_EQ(ext::safe(numbers, -1), std::nullopt);
  EXPECT_EQ(ext::safe(std::vector<int>{}, 0), std::nullopt);
  EXPECT_EQ(ext::fullRange(numbers), (ext::IndexRange{0, 2}));
}

TEST(CollectionAccess, OffsetCountsFromEitherEnd) {
  std::list<int> numbers{1, 2, 3};
  EXPECT_EQ(ext::atOffset(numbers, 0), 1);
  EXPECT_EQ(ext::atOffset(numbers, -1), 3);
  EXPECT_EQ(ext::atOffset(numbers, -3), 1);
  ext::atOffset(numbers, 1) = 9;
  EXPECT_THAT(numbers, ElementsAre(1, 9, 3));
}

TEST(CollectionAccessDeathTest, OffsetOutsideIsAProgrammingError) {
  const std::vector<int> numbers{1, 2, 3};
  EXPECT_DEATH((void)ext::atOffset(numbers, 3), "offset outside");
  EXPECT_DEATH((void)ext::atOffset(numbers, -4), "offset outside");
}

TEST(CollectionAccess, LastWhereEqualsSearchesFromTheEnd) {
  const std::vector<Item> items{{"a", 1}, {"b", 2}, {"c", 1}};
  EXPECT_EQ(ext::lastWhereEquals(items, &Item::rank, 1)->name, "c");
  EXPECT_EQ(ext::lastWhereEquals(items, &Item::rank, 5), std::nullopt);
}

TEST(CollectionIndices, WhereIsAbsentButOfIsEmpty) {
  const std::vector<int> numbers{1, 2, 3, 2};
  EXPECT_EQ(ext::indicesWhere(numbers, [](int v) { return v > 5; }), std::nullopt);
  EXPECT_TRUE(ext::indicesOf(numbers, 5).empty());
  EXPECT_THAT(ext::indicesWhere(numbers, [](int v) { return v == 2; }),
              Optional(ElementsAre(1u, 3u)));
  EXPECT_THAT(ext::indicesOf(numbers, 2), ElementsAre(1u, 3u));
}

TEST(CollectionIndices, FailingPredicateEndsTheSearch) {
  int calls = 0;
  auto failing = [&](int) -> bool {
    if (++calls == 2) throw std::runtime_error("predicate");
    return true;
  };
  EXPECT_THROW((void)ext::indicesWhere(std::vector{1, 2, 3}, failing), std::runtime_error);
  EXPECT_EQ(calls, 2);
}

TEST(CollectionChunks, GroupLeavesTheRemainderLast) {
  const std::vector<int> five{1, 2, 3, 4, 5};
  EXPECT_THAT(ext::group(five, 2),
              Optional(ElementsAre(ElementsAre(1, 2), ElementsAre(3, 4), ElementsAre(5))));
  EXPECT_THAT(ext::group(five, 5), Optional(ElementsAre(ElementsAre(1, 2, 3, 4, 5))));
  EXPECT_THAT(ext::group(five, 9), Optional(ElementsAre(ElementsAre(1, 2, 3, 4, 5))));
  EXPECT_EQ(ext::group(five, 0), std::nullopt);
  EXPECT_EQ(ext::group(five, -1), std::nullopt);
  EXPECT_EQ(ext::group(std::vector<int>{}, 2), std::nullopt);
}

TEST(CollectionChunks, ForEachSliceWalksChunks) {
  std::vector<std::vector<int>> slices;
  auto collect = [&](std::vector<int> slice) { slices.push_back(std::move(slice)); };
  ext::forEachSlice(std::list{1, 2, 3}, 2, collect);
  EXPECT_THAT(slices, ElementsAre(ElementsAre(1, 2), ElementsAre(3)));
  slices.clear();
  ext::forEachSlice(std::vector{1, 2, 3}, 0, collect);
  ext::forEachSlice(std::vector<int>{}, 2, collect);
  EXPECT_TRUE(slices.empty());
}

TEST(CollectionChunks, ForEachSliceStopsAtAFailingBody) {
  int calls = 0;
  EXPECT_THROW(ext::forEachSlice(std::vector{1, 2, 3, 4}, 1,
                                 [&](const std::vector<int>&) {
                                   if (++calls == 2) throw std::runtime_error("body");
                                 }),
               std::runtime_error);
  EXPECT_EQ(calls, 2);
}

template <class Pairs>
std::vector<Pair> collect(Pairs& pairs) {
  std::vector<Pair> collected;
  for (const auto& pair : pairs) collected.push_back(pair);
  return collected;
}

TEST(CollectionAdjacentPairs, YieldsCountMinusOnePairsOnce) {
  const std::vector<int> numbers{1, 2, 3};
  auto pairs = ext::adjacentPairs(numbers);
  EXPECT_THAT(collect(pairs), ElementsAre(Pair{1, 2}, Pair{2, 3}));
  EXPECT_TRUE(collect(pairs).empty());
}

TEST(CollectionAdjacentPairs, ShortCollectionsYieldNothing) {
  const std::vector<int> empty;
  const std::list<int> one{1};
  auto fromEmpty = ext::adjacentPairs(empty);
  auto fromOne = ext::adjacentPairs(one);
  EXPECT_TRUE(collect(fromEmpty).empty());
  EXPECT_TRUE(collect(fromOne).empty());
}

TEST(CollectionAdjacentPairs, CopiesShareThePositions) {
  const std::vector<int> numbers{1, 2, 3, 4};
  auto pairs = ext::adjacentPairs(numbers);
  auto copy = pairs;
  auto it = pairs.begin();
  ++it;
  EXPECT_THAT(collect(copy), ElementsAre(Pair{2, 3}, Pair{3, 4}));
  static_assert(std::ranges::input_range<decltype(pairs)>);
}

// Plain counters on purpose: an index handed out twice, or a read not ordered
// after the workers' writes, is a data race that scripts/tsan reports.
TEST(CollectionParallel, VisitsEveryElementExactlyOnce) {
  std::vector<int> visits(1000, 0);
  std::vector<std::size_t> indices(visits.size());
  std::iota(indices.begin(), indices.end(), std::size_t{0});
  ext::forEachInParallel(indices, [&](std::size_t i) {
    std::this_thread::yield();  // lets every worker take a share
    visits[i]++;
  });
  EXPECT_TRUE(std::ranges::all_of(visits, [](int count) { return count == 1; }));
}

TEST(CollectionParallel, WorksOnListsAndEmptyCollections) {
  std::list<int> numbers{1, 2, 3, 4};
  std::atomic<int> total{0};
  ext::forEachInParallel(numbers, [&](int v) { total += v; });
  EXPECT_EQ(total, 10);
  ext::forEachInParallel(std::vector<int>{}, [&](int) { total = -1; });
  EXPECT_EQ(total, 10);
}

std::size_t threadsOfThisProcess() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

// The caller is one of the workers, and there are no more workers than
// elements: one element starts no thread. A spare thread would leave the
// results alone, so it is counted while the bodies run, many times over as it
// may take its first index late. Each round counts from its own start: a
// thread joined in the round before can stay listed a moment after the join.
TEST(CollectionParallel, StartsOneThreadFewerThanElements) {
  for (const std::size_t elements : {1u, 2u}) {
    std::atomic<std::size_t> most{0};
    for (int round = 0; round < 50; ++round) {
      const std::size_t before = threadsOfThisProcess();
      ext::forEachInParallel(std::vector<int>(elements), [&](int) {
        const std::size_t now = threadsOfThisProcess();
        const std::size_t added = now > before ? now - before : 0;
        std::size_t seen = most.load();
        while (added > seen && !most.compare_exchange_weak(seen, added)) {
        }
      });
    }
    EXPECT_LE(most.load(), elements - 1) << elements << " elements";
  }
}

TEST(CollectionParallel, RethrowsTheBodysExceptionAfterEveryCallReturned) {
  std::atomic<int> started{0};
  std::atomic<int> finished{0};
  std::vector<int> numbers(200, 0);
  try {
    ext::forEachInParallel(numbers, [&](int) {
      ++started;
      std::this_thread::yield();
      ++finished;
      throw std::runtime_error("body");
    });
    FAIL() << "expected the body's exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "body");
  }
  EXPECT_GE(started, 1);
  EXPECT_EQ(started, finished);
  // Once a body has thrown no index is started: a worker whose own body threw
  // takes no other, so each of them (the caller is one) ran at most once.
  EXPECT_LE(started, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
}

TEST(CollectionAverage, IntegersGiveDoublesAndFloatsTheirType) {
  EXPECT_EQ(ext::average(std::vector<int>{}), 0.0);
  EXPECT_EQ(ext::average(std::vector{1, 2}), 1.5);
  EXPECT_EQ(ext::average(std::vector<std::uint8_t>{200, 50}), 125.0);
  EXPECT_EQ(ext::average(std::vector<float>{}), 0.0f);
  EXPECT_EQ(ext::average(std::vector{1.0f, 2.0f}), 1.5f);
  static_assert(std::same_as<decltype(ext::average(std::vector<float>{})), float>);
}

TEST(CollectionAverageDeathTest, OverflowingSumIsAProgrammingError) {
  const std::vector<std::int8_t> numbers{100, 100};
  EXPECT_DEATH((void)ext::average(numbers), "overflow");
}

TEST(ArrayBuilding, MakeArrayCallsOncePerPositionInOrder) {
  std::vector<std::ptrdiff_t> calls;
  const auto squares = ext::makeArray(4, [&](std::ptrdiff_t i) {
    calls.push_back(i);
    return i * i;
  });
  EXPECT_THAT(squares, ElementsAre(0, 1, 4, 9));
  EXPECT_THAT(calls, ElementsAre(0, 1, 2, 3));
  EXPECT_TRUE(ext::makeArray(0, [](std::ptrdiff_t) { return 1; }).empty());
  EXPECT_THROW((void)ext::makeArray(3,
                                    [](std::ptrdiff_t i) -> int {
                                      if (i == 1) throw std::runtime_error("make");
                                      return 0;
                                    }),
               std::runtime_error);
}

TEST(ArrayEditing, PrependAndSafeSwap) {
  std::vector<int> numbers{2, 3};
  ext::prepend(numbers, 1);
  EXPECT_THAT(numbers, ElementsAre(1, 2, 3));
  ext::safeSwap(numbers, 0, 2);
  EXPECT_THAT(numbers, ElementsAre(3, 2, 1));
  ext::safeSwap(numbers, 1, 1);
  ext::safeSwap(numbers, 0, 3);
  ext::safeSwap(numbers, -1, 0);
  EXPECT_THAT(numbers, ElementsAre(3, 2, 1));
}

TEST(ArrayEditing, RemoveAllOfOneOrMany) {
  std::vector<int> numbers{1, 2, 1, 3, 2};
  EXPECT_THAT(ext::removeAll(numbers, 1), ElementsAre(2, 3, 2));
  EXPECT_THAT(ext::removeAllOf(numbers, {}), ElementsAre(2, 3, 2));
  EXPECT_THAT(ext::removeAllOf(numbers, {2, 9}), ElementsAre(3));
}

// An element of the vector itself, passed by reference, counts as it was
// before the edit moved anything over it.
TEST(ArrayEditing, ElementsOfTheVectorItselfAreTakenAsTheyWere) {
  std::vector<int> numbers{1, 2, 1, 3, 1};
  EXPECT_THAT(ext::removeAll(numbers, numbers[0]), ElementsAre(2, 3));
  std::vector<std::string> words{"x", "y", "x"};
  EXPECT_THAT(ext::removeAll(words, words[0]), ElementsAre("y"));
  words = {"x", "y"};
  ext::prepend(words, words[1]);
  EXPECT_THAT(words, ElementsAre("y", "x", "y"));
  EXPECT_THAT(ext::removeAllOf(words, words), ElementsAre());
}

TEST(ArrayEditing, DuplicatesKeepTheFirstOccurrence) {
  std::vector<int> numbers{3, 1, 3, 2, 1};
  EXPECT_THAT(ext::withoutDuplicates(numbers), ElementsAre(3, 1, 2));
  EXPECT_THAT(numbers, ElementsAre(3, 1, 3, 2, 1));
  EXPECT_THAT(ext::removeDuplicates(numbers), ElementsAre(3, 1, 2));
  EXPECT_THAT(numbers, ElementsAre(3, 1, 2));
}

TEST(ArrayEditing, WithoutDuplicatesByKey) {
  const std::vector<Item> items{{"a", 1}, {"b", 2}, {"c", 1}};
  EXPECT_THAT(ext::withoutDuplicates(items, &Item::rank), ElementsAre(Item{"a", 1}, Item{"b", 2}));
}

class ArraySortedLike : public ::testing::Test {
 protected:
  std::vector<Item> items_{{"x", 1}, {"a", 2}, {"b", 3}, {"y", 4}, {"a", 5}};
};

TEST_F(ArraySortedLike, ListedKeysFirstThenTheRestInOrder) {
  const auto sorted = ext::sortedLike(items_, {"b", "a"}, &Item::name);
  EXPECT_THAT(sorted,
              ElementsAre(Item{"b", 3}, Item{"a", 2}, Item{"a", 5}, Item{"x", 1}, Item{"y", 4}));
}

TEST_F(ArraySortedLike, KeyListedTwiceCountsAtItsLaterPosition) {
  const auto sorted = ext::sortedLike(items_, std::vector<std::string>{"a", "b", "a"}, &Item::name);
  EXPECT_THAT(sorted,
              ElementsAre(Item{"b", 3}, Item{"a", 2}, Item{"a", 5}, Item{"x", 1}, Item{"y", 4}));
}

}  // namespace
