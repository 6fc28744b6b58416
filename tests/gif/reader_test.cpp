// The GIF stream reader: header and screen, blocks, extensions, images, damage and failures.
#include <gtest/gtest.h>

#include <memory>

#include "gif/gif.h"
#include "gif/reader.h"
#include "gif_builder.h"
#include "toolkit/device/bitmap.h"

using namespace giftest;
using gif::NoColor;
using gif::TGIFImage;

namespace {

Bytes OneImage(const Bytes& before = {}, const Bytes& after = {0x3B}) {
  Bytes b = Screen(2, 2, 0x81);
  b << Table(4) << before << Descriptor(0, 0, 2, 2) << LiteralData(2, {0, 1, 2, 3}) << after;
  return b;
}

TEST(ReadHeader, EmptyDataGivesAnEmptyPictureAndSignalsOnce) {
  TGIFImage picture;
  ChangeCounter changes(picture);
  Read(picture, {});
  EXPECT_EQ(picture.FrameCount(), 0);
  EXPECT_EQ(picture.CurrentIndex, -1);
  EXPECT_EQ(picture.GifVersion, 0);
  EXPECT_TRUE(picture.PaletteModified());
  EXPECT_EQ(changes.count, 1);
}

TEST(ReadHeader, SignatureAndVersionIgnoreCase) {
  struct Case {
    std::string_view signature;
    int version;  // 0: fails
  } cases[] = {{"GIF89a", 2}, {"gif89A", 2}, {"GiF87A", 1}, {"GIF87a", 1},
               {"GIF88a", 0}, {"GIX89a", 0}, {"JIF89a", 0}, {"GIF89b", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.signature));
    TGIFImage picture;
    ChangeCounter changes(picture);
    Bytes bytes = Screen(1, 1, 0, 0, 0, c.signature);
    if (c.version) {
      Read(picture, bytes);
      EXPECT_EQ(picture.GifVersion, c.version);
      EXPECT_EQ(changes.count, 1);
    } else {
      EXPECT_FAILS_WITH(Read(picture, bytes), tk::EInvalidGraphicOperation, "Unknown GIF version");
      EXPECT_EQ(picture.GifVersion, 0);
      EXPECT_EQ(changes.count, 0);
    }
  }
}

TEST(ReadHeader, LogicalScreenFields) {
  TGIFImage picture;
  // Global table of 8 entries (size field 2), colour resolution field 5, background 6, aspect 49.
  Bytes bytes = Screen(0x0201, 0x0403, 0x80 | 5 << 4 | 0x08 | 2, 6, 49);
  bytes << Table(8) << Bytes{0x3B};
  Read(picture, bytes);
  EXPECT_EQ(picture.LogicalWidth, 0x0201);
  EXPECT_EQ(picture.LogicalHeight, 0x0403);
  EXPECT_EQ(picture.ScreenData->GlobalDepth, 3);
  EXPECT_EQ(picture.ScreenData->ColorResolution, 6);
  EXPECT_EQ(picture.ScreenData->AspectByte, 49);
  EXPECT_EQ(picture.ScreenData->GlobalTable.Count, 8);
  EXPECT_EQ(picture.ScreenData->GlobalTable.Color(7), TableColor(7));
  EXPECT_EQ(picture.BackdropColor, TableColor(6));

  // A background index beyond the table, or no table at all: no background colour; the size
  // field is kept all the same.
  Bytes beyond = Screen(1, 1, 0x81, 4);
  beyond << Table(4);
  Read(picture, beyond);
  EXPECT_EQ(picture.BackdropColor, NoColor);
  Read(picture, Screen(1, 1, 0x03, 1));
  EXPECT_EQ(picture.BackdropColor, NoColor);
  EXPECT_EQ(picture.ScreenData->GlobalDepth, 4);
  EXPECT_EQ(picture.ScreenData->GlobalTable.Count, 0);
}

