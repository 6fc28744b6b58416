// Raster operations, colour conversion rules, stretching, palettes and the DIB read-out of the
// software graphics device, pixel by pixel.
#include <array>

#include "gdi/gdi_test_util.h"
#include "toolkit/device/colors.h"
#include "toolkit/device/gdi.h"

using namespace tk;
using gditest::Dib;
using gditest::Quad;
using gditest::Surface;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255);
constexpr COLORREF kWhite = RGB(255, 255, 255), kBlack = 0;

}  // namespace

TEST(RasterOps, CombineSourceAndDestinationBitwise) {
  Surface src(CreateBitmap(2, 1, 1, 32));
  src.Fill({RGB(0xF0, 0x0F, 0x33), RGB(0x12, 0x34, 0x56)});
  struct Case {
    std::uint32_t rop;
    COLORREF first, second;
  };
  const COLORREF d0 = RGB(0xCC, 0xAA, 0x0F), d1 = RGB(0x00, 0xFF, 0x80);
  const std::array<Case, 5> cases = {{
      {SRCCOPY, RGB(0xF0, 0x0F, 0x33), RGB(0x12, 0x34, 0x56)},
      {NOTSRCCOPY, RGB(0x0F, 0xF0, 0xCC), RGB(0xED, 0xCB, 0xA9)},
      {SRCAND, RGB(0xC0, 0x0A, 0x03), RGB(0x00, 0x34, 0x00)},
      {SRCPAINT, RGB(0xFC, 0xAF, 0x3F), RGB(0x12, 0xFF, 0xD6)},
      {SRCINVERT, RGB(0x3C, 0xA5, 0x3C), RGB(0x12, 0xCB, 0xD6)},
  }};
  for (const Case& c : cases) {
    Surface dst(CreateBitmap(2, 1, 1, 32));
    dst.Fill({d0, d1});
    ASSERT_TRUE(BitBlt(*dst, 0, 0, 2, 1, *src, 0, 0, c.rop));
    EXPECT_EQ(dst.At(0, 0), c.first) << std::hex << c.rop;
    EXPECT_EQ(dst.At(1, 0), c.second) << std::hex << c.rop;
  }
  // Operations with a brush pattern are refused.
  Surface dst(CreateBitmap(1, 1, 1, 32));
  EXPECT_FALSE(BitBlt(*dst, 0, 0, 1, 1, *src, 0, 0, 0x00F00021));
}

TEST(RasterOps, ColourToMonochromeMarksTheSourceBackgroundColour) {
  Surface src(CreateBitmap(4, 1, 1, 32));
  src.Fill({kRed, kGreen, kRed, RGB(254, 0, 0)});
  Surface mask(CreateBitmap(4, 1, 1, 1));
  SetBkColor(*src, 0x02000000 | kRed);  // palette-relative, as the transparent drawing gives it
  ASSERT_TRUE(BitBlt(*mask, 0, 0, 4, 1, *src, 0, 0, SRCCOPY));
  EXPECT_EQ(mask.All(), (std::vector<COLORREF>{kWhite, kBlack, kWhite, kBlack}));
  // The destination's own background colour plays no part.
  SetBkColor(*mask, kGreen);
  ASSERT_TRUE(BitBlt(*mask, 0, 0, 4, 1, *src, 0, 0, SRCCOPY));
  EXPECT_EQ(mask.All(), (std::vector<COLORREF>{kWhite, kBlack, kWhite, kBlack}));
  // An indexed source compares colours: both entries of the key colour become 1.
  Surface indexed(Dib(3, 1, 8, {Quad(kBlue), Quad(kRed), Quad(kBlue)}));
  indexed.Fill({kBlue, kRed, kBlue});
  SetPixel(*indexed, 2, 0, kBlue);
  indexed.bitmap->Row(0)[2] = 2;  // the second entry of the same colour
  SetBkColor(*indexed, kBlue);
  ASSERT_TRUE(BitBlt(*mask, 0, 0, 3, 1, *indexed, 0, 0, SRCCOPY));
  EXPECT_EQ(mask.At(0, 0), kWhite);
  EXPECT_EQ(mask.At(1, 0), kBlack);
  EXPECT_EQ(mask.At(2, 0), kWhite);
}

