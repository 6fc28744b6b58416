// The reduction methods on raw 24-bit pixel areas.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>
#include <random>
#include <set>
#include <vector>

#include "colour/reduce.h"

namespace colour {
namespace {

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

// A 24-bit WorkImage in memory, addressed by column and stored row (row 0 is the bottom row).
struct TestImage {
  int width, height;
  std::vector<std::uint8_t> bytes;
  std::array<std::uint8_t, PaletteBytes> palette;

  TestImage(int w, int h, Rgb fill = {0, 0, 0}) : width(w), height(h), bytes(DibRowBytes(w, 24) * h + 1, 0xEE) {
    palette.fill(0xEE);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) Set(x, y, fill);
      for (std::int64_t p = 3 * w; p < DibRowBytes(w, 24); ++p) bytes[y * DibRowBytes(w, 24) + p] = 0;
    }
  }
  void Set(int x, int y, Rgb c) {
    std::uint8_t* p = &bytes[y * DibRowBytes(width, 24) + 3 * x];
    p[0] = static_cast<std::uint8_t>(c.b);
    p[1] = static_cast<std::uint8_t>(c.g);
    p[2] = static_cast<std::uint8_t>(c.r);
  }
  // Pixels in stored order.
  void SetAll(const std::vector<Rgb>& pixels) {
    for (std::size_t i = 0; i < pixels.size(); ++i) Set(int(i % width), int(i / width), pixels[i]);
  }
  WorkImage Work() { return {width, height, bytes.data()}; }
  int Index(int x, int y) const { return bytes[y * DibRowBytes(width, 8) + x]; }
  Rgb Entry(int i) const { return {palette[4 * i + 2], palette[4 * i + 1], palette[4 * i]}; }
  int Reserved(int i) const { return palette[4 * i + 3]; }
  Rgb Colour(int x, int y) const { return Entry(Index(x, y)); }
  // Output row padding and the byte past the area are untouched or zero.
  void ExpectPaddingZero() const {
    for (int y = 0; y < height; ++y)
      for (std::int64_t p = width; p < DibRowBytes(width, 8); ++p)
        EXPECT_EQ(bytes[y * DibRowBytes(width, 8) + p], 0) << "row " << y << " byte " << p;
    EXPECT_EQ(bytes.back(), 0xEE) << "wrote past the area";
  }
};

std::ostream& operator<<(std::ostream& o, const Rgb& c) { return o << '(' << c.r << ',' << c.g << ',' << c.b << ')'; }

// ---- Level maps --------------------------------------------------------------------------------

TEST(LevelMaps, RangesAndTies) {
  // The first channel value of each level index, for the 4-, 6-, 7- and 8-level maps.
  struct Case {
    const LevelMap& map;
    std::vector<int> starts;
  } cases[] = {
      {Map4, {0, 43, 128, 213}},
      {Map6, {0, 26, 77, 128, 179, 230}},
      {Map7, {0, 22, 65, 107, 150, 192, 235}},
      {Map8, {0, 19, 55, 92, 128, 165, 201, 238}},
  };
  for (auto& c : cases) {
    for (std::size_t i = 0; i < c.starts.size(); ++i) {
      int end = i + 1 < c.starts.size() ? c.starts[i + 1] : 256;
      for (int v = c.starts[i]; v < end; ++v) ASSERT_EQ(c.map[v], i) << "levels " << c.starts.size() << " v " << v;
    }
  }
  // Equal distance to two levels goes to the lower one.
  EXPECT_EQ(Map7[64], 1);
  EXPECT_EQ(Map7[149], 3);
  EXPECT_EQ(Map7[234], 5);
  EXPECT_EQ(Map8[18], 0);
  EXPECT_EQ(Map8[91], 2);
  EXPECT_EQ(Map8[164], 4);
  EXPECT_EQ(Map8[237], 6);
}

// ---- Fixed palettes ----------------------------------------------------------------------------