TEST(ReadHeader, MissingBytesAtTheEndReadAsZero) {
  TGIFImage picture;
  // Cut inside the signature: the zero bytes are no "GIF".
  EXPECT_FAILS_WITH(Read(picture, Bytes{'G', 'I'}), tk::EInvalidGraphicOperation, "Unknown GIF version");
  // Cut inside the screen descriptor or the global table: an empty picture.
  Bytes cut = Screen(0x0105, 7, 0x82);
  cut.resize(8);
  Read(picture, cut);
  EXPECT_EQ(picture.LogicalWidth, 0x0105);
  EXPECT_EQ(picture.LogicalHeight, 0);
  EXPECT_EQ(picture.FrameCount(), 0);
  Bytes table = Screen(1, 1, 0x81, 3);
  table << Table(4);
  table.resize(table.size() - 4);
  Read(picture, table);
  EXPECT_EQ(picture.ScreenData->GlobalTable.Count, 4);
  EXPECT_EQ(picture.ScreenData->GlobalTable.Color(2), TableColor(2) & 0x00FFFF);
  EXPECT_EQ(picture.BackdropColor, 0u);
}

TEST(ReadBlocks, TrailerIsOptionalAndBytesBehindItAreNotRead) {
  TGIFImage picture;
  Read(picture, OneImage({}, {}));  // data ends right after the image
  EXPECT_EQ(picture.FrameCount(), 1);
  EXPECT_EQ(picture.CurrentIndex, 0);
  Read(picture, OneImage({}, GraphicControl(0, 1, 0)));  // ... or after an extension
  EXPECT_EQ(picture.FrameCount(), 1);
  Read(picture, OneImage({}, {0x3B, 0x2C, 0xFF, 0xFF}));
  EXPECT_EQ(picture.FrameCount(), 1);
}

TEST(ReadBlocks, ZeroBytesAndStrayBytesAfterAnImage) {
  TGIFImage picture;
  Bytes two = OneImage({}, {0, 0, 0});
  two << Descriptor(0, 0, 2, 2) << LiteralData(2, {3, 3, 3, 3}) << Bytes{0x3B};
  Read(picture, two);
  EXPECT_EQ(picture.FrameCount(), 2);
  // A stray byte after an image ends the reading quietly; the frames stay.
  Bytes stray = OneImage({}, {0x41});
  stray << Descriptor(0, 0, 2, 2) << LiteralData(2, {3, 3, 3, 3}) << Bytes{0x3B};
  Read(picture, stray);
  EXPECT_EQ(picture.FrameCount(), 1);
  EXPECT_EQ(picture.CurrentIndex, 0);
}

TEST(ReadBlocks, StrayByteWhereTheFirstBlockIsExpected) {
  TGIFImage picture;
  ChangeCounter changes(picture);
  Bytes last = Screen(1, 1, 0x80);
  last << Table(2) << Bytes{0x41};
  Read(picture, last);
  EXPECT_EQ(picture.FrameCount(), 0);
  EXPECT_EQ(changes.count, 1);
  Bytes more = last;
  more.push_back(0x3B);
  EXPECT_FAILS_WITH(Read(picture, more), tk::EInvalidGraphicOperation, "Stream read error");
  EXPECT_EQ(changes.count, 1);
  // The same after trailing extensions.
  Bytes trailing = Screen(1, 1);
  trailing << Comment({{'x'}}) << Bytes{0x41, 0x00};
  EXPECT_FAILS_WITH(Read(picture, trailing), tk::EInvalidGraphicOperation, "Stream read error");
}

