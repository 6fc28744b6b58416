// The LZW decoder of GIF image data and the interlaced row order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "toolkit/graphic.h"
#include "toolkit/streams.h"

namespace gif {

// What FetchCode gives when the data holds no further code.
inline constexpr unsigned EndOfCodes = 0xFFFF;

// Bytes per row of a bottom-up bitmap of the given width and bits per pixel (4-byte aligned).
constexpr std::int64_t RowBytes(std::int64_t width, int bits) { return (width * bits + 31) / 32 * 4; }

// The row depth (1, 4 or 8) of a frame of the given bits per pixel; fails with "Wrong number of
// colors; must be a power of 2" for anything outside 1..8.
int RowDepthFor(int bitDepth);

// The row of an interlaced image that follows row y (of height h) in pass 0..3; updates the pass.
// Rows 0, 8, 16, ...; then 4, 12, ...; then 2, 6, ...; then 1, 3, 5, ...; a result that is not
// below h ends the image.
int NextInterlacedRow(int y, int h, int& pass);

// Reads the variable-width codes of an LZW sub-block chain, least significant bit first. The
// sub-blocks are taken in one by one, straight from the chain and only when their bits are
// needed; the zero-length terminator (or the end of the data) ends the codes.
class CodeReader {
 public:
  // The chain begins at data (behind the code size byte); base and size describe the whole
  // encoded stream, for progress. The optional progress target hears of each sub-block.
  CodeReader(const std::uint8_t* base, std::size_t size, std::size_t start,
             tk::TGraphic* progress = nullptr);

  // The next code of the given width (mask = 2^width - 1), or EndOfCodes when the data runs out.
  // A sub-block that is cut short fails with EReadError "Stream read error".
  unsigned FetchCode(int width, unsigned mask) {
    if (bits_ < width && !Refill(width)) return EndOfCodes;
    unsigned code = static_cast<unsigned>(acc_) & mask;
    acc_ >>= width;
    bits_ -= width;
    return code;
  }

  // The stream position: the end of the last sub-block taken in.
  std::size_t Position() const { return static_cast<std::size_t>(blockEnd_ - base_); }

 private:
  bool Refill(int width);

  const std::uint8_t* base_;
  const std::uint8_t* end_;
  const std::uint8_t* next_;      // next unread byte of the current sub-block
  const std::uint8_t* blockEnd_;  // end of the current sub-block
  std::uint64_t acc_ = 0;         // bits taken in but not yet used, lowest first
  int bits_ = 0;
  bool ended_ = false;
  tk::TGraphic* progress_;
  int lastPercent_ = -1;
};

// Decodes the LZW data at the stream's position into a zero-filled buffer of height rows of
// RowBytes(width, rowDepth) bytes, bottom row first, at 1, 4 or 8 bits per pixel (rowDepth must
// suit bitDepth: 1 for 1, 4 for 2..4, 8 for 5..8). Pixel values are masked to bitDepth bits.
// Returns true when the data was found damaged and decoding was cut short; without tolerate,
// damage fails instead. Never writes outside the buffer, whatever the data holds. Reports
// progress to the graphic's progress event when one is given.
bool DecodePixels(tk::TMemoryStream& data, int width, int height, int rowDepth, bool interlaced,
                  int bitDepth, bool tolerate, std::uint8_t* pixels, tk::TGraphic* progress);

}  // namespace gif
