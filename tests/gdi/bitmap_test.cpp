// The bitmap graphic and its canvas: formats, sizes, copies, transparency, clipboard, drawing.
#include <gtest/gtest.h>

#include "gdi/gdi_test_util.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/system/clipboard.h"
#include "toolkit/core/picture.h"
#include "toolkit/device/colors.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/streams.h"

using namespace tk;

namespace {

// A bitmap of the given pixel format filled from a list of colours, row by row.
void Paint(TBitmap& b, int width, int height, std::initializer_list<TColor> colors) {
  b.SetWidth(width);
  b.SetHeight(height);
  auto it = colors.begin();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width && it != colors.end(); ++x) b.Canvas().SetPixels(x, y, *it++);
}

// A graphic that is not a bitmap, drawing a fixed colour.
class TSolid : public TGraphic {
 public:
  std::string_view ClassName() const override { return "TSolid"; }
  void DrawInRect(TCanvas& canvas, const TRect& rect) override {
    canvas.Brush().Color = clRed;
    canvas.FillRect(rect);
  }
  bool IsEmpty() override { return false; }
  int CurrentWidth() override { return 2; }
  int CurrentHeight() override { return 2; }
  void ChangeWidth(int) override {}
  void ChangeHeight(int) override {}
  void LoadStream(TStream&) override {}
  void SaveStream(TStream&) override {}
  void FromClipboard(TClipboardFormat, THandle, HPALETTE) override {}
  void ToClipboard(TClipboardFormat&, THandle&, HPALETTE&) override {}
};

}  // namespace

TEST(Bitmap, NewBitmapIsEmptyDeviceDependentWithoutHandle) {
  TBitmap b;
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.Handle(), nullptr);
  EXPECT_EQ(b.PixelFormat(), pfDevice);
  EXPECT_EQ(b.HandleType(), TBitmapHandleType::bmDDB);
  EXPECT_FALSE(b.Monochrome());
  TMemoryStream s;
  b.SaveStream(s);
  EXPECT_EQ(s.Size(), 0);
  b.SetWidth(5);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.Width(), 5);
}

