// The LZW encoder: the code stream against a plain model of the algorithm, the code sizes, the
// table that starts afresh after code 4094, the sub-block lengths, round trips through the
// decoder, interlacing, progress and bad input. The model is lzw_model.h, which the differential
// fuzzer (fuzz/gif/encode_diff_fuzzer.cpp) uses too.
#include <gtest/gtest.h>


#include "bitmap_builder.h"
#include "gif/decoder.h"
#include "gif/gif.h"
#include "gif_builder.h"
#include "lzw_model.h"

using namespace giftest;

namespace {

tk::BITMAPINFOHEADER Header(int width, int height, int bits) {
  tk::BITMAPINFOHEADER h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  return h;
}

// The rows of a bitmap of the values (top row first), bottom row first as the encoder takes them.
Bytes Rows(int width, int height, int bits, const std::vector<std::uint32_t>& values) {
  Bytes file = DibFile(width, height, bits, values);
  return Bytes(file.begin() + 54 + (4 << bits), file.end());
}

Bytes Encode(int width, int height, int bits, const Bytes& rows, bool interlaced = false,
             tk::TGraphic* progress = nullptr) {
  tk::TMemoryStream out;
  gif::EncodePixels(out, Header(width, height, bits), interlaced, progress, rows);
  return Bytes(out.Bytes().begin(), out.Bytes().end());
}

// The codes of a chain, read at the widths a decoder uses.
std::vector<unsigned> Codes(const Bytes& data) {
  const int codeSize = data[0];
  Bytes packed;
  for (std::size_t at = 1; at < data.size() && data[at] != 0; at += data[at] + 1u)
    packed.insert(packed.end(), data.begin() + static_cast<std::ptrdiff_t>(at + 1),
                  data.begin() + static_cast<std::ptrdiff_t>(at + 1 + data[at]));
  const unsigned clear = 1u << codeSize;
  std::vector<unsigned> codes;
  int width = codeSize + 1;
  unsigned next = clear + 2;
  bool fresh = true;
  for (std::size_t bit = 0; bit + static_cast<std::size_t>(width) <= packed.size() * 8;) {
    unsigned code = 0;
    for (int k = 0; k < width; ++k, ++bit) code |= ((packed[bit / 8] >> (bit % 8)) & 1u) << k;
    codes.push_back(code);
    if (code == clear + 1) break;
    if (code == clear) {
      width = codeSize + 1;
      next = clear + 2;
      fresh = true;
    } else if (fresh) {
      fresh = false;
    } else if (next < 4096 && ++next == (1u << width) && width < 12) {
      ++width;
    }
  }
  return codes;
}

std::vector<std::uint8_t> Bytes8(const std::vector<std::uint32_t>& values) {
  return {values.begin(), values.end()};
}

TEST(Encode, CodeStreamIsTheAlgorithmsForEveryDepth) {
  for (int bits : {1, 4, 8}) {
    for (auto [width, height] : {std::pair{1, 1}, {3, 5}, {17, 9}, {300, 200}}) {
      SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(width) + " x " +
                   std::to_string(height));
      const auto values = Pattern(width, height, 1u << bits, static_cast<std::uint32_t>(width));
      EXPECT_EQ(Encode(width, height, bits, Rows(width, height, bits, values)),
                ModelEncode(bits == 1 ? 2 : bits, Bytes8(values)));
    }
  }
}

TEST(Encode, CodeSizeAndFirstCode) {
  // 8 bits: size 8, ClearCode 256 at 9 bits; 4 bits: 4, 16 at 5 bits; 1 bit: 2, 4 at 3 bits.
  const Bytes eight = Encode(1, 1, 8, Rows(1, 1, 8, {7}));
  EXPECT_EQ(eight[0], 8);
  EXPECT_EQ(Codes(eight), (std::vector<unsigned>{256, 7, 257}));
  EXPECT_EQ(Codes(Encode(2, 1, 4, Rows(2, 1, 4, {9, 9}))), (std::vector<unsigned>{16, 9, 9, 17}));
  EXPECT_EQ(Encode(1, 1, 1, Rows(1, 1, 1, {0})), (Bytes{2, 2, 0x44, 0x01, 0}));
  EXPECT_EQ(Encode(1, 1, 1, Rows(1, 1, 1, {1})), (Bytes{2, 2, 0x4C, 0x01, 0}));
  // No pixels at all: ClearCode and EndCode.
  EXPECT_EQ(Codes(Encode(0, 0, 8, {})), (std::vector<unsigned>{256, 257}));
  EXPECT_EQ(Codes(Encode(5, 0, 4, {})), (std::vector<unsigned>{16, 17}));
}

TEST(Encode, OneColourFillsTheTableAndStartsAfresh) {
  // 1 bit, one colour: the strings grow by one pixel each, codes 6..4094 are assigned over
  // 1 + 2 + ... + 4089 pixels; then the pixel that ended the string goes out alone, and ClearCode.
  const int width = 4096, height = 2050;
  const Bytes rows(static_cast<std::size_t>(tk::DibRowBytes(width, 1)) * height, 0);
  const Bytes data = Encode(width, height, 1, rows);
  const std::vector<unsigned> codes = Codes(data);
  ASSERT_GT(codes.size(), 4092u);
  EXPECT_EQ(codes[0], 4u);
  EXPECT_EQ(codes[1], 0u);
  for (unsigned i = 2; i < 4090; ++i) ASSERT_EQ(codes[i], i + 4) << i;  // 6 .. 4093
  EXPECT_EQ(codes[4090], 0u);                                           // the pixel alone
  EXPECT_EQ(codes[4091], 4u);  // ClearCode, read at 12 bits
  EXPECT_EQ(codes[4092], 0u);  // a fresh table at 3 bits
  EXPECT_EQ(codes[4093], 6u);
  EXPECT_EQ(codes.back(), 5u);
  // Every sub-block but the last holds 255 bytes.
  std::size_t at = 1, blocks = 0;
  while (data[at] != 0) {
    const std::size_t length = data[at];
    at += length + 1;
    ++blocks;
    if (data[at] != 0) {
      ASSERT_EQ(length, 255u);
    }
  }
  EXPECT_GT(blocks, 10u);
  EXPECT_EQ(at, data.size() - 1);
  // And the decoder gets the colour back everywhere.
  std::vector<std::uint8_t> pixels(rows.size(), 0xFF);
  tk::TMemoryStream stream(data);
  EXPECT_FALSE(
      gif::DecodePixels(stream, width, height, 1, false, 1, false, pixels.data(), nullptr));
  EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0),
            static_cast<std::ptrdiff_t>(pixels.size()));
}

