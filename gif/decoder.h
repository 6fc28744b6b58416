// The LZW decoder of GIF image data and the interlaced row order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "toolkit/device/gdi.h"
#include "toolkit/device/pixel_view.h"
#include "toolkit/core/graphic.h"
#include "toolkit/core/streams.h"

namespace gif {

// LZW data that a picture keeps in a stream instead of holding its bytes: Size bytes from Offset
// on (the code size byte, the sub-blocks and the terminator, as in TGIFItem::PixelData). The
// stream is shared by the frames of the picture and read only where they lie.
struct StreamedData {
  std::shared_ptr<tk::TStream> Stream;
  std::int64_t Offset = 0;
  std::int64_t Size = 0;
};

// Reads count bytes of a picture's stream at the offset (where they were when the picture was
// read, or are being read); fails with EReadError "Stream read error" when the stream holds
// fewer there, the reason naming the offset: the file was cut short meanwhile.
void ReadStreamAt(tk::TStream& stream, std::int64_t offset, void* out, std::size_t count);

// What FetchCode gives when the data holds no further code.
inline constexpr unsigned EndOfCodes = 0xFFFF;

// The row depth (1, 4 or 8) of a frame of the given bits per pixel; fails with "Wrong number of
// colors; must be a power of 2" for anything outside 1..8.
int RowDepthFor(int bitDepth);

// The row of an interlaced image that follows row y (of height h) in pass 0..3; updates the pass.
// Rows 0, 8, 16, ...; then 4, 12, ...; then 2, 6, ...; then 1, 3, 5, ...; a result that is not
// below h ends the image.
int NextInterlacedRow(int y, int h, int& pass);

// Decodes the LZW data at the stream's position into zero-filled rows of 1, 4 or 8 bits per pixel
// (the view's depth, which must suit bitDepth: 1 for 1, 4 for 2..4, 8 for 5..8), top row first
// or in the interlaced order. Pixel values are masked to bitDepth bits. Returns true when the
// data was found damaged and decoding was cut short; without tolerate, damage fails instead.
// Never writes outside the rows, whatever the data holds. Reports progress to the graphic's
// progress event when one is given. When rowDone is given, it is called with the number of each
// row (0 at the top) as soon as the row is complete in the view; the view's rows may then all be
// one buffer (stride 0) that rowDone moves on, the row begun when damage ends decoding included.
using RowDone = std::function<void(int y)>;
bool DecodePixels(tk::TMemoryStream& data, const tk::PixelView& rows, bool interlaced, int bitDepth,
                  bool tolerate, tk::TGraphic* progress, const RowDone& rowDone = {});

// The same from data in a stream, read through a buffer of at most 64 KiB as the codes need it.
// A stream that holds fewer bytes than the data's Size where they are read (a file cut short or
// changed since the picture was read) fails with EReadError "Stream read error", its reason
// naming the offset; whatever the bytes hold, nothing beyond Size is read.
bool DecodePixels(const StreamedData& data, const tk::PixelView& rows, bool interlaced, int bitDepth,
                  bool tolerate, tk::TGraphic* progress, const RowDone& rowDone = {});

// The same into a zero-filled buffer of height rows of DibRowBytes(width, rowDepth) bytes, bottom
// row first, as a device-independent bitmap holds them.
bool DecodePixels(tk::TMemoryStream& data, int width, int height, int rowDepth, bool interlaced,
                  int bitDepth, bool tolerate, std::uint8_t* pixels, tk::TGraphic* progress);

// Runs the decoder over the LZW data without storing a pixel: returns what DecodePixels would
// (true for damaged data) and fails where it would, at a cost that follows the data's bytes, not
// the frame's size.
bool CheckPixels(tk::TMemoryStream& data, int width, int height, int bitDepth, bool tolerate);
bool CheckPixels(const StreamedData& data, int width, int height, int bitDepth, bool tolerate);

}  // namespace gif
