// Frames as bitmaps and the drawing of pictures: transparent drawing through the masks over a
// known background, stretching without blending, the key colour rules, handing frames and
// pictures to bitmaps, and decode-first reading.
#include <gtest/gtest.h>

#include "gif/draw.h"
#include "gif/gif.h"
#include "gif_builder.h"
#include "toolkit/device/bitmap.h"

using namespace giftest;
using gif::NoColor;
using gif::TGIFImage;

namespace {

// A 3 x 2 frame over an 8-entry table: indices 0 1 2 / 1 5 1; index 1 transparent.
Bytes KeyedGif(std::uint8_t gcePacked = 0x01) {
  Bytes b = Screen(3, 2, 0x82);
  b << Table(8) << GraphicControl(gcePacked, 0, 1) << Descriptor(0, 0, 3, 2)
    << LiteralData(3, {0, 1, 2, 1, 5, 1}) << Bytes{0x3B};
  return b;
}
const int kIndices[2][3] = {{0, 1, 2}, {1, 5, 1}};

// A 32-bit bitmap whose every pixel has its own colour.
struct Background {
  Background(int width, int height) {
    bitmap.SetPixelFormat(tk::pf32bit);
    bitmap.SetWidth(width);
    bitmap.SetHeight(height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) bitmap.Canvas().SetPixels(x, y, Color(x, y));
  }
  static tk::TColor Color(int x, int y) { return static_cast<tk::TColor>(0x400000 | (y * 16 + x) << 8 | 0x33); }
  tk::TColor At(int x, int y) { return bitmap.Canvas().Pixels(x, y); }
  tk::TBitmap bitmap;
};

TEST(Draw, TransparentPixelsShowTheBackgroundExactly) {
  TGIFImage picture;
  Read(picture, KeyedGif(), true);
  ASSERT_TRUE(picture.IsTransparent());
  Background canvas(6, 4);
  picture.DrawInRect(canvas.bitmap.Canvas(), tk::TRect{2, 1, 5, 3});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
      int index = inside ? kIndices[y - 1][x - 2] : -1;
      tk::TColor expected = index < 0 || index == 1 ? Background::Color(x, y) : TableColor(index);
      EXPECT_EQ(canvas.At(x, y), expected) << x << ", " << y;
    }
}

TEST(Draw, OpaqueWithoutTheBaseTransparentFlag) {
  TGIFImage picture;
  Read(picture, KeyedGif(), true);
  picture.SetTransparent(false);
  EXPECT_FALSE(picture.IsTransparent());
  Background canvas(3, 2);
  picture.DrawInRect(canvas.bitmap.Canvas(), tk::TRect{0, 0, 3, 2});
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(canvas.At(x, y), TableColor(kIndices[y][x]));
}

TEST(Draw, DoubleSizeShowsEveryPixelAsATwoByTwoBlock) {
  TGIFImage picture;
  Read(picture, KeyedGif(), true);
  Background canvas(6, 4);
  picture.DrawInRect(canvas.bitmap.Canvas(), tk::TRect{0, 0, 6, 4});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      int index = kIndices[y / 2][x / 2];
      EXPECT_EQ(canvas.At(x, y), index == 1 ? Background::Color(x, y) : TableColor(index)) << x << ", " << y;
    }
}

TEST(Draw, NothingWithoutACurrentFrame) {
  TGIFImage picture;
  Read(picture, KeyedGif(), true);
  picture.CurrentIndex = -1;
  Background canvas(3, 2);
  picture.DrawInRect(canvas.bitmap.Canvas(), tk::TRect{0, 0, 3, 2});
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(canvas.At(x, y), Background::Color(x, y));
  TGIFImage empty;
  empty.DrawInRect(canvas.bitmap.Canvas(), tk::TRect{0, 0, 3, 2});
  EXPECT_EQ(empty.FrameCount(), 0);
}

