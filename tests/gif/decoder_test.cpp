// The LZW decoder: the bitmap file image, row formats, interlacing, the code stream's corner
// cases, damage with and without TolerateDamage, progress, and bounds on hostile sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "gif/decoder.h"
#include "gif/gif.h"
#include "gif_builder.h"

using namespace giftest;
using gif::TGIFImage;

namespace {

using Codes = std::vector<std::pair<unsigned, int>>;

// A picture of one frame of the given size and table depth whose encoded data is replaced.
struct Frame {
  Frame(int width, int height, int depth, const Bytes& data, std::uint8_t flags = 0) {
    Bytes bytes = Screen(static_cast<unsigned>(width), static_cast<unsigned>(height),
                         static_cast<std::uint8_t>(0x80 | (depth - 1)));
    bytes << Table(1 << depth) << Descriptor(0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), flags)
          << LiteralData(2, {0}) << Bytes{0x3B};
    Read(picture, bytes);
    frame().Encoded->PixelData = std::make_unique<tk::TMemoryStream>(data);
  }
  gif::TGIFFrame& frame() { return picture.FrameAt(0); }
  std::vector<unsigned> Decode() {
    dib.Clear();
    frame().DecodeToDIB(dib);
    return DibIndices(dib.Bytes());
  }
  TGIFImage picture;
  tk::TMemoryStream dib;
};

std::vector<unsigned> Repeat(unsigned value, std::size_t n) { return std::vector<unsigned>(n, value); }

std::uint32_t U32At(const tk::TMemoryStream& s, int at) {
  auto b = s.Bytes();
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

TEST(BitmapImage, HeaderFieldsAndPalettePadding) {
  // 3 x 2 pixels with a 4-entry table (BitDepth 2): 4 bits per pixel, 16 palette entries.
  Frame f(3, 2, 2, LiteralData(2, {0, 1, 2, 3, 2, 1}));
  EXPECT_EQ(f.Decode(), (std::vector<unsigned>{0, 1, 2, 3, 2, 1}));
  const Bytes expected = {
      'B', 'M', 126, 0, 0, 0,  // file size: 54 + 64 + 8
      0, 0, 0, 0,              // reserved
      118, 0, 0, 0,            // pixel offset
      40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0,  // header size, width, height
      1, 0, 4, 0,                           // planes, bits per pixel
      0, 0, 0, 0, 8, 0, 0, 0,               // compression, image size
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      // palette: blue, green, red, 0 for the 4 table entries, then 0x80 fill
      0, 0, 0, 0, 3, 2, 1, 0, 6, 4, 2, 0, 9, 6, 3, 0};
  auto bytes = f.dib.Bytes();
  ASSERT_EQ(bytes.size(), 126u);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 70), expected);
  EXPECT_TRUE(std::all_of(bytes.begin() + 70, bytes.begin() + 118, [](auto b) { return b == 0x80; }));
  // Rows bottom-up, two pixels per byte, left pixel high: image row 1 first.
  EXPECT_EQ(Bytes(bytes.begin() + 118, bytes.end()), (Bytes{0x32, 0x10, 0, 0, 0x01, 0x20, 0, 0}));
  EXPECT_EQ(f.dib.Position(), 0);
}

TEST(BitmapImage, RowDepthFromBitDepth) {
  struct Case {
    int depth, rowDepth;
  } cases[] = {{1, 1}, {2, 4}, {3, 4}, {4, 4}, {5, 8}, {8, 8}};
  for (const Case& c : cases) {
    Frame f(5, 1, c.depth, LiteralData(std::max(c.depth, 2), {1, 0, 1, 1, 0}));
    f.Decode();
    EXPECT_EQ(f.dib.Bytes()[28], c.rowDepth);
    EXPECT_EQ(U32At(f.dib, 10), 54u + (4u << c.rowDepth));
    // The entries beyond the table's count are 0x80 all through.
    for (int i = 1 << c.depth; i < 1 << c.rowDepth; ++i)
      EXPECT_EQ(U32At(f.dib, 54 + 4 * i), 0x80808080u) << "entry " << i;
  }
}

