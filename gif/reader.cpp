// The GIF stream reader: header, logical screen, colour tables, extensions and images. Images
// keep their LZW data as read; pixels are decoded only when a frame's bitmap is needed.
#include "gif/reader.h"

#include "gif/format.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace gif {

namespace {

// Quirk: a loop count above 30000 is taken as 30000, as the format's first readers did; such
// counts loop all but forever anyway. Test: ReadExtensions.LoopingExtensions.
constexpr int kMaxLoopCount = 30000;

// The three bytes match the text, letters compared without regard to case.
// Quirk: "gif89A" and the like are read, as writers of old wrote them in either case.
// Test: ReadHeader.SignatureAndVersionIgnoreCase.
bool SameText(const std::uint8_t* bytes, std::string_view text) {
  for (std::size_t i = 0; i < 3; ++i) {
    auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    if (lower(bytes[i]) != lower(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

[[noreturn]] void Fail(std::string_view message, std::string reason) {
  throw tk::EInvalidGraphicOperation(std::string(message), tk::Reason{std::move(reason)});
}

// Bytes as they stand in a reason: letters as they are, others in hexadecimal.
std::string Shown(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned c = bytes[i];
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 15];
    }
  }
  return text;
}

// The byte that opens the next block. Quirk: the end of the data reads as the trailer, so a GIF
// that ends after an image or an extension needs none, as readers generally accept.
// Test: ReadBlocks.TrailerIsOptionalAndBytesBehindItAreNotRead.
std::uint8_t NextBlockByte(GifBuffer& data) { return data.AtEnd() ? kTrailer : data.ReadByte(); }

// The block byte after an image. Quirk: zero bytes there are passed over, and a byte that opens
// no known block ends the reading quietly (gives 0) with the frames read so far, since writers
// pad and append junk behind images. Test: ReadBlocks.ZeroBytesAndStrayBytesAfterAnImage.
std::uint8_t BlockAfterImage(GifBuffer& data) {
  std::uint8_t blockByte = NextBlockByte(data);
  while (blockByte == 0 && !data.AtEnd()) blockByte = data.ReadByte();
  if (blockByte != kExtensionIntroducer && blockByte != kImageSeparator && blockByte != kTrailer)
    return 0;
  return blockByte;
}

// An extension of a label the format does not know. Quirk: when tolerating damage it is skipped
// as a sub-block chain (the general layout of extensions), as other decoders do; strict reading
// refuses it with "Unrecognized extension block: %.2x". Test: ReadExtensions.UnknownLabels.
void SkipUnknownExtension(GifBuffer& data, std::uint8_t label, bool tolerate) {
  if (!tolerate)
    throw tk::EInvalidGraphicOperation(tk::Format(SUnknownExtension, {std::int64_t{label}}));
  ReadSubBlocks(data);
}

// Takes an image's code size byte and the complete sub-blocks behind it, as they stand, into the
// item's PixelData: a view of the buffer's bytes when an owner keeps them alive, else a copy; or,
// reading a stream, their place in it (Streamed). Returns true
// when a sub-block announces more bytes than remain (damage).
// Quirk: such a chain keeps its complete sub-blocks (Test:
// ReadImage.TruncatedDataChainWithAndWithoutTolerance), and data that ends right after the code
// size byte gets the terminator it lacks, so that the data is a whole chain (Test:
// ReadImage.DataEndingAfterTheCodeSizeGetsATerminator).
bool CopyImageData(GifBuffer& data, TGIFItem& item) {
  const std::uint64_t begin = data.Position();
  data.ReadExactByte("LZW code size");
  std::uint64_t copied = 1;
  bool damaged = false;
  const bool missingTerminator = data.AtEnd();
  while (!data.AtEnd()) {
    const std::size_t length = data.ReadByte();
    if (length > data.Remaining()) {
      damaged = true;
      break;
    }
    data.Skip(length);
    copied += 1 + length;
    if (length == 0) break;
  }
  std::unique_ptr<tk::TMemoryStream>& target = item.PixelData;
  if (data.Stream()) {
    // The data stays in the stream. Without its terminator it decodes as with one: the codes end
    // with the data.
    target.reset();
    item.Streamed = data.Place(begin, copied);
    return damaged;
  }
  const std::span<const std::uint8_t> bytes =
      data.Bytes().subspan(static_cast<std::size_t>(begin), static_cast<std::size_t>(copied));
  if (data.Owner()) {
    target = std::make_unique<tk::TMemoryStream>(bytes, data.Owner());
  } else {
    target->Reserve(bytes.size() + 1);
    target->WriteBuffer(bytes);
  }
  if (missingTerminator) {  // the stream's own bytes from here on
    target->SetPosition(target->Size());
    target->WriteU8(0);
  }
  return damaged;
}

// The pixel depth of an image without any colour table. Quirk: its depth is that of its code size
// (2..8) instead of none, which would make the frame fail to decode with "Wrong number of colors;
// must be a power of 2": its pixels are kept and drawn through a grey ramp (RowPalette).
// Test: ReadImage.WithoutAnyColourTableTheCodeSizeGivesTheDepth.
std::uint8_t DepthWithoutTable(std::uint8_t codeSize) {
  return static_cast<std::uint8_t>(std::clamp<int>(codeSize, 2, 8));
}

}  // namespace

// ---- The buffer

GifBuffer::GifBuffer(std::shared_ptr<tk::TStream> stream)
    : size_(static_cast<std::uint64_t>(std::max<std::int64_t>(stream->Remaining(), 0))),
      stream_(std::move(stream)),
      start_(stream_->Position()),
      buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(
          static_cast<std::size_t>(std::min<std::uint64_t>(size_, kWindowBytes)))) {}

