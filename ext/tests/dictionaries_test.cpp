#include "ext/dictionaries.h"

#include <cmath>
#include <limits>
#include <map>
#include <ranges>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ext::DynamicValue;
using ::testing::ElementsAre;
using ::testing::Optional;
using ::testing::UnorderedElementsAre;
using Object = DynamicValue::Object;
using Dictionary = std::unordered_map<std::string, int>;

struct Word {
  std::string text;
  char initial = 0;
  friend bool operator==(const Word&, const Word&) = default;
};

TEST(DictionaryGrouping, GroupsInSequenceOrder) {
  const std::vector<Word> words{{"ant", 'a'}, {"bee", 'b'}, {"ape", 'a'}};
  const auto groups = ext::groupedBy(words, &Word::initial);
  EXPECT_EQ(groups.size(), 2u);
  EXPECT_THAT(groups.at('a'), ElementsAre(Word{"ant", 'a'}, Word{"ape", 'a'}));
  EXPECT_TRUE(ext::groupedBy(std::vector<Word>{}, &Word::initial).empty());
}

TEST(DictionaryKeys, HasAndRemove) {
  Dictionary dictionary{{"a", 1}, {"b", 2}};
  EXPECT_FALSE(ext::hasKey(Dictionary{}, std::string("a")));
  EXPECT_TRUE(ext::hasKey(dictionary, std::string("a")));
  ext::removeAllKeys(dictionary, std::vector<std::string>{"x", "y"});
  EXPECT_EQ(dictionary.size(), 2u);
  ext::removeAllKeys(dictionary, std::vector<std::string>{"a", "a"});
  EXPECT_EQ(dictionary, (Dictionary{{"b", 2}}));
  ext::removeAllKeys(dictionary, dictionary | std::views::keys);  // its own keys
  EXPECT_TRUE(dictionary.empty());
}

TEST(DictionaryKeys, RemoveValueForRandomKey) {
  Dictionary empty;
  EXPECT_EQ(ext::removeValueForRandomKey(empty), std::nullopt);
  Dictionary one{{"a", 1}};
  EXPECT_EQ(ext::removeValueForRandomKey(one), 1);
  EXPECT_TRUE(one.empty());
  Dictionary three{{"a", 1}, {"b", 2}, {"c", 3}};
  const auto removed = ext::removeValueForRandomKey(three);
  ASSERT_TRUE(removed.has_value());
  EXPECT_EQ(three.size(), 2u);
  EXPECT_TRUE(ext::keysForValue(three, *removed).empty());
}

TEST(DictionaryKeys, PickAndKeysForValue) {
  const Dictionary dictionary{{"a", 1}, {"b", 2}, {"c", 1}};
  EXPECT_TRUE(ext::pick(dictionary, {}).empty());
  EXPECT_TRUE(ext::pick(dictionary, {"x"}).empty());
  EXPECT_EQ(ext::pick(dictionary, {"a", "x", "a"}), (Dictionary{{"a", 1}}));
  EXPECT_THAT(ext::keysForValue(dictionary, 1), UnorderedElementsAre("a", "c"));
  EXPECT_TRUE(ext::keysForValue(dictionary, 9).empty());
}

TEST(DictionaryLowercase, MovesEveryEntryToItsLowerCaseKey) {
  Dictionary dictionary{{"Name", 1}, {"AGE", 2}, {"ÉTÉ", 3}};
  ext::lowercaseAllKeys(dictionary);
  EXPECT_EQ(dictionary, (Dictionary{{"name", 1}, {"age", 2}, {"été", 3}}));
}

TEST(DictionaryLowercase, CollidingKeysKeepTheUpperCaseValue) {
  Dictionary dictionary{{"a", 1}, {"A", 2}};
  ext::lowercaseAllKeys(dictionary);
  EXPECT_EQ(dictionary, (Dictionary{{"a", 2}}));
}

TEST(DictionaryLowercase, KeysThatAreNotUtf8StayAsTheyAre) {
  Dictionary dictionary{{"AB\xff", 1}};
  ext::lowercaseAllKeys(dictionary);
  EXPECT_EQ(dictionary, (Dictionary{{"AB\xff", 1}}));
}

