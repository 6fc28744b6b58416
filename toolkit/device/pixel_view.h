// Pixels as the modules hand them to each other: a typed view of rows in memory (size, depth,
// colour table, rows), and the one packing of 1-, 4- and 8-bit rows to and from one value per
// pixel. The GIF decoder writes frames through a view straight into their bitmap's rows, the
// encoder reads a bitmap's rows through one, and the BMP file writer lays out its rows as one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

#include "toolkit/device/gdi.h"

namespace tk {

// Rows of width x height pixels of bitsPerPixel bits in memory that the view does not own.
// Row(0) is the top row of the picture; each row lies stride bytes after the one above it, so
// rows stored bottom row first (as a device-independent bitmap holds them) have a negative
// stride. Indexed pixels (1, 4 and 8 bits) index the palette; at 1 and 4 bits the leftmost
// pixel sits in the highest bits of a byte.
template <class Byte>
struct BasicPixelView {
  using Quad = std::conditional_t<std::is_const_v<Byte>, const RGBQUAD, RGBQUAD>;

  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  std::ptrdiff_t stride = 0;
  Byte* top = nullptr;
  std::span<Quad> palette;

  Byte* Row(int y) const { return top + static_cast<std::ptrdiff_t>(y) * stride; }
  // The bytes of one row that hold pixels, padding left out.
  std::size_t PixelBytes() const {
    return static_cast<std::size_t>((static_cast<std::int64_t>(std::max(width, 0)) * bitsPerPixel + 7) / 8);
  }
  // The memory of all rows, from the lowest address on.
  std::span<Byte> Memory() const {
    if (height <= 0 || !top) return {};
    const std::size_t rowBytes = static_cast<std::size_t>(stride < 0 ? -stride : stride);
    return {stride < 0 ? Row(height - 1) : top, rowBytes * static_cast<std::size_t>(height)};
  }

  operator BasicPixelView<const Byte>() const
    requires(!std::is_const_v<Byte>)
  {
    return {width, height, bitsPerPixel, stride, top, palette};
  }
};

using PixelView = BasicPixelView<std::uint8_t>;
using ConstPixelView = BasicPixelView<const std::uint8_t>;

// The rows of a device-independent bitmap's pixel area, which holds them bottom row first, each
// DibRowBytes(width, bits) long.
template <class Byte, class Quad = typename BasicPixelView<Byte>::Quad>
BasicPixelView<Byte> BottomUpRows(Byte* pixels, int width, int height, int bits,
                                  std::span<Quad> palette = {}) {
  const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(DibRowBytes(std::max(width, 0), bits));
  Byte* top = height > 0 ? pixels + static_cast<std::ptrdiff_t>(height - 1) * rowBytes : pixels;
  return {width, height, bits, -rowBytes, top, palette};
}

// The rows of a bitmap: a DIB section with its colour table, or a device bitmap.
inline PixelView ViewOf(GdiBitmap& b) {
  return {b.width, b.height, b.bitsPerPixel, static_cast<std::ptrdiff_t>(b.stride), b.bits.data(), b.colors};
}
inline ConstPixelView ViewOf(const GdiBitmap& b) {
  return {b.width, b.height, b.bitsPerPixel, static_cast<std::ptrdiff_t>(b.stride), b.bits.data(), b.colors};
}

// Copies every row that both views have, from one to the other, with as much of its padding as
// both rows hold.
inline void CopyRows(const ConstPixelView& from, const PixelView& to) {
  auto length = [](std::ptrdiff_t stride) { return static_cast<std::size_t>(stride < 0 ? -stride : stride); };
  const std::size_t bytes = std::min(length(from.stride), length(to.stride));
  const int rows = std::min(from.height, to.height);
  for (int y = 0; y < rows; ++y) std::memcpy(to.Row(y), from.Row(y), bytes);
}

// Writes n pixel values (one an element, masked to the depth) into a row of 1, 4 or 8 bits per
// pixel from column x0 on. The other pixels of the bytes written keep their bits.
template <class T>
void PackIndices(std::uint8_t* row, int bits, int x0, int n, const T* in) {
  if (bits == 8) {
    if constexpr (sizeof(T) == 1)
      std::memcpy(row + x0, in, static_cast<std::size_t>(std::max(n, 0)));
    else
      for (int i = 0; i < n; ++i) row[x0 + i] = static_cast<std::uint8_t>(in[i]);
    return;
  }
  const int perByte = 8 / bits;
  const unsigned mask = (1u << bits) - 1;
  auto put = [&](int x, unsigned v) {
    const int shift = 8 - bits - (x % perByte) * bits;
    std::uint8_t& byte = row[x / perByte];
    byte = static_cast<std::uint8_t>((byte & ~(mask << shift)) | (v & mask) << shift);
  };
  int i = 0;
  for (; i < n && (x0 + i) % perByte != 0; ++i) put(x0 + i, static_cast<unsigned>(in[i]));
  std::uint8_t* out = row + (x0 + i) / perByte;
  if (bits == 4) {
    for (; i + 2 <= n; i += 2)
      *out++ = static_cast<std::uint8_t>((in[i] & 15u) << 4 | (in[i + 1] & 15u));
  } else {
    for (; i + 8 <= n; i += 8) {
      const T* v = in + i;
      *out++ = static_cast<std::uint8_t>((v[0] & 1u) << 7 | (v[1] & 1u) << 6 | (v[2] & 1u) << 5 |
                                         (v[3] & 1u) << 4 | (v[4] & 1u) << 3 | (v[5] & 1u) << 2 |
                                         (v[6] & 1u) << 1 | (v[7] & 1u));
    }
  }
  for (; i < n; ++i) put(x0 + i, static_cast<unsigned>(in[i]));
}

// Reads n pixels of a row of 1, 4 or 8 bits per pixel from column x0 on, one value each.
template <class T>
void UnpackIndices(const std::uint8_t* row, int bits, int x0, int n, T* out) {
  if (bits == 8) {
    if constexpr (sizeof(T) == 1)
      std::memcpy(out, row + x0, static_cast<std::size_t>(std::max(n, 0)));
    else
      for (int i = 0; i < n; ++i) out[i] = row[x0 + i];
    return;
  }
  const int perByte = 8 / bits;
  const unsigned mask = (1u << bits) - 1;
  auto get = [&](int x) {
    return static_cast<T>(row[x / perByte] >> (8 - bits - (x % perByte) * bits) & mask);
  };
  int i = 0;
  for (; i < n && (x0 + i) % perByte != 0; ++i) out[i] = get(x0 + i);
  const std::uint8_t* in = row + (x0 + i) / perByte;
  if (bits == 4) {
    for (; i + 2 <= n; i += 2, ++in) {
      out[i] = static_cast<T>(*in >> 4);
      out[i + 1] = static_cast<T>(*in & 15);
    }
  } else {
    for (; i + 8 <= n; i += 8, ++in)
      for (int k = 0; k < 8; ++k) out[i + k] = static_cast<T>(*in >> (7 - k) & 1);
  }
  for (; i < n; ++i) out[i] = get(x0 + i);
}

}  // namespace tk