TEST(RasterOps, MonochromeToColourTakesTextAndBackgroundColours) {
  const std::uint8_t bits[2] = {0xA0, 0};  // 1 0 1 0
  Surface mono(CreateBitmap(4, 1, 1, 1, bits));
  Surface dst(CreateBitmap(4, 1, 1, 32));
  SetTextColor(*dst, kRed);
  SetBkColor(*dst, kBlue);
  SetTextColor(*mono, kGreen);  // the source's colours play no part
  ASSERT_TRUE(BitBlt(*dst, 0, 0, 4, 1, *mono, 0, 0, SRCCOPY));
  EXPECT_EQ(dst.All(), (std::vector<COLORREF>{kBlue, kRed, kBlue, kRed}));
  // With the default colours, SRCAND keeps the destination under the 1 bits and blackens it
  // under the 0 bits.
  dst.Fill({kGreen, kGreen, kGreen, kGreen});
  SetTextColor(*dst, kBlack);
  SetBkColor(*dst, kWhite);
  ASSERT_TRUE(BitBlt(*dst, 0, 0, 4, 1, *mono, 0, 0, SRCAND));
  EXPECT_EQ(dst.All(), (std::vector<COLORREF>{kGreen, kBlack, kGreen, kBlack}));
  // A 1-bit DIB section shows its own colour table.
  Surface section(Dib(2, 1, 1, {Quad(kRed), Quad(kGreen)}));
  section.bitmap->Row(0)[0] = 0x40;  // 0 1
  ASSERT_TRUE(BitBlt(*dst, 0, 0, 2, 1, *section, 0, 0, SRCCOPY));
  EXPECT_EQ(dst.At(0, 0), kRed);
  EXPECT_EQ(dst.At(1, 0), kGreen);
}

TEST(RasterOps, IndexedDestinationsTakeNearestColoursAndCombineIndices) {
  const std::vector<RGBQUAD> table = {Quad(kBlack), Quad(RGB(200, 0, 0)), Quad(kBlue), Quad(kWhite)};
  Surface dst(Dib(3, 1, 8, table));
  Surface src(CreateBitmap(3, 1, 1, 32));
  src.Fill({RGB(250, 10, 10), RGB(10, 10, 240), RGB(240, 240, 240)});
  ASSERT_TRUE(BitBlt(*dst, 0, 0, 3, 1, *src, 0, 0, SRCCOPY));
  EXPECT_EQ(dst.bitmap->Row(0)[0], 1);
  EXPECT_EQ(dst.bitmap->Row(0)[1], 2);
  EXPECT_EQ(dst.bitmap->Row(0)[2], 3);
  EXPECT_EQ(dst.At(0, 0), RGB(200, 0, 0));
  // SRCAND of indices 1 & 2 = 0 (black), 3 & 3 = 3.
  Surface src2(Dib(3, 1, 8, table));
  src2.bitmap->Row(0)[0] = 2;
  src2.bitmap->Row(0)[1] = 2;
  src2.bitmap->Row(0)[2] = 3;
  ASSERT_TRUE(BitBlt(*dst, 0, 0, 3, 1, *src2, 0, 0, SRCAND));
  EXPECT_EQ(dst.bitmap->Row(0)[0], 0);
  EXPECT_EQ(dst.bitmap->Row(0)[1], 2);
  EXPECT_EQ(dst.bitmap->Row(0)[2], 3);
}