TEST(DictionaryMapping, MapsKeysAndValues) {
  const Dictionary dictionary{{"a", 1}, {"b", 2}};
  const auto mapped = ext::mapKeysAndValues(dictionary, [](const std::string& k, int v) {
    return std::pair{v, k + k};
  });
  EXPECT_EQ(mapped, (std::unordered_map<int, std::string>{{1, "aa"}, {2, "bb"}}));
  const auto compact = ext::compactMapKeysAndValues(
      dictionary, [](const std::string& k, int v) -> std::optional<std::pair<std::string, int>> {
        if (v == 1) return std::nullopt;
        return std::pair{k, v * 10};
      });
  EXPECT_EQ(compact, (Dictionary{{"b", 20}}));
}

TEST(DictionaryMapping, FailingTransformPassesOn) {
  const Dictionary dictionary{{"a", 1}, {"b", 2}};
  EXPECT_THROW((void)ext::mapKeysAndValues(dictionary,
                                           [](const std::string&, int) -> std::pair<int, int> {
                                             throw std::runtime_error("transform");
                                           }),
               std::runtime_error);
}

TEST(DictionaryMappingDeathTest, DuplicateNewKeysAreReported) {
  const Dictionary dictionary{{"a", 1}, {"b", 2}};
  EXPECT_DEATH((void)ext::mapKeysAndValues(dictionary,
                                           [](const std::string&, int v) {
                                             return std::pair{0, v};
                                           }),
               "same key");
}

TEST(DictionaryMerging, RightSideWinsAndSubtractionCopies) {
  Dictionary left{{"a", 1}, {"b", 2}};
  EXPECT_EQ(ext::merged(left, {{"b", 3}, {"c", 4}}), (Dictionary{{"a", 1}, {"b", 3}, {"c", 4}}));
  EXPECT_EQ(ext::removingKeys(left, std::vector<std::string>{}), left);
  EXPECT_EQ(ext::removingKeys(left, std::vector<std::string>{"a"}), (Dictionary{{"b", 2}}));
  ext::mergeInPlace(left, {{"a", 9}});
  EXPECT_EQ(left, (Dictionary{{"a", 9}, {"b", 2}}));
}

// --- JSON ---

TEST(DictionaryJson, CompactLayout) {
  EXPECT_EQ(ext::jsonString(Dictionary{{"a", 1}}, false), "{\"a\":1}");
  const std::unordered_map<std::string, DynamicValue> mixed{
      {"list", DynamicValue::Array{1, 2.5, "x/y", true, nullptr}}};
  EXPECT_EQ(ext::jsonString(mixed, false), R"({"list":[1,2.5,"x\/y",true,null]})");
  EXPECT_EQ(ext::jsonString(Dictionary{}, false), "{}");
}

TEST(DictionaryJson, PrettyLayout) {
  const std::unordered_map<std::string, DynamicValue> nested{
      {"a", Object{{"b", DynamicValue::Array{1, 2}}}}};
  EXPECT_EQ(ext::jsonString(nested, true),
            "{\n"
            "  \"a\" : {\n"
            "    \"b\" : [\n"
            "      1,\n"
            "      2\n"
            "    ]\n"
            "  }\n"
            "}");
  EXPECT_EQ(ext::jsonString(Dictionary{}, true), "{\n\n}");
  const std::unordered_map<std::string, DynamicValue> emptyArray{{"a", DynamicValue::Array{}}};
  EXPECT_EQ(ext::jsonString(emptyArray, true), "{\n  \"a\" : [\n\n  ]\n}");
}

TEST(DictionaryJson, TextIsEscaped) {
  const std::unordered_map<std::string, std::string> text{{"k\"/", "a\\b\n\t\x01 é"}};
  EXPECT_EQ(ext::jsonString(text, false), R"({"k\"\/":"a\\b\n\t\u0001 é"})");
}

TEST(DictionaryJson, ManyKeysParseBackToTheSameEntries) {
  const Dictionary dictionary{{"a", 1}, {"b", -2}, {"c", 3}, {"d", 4}};
  for (bool prettify : {false, true}) {
    const auto bytes = ext::jsonData(dictionary, prettify);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(nlohmann::json::parse(*bytes).get<Dictionary>(), dictionary);
  }
}

TEST(DictionaryJson, UnwritableDictionariesGiveNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(ext::jsonString(std::unordered_map<std::string, double>{{"a", nan}}, false),
            std::nullopt);
  EXPECT_EQ(ext::jsonData(std::unordered_map<std::string, double>{{"a", infinity}}, true),
            std::nullopt);
  EXPECT_EQ(ext::jsonString(std::unordered_map<int, int>{{1, 1}}, false), std::nullopt);
  EXPECT_EQ(ext::jsonString(std::unordered_map<std::string, std::string>{{"a", "\xc3"}}, false),
            std::nullopt);
  EXPECT_EQ(ext::jsonString(std::unordered_map<std::string, std::uint64_t>{{"a", ~0ULL}}, false),
            std::nullopt);
}