TEST(BitmapImage, OneBitRows) {
  // 3 pixels wide: RowBytes 4, pixels in bits 7, 6, 5; codes 2 and 3 are literals masked to 0, 1.
  Frame f(3, 2, 1, LiteralData(2, {3, 2, 1, 0, 1, 3}));
  EXPECT_EQ(f.Decode(), (std::vector<unsigned>{1, 0, 1, 0, 1, 1}));
  auto bytes = f.dib.Bytes();
  EXPECT_EQ(U32At(f.dib, 34), 8u);
  EXPECT_EQ(Bytes(bytes.end() - 8, bytes.end()), (Bytes{0x60, 0, 0, 0, 0xA0, 0, 0, 0}));
}

TEST(BitmapImage, UnsupportedDepthFailsBeforeWriting) {
  Frame f(2, 2, 2, LiteralData(2, {0, 1, 2, 3}));
  for (int depth : {0, 9}) {
    f.frame().Encoded->BitDepth = static_cast<std::uint8_t>(depth);
    tk::TMemoryStream target(Bytes{1, 2, 3});
    EXPECT_FAILS_WITH(f.frame().DecodeToDIB(target), tk::EInvalidGraphicOperation,
                      "Wrong number of colors; must be a power of 2");
    EXPECT_EQ(target.Size(), 3);
  }
}

TEST(Interlace, RowOrders) {
  auto order = [](int h) {
    std::vector<int> rows{0};
    int pass = 0;
    for (int y = 0;;) {
      y = gif::NextInterlacedRow(y, h, pass);
      if (y >= h) return rows;
      rows.push_back(y);
    }
  };
  EXPECT_EQ(order(10), (std::vector<int>{0, 8, 4, 2, 6, 1, 3, 5, 7, 9}));
  EXPECT_EQ(order(3), (std::vector<int>{0, 2, 1}));
  EXPECT_EQ(order(1), (std::vector<int>{0}));
  EXPECT_EQ(order(5), (std::vector<int>{0, 4, 2, 1, 3}));
  for (int h = 1; h < 40; ++h) {  // every row exactly once
    std::vector<int> rows = order(h);
    std::sort(rows.begin(), rows.end());
    std::vector<int> all(static_cast<std::size_t>(h));
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(rows, all) << "height " << h;
  }
}

TEST(Interlace, DecodedRowsLandInPassOrder) {
  // Ten rows of two pixels; the n-th row in the stream holds the value n.
  std::vector<std::uint8_t> stream;
  for (int n = 0; n < 10; ++n) stream.insert(stream.end(), {std::uint8_t(n), std::uint8_t(n)});
  Frame f(2, 10, 4, LiteralData(4, stream), 0x40);
  f.frame().IsInterlaced = true;
  std::vector<unsigned> pixels = f.Decode();
  const int rowOfStreamRow[10] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
  for (int n = 0; n < 10; ++n) EXPECT_EQ(pixels[std::size_t(2 * rowOfStreamRow[n])], unsigned(n));
}

TEST(Lzw, TableCodesOfAWideTableWithSmallCodeSize) {
  // 256 colours, code size 4: codes 18 and up come from the table; code 20 is the next free
  // code when it is read (the previous string and its own first pixel).
  Frame f(7, 1, 8, CodeData(4, {{16, 5}, {1, 5}, {2, 5}, {18, 5}, {20, 5}, {17, 5}}));
  EXPECT_EQ(f.Decode(), (std::vector<unsigned>{1, 2, 1, 2, 1, 2, 1}));
  EXPECT_FALSE(f.frame().DataDamaged);
}