TEST(Encode, RoundTripsThroughTheDecoder) {
  for (int bits : {1, 4, 8}) {
    for (bool interlaced : {false, true}) {
      for (auto [width, height] : {std::pair{1, 1}, {7, 3}, {33, 10}, {640, 97}}) {
        SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(width) + " x " +
                     std::to_string(height) + (interlaced ? " interlaced" : ""));
        const auto values = Pattern(width, height, 1u << bits, 7);
        const Bytes rows = Rows(width, height, bits, values);
        tk::TMemoryStream data(Encode(width, height, bits, rows, interlaced));
        Bytes decoded(rows.size(), 0);
        EXPECT_FALSE(gif::DecodePixels(data, width, height, bits, interlaced, bits, false,
                                       decoded.data(), nullptr));
        EXPECT_EQ(decoded, rows);
      }
    }
  }
}

TEST(Encode, InterlacedRowsAreCodedInPassOrder) {
  // Ten rows, each of its own colour: the codes come in the row order 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
  std::vector<std::uint32_t> values(10);
  for (int y = 0; y < 10; ++y)
    values[static_cast<std::size_t>(y)] = static_cast<std::uint32_t>(y + 1);
  const auto codes = Codes(Encode(1, 10, 8, Rows(1, 10, 8, values), true));
  EXPECT_EQ(codes, (std::vector<unsigned>{256, 1, 9, 5, 3, 7, 2, 4, 6, 8, 10, 257}));
}

TEST(Encode, BadInputFails) {
  const Bytes rows(64, 0);
  tk::TMemoryStream out;
  EXPECT_FAILS_WITH(gif::EncodePixels(out, Header(4, 4, 24), false, nullptr, rows),
                    tk::EInvalidGraphicOperation, "GIF image encoding error");
  EXPECT_FAILS_WITH(gif::EncodePixels(out, Header(4, 4, 2), false, nullptr, rows),
                    tk::EInvalidGraphicOperation, "GIF image encoding error");
  EXPECT_FAILS_WITH(gif::EncodePixels(out, Header(-1, 4, 8), false, nullptr, rows),
                    tk::EInvalidGraphicOperation, "GIF image encoding error");
  // Rows shorter than the header says: 17 rows of 4 bytes are 68 bytes.
  EXPECT_FAILS_WITH(gif::EncodePixels(out, Header(4, 17, 8), false, nullptr, rows),
                    tk::EInvalidGraphicOperation, "GIF image encoding error");
  EXPECT_EQ(out.Size(), 0);
}

struct Report {
  tk::TProgressStage stage;
  int percent;
  std::string msg;
  bool operator==(const Report&) const = default;
};

TEST(Encode, Progress) {
  gif::TGIFImage picture;
  std::vector<Report> reports;
  picture.OnProgress = [&](tk::TPersistent* sender, tk::TProgressStage stage, int percent,
                           bool redraw, const tk::TRect& r, const std::string& msg) {
    EXPECT_EQ(sender, &picture);
    EXPECT_FALSE(redraw);
    EXPECT_EQ(r, tk::TRect{});
    reports.push_back({stage, percent, msg});
  };
  using S = tk::TProgressStage;
  Encode(3, 3, 8, Rows(3, 3, 8, Pattern(3, 3, 256)), false, &picture);
  EXPECT_EQ(reports, (std::vector<Report>{{S::Starting, 0, ""},
                                          {S::Running, 33, ""},
                                          {S::Running, 66, ""},
                                          {S::Running, 100, ""},
                                          {S::Ending, 100, ""}}));
  // Interlaced, the percentage follows the next row number: 2 rows give 50 and 150.
  reports.clear();
  Encode(3, 2, 8, Rows(3, 2, 8, Pattern(3, 2, 256)), true, &picture);
  EXPECT_EQ(reports, (std::vector<Report>{{S::Starting, 0, ""},
                                          {S::Running, 50, ""},
                                          {S::Running, 150, ""},
                                          {S::Ending, 100, ""}}));
  // A failure ends with 0 % and its message before it goes on.
  reports.clear();
  picture.OnProgress = [&](tk::TPersistent*, tk::TProgressStage stage, int percent, bool,
                           const tk::TRect&, const std::string& msg) {
    reports.push_back({stage, percent, msg});
    if (stage == S::Running) throw tk::EAbort();
  };
  tk::TMemoryStream out;
  EXPECT_THROW(
      gif::EncodePixels(out, Header(3, 3, 8), false, &picture, Rows(3, 3, 8, Pattern(3, 3, 256))),
      tk::EAbort);
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports.back().stage, S::Ending);
  EXPECT_EQ(reports.back().percent, 0);
  EXPECT_EQ(reports.back().msg, tk::EAbort().Message());
}

}  // namespace
