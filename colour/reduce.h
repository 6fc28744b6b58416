// The six reduction methods that turn a 24-bit pixel area into 8-bit palette indices, in place.
//
// Every method reads a WorkImage: rows bottom row first, each DibRowBytes(width, 24) bytes long, blue,
// green, red per pixel. It fills a 256-entry palette area (4 bytes per entry: blue, green, red,
// reserved) and overwrites the WorkImage from its start with rows of DibRowBytes(width, 8) bytes,
// keeping the row order. Writing in place is safe: output byte x of row r lies at or before input
// byte 3x of the same row, and output row r ends before input row r + 1 begins.
//
// The caller guarantees that width and height are at least 0 and that the area holds
// DibRowBytes(width, 24) * height bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "toolkit/device/gdi.h"

namespace colour {

using tk::DibRowBytes;

// The shape every method shares: the size from the 24-bit info header, the WorkImage that is
// also the output area, and the 1024-byte palette area.
struct WorkImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint8_t* pixels = nullptr;
};

inline constexpr int PaletteEntries = 256;
inline constexpr int PaletteBytes = 4 * PaletteEntries;

// Runs `index(blue, green, red, x, y)` for every pixel, rows in stored order, and writes the
// results over the WorkImage as 8-bit rows with zero padding. Four pixels go out in one store,
// made after their twelve input bytes are read (output byte x + 3 lies before input byte 3x + 12).
template <class Index>
void MapPixels(WorkImage image, Index index) {
  const std::size_t in = DibRowBytes(image.width, 24);
  const std::size_t out = DibRowBytes(image.width, 8);
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* src = image.pixels + y * in;
    std::uint8_t* dst = image.pixels + y * out;
    int x = 0;
    for (; x + 4 <= image.width; x += 4, src += 12) {
      const std::uint8_t four[4] = {
          static_cast<std::uint8_t>(index(src[0], src[1], src[2], x, y)),
          static_cast<std::uint8_t>(index(src[3], src[4], src[5], x + 1, y)),
          static_cast<std::uint8_t>(index(src[6], src[7], src[8], x + 2, y)),
          static_cast<std::uint8_t>(index(src[9], src[10], src[11], x + 3, y))};
      std::memcpy(dst + x, four, 4);
    }
    for (; x < image.width; ++x, src += 3)
      dst[x] = static_cast<std::uint8_t>(index(src[0], src[1], src[2], x, y));
    for (std::size_t p = static_cast<std::size_t>(image.width); p < out; ++p) dst[p] = 0;
  }
}

// Level tables of the fixed palettes, channel values in increasing order.
inline constexpr std::array<std::uint8_t, 4> Levels4{0x00, 0x55, 0xAA, 0xFF};
inline constexpr std::array<std::uint8_t, 6> Levels6{0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF};
inline constexpr std::array<std::uint8_t, 7> Levels7{0x00, 0x2B, 0x55, 0x80, 0xAA, 0xD5, 0xFF};
inline constexpr std::array<std::uint8_t, 8> Levels8{0x00, 0x24, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};

// Entry v of a level map is the index of the level nearest to the channel value v, the lower
// index on a tie.
using LevelMap = std::array<std::uint8_t, 256>;

template <std::size_t N>
constexpr LevelMap MakeLevelMap(const std::array<std::uint8_t, N>& levels) {
  LevelMap map{};
  for (int v = 0; v < 256; ++v) {
    int best = 0;
    for (int i = 1; i < static_cast<int>(N); ++i) {
      int d = levels[i] > v ? levels[i] - v : v - levels[i];
      int bestD = levels[best] > v ? levels[best] - v : v - levels[best];
      if (d < bestD) best = i;
    }
    map[v] = static_cast<std::uint8_t>(best);
  }
  return map;
}

// The maps are computed by the compiler and constant-initialised: they are complete before any
// code of the program runs, whatever the order of the modules' start-up.
inline constexpr LevelMap Map4 = MakeLevelMap(Levels4);
inline constexpr LevelMap Map6 = MakeLevelMap(Levels6);
inline constexpr LevelMap Map7 = MakeLevelMap(Levels7);
inline constexpr LevelMap Map8 = MakeLevelMap(Levels8);

// 6 x 6 x 6 colour cube, 216 colours; the other entries are 128, 128, 128, 128.
void ReduceFixed666(WorkImage image, std::uint8_t* palette);
// 7 red x 8 green x 4 blue levels, 224 colours; the other entries are 128, 128, 128, 128.
void ReduceFixed784(WorkImage image, std::uint8_t* palette);
// Three 64-step ramps (red 0..63, green 64..127, blue 128..191); each pixel shows one channel,
// chosen by (column + stored row) mod 3.
void ReducePrimaryRamps(WorkImage image, std::uint8_t* palette);
// 256 grey levels: (77 red + 150 green + 29 blue) div 256.
void ReduceGray(WorkImage image, std::uint8_t* palette);

// The most frequent colours (at most `wanted`, 1..256) of the image, counted in a bounded hash
// table; when the image has more distinct colours than the table holds, channel masks drop low bits
// until it fits. Other colours map to their nearest palette entry.
void ReduceHistogram(WorkImage image, std::uint8_t* palette, int wanted, std::uint8_t redMask,
                     std::uint8_t greenMask, std::uint8_t blueMask);

// Median cut over a cube of 4096 cells (4 bits per channel) into at most `wanted` (1..256) boxes,
// one palette entry each. Returns the number of colours made.
int MedianCut(WorkImage image, std::uint8_t* palette, int wanted);

// The building blocks of the median cut, exposed for tests.
namespace mediancut {

inline constexpr int CellCount = 4096;
inline constexpr int MaxBoxes = 256;
inline constexpr std::uint16_t NoCell = 0xFFFF;

struct ColorCell {
  std::uint8_t value[3] = {};  // red4, green4, blue4
  std::uint8_t box = 0;
  std::int32_t pixels = 0;
  std::uint16_t next = NoCell;
};

struct CutBox {
  std::uint8_t low[3] = {};     // red, green, blue, 0..255 scale
  std::uint8_t extent[3] = {};  // width on each channel, 0..255 scale
  std::int32_t cells = 0;
  std::int32_t pixels = 0;
  std::uint16_t first = NoCell;
};

// Orders cell numbers ascending by one channel's 4-bit value (0 red, 1 green, 2 blue), breaking
// ties exactly as the quantizer's palette order depends on.
void SortCells(const ColorCell* cells, std::uint16_t* list, int n, int channel);
// Splits boxes until there are `wanted` of them or no box has more than one cell; `count` is the
// number of boxes in and out. `sortList` has room for 4096 cells.
void SplitBoxes(ColorCell* cells, CutBox* boxes, int wanted, int& count, std::uint16_t* sortList);

}  // namespace mediancut

}  // namespace colour
