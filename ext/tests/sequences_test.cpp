#include "ext/sequences.h"

#include <cmath>
#include <limits>
#include <list>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

bool isEven(int value) { return value % 2 == 0; }

// A predicate that counts its calls and fails on the call numbered `failOn`.
struct FailingPredicate {
  int* calls;
  int failOn;
  bool operator()(int) const {
    if (++*calls == failOn) throw std::runtime_error("predicate failed");
    return true;
  }
};

struct Person {
  std::string name;
  int age = 0;
  friend bool operator==(const Person&, const Person&) = default;
};

const std::vector<int> kEmpty;

TEST(SequenceEmpty, EveryAlgorithmHasItsNeutralAnswer) {
  EXPECT_TRUE(ext::all(kEmpty, isEven));
  EXPECT_TRUE(ext::none(kEmpty, isEven));
  EXPECT_FALSE(ext::any(kEmpty, isEven));
  EXPECT_EQ(ext::countWhere(kEmpty, isEven), 0u);
  EXPECT_EQ(ext::single(kEmpty, isEven), std::nullopt);
  EXPECT_TRUE(ext::accumulated(kEmpty, 0, std::plus{}).empty());
  const auto division = ext::divided(kEmpty, isEven);
  EXPECT_TRUE(division.matching.empty());
  EXPECT_TRUE(division.nonMatching.empty());
  EXPECT_EQ(ext::sum(kEmpty), 0);
  EXPECT_EQ(ext::product(kEmpty), 1);
  EXPECT_TRUE(ext::duplicates(kEmpty).empty());
  EXPECT_FALSE(ext::containsDuplicates(kEmpty));
}

TEST(SequenceQuantifiers, StopAtTheFirstDecidingElement) {
  int calls = 0;
  auto counting = [&](int value) {
    ++calls;
    return value > 1;
  };
  EXPECT_FALSE(ext::all(std::vector{1, 2, 3}, counting));
  EXPECT_EQ(calls, 1);
  calls = 0;
  EXPECT_TRUE(ext::any(std::vector{1, 2, 3}, counting));
  EXPECT_EQ(calls, 2);
  calls = 0;
  EXPECT_FALSE(ext::none(std::vector{1, 2, 3}, counting));
  EXPECT_EQ(calls, 2);
}

TEST(SequenceFailures, CountWherePassesTheFailureOnAfterThreeCalls) {
  int calls = 0;
  EXPECT_THROW((void)ext::countWhere(std::vector{1, 2, 3, 4, 5}, FailingPredicate{&calls, 3}),
               std::runtime_error);
  EXPECT_EQ(calls, 3);
}

TEST(SequenceFailures, ForEachWhereCallsNoBodyWhenThePredicateFailsLate) {
  int calls = 0;
  int bodies = 0;
  EXPECT_THROW(
      ext::forEachWhere(std::vector{1, 2, 3}, FailingPredicate{&calls, 3}, [&](int) { ++bodies; }),
      std::runtime_error);
  EXPECT_EQ(bodies, 0);
}

TEST(SequenceWalks, ForEachWhereAsksEveryElementBeforeTheFirstBody) {
  std::vector<std::string> log;
  ext::forEachWhere(
      std::vector{1, 2, 3, 4},
      [&](int value) {
        log.push_back("?" + std::to_string(value));
        return isEven(value);
      },
      [&](int value) { log.push_back("!" + std::to_string(value)); });
  EXPECT_THAT(log, ElementsAre("?1", "?2", "?3", "?4", "!2", "!4"));
}

TEST(SequenceWalks, ForEachReversedVisitsLastToFirst) {
  std::vector<int> seen;
  ext::forEachReversed(std::list{1, 2, 3}, [&](int value) { seen.push_back(value); });
  EXPECT_THAT(seen, ElementsAre(3, 2, 1));
}

TEST(SequenceMatches, SingleNeedsExactlyOneMatch) {
  EXPECT_EQ(ext::single(std::vector{1, 2, 3}, isEven), 2);
  EXPECT_EQ(ext::single(std::vector{1, 2, 3}, [](int v) { return !isEven(v); }), std::nullopt);
}

TEST(SequenceMatches, SingleStopsAtTheSecondMatch) {
  int calls = 0;
  auto odd = [&](int value) {
    ++calls;
    return !isEven(value);
  };
  EXPECT_EQ(ext::single(std::vector{1, 3, 5, 7}, odd), std::nullopt);
  EXPECT_EQ(calls, 2);
}