TEST(Lzw, StreamWithoutLeadingClearCode) {
  std::vector<std::uint8_t> pixels{3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8};
  Frame with(4, 3, 4, LiteralData(4, pixels, true));
  Frame without(4, 3, 4, LiteralData(4, pixels, false));
  EXPECT_EQ(with.Decode(), without.Decode());
  EXPECT_EQ(with.Decode(), std::vector<unsigned>(pixels.begin(), pixels.end()));
}

TEST(Lzw, EndCodeEarlyLeavesZerosAndMissingEndCodeIsFine) {
  Frame early(3, 2, 2, CodeData(2, {{4, 3}, {3, 3}, {2, 3}, {5, 3}}));
  EXPECT_EQ(early.Decode(), (std::vector<unsigned>{3, 2, 0, 0, 0, 0}));
  EXPECT_FALSE(early.frame().DataDamaged);
  Frame noEnd(2, 1, 2, CodeData(2, {{4, 3}, {3, 3}, {2, 3}}));
  EXPECT_EQ(noEnd.Decode(), (std::vector<unsigned>{3, 2}));
  EXPECT_FALSE(noEnd.frame().DataDamaged);
}

TEST(Lzw, NoCodeIsReadBeyondTheOneAfterTheLastPixel) {
  // The first sub-block holds the codes of both pixels and one code more; the sub-block after
  // it announces more bytes than there are and would fail if it were taken in.
  Bytes data{2};
  Bytes codes = PackCodes({{4, 3}, {1, 3}, {2, 3}, {1, 3}});
  data.push_back(static_cast<std::uint8_t>(codes.size()));
  data << codes << Bytes{200, 1, 2};
  Frame f(2, 1, 2, data);
  EXPECT_EQ(f.Decode(), (std::vector<unsigned>{1, 2}));
  // Four pixels need the bad sub-block: the toolkit's read error.
  Frame more(4, 1, 2, data);
  EXPECT_FAILS_WITH(more.Decode(), tk::EReadError, "Stream read error");
}

TEST(Lzw, FullTableKeepsTwelveBitCodesUntilClearCode) {
  // Literals only: the table grows to 4096 entries and stays full; codes go on at 12 bits until
  // a ClearCode brings back 3-bit codes.
  Codes codes{{4, 3}};
  std::vector<unsigned> expected;
  int width = 3;
  unsigned next = 6;
  for (int i = 0; i < 4200; ++i) {
    unsigned pixel = static_cast<unsigned>(i % 3);
    codes.push_back({pixel, width});
    expected.push_back(pixel);
    if (i > 0 && next < 4096 && ++next == (1u << width) && width < 12) ++width;
  }
  EXPECT_EQ(width, 12);
  codes.push_back({4, 12});
  for (unsigned pixel : {1u, 2u, 3u}) {
    codes.push_back({pixel, 3});
    expected.push_back(pixel);
  }
  codes.push_back({5, 4});  // the third code after the ClearCode widened the codes to 4 bits
  Frame f(static_cast<int>(expected.size()), 1, 2, CodeData(2, codes));
  EXPECT_EQ(f.Decode(), expected);
  EXPECT_FALSE(f.frame().DataDamaged);
}

