// Other graphics as GIF pictures: bitmaps of every depth, transparent bitmaps, icons drawn into
// frames, animated cursors, grey frames, and the encoding of a frame's bitmap with its failures.
#include <gtest/gtest.h>

#include <filesystem>

#include "bitmap_builder.h"
#include "cursor/cursor.h"
#include "gif/gif.h"
#include "gif_builder.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/device/icon.h"

using namespace giftest;
using gif::NoColor;
using gif::TGIFImage;

namespace {

Bytes Saved(TGIFImage& picture) {
  tk::TMemoryStream out;
  picture.SaveStream(out);
  return Bytes(out.Bytes().begin(), out.Bytes().end());
}

void Put(Bytes& b, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The start of an icon file of one image: the directory, then the image's information header
// (its height doubled for the mask). size: the image's bytes, header included.
Bytes IconStart(std::uint8_t width, std::uint8_t height, std::uint8_t colours, int bits,
                std::uint32_t size) {
  Bytes b;
  Put(b, 0, 2);
  Put(b, 1, 2);
  Put(b, 1, 2);
  b.insert(b.end(), {width, height, colours, 0});
  Put(b, 1, 2);
  Put(b, bits, 2);
  Put(b, size, 4);
  Put(b, 22, 4);
  for (std::uint32_t v : {40u, std::uint32_t{width}, 2u * height}) Put(b, v, 4);
  Put(b, 1, 2);
  Put(b, bits, 2);
  for (int i = 0; i < 6; ++i) Put(b, 0, 4);
  return b;
}

// An icon file of one 16 x 16 image at 4 bits: colour 1 everywhere but the left half of the
// top row, which the mask leaves transparent.
Bytes IconFile(std::uint32_t color) {
  Bytes b = IconStart(16, 16, 16, 4, 40 + 64 + 16 * 8 + 16 * 4);
  for (int i = 0; i < 16; ++i) Put(b, i == 1 ? color : 0, 4);
  for (int row = 15; row >= 0; --row)
    for (int x = 0; x < 8; ++x) b.push_back(row == 0 && x < 4 ? 0x00 : 0x11);
  for (int row = 15; row >= 0; --row) Put(b, row == 0 ? 0xFF : 0, 4);
  return b;
}

// A 4 x 1 icon of 32 bits, green, with the given alpha for each pixel.
Bytes AlphaIconFile(const std::uint8_t (&alpha)[4]) {
  Bytes b = IconStart(4, 1, 0, 32, 40 + 16 + 4);
  for (std::uint8_t a : alpha) b.insert(b.end(), {0x00, 0xFF, 0x00, a});
  Put(b, 0, 4);  // the mask row: all drawn, the alpha channel decides
  return b;
}

Bytes Chunk(std::string_view id, const Bytes& data) {
  Bytes b(id.begin(), id.end());
  Put(b, static_cast<std::uint32_t>(data.size()), 4);
  b << data;
  if (data.size() % 2) b.push_back(0);
  return b;
}

// An animated cursor of the icons, each shown for rate jiffies.
Bytes AniFile(const std::vector<Bytes>& icons, int rate) {
  Bytes anih;
  for (std::uint32_t v :
       {36u, static_cast<std::uint32_t>(icons.size()), static_cast<std::uint32_t>(icons.size()), 0u,
        0u, 0u, 0u, static_cast<std::uint32_t>(rate), 1u})
    Put(anih, v, 4);
  Bytes frames{'f', 'r', 'a', 'm'};
  for (const Bytes& icon : icons) frames << Chunk("icon", icon);
  Bytes body{'A', 'C', 'O', 'N'};
  body << Chunk("anih", anih) << Chunk("LIST", frames);
  return Chunk("RIFF", body);
}

TEST(AssignBitmap, EmptyBitmapLeavesTheFrameReset) {
  TGIFImage picture;
  picture.TakeFrom(MakeBitmap(2, 2, 8, {1, 2, 3, 4}).get());
  gif::TGIFFrame& frame = picture.FrameAt(0);
  frame.DelayMs = 50;
  tk::TBitmap empty;
  frame.TakeFrom(&empty);
  EXPECT_EQ(frame.BuiltBitmap, nullptr);
  EXPECT_EQ(frame.DelayMs, 0);
  EXPECT_FALSE(frame.Encoded->HasPixelData());
  EXPECT_EQ(picture.LogicalWidth, 0);
  // Such a frame has nothing to write.
  tk::TMemoryStream out;
  EXPECT_FAILS_WITH(picture.SaveStream(out), tk::EInvalidGraphicOperation, "No GIF Data to write");
  EXPECT_EQ(out.Size(), 0);
  EXPECT_FAILS_WITH(frame.EncodeBitmap(), tk::EInvalidGraphicOperation, "No GIF Data to write");
}

TEST(AssignBitmap, TrueColourIsReducedToAGlobalTableOf256) {
  TGIFImage picture;
  picture.TakeFrom(MakeBitmap(40, 30, 24, Pattern(40, 30, 0x1000000)).get());
  EXPECT_EQ(picture.GifVersion, 1);
  EXPECT_EQ(picture.CurrentIndex, 0);
  EXPECT_EQ(picture.LogicalWidth, 40);
  gif::TGIFFrame& frame = picture.FrameAt(0);
  EXPECT_FALSE(frame.Encoded->HasPixelData());  // built: encoded only when written
  const Bytes b = Saved(picture);
  EXPECT_EQ(b[10], 0xF7);  // a global table of 256 entries
  EXPECT_EQ(b[13 + 768], 0x2C);
  EXPECT_EQ(b[13 + 768 + 9], 0x00);  // no local table
  EXPECT_EQ(b[13 + 768 + 10], 8);    // code size 8
  EXPECT_EQ(picture.ScreenData->GlobalTable.Count, 256);
  EXPECT_EQ(picture.ScreenData->GlobalDepth, 8);
  EXPECT_EQ(frame.Encoded->BitDepth, 8);
  EXPECT_FALSE(frame.OwnColorTable);
  EXPECT_FALSE(frame.GrayOnly);
}

TEST(AssignBitmap, FourBitsKeepTheirSixteenColours) {
  TGIFImage picture;
  picture.TakeFrom(MakeBitmap(9, 5, 4, Pattern(9, 5, 16), {0x112233, 0x445566}).get());
  const Bytes b = Saved(picture);
  EXPECT_EQ(b[10], 0xB3);
  EXPECT_EQ(Slice(b, 13, 6), (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
  EXPECT_EQ(b[13 + 48 + 10], 4);
  EXPECT_EQ(picture.FrameAt(0).Encoded->BitDepth, 4);
}

TEST(AssignBitmap, LaterFramesCarryLocalTables) {
  TGIFImage picture;
  auto bitmap = MakeBitmap(3, 3, 8, Pattern(3, 3, 4), {0xFF0000, 0x00FF00, 0x0000FF, 0});
  picture.TakeFrom(bitmap.get());
  EXPECT_EQ(picture.AppendFrame(bitmap.get()), 1);
  EXPECT_EQ(picture.GifVersion, 2);
  EXPECT_EQ(picture.CurrentIndex, 1);
  const Bytes b = Saved(picture);
  EXPECT_FALSE(picture.FrameAt(0).OwnColorTable);
  EXPECT_TRUE(picture.FrameAt(1).OwnColorTable);  // even with the same colours
  EXPECT_EQ(picture.FrameAt(1).Encoded->ColorTable.Count, 256);
  const std::size_t second =
      b.size() - 1 - static_cast<std::size_t>(picture.FrameAt(1).Encoded->PixelData->Size()) - 768 -
      10;
  EXPECT_EQ(b[second], 0x2C);
  EXPECT_EQ(b[second + 9], 0x87);
}

TEST(AssignBitmap, TransparentBitmapKeepsItsTransparency) {
  auto bitmap = MakeBitmap(3, 2, 8, {1, 2, 1, 0, 2, 1}, {0x000000, 0xFF8000, 0x00FF00});
  bitmap->SetTransparent(true);
  TGIFImage picture;
  picture.TakeFrom(bitmap.get());
  gif::TGIFFrame& frame = picture.FrameAt(0);
  // The bitmap's bottom-left pixel, with the toolkit's palette-relative flag.
  EXPECT_EQ(frame.TransColor, 0x02000000u);
  const Bytes b = Saved(picture);
  EXPECT_EQ(Slice(b, 0, 6), (Bytes{'G', 'I', 'F', '8', '9', 'a'}));
  // The flag does not stand in the way: index 0 is transparent.
  EXPECT_EQ(Slice(b, 13 + 768, 8), (Bytes{0x21, 0xF9, 4, 1, 0, 0, 0, 0}));
  bitmap->SetTransparentColor(0x0080FF);  // as red, green, blue: entry 1
  picture.TakeFrom(bitmap.get());
  EXPECT_EQ(Slice(Saved(picture), 13 + 768, 8), (Bytes{0x21, 0xF9, 4, 1, 0, 0, 1, 0}));
}

TEST(AssignGraphic, IconsAreDrawnOverTheUndrawnColour) {
  tk::TIcon icon;
  tk::TMemoryStream file(IconFile(0x00FF00));  // RGBQUAD 0x00FF00: green
  icon.LoadStream(file);
  TGIFImage picture;
  EXPECT_EQ(picture.AppendFrame(&icon), 0);
  gif::TGIFFrame& frame = picture.FrameAt(0);
  ASSERT_NE(frame.BuiltBitmap, nullptr);
  tk::TCanvas& canvas = frame.BuiltBitmap->Canvas();
  EXPECT_EQ(canvas.Pixels(0, 0), 0xFF00FFu);  // left undrawn by the icon's mask
  EXPECT_EQ(canvas.Pixels(8, 0), 0x00FF00u);
  EXPECT_EQ(canvas.Pixels(3, 9), 0x00FF00u);
  EXPECT_EQ(frame.TransColor, 0xFF00FFu);
  EXPECT_EQ(picture.LogicalWidth, 16);
  const Bytes b = Saved(picture);
  TGIFImage again;
  Read(again, b);
  gif::TGIFFrame& read = again.FrameAt(0);
  EXPECT_EQ(read.TransColor, 0xFF00FFu);
  EXPECT_EQ(read.BuildBitmap()->Canvas().Pixels(0, 0), 0xFF00FFu);
  EXPECT_EQ(read.BuildBitmap()->Canvas().Pixels(15, 15), 0x00FF00u);
}

TEST(AssignGraphic, IconAlphaBelowHalfIsTransparentAndTheRestOpaque) {
  tk::TIcon icon;
  tk::TMemoryStream file(AlphaIconFile({0, 100, 128, 255}));
  icon.LoadStream(file);
  ASSERT_TRUE(icon.HasAlpha());
  TGIFImage picture;
  picture.AppendFrame(&icon);
  gif::TGIFFrame& frame = picture.FrameAt(0);
  tk::TCanvas& canvas = frame.BuiltBitmap->Canvas();
  // No pixel is blended with the undrawn colour: it is either left out or the icon's own.
  EXPECT_EQ(canvas.Pixels(0, 0), 0xFF00FFu);
  EXPECT_EQ(canvas.Pixels(1, 0), 0xFF00FFu);
  EXPECT_EQ(canvas.Pixels(2, 0), 0x00FF00u);
  EXPECT_EQ(canvas.Pixels(3, 0), 0x00FF00u);
  EXPECT_EQ(frame.TransColor, 0xFF00FFu);
  // Drawn on a canvas of its own, the icon still blends its edges.
  tk::TBitmap blended;
  blended.SetPixelFormat(tk::pf32bit);
  blended.Canvas().Brush().Color = 0;
  blended.SetWidth(4);
  blended.SetHeight(1);
  blended.Canvas().Draw(0, 0, &icon);
  EXPECT_EQ(blended.Canvas().Pixels(1, 0), 0x006400u);  // 100/255 of green over black
}

TEST(AssignCursor, OneFramePerStepWithItsDelay) {
  const Bytes ani = AniFile({IconFile(0x0000FF), IconFile(0x00FF00), IconFile(0xFF0000)}, 10);
  cursor::TAnimatedCursorImage animated;
  tk::TMemoryStream stream(ani);
  animated.LoadStream(stream);
  ASSERT_EQ(animated.FrameCount(), 3);
  TGIFImage picture;
  ChangeCounter changes(picture);
  picture.TakeFrom(&animated);
  EXPECT_EQ(changes.count, 1);
  ASSERT_EQ(picture.FrameCount(), 3);
  EXPECT_EQ(picture.BackdropColor, 0x80000005u);
  EXPECT_EQ(picture.GifVersion, 2);
  EXPECT_EQ(picture.CurrentIndex, 2);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(picture.FrameAt(i).DelayMs, 166);
  const Bytes b = Saved(picture);
  EXPECT_EQ(Slice(b, 0, 6), (Bytes{'G', 'I', 'F', '8', '9', 'a'}));
  TGIFImage again;
  Read(again, b);
  ASSERT_EQ(again.FrameCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(again.FrameAt(i).DelayMs, 160);
  EXPECT_EQ(again.FrameAt(2).BuildBitmap()->Canvas().Pixels(9, 9),
            0x0000FFu);  // RGBQUAD 0xFF0000: red

  const std::filesystem::path real =
      "/usr/share/doc/wx3.2-examples/examples/samples/animate/hourglass.ani";
  if (!std::filesystem::exists(real))
    GTEST_SKIP() << real << " is missing (scripts/deps.sh installs it)";
  animated.ReadCursorFile(real.string());
  picture.TakeFrom(&animated);
  ASSERT_EQ(picture.FrameCount(), 20);
  EXPECT_EQ(picture.FrameAt(0).DelayMs, 400);  // 24 jiffies
  EXPECT_EQ(picture.FrameAt(1).DelayMs, 66);   // 4 jiffies
  Read(again, Saved(picture));
  EXPECT_EQ(again.FrameCount(), 20);
  EXPECT_EQ(again.FrameAt(1).DelayMs, 60);
}

TEST(AssignBitmap, GreyFrames) {
  // A true-colour bitmap becomes 256 grey levels.
  TGIFImage picture;
  picture.TakeFrom(MakeBitmap(4, 4, 24, Pattern(4, 4, 0x1000000)).get());
  picture.FrameAt(0).GrayOnly = true;
  Saved(picture);
  const gif::GifColorTable& table = picture.ScreenData->GlobalTable;
  ASSERT_EQ(table.Count, 256);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(table.Color(i), static_cast<tk::TColor>(i * 0x010101)) << i;
  EXPECT_TRUE(picture.FrameAt(0).GrayOnly);
  // An 8-bit bitmap keeps its own colours.
  picture.TakeFrom(MakeBitmap(2, 2, 8, {0, 1, 1, 0}, {0x123456, 0xABCDEF}).get());
  picture.FrameAt(0).GrayOnly = true;
  Saved(picture);
  EXPECT_EQ(picture.ScreenData->GlobalTable.Color(1), 0xEFCDABu);
}

TEST(EncodeFromDIB, RefusesWhatItCannotEncode) {
  TGIFImage picture;
  picture.TakeFrom(MakeBitmap(2, 2, 8, {0, 1, 1, 0}).get());
  gif::TGIFFrame& frame = picture.FrameAt(0);
  frame.IsInterlaced = true;
  auto refused = [&](Bytes dib) {
    tk::TMemoryStream stream(std::move(dib));
    EXPECT_FAILS_WITH(frame.EncodeFromDIB(stream), tk::EInvalidGraphicOperation,
                      "GIF image encoding error");
    EXPECT_TRUE(frame.IsInterlaced);
    EXPECT_FALSE(frame.Encoded->HasPixelData());
  };
  refused(DibFile(2, 2, 24, {0, 0, 0, 0}));  // 24 bits
  Bytes shortRows = DibFile(2, 2, 8, {0, 1, 1, 0});
  shortRows.resize(shortRows.size() - 1);
  refused(shortRows);     // rows cut short
  refused(Bytes(40, 0));  // not even the headers
  Bytes tooWide = DibFile(1, 1, 1, {0});
  tooWide[20] = 1;  // 65537 pixels wide
  refused(tooWide);
  // A table cut short by the pixel offset: the missing entries are black.
  Bytes cut = DibFile(2, 1, 4, {1, 0}, {0xFFFFFF, 0x808080});
  cut.erase(cut.begin() + 62, cut.begin() + 118);  // 2 of 16 entries left
  cut[10] = 62;
  tk::TMemoryStream stream(cut);
  frame.EncodeFromDIB(stream);
  EXPECT_EQ(frame.Encoded->ColorTable.Count, 16);
  EXPECT_EQ(frame.Encoded->ColorTable.Color(1), 0x808080u);
  EXPECT_EQ(frame.Encoded->ColorTable.Color(2), 0u);
  EXPECT_FALSE(frame.IsInterlaced);
}

TEST(EncodeFromDIB, AnAbortResetsTheFrame) {
  TGIFImage picture;
  picture.TakeFrom(MakeBitmap(5, 5, 8, Pattern(5, 5, 256)).get());
  picture.FrameAt(0).DelayMs = 30;
  picture.OnProgress = [](tk::TPersistent*, tk::TProgressStage stage, int, bool, const tk::TRect&,
                          const std::string&) {
    if (stage == tk::TProgressStage::Running) throw tk::EAbort();
  };
  tk::TMemoryStream out;
  EXPECT_THROW(picture.SaveStream(out), tk::EAbort);
  EXPECT_EQ(out.Size(), 0);
  gif::TGIFFrame& frame = picture.FrameAt(0);
  EXPECT_EQ(frame.DelayMs, 0);
  EXPECT_FALSE(frame.Encoded->HasPixelData());
  ASSERT_NE(frame.BuiltBitmap, nullptr);  // the bitmap stays, so the next write tries again
  picture.OnProgress = nullptr;
  picture.SaveStream(out);
  EXPECT_GT(out.Size(), 0);
}

}  // namespace

TEST(AssignBitmap, APictureReducesByItsOwnMethodAndTheModuleSettingStays) {
  using M = colour::ReductionMethod;
  const auto bitmap = MakeBitmap(40, 30, 24, Pattern(40, 30, 0x1000000));
  const M saved = colour::DefaultReduction;
  colour::DefaultReduction = M::ReduceFixed666;
  TGIFImage byModule;
  byModule.TakeFrom(bitmap.get());
  const Bytes fixed = Saved(byModule);
  colour::DefaultReduction = saved;

  TGIFImage own;
  own.Options.Reduction = M::ReduceFixed666;
  own.TakeFrom(bitmap.get());
  EXPECT_EQ(Saved(own), fixed);
  EXPECT_EQ(colour::DefaultReduction, saved);
  TGIFImage plain;
  plain.TakeFrom(bitmap.get());
  EXPECT_NE(Saved(plain), fixed);
}
