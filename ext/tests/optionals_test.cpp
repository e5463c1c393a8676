#include "ext/optionals.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

enum class Level : int { low = 1, high = 2 };

// A raw-representable type whose raw values are texts.
struct Fruit {
  std::string name;
  [[nodiscard]] const std::string& rawValue() const { return name; }
};

struct Failure {
  int code;
};

TEST(OptionalDefaults, UnwrappedOrAndOrThrow) {
  EXPECT_EQ(ext::unwrappedOr(std::optional<int>{4}, 7), 4);
  EXPECT_EQ(ext::unwrappedOr(std::optional<int>{}, 7), 7);
  EXPECT_EQ(ext::unwrappedOrThrow(std::optional<int>{4}, Failure{1}), 4);
  try {
    (void)ext::unwrappedOrThrow(std::optional<int>{}, Failure{42});
    FAIL() << "expected the given error";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.code, 42);
  }
}

TEST(OptionalDefaults, RunCallsOnlyWithAValue) {
  int calls = 0;
  ext::run(std::optional<int>{}, [&](int) { ++calls; });
  ext::run(std::optional<int>{5}, [&](int v) { calls += v; });
  EXPECT_EQ(calls, 5);
}

TEST(OptionalAssignment, AssignIfPresentNeverClears) {
  std::optional<int> target{1};
  ext::assignIfPresent(target, std::optional<int>{});
  EXPECT_EQ(target, 1);
  ext::assignIfPresent(target, std::optional<int>{2});
  EXPECT_EQ(target, 2);
}

TEST(OptionalAssignment, AssignIfAbsentEvaluatesOnlyWhenEmpty) {
  int calls = 0;
  auto make = [&]() -> std::optional<int> {
    ++calls;
    return 9;
  };
  std::optional<int> present{1};
  ext::assignIfAbsent(present, make);
  EXPECT_EQ(present, 1);
  EXPECT_EQ(calls, 0);
  std::optional<int> absent;
  ext::assignIfAbsent(absent, make);
  EXPECT_EQ(absent, 9);
  EXPECT_EQ(calls, 1);
  std::optional<int> stillAbsent;
  ext::assignIfAbsent(stillAbsent, [] { return std::optional<int>{}; });
  EXPECT_EQ(stillAbsent, std::nullopt);
}

TEST(OptionalEmptiness, IsNilOrEmptyAndNonEmpty) {
  EXPECT_TRUE(ext::isNilOrEmpty(std::optional<std::string>{}));
  EXPECT_TRUE(ext::isNilOrEmpty(std::optional<std::string>{""}));
  EXPECT_FALSE(ext::isNilOrEmpty(std::optional<std::string>{"a"}));
  EXPECT_EQ(ext::nonEmpty(std::optional<std::vector<int>>{std::vector<int>{}}), std::nullopt);
  EXPECT_EQ(ext::nonEmpty(std::optional<std::vector<int>>{{1}}), std::vector<int>{1});
}

TEST(OptionalRawValues, TextRawValues) {
  const std::optional<Fruit> apple{Fruit{"apple"}};
  const std::optional<Fruit> noFruit;
  const std::optional<std::string> appleText{"apple"};
  const std::optional<std::string> noText;
  EXPECT_TRUE(ext::rawValueEquals(apple, appleText));
  EXPECT_TRUE(ext::rawValueEquals(appleText, apple));
  EXPECT_TRUE(ext::rawValueEquals(noFruit, noText));
  EXPECT_FALSE(ext::rawValueEquals(apple, noText));
  EXPECT_TRUE(ext::rawValueDiffers(apple, noText));
  EXPECT_FALSE(ext::rawValueDiffers(noText, noFruit));
  EXPECT_TRUE(ext::rawValueDiffers(apple, std::optional<std::string>{"pear"}));
}

TEST(OptionalRawValues, EnumerationsCompareByTheirNumber) {
  EXPECT_TRUE(ext::rawValueEquals(std::optional{Level::high}, std::optional{2}));
  EXPECT_FALSE(ext::rawValueEquals(std::optional{1}, std::optional{Level::high}));
}

class Interpolation : public ::testing::Test {
 protected:
  std::string text_ = "n=";
  int placeholderCalls_ = 0;
  std::string placeholder() {
    ++placeholderCalls_;
    return "-";
  }
};

TEST_F(Interpolation, AbsentAppendsThePlaceholder) {
  ext::appendInterpolation(text_, std::optional<int>{}, [&] { return placeholder(); });
  EXPECT_EQ(text_, "n=-");
}

TEST_F(Interpolation, PredicateDecidesBetweenValueAndPlaceholder) {
  auto above10 = [](int v) { return v > 10; };
  ext::appendInterpolation(
      text_, std::optional<int>{5}, [&] { return placeholder(); }, above10);
  ext::appendInterpolation(
      text_, std::optional<int>{15}, [&] { return placeholder(); }, above10);
  EXPECT_EQ(text_, "n=-15");
  EXPECT_EQ(placeholderCalls_, 1);
}

TEST_F(Interpolation, PlaceholderIsEvaluatedOnlyWhenAppended) {
  ext::appendInterpolation(text_, std::optional<std::string>{"x"}, [&] { return placeholder(); });
  EXPECT_EQ(placeholderCalls_, 0);
  EXPECT_EQ(text_, "n=x");
}

TEST_F(Interpolation, FailingPredicateAppendsNothing) {
  EXPECT_THROW(ext::appendInterpolation(text_, std::optional<int>{1}, "-",
                                        [](int) -> bool { throw std::runtime_error("p"); }),
               std::runtime_error);
  EXPECT_EQ(text_, "n=");
}

TEST(InterpolatedValues, ReadAsPlainInterpolation) {
  EXPECT_EQ(ext::interpolated(1.5), "1.5");
  EXPECT_EQ(ext::interpolated(5.0), "5.0");
  EXPECT_EQ(ext::interpolated(true), "true");
  EXPECT_EQ(ext::interpolated(-3), "-3");
  EXPECT_EQ(ext::interpolated(std::string("t")), "t");
  EXPECT_EQ(ext::interpolated('x'), "x");
  EXPECT_EQ(ext::interpolated(U'\u00DF'), "\u00DF");
  EXPECT_EQ(ext::interpolated(*ext::Character::make("e\u0301")), "e\u0301");
}

}  // namespace