TEST(Fixed666, PaletteAndIndices) {
  TestImage img(5, 2);
  img.SetAll({{255, 255, 255}, {0, 0, 0}, {25, 0, 0}, {26, 0, 0}, {0, 128, 230}, {51, 102, 153}});
  ReduceFixed666(img.Work(), img.palette.data());
  EXPECT_EQ(img.Index(0, 0), 215);
  EXPECT_EQ(img.Index(1, 0), 0);
  EXPECT_EQ(img.Index(2, 0), 0);
  EXPECT_EQ(img.Index(3, 0), 36);
  EXPECT_EQ(img.Index(4, 0), 0 * 36 + 3 * 6 + 5);
  EXPECT_EQ(img.Index(0, 1), 1 * 36 + 2 * 6 + 3);
  EXPECT_EQ(img.Index(1, 1), 0);
  img.ExpectPaddingZero();
  EXPECT_EQ(img.Entry(0), (Rgb{0, 0, 0}));
  EXPECT_EQ(img.Entry(1 * 36 + 2 * 6 + 3), (Rgb{0x33, 0x66, 0x99}));
  EXPECT_EQ(img.Entry(215), (Rgb{255, 255, 255}));
  EXPECT_EQ(img.Reserved(215), 0);
  for (int i = 216; i < 256; ++i) {
    EXPECT_EQ(img.Entry(i), (Rgb{128, 128, 128}));
    EXPECT_EQ(img.Reserved(i), 128);
  }
}

TEST(Fixed784, PaletteAndIndices) {
  TestImage img(3, 2);
  img.SetAll({{255, 255, 255}, {0, 91, 0}, {0, 92, 0}, {64, 0, 43}, {0, 0, 0}, {170, 36, 170}});
  ReduceFixed784(img.Work(), img.palette.data());
  EXPECT_EQ(img.Index(0, 0), 6 * 32 + 7 * 4 + 3);
  EXPECT_EQ(img.Index(1, 0), 2 * 4);
  EXPECT_EQ(img.Index(2, 0), 3 * 4);
  EXPECT_EQ(img.Index(0, 1), 1 * 32 + 1);
  EXPECT_EQ(img.Index(1, 1), 0);
  EXPECT_EQ(img.Index(2, 1), 4 * 32 + 1 * 4 + 2);
  img.ExpectPaddingZero();
  EXPECT_EQ(img.Entry(223), (Rgb{255, 255, 255}));
  EXPECT_EQ(img.Entry(4 * 32 + 1 * 4 + 2), (Rgb{0xAA, 0x24, 0xAA}));
  EXPECT_EQ(img.Entry(3 * 32 + 5 * 4 + 1), (Rgb{0x80, 0xB6, 0x55}));
  for (int i = 224; i < 256; ++i) EXPECT_EQ(img.Reserved(i), 128);
}

TEST(Gray, WeightsAndPalette) {
  TestImage img(5, 1);
  img.SetAll({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {0, 0, 0}});
  ReduceGray(img.Work(), img.palette.data());
  EXPECT_EQ(img.Index(0, 0), 76);
  EXPECT_EQ(img.Index(1, 0), 149);
  EXPECT_EQ(img.Index(2, 0), 28);
  EXPECT_EQ(img.Index(3, 0), 255);
  EXPECT_EQ(img.Index(4, 0), 0);
  img.ExpectPaddingZero();
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(img.Entry(i), (Rgb{i, i, i}));
    EXPECT_EQ(img.Reserved(i), 0);
  }
}

TEST(PrimaryRamps, PatternAndPalette) {
  TestImage img(5, 3, {255, 255, 255});
  img.Set(0, 2, {8, 200, 17});
  ReducePrimaryRamps(img.Work(), img.palette.data());
  std::vector<int> rows[3];
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) rows[y].push_back(img.Index(x, y));
  EXPECT_EQ(rows[0], (std::vector<int>{63, 127, 191, 63, 127}));
  EXPECT_EQ(rows[1], (std::vector<int>{127, 191, 63, 127, 191}));
  EXPECT_EQ(rows[2], (std::vector<int>{128 + 4, 63, 127, 191, 63}));
  img.ExpectPaddingZero();
  EXPECT_EQ(img.Entry(1), (Rgb{4, 0, 0}));
  EXPECT_EQ(img.Entry(63), (Rgb{252, 0, 0}));
  EXPECT_EQ(img.Entry(64), (Rgb{0, 0, 0}));
  EXPECT_EQ(img.Entry(127), (Rgb{0, 252, 0}));
  EXPECT_EQ(img.Entry(130), (Rgb{0, 0, 8}));
  for (int i = 192; i < 256; ++i) EXPECT_EQ(img.Entry(i), (Rgb{0, 0, 0}));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(img.Reserved(i), 0);
}

