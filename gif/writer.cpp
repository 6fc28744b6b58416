// The GIF stream writer: header, logical screen, colour tables, the looping block, extensions,
// images, comments and trailer. The whole GIF is built in memory and written in one piece.
#include "gif/writer.h"

#include "gif/format.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "toolkit/device/colors.h"

namespace gif {

namespace {

// A colour given relative to a palette by its red, green and blue.
constexpr TColor kPaletteRelative = 0x02000000;

// The table's entries, padded with black to the 2^depth entries that the depth field announces.
void WriteColorTable(tk::TStream& out, const GifColorTable& table, int depth) {
  const std::size_t used = 3 * static_cast<std::size_t>(std::clamp(table.Count, 0, 256));
  std::uint8_t bytes[3 * 256] = {};
  std::memcpy(bytes, table.Entries.data(), used);
  out.WriteBuffer(bytes, 3 * (std::size_t{1} << depth));
}

void WriteU16(tk::TStream& out, std::int32_t value) {
  out.WriteU16(static_cast<std::uint16_t>(value));
}

}  // namespace

namespace {

// A colour as the entries of a colour table are compared with it: system colours resolved, and a
// palette-relative colour (as the toolkit reports a bitmap's transparent colour) by its red,
// green and blue. Quirk (a mended fault: compared whole, a bitmap's transparent colour matched no
// entry and its transparency was lost). Test: AssignBitmap.TransparentBitmapKeepsItsTransparency.
TColor TableRGB(TColor color) {
  TColor rgb = tk::ColorToRGB(color);
  if ((rgb & 0xFF000000) == kPaletteRelative) rgb &= 0xFFFFFF;
  return rgb;
}

}  // namespace

int FindColorIndex(const GifColorTable& table, TColor color) {
  if (color == NoColor) return -1;
  const TColor rgb = TableRGB(color);
  const int count = std::clamp(table.Count, 0, 256);
  for (int i = 0; i < count; ++i)
    if (table.Color(i) == rgb) return i;
  return -1;
}

void WriteSubBlocks(tk::TStream& out, const tk::TStringList& lines) {
  for (const std::string& line : lines) {
    for (std::size_t at = 0; at < line.size(); at += 255) {
      const std::size_t length = std::min<std::size_t>(255, line.size() - at);
      out.WriteU8(static_cast<std::uint8_t>(length));
      out.WriteBuffer(line.data() + at, length);
    }
  }
  out.WriteU8(0);
}

void WriteExtensions(tk::TStream& out, const TExtensionList& extensions) {
  static const tk::TStringList kNoLines;
  for (int i = 0; i < extensions.Count(); ++i) {
    const TExtension* extension = extensions.At(i);
    if (!extension) continue;
    out.WriteU8(kExtensionIntroducer);
    const auto kind = static_cast<TExtensionKind>(extension->Kind & 3);
    out.WriteU8(ExtensionLabels[kind]);
    out.WriteBuffer(extension->Header.data(), ExtensionHeaderBytes[kind]);
    if (HasSubBlocks(kind))
      WriteSubBlocks(out, extension->Lines ? *extension->Lines : kNoLines);
  }
}

void WritePixelData(tk::TStream& out, const tk::TMemoryStream& data) {
  std::span<const std::uint8_t> bytes = data.Bytes();
  out.WriteBuffer(bytes);
  // Hop the length bytes behind the code size byte: the chain is complete when a zero length
  // byte ends it within the data. Quirk: a chain kept from damaged data gets the terminator it
  // lacks, so that the file written is whole. Test: Write.DamagedDataGetsItsTerminator.
  std::size_t at = 1;
  while (at < bytes.size() && bytes[at] != 0) at += std::size_t{bytes[at]} + 1;
  if (at >= bytes.size()) out.WriteU8(0);
}

// ---- Frames

void TGIFFrame::SyncExtensions() {
  TExtension* control = FindExtension(ExtBlocks.get(), ekGraphicControl);
  if (!control && (DelayMs > 0 || TransColor != NoColor || Disposal != 0)) {
    auto extension = std::make_unique<TExtension>();
    extension->Kind = ekGraphicControl;
    extension->Header[0] = 4;
    control = extension.get();
    if (!ExtBlocks) ExtBlocks = std::make_unique<TExtensionList>();
    ExtBlocks->Add(std::move(extension));
  }
  if (control) {
    // Reading takes the largest delay of all the graphic control extensions of a frame, so each
    // of them gets the frame's delay; the last one also carries its transparency and disposal.
    // Quirk (a mended fault: a larger delay left in an earlier extension came back on reading).
    // Test: Write.EveryGraphicControlExtensionOfAFrameTakesItsDelay.
    const unsigned delay = DelayMs / 10u;
    for (const auto& extension : *ExtBlocks) {
      if (!extension || extension->Kind != ekGraphicControl) continue;
      extension->Header[2] = static_cast<std::uint8_t>(delay);
      extension->Header[3] = static_cast<std::uint8_t>(delay >> 8);
    }
    std::array<std::uint8_t, 15>& header = control->Header;
    // The index already given keeps its place when its entry has the colour: a table may hold
    // the colour more than once, and the pixels of that index are the transparent ones.
    // Quirk (a mended fault). Test: Write.ATransparentIndexOfARepeatedColourKeepsItsPlace.
    const GifColorTable& table = Encoded->ColorTable;
    const bool kept = (header[1] & kTransparentFlag) && TransColor != NoColor && header[4] < table.Count &&
                      table.Color(header[4]) == TableRGB(TransColor);
    const int index = kept ? header[4] : FindColorIndex(table, TransColor);
    if (index >= 0) {
      header[4] = static_cast<std::uint8_t>(index);
      header[1] |= kTransparentFlag;
    } else {
      header[1] &= static_cast<std::uint8_t>(~kTransparentFlag);
    }
    // Bits 2-4 take the disposal; the user-input bit and the reserved bits stay.
    header[1] = static_cast<std::uint8_t>((header[1] & ~(7u << kDisposalShift)) |
                                          (Disposal & 7u) << kDisposalShift);
  }
  if (ExtBlocks) {
    for (int i = ExtBlocks->Count() - 1; i >= 0; --i) {
      const TExtension* extension = ExtBlocks->At(i);
      if (extension && extension->Kind == ekComment &&
          (!extension->Lines || extension->Lines->Empty()))
        ExtBlocks->Delete(i);
    }
    if (!ExtBlocks->Empty() && ParentImage) ParentImage->GifVersion = 2;
  }
}

// ---- The picture

void TGIFImage::PrepareFrames() {
  for (const auto& frame : FrameList) {
    if (frame->Encoded->HasPixelData()) continue;
    frame->Encoded->PixelData.reset();
    frame->EncodeBitmap();
  }
  for (const auto& frame : FrameList) frame->SyncExtensions();
}

void TGIFImage::WriteGIF(tk::TStream& stream, bool withLength) {
  if (FrameCount() == 0) throw tk::EInvalidGraphicOperation(std::string(SNoGIFData));
  PrepareFrames();
  TGIFData& screen = *ScreenData;
  if (!screen.CommentLines.Empty()) GifVersion = 2;

  // The logical screen is the union of the frames. After PrepareFrames every frame is encoded,
  // and a frame's bitmap has the size of its encoded image, so frames that are not built yet
  // need not be decoded for their size.
  LogicalWidth = 0;
  LogicalHeight = 0;
  for (const auto& frame : FrameList) {
    const bool hasBitmap = frame->BuiltBitmap && !frame->BuiltBitmap->IsEmpty();
    const int width = hasBitmap ? frame->BuiltBitmap->Width() : frame->Encoded->ItemWidth;
    const int height = hasBitmap ? frame->BuiltBitmap->Height() : frame->Encoded->ItemHeight;
    LogicalWidth = static_cast<std::uint16_t>(std::max(int{LogicalWidth}, frame->LeftPos + width));
    LogicalHeight =
        static_cast<std::uint16_t>(std::max(int{LogicalHeight}, frame->TopPos + height));
  }

  tk::TMemoryStream out;
  out.WriteBuffer("GIF", 3);
  out.WriteBuffer(GifVersionTexts[GifVersion == 2 ? 2 : 1].data(), 3);
  WriteU16(out, LogicalWidth);
  WriteU16(out, LogicalHeight);
  const GifColorTable& global = screen.GlobalTable;
  int globalDepth = 0;
  if (global.Count > 0) {
    // The colour resolution and the size field both follow from the table's size.
    globalDepth = DepthForCount(global.Count);
    out.WriteU8(static_cast<std::uint8_t>(kColorTableFlag | (globalDepth - 1) << kColorResolutionShift |
                                          (globalDepth - 1)));
    out.WriteU8(static_cast<std::uint8_t>(std::max(FindColorIndex(global, BackdropColor), 0)));
  } else {
    out.WriteU8(0);
    out.WriteU8(0);
  }
  out.WriteU8(screen.AspectByte);
  if (globalDepth > 0) WriteColorTable(out, global, globalDepth);

  if (LoopEnabled && FrameCount() > 1) {
    // The looping application extension: its identifier, then one sub-block of 3 bytes, 1 and
    // the loop count.
    out.WriteU8(kExtensionIntroducer);
    out.WriteU8(ExtensionLabels[ekApplication]);
    out.WriteU8(static_cast<std::uint8_t>(kNetscapeLoop.size()));
    out.WriteBuffer(kNetscapeLoop.data(), kNetscapeLoop.size());
    out.WriteU8(3);
    out.WriteU8(1);
    out.WriteU16(LoopCount);
    out.WriteU8(0);
  }

  for (const auto& frame : FrameList) {
    if (frame->ExtBlocks) WriteExtensions(out, *frame->ExtBlocks);
    TGIFItem& item = *frame->Encoded;
    // A frame with a table of its own writes it as its local table; its depth follows from
    // the table's size. (A frame copied from a picture without any table has none to write.)
    const bool local = frame->OwnColorTable && item.ColorTable.Count > 0;
    if (local) item.BitDepth = item.ColorTable.Depth();
    out.WriteU8(kImageSeparator);
    WriteU16(out, frame->LeftPos);
    WriteU16(out, frame->TopPos);
    WriteU16(out, item.ItemWidth);
    WriteU16(out, item.ItemHeight);
    out.WriteU8(static_cast<std::uint8_t>((local ? kColorTableFlag | (item.BitDepth - 1) : 0) |
                                          (frame->IsInterlaced ? kInterlaceFlag : 0)));
    if (local) WriteColorTable(out, item.ColorTable, item.BitDepth);
    if (item.Streamed) {
      // Data kept in the stream the picture was read from is read in to be written.
      const StreamedData& place = *item.Streamed;
      tk::TMemoryStream data;
      data.SetSize(place.Size);
      ReadStreamAt(*place.Stream, place.Offset, data.Memory(), static_cast<std::size_t>(place.Size));
      WritePixelData(out, data);
    } else {
      WritePixelData(out, *item.PixelData);
    }
  }

  if (!screen.CommentLines.Empty()) {
    out.WriteU8(kExtensionIntroducer);
    out.WriteU8(ExtensionLabels[ekComment]);
    WriteSubBlocks(out, screen.CommentLines);
  }
  out.WriteU8(kTrailer);

  if (withLength) {
    if (out.Size() > std::numeric_limits<std::int32_t>::max())
      throw tk::EInvalidGraphicOperation(std::string(SEncodingError));
    stream.WriteI32(static_cast<std::int32_t>(out.Size()));
  }
  stream.WriteBuffer(out.Bytes());
}

void TGIFImage::SaveStream(tk::TStream& stream) {
  WriteGIF(stream, false);
}
void TGIFImage::WriteStored(tk::TStream& stream) {
  WriteGIF(stream, true);
}

}  // namespace gif