void GifBuffer::Fill() {
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(Remaining(), kWindowBytes));
  window_ = {};
  ReadStreamAt(*stream_, start_ + static_cast<std::int64_t>(pos_), buffer_.get(), count);
  window_ = {buffer_.get(), count};
  windowAt_ = pos_;
}

std::size_t GifBuffer::Read(void* out, std::size_t count) {
  auto* bytes = static_cast<std::uint8_t*>(out);
  std::size_t done = 0;
  while (done < count && !AtEnd()) {
    const std::span<const std::uint8_t> part = Ahead(std::min(count - done, kWindowBytes));
    std::memcpy(bytes + done, part.data(), part.size());
    done += part.size();
    Skip(part.size());
  }
  if (done < count) std::memset(bytes + done, 0, count - done);
  return done;
}

void GifBuffer::ReadExact(void* out, std::size_t count, std::string_view what) {
  if (count > Remaining())
    throw tk::EReadError(tk::Reason{tk::ByteReader::ShortReason(what, count, pos_, Remaining())});
  Read(out, count);
}

// ---- Blocks

std::unique_ptr<tk::TStringList> ReadSubBlocks(GifBuffer& data) {
  auto lines = std::make_unique<tk::TStringList>();
  for (;;) {
    std::uint8_t length = data.ReadByte();
    if (length != 0) {
      std::string bytes(length, '\0');
      data.Read(bytes.data(), length);
      lines->Add(std::move(bytes));
    }
    if (length == 0 || data.AtEnd()) return lines;
  }
}

std::unique_ptr<TExtension> ReadExtension(GifBuffer& data, bool tolerate) {
  auto extension = std::make_unique<TExtension>();
  std::uint8_t label = data.ReadByte();
  const std::optional<TExtensionKind> kind = KindOfLabel(label);
  if (!kind) {
    SkipUnknownExtension(data, label, tolerate);
    return nullptr;
  }
  // The fixed part is read by its kind's count whatever its size byte says.
  extension->Kind = *kind;
  data.Read(extension->Header.data(), ExtensionHeaderBytes[*kind]);
  if (HasSubBlocks(*kind)) extension->Lines = ReadSubBlocks(data);
  return extension;
}

std::unique_ptr<TExtensionList> TGIFImage::ReadExtensionRun(GifBuffer& data, std::uint8_t& blockByte) {
  std::unique_ptr<TExtensionList> kept;
  while (blockByte == kExtensionIntroducer) {
    std::unique_ptr<TExtension> extension = ReadExtension(data, Options.Tolerates());
    // The graphic control and comment extensions gathered so far belong to the text.
    if (extension && extension->Kind == ekPlainText) kept.reset();
    if (!extension) {
      // an extension of an unknown label, skipped
    } else if (extension->Kind == ekPlainText || extension->Kind == ekApplication) {
      if (extension->IsLoopExtension()) {
        LoopEnabled = true;
        LoopCount = static_cast<std::uint16_t>(std::min<int>(extension->LoopCount(), kMaxLoopCount));
      }
    } else {
      if (!kept) kept = std::make_unique<TExtensionList>();
      kept->Add(std::move(extension));
    }
    blockByte = NextBlockByte(data);
  }
  if (kept && kept->Empty()) kept.reset();
  return kept;
}

