#include "installer/asset_catalogue.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using quillo::Appearance;
using quillo::Color;

std::string bundleResources() { return QUILLO_TEST_BUNDLE_DIR "/Contents/Resources"; }

// WCAG contrast ratio, 1 (none) to 21 (black on white).
double contrast(Color a, Color b) {
  auto luminance = [](Color c) {
    auto channel = [](std::uint8_t v) {
      const double s = v / 255.0;
      return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red) + 0.7152 * channel(c.green) + 0.0722 * channel(c.blue);
  };
  const double la = luminance(a);
  const double lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(AssetColors, EveryNameResolvesToAnOpaqueColourInBothAppearances) {
  ASSERT_EQ(quillo::colorNames().size(), 8u);
  for (const auto name : quillo::colorNames()) {
    EXPECT_EQ(quillo::colorNamed(name, Appearance::Light).alpha, 255) << name;
    EXPECT_EQ(quillo::colorNamed(name, Appearance::Dark).alpha, 255) << name;
  }
}

TEST(AssetColors, MissingNameGivesTheClearColour) {
  EXPECT_EQ(quillo::colorNamed("bg99", Appearance::Light), Color{});
  EXPECT_EQ(quillo::colorNamed("", Appearance::Dark), Color{});
}

TEST(AssetColors, AccentIsTheProgressBarGreenInBothAppearances) {
  const Color green{22, 172, 102, 255};
  EXPECT_EQ(quillo::colorNamed("bg04", Appearance::Light), green);
  EXPECT_EQ(quillo::colorNamed("bg04", Appearance::Dark), green);
}

TEST(AssetColors, BackgroundsAndTextsChangeWithTheAppearance) {
  for (const auto name : {"bg05", "bg06", "bc01", "bc03", "bc09", "bc16"}) {
    EXPECT_NE(quillo::colorNamed(name, Appearance::Light), quillo::colorNamed(name, Appearance::Dark))
        << name;
  }
}

TEST(AssetColors, TextsStayReadableOnTheirBackgrounds) {
  for (const Appearance a : {Appearance::Light, Appearance::Dark}) {
    const Color window = quillo::colorNamed("bg06", a);
    EXPECT_GE(contrast(quillo::colorNamed("bc01", a), window), 7.0);
    EXPECT_GE(contrast(quillo::colorNamed("bc03", a), window), 7.0);
    EXPECT_GE(contrast(quillo::colorNamed("bc16", a), window), 4.5);
    EXPECT_GE(contrast(quillo::colorNamed("bc09", a), window), 2.5);
    EXPECT_GE(contrast(quillo::colorNamed("bc03", a), quillo::colorNamed("bg05", a)), 4.5);
    EXPECT_GE(contrast(quillo::colorNamed("bc17", a), quillo::colorNamed("bg04", a)), 2.5);
  }
}

TEST(AssetImages, EveryNameResolvesInTheBuiltBundle) {
  const std::string resources = bundleResources();
  ASSERT_EQ(quillo::imageNames().size(), 6u);
  for (const auto name : quillo::imageNames()) {
    for (const Appearance a : {Appearance::Light, Appearance::Dark}) {
      const auto path = quillo::imagePathNamed(name, resources, a);
      ASSERT_TRUE(path) << name;
      EXPECT_TRUE(std::filesystem::is_regular_file(*path)) << *path;
      EXPECT_EQ(path->rfind(resources + "/Assets/" + std::string(name), 0), 0u) << *path;
    }
  }
}

TEST(AssetImages, MissingNameOrFileGivesNothing) {
  EXPECT_EQ(quillo::imagePathNamed("icon_missing", bundleResources()), std::nullopt);
  EXPECT_EQ(quillo::imagePathNamed("../Info", bundleResources()), std::nullopt);
  EXPECT_EQ(quillo::imagePathNamed("icon_install_logo", "/nonexistent/Resources"), std::nullopt);
}

TEST(AssetImages, DarkVariantIsPreferredWhenPresent) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("asset_catalogue_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "Assets");
  std::ofstream(dir / "Assets/icon_switch_input.svg") << "<svg/>";
  std::ofstream(dir / "Assets/icon_switch_input_dark.svg") << "<svg/>";
  std::ofstream(dir / "Assets/icon_install_logo.svg") << "<svg/>";
  const std::string resources = dir.string();

  EXPECT_EQ(quillo::imagePathNamed("icon_switch_input", resources, Appearance::Dark),
            resources + "/Assets/icon_switch_input_dark.svg");
  EXPECT_EQ(quillo::imagePathNamed("icon_switch_input", resources, Appearance::Light),
            resources + "/Assets/icon_switch_input.svg");
  EXPECT_EQ(quillo::imagePathNamed("icon_install_logo", resources, Appearance::Dark),
            resources + "/Assets/icon_install_logo.svg");
  std::filesystem::remove_all(dir);
}

TEST(AppearanceOverride, RoundTrips) {
  quillo::setAppearanceOverride(Appearance::Dark);
  EXPECT_EQ(quillo::appearanceOverride(), Appearance::Dark);
  quillo::setAppearanceOverride(Appearance::Light);
  EXPECT_EQ(quillo::appearanceOverride(), Appearance::Light);
  quillo::setAppearanceOverride(std::nullopt);
  EXPECT_EQ(quillo::appearanceOverride(), std::nullopt);
}

}  // namespace
