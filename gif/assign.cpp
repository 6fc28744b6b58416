// Other graphics as GIF frames: a graphic becomes a frame's bitmap, and a frame's bitmap becomes
// encoded GIF data when the picture is written.
#include <algorithm>
#include <cstring>

#include "colour/colour.h"
#include "cursor/cursor.h"
#include "gif/gif.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/core/bytes.h"
#include "toolkit/device/colors.h"
#include "toolkit/device/icon.h"

namespace gif {

namespace {

// The colour that a graphic's undrawn area keeps when it is drawn into a frame's bitmap.
constexpr TColor kUndrawnColor = 0xFF00FF;
// The largest image a GIF holds: sizes are 16-bit. Quirk: a larger bitmap is refused with "GIF
// image encoding error" instead of being written with sizes cut to 16 bits (a mended fault).
// Test: EncodeFromDIB.RefusesWhatItCannotEncode.
constexpr std::int32_t kMaxGifSide = 65535;

[[noreturn]] void EncodingError() {
  throw tk::EInvalidGraphicOperation(std::string(SEncodingError));
}

}  // namespace

void FillGifTable(GifColorTable& table, std::span<const std::uint8_t> quads, int count) {
  table = GifColorTable{};
  table.Count = std::clamp(count, 0, 256);
  const int given = std::min<int>(table.Count, static_cast<int>(quads.size() / 4));
  for (int i = 0; i < given; ++i) {
    GifColorTable::Entry& entry = table.Entries[static_cast<std::size_t>(i)];
    entry.Red = quads[4 * i + 2];
    entry.Green = quads[4 * i + 1];
    entry.Blue = quads[4 * i];
  }
}

void TGIFFrame::TakeFromGraphic(tk::TGraphic* source) {
  // An empty graphic makes the frame empty.
  if (source->IsEmpty()) return TakeFrom(nullptr);
  ResetFrame();
  NewBitmap();
  auto* sourceBitmap = dynamic_cast<tk::TBitmap*>(source);
  try {
    BuiltBitmap->TakeFrom(source);
    if (sourceBitmap) BuiltBitmap->SetMonochrome(sourceBitmap->Monochrome());
  } catch (const std::exception&) {
    // A graphic that a bitmap cannot copy is drawn instead, onto a bitmap of its size whose
    // undrawn area keeps a colour of its own.
    NewBitmap();
    BuiltBitmap->Canvas().Brush().Color = kUndrawnColor;
    BuiltBitmap->SetWidth(source->Width());
    BuiltBitmap->SetHeight(source->Height());
    // A frame holds no partial transparency: an icon's alpha channel only decides which pixels
    // show, so that half-transparent edges are not blended with the undrawn colour.
    if (auto* icon = dynamic_cast<tk::TIcon*>(source))
      icon->DrawUnblended(BuiltBitmap->Canvas(), {0, 0, source->Width(), source->Height()});
    else
      BuiltBitmap->Canvas().Draw(0, 0, source);
  }
  if (source->IsTransparent()) {
    tk::TCanvas& canvas = BuiltBitmap->Canvas();
    TransColor = sourceBitmap
                     ? sourceBitmap->TransparentColor()
                     : tk::GetNearestColor(canvas.Handle(), tk::ColorToRGB(canvas.Brush().Color));
  }
  UpdateParentSize();
}

void TGIFImage::TakeCursor(cursor::TAnimatedCursorImage& source) {
  Reset();
  BackdropColor = tk::clWindow;
  for (int i = 0; i < source.FrameCount(); ++i) {
    AppendFrame(source.FramePicture(i));
    // The rate counts sixtieths of a second.
    FrameAt(CurrentIndex).DelayMs = static_cast<std::uint16_t>(source.FrameAt(i).Rate * 100 / 6);
  }
}

void TGIFFrame::EncodeBitmap() {
  if (!BuiltBitmap || BuiltBitmap->IsEmpty())
    throw tk::EInvalidGraphicOperation(std::string(SNoGIFData));
  // A palette bitmap is encoded from its own rows, with its own colours and depth; any other is
  // reduced to 8 bits first.
  const tk::TPixelFormat format = BuiltBitmap->PixelFormat();
  if (format == tk::pf1bit || format == tk::pf4bit || format == tk::pf8bit)
    return EncodeFromRows(tk::ViewOf(*BuiltBitmap->Handle()));
  const colour::ReductionMethod method =
      GrayOnly ? colour::ReductionMethod::ReduceGray : Options().ReductionMethod();
  const colour::ReducedImage reduced = colour::ReduceBitmap(*BuiltBitmap, method);
  if (method == colour::ReductionMethod::ReduceGray) GrayOnly = true;
  EncodeFromRows(reduced.Rows());
}

void TGIFFrame::EncodeFromDIB(tk::TMemoryStream& dib) {
  // The headers, the colour count and that the rows lie within the stream are checked before
  // the frame changes.
  const std::uint8_t* file = dib.Memory();
  const std::size_t size = static_cast<std::size_t>(dib.Size());
  if (size < 54) EncodingError();
  tk::BITMAPINFOHEADER header;
  std::memcpy(&header, file + 14, sizeof header);
  const int count = tk::ColorsOfDepth(header.biBitCount);
  if (count == 0 || header.biCompression != tk::BI_RGB || header.biWidth < 0 || header.biHeight < 0)
    EncodingError();
  const std::size_t pixelOffset = tk::LoadU32(dib.Bytes(), 10);
  const std::int64_t imageSize =
      tk::DibRowBytes(header.biWidth, header.biBitCount) * header.biHeight;
  if (pixelOffset > size || static_cast<std::int64_t>(size - pixelOffset) < imageSize)
    EncodingError();
  // The colour table lies between the headers and the rows. Quirk: entries missing there are
  // black, never read from beyond the stream. Test: EncodeFromDIB.RefusesWhatItCannotEncode.
  const std::size_t entries =
      std::min<std::size_t>(static_cast<std::size_t>(count), (std::max<std::size_t>(pixelOffset, 54) - 54) / 4);
  EncodeFromRows(tk::BottomUpRows(file + pixelOffset, header.biWidth, header.biHeight, header.biBitCount,
                                  std::span(reinterpret_cast<const tk::RGBQUAD*>(file + 54), entries)));
}

void TGIFFrame::EncodeFromRows(const tk::ConstPixelView& rows) {
  // Everything is checked before the frame changes.
  const int count = tk::ColorsOfDepth(rows.bitsPerPixel);
  if (count == 0 || rows.width < 0 || rows.width > kMaxGifSide || rows.height < 0 ||
      rows.height > kMaxGifSide)
    EncodingError();

  IsInterlaced = false;
  TGIFItem& item = *Encoded;
  FillGifTable(item.ColorTable,
               {reinterpret_cast<const std::uint8_t*>(rows.palette.data()), 4 * rows.palette.size()},
               count);
  if (item.PixelData)
    item.PixelData->Clear();
  else
    item.PixelData = std::make_unique<tk::TMemoryStream>();
  item.Streamed.reset();
  try {
    EncodePixels(*item.PixelData, rows, false, ParentImage);
  } catch (const tk::EAbort&) {
    ResetFrame();
    throw;
  }
  item.BitDepth = item.ColorTable.Depth();
  if (ParentImage && ParentImage->ScreenData->GlobalTable.Count == 0) {
    // The first frame encoded into a picture without a global table provides it.
    TGIFData& screen = *ParentImage->ScreenData;
    screen.GlobalTable = item.ColorTable;
    screen.GlobalDepth = item.BitDepth;
    OwnColorTable = false;
  } else {
    OwnColorTable = true;
  }
  item.ItemWidth = rows.width;
  item.ItemHeight = rows.height;
  if (ParentImage) {
    ParentImage->LogicalWidth = static_cast<std::uint16_t>(
        std::max<int>(ParentImage->LogicalWidth, item.ItemWidth + LeftPos));
    ParentImage->LogicalHeight = static_cast<std::uint16_t>(
        std::max<int>(ParentImage->LogicalHeight, item.ItemHeight + TopPos));
  }
}

}  // namespace gif
