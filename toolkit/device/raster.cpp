// Raster operations of the software graphics device: BitBlt, StretchBlt, GetDIBits and alpha
// drawing. Every operation works row by row over contiguous memory: a source row is read once
// as native values, converted to the destination's native values by one rule chosen before the
// loop (a lookup table for indexed sources), combined with the destination row and written back.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "toolkit/core/bytes.h"
#include "toolkit/device/gdi.h"
#include "toolkit/device/gdi_pixels.h"

namespace tk {

using namespace pixels;

namespace {

// A raster operation on source S and destination D, as four masks of its truth table.
struct Rop {
  std::uint32_t m0 = 0, m1 = 0, m2 = 0, m3 = 0;  // (S0,D0), (S0,D1), (S1,D0), (S1,D1)
  bool usesSource = false;
  bool usesDest = false;
  bool copy = false;

  bool Decode(std::uint32_t code) {
    const std::uint32_t r = (code >> 16) & 0xFF;
    if ((r >> 4) != (r & 0xF)) return false;  // depends on a brush pattern
    m0 = (r & 1) ? ~0u : 0;
    m1 = (r & 2) ? ~0u : 0;
    m2 = (r & 4) ? ~0u : 0;
    m3 = (r & 8) ? ~0u : 0;
    usesSource = m0 != m2 || m1 != m3;
    usesDest = m0 != m1 || m2 != m3;
    copy = r == 0xCC;
    return true;
  }
  std::uint32_t Apply(std::uint32_t s, std::uint32_t d) const {
    return (~s & ~d & m0) | (~s & d & m1) | (s & ~d & m2) | (s & d & m3);
  }
};

bool QuadNative(const GdiBitmap& b) { return b.bitsPerPixel == 24 || (b.bitsPerPixel == 32 && Channels(b).standard32); }

// How source values become destination values.
class Converter {
 public:
  // monoRules: the platform's blit rules for monochrome (background colour of the source
  // context, text and background colours of the destination context); without them monochrome
  // device bitmaps are black and white and colours go to the nearest table entry.
  Converter(const GdiBitmap& src, const DeviceContext* srcDc, const GdiBitmap& dst, const DeviceContext* dstDc,
            bool monoRules)
      : src_(src), dst_(dst), srcCh_(src), dstCh_(dst) {
    if (src.Monochrome() && dst.Monochrome() &&
        (src.colors.empty() || dst.colors.empty() || src.colors == dst.colors)) {
      kind_ = Kind::Identity;  // monochrome to monochrome copies the bits
    } else if (src.Indexed()) {
      kind_ = Kind::Lut;
      const std::size_t n = std::size_t{1} << src.bitsPerPixel;
      lut_.assign(n, 0);
      if (dst.Monochrome() && monoRules) {
        // Pixels of the source context's background colour become 1: the entries of exactly
        // that colour, or else the entry the colour is matched to.
        const std::uint32_t key = ResolveColor(srcDc, srcDc ? srcDc->bkColor : 0xFFFFFF);
        auto table = TableOf(src);
        bool found = false;
        for (std::size_t i = 0; i < n && i < table.size(); ++i)
          if (QuadOf(table[i]) == key) lut_[i] = 1, found = true;
        if (!found) lut_[NearestIndex(table, key)] = 1;
      } else if (src.Monochrome() && src.colors.empty() && monoRules) {
        lut_[0] = QuadToNative(dst, ResolveColor(dstDc, dstDc ? dstDc->textColor : 0));
        lut_[1] = QuadToNative(dst, ResolveColor(dstDc, dstDc ? dstDc->bkColor : 0xFFFFFF));
      } else {
        auto table = TableOf(src);
        for (std::size_t i = 0; i < n; ++i) lut_[i] = i < table.size() ? QuadToNative(dst, QuadOf(table[i])) : 0;
      }
    } else if (dst.Monochrome() && monoRules) {
      kind_ = Kind::Key;
      keyMask_ = src.bitsPerPixel == 16 ? 0xFFFF : (QuadNative(src) ? 0xFFFFFF : (src.masks[0] | src.masks[1] | src.masks[2]));
      key_ = QuadToNative(src, ResolveColor(srcDc, srcDc ? srcDc->bkColor : 0xFFFFFF)) & keyMask_;
    } else if ((QuadNative(src) && QuadNative(dst)) ||
               (src.bitsPerPixel == dst.bitsPerPixel && std::equal(src.masks, src.masks + 3, dst.masks))) {
      kind_ = Kind::Identity;
    } else {
      kind_ = Kind::TrueColor;
      if (dst.Indexed()) cache_.assign(kCacheSize, {~0u, 0});
    }
  }

