// The graphics device, in software, with the semantics of the Windows graphics interface under
// its own names: bitmaps, palettes, memory device contexts and raster operations. The screen is
// a 32-bit true-colour device. Handles are pointers to the objects below; the Unique* types
// release them on every path.
//
// Pixel rules of the raster operations (BitBlt, StretchBlt):
// - colour to monochrome: source pixels equal to the source context's background colour become
//   1, all others 0;
// - monochrome device bitmap to colour: 0 takes the destination context's text colour, 1 its
//   background colour (a 1-bit DIB section shows its own colour table instead);
// - indexed destinations receive the nearest colour of their colour table, and the raster
//   operation combines the indices, as on the platform;
// - stretching picks the nearest source pixel (no blending) in every stretch mode.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "toolkit/device/colors.h"
#include "toolkit/core/handles.h"

namespace tk {

// ---- Structures of device-independent bitmaps ----

struct RGBQUAD {
  std::uint8_t rgbBlue = 0;
  std::uint8_t rgbGreen = 0;
  std::uint8_t rgbRed = 0;
  std::uint8_t rgbReserved = 0;
  bool operator==(const RGBQUAD&) const = default;
};

struct BITMAPINFOHEADER {
  std::uint32_t biSize = 40;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;  // positive: rows bottom row first; negative: top row first
  std::uint16_t biPlanes = 1;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr std::uint32_t BI_RLE8 = 1;
inline constexpr std::uint32_t BI_RLE4 = 2;
inline constexpr std::uint32_t BI_BITFIELDS = 3;
inline constexpr unsigned DIB_RGB_COLORS = 0;

// Bytes of one row of a device-independent bitmap: rounded up to 4 bytes.
constexpr std::int64_t DibRowBytes(std::int64_t width, int bits) { return (width * bits + 31) / 32 * 4; }
// Entries of the colour table of a device-independent bitmap of that many bits per pixel: 2, 16
// and 256 at 1, 4 and 8 bits; none at any other depth.
constexpr int ColorsOfDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 ? 1 << bits : 0; }

// The largest bitmap the device makes: 2^28 bytes of pixels, rows padded to 4 bytes (a 32-bit
// bitmap of 8192 x 8192). Every bitmap is made through this check, so a request above it gives
// a null handle without allocating anything; TBitmap turns that into EOutOfResources naming the
// size, and the BMP reader refuses such files as not valid. Quirk: a limit of our own, so that no
// file's header can ask for more memory than that. Test:
// Bitmap.SizesAndConversionsAboveTheDeviceLimitFailNamingTheSize.
inline constexpr std::int64_t MaxBitmapBytes = std::int64_t{1} << 28;
// Whether a bitmap of this size and depth is within MaxBitmapBytes (negative sizes are not).
constexpr bool BitmapSizeAllowed(std::int64_t width, std::int64_t height, int bits) {
  if (width < 0 || height < 0 || width > MaxBitmapBytes * 8) return false;
  const std::int64_t stride = DibRowBytes(width, bits);
  return stride <= MaxBitmapBytes && (height == 0 || stride <= MaxBitmapBytes / height);
}

struct BITMAP {
  std::int32_t bmType = 0;
  std::int32_t bmWidth = 0;
  std::int32_t bmHeight = 0;
  std::int32_t bmWidthBytes = 0;
  std::uint16_t bmPlanes = 1;
  std::uint16_t bmBitsPixel = 0;
  void* bmBits = nullptr;  // the pixels of a DIB section; null for a device bitmap
};

struct DIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;
  std::uint32_t dsBitfields[3] = {0, 0, 0};
  void* dshSection = nullptr;
  std::uint32_t dsOffset = 0;
};

struct PALETTEENTRY {
  std::uint8_t peRed = 0;
  std::uint8_t peGreen = 0;
  std::uint8_t peBlue = 0;
  std::uint8_t peFlags = 0;
  bool operator==(const PALETTEENTRY&) const = default;
};

// ---- The objects ----

