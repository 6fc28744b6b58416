// Histogram reduction: the most frequent colours of the image become the palette.
#include <algorithm>
#include <cstring>
#include <memory>

#include "colour/reduce.h"

namespace colour {

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
  std::uint16_t slot[HistogramSlots];

  void Clear() {
    entries = 0;
    std::fill(std::begin(slot), std::end(slot), EmptySlot);
  }

  // The slot that holds the masked colour, or the empty slot where it belongs.
  int Find(int r, int g, int b) const {
    int s = ColorHash(r, g, b);
    for (;;) {
      std::uint16_t e = slot[s];
      if (e == EmptySlot) return s;
      const HistogramEntry& h = entry[e];
      if (h.red == r && h.green == g && h.blue == b) return s;
      if (++s == HistogramSlots) s = 0;
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
  MapPixels(image, [&](int b, int g, int r, int, int) {
    b &= mb, g &= mg, r &= mr;
    const int colour = r << 16 | g << 8 | b;
    if (colour != last) {
      index = entry[table->slot[table->Find(r, g, b)]].index;
      last = colour;
    }
    return index;
  });
}

}  // namespace colour