// ---- Histogram ---------------------------------------------------------------------------------

TEST(Histogram, ExactPaletteMostFrequentFirstTiesToFirstMet) {
  const Rgb a{10, 20, 30}, b{200, 100, 0}, c{1, 2, 3}, d{255, 255, 255};
  TestImage img(4, 3);
  // Stored order: c first, then b; b and c have 3 pixels each, a has 4, d has 2.
  img.SetAll({c, b, a, a, b, c, a, d, c, b, a, d});
  ReduceHistogram(img.Work(), img.palette.data(), 256, 0xFF, 0xFF, 0xFF);
  EXPECT_EQ(img.Entry(0), a);
  EXPECT_EQ(img.Entry(1), c);
  EXPECT_EQ(img.Entry(2), b);
  EXPECT_EQ(img.Entry(3), d);
  for (int i = 4; i < 256; ++i) {
    EXPECT_EQ(img.Entry(i), (Rgb{128, 128, 128}));
    EXPECT_EQ(img.Reserved(i), 0);
  }
  std::vector<int> indices;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) indices.push_back(img.Index(x, y));
  EXPECT_EQ(indices, (std::vector<int>{1, 2, 0, 0, 2, 1, 0, 3, 1, 2, 0, 3}));
  img.ExpectPaddingZero();
}

TEST(Histogram, NearestColourTiesToLowestIndex) {
  // With two colours wanted, the third and fourth colours map to the nearer one; (0,0,10) lies
  // equally far from both.
  TestImage img(7, 1);
  img.SetAll({{0, 0, 0}, {0, 0, 20}, {0, 0, 0}, {0, 0, 10}, {0, 0, 20}, {0, 0, 11}, {0, 0, 0}});
  ReduceHistogram(img.Work(), img.palette.data(), 2, 0xFF, 0xFF, 0xFF);
  EXPECT_EQ(img.Entry(0), (Rgb{0, 0, 0}));
  EXPECT_EQ(img.Entry(1), (Rgb{0, 0, 20}));
  EXPECT_EQ(img.Entry(2), (Rgb{128, 128, 128}));
  std::vector<int> indices;
  for (int x = 0; x < 7; ++x) indices.push_back(img.Index(x, 0));
  EXPECT_EQ(indices, (std::vector<int>{0, 1, 0, 0, 1, 1, 0}));
}

// 2048 colours of one pixel each, a colour `a` of ten pixels that comes first, and, when `extra`,
// one more colour that differs from `a` only in the lowest blue bit.
TestImage ManyColours(bool extra) {
  const Rgb a{11, 21, 31};
  std::vector<Rgb> pixels(10, a);
  for (int i = 0; i < 2048; ++i) pixels.push_back({i & 255, i >> 8, 0});
  if (extra) pixels.push_back({11, 21, 30});
  TestImage img(64, 33, a);
  img.SetAll(pixels);
  return img;
}

TEST(Histogram, MaskNarrowsOnlyBeyond2049Colours) {
  TestImage full = ManyColours(false);
  ReduceHistogram(full.Work(), full.palette.data(), 256, 0xFF, 0xFF, 0xFF);
  EXPECT_EQ(full.Entry(0), (Rgb{11, 21, 31}));
  EXPECT_EQ(full.Entry(1), (Rgb{0, 0, 0}));
  EXPECT_EQ(full.Entry(255), (Rgb{254, 0, 0}));

  // One colour more: the blue mask drops its low bit, and the two colours that differ there
  // become one.
  TestImage narrowed = ManyColours(true);
  ReduceHistogram(narrowed.Work(), narrowed.palette.data(), 256, 0xFF, 0xFF, 0xFF);
  EXPECT_EQ(narrowed.Entry(0), (Rgb{11, 21, 30}));
  EXPECT_EQ(narrowed.Entry(1), (Rgb{0, 0, 0}));
  EXPECT_EQ(narrowed.Index(0, 0), 0);
  EXPECT_EQ(narrowed.Index(2048 + 10 - 64 * 32, 32), 0);
}