  bool Identity() const { return kind_ == Kind::Identity; }
  // The lookup table of an indexed source (source index to destination value), else empty.
  const std::vector<std::uint32_t>& Table() const { return lut_; }

  void Convert(std::uint32_t* v, int n) {
    switch (kind_) {
      case Kind::Identity: break;
      case Kind::Lut:
        for (int i = 0; i < n; ++i) v[i] = lut_[v[i] & (lut_.size() - 1)];
        break;
      case Kind::Key:
        for (int i = 0; i < n; ++i) v[i] = (v[i] & keyMask_) == key_ ? 1 : 0;
        break;
      case Kind::TrueColor:
        for (int i = 0; i < n; ++i) v[i] = FromQuad(QuadNative(src_) ? (v[i] & 0xFFFFFF) : srcCh_.ToQuad(v[i]));
        break;
    }
  }

 private:
  enum class Kind { Identity, Lut, Key, TrueColor };
  static constexpr std::size_t kCacheSize = 4096;

  std::uint32_t FromQuad(std::uint32_t q) {
    if (QuadNative(dst_)) return q;
    if (!dst_.Indexed()) return dstCh_.FromQuad(q);
    auto& slot = cache_[(q ^ (q >> 12) ^ (q >> 7)) & (kCacheSize - 1)];
    if (slot.first != q) slot = {q, NearestIndex(TableOf(dst_), q)};
    return slot.second;
  }

  const GdiBitmap& src_;
  const GdiBitmap& dst_;
  Channels srcCh_;
  Channels dstCh_;
  Kind kind_ = Kind::Identity;
  std::vector<std::uint32_t> lut_;
  std::uint32_t key_ = 0, keyMask_ = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> cache_;
};

// One axis of a stretch: destination positions [first, last) and, for each, its source
// position. Empty when nothing of the destination lies inside both bitmaps.
struct Axis {
  int first = 0;
  std::vector<int> source;