enum class GdiKind : std::uint8_t { Bitmap, Palette, Region };

struct GdiObject {
  explicit GdiObject(GdiKind k) : kind(k) {}
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  virtual ~GdiObject() = default;
  const GdiKind kind;
  bool stock = false;  // stock objects are never deleted
};

// Pixel memory. Growing it leaves the new bytes as they are: a bitmap's pixels are zero-filled
// when it is made, unless the conversion that makes it writes every byte at once.
template <class T>
struct PixelAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = PixelAllocator<U>;
  };
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using PixelBytes = std::vector<std::uint8_t, PixelAllocator<std::uint8_t>>;

// A bitmap: either a device bitmap (the screen's 32-bit format, or monochrome) or a DIB section
// (1, 4, 8, 16, 24 or 32 bits, with a colour table when indexed and channel masks at 16 and 32
// bits). Rows are kept top row first, each DibRowBytes long.
struct GdiBitmap : GdiObject {
  GdiBitmap() : GdiObject(GdiKind::Bitmap) {}
  int width = 0;
  int height = 0;
  int bitsPerPixel = 32;
  bool dibSection = false;
  BITMAPINFOHEADER header;             // a DIB section's header as it was created
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue masks at 16 and 32 bits
  std::vector<RGBQUAD> colors;         // 2^bits entries for an indexed DIB section
  std::size_t stride = 0;
  PixelBytes bits;
  DeviceContext* selectedInto = nullptr;

  std::uint8_t* Row(int y) { return bits.data() + static_cast<std::size_t>(y) * stride; }
  const std::uint8_t* Row(int y) const { return bits.data() + static_cast<std::size_t>(y) * stride; }
  bool Monochrome() const { return bitsPerPixel == 1; }
  bool Indexed() const { return bitsPerPixel <= 8; }
};

struct GdiPalette : GdiObject {
  GdiPalette() : GdiObject(GdiKind::Palette) {}
  std::vector<PALETTEENTRY> entries;
};

// A memory device context.
struct DeviceContext {
  DeviceContext() = default;
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;
  GdiBitmap* bitmap = nullptr;
  GdiPalette* palette = nullptr;
  bool paletteBackground = false;
  COLORREF bkColor = 0xFFFFFF;
  COLORREF textColor = 0x000000;
  int stretchMode = 1;
  int mapMode = 1;
};

// ---- Release and RAII ----

// Deletes a bitmap, palette or region. A bitmap or palette still selected into a context is
// taken out of it first (the context falls back to its default object). Stock objects and null
// handles are left alone (false).
bool DeleteObject(HGDIOBJ object);
bool DeleteDC(HDC dc);

struct GdiObjectDeleter {
  void operator()(GdiObject* object) const { DeleteObject(object); }
};
struct DCDeleter {
  void operator()(DeviceContext* dc) const { DeleteDC(dc); }
};
using UniqueBitmap = std::unique_ptr<GdiBitmap, GdiObjectDeleter>;
using UniquePalette = std::unique_ptr<GdiPalette, GdiObjectDeleter>;
using UniqueRegion = std::unique_ptr<GdiRegion, GdiObjectDeleter>;
using UniqueDC = std::unique_ptr<DeviceContext, DCDeleter>;

// ---- Contexts ----

// A memory context compatible with the given one (null: the screen). It starts with the stock
// 1 × 1 monochrome bitmap and the default palette selected.
HDC CreateCompatibleDC(HDC dc);

// Selects a bitmap and returns the one it replaces; null when the bitmap is selected into
// another context or either handle is null.
HBITMAP SelectObject(HDC dc, HBITMAP bitmap);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, bool forceBackground);
// Maps the selected palette; returns its number of entries (the screen has no palette to map).
unsigned RealizePalette(HDC dc);

inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF GetBkColor(HDC dc);
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF GetTextColor(HDC dc);

