// The reduction methods whose palette does not depend on the image: two colour cubes, primary
// ramps and grey levels.
#include <cstring>


#include "colour/reduce.h"

namespace colour {

namespace {

// A level map with every index multiplied by a stride, so that a cube index is a plain sum.
constexpr LevelMap Scaled(const LevelMap& map, std::size_t stride) {
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

// A colour cube of R x G x B levels: entry (r x G + g) x B + b has the levels r, g, b; the
// entries above the cube are 128, 128, 128, 128. Each pixel takes the nearest level per channel.
template <std::size_t R, std::size_t G, std::size_t B>
void ReduceCube(WorkImage image, std::uint8_t* palette, const std::array<std::uint8_t, R>& red,
                const LevelMap& redMap, const std::array<std::uint8_t, G>& green, const LevelMap& greenMap,
                const std::array<std::uint8_t, B>& blue, const LevelMap& blueMap) {
  std::memset(palette, 128, PaletteBytes);
  for (std::size_t r = 0; r < R; ++r)
    for (std::size_t g = 0; g < G; ++g)
      for (std::size_t b = 0; b < B; ++b) SetEntry(palette, int((r * G + g) * B + b), red[r], green[g], blue[b]);
  const LevelMap redIndex = Scaled(redMap, G * B), greenIndex = Scaled(greenMap, B);
  MapPixels(image, [&](int b, int g, int r, int, int) { return redIndex[r] + greenIndex[g] + blueMap[b]; });
}

}  // namespace

void ReduceFixed666(WorkImage image, std::uint8_t* palette) {
  ReduceCube(image, palette, Levels6, Map6, Levels6, Map6, Levels6, Map6);
}

void ReduceFixed784(WorkImage image, std::uint8_t* palette) {
  ReduceCube(image, palette, Levels7, Map7, Levels8, Map8, Levels4, Map4);
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