  Axis(int d, int dn, int s, int sn, int destLimit, int sourceLimit) {
    if (dn == 0 || sn == 0) return;
    const std::int64_t dCount = dn < 0 ? -std::int64_t{dn} : dn;
    const std::int64_t sCount = sn < 0 ? -std::int64_t{sn} : sn;
    // Destination span [lo, hi) clipped to the bitmap.
    const std::int64_t lo = std::max<std::int64_t>(dn > 0 ? d : std::int64_t{d} + dn, 0);
    const std::int64_t hi = std::min<std::int64_t>(dn > 0 ? std::int64_t{d} + dn : d, destLimit);
    for (std::int64_t p = lo; p < hi; ++p) {
      const std::int64_t i = dn > 0 ? p - d : std::int64_t{d} - 1 - p;
      const std::int64_t j = i * sCount / dCount;
      const std::int64_t sp = sn > 0 ? s + j : std::int64_t{s} - 1 - j;
      if (sp < 0 || sp >= sourceLimit) {
        if (!source.empty()) break;  // the valid positions form one run
        continue;
      }
      if (source.empty()) first = static_cast<int>(p);
      source.push_back(static_cast<int>(sp));
    }
  }
  int Count() const { return static_cast<int>(source.size()); }
};

// How a plain copy (a read-out, or a one-to-one SRCCOPY blit) turns a source row into a row of
// the target.
enum class RowCopy {
  Bytes,    // the same layout: the pixel bytes as they are
  Drop,     // 32-bit quads to 24 bits
  Widen,    // 24 bits to 32-bit quads (no alpha)
  Lookup,   // 8-bit indices through a table
  Expand,   // 1-, 4- or 8-bit indices to 32-bit values through a table
  General,  // unpack, convert, pack
};

// The two conversions between 24-bit and 32-bit rows work on whole 32-bit words: four pixels
// are three words at 24 bits and four at 32, blue in the low byte of a little-endian word.

void DropAlpha(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  std::size_t x = 0;
  for (; x + 4 <= n; x += 4, in += 16, out += 12) {
    const std::uint32_t p0 = Load32(in), p1 = Load32(in + 4), p2 = Load32(in + 8),
                        p3 = Load32(in + 12);
    Store32(out, (p0 & 0xFFFFFF) | (p1 << 24));
    Store32(out + 4, ((p1 >> 8) & 0xFFFF) | (p2 << 16));
    Store32(out + 8, ((p2 >> 16) & 0xFF) | (p3 << 8));
  }
  for (; x < n; ++x, in += 4, out += 3) std::memcpy(out, in, 3);
}

void WidenTo32(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  std::size_t x = 0;
  for (; x + 4 <= n; x += 4, in += 12, out += 16) {
    const std::uint32_t w0 = Load32(in), w1 = Load32(in + 4), w2 = Load32(in + 8);
    Store32(out, w0 & 0xFFFFFF);
    Store32(out + 4, (w0 >> 24) | ((w1 & 0xFFFF) << 8));
    Store32(out + 8, (w1 >> 16) | ((w2 & 0xFF) << 16));
    Store32(out + 12, w2 >> 8);
  }
  for (; x < n; ++x, in += 3, out += 4) {
    std::memcpy(out, in, 3);
    out[3] = 0;
  }
}

// Indices of kBits each, from column x0, become the table's 32-bit values: one word per pixel,
// the pixels of a whole byte taken from one load.
template <int kBits>
void ExpandIndices(const std::uint8_t* in, std::size_t x0, std::uint8_t* out, std::size_t n,
                   const std::uint32_t* table) {
  constexpr std::size_t kPerByte = 8 / kBits;
  constexpr unsigned kMask = (1u << kBits) - 1;
  auto one = [&](std::size_t i) {
    const std::size_t x = x0 + i;
    const auto shift = static_cast<unsigned>((kPerByte - 1 - x % kPerByte) * kBits);
    Store32(out + 4 * i, table[(in[x / kPerByte] >> shift) & kMask]);
  };
  std::size_t i = 0;
  for (; i < n && (x0 + i) % kPerByte != 0; ++i) one(i);
  for (; i + kPerByte <= n; i += kPerByte) {
    const unsigned byte = in[(x0 + i) / kPerByte];
    for (std::size_t k = 0; k < kPerByte; ++k)
      Store32(out + 4 * (i + k), table[(byte >> ((kPerByte - 1 - k) * kBits)) & kMask]);
  }
  for (; i < n; ++i) one(i);
}

RowCopy ChooseRowCopy(const GdiBitmap& src, const GdiBitmap& dst, const Converter& convert) {
  const int from = src.bitsPerPixel, to = dst.bitsPerPixel;
  const std::vector<std::uint32_t>& lut = convert.Table();
  if (convert.Identity()) {
    if (from == to && from >= 8) return RowCopy::Bytes;
    if (from == 32 && to == 24) return RowCopy::Drop;
    if (from == 24 && to == 32) return RowCopy::Widen;
  }
  if (from == 8 && to == 8 && lut.size() == 256) {
    for (std::uint32_t i = 0; i < 256; ++i)
      if (lut[i] != i) return RowCopy::Lookup;
    return RowCopy::Bytes;
  }
  if (to == 32 && from <= 8 && lut.size() == std::size_t{1} << from) return RowCopy::Expand;
  return RowCopy::General;
}

// n pixels of a source row of the given depth, from column x0, written to out by a row copy
// other than General. table: the converter's lookup table.
void CopyRow(RowCopy copy, int from, const std::uint8_t* in, std::size_t x0, std::uint8_t* out,
             std::size_t n, const std::vector<std::uint32_t>& table) {
  switch (copy) {
    case RowCopy::Bytes:
      std::memcpy(out, in + x0 * static_cast<std::size_t>(from / 8), n * static_cast<std::size_t>(from / 8));
      break;
    case RowCopy::Drop:
      DropAlpha(in + 4 * x0, out, n);
      break;
    case RowCopy::Widen:
      WidenTo32(in + 3 * x0, out, n);
      break;
    case RowCopy::Lookup:
      for (std::size_t x = 0; x < n; ++x) out[x] = static_cast<std::uint8_t>(table[in[x0 + x]]);
      break;
    case RowCopy::Expand:
      if (from == 1) ExpandIndices<1>(in, x0, out, n, table.data());
      if (from == 4) ExpandIndices<4>(in, x0, out, n, table.data());
      if (from == 8) ExpandIndices<8>(in, x0, out, n, table.data());
      break;
    case RowCopy::General:
      break;
  }
}

bool Blit(DeviceContext* dest, int x, int y, int width, int height, const DeviceContext* source, int sx, int sy,
          int swidth, int sheight, std::uint32_t code, bool monoRules, const COLORREF* transparent = nullptr) {
  Rop rop;
  if (!dest || !rop.Decode(code)) return false;
  GdiBitmap* dst = dest->bitmap;
  if (!dst || dst->stock) return true;
  if (!rop.usesSource) {
    // Source-free operations act on the destination rectangle alone.
    source = dest;
    sx = x, sy = y, swidth = width, sheight = height;
  }
  if (!source || !source->bitmap) return false;
  const GdiBitmap& src = *source->bitmap;

  Axis cols(x, width, sx, swidth, dst->width, src.width);
  Axis rows(y, height, sy, sheight, dst->height, src.height);
  if (cols.Count() == 0 || rows.Count() == 0) return true;

  const int n = cols.Count();
  const int srcLeft = std::min(cols.source.front(), cols.source.back());
  const int srcSpan = std::max(cols.source.front(), cols.source.back()) - srcLeft + 1;
  const bool straight = srcSpan == n && cols.source.front() == srcLeft;  // one to one, not mirrored
  const std::uint32_t valueMask = ValueMask(*dst);

  Converter convert(src, source, *dst, dest, monoRules);
  // Transparent copies mark the source pixels of the transparent colour as a monochrome
  // conversion would, against a background of that colour.
  std::unique_ptr<Converter> key;
  std::unique_ptr<GdiBitmap> keyShape;
  DeviceContext keyDc;
  std::vector<std::uint32_t> keyLine, skip;
  if (transparent) {
    keyShape = std::make_unique<GdiBitmap>();
    keyShape->bitsPerPixel = 1;
    keyDc.bkColor = *transparent;
    keyDc.palette = source->palette;
    key = std::make_unique<Converter>(src, &keyDc, *keyShape, nullptr, true);
    keyLine.resize(static_cast<std::size_t>(srcSpan));
    skip.resize(static_cast<std::size_t>(n));
  }
  // A one-to-one copy between two bitmaps goes row by row as a read-out does.
  const RowCopy plain = !transparent && rop.copy && straight && &src != dst
                            ? ChooseRowCopy(src, *dst, convert)
                            : RowCopy::General;

  std::vector<std::uint32_t> line(static_cast<std::size_t>(srcSpan));
  std::vector<std::uint32_t> s(static_cast<std::size_t>(n));
  std::vector<std::uint32_t> d(static_cast<std::size_t>(n));
  int lastRow = -1;
  // Within one bitmap, rows moving down are copied from the bottom up so that no source row is
  // overwritten before it is read.
  const bool reverse = &src == dst && rows.source.front() < rows.first;
  for (int step = 0; step < rows.Count(); ++step) {
    const int r = reverse ? rows.Count() - 1 - step : step;
    const int destRow = rows.first + r;
    const int srcRow = rows.source[static_cast<std::size_t>(r)];
    if (plain != RowCopy::General) {
      CopyRow(plain, src.bitsPerPixel, src.Row(srcRow), static_cast<std::size_t>(srcLeft),
              dst->Row(destRow) + static_cast<std::size_t>(cols.first) * static_cast<std::size_t>(dst->bitsPerPixel / 8),
              static_cast<std::size_t>(n), convert.Table());
      continue;
    }
    if (srcRow != lastRow || &src == dst) {
      UnpackRow(src, srcRow, srcLeft, srcSpan, line.data());
      if (key) {
        std::copy(line.begin(), line.end(), keyLine.begin());
        key->Convert(keyLine.data(), srcSpan);
        for (int i = 0; i < n; ++i)
          skip[static_cast<std::size_t>(i)] =
              keyLine[static_cast<std::size_t>(cols.source[static_cast<std::size_t>(i)] - srcLeft)];
      }
      convert.Convert(line.data(), srcSpan);
      if (straight) {
        std::copy(line.begin(), line.end(), s.begin());
      } else {
        for (int i = 0; i < n; ++i) s[static_cast<std::size_t>(i)] = line[static_cast<std::size_t>(cols.source[static_cast<std::size_t>(i)] - srcLeft)];
      }
      lastRow = srcRow;
    }
    if (key) {
      UnpackRow(*dst, destRow, cols.first, n, d.data());
      for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (!skip[k]) d[k] = s[k] & valueMask;
      }
      PackRow(*dst, destRow, cols.first, n, d.data());
      continue;
    }
    if (rop.copy) {
      PackRow(*dst, destRow, cols.first, n, s.data());
      continue;
    }
    if (rop.usesDest) UnpackRow(*dst, destRow, cols.first, n, d.data());
    for (int i = 0; i < n; ++i) {
      const auto k = static_cast<std::size_t>(i);
      d[k] = rop.Apply(s[k], d[k]) & valueMask;
    }
    PackRow(*dst, destRow, cols.first, n, d.data());
  }
  return true;
}

}  // namespace

