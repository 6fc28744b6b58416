// The GIF writer: the bytes of every block, the graphic control extensions it keeps in line with
// the frames, comments, looping, the stored and plain forms, and the failures.
#include <gtest/gtest.h>

#include "bitmap_builder.h"
#include "gif/gif.h"
#include "gif/writer.h"
#include "gif_builder.h"
#include "toolkit/device/bitmap.h"

using namespace giftest;
using gif::NoColor;
using gif::TGIFImage;

namespace {

Bytes Written(TGIFImage& picture, bool withLength = false) {
  tk::TMemoryStream out;
  picture.WriteGIF(out, withLength);
  auto bytes = out.Bytes();
  return {bytes.begin(), bytes.end()};
}

// A picture of one frame made from a bitmap.
struct Made {
  explicit Made(std::unique_ptr<tk::TBitmap> bitmap) { picture.TakeFrom(bitmap.get()); }
  gif::TGIFFrame& frame(int i = 0) { return picture.FrameAt(i); }
  TGIFImage picture;
};

std::unique_ptr<tk::TBitmap> SmallBitmap(int bits = 4) {
  return MakeBitmap(4, 3, bits, Pattern(4, 3, bits == 1 ? 2 : 16),
                    {0x000000, 0xFF0000, 0x00FF00, 0x0000FF});
}

TEST(Write, OnePixelPictureByteForByte) {
  Made made(MakeBitmap(1, 1, 1, {0}, {0x102030, 0xFFFFFF}));
  Bytes expected;
  expected << "GIF87a" << Bytes{0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00}
           << Bytes{0x10, 0x20, 0x30, 0xFF, 0xFF, 0xFF}
           << Bytes{0x2C, 0, 0, 0, 0, 0x01, 0x00, 0x01, 0x00, 0x00}
           << Bytes{0x02, 0x02, 0x44, 0x01, 0x00} << Bytes{0x3B};
  EXPECT_EQ(Written(made.picture), expected);
  // The frame keeps its encoded data, and the picture's global table came from it.
  EXPECT_EQ(made.frame().Encoded->PixelData->Size(), 5);
  EXPECT_FALSE(made.frame().OwnColorTable);
  EXPECT_EQ(made.picture.ScreenData->GlobalTable.Count, 2);
  EXPECT_EQ(Written(made.picture), expected);  // and writes the same again
}

TEST(Write, StoredFormHasTheLengthFirst) {
  Made made(SmallBitmap());
  const Bytes plain = Written(made.picture);
  ASSERT_EQ(Slice(plain, 0, 3), (Bytes{'G', 'I', 'F'}));
  tk::TMemoryStream stored;
  made.picture.WriteStored(stored);
  const Bytes expected = WithLength(plain);
  EXPECT_EQ(Bytes(stored.Bytes().begin(), stored.Bytes().end()), expected);
  tk::TMemoryStream saved;
  made.picture.SaveStream(saved);
  EXPECT_EQ(Bytes(saved.Bytes().begin(), saved.Bytes().end()), plain);
}

TEST(Write, NoFramesWritesNothing) {
  TGIFImage picture;
  tk::TMemoryStream out;
  out.WriteU8(7);
  EXPECT_FAILS_WITH(picture.WriteGIF(out, true), tk::EInvalidGraphicOperation,
                    "No GIF Data to write");
  EXPECT_EQ(out.Size(), 1);
}

TEST(Write, LogicalScreenPackedByteAndBackground) {
  // 16 global entries of depth 4: 0x80 | 3 << 4 | 3.
  Made made(SmallBitmap(4));
  made.picture.BackdropColor = 0x0000FF;  // entry 1, red
  Bytes b = Written(made.picture);
  EXPECT_EQ(b[10], 0xB3);
  EXPECT_EQ(b[11], 1);
  made.picture.BackdropColor = 0x123456;  // in no entry
  EXPECT_EQ(Written(made.picture)[11], 0);
}

TEST(Write, LoopingBlockOnlyWithSeveralFrames) {
  Made made(SmallBitmap());
  made.picture.LoopEnabled = true;
  made.picture.LoopCount = 0;
  Bytes one = Written(made.picture);
  EXPECT_EQ(one[13 + 48], 0x2C);  // a frame's image right after the global table
  made.picture.AppendFrame(SmallBitmap().get());
  Bytes two = Written(made.picture);
  Bytes loop{0x21, 0xFF, 0x0B};
  loop << "NETSCAPE2.0" << Bytes{0x03, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(Slice(two, 13 + 48, 19), loop);
  made.picture.LoopCount = 0x1234;
  EXPECT_EQ(Slice(Written(made.picture), 13 + 48 + 16, 3), (Bytes{0x34, 0x12, 0x00}));
}

TEST(Write, DelaysMakeGraphicControlExtensions) {
  Made made(SmallBitmap());
  made.frame().DelayMs = 250;
  made.frame().Disposal = 2;
  Bytes b = Written(made.picture);
  EXPECT_EQ(Slice(b, 0, 6), (Bytes{'G', 'I', 'F', '8', '9', 'a'}));
  EXPECT_EQ(Slice(b, 13 + 48, 8), (Bytes{0x21, 0xF9, 4, 2 << 2, 25, 0, 0, 0}));
  EXPECT_EQ(made.picture.GifVersion, 2);
  made.frame().DelayMs = 5;  // a delay below a hundredth of a second
  made.frame().Disposal = 0;
  EXPECT_EQ(Slice(Written(made.picture), 13 + 48, 8), (Bytes{0x21, 0xF9, 4, 0, 0, 0, 0, 0}));
  // Once there, the extension stays, even with nothing left to say.
  ASSERT_EQ(made.frame().ExtBlocks->Count(), 1);
}

TEST(Write, TransparentIndexOnlyForColoursOfTheTable) {
  Made made(SmallBitmap());
  made.frame().TransColor = 0x123456;  // not in the table
  Bytes b = Written(made.picture);
  EXPECT_EQ(Slice(b, 13 + 48, 8), (Bytes{0x21, 0xF9, 4, 0, 0, 0, 0, 0}));
  made.frame().TransColor = 0xFF0000;  // blue: entry 3
  EXPECT_EQ(Slice(Written(made.picture), 13 + 48, 8), (Bytes{0x21, 0xF9, 4, 1, 0, 0, 3, 0}));
  // The index is left as it was when the colour is gone again; only the flag is cleared.
  made.frame().TransColor = NoColor;
  EXPECT_EQ(Slice(Written(made.picture), 13 + 48, 8), (Bytes{0x21, 0xF9, 4, 0, 0, 0, 3, 0}));
}

TEST(Write, EveryGraphicControlExtensionOfAFrameTakesItsDelay) {
  // Two before one image: the largest delay wins on reading, the last one decides the rest.
  Bytes gif = Screen(2, 1, 0x80);
  gif << Table(2) << GraphicControl(0, 50, 0) << GraphicControl(1 | 2 << 2, 7, 1)
      << Descriptor(0, 0, 2, 1) << LiteralData(2, {0, 1}) << Bytes{0x3B};
  TGIFImage picture;
  Read(picture, gif);
  EXPECT_EQ(picture.FrameAt(0).DelayMs, 500);
  picture.FrameAt(0).DelayMs = 120;
  picture.FrameAt(0).Disposal = 1;
  const Bytes b = Written(picture);
  EXPECT_EQ(Slice(b, 13 + 6, 16),
            (Bytes{0x21, 0xF9, 4, 0, 12, 0, 0, 0, 0x21, 0xF9, 4, 1 | 1 << 2, 12, 0, 1, 0}));
  TGIFImage again;
  Read(again, b);
  EXPECT_EQ(again.FrameAt(0).DelayMs, 120);
  EXPECT_EQ(again.FrameAt(0).Disposal, 1);
  EXPECT_EQ(again.FrameAt(0).TransColor, TableColor(1));
}

TEST(Write, ATransparentIndexOfARepeatedColourKeepsItsPlace) {
  // Entries 0 and 2 are both black; index 2 is the transparent one.
  Bytes gif = Screen(3, 1, 0x81);
  gif << Bytes{0, 0, 0, 9, 9, 9, 0, 0, 0, 7, 7, 7} << GraphicControl(1, 0, 2)
      << Descriptor(0, 0, 3, 1) << LiteralData(2, {0, 1, 2}) << Bytes{0x3B};
  TGIFImage picture;
  Read(picture, gif);
  EXPECT_EQ(picture.FrameAt(0).TransColor, 0u);
  EXPECT_EQ(Slice(Written(picture), 13 + 12, 8), (Bytes{0x21, 0xF9, 4, 1, 0, 0, 2, 0}));
  // A colour of another entry takes the first entry of that colour.
  picture.FrameAt(0).TransColor = 0x070707;
  EXPECT_EQ(Slice(Written(picture), 13 + 12, 8), (Bytes{0x21, 0xF9, 4, 1, 0, 0, 3, 0}));
  picture.FrameAt(0).TransColor = 0;
  EXPECT_EQ(Slice(Written(picture), 13 + 12, 8), (Bytes{0x21, 0xF9, 4, 1, 0, 0, 0, 0}));
}

TEST(Write, ReadExtensionsKeepTheirOtherBits) {
  // User-input flag and reserved bits survive; delay, index flag and disposal follow the frame.
  Bytes gif = SimpleGif(2, 1, 2, {1, 2}, 0, GraphicControl(0xE2 | 1 << 2 | 1, 7, 2));
  TGIFImage picture;
  Read(picture, gif);
  gif::TGIFFrame& frame = picture.FrameAt(0);
  EXPECT_EQ(frame.DelayMs, 70);
  frame.Disposal = 3;
  frame.DelayMs = 1230;
  Bytes b = Written(picture);
  EXPECT_EQ(Slice(b, 13 + 12, 8), (Bytes{0x21, 0xF9, 4, 0xE2 | 3 << 2 | 1, 123, 0, 2, 0}));
}

TEST(Write, CommentsOfFramesAndPicture) {
  Made made(SmallBitmap());
  made.frame().FindComment(true);  // an empty comment is dropped
  Bytes b = Written(made.picture);
  EXPECT_EQ(made.frame().ExtBlocks->Count(), 0);
  EXPECT_EQ(b[4], '7');  // an empty extension list does not ask for "89a"
  made.frame().SetComment({"ab", "", "c"});
  b = Written(made.picture);
  EXPECT_EQ(Slice(b, 13 + 48, 10), (Bytes{0x21, 0xFE, 2, 'a', 'b', 1, 'c', 0, 0x2C, 0}));
  EXPECT_EQ(b[4], '9');

  // The picture's comment comes last; a line longer than 255 bytes goes out whole, in
  // sub-blocks of 255 bytes and the rest.
  std::string longLine(300, 'x');
  longLine[254] = 'y';
  longLine[255] = 'z';
  made.picture.ScreenData->CommentLines.Add(longLine);
  made.picture.ScreenData->CommentLines.Add("");
  b = Written(made.picture);
  Bytes tail{0x21, 0xFE, 255};
  tail << longLine.substr(0, 255) << Bytes{45} << longLine.substr(255) << Bytes{0, 0x3B};
  EXPECT_EQ(Slice(b, b.size() - tail.size(), tail.size()), tail);
  TGIFImage again;
  Read(again, b);
  EXPECT_EQ(again.ScreenData->CommentLines,
            (tk::TStringList{longLine.substr(0, 255), longLine.substr(255)}));
}

TEST(WriteSubBlocks, EmptyStringsWriteNothing) {
  tk::TMemoryStream out;
  gif::WriteSubBlocks(out, tk::TStringList{"", std::string(255, 'a'), "", std::string(510, 'b')});
  Bytes expected{255};
  expected << std::string(255, 'a') << Bytes{255} << std::string(255, 'b') << Bytes{255}
           << std::string(255, 'b') << Bytes{0};
  EXPECT_EQ(Bytes(out.Bytes().begin(), out.Bytes().end()), expected);
}

TEST(Write, ExtensionsOfEveryKind) {
  gif::TExtensionList list;
  auto add = [&](gif::TExtensionKind kind, Bytes header, tk::TStringList lines,
                 bool withLines = true) {
    auto e = std::make_unique<gif::TExtension>();
    e->Kind = kind;
    std::copy(header.begin(), header.end(), e->Header.begin());
    if (withLines) e->Lines = std::make_unique<tk::TStringList>(lines);
    list.Add(std::move(e));
  };
  add(gif::ekGraphicControl, {4, 5, 6, 7, 8, 0}, {"ignored"});
  Bytes text{12};
  text << Bytes(12, 9);
  add(gif::ekPlainText, text, {"t"});
  Bytes app{11};
  app << "ABCDEFGH123";
  add(gif::ekApplication, app, {"xy"});
  add(gif::ekComment, {}, {"c"});
  add(gif::ekComment, {}, {}, false);
  tk::TMemoryStream out;
  gif::WriteExtensions(out, list);
  Bytes expected{0x21, 0xF9, 4, 5, 6, 7, 8, 0, 0x21, 0x01};
  expected << text << Bytes{1, 't', 0, 0x21, 0xFF} << app << Bytes{2, 'x', 'y', 0}
           << Bytes{0x21, 0xFE, 1, 'c', 0} << Bytes{0x21, 0xFE, 0};
  EXPECT_EQ(Bytes(out.Bytes().begin(), out.Bytes().end()), expected);
}

TEST(Write, LocalTablesAndDescriptors) {
  Made made(SmallBitmap(4));
  made.picture.AppendFrame(MakeBitmap(3, 2, 1, {0, 1, 0, 1, 1, 0}, {0x000000, 0xFFFFFF}).get());
  gif::TGIFFrame& second = made.frame(1);
  second.LeftPos = 0x0102;
  second.TopPos = 3;
  Bytes b = Written(made.picture);
  // The second frame: its own table of 2 entries after a descriptor with the flag and depth 1.
  const std::size_t at = b.size() - 1 - second.Encoded->PixelData->Size() - 6 - 10;
  EXPECT_EQ(Slice(b, at, 16),
            (Bytes{0x2C, 0x02, 0x01, 3, 0, 3, 0, 2, 0, 0x80, 0, 0, 0, 255, 255, 255}));
  EXPECT_TRUE(second.OwnColorTable);
  EXPECT_EQ(made.picture.LogicalWidth, 0x0105);
  EXPECT_EQ(made.picture.LogicalHeight, 5);
  EXPECT_EQ(b[6], 0x05);
  EXPECT_EQ(b[7], 0x01);
  // An interlaced frame with a local table of 8 entries, in a picture without a global table
  // (packed byte and background index 0).
  TGIFImage picture;
  Bytes gif = Screen(2, 2, 0x00, 5);
  gif << Descriptor(0, 0, 2, 2, 0xC2) << Table(8) << LiteralData(3, {1, 2, 3, 4}) << Bytes{0x3B};
  Read(picture, gif);
  b = Written(picture);
  EXPECT_EQ(Slice(b, 10, 3), (Bytes{0, 0, 0}));
  EXPECT_EQ(Slice(b, 13, 10), (Bytes{0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0xC2}));
  EXPECT_EQ(Slice(b, 23, 24), Table(8));
}

TEST(Write, DamagedDataGetsItsTerminator) {
  // A chain cut inside a sub-block keeps the complete sub-blocks, without a terminator.
  Bytes data = LiteralData(2, std::vector<std::uint8_t>(600, 1));
  data.resize(data.size() - 10);
  Bytes gif = Screen(600, 1, 0x81);
  gif << Table(4) << Descriptor(0, 0, 600, 1) << data;
  TGIFImage picture;
  Read(picture, gif);
  ASSERT_TRUE(picture.FrameAt(0).DataDamaged);
  Bytes b = Written(picture);
  const Bytes& kept = Bytes(picture.FrameAt(0).Encoded->PixelData->Bytes().begin(),
                            picture.FrameAt(0).Encoded->PixelData->Bytes().end());
  EXPECT_EQ(Slice(b, b.size() - kept.size() - 2, kept.size()), kept);
  EXPECT_EQ(Slice(b, b.size() - 2, 2), (Bytes{0x00, 0x3B}));
  TGIFImage again;
  Read(again, b);
  EXPECT_EQ(again.FrameCount(), 1);
}

}  // namespace