TEST(Histogram, NarrowingOrderStartsBlueThenRed) {
  // 600 base colours, each in eight variants of the low bits of red, green and blue: 4800
  // colours, still 2400 after blue loses its low bit, 1200 once red has lost it too.
  std::vector<Rgb> pixels;
  for (int k = 0; k < 600; ++k)
    for (int low = 0; low < 8; ++low)
      pixels.push_back({(0x80 + 2 * (k / 100)) | (low >> 2), (2 * (k % 100)) | (low >> 1 & 1), 0x40 | (low & 1)});
  TestImage img(80, 60);
  img.SetAll(pixels);
  ReduceHistogram(img.Work(), img.palette.data(), 256, 0xFF, 0xFF, 0xFF);
  bool oddGreen = false;
  for (int i = 0; i < 256; ++i) {
    Rgb e = img.Entry(i);
    EXPECT_EQ(e.r % 2, 0) << i;
    EXPECT_EQ(e.b, 0x40) << i;
    oddGreen |= e.g % 2 == 1;
  }
  EXPECT_TRUE(oddGreen);
  EXPECT_EQ(img.Entry(0), (Rgb{0x80, 0, 0x40}));
  EXPECT_EQ(img.Entry(1), (Rgb{0x80, 1, 0x40}));
  EXPECT_EQ(img.Entry(2), (Rgb{0x80, 2, 0x40}));
}

// ---- Median cut --------------------------------------------------------------------------------

TEST(MedianCut, OneColour) {
  for (Rgb c : {Rgb{0, 0, 0}, Rgb{15, 15, 15}, Rgb{255, 255, 255}, Rgb{16, 31, 200}}) {
    TestImage img(3, 2, c);
    EXPECT_EQ(MedianCut(img.Work(), img.palette.data(), 256), 1);
    Rgb expected = c.r < 16 ? Rgb{0, 0, 0} : c.r == 16 ? Rgb{31, 31, 207} : Rgb{255, 255, 255};
    EXPECT_EQ(img.Entry(0), expected) << c;
    for (int i = 1; i < 256; ++i) EXPECT_EQ(img.Entry(i), (Rgb{0, 0, 0}));
    for (int i = 0; i < 256; ++i) EXPECT_EQ(img.Reserved(i), 0);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(img.Index(x, 0) | img.Index(x, 1), 0);
    img.ExpectPaddingZero();
  }
}

TEST(MedianCut, BlackAndWhiteSplitOnRed) {
  TestImage img(4, 2);
  img.SetAll({{255, 255, 255}, {0, 0, 0}, {255, 255, 255}, {0, 0, 0},
              {0, 0, 0}, {255, 255, 255}, {0, 0, 0}, {255, 255, 255}});
  EXPECT_EQ(MedianCut(img.Work(), img.palette.data(), 256), 2);
  EXPECT_EQ(img.Entry(0), (Rgb{0, 0, 0}));
  EXPECT_EQ(img.Entry(1), (Rgb{255, 255, 255}));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(img.Colour(x, y).r, (x + y) % 2 ? 0 : 255);
}