TEST(ReadBlocks, FailureKeepsTheFramesReadSoFarWithoutCurrentFrame) {
  TGIFImage picture;
  ChangeCounter changes(picture);
  Bytes bytes = OneImage({}, {});
  bytes << Descriptor(0, 0, 2, 2);
  bytes.resize(bytes.size() - 3);  // the second descriptor is cut short
  EXPECT_FAILS_WITH(Read(picture, bytes), tk::EReadError, "Stream read error");
  EXPECT_EQ(picture.FrameCount(), 1);
  EXPECT_EQ(picture.CurrentIndex, -1);
  EXPECT_EQ(picture.FrameAt(0).BuiltBitmap, nullptr);
  EXPECT_EQ(changes.count, 0);
  // A local colour table or a code size byte cut short fails the same way.
  Bytes table = Screen(2, 2);
  table << Descriptor(0, 0, 2, 2, 0x81) << Table(3);
  EXPECT_FAILS_WITH(Read(picture, table), tk::EReadError, "Stream read error");
  EXPECT_EQ(picture.FrameCount(), 0);
  Bytes codeSize = Screen(2, 2);
  codeSize << Descriptor(0, 0, 2, 2, 0x81) << Table(4);
  EXPECT_FAILS_WITH(Read(picture, codeSize), tk::EReadError, "Stream read error");
}

TEST(ReadImage, FrameFieldsFromDescriptorAndTables) {
  TGIFImage picture;
  Bytes bytes = Screen(300, 200, 0x81);
  bytes << Table(4)
        << Descriptor(0x0102, 0x0304, 3, 0, 0x40 | 0x20 | 0x18 | 0x80 | 2) << Table(8)
        << LiteralData(3, {1, 2, 3, 4, 5, 6}) << Descriptor(7, 9, 1, 1) << LiteralData(2, {1})
        << Bytes{0x3B};
  Read(picture, bytes);
  ASSERT_EQ(picture.FrameCount(), 2);
  gif::TGIFFrame& local = picture.FrameAt(0);
  EXPECT_EQ(local.LeftPos, 0x0102);
  EXPECT_EQ(local.TopPos, 0x0304);
  EXPECT_EQ(local.Encoded->ItemWidth, 3);
  EXPECT_EQ(local.Encoded->ItemHeight, 200);  // 0 takes the logical height
  EXPECT_TRUE(local.IsInterlaced);
  EXPECT_TRUE(local.OwnColorTable);
  EXPECT_EQ(local.Encoded->DescFlags, 0xFA);
  EXPECT_EQ(local.Encoded->BitDepth, 3);
  EXPECT_EQ(local.Encoded->ColorTable.Count, 8);
  EXPECT_EQ(local.Encoded->ColorTable.Color(7), TableColor(7));
  EXPECT_FALSE(local.DataDamaged);
  EXPECT_EQ(local.BuiltBitmap, nullptr);
  EXPECT_EQ(local.ExtBlocks, nullptr);
  gif::TGIFFrame& global = picture.FrameAt(1);
  EXPECT_FALSE(global.OwnColorTable);
  EXPECT_FALSE(global.IsInterlaced);
  EXPECT_EQ(global.Encoded->BitDepth, 2);
  EXPECT_EQ(global.Encoded->ColorTable.Count, 4);
  EXPECT_EQ(global.Encoded->ColorTable.Color(3), TableColor(3));
  // The encoded data is kept as it stood: code size byte, sub-blocks, terminator.
  Bytes data = LiteralData(2, {1});
  EXPECT_EQ(Bytes(global.Encoded->PixelData->Bytes().begin(), global.Encoded->PixelData->Bytes().end()), data);
  EXPECT_EQ(global.Encoded->PixelData->Position(), 0);
}

