#include "toolkit/device/bmpfile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "toolkit/core/bytes.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/device/gdi_pixels.h"
#include "toolkit/core/streams.h"

namespace tk {

namespace {

[[noreturn]] void Invalid() { throw EInvalidGraphic(std::string(SInvalidImage)); }

constexpr std::uint32_t kAlphaBitfields = 6;
// An RLE image may not describe more pixels than this many per byte of its data (a run of two
// bytes gives at most 255), so a small file cannot ask for a huge bitmap.
constexpr std::int64_t kRlePixelsPerByte = 256;

// Decodes RLE8 or RLE4 data into the rows of an indexed section (top row first in memory, the
// data's first row being the bottom one). Runs past the end of a row are cut at its end; the
// decoding ends at the end-of-bitmap code, at the last row, or where the data ends.
void DecodeRle(std::span<const std::uint8_t> data, GdiBitmap& b, bool rle4) {
  int x = 0, y = 0;
  auto put = [&](std::uint32_t index) {
    if (x < b.width && y < b.height) PackIndices(b.Row(b.height - 1 - y), b.bitsPerPixel, x, 1, &index);
    ++x;
  };
  std::size_t p = 0;
  while (p + 2 <= data.size() && y < b.height) {
    const int count = data[p], value = data[p + 1];
    p += 2;
    if (count > 0) {
      const int n = std::min(count, std::max(0, b.width - x));
      for (int i = 0; i < n; ++i) put(rle4 ? ((i & 1) ? (value & 0xF) : (value >> 4)) : static_cast<std::uint32_t>(value));
      x += count - n;
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta
      if (p + 2 > data.size()) break;
      x += data[p];
      y += data[p + 1];
      p += 2;
    } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
      const std::size_t bytes = rle4 ? (static_cast<std::size_t>(value) + 1) / 2 : static_cast<std::size_t>(value);
      if (p + bytes > data.size()) break;
      for (int i = 0; i < value; ++i) {
        if (x >= b.width) {
          x += value - i;
          break;
        }
        put(rle4 ? ((i & 1) ? (data[p + static_cast<std::size_t>(i / 2)] & 0xF) : (data[p + static_cast<std::size_t>(i / 2)] >> 4))
                 : data[p + static_cast<std::size_t>(i)]);
      }
      p += (bytes + 1) & ~std::size_t{1};
    }
  }
}

// Parses from the info header on. pixelOffset, when given, is where the pixels start relative
// to the info header; else they follow the colour table. Returns the bitmap and the end of
// the pixel data relative to the info header.
std::pair<UniqueBitmap, std::size_t> ParseDib(std::span<const std::uint8_t> d, std::optional<std::int64_t> pixelOffset) {
  if (d.size() < 4) Invalid();
  const std::uint32_t headerSize = LoadU32(d, 0);
  const bool core = headerSize == 12;
  if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 64 && headerSize != 108 &&
      headerSize != 124)
    Invalid();
  if (d.size() < headerSize) Invalid();