// JSON text is well-formed UTF-8: no surrogates, no overlong forms, nothing
// past U+10FFFF; in values and in keys alike.
TEST(DynamicJson, TextMustBeWellFormedUtf8) {
  struct Case {
    const char* bytes;
    bool valid;
  };
  const Case cases[] = {
      {"\xC2\x80", true},         {"\xC0\xAF", false},          // U+0080; overlong "/"
      {"\xE0\xA0\x80", true},     {"\xE0\x9F\xBF", false},      // U+0800; overlong 07FF
      {"\xED\x9F\xBF", true},     {"\xED\xA0\x80", false},      // U+D7FF; surrogate D800
      {"\xED\xBF\xBF", false},    {"\xEE\x80\x80", true},       // surrogate DFFF; U+E000
      {"\xF0\x90\x80\x80", true}, {"\xF0\x8F\xBF\xBF", false},  // U+10000; overlong FFFF
      {"\xF4\x8F\xBF\xBF", true}, {"\xF4\x90\x80\x80", false},  // U+10FFFF; past it
      {"\xEF\xBF\xBF", true},     {"\x80", false},              // U+FFFF; a lone continuation
      {"\xE2\x82", false},                                      // cut short
      {"\xC3\xC3", false},  // a lead byte where a continuation belongs
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ext::isValidJsonObject(DynamicValue::Array{c.bytes}), c.valid) << c.bytes;
    EXPECT_EQ(ext::isValidJsonObject(Object{{c.bytes, 1}}), c.valid) << c.bytes;
  }
}

TEST(DynamicJson, TopLevelMustBeAContainer) {
  EXPECT_EQ(ext::toJson(DynamicValue(1), false), std::nullopt);
  EXPECT_EQ(ext::toJson(DynamicValue::Array{}, false), "[]");
  EXPECT_EQ(ext::toJson(DynamicValue::Array{0.1, -0.0, 1e300}, false), "[0.1,-0,1e+300]");
}

// Arrays and objects in turn, `depth` levels deep and the outermost an array
// ([{"k":[]}] for 3), built by moves alone; and the compact JSON of it.
bool isArrayLevel(std::size_t level) { return level % 2 == 1; }

DynamicValue nested(std::size_t depth) {
  DynamicValue value = isArrayLevel(depth) ? DynamicValue(DynamicValue::Array{}) : Object{};
  for (std::size_t level = depth - 1; level >= 1; --level) {
    if (isArrayLevel(level)) {
      DynamicValue::Array outer;
      outer.push_back(std::move(value));
      value = std::move(outer);
    } else {
      Object outer;
      outer.emplace("k", std::move(value));
      value = std::move(outer);
    }
  }
  return value;
}

// `depth` objects, each the only entry "k" of the one around it.
DynamicValue objectChain(std::size_t depth) {
  DynamicValue value = Object{};
  for (std::size_t level = 1; level < depth; ++level) {
    Object outer;
    outer.emplace("k", std::move(value));
    value = std::move(outer);
  }
  return value;
}

std::string nestedJson(std::size_t depth) {
  std::string opens;
  std::string closes;
  for (std::size_t level = 1; level <= depth; ++level) {
    opens += isArrayLevel(level) ? "[" : (level == depth ? "{" : "{\"k\":");
    closes.insert(closes.begin(), isArrayLevel(level) ? ']' : '}');
  }
  return opens + closes;
}

// JSON is written up to kMaxJsonDepth levels and refused past it, through a
// dictionary (whose own object is the outermost level) too; any depth can be
// built, copied, compared and destroyed.
class JsonDepth : public ::testing::TestWithParam<std::size_t> {};

