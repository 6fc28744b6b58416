// The reduction methods as they were before their pixel loops were rewritten for speed, kept
// here only as the reference of the differential fuzzer: the rewritten methods must give the
// same palettes and indices.
#include "fuzz/colour/reference.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace colour_reference {

using namespace colour;
using namespace colour::mediancut;

namespace {

template <class Index>
void OldMapPixels(WorkImage image, Index index) {
  const std::size_t in = DibRowBytes(image.width, 24);
  const std::size_t out = DibRowBytes(image.width, 8);
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* src = image.pixels + y * in;
    std::uint8_t* dst = image.pixels + y * out;
    for (int x = 0; x < image.width; ++x, src += 3)
      dst[x] = static_cast<std::uint8_t>(index(src[0], src[1], src[2], x, y));
    for (std::size_t x = image.width; x < out; ++x) dst[x] = 0;
  }
}

constexpr int kSlots = 5191;
constexpr int Hash(int r, int g, int b) { return (r + g) * (g + b) * (b + r) % kSlots; }

constexpr LevelMap Scaled(const LevelMap& map, std::size_t stride) {
  LevelMap scaled{};
  for (int v = 0; v < 256; ++v) scaled[v] = static_cast<std::uint8_t>(map[v] * stride);
  return scaled;
}

}  // namespace

void MapFixed666(WorkImage image) {
  const LevelMap r = Scaled(Map6, 36), g = Scaled(Map6, 6);
  OldMapPixels(image, [&](int b, int gg, int rr, int, int) { return r[rr] + g[gg] + Map6[b]; });
}

void MapFixed784(WorkImage image) {
  const LevelMap r = Scaled(Map7, 32), g = Scaled(Map8, 4);
  OldMapPixels(image, [&](int b, int gg, int rr, int, int) { return r[rr] + g[gg] + Map4[b]; });
}

void MapPrimaryRamps(WorkImage image) {
  OldMapPixels(image, [](int b, int g, int r, int x, int y) {
    switch ((x + y) % 3) {
      case 0: return r / 4;
      case 1: return 64 + g / 4;
      default: return 128 + b / 4;
    }
  });
}

void MapGray(WorkImage image) {
  OldMapPixels(image, [](int b, int g, int r, int, int) { return (77 * r + 150 * g + 29 * b) >> 8; });
}

namespace {


constexpr int MaxEntries = 2049;
constexpr std::uint16_t EmptySlot = 0xFFFF;

struct HistogramEntry {
  std::uint8_t blue, green, red;
  std::uint8_t index;
  std::int32_t count;
};

// The table of one call: at most 2049 distinct masked colours in 5191 slots, so it never gets
// more than half full and every probe ends quickly.
struct ColorHistogram {
  int entries = 0;
  std::uint8_t mask[3] = {0xFF, 0xFF, 0xFF};  // red, green, blue
  HistogramEntry entry[MaxEntries];
  std::uint16_t slot[kSlots];

  void Clear() {
    entries = 0;
    std::fill(std::begin(slot), std::end(slot), EmptySlot);
  }

  // The slot that holds the masked colour, or the empty slot where it belongs.
  int Find(int r, int g, int b) const {
    int s = Hash(r, g, b);
    for (;;) {
      std::uint16_t e = slot[s];
      if (e == EmptySlot) return s;
      const HistogramEntry& h = entry[e];
      if (h.red == r && h.green == g && h.blue == b) return s;
      if (++s == kSlots) s = 0;
    }
  }

  // Counts every pixel; false when the image has more masked colours than the table holds.
  bool Count(WorkImage image) {
    Clear();
    const std::size_t in = DibRowBytes(image.width, 24);
    const std::uint8_t mr = mask[0], mg = mask[1], mb = mask[2];
    // Runs of one colour are common: each run is looked up once and counted as a whole.
    int last = -1, run = 0;
    HistogramEntry* hit = nullptr;
    for (int y = 0; y < image.height; ++y) {
      const std::uint8_t* p = image.pixels + y * in;
      for (int x = 0; x < image.width; ++x, p += 3) {
        const int b = p[0] & mb, g = p[1] & mg, r = p[2] & mr;
        const int colour = r << 16 | g << 8 | b;
        if (colour != last) {
          if (hit) hit->count += run;
          run = 0;
          const int s = Find(r, g, b);
          if (slot[s] == EmptySlot) {
            if (entries == MaxEntries) return false;
            slot[s] = static_cast<std::uint16_t>(entries);
            entry[entries] = {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
                              static_cast<std::uint8_t>(r), 0, 0};
            ++entries;
          }
          hit = &entry[slot[s]];
          last = colour;
        }
        ++run;
      }
    }
    if (hit) hit->count += run;
    return true;
  }

  // Drops the low bit of one mask: green when red is narrower than green, else red when red is
  // wider than blue, else blue. From full masks the order is blue, red, green, blue, ...
  void Narrow() {
    std::uint8_t& m = mask[0] < mask[1] ? mask[1] : mask[0] > mask[2] ? mask[0] : mask[2];
    m = static_cast<std::uint8_t>(m << 1);
  }
};

}  // namespace