void TGIFFrame::ReadImage(GifBuffer& data) {
  TGIFItem& item = *Encoded;
  item.PixelData = std::make_unique<tk::TMemoryStream>();
  item.Streamed.reset();
  DataDamaged = false;
  try {
    std::uint8_t desc[9];
    data.ReadExact(desc, sizeof desc, "image descriptor");
    const std::uint8_t packed = desc[8];
    IsInterlaced = (packed & kInterlaceFlag) != 0;
    if (packed & kColorTableFlag) {
      item.BitDepth = static_cast<std::uint8_t>((packed & kTableSizeBits) + 1);
      OwnColorTable = true;
      item.ColorTable.Count = 1 << item.BitDepth;
      data.ReadExact(item.ColorTable.Entries.data(), 3 * static_cast<std::size_t>(item.ColorTable.Count),
                     "local colour table");
    } else {
      OwnColorTable = false;
      item.ColorTable = GifColorTable{};
    }

    // The code size byte and the complete sub-blocks that follow, as they stand.
    const std::uint8_t codeSize = data.PeekByte();
    DataDamaged = CopyImageData(data, item);
    if (DataDamaged && !Options().Tolerates())
      Fail(tk::SReadError, "the image data announces a sub-block longer than the " +
                               std::to_string(data.Remaining()) + " bytes left");
    if (item.PixelData) item.PixelData->SetPosition(0);

    const TGIFImage& picture = *ParentImage;
    auto u16 = [&](int i) { return desc[i] | desc[i + 1] << 8; };
    LeftPos = u16(0);
    TopPos = u16(2);
    item.ItemWidth = u16(4) ? u16(4) : picture.LogicalWidth;
    item.ItemHeight = u16(6) ? u16(6) : picture.LogicalHeight;
    item.DescFlags = packed;
    if (!OwnColorTable) item.ColorTable = picture.ScreenData->GlobalTable;
    if (item.ColorTable.Count == 0) item.BitDepth = DepthWithoutTable(codeSize);

    // Timing, transparency and disposal: the last graphic control extension decides
    // transparency and disposal, the largest delay wins.
    DelayMs = 0;
    if (ExtBlocks) {
      for (const auto& extension : *ExtBlocks) {
        if (extension->Kind != ekGraphicControl) continue;
        if (extension->Packed() & kTransparentFlag) {
          if (extension->TransparentIndex() < item.ColorTable.Count)
            TransColor = item.ColorTable.Color(extension->TransparentIndex());
        } else {
          TransColor = NoColor;
        }
        DelayMs = static_cast<std::uint16_t>(std::max<int>(DelayMs, extension->Delay() * 10));
        Disposal = static_cast<std::uint8_t>((extension->Packed() >> kDisposalShift) & 7);
      }
    }
  } catch (...) {
    item.PixelData.reset();
    item.Streamed.reset();
    throw;
  }
}

void TGIFImage::ReadGIF(std::int64_t byteCount, tk::TStream& stream, bool decodeFirst) {
  Reset();
  // All parsing works on the whole GIF in one buffer, which the frames' LZW data refer to: the
  // stream's own bytes when something keeps them alive (a file read whole, a library's
  // resource), else one exact read into a buffer of the picture's.
  if (byteCount < 0 || byteCount > stream.Remaining())
    throw tk::EReadError(tk::Reason{"a GIF of " + std::to_string(byteCount) + " bytes asked for, " +
                                    std::to_string(stream.Remaining()) + " in the stream"});
  const auto count = static_cast<std::size_t>(byteCount);
  std::span<const std::uint8_t> buffer;
  std::shared_ptr<const void> owner;
  if (auto* view = dynamic_cast<tk::TReadOnlyMemoryStream*>(&stream); view && view->Owner()) {
    buffer = view->Bytes().subspan(static_cast<std::size_t>(view->Position()), count);
    owner = view->Owner();
    view->Seek(byteCount, tk::SeekOrigin::Current);
  } else {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(count);
    stream.ReadBuffer(bytes->data(), count);
    buffer = *bytes;
    owner = std::move(bytes);
  }
  GifBuffer data(buffer, std::move(owner));
  ParseGIF(data, decodeFirst);
}

