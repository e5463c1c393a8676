#include "ext/palettes.h"

#include <fstream>
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

// Every member of every palette, in declaration order, against the table of
// EXT_PALETTE_TABLE: "palette member RRGGBB" per line, "#" starting a comment.
TEST(Palettes, EveryMemberHasItsTableColour) {
  std::ifstream table(EXT_PALETTE_TABLE);
  ASSERT_TRUE(table) << EXT_PALETTE_TABLE;
  std::vector<std::string> expected;
  for (std::string line; std::getline(table, line);) {
    if (!line.empty() && line.front() != '#') expected.push_back(line);
  }
  std::vector<std::string> actual;
  for (const auto& [palette, members] : {std::pair{"Social", Color::Social::members()},
                                         std::pair{"FlatUI", Color::FlatUI::members()},
                                         std::pair{"CSS", Color::CSS::members()},
                                         std::pair{"Material", Color::Material::members()}}) {
    for (const ext::NamedColor& member : members) {
      actual.push_back(std::string(palette) + " " + std::string(member.name) + " " +
                       ext::hexString(member.color()).substr(1));
    }
  }
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(actual[i], expected[i]);
}

TEST(SocialPalette, EqualColoursAreSeparateMembers) {
  EXPECT_EQ(Color::Social::yahoo(), Color::Social::soundCloud());
  EXPECT_NE(&Color::Social::yahoo(), &Color::Social::soundCloud());
}

TEST(MaterialPalette, AliasIsTheFiveHundredShadeItself) {
  // Read the alias first: it must make the shade and share it.
  const Color* alias = &Color::Material::teal();
  EXPECT_EQ(alias, &Color::Material::teal500());
  EXPECT_EQ(&Color::Material::red(), &Color::Material::red500());
  EXPECT_EQ(&Color::Material::blueGrey(), &Color::Material::blueGrey500());
}

TEST(CssPalette, EqualColoursAreSeparateMembers) {
  EXPECT_EQ(Color::CSS::darkGray(), Color::CSS::darkGrey());
  EXPECT_NE(&Color::CSS::darkGray(), &Color::CSS::darkGrey());
  EXPECT_EQ(Color::CSS::aqua(), Color::CSS::cyan());
  EXPECT_EQ(Color::CSS::fuchsia(), Color::CSS::magenta());
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