bool BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, std::uint32_t rop) {
  return Blit(dest, x, y, width, height, source, sx, sy, width, height, rop, true);
}

bool StretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, int swidth, int sheight,
                std::uint32_t rop) {
  return Blit(dest, x, y, width, height, source, sx, sy, swidth, sheight, rop, true);
}

bool TransparentBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, int swidth,
                    int sheight, COLORREF transparent) {
  if (width < 0 || height < 0 || swidth < 0 || sheight < 0) return false;
  return Blit(dest, x, y, width, height, source, sx, sy, swidth, sheight, SRCCOPY, true, &transparent);
}

namespace {

// A new bitmap of the same size (null: none could be made) filled with the bitmap's pixels by
// the plain conversion rules (no background or text colours: monochrome device bitmaps are
// black and white).
HBITMAP CopiedInto(HBITMAP bitmap, UniqueBitmap target) {
  if (!target) return nullptr;
  DeviceContext from, into;
  from.bitmap = bitmap;
  into.bitmap = target.get();
  Blit(&into, 0, 0, bitmap->width, bitmap->height, &from, 0, 0, bitmap->width, bitmap->height,
       SRCCOPY, false);
  return target.release();
}

}  // namespace

HBITMAP ConvertToDIBSection(HBITMAP bitmap, int bits, std::span<const RGBQUAD> colors,
                            std::span<const std::uint32_t> masks) {
  if (!bitmap) return nullptr;
  BITMAPINFOHEADER h;
  h.biWidth = bitmap->width;
  h.biHeight = bitmap->height;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  h.biCompression = masks.size() >= 3 ? BI_BITFIELDS : BI_RGB;
  if (bitmap->dibSection) {
    h.biXPelsPerMeter = bitmap->header.biXPelsPerMeter;
    h.biYPelsPerMeter = bitmap->header.biYPelsPerMeter;
  }
  if (bits <= 8 && colors.empty()) colors = StandardColorTable(bits);
  return CopiedInto(bitmap, UniqueBitmap(CreateDIBSection(h, colors, masks)));
}