  BITMAPINFOHEADER h;
  if (core) {
    h.biWidth = LoadU16(d, 4);
    h.biHeight = LoadU16(d, 6);
    h.biBitCount = LoadU16(d, 10);
  } else {
    h.biWidth = static_cast<std::int32_t>(LoadU32(d, 4));
    h.biHeight = static_cast<std::int32_t>(LoadU32(d, 8));
    h.biBitCount = LoadU16(d, 14);
    h.biCompression = LoadU32(d, 16);
    h.biSizeImage = LoadU32(d, 20);
    h.biXPelsPerMeter = static_cast<std::int32_t>(LoadU32(d, 24));
    h.biYPelsPerMeter = static_cast<std::int32_t>(LoadU32(d, 28));
    h.biClrUsed = LoadU32(d, 32);
    h.biClrImportant = LoadU32(d, 36);
  }
  const int bits = h.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) Invalid();
  if (core && bits == 16) Invalid();
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == std::numeric_limits<std::int32_t>::min()) Invalid();
  const bool topDown = h.biHeight < 0;
  const int height = topDown ? -h.biHeight : h.biHeight;

  std::uint32_t compression = h.biCompression;
  const bool os2v2 = headerSize == 64;
  const bool bitfields = !os2v2 && (compression == BI_BITFIELDS || compression == kAlphaBitfields);
  if (compression == BI_RLE8 && bits != 8) Invalid();
  if (compression == BI_RLE4 && bits != 4) Invalid();
  if (bitfields && bits != 16 && bits != 32) Invalid();
  if (compression > BI_RLE4 && !bitfields) Invalid();  // JPEG, PNG and OS/2 Huffman or RLE24
  const bool rle = compression == BI_RLE8 || compression == BI_RLE4;
  if (rle && topDown) Invalid();

  // Channel masks: inside a long header, or after a 40-byte one.
  std::size_t tableStart = headerSize;
  std::uint32_t masks[3] = {0, 0, 0};
  if (bitfields) {
    std::size_t at = headerSize;
    if (headerSize >= 52) {
      at = 40;
    } else {
      tableStart += compression == kAlphaBitfields ? 16 : 12;
    }
    if (d.size() < at + 12 || d.size() < tableStart) Invalid();
    for (int c = 0; c < 3; ++c) masks[c] = LoadU32(d, at + 4 * static_cast<std::size_t>(c));
    if (bits == 16 && ((masks[0] | masks[1] | masks[2]) > 0xFFFF)) Invalid();
  }

  // Colour table: biClrUsed entries (all 2^bits when 0), cut to what lies before the pixels.
  const std::size_t entrySize = core ? 3 : 4;
  std::vector<RGBQUAD> colors;
  std::size_t tableEnd = tableStart;
  if (bits <= 8) {
    std::size_t count = static_cast<std::size_t>(ColorsOfDepth(bits));
    if (h.biClrUsed != 0 && h.biClrUsed < count) count = h.biClrUsed;
    if (pixelOffset && *pixelOffset >= static_cast<std::int64_t>(tableStart) &&
        *pixelOffset < static_cast<std::int64_t>(tableStart + count * entrySize))
      count = static_cast<std::size_t>(*pixelOffset - static_cast<std::int64_t>(tableStart)) / entrySize;
    if (count == 0 || tableStart + count * entrySize > d.size()) Invalid();
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = tableStart + i * entrySize;
      colors.push_back(RGBQUAD{d[at], d[at + 1], d[at + 2], 0});
    }
    tableEnd = tableStart + count * entrySize;
  } else if (h.biClrUsed != 0 && !pixelOffset) {
    // A packed true-colour DIB may carry a colour table before its pixels.
    if (h.biClrUsed > 256) Invalid();
    tableEnd += h.biClrUsed * entrySize;
  }

  std::size_t start = tableEnd;
  if (pixelOffset) {
    if (*pixelOffset > static_cast<std::int64_t>(d.size())) Invalid();
    if (*pixelOffset >= static_cast<std::int64_t>(tableEnd)) start = static_cast<std::size_t>(*pixelOffset);
  }
  if (start > d.size()) Invalid();
  const std::span<const std::uint8_t> pixels = d.subspan(start);

  const std::int64_t stride = DibRowBytes(h.biWidth, bits);
  if (rle) {
    const std::int64_t budget = static_cast<std::int64_t>(pixels.size()) * kRlePixelsPerByte + 65536;
    if (static_cast<std::int64_t>(h.biWidth) * height > budget) Invalid();
  } else {
    // All rows must be there; the padding of the last row may be missing.
    if (height > 1 && stride > static_cast<std::int64_t>(pixels.size())) Invalid();
    const std::int64_t need = stride * (height - 1) + (static_cast<std::int64_t>(h.biWidth) * bits + 7) / 8;
    if (need > static_cast<std::int64_t>(pixels.size())) Invalid();
  }

  BITMAPINFOHEADER section = h;
  section.biSize = 40;
  section.biCompression = bitfields ? BI_BITFIELDS : BI_RGB;
  section.biClrUsed = core ? 0 : h.biClrUsed;
  UniqueBitmap b(CreateDIBSection(section, colors, masks));
  if (!b) Invalid();

  std::size_t end = start;
  if (rle) {
    std::span<const std::uint8_t> data = pixels;
    if (h.biSizeImage != 0 && h.biSizeImage < data.size()) data = data.first(h.biSizeImage);
    DecodeRle(data, *b, compression == BI_RLE4);
    end += data.size();
  } else {
    for (int k = 0; k < height; ++k) {
      const std::size_t from = static_cast<std::size_t>(stride) * static_cast<std::size_t>(k);
      const std::size_t n = std::min(static_cast<std::size_t>(stride), pixels.size() - from);
      std::memcpy(b->Row(topDown ? k : height - 1 - k), pixels.data() + from, n);
      end = start + from + n;
    }
  }
  return {std::move(b), end};
}

}  // namespace

BitmapFileResult ReadBitmapFile(std::span<const std::uint8_t> data) {
  if (data.size() < 14 + 12 || data[0] != 'B' || data[1] != 'M') Invalid();
  const std::uint32_t fileSize = LoadU32(data, 2);
  const std::int64_t offBits = static_cast<std::int64_t>(LoadU32(data, 10)) - 14;
  auto [bitmap, end] = ParseDib(data.subspan(14), offBits);
  std::size_t consumed = 14 + end;
  if (fileSize > consumed && fileSize <= data.size()) consumed = fileSize;
  return {std::move(bitmap), consumed};
}

BitmapFileResult ReadPackedDib(std::span<const std::uint8_t> data) {
  auto [bitmap, end] = ParseDib(data, std::nullopt);
  return {std::move(bitmap), end};
}

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;

