// The reduction methods whose palette does not depend on the image: two colour cubes, primary
// ramps and grey levels.
#include <cstring>


#include "colour/reduce.h"

namespace colour {

namespace {

// A level map with every index multiplied by a stride, so that a cube index is a plain sum.
constexpr LevelMap Scaled(const LevelMap& map, int stride) {
  LevelMap scaled{};
  for (int v = 0; v < 256; ++v) scaled[v] = static_cast<std::uint8_t>(map[v] * stride);
  return scaled;
}

void SetEntry(std::uint8_t* palette, int i, int red, int green, int blue) {
  std::uint8_t* e = palette + 4 * i;
  e[0] = static_cast<std::uint8_t>(blue);
  e[1] = static_cast<std::uint8_t>(green);
  e[2] = static_cast<std::uint8_t>(red);
  e[3] = 0;
}

}  // namespace

void ReduceFixed666(WorkImage image, std::uint8_t* palette) {
  std::memset(palette, 128, PaletteBytes);
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) SetEntry(palette, r * 36 + g * 6 + b, Levels6[r], Levels6[g], Levels6[b]);
  static constexpr LevelMap red = Scaled(Map6, 36), green = Scaled(Map6, 6);
  MapPixels(image, [](int b, int g, int r, int, int) { return red[r] + green[g] + Map6[b]; });
}

void ReduceFixed784(WorkImage image, std::uint8_t* palette) {
  std::memset(palette, 128, PaletteBytes);
  for (int r = 0; r < 7; ++r)
    for (int g = 0; g < 8; ++g)
      for (int b = 0; b < 4; ++b) SetEntry(palette, r * 32 + g * 4 + b, Levels7[r], Levels8[g], Levels4[b]);
  static constexpr LevelMap red = Scaled(Map7, 32), green = Scaled(Map8, 4);
  MapPixels(image, [](int b, int g, int r, int, int) { return red[r] + green[g] + Map4[b]; });
}

void ReducePrimaryRamps(WorkImage image, std::uint8_t* palette) {
  std::memset(palette, 0, PaletteBytes);
  for (int i = 0; i < 64; ++i) {
    SetEntry(palette, i, 4 * i, 0, 0);
    SetEntry(palette, 64 + i, 0, 4 * i, 0);
    SetEntry(palette, 128 + i, 0, 0, 4 * i);
  }
  // The channel shown cycles red, green, blue along each row, and each row starts one step
  // further than the one stored before it.
  MapPixels(image, [](int b, int g, int r, int x, int y) {
    switch ((x + y) % 3) {
      case 0: return r / 4;
      case 1: return 64 + g / 4;
      default: return 128 + b / 4;
    }
  });
}

void ReduceGray(WorkImage image, std::uint8_t* palette) {
  for (int i = 0; i < PaletteEntries; ++i) SetEntry(palette, i, i, i, i);
  MapPixels(image, [](int b, int g, int r, int, int) { return (77 * r + 150 * g + 29 * b) >> 8; });
}

}  // namespace colour