TEST(SequenceMatches, FirstWhereEqualsTakesMemberPointersAndFunctions) {
  const std::vector<Person> people{{"Ann", 30}, {"Bob", 25}, {"Cy", 25}};
  EXPECT_EQ(ext::firstWhereEquals(people, &Person::age, 25)->name, "Bob");
  EXPECT_EQ(ext::firstWhereEquals(
                people, [](const Person& p) { return p.name.size(); }, 2u)
                ->name,
            "Cy");
  EXPECT_EQ(ext::firstWhereEquals(people, &Person::age, 99), std::nullopt);
}

TEST(SequenceMatches, ContainsAllIgnoresOrderAndMultiplicity) {
  const std::vector<int> numbers{1, 2, 3};
  EXPECT_TRUE(ext::containsAll(numbers, kEmpty));
  EXPECT_TRUE(ext::containsAll(numbers, std::vector{3, 1}));
  EXPECT_TRUE(ext::containsAll(numbers, std::vector{3, 3}));
  EXPECT_FALSE(ext::containsAll(numbers, std::vector{4}));
  // Not hashable: the linear search gives the same answers.
  const std::vector<Person> people{{"Ann", 30}, {"Bob", 25}};
  EXPECT_TRUE(ext::containsAll(people, std::vector<Person>{{"Bob", 25}}));
  EXPECT_FALSE(ext::containsAll(people, std::vector<Person>{{"Bob", 26}}));
}

TEST(SequenceDuplicates, EachRepeatedValueOnceInAnyOrder) {
  EXPECT_THAT(ext::duplicates(std::vector{1, 2, 2, 3, 3, 3}), UnorderedElementsAre(2, 3));
  EXPECT_TRUE(ext::containsDuplicates(std::vector{1, 2, 1}));
  EXPECT_FALSE(ext::containsDuplicates(std::vector{1, 2, 3}));
}

TEST(SequenceDuplicates, WithoutDuplicatesKeepsTheFirstOfEachKey) {
  const std::vector<std::string> words{"cherry", "carrot", "banana"};
  EXPECT_THAT(ext::withoutDuplicates(words, [](const std::string& w) { return w.front(); }),
              ElementsAre("cherry", "banana"));
  // A key without std::hash takes the linear path.
  struct Letter {
    char value;
    bool operator==(const Letter&) const = default;
  };
  EXPECT_THAT(ext::withoutDuplicates(words, [](const std::string& w) { return Letter{w.front()}; }),
              ElementsAre("cherry", "banana"));
}

TEST(SequenceTransforms, AccumulatedGivesRunningValuesWithoutTheInitial) {
  EXPECT_THAT(ext::accumulated(std::vector{1, 2, 3}, 0, std::plus{}), ElementsAre(1, 3, 6));
  EXPECT_THAT(ext::accumulated(std::vector{1, 2}, std::string(">"),
                               [](std::string s, int v) { return s + std::to_string(v); }),
              ElementsAre(">1", ">12"));
}

TEST(SequenceTransforms, FilteredAndRejectAndDivided) {
  const std::vector<int> numbers{1, 2, 3, 4};
  EXPECT_THAT(ext::filtered(numbers, isEven, [](int v) { return v * 10; }), ElementsAre(20, 40));
  EXPECT_THAT(ext::reject(numbers, isEven), ElementsAre(1, 3));
  const auto division = ext::divided(numbers, isEven);
  EXPECT_THAT(division.matching, ElementsAre(2, 4));
  EXPECT_THAT(division.nonMatching, ElementsAre(1, 3));
}

TEST(SequenceTransforms, FailingTransformGivesNoPartialResult) {
  EXPECT_THROW((void)ext::filtered(std::vector{1, 2}, isEven,
                                   [](int) -> int { throw std::runtime_error("map"); }),
               std::runtime_error);
}

class SequenceSort : public ::testing::Test {
 protected:
  std::vector<Person> people_{{"Cy", 20}, {"Ann", 40}, {"Bob", 30}, {"Ann", 35}};
};

TEST_F(SequenceSort, ByNameThenAge) {
  EXPECT_THAT(
      ext::sortedBy(people_, &Person::name, &Person::age),
      ElementsAre(Person{"Ann", 35}, Person{"Ann", 40}, Person{"Bob", 30}, Person{"Cy", 20}));
}

