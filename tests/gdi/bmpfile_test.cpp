// BMP files: round trips of every format, hand-made variants, bad files, and real files checked
// against ImageMagick's decoding where it is installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/test_paths.h"
#include "gdi/gdi_test_util.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/device/bmpfile.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/system/library.h"
#include "toolkit/core/streams.h"
#include "tools/mkreslib/reslib.h"

using namespace tk;
using namespace gditest;
namespace fs = std::filesystem;

namespace {

// A BMP file with an info header of the given size (40, 52, 56, 108 or 124); extra holds the
// masks (for headers of 52 bytes and more they go inside the header), then the colour table and
// pixels follow.
Bytes MakeFile(std::uint32_t headerSize, std::int32_t width, std::int32_t height, int bits, std::uint32_t compression,
               const std::vector<std::uint32_t>& masks, const Bytes& table, const Bytes& pixels,
               std::uint32_t clrUsed = 0) {
  Bytes info;
  Put32(info, headerSize);
  Put32(info, static_cast<std::uint32_t>(width));
  Put32(info, static_cast<std::uint32_t>(height));
  Put16(info, 1);
  Put16(info, static_cast<std::uint32_t>(bits));
  Put32(info, compression);
  Put32(info, static_cast<std::uint32_t>(pixels.size()));
  Put32(info, 2835);
  Put32(info, 2835);
  Put32(info, clrUsed);
  Put32(info, 0);
  for (std::uint32_t m : masks) Put32(info, m);
  info.resize(std::max<std::size_t>(info.size(), headerSize), 0);
  Bytes file = {'B', 'M'};
  const std::size_t offset = 14 + info.size() + table.size();
  Put32(file, static_cast<std::uint32_t>(offset + pixels.size()));
  Put32(file, 0);
  Put32(file, static_cast<std::uint32_t>(offset));
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), table.begin(), table.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

Bytes Table(std::initializer_list<COLORREF> colors) {
  Bytes t;
  for (COLORREF c : colors) t.insert(t.end(), {GetBValue(c), GetGValue(c), GetRValue(c), 0});
  return t;
}

void ExpectInvalid(const Bytes& file, const std::string& what) {
  ExpectLoadFails<TBitmap>(file, "Bitmap image is not valid", what);
}

}  // namespace

TEST(BmpFile, EveryFormatRoundTripsByteForByte) {
  const std::vector<RGBQUAD> colors = {Quad(RGB(10, 20, 30)), Quad(RGB(200, 0, 0)), Quad(RGB(0, 200, 0)),
                                       Quad(RGB(255, 255, 255))};
  struct Case {
    int bits;
    std::vector<std::uint32_t> masks;
    TPixelFormat format;
  };
  const std::vector<Case> cases = {{1, {}, pf1bit},
                                   {4, {}, pf4bit},
                                   {8, {}, pf8bit},
                                   {16, {}, pf15bit},
                                   {16, {0xF800, 0x7E0, 0x1F}, pf16bit},
                                   {24, {}, pf24bit},
                                   {32, {}, pf32bit},
                                   {32, {0xFF0000, 0xFF00, 0xFF}, pfCustom}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.masks.size() << " masks");
    TBitmap a;
    a.SetHandle(Dib(5, 3, c.bits, colors, c.masks));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) a.Canvas().SetPixels(x, y, (x + y) % 2 ? RGB(200, 0, 0) : RGB(255, 255, 255));
    a.Canvas().SetPixels(4, 2, RGB(0, 200, 0));
    TMemoryStream first;
    a.SaveStream(first);
    first.SetPosition(0);
    TBitmap b;
    b.LoadStream(first);
    EXPECT_EQ(first.Position(), first.Size());
    EXPECT_EQ(b.PixelFormat(), c.format);
    EXPECT_EQ(PixelsOf(b), PixelsOf(a));
    TMemoryStream second;
    b.SaveStream(second);
    EXPECT_TRUE(std::equal(first.Bytes().begin(), first.Bytes().end(), second.Bytes().begin(), second.Bytes().end()));
  }
  // A device bitmap is saved at 32 bits, a monochrome one at 1 bit with black and white.
  TBitmap ddb;
  ddb.SetWidth(2);
  ddb.SetHeight(1);
  TMemoryStream s;
  ddb.SaveStream(s);
  EXPECT_EQ(s.Memory()[28], 32);
  ddb.SetMonochrome(true);
  s.Clear();
  ddb.SaveStream(s);
  EXPECT_EQ(s.Memory()[28], 1);
  EXPECT_EQ(s.Size(), 14 + 40 + 8 + 4);
}

