#include "ext/decoding.h"

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Settings {
  std::string name;
  bool enabled = false;
  std::optional<bool> beta;
};

void from_json(const nlohmann::json& json, Settings& settings) {
  json.at("name").get_to(settings.name);
  settings.enabled = ext::decodeBoolAsIntOrString(json, "enabled");
  settings.beta = ext::decodeBoolAsIntOrStringIfPresent(json, "beta");
}

TEST(DecodeJson, BuildsThroughFromJson) {
  const auto settings = ext::decodeJson<Settings>(R"({"name":"x","enabled":"YES","beta":0})");
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->name, "x");
  EXPECT_TRUE(settings->enabled);
  EXPECT_EQ(settings->beta, false);
}

TEST(DecodeJson, AnyFailureGivesNothing) {
  EXPECT_EQ(ext::decodeJson<Settings>("{"), std::nullopt);
  EXPECT_EQ(ext::decodeJson<Settings>(R"({"name":"x"})"), std::nullopt);
  EXPECT_EQ(ext::decodeJson<Settings>(R"({"name":"x","enabled":[1]})"), std::nullopt);
  EXPECT_EQ(ext::decodeJson<std::vector<int>>("[1, \"two\"]"), std::nullopt);
  const std::vector<std::uint8_t> bytes{'[', '1', ']'};
  EXPECT_EQ(ext::decodeJson<std::vector<int>>(bytes), std::vector<int>{1});
}

class TolerantBool : public ::testing::Test {
 protected:
  static bool decode(const char* member) {
    return ext::decodeBoolAsIntOrString(
        nlohmann::json::parse(std::string("{\"k\":") + member + "}"), "k");
  }
  static std::optional<bool> decodeIfPresent(const char* json) {
    return ext::decodeBoolAsIntOrStringIfPresent(nlohmann::json::parse(json), "k");
  }
};

TEST_F(TolerantBool, IntegersTextsAndBooleans) {
  EXPECT_TRUE(decode("1"));
  EXPECT_TRUE(decode("-7"));
  EXPECT_FALSE(decode("0"));
  EXPECT_TRUE(decode("2.0"));
  EXPECT_TRUE(decode("true"));
  EXPECT_FALSE(decode("false"));
  EXPECT_TRUE(decode(R"("yes")"));
  EXPECT_TRUE(decode(R"("  +007")"));
  EXPECT_FALSE(decode(R"("no")"));
  EXPECT_FALSE(decode(R"("")"));
  EXPECT_FALSE(decode(R"("000")"));
}

TEST_F(TolerantBool, FailuresOfTheLastAttemptPassOn) {
  EXPECT_THROW((void)ext::decodeBoolAsIntOrString(nlohmann::json::object(), "k"),
               nlohmann::json::out_of_range);
  EXPECT_THROW((void)decode("null"), nlohmann::json::type_error);
  EXPECT_THROW((void)decode("1.5"), nlohmann::json::type_error);
  EXPECT_THROW((void)decode("[1]"), nlohmann::json::type_error);
  EXPECT_THROW((void)ext::decodeBoolAsIntOrString(nlohmann::json::array(), "k"),
               nlohmann::json::type_error);
}

TEST_F(TolerantBool, IfPresentTreatsMissingAndNullAsAbsent) {
  EXPECT_EQ(decodeIfPresent("{}"), std::nullopt);
  EXPECT_EQ(decodeIfPresent(R"({"k":null})"), std::nullopt);
  EXPECT_EQ(decodeIfPresent(R"({"k":0})"), false);
  EXPECT_EQ(decodeIfPresent(R"({"k":"t"})"), true);
  EXPECT_EQ(decodeIfPresent(R"({"k":true})"), true);
  EXPECT_THROW((void)decodeIfPresent(R"({"k":{}})"), nlohmann::json::type_error);
}

TEST(TextBoolValue, FollowsThePlatformRule) {
  for (const char* yes : {"Y", "y", "T", "true", "1", "9z", " \t-1", "+0001"}) {
    EXPECT_TRUE(ext::textBoolValue(yes)) << yes;
  }
  for (const char* no : {"", "N", "false", "0", "00", "-", " ", "x1"}) {
    EXPECT_FALSE(ext::textBoolValue(no)) << no;
  }
  // Cut from longer texts whose next byte would say yes.
  const std::string_view spaces("   1");
  const std::string_view zeros("0001");
  for (const std::string_view no : {spaces.substr(0, 2), zeros.substr(0, 2)}) {
    EXPECT_FALSE(ext::textBoolValue(no)) << no;
  }
}

}  // namespace
