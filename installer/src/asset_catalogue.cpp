#include "installer/asset_catalogue.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <system_error>

namespace quillo {

namespace {

struct NamedColor {
  std::string_view name;
  Color light;
  Color dark;
};

// The accent stays the same green in both appearances: the progress bar
// draws it from a hard-coded value too.
constexpr std::array<NamedColor, 8> kColors{{
    {"bg04", {22, 172, 102, 255}, {22, 172, 102, 255}},  // accent
    {"bg05", {242, 243, 245, 255}, {58, 60, 64, 255}},   // secondary button
    {"bg06", {255, 255, 255, 255}, {30, 31, 34, 255}},   // window background
    {"bc01", {31, 35, 41, 255}, {232, 233, 235, 255}},   // body text
    {"bc03", {51, 55, 61, 255}, {213, 215, 219, 255}},   // titles
    {"bc09", {143, 149, 158, 255}, {128, 134, 142, 255}},  // hints, borders
    {"bc16", {100, 106, 115, 255}, {166, 171, 178, 255}},  // prompts
    {"bc17", {255, 255, 255, 255}, {255, 255, 255, 255}},  // titles on the accent
}};

constexpr auto kColorNames = [] {
  std::array<std::string_view, kColors.size()> names{};
  for (std::size_t i = 0; i < kColors.size(); ++i) names[i] = kColors[i].name;
  return names;
}();

constexpr std::array<std::string_view, 6> kImageNames{
    "icon_install_logo", "icon_install_complete", "icon_finish_install",
    "icon_enable_input", "icon_switch_input", "exist_install_logo"};

// 0 none, 1 light, 2 dark.
std::atomic<int> gOverride{0};

bool isRegularFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace

Color colorNamed(std::string_view name, Appearance appearance) {
  const auto it = std::find_if(kColors.begin(), kColors.end(),
                               [&](const NamedColor& c) { return c.name == name; });
  if (it == kColors.end()) return Color{};
  return appearance == Appearance::Dark ? it->dark : it->light;
}

std::optional<std::string> imagePathNamed(std::string_view name, const std::string& resourcePath,
                                          Appearance appearance) {
  if (std::find(kImageNames.begin(), kImageNames.end(), name) == kImageNames.end()) {
    return std::nullopt;
  }
  const std::string base = resourcePath + "/Assets/" + std::string(name);
  if (appearance == Appearance::Dark) {
    std::string dark = base + "_dark.svg";
    if (isRegularFile(dark)) return dark;
  }
  std::string light = base + ".svg";
  if (isRegularFile(light)) return light;
  return std::nullopt;
}

std::span<const std::string_view> colorNames() { return kColorNames; }

std::span<const std::string_view> imageNames() { return kImageNames; }

std::optional<Appearance> appearanceOverride() {
  switch (gOverride.load(std::memory_order_relaxed)) {
    case 1:
      return Appearance::Light;
    case 2:
      return Appearance::Dark;
    default:
      return std::nullopt;
  }
}

void setAppearanceOverride(std::optional<Appearance> appearance) {
  int value = 0;
  if (appearance) value = *appearance == Appearance::Dark ? 2 : 1;
  gOverride.store(value, std::memory_order_relaxed);
}

}  // namespace quillo
