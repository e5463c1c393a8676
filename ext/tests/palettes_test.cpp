#include "ext/palettes.h"

#include <fstream>
#include <map>
#include <set>
#include <sstream>
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
// EXT_PALETTE_TABLE ("palette member RRGGBB" per line, "#" comments).
TEST(Palettes, EveryMemberHasItsTableColour) {
  std::ifstream file(EXT_PALETTE_TABLE);
  ASSERT_TRUE(file) << EXT_PALETTE_TABLE;
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> table;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line.front() == '#') continue;
    std::istringstream fields(line);
    std::string palette, member, hex;
    ASSERT_TRUE(fields >> palette >> member >> hex) << line;
    table[palette].emplace_back(member, "#" + hex);
  }
  const std::map<std::string, std::span<const ext::NamedColor>> palettes = {
      {"Social", Color::Social::members()},
      {"Material", Color::Material::members()},
      {"CSS", Color::CSS::members()},
      {"FlatUI", Color::FlatUI::members()}};
  ASSERT_EQ(table.size(), palettes.size());
  for (const auto& [palette, members] : palettes) {
    const auto& rows = table[palette];
    ASSERT_EQ(members.size(), rows.size()) << palette;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(members[i].name, rows[i].first) << palette << " #" << i;
      EXPECT_EQ(ext::hexString(members[i].color()), rows[i].second)
          << palette << "." << rows[i].first;
    }
  }
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