TEST_P(JsonDepth, WrittenUpToTheLimitAndRefusedPastIt) {
  const std::size_t depth = GetParam();
  const bool written = depth <= ext::kMaxJsonDepth;
  const DynamicValue value = nested(depth);
  EXPECT_EQ(ext::isValidJsonObject(value), written);
  EXPECT_EQ(ext::toJson(value, false), written ? std::optional(nestedJson(depth)) : std::nullopt);
  EXPECT_EQ(ext::toJson(value, true).has_value(), written);

  DynamicValue copy = value;
  EXPECT_TRUE(copy == value);
  DynamicValue* innermost = &copy;
  while (true) {
    if (auto* array = innermost->getIf<DynamicValue::Array>(); array && !array->empty()) {
      innermost = &array->front();
    } else if (auto* object = innermost->getIf<Object>(); object && !object->empty()) {
      innermost = &object->begin()->second;
    } else {
      break;
    }
  }
  *innermost = DynamicValue::Array{1};
  EXPECT_FALSE(copy == value);

  std::unordered_map<std::string, DynamicValue> dictionary;
  dictionary.emplace("k", std::move(copy));
  EXPECT_EQ(ext::jsonString(dictionary, false).has_value(), depth + 1 <= ext::kMaxJsonDepth);

  // A path through every level reads and writes the innermost one.
  std::unordered_map<std::string, DynamicValue> chain;
  chain.emplace("k", objectChain(depth - 1));
  std::vector<std::string> path(depth, "k");
  ext::setValueAtPath(chain, std::span<const std::string>(path), DynamicValue(7));
  EXPECT_EQ(ext::valueAtPath(chain, std::span<const std::string>(path)), DynamicValue(7));
  path.back() = "x";
  EXPECT_EQ(ext::valueAtPath(chain, std::span<const std::string>(path)), std::nullopt);
  path.push_back("k");
  ext::setValueAtPath(chain, std::span<const std::string>(path), DynamicValue(8));
  path.back() = "k";
  path.pop_back();
  path.back() = "k";
  EXPECT_EQ(ext::valueAtPath(chain, std::span<const std::string>(path)), DynamicValue(7));
}

