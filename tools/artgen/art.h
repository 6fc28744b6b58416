// The gadget's art, drawn from code: the dial, the button glyphs, the two outline masks and the
// eight pointer pictures. Every picture is a grid of indices into one small fixed palette, so
// the output is the same on every run and every machine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace artgen {

// Palette indices.
enum Ink : std::uint8_t {
  White, Black, Yellow, Red, Blue, Silver, Grey, DarkGrey, Clear, InkCount
};
// The colours as 0xRRGGBB; Clear is the transparent background of the pointer pictures.
inline constexpr std::array<std::uint32_t, InkCount> Palette = {
    0xFFFFFF, 0x000000, 0xFFFF00, 0xFF0000, 0x0000FF, 0xC0C0C0, 0x808080, 0x404040, 0xFF00FF};

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> ink;  // row by row from the top

  Picture(int w, int h, Ink fill) : width(w), height(h), ink(std::size_t(w) * h, fill) {}
  void Set(int x, int y, Ink c) {
    if (x >= 0 && y >= 0 && x < width && y < height) ink[std::size_t(y) * width + x] = c;
  }
  Ink At(int x, int y) const { return Ink(ink[std::size_t(y) * width + x]); }
};

// The dial's geometry: centre and ring radii, in picture pixels.
inline constexpr int DialWidth = 251;
inline constexpr int DialHeight = 249;
inline constexpr double CentreX = 125.0;
inline constexpr double CentreY = 124.0;
inline constexpr double OuterRadius = 123.0;
inline constexpr double InnerRadius = 95.0;

// A button as the form places it, with its glyph picture.
struct ButtonArt {
  const char* name;  // "BitBtn1" ...
  int left, top, width, height;
  Picture glyph;  // 16 x 16 per glyph, one or two side by side, on silver
};

std::vector<ButtonArt> Buttons();
Picture Dial();
// Mask "B": white outside the ring. Mask "C": the ring and the button cluster only.
Picture MaskB();
Picture MaskC();
// The pointer picture of a resource name: "PT", "PL", "PR", "PB" (needles) and "PcT", "PcL",
// "PcR", "PcB" (arrows) on a Clear face inside the dial's own scale, the tip at the scale.
Picture Pointer(const std::string& name);

// The program's icon for the desktop: the dial inside the outline of mask "B", scaled to
// size x size pixels by averaging. Red, green, blue and alpha bytes, row by row from the top;
// what lies outside the outline is transparent, the outline's edge partly so.
std::vector<std::uint8_t> Icon(int size);
// The sizes drawn for the desktop's icon theme.
inline constexpr std::array<int, 6> IconSizes = {16, 24, 32, 48, 64, 128};

}  // namespace artgen