TEST(RasterOps, ConversionsBetweenTrueColourDepths) {
  Surface src(CreateBitmap(2, 1, 1, 32));
  src.Fill({RGB(0x12, 0x34, 0x56), RGB(0xFF, 0x80, 0x01)});
  Surface d24(Dib(2, 1, 24));
  Surface d555(Dib(2, 1, 16));
  Surface d565(Dib(2, 1, 16, {}, {0xF800, 0x7E0, 0x1F}));
  for (Surface* d : {&d24, &d555, &d565}) ASSERT_TRUE(BitBlt(**d, 0, 0, 2, 1, *src, 0, 0, SRCCOPY));
  EXPECT_EQ(d24.At(1, 0), RGB(0xFF, 0x80, 0x01));
  const std::uint8_t* row24 = d24.bitmap->Row(0);
  EXPECT_EQ((std::vector<int>{row24[0], row24[1], row24[2]}), (std::vector<int>{0x56, 0x34, 0x12}));
  // 5 and 6 bits widen by repeating their top bits.
  EXPECT_EQ(d555.At(0, 0), RGB(0x10, 0x31, 0x52));
  EXPECT_EQ(d565.At(0, 0), RGB(0x10, 0x34, 0x52));
  EXPECT_EQ(d565.At(1, 0), RGB(0xFF, 0x82, 0x00));
}

// Indexed sources reach 32 bits one table colour per pixel. Expectations come from the raw
// indices written into the source and the table given, entries beyond it being black.
TEST(RasterOps, IndexedToThirtyTwoBitsTakesTableColours) {
  for (int bits : {1, 4, 8}) {
    for (int width : {1, 7, 9, 33}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, width " << width);
      const int height = 3;
      // Fewer entries than the depth allows (but for 1 bit): the rest of the table is black.
      const std::vector<RGBQUAD> table = bits == 1
          ? std::vector<RGBQUAD>{Quad(RGB(10, 20, 30)), Quad(RGB(200, 150, 100))}
          : std::vector<RGBQUAD>{Quad(kRed), Quad(kGreen), Quad(kBlue), Quad(RGB(1, 2, 3)), Quad(kWhite)};
      Surface src(Dib(width, height, bits, table));
      const int count = 1 << bits;
      auto index = [&](int x, int y) { return (x * 5 + y * 3 + x / 3) % count; };
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const int bit = x * bits;
          src.bitmap->Row(y)[bit / 8] |= static_cast<std::uint8_t>(index(x, y) << (8 - bits - bit % 8));
        }
      auto colour = [&](int x, int y) {
        const auto i = static_cast<std::size_t>(index(x, y));
        return i < table.size() ? RGB(table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue) : kBlack;
      };

      // The device bitmap: every 32-bit word is the colour, nothing in the fourth byte.
      UniqueBitmap device(ConvertToDeviceBitmap(src.bitmap.get(), false));
      ASSERT_TRUE(device);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const std::uint8_t* p = device->Row(y) + 4 * x;
          ASSERT_EQ(RGB(p[2], p[1], p[0]), colour(x, y)) << x << "," << y;
          ASSERT_EQ(p[3], 0) << x << "," << y;
        }

      // A 32-bit section with blue in the high bits receives values of its own layout.
      const std::uint32_t blueHigh[3] = {0xFF, 0xFF00, 0xFF0000};
      Surface section(ConvertToDIBSection(src.bitmap.get(), 32, {}, blueHigh));
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ASSERT_EQ(section.At(x, y), colour(x, y)) << x << "," << y;

      // A copy from an offset part of the source into an offset, clipped part of the target
      // leaves everything around it alone.
      Surface target(CreateBitmap(width + 2, height, 1, 32));
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width + 2; ++x) SetPixel(*target, x, y, RGB(7, 7, 7));
      const int sx = width > 3 ? 3 : 0;
      ASSERT_TRUE(BitBlt(*target, 1, 1, width, height, *src, sx, 0, SRCCOPY));
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width + 2; ++x) {
          const bool inside = y >= 1 && x >= 1 && x - 1 + sx < width;
          ASSERT_EQ(target.At(x, y), inside ? colour(x - 1 + sx, y - 1) : RGB(7, 7, 7)) << x << "," << y;
        }

      // The read-out at 32 bits, bottom row first and top row first.
      for (int sign : {1, -1}) {
        BITMAPINFOHEADER h;
        h.biWidth = width;
        h.biHeight = sign * height;
        h.biBitCount = 32;
        std::vector<std::uint8_t> out(static_cast<std::size_t>(4 * width * height), 0xEE);
        ASSERT_EQ(GetDIBits(*src, src.bitmap.get(), 0, static_cast<unsigned>(height), out, h, {}), height);
        for (int k = 0; k < height; ++k)
          for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = out.data() + 4 * (k * width + x);
            const int y = sign > 0 ? height - 1 - k : k;
            ASSERT_EQ(RGB(p[2], p[1], p[0]), colour(x, y)) << sign << ": " << x << "," << y;
            ASSERT_EQ(p[3], 0);
          }
      }
    }
  }
}

