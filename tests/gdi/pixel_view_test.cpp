// Pixel views: the one packing of 1-, 4- and 8-bit rows, and BMP files laid out around a view.
#include <gtest/gtest.h>

#include <vector>

#include "toolkit/device/bmpfile.h"
#include "toolkit/device/pixel_view.h"

using namespace tk;

namespace {

// Pixel x of a packed row, the plain way: leftmost pixel in the highest bits.
unsigned PixelAt(const std::vector<std::uint8_t>& row, int bits, int x) {
  const int perByte = 8 / bits;
  return row[static_cast<std::size_t>(x / perByte)] >> (8 - bits - (x % perByte) * bits) & ((1u << bits) - 1);
}

TEST(PixelView, PackingWritesOnlyItsPixelsAndUnpackingReadsThemBack) {
  for (int bits : {1, 4, 8}) {
    for (int x0 = 0; x0 < 10; ++x0) {
      for (int n = 0; n < 21; ++n) {
        std::vector<std::uint8_t> row(40, 0xA5);
        const std::vector<std::uint8_t> before = row;
        std::vector<std::uint32_t> values(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) values[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(i * 7 + 3);
        PackIndices(row.data(), bits, x0, n, values.data());
        const unsigned mask = (1u << bits) - 1;
        for (int x = 0; x < 320 / bits; ++x) {
          const bool written = x >= x0 && x < x0 + n;
          const unsigned expected = written ? values[static_cast<std::size_t>(x - x0)] & mask : PixelAt(before, bits, x);
          ASSERT_EQ(PixelAt(row, bits, x), expected) << bits << " bits, x0 " << x0 << ", n " << n << ", x " << x;
        }
        std::vector<std::uint8_t> back(static_cast<std::size_t>(n) + 1, 0xEE);
        UnpackIndices(row.data(), bits, x0, n, back.data());
        for (int i = 0; i < n; ++i) ASSERT_EQ(back[static_cast<std::size_t>(i)], values[static_cast<std::size_t>(i)] & mask);
        EXPECT_EQ(back[static_cast<std::size_t>(n)], 0xEE);
      }
    }
  }
}

TEST(PixelView, BitmapFileLaysOutHeadersTableAndBottomUpRows) {
  BITMAPINFOHEADER h;
  h.biWidth = 3;
  h.biHeight = 2;
  h.biBitCount = 4;
  h.biSizeImage = 8;
  h.biClrImportant = 2;
  const std::vector<RGBQUAD> colors = {{1, 2, 3, 0}, {4, 5, 6, 0}};
  ASSERT_EQ(BitmapFileSize(h), 14u + 40 + 64 + 8);
  std::vector<std::uint8_t> file(BitmapFileSize(h), 0xCC);
  const PixelView rows = LayOutBitmapFile(file, h, colors);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[2], 126);  // file size
  EXPECT_EQ(file[10], 118);  // pixel offset
  EXPECT_EQ(file[14], 40);
  EXPECT_EQ(file[14 + 36], 2);  // colours important, as given
  EXPECT_EQ(file[54 + 4], 4);  // entry 1
  EXPECT_EQ(file[54 + 8], 0);  // entries beyond the colours given are zero
  ASSERT_EQ(rows.palette.size(), 16u);
  EXPECT_EQ(rows.Row(1), file.data() + 118);  // the bottom row comes first
  EXPECT_EQ(rows.Row(0), file.data() + 122);
  EXPECT_EQ(rows.Memory().data(), file.data() + 118);

  // A file of a view's rows reads back as the same pixels.
  std::vector<std::uint8_t> pixels = {0x12, 0x30, 0, 0, 0x45, 0x60, 0, 0};  // top row first
  const ConstPixelView source{3, 2, 4, 4, pixels.data(), colors};
  const std::vector<std::uint8_t> copy = BitmapFileBytes(h, source);
  BitmapFileResult read = ReadBitmapFile(copy);
  ASSERT_TRUE(read.bitmap);
  EXPECT_EQ(read.bitmap->Row(0)[0], 0x12);
  EXPECT_EQ(read.bitmap->Row(1)[1], 0x60);
  EXPECT_EQ(read.bitmap->colors[1], colors[1]);

  // A negative height keeps the rows top row first.
  h.biHeight = -2;
  const PixelView topDown = LayOutBitmapFile(file, h, colors);
  EXPECT_EQ(topDown.height, 2);
  EXPECT_EQ(topDown.Row(0), file.data() + 118);
}

}  // namespace
