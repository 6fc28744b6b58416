// Histogram reduction: the most frequent colours of the image become the palette.
#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>

#include "colour/reduce.h"

namespace colour {

namespace {

constexpr int MaxEntries = 2049;
constexpr std::uint16_t NoEntry = 0xFFFF;

// A masked colour as one number: red << 16 | green << 8 | blue.
constexpr std::uint32_t Pack(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return r << 16 | g << 8 | b;
}

// The bits a mask keeps when it keeps only its high bits (0xFF << k), else -1.
int HighBits(std::uint8_t mask) {
  for (int bits = 8; bits >= 0; --bits)
    if (mask == static_cast<std::uint8_t>(0xFF00u >> bits)) return bits;
  return -1;
}

// The table of one call: at most 2049 distinct masked colours, in the order they were first met,
// with their pixel counts, and an index from a masked colour to its entry. When the masks keep
// only high bits, 16 bits in all at most, the index is a direct table of the packed colour;
// otherwise it is hashed (8192 slots, at most a quarter of them used).
//
// Counting goes through the pixels once. When a colour finds the table full, one mask is narrowed
// and the counting goes on from that pixel: the table of the pixels before it under the narrower
// masks is made from the entries in hand, merged in their order, which is what counting them
// again from the start would give (the colours of the first pixel of each merged group come first
// in both), and that table cannot have overflowed before the pixel, as it holds fewer colours.
class ColorHistogram {
 public:
  ColorHistogram(WorkImage image, std::uint8_t redMask, std::uint8_t greenMask,
                 std::uint8_t blueMask)
      : image_(image), mask_{redMask, greenMask, blueMask} {
    SetIndex();
  }

  void Count() {
    while (!(direct_ ? CountDirect() : CountHashed())) Narrow();
    FoldLanes();
  }

  int Entries() const { return entries_; }
  std::uint32_t Colour(int e) const { return colour_[e]; }
  std::uint32_t Pixels(int e) const { return lane_[0][e]; }

  // Writes every pixel's palette index, given the index of every entry.
  void Map(const std::uint8_t* entryIndex) {
    const std::uint8_t mr = mask_[0], mg = mask_[1], mb = mask_[2];
    if (direct_) {
      const auto table = std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t{1} << keyBits_);
      for (int e = 0; e < entries_; ++e)
        table[KeyOf(colour_[e] >> 16, colour_[e] >> 8 & 0xFF, colour_[e] & 0xFF)] = entryIndex[e];
      const std::uint8_t* t = table.get();
      const std::uint32_t *kr = key_[0], *kg = key_[1], *kb = key_[2];
      MapPixels(image_, [=](unsigned b, unsigned g, unsigned r, int, int) { return t[kr[r] | kg[g] | kb[b]]; });
      return;
    }
    std::uint32_t last = 0xFFFFFFFF;
    std::uint8_t index = 0;
    MapPixels(image_, [&](unsigned b, unsigned g, unsigned r, int, int) {
      const std::uint32_t colour = Pack(r & mr, g & mg, b & mb);
      if (colour != last) {
        index = entryIndex[slotEntry_[Find(colour)]];
        last = colour;
      }
      return index;
    });
  }

 private:
  // The direct table's key of a colour: the kept bits of red, green and blue side by side.
  unsigned KeyOf(unsigned r, unsigned g, unsigned b) const {
    return key_[0][r] | key_[1][g] | key_[2][b];
  }

  // Chooses and empties the index for the current masks.
  void SetIndex() {
    const int bits[3] = {HighBits(mask_[0]), HighBits(mask_[1]), HighBits(mask_[2])};
    const int keyBits = bits[0] + bits[1] + bits[2];
    direct_ = bits[0] >= 0 && bits[1] >= 0 && bits[2] >= 0 &&
              (keyBits <= 16 || (keyBits <= kMaxKeyBits && std::uint64_t{1} << keyBits <= 4 * PixelsLeft()));
    if (direct_) {
      const int at[3] = {bits[1] + bits[2], bits[2], 0};
      for (int c = 0; c < 3; ++c)
        for (unsigned v = 0; v < 256; ++v)
          key_[c][v] = v >> (8 - bits[c]) << at[c];
      keyBits_ = bits[0] + bits[1] + bits[2];
      if (!directEntry_ || keyBits_ > directBits_) {
        directEntry_ = std::make_unique_for_overwrite<std::uint16_t[]>(std::size_t{1} << keyBits_);
        directBits_ = keyBits_;
      }
      std::memset(directEntry_.get(), 0xFF, sizeof(std::uint16_t) << keyBits_);
    } else {
      std::fill(std::begin(slotColour_), std::end(slotColour_), kEmptySlot);
    }
  }

  // The direct table grows to 2^20 entries (2 MiB), and beyond 2^16 only as far as four entries
  // a pixel left to count, so that its cost stays within what the image justifies.
  static constexpr int kMaxKeyBits = 16;
  std::uint64_t PixelsLeft() const {
    return std::uint64_t(image_.width) * std::uint64_t(image_.height - y_) - std::uint64_t(x_);
  }