inline constexpr int BLACKONWHITE = 1;
inline constexpr int WHITEONBLACK = 2;
inline constexpr int COLORONCOLOR = 3;
inline constexpr int HALFTONE = 4;
int SetStretchBltMode(HDC dc, int mode);
int GetStretchBltMode(HDC dc);

inline constexpr int MM_TEXT = 1;
int SetMapMode(HDC dc, int mode);
int GetMapMode(HDC dc);

inline constexpr int BITSPIXEL = 12;
inline constexpr int PLANES = 14;
inline constexpr int NUMCOLORS = 24;
inline constexpr int SIZEPALETTE = 104;
int GetDeviceCaps(HDC dc, int index);

// The bitmap and palette currently selected into a context.
HBITMAP GetCurrentBitmap(HDC dc);
HPALETTE GetCurrentPalette(HDC dc);

// ---- Stock objects ----

inline constexpr int DEFAULT_PALETTE = 15;
// The default palette (the 20 static colours) or null.
HGDIOBJ GetStockObject(int index);

// ---- Bitmaps ----

// A device bitmap: monochrome for 1 bit per pixel, the screen's 32-bit format otherwise. The
// optional bits are rows top row first, each padded to 2 bytes. Null for planes other than 1 or
// a size out of range.
HBITMAP CreateBitmap(int width, int height, unsigned planes, unsigned bitsPerPixel,
                     const void* bits = nullptr);
// A device bitmap in the format of the bitmap selected into the context: monochrome when that
// is monochrome (so a fresh memory context gives a monochrome bitmap), else 32-bit.
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
// A zero-filled DIB section of the header's size and depth (1, 4, 8, 16, 24, 32; BI_RGB, or
// BI_BITFIELDS at 16 and 32 bits with masks). Indexed sections take up to 2^bits colours (the
// rest black). Null for an unsupported header.
HBITMAP CreateDIBSection(const BITMAPINFOHEADER& header, std::span<const RGBQUAD> colors = {},
                         std::span<const std::uint32_t> masks = {});
// A copy of a bitmap in the same format.
HBITMAP CopyBitmap(HBITMAP bitmap);

// The object's description: sizeof(BITMAP), sizeof(DIBSECTION) for a DIB section asked with a
// DIBSECTION, 0 for a null handle.
int GetObject(HBITMAP bitmap, BITMAP& out);
int GetObject(HBITMAP bitmap, DIBSECTION& out);
// The palette's number of entries.
int GetObject(HPALETTE palette, std::uint16_t& entries);

// Reads rows of a bitmap as a device-independent bitmap described by the header (width and
// height as the bitmap's; bit count 1, 4, 8, 16, 24 or 32; BI_RGB). Rows are numbered as in the
// header: bottom row first for a positive height. With bits empty only the header is completed
// (biSizeImage). The colour table of an indexed target is written to colors (2^bits entries):
// an indexed source of the same depth keeps its own colours; otherwise the palette selected
// into the context is used at 8 bits, and a standard palette (black and white; the 16 standard
// colours; the 16 standard colours, a 6×6×6 cube and a grey ramp), each pixel taking the nearest
// colour. Returns the number of rows read, 0 on failure.
int GetDIBits(HDC dc, HBITMAP bitmap, unsigned startScan, unsigned scanLines, std::span<std::uint8_t> bits,
              BITMAPINFOHEADER& header, std::span<RGBQUAD> colors, unsigned usage = DIB_RGB_COLORS);

// The standard colour table of a depth (2, 16 or 256 entries) that GetDIBits uses.
std::span<const RGBQUAD> StandardColorTable(int bits);

// ---- Palettes ----

HPALETTE CreatePalette(std::span<const PALETTEENTRY> entries);
unsigned GetPaletteEntries(HPALETTE palette, unsigned start, std::span<PALETTEENTRY> out);
// The index of the palette entry nearest to the colour.
unsigned GetNearestPaletteIndex(HPALETTE palette, COLORREF color);

// ---- Pixels and colours ----