TEST(BmpFile, SavedHeaderFields) {
  TBitmap a;
  a.SetHandle(Dib(3, 2, 8, {Quad(RGB(1, 2, 3))}));
  TMemoryStream s;
  a.SaveStream(s);
  const std::uint8_t* m = s.Memory();
  auto u32 = [&](int at) { return m[at] | (m[at + 1] << 8) | (m[at + 2] << 16) | (m[at + 3] << 24); };
  EXPECT_EQ(m[0], 'B');
  EXPECT_EQ(m[1], 'M');
  EXPECT_EQ(u32(2), 14 + 40 + 1024 + 8);
  EXPECT_EQ(u32(10), 1078);
  EXPECT_EQ(u32(14), 40);
  EXPECT_EQ(u32(22), 2);  // bottom row first
  EXPECT_EQ(u32(34), 8);  // image size
  EXPECT_EQ((std::vector<int>{m[54], m[55], m[56], m[57]}), (std::vector<int>{3, 2, 1, 0}));
}

TEST(BmpFile, HeaderVariantsInRealUse) {
  // Top-down 24-bit rows.
  {
    TBitmap b;
    Load(b, MakeFile(40, 1, -2, 24, BI_RGB, {}, {}, {1, 2, 3, 0, 4, 5, 6, 0}));
    EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{RGB(3, 2, 1), RGB(6, 5, 4)}));
  }
  // The old core header with three-byte colour entries.
  {
    Bytes file = {'B', 'M'};
    Put32(file, 14 + 12 + 6 + 4);
    Put32(file, 0);
    Put32(file, 14 + 12 + 6);
    Put32(file, 12);
    Put16(file, 2);
    Put16(file, 1);
    Put16(file, 1);
    Put16(file, 1);
    file.insert(file.end(), {0, 0, 255, 255, 0, 0});  // red, blue
    file.insert(file.end(), {0x40, 0, 0, 0});
    TBitmap b;
    Load(b, file);
    EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{RGB(255, 0, 0), RGB(0, 0, 255)}));
    EXPECT_EQ(b.PixelFormat(), pf1bit);
  }
  // Bit fields after a 40-byte header, inside a V4 header, and in a V5 header with alpha.
  {
    TBitmap b;
    Load(b, MakeFile(40, 2, 1, 16, BI_BITFIELDS, {0xF800, 0x7E0, 0x1F}, {}, {0x00, 0xF8, 0xE0, 0x07}));
    EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{RGB(255, 0, 0), RGB(0, 255, 0)}));
    EXPECT_EQ(b.PixelFormat(), pf16bit);
    Load(b, MakeFile(108, 1, 1, 16, BI_BITFIELDS, {0x7C00, 0x3E0, 0x1F, 0}, {}, {0x1F, 0x00, 0, 0}));
    EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{RGB(0, 0, 255)}));
    Load(b, MakeFile(124, 1, 1, 32, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {}, {9, 8, 7, 0x80}));
    EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{RGB(7, 8, 9)}));
    Load(b, MakeFile(124, 1, 1, 32, BI_BITFIELDS, {0xFF, 0xFF00, 0xFF0000, 0}, {}, {9, 8, 7, 0}));
    EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{RGB(9, 8, 7)}));
  }
  // A colour table shorter than the depth (colours used) and one cut by the pixel offset.
  {
    TBitmap b;
    Load(b, MakeFile(40, 2, 1, 8, BI_RGB, {}, Table({RGB(9, 9, 9), RGB(1, 1, 1)}), {1, 0, 0, 0}, 2));
    EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{RGB(1, 1, 1), RGB(9, 9, 9)}));
    EXPECT_EQ(b.Handle()->colors.size(), 256u);
  }
}

