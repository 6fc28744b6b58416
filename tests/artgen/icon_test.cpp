// The desktop icon and the PNG files it is written in. ImageMagick, an independent PNG reader,
// reads the files back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/run_program.h"
#include "common/test_paths.h"
#include "toolkit/core/streams.h"
#include "tools/artgen/art.h"
#include "tools/artgen/files.h"

namespace {

bool HaveImageMagick() {
  return testpaths::RunCommand("convert -version").output.find("ImageMagick") != std::string::npos;
}

// The pixels of a PNG file as ImageMagick reads them: 8-bit red, green, blue, alpha.
std::vector<std::uint8_t> ReadBack(const std::vector<std::uint8_t>& png, const std::string& name) {
  const auto dir = testpaths::ScratchDir(name);
  const std::string file = (dir / "picture.png").string(), raw = (dir / "picture.rgba").string();
  tk::WriteWholeFile(file, png);
  const auto result = testpaths::RunCommand("convert '" + file + "' -depth 8 'rgba:" + raw + "'");
  EXPECT_EQ(result.status, 0) << result.output;
  return result.status == 0 ? tk::ReadWholeFile(raw) : std::vector<std::uint8_t>{};
}

std::uint8_t At(const std::vector<std::uint8_t>& rgba, int size, int x, int y, int channel) {
  return rgba[(std::size_t(y) * size + x) * 4 + channel];
}

TEST(PngFile, ReadBackPixelExact) {
  if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  // 150 x 120 pixels: 72 KB of rows, more than one stored deflate block holds; every alpha level.
  const int width = 150, height = 120;
  std::vector<std::uint8_t> rgba;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      rgba.insert(rgba.end(), {std::uint8_t(x), std::uint8_t(y * 2), std::uint8_t(x ^ y),
                               std::uint8_t(x + y * width)});
  EXPECT_EQ(ReadBack(artgen::PngFile(width, height, rgba), "png_exact"), rgba);
}

TEST(PngFile, OnePixel) {
  if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  const std::vector<std::uint8_t> rgba = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(ReadBack(artgen::PngFile(1, 1, rgba), "png_one"), rgba);
}

TEST(PngFile, PixelsMustMatchTheSize) {
  const std::vector<std::uint8_t> rgba(4 * 4 * 4);
  EXPECT_THROW(artgen::PngFile(4, 3, rgba), std::invalid_argument);
  EXPECT_THROW(artgen::PngFile(0, 0, {}), std::invalid_argument);
}

TEST(Icon, TransparentOutsideTheOutlineOpaqueInside) {
  for (int size : artgen::IconSizes) {
    SCOPED_TRACE(size);
    const std::vector<std::uint8_t> icon = artgen::Icon(size);
    ASSERT_EQ(icon.size(), std::size_t(size) * size * 4);
    for (int corner : {0, size - 1}) {
      EXPECT_EQ(At(icon, size, corner, 0, 3), 0);
      EXPECT_EQ(At(icon, size, 0, corner, 3), 0);
    }
    // The ring, between the labels and the ticks, is yellow and opaque on average.
    std::uint32_t sum[4] = {0, 0, 0, 0}, count = 0;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const double r = std::hypot(x + 0.5 - size / 2.0, y + 0.5 - size / 2.0) / (size / 2.0);
        if (r < 0.80 || r > 0.90) continue;
        for (int c = 0; c < 4; ++c) sum[c] += At(icon, size, x, y, c);
        ++count;
      }
    ASSERT_GT(count, 0u);
    EXPECT_GT(sum[0] / count, 150u);
    EXPECT_GT(sum[1] / count, 150u);
    EXPECT_LT(sum[2] / count, 100u);
    EXPECT_EQ(sum[3] / count, 255u);
    EXPECT_EQ(At(icon, size, size / 2, size / 2, 3), 255);
  }
}

TEST(Icon, FilesReadBackAsDrawn) {
  if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  const std::vector<std::uint8_t> icon = artgen::Icon(48);
  EXPECT_EQ(ReadBack(artgen::PngFile(48, 48, icon), "icon_48"), icon);
}

}  // namespace