std::size_t MaskBytes(const BITMAPINFOHEADER& h) { return h.biCompression == BI_BITFIELDS ? 12 : 0; }
std::size_t PixelOffset(const BITMAPINFOHEADER& h) {
  return kFileHeaderSize + kInfoHeaderSize + MaskBytes(h) + 4 * static_cast<std::size_t>(ColorsOfDepth(h.biBitCount));
}
std::size_t RowsSize(const BITMAPINFOHEADER& h) {
  const std::int64_t height = h.biHeight < 0 ? -std::int64_t{h.biHeight} : h.biHeight;
  return static_cast<std::size_t>(DibRowBytes(std::max(h.biWidth, 0), h.biBitCount) * height);
}

void PutU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  PutU16(p, v & 0xFFFF);
  PutU16(p + 2, v >> 16);
}

}  // namespace

std::size_t BitmapFileSize(const BITMAPINFOHEADER& header) { return PixelOffset(header) + RowsSize(header); }

PixelView LayOutBitmapFile(std::span<std::uint8_t> file, const BITMAPINFOHEADER& h,
                           std::span<const RGBQUAD> colors, std::span<const std::uint32_t> masks) {
  const std::size_t offset = PixelOffset(h);
  std::uint8_t* p = file.data();
  p[0] = 'B';
  p[1] = 'M';
  PutU32(p + 2, static_cast<std::uint32_t>(offset + RowsSize(h)));
  PutU32(p + 6, 0);
  PutU32(p + 10, static_cast<std::uint32_t>(offset));
  p += kFileHeaderSize;
  PutU32(p, static_cast<std::uint32_t>(kInfoHeaderSize));
  PutU32(p + 4, static_cast<std::uint32_t>(h.biWidth));
  PutU32(p + 8, static_cast<std::uint32_t>(h.biHeight));
  PutU16(p + 12, h.biPlanes);
  PutU16(p + 14, h.biBitCount);
  PutU32(p + 16, h.biCompression);
  PutU32(p + 20, h.biSizeImage);
  PutU32(p + 24, static_cast<std::uint32_t>(h.biXPelsPerMeter));
  PutU32(p + 28, static_cast<std::uint32_t>(h.biYPelsPerMeter));
  PutU32(p + 32, h.biClrUsed);
  PutU32(p + 36, h.biClrImportant);
  p += kInfoHeaderSize;
  if (MaskBytes(h) != 0) {
    for (std::size_t c = 0; c < 3; ++c) PutU32(p + 4 * c, c < masks.size() ? masks[c] : 0);
    p += MaskBytes(h);
  }
  const std::size_t entries = static_cast<std::size_t>(ColorsOfDepth(h.biBitCount));
  const std::size_t given = std::min(entries, colors.size());
  static_assert(sizeof(RGBQUAD) == 4);
  if (given > 0) std::memcpy(p, colors.data(), 4 * given);
  std::memset(p + 4 * given, 0, 4 * (entries - given));
  auto* table = reinterpret_cast<RGBQUAD*>(p);
  if (h.biHeight < 0)
    return {h.biWidth, -h.biHeight, h.biBitCount,
            static_cast<std::ptrdiff_t>(DibRowBytes(h.biWidth, h.biBitCount)), file.data() + offset,
            std::span<RGBQUAD>(table, entries)};
  return BottomUpRows(file.data() + offset, h.biWidth, h.biHeight, h.biBitCount,
                      std::span<RGBQUAD>(table, entries));
}

std::vector<std::uint8_t> BitmapFileBytes(const BITMAPINFOHEADER& header, const ConstPixelView& rows,
                                          std::span<const std::uint32_t> masks) {
  std::vector<std::uint8_t> out(BitmapFileSize(header));
  CopyRows(rows, LayOutBitmapFile(out, header, rows.palette, masks));
  return out;
}

std::vector<std::uint8_t> BitmapFileBytes(HBITMAP b) {
  if (!b) return {};
  BITMAPINFOHEADER h;
  h.biWidth = b->width;
  h.biHeight = b->height;
  h.biBitCount = static_cast<std::uint16_t>(b->bitsPerPixel);
  h.biCompression = b->dibSection && b->header.biCompression == BI_BITFIELDS ? BI_BITFIELDS : BI_RGB;
  h.biSizeImage = static_cast<std::uint32_t>(b->stride * static_cast<std::size_t>(b->height));
  if (b->dibSection) {
    h.biXPelsPerMeter = b->header.biXPelsPerMeter;
    h.biYPelsPerMeter = b->header.biYPelsPerMeter;
  }
  // The colour table as the bitmap shows its indices, reserved bytes 0.
  std::vector<RGBQUAD> colors(pixels::TableOf(*b).begin(), pixels::TableOf(*b).end());
  for (RGBQUAD& c : colors) c.rgbReserved = 0;
  ConstPixelView rows = ViewOf(static_cast<const GdiBitmap&>(*b));
  rows.palette = colors;
  return BitmapFileBytes(h, rows, b->masks);
}

void WriteBitmapFile(HBITMAP bitmap, TStream& stream) { stream.WriteBuffer(BitmapFileBytes(bitmap)); }

}  // namespace tk
