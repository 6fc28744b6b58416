#include "toolkit/device/bmpfile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "toolkit/core/byte_reader.h"
#include "toolkit/core/bytes.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/device/gdi_pixels.h"
#include "toolkit/core/streams.h"

namespace tk {

namespace {

void FailInvalid(std::string reason) { throw EInvalidGraphic(std::string(SInvalidImage), Reason{std::move(reason)}); }

constexpr std::uint32_t kAlphaBitfields = 6;
// An RLE image may not describe more pixels than this many per byte of its data (a run of two
// bytes gives at most 255), so a small file cannot ask for a huge bitmap. Quirk: a limit of our
// own. Test: BmpFile.BadFilesFailCleanly.
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

// ---- Reading, in four parts: the info header, the channel masks, the colour table, the pixels.

// What the info header says, checked.
struct DibHeader {
  std::uint32_t size = 0;  // 12 for the old core header; 40, 52, 56, 64, 108 or 124
  BITMAPINFOHEADER info;
  bool core = false;
  bool topDown = false;
  int height = 0;          // the number of rows
  bool bitfields = false;  // channel masks give the layout of 16- and 32-bit pixels
  bool rle = false;
};

bool KnownHeaderSize(std::uint32_t size) {
  for (std::uint32_t known : {12u, 40u, 52u, 56u, 64u, 108u, 124u})
    if (size == known) return true;
  return false;
}

DibHeader ReadDibHeader(ByteReader& d) {
  DibHeader h;
  h.size = d.ReadExactU32("info header size");
  d.Require(KnownHeaderSize(h.size), "an info header of " + std::to_string(h.size) + " bytes is of no known kind");
  ByteReader r = d.At(0, h.size, "info header");
  r.Skip(4);
  h.core = h.size == 12;
  BITMAPINFOHEADER& i = h.info;
  if (h.core) {
    i.biWidth = r.ReadU16();
    i.biHeight = r.ReadU16();
    r.Skip(2);
    i.biBitCount = r.ReadU16();
  } else {
    i.biWidth = static_cast<std::int32_t>(r.ReadU32());
    i.biHeight = static_cast<std::int32_t>(r.ReadU32());
    r.Skip(2);
    i.biBitCount = r.ReadU16();
    i.biCompression = r.ReadU32();
    i.biSizeImage = r.ReadU32();
    i.biXPelsPerMeter = static_cast<std::int32_t>(r.ReadU32());
    i.biYPelsPerMeter = static_cast<std::int32_t>(r.ReadU32());
    i.biClrUsed = r.ReadU32();
    i.biClrImportant = r.ReadU32();
  }
  const int bits = i.biBitCount;
  d.Require(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32,
            std::to_string(bits) + " bits per pixel");
  d.Require(!(h.core && bits == 16), "16 bits per pixel in a core header");
  d.Require(i.biWidth > 0, "a width of " + std::to_string(i.biWidth));
  d.Require(i.biHeight != 0 && i.biHeight != std::numeric_limits<std::int32_t>::min(),
            "a height of " + std::to_string(i.biHeight));
  h.topDown = i.biHeight < 0;
  h.height = h.topDown ? -i.biHeight : i.biHeight;

  const std::uint32_t compression = i.biCompression;
  // OS/2's 64-byte header numbers its compressions otherwise: 3 is Huffman coding there.
  h.bitfields = h.size != 64 && (compression == BI_BITFIELDS || compression == kAlphaBitfields);
  h.rle = compression == BI_RLE8 || compression == BI_RLE4;
  d.Require(compression != BI_RLE8 || bits == 8, "RLE8 at " + std::to_string(bits) + " bits per pixel");
  d.Require(compression != BI_RLE4 || bits == 4, "RLE4 at " + std::to_string(bits) + " bits per pixel");
  d.Require(!h.bitfields || bits == 16 || bits == 32, "bit fields at " + std::to_string(bits) + " bits per pixel");
  // JPEG, PNG and OS/2 Huffman or RLE24 are not read.
  d.Require(compression <= BI_RLE4 || h.bitfields, "compression " + std::to_string(compression));
  d.Require(!(h.rle && h.topDown), "RLE rows top row first");
  return h;
}

// The channel masks of a bit-field header: inside a header of 52 bytes and more, else right
// behind it (three masks, or four with the alpha mask). Returns where the colour table begins.
std::size_t ReadMasks(const ByteReader& d, const DibHeader& h, std::uint32_t (&masks)[3]) {
  std::size_t tableStart = h.size;
  if (!h.bitfields) return tableStart;
  std::size_t at = h.size;
  if (h.size >= 52)
    at = 40;
  else
    tableStart += h.info.biCompression == kAlphaBitfields ? 16 : 12;
  ByteReader r = d.At(at, 12, "channel masks");
  d.At(0, tableStart, "channel masks");
  for (std::uint32_t& mask : masks) mask = r.ReadU32();
  d.Require(h.info.biBitCount != 16 || (masks[0] | masks[1] | masks[2]) <= 0xFFFF,
            "a channel mask wider than 16 bits at 16 bits per pixel");
  return tableStart;
}

// The colour table: biClrUsed entries (all 2^bits when 0) of 4 bytes (3 in a core header), cut
// to what lies before the pixels. Returns where the table ends. Quirk: writers that count the
// colours used, or place the pixels early, are read. Test: BmpFile.HeaderVariantsInRealUse.
std::size_t ReadColorTable(const ByteReader& d, const DibHeader& h, std::size_t tableStart,
                           std::optional<std::int64_t> pixelOffset, std::vector<RGBQUAD>& colors) {
  const std::size_t entrySize = h.core ? 3 : 4;
  const std::uint32_t used = h.core ? 0 : h.info.biClrUsed;
  if (h.info.biBitCount <= 8) {
    std::size_t count = static_cast<std::size_t>(ColorsOfDepth(h.info.biBitCount));
    if (used != 0 && used < count) count = used;
    if (pixelOffset && *pixelOffset >= static_cast<std::int64_t>(tableStart) &&
        *pixelOffset < static_cast<std::int64_t>(tableStart + count * entrySize))
      count = static_cast<std::size_t>(*pixelOffset - static_cast<std::int64_t>(tableStart)) / entrySize;
    d.Require(count > 0, "no room for a colour table before the pixels");
    ByteReader r = d.At(tableStart, count * entrySize, "colour table");
    for (std::size_t k = 0; k < count; ++k) {
      std::uint8_t entry[4];
      r.ReadExact(entry, entrySize, "colour table");
      colors.push_back(RGBQUAD{entry[0], entry[1], entry[2], 0});
    }
    return tableStart + count * entrySize;
  }
  if (used != 0 && !pixelOffset) {
    // A packed true-colour DIB may carry a colour table before its pixels.
    d.Require(used <= 256, std::to_string(used) + " colours used at " + std::to_string(h.info.biBitCount) +
                               " bits per pixel");
    return tableStart + used * entrySize;
  }
  return tableStart;
}

// The pixels, from start on: uncompressed rows (the padding of the last row may be missing) or
// RLE data, into a new DIB section. Returns it and the end of the pixel data. Quirk: the last
// row's padding is not required, as some writers leave it out. Test:
// BmpFile.TheLastRowNeedsNoPadding.
std::pair<UniqueBitmap, std::size_t> ReadPixels(const ByteReader& d, const DibHeader& h, std::size_t start,
                                                std::span<const RGBQUAD> colors,
                                                std::span<const std::uint32_t> masks) {
  d.Require(start <= d.Size(), "the pixels begin beyond the end of the data");
  const std::span<const std::uint8_t> pixels = d.Bytes().subspan(start);
  const BITMAPINFOHEADER& i = h.info;
  const int bits = i.biBitCount;
  const std::int64_t stride = DibRowBytes(i.biWidth, bits);
  if (h.rle) {
    const std::int64_t budget = static_cast<std::int64_t>(pixels.size()) * kRlePixelsPerByte + 65536;
    d.Require(static_cast<std::int64_t>(i.biWidth) * h.height <= budget,
              "more pixels than RLE data of " + std::to_string(pixels.size()) + " bytes can describe");
  } else {
    // The rows a header declares may need more bytes than 64 bits count: such a size is named
    // as rows times their stride.
    const std::int64_t lastRow = (static_cast<std::int64_t>(i.biWidth) * bits + 7) / 8;
    std::int64_t need = 0;
    const bool countable = !__builtin_mul_overflow(stride, std::int64_t{h.height} - 1, &need) &&
                           !__builtin_add_overflow(need, lastRow, &need);
    d.Require(countable && (h.height <= 1 || stride <= static_cast<std::int64_t>(pixels.size())) &&
                  need <= static_cast<std::int64_t>(pixels.size()),
              "rows of " +
                  (countable ? std::to_string(need)
                             : std::to_string(h.height) + " x " + std::to_string(stride)) +
                  " bytes, " + std::to_string(pixels.size()) + " there");
  }

  BITMAPINFOHEADER section = i;
  section.biSize = 40;
  section.biCompression = h.bitfields ? BI_BITFIELDS : BI_RGB;
  section.biClrUsed = h.core ? 0 : i.biClrUsed;
  UniqueBitmap b(CreateDIBSection(section, colors, masks));
  d.Require(b != nullptr, "a bitmap of " + std::to_string(i.biWidth) + " x " + std::to_string(h.height) +
                              " pixels at " + std::to_string(bits) + " bits, beyond the device's limit");

  std::size_t end = start;
  if (h.rle) {
    std::span<const std::uint8_t> data = pixels;
    if (i.biSizeImage != 0 && i.biSizeImage < data.size()) data = data.first(i.biSizeImage);
    DecodeRle(data, *b, i.biCompression == BI_RLE4);
    end += data.size();
  } else {
    for (int k = 0; k < h.height; ++k) {
      const std::size_t from = static_cast<std::size_t>(stride) * static_cast<std::size_t>(k);
      const std::size_t n = std::min(static_cast<std::size_t>(stride), pixels.size() - from);
      std::memcpy(b->Row(h.topDown ? k : h.height - 1 - k), pixels.data() + from, n);
      end = start + from + n;
    }
  }
  return {std::move(b), end};
}

// Parses from the info header on. pixelOffset, when given, is where the pixels start relative
// to the info header; else they follow the colour table. Returns the bitmap and the end of
// the pixel data relative to the info header.
std::pair<UniqueBitmap, std::size_t> ParseDib(std::span<const std::uint8_t> bytes,
                                              std::optional<std::int64_t> pixelOffset) {
  const ByteReader d(bytes, FailInvalid);
  ByteReader header = d;
  const DibHeader h = ReadDibHeader(header);
  std::uint32_t masks[3] = {0, 0, 0};
  const std::size_t tableStart = ReadMasks(d, h, masks);
  std::vector<RGBQUAD> colors;
  const std::size_t tableEnd = ReadColorTable(d, h, tableStart, pixelOffset, colors);
  std::size_t start = tableEnd;
  if (pixelOffset) {
    d.Require(*pixelOffset <= static_cast<std::int64_t>(d.Size()), "the pixel offset lies beyond the end of the file");
    if (*pixelOffset >= static_cast<std::int64_t>(tableEnd)) start = static_cast<std::size_t>(*pixelOffset);
  }
  return ReadPixels(d, h, start, colors, masks);
}

}  // namespace

BitmapFileResult ReadBitmapFile(std::span<const std::uint8_t> data) {
  const ByteReader file(data, FailInvalid);
  file.Require(data.size() >= 14 + 12, "a file of " + std::to_string(data.size()) + " bytes, shorter than its headers");
  file.Require(data[0] == 'B' && data[1] == 'M', "no \"BM\" signature");
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
std::size_t BitmapFileRowsOffset(const BITMAPINFOHEADER& header) { return PixelOffset(header); }

void LayOutBitmapFileHead(std::span<std::uint8_t> file, const BITMAPINFOHEADER& h,
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
}

PixelView LayOutBitmapFile(std::span<std::uint8_t> file, const BITMAPINFOHEADER& h,
                           std::span<const RGBQUAD> colors, std::span<const std::uint32_t> masks) {
  LayOutBitmapFileHead(file, h, colors, masks);
  const std::size_t offset = PixelOffset(h);
  const std::size_t entries = static_cast<std::size_t>(ColorsOfDepth(h.biBitCount));
  auto* table = reinterpret_cast<RGBQUAD*>(file.data() + offset - 4 * entries);
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