TEST(BmpFile, RunLengthEncodedImages) {
  const Bytes table = Table({RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)});
  TBitmap b;
  // RLE8, bottom row: a run of two 1s, an absolute run 3 2 1 (padded, its last pixel past the
  // row), end of line; top row: a delta of two columns, a run of one 3, end of bitmap.
  Load(b, MakeFile(40, 4, 2, 8, BI_RLE8, {}, table, {2, 1, 0, 3, 3, 2, 1, 0, 0, 0, 0, 2, 2, 0, 1, 3, 0, 1}, 4));
  const COLORREF k = 0, r = RGB(255, 0, 0), g = RGB(0, 255, 0), bl = RGB(0, 0, 255);
  EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{k, k, bl, k, r, r, bl, g}));
  EXPECT_EQ(b.PixelFormat(), pf8bit);
  // RLE4: a run alternating two nibbles, an absolute run of three nibbles, end of bitmap.
  Load(b, MakeFile(40, 7, 1, 4, BI_RLE4, {}, table, {4, 0x12, 0, 3, 0x32, 0x10, 0, 1}, 4));
  EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{r, g, r, g, bl, g, r}));
  // Runs past the row are cut at its end; data ending early leaves the rest at index 0.
  Load(b, MakeFile(40, 3, 2, 8, BI_RLE8, {}, table, {9, 1, 0, 5, 2, 2, 2, 2, 2, 0}, 4));
  EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{k, k, k, r, r, r}));
}

TEST(BmpFile, TheLastRowNeedsNoPadding) {
  // 2 x 2 at 24 bits: the bottom row with its 2 bytes of padding, the top row without.
  TBitmap b;
  Load(b, MakeFile(40, 2, 2, 24, BI_RGB, {}, {}, {2, 2, 2, 3, 3, 3, 0, 0, 4, 4, 4, 5, 5, 5}));
  EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{RGB(4, 4, 4), RGB(5, 5, 5), RGB(2, 2, 2), RGB(3, 3, 3)}));
  // One byte less is refused.
  ExpectInvalid(MakeFile(40, 2, 2, 24, BI_RGB, {}, {}, {2, 2, 2, 3, 3, 3, 0, 0, 4, 4, 4, 5, 5}), "rows of 14 bytes");
}

TEST(BmpFile, BadFilesFailCleanly) {
  const Bytes good = MakeFile(40, 2, 2, 24, BI_RGB, {}, {}, Bytes(16, 7));
  {
    TBitmap b;
    Load(b, good);  // the mutations below start from a file that loads
  }
  auto with = [&](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    return Patched(good, at, bytes);
  };
  ExpectInvalid(Bytes(good.begin(), good.begin() + 20), "short header");
  ExpectInvalid(with(0, {'B', 'A'}), "signature");
  ExpectInvalid(with(14, {41}), "header size");
  ExpectInvalid(with(18, {0, 0, 0, 0}), "zero width");
  ExpectInvalid(with(18, {0xFF, 0xFF, 0xFF, 0xFF}), "negative width");
  ExpectInvalid(with(22, {0, 0, 0, 0}), "zero height");
  ExpectInvalid(with(22, {0, 0, 0, 0x80}), "most negative height");
  ExpectInvalid(with(18, {0xFF, 0xFF, 0, 0}), "width beyond the data");
  {
    Bytes f = with(18, {0xFF, 0xFF, 0xFF, 0x5F});  // huge width and height: their product overflows
    f[22] = 0x9F, f[23] = 0x9F, f[24] = 0x9C, f[25] = 0x64;
    ExpectInvalid(f, "huge width and height");
  }
  ExpectInvalid(with(22, {0xFF, 0xFF, 0xFF, 0x7F}), "huge height");
  ExpectInvalid(with(28, {2}), "2 bits per pixel");
  ExpectInvalid(with(30, {4}), "JPEG compression");
  ExpectInvalid(with(30, {1}), "RLE8 at 24 bits");
  ExpectInvalid(with(10, {0xFF, 0, 0, 0}), "pixel offset past the end");
  ExpectInvalid(Bytes(good.begin(), good.end() - 5), "truncated pixels");
  ExpectInvalid(MakeFile(40, 2, 1, 8, BI_RGB, {}, Bytes(8, 0), {}, 300), "palette past the end");
  ExpectInvalid(MakeFile(40, 1, -1, 8, BI_RLE8, {}, Table({0}), {0, 1}), "top-down RLE");
  ExpectInvalid(MakeFile(40, 60000, 60000, 8, BI_RLE8, {}, Table({0}), {0, 1}), "RLE asking for a huge bitmap");
  ExpectInvalid(MakeFile(40, 1, 1, 16, BI_BITFIELDS, {0x1F0000, 0, 0}, {}, {0, 0, 0, 0}), "16-bit mask too wide");
  // A failed load leaves the bitmap as it was.
  TBitmap b;
  Load(b, good);
  try {
    Load(b, with(0, {'X'}));
  } catch (const EInvalidGraphic&) {
  }
  EXPECT_EQ(b.Width(), 2);
  // The end of a stream gives an empty bitmap.
  TMemoryStream empty;
  b.LoadStream(empty);
  EXPECT_TRUE(b.IsEmpty());
}