TEST(ReadImage, WithoutAnyColourTableTheCodeSizeGivesTheDepth) {
  TGIFImage picture;
  Bytes bytes = Screen(2, 1);
  bytes << Descriptor(0, 0, 2, 1) << LiteralData(3, {5, 2}) << Bytes{0x3B};
  Read(picture, bytes);
  EXPECT_EQ(picture.FrameAt(0).Encoded->BitDepth, 3);
  EXPECT_EQ(picture.FrameAt(0).Encoded->ColorTable.Count, 0);
  // Its pixels are shown through a grey ramp over the 8 values of 3 bits, not as one grey.
  tk::TBitmap& bitmap = *picture.FrameAt(0).BuildBitmap();
  EXPECT_EQ(bitmap.Canvas().Pixels(0, 0), 0xB6B6B6u);  // 5 * 255 / 7
  EXPECT_EQ(bitmap.Canvas().Pixels(1, 0), 0x484848u);  // 2 * 255 / 7
}

TEST(ReadImage, DataEndingAfterTheCodeSizeGetsATerminator) {
  // The data ends right after the code size byte: the frame keeps a whole, empty chain.
  Bytes bytes = Screen(2, 1, 0x81);
  bytes << Table(4) << Descriptor(0, 0, 2, 1) << Bytes{2};
  for (bool tolerate : {true, false}) {
    Tolerate setting(tolerate);
    TGIFImage picture;
    Read(picture, bytes);
    ASSERT_EQ(picture.FrameCount(), 1);
    const auto kept = picture.FrameAt(0).Encoded->PixelData->Bytes();
    EXPECT_EQ(Bytes(kept.begin(), kept.end()), (Bytes{2, 0}));
    EXPECT_FALSE(picture.FrameAt(0).DataDamaged);
  }
}

TEST(ReadImage, TruncatedDataChainWithAndWithoutTolerance) {
  Bytes bytes = Screen(4, 4, 0x81);
  bytes << Table(4) << Descriptor(0, 0, 4, 4);
  Bytes data = LiteralData(2, std::vector<std::uint8_t>(16, 1));
  // Cut the data into sub-blocks of 3 bytes, and cut the last one short.
  Bytes codes(data.begin() + 2, data.end() - 1);
  codes.resize(codes.size() / 3 * 3);
  Bytes chain = SubBlocks(codes, 3);
  chain.resize(chain.size() - 3);
  bytes.push_back(2);
  bytes << chain;
  const std::size_t complete = (chain.size() - 1) / 4 * 4;  // whole sub-blocks kept
  {
    Tolerate on(true);
    TGIFImage picture;
    Read(picture, bytes);
    ASSERT_EQ(picture.FrameCount(), 1);
    gif::TGIFFrame& frame = picture.FrameAt(0);
    EXPECT_TRUE(frame.DataDamaged);
    auto kept = frame.Encoded->PixelData->Bytes();
    ASSERT_EQ(kept.size(), 1 + complete);
    EXPECT_TRUE(std::equal(kept.begin() + 1, kept.end(), chain.begin()));
  }
  {
    Tolerate off(false);
    TGIFImage picture;
    EXPECT_FAILS_WITH(Read(picture, bytes), tk::EInvalidGraphicOperation, "Stream read error");
    EXPECT_EQ(picture.FrameCount(), 0);
  }
}

TEST(ReadExtensions, GraphicControlGivesDelayTransparencyAndDisposal) {
  TGIFImage picture;
  Read(picture, OneImage(GraphicControl(0x01 | 3 << 2, 5, 3)));
  gif::TGIFFrame& frame = picture.FrameAt(0);
  EXPECT_EQ(frame.DelayMs, 50);
  EXPECT_EQ(frame.TransColor, TableColor(3));
  EXPECT_EQ(frame.Disposal, 3);
  ASSERT_NE(frame.ExtBlocks, nullptr);
  ASSERT_EQ(frame.ExtBlocks->Count(), 1);
  const gif::TExtension& kept = (*frame.ExtBlocks)[0];
  EXPECT_EQ(kept.Kind, gif::ekGraphicControl);
  EXPECT_EQ(Bytes(kept.Header.begin(), kept.Header.begin() + 6), (Bytes{4, 0x0D, 5, 0, 3, 0}));

  Read(picture, OneImage(GraphicControl(0x01, 7000, 4)));  // index beyond the 4-entry table
  EXPECT_EQ(picture.FrameAt(0).TransColor, NoColor);
  EXPECT_EQ(picture.FrameAt(0).DelayMs, 4464);  // 70000 in 16 bits

  // Several: the last decides transparency and disposal, the largest delay wins.
  Bytes several = GraphicControl(0x01 | 2 << 2, 30, 1);
  several << GraphicControl(0x00 | 1 << 2, 20, 2);
  Read(picture, OneImage(several));
  EXPECT_EQ(picture.FrameAt(0).TransColor, NoColor);
  EXPECT_EQ(picture.FrameAt(0).DelayMs, 300);
  EXPECT_EQ(picture.FrameAt(0).Disposal, 1);
  EXPECT_EQ(picture.FrameAt(0).ExtBlocks->Count(), 2);
}

