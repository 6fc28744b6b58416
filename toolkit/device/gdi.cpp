// Objects, contexts, palettes and single pixels of the software graphics device.
#include "toolkit/device/gdi.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <unordered_set>
#include <utility>

#include "toolkit/device/gdi_pixels.h"
#include "toolkit/device/pixel_view.h"
#include "toolkit/device/region.h"

namespace tk {

namespace pixels {

std::uint32_t ValueMask(const GdiBitmap& b) {
  switch (b.bitsPerPixel) {
    case 1: return 1;
    case 4: return 0xF;
    case 8: return 0xFF;
    case 16: return 0xFFFF;
    case 24: return 0xFFFFFF;
    default: return b.dibSection ? 0xFFFFFFFF : 0xFFFFFF;
  }
}

std::uint32_t NearestIndex(std::span<const RGBQUAD> table, std::uint32_t quad) {
  const int r = (quad >> 16) & 0xFF, g = (quad >> 8) & 0xFF, bl = quad & 0xFF;
  std::uint32_t best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  for (std::size_t i = 0; i < table.size(); ++i) {
    const int dr = table[i].rgbRed - r, dg = table[i].rgbGreen - g, db = table[i].rgbBlue - bl;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<std::uint32_t>(i);
      if (d == 0) break;
    }
  }
  return best;
}

std::span<const RGBQUAD> TableOf(const GdiBitmap& b) {
  static constexpr RGBQUAD kBlackWhite[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  if (b.Indexed() && b.colors.empty()) return kBlackWhite;
  return b.colors;
}

Channels::Channels(const GdiBitmap& b) {
  std::uint32_t m[3] = {b.masks[0], b.masks[1], b.masks[2]};
  if (m[0] == 0 && m[1] == 0 && m[2] == 0) {
    if (b.bitsPerPixel == 16) {
      m[0] = 0x7C00, m[1] = 0x3E0, m[2] = 0x1F;
    } else {
      m[0] = 0xFF0000, m[1] = 0xFF00, m[2] = 0xFF;
    }
  }
  standard32 = b.bitsPerPixel == 32 && m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF;
  for (int c = 0; c < 3; ++c) {
    shift[c] = m[c] ? std::countr_zero(m[c]) : 0;
    width[c] = m[c] ? std::popcount(m[c]) : 0;
  }
}

namespace {
// A channel value of w bits widened to 8 bits by repeating its bits.
std::uint32_t Widen(std::uint32_t v, int w) {
  if (w == 0) return 0;
  if (w >= 8) return v >> (w - 8);
  std::uint32_t out = 0;
  int filled = 0;
  while (filled < 8) {
    out = (out << w) | v;
    filled += w;
  }
  return out >> (filled - 8);
}
}  // namespace

std::uint32_t Channels::ToQuad(std::uint32_t v) const {
  if (standard32) return v & 0xFFFFFF;
  std::uint32_t q = 0;
  for (int c = 0; c < 3; ++c) {
    const std::uint32_t raw = (v >> shift[c]) & ((width[c] >= 32) ? 0xFFFFFFFF : ((1u << width[c]) - 1));
    q = (q << 8) | Widen(raw, width[c]);
  }
  return q;
}

std::uint32_t Channels::FromQuad(std::uint32_t q) const {
  if (standard32) return q & 0xFFFFFF;
  std::uint32_t v = 0;
  for (int c = 0; c < 3; ++c) {
    const std::uint32_t c8 = (q >> (16 - 8 * c)) & 0xFF;
    std::uint32_t raw = width[c] >= 8 ? c8 << (width[c] - 8) : c8 >> (8 - width[c]);
    if (width[c] > 8) raw |= raw >> 8;  // repeat the bits into the low part
    v |= raw << shift[c];
  }
  return v;
}

std::uint32_t QuadToNative(const GdiBitmap& b, std::uint32_t quad) {
  switch (b.bitsPerPixel) {
    case 1:
    case 4:
    case 8: return NearestIndex(TableOf(b), quad);
    case 24: return quad & 0xFFFFFF;
    default: return Channels(b).FromQuad(quad);
  }
}

std::uint32_t NativeToQuad(const GdiBitmap& b, std::uint32_t v) {
  switch (b.bitsPerPixel) {
    case 1:
    case 4:
    case 8: {
      auto table = TableOf(b);
      return v < table.size() ? QuadOf(table[v]) : 0;
    }
    case 24: return v & 0xFFFFFF;
    default: return Channels(b).ToQuad(v);
  }
}

void UnpackRow(const GdiBitmap& format, const std::uint8_t* row, int x0, int n,
               std::uint32_t* out) {
  switch (format.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
      UnpackIndices(row, format.bitsPerPixel, x0, n, out);
      break;
    case 16: {
      const std::uint8_t* p = row + 2 * static_cast<std::size_t>(x0);
      for (int i = 0; i < n; ++i, p += 2) out[i] = static_cast<std::uint32_t>(p[0] | (p[1] << 8));
      break;
    }
    case 24: {
      const std::uint8_t* p = row + 3 * static_cast<std::size_t>(x0);
      for (int i = 0; i < n; ++i, p += 3)
        out[i] = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                 (static_cast<std::uint32_t>(p[2]) << 16);
      break;
    }
    default:
      std::memcpy(out, row + 4 * static_cast<std::size_t>(x0), 4 * static_cast<std::size_t>(n));
      break;
  }
}

void PackRow(const GdiBitmap& format, std::uint8_t* row, int x0, int n, const std::uint32_t* in) {
  switch (format.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
      PackIndices(row, format.bitsPerPixel, x0, n, in);
      break;
    case 16: {
      std::uint8_t* p = row + 2 * static_cast<std::size_t>(x0);
      for (int i = 0; i < n; ++i, p += 2) {
        p[0] = static_cast<std::uint8_t>(in[i]);
        p[1] = static_cast<std::uint8_t>(in[i] >> 8);
      }
      break;
    }
    case 24: {
      std::uint8_t* p = row + 3 * static_cast<std::size_t>(x0);
      for (int i = 0; i < n; ++i, p += 3) {
        p[0] = static_cast<std::uint8_t>(in[i]);
        p[1] = static_cast<std::uint8_t>(in[i] >> 8);
        p[2] = static_cast<std::uint8_t>(in[i] >> 16);
      }
      break;
    }
    default:
      std::memcpy(row + 4 * static_cast<std::size_t>(x0), in, 4 * static_cast<std::size_t>(n));
      break;
  }
}

std::vector<RGBQUAD> PaletteColors(const GdiPalette& palette, std::size_t limit) {
  std::vector<RGBQUAD> colors;
  colors.reserve(std::min(limit, palette.entries.size()));
  for (const auto& e : palette.entries) {
    if (colors.size() == limit) break;
    colors.push_back(RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0});
  }
  return colors;
}

std::uint32_t ResolveColor(const DeviceContext* dc, COLORREF color) {
  if ((color >> 24) == 1) {
    const std::uint32_t index = color & 0xFFFF;
    if (dc && dc->palette && index < dc->palette->entries.size()) {
      const PALETTEENTRY& e = dc->palette->entries[index];
      return (static_cast<std::uint32_t>(e.peRed) << 16) | (static_cast<std::uint32_t>(e.peGreen) << 8) | e.peBlue;
    }
    return 0;
  }
  return RefToQuad(color & 0xFFFFFF);
}

}  // namespace pixels