TEST(Bitmap, SizeSettersFillNewAreaWithTheBrushColour) {
  TBitmap b;
  int changes = 0;
  b.OnChange = [&](TGraphic*) { ++changes; };
  b.Canvas().Brush().Color = clBtnFace;
  b.SetWidth(2);
  b.SetHeight(1);
  EXPECT_EQ(b.Canvas().Pixels(1, 0), RGB(192, 192, 192));
  b.Canvas().SetPixels(0, 0, clRed);
  b.Canvas().Brush().Color = clBlue;
  b.SetHeight(2);
  b.SetWidth(3);
  EXPECT_EQ(b.Canvas().Pixels(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(b.Canvas().Pixels(1, 0), RGB(192, 192, 192));
  EXPECT_EQ(b.Canvas().Pixels(2, 0), RGB(0, 0, 255));
  EXPECT_EQ(b.Canvas().Pixels(0, 1), RGB(0, 0, 255));
  EXPECT_GE(changes, 5);
  b.SetWidth(1);
  EXPECT_EQ(b.Width(), 1);
  EXPECT_EQ(b.Canvas().Pixels(0, 0), RGB(255, 0, 0));
}

TEST(Bitmap, PixelFormatCodesAndConversions) {
  TBitmap b;
  Paint(b, 2, 1, {clRed, clWhite});
  for (TPixelFormat f : {pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfDevice, pf1bit}) {
    b.SetPixelFormat(f);
    EXPECT_EQ(b.PixelFormat(), f);
    EXPECT_EQ(b.HandleType(), f == pfDevice ? TBitmapHandleType::bmDDB : TBitmapHandleType::bmDIB);
    EXPECT_EQ(b.Canvas().Pixels(1, 0), RGB(255, 255, 255)) << int(f);
    if (f != pf1bit) {
      EXPECT_EQ(b.Canvas().Pixels(0, 0), RGB(255, 0, 0)) << int(f);
    }
    if (f != pfDevice && f <= pf8bit) {
      EXPECT_NE(b.CurrentPalette(), nullptr) << int(f);
    }
  }
  try {
    b.SetPixelFormat(pfCustom);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Invalid pixel format");
  }
  // A 32-bit DIB with bit fields counts as custom.
  b.SetHandle(gditest::Dib(1, 1, 32, {}, {0xFF0000, 0xFF00, 0xFF}));
  EXPECT_EQ(b.PixelFormat(), pfCustom);
  b.SetHandle(gditest::Dib(1, 1, 16, {}, {0x7C00, 0x3E0, 0x1F}));
  EXPECT_EQ(b.PixelFormat(), pfCustom);
}

TEST(Bitmap, HandleTypeAndMonochrome) {
  TBitmap b;
  Paint(b, 3, 1, {clWhite, clRed, RGB(254, 255, 255)});
  b.SetMonochrome(true);
  EXPECT_TRUE(b.Monochrome());
  EXPECT_EQ(b.HandleType(), TBitmapHandleType::bmDDB);
  EXPECT_EQ(b.Canvas().Pixels(0, 0), clWhite);
  EXPECT_EQ(b.Canvas().Pixels(1, 0), clBlack);
  EXPECT_EQ(b.Canvas().Pixels(2, 0), clBlack);
  // A monochrome bitmap stays monochrome in both handle types.
  b.SetHandleType(TBitmapHandleType::bmDIB);
  EXPECT_TRUE(b.Monochrome());
  EXPECT_EQ(b.PixelFormat(), pf1bit);
  b.SetHandleType(TBitmapHandleType::bmDDB);
  EXPECT_TRUE(b.Monochrome());
  EXPECT_EQ(b.Canvas().Pixels(0, 0), clWhite);
  b.SetMonochrome(false);
  EXPECT_EQ(b.PixelFormat(), pfDevice);
  EXPECT_EQ(b.Canvas().Pixels(1, 0), clBlack);
  // An 8-bit DIB becomes device-dependent 32-bit, keeping its pixels and palette.
  b.SetPixelFormat(pf8bit);
  b.Canvas().SetPixels(1, 0, clBlue);
  b.SetHandleType(TBitmapHandleType::bmDDB);
  EXPECT_EQ(b.PixelFormat(), pfDevice);
  EXPECT_EQ(b.Handle()->bitsPerPixel, 32);
  EXPECT_EQ(b.Canvas().Pixels(1, 0), RGB(0, 0, 255));
  EXPECT_NE(b.CurrentPalette(), nullptr);
}

TEST(Bitmap, SizesAndConversionsAboveTheDeviceLimitFailNamingTheSize) {
  // 2^28 bytes of pixels: a 32-bit bitmap of 8192 x 8192, not a row more.
  EXPECT_TRUE(BitmapSizeAllowed(8192, 8192, 32));
  EXPECT_FALSE(BitmapSizeAllowed(8192, 8193, 32));
  EXPECT_FALSE(BitmapSizeAllowed(8193, 8192, 32));
  EXPECT_FALSE(BitmapSizeAllowed(0x7FFFFFFF, 0x7FFFFFFF, 32));
  EXPECT_FALSE(BitmapSizeAllowed(-1, 1, 8));
  EXPECT_EQ(CreateBitmap(8193, 8192, 1, 32), nullptr);
  auto expectTooLarge = [](auto&& change, const std::string& message) {
    try {
      change();
      ADD_FAILURE() << "no failure: " << message;
    } catch (const EOutOfResources& e) {
      EXPECT_EQ(e.what(), message);
    }
  };
  // A size: the bitmap keeps its own.
  TBitmap sized;
  sized.SetWidth(1 << 20);
  expectTooLarge([&] { sized.SetHeight(65); },
                 "Bitmap of 1048576 x 65 pixels at 32 bits per pixel is too large");
  EXPECT_EQ(sized.Height(), 0);
  // A 4-bit picture (34 MB) whose 32-bit device form would take 272 MB, as a picture frame
  // switched to a device bitmap for the display: refused, the section kept.
  TBitmap frame;
  frame.SetHandle(gditest::Dib(1 << 22, 17, 4, {gditest::Quad(clRed)}));
  expectTooLarge([&] { frame.SetHandleType(TBitmapHandleType::bmDDB); },
                 "Bitmap of 4194304 x 17 pixels at 32 bits per pixel is too large");
  EXPECT_EQ(frame.PixelFormat(), pf4bit);
  EXPECT_EQ(frame.Canvas().Pixels(0, 16), clRed);
  // A monochrome section (8 MB) turned to colour or to 32 bits.
  TBitmap mono;
  mono.SetHandle(gditest::Dib(1 << 21, 33, 1));
  expectTooLarge([&] { mono.SetMonochrome(false); },
                 "Bitmap of 2097152 x 33 pixels at 32 bits per pixel is too large");
  expectTooLarge([&] { mono.SetPixelFormat(pf32bit); },
                 "Bitmap of 2097152 x 33 pixels at 32 bits per pixel is too large");
  EXPECT_TRUE(mono.Monochrome());
}

TEST(Bitmap, TransparentColourIsTheBottomLeftPixelPaletteRelative) {
  TBitmap b;
  Paint(b, 2, 2, {clRed, clGreen, RGB(1, 2, 3), clBlue});
  EXPECT_EQ(b.TransparentColor(), 0x02000000u | RGB(1, 2, 3));
  EXPECT_EQ(b.TransparentMode(), TTransparentMode::tmAuto);
  b.SetTransparentColor(clBtnFace);
  EXPECT_EQ(b.TransparentMode(), TTransparentMode::tmFixed);
  EXPECT_EQ(b.TransparentColor(), 0x02C0C0C0u);
  b.SetTransparentMode(TTransparentMode::tmAuto);
  EXPECT_EQ(b.TransparentColor(), 0x02000000u | RGB(1, 2, 3));
}

TEST(Bitmap, TakeFromCopiesBitmapsOnly) {
  TBitmap a;
  Paint(a, 2, 1, {clRed, clLime});
  a.SetPixelFormat(pf4bit);
  a.SetTransparentColor(clLime);
  TBitmap b;
  b.TakeFrom(&a);
  EXPECT_EQ(b.PixelFormat(), pf4bit);
  EXPECT_EQ(b.Canvas().Pixels(1, 0), RGB(0, 255, 0));
  EXPECT_EQ(b.TransparentColor(), 0x0200FF00u);
  EXPECT_NE(b.Handle(), a.Handle());
  b.Canvas().SetPixels(0, 0, clBlue);
  EXPECT_EQ(a.Canvas().Pixels(0, 0), RGB(255, 0, 0));  // a deep copy
  b.TakeFrom(nullptr);
  EXPECT_TRUE(b.IsEmpty());
  TSolid solid;
  try {
    b.TakeFrom(&solid);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TSolid to a TBitmap");
  }
}

TEST(Bitmap, ClipboardRoundTripAndRefusals) {
  TBitmap a;
  Paint(a, 2, 1, {clRed, clBlue});
  a.SetPixelFormat(pf8bit);
  TClipboardFormat format = 0;
  THandle data = 0;
  HPALETTE palette = nullptr;
  a.ToClipboard(format, data, palette);
  EXPECT_EQ(format, CF_BITMAP);
  ASSERT_NE(data, 0u);
  ASSERT_NE(palette, nullptr);
  UniqueBitmap owned(reinterpret_cast<HBITMAP>(data));
  UniquePalette ownedPalette(palette);
  EXPECT_NE(owned.get(), a.Handle());
  TBitmap b;
  b.FromClipboard(CF_BITMAP, data, palette);
  EXPECT_EQ(b.Canvas().Pixels(1, 0), RGB(0, 0, 255));
  EXPECT_EQ(b.PixelFormat(), pf8bit);
  for (auto [f, d] : {std::pair<TClipboardFormat, THandle>{CF_BITMAP, 0}, {CF_PALETTE, data}, {49152, data}}) {
    try {
      b.FromClipboard(f, d, nullptr);
      FAIL();
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Unsupported clipboard format");
    }
  }
  EXPECT_EQ(b.Canvas().Pixels(0, 0), RGB(255, 0, 0));
}

TEST(Canvas, DrawingGraphicsAndNotifications) {
  TBitmap dest;
  dest.Canvas().Brush().Color = clWhite;
  dest.SetWidth(4);
  dest.SetHeight(4);
  int changing = 0, changed = 0;
  dest.Canvas().OnChanging = [&](TCanvas*) { ++changing; };
  dest.Canvas().OnChange = [&](TCanvas*) { ++changed; };

  TBitmap glyph;
  Paint(glyph, 2, 1, {clRed, clSilver});
  dest.Canvas().Draw(1, 1, &glyph);
  EXPECT_EQ(dest.Canvas().Pixels(1, 1), RGB(255, 0, 0));
  EXPECT_EQ(dest.Canvas().Pixels(2, 1), RGB(192, 192, 192));
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);

  // Transparent drawing leaves the bottom-left colour out.
  glyph.SetTransparent(true);
  dest.Canvas().StretchDraw(TRect{0, 2, 4, 4}, &glyph);
  EXPECT_EQ(dest.Canvas().Pixels(0, 3), RGB(255, 255, 255));
  EXPECT_EQ(dest.Canvas().Pixels(2, 2), RGB(192, 192, 192));
  glyph.SetTransparent(false);
  glyph.SetTransparentColor(clSilver);

  // The copy mode is the raster operation of a plain draw.
  dest.Canvas().SetCopyMode(NOTSRCCOPY);
  dest.Canvas().Draw(0, 0, &glyph);
  EXPECT_EQ(dest.Canvas().Pixels(0, 0), RGB(0, 255, 255));

  dest.Canvas().Brush().Color = clGreen;
  dest.Canvas().FillRect(TRect{3, 3, 10, 10});
  EXPECT_EQ(dest.Canvas().Pixels(3, 3), RGB(0, 128, 0));
  EXPECT_EQ(dest.Canvas().Pixels(9, 9), CLR_INVALID);

  dest.Canvas().Lock();
  EXPECT_EQ(dest.Canvas().LockCount(), 1);
  dest.Canvas().Unlock();
  EXPECT_EQ(dest.Canvas().LockCount(), 0);

  TSolid solid;
  dest.Canvas().Draw(0, 0, &solid);
  EXPECT_EQ(dest.Canvas().Pixels(1, 1), RGB(255, 0, 0));
}

TEST(Bitmap, StoredFormIsLengthAndFile) {
  TBitmap a;
  Paint(a, 1, 1, {clRed});
  a.SetPixelFormat(pf24bit);
  TMemoryStream s;
  a.WriteStored(s);
  EXPECT_EQ(s.Size(), 4 + 58);
  s.SetPosition(0);
  EXPECT_EQ(s.ReadU32(), 58u);
  s.SetPosition(0);
  TBitmap b;
  b.ReadStored(s);
  EXPECT_EQ(b.Canvas().Pixels(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(s.Position(), s.Size());
}

TEST(Bitmap, ThroughTheClipboardAndThePictureMachinery) {
  TBitmap a;
  Paint(a, 2, 1, {clRed, clBlue});
  a.SetPixelFormat(pf8bit);
  Clipboard().CopyGraphic(a);
  ASSERT_TRUE(Clipboard().HasFormat(CF_BITMAP));
  ASSERT_TRUE(Clipboard().HasFormat(CF_PALETTE));
  TPicture picture;
  Clipboard().PasteInto(picture);
  auto* pasted = dynamic_cast<TBitmap*>(picture.Graphic());
  ASSERT_NE(pasted, nullptr);
  EXPECT_EQ(pasted->Canvas().Pixels(1, 0), RGB(0, 0, 255));
  Clipboard().Clear();  // the store releases the bitmap and palette it owns
  EXPECT_FALSE(Clipboard().HasFormat(CF_BITMAP));
  ASSERT_NE(FindClass("TIcon"), nullptr);
}