  static constexpr std::uint32_t kEmptySlot = 0xFFFFFFFF;
  static constexpr int kSlotBits = 13;
  static constexpr std::uint32_t kSlots = 1u << kSlotBits;

  static std::uint32_t Hash(std::uint32_t colour) { return (colour * 0x9E3779B1u) >> (32 - kSlotBits); }

  // The slot of a colour in the hashed index, or the empty slot where it belongs.
  std::uint32_t Find(std::uint32_t colour) const {
    std::uint32_t s = Hash(colour);
    while (slotColour_[s] != colour && slotColour_[s] != kEmptySlot) s = (s + 1) & (kSlots - 1);
    return s;
  }

  // The entry of a colour, a new one when it is not in the table; NoEntry when the table is full.
  std::uint32_t EntryOf(std::uint32_t colour) {
    if (direct_) {
      std::uint16_t& e = directEntry_[KeyOf(colour >> 16, colour >> 8 & 0xFF, colour & 0xFF)];
      if (e == NoEntry && entries_ < MaxEntries) e = Append(colour);
      return e;
    }
    const std::uint32_t s = Find(colour);
    if (slotColour_[s] == kEmptySlot) {
      if (entries_ == MaxEntries) return NoEntry;
      slotColour_[s] = colour;
      slotEntry_[s] = Append(colour);
    }
    return slotEntry_[s];
  }

  std::uint16_t Append(std::uint32_t colour) {
    colour_[entries_] = colour;
    lane_[0][entries_] = lane_[1][entries_] = lane_[2][entries_] = lane_[3][entries_] = 0;
    return static_cast<std::uint16_t>(entries_++);
  }

  // Counts from the current pixel on; false, stopped at the pixel, when the table overflows.
  // Pixels go four at a time, each counted in a lane of its own, so that runs of one colour do
  // not wait for each other's counts; a group that meets a new colour goes pixel by pixel.
  bool CountDirect() {
    const std::size_t in = DibRowBytes(image_.width, 24);
    const int width = image_.width, height = image_.height;
    const std::uint32_t *kr = key_[0], *kg = key_[1], *kb = key_[2];
    std::uint16_t* const table = directEntry_.get();
    std::uint32_t *const c0 = lane_[0], *const c1 = lane_[1], *const c2 = lane_[2], *const c3 = lane_[3];
    for (int y = y_; y < height; ++y, x_ = 0) {
      const std::uint8_t* p = image_.pixels + y * in + 3 * x_;
      int x = x_;
      for (; x + 4 <= width; x += 4, p += 12) {
        const unsigned e0 = table[kr[p[2]] | kg[p[1]] | kb[p[0]]];
        const unsigned e1 = table[kr[p[5]] | kg[p[4]] | kb[p[3]]];
        const unsigned e2 = table[kr[p[8]] | kg[p[7]] | kb[p[6]]];
        const unsigned e3 = table[kr[p[11]] | kg[p[10]] | kb[p[9]]];
        if ((e0 | e1 | e2 | e3) == NoEntry) [[unlikely]] {
          if (!CountOneByOne(p, 4, y, x)) return false;
          continue;
        }
        ++c0[e0];
        ++c1[e1];
        ++c2[e2];
        ++c3[e3];
      }
      if (!CountOneByOne(p, width - x, y, x)) return false;
    }
    y_ = image_.height;
    return true;
  }

  // Counts n pixels from p (column x of row y) in lane 0; false, stopped at the pixel, when the
  // table overflows.
  bool CountOneByOne(const std::uint8_t* p, int n, int y, int x) {
    for (int i = 0; i < n; ++i, p += 3) {
      const std::uint32_t e = EntryOf(Pack(p[2] & mask_[0], p[1] & mask_[1], p[0] & mask_[2]));
      if (e == NoEntry) {
        y_ = y;
        x_ = x + i;
        return false;
      }
      ++lane_[0][e];
    }
    return true;
  }

  // Adds the lanes' counts up into lane 0.
  void FoldLanes() {
    for (int e = 0; e < entries_; ++e) {
      lane_[0][e] += lane_[1][e] + lane_[2][e] + lane_[3][e];
      lane_[1][e] = lane_[2][e] = lane_[3][e] = 0;
    }
  }

  bool CountHashed() {
    const std::size_t in = DibRowBytes(image_.width, 24);
    const int width = image_.width, height = image_.height;
    const std::uint8_t mr = mask_[0], mg = mask_[1], mb = mask_[2];
    for (int y = y_; y < height; ++y, x_ = 0) {
      const std::uint8_t* p = image_.pixels + y * in + 3 * x_;
      for (int x = x_; x < width; ++x, p += 3) {
        const std::uint32_t colour = Pack(p[2] & mr, p[1] & mg, p[0] & mb);
        std::uint32_t s = Hash(colour), found;
        while ((found = slotColour_[s]) != colour && found != kEmptySlot) s = (s + 1) & (kSlots - 1);
        if (found == kEmptySlot) [[unlikely]] {
          if (entries_ == MaxEntries) {
            y_ = y;
            x_ = x;
            return false;
          }
          slotColour_[s] = colour;
          slotEntry_[s] = Append(colour);
        }
        ++lane_[x & 3][slotEntry_[s]];
      }
    }
    y_ = height;
    return true;
  }