TEST(StretchBitmapKeyed, EmptyRectanglesTakeTheBitmapSize) {
  TGIFImage picture;
  Read(picture, KeyedGif(), true);
  tk::TBitmap& bitmap = *picture.FrameAt(0).BuildBitmap();
  Background canvas(6, 4);
  gif::StretchBitmapKeyed(canvas.bitmap.Canvas(), bitmap, TableColor(1), 2, 1, 0, -5, 0, 0, 0, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
      int index = inside ? kIndices[y - 1][x - 2] : 1;
      EXPECT_EQ(canvas.At(x, y), index == 1 ? Background::Color(x, y) : TableColor(index)) << x << ", " << y;
    }
  EXPECT_EQ(tk::GetStretchBltMode(canvas.bitmap.Canvas().Handle()), tk::COLORONCOLOR);
  EXPECT_EQ(bitmap.Canvas().LockCount(), 0);
}

TEST(StretchBitmapKeyed, NoColorDrawsPlainlyAndDefaultColorKeysTheBottomLeftPixel) {
  TGIFImage picture;
  Read(picture, KeyedGif(), true);
  tk::TBitmap& bitmap = *picture.FrameAt(0).BuildBitmap();
  Background plain(3, 2);
  gif::StretchBitmapKeyed(plain.bitmap.Canvas(), bitmap, NoColor, 0, 0, 3, 2, 0, 0, 3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(plain.At(x, y), TableColor(kIndices[y][x]));
  // The bottom-left pixel has index 1: DefaultColor keys index 1 as the frame's colour does.
  Background keyed(3, 2);
  gif::DrawBitmapKeyed(keyed.bitmap.Canvas(), 0, 0, 3, 2, tk::TRect{0, 0, 3, 2}, bitmap, gif::DefaultColor);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(keyed.At(x, y), kIndices[y][x] == 1 ? Background::Color(x, y) : TableColor(kIndices[y][x]));
  // A part of the bitmap as source.
  Background part(2, 1);
  gif::DrawBitmapKeyed(part.bitmap.Canvas(), 0, 0, 2, 1, tk::TRect{1, 1, 3, 2}, bitmap, TableColor(1));
  EXPECT_EQ(part.At(0, 0), TableColor(5));
  EXPECT_EQ(part.At(1, 0), Background::Color(1, 0));
}

// A two-colour frame of 4 x 1 pixels, indices 0 1 1 0, over the given two colours.
Bytes TwoColourGif(const Bytes& table, std::uint8_t gcePacked, std::uint8_t transparentIndex) {
  Bytes bytes = Screen(4, 1, 0x80);
  bytes << table << GraphicControl(gcePacked, 0, transparentIndex) << Descriptor(0, 0, 4, 1)
        << LiteralData(2, {0, 1, 1, 0}) << Bytes{0x3B};
  return bytes;
}

TEST(StretchBitmapKeyed, TwoColourFramesAreKeyedOnTheirTransparentIndex) {
  struct Case {
    const char* what;
    Bytes table;
    std::uint8_t index;
    tk::TColor colours[2];
  };
  const Case cases[] = {
      {"black transparent (index 0)", {0, 0, 0, 255, 255, 255}, 0, {0x000000, 0xFFFFFF}},
      {"white transparent (index 1)", {0, 0, 0, 255, 255, 255}, 1, {0x000000, 0xFFFFFF}},
      {"red transparent over blue", {255, 0, 0, 0, 0, 255}, 0, {0x0000FF, 0xFF0000}},
  };
  for (const Case& c : cases) {
    TGIFImage picture;
    Read(picture, TwoColourGif(c.table, 0x01, c.index), true);
    tk::TBitmap& bitmap = *picture.FrameAt(0).BuildBitmap();
    ASSERT_TRUE(bitmap.Monochrome());
    EXPECT_EQ(bitmap.HandleType(), tk::TBitmapHandleType::bmDIB);
    Background canvas(4, 1);
    picture.DrawInRect(canvas.bitmap.Canvas(), tk::TRect{0, 0, 4, 1});
    const int indices[4] = {0, 1, 1, 0};
    for (int x = 0; x < 4; ++x) {
      const tk::TColor expected =
          indices[x] == c.index ? Background::Color(x, 0) : c.colours[indices[x]];
      EXPECT_EQ(canvas.At(x, 0), expected) << c.what << ", pixel " << x;
    }
  }
}

TEST(StretchBitmapKeyed, TwoColourBitmapsKeyWhiteForAColourTheyDoNotHave) {
  TGIFImage picture;
  Read(picture, TwoColourGif({255, 0, 0, 255, 255, 255}, 0x00, 0), true);
  tk::TBitmap& bitmap = *picture.FrameAt(0).BuildBitmap();
  Background canvas(4, 1);
  gif::StretchBitmapKeyed(canvas.bitmap.Canvas(), bitmap, 0x00FF00, 0, 0, 4, 1, 0, 0, 4, 1);
  EXPECT_EQ(canvas.At(0, 0), 0x0000FFu);
  EXPECT_EQ(canvas.At(1, 0), Background::Color(1, 0));
  EXPECT_EQ(canvas.At(2, 0), Background::Color(2, 0));
  EXPECT_EQ(canvas.At(3, 0), 0x0000FFu);
}

TEST(BuildBitmap, DecodedOnceAndDeviceDependentUnlessMonochrome) {
  TGIFImage picture;
  Read(picture, KeyedGif());
  int decodes = 0;
  picture.OnProgress = [&](tk::TPersistent*, tk::TProgressStage stage, int, bool, const tk::TRect&,
                           const std::string&) { decodes += stage == tk::TProgressStage::Starting; };
  tk::TBitmap* first = picture.FrameAt(0).BuildBitmap();
  tk::TBitmap* second = picture.FrameAt(0).BuildBitmap();
  EXPECT_EQ(first, second);
  EXPECT_EQ(decodes, 1);
  EXPECT_EQ(first->HandleType(), tk::TBitmapHandleType::bmDDB);
  EXPECT_FALSE(first->Monochrome());
  EXPECT_EQ(first->Width(), 3);
  EXPECT_EQ(picture.CurrentWidth(), 3);
  EXPECT_EQ(picture.CurrentHeight(), 2);
  EXPECT_NE(picture.CurrentPalette(), nullptr);
  EXPECT_EQ(decodes, 1);
}

TEST(BuildBitmap, AFailureLeavesAnEmptyBitmapAndTheNextRequestTriesAgain) {
  TGIFImage picture;
  Read(picture, KeyedGif());
  gif::TGIFFrame& frame = picture.FrameAt(0);
  std::vector<std::uint8_t> good(frame.Encoded->PixelData->Bytes().begin(), frame.Encoded->PixelData->Bytes().end());
  frame.Encoded->PixelData = std::make_unique<tk::TMemoryStream>(Bytes{1, 0});
  {
    Tolerate off(false);
    EXPECT_FAILS_WITH(frame.BuildBitmap(), tk::EInvalidGraphicOperation, "GIF code size not in range 2 to 9");
  }
  ASSERT_NE(frame.BuiltBitmap, nullptr);
  EXPECT_TRUE(frame.BuiltBitmap->IsEmpty());
  frame.Encoded->PixelData = std::make_unique<tk::TMemoryStream>(good);
  EXPECT_EQ(frame.BuildBitmap()->Width(), 3);
}

TEST(BuildBitmap, FramesTheDeviceCannotHoldAreRefusedBeforeDecoding) {
  TGIFImage picture;
  Read(picture, KeyedGif());
  int decodes = 0;
  picture.OnProgress = [&](tk::TPersistent*, tk::TProgressStage stage, int, bool, const tk::TRect&,
                           const std::string&) { decodes += stage == tk::TProgressStage::Starting; };
  gif::TGIFFrame& frame = picture.FrameAt(0);
  // Colour frames become 32-bit device bitmaps: 8193 x 8192 is one column above 2^28 bytes.
  frame.Encoded->ItemWidth = 8193;
  frame.Encoded->ItemHeight = 8192;
  EXPECT_FAILS_WITH(frame.BuildBitmap(), tk::EOutOfResources,
                    "Bitmap of 8193 x 8192 pixels at 32 bits per pixel is too large");
  EXPECT_EQ(decodes, 0);
  EXPECT_TRUE(frame.BuiltBitmap->IsEmpty());
  // Above 1 GiB of pixels the decoder refuses too, with its own message.
  frame.Encoded->BitDepth = 8;
  frame.Encoded->ItemWidth = frame.Encoded->ItemHeight = 65535;
  EXPECT_FAILS_WITH(frame.BuildBitmap(), tk::EOutOfResources,
                    "Bitmap of 65535 x 65535 pixels at 32 bits per pixel is too large");
  tk::TMemoryStream image;
  EXPECT_FAILS_WITH(frame.DecodeToDIB(image), tk::EInvalidGraphicOperation,
                    "GIF image too large to decode (65535 x 65535 pixels)");
  EXPECT_EQ(decodes, 0);

  // Two-colour frames stay 1-bit bitmaps and are measured so: 16384 x 8192 takes 16 MB.
  TGIFImage twoColours;
  Read(twoColours, SimpleGif(2, 1, 1, {1, 0}));
  gif::TGIFFrame& wide = twoColours.FrameAt(0);
  wide.Encoded->ItemWidth = 16384;
  wide.Encoded->ItemHeight = 8192;
  tk::TBitmap* built = wide.BuildBitmap();
  EXPECT_TRUE(built->Monochrome());
  EXPECT_EQ(built->Width(), 16384);
  EXPECT_EQ(built->Canvas().Pixels(0, 0), TableColor(1));
  wide.Encoded->ItemWidth = 65535;  // 8192 bytes a row: 32769 rows are one more than 2^28 bytes
  wide.Encoded->ItemHeight = 32769;
  wide.NewBitmap();
  EXPECT_FAILS_WITH(wide.BuildBitmap(), tk::EOutOfResources,
                    "Bitmap of 65535 x 32769 pixels at 1 bits per pixel is too large");
}

TEST(BuildBitmap, FramesWithoutPixelsAreRefusedWithTheirSize) {
  // Width 0 in the descriptor and on the screen: the frame has no pixels, and no bitmap of it
  // can be made.
  Bytes bytes = Screen(0, 0, 0x80);
  bytes << Table(2) << Descriptor(0, 0, 0, 5) << LiteralData(2, {1}) << Bytes{0x3B};
  TGIFImage picture;
  Read(picture, bytes);
  gif::TGIFFrame& frame = picture.FrameAt(0);
  EXPECT_FAILS_WITH(frame.BuildBitmap(), tk::EInvalidGraphicOperation, "GIF image has no pixels (0 x 5)");
  EXPECT_TRUE(frame.BuiltBitmap->IsEmpty());
  // Read with decode-first, the frame is removed and the read fails with the same message.
  tk::TReadOnlyMemoryStream stream(bytes);
  EXPECT_FAILS_WITH(picture.LoadStream(stream), tk::EInvalidGraphicOperation, "GIF image has no pixels (0 x 5)");
  EXPECT_EQ(picture.FrameCount(), 0);
}

TEST(GiveTo, FrameToBitmapPassesTheTransparentColour) {
  TGIFImage picture;
  Read(picture, KeyedGif());
  tk::TBitmap bitmap;
  bitmap.TakeFrom(&picture);  // the picture hands its current frame over
  EXPECT_EQ(bitmap.Width(), 3);
  EXPECT_EQ(bitmap.Height(), 2);
  EXPECT_TRUE(bitmap.Transparent());
  EXPECT_EQ(bitmap.TransparentColor() & 0xFFFFFF, TableColor(1));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(bitmap.Canvas().Pixels(x, y), TableColor(kIndices[y][x]));

  // Without a current frame the first frame's bitmap is handed over, without transparency.
  picture.CurrentIndex = -1;
  tk::TBitmap plain;
  plain.TakeFrom(&picture);
  EXPECT_EQ(plain.Width(), 3);
  EXPECT_FALSE(plain.Transparent());

  // An empty picture empties the bitmap; a picture target copies.
  TGIFImage empty;
  plain.TakeFrom(&empty);
  EXPECT_TRUE(plain.IsEmpty());
  TGIFImage copy;
  picture.GiveTo(&copy);
  EXPECT_TRUE(copy.SameAs(&picture));
}

TEST(GiveTo, FrameCopiesKeepTheirBuiltBitmaps) {
  TGIFImage source, copy;
  Read(source, KeyedGif(), true);
  copy.TakeFrom(&source);
  ASSERT_NE(copy.FrameAt(0).BuiltBitmap, nullptr);
  EXPECT_NE(copy.FrameAt(0).BuiltBitmap.get(), source.FrameAt(0).BuiltBitmap.get());
  EXPECT_EQ(copy.FrameAt(0).BuiltBitmap->Canvas().Pixels(2, 0), TableColor(2));
}

TEST(DecodeFirst, LoadStreamDecodesFrameZeroAndTakesTheWholeStream) {
  Bytes bytes = KeyedGif();
  bytes << Bytes{9, 9, 9};
  tk::TReadOnlyMemoryStream stream(bytes);
  TGIFImage picture;
  picture.LoadStream(stream);
  EXPECT_EQ(stream.Position(), stream.Size());
  ASSERT_NE(picture.FrameAt(0).BuiltBitmap, nullptr);
  EXPECT_FALSE(picture.FrameAt(0).BuiltBitmap->IsEmpty());
  // ReadStored: a 32-bit length, then the GIF.
  Bytes stored = U16(static_cast<unsigned>(KeyedGif().size()));
  stored << U16(0) << KeyedGif() << Bytes{7};
  tk::TReadOnlyMemoryStream storedStream(stored);
  TGIFImage fromStore;
  fromStore.ReadStored(storedStream);
  EXPECT_EQ(fromStore.FrameCount(), 1);
  EXPECT_EQ(storedStream.Position(), storedStream.Size() - 1);
  EXPECT_NE(fromStore.FrameAt(0).BuiltBitmap, nullptr);
}

TEST(DecodeFirst, AnUndecodableFrameZeroIsRemoved) {
  // Frame 0 has a code size of 1: without tolerance it cannot be decoded.
  Bytes bytes = Screen(2, 1, 0x80);
  bytes << Table(2) << Descriptor(0, 0, 2, 1) << Bytes{1, 1, 0x0C, 0} << Descriptor(0, 0, 2, 1)
        << LiteralData(2, {1, 0}) << Bytes{0x3B};
  Tolerate off(false);
  TGIFImage picture;
  ChangeCounter changes(picture);
  EXPECT_FAILS_WITH(Read(picture, bytes, true), tk::EInvalidGraphicOperation, "GIF code size not in range 2 to 9");
  EXPECT_EQ(picture.FrameCount(), 1);  // the former frame 1
  EXPECT_EQ(picture.CurrentIndex, 0);
  EXPECT_EQ(changes.count, 0);
  EXPECT_EQ(picture.FrameAt(0).Encoded->PixelData->Size(), static_cast<std::int64_t>(LiteralData(2, {1, 0}).size()));
  // Read without decoding (as from the clipboard), the same picture reads without failure.
  Read(picture, bytes, false);
  EXPECT_EQ(picture.FrameCount(), 2);
  EXPECT_EQ(changes.count, 1);
  // When it was the only frame, the picture is empty and draws nothing.
  Bytes only(bytes.begin(), bytes.begin() + 13 + 6 + 10 + 4);
  EXPECT_THROW(Read(picture, only, true), tk::EInvalidGraphicOperation);
  EXPECT_EQ(picture.FrameCount(), 0);
  EXPECT_EQ(picture.CurrentIndex, 0);
  EXPECT_TRUE(picture.IsEmpty());
  EXPECT_EQ(picture.CurrentWidth(), 0);
  Background canvas(2, 1);
  picture.DrawInRect(canvas.bitmap.Canvas(), tk::TRect{0, 0, 2, 1});
  EXPECT_EQ(canvas.At(0, 0), Background::Color(0, 0));
}

TEST(Memory, AllocZeroedAndFreeAllocated) {
  EXPECT_EQ(gif::AllocZeroed(0), nullptr);
  EXPECT_EQ(gif::AllocZeroed(-3), nullptr);
  auto block = gif::AllocZeroed(100);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(std::all_of(block.get(), block.get() + 100, [](std::uint8_t b) { return b == 0; }));
  gif::FreeAllocated(block);
  EXPECT_EQ(block, nullptr);
  gif::FreeAllocated(block);
}

}  // namespace