TEST(MedianCut, EqualValuesSortLaterCellFirst) {
  // Cells A (red4 0), B (8), C (15), green4 = blue4 = 1; 5, 3 and 2 pixels. The first cut on red
  // leaves A alone; the second box {B, C} is widest on green, where both cells are equal: the
  // sort puts C before B, so C becomes box 1 and B box 2.
  const Rgb a{0, 16, 16}, b{128, 16, 16}, c{240, 16, 16};
  TestImage img(5, 2);
  img.SetAll({a, b, c, a, a, b, a, c, b, a});
  EXPECT_EQ(MedianCut(img.Work(), img.palette.data(), 256), 3);
  EXPECT_EQ(img.Entry(0), (Rgb{15, 31, 31}));
  EXPECT_EQ(img.Entry(1), (Rgb{255, 31, 31}));
  EXPECT_EQ(img.Entry(2), (Rgb{143, 31, 31}));
  EXPECT_EQ(img.Index(0, 0), 0);
  EXPECT_EQ(img.Index(1, 0), 2);
  EXPECT_EQ(img.Index(2, 0), 1);
}

TEST(MedianCut, LoneCellBesideAMillionStillSplits) {
  TestImage img(1000, 1001, {200, 200, 200});
  img.Set(999, 1000, {0, 0, 0});
  EXPECT_EQ(MedianCut(img.Work(), img.palette.data(), 256), 2);
  EXPECT_EQ(img.Colour(999, 1000), (Rgb{0, 0, 0}));
  EXPECT_EQ(img.Colour(0, 0), (Rgb{207, 207, 207}));
}

TEST(MedianCut, ValuesOfOneCellShareAColour) {
  TestImage img(16, 1);
  for (int x = 0; x < 16; ++x) img.Set(x, 0, {16 + x, 160, 31 - x});
  EXPECT_EQ(MedianCut(img.Work(), img.palette.data(), 256), 1);
  EXPECT_EQ(img.Entry(0), (Rgb{31, 175, 31}));
}

TEST(MedianCut, SeparableCellsGiveExactly256Colours) {
  // 256 occupied cells, each pixel somewhere inside its cell: every cell becomes a box of its
  // own, and every pixel shows its cell's colour (the top of the cell on each channel).
  std::mt19937 random(7);
  TestImage img(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      img.Set(x, y, {y * 16 + int(random() % 16), x * 16 + int(random() % 16), (x + y) % 16 * 16 + int(random() % 16)});
  EXPECT_EQ(MedianCut(img.Work(), img.palette.data(), 256), 256);
  std::set<int> indices;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      Rgb cell{y * 16 + 15, x * 16 + 15, (x + y) % 16 * 16 + 15};
      if (cell.r <= 16 && cell.g <= 16 && cell.b <= 16) cell = {0, 0, 0};
      EXPECT_EQ(img.Colour(x, y), cell) << x << "," << y;
      indices.insert(img.Index(x, y));
    }
  EXPECT_EQ(indices.size(), 256u);

  // Twice as many cells: still 256 colours.
  TestImage more(32, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) more.Set(x, y, {y * 16, (x % 16) * 16, x < 16 ? 128 : 255});
  EXPECT_EQ(MedianCut(more.Work(), more.palette.data(), 256), 256);
}

TEST(MedianCut, NearBlackMeansBecomeBlack) {
  // Sixteen cells of values 0..2 whose means are exactly 1 on every channel: with one box the
  // entry is (16 x 16 + 15) div 16 = 16 per channel, which counts as black. Moving one cell up by
  // one on red makes red 17, and the colour stays.
  std::vector<Rgb> cells = {{0, 0, 0}, {0, 0, 2}, {0, 2, 0}, {0, 2, 2}, {2, 0, 0}, {2, 0, 2},
                            {2, 2, 0}, {2, 2, 2}, {0, 1, 1}, {2, 1, 1}, {1, 0, 1}, {1, 2, 1},
                            {1, 1, 0}, {1, 1, 2}, {0, 0, 1}, {2, 2, 1}};
  auto run = [](std::vector<Rgb> cells) {
    TestImage img(16, 1);
    for (int x = 0; x < 16; ++x) img.Set(x, 0, {cells[x].r * 16, cells[x].g * 16, cells[x].b * 16});
    EXPECT_EQ(MedianCut(img.Work(), img.palette.data(), 1), 1);
    return img.Entry(0);
  };
  EXPECT_EQ(run(cells), (Rgb{0, 0, 0}));
  cells[8] = {1, 1, 1};
  EXPECT_EQ(run(cells), (Rgb{17, 16, 16}));
}

