// Colour reduction: a bitmap of any depth becomes a device-independent bitmap file of 1, 4, 8 or
// 24 bits in a memory stream; the 8-bit form is made by one of six reduction methods.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "toolkit/device/bitmap.h"
#include "toolkit/device/gdi.h"
#include "toolkit/device/pixel_view.h"
#include "toolkit/core/streams.h"

namespace colour {

// How 24-bit pixels become 8-bit palette indices.
enum class ReductionMethod : std::uint8_t {
  ReduceHistogram = 0,     // the most frequent colours of the image, at most 256
  ReduceMedianCut = 1,     // one colour per box of a median cut, at most 256
  ReduceFixed784 = 2,      // 7 red x 8 green x 4 blue levels, 224 colours
  ReduceFixed666 = 3,      // 6 x 6 x 6 levels, 216 colours
  ReducePrimaryRamps = 4,  // a 64-step ramp of each primary; every pixel shows one channel
  ReduceGray = 5,          // 256 grey levels
};

// The method used when a caller names none. The GIF module's encoding setting.
inline ReductionMethod DefaultReduction = ReductionMethod::ReduceHistogram;

// Pixel format codes are the toolkit bitmap's: pf1bit, pf4bit, pf8bit and pf24bit are the
// targets this module produces.
using tk::TPixelFormat;

// The colour count of a pixel format: 2, 16, 256, else 0.
int ColorsOfFormat(TPixelFormat format);

// The refusal of bitmaps whose file would not fit the 32-bit sizes of a bitmap file.
inline constexpr std::string_view SBitmapTooLarge = "Bitmap of %d x %d pixels is too large to convert";

// Bytes of pixel data of a device-independent bitmap; fails with EInvalidGraphic when the whole
// file (headers and a 256-entry colour table included) would exceed 32-bit sizes. Quirk (a
// mended fault: the sizes wrapped and a short file was written). Test:
// DibImageSize.RefusesFilesBeyond32BitSizes.
std::uint32_t DibImageSize(std::int32_t width, std::int32_t height, int bits);

// The info header of the bitmap as a device-independent bitmap of the format: its width, its
// height made positive (rows bottom row first), the format's bit count (1, 4, 8, 24; otherwise
// the bitmap's own), the image size, and the resolution of a DIB section's own header. Fails with
// EInvalidGraphic "Bitmap image is not valid" for a bitmap the platform cannot describe.
tk::BITMAPINFOHEADER BuildInfoHeader(tk::HBITMAP bitmap, TPixelFormat format);

// A whole device-independent bitmap file of the format (file header, info header, colour table,
// pixels read out by the platform with the palette realised). Its size is the file's length.
std::vector<std::uint8_t> GrabDIB(tk::HBITMAP bitmap, tk::HPALETTE palette, TPixelFormat format);

// A bitmap reduced to 8 bits by a method: the info header of the result (colours important set
// by the method), its 256-entry palette, and the 24-bit read-out whose memory holds the reduced
// rows, bottom row first.
struct ReducedImage {
  tk::BITMAPINFOHEADER header;
  std::array<tk::RGBQUAD, 256> palette{};
  std::vector<std::uint8_t> work;
  tk::ConstPixelView Rows() const;
};

// The bitmap's 24-bit read-out reduced in place by the method. A method outside 0..5 shows
// "Function not yet implemented" and ends with a silent abort (tk::EAbort).
ReducedImage ReduceBitmap(tk::TBitmap& bitmap, ReductionMethod method);

// The bitmap as a device-independent bitmap file of the format (pf1bit, pf4bit, pf8bit or
// pf24bit), in a new stream positioned at 0. A bitmap already in that format saves itself
// (except for grey reduction). Any other format shows "Function not yet implemented" and ends
// with a silent abort (tk::EAbort).
std::unique_ptr<tk::TMemoryStream> BitmapToDIBStream(tk::TBitmap& bitmap, TPixelFormat format,
                                                     ReductionMethod method);

// BitmapToDIBStream with the format that holds the colour count (at most 2: 1 bit, 16: 4 bits,
// 256: 8 bits, more: 24 bits) and DefaultReduction.
std::unique_ptr<tk::TMemoryStream> BitmapToColors(tk::TBitmap& bitmap, int colors);

}  // namespace colour
