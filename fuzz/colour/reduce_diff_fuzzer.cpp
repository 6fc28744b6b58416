// Differential fuzzing of the reduction methods: each must give the same palette, indices and
// colour count as the reference implementation it replaced (reference.cpp).
//   Input: method, width, height, wanted, three masks, a channel-depth byte, then pixel bytes.
// The pixels are the input's bytes, cycled, or when the input asks for it, pseudo-random colours
// seeded by them with a chosen number of bits per channel, so that images of more than 2049
// colours (the histogram's narrowing) are reached as well as flat ones.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "colour/reduce.h"
#include "fuzz/colour/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  const int method = data[0] % 6;
  const int width = data[1] % 200 + (data[1] >= 200 ? 300 : 0);
  const int height = data[2] % 120;
  const int wanted = data[3] + 1;
  const std::uint8_t masks[3] = {data[4], data[5], data[6]};
  const int depth = data[7];
  const std::uint8_t* pixelBytes = data + 8;
  const std::size_t pixelSize = size - 8;

  const std::size_t rowBytes = colour::DibRowBytes(width, 24);
  std::vector<std::uint8_t> image(rowBytes * height);
  std::uint32_t state = 0x9E3779B9u;
  for (std::size_t i = 0; i < pixelSize; ++i) state = (state ^ pixelBytes[i]) * 0x01000193u;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < 3 * width; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * 3 * width + x;
      std::uint8_t v;
      if (depth & 0x80) {
        state = state * 1664525u + 1013904223u;
        const int bits = 1 + (depth >> (2 * (x % 3)) & 7);  // 1..8 bits per channel
        v = static_cast<std::uint8_t>((state >> 24) & (0xFF00u >> bits));
      } else {
        v = pixelBytes[at % pixelSize];
      }
      image[y * rowBytes + x] = v;
    }

  std::vector<std::uint8_t> ours = image, theirs = image;
  std::uint8_t ourPalette[colour::PaletteBytes], theirPalette[colour::PaletteBytes];
  std::memset(ourPalette, 0xEE, sizeof ourPalette);
  std::memset(theirPalette, 0xEE, sizeof theirPalette);
  const colour::WorkImage a{width, height, ours.data()};
  colour::WorkImage b{width, height, theirs.data()};
  switch (method) {
    case 0:
      colour::ReduceHistogram(a, ourPalette, wanted, masks[0], masks[1], masks[2]);
      colour_reference::ReduceHistogram(b, theirPalette, wanted, masks[0], masks[1], masks[2]);
      break;
    case 1:
      if (width == 0 || height == 0) return 0;  // not settled for an image without pixels
      if (colour::MedianCut(a, ourPalette, wanted) !=
          colour_reference::MedianCut(b, theirPalette, wanted))
        std::abort();
      break;
    case 2:
      colour::ReduceFixed666(a, ourPalette);
      colour::ReduceFixed666(b, theirPalette);
      theirs = image;
      b.pixels = theirs.data();
      colour_reference::MapFixed666(b);
      break;
    case 3:
      colour::ReduceFixed784(a, ourPalette);
      colour::ReduceFixed784(b, theirPalette);
      theirs = image;
      b.pixels = theirs.data();
      colour_reference::MapFixed784(b);
      break;
    case 4:
      colour::ReducePrimaryRamps(a, ourPalette);
      colour::ReducePrimaryRamps(b, theirPalette);
      theirs = image;
      b.pixels = theirs.data();
      colour_reference::MapPrimaryRamps(b);
      break;
    default:
      colour::ReduceGray(a, ourPalette);
      colour::ReduceGray(b, theirPalette);
      theirs = image;
      b.pixels = theirs.data();
      colour_reference::MapGray(b);
      break;
  }
  // The palettes and the 8-bit rows (with their padding) that the methods wrote.
  const std::size_t written = colour::DibRowBytes(width, 8) * height;
  if (std::memcmp(ourPalette, theirPalette, sizeof ourPalette) != 0 ||
      (written > 0 && std::memcmp(ours.data(), theirs.data(), written) != 0))
    std::abort();
  return 0;
}