TEST(Stretch, NearestPixelWithoutBlending) {
  Surface src(CreateBitmap(2, 2, 1, 32));
  src.Fill({kRed, kGreen, kBlue, kWhite});
  Surface big(CreateBitmap(4, 4, 1, 32));
  SetStretchBltMode(*big, COLORONCOLOR);
  ASSERT_TRUE(StretchBlt(*big, 0, 0, 4, 4, *src, 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(big.All(), (std::vector<COLORREF>{kRed, kRed, kGreen, kGreen, kRed, kRed, kGreen, kGreen, kBlue, kBlue,
                                              kWhite, kWhite, kBlue, kBlue, kWhite, kWhite}));
  Surface small(CreateBitmap(1, 1, 1, 32));
  ASSERT_TRUE(StretchBlt(*small, 0, 0, 1, 1, *big, 0, 0, 4, 4, SRCCOPY));
  EXPECT_EQ(small.At(0, 0), kRed);
  // A negative destination width mirrors into the same columns.
  Surface mirror(CreateBitmap(2, 1, 1, 32));
  ASSERT_TRUE(StretchBlt(*mirror, 2, 0, -2, 1, *src, 0, 0, 2, 1, SRCCOPY));
  EXPECT_EQ(mirror.All(), (std::vector<COLORREF>{kGreen, kRed}));
  // Pixels outside either bitmap are left alone.
  Surface clip(CreateBitmap(3, 1, 1, 32));
  clip.Fill({kBlack, kBlack, kBlack});
  ASSERT_TRUE(BitBlt(*clip, 1, 0, 3, 1, *src, 0, 0, SRCCOPY));
  EXPECT_EQ(clip.All(), (std::vector<COLORREF>{kBlack, kRed, kGreen}));
  ASSERT_TRUE(BitBlt(*clip, 0, 0, 3, 1, *src, 1, 0, SRCCOPY));
  EXPECT_EQ(clip.All(), (std::vector<COLORREF>{kGreen, kRed, kGreen}));
  EXPECT_EQ(SetStretchBltMode(*big, HALFTONE), COLORONCOLOR);
}

TEST(Stretch, OverlappingCopyWithinOneBitmap) {
  Surface s(CreateBitmap(1, 4, 1, 32));
  s.Fill({kRed, kGreen, kBlue, kWhite});
  ASSERT_TRUE(BitBlt(*s, 0, 1, 1, 3, *s, 0, 0, SRCCOPY));
  EXPECT_EQ(s.All(), (std::vector<COLORREF>{kRed, kRed, kGreen, kBlue}));
}

// The transparent stretch copy built from the primitives as the GIF drawing does it: masks in
// monochrome memory contexts, a composition of the present background, one final copy.
TEST(Stretch, MaskCompositionLeavesTheKeyColourTransparent) {
  Surface src(CreateBitmap(2, 2, 1, 32));
  const COLORREF key = RGB(255, 0, 255);
  src.Fill({key, kRed, kGreen, key});
  Surface dest(CreateBitmap(4, 4, 1, 32));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) SetPixel(*dest, x, y, RGB(x * 10, y * 10, 99));
  const auto background = dest.All();

  HDC d = *dest;
  UniqueDC inverse(CreateCompatibleDC(d)), mask(CreateCompatibleDC(d)), comp(CreateCompatibleDC(d)),
      copy(CreateCompatibleDC(d));
  UniqueBitmap maskBits(CreateBitmap(2, 2, 1, 1)), inverseBits(CreateBitmap(2, 2, 1, 1));
  UniqueBitmap compBits(CreateCompatibleBitmap(d, 4, 4)), copyBits(CreateCompatibleBitmap(d, 2, 2));
  ASSERT_EQ(compBits->bitsPerPixel, 32);
  {
    BitmapSelection s1(mask.get(), maskBits.get()), s2(inverse.get(), inverseBits.get()),
        s3(comp.get(), compBits.get()), s4(copy.get(), copyBits.get());
    SetStretchBltMode(d, COLORONCOLOR);
    BitBlt(copy.get(), 0, 0, 2, 2, *src, 0, 0, SRCCOPY);
    const COLORREF old = SetBkColor(copy.get(), 0x02000000 | key);
    BitBlt(mask.get(), 0, 0, 2, 2, copy.get(), 0, 0, SRCCOPY);
    SetBkColor(copy.get(), old);
    BitBlt(inverse.get(), 0, 0, 2, 2, mask.get(), 0, 0, NOTSRCCOPY);
    BitBlt(comp.get(), 0, 0, 4, 4, d, 0, 0, SRCCOPY);
    StretchBlt(comp.get(), 0, 0, 4, 4, mask.get(), 0, 0, 2, 2, SRCAND);
    BitBlt(copy.get(), 0, 0, 2, 2, inverse.get(), 0, 0, SRCAND);
    StretchBlt(comp.get(), 0, 0, 4, 4, copy.get(), 0, 0, 2, 2, SRCPAINT);
    BitBlt(d, 0, 0, 4, 4, comp.get(), 0, 0, SRCCOPY);
  }
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool transparent = (x < 2) == (y < 2);
      const COLORREF expected = transparent ? background[static_cast<std::size_t>(y * 4 + x)]
                                            : (y < 2 ? kRed : kGreen);
      EXPECT_EQ(dest.At(x, y), expected) << x << "," << y;
    }
}