TEST(Lzw, LongStringsAcrossRowsRoundTrip) {
  // Runs of 1 to 400 pixels of one colour make strings from one pixel to tens of pixels long,
  // which cross row ends, and rows wider than the decoder's band of rows; the encoder's code
  // stream decodes to the same rows at every depth.
  for (int bits : {1, 4, 8}) {
    for (bool interlaced : {false, true}) {
      for (auto [width, height] : {std::pair{1, 2000}, {9, 300}, {20001, 3}}) {
        SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(width) + " x " +
                     std::to_string(height) + (interlaced ? " interlaced" : ""));
        std::vector<std::uint8_t> pixels;
        for (int run = 1; pixels.size() < std::size_t(width) * height; run = run % 400 + 1)
          pixels.insert(pixels.end(), std::size_t(run), std::uint8_t(run * 37 % (1 << bits)));
        tk::BITMAPINFOHEADER header;
        header.biWidth = width;
        header.biHeight = height;
        header.biBitCount = static_cast<std::uint16_t>(bits);
        Bytes rows(std::size_t(tk::DibRowBytes(width, bits)) * height, 0);
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x) {
            const unsigned v = pixels[std::size_t(y) * width + x];
            std::uint8_t& b =
                rows[std::size_t(height - 1 - y) * tk::DibRowBytes(width, bits) + x * bits / 8];
            b = static_cast<std::uint8_t>(b | v << (8 - bits - x * bits % 8));
          }
        tk::TMemoryStream data;
        gif::EncodePixels(data, header, interlaced, nullptr, rows);
        data.SetPosition(0);
        Bytes decoded(rows.size(), 0);
        EXPECT_FALSE(gif::DecodePixels(data, width, height, bits, interlaced, bits, false,
                                       decoded.data(), nullptr));
        EXPECT_TRUE(decoded == rows);  // (not EXPECT_EQ: the rows are long)
      }
    }
  }
}

TEST(Lzw, CodesAcrossSubBlocksOfAnyLengthAndDataCutAnywhere) {
  // The encoder's codes of a 64 x 40 picture, their bytes put in sub-blocks of 1 to 255 bytes:
  // codes straddle sub-block ends at every bit offset, and every split decodes to the picture.
  const int width = 64, height = 40;
  Bytes rows(std::size_t(width) * height);  // bottom row first
  for (std::size_t i = 0; i < rows.size(); ++i)
    rows[i] = static_cast<std::uint8_t>(i / 7 % 5 == 0 ? i * 131 % 251 : i / 97 % 3);
  tk::BITMAPINFOHEADER header;
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = 8;
  tk::TMemoryStream encoded;
  gif::EncodePixels(encoded, header, false, nullptr, rows);
  const auto bytes = encoded.Bytes();
  Bytes codes;  // the data bytes of the sub-blocks, after the code size byte
  for (std::size_t at = 1; at < bytes.size() && bytes[at] != 0; at += bytes[at] + 1u)
    codes.insert(codes.end(), bytes.begin() + at + 1, bytes.begin() + at + 1 + bytes[at]);
  auto split = [&](std::size_t length, std::size_t count, bool terminated) {
    Bytes data{bytes[0]};
    for (std::size_t at = 0; at < count; at += length) {
      const std::size_t n = std::min(length, count - at);
      data.push_back(static_cast<std::uint8_t>(n));
      data.insert(data.end(), codes.begin() + at, codes.begin() + at + n);
    }
    if (terminated) data.push_back(0);
    return data;
  };
  auto decode = [&](const Bytes& data, bool& damaged) {
    tk::TMemoryStream stream(data);
    Bytes out(rows.size(), 0);
    damaged = gif::DecodePixels(stream, width, height, 8, false, 8, true, out.data(), nullptr);
    return out;
  };
  for (std::size_t length : {1, 2, 3, 4, 5, 7, 8, 11, 64, 200, 254, 255}) {
    SCOPED_TRACE("sub-blocks of " + std::to_string(length));
    bool damaged = true;
    EXPECT_TRUE(decode(split(length, codes.size(), true), damaged) == rows);
    EXPECT_FALSE(damaged);
  }
  // Data cut after any byte: what was decoded is the picture's first pixels, top row first, and
  // the rest stays 0; the frame is damaged unless the cut spares every pixel.
  auto topDown = [&](const Bytes& r) {
    Bytes t;
    for (int y = height - 1; y >= 0; --y)
      t.insert(t.end(), r.begin() + std::ptrdiff_t(y) * width, r.begin() + std::ptrdiff_t(y + 1) * width);
    return t;
  };
  const Bytes picture = topDown(rows);
  for (std::size_t cut = 0; cut < codes.size(); cut += 1 + cut / 16) {
    SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
    bool damaged = false;
    const Bytes got = topDown(decode(split(3, cut, false), damaged));
    std::size_t same = 0;
    while (same < got.size() && got[same] == picture[same]) ++same;
    EXPECT_TRUE(std::all_of(got.begin() + std::ptrdiff_t(same), got.end(), [](auto v) { return v == 0; }));
    EXPECT_LT(same, picture.size());
    EXPECT_TRUE(damaged);
  }
}