TEST_F(SequenceSort, ThreeKeysAndTransforms) {
  std::vector<std::tuple<int, int, int>> rows{{1, 2, 3}, {1, 2, 1}, {0, 9, 9}, {1, 1, 5}};
  auto first = [](const auto& row) { return std::get<0>(row); };
  auto second = [](const auto& row) { return std::get<1>(row); };
  auto third = [](const auto& row) { return std::get<2>(row); };
  EXPECT_THAT(ext::sortedBy(rows, first, second, third),
              ElementsAre(std::tuple{0, 9, 9}, std::tuple{1, 1, 5}, std::tuple{1, 2, 1},
                          std::tuple{1, 2, 3}));
}

TEST_F(SequenceSort, WithAComparison) {
  const auto sorted = ext::sortedWith(people_, &Person::age, std::greater{});
  EXPECT_THAT(sorted, ElementsAre(Person{"Ann", 40}, Person{"Ann", 35}, Person{"Bob", 30},
                                  Person{"Cy", 20}));
}

TEST_F(SequenceSort, EqualKeysKeepTheirOrder) {
  const auto sorted = ext::sortedBy(people_, &Person::name);
  EXPECT_THAT(sorted, ElementsAre(Person{"Ann", 40}, Person{"Ann", 35}, Person{"Bob", 30},
                                  Person{"Cy", 20}));
}

TEST_F(SequenceSort, KeysAreComputedAtEveryComparison) {
  int keyCalls = 0;
  int secondKeyCalls = 0;
  auto name = [&](const Person& p) {
    ++keyCalls;
    return p.name;
  };
  auto age = [&](const Person& p) {
    ++secondKeyCalls;
    return p.age;
  };
  (void)ext::sortedBy(people_, name, age);
  // Two reads per comparison, and more comparisons than elements: no cache.
  EXPECT_GT(keyCalls, static_cast<int>(people_.size()));
  EXPECT_EQ(keyCalls % 2, 0);
  // The second key only where the first ones tie (the two "Ann").
  EXPECT_GT(secondKeyCalls, 0);
  EXPECT_LT(secondKeyCalls, keyCalls);
}

TEST_F(SequenceSort, FailingKeyEndsTheSort) {
  auto failing = [](const Person& p) -> int {
    if (p.name == "Bob") throw std::runtime_error("key");
    return p.age;
  };
  EXPECT_THROW((void)ext::sortedBy(people_, failing), std::runtime_error);
}

TEST(SequenceSortRobustness, NanKeysAndLyingComparisonsStayInBounds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> values{3, nan, 1, nan, 2, nan, 0, 5, nan, 4, 7, 6, nan, 9, 8, 11, 10};
  const auto sorted = ext::sortedBy(values, [](double v) { return v; });
  EXPECT_EQ(sorted.size(), values.size());
  EXPECT_EQ(std::ranges::count_if(sorted, [](double v) { return std::isnan(v); }), 5);

  const std::vector<int> numbers{5, 3, 9, 1, 7, 2, 8, 4, 6, 0, 11, 13, 12, 10, 15, 14, 16};
  const auto lying = ext::sortedWith(
      numbers, [](int v) { return v; }, [](int, int) { return true; });
  EXPECT_THAT(lying, ::testing::UnorderedElementsAreArray(numbers));
}

TEST(SequenceArithmetic, SumsAndProducts) {
  EXPECT_EQ(ext::sum(std::vector{1, 2, 3}), 6);
  EXPECT_EQ(ext::product(std::vector{2, 3, 4}), 24);
  EXPECT_DOUBLE_EQ(ext::sum(std::vector{0.5, 0.25}), 0.75);
  const std::vector<Person> people{{"Ann", 30}, {"Bob", 25}};
  EXPECT_EQ(ext::sumFor(people, &Person::age), 55);
  EXPECT_EQ(ext::productFor(people, [](const Person& p) { return p.age / 5; }), 30);
}

TEST(SequenceArithmeticDeathTest, IntegerOverflowIsAProgrammingError) {
  const std::vector<int> big{std::numeric_limits<int>::max(), 1};
  EXPECT_DEATH((void)ext::sum(big), "overflow");
  EXPECT_DEATH((void)ext::product(std::vector{std::numeric_limits<int>::max(), 2}), "overflow");
}

}  // namespace
