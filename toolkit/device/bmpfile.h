// The BMP file format: reading every variant in real use into a DIB section, and writing one.
//
// Read: 1, 4, 8, 16, 24 and 32 bits per pixel; uncompressed, bit fields, RLE8 and RLE4; rows
// bottom-up or top-down; the old core header (12 bytes), the info header (40), the headers of
// 52, 56 and 64 bytes, and the V4 (108) and V5 (124) headers. RLE images become uncompressed
// indexed sections. Every field, offset and size is checked against the data; a bad file fails
// with EInvalidGraphic "Bitmap image is not valid".
//
// Written: a 14-byte file header, a 40-byte info header, the channel masks of a bit-field
// bitmap, a colour table of 2^bits entries at 1, 4 and 8 bits, and the rows bottom row first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "toolkit/device/gdi.h"
#include "toolkit/device/pixel_view.h"

namespace tk {

class TStream;

struct BitmapFileResult {
  UniqueBitmap bitmap;
  std::size_t consumed = 0;  // bytes of the data that the image occupies
};

// A whole BMP file, from its "BM" signature.
BitmapFileResult ReadBitmapFile(std::span<const std::uint8_t> data);
// A packed DIB (the form of a bitmap resource, and of an icon's image): info header, colour
// table, pixels.
BitmapFileResult ReadPackedDib(std::span<const std::uint8_t> data);

// The one writer of BMP files. A file is laid out in memory: LayOutBitmapFile writes the 14-byte
// file header, the info header as given (40 bytes), the three channel masks of a bit-field
// header, and a colour table of ColorsOfDepth(bits) entries (the colours given, then zeros), and
// hands back the view of the rows that follow (bottom row first for a positive height; its
// palette is the file's colour table), for the caller to fill: decoded, read out or copied.
// file must hold BitmapFileSize(header) bytes.
std::size_t BitmapFileSize(const BITMAPINFOHEADER& header);
// Where the rows begin in such a file.
std::size_t BitmapFileRowsOffset(const BITMAPINFOHEADER& header);
// LayOutBitmapFileHead writes the same headers and colour table alone, into the
// BitmapFileRowsOffset(header) bytes before the rows, for a file whose rows are written apart.
void LayOutBitmapFileHead(std::span<std::uint8_t> file, const BITMAPINFOHEADER& header,
                          std::span<const RGBQUAD> colors, std::span<const std::uint32_t> masks = {});
PixelView LayOutBitmapFile(std::span<std::uint8_t> file, const BITMAPINFOHEADER& header,
                           std::span<const RGBQUAD> colors, std::span<const std::uint32_t> masks = {});
// A BMP file of the header holding a copy of the rows and their palette.
std::vector<std::uint8_t> BitmapFileBytes(const BITMAPINFOHEADER& header, const ConstPixelView& rows,
                                          std::span<const std::uint32_t> masks = {});

// The bitmap as a BMP file. A device bitmap is written at 32 bits (1 bit when monochrome).
std::vector<std::uint8_t> BitmapFileBytes(HBITMAP bitmap);
void WriteBitmapFile(HBITMAP bitmap, TStream& stream);

}  // namespace tk