TEST(Lzw, PixelValuesAreMaskedToTheFrameDepth) {
  Frame f(4, 1, 2, LiteralData(4, {7, 13, 2, 15}));
  EXPECT_EQ(f.Decode(), (std::vector<unsigned>{3, 1, 2, 3}));
}

TEST(Lzw, RepeatedClearCodesAndClearThenEnd) {
  // A ClearCode after a ClearCode only resets again, and an EndCode after it ends the image:
  // neither stores a pixel.
  Frame clears(3, 1, 2, CodeData(2, {{4, 3}, {4, 3}, {4, 3}, {1, 3}, {4, 3}, {4, 3}, {2, 3}, {3, 3}, {5, 3}}));
  EXPECT_EQ(clears.Decode(), (std::vector<unsigned>{1, 2, 3}));
  Frame clearEnd(3, 1, 2, CodeData(2, {{4, 3}, {2, 3}, {4, 3}, {5, 3}, {1, 3}, {1, 3}}));
  EXPECT_EQ(clearEnd.Decode(), (std::vector<unsigned>{2, 0, 0}));
  EXPECT_FALSE(clearEnd.frame().DataDamaged);
}

TEST(Damage, CodeSizeOutOfRange) {
  // Code size 1 read as 2: the code opening each fresh table is stored, decoding stops at the
  // first other code.
  Bytes data = CodeData(1, {{4, 3}, {2, 3}, {1, 3}, {1, 3}, {5, 3}});
  for (std::uint8_t bad : {0, 1, 10, 255}) {
    data[0] = bad;
    {
      Tolerate on(true);
      Frame f(4, 1, 2, data);
      std::vector<unsigned> pixels = f.Decode();
      EXPECT_TRUE(f.frame().DataDamaged);
      if (bad == 1) {
        EXPECT_EQ(pixels, (std::vector<unsigned>{2, 0, 0, 0}));
      }
    }
    {
      Tolerate off(false);
      Frame f(4, 1, 2, data);
      EXPECT_FAILS_WITH(f.Decode(), tk::EInvalidGraphicOperation, "GIF code size not in range 2 to 9");
      EXPECT_FALSE(f.frame().DataDamaged);
    }
  }
}