TEST(ReadExtensions, PlainTextTakesThePrecedingExtensions) {
  TGIFImage picture;
  Bytes before = GraphicControl(0x01, 5, 1);
  before << Comment({{'c'}}) << PlainText({{'t'}});
  Read(picture, OneImage(before));
  gif::TGIFFrame& frame = picture.FrameAt(0);
  EXPECT_EQ(frame.ExtBlocks, nullptr);
  EXPECT_EQ(frame.DelayMs, 0);
  EXPECT_EQ(frame.TransColor, NoColor);
}

TEST(ReadExtensions, LoopingExtensions) {
  struct Case {
    Bytes extension;
    bool enabled;
    int count;
  } cases[] = {
      {Application("NETSCAPE2.0", {{1, 0x40, 0x9C}}), true, 30000},
      {Application("NETSCAPE2.0", {{1, 0, 0}}), true, 0},
      {Application("ANIMEXTS1.0", {{1, 5, 1}}), true, 261},
      {Application("NETSCAPE2.0", {{2, 5, 0}}), false, 1},      // not sub-block 1
      {Application("NETSCAPE2.0", {{1, 5}}), false, 1},         // too short
      {Application("NETSCAPE2.1", {{1, 5, 0}}), false, 1},      // other identifier
      {Application("NETSCAPE2.1", {{1, 5, 0}}, 10), true, 5},   // compared over 10 bytes only
      {Application("XMP DataXMP", {{1, 5, 0}}), false, 1},
  };
  for (const Case& c : cases) {
    TGIFImage picture;
    Read(picture, OneImage(c.extension));
    EXPECT_EQ(picture.LoopEnabled, c.enabled);
    EXPECT_EQ(picture.LoopCount, c.count);
    EXPECT_EQ(picture.FrameAt(0).ExtBlocks, nullptr);  // application extensions are not kept
  }
}

TEST(ReadExtensions, ApplicationSizeAboveElevenReadsOnlyTheStoredBytes) {
  // Size byte 0x40: the identifier comparison stops at the 11 stored bytes; the bytes that
  // follow the 12-byte header are read as the sub-block chain.
  TGIFImage picture;
  Read(picture, OneImage(Application("NETSCAPE2.0", {{1, 7, 0}}, 0x40)));
  EXPECT_TRUE(picture.LoopEnabled);
  EXPECT_EQ(picture.LoopCount, 7);
}

TEST(ReadExtensions, UnknownLabels) {
  Bytes unknown{0x21, 0x2C};
  unknown << Chain({{1, 2, 3}});
  {
    Tolerate off(false);
    TGIFImage picture;
    EXPECT_FAILS_WITH(Read(picture, OneImage(unknown)), tk::EInvalidGraphicOperation,
                      "Unrecognized extension block: 2C");
    Bytes low{0x21, 0x0A, 0};
    EXPECT_FAILS_WITH(Read(picture, OneImage(low)), tk::EInvalidGraphicOperation,
                      "Unrecognized extension block: 0A");
  }
  // Damage-tolerant reading skips them like other decoders.
  Tolerate on(true);
  TGIFImage picture;
  Bytes before = GraphicControl(0x01, 2, 2);
  before << unknown;
  Read(picture, OneImage(before));
  ASSERT_EQ(picture.FrameCount(), 1);
  EXPECT_EQ(picture.FrameAt(0).ExtBlocks->Count(), 1);
  EXPECT_EQ(picture.FrameAt(0).TransColor, TableColor(2));
}

