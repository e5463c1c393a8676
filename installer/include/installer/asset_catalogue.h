#pragma once
// The bundle's asset catalogue: the window's theme colours (a light and a
// dark value each) and its pictures (SVG files in Contents/Resources/Assets),
// looked up by name. Views keep names, never values.
//
//   colorNamed("bg04", Appearance::Dark)   -> {22, 172, 102, 255}
//   colorNamed("nope", Appearance::Light)  -> {0, 0, 0, 0} (clear)
//   imagePathNamed("icon_install_logo", bundle.resourcePath())
//       -> ".../Contents/Resources/Assets/icon_install_logo.svg"
//
// All functions are safe to call from any thread.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillo {

enum class Appearance { Light, Dark };

// 8-bit RGBA. The default value is the clear colour.
struct Color {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  std::uint8_t alpha = 0;

  friend bool operator==(const Color&, const Color&) = default;
};

// The colour called `name` in `appearance`; the clear colour when the
// catalogue has no such name.
[[nodiscard]] Color colorNamed(std::string_view name, Appearance appearance);

// The file of the image called `name` under `resourcePath`/Assets: the dark
// variant ("<name>_dark.svg") in Dark when it exists, else "<name>.svg".
// Nothing when the catalogue lacks the name or the file is missing.
[[nodiscard]] std::optional<std::string> imagePathNamed(std::string_view name,
                                                        const std::string& resourcePath,
                                                        Appearance appearance = Appearance::Light);

// Every name the catalogue defines.
[[nodiscard]] std::span<const std::string_view> colorNames();
[[nodiscard]] std::span<const std::string_view> imageNames();

// The appearance the user interface resolves colours against when one is
// forced; nothing means "follow the desktop". The window layer reads this;
// set it through ui/assets.h so that views hear of the change.
[[nodiscard]] std::optional<Appearance> appearanceOverride();
void setAppearanceOverride(std::optional<Appearance> appearance);

}  // namespace quillo