HBITMAP ConvertToDeviceBitmap(HBITMAP bitmap, bool monochrome) {
  if (!bitmap) return nullptr;
  // The copy writes every pixel, and 32-bit rows have no padding: the new pixels need no
  // zeroing first. Monochrome rows keep the bits beyond the last pixel, so they are zeroed.
  return CopiedInto(bitmap, NewBitmap(bitmap->width, bitmap->height, monochrome ? 1 : 32, false, monochrome));
}

std::span<const RGBQUAD> StandardColorTable(int bits) {
  static const std::array<RGBQUAD, 256> table = [] {
    std::array<RGBQUAD, 256> t{};
    static constexpr std::uint8_t kStandard16[16][3] = {
        {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
        {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0},  {0, 255, 0},   {255, 255, 0},
        {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    std::size_t i = 0;
    for (const auto& c : kStandard16) t[i++] = RGBQUAD{c[2], c[1], c[0], 0};
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          t[i++] = RGBQUAD{static_cast<std::uint8_t>(b * 51), static_cast<std::uint8_t>(g * 51),
                           static_cast<std::uint8_t>(r * 51), 0};
    for (int k = 0; k < 24; ++k) {
      const auto v = static_cast<std::uint8_t>(8 + 10 * k);
      t[i++] = RGBQUAD{v, v, v, 0};
    }
    return t;
  }();
  static constexpr RGBQUAD kBlackWhite[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  switch (bits) {
    case 1: return kBlackWhite;
    case 4: return std::span<const RGBQUAD>(table.data(), 16);
    case 8: return table;
    default: return {};
  }
}


int GetDIBits(HDC dc, HBITMAP bitmap, unsigned startScan, unsigned scanLines, std::span<std::uint8_t> bits,
              BITMAPINFOHEADER& header, std::span<RGBQUAD> colors, unsigned) {
  if (!bitmap) return 0;
  const int depth = header.biBitCount;
  if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32) return 0;
  if (header.biCompression != BI_RGB) return 0;
  if (header.biWidth != bitmap->width) return 0;
  const bool bottomUp = header.biHeight >= 0;
  if ((bottomUp ? header.biHeight : -static_cast<std::int64_t>(header.biHeight)) != bitmap->height) return 0;
  const auto rowBytes = static_cast<std::size_t>(DibRowBytes(bitmap->width, depth));
  header.biSize = 40;
  header.biPlanes = 1;
  header.biSizeImage = static_cast<std::uint32_t>(rowBytes * static_cast<std::size_t>(bitmap->height));
  if (bits.empty()) return bitmap->height;

  const auto height = static_cast<unsigned>(bitmap->height);
  if (startScan >= height) return 0;
  const unsigned lines = std::min(scanLines, height - startScan);
  if (bits.size() < rowBytes * lines) return 0;

  // The target's format, without pixels: its depth and, when indexed, its colour table.
  GdiBitmap target;
  target.width = bitmap->width;
  target.height = bitmap->height;
  target.bitsPerPixel = depth;
  target.dibSection = true;
  if (depth <= 8) {
    const std::size_t entries = std::size_t{1} << depth;
    if (colors.size() < entries) return 0;
    if (bitmap->bitsPerPixel == depth) {
      auto own = TableOf(*bitmap);
      target.colors.assign(own.begin(), own.end());
    } else if (depth == 8 && dc && dc->palette && !dc->palette->stock) {
      target.colors = PaletteColors(*dc->palette);
    } else {
      auto standard = StandardColorTable(depth);
      target.colors.assign(standard.begin(), standard.end());
    }
    target.colors.resize(entries);
  }

  // Each row goes straight from the bitmap into the caller's buffer, converted by the blit's
  // rules for a plain copy; the padding at the end of a row is zero.
  Converter convert(*bitmap, nullptr, target, nullptr, false);
  const RowCopy copy = ChooseRowCopy(*bitmap, target, convert);
  const auto width = static_cast<std::size_t>(bitmap->width);
  // Bytes of a row that the copy writes; the rest is zeroed first (a packed row of 1 or 4 bits
  // keeps the bits around the pixels it writes).
  const std::size_t pixelBytes =
      copy == RowCopy::General ? 0 : width * static_cast<std::size_t>(depth / 8);
  std::vector<std::uint32_t> line(copy == RowCopy::General ? width : 0);
  // Rows of a bitmap without columns have no bytes (and the bitmap no pixel memory).
  for (unsigned k = 0; k < lines && rowBytes > 0; ++k) {
    const unsigned dibRow = startScan + k;
    const std::uint8_t* in =
        bitmap->Row(bottomUp ? static_cast<int>(height - 1 - dibRow) : static_cast<int>(dibRow));
    std::uint8_t* out = bits.data() + rowBytes * k;
    std::memset(out + pixelBytes, 0, rowBytes - pixelBytes);
    if (copy != RowCopy::General) {
      CopyRow(copy, bitmap->bitsPerPixel, in, 0, out, width, convert.Table());
      continue;
    }
    UnpackRow(*bitmap, in, 0, bitmap->width, line.data());
    convert.Convert(line.data(), bitmap->width);
    PackRow(target, out, 0, bitmap->width, line.data());
  }
  std::copy(target.colors.begin(), target.colors.end(), colors.begin());
  return static_cast<int>(lines);
}

namespace {
// Without blending, a pixel of at least this alpha is drawn opaque and one below it not at all.
// Quirk: a GIF frame holds no partial transparency, so an icon's half-transparent edges are
// neither blended with the colour under them nor lost. Test:
// AssignGraphic.IconAlphaBelowHalfIsTransparentAndTheRestOpaque.
constexpr std::uint32_t kUnblendedOpaqueAlpha = 128;
}  // namespace

void AlphaDraw(HDC dest, const TRect& rect, HBITMAP source, bool blend) {
  if (!dest || !dest->bitmap || dest->bitmap->stock || !source || source->bitsPerPixel != 32) return;
  GdiBitmap& dst = *dest->bitmap;
  Axis cols(rect.Left, rect.Width(), 0, source->width, dst.width, source->width);
  Axis rows(rect.Top, rect.Height(), 0, source->height, dst.height, source->height);
  const int n = cols.Count();
  if (n == 0 || rows.Count() == 0) return;
  std::vector<std::uint32_t> line(static_cast<std::size_t>(source->width));
  std::vector<std::uint32_t> d(static_cast<std::size_t>(n));
  for (int r = 0; r < rows.Count(); ++r) {
    UnpackRow(*source, rows.source[static_cast<std::size_t>(r)], 0, source->width, line.data());
    UnpackRow(dst, rows.first + r, cols.first, n, d.data());
    for (int i = 0; i < n; ++i) {
      const std::uint32_t s = line[static_cast<std::size_t>(cols.source[static_cast<std::size_t>(i)])];
      const std::uint32_t a = s >> 24;
      if (a == 0 || (!blend && a < kUnblendedOpaqueAlpha)) continue;
      auto& out = d[static_cast<std::size_t>(i)];
      if (a == 255 || !blend) {
        out = QuadToNative(dst, s & 0xFFFFFF);
        continue;
      }
      const std::uint32_t under = NativeToQuad(dst, out);
      std::uint32_t q = 0;
      for (int shift = 16; shift >= 0; shift -= 8) {
        const std::uint32_t c = ((s >> shift) & 0xFF) * a + ((under >> shift) & 0xFF) * (255 - a);
        q |= ((c + 127) / 255) << shift;
      }
      out = QuadToNative(dst, q);
    }
    PackRow(dst, rows.first + r, cols.first, n, d.data());
  }
}

}  // namespace tk