// The colour the context can show that is nearest to the given one: for an indexed bitmap the
// nearest entry of its colour table, else the colour itself (palette flags removed).
COLORREF GetNearestColor(HDC dc, COLORREF color);
// The pixel's colour, or CLR_INVALID outside the bitmap.
COLORREF GetPixel(HDC dc, int x, int y);
// Sets a pixel to the nearest colour the bitmap can show and returns that colour, or
// CLR_INVALID outside the bitmap.
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);

// ---- Raster operations ----

inline constexpr std::uint32_t SRCCOPY = 0x00CC0020;
inline constexpr std::uint32_t SRCPAINT = 0x00EE0086;
inline constexpr std::uint32_t SRCAND = 0x008800C6;
inline constexpr std::uint32_t SRCINVERT = 0x00660046;
inline constexpr std::uint32_t SRCERASE = 0x00440328;
inline constexpr std::uint32_t NOTSRCCOPY = 0x00330008;
inline constexpr std::uint32_t NOTSRCERASE = 0x001100A6;
inline constexpr std::uint32_t MERGEPAINT = 0x00BB0226;
inline constexpr std::uint32_t DSTINVERT = 0x00550009;
inline constexpr std::uint32_t BLACKNESS = 0x00000042;
inline constexpr std::uint32_t WHITENESS = 0x00FF0062;

// Every raster operation that combines source and destination only (no brush pattern) is
// supported. Pixels outside the source or destination bitmap are left alone. Mapping modes
// other than MM_TEXT are kept but coordinates are always device pixels.
bool BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, std::uint32_t rop);
// A negative width or height mirrors.
bool StretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, int swidth,
                int sheight, std::uint32_t rop);

// A stretch copy that leaves out the source pixels of the transparent colour (matched as the
// colour-to-monochrome rule matches the background colour).
bool TransparentBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, int swidth,
                    int sheight, COLORREF transparent);

// A new DIB section of the bitmap's size at the given depth (BI_RGB, or bit fields with masks
// at 16 and 32 bits) holding the bitmap's pixels, each the nearest colour of the colour table
// at 1, 4 and 8 bits; without colours an indexed section takes the standard colour table.
HBITMAP ConvertToDIBSection(HBITMAP bitmap, int bits, std::span<const RGBQUAD> colors = {},
                            std::span<const std::uint32_t> masks = {});
// A new device bitmap holding the bitmap's pixels: monochrome or 32-bit.
HBITMAP ConvertToDeviceBitmap(HBITMAP bitmap, bool monochrome);

// Fills a rectangle of the context's bitmap with a colour (nearest colour for indexed bitmaps).
void FillSolidRect(HDC dc, const TRect& rect, COLORREF color);

// Draws a 32-bit bitmap with its alpha channel over the destination (straight, not
// premultiplied, alpha), stretched with nearest pixels. With blend false the alpha channel only
// decides: pixels below half opacity are left out, the others are drawn opaque.
void AlphaDraw(HDC dest, const TRect& rect, HBITMAP source, bool blend = true);

// ---- Selections that undo themselves ----

class BitmapSelection {
 public:
  BitmapSelection(HDC dc, HBITMAP bitmap) : dc_(dc), old_(SelectObject(dc, bitmap)) {}
  BitmapSelection(const BitmapSelection&) = delete;
  BitmapSelection& operator=(const BitmapSelection&) = delete;
  ~BitmapSelection() {
    if (old_) SelectObject(dc_, old_);
  }
  bool Ok() const { return old_ != nullptr; }

 private:
  HDC dc_;
  HBITMAP old_;
};

class PaletteSelection {
 public:
  PaletteSelection(HDC dc, HPALETTE palette, bool background)
      : dc_(dc), old_(palette ? SelectPalette(dc, palette, background) : nullptr) {}
  PaletteSelection(const PaletteSelection&) = delete;
  PaletteSelection& operator=(const PaletteSelection&) = delete;
  ~PaletteSelection() {
    if (old_) SelectPalette(dc_, old_, true);
  }

 private:
  HDC dc_;
  HPALETTE old_;
};

}  // namespace tk