void ReduceHistogram(WorkImage image, std::uint8_t* palette, int wanted, std::uint8_t redMask,
                     std::uint8_t greenMask, std::uint8_t blueMask) {
  wanted = std::clamp(wanted, 1, PaletteEntries);
  auto table = std::make_unique<ColorHistogram>();
  table->mask[0] = redMask;
  table->mask[1] = greenMask;
  table->mask[2] = blueMask;
  while (!table->Count(image)) table->Narrow();

  // The palette: the most frequent colours, ties to the colour met first.
  HistogramEntry* entry = table->entry;
  const int entries = table->entries;
  const int n = std::min(wanted, entries);
  for (int i = 0; i < n; ++i) {
    HistogramEntry* best = entry;
    for (HistogramEntry* e = entry + 1; e < entry + entries; ++e)
      if (e->count > best->count) best = e;
    best->index = static_cast<std::uint8_t>(i);
    best->count = 0;
    std::uint8_t* p = palette + 4 * i;
    p[0] = best->blue;
    p[1] = best->green;
    p[2] = best->red;
    p[3] = 0;
  }
  for (int i = n; i < PaletteEntries; ++i) {
    std::uint8_t* p = palette + 4 * i;
    p[0] = p[1] = p[2] = 128;
    p[3] = 0;
  }

  // Every other colour takes the nearest palette entry, the lowest index on a tie.
  for (HistogramEntry* e = entry; e < entry + entries; ++e) {
    if (e->count <= 0) continue;
    int bestSum = 0x7FFFFFFF;
    for (int i = 0; i < wanted; ++i) {
      const std::uint8_t* p = palette + 4 * i;
      int db = p[0] - e->blue, dg = p[1] - e->green, dr = p[2] - e->red;
      int sum = db * db + dg * dg + dr * dr;
      if (sum < bestSum) {
        bestSum = sum;
        e->index = static_cast<std::uint8_t>(i);
      }
    }
  }

  // Mapping pass, in place.
  const std::uint8_t mr = table->mask[0], mg = table->mask[1], mb = table->mask[2];
  int last = -1;
  std::uint8_t index = 0;
  OldMapPixels(image, [&](int b, int g, int r, int, int) {
    b &= mb, g &= mg, r &= mr;
    const int colour = r << 16 | g << 8 | b;
    if (colour != last) {
      index = entry[table->slot[table->Find(r, g, b)]].index;
      last = colour;
    }
    return index;
  });
}


int MedianCut(WorkImage image, std::uint8_t* palette, int wanted) {
  wanted = std::clamp(wanted, 1, MaxBoxes);
  struct Work {
    ColorCell cells[CellCount];
    CutBox boxes[MaxBoxes];
    std::uint16_t sortList[CellCount];
  };
  auto work = std::make_unique<Work>();
  ColorCell* cells = work->cells;
  CutBox* boxes = work->boxes;
  for (int i = 0; i < CellCount; ++i) {
    cells[i].value[0] = static_cast<std::uint8_t>(i >> 8);
    cells[i].value[1] = static_cast<std::uint8_t>(i >> 4 & 15);
    cells[i].value[2] = static_cast<std::uint8_t>(i & 15);
  }

  // Counting pass: the cell of every pixel is recorded, so that the output can be written after
  // the 24-bit pixels under it have been overwritten.
  const std::size_t pixelCount = std::size_t(image.width) * std::size_t(image.height);
  std::vector<std::uint16_t> index(pixelCount);
  const std::size_t in = DibRowBytes(image.width, 24);
  std::uint16_t* ix = index.data();
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* p = image.pixels + y * in;
    for (int x = 0; x < image.width; ++x, p += 3) {
      const std::uint16_t c = static_cast<std::uint16_t>((p[2] & 0xF0) << 4 | (p[1] & 0xF0) | p[0] >> 4);
      ++cells[c].pixels;
      *ix++ = c;
    }
  }

  // Box 0 holds every occupied cell, chained in increasing cell number.
  for (CutBox& b : work->boxes) b = {{0, 0, 0}, {255, 255, 255}, 0, 0, NoCell};
  std::uint16_t* link = &boxes[0].first;
  for (int i = 0; i < CellCount; ++i) {
    if (cells[i].pixels <= 0) continue;
    *link = static_cast<std::uint16_t>(i);
    link = &cells[i].next;
    ++boxes[0].cells;
  }
  boxes[0].pixels = static_cast<std::int32_t>(pixelCount);
  int count = 1;
  SplitBoxes(cells, boxes, wanted, count, work->sortList);

  // One palette entry per box: the plain mean of its cells, not weighted by their pixels, and
  // black for a near-black mean. A box without cells (an image without pixels) is black too.
  std::memset(palette + 4 * count, 0, 4 * std::size_t(wanted - count));
  for (int k = 0; k < count; ++k) {
    int sum[3] = {}, n = 0;
    for (std::uint16_t c = boxes[k].first; c != NoCell && n < boxes[k].cells; c = cells[c].next, ++n) {
      cells[c].box = static_cast<std::uint8_t>(k);
      for (int ch = 0; ch < 3; ++ch) sum[ch] += cells[c].value[ch];
    }
    int mean[3] = {};
    if (n > 0)
      for (int ch = 0; ch < 3; ++ch) mean[ch] = (16 * sum[ch] + 15) / n;
    if (mean[0] <= 16 && mean[1] <= 16 && mean[2] <= 16) mean[0] = mean[1] = mean[2] = 0;
    std::uint8_t* e = palette + 4 * k;
    e[0] = static_cast<std::uint8_t>(mean[2]);
    e[1] = static_cast<std::uint8_t>(mean[1]);
    e[2] = static_cast<std::uint8_t>(mean[0]);
    e[3] = 0;
  }

  // Output: each pixel becomes the box of its cell, rows in the input's order, padding zero.
  const std::size_t out = DibRowBytes(image.width, 8);
  if (pixelCount == 0) return count;
  std::memset(image.pixels, 0, out * image.height);
  ix = index.data();
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* dst = image.pixels + y * out;
    for (int x = 0; x < image.width; ++x) dst[x] = cells[*ix++].box;
  }
  return count;
}


}  // namespace colour_reference