INSTANTIATE_TEST_SUITE_P(DynamicJson, JsonDepth,
                         ::testing::Values(ext::kMaxJsonDepth - 1, ext::kMaxJsonDepth,
                                           ext::kMaxJsonDepth + 1, 100'000, 1'000'000));

// --- Paths ---

class DictionaryPath : public ::testing::Test {
 protected:
  using Map = std::unordered_map<std::string, DynamicValue>;
  std::optional<DynamicValue> at(std::initializer_list<std::string> path) {
    return ext::valueAtPath(map_, path);
  }
  void set(std::initializer_list<std::string> path, std::optional<DynamicValue> value) {
    ext::setValueAtPath(map_, path, value);
  }

  Map map_{{"user", Object{{"name", "Ann"},
                           {"tags", DynamicValue::Array{"x"}},
                           {"home", Object{{"city", "Oslo"}}}}},
           {"count", 3}};
};

TEST_F(DictionaryPath, ReadsFollowNestedObjects) {
  EXPECT_EQ(at({}), std::nullopt);
  EXPECT_EQ(at({"count"}), DynamicValue(3));
  EXPECT_EQ(at({"user", "name"}), DynamicValue("Ann"));
  EXPECT_EQ(at({"user", "home", "city"}), DynamicValue("Oslo"));  // an object inside an object
  EXPECT_EQ(at({"count", "x"}), std::nullopt);
  EXPECT_EQ(at({"user", "missing"}), std::nullopt);
  EXPECT_EQ(at({"missing"}), std::nullopt);
}

TEST_F(DictionaryPath, WritesReplaceOrAddLeavesInNestedObjects) {
  set({"user", "name"}, DynamicValue("Bob"));
  set({"user", "age"}, DynamicValue(40));
  EXPECT_EQ(at({"user", "name"}), DynamicValue("Bob"));
  EXPECT_EQ(at({"user", "age"}), DynamicValue(40));
}

TEST_F(DictionaryPath, WritesNeverCreateOrRemove) {
  const Map before = map_;
  set({}, DynamicValue(1));
  set({"missing", "x"}, DynamicValue(1));
  set({"count", "x"}, DynamicValue(1));
  set({"count"}, std::nullopt);
  EXPECT_EQ(map_, before);
}

TEST_F(DictionaryPath, UpdateReadsChangesAndWritesBack) {
  const std::vector<std::string> path{"user", "tags"};
  ext::updateValueAtPath(map_, std::span<const std::string>(path), [](auto& value) {
    value->template getIf<DynamicValue::Array>()->push_back("y");
  });
  EXPECT_EQ(at({"user", "tags"}), DynamicValue(DynamicValue::Array{"x", "y"}));
}

TEST(DictionaryTypedPath, OneKeyWriteOfTheWrongTypeChangesNothing) {
  Dictionary dictionary{{"a", 1}};
  ext::setValueAtPath(dictionary, {"a"}, DynamicValue("text"));
  ext::setValueAtPath(dictionary, {"b"}, DynamicValue(2.5));
  EXPECT_EQ(dictionary, (Dictionary{{"a", 1}}));
  ext::setValueAtPath(dictionary, {"b"}, DynamicValue(2));
  EXPECT_EQ(dictionary, (Dictionary{{"a", 1}, {"b", 2}}));
  EXPECT_EQ(ext::valueAtPath(dictionary, {"b"}), DynamicValue(2));
  EXPECT_EQ(ext::valueAtPath(dictionary, {"a", "x"}), std::nullopt);
}

TEST(DictionaryTypedPath, NonTextKeysReachOneLevelOnly) {
  const std::unordered_map<int, std::string> dictionary{{1, "one"}};
  const std::vector<int> one{1};
  const std::vector<int> deeper{1, 2};
  EXPECT_EQ(ext::valueAtPath(dictionary, std::span<const int>(one)), DynamicValue("one"));
  EXPECT_EQ(ext::valueAtPath(dictionary, std::span<const int>(deeper)), std::nullopt);
}

// A nested write whose result no longer converts back once dropped the whole
// first-level entry; it must leave the entry as it was.
TEST(DictionaryTypedPath, FailedConversionKeepsTheFirstLevelEntry) {
  using Nested = std::unordered_map<std::string, std::unordered_map<std::string, int>>;
  Nested dictionary{{"scores", {{"ann", 1}}}};
  ext::setValueAtPath(dictionary, {"scores", "bob"}, DynamicValue("not a number"));
  EXPECT_EQ(dictionary, (Nested{{"scores", {{"ann", 1}}}}));
  ext::setValueAtPath(dictionary, {"scores", "bob"}, DynamicValue(2));
  EXPECT_EQ(dictionary, (Nested{{"scores", {{"ann", 1}, {"bob", 2}}}}));
}

// Same type and value, member by member; copies are equal and independent.
TEST(DynamicValues, EqualityAndCopies) {
  struct Case {
    DynamicValue a;
    DynamicValue b;
    bool equal;
  };
  const Case cases[] = {
      {1, 1, true},
      {1, 1.0, false},  // an integer is not a double
      {"a", "b", false},
      {DynamicValue::Array{1, "x"}, DynamicValue::Array{1, "x"}, true},
      {DynamicValue::Array{1}, DynamicValue::Array{1, 2}, false},
      {DynamicValue::Array{DynamicValue::Array{1}}, DynamicValue::Array{DynamicValue::Array{2}},
       false},
      {Object{{"a", 1}}, Object{{"a", 1}}, true},
      {Object{{"a", 1}}, Object{{"a", 1}, {"b", 2}}, false},
      {Object{{"a", 1}}, Object{{"b", 1}}, false},
      {Object{{"a", Object{{"b", nullptr}}}}, Object{{"a", Object{{"b", false}}}}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b == c.a, c.equal);
    DynamicValue copy = c.a;
    EXPECT_TRUE(copy == c.a);
    copy = c.b;
    EXPECT_TRUE(copy == c.b);
  }
}

TEST(DynamicConversions, RoundTripAndRangeChecks) {
  using Conversion = ext::DynamicConversion<std::map<std::string, std::vector<int>>>;
  const std::map<std::string, std::vector<int>> value{{"a", {1, 2}}};
  EXPECT_EQ(Conversion::fromDynamic(*Conversion::toDynamic(value)), value);
  EXPECT_EQ(ext::DynamicConversion<std::int8_t>::fromDynamic(DynamicValue(300)), std::nullopt);
  EXPECT_EQ(ext::DynamicConversion<double>::fromDynamic(DynamicValue(2)), 2.0);
  EXPECT_EQ(ext::DynamicConversion<int>::fromDynamic(DynamicValue(2.0)), std::nullopt);
  EXPECT_EQ(ext::DynamicConversion<float>::fromDynamic(DynamicValue(-1e300)), std::nullopt);
  EXPECT_EQ(ext::DynamicConversion<float>::fromDynamic(DynamicValue(3e38)), 3e38f);
  EXPECT_EQ(ext::DynamicConversion<long double>::toDynamic(1e400L), std::nullopt);
}

}  // namespace
