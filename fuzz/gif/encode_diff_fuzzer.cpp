// Differential fuzzing of the LZW encoder: its code stream must equal the plain model's
// (tests/gif/lzw_model.h) byte for byte.
//   Input: depth and interlace flag, width, height, a noise mask, then pixel bytes. The pixels
//   repeat over the picture, each XORed with a pseudo-random value under the noise mask, so that a
//   short input makes pictures large enough to fill the string table many times over, from flat
//   (mask 0) to noisy (mask 0xFF).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gif/decoder.h"
#include "gif/gif.h"
#include "tests/gif/lzw_model.h"
#include "toolkit/core/streams.h"
#include "toolkit/device/gdi.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const int bits = data[0] % 3 == 0 ? 1 : data[0] % 3 == 1 ? 4 : 8;
  const bool interlaced = data[0] & 0x80;
  const int width = (data[1] | (data[2] & 1) << 8) + 1;  // 1..512
  const int height = data[3] % 160 + 1;
  const unsigned noise = data[4];
  data += 5;
  size -= 5;
  const unsigned limit = 1u << bits;

  // The picture, top row first, and the rows of its bitmap, bottom row first.
  std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height);
  std::uint32_t state = 0x12345678u ^ static_cast<std::uint32_t>(size);
  for (std::size_t i = 0; i < picture.size(); ++i) {
    state = state * 1664525u + 1013904223u;
    picture[i] = static_cast<std::uint8_t>((data[i % size] ^ (state >> 24 & noise)) % limit);
  }
  const std::int64_t rowBytes = tk::DibRowBytes(width, bits);
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(rowBytes * height), 0);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = rows.data() + (height - 1 - y) * rowBytes;
    for (int x = 0; x < width; ++x) {
      const unsigned v = picture[static_cast<std::size_t>(y) * width + x];
      if (bits == 8) row[x] = static_cast<std::uint8_t>(v);
      else if (bits == 4) row[x / 2] |= static_cast<std::uint8_t>(v << (x % 2 ? 0 : 4));
      else row[x / 8] |= static_cast<std::uint8_t>(v << (7 - x % 8));
    }
  }

  // The pixels in the order they are coded.
  std::vector<std::uint8_t> order;
  order.reserve(picture.size());
  int pass = 0;
  for (int y = 0; y < height; y = interlaced ? gif::NextInterlacedRow(y, height, pass) : y + 1)
    order.insert(order.end(), picture.begin() + static_cast<std::ptrdiff_t>(y) * width,
                 picture.begin() + static_cast<std::ptrdiff_t>(y + 1) * width);

  tk::BITMAPINFOHEADER header;
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = static_cast<std::uint16_t>(bits);
  tk::TMemoryStream out;
  gif::EncodePixels(out, header, interlaced, nullptr, rows);
  const std::vector<std::uint8_t> model = giftest::ModelEncode(bits == 1 ? 2 : bits, order);
  if (out.Bytes().size() != model.size() ||
      !std::equal(model.begin(), model.end(), out.Bytes().begin()))
    std::abort();
  return 0;
}
