#include "ext/palettes.h"

#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using ext::Color;

std::set<std::string_view> namesOf(std::span<const ext::NamedColor> members) {
  std::set<std::string_view> names;
  for (const ext::NamedColor& member : members) names.insert(member.name);
  return names;
}

TEST(Palettes, HaveTheirMemberCountsWithUniqueNames) {
  EXPECT_EQ(Color::Social::members().size(), 27u);
  EXPECT_EQ(Color::FlatUI::members().size(), 20u);
  EXPECT_EQ(Color::Material::members().size(), 275u);
  EXPECT_EQ(Color::CSS::members().size(), 148u);
  EXPECT_EQ(namesOf(Color::Social::members()).size(), 27u);
  EXPECT_EQ(namesOf(Color::FlatUI::members()).size(), 20u);
  EXPECT_EQ(namesOf(Color::Material::members()).size(), 275u);
  EXPECT_EQ(namesOf(Color::CSS::members()).size(), 148u);
}

TEST(Palettes, EveryMemberIsOpaqueAndWithinUnitRange) {
  for (auto members : {Color::Social::members(), Color::FlatUI::members(),
                       Color::Material::members(), Color::CSS::members()}) {
    for (const ext::NamedColor& member : members) {
      const Color& c = member.color();
      EXPECT_EQ(c.alpha, 1.0) << member.name;
      EXPECT_EQ(ext::Color::fromHexString(ext::hexString(c)), c) << member.name;
    }
  }
}

TEST(SocialPalette, HexMatchesTheComponentTriples) {
  // The component triples and their hex forms, side by side.
  const std::vector<std::pair<std::string_view, std::string>> expected = {
      {"facebook", "#3B5998"},   {"twitter", "#00B6F1"},    {"googlePlus", "#DF4A32"},
      {"linkedIn", "#007BB6"},   {"vimeo", "#45BBFF"},      {"youtube", "#B31217"},
      {"instagram", "#C32AA3"},  {"pinterest", "#CB2027"},  {"flickr", "#F40083"},
      {"yahoo", "#430297"},      {"soundCloud", "#430297"}, {"tumblr", "#2C4762"},
      {"foursquare", "#FC4575"}, {"swarm", "#FFB000"},      {"dribbble", "#EA4C89"},
      {"reddit", "#FF5700"},     {"devianArt", "#4A5D4E"},  {"pocket", "#EE4056"},
      {"quora", "#AA22B6"},      {"slideShare", "#F7921E"}, {"px500", "#0099E5"},
      {"listly", "#DF6D46"},     {"vine", "#00B489"},       {"skype", "#00AFF0"},
      {"stumbleUpon", "#EB4924"}, {"snapchat", "#FFFC00"},  {"whatsApp", "#25D366"}};
  const auto members = Color::Social::members();
  ASSERT_EQ(members.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(members[i].name, expected[i].first);
    EXPECT_EQ(ext::hexString(members[i].color()), expected[i].second) << expected[i].first;
  }
  EXPECT_EQ(Color::Social::yahoo(), Color::Social::soundCloud());
  EXPECT_NE(&Color::Social::yahoo(), &Color::Social::soundCloud());
}

TEST(MaterialPalette, AliasIsTheFiveHundredShadeItself) {
  // Read the alias first: it must make the shade and share it.
  const Color* alias = &Color::Material::teal();
  EXPECT_EQ(alias, &Color::Material::teal500());
  EXPECT_EQ(&Color::Material::red(), &Color::Material::red500());
  EXPECT_EQ(&Color::Material::blueGrey(), &Color::Material::blueGrey500());
  EXPECT_EQ(ext::hexString(Color::Material::red()), "#F44336");
  EXPECT_EQ(ext::hexString(Color::Material::deepOrangeA700()), "#DD2C00");
  EXPECT_EQ(ext::hexString(Color::Material::grey50()), "#FAFAFA");
  EXPECT_EQ(ext::hexString(Color::Material::black()), "#000000");
  EXPECT_EQ(ext::hexString(Color::Material::white()), "#FFFFFF");
  const std::set<std::string_view> names = namesOf(Color::Material::members());
  EXPECT_FALSE(names.contains("brownA100"));
  EXPECT_TRUE(names.contains("amberA700"));
}

TEST(CssPalette, UsesTheCssNamedColourValues) {
  // Where X11's colour names differ, CSS's values hold.
  EXPECT_EQ(ext::hexString(Color::CSS::gray()), "#808080");
  EXPECT_EQ(ext::hexString(Color::CSS::green()), "#008000");
  EXPECT_EQ(ext::hexString(Color::CSS::maroon()), "#800000");
  EXPECT_EQ(ext::hexString(Color::CSS::purple()), "#800080");
  EXPECT_EQ(ext::hexString(Color::CSS::aliceBlue()), "#F0F8FF");
  EXPECT_EQ(ext::hexString(Color::CSS::rebeccaPurple()), "#663399");
  EXPECT_EQ(ext::hexString(Color::CSS::darkGray()), "#A9A9A9");
  EXPECT_EQ(Color::CSS::darkGray(), Color::CSS::darkGrey());
  EXPECT_NE(&Color::CSS::darkGray(), &Color::CSS::darkGrey());
  EXPECT_EQ(Color::CSS::aqua(), Color::CSS::cyan());
  EXPECT_EQ(Color::CSS::fuchsia(), Color::CSS::magenta());
}

TEST(Palettes, SameNamesInOtherPalettesAreOtherColours) {
  EXPECT_EQ(ext::hexString(Color::FlatUI::midnightBlue()), "#2C3E50");
  EXPECT_EQ(ext::hexString(Color::CSS::midnightBlue()), "#191970");
  EXPECT_NE(Color::FlatUI::silver(), Color::CSS::silver());
  EXPECT_NE(Color::FlatUI::turquoise(), Color::CSS::turquoise());
}

TEST(Palettes, FirstReadsFromManyThreadsShareOneObject) {
  std::vector<const Color*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = &Color::Material::lime(); });
  }
  for (std::thread& t : threads) t.join();
  for (const Color* c : seen) EXPECT_EQ(c, &Color::Material::lime500());
  EXPECT_EQ(&Color::CSS::tan(), &Color::CSS::tan());
}

}  // namespace
