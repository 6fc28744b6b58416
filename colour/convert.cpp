// Bitmaps to device-independent bitmap files: the platform's read-out for 1, 4 and 24 bits, and
// the read-out at 24 bits followed by a reduction method for 8 bits.
#include <cstdlib>
#include <cstring>

#include "colour/colour.h"
#include "colour/reduce.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/screen.h"
#include "toolkit/device/bmpfile.h"

namespace colour {

namespace {

[[noreturn]] void InvalidImage() { throw tk::EInvalidGraphic(std::string(tk::SInvalidImage)); }

// The bit count of a header for a format: 1, 4, 8 or 24 for the formats this module makes, the
// bitmap's own for any other.
int HeaderBits(TPixelFormat format, const tk::BITMAP& bitmap) {
  switch (format) {
    case tk::pf1bit:
    case tk::pf4bit:
    case tk::pf8bit:
    case tk::pf24bit: return tk::BitsOfFormat(format);
    default: return bitmap.bmBitsPixel * bitmap.bmPlanes;
  }
}

}  // namespace

int ColorsOfFormat(TPixelFormat format) { return tk::ColorsOfDepth(tk::BitsOfFormat(format)); }

std::uint32_t DibImageSize(std::int32_t width, std::int32_t height, int bits) {
  if (width < 0 || height < 0) InvalidImage();
  // The largest file a conversion makes: the rows behind the headers and a 256-entry table.
  tk::BITMAPINFOHEADER largest;
  largest.biBitCount = 8;
  const std::uint64_t size = static_cast<std::uint64_t>(tk::DibRowBytes(width, bits)) * std::uint64_t(height);
  if (size + tk::BitmapFileSize(largest) > 0xFFFFFFFFu)
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
  h.biBitCount = static_cast<std::uint16_t>(HeaderBits(format, ds.dsBm));
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
  const tk::BITMAPINFOHEADER header = BuildInfoHeader(bitmap, format);
  std::vector<std::uint8_t> block(tk::BitmapFileSize(header));
  const tk::PixelView rows = tk::LayOutBitmapFile(block, header, {});

  // The platform fills the colour table and the pixels. A read-out that fails leaves them zero:
  // a black image of the right size.
  tk::UniqueDC dc(tk::CreateCompatibleDC(nullptr));
  if (!dc) return block;
  tk::PaletteSelection selection(dc.get(), palette, false);
  if (palette) tk::RealizePalette(dc.get());
  tk::BITMAPINFOHEADER request = header;
  tk::GetDIBits(dc.get(), bitmap, 0, static_cast<unsigned>(header.biHeight), rows.Memory(), request,
                rows.palette);
  return block;
}

tk::ConstPixelView ReducedImage::Rows() const {
  // The 24-bit read-out has no colour table: its rows start right behind the headers.
  return tk::BottomUpRows(work.data() + tk::BitmapFileRowsOffset(tk::BITMAPINFOHEADER{}),
                          header.biWidth, header.biHeight, 8, std::span<const tk::RGBQUAD>(palette));
}

ReducedImage ReduceBitmap(tk::TBitmap& bitmap, ReductionMethod method) {
  tk::HBITMAP handle = bitmap.Handle();
  if (!handle) InvalidImage();
  if (static_cast<int>(method) > static_cast<int>(ReductionMethod::ReduceGray)) tk::NotImplementedAbort();
  // The 24-bit read-out is the WorkImage, reduced in place.
  ReducedImage reduced;
  reduced.work = GrabDIB(handle, bitmap.CurrentPalette(), tk::pf24bit);
  reduced.header = BuildInfoHeader(handle, tk::pf8bit);
  tk::BITMAPINFOHEADER& header = reduced.header;
  const WorkImage work{header.biWidth, header.biHeight,
                       reduced.work.data() + tk::BitmapFileRowsOffset(tk::BITMAPINFOHEADER{})};
  auto* palette = reinterpret_cast<std::uint8_t*>(reduced.palette.data());
  static_assert(sizeof(reduced.palette) == PaletteBytes);
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
  return reduced;
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
  if (format != tk::pf8bit) tk::NotImplementedAbort();
  const ReducedImage reduced = ReduceBitmap(bitmap, method);
  return std::make_unique<tk::TMemoryStream>(tk::BitmapFileBytes(reduced.header, reduced.Rows()));
}

std::unique_ptr<tk::TMemoryStream> BitmapToColors(tk::TBitmap& bitmap, int colors) {
  const TPixelFormat format = colors <= 2     ? tk::pf1bit
                              : colors <= 16  ? tk::pf4bit
                              : colors <= 256 ? tk::pf8bit
                                              : tk::pf24bit;
  return BitmapToDIBStream(bitmap, format, DefaultReduction);
}

}  // namespace colour