TEST(SortCells, TieOrder) {
  using namespace mediancut;
  std::vector<ColorCell> cells(8);
  for (int i = 0; i < 8; ++i) cells[i].value[1] = static_cast<std::uint8_t>(i % 2 ? 0 : 1);
  // Insertion sort (fewer than 8): an entry goes before every earlier equal one.
  std::vector<std::uint16_t> shortList{0, 2, 1};
  SortCells(cells.data(), shortList.data(), 3, 1);
  EXPECT_EQ(shortList, (std::vector<std::uint16_t>{1, 2, 0}));
  // Partition around the middle entry, then both parts.
  std::vector<std::uint16_t> list{0, 1, 2, 3, 4, 5, 6, 7};
  SortCells(cells.data(), list.data(), 8, 1);
  EXPECT_EQ(list, (std::vector<std::uint16_t>{5, 3, 1, 7, 6, 0, 2, 4}));
}

TEST(SortCells, SortsLongListsOfRepeatedValues) {
  using namespace mediancut;
  std::vector<ColorCell> cells(CellCount);
  std::mt19937 random(3);
  for (auto& c : cells) c.value[2] = static_cast<std::uint8_t>(random() % 16);
  for (int n : {8, 9, 100, 4096}) {
    std::vector<std::uint16_t> list(n);
    for (int i = 0; i < n; ++i) list[i] = static_cast<std::uint16_t>(random() % CellCount);
    std::vector<std::uint16_t> sorted = list;
    SortCells(cells.data(), sorted.data(), n, 2);
    EXPECT_TRUE(std::is_permutation(list.begin(), list.end(), sorted.begin()));
    for (int i = 1; i < n; ++i) ASSERT_LE(cells[sorted[i - 1]].value[2], cells[sorted[i]].value[2]);
  }
}

// ---- Every method ------------------------------------------------------------------------------

using Method = void (*)(WorkImage, std::uint8_t*);
void Histogram256(WorkImage w, std::uint8_t* p) { ReduceHistogram(w, p, 256, 0xFF, 0xFF, 0xFF); }
void MedianCut256(WorkImage w, std::uint8_t* p) { MedianCut(w, p, 256); }
const Method AllMethods[] = {Histogram256, MedianCut256, ReduceFixed784, ReduceFixed666, ReducePrimaryRamps, ReduceGray};

TEST(AllMethods, EmptyImagesFillThePaletteOnly) {
  for (Method m : AllMethods) {
    for (auto [w, h] : {std::pair{0, 0}, {0, 5}, {7, 0}}) {
      TestImage img(w, h);
      m(img.Work(), img.palette.data());
      EXPECT_EQ(img.bytes, std::vector<std::uint8_t>(img.bytes.size(), 0xEE));
      EXPECT_NE(img.Reserved(200), 0xEE);
    }
  }
  TestImage img(0, 3);
  EXPECT_EQ(MedianCut(img.Work(), img.palette.data(), 256), 1);
  EXPECT_EQ(img.Entry(0), (Rgb{0, 0, 0}));
  ReduceHistogram(img.Work(), img.palette.data(), 256, 0xFF, 0xFF, 0xFF);
  EXPECT_EQ(img.Entry(0), (Rgb{128, 128, 128}));
}

TEST(AllMethods, RowsKeepTheirOrderAndPadding) {
  // A 6 x 5 image whose stored rows are black, white, black, ... : every method maps each row to
  // one index, and the output rows (8 bytes each) follow the input order.
  for (Method m : AllMethods) {
    TestImage img(6, 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) img.Set(x, y, y % 2 ? Rgb{255, 255, 255} : Rgb{0, 0, 0});
    m(img.Work(), img.palette.data());
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        Rgb c = img.Colour(x, y);
        EXPECT_EQ(std::max({c.r, c.g, c.b}) >= 252, y % 2 == 1) << x << "," << y << " " << c;
        if (y % 2 == 0) {
          EXPECT_EQ(c, (Rgb{0, 0, 0}));
        }
      }
    img.ExpectPaddingZero();
  }
}

}  // namespace
}  // namespace colour
