// Bitmaps to device-independent bitmap files: layout, format choice, method dispatch, failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "colour/colour.h"
#include "common/run_program.h"
#include "common/test_paths.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/screen.h"

namespace colour {
namespace {

using tk::COLORREF;
using RM = ReductionMethod;

constexpr COLORREF Rgb(int r, int g, int b) { return COLORREF(r | g << 8 | b << 16); }

// A bitmap of the given depth (a DIB section; 0 gives a device bitmap) whose pixel (x, y), y
// counted from the top, has the colour given.
std::unique_ptr<tk::TBitmap> MakeBitmap(int w, int h, int bits, const std::function<COLORREF(int, int)>& colour,
                                        std::vector<tk::RGBQUAD> table = {}) {
  auto bitmap = std::make_unique<tk::TBitmap>();
  tk::BITMAPINFOHEADER header;
  header.biWidth = w;
  header.biHeight = h;
  header.biBitCount = static_cast<std::uint16_t>(bits ? bits : 24);
  header.biXPelsPerMeter = 2835;
  header.biYPelsPerMeter = 3780;
  tk::HBITMAP handle = tk::CreateDIBSection(header, table);
  EXPECT_NE(handle, nullptr);
  bitmap->SetHandle(handle);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bitmap->Canvas().SetPixels(x, y, colour(x, y));
  if (!bits) bitmap->SetHandleType(tk::TBitmapHandleType::bmDDB);
  return bitmap;
}

// The fields of a bitmap file in a stream.
struct Dib {
  std::vector<std::uint8_t> bytes;
  explicit Dib(tk::TMemoryStream& s) : bytes(s.Bytes().begin(), s.Bytes().end()) { EXPECT_EQ(s.Position(), 0); }
  std::uint32_t U32(std::size_t at) const {
    std::uint32_t v;
    std::memcpy(&v, &bytes.at(at + 3) - 3, 4);
    return v;
  }
  std::uint16_t U16(std::size_t at) const { return std::uint16_t(bytes.at(at) | bytes.at(at + 1) << 8); }
  std::uint32_t FileSize() const { return U32(2); }
  std::uint32_t PixelOffset() const { return U32(10); }
  std::int32_t Width() const { return std::int32_t(U32(18)); }
  std::int32_t Height() const { return std::int32_t(U32(22)); }
  int Bits() const { return U16(28); }
  std::uint32_t ImageSize() const { return U32(34); }
  std::uint32_t ColorsImportant() const { return U32(50); }
  std::uint8_t Pixel8(int x, int rowFromBottom) const {
    return bytes.at(PixelOffset() + rowFromBottom * tk::DibRowBytes(Width(), 8) + x);
  }
  COLORREF Entry(int i) const {
    const std::uint8_t* e = &bytes.at(54 + 4 * i);
    return Rgb(e[2], e[1], e[0]);
  }
};

// Records the message boxes shown while it lives.
struct MessageBoxes {
  struct Box {
    std::string text, caption;
    unsigned flags;
  };
  std::vector<Box> shown;
  tk::MessageBoxHandler previous;
  MessageBoxes() {
    previous = tk::SetMessageBoxHandler([this](const std::string& t, const std::string& c, unsigned f) {
      shown.push_back({t, c, f});
      return tk::IDOK;
    });
  }
  ~MessageBoxes() { tk::SetMessageBoxHandler(std::move(previous)); }
};

COLORREF Stripes(int x, int y) { return (x + y) % 3 == 0 ? Rgb(255, 255, 255) : Rgb(x * 40, y * 50, 90); }

TEST(BitmapToDIBStream, EightBitLayoutOfOnePixel) {
  struct {
    RM method;
    std::uint32_t important;
  } cases[] = {{RM::ReduceHistogram, 0}, {RM::ReduceMedianCut, 1}, {RM::ReduceFixed784, 224},
               {RM::ReduceFixed666, 216}, {RM::ReducePrimaryRamps, 0}, {RM::ReduceGray, 0}};
  for (auto c : cases) {
    auto bitmap = MakeBitmap(1, 1, 24, [](int, int) { return Rgb(255, 255, 255); });
    auto stream = BitmapToDIBStream(*bitmap, tk::pf8bit, c.method);
    Dib dib(*stream);
    ASSERT_EQ(dib.bytes.size(), 14u + 1064 + 4);
    EXPECT_EQ(dib.bytes[0], 'B');
    EXPECT_EQ(dib.bytes[1], 'M');
    EXPECT_EQ(dib.FileSize(), dib.bytes.size());
    EXPECT_EQ(dib.U32(6), 0u);
    EXPECT_EQ(dib.PixelOffset(), 1078u);
    EXPECT_EQ(dib.U32(14), 40u);
    EXPECT_EQ(dib.Width(), 1);
    EXPECT_EQ(dib.Height(), 1);
    EXPECT_EQ(dib.U16(26), 1);
    EXPECT_EQ(dib.Bits(), 8);
    EXPECT_EQ(dib.U32(30), 0u);
    EXPECT_EQ(dib.ImageSize(), 4u);
    EXPECT_EQ(dib.U32(38), 2835u);
    EXPECT_EQ(dib.U32(42), 3780u);
    EXPECT_EQ(dib.U32(46), 0u);
    EXPECT_EQ(dib.ColorsImportant(), c.important) << int(c.method);
    // White is white in every palette but the ramps, where the first pixel shows red.
    EXPECT_EQ(dib.Entry(dib.Pixel8(0, 0)), c.method == RM::ReducePrimaryRamps ? Rgb(252, 0, 0) : Rgb(255, 255, 255));
    EXPECT_EQ(dib.bytes[1079] | dib.bytes[1080] | dib.bytes[1081], 0) << "row padding";
  }
}

TEST(BitmapToDIBStream, RowsStayBottomRowFirst) {
  // Grey levels of a 5 x 3 image, bottom-left pixel first.
  auto bitmap = MakeBitmap(5, 3, 32, Stripes);
  auto stream = BitmapToDIBStream(*bitmap, tk::pf8bit, RM::ReduceGray);
  Dib dib(*stream);
  EXPECT_EQ(dib.bytes.size(), 1078u + 8 * 3);
  for (int row = 0; row < 3; ++row)
    for (int x = 0; x < 5; ++x) {
      COLORREF c = Stripes(x, 2 - row);
      int grey = (77 * (c & 0xFF) + 150 * (c >> 8 & 0xFF) + 29 * (c >> 16)) / 256;
      EXPECT_EQ(dib.Pixel8(x, row), grey) << x << "," << row;
    }
}

TEST(BitmapToDIBStream, SameFormatSavesItselfUnlessGrey) {
  std::vector<tk::RGBQUAD> table(256);
  for (int i = 0; i < 256; ++i) table[i] = {std::uint8_t(i), 0, std::uint8_t(255 - i), 0};
  auto indexed = MakeBitmap(6, 2, 8, [](int x, int y) { return Rgb(255 - 40 * x - y, 0, 40 * x + y); }, table);
  tk::TMemoryStream saved;
  indexed->SaveStream(saved);

  auto same = BitmapToDIBStream(*indexed, tk::pf8bit, RM::ReduceHistogram);
  EXPECT_EQ(Dib(*same).bytes, std::vector<std::uint8_t>(saved.Bytes().begin(), saved.Bytes().end()));

  auto grey = BitmapToDIBStream(*indexed, tk::pf8bit, RM::ReduceGray);
  Dib g(*grey);
  EXPECT_EQ(g.Entry(200), Rgb(200, 200, 200));
  EXPECT_EQ(g.Pixel8(1, 1), (77 * 215 + 29 * 40) / 256);

  auto full = MakeBitmap(3, 2, 24, Stripes);
  tk::TMemoryStream saved24;
  full->SaveStream(saved24);
  auto same24 = BitmapToDIBStream(*full, tk::pf24bit, RM::ReduceFixed666);
  EXPECT_EQ(Dib(*same24).bytes, std::vector<std::uint8_t>(saved24.Bytes().begin(), saved24.Bytes().end()));
  // Grey asked at 24 bits: the platform's 24-bit read-out, not grey.
  auto read24 = BitmapToDIBStream(*full, tk::pf24bit, RM::ReduceGray);
  Dib r(*read24);
  EXPECT_EQ(r.Bits(), 24);
  EXPECT_EQ(r.FileSize(), r.bytes.size());
  EXPECT_EQ(r.PixelOffset(), 54u);
  const std::uint8_t* bottomLeft = &r.bytes[54];
  EXPECT_EQ(Rgb(bottomLeft[2], bottomLeft[1], bottomLeft[0]), Stripes(0, 1));
}

TEST(BitmapToDIBStream, DeviceAnd32BitBitmapsAreReduced) {
  for (int bits : {0, 32, 16}) {
    auto bitmap = MakeBitmap(4, 4, bits, Stripes);
    auto stream = BitmapToDIBStream(*bitmap, tk::pf8bit, RM::ReduceFixed666);
    Dib dib(*stream);
    EXPECT_EQ(dib.FileSize(), dib.bytes.size());
    EXPECT_EQ(dib.ColorsImportant(), 216u);
    EXPECT_EQ(dib.Pixel8(0, 3), 215) << bits;  // top-left is white
    EXPECT_EQ(dib.Pixel8(1, 3), 1 * 36 + 0 * 6 + 2) << bits;
  }
}

TEST(BitmapToDIBStream, ReadOutsOfOneFourAndTwentyFourBits) {
  auto bitmap = MakeBitmap(3, 2, 32, [](int x, int) { return x == 1 ? Rgb(255, 255, 255) : Rgb(0, 0, 0); });
  struct {
    tk::TPixelFormat format;
    std::size_t length;
    int bits;
  } cases[] = {{tk::pf1bit, 14 + 48 + 8, 1}, {tk::pf4bit, 14 + 104 + 8, 4}, {tk::pf24bit, 14 + 40 + 24, 24}};
  for (auto c : cases) {
    auto stream = BitmapToDIBStream(*bitmap, c.format, RM::ReduceHistogram);
    Dib dib(*stream);
    EXPECT_EQ(dib.bytes.size(), c.length);
    EXPECT_EQ(dib.FileSize(), c.length);
    EXPECT_EQ(dib.PixelOffset(), c.length - 8 * (c.bits == 24 ? 3 : 1));
    EXPECT_EQ(dib.Bits(), c.bits);
    EXPECT_EQ(dib.ColorsImportant(), 0u);
  }
  Dib mono(*BitmapToDIBStream(*bitmap, tk::pf1bit, RM::ReduceHistogram));
  EXPECT_EQ(mono.Entry(0), Rgb(0, 0, 0));
  EXPECT_EQ(mono.Entry(1), Rgb(255, 255, 255));
  EXPECT_EQ(mono.bytes[mono.PixelOffset()], 0x40);  // the middle pixel of the bottom row
}

TEST(BitmapToDIBStream, UnsupportedFormatsShowABoxAndAbort) {
  auto bitmap = MakeBitmap(2, 2, 24, Stripes);
  for (tk::TPixelFormat format : {tk::pfDevice, tk::pf15bit, tk::pf16bit, tk::pf32bit, tk::pfCustom}) {
    MessageBoxes boxes;
    tk::Screen().SetCursor(-11);
    EXPECT_THROW(BitmapToDIBStream(*bitmap, format, RM::ReduceHistogram), tk::EAbort);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Function not yet implemented");
    EXPECT_EQ(boxes.shown[0].caption, "Information");
    EXPECT_EQ(boxes.shown[0].flags, tk::MB_OK | tk::MB_ICONINFORMATION);
    EXPECT_EQ(tk::Screen().Cursor(), tk::crDefault);
  }
}

TEST(BitmapToDIBStream, BitmapWithoutHandleIsNotValid) {
  tk::TBitmap empty;
  try {
    BitmapToDIBStream(empty, tk::pf8bit, RM::ReduceHistogram);
    FAIL() << "no failure";
  } catch (const tk::EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Bitmap image is not valid");
  }
  EXPECT_THROW(GrabDIB(nullptr, nullptr, tk::pf24bit), tk::EInvalidGraphic);
  EXPECT_THROW(BuildInfoHeader(nullptr, tk::pf24bit), tk::EInvalidGraphic);

  // A bitmap handle without pixels gives a file of headers alone.
  tk::BITMAPINFOHEADER header;
  header.biWidth = 0;
  header.biHeight = 5;
  header.biBitCount = 24;
  tk::UniqueBitmap none(tk::CreateDIBSection(header));
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(GrabDIB(none.get(), nullptr, tk::pf8bit).size(), 14u + 1064);
  EXPECT_EQ(GrabDIB(none.get(), nullptr, tk::pf24bit).size(), 14u + 40);
}

TEST(BitmapToColors, CountChoosesTheDepth) {
  auto bitmap = MakeBitmap(3, 3, 32, Stripes);
  std::pair<int, int> cases[] = {{-4, 1}, {0, 1}, {2, 1}, {3, 4}, {16, 4}, {17, 8}, {256, 8}, {257, 24}};
  for (auto [count, bits] : cases) {
    Dib dib(*BitmapToColors(*bitmap, count));
    EXPECT_EQ(dib.Bits(), bits) << count;
    EXPECT_EQ(dib.FileSize(), dib.bytes.size());
  }
  EXPECT_EQ(ColorsOfFormat(tk::pf1bit), 2);
  EXPECT_EQ(ColorsOfFormat(tk::pf4bit), 16);
  EXPECT_EQ(ColorsOfFormat(tk::pf8bit), 256);
  EXPECT_EQ(ColorsOfFormat(tk::pf24bit), 0);
  EXPECT_EQ(ColorsOfFormat(tk::pfDevice), 0);
}

TEST(BitmapToColors, UsesTheDefaultReduction) {
  auto bitmap = MakeBitmap(3, 3, 24, Stripes);
  const ReductionMethod saved = DefaultReduction;
  DefaultReduction = RM::ReduceFixed784;
  Dib dib(*BitmapToColors(*bitmap, 256));
  DefaultReduction = saved;
  EXPECT_EQ(dib.ColorsImportant(), 224u);
}

TEST(DibImageSize, RefusesFilesBeyond32BitSizes) {
  EXPECT_EQ(DibImageSize(5, 3, 8), 24u);
  EXPECT_EQ(DibImageSize(0, 100, 24), 0u);
  // The largest 8-bit image whose file still fits, and one row more.
  const std::int32_t rows = (0xFFFFFFFFu - 1078) / 65536;
  EXPECT_EQ(DibImageSize(65536, rows, 8), 65536u * rows);
  try {
    DibImageSize(65536, rows + 1, 8);
    FAIL() << "no failure";
  } catch (const tk::EInvalidGraphic& e) {
    EXPECT_EQ(std::string(e.what()), "Bitmap of 65536 x " + std::to_string(rows + 1) + " pixels is too large to convert");
  }
  EXPECT_THROW(DibImageSize(40000, 40000, 24), tk::EInvalidGraphic);
  EXPECT_THROW(DibImageSize(0x7FFFFFFF, 0x7FFFFFFF, 32), tk::EInvalidGraphic);
}

TEST(BitmapToDIBStream, EightBitFileLoadsBack) {
  auto bitmap = MakeBitmap(7, 5, 24, Stripes);
  auto stream = BitmapToDIBStream(*bitmap, tk::pf8bit, RM::ReduceHistogram);
  tk::TBitmap loaded;
  loaded.LoadStream(*stream);
  EXPECT_EQ(loaded.PixelFormat(), tk::pf8bit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(loaded.Canvas().Pixels(x, y), Stripes(x, y)) << x << "," << y;
}

// ---- gifkit reduce -----------------------------------------------------------------------------

int Gifkit(const std::string& args) {
  return testpaths::RunCommand(testpaths::Program("gifkit") + " reduce " + args).status;
}

TEST(GifkitReduce, WritesTheConvertedFile) {
  const auto dir = testpaths::ScratchDir("gifkit_reduce");
  auto bitmap = MakeBitmap(9, 4, 24, Stripes);
  const std::string in = (dir / "in.bmp").string(), out = (dir / "out.bmp").string();
  bitmap->SaveToFile(in);

  ASSERT_EQ(Gifkit(in + " " + out + " --bits 8 --method fixed666"), 0);
  auto expected = BitmapToDIBStream(*bitmap, tk::pf8bit, RM::ReduceFixed666);
  EXPECT_EQ(tk::ReadWholeFile(out), std::vector<std::uint8_t>(expected->Bytes().begin(), expected->Bytes().end()));

  ASSERT_EQ(Gifkit(in + " " + out + " --bits 4"), 0);
  EXPECT_EQ(Dib(*std::make_unique<tk::TMemoryStream>(tk::ReadWholeFile(out))).Bits(), 4);

  EXPECT_EQ(Gifkit(in + " " + out + " --bits 8 --method octree"), 2);
  EXPECT_EQ(Gifkit(in + " " + out + " --bits 16"), 2);
  EXPECT_EQ(Gifkit(in + " " + out), 2);
  EXPECT_EQ(Gifkit((dir / "missing.bmp").string() + " " + out + " --bits 8"), 1);
}

}  // namespace
}  // namespace colour