TEST(Damage, CycleInTheTable) {
  // Code 7 arrives before it exists, so entry 7 is built on itself: prefix[7] = 7.
  Bytes data = CodeData(2, {{4, 3}, {1, 3}, {7, 3}, {0, 3}, {7, 4}, {1, 4}, {5, 4}});
  {
    Tolerate on(true);
    Frame f(8, 1, 2, data);
    EXPECT_EQ(f.Decode(), (std::vector<unsigned>{1, 1, 1, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(f.frame().DataDamaged);
    // Decoding again keeps the flag; a later clean decode never clears it.
    f.frame().Encoded->PixelData = std::make_unique<tk::TMemoryStream>(LiteralData(2, {1, 1, 1, 1, 1, 1, 1, 1}));
    f.Decode();
    EXPECT_TRUE(f.frame().DataDamaged);
  }
  Tolerate off(false);
  Frame f(8, 1, 2, data);
  EXPECT_FAILS_WITH(f.Decode(), tk::EInvalidGraphicOperation, "GIF encoded data is corrupt");
}

TEST(Damage, DataRunsOutWhileRowsRemain) {
  // The padding bits of the last byte read as two more codes of value 0; then the data ends.
  Bytes data = CodeData(2, {{4, 3}, {1, 3}, {2, 3}});
  std::vector<unsigned> expected = Repeat(0, 16);
  expected[0] = 1;
  expected[1] = 2;
  {
    Tolerate on(true);
    Frame f(4, 4, 2, data);
    EXPECT_EQ(f.Decode(), expected);
    EXPECT_TRUE(f.frame().DataDamaged);
  }
  Tolerate off(false);
  Frame f(4, 4, 2, data);
  EXPECT_FAILS_WITH(f.Decode(), tk::EInvalidGraphicOperation, "Stream read error");
  EXPECT_FALSE(f.frame().DataDamaged);
  // Without a code size byte: the toolkit's read error, with or without tolerance.
  Frame none(2, 2, 2, {});
  EXPECT_FAILS_WITH(none.Decode(), tk::EReadError, "Stream read error");
}

TEST(Damage, HostileSizesStayInsideTheBuffer) {
  // Random codes into frames of awkward sizes: decoding ends quietly or as damage and never
  // writes outside the pixel buffer (checked by the sanitizer build).
  Bytes noise;
  std::uint32_t seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245 + 12345;
    noise.push_back(static_cast<std::uint8_t>(seed >> 16));
  }
  for (std::uint8_t codeSize : {0, 2, 8, 9, 255}) {
    Bytes data{codeSize};
    data << SubBlocks(noise);
    for (auto [w, h] : {std::pair{0, 0}, {0, 7}, {7, 0}, {1, 1}, {65535, 1}, {1, 65535}, {3, 3}}) {
      for (int depth : {1, 3, 8}) {
        for (bool interlaced : {false, true}) {
          Frame f(w, h, depth, data);
          f.frame().IsInterlaced = interlaced;
          try {
            f.Decode();
          } catch (const tk::EInvalidGraphicOperation&) {
          }
          if (w == 0 || h == 0) {
            EXPECT_EQ(f.dib.Size(), 54 + (4 << gif::RowDepthFor(depth)));
          }
        }
      }
    }
  }
  // Endless ClearCodes fill nothing.
  Codes clears(5000, {4, 3});
  Frame f(5, 5, 2, CodeData(2, clears));
  EXPECT_EQ(f.Decode(), Repeat(0, 25));
  EXPECT_TRUE(f.frame().DataDamaged);
}

TEST(Damage, PixelBuffersAboveOneGigabyteAreRefused) {
  Frame f(2, 2, 8, LiteralData(2, {0}));
  f.frame().Encoded->ItemWidth = 65535;
  f.frame().Encoded->ItemHeight = 65535;
  EXPECT_FAILS_WITH(f.Decode(), tk::EInvalidGraphicOperation,
                    "GIF image too large to decode (65535 x 65535 pixels)");
  EXPECT_EQ(f.dib.Size(), 0);
  f.frame().Encoded->ItemWidth = 32768;  // one row more than 1 GiB
  f.frame().Encoded->ItemHeight = 32769;
  EXPECT_THROW(f.Decode(), tk::EInvalidGraphicOperation);
}

// The outcome of decoding or of checking a frame: its damage flag, or the failure's message.
std::string Outcome(Frame& f, bool decode) {
  f.frame().DataDamaged = false;
  try {
    if (decode)
      f.Decode();
    else
      f.frame().CheckData();
  } catch (const tk::Exception& e) {
    return "fails: " + e.Message();
  }
  return f.frame().DataDamaged ? "damaged" : "intact";
}

TEST(Damage, CheckingTellsWhatDecodingWould) {
  Bytes noise{8};
  std::uint32_t seed = 777;
  Bytes bytes;
  for (int i = 0; i < 2000; ++i) {
    seed = seed * 1103515245 + 12345;
    bytes.push_back(static_cast<std::uint8_t>(seed >> 16));
  }
  noise << SubBlocks(bytes);
  const Bytes cut{2, 5, 0x44, 0x01};  // a sub-block longer than the data
  const std::vector<Bytes> streams = {
      LiteralData(2, {1, 2, 3, 0, 1, 2}),                                  // intact
      CodeData(2, {{4, 3}, {1, 3}, {5, 3}}),                               // EndCode early
      CodeData(2, {{4, 3}, {1, 3}, {2, 3}}),                               // runs out
      CodeData(1, {{4, 3}, {2, 3}, {1, 3}, {5, 3}}),                       // code size 1
      CodeData(2, {{4, 3}, {1, 3}, {7, 3}, {0, 3}, {7, 4}, {1, 4}, {5, 4}}),  // a cycle
      cut, noise, {}};
  for (bool tolerate : {true, false}) {
    Tolerate t(tolerate);
    for (const Bytes& data : streams)
      for (auto [w, h] : {std::pair{6, 1}, {2, 3}, {0, 4}, {300, 200}}) {
        Frame f(w, h, 2, data);
        EXPECT_EQ(Outcome(f, false), Outcome(f, true)) << w << " x " << h << ", " << data.size() << " bytes";
      }
  }
  // A frame too large to decode is refused alike; a frame of 1 GiB is checked without its pixels.
  Frame f(2, 2, 8, CodeData(2, {{4, 3}, {1, 3}}));
  f.frame().Encoded->ItemWidth = 65535;
  f.frame().Encoded->ItemHeight = 65535;
  EXPECT_EQ(Outcome(f, false), "fails: GIF image too large to decode (65535 x 65535 pixels)");
  f.frame().Encoded->ItemWidth = f.frame().Encoded->ItemHeight = 32768;
  EXPECT_EQ(Outcome(f, false), "damaged");
}

TEST(Progress, StagesAndPercentages) {
  std::vector<std::uint8_t> pixels(40000);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 7 % 256);
  Frame f(200, 200, 8, LiteralData(8, pixels));
  struct Report {
    tk::TProgressStage stage;
    int percent;
    std::string msg;
  };
  std::vector<Report> reports;
  f.picture.OnProgress = [&](tk::TPersistent* sender, tk::TProgressStage stage, int percent, bool redraw,
                             const tk::TRect& r, const std::string& msg) {
    EXPECT_EQ(sender, &f.picture);
    EXPECT_FALSE(redraw);
    EXPECT_EQ(r, tk::TRect{});
    reports.push_back({stage, percent, msg});
  };
  f.Decode();
  ASSERT_GE(reports.size(), 3u);
  EXPECT_EQ(reports.front().stage, tk::TProgressStage::Starting);
  EXPECT_EQ(reports.front().percent, 0);
  EXPECT_EQ(reports.back().stage, tk::TProgressStage::Ending);
  EXPECT_EQ(reports.back().percent, 100);
  EXPECT_EQ(reports.back().msg, "");
  // A running report after every step of the decoding loop: here one per pixel code (a step
  // takes a ClearCode together with the code after it).
  EXPECT_EQ(reports.size(), 40000u + 2u);
  int last = 0;
  for (std::size_t i = 1; i + 1 < reports.size(); ++i) {
    EXPECT_EQ(reports[i].stage, tk::TProgressStage::Running);
    EXPECT_GE(reports[i].percent, last);
    EXPECT_LE(reports[i].percent, 100);
    last = reports[i].percent;
  }
  EXPECT_GE(last, 99);

  // A failure ends with 0 % and its message.
  reports.clear();
  Tolerate off(false);
  f.frame().Encoded->PixelData = std::make_unique<tk::TMemoryStream>(Bytes{1, 0});
  EXPECT_THROW(f.Decode(), tk::EInvalidGraphicOperation);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports.back().stage, tk::TProgressStage::Ending);
  EXPECT_EQ(reports.back().percent, 0);
  EXPECT_EQ(reports.back().msg, "GIF code size not in range 2 to 9");
}

}  // namespace
