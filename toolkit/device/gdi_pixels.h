// Row access to the pixels of a bitmap, shared by the graphics device's sources. Not a public
// header: the rest of the system reaches pixels through gdi.h.
//
// A row is read as "native" values: colour indices of indexed bitmaps, raw 16-bit values,
// 0x00RRGGBB at 24 bits and the raw 32-bit value (0xAARRGGBB) at 32 bits. "Quad" colours are
// 0x00RRGGBB, the order of a 32-bit pixel in memory; colour references (COLORREF, TColor) hold
// red in the low byte instead.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "toolkit/device/gdi.h"

namespace tk::pixels {

constexpr std::uint32_t RefToQuad(COLORREF c) {
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
constexpr COLORREF QuadToRef(std::uint32_t q) { return RefToQuad(q); }
constexpr std::uint32_t QuadOf(const RGBQUAD& c) {
  return (static_cast<std::uint32_t>(c.rgbRed) << 16) | (static_cast<std::uint32_t>(c.rgbGreen) << 8) | c.rgbBlue;
}
constexpr RGBQUAD RgbQuadOf(std::uint32_t q) {
  return RGBQUAD{static_cast<std::uint8_t>(q), static_cast<std::uint8_t>(q >> 8), static_cast<std::uint8_t>(q >> 16), 0};
}

// A new bitmap of the format (null when above the device's limit). Its pixel bytes are zero
// unless zeroed is false: then they are undefined, for a conversion that writes every byte.
UniqueBitmap NewBitmap(int width, int height, int bits, bool dib, bool zeroed = true);

// The bits a native value of the bitmap may hold (a device bitmap has no alpha).
std::uint32_t ValueMask(const GdiBitmap& b);

// Index of the table entry nearest to the quad colour (squared distance, first of equals).
std::uint32_t NearestIndex(std::span<const RGBQUAD> table, std::uint32_t quad);

// The colour table that stands for the bitmap's indices: its own, or black and white for a
// monochrome device bitmap.
std::span<const RGBQUAD> TableOf(const GdiBitmap& b);

// Channel layout of a 16- or 32-bit bitmap.
struct Channels {
  explicit Channels(const GdiBitmap& b);
  std::uint32_t ToQuad(std::uint32_t v) const;
  std::uint32_t FromQuad(std::uint32_t q) const;
  bool standard32 = false;  // 0x00FF0000, 0x0000FF00, 0x000000FF at 32 bits
  int shift[3] = {0, 0, 0};
  int width[3] = {0, 0, 0};
};

// The native value of a quad colour (nearest index for indexed bitmaps) and back.
std::uint32_t QuadToNative(const GdiBitmap& b, std::uint32_t quad);
std::uint32_t NativeToQuad(const GdiBitmap& b, std::uint32_t v);

// Reads n native values of a row in the bitmap's format from column x0; writes them back (at 1
// and 4 bits the other pixels of the bytes written are kept).
void UnpackRow(const GdiBitmap& format, const std::uint8_t* row, int x0, int n, std::uint32_t* out);
void PackRow(const GdiBitmap& format, std::uint8_t* row, int x0, int n, const std::uint32_t* in);
// The same on row y of the bitmap.
inline void UnpackRow(const GdiBitmap& b, int y, int x0, int n, std::uint32_t* out) {
  UnpackRow(b, b.Row(y), x0, n, out);
}
inline void PackRow(GdiBitmap& b, int y, int x0, int n, const std::uint32_t* in) {
  PackRow(b, b.Row(y), x0, n, in);
}

// The colours of a palette as a colour table, at most limit entries.
std::vector<RGBQUAD> PaletteColors(const GdiPalette& palette,
                                   std::size_t limit = std::numeric_limits<std::size_t>::max());

// A context's colour reference as a quad colour: palette indices through its palette, palette
// flags dropped.
std::uint32_t ResolveColor(const DeviceContext* dc, COLORREF color);

}  // namespace tk::pixels