TEST(ReadExtensions, TrailingCommentsWithSeparators) {
  TGIFImage picture;
  Bytes after = Comment({{0x61}});
  after << GraphicControl(0, 1, 0) << Comment({{0x62}}) << Bytes{0x3B};
  Read(picture, OneImage(Comment({{'f', 'r'}, {'m'}}), after));
  const tk::TStringList& lines = picture.ScreenData->CommentLines;
  ASSERT_EQ(lines.Count(), 3);
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(lines[1], "\r\n\r\n");
  EXPECT_EQ(lines[2], "b");
  // The comment before the image stays with the frame.
  tk::TStringList* frameComment = picture.FrameAt(0).FindComment(false);
  ASSERT_NE(frameComment, nullptr);
  EXPECT_EQ(*frameComment, (tk::TStringList{"fr", "m"}));
}

TEST(ReadExtensions, SubBlocksKeepAnyBytesAndStopAtTheEnd) {
  Bytes bytes{0, 'a', 0xFF, 3};
  gif::GifBuffer data(bytes);
  auto lines = gif::ReadSubBlocks(data);
  EXPECT_EQ(lines->Count(), 0);  // a zero length byte ends the chain
  Bytes text{2, 0, 0xFF, 4, 'a'};
  gif::GifBuffer cut(text);
  lines = gif::ReadSubBlocks(cut);
  ASSERT_EQ(lines->Count(), 2);
  EXPECT_EQ((*lines)[0], std::string("\0\xFF", 2));
  EXPECT_EQ((*lines)[1], std::string("a\0\0\0", 4));  // missing bytes read as zero
  EXPECT_TRUE(cut.AtEnd());
}

TEST(ReadEntryPoints, ReadGIFTakesExactlyTheByteCount) {
  Bytes bytes = OneImage();
  const std::size_t gifSize = bytes.size();
  bytes << Bytes{1, 2, 3};
  TGIFImage picture;
  tk::TReadOnlyMemoryStream stream(bytes);
  picture.ReadGIF(static_cast<std::int64_t>(gifSize), stream, false);
  EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(gifSize));
  EXPECT_EQ(picture.FrameCount(), 1);
  // More than the stream holds, or a negative count: the toolkit's read error.
  tk::TReadOnlyMemoryStream shortStream(bytes);
  EXPECT_FAILS_WITH(picture.ReadGIF(1000, shortStream, false), tk::EReadError, "Stream read error");
  EXPECT_EQ(picture.FrameCount(), 0);
  EXPECT_FAILS_WITH(picture.ReadGIF(-1, shortStream, false), tk::EReadError, "Stream read error");
}

