#include "ext/collection_editing.h"

#include <cmath>
#include <deque>
#include <limits>
#include <list>
#include <ranges>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;

struct Person {
  std::string name;
  int age = 0;
  friend bool operator==(const Person&, const Person&) = default;
};

bool below3(int value) { return value < 3; }

// A predicate giving `answer` until its call numbered `failOn`, which throws.
auto failOnCall(int* calls, int failOn, bool answer) {
  return [calls, failOn, answer](int) {
    if (++*calls == failOn) throw std::runtime_error("predicate");
    return answer;
  };
}

class InPlaceSort : public ::testing::Test {
 protected:
  std::vector<Person> people_{{"Cy", 20}, {"Ann", 40}, {"Bob", 30}, {"Ann", 35}};
};

TEST_F(InPlaceSort, ByOneTwoAndThreeKeys) {
  ext::sortBy(people_, &Person::age);
  EXPECT_THAT(people_, ElementsAre(Person{"Cy", 20}, Person{"Bob", 30}, Person{"Ann", 35},
                                   Person{"Ann", 40}));
  ext::sortBy(people_, &Person::name, &Person::age);
  EXPECT_THAT(people_, ElementsAre(Person{"Ann", 35}, Person{"Ann", 40}, Person{"Bob", 30},
                                   Person{"Cy", 20}));
  ext::sortBy(
      people_, [](const Person& p) { return p.name.size(); }, &Person::name,
      [](const Person& p) { return -p.age; });
  EXPECT_THAT(people_, ElementsAre(Person{"Cy", 20}, Person{"Ann", 40}, Person{"Ann", 35},
                                   Person{"Bob", 30}));
}

TEST_F(InPlaceSort, WithAComparisonOnADeque) {
  std::deque<Person> people(people_.begin(), people_.end());
  ext::sortWith(people, &Person::age, std::greater{});
  EXPECT_EQ(people.front(), (Person{"Ann", 40}));
  EXPECT_EQ(people.back(), (Person{"Cy", 20}));
}

TEST_F(InPlaceSort, ThrowingKeyLeavesTheOrderUnchanged) {
  const auto before = people_;
  int calls = 0;
  auto failing = [&](const Person& p) {
    if (++calls == 4) throw std::runtime_error("key");
    return p.age;
  };
  EXPECT_THROW(ext::sortBy(people_, failing), std::runtime_error);
  EXPECT_EQ(people_, before);
}

TEST(InPlaceSortRobustness, NanKeysKeepEveryElement) {
  std::vector<double> values{2, std::nan(""), 1, std::nan(""), 0, 3, std::nan(""), 5, 4};
  ext::sortBy(values, [](double v) { return v; });
  EXPECT_EQ(values.size(), 9u);
  EXPECT_EQ(std::ranges::count_if(values, [](double v) { return std::isnan(v); }), 3);
}

TEST(AssignToAll, SetsThePropertyOfEveryElement) {
  std::vector<Person> people{{"Ann", 1}, {"Bob", 2}};
  ext::assignToAll(people, 7, &Person::age);
  EXPECT_THAT(people, ElementsAre(Person{"Ann", 7}, Person{"Bob", 7}));
  ext::assignToAll(people, std::string("Z"), [](Person& p) -> std::string& { return p.name; });
  EXPECT_EQ(people[1].name, "Z");
  std::vector<Person> none;
  ext::assignToAll(none, 7, &Person::age);
  EXPECT_TRUE(none.empty());
}

TEST(MakeRepeating, EvaluatesOncePerElement) {
  int calls = 0;
  auto next = [&] { return ++calls; };
  EXPECT_THAT(ext::makeRepeating<std::vector<int>>(next, 3), ElementsAre(1, 2, 3));
  EXPECT_EQ(calls, 3);
  EXPECT_TRUE(ext::makeRepeating<std::list<int>>(next, 0).empty());
  EXPECT_TRUE(
      ext::makeRepeating<std::string>([&] { return static_cast<char>(++calls); }, -1).empty());
  EXPECT_EQ(calls, 3);
}

TEST(MakeRepeating, FailingExpressionPassesOn) {
  int calls = 0;
  EXPECT_THROW((void)ext::makeRepeating<std::vector<int>>(
                   [&]() -> int {
                     if (++calls == 2) throw std::runtime_error("expression");
                     return 0;
                   },
                   5),
               std::runtime_error);
  EXPECT_EQ(calls, 2);
}

class Rotation : public ::testing::TestWithParam<std::pair<int, std::vector<int>>> {};