  // Drops the low bit of one mask: green when red is narrower than green, else red when red is
  // wider than blue, else blue. From full masks the order is blue, red, green, blue, ... Then
  // the entries are merged under the new masks; when a mask gained bits (a mask that did not keep
  // only high bits), counting starts again from the first pixel instead.
  void Narrow() {
    FoldLanes();
    const std::uint8_t old[3] = {mask_[0], mask_[1], mask_[2]};
    std::uint8_t& m = mask_[0] < mask_[1] ? mask_[1] : mask_[0] > mask_[2] ? mask_[0] : mask_[2];
    m = static_cast<std::uint8_t>(m << 1);
    SetIndex();
    const bool coarser = (mask_[0] & ~old[0]) == 0 && (mask_[1] & ~old[1]) == 0 && (mask_[2] & ~old[2]) == 0;
    const int oldEntries = entries_;
    entries_ = 0;
    if (!coarser) {
      x_ = y_ = 0;
      return;
    }
    const std::uint32_t keep = Pack(mask_[0], mask_[1], mask_[2]);
    for (int i = 0; i < oldEntries; ++i) {
      const std::uint32_t pixels = lane_[0][i];
      const std::uint32_t e = EntryOf(colour_[i] & keep);  // never NoEntry: no more than before
      lane_[0][e] += pixels;
    }
  }

  WorkImage image_;
  std::uint8_t mask_[3];  // red, green, blue
  int entries_ = 0;
  std::uint32_t colour_[MaxEntries];
  std::uint32_t lane_[4][MaxEntries];  // pixel counts, in four lanes while counting
  // Where counting stands: the next pixel is column x_ of stored row y_.
  int y_ = 0, x_ = 0;

  bool direct_ = false;
  std::uint32_t key_[3][256];  // the key bits of each value of red, green, blue
  int keyBits_ = 0;
  std::unique_ptr<std::uint16_t[]> directEntry_;
  int directBits_ = 0;  // the size of directEntry_
  std::uint32_t slotColour_[kSlots];
  std::uint16_t slotEntry_[kSlots];
};

}  // namespace

void ReduceHistogram(WorkImage image, std::uint8_t* palette, int wanted, std::uint8_t redMask,
                     std::uint8_t greenMask, std::uint8_t blueMask) {
  wanted = std::clamp(wanted, 1, PaletteEntries);
  auto table = std::make_unique<ColorHistogram>(image, redMask, greenMask, blueMask);
  table->Count();

  // The palette: the most frequent colours, ties to the colour met first.
  const int entries = table->Entries();
  std::uint16_t order[MaxEntries];
  std::iota(order, order + entries, std::uint16_t{0});
  std::stable_sort(order, order + entries, [&](std::uint16_t a, std::uint16_t b) {
    return table->Pixels(a) > table->Pixels(b);
  });
  std::uint8_t entryIndex[MaxEntries];
  const int n = std::min(wanted, entries);
  int red[PaletteEntries], green[PaletteEntries], blue[PaletteEntries];
  for (int i = 0; i < PaletteEntries; ++i) {
    const std::uint32_t c = i < n ? table->Colour(order[i]) : Pack(128, 128, 128);
    if (i < n) entryIndex[order[i]] = static_cast<std::uint8_t>(i);
    std::uint8_t* p = palette + 4 * i;
    p[0] = static_cast<std::uint8_t>(blue[i] = c & 0xFF);
    p[1] = static_cast<std::uint8_t>(green[i] = c >> 8 & 0xFF);
    p[2] = static_cast<std::uint8_t>(red[i] = c >> 16);
    p[3] = 0;
  }

  // Every other colour takes the nearest palette entry, the lowest index on a tie: the distance
  // (at most 3 x 255^2, 18 bits) is compared with the index below it.
  for (int k = n; k < entries; ++k) {
    const std::uint32_t c = table->Colour(order[k]);
    const int r = c >> 16, g = c >> 8 & 0xFF, b = c & 0xFF;
    int best = 0x7FFFFFFF;
    for (int i = 0; i < wanted; ++i)
      best = std::min(best, ((blue[i] - b) * (blue[i] - b) + (green[i] - g) * (green[i] - g) +
                             (red[i] - r) * (red[i] - r)) << 8 | i);
    entryIndex[order[k]] = static_cast<std::uint8_t>(best & 0xFF);
  }

  table->Map(entryIndex);
}

}  // namespace colour
