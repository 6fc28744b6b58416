// Icons and cursors: image choice, masks, alpha, bad files, and real files against ImageMagick.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/test_paths.h"
#include "gdi/gdi_test_util.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/device/icon.h"
#include "toolkit/core/streams.h"

using namespace tk;
using namespace gditest;
namespace fs = std::filesystem;

namespace {

// One image of an icon file: colour rows at the given depth from a pixel function giving a
// palette index (indexed) or 0xAARRGGBB, and the AND mask from a predicate; rows bottom first.
template <class Pixel, class Masked>
Bytes Image(int size, int bits, const std::vector<std::uint32_t>& palette, Pixel pixel, Masked masked) {
  Bytes b;
  Put32(b, 40);
  Put32(b, static_cast<std::uint32_t>(size));
  Put32(b, static_cast<std::uint32_t>(2 * size));
  Put16(b, 1);
  Put16(b, static_cast<std::uint32_t>(bits));
  for (int i = 0; i < 6; ++i) Put32(b, 0);
  if (bits <= 8)
    for (std::size_t i = 0; i < (std::size_t{1} << bits); ++i) Put32(b, i < palette.size() ? palette[i] : 0);
  const std::size_t stride = static_cast<std::size_t>((size * bits + 31) / 32 * 4);
  const std::size_t maskStride = static_cast<std::size_t>((size + 31) / 32 * 4);
  for (int y = size - 1; y >= 0; --y) {
    Bytes row(stride, 0);
    auto orInto = [&](int at, std::uint32_t v) { row.at(static_cast<std::size_t>(at)) |= static_cast<std::uint8_t>(v); };
    for (int x = 0; x < size; ++x) {
      const std::uint32_t v = pixel(x, y);
      switch (bits) {
        case 1: orInto(x / 8, (v & 1) << (7 - x % 8)); break;
        case 4: orInto(x / 2, (v & 0xF) << (x % 2 ? 0 : 4)); break;
        case 8: orInto(x, v & 0xFF); break;
        default:
          for (int k = 0; k < bits / 8; ++k) orInto(bits / 8 * x + k, (v >> (8 * k)) & 0xFF);
      }
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  for (int y = size - 1; y >= 0; --y) {
    Bytes row(maskStride, 0);
    for (int x = 0; x < size; ++x)
      if (masked(x, y)) row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

struct Dir {
  int size;
  int bits;
  Bytes image;
};

Bytes File(const std::vector<Dir>& images, int type = 1, int hotX = 0, int hotY = 0) {
  Bytes f;
  Put16(f, 0);
  Put16(f, static_cast<std::uint32_t>(type));
  Put16(f, static_cast<std::uint32_t>(images.size()));
  std::size_t offset = 6 + 16 * images.size();
  for (const Dir& d : images) {
    f.push_back(static_cast<std::uint8_t>(d.size & 0xFF));
    f.push_back(static_cast<std::uint8_t>(d.size & 0xFF));
    f.push_back(0);
    f.push_back(0);
    Put16(f, type == 2 ? static_cast<std::uint32_t>(hotX) : 1);
    Put16(f, type == 2 ? static_cast<std::uint32_t>(hotY) : static_cast<std::uint32_t>(d.bits));
    Put32(f, static_cast<std::uint32_t>(d.image.size()));
    Put32(f, static_cast<std::uint32_t>(offset));
    offset += d.image.size();
  }
  for (const Dir& d : images) f.insert(f.end(), d.image.begin(), d.image.end());
  return f;
}

Bytes Png() { return Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 0}; }

// Draws the icon at its size onto a bitmap of one colour.
std::vector<COLORREF> DrawnOver(TIcon& icon, TColor background) {
  TBitmap b;
  b.Canvas().Brush().Color = background;
  b.SetWidth(icon.Width());
  b.SetHeight(icon.Height());
  b.Canvas().Draw(0, 0, &icon);
  return PixelsOf(b);
}

auto Opaque = [](int, int) { return false; };

}  // namespace

TEST(Icon, MaskKeepsTheBackgroundAndEveryDepthDraws) {
  // 4 x 4: left half red, right half blue, the top-left pixel transparent.
  const std::vector<std::uint32_t> palette = {0x000000, 0xFF0000, 0x0000FF};
  auto index = [](int x, int) -> std::uint32_t { return x < 2 ? 1 : 2; };
  auto rgb = [](int x, int) -> std::uint32_t { return x < 2 ? 0xFF0000 : 0x0000FF; };
  auto masked = [](int x, int y) { return x == 0 && y == 0; };
  auto black = [&](auto f) { return [=](int x, int y) { return masked(x, y) ? 0u : f(x, y); }; };
  for (int bits : {1, 4, 8, 24, 32}) {
    SCOPED_TRACE(bits);
    // At 1 bit the palette is black and red, and the right half black.
    const COLORREF right = bits == 1 ? RGB(0, 0, 0) : RGB(0, 0, 255);
    Bytes image = bits == 1   ? Image(4, 1, {0x000000, 0xFF0000}, black([](int x, int) { return x < 2 ? 1u : 0u; }), masked)
                  : bits <= 8 ? Image(4, bits, palette, black(index), masked)
                              : Image(4, bits, {}, black(rgb), masked);
    TIcon icon;
    Load(icon, File({{4, bits, image}}));
    EXPECT_EQ(icon.Width(), 4);
    EXPECT_EQ(icon.Height(), 4);
    EXPECT_EQ(icon.BitCount(), bits);
    EXPECT_FALSE(icon.HasAlpha());
    const auto pixels = DrawnOver(icon, clLime);
    EXPECT_EQ(pixels[0], RGB(0, 255, 0));
    EXPECT_EQ(pixels[1], RGB(255, 0, 0));
    EXPECT_EQ(pixels[2], right);
    EXPECT_EQ(pixels[15], right);
  }
}

TEST(Icon, AlphaChannelBlends) {
  auto pixel = [](int x, int) -> std::uint32_t {
    return x == 0 ? 0x00FF0000u : x == 1 ? 0xFFFF0000u : 0x800000FFu;  // clear, opaque red, half blue
  };
  TIcon icon;
  Load(icon, File({{3, 32, Image(3, 32, {}, pixel, Opaque)}}));
  EXPECT_TRUE(icon.HasAlpha());
  const auto pixels = DrawnOver(icon, clWhite);
  EXPECT_EQ(pixels[0], RGB(255, 255, 255));
  EXPECT_EQ(pixels[1], RGB(255, 0, 0));
  EXPECT_EQ(pixels[2], RGB(127, 127, 255));
}

TEST(Icon, ChoosesNearestTo32ThenMostColoursPassingOverPng) {
  auto solid = [](std::uint32_t v) { return [=](int, int) { return v; }; };
  const Bytes s16 = Image(16, 32, {}, solid(0xFF000001), Opaque);
  const Bytes s32x4 = Image(32, 4, {0x000000, 0x00FF00}, solid(1), Opaque);
  const Bytes s32x24 = Image(32, 24, {}, solid(0x0000FF), Opaque);
  const Bytes s48 = Image(48, 32, {}, solid(0xFF000002), Opaque);
  TIcon icon;
  Load(icon, File({{0, 32, Png()}, {16, 32, s16}, {32, 4, s32x4}, {48, 32, s48}, {32, 24, s32x24}}));
  EXPECT_EQ(icon.Width(), 32);
  EXPECT_EQ(icon.BitCount(), 24);
  Load(icon, File({{0, 32, Png()}, {16, 32, s16}, {48, 32, s48}}));
  EXPECT_EQ(icon.Width(), 16);  // 16 and 48 are as near; the first wins
  Load(icon, File({{0, 32, Png()}, {48, 32, s48}}));
  EXPECT_EQ(icon.Width(), 48);
  // A damaged image is passed over for the next best one.
  Bytes broken = s32x24;
  broken.resize(60);
  Load(icon, File({{32, 24, broken}, {16, 32, s16}}));
  EXPECT_EQ(icon.Width(), 16);
}

TEST(Icon, CursorFilesAndStoredBytes) {
  const Bytes file = File({{8, 4, Image(8, 4, {0, 0xFFFFFF}, [](int, int) { return 1u; }, Opaque)}}, 2, 3, 5);
  TIcon icon;
  Load(icon, file);
  EXPECT_TRUE(icon.IsCursor());
  EXPECT_EQ(icon.Hotspot(), (TPoint{3, 5}));
  TMemoryStream out;
  icon.SaveStream(out);
  EXPECT_TRUE(std::equal(out.Bytes().begin(), out.Bytes().end(), file.begin(), file.end()));
  TIcon copy;
  copy.TakeFrom(&icon);
  EXPECT_EQ(DrawnOver(copy, clBlack), DrawnOver(icon, clBlack));
  EXPECT_THROW(copy.SetWidth(3), EInvalidGraphicOperation);
  TClipboardFormat f = 0;
  THandle h = 0;
  HPALETTE p = nullptr;
  EXPECT_THROW(copy.ToClipboard(f, h, p), EInvalidGraphic);
  // A bitmap does not take an icon: the caller draws it instead.
  TBitmap bitmap;
  EXPECT_THROW(bitmap.TakeFrom(&icon), EConvertError);
}

TEST(Icon, BadFilesFailCleanly) {
  const Bytes good = File({{4, 24, Image(4, 24, {}, [](int, int) { return 0x123456u; }, Opaque)}});
  auto expectInvalid = [](const Bytes& file, const char* what) {
    ExpectLoadFails<TIcon>(file, "Icon image is not valid", what);
  };
  expectInvalid({0, 0, 1}, "short");
  expectInvalid(File({{0, 32, Png()}}), "PNG images only");
  expectInvalid(Patched(good, 2, {3}), "type");
  expectInvalid(Patched(good, 4, {0}), "no images");
  expectInvalid(Patched(good, 4, {200}), "directory past the end");
  expectInvalid(Patched(good, 18, {0xF0}), "image offset past the end");
  expectInvalid(Patched(good, 6 + 16 + 8, {0x7F}), "odd doubled height");
  expectInvalid(Bytes(good.begin(), good.end() - 4), "mask cut short");
  // A failed load keeps the icon's image.
  TIcon icon;
  Load(icon, good);
  try {
    Load(icon, File({{0, 32, Png()}}));
  } catch (const EInvalidGraphic&) {
  }
  EXPECT_EQ(icon.Width(), 4);
}

namespace {

// ImageMagick's drawing of an icon file over a background colour.
std::vector<COLORREF> ImageMagickFlattened(const std::string& source, COLORREF background) {
  char colour[32];
  std::snprintf(colour, sizeof colour, "#%02X%02X%02X", GetRValue(background), GetGValue(background),
                GetBValue(background));
  return ImageMagickPixels(source, std::string("-background '") + colour + "' -flatten",
                           testpaths::ScratchDir("icon_reference") / "out.rgb");
}

int MaxChannelDifference(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
  if (a.size() != b.size()) return 256;
  int worst = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    for (int shift = 0; shift < 24; shift += 8)
      worst = std::max(worst, std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF)));
  return worst;
}

}  // namespace

TEST(Icon, RealFilesFromDebianPackages) {
  const fs::path& dir = kPixbufImages;
  if (!fs::is_directory(dir)) GTEST_SKIP() << "gdk-pixbuf-tests is not installed";
  const bool magick = HaveImageMagick();
  {
    // 100 x 100 at 4 bits with a mask.
    TIcon icon;
    icon.LoadFromFile((dir / "reftests/squares.ico").string());
    EXPECT_EQ(icon.Width(), 100);
    EXPECT_EQ(icon.BitCount(), 4);
    if (magick) {
      EXPECT_EQ(DrawnOver(icon, clWhite), ImageMagickFlattened((dir / "reftests/squares.ico").string(), clWhite));
    }
  }
  {
    // Eighteen images, one of them PNG: the 32 x 32 one with alpha is taken.
    TIcon icon;
    icon.LoadFromFile((dir / "reftests/bug785447.ico").string());
    EXPECT_EQ(icon.Width(), 32);
    EXPECT_EQ(icon.BitCount(), 32);
    EXPECT_TRUE(icon.HasAlpha());
    if (magick) {
      const auto reference = ImageMagickFlattened((dir / "reftests/bug785447.ico[15]").string(), RGB(40, 90, 160));
      EXPECT_LE(MaxChannelDifference(DrawnOver(icon, RGB(40, 90, 160)), reference), 1);
    }
  }
  for (const char* name : {"fail/bug778204.ico", "fail/bug779012.ico", "fail/invalid.1.ico", "fail/invalid.3.ico",
                           "randomly-modified/bad-header.ico", "randomly-modified/bug776040.ico",
                           "randomly-modified/crash.ico", "randomly-modified/invalid.2.ico"}) {
    TIcon icon;
    try {
      icon.LoadFromFile((dir / name).string());
    } catch (const EInvalidGraphic&) {
    }
  }
}