TEST(BmpFile, FailuresKeepTheMessageAndSayWhyBesideIt) {
  const Bytes good = MakeFile(40, 2, 2, 24, BI_RGB, {}, {}, Bytes(16, 7));
  auto reasonOf = [](const Bytes& file) {
    try {
      ReadBitmapFile(file);
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), "Bitmap image is not valid");
      return e.ReasonText();
    }
    ADD_FAILURE() << "the file loaded";
    return std::string();
  };
  EXPECT_EQ(reasonOf(Bytes(good.begin(), good.begin() + 20)), "a file of 20 bytes, shorter than its headers");
  EXPECT_EQ(reasonOf(Patched(good, 14, {41})), "an info header of 41 bytes is of no known kind");
  EXPECT_EQ(reasonOf(Patched(good, 28, {2})), "2 bits per pixel");
  EXPECT_EQ(reasonOf(Patched(good, 30, {4})), "compression 4");
  EXPECT_EQ(reasonOf(Bytes(good.begin(), good.end() - 5)), "rows of 14 bytes, 11 there");
  EXPECT_EQ(reasonOf(MakeFile(40, 2, 1, 8, BI_RGB, {}, Bytes(8, 0), {}, 300)), "rows of 2 bytes, 0 there");
  // Rows whose size 64 bits cannot hold are refused, named by count and stride.
  EXPECT_EQ(reasonOf(MakeFile(40, 1627390209, 2136277055, 32, BI_RGB, {}, {}, Bytes(4, 0))),
            "rows of 2136277055 x 6509560836 bytes, 4 there");
  try {
    const Bytes file = MakeFile(40, 2, 1, 8, BI_RGB, {}, Bytes(10, 0), {});
    ReadPackedDib(std::span(file).subspan(14));  // the table runs past the end
    ADD_FAILURE() << "the bitmap loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.ReasonText(), "colour table: 1024 bytes at offset 40 lie beyond the 50 bytes of the data");
  }
  EXPECT_EQ(reasonOf(MakeFile(40, 1, 1, 16, BI_BITFIELDS, {0x1F0000, 0, 0}, {}, {0, 0, 0, 0})),
            "a channel mask wider than 16 bits at 16 bits per pixel");
}

TEST(BmpFile, PackedDibOfAResource) {
  const Bytes file = MakeFile(40, 1, 1, 8, BI_RGB, {}, Table({RGB(1, 2, 3), RGB(4, 5, 6)}), {1, 0, 0, 0}, 2);
  TBitmap b;
  b.LoadFromPackedDib(std::span<const std::uint8_t>(file).subspan(14));
  EXPECT_EQ(b.Canvas().Pixels(0, 0), RGB(4, 5, 6));
  EXPECT_THROW(b.LoadFromPackedDib(std::span<const std::uint8_t>(file).subspan(14, 30)), EInvalidGraphic);
}