void TGIFImage::ReadGIFStreamed(std::shared_ptr<tk::TStream> stream) {
  Reset();
  GifBuffer data(std::move(stream));
  ParseGIF(data, false);
}

void TGIFImage::ParseGIF(GifBuffer& data, bool decodeFirst) {
  if (data.Size() > 0) {
    TGIFData& screen = *ScreenData;
    std::uint8_t header[6];
    data.Read(header, sizeof header);
    if (!SameText(header, "GIF")) Fail(SUnknownVersion, "signature \"" + Shown(header, 3) + "\"");
    if (SameText(header + 3, GifVersionTexts[1])) GifVersion = 1;
    else if (SameText(header + 3, GifVersionTexts[2])) GifVersion = 2;
    else Fail(SUnknownVersion, "version \"" + Shown(header + 3, 3) + "\"");

    std::uint8_t lsd[7];
    data.Read(lsd, sizeof lsd);
    LogicalWidth = static_cast<std::uint16_t>(lsd[0] | lsd[1] << 8);
    LogicalHeight = static_cast<std::uint16_t>(lsd[2] | lsd[3] << 8);
    screen.GlobalDepth = static_cast<std::uint8_t>((lsd[4] & kTableSizeBits) + 1);
    screen.ColorResolution =
        static_cast<std::uint8_t>(((lsd[4] >> kColorResolutionShift) & kTableSizeBits) + 1);
    screen.AspectByte = lsd[6];
    if (lsd[4] & kColorTableFlag) {
      screen.GlobalTable.Count = 1 << screen.GlobalDepth;
      data.Read(screen.GlobalTable.Entries.data(), 3 * static_cast<std::size_t>(screen.GlobalTable.Count));
      if (lsd[5] < screen.GlobalTable.Count) BackdropColor = screen.GlobalTable.Color(lsd[5]);
    }

    std::uint8_t blockByte = data.ReadByte();
    while (blockByte != 0 && blockByte != kTrailer && !data.AtEnd()) {
      std::unique_ptr<TExtensionList> extensions = ReadExtensionRun(data, blockByte);
      if (blockByte == kImageSeparator) {
        if (FrameCount() == MaxFrames)
          Fail(tk::Format(STooManyFrames, {std::int64_t{MaxFrames}}),
               "one more image at offset " + std::to_string(data.Position() - 1));
        auto frame = std::make_unique<TGIFFrame>(this);
        if (screen.GlobalTable.Count > 0)
          frame->Encoded->BitDepth = static_cast<std::uint8_t>(DepthForCount(screen.GlobalTable.Count));
        frame->ExtBlocks = std::move(extensions);
        frame->ReadImage(data);
        FrameList.Add(std::move(frame));
        blockByte = BlockAfterImage(data);
      } else if (extensions && screen.CommentLines.Empty()) {
        // Trailing extensions: their comments become the picture's comment text.
        for (const auto& extension : *extensions) {
          if (extension->Kind != ekComment) continue;
          if (!screen.CommentLines.Empty()) screen.CommentLines.Add("\r\n\r\n");
          if (extension->Lines)
            for (const std::string& line : *extension->Lines) screen.CommentLines.Add(line);
        }
      } else if (blockByte != 0 && blockByte != kTrailer) {
        Fail(tk::SReadError, "the byte " + Shown(&blockByte, 1) + " at offset " +
                                 std::to_string(data.Position() - 1) + " opens no block");
      }
    }
  }
  if (FrameCount() > 0) {
    CurrentIndex = 0;
    if (decodeFirst) {
      try {
        CurrentBitmap();
      } catch (...) {
        FrameList.Delete(0);
        throw;
      }
    }
  }
  SetPaletteModified(true);
  Changed();
}

void TGIFImage::LoadStream(tk::TStream& stream) { ReadGIF(stream.Remaining(), stream, true); }

void TGIFImage::ReadStored(tk::TStream& stream) {
  std::int32_t length = stream.ReadI32();
  ReadGIF(length, stream, true);
}

}  // namespace gif