TEST(Stretch, TransparentBltSkipsTheKeyColour) {
  Surface src(CreateBitmap(2, 1, 1, 32));
  src.Fill({kRed, kGreen});
  Surface dst(CreateBitmap(4, 1, 1, 32));
  dst.Fill({kBlue, kBlue, kBlue, kBlue});
  ASSERT_TRUE(TransparentBlt(*dst, 0, 0, 4, 1, *src, 0, 0, 2, 1, kGreen));
  EXPECT_EQ(dst.All(), (std::vector<COLORREF>{kRed, kRed, kBlue, kBlue}));
}

TEST(Contexts, ObjectsAndStateFollowThePlatform) {
  UniqueDC dc(CreateCompatibleDC(nullptr));
  // A fresh memory context holds a monochrome 1 x 1 bitmap, so compatible bitmaps are monochrome.
  UniqueBitmap mono(CreateCompatibleBitmap(dc.get(), 8, 8));
  EXPECT_EQ(mono->bitsPerPixel, 1);
  UniqueBitmap colour(CreateCompatibleBitmap(nullptr, 8, 8));
  EXPECT_EQ(colour->bitsPerPixel, 32);
  EXPECT_EQ(GetBkColor(dc.get()), kWhite);
  EXPECT_EQ(GetTextColor(dc.get()), kBlack);
  EXPECT_EQ(GetMapMode(dc.get()), MM_TEXT);
  EXPECT_EQ(SetMapMode(dc.get(), 2), MM_TEXT);
  EXPECT_EQ(GetStretchBltMode(dc.get()), BLACKONWHITE);

  // A bitmap is selected into one context at a time; deleting it frees the context's hold.
  HBITMAP stock = SelectObject(dc.get(), colour.get());
  ASSERT_NE(stock, nullptr);
  UniqueDC other(CreateCompatibleDC(nullptr));
  EXPECT_EQ(SelectObject(other.get(), colour.get()), nullptr);
  colour.reset();
  EXPECT_EQ(GetCurrentBitmap(dc.get()), stock);

  BITMAP info;
  ASSERT_EQ(GetObject(mono.get(), info), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(info.bmWidth, 8);
  EXPECT_EQ(info.bmBitsPixel, 1);
  EXPECT_EQ(info.bmWidthBytes, 2);
  DIBSECTION section;
  EXPECT_EQ(GetObject(mono.get(), section), static_cast<int>(sizeof(BITMAP)));
  UniqueBitmap dib(Dib(3, -2, 24));
  ASSERT_EQ(GetObject(dib.get(), section), static_cast<int>(sizeof(DIBSECTION)));
  EXPECT_EQ(section.dsBmih.biHeight, -2);
  EXPECT_EQ(section.dsBm.bmWidthBytes, 12);
  EXPECT_NE(section.dsBm.bmBits, nullptr);
}

TEST(Palettes, NearestColoursAndPaletteRelativeValues) {
  const std::vector<PALETTEENTRY> entries = {{0, 0, 0, 0}, {250, 0, 0, 0}, {0, 0, 250, 0}};
  UniquePalette palette(CreatePalette(entries));
  EXPECT_EQ(GetNearestPaletteIndex(palette.get(), RGB(255, 10, 10)), 1u);
  std::uint16_t count = 0;
  GetObject(palette.get(), count);
  EXPECT_EQ(count, 3);

  Surface screen(CreateBitmap(2, 1, 1, 32));
  EXPECT_EQ(GetNearestColor(*screen, RGB(1, 2, 3)), RGB(1, 2, 3));
  EXPECT_EQ(GetNearestColor(*screen, 0x02000000 | RGB(1, 2, 3)), RGB(1, 2, 3));
  HPALETTE old = SelectPalette(*screen, palette.get(), false);
  EXPECT_EQ(RealizePalette(*screen), 3u);
  EXPECT_EQ(SetPixel(*screen, 0, 0, PALETTEINDEX(2)), RGB(0, 0, 250));
  SelectPalette(*screen, old, true);

  Surface indexed(Dib(1, 1, 4, {Quad(kBlack), Quad(RGB(128, 0, 0)), Quad(kWhite)}));
  EXPECT_EQ(GetNearestColor(*indexed, RGB(140, 20, 0)), RGB(128, 0, 0));
  EXPECT_EQ(SetPixel(*indexed, 0, 0, RGB(240, 240, 240)), kWhite);
  EXPECT_EQ(GetPixel(*indexed, 1, 0), CLR_INVALID);
  EXPECT_EQ(SetPixel(*indexed, -1, 0, kWhite), CLR_INVALID);

  // Deleting a selected palette hands the context back its default palette.
  UniquePalette temporary(CreatePalette(entries));
  SelectPalette(*screen, temporary.get(), false);
  temporary.reset();
  EXPECT_EQ(GetCurrentPalette(*screen), static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
}

TEST(GetDIBitsReadOut, TwentyFourBitsExactBottomRowFirst) {
  Surface src(CreateBitmap(2, 2, 1, 32));
  src.Fill({RGB(1, 2, 3), RGB(4, 5, 6), RGB(7, 8, 9), RGB(10, 11, 12)});
  BITMAPINFOHEADER h;
  h.biWidth = 2;
  h.biHeight = 2;
  h.biBitCount = 24;
  EXPECT_EQ(GetDIBits(*src, src.bitmap.get(), 0, 2, {}, h, {}), 2);
  EXPECT_EQ(h.biSizeImage, 16u);
  std::vector<std::uint8_t> bits(16, 0xEE);
  ASSERT_EQ(GetDIBits(*src, src.bitmap.get(), 0, 2, bits, h, {}), 2);
  EXPECT_EQ(bits, (std::vector<std::uint8_t>{9, 8, 7, 12, 11, 10, 0, 0, 3, 2, 1, 6, 5, 4, 0, 0}));
  // A negative height reads the top row first; a short buffer fails.
  h.biHeight = -2;
  ASSERT_EQ(GetDIBits(*src, src.bitmap.get(), 0, 2, bits, h, {}), 2);
  EXPECT_EQ(bits[0], 3);
  std::vector<std::uint8_t> shortBits(15);
  EXPECT_EQ(GetDIBits(*src, src.bitmap.get(), 0, 2, shortBits, h, {}), 0);
  // Rows without pixels are read, and nothing is written.
  UniqueBitmap empty(CreateBitmap(0, 2, 1, 32));
  h.biWidth = 0;
  for (int depth : {24, 32}) {
    h.biBitCount = static_cast<std::uint16_t>(depth);
    EXPECT_EQ(GetDIBits(*src, empty.get(), 0, 2, shortBits, h, {}), 2);
  }
  EXPECT_EQ(shortBits, std::vector<std::uint8_t>(15));
}

TEST(GetDIBitsReadOut, IndexedTargetsUseNearestStandardColours) {
  Surface src(CreateBitmap(3, 1, 1, 32));
  src.Fill({RGB(250, 10, 10), RGB(100, 100, 100), RGB(200, 200, 200)});
  BITMAPINFOHEADER h;
  h.biWidth = 3;
  h.biHeight = 1;
  h.biBitCount = 4;
  std::vector<std::uint8_t> bits(4);
  std::array<RGBQUAD, 16> colors{};
  ASSERT_EQ(GetDIBits(*src, src.bitmap.get(), 0, 1, bits, h, colors), 1);
  EXPECT_EQ(colors[9], Quad(RGB(255, 0, 0)));
  EXPECT_EQ(colors[7], Quad(RGB(192, 192, 192)));
  EXPECT_EQ(bits[0], 0x98);  // red, grey 128
  EXPECT_EQ(bits[1], 0x70);  // silver
  h.biBitCount = 1;
  std::array<RGBQUAD, 2> bw{};
  ASSERT_EQ(GetDIBits(*src, src.bitmap.get(), 0, 1, bits, h, bw), 1);
  EXPECT_EQ(bw[1], Quad(kWhite));
  EXPECT_EQ(bits[0], 0x20);  // dark, dark, light
  // A table too small for the depth is refused.
  std::array<RGBQUAD, 1> tiny{};
  EXPECT_EQ(GetDIBits(*src, src.bitmap.get(), 0, 1, bits, h, tiny), 0);
  // An 8-bit source read at 8 bits keeps its colours and indices.
  Surface indexed(Dib(2, 1, 8, {Quad(kRed), Quad(kGreen)}));
  indexed.bitmap->Row(0)[0] = 1;
  h.biBitCount = 8;
  h.biWidth = 2;
  std::array<RGBQUAD, 256> table{};
  ASSERT_EQ(GetDIBits(*indexed, indexed.bitmap.get(), 0, 1, bits, h, table), 1);
  EXPECT_EQ(bits[0], 1);
  EXPECT_EQ(table[1], Quad(kGreen));
}

// The read-out converts row by row straight into the caller's buffer. Whatever the source and
// the depth, its rows must hold exactly what a conversion of the bitmap into a DIB section of
// that depth and colour table holds (the blit's own rules), bottom row first, padding zero.
TEST(GetDIBitsReadOut, EveryFormatMatchesAConversionToThatDepth) {
  std::vector<RGBQUAD> ramp(256), repeats(256);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    ramp[static_cast<std::size_t>(i)] =
        RGBQUAD{v, static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i * 7), 0};
    repeats[static_cast<std::size_t>(i)] =
        Quad(RGB(i % 5 * 60, i % 3 * 100, 0));  // many equal entries
  }
  struct Source {
    const char* name;
    HBITMAP bitmap;
  };
  const std::vector<Source> sources = {
      {"1-bit DIB, both entries alike", Dib(9, 3, 1, {Quad(kRed), Quad(kRed)})},
      {"1-bit device bitmap", CreateBitmap(9, 3, 1, 1)},
      {"4-bit DIB with repeated entries",
       Dib(9, 3, 4, std::vector<RGBQUAD>(repeats.begin(), repeats.begin() + 16))},
      {"8-bit DIB with repeated entries", Dib(9, 3, 8, repeats)},
      {"8-bit DIB, all entries distinct", Dib(9, 3, 8, ramp)},
      {"16-bit 5-5-5", Dib(9, 3, 16)},
      {"16-bit 5-6-5", Dib(9, 3, 16, {}, {0xF800, 0x7E0, 0x1F})},
      {"24-bit DIB", Dib(9, 3, 24)},
      {"32-bit DIB with alpha", Dib(9, 3, 32)},
      {"32-bit DIB, blue in the high bits", Dib(9, 3, 32, {}, {0xFF, 0xFF00, 0xFF0000})},
      {"32-bit device bitmap", CreateBitmap(9, 3, 1, 32)},
  };
  const std::vector<PALETTEENTRY> entries = {
      {10, 20, 30, 0}, {250, 0, 0, 0}, {0, 0, 250, 0}, {90, 90, 90, 0}};
  UniquePalette palette(CreatePalette(entries));
  for (const Source& source : sources) {
    UniqueBitmap bitmap(source.bitmap);
    ASSERT_TRUE(bitmap) << source.name;
    // Every byte, the padding of the rows too, set to something.
    for (std::size_t i = 0; i < bitmap->bits.size(); ++i)
      bitmap->bits[i] = static_cast<std::uint8_t>(i * 149 + 71);
    for (int depth : {1, 4, 8, 16, 24, 32}) {
      for (bool withPalette : {false, true}) {
        SCOPED_TRACE(testing::Message() << source.name << " at " << depth << " bits"
                                        << (withPalette ? ", palette" : ""));
        UniqueDC dc(CreateCompatibleDC(nullptr));
        if (withPalette) SelectPalette(dc.get(), palette.get(), false);
        BITMAPINFOHEADER h;
        h.biWidth = 9;
        h.biHeight = 3;
        h.biBitCount = static_cast<std::uint16_t>(depth);
        const auto rowBytes = static_cast<std::size_t>(DibRowBytes(9, depth));
        std::vector<std::uint8_t> bits(3 * rowBytes, 0xEE);
        std::vector<RGBQUAD> colors(256, Quad(kWhite));
        ASSERT_EQ(GetDIBits(dc.get(), bitmap.get(), 0, 3, bits, h, colors), 3);
        if (depth <= 8) colors.resize(std::size_t{1} << depth);
        if (depth == 8 && withPalette && bitmap->bitsPerPixel != 8) {
          EXPECT_EQ(colors[1], Quad(RGB(250, 0, 0)));
          EXPECT_EQ(colors[4], Quad(kBlack));
        }
        UniqueBitmap expected(
            ConvertToDIBSection(bitmap.get(), depth, depth <= 8 ? colors : std::vector<RGBQUAD>{}));
        ASSERT_TRUE(expected);
        for (int k = 0; k < 3; ++k) {
          const std::uint8_t* want = expected->Row(2 - k);
          EXPECT_EQ(std::vector<std::uint8_t>(
                        bits.begin() + static_cast<std::ptrdiff_t>(k * rowBytes),
                        bits.begin() + static_cast<std::ptrdiff_t>((k + 1) * rowBytes)),
                    std::vector<std::uint8_t>(want, want + rowBytes))
              << "row " << k;
        }
        // Rows 1 and 2 alone (more asked than there are), top row first.
        h.biHeight = -3;
        std::vector<std::uint8_t> part(2 * rowBytes, 0xEE);
        ASSERT_EQ(GetDIBits(dc.get(), bitmap.get(), 1, 9, part, h, colors), 2);
        EXPECT_TRUE(std::equal(part.begin(), part.end(), expected->Row(1)));
      }
    }
  }
}

TEST(Colors, SystemColoursResolve) {
  EXPECT_EQ(ColorToRGB(clWindow), RGB(255, 255, 255));
  EXPECT_EQ(ColorToRGB(0x80000005), RGB(255, 255, 255));
  EXPECT_EQ(ColorToRGB(clBtnFace), RGB(192, 192, 192));
  EXPECT_EQ(ColorToRGB(clWindowText), RGB(0, 0, 0));
  EXPECT_EQ(ColorToRGB(0x123456), 0x123456u);
  EXPECT_EQ(ColorToRGB(0x02123456), 0x02123456u);
  EXPECT_EQ(ColorToRGB(0x800000FF), 0u);
}