using namespace pixels;

namespace {

// The 20 static colours of the default palette.
GdiPalette* DefaultPalette() {
  static GdiPalette* palette = [] {
    auto* p = new GdiPalette;
    p->stock = true;
    static constexpr std::uint8_t kColors[20][3] = {
        {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
        {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    for (const auto& c : kColors) p->entries.push_back(PALETTEENTRY{c[0], c[1], c[2], 0});
    return p;
  }();
  return palette;
}

// The 1 × 1 monochrome bitmap that a new memory context holds.
GdiBitmap* StockBitmap() {
  static GdiBitmap* bitmap = [] {
    auto* b = new GdiBitmap;
    b->stock = true;
    b->width = b->height = 1;
    b->bitsPerPixel = 1;
    b->stride = 4;
    b->bits.assign(4, 0);
    return b;
  }();
  return bitmap;
}

// Every live context, so that deleting a palette can take it out of the contexts using it.
std::unordered_set<DeviceContext*>& LiveContexts() {
  static std::unordered_set<DeviceContext*> contexts;
  return contexts;
}

}  // namespace

UniqueBitmap pixels::NewBitmap(int width, int height, int bits, bool dib, bool zeroed) {
  if (!BitmapSizeAllowed(width, height, bits)) return nullptr;
  const std::int64_t stride = DibRowBytes(width, bits);
  UniqueBitmap b(new GdiBitmap);
  b->width = width;
  b->height = height;
  b->bitsPerPixel = bits;
  b->dibSection = dib;
  b->stride = static_cast<std::size_t>(stride);
  if (zeroed)
    b->bits.assign(static_cast<std::size_t>(stride * height), 0);
  else
    b->bits.resize(static_cast<std::size_t>(stride * height));
  return b;
}

// ---- Release ----

bool DeleteObject(HGDIOBJ object) {
  if (!object || object->stock) return false;
  if (object->kind == GdiKind::Bitmap) {
    auto* b = static_cast<GdiBitmap*>(object);
    if (b->selectedInto) b->selectedInto->bitmap = StockBitmap();
  }
  if (object->kind == GdiKind::Palette) {
    for (DeviceContext* dc : LiveContexts())
      if (dc->palette == object) dc->palette = DefaultPalette();
  }
  delete object;
  return true;
}

bool DeleteDC(HDC dc) {
  if (!dc) return false;
  if (!LiveContexts().erase(dc)) return false;
  if (dc->bitmap && !dc->bitmap->stock) dc->bitmap->selectedInto = nullptr;
  delete dc;
  return true;
}

// ---- Contexts ----

HDC CreateCompatibleDC(HDC) {
  auto* dc = new DeviceContext;
  dc->bitmap = StockBitmap();
  dc->palette = DefaultPalette();
  LiveContexts().insert(dc);
  return dc;
}

HBITMAP SelectObject(HDC dc, HBITMAP bitmap) {
  if (!dc || !bitmap) return nullptr;
  if (bitmap->selectedInto && bitmap->selectedInto != dc) return nullptr;
  GdiBitmap* old = dc->bitmap;
  if (old && !old->stock) old->selectedInto = nullptr;
  dc->bitmap = bitmap;
  if (!bitmap->stock) bitmap->selectedInto = dc;
  return old;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  if (!object || object->kind != GdiKind::Bitmap) return nullptr;
  return SelectObject(dc, static_cast<HBITMAP>(object));
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, bool forceBackground) {
  if (!dc || !palette) return nullptr;
  GdiPalette* old = dc->palette;
  dc->palette = palette;
  dc->paletteBackground = forceBackground;
  return old;
}

unsigned RealizePalette(HDC dc) {
  if (!dc || !dc->palette) return 0;
  return static_cast<unsigned>(dc->palette->entries.size());
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  if (!dc) return CLR_INVALID;
  return std::exchange(dc->bkColor, color);
}
COLORREF GetBkColor(HDC dc) { return dc ? dc->bkColor : CLR_INVALID; }
COLORREF SetTextColor(HDC dc, COLORREF color) {
  if (!dc) return CLR_INVALID;
  return std::exchange(dc->textColor, color);
}
COLORREF GetTextColor(HDC dc) { return dc ? dc->textColor : CLR_INVALID; }

int SetStretchBltMode(HDC dc, int mode) {
  if (!dc || mode < BLACKONWHITE || mode > HALFTONE) return 0;
  return std::exchange(dc->stretchMode, mode);
}
int GetStretchBltMode(HDC dc) { return dc ? dc->stretchMode : 0; }

int SetMapMode(HDC dc, int mode) {
  if (!dc || mode < 1 || mode > 8) return 0;
  return std::exchange(dc->mapMode, mode);
}
int GetMapMode(HDC dc) { return dc ? dc->mapMode : 0; }

int GetDeviceCaps(HDC, int index) {
  switch (index) {
    case BITSPIXEL: return 32;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    default: return 0;
  }
}

HBITMAP GetCurrentBitmap(HDC dc) { return dc ? dc->bitmap : nullptr; }
HPALETTE GetCurrentPalette(HDC dc) { return dc ? dc->palette : nullptr; }

HGDIOBJ GetStockObject(int index) { return index == DEFAULT_PALETTE ? DefaultPalette() : nullptr; }

// ---- Bitmaps ----

HBITMAP CreateBitmap(int width, int height, unsigned planes, unsigned bitsPerPixel, const void* bits) {
  if (planes != 1 || bitsPerPixel == 0 || bitsPerPixel > 32) return nullptr;
  const int depth = bitsPerPixel == 1 ? 1 : 32;
  UniqueBitmap b = NewBitmap(width, height, depth, false);
  if (!b) return nullptr;
  if (bits) {
    const std::size_t source = static_cast<std::size_t>((width * depth + 15) / 16 * 2);
    const auto* from = static_cast<const std::uint8_t*>(bits);
    for (int y = 0; y < height; ++y)
      std::memcpy(b->Row(y), from + static_cast<std::size_t>(y) * source, std::min(source, b->stride));
  }
  return b.release();
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  const bool mono = dc && dc->bitmap && dc->bitmap->Monochrome();
  return NewBitmap(width, height, mono ? 1 : 32, false).release();
}

HBITMAP CreateDIBSection(const BITMAPINFOHEADER& header, std::span<const RGBQUAD> colors,
                         std::span<const std::uint32_t> masks) {
  const int bits = header.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
  if (header.biCompression != BI_RGB && !(header.biCompression == BI_BITFIELDS && (bits == 16 || bits == 32)))
    return nullptr;
  if (header.biCompression == BI_BITFIELDS && masks.size() < 3) return nullptr;
  if (header.biWidth < 0 || header.biHeight == std::numeric_limits<std::int32_t>::min()) return nullptr;
  const int height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  UniqueBitmap b = NewBitmap(header.biWidth, height, bits, true);
  if (!b) return nullptr;
  b->header = header;
  b->header.biSize = 40;
  b->header.biPlanes = 1;
  b->header.biSizeImage = static_cast<std::uint32_t>(b->bits.size());
  if (bits <= 8) {
    b->colors.assign(static_cast<std::size_t>(ColorsOfDepth(bits)), RGBQUAD{});
    std::copy_n(colors.begin(), std::min(colors.size(), b->colors.size()), b->colors.begin());
  }
  if (header.biCompression == BI_BITFIELDS) {
    for (int c = 0; c < 3; ++c) b->masks[c] = masks[c];
  }
  return b.release();
}

HBITMAP CopyBitmap(HBITMAP bitmap) {
  if (!bitmap) return nullptr;
  UniqueBitmap b(new GdiBitmap);
  b->width = bitmap->width;
  b->height = bitmap->height;
  b->bitsPerPixel = bitmap->bitsPerPixel;
  b->dibSection = bitmap->dibSection;
  b->header = bitmap->header;
  std::copy_n(bitmap->masks, 3, b->masks);
  b->colors = bitmap->colors;
  b->stride = bitmap->stride;
  b->bits = bitmap->bits;
  return b.release();
}

int GetObject(HBITMAP bitmap, BITMAP& out) {
  if (!bitmap) return 0;
  out = BITMAP{};
  out.bmWidth = bitmap->width;
  out.bmHeight = bitmap->height;
  out.bmWidthBytes = bitmap->dibSection ? static_cast<std::int32_t>(bitmap->stride)
                                        : (bitmap->width * bitmap->bitsPerPixel + 15) / 16 * 2;
  out.bmPlanes = 1;
  out.bmBitsPixel = static_cast<std::uint16_t>(bitmap->bitsPerPixel);
  out.bmBits = bitmap->dibSection ? bitmap->bits.data() : nullptr;
  return static_cast<int>(sizeof(BITMAP));
}

int GetObject(HBITMAP bitmap, DIBSECTION& out) {
  out = DIBSECTION{};
  if (!GetObject(bitmap, out.dsBm)) return 0;
  if (!bitmap->dibSection) return static_cast<int>(sizeof(BITMAP));
  out.dsBmih = bitmap->header;
  std::copy_n(bitmap->masks, 3, out.dsBitfields);
  return static_cast<int>(sizeof(DIBSECTION));
}

int GetObject(HPALETTE palette, std::uint16_t& entries) {
  if (!palette) return 0;
  entries = static_cast<std::uint16_t>(palette->entries.size());
  return 2;
}

// ---- Palettes ----

HPALETTE CreatePalette(std::span<const PALETTEENTRY> entries) {
  if (entries.empty() || entries.size() > 65535) return nullptr;
  auto* p = new GdiPalette;
  p->entries.assign(entries.begin(), entries.end());
  return p;
}

unsigned GetPaletteEntries(HPALETTE palette, unsigned start, std::span<PALETTEENTRY> out) {
  if (!palette || start >= palette->entries.size()) return 0;
  const std::size_t n = std::min(out.size(), palette->entries.size() - start);
  std::copy_n(palette->entries.begin() + start, n, out.begin());
  return static_cast<unsigned>(n);
}

unsigned GetNearestPaletteIndex(HPALETTE palette, COLORREF color) {
  if (!palette) return 0;
  return NearestIndex(PaletteColors(*palette), RefToQuad(color & 0xFFFFFF));
}

// ---- Pixels ----

COLORREF GetNearestColor(HDC dc, COLORREF color) {
  if (!dc) return CLR_INVALID;
  const std::uint32_t quad = ResolveColor(dc, color);
  const GdiBitmap* b = dc->bitmap;
  if (!b || b->stock || b->bitsPerPixel == 24 || b->bitsPerPixel == 32) return QuadToRef(quad);
  return QuadToRef(NativeToQuad(*b, QuadToNative(*b, quad)));
}

COLORREF GetPixel(HDC dc, int x, int y) {
  if (!dc || !dc->bitmap || x < 0 || y < 0 || x >= dc->bitmap->width || y >= dc->bitmap->height) return CLR_INVALID;
  std::uint32_t v;
  UnpackRow(*dc->bitmap, y, x, 1, &v);
  return QuadToRef(NativeToQuad(*dc->bitmap, v));
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) {
  if (!dc || !dc->bitmap || dc->bitmap->stock || x < 0 || y < 0 || x >= dc->bitmap->width ||
      y >= dc->bitmap->height)
    return CLR_INVALID;
  GdiBitmap& b = *dc->bitmap;
  const std::uint32_t v = QuadToNative(b, ResolveColor(dc, color));
  PackRow(b, y, x, 1, &v);
  return QuadToRef(NativeToQuad(b, v));
}

void FillSolidRect(HDC dc, const TRect& rect, COLORREF color) {
  if (!dc || !dc->bitmap || dc->bitmap->stock) return;
  GdiBitmap& b = *dc->bitmap;
  const int left = std::max(rect.Left, 0), right = std::min(rect.Right, b.width);
  const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, b.height);
  if (left >= right || top >= bottom) return;
  const std::vector<std::uint32_t> row(static_cast<std::size_t>(right - left), QuadToNative(b, ResolveColor(dc, color)));
  for (int y = top; y < bottom; ++y) PackRow(b, y, left, right - left, row.data());
}

}  // namespace tk
