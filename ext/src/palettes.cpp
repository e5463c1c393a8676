#include "ext/palettes.h"

#include <cstdint>

#include "ext/precondition.h"

namespace ext {
namespace {

Color hexColor(std::int64_t hex) {
  const std::optional<Color> color = Color::fromHex(hex, 1.0);
  precondition(color.has_value(), "a palette colour could not be made");
  return *color;
}

Color componentColor(int red, int green, int blue) {
  return Color::rgb(red / 255.0, green / 255.0, blue / 255.0, 1.0);
}

}  // namespace

// Function-local statics: made on first read, once, never released.
#define EXT_PALETTE_MEMBER(palette, name, make) \
  const Color& Color::palette::name() {         \
    static const Color color = make;            \
    return color;                               \
  }
#define EXT_PALETTE_ALIAS(palette, name, target) \
  const Color& Color::palette::name() { return target(); }

// Social
EXT_PALETTE_MEMBER(Social, facebook, componentColor(59, 89, 152))
EXT_PALETTE_MEMBER(Social, twitter, componentColor(0, 182, 241))
EXT_PALETTE_MEMBER(Social, googlePlus, componentColor(223, 74, 50))
EXT_PALETTE_MEMBER(Social, linkedIn, componentColor(0, 123, 182))
EXT_PALETTE_MEMBER(Social, vimeo, componentColor(69, 187, 255))
EXT_PALETTE_MEMBER(Social, youtube, componentColor(179, 18, 23))
EXT_PALETTE_MEMBER(Social, instagram, componentColor(195, 42, 163))
EXT_PALETTE_MEMBER(Social, pinterest, componentColor(203, 32, 39))
EXT_PALETTE_MEMBER(Social, flickr, componentColor(244, 0, 131))
EXT_PALETTE_MEMBER(Social, yahoo, componentColor(67, 2, 151))
EXT_PALETTE_MEMBER(Social, soundCloud, componentColor(67, 2, 151))
EXT_PALETTE_MEMBER(Social, tumblr, componentColor(44, 71, 98))
EXT_PALETTE_MEMBER(Social, foursquare, componentColor(252, 69, 117))
EXT_PALETTE_MEMBER(Social, swarm, componentColor(255, 176, 0))
EXT_PALETTE_MEMBER(Social, dribbble, componentColor(234, 76, 137))
EXT_PALETTE_MEMBER(Social, reddit, componentColor(255, 87, 0))
EXT_PALETTE_MEMBER(Social, devianArt, componentColor(74, 93, 78))
EXT_PALETTE_MEMBER(Social, pocket, componentColor(238, 64, 86))
EXT_PALETTE_MEMBER(Social, quora, componentColor(170, 34, 182))
EXT_PALETTE_MEMBER(Social, slideShare, componentColor(247, 146, 30))
EXT_PALETTE_MEMBER(Social, px500, componentColor(0, 153, 229))
EXT_PALETTE_MEMBER(Social, listly, componentColor(223, 109, 70))
EXT_PALETTE_MEMBER(Social, vine, componentColor(0, 180, 137))
EXT_PALETTE_MEMBER(Social, skype, componentColor(0, 175, 240))
EXT_PALETTE_MEMBER(Social, stumbleUpon, componentColor(235, 73, 36))
EXT_PALETTE_MEMBER(Social, snapchat, componentColor(255, 252, 0))
EXT_PALETTE_MEMBER(Social, whatsApp, componentColor(37, 211, 102))

std::span<const NamedColor> Color::Social::members() {
  static constexpr NamedColor kMembers[] = {
      {"facebook", &Color::Social::facebook},
      {"twitter", &Color::Social::twitter},
      {"googlePlus", &Color::Social::googlePlus},
      {"linkedIn", &Color::Social::linkedIn},
      {"vimeo", &Color::Social::vimeo},
      {"youtube", &Color::Social::youtube},
      {"instagram", &Color::Social::instagram},
      {"pinterest", &Color::Social::pinterest},
      {"flickr", &Color::Social::flickr},
      {"yahoo", &Color::Social::yahoo},
      {"soundCloud", &Color::Social::soundCloud},
      {"tumblr", &Color::Social::tumblr},
      {"foursquare", &Color::Social::foursquare},
      {"swarm", &Color::Social::swarm},
      {"dribbble", &Color::Social::dribbble},
      {"reddit", &Color::Social::reddit},
      {"devianArt", &Color::Social::devianArt},
      {"pocket", &Color::Social::pocket},
      {"quora", &Color::Social::quora},
      {"slideShare", &Color::Social::slideShare},
      {"px500", &Color::Social::px500},
      {"listly", &Color::Social::listly},
      {"vine", &Color::Social::vine},
      {"skype", &Color::Social::skype},
      {"stumbleUpon", &Color::Social::stumbleUpon},
      {"snapchat", &Color::Social::snapchat},
      {"whatsApp", &Color::Social::whatsApp},
  };
  return kMembers;
}

// FlatUI
EXT_PALETTE_MEMBER(FlatUI, turquoise, hexColor(0x1ABC9C))
EXT_PALETTE_MEMBER(FlatUI, greenSea, hexColor(0x16A085))
EXT_PALETTE_MEMBER(FlatUI, emerald, hexColor(0x2ECC71))
EXT_PALETTE_MEMBER(FlatUI, nephritis, hexColor(0x27AE60))
EXT_PALETTE_MEMBER(FlatUI, peterRiver, hexColor(0x3498DB))
EXT_PALETTE_MEMBER(FlatUI, belizeHole, hexColor(0x2980B9))
EXT_PALETTE_MEMBER(FlatUI, amethyst, hexColor(0x9B59B6))
EXT_PALETTE_MEMBER(FlatUI, wisteria, hexColor(0x8E44AD))
EXT_PALETTE_MEMBER(FlatUI, wetAsphalt, hexColor(0x34495E))
EXT_PALETTE_MEMBER(FlatUI, midnightBlue, hexColor(0x2C3E50))
EXT_PALETTE_MEMBER(FlatUI, sunFlower, hexColor(0xF1C40F))
EXT_PALETTE_MEMBER(FlatUI, flatOrange, hexColor(0xF39C12))
EXT_PALETTE_MEMBER(FlatUI, carrot, hexColor(0xE67E22))
EXT_PALETTE_MEMBER(FlatUI, pumpkin, hexColor(0xD35400))
EXT_PALETTE_MEMBER(FlatUI, alizarin, hexColor(0xE74C3C))
EXT_PALETTE_MEMBER(FlatUI, pomegranate, hexColor(0xC0392B))
EXT_PALETTE_MEMBER(FlatUI, clouds, hexColor(0xECF0F1))
EXT_PALETTE_MEMBER(FlatUI, silver, hexColor(0xBDC3C7))
EXT_PALETTE_MEMBER(FlatUI, asbestos, hexColor(0x7F8C8D))
EXT_PALETTE_MEMBER(FlatUI, concrete, hexColor(0x95A5A6))

std::span<const NamedColor> Color::FlatUI::members() {
  static constexpr NamedColor kMembers[] = {
      {"turquoise", &Color::FlatUI::turquoise},
      {"greenSea", &Color::FlatUI::greenSea},
      {"emerald", &Color::FlatUI::emerald},
      {"nephritis", &Color::FlatUI::nephritis},
      {"peterRiver", &Color::FlatUI::peterRiver},
      {"belizeHole", &Color::FlatUI::belizeHole},
      {"amethyst", &Color::FlatUI::amethyst},
      {"wisteria", &Color::FlatUI::wisteria},
      {"wetAsphalt", &Color::FlatUI::wetAsphalt},
      {"midnightBlue", &Color::FlatUI::midnightBlue},
      {"sunFlower", &Color::FlatUI::sunFlower},
      {"flatOrange", &Color::FlatUI::flatOrange},
      {"carrot", &Color::FlatUI::carrot},
      {"pumpkin", &Color::FlatUI::pumpkin},
      {"alizarin", &Color::FlatUI::alizarin},
      {"pomegranate", &Color::FlatUI::pomegranate},
      {"clouds", &Color::FlatUI::clouds},
      {"silver", &Color::FlatUI::silver},
      {"asbestos", &Color::FlatUI::asbestos},
      {"concrete", &Color::FlatUI::concrete},
  };
  return kMembers;
}

// Material
EXT_PALETTE_ALIAS(Material, red, red500)
EXT_PALETTE_MEMBER(Material, red50, hexColor(0xFFEBEE))
EXT_PALETTE_MEMBER(Material, red100, hexColor(0xFFCDD2))
EXT_PALETTE_MEMBER(Material, red200, hexColor(0xEF9A9A))
EXT_PALETTE_MEMBER(Material, red300, hexColor(0xE57373))
EXT_PALETTE_MEMBER(Material, red400, hexColor(0xEF5350))
EXT_PALETTE_MEMBER(Material, red500, hexColor(0xF44336))
EXT_PALETTE_MEMBER(Material, red600, hexColor(0xE53935))
EXT_PALETTE_MEMBER(Material, red700, hexColor(0xD32F2F))
EXT_PALETTE_MEMBER(Material, red800, hexColor(0xC62828))
EXT_PALETTE_MEMBER(Material, red900, hexColor(0xB71C1C))
EXT_PALETTE_MEMBER(Material, redA100, hexColor(0xFF8A80))
EXT_PALETTE_MEMBER(Material, redA200, hexColor(0xFF5252))
EXT_PALETTE_MEMBER(Material, redA400, hexColor(0xFF1744))
EXT_PALETTE_MEMBER(Material, redA700, hexColor(0xD50000))
EXT_PALETTE_ALIAS(Material, pink, pink500)
EXT_PALETTE_MEMBER(Material, pink50, hexColor(0xFCE4EC))
EXT_PALETTE_MEMBER(Material, pink100, hexColor(0xF8BBD0))
EXT_PALETTE_MEMBER(Material, pink200, hexColor(0xF48FB1))
EXT_PALETTE_MEMBER(Material, pink300, hexColor(0xF06292))
EXT_PALETTE_MEMBER(Material, pink400, hexColor(0xEC407A))
EXT_PALETTE_MEMBER(Material, pink500, hexColor(0xE91E63))
EXT_PALETTE_MEMBER(Material, pink600, hexColor(0xD81B60))
EXT_PALETTE_MEMBER(Material, pink700, hexColor(0xC2185B))
EXT_PALETTE_MEMBER(Material, pink800, hexColor(0xAD1457))
EXT_PALETTE_MEMBER(Material, pink900, hexColor(0x880E4F))
EXT_PALETTE_MEMBER(Material, pinkA100, hexColor(0xFF80AB))
EXT_PALETTE_MEMBER(Material, pinkA200, hexColor(0xFF4081))
EXT_PALETTE_MEMBER(Material, pinkA400, hexColor(0xF50057))
EXT_PALETTE_MEMBER(Material, pinkA700, hexColor(0xC51162))
EXT_PALETTE_ALIAS(Material, purple, purple500)
EXT_PALETTE_MEMBER(Material, purple50, hexColor(0xF3E5F5))
EXT_PALETTE_MEMBER(Material, purple100, hexColor(0xE1BEE7))
EXT_PALETTE_MEMBER(Material, purple200, hexColor(0xCE93D8))
EXT_PALETTE_MEMBER(Material, purple300, hexColor(0xBA68C8))
EXT_PALETTE_MEMBER(Material, purple400, hexColor(0xAB47BC))
EXT_PALETTE_MEMBER(Material, purple500, hexColor(0x9C27B0))
EXT_PALETTE_MEMBER(Material, purple600, hexColor(0x8E24AA))
EXT_PALETTE_MEMBER(Material, purple700, hexColor(0x7B1FA2))
EXT_PALETTE_MEMBER(Material, purple800, hexColor(0x6A1B9A))
EXT_PALETTE_MEMBER(Material, purple900, hexColor(0x4A148C))
EXT_PALETTE_MEMBER(Material, purpleA100, hexColor(0xEA80FC))
EXT_PALETTE_MEMBER(Material, purpleA200, hexColor(0xE040FB))
EXT_PALETTE_MEMBER(Material, purpleA400, hexColor(0xD500F9))
EXT_PALETTE_MEMBER(Material, purpleA700, hexColor(0xAA00FF))
EXT_PALETTE_ALIAS(Material, deepPurple, deepPurple500)
EXT_PALETTE_MEMBER(Material, deepPurple50, hexColor(0xEDE7F6))
EXT_PALETTE_MEMBER(Material, deepPurple100, hexColor(0xD1C4E9))
EXT_PALETTE_MEMBER(Material, deepPurple200, hexColor(0xB39DDB))
EXT_PALETTE_MEMBER(Material, deepPurple300, hexColor(0x9575CD))
EXT_PALETTE_MEMBER(Material, deepPurple400, hexColor(0x7E57C2))
EXT_PALETTE_MEMBER(Material, deepPurple500, hexColor(0x673AB7))
EXT_PALETTE_MEMBER(Material, deepPurple600, hexColor(0x5E35B1))
EXT_PALETTE_MEMBER(Material, deepPurple700, hexColor(0x512DA8))
EXT_PALETTE_MEMBER(Material, deepPurple800, hexColor(0x4527A0))
EXT_PALETTE_MEMBER(Material, deepPurple900, hexColor(0x311B92))
EXT_PALETTE_MEMBER(Material, deepPurpleA100, hexColor(0xB388FF))
EXT_PALETTE_MEMBER(Material, deepPurpleA200, hexColor(0x7C4DFF))
EXT_PALETTE_MEMBER(Material, deepPurpleA400, hexColor(0x651FFF))
EXT_PALETTE_MEMBER(Material, deepPurpleA700, hexColor(0x6200EA))
EXT_PALETTE_ALIAS(Material, indigo, indigo500)
EXT_PALETTE_MEMBER(Material, indigo50, hexColor(0xE8EAF6))
EXT_PALETTE_MEMBER(Material, indigo100, hexColor(0xC5CAE9))
EXT_PALETTE_MEMBER(Material, indigo200, hexColor(0x9FA8DA))
EXT_PALETTE_MEMBER(Material, indigo300, hexColor(0x7986CB))
EXT_PALETTE_MEMBER(Material, indigo400, hexColor(0x5C6BC0))
EXT_PALETTE_MEMBER(Material, indigo500, hexColor(0x3F51B5))
EXT_PALETTE_MEMBER(Material, indigo600, hexColor(0x3949AB))
EXT_PALETTE_MEMBER(Material, indigo700, hexColor(0x303F9F))
EXT_PALETTE_MEMBER(Material, indigo800, hexColor(0x283593))
EXT_PALETTE_MEMBER(Material, indigo900, hexColor(0x1A237E))
EXT_PALETTE_MEMBER(Material, indigoA100, hexColor(0x8C9EFF))
EXT_PALETTE_MEMBER(Material, indigoA200, hexColor(0x536DFE))
EXT_PALETTE_MEMBER(Material, indigoA400, hexColor(0x3D5AFE))
EXT_PALETTE_MEMBER(Material, indigoA700, hexColor(0x304FFE))
EXT_PALETTE_ALIAS(Material, blue, blue500)
EXT_PALETTE_MEMBER(Material, blue50, hexColor(0xE3F2FD))
EXT_PALETTE_MEMBER(Material, blue100, hexColor(0xBBDEFB))
EXT_PALETTE_MEMBER(Material, blue200, hexColor(0x90CAF9))
EXT_PALETTE_MEMBER(Material, blue300, hexColor(0x64B5F6))
EXT_PALETTE_MEMBER(Material, blue400, hexColor(0x42A5F5))
EXT_PALETTE_MEMBER(Material, blue500, hexColor(0x2196F3))
EXT_PALETTE_MEMBER(Material, blue600, hexColor(0x1E88E5))
EXT_PALETTE_MEMBER(Material, blue700, hexColor(0x1976D2))
EXT_PALETTE_MEMBER(Material, blue800, hexColor(0x1565C0))
EXT_PALETTE_MEMBER(Material, blue900, hexColor(0x0D47A1))
EXT_PALETTE_MEMBER(Material, blueA100, hexColor(0x82B1FF))
EXT_PALETTE_MEMBER(Material, blueA200, hexColor(0x448AFF))
EXT_PALETTE_MEMBER(Material, blueA400, hexColor(0x2979FF))
EXT_PALETTE_MEMBER(Material, blueA700, hexColor(0x2962FF))
EXT_PALETTE_ALIAS(Material, lightBlue, lightBlue500)
EXT_PALETTE_MEMBER(Material, lightBlue50, hexColor(0xE1F5FE))
EXT_PALETTE_MEMBER(Material, lightBlue100, hexColor(0xB3E5FC))
EXT_PALETTE_MEMBER(Material, lightBlue200, hexColor(0x81D4FA))
EXT_PALETTE_MEMBER(Material, lightBlue300, hexColor(0x4FC3F7))
EXT_PALETTE_MEMBER(Material, lightBlue400, hexColor(0x29B6F6))
EXT_PALETTE_MEMBER(Material, lightBlue500, hexColor(0x03A9F4))
EXT_PALETTE_MEMBER(Material, lightBlue600, hexColor(0x039BE5))
EXT_PALETTE_MEMBER(Material, lightBlue700, hexColor(0x0288D1))
EXT_PALETTE_MEMBER(Material, lightBlue800, hexColor(0x0277BD))
EXT_PALETTE_MEMBER(Material, lightBlue900, hexColor(0x01579B))
EXT_PALETTE_MEMBER(Material, lightBlueA100, hexColor(0x80D8FF))
EXT_PALETTE_MEMBER(Material, lightBlueA200, hexColor(0x40C4FF))
EXT_PALETTE_MEMBER(Material, lightBlueA400, hexColor(0x00B0FF))
EXT_PALETTE_MEMBER(Material, lightBlueA700, hexColor(0x0091EA))
EXT_PALETTE_ALIAS(Material, cyan, cyan500)
EXT_PALETTE_MEMBER(Material, cyan50, hexColor(0xE0F7FA))
EXT_PALETTE_MEMBER(Material, cyan100, hexColor(0xB2EBF2))
EXT_PALETTE_MEMBER(Material, cyan200, hexColor(0x80DEEA))
EXT_PALETTE_MEMBER(Material, cyan300, hexColor(0x4DD0E1))
EXT_PALETTE_MEMBER(Material, cyan400, hexColor(0x26C6DA))
EXT_PALETTE_MEMBER(Material, cyan500, hexColor(0x00BCD4))
EXT_PALETTE_MEMBER(Material, cyan600, hexColor(0x00ACC1))
EXT_PALETTE_MEMBER(Material, cyan700, hexColor(0x0097A7))
EXT_PALETTE_MEMBER(Material, cyan800, hexColor(0x00838F))
EXT_PALETTE_MEMBER(Material, cyan900, hexColor(0x006064))
EXT_PALETTE_MEMBER(Material, cyanA100, hexColor(0x84FFFF))
EXT_PALETTE_MEMBER(Material, cyanA200, hexColor(0x18FFFF))
EXT_PALETTE_MEMBER(Material, cyanA400, hexColor(0x00E5FF))
EXT_PALETTE_MEMBER(Material, cyanA700, hexColor(0x00B8D4))
EXT_PALETTE_ALIAS(Material, teal, teal500)
EXT_PALETTE_MEMBER(Material, teal50, hexColor(0xE0F2F1))
EXT_PALETTE_MEMBER(Material, teal100, hexColor(0xB2DFDB))
EXT_PALETTE_MEMBER(Material, teal200, hexColor(0x80CBC4))
EXT_PALETTE_MEMBER(Material, teal300, hexColor(0x4DB6AC))
EXT_PALETTE_MEMBER(Material, teal400, hexColor(0x26A69A))
EXT_PALETTE_MEMBER(Material, teal500, hexColor(0x009688))
EXT_PALETTE_MEMBER(Material, teal600, hexColor(0x00897B))
EXT_PALETTE_MEMBER(Material, teal700, hexColor(0x00796B))
EXT_PALETTE_MEMBER(Material, teal800, hexColor(0x00695C))
EXT_PALETTE_MEMBER(Material, teal900, hexColor(0x004D40))
EXT_PALETTE_MEMBER(Material, tealA100, hexColor(0xA7FFEB))
EXT_PALETTE_MEMBER(Material, tealA200, hexColor(0x64FFDA))
EXT_PALETTE_MEMBER(Material, tealA400, hexColor(0x1DE9B6))
EXT_PALETTE_MEMBER(Material, tealA700, hexColor(0x00BFA5))
EXT_PALETTE_ALIAS(Material, green, green500)
EXT_PALETTE_MEMBER(Material, green50, hexColor(0xE8F5E9))
EXT_PALETTE_MEMBER(Material, green100, hexColor(0xC8E6C9))
EXT_PALETTE_MEMBER(Material, green200, hexColor(0xA5D6A7))
EXT_PALETTE_MEMBER(Material, green300, hexColor(0x81C784))
EXT_PALETTE_MEMBER(Material, green400, hexColor(0x66BB6A))
EXT_PALETTE_MEMBER(Material, green500, hexColor(0x4CAF50))
EXT_PALETTE_MEMBER(Material, green600, hexColor(0x43A047))
EXT_PALETTE_MEMBER(Material, green700, hexColor(0x388E3C))
EXT_PALETTE_MEMBER(Material, green800, hexColor(0x2E7D32))
EXT_PALETTE_MEMBER(Material, green900, hexColor(0x1B5E20))
EXT_PALETTE_MEMBER(Material, greenA100, hexColor(0xB9F6CA))
EXT_PALETTE_MEMBER(Material, greenA200, hexColor(0x69F0AE))
EXT_PALETTE_MEMBER(Material, greenA400, hexColor(0x00E676))
EXT_PALETTE_MEMBER(Material, greenA700, hexColor(0x00C853))
EXT_PALETTE_ALIAS(Material, lightGreen, lightGreen500)
EXT_PALETTE_MEMBER(Material, lightGreen50, hexColor(0xF1F8E9))
EXT_PALETTE_MEMBER(Material, lightGreen100, hexColor(0xDCEDC8))
EXT_PALETTE_MEMBER(Material, lightGreen200, hexColor(0xC5E1A5))
EXT_PALETTE_MEMBER(Material, lightGreen300, hexColor(0xAED581))
EXT_PALETTE_MEMBER(Material, lightGreen400, hexColor(0x9CCC65))
EXT_PALETTE_MEMBER(Material, lightGreen500, hexColor(0x8BC34A))
EXT_PALETTE_MEMBER(Material, lightGreen600, hexColor(0x7CB342))
EXT_PALETTE_MEMBER(Material, lightGreen700, hexColor(0x689F38))
EXT_PALETTE_MEMBER(Material, lightGreen800, hexColor(0x558B2F))
EXT_PALETTE_MEMBER(Material, lightGreen900, hexColor(0x33691E))
EXT_PALETTE_MEMBER(Material, lightGreenA100, hexColor(0xCCFF90))
EXT_PALETTE_MEMBER(Material, lightGreenA200, hexColor(0xB2FF59))
EXT_PALETTE_MEMBER(Material, lightGreenA400, hexColor(0x76FF03))
EXT_PALETTE_MEMBER(Material, lightGreenA700, hexColor(0x64DD17))
EXT_PALETTE_ALIAS(Material, lime, lime500)
EXT_PALETTE_MEMBER(Material, lime50, hexColor(0xF9FBE7))
EXT_PALETTE_MEMBER(Material, lime100, hexColor(0xF0F4C3))
EXT_PALETTE_MEMBER(Material, lime200, hexColor(0xE6EE9C))
EXT_PALETTE_MEMBER(Material, lime300, hexColor(0xDCE775))
EXT_PALETTE_MEMBER(Material, lime400, hexColor(0xD4E157))
EXT_PALETTE_MEMBER(Material, lime500, hexColor(0xCDDC39))
EXT_PALETTE_MEMBER(Material, lime600, hexColor(0xC0CA33))
EXT_PALETTE_MEMBER(Material, lime700, hexColor(0xAFB42B))
EXT_PALETTE_MEMBER(Material, lime800, hexColor(0x9E9D24))
EXT_PALETTE_MEMBER(Material, lime900, hexColor(0x827717))
EXT_PALETTE_MEMBER(Material, limeA100, hexColor(0xF4FF81))
EXT_PALETTE_MEMBER(Material, limeA200, hexColor(0xEEFF41))
EXT_PALETTE_MEMBER(Material, limeA400, hexColor(0xC6FF00))
EXT_PALETTE_MEMBER(Material, limeA700, hexColor(0xAEEA00))
EXT_PALETTE_ALIAS(Material, yellow, yellow500)
EXT_PALETTE_MEMBER(Material, yellow50, hexColor(0xFFFDE7))
EXT_PALETTE_MEMBER(Material, yellow100, hexColor(0xFFF9C4))
EXT_PALETTE_MEMBER(Material, yellow200, hexColor(0xFFF59D))
EXT_PALETTE_MEMBER(Material, yellow300, hexColor(0xFFF176))
EXT_PALETTE_MEMBER(Material, yellow400, hexColor(0xFFEE58))
EXT_PALETTE_MEMBER(Material, yellow500, hexColor(0xFFEB3B))
EXT_PALETTE_MEMBER(Material, yellow600, hexColor(0xFDD835))
EXT_PALETTE_MEMBER(Material, yellow700, hexColor(0xFBC02D))
EXT_PALETTE_MEMBER(Material, yellow800, hexColor(0xF9A825))
EXT_PALETTE_MEMBER(Material, yellow900, hexColor(0xF57F17))
EXT_PALETTE_MEMBER(Material, yellowA100, hexColor(0xFFFF8D))
EXT_PALETTE_MEMBER(Material, yellowA200, hexColor(0xFFFF00))
EXT_PALETTE_MEMBER(Material, yellowA400, hexColor(0xFFEA00))
EXT_PALETTE_MEMBER(Material, yellowA700, hexColor(0xFFD600))
EXT_PALETTE_ALIAS(Material, amber, amber500)
EXT_PALETTE_MEMBER(Material, amber50, hexColor(0xFFF8E1))
EXT_PALETTE_MEMBER(Material, amber100, hexColor(0xFFECB3))
EXT_PALETTE_MEMBER(Material, amber200, hexColor(0xFFE082))
EXT_PALETTE_MEMBER(Material, amber300, hexColor(0xFFD54F))
EXT_PALETTE_MEMBER(Material, amber400, hexColor(0xFFCA28))
EXT_PALETTE_MEMBER(Material, amber500, hexColor(0xFFC107))
EXT_PALETTE_MEMBER(Material, amber600, hexColor(0xFFB300))
EXT_PALETTE_MEMBER(Material, amber700, hexColor(0xFFA000))
EXT_PALETTE_MEMBER(Material, amber800, hexColor(0xFF8F00))
EXT_PALETTE_MEMBER(Material, amber900, hexColor(0xFF6F00))
EXT_PALETTE_MEMBER(Material, amberA100, hexColor(0xFFE57F))
EXT_PALETTE_MEMBER(Material, amberA200, hexColor(0xFFD740))
EXT_PALETTE_MEMBER(Material, amberA400, hexColor(0xFFC400))
EXT_PALETTE_MEMBER(Material, amberA700, hexColor(0xFFAB00))
EXT_PALETTE_ALIAS(Material, orange, orange500)
EXT_PALETTE_MEMBER(Material, orange50, hexColor(0xFFF3E0))
EXT_PALETTE_MEMBER(Material, orange100, hexColor(0xFFE0B2))
EXT_PALETTE_MEMBER(Material, orange200, hexColor(0xFFCC80))
EXT_PALETTE_MEMBER(Material, orange300, hexColor(0xFFB74D))
EXT_PALETTE_MEMBER(Material, orange400, hexColor(0xFFA726))
EXT_PALETTE_MEMBER(Material, orange500, hexColor(0xFF9800))
EXT_PALETTE_MEMBER(Material, orange600, hexColor(0xFB8C00))
EXT_PALETTE_MEMBER(Material, orange700, hexColor(0xF57C00))
EXT_PALETTE_MEMBER(Material, orange800, hexColor(0xEF6C00))
EXT_PALETTE_MEMBER(Material, orange900, hexColor(0xE65100))
EXT_PALETTE_MEMBER(Material, orangeA100, hexColor(0xFFD180))
EXT_PALETTE_MEMBER(Material, orangeA200, hexColor(0xFFAB40))
EXT_PALETTE_MEMBER(Material, orangeA400, hexColor(0xFF9100))
EXT_PALETTE_MEMBER(Material, orangeA700, hexColor(0xFF6D00))
EXT_PALETTE_ALIAS(Material, deepOrange, deepOrange500)
EXT_PALETTE_MEMBER(Material, deepOrange50, hexColor(0xFBE9E7))
EXT_PALETTE_MEMBER(Material, deepOrange100, hexColor(0xFFCCBC))
EXT_PALETTE_MEMBER(Material, deepOrange200, hexColor(0xFFAB91))
EXT_PALETTE_MEMBER(Material, deepOrange300, hexColor(0xFF8A65))
EXT_PALETTE_MEMBER(Material, deepOrange400, hexColor(0xFF7043))
EXT_PALETTE_MEMBER(Material, deepOrange500, hexColor(0xFF5722))
EXT_PALETTE_MEMBER(Material, deepOrange600, hexColor(0xF4511E))
EXT_PALETTE_MEMBER(Material, deepOrange700, hexColor(0xE64A19))
EXT_PALETTE_MEMBER(Material, deepOrange800, hexColor(0xD84315))
EXT_PALETTE_MEMBER(Material, deepOrange900, hexColor(0xBF360C))
EXT_PALETTE_MEMBER(Material, deepOrangeA100, hexColor(0xFF9E80))
EXT_PALETTE_MEMBER(Material, deepOrangeA200, hexColor(0xFF6E40))
EXT_PALETTE_MEMBER(Material, deepOrangeA400, hexColor(0xFF3D00))
EXT_PALETTE_MEMBER(Material, deepOrangeA700, hexColor(0xDD2C00))
EXT_PALETTE_ALIAS(Material, brown, brown500)
EXT_PALETTE_MEMBER(Material, brown50, hexColor(0xEFEBE9))
EXT_PALETTE_MEMBER(Material, brown100, hexColor(0xD7CCC8))
EXT_PALETTE_MEMBER(Material, brown200, hexColor(0xBCAAA4))
EXT_PALETTE_MEMBER(Material, brown300, hexColor(0xA1887F))
EXT_PALETTE_MEMBER(Material, brown400, hexColor(0x8D6E63))
EXT_PALETTE_MEMBER(Material, brown500, hexColor(0x795548))
EXT_PALETTE_MEMBER(Material, brown600, hexColor(0x6D4C41))
EXT_PALETTE_MEMBER(Material, brown700, hexColor(0x5D4037))
EXT_PALETTE_MEMBER(Material, brown800, hexColor(0x4E342E))
EXT_PALETTE_MEMBER(Material, brown900, hexColor(0x3E2723))
EXT_PALETTE_ALIAS(Material, grey, grey500)
EXT_PALETTE_MEMBER(Material, grey50, hexColor(0xFAFAFA))
EXT_PALETTE_MEMBER(Material, grey100, hexColor(0xF5F5F5))
EXT_PALETTE_MEMBER(Material, grey200, hexColor(0xEEEEEE))
EXT_PALETTE_MEMBER(Material, grey300, hexColor(0xE0E0E0))
EXT_PALETTE_MEMBER(Material, grey400, hexColor(0xBDBDBD))
EXT_PALETTE_MEMBER(Material, grey500, hexColor(0x9E9E9E))
EXT_PALETTE_MEMBER(Material, grey600, hexColor(0x757575))
EXT_PALETTE_MEMBER(Material, grey700, hexColor(0x616161))
EXT_PALETTE_MEMBER(Material, grey800, hexColor(0x424242))
EXT_PALETTE_MEMBER(Material, grey900, hexColor(0x212121))
EXT_PALETTE_ALIAS(Material, blueGrey, blueGrey500)
EXT_PALETTE_MEMBER(Material, blueGrey50, hexColor(0xECEFF1))
EXT_PALETTE_MEMBER(Material, blueGrey100, hexColor(0xCFD8DC))
EXT_PALETTE_MEMBER(Material, blueGrey200, hexColor(0xB0BEC5))
EXT_PALETTE_MEMBER(Material, blueGrey300, hexColor(0x90A4AE))
EXT_PALETTE_MEMBER(Material, blueGrey400, hexColor(0x78909C))
EXT_PALETTE_MEMBER(Material, blueGrey500, hexColor(0x607D8B))
EXT_PALETTE_MEMBER(Material, blueGrey600, hexColor(0x546E7A))
EXT_PALETTE_MEMBER(Material, blueGrey700, hexColor(0x455A64))
EXT_PALETTE_MEMBER(Material, blueGrey800, hexColor(0x37474F))
EXT_PALETTE_MEMBER(Material, blueGrey900, hexColor(0x263238))
EXT_PALETTE_MEMBER(Material, black, hexColor(0x000000))
EXT_PALETTE_MEMBER(Material, white, hexColor(0xFFFFFF))

std::span<const NamedColor> Color::Material::members() {
  static constexpr NamedColor kMembers[] = {
      {"red", &Color::Material::red},
      {"red50", &Color::Material::red50},
      {"red100", &Color::Material::red100},
      {"red200", &Color::Material::red200},
      {"red300", &Color::Material::red300},
      {"red400", &Color::Material::red400},
      {"red500", &Color::Material::red500},
      {"red600", &Color::Material::red600},
      {"red700", &Color::Material::red700},
      {"red800", &Color::Material::red800},
      {"red900", &Color::Material::red900},
      {"redA100", &Color::Material::redA100},
      {"redA200", &Color::Material::redA200},
      {"redA400", &Color::Material::redA400},
      {"redA700", &Color::Material::redA700},
      {"pink", &Color::Material::pink},
      {"pink50", &Color::Material::pink50},
      {"pink100", &Color::Material::pink100},
      {"pink200", &Color::Material::pink200},
      {"pink300", &Color::Material::pink300},
      {"pink400", &Color::Material::pink400},
      {"pink500", &Color::Material::pink500},
      {"pink600", &Color::Material::pink600},
      {"pink700", &Color::Material::pink700},
      {"pink800", &Color::Material::pink800},
      {"pink900", &Color::Material::pink900},
      {"pinkA100", &Color::Material::pinkA100},
      {"pinkA200", &Color::Material::pinkA200},
      {"pinkA400", &Color::Material::pinkA400},
      {"pinkA700", &Color::Material::pinkA700},
      {"purple", &Color::Material::purple},
      {"purple50", &Color::Material::purple50},
      {"purple100", &Color::Material::purple100},
      {"purple200", &Color::Material::purple200},
      {"purple300", &Color::Material::purple300},
      {"purple400", &Color::Material::purple400},
      {"purple500", &Color::Material::purple500},
      {"purple600", &Color::Material::purple600},
      {"purple700", &Color::Material::purple700},
      {"purple800", &Color::Material::purple800},
      {"purple900", &Color::Material::purple900},
      {"purpleA100", &Color::Material::purpleA100},
      {"purpleA200", &Color::Material::purpleA200},
      {"purpleA400", &Color::Material::purpleA400},
      {"purpleA700", &Color::Material::purpleA700},
      {"deepPurple", &Color::Material::deepPurple},
      {"deepPurple50", &Color::Material::deepPurple50},
      {"deepPurple100", &Color::Material::deepPurple100},
      {"deepPurple200", &Color::Material::deepPurple200},
      {"deepPurple300", &Color::Material::deepPurple300},
      {"deepPurple400", &Color::Material::deepPurple400},
      {"deepPurple500", &Color::Material::deepPurple500},
      {"deepPurple600", &Color::Material::deepPurple600},
      {"deepPurple700", &Color::Material::deepPurple700},
      {"deepPurple800", &Color::Material::deepPurple800},
      {"deepPurple900", &Color::Material::deepPurple900},
      {"deepPurpleA100", &Color::Material::deepPurpleA100},
      {"deepPurpleA200", &Color::Material::deepPurpleA200},
      {"deepPurpleA400", &Color::Material::deepPurpleA400},
      {"deepPurpleA700", &Color::Material::deepPurpleA700},
      {"indigo", &Color::Material::indigo},
      {"indigo50", &Color::Material::indigo50},
      {"indigo100", &Color::Material::indigo100},
      {"indigo200", &Color::Material::indigo200},
      {"indigo300", &Color::Material::indigo300},
      {"indigo400", &Color::Material::indigo400},
      {"indigo500", &Color::Material::indigo500},
      {"indigo600", &Color::Material::indigo600},
      {"indigo700", &Color::Material::indigo700},
      {"indigo800", &Color::Material::indigo800},
      {"indigo900", &Color::Material::indigo900},
      {"indigoA100", &Color::Material::indigoA100},
      {"indigoA200", &Color::Material::indigoA200},
      {"indigoA400", &Color::Material::indigoA400},
      {"indigoA700", &Color::Material::indigoA700},
      {"blue", &Color::Material::blue},
      {"blue50", &Color::Material::blue50},
      {"blue100", &Color::Material::blue100},
      {"blue200", &Color::Material::blue200},
      {"blue300", &Color::Material::blue300},
      {"blue400", &Color::Material::blue400},
      {"blue500", &Color::Material::blue500},
      {"blue600", &Color::Material::blue600},
      {"blue700", &Color::Material::blue700},
      {"blue800", &Color::Material::blue800},
      {"blue900", &Color::Material::blue900},
      {"blueA100", &Color::Material::blueA100},
      {"blueA200", &Color::Material::blueA200},
      {"blueA400", &Color::Material::blueA400},
      {"blueA700", &Color::Material::blueA700},
      {"lightBlue", &Color::Material::lightBlue},
      {"lightBlue50", &Color::Material::lightBlue50},
      {"lightBlue100", &Color::Material::lightBlue100},
      {"lightBlue200", &Color::Material::lightBlue200},
      {"lightBlue300", &Color::Material::lightBlue300},
      {"lightBlue400", &Color::Material::lightBlue400},
      {"lightBlue500", &Color::Material::lightBlue500},
      {"lightBlue600", &Color::Material::lightBlue600},
      {"lightBlue700", &Color::Material::lightBlue700},
      {"lightBlue800", &Color::Material::lightBlue800},
      {"lightBlue900", &Color::Material::lightBlue900},
      {"lightBlueA100", &Color::Material::lightBlueA100},
      {"lightBlueA200", &Color::Material::lightBlueA200},
      {"lightBlueA400", &Color::Material::lightBlueA400},
      {"lightBlueA700", &Color::Material::lightBlueA700},
      {"cyan", &Color::Material::cyan},
      {"cyan50", &Color::Material::cyan50},
      {"cyan100", &Color::Material::cyan100},
      {"cyan200", &Color::Material::cyan200},
      {"cyan300", &Color::Material::cyan300},
      {"cyan400", &Color::Material::cyan400},
      {"cyan500", &Color::Material::cyan500},
      {"cyan600", &Color::Material::cyan600},
      {"cyan700", &Color::Material::cyan700},
      {"cyan800", &Color::Material::cyan800},
      {"cyan900", &Color::Material::cyan900},
      {"cyanA100", &Color::Material::cyanA100},
      {"cyanA200", &Color::Material::cyanA200},
      {"cyanA400", &Color::Material::cyanA400},
      {"cyanA700", &Color::Material::cyanA700},
      {"teal", &Color::Material::teal},
      {"teal50", &Color::Material::teal50},
      {"teal100", &Color::Material::teal100},
      {"teal200", &Color::Material::teal200},
      {"teal300", &Color::Material::teal300},
      {"teal400", &Color::Material::teal400},
      {"teal500", &Color::Material::teal500},
      {"teal600", &Color::Material::teal600},
      {"teal700", &Color::Material::teal700},
      {"teal800", &Color::Material::teal800},
      {"teal900", &Color::Material::teal900},
      {"tealA100", &Color::Material::tealA100},
      {"tealA200", &Color::Material::tealA200},
      {"tealA400", &Color::Material::tealA400},
      {"tealA700", &Color::Material::tealA700},
      {"green", &Color::Material::green},
      {"green50", &Color::Material::green50},
      {"green100", &Color::Material::green100},
      {"green200", &Color::Material::green200},
      {"green300", &Color::Material::green300},
      {"green400", &Color::Material::green400},
      {"green500", &Color::Material::green500},
      {"green600", &Color::Material::green600},
      {"green700", &Color::Material::green700},
      {"green800", &Color::Material::green800},
      {"green900", &Color::Material::green900},
      {"greenA100", &Color::Material::greenA100},
      {"greenA200", &Color::Material::greenA200},
      {"greenA400", &Color::Material::greenA400},
      {"greenA700", &Color::Material::greenA700},
      {"lightGreen", &Color::Material::lightGreen},
      {"lightGreen50", &Color::Material::lightGreen50},
      {"lightGreen100", &Color::Material::lightGreen100},
      {"lightGreen200", &Color::Material::lightGreen200},
      {"lightGreen300", &Color::Material::lightGreen300},
      {"lightGreen400", &Color::Material::lightGreen400},
      {"lightGreen500", &Color::Material::lightGreen500},
      {"lightGreen600", &Color::Material::lightGreen600},
      {"lightGreen700", &Color::Material::lightGreen700},
      {"lightGreen800", &Color::Material::lightGreen800},
      {"lightGreen900", &Color::Material::lightGreen900},
      {"lightGreenA100", &Color::Material::lightGreenA100},
      {"lightGreenA200", &Color::Material::lightGreenA200},
      {"lightGreenA400", &Color::Material::lightGreenA400},
      {"lightGreenA700", &Color::Material::lightGreenA700},
      {"lime", &Color::Material::lime},
      {"lime50", &Color::Material::lime50},
      {"lime100", &Color::Material::lime100},
      {"lime200", &Color::Material::lime200},
      {"lime300", &Color::Material::lime300},
      {"lime400", &Color::Material::lime400},
      {"lime500", &Color::Material::lime500},
      {"lime600", &Color::Material::lime600},
      {"lime700", &Color::Material::lime700},
      {"lime800", &Color::Material::lime800},
      {"lime900", &Color::Material::lime900},
      {"limeA100", &Color::Material::limeA100},
      {"limeA200", &Color::Material::limeA200},
      {"limeA400", &Color::Material::limeA400},
      {"limeA700", &Color::Material::limeA700},
      {"yellow", &Color::Material::yellow},
      {"yellow50", &Color::Material::yellow50},
      {"yellow100", &Color::Material::yellow100},
      {"yellow200", &Color::Material::yellow200},
      {"yellow300", &Color::Material::yellow300},
      {"yellow400", &Color::Material::yellow400},
      {"yellow500", &Color::Material::yellow500},
      {"yellow600", &Color::Material::yellow600},
      {"yellow700", &Color::Material::yellow700},
      {"yellow800", &Color::Material::yellow800},
      {"yellow900", &Color::Material::yellow900},
      {"yellowA100", &Color::Material::yellowA100},
      {"yellowA200", &Color::Material::yellowA200},
      {"yellowA400", &Color::Material::yellowA400},
      {"yellowA700", &Color::Material::yellowA700},
      {"amber", &Color::Material::amber},
      {"amber50", &Color::Material::amber50},
      {"amber100", &Color::Material::amber100},
      {"amber200", &Color::Material::amber200},
      {"amber300", &Color::Material::amber300},
      {"amber400", &Color::Material::amber400},
      {"amber500", &Color::Material::amber500},
      {"amber600", &Color::Material::amber600},
      {"amber700", &Color::Material::amber700},
      {"amber800", &Color::Material::amber800},
      {"amber900", &Color::Material::amber900},
      {"amberA100", &Color::Material::amberA100},
      {"amberA200", &Color::Material::amberA200},
      {"amberA400", &Color::Material::amberA400},
      {"amberA700", &Color::Material::amberA700},
      {"orange", &Color::Material::orange},
      {"orange50", &Color::Material::orange50},
      {"orange100", &Color::Material::orange100},
      {"orange200", &Color::Material::orange200},
      {"orange300", &Color::Material::orange300},
      {"orange400", &Color::Material::orange400},
      {"orange500", &Color::Material::orange500},
      {"orange600", &Color::Material::orange600},
      {"orange700", &Color::Material::orange700},
      {"orange800", &Color::Material::orange800},
      {"orange900", &Color::Material::orange900},
      {"orangeA100", &Color::Material::orangeA100},
      {"orangeA200", &Color::Material::orangeA200},
      {"orangeA400", &Color::Material::orangeA400},
      {"orangeA700", &Color::Material::orangeA700},
      {"deepOrange", &Color::Material::deepOrange},
      {"deepOrange50", &Color::Material::deepOrange50},
      {"deepOrange100", &Color::Material::deepOrange100},
      {"deepOrange200", &Color::Material::deepOrange200},
      {"deepOrange300", &Color::Material::deepOrange300},
      {"deepOrange400", &Color::Material::deepOrange400},
      {"deepOrange500", &Color::Material::deepOrange500},
      {"deepOrange600", &Color::Material::deepOrange600},
      {"deepOrange700", &Color::Material::deepOrange700},
      {"deepOrange800", &Color::Material::deepOrange800},
      {"deepOrange900", &Color::Material::deepOrange900},
      {"deepOrangeA100", &Color::Material::deepOrangeA100},
      {"deepOrangeA200", &Color::Material::deepOrangeA200},
      {"deepOrangeA400", &Color::Material::deepOrangeA400},
      {"deepOrangeA700", &Color::Material::deepOrangeA700},
      {"brown", &Color::Material::brown},
      {"brown50", &Color::Material::brown50},
      {"brown100", &Color::Material::brown100},
      {"brown200", &Color::Material::brown200},
      {"brown300", &Color::Material::brown300},
      {"brown400", &Color::Material::brown400},
      {"brown500", &Color::Material::brown500},
      {"brown600", &Color::Material::brown600},
      {"brown700", &Color::Material::brown700},
      {"brown800", &Color::Material::brown800},
      {"brown900", &Color::Material::brown900},
      {"grey", &Color::Material::grey},
      {"grey50", &Color::Material::grey50},
      {"grey100", &Color::Material::grey100},
      {"grey200", &Color::Material::grey200},
      {"grey300", &Color::Material::grey300},
      {"grey400", &Color::Material::grey400},
      {"grey500", &Color::Material::grey500},
      {"grey600", &Color::Material::grey600},
      {"grey700", &Color::Material::grey700},
      {"grey800", &Color::Material::grey800},
      {"grey900", &Color::Material::grey900},
      {"blueGrey", &Color::Material::blueGrey},
      {"blueGrey50", &Color::Material::blueGrey50},
      {"blueGrey100", &Color::Material::blueGrey100},
      {"blueGrey200", &Color::Material::blueGrey200},
      {"blueGrey300", &Color::Material::blueGrey300},
      {"blueGrey400", &Color::Material::blueGrey400},
      {"blueGrey500", &Color::Material::blueGrey500},
      {"blueGrey600", &Color::Material::blueGrey600},
      {"blueGrey700", &Color::Material::blueGrey700},
      {"blueGrey800", &Color::Material::blueGrey800},
      {"blueGrey900", &Color::Material::blueGrey900},
      {"black", &Color::Material::black},
      {"white", &Color::Material::white},
  };
  return kMembers;
}

// CSS
EXT_PALETTE_MEMBER(CSS, aliceBlue, hexColor(0xF0F8FF))
EXT_PALETTE_MEMBER(CSS, antiqueWhite, hexColor(0xFAEBD7))
EXT_PALETTE_MEMBER(CSS, aqua, hexColor(0x00FFFF))
EXT_PALETTE_MEMBER(CSS, aquamarine, hexColor(0x7FFFD4))
EXT_PALETTE_MEMBER(CSS, azure, hexColor(0xF0FFFF))
EXT_PALETTE_MEMBER(CSS, beige, hexColor(0xF5F5DC))
EXT_PALETTE_MEMBER(CSS, bisque, hexColor(0xFFE4C4))
EXT_PALETTE_MEMBER(CSS, black, hexColor(0x000000))
EXT_PALETTE_MEMBER(CSS, blanchedAlmond, hexColor(0xFFEBCD))
EXT_PALETTE_MEMBER(CSS, blue, hexColor(0x0000FF))
EXT_PALETTE_MEMBER(CSS, blueViolet, hexColor(0x8A2BE2))
EXT_PALETTE_MEMBER(CSS, brown, hexColor(0xA52A2A))
EXT_PALETTE_MEMBER(CSS, burlyWood, hexColor(0xDEB887))
EXT_PALETTE_MEMBER(CSS, cadetBlue, hexColor(0x5F9EA0))
EXT_PALETTE_MEMBER(CSS, chartreuse, hexColor(0x7FFF00))
EXT_PALETTE_MEMBER(CSS, chocolate, hexColor(0xD2691E))
EXT_PALETTE_MEMBER(CSS, coral, hexColor(0xFF7F50))
EXT_PALETTE_MEMBER(CSS, cornflowerBlue, hexColor(0x6495ED))
EXT_PALETTE_MEMBER(CSS, cornsilk, hexColor(0xFFF8DC))
EXT_PALETTE_MEMBER(CSS, crimson, hexColor(0xDC143C))
EXT_PALETTE_MEMBER(CSS, cyan, hexColor(0x00FFFF))
EXT_PALETTE_MEMBER(CSS, darkBlue, hexColor(0x00008B))
EXT_PALETTE_MEMBER(CSS, darkCyan, hexColor(0x008B8B))
EXT_PALETTE_MEMBER(CSS, darkGoldenRod, hexColor(0xB8860B))
EXT_PALETTE_MEMBER(CSS, darkGray, hexColor(0xA9A9A9))
EXT_PALETTE_MEMBER(CSS, darkGrey, hexColor(0xA9A9A9))
EXT_PALETTE_MEMBER(CSS, darkGreen, hexColor(0x006400))
EXT_PALETTE_MEMBER(CSS, darkKhaki, hexColor(0xBDB76B))
EXT_PALETTE_MEMBER(CSS, darkMagenta, hexColor(0x8B008B))
EXT_PALETTE_MEMBER(CSS, darkOliveGreen, hexColor(0x556B2F))
EXT_PALETTE_MEMBER(CSS, darkOrange, hexColor(0xFF8C00))
EXT_PALETTE_MEMBER(CSS, darkOrchid, hexColor(0x9932CC))
EXT_PALETTE_MEMBER(CSS, darkRed, hexColor(0x8B0000))
EXT_PALETTE_MEMBER(CSS, darkSalmon, hexColor(0xE9967A))
EXT_PALETTE_MEMBER(CSS, darkSeaGreen, hexColor(0x8FBC8F))
EXT_PALETTE_MEMBER(CSS, darkSlateBlue, hexColor(0x483D8B))
EXT_PALETTE_MEMBER(CSS, darkSlateGray, hexColor(0x2F4F4F))
EXT_PALETTE_MEMBER(CSS, darkSlateGrey, hexColor(0x2F4F4F))
EXT_PALETTE_MEMBER(CSS, darkTurquoise, hexColor(0x00CED1))
EXT_PALETTE_MEMBER(CSS, darkViolet, hexColor(0x9400D3))
EXT_PALETTE_MEMBER(CSS, deepPink, hexColor(0xFF1493))
EXT_PALETTE_MEMBER(CSS, deepSkyBlue, hexColor(0x00BFFF))
EXT_PALETTE_MEMBER(CSS, dimGray, hexColor(0x696969))
EXT_PALETTE_MEMBER(CSS, dimGrey, hexColor(0x696969))
EXT_PALETTE_MEMBER(CSS, dodgerBlue, hexColor(0x1E90FF))
EXT_PALETTE_MEMBER(CSS, fireBrick, hexColor(0xB22222))
EXT_PALETTE_MEMBER(CSS, floralWhite, hexColor(0xFFFAF0))
EXT_PALETTE_MEMBER(CSS, forestGreen, hexColor(0x228B22))
EXT_PALETTE_MEMBER(CSS, fuchsia, hexColor(0xFF00FF))
EXT_PALETTE_MEMBER(CSS, gainsboro, hexColor(0xDCDCDC))
EXT_PALETTE_MEMBER(CSS, ghostWhite, hexColor(0xF8F8FF))
EXT_PALETTE_MEMBER(CSS, gold, hexColor(0xFFD700))
EXT_PALETTE_MEMBER(CSS, goldenRod, hexColor(0xDAA520))
EXT_PALETTE_MEMBER(CSS, gray, hexColor(0x808080))
EXT_PALETTE_MEMBER(CSS, grey, hexColor(0x808080))
EXT_PALETTE_MEMBER(CSS, green, hexColor(0x008000))
EXT_PALETTE_MEMBER(CSS, greenYellow, hexColor(0xADFF2F))
EXT_PALETTE_MEMBER(CSS, honeyDew, hexColor(0xF0FFF0))
EXT_PALETTE_MEMBER(CSS, hotPink, hexColor(0xFF69B4))
EXT_PALETTE_MEMBER(CSS, indianRed, hexColor(0xCD5C5C))
EXT_PALETTE_MEMBER(CSS, indigo, hexColor(0x4B0082))
EXT_PALETTE_MEMBER(CSS, ivory, hexColor(0xFFFFF0))
EXT_PALETTE_MEMBER(CSS, khaki, hexColor(0xF0E68C))
EXT_PALETTE_MEMBER(CSS, lavender, hexColor(0xE6E6FA))
EXT_PALETTE_MEMBER(CSS, lavenderBlush, hexColor(0xFFF0F5))
EXT_PALETTE_MEMBER(CSS, lawnGreen, hexColor(0x7CFC00))
EXT_PALETTE_MEMBER(CSS, lemonChiffon, hexColor(0xFFFACD))
EXT_PALETTE_MEMBER(CSS, lightBlue, hexColor(0xADD8E6))
EXT_PALETTE_MEMBER(CSS, lightCoral, hexColor(0xF08080))
EXT_PALETTE_MEMBER(CSS, lightCyan, hexColor(0xE0FFFF))
EXT_PALETTE_MEMBER(CSS, lightGoldenRodYellow, hexColor(0xFAFAD2))
EXT_PALETTE_MEMBER(CSS, lightGray, hexColor(0xD3D3D3))
EXT_PALETTE_MEMBER(CSS, lightGrey, hexColor(0xD3D3D3))
EXT_PALETTE_MEMBER(CSS, lightGreen, hexColor(0x90EE90))
EXT_PALETTE_MEMBER(CSS, lightPink, hexColor(0xFFB6C1))
EXT_PALETTE_MEMBER(CSS, lightSalmon, hexColor(0xFFA07A))
EXT_PALETTE_MEMBER(CSS, lightSeaGreen, hexColor(0x20B2AA))
EXT_PALETTE_MEMBER(CSS, lightSkyBlue, hexColor(0x87CEFA))
EXT_PALETTE_MEMBER(CSS, lightSlateGray, hexColor(0x778899))
EXT_PALETTE_MEMBER(CSS, lightSlateGrey, hexColor(0x778899))
EXT_PALETTE_MEMBER(CSS, lightSteelBlue, hexColor(0xB0C4DE))
EXT_PALETTE_MEMBER(CSS, lightYellow, hexColor(0xFFFFE0))
EXT_PALETTE_MEMBER(CSS, lime, hexColor(0x00FF00))
EXT_PALETTE_MEMBER(CSS, limeGreen, hexColor(0x32CD32))
EXT_PALETTE_MEMBER(CSS, linen, hexColor(0xFAF0E6))
EXT_PALETTE_MEMBER(CSS, magenta, hexColor(0xFF00FF))
EXT_PALETTE_MEMBER(CSS, maroon, hexColor(0x800000))
EXT_PALETTE_MEMBER(CSS, mediumAquaMarine, hexColor(0x66CDAA))
EXT_PALETTE_MEMBER(CSS, mediumBlue, hexColor(0x0000CD))
EXT_PALETTE_MEMBER(CSS, mediumOrchid, hexColor(0xBA55D3))
EXT_PALETTE_MEMBER(CSS, mediumPurple, hexColor(0x9370DB))
EXT_PALETTE_MEMBER(CSS, mediumSeaGreen, hexColor(0x3CB371))
EXT_PALETTE_MEMBER(CSS, mediumSlateBlue, hexColor(0x7B68EE))
EXT_PALETTE_MEMBER(CSS, mediumSpringGreen, hexColor(0x00FA9A))
EXT_PALETTE_MEMBER(CSS, mediumTurquoise, hexColor(0x48D1CC))
EXT_PALETTE_MEMBER(CSS, mediumVioletRed, hexColor(0xC71585))
EXT_PALETTE_MEMBER(CSS, midnightBlue, hexColor(0x191970))
EXT_PALETTE_MEMBER(CSS, mintCream, hexColor(0xF5FFFA))
EXT_PALETTE_MEMBER(CSS, mistyRose, hexColor(0xFFE4E1))
EXT_PALETTE_MEMBER(CSS, moccasin, hexColor(0xFFE4B5))
EXT_PALETTE_MEMBER(CSS, navajoWhite, hexColor(0xFFDEAD))
EXT_PALETTE_MEMBER(CSS, navy, hexColor(0x000080))
EXT_PALETTE_MEMBER(CSS, oldLace, hexColor(0xFDF5E6))
EXT_PALETTE_MEMBER(CSS, olive, hexColor(0x808000))
EXT_PALETTE_MEMBER(CSS, oliveDrab, hexColor(0x6B8E23))
EXT_PALETTE_MEMBER(CSS, orange, hexColor(0xFFA500))
EXT_PALETTE_MEMBER(CSS, orangeRed, hexColor(0xFF4500))
EXT_PALETTE_MEMBER(CSS, orchid, hexColor(0xDA70D6))
EXT_PALETTE_MEMBER(CSS, paleGoldenRod, hexColor(0xEEE8AA))
EXT_PALETTE_MEMBER(CSS, paleGreen, hexColor(0x98FB98))
EXT_PALETTE_MEMBER(CSS, paleTurquoise, hexColor(0xAFEEEE))
EXT_PALETTE_MEMBER(CSS, paleVioletRed, hexColor(0xDB7093))
EXT_PALETTE_MEMBER(CSS, papayaWhip, hexColor(0xFFEFD5))
EXT_PALETTE_MEMBER(CSS, peachPuff, hexColor(0xFFDAB9))
EXT_PALETTE_MEMBER(CSS, peru, hexColor(0xCD853F))
EXT_PALETTE_MEMBER(CSS, pink, hexColor(0xFFC0CB))
EXT_PALETTE_MEMBER(CSS, plum, hexColor(0xDDA0DD))
EXT_PALETTE_MEMBER(CSS, powderBlue, hexColor(0xB0E0E6))
EXT_PALETTE_MEMBER(CSS, purple, hexColor(0x800080))
EXT_PALETTE_MEMBER(CSS, rebeccaPurple, hexColor(0x663399))
EXT_PALETTE_MEMBER(CSS, red, hexColor(0xFF0000))
EXT_PALETTE_MEMBER(CSS, rosyBrown, hexColor(0xBC8F8F))
EXT_PALETTE_MEMBER(CSS, royalBlue, hexColor(0x4169E1))
EXT_PALETTE_MEMBER(CSS, saddleBrown, hexColor(0x8B4513))
EXT_PALETTE_MEMBER(CSS, salmon, hexColor(0xFA8072))
EXT_PALETTE_MEMBER(CSS, sandyBrown, hexColor(0xF4A460))
EXT_PALETTE_MEMBER(CSS, seaGreen, hexColor(0x2E8B57))
EXT_PALETTE_MEMBER(CSS, seaShell, hexColor(0xFFF5EE))
EXT_PALETTE_MEMBER(CSS, sienna, hexColor(0xA0522D))
EXT_PALETTE_MEMBER(CSS, silver, hexColor(0xC0C0C0))
EXT_PALETTE_MEMBER(CSS, skyBlue, hexColor(0x87CEEB))
EXT_PALETTE_MEMBER(CSS, slateBlue, hexColor(0x6A5ACD))
EXT_PALETTE_MEMBER(CSS, slateGray, hexColor(0x708090))
EXT_PALETTE_MEMBER(CSS, slateGrey, hexColor(0x708090))
EXT_PALETTE_MEMBER(CSS, snow, hexColor(0xFFFAFA))
EXT_PALETTE_MEMBER(CSS, springGreen, hexColor(0x00FF7F))
EXT_PALETTE_MEMBER(CSS, steelBlue, hexColor(0x4682B4))
EXT_PALETTE_MEMBER(CSS, tan, hexColor(0xD2B48C))
EXT_PALETTE_MEMBER(CSS, teal, hexColor(0x008080))
EXT_PALETTE_MEMBER(CSS, thistle, hexColor(0xD8BFD8))
EXT_PALETTE_MEMBER(CSS, tomato, hexColor(0xFF6347))
EXT_PALETTE_MEMBER(CSS, turquoise, hexColor(0x40E0D0))
EXT_PALETTE_MEMBER(CSS, violet, hexColor(0xEE82EE))
EXT_PALETTE_MEMBER(CSS, wheat, hexColor(0xF5DEB3))
EXT_PALETTE_MEMBER(CSS, white, hexColor(0xFFFFFF))
EXT_PALETTE_MEMBER(CSS, whiteSmoke, hexColor(0xF5F5F5))
EXT_PALETTE_MEMBER(CSS, yellow, hexColor(0xFFFF00))
EXT_PALETTE_MEMBER(CSS, yellowGreen, hexColor(0x9ACD32))

std::span<const NamedColor> Color::CSS::members() {
  static constexpr NamedColor kMembers[] = {
      {"aliceBlue", &Color::CSS::aliceBlue},
      {"antiqueWhite", &Color::CSS::antiqueWhite},
      {"aqua", &Color::CSS::aqua},
      {"aquamarine", &Color::CSS::aquamarine},
      {"azure", &Color::CSS::azure},
      {"beige", &Color::CSS::beige},
      {"bisque", &Color::CSS::bisque},
      {"black", &Color::CSS::black},
      {"blanchedAlmond", &Color::CSS::blanchedAlmond},
      {"blue", &Color::CSS::blue},
      {"blueViolet", &Color::CSS::blueViolet},
      {"brown", &Color::CSS::brown},
      {"burlyWood", &Color::CSS::burlyWood},
      {"cadetBlue", &Color::CSS::cadetBlue},
      {"chartreuse", &Color::CSS::chartreuse},
      {"chocolate", &Color::CSS::chocolate},
      {"coral", &Color::CSS::coral},
      {"cornflowerBlue", &Color::CSS::cornflowerBlue},
      {"cornsilk", &Color::CSS::cornsilk},
      {"crimson", &Color::CSS::crimson},
      {"cyan", &Color::CSS::cyan},
      {"darkBlue", &Color::CSS::darkBlue},
      {"darkCyan", &Color::CSS::darkCyan},
      {"darkGoldenRod", &Color::CSS::darkGoldenRod},
      {"darkGray", &Color::CSS::darkGray},
      {"darkGrey", &Color::CSS::darkGrey},
      {"darkGreen", &Color::CSS::darkGreen},
      {"darkKhaki", &Color::CSS::darkKhaki},
      {"darkMagenta", &Color::CSS::darkMagenta},
      {"darkOliveGreen", &Color::CSS::darkOliveGreen},
      {"darkOrange", &Color::CSS::darkOrange},
      {"darkOrchid", &Color::CSS::darkOrchid},
      {"darkRed", &Color::CSS::darkRed},
      {"darkSalmon", &Color::CSS::darkSalmon},
      {"darkSeaGreen", &Color::CSS::darkSeaGreen},
      {"darkSlateBlue", &Color::CSS::darkSlateBlue},
      {"darkSlateGray", &Color::CSS::darkSlateGray},
      {"darkSlateGrey", &Color::CSS::darkSlateGrey},
      {"darkTurquoise", &Color::CSS::darkTurquoise},
      {"darkViolet", &Color::CSS::darkViolet},
      {"deepPink", &Color::CSS::deepPink},
      {"deepSkyBlue", &Color::CSS::deepSkyBlue},
      {"dimGray", &Color::CSS::dimGray},
      {"dimGrey", &Color::CSS::dimGrey},
      {"dodgerBlue", &Color::CSS::dodgerBlue},
      {"fireBrick", &Color::CSS::fireBrick},
      {"floralWhite", &Color::CSS::floralWhite},
      {"forestGreen", &Color::CSS::forestGreen},
      {"fuchsia", &Color::CSS::fuchsia},
      {"gainsboro", &Color::CSS::gainsboro},
      {"ghostWhite", &Color::CSS::ghostWhite},
      {"gold", &Color::CSS::gold},
      {"goldenRod", &Color::CSS::goldenRod},
      {"gray", &Color::CSS::gray},
      {"grey", &Color::CSS::grey},
      {"green", &Color::CSS::green},
      {"greenYellow", &Color::CSS::greenYellow},
      {"honeyDew", &Color::CSS::honeyDew},
      {"hotPink", &Color::CSS::hotPink},
      {"indianRed", &Color::CSS::indianRed},
      {"indigo", &Color::CSS::indigo},
      {"ivory", &Color::CSS::ivory},
      {"khaki", &Color::CSS::khaki},
      {"lavender", &Color::CSS::lavender},
      {"lavenderBlush", &Color::CSS::lavenderBlush},
      {"lawnGreen", &Color::CSS::lawnGreen},
      {"lemonChiffon", &Color::CSS::lemonChiffon},
      {"lightBlue", &Color::CSS::lightBlue},
      {"lightCoral", &Color::CSS::lightCoral},
      {"lightCyan", &Color::CSS::lightCyan},
      {"lightGoldenRodYellow", &Color::CSS::lightGoldenRodYellow},
      {"lightGray", &Color::CSS::lightGray},
      {"lightGrey", &Color::CSS::lightGrey},
      {"lightGreen", &Color::CSS::lightGreen},
      {"lightPink", &Color::CSS::lightPink},
      {"lightSalmon", &Color::CSS::lightSalmon},
      {"lightSeaGreen", &Color::CSS::lightSeaGreen},
      {"lightSkyBlue", &Color::CSS::lightSkyBlue},
      {"lightSlateGray", &Color::CSS::lightSlateGray},
      {"lightSlateGrey", &Color::CSS::lightSlateGrey},
      {"lightSteelBlue", &Color::CSS::lightSteelBlue},
      {"lightYellow", &Color::CSS::lightYellow},
      {"lime", &Color::CSS::lime},
      {"limeGreen", &Color::CSS::limeGreen},
      {"linen", &Color::CSS::linen},
      {"magenta", &Color::CSS::magenta},
      {"maroon", &Color::CSS::maroon},
      {"mediumAquaMarine", &Color::CSS::mediumAquaMarine},
      {"mediumBlue", &Color::CSS::mediumBlue},
      {"mediumOrchid", &Color::CSS::mediumOrchid},
      {"mediumPurple", &Color::CSS::mediumPurple},
      {"mediumSeaGreen", &Color::CSS::mediumSeaGreen},
      {"mediumSlateBlue", &Color::CSS::mediumSlateBlue},
      {"mediumSpringGreen", &Color::CSS::mediumSpringGreen},
      {"mediumTurquoise", &Color::CSS::mediumTurquoise},
      {"mediumVioletRed", &Color::CSS::mediumVioletRed},
      {"midnightBlue", &Color::CSS::midnightBlue},
      {"mintCream", &Color::CSS::mintCream},
      {"mistyRose", &Color::CSS::mistyRose},
      {"moccasin", &Color::CSS::moccasin},
      {"navajoWhite", &Color::CSS::navajoWhite},
      {"navy", &Color::CSS::navy},
      {"oldLace", &Color::CSS::oldLace},
      {"olive", &Color::CSS::olive},
      {"oliveDrab", &Color::CSS::oliveDrab},
      {"orange", &Color::CSS::orange},
      {"orangeRed", &Color::CSS::orangeRed},
      {"orchid", &Color::CSS::orchid},
      {"paleGoldenRod", &Color::CSS::paleGoldenRod},
      {"paleGreen", &Color::CSS::paleGreen},
      {"paleTurquoise", &Color::CSS::paleTurquoise},
      {"paleVioletRed", &Color::CSS::paleVioletRed},
      {"papayaWhip", &Color::CSS::papayaWhip},
      {"peachPuff", &Color::CSS::peachPuff},
      {"peru", &Color::CSS::peru},
      {"pink", &Color::CSS::pink},
      {"plum", &Color::CSS::plum},
      {"powderBlue", &Color::CSS::powderBlue},
      {"purple", &Color::CSS::purple},
      {"rebeccaPurple", &Color::CSS::rebeccaPurple},
      {"red", &Color::CSS::red},
      {"rosyBrown", &Color::CSS::rosyBrown},
      {"royalBlue", &Color::CSS::royalBlue},
      {"saddleBrown", &Color::CSS::saddleBrown},
      {"salmon", &Color::CSS::salmon},
      {"sandyBrown", &Color::CSS::sandyBrown},
      {"seaGreen", &Color::CSS::seaGreen},
      {"seaShell", &Color::CSS::seaShell},
      {"sienna", &Color::CSS::sienna},
      {"silver", &Color::CSS::silver},
      {"skyBlue", &Color::CSS::skyBlue},
      {"slateBlue", &Color::CSS::slateBlue},
      {"slateGray", &Color::CSS::slateGray},
      {"slateGrey", &Color::CSS::slateGrey},
      {"snow", &Color::CSS::snow},
      {"springGreen", &Color::CSS::springGreen},
      {"steelBlue", &Color::CSS::steelBlue},
      {"tan", &Color::CSS::tan},
      {"teal", &Color::CSS::teal},
      {"thistle", &Color::CSS::thistle},
      {"tomato", &Color::CSS::tomato},
      {"turquoise", &Color::CSS::turquoise},
      {"violet", &Color::CSS::violet},
      {"wheat", &Color::CSS::wheat},
      {"white", &Color::CSS::white},
      {"whiteSmoke", &Color::CSS::whiteSmoke},
      {"yellow", &Color::CSS::yellow},
      {"yellowGreen", &Color::CSS::yellowGreen},
  };
  return kMembers;
}

#undef EXT_PALETTE_MEMBER
#undef EXT_PALETTE_ALIAS

}  // namespace ext
