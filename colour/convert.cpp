// Bitmaps to device-independent bitmap files: the platform's read-out for 1, 4 and 24 bits, and
// the read-out at 24 bits followed by a reduction method for 8 bits.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "colour/colour.h"
#include "colour/reduce.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/screen.h"

namespace colour {

namespace {

constexpr std::size_t FileHeaderSize = 14;
constexpr std::size_t InfoHeaderSize = sizeof(tk::BITMAPINFOHEADER);
static_assert(std::endian::native == std::endian::little, "headers are copied as they lie in memory");

[[noreturn]] void InvalidImage() { throw tk::EInvalidGraphic(std::string(tk::SInvalidImage)); }

int BitsOfFormat(TPixelFormat format, const tk::BITMAP& bitmap) {
  switch (format) {
    case tk::pf1bit: return 1;
    case tk::pf4bit: return 4;
    case tk::pf8bit: return 8;
    case tk::pf24bit: return 24;
    default: return bitmap.bmBitsPixel * bitmap.bmPlanes;
  }
}

// Info header and colour table: 2^bits entries of 4 bytes at 1, 4 and 8 bits, none above.
std::size_t HeaderBlockSize(int bits) { return InfoHeaderSize + (bits <= 8 ? 4u << bits : 0); }

void WriteFileHeader(std::uint8_t* at, std::size_t fileSize, std::size_t pixelOffset) {
  const std::uint32_t size = static_cast<std::uint32_t>(fileSize);
  const std::uint32_t offset = static_cast<std::uint32_t>(pixelOffset);
  at[0] = 'B';
  at[1] = 'M';
  std::memcpy(at + 2, &size, 4);
  std::memset(at + 6, 0, 4);
  std::memcpy(at + 10, &offset, 4);
}

}  // namespace

int ColorsOfFormat(TPixelFormat format) {
  switch (format) {
    case tk::pf1bit: return 2;
    case tk::pf4bit: return 16;
    case tk::pf8bit: return 256;
    default: return 0;
  }
}

std::uint32_t DibImageSize(std::int32_t width, std::int32_t height, int bits) {
  if (width < 0 || height < 0) InvalidImage();
  const std::uint64_t size = static_cast<std::uint64_t>(tk::DibRowBytes(width, bits)) * std::uint64_t(height);
  if (size + FileHeaderSize + HeaderBlockSize(8) > 0xFFFFFFFFu)
    throw tk::EInvalidGraphic(tk::Format(SBitmapTooLarge, {std::int64_t{width}, std::int64_t{height}}));
  return static_cast<std::uint32_t>(size);
}

tk::BITMAPINFOHEADER BuildInfoHeader(tk::HBITMAP bitmap, TPixelFormat format) {
  tk::DIBSECTION ds;
  const int described = tk::GetObject(bitmap, ds);
  if (described == 0) InvalidImage();
  tk::BITMAPINFOHEADER h;
  h.biWidth = ds.dsBm.bmWidth;
  h.biHeight = ds.dsBm.bmHeight < 0 ? -ds.dsBm.bmHeight : ds.dsBm.bmHeight;
  h.biPlanes = 1;
  h.biBitCount = static_cast<std::uint16_t>(BitsOfFormat(format, ds.dsBm));
  h.biCompression = tk::BI_RGB;
  h.biSizeImage = DibImageSize(h.biWidth, h.biHeight, h.biBitCount);
  if (described == static_cast<int>(sizeof(tk::DIBSECTION))) {
    h.biXPelsPerMeter = ds.dsBmih.biXPelsPerMeter;
    h.biYPelsPerMeter = ds.dsBmih.biYPelsPerMeter;
  }
  return h;
}

std::vector<std::uint8_t> GrabDIB(tk::HBITMAP bitmap, tk::HPALETTE palette, TPixelFormat format) {
  if (!bitmap) InvalidImage();
  tk::BITMAPINFOHEADER header = BuildInfoHeader(bitmap, format);
  const std::size_t headerBlock = HeaderBlockSize(header.biBitCount);
  const std::size_t pixelOffset = FileHeaderSize + headerBlock;
  std::vector<std::uint8_t> block(pixelOffset + header.biSizeImage);
  WriteFileHeader(block.data(), block.size(), pixelOffset);
  std::memcpy(block.data() + FileHeaderSize, &header, InfoHeaderSize);

  // The platform fills the colour table and the pixels. A read-out that fails leaves them zero:
  // a black image of the right size.
  tk::UniqueDC dc(tk::CreateCompatibleDC(nullptr));
  if (!dc) return block;
  tk::PaletteSelection selection(dc.get(), palette, false);
  if (palette) tk::RealizePalette(dc.get());
  auto* colors = reinterpret_cast<tk::RGBQUAD*>(block.data() + FileHeaderSize + InfoHeaderSize);
  const std::size_t colorCount = (headerBlock - InfoHeaderSize) / sizeof(tk::RGBQUAD);
  tk::BITMAPINFOHEADER request = header;
  tk::GetDIBits(dc.get(), bitmap, 0, static_cast<unsigned>(header.biHeight),
                {block.data() + pixelOffset, header.biSizeImage}, request, {colors, colorCount});
  return block;
}

std::unique_ptr<tk::TMemoryStream> BitmapToDIBStream(tk::TBitmap& bitmap, TPixelFormat format,
                                                     ReductionMethod method) {
  tk::HBITMAP handle = bitmap.Handle();
  if (!handle) InvalidImage();
  if (bitmap.PixelFormat() == format && method != ReductionMethod::ReduceGray) {
    auto stream = std::make_unique<tk::TMemoryStream>();
    bitmap.SaveStream(*stream);
    stream->SetPosition(0);
    return stream;
  }
  if (format == tk::pf1bit || format == tk::pf4bit || format == tk::pf24bit) {
    return std::make_unique<tk::TMemoryStream>(GrabDIB(handle, bitmap.CurrentPalette(), format));
  }
  if (format != tk::pf8bit || static_cast<int>(method) > static_cast<int>(ReductionMethod::ReduceGray))
    tk::NotImplementedAbort();

  // 8 bits: the 24-bit read-out is the WorkImage, reduced in place.
  std::vector<std::uint8_t> block24 = GrabDIB(handle, bitmap.CurrentPalette(), tk::pf24bit);
  constexpr std::size_t pixelOffset = FileHeaderSize + InfoHeaderSize + PaletteBytes;
  std::vector<std::uint8_t> head(pixelOffset);
  tk::BITMAPINFOHEADER header = BuildInfoHeader(handle, tk::pf8bit);
  const WorkImage work{header.biWidth, header.biHeight, block24.data() + FileHeaderSize + InfoHeaderSize};
  std::uint8_t* palette = head.data() + FileHeaderSize + InfoHeaderSize;
  switch (method) {
    case ReductionMethod::ReduceHistogram:
      ReduceHistogram(work, palette, ColorsOfFormat(tk::pf8bit), 0xFF, 0xFF, 0xFF);
      break;
    case ReductionMethod::ReduceMedianCut:
      header.biClrImportant = static_cast<std::uint32_t>(MedianCut(work, palette, PaletteEntries));
      break;
    case ReductionMethod::ReduceFixed784:
      ReduceFixed784(work, palette);
      header.biClrImportant = 224;
      break;
    case ReductionMethod::ReduceFixed666:
      ReduceFixed666(work, palette);
      header.biClrImportant = 216;
      break;
    case ReductionMethod::ReducePrimaryRamps:
      ReducePrimaryRamps(work, palette);
      break;
    case ReductionMethod::ReduceGray:
      ReduceGray(work, palette);
      break;
  }
  WriteFileHeader(head.data(), pixelOffset + header.biSizeImage, pixelOffset);
  std::memcpy(head.data() + FileHeaderSize, &header, InfoHeaderSize);

  std::vector<std::uint8_t> file;
  file.reserve(pixelOffset + header.biSizeImage);
  file.insert(file.end(), head.begin(), head.end());
  file.insert(file.end(), work.pixels, work.pixels + header.biSizeImage);
  return std::make_unique<tk::TMemoryStream>(std::move(file));
}

std::unique_ptr<tk::TMemoryStream> BitmapToColors(tk::TBitmap& bitmap, int colors) {
  const TPixelFormat format = colors <= 2     ? tk::pf1bit
                              : colors <= 16  ? tk::pf4bit
                              : colors <= 256 ? tk::pf8bit
                                              : tk::pf24bit;
  return BitmapToDIBStream(bitmap, format, DefaultReduction);
}

}  // namespace colour