TEST(ReadEntryPoints, FramesReferToTheBytesTheReaderHolds) {
  Bytes bytes = Screen(2, 1, 0x81);
  bytes << Table(4) << Descriptor(0, 0, 2, 1) << LiteralData(2, {0, 1});
  const std::size_t second = bytes.size() + 10;  // behind the next descriptor
  bytes << Descriptor(0, 0, 2, 1) << LiteralData(2, {2, 3}) << Bytes{0x3B};
  auto frameBytes = [](const TGIFImage& picture, int i) { return picture.FrameAt(i).Encoded->PixelData->Bytes(); };
  auto indices = [](gif::TGIFFrame& frame) {
    tk::TMemoryStream dib;
    frame.DecodeToDIB(dib);
    return DibIndices(dib.Bytes());
  };
  {
    // Bytes kept alive by an owner (gifkit's file, a library's resource) are taken in place.
    auto file = std::make_shared<const Bytes>(bytes);
    tk::TReadOnlyMemoryStream stream(*file, file);
    TGIFImage picture;
    picture.ReadGIF(stream.Size(), stream, false);
    EXPECT_EQ(stream.Position(), stream.Size());
    ASSERT_EQ(picture.FrameCount(), 2);
    EXPECT_TRUE(picture.FrameAt(1).Encoded->PixelData->Shares());
    EXPECT_EQ(frameBytes(picture, 1).data(), file->data() + second);
    EXPECT_EQ(file.use_count(), 4);  // the test, the stream and the two frames
    file.reset();
    TGIFImage copy;
    copy.TakeFrom(&picture);
    picture.FreeFrames();
    EXPECT_EQ(indices(copy.FrameAt(1)), (std::vector<unsigned>{2, 3}));
  }
  {
    // Other streams are read once into one buffer of the picture's, which the frames share.
    tk::TMemoryStream stream(bytes);
    TGIFImage picture;
    picture.ReadGIF(stream.Size(), stream, false);
    ASSERT_EQ(picture.FrameCount(), 2);
    EXPECT_TRUE(picture.FrameAt(0).Encoded->PixelData->Shares());
    EXPECT_EQ(frameBytes(picture, 1).data() - frameBytes(picture, 0).data(),
              static_cast<std::ptrdiff_t>(second - (13 + 12 + 10)));
    EXPECT_EQ(Bytes(frameBytes(picture, 1).begin(), frameBytes(picture, 1).end()),
              Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(second), bytes.end() - 1));
    // A change makes the frame's data its own and leaves the other frame as it was.
    picture.FrameAt(0).Encoded->PixelData->Clear();
    EXPECT_FALSE(picture.FrameAt(0).Encoded->PixelData->Shares());
    EXPECT_EQ(indices(picture.FrameAt(1)), (std::vector<unsigned>{2, 3}));
  }
}

TEST(ReadEntryPoints, AtMostMaxFramesAreRead) {
  // Minimal frames of 1 x 1 pixel, 12 bytes each: MaxFrames of them read, one more fails.
  Bytes frame = Descriptor(0, 0, 1, 1);
  frame << Bytes{2, 0};
  Bytes bytes = Screen(1, 1);
  bytes.reserve(bytes.size() + frame.size() * (gif::MaxFrames + 1) + 1);
  for (int i = 0; i < gif::MaxFrames; ++i) bytes << frame;
  const std::size_t atLimit = bytes.size();
  bytes << frame << Bytes{0x3B};
  TGIFImage picture;
  EXPECT_FAILS_WITH(Read(picture, bytes), tk::EInvalidGraphicOperation, "GIF picture has too many frames (more than 262144)");
  EXPECT_EQ(picture.FrameCount(), gif::MaxFrames);
  bytes.resize(atLimit);
  Read(picture, bytes);
  EXPECT_EQ(picture.FrameCount(), gif::MaxFrames);
}

TEST(ReadEntryPoints, ReadingReplacesEverythingEvenWhenItFails) {
  TGIFImage picture;
  Read(picture, OneImage(Application("NETSCAPE2.0", {{1, 3, 0}})));
  picture.ScreenData->CommentLines.Add("old");
  EXPECT_FAILS_WITH(Read(picture, Screen(1, 1, 0, 0, 0, "GIF90a")), tk::EInvalidGraphicOperation,
                    "Unknown GIF version");
  EXPECT_EQ(picture.FrameCount(), 0);
  EXPECT_FALSE(picture.LoopEnabled);
  EXPECT_EQ(picture.LoopCount, 1);
  EXPECT_TRUE(picture.ScreenData->CommentLines.Empty());
}

