// Helpers that make bitmaps for the writer's tests: bitmap files of 1, 4, 8 or 24 bits from
// pixel values, and toolkit bitmaps loaded from them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "toolkit/device/bitmap.h"
#include "toolkit/device/gdi.h"
#include "toolkit/core/streams.h"

namespace giftest {

// A bitmap file of width x height pixels, top row first in values: palette indices at 1, 4 or 8
// bits (colours as 0xRRGGBB, the table padded with black to 2^bits entries), 0xRRGGBB colours
// at 24.
inline std::vector<std::uint8_t> DibFile(int width, int height, int bits,
                                         const std::vector<std::uint32_t>& values,
                                         const std::vector<std::uint32_t>& colors = {}) {
  const int tableEntries = bits <= 8 ? 1 << bits : 0;
  const std::uint32_t rowBytes = static_cast<std::uint32_t>(tk::DibRowBytes(width, bits));
  const std::uint32_t offset = 54 + 4 * static_cast<std::uint32_t>(tableEntries);
  const std::uint32_t imageSize = rowBytes * static_cast<std::uint32_t>(height);
  std::vector<std::uint8_t> file(offset + imageSize);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, offset + imageSize);
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  file[26] = 1;
  file[28] = static_cast<std::uint8_t>(bits);
  put32(34, imageSize);
  for (std::size_t i = 0; i < colors.size() && i < static_cast<std::size_t>(tableEntries); ++i) {
    file[54 + 4 * i] = static_cast<std::uint8_t>(colors[i]);
    file[55 + 4 * i] = static_cast<std::uint8_t>(colors[i] >> 8);
    file[56 + 4 * i] = static_cast<std::uint8_t>(colors[i] >> 16);
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = file.data() + offset + static_cast<std::size_t>(height - 1 - y) * rowBytes;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = values[static_cast<std::size_t>(y) * width + x];
      switch (bits) {
        case 1:
          row[x / 8] |= static_cast<std::uint8_t>((v & 1) << (7 - x % 8));
          break;
        case 4:
          row[x / 2] |= static_cast<std::uint8_t>((v & 15) << (x % 2 ? 0 : 4));
          break;
        case 8:
          row[x] = static_cast<std::uint8_t>(v);
          break;
        default:
          row[3 * x] = static_cast<std::uint8_t>(v);
          row[3 * x + 1] = static_cast<std::uint8_t>(v >> 8);
          row[3 * x + 2] = static_cast<std::uint8_t>(v >> 16);
      }
    }
  }
  return file;
}

inline std::unique_ptr<tk::TBitmap> MakeBitmap(int width, int height, int bits,
                                               const std::vector<std::uint32_t>& values,
                                               const std::vector<std::uint32_t>& colors = {}) {
  auto bitmap = std::make_unique<tk::TBitmap>();
  tk::TMemoryStream stream(DibFile(width, height, bits, values, colors));
  bitmap->LoadStream(stream);
  return bitmap;
}

// Pixel values from a simple generator: a few flat areas, stripes and noise, so that strings of
// every length occur.
inline std::vector<std::uint32_t> Pattern(int width, int height, std::uint32_t modulus,
                                          std::uint32_t seed = 1) {
  std::vector<std::uint32_t> values(static_cast<std::size_t>(width) * height);
  std::uint32_t state = seed;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      std::uint32_t v;
      if (y < height / 3)
        v = (x / 7 + y / 5) % modulus;  // stripes
      else if (x < width / 2)
        v = (y / 9) % modulus;  // flat bands
      else
        v = (state >> 16) % modulus;  // noise
      values[static_cast<std::size_t>(y) * width + x] = v;
    }
  return values;
}

}  // namespace giftest