TEST(BmpFile, BitmapResourceOfASideLibraryByName) {
  const Bytes file = MakeFile(40, 2, 1, 24, BI_RGB, {}, {}, {0, 0, 255, 255, 0, 0, 0, 0});
  const Bytes dll = reslib::BuildResourceDll({{RT_BITMAP, "B", reslib::BitmapResource(file)},
                                              {RT_BITMAP, "BAD", {40, 0, 0}}},
                                             reslib::ImageFormat::Pe32);
  HMODULE module = LoadLibraryFromImage(dll, "Masks.dll");
  ASSERT_NE(module, nullptr);
  TBitmap b;
  b.LoadFromResourceName(module, "b");
  EXPECT_EQ(PixelsOf(b), (std::vector<COLORREF>{RGB(255, 0, 0), RGB(0, 0, 255)}));
  try {
    b.LoadFromResourceName(module, "C");
    ADD_FAILURE();
  } catch (const EResNotFound& e) {
    EXPECT_STREQ(e.what(), "Resource C not found");
  }
  EXPECT_THROW(b.LoadFromResourceName(module, "BAD"), EInvalidGraphic);
  EXPECT_EQ(b.Width(), 2);
  FreeLibrary(module);
}

namespace {

// ImageMagick's reading of a file, written beside it.
std::vector<COLORREF> ReferencePixels(const fs::path& file) {
  return ImageMagickPixels(file.string(), "", file.string() + ".rgb");
}

}  // namespace

TEST(BmpFile, FilesWrittenByImageMagickMatchItsOwnReading) {
  if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
  const fs::path dir = testpaths::ScratchDir("bmp_imagemagick");
  const std::string src = (dir / "src.png").string();
  ASSERT_EQ(std::system(("convert -seed 7 -size 13x7 plasma: '" + src + "'").c_str()), 0);
  const std::vector<std::pair<std::string, std::string>> variants = {
      {"a24.bmp", "-type truecolor BMP3:"},
      {"a8.bmp", "-type palette -compress none BMP3:"},
      {"rle8.bmp", "-type palette -compress rle BMP3:"},
      {"a4.bmp", "-colors 16 -type palette -compress none BMP3:"},
      {"a1.bmp", "-type bilevel BMP3:"},
      {"a32.bmp", "-alpha set -channel A -evaluate set 50% +channel BMP:"},
      {"a16.bmp", "-define bmp:subtype=RGB565 BMP:"},
      {"core.bmp", "BMP2:"},
      {"v5.bmp", "BMP:"},
  };
  for (const auto& [name, options] : variants) {
    SCOPED_TRACE(name);
    const fs::path file = dir / name;
    const std::string command = "convert '" + src + "' " + options + "'" + file.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    TBitmap b;
    b.LoadFromFile(file.string());
    EXPECT_EQ(b.Width(), 13);
    EXPECT_EQ(b.Height(), 7);
    EXPECT_EQ(PixelsOf(b), ReferencePixels(file));
  }
}

TEST(BmpFile, RealFilesFromDebianPackages) {
  const fs::path& dir = kPixbufImages;
  if (!fs::is_directory(dir)) GTEST_SKIP() << "gdk-pixbuf-tests is not installed";
  // Loads and matches ImageMagick.
  for (const char* name : {"reftests/mandatory-bitmasks.bmp", "randomly-modified/valid.1.bmp"}) {
    SCOPED_TRACE(name);
    TBitmap b;
    b.LoadFromFile((dir / name).string());
    EXPECT_FALSE(b.IsEmpty());
    if (HaveImageMagick()) {
      const fs::path copy = testpaths::ScratchDir("bmp_real") / "copy.bmp";
      fs::copy_file(dir / name, copy);
      EXPECT_EQ(PixelsOf(b), ReferencePixels(copy));
    }
  }
  // Broken files fail or load; none may crash.
  for (const char* name : {"fail/bug776694.bmp", "fail/bug777315.bmp", "fail/invalid.1.bmp",
                           "randomly-modified/bmp-line-overflow.bmp", "randomly-modified/bug775242.bmp",
                           "randomly-modified/decodecolormap.bmp"}) {
    TBitmap b;
    try {
      b.LoadFromFile((dir / name).string());
    } catch (const EInvalidGraphic&) {
    }
  }
  TBitmap b;
  EXPECT_THROW(b.LoadFromFile((dir / "fail/invalid.1.bmp").string()), EInvalidGraphic);
}