TEST_P(Rotation, WrapsAroundInBothDirections) {
  const auto& [places, expected] = GetParam();
  EXPECT_EQ(ext::rotated(std::vector{1, 2, 3, 4}, places), expected);
  std::list<int> list{1, 2, 3, 4};
  EXPECT_THAT(ext::rotate(list, places), ::testing::ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Rotation,
    ::testing::Values(std::pair{0, std::vector{1, 2, 3, 4}}, std::pair{4, std::vector{1, 2, 3, 4}},
                      std::pair{1, std::vector{4, 1, 2, 3}}, std::pair{3, std::vector{2, 3, 4, 1}},
                      std::pair{-1, std::vector{2, 3, 4, 1}}, std::pair{5, std::vector{4, 1, 2, 3}},
                      std::pair{-5, std::vector{2, 3, 4, 1}},
                      std::pair{-8, std::vector{1, 2, 3, 4}}));

TEST(RotationEdges, EmptyByZeroIsUnchanged) {
  std::vector<int> empty;
  EXPECT_TRUE(ext::rotate(empty, 0).empty());
}

TEST(RotationDeathTest, EmptyByNonZeroIsAProgrammingError) {
  std::vector<int> empty;
  EXPECT_DEATH(ext::rotate(empty, 1), "rotating an empty collection");
}

TEST(Removal, RemoveFirstWhere) {
  std::vector<int> numbers{1, 4, 2, 6};
  EXPECT_EQ(ext::removeFirstWhere(numbers, [](int v) { return v % 2 == 0; }), 4);
  EXPECT_THAT(numbers, ElementsAre(1, 2, 6));
  EXPECT_EQ(ext::removeFirstWhere(numbers, [](int v) { return v > 10; }), std::nullopt);
  EXPECT_THAT(numbers, ElementsAre(1, 2, 6));
}

TEST(Removal, RemoveRandomElement) {
  std::list<std::string> one{"only"};
  EXPECT_EQ(ext::removeRandomElement(one), "only");
  EXPECT_TRUE(one.empty());
  EXPECT_EQ(ext::removeRandomElement(one), std::nullopt);
  std::vector<int> numbers{1, 2, 3};
  const auto removed = ext::removeRandomElement(numbers);
  ASSERT_TRUE(removed.has_value());
  numbers.push_back(*removed);
  EXPECT_THAT(numbers, ::testing::UnorderedElementsAre(1, 2, 3));
}

TEST(Removal, FailingPredicateChangesNothing) {
  std::vector<int> numbers{1, 2, 3, 4};
  int calls = 0;
  EXPECT_THROW((void)ext::removeFirstWhere(numbers, failOnCall(&calls, 3, false)),
               std::runtime_error);
  calls = 0;
  EXPECT_THROW(ext::keepWhile(numbers, failOnCall(&calls, 3, true)), std::runtime_error);
  EXPECT_THAT(numbers, ElementsAre(1, 2, 3, 4));
}

TEST(LeadingRuns, KeepTakeAndSkip) {
  std::vector<int> numbers{1, 2, 3, 1};
  EXPECT_THAT(ext::takeWhile(numbers, below3), ElementsAre(1, 2));
  EXPECT_THAT(ext::skipWhile(numbers, below3), ElementsAre(3, 1));
  EXPECT_THAT(ext::keepWhile(numbers, below3), ElementsAre(1, 2));
  EXPECT_THAT(numbers, ElementsAre(1, 2));
  EXPECT_THAT(ext::keepWhile(numbers, below3), ElementsAre(1, 2));
  EXPECT_TRUE(ext::skipWhile(numbers, below3).empty());
}

TEST(LeadingRuns, EmptyGivesEmpty) {
  std::vector<int> empty;
  EXPECT_TRUE(ext::takeWhile(empty, below3).empty());
  EXPECT_TRUE(ext::skipWhile(empty, below3).empty());
  EXPECT_TRUE(ext::keepWhile(empty, below3).empty());
}

TEST(RemoveDuplicatesByKey, KeepsTheFirstOfEachKey) {
  std::vector<Person> people{{"Ann", 30}, {"Bob", 30}, {"Cy", 25}};
  ext::removeDuplicates(people, &Person::age);
  EXPECT_THAT(people, ElementsAre(Person{"Ann", 30}, Person{"Cy", 25}));
  // A key without std::hash takes the linear path, here on a list.
  struct Age {
    int value;
    bool operator==(const Age&) const = default;
  };
  std::list<Person> list{{"Ann", 30}, {"Bob", 30}, {"Cy", 25}, {"Di", 25}};
  ext::removeDuplicates(list, [](const Person& p) { return Age{p.age}; });
  EXPECT_THAT(list, ElementsAre(Person{"Ann", 30}, Person{"Cy", 25}));
}

// Erasing the duplicates one at a time would move the rest each time.
TEST(RemoveDuplicatesByKey, MovesEachKeptElementAtMostOnce) {
  struct Counted {
    int value;
    int* moves;
    Counted(int v, int* m) : value(v), moves(m) {}
    Counted(const Counted&) = default;
    Counted& operator=(Counted&& other) noexcept {
      value = other.value;
      ++*moves;
      return *this;
    }
  };
  int moves = 0;
  std::vector<Counted> numbers;
  for (int i = 0; i < 2000; ++i) numbers.emplace_back(i, &moves);
  ext::removeDuplicates(numbers, [](const Counted& c) { return c.value / 2; });
  ASSERT_EQ(numbers.size(), 1000U);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(numbers[i].value, 2 * i);
  EXPECT_LE(moves, 2000);
}

TEST(RemoveDuplicatesByKey, ThrowingKeyChangesNothing) {
  std::vector<int> numbers{1, 1, 2, 3};
  int calls = 0;
  EXPECT_THROW(ext::removeDuplicates(numbers,
                                     [&](int v) {
                                       if (++calls == 4) throw std::runtime_error("key");
                                       return v;
                                     }),
               std::runtime_error);
  EXPECT_THAT(numbers, ElementsAre(1, 1, 2, 3));
}

TEST(Offsets, ReadAndWriteOneElement) {
  std::vector<int> numbers{1, 2, 3};
  EXPECT_EQ(ext::elementAtOffset(numbers, 0), 1);
  ext::elementAtOffset(numbers, 1) = 9;
  EXPECT_THAT(numbers, ElementsAre(1, 9, 3));
}

TEST(Offsets, RangesReadAndReplace) {
  std::vector<int> numbers{1, 2, 3, 4};
  EXPECT_THAT(ext::sliceAtOffsets(numbers, ext::offsets(1, 3)), ElementsAre(2, 3));
  EXPECT_THAT(ext::sliceAtOffsets(numbers, ext::offsetsThrough(1, 3)), ElementsAre(2, 3, 4));
  EXPECT_THAT(ext::sliceAtOffsets(numbers, ext::offsetsFrom(2)), ElementsAre(3, 4));
  EXPECT_THAT(ext::sliceAtOffsets(numbers, ext::offsetsUpTo(3)), ElementsAre(1, 2, 3));
  EXPECT_THAT(ext::sliceAtOffsets(numbers, ext::offsetsUpThrough(0)), ElementsAre(1));
  EXPECT_TRUE(ext::sliceAtOffsets(numbers, ext::offsets(4, 4)).empty());
  ext::replaceOffsets(numbers, ext::offsets(1, 3), {7});
  EXPECT_THAT(numbers, ElementsAre(1, 7, 4));
  std::string text = "hello";
  ext::replaceOffsets(text, ext::offsetsFrom(5), std::string(" world"));
  EXPECT_EQ(text, "hello world");
}

// An edit given the container itself reads it as it was before the edit.
TEST(Offsets, ReplacementThatIsTheContainerItself) {
  std::vector<int> numbers{1, 2, 3, 4};
  ext::replaceOffsets(numbers, ext::offsets(1, 2), numbers);
  EXPECT_THAT(numbers, ElementsAre(1, 1, 2, 3, 4, 3, 4));
  std::deque<int> many(1000, 7);  // enough to move the deque's blocks
  ext::appendContentsIfNonNil(many, std::optional(std::views::all(many)));
  EXPECT_EQ(many, std::deque<int>(2000, 7));
}

TEST(OffsetsDeathTest, BoundsOutsideTheCollectionAreProgrammingErrors) {
  std::vector<int> numbers{1, 2, 3};
  EXPECT_DEATH((void)ext::elementAtOffset(numbers, 3), "offset outside");
  EXPECT_DEATH((void)ext::sliceAtOffsets(numbers, ext::offsets(2, 1)), "offset range");
  EXPECT_DEATH((void)ext::sliceAtOffsets(numbers, ext::offsetsThrough(0, 3)), "past the end");
  EXPECT_DEATH((void)ext::sliceAtOffsets(numbers, ext::offsetsThrough(1, 0)), "lower <= upper");
  EXPECT_DEATH(ext::replaceOffsets(numbers, ext::offsetsThrough(2, 1), {7}), "lower <= upper");
  EXPECT_THAT(ext::sliceAtOffsets(numbers, ext::offsetsThrough(1, 1)), ElementsAre(2));
  EXPECT_DEATH(ext::replaceOffsets(numbers, ext::offsetsFrom(4), {1}), "offset range");
}

TEST(OptionalAppends, AppendOnlyWhatIsThere) {
  std::vector<int> numbers{1};
  ext::appendIfNonNil(numbers, std::optional<int>{});
  EXPECT_EQ(numbers.size(), 1u);
  ext::appendIfNonNil(numbers, std::optional<int>{2});
  ext::appendContentsIfNonNil(numbers, std::optional<std::vector<int>>{});
  ext::appendContentsIfNonNil(numbers, std::optional<std::list<int>>{{3, 4}});
  EXPECT_THAT(numbers, ElementsAre(1, 2, 3, 4));
}

}  // namespace