TEST(ReadEntryPoints, FailuresSayWhyBesideTheSystemsMessage) {
  auto failure = [](const Bytes& bytes) -> std::pair<std::string, std::string> {
    gif::TGIFImage picture;
    try {
      Read(picture, bytes);
    } catch (const tk::Exception& e) {
      return {e.Message(), e.ReasonText()};
    }
    return {};
  };
  EXPECT_EQ(failure(Bytes{'G', 'I', 'F', '8', '8', 'a'}),
            (std::pair<std::string, std::string>{"Unknown GIF version", "version \"88a\""}));
  EXPECT_EQ(failure(Bytes{'G', 'I', 'X', '8', '9', 'a'}),
            (std::pair<std::string, std::string>{"Unknown GIF version", "signature \"GIX\""}));
  Bytes cut = Screen(1, 1, 0);
  cut << Bytes{0x2C, 0, 0};
  EXPECT_EQ(failure(cut), (std::pair<std::string, std::string>{
                              "Stream read error", "image descriptor: 9 bytes needed at offset 14, 2 there"}));
  Bytes stray = Screen(1, 1, 0);
  stray << Bytes{0x41, 0, 0};
  EXPECT_EQ(failure(stray), (std::pair<std::string, std::string>{
                                "Stream read error", "the byte A at offset 13 opens no block"}));
}

TEST(DepthForCount, PowersOfTwoOnly) {
  EXPECT_EQ(gif::DepthForCount(2), 1);
  EXPECT_EQ(gif::DepthForCount(16), 4);
  EXPECT_EQ(gif::DepthForCount(256), 8);
  EXPECT_EQ(gif::DepthForCount(0x10004), 2);  // compared in the low 16 bits
  for (int bad : {0, 1, 3, 255, 512})
    EXPECT_FAILS_WITH(gif::DepthForCount(bad), tk::EInvalidGraphicOperation,
                      "Wrong number of colors; must be a power of 2");
}

}  // namespace

TEST(ReadOptions, APictureToleratesAndLimitsByItsOwnSettings) {
  Bytes unknown{0x21, 0x2C};
  unknown << Chain({{1, 2, 3}});
  {
    Tolerate off(false);
    TGIFImage lenient;
    lenient.Options.TolerateDamage = true;
    Read(lenient, OneImage(unknown));
    EXPECT_EQ(lenient.FrameCount(), 1);
    // A copy takes the settings along.
    TGIFImage copy;
    copy.TakeFrom(&lenient);
    EXPECT_EQ(copy.Options.TolerateDamage, std::optional<bool>(true));
  }
  Tolerate on(true);
  TGIFImage strict;
  strict.Options.TolerateDamage = false;
  EXPECT_FAILS_WITH(Read(strict, OneImage(unknown)), tk::EInvalidGraphicOperation,
                    "Unrecognized extension block: 2C");
  // A frame whose data runs out while rows remain.
  Bytes cut = Screen(4, 4, 0x81);
  cut << Table(4) << Descriptor(0, 0, 4, 4) << Bytes{2, 2, 0x84, 0x01, 0} << Bytes{0x3B};
  Read(strict, cut);
  tk::TMemoryStream dib;
  EXPECT_FAILS_WITH(strict.FrameAt(0).DecodeToDIB(dib), tk::EInvalidGraphicOperation, "Stream read error");
  TGIFImage lenient;
  Read(lenient, cut);
  lenient.FrameAt(0).DecodeToDIB(dib);
  EXPECT_TRUE(lenient.FrameAt(0).DataDamaged);
  // The pixel buffer limit: 2 rows of 4 bytes.
  lenient.Options.MaxPixelBytes = 7;
  Read(lenient, OneImage());
  EXPECT_FAILS_WITH(lenient.FrameAt(0).DecodeToDIB(dib), tk::EInvalidGraphicOperation,
                    "GIF image too large to decode (2 x 2 pixels)");
  lenient.Options.MaxPixelBytes = 8;
  lenient.FrameAt(0).DecodeToDIB(dib);
}
