#include "gif/decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "gif/gif.h"

namespace gif {

int RowDepthFor(int bitDepth) {
  if (bitDepth == 1) return 1;
  if (bitDepth >= 2 && bitDepth <= 4) return 4;
  if (bitDepth >= 5 && bitDepth <= 8) return 8;
  throw tk::EInvalidGraphicOperation(std::string(SWrongColorCount));
}

int NextInterlacedRow(int y, int h, int& pass) {
  static constexpr int kStep[4] = {8, 8, 4, 2};
  int next = y + (pass >= 0 && pass < 4 ? kStep[pass] : 0);
  if (next < h) return next;
  if (pass == 0) {
    pass = 1;
    if (h > 4) return 4;
  }
  if (pass == 1) {
    pass = 2;
    if (h > 2) return 2;
  }
  if (pass == 2) {
    pass = 3;
    return 1;
  }
  return next;
}

namespace {

std::uint64_t LoadLE64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

[[noreturn]] void Fail(std::string_view message) {
  throw tk::EInvalidGraphicOperation(std::string(message));
}

// Where decoded pixels go: the rows of the bottom-up pixel buffer, in plain or interlaced order.
// The decoder writes one byte per pixel into the current row and asks for the next row when
// the current one is full. Rows of depth 8 are written in place; rows of depth 1 and 4 are
// gathered one byte per pixel and packed when they are complete.
class PixelRows {
 public:
  PixelRows(std::uint8_t* pixels, int width, int height, int depth, bool interlaced)
      : pixels_(pixels),
        rowBytes_(tk::DibRowBytes(width, depth)),
        width_(width),
        height_(width > 0 ? std::max(height, 0) : 0),
        depth_(depth),
        interlaced_(interlaced) {
    if (depth_ < 8) gather_.resize(static_cast<std::size_t>(std::max(width, 0)));
  }

  // The first row, or null when there is none.
  std::uint8_t* FirstRow() { return height_ > 0 ? Row() : nullptr; }

  // Finishes the current row; the next row, or null when the image is complete.
  std::uint8_t* NextRow() {
    if (depth_ < 8) Pack(width_);
    y_ = interlaced_ ? NextInterlacedRow(y_, height_, pass_) : y_ + 1;
    return y_ < height_ ? Row() : nullptr;
  }

  // Packs the first count pixels of a row left incomplete when decoding ended.
  void Finish(int count) {
    if (depth_ < 8 && count > 0 && y_ < height_) Pack(count);
  }

 private:
  std::uint8_t* RowStart(int y) const { return pixels_ + (height_ - 1 - y) * rowBytes_; }
  std::uint8_t* Row() { return depth_ < 8 ? gather_.data() : RowStart(y_); }

  // Packs gathered pixels into row y_, the leftmost pixel in the highest bits.
  void Pack(int count) {
    std::uint8_t* out = RowStart(y_);
    const std::uint8_t* in = gather_.data();
    if (depth_ == 4) {
      int i = 0;
      for (; i + 1 < count; i += 2) *out++ = static_cast<std::uint8_t>((in[i] & 15) << 4 | (in[i + 1] & 15));
      if (i < count) *out = static_cast<std::uint8_t>((in[i] & 15) << 4);
    } else {
      for (int i = 0; i < count; i += 8) {
        unsigned byte = 0;
        int n = std::min(8, count - i);
        for (int k = 0; k < n; ++k) byte |= (in[i + k] & 1u) << (7 - k);
        *out++ = static_cast<std::uint8_t>(byte);
      }
    }
  }

  std::uint8_t* pixels_;
  std::int64_t rowBytes_;
  int width_, height_, depth_;
  bool interlaced_;
  int y_ = 0, pass_ = 0;
  std::vector<std::uint8_t> gather_;
};

// The sub-blocks of an LZW chain. The codes are read from the chain in place, one sub-block at
// a time and only when its bits are needed; the zero-length terminator or the end of the data
// ends the codes.
class SubBlocks {
 public:
  SubBlocks(const std::uint8_t* base, std::size_t size, std::size_t start)
      : base_(base), end_(base + size), next_(base + std::min(start, size)) {}

  struct Block {
    const std::uint8_t* data;  // null at the end of the codes
    const std::uint8_t* end;
  };

  // Takes in the next sub-block. A sub-block that is cut short fails with EReadError "Stream
  // read error".
  Block Next() {
    if (ended_ || next_ == end_) return {nullptr, nullptr};
    std::size_t length = *next_++;
    if (length == 0) {
      ended_ = true;
      return {nullptr, nullptr};
    }
    if (length > static_cast<std::size_t>(end_ - next_)) throw tk::EReadError();
    Block block{next_, next_ + length};
    next_ += length;
    return block;
  }

  // The stream position: the end of the last sub-block taken in.
  std::size_t Position() const { return static_cast<std::size_t>(next_ - base_); }
  // The position as a percentage of the stream's size.
  int PercentDone() const {
    return static_cast<int>(Position() * 100 / static_cast<std::size_t>(end_ - base_));
  }

 private:
  const std::uint8_t* base_;
  const std::uint8_t* end_;
  const std::uint8_t* next_;
  bool ended_ = false;
};

// The string table: prefix code and last pixel of each code's string, and the string's length
// (kept for strings built from valid codes only; see Decode).
struct StringTable {
  std::array<std::uint16_t, 4096> prefix{};
  std::array<std::uint8_t, 4096> suffix{};
  std::array<std::uint16_t, 4096> length{};
  std::array<std::uint8_t, 4100> stack{};
};

// An expansion that already holds more stacked pixels than this runs round a cycle.
constexpr int kStackLimit = 4096;

// With kReport, the progress event hears of every step of the decoding loop; without it the
// loop carries no trace of progress at all.
template <bool kReport>
bool Decode(tk::TMemoryStream& data, int width, int height, int rowDepth, bool interlaced,
            int bitDepth, bool tolerate, std::uint8_t* pixels, tk::TGraphic* progress) {
  const std::uint8_t* base = data.Memory();
  const std::size_t size = static_cast<std::size_t>(data.Size());
  const std::size_t start = static_cast<std::size_t>(std::max<std::int64_t>(data.Position(), 0));
  if (start >= size) throw tk::EReadError();  // no code size byte

  bool damaged = false;
  int codeSize = base[start];
  if (codeSize < 2 || codeSize > 9) {
    if (!tolerate) Fail(SCodeSizeRange);
    damaged = true;
    codeSize = std::clamp(codeSize, 2, 9);
  }
  const bool clamped = damaged;
  const unsigned clearCode = 1u << codeSize;
  const unsigned endCode = clearCode + 1;
  const unsigned firstFree = clearCode + 2;
  const unsigned pixelMask = (1u << std::clamp(bitDepth, 1, 8)) - 1;

  // The string table. The codes below ClearCode are their own strings: one pixel, the code
  // masked to the pixel depth.
  auto table = std::make_unique<StringTable>();
  std::uint16_t* const prefix = table->prefix.data();
  std::uint8_t* const suffix = table->suffix.data();
  std::uint16_t* const length = table->length.data();
  std::uint8_t* const stack = table->stack.data();
  for (unsigned c = 0; c < clearCode; ++c) {
    length[c] = 1;
    suffix[c] = static_cast<std::uint8_t>(c & pixelMask);
  }

  // The output position: out within the current row, which ends at rowEnd; out is null once
  // the image is complete.
  PixelRows rows(pixels, width, height, rowDepth, interlaced);
  std::uint8_t* out = rows.FirstRow();
  std::uint8_t* rowEnd = out ? out + width : nullptr;
  auto advance = [&](int n) {  // n pixels were written at out, n <= rowEnd - out
    out += n;
    if (out == rowEnd) {
      out = rows.NextRow();
      rowEnd = out ? out + width : nullptr;
    }
  };
  auto storeRun = [&](const std::uint8_t* p, int n) {  // pixels beyond the last row are dropped
    while (n > 0 && out) {
      int k = std::min<int>(n, static_cast<int>(rowEnd - out));
      std::memcpy(out, p, static_cast<std::size_t>(k));
      p += k;
      n -= k;
      advance(k);
    }
  };

  // FetchCode: the codes are packed least significant bit first; the bits taken in but not yet
  // used wait in an accumulator.
  SubBlocks blocks(base, size, start + 1);
  auto report = [&] {
    if constexpr (kReport)
      progress->Progress(progress, tk::TProgressStage::Running, blocks.PercentDone(), false, {},
                         "");
  };
  const std::uint8_t* in = nullptr;
  const std::uint8_t* inEnd = nullptr;
  std::uint64_t acc = 0;
  int bits = 0;
  int codeWidth = codeSize + 1;
  unsigned codeMask = (1u << codeWidth) - 1;
  auto fetchCode = [&]() -> unsigned {
    while (bits < codeWidth) {
      std::size_t left = static_cast<std::size_t>(inEnd - in);
      if (left >= 8) {
        int take = (63 - bits) >> 3;
        acc |= LoadLE64(in) << bits;
        bits += take * 8;
        in += take;
        acc &= (std::uint64_t{1} << bits) - 1;
      } else if (left > 0) {
        acc |= std::uint64_t{*in++} << bits;
        bits += 8;
      } else {
        SubBlocks::Block block = blocks.Next();
        if (!block.data) return EndOfCodes;
        in = block.data;
        inEnd = block.end;
      }
    }
    unsigned code = static_cast<unsigned>(acc) & codeMask;
    acc >>= codeWidth;
    bits -= codeWidth;
    return code;
  };

  unsigned widthLimit = 1u << codeWidth;
  unsigned nextFree = firstFree;  // the table is full when it reaches 4096
  // The codes below validEnd are strings of the current table built from valid codes only:
  // nextFree, or ClearCode once damaged data has built an entry on a code that was not (then
  // the lengths are no longer known, and until the next ClearCode strings are expanded pixel
  // by pixel with the cycle check). ClearCode and EndCode are never asked about.
  unsigned validEnd = firstFree;
  unsigned previous = 0;
  std::uint8_t firstPixel = 0;

  unsigned code = fetchCode();
  if (code != clearCode && code != endCode && code != EndOfCodes) {
    // Data that does not begin with a ClearCode starts with a fresh table all the same.
    previous = code;
    firstPixel = static_cast<std::uint8_t>(code & pixelMask);
    if (out) {
      *out = firstPixel;
      advance(1);
    }
    code = fetchCode();
  }

  while (code != endCode && code != EndOfCodes && out) {
    if (code == clearCode) {
      codeWidth = codeSize + 1;
      widthLimit = 1u << codeWidth;
      codeMask = widthLimit - 1;
      nextFree = validEnd = firstFree;
      code = fetchCode();
      // A further ClearCode only resets again; an EndCode ends the image.
      if (code == clearCode) {
        report();
        continue;
      }
      previous = code;
      if (code == endCode || code == EndOfCodes) break;
      firstPixel = static_cast<std::uint8_t>(code & pixelMask);
      *out = firstPixel;
      advance(1);
    } else {
      // After a clamped code size only the codes that open a fresh table are stored.
      if (clamped) break;
      unsigned c = code;
      const bool repeat = code >= nextFree;  // not yet in the table: previous string + its first pixel
      if (repeat) c = previous;
      if (c < validEnd) {
        // The length is known: write the string from its last pixel back to its first,
        // straight into the row when it fits, else onto the stack.
        int n = length[c] + (repeat ? 1 : 0);
        const bool direct = n <= rowEnd - out;
        std::uint8_t* p = (direct ? out : stack) + n - 1;
        if (repeat) *p-- = firstPixel;
        while (c >= clearCode) {
          *p-- = suffix[c];
          c = prefix[c];
        }
        *p = firstPixel = suffix[c];
        if (direct) advance(n);
        else storeRun(stack, n);
      } else {
        validEnd = clearCode;
        int sp = 0;
        if (repeat) stack[sp++] = firstPixel;
        while (c >= clearCode) {
          if (sp > kStackLimit) {
            if (!tolerate) Fail(SDataCorrupt);
            damaged = true;
            break;
          }
          stack[sp++] = suffix[c];
          c = prefix[c];
        }
        if (damaged) break;
        stack[sp++] = firstPixel = static_cast<std::uint8_t>(c & pixelMask);
        std::reverse(stack, stack + sp);
        storeRun(stack, sp);
      }
      if (nextFree < 4096) {
        const bool valid = previous < validEnd;
        prefix[nextFree] = static_cast<std::uint16_t>(previous);
        suffix[nextFree] = firstPixel;
        length[nextFree] = valid ? static_cast<std::uint16_t>(length[previous] + 1) : 0;
        ++nextFree;
        validEnd = valid && validEnd != clearCode ? nextFree : clearCode;
        if (nextFree == widthLimit && codeWidth < 12) {
          ++codeWidth;
          widthLimit <<= 1;
          codeMask = widthLimit - 1;
        }
      }
      previous = code;
    }
    code = fetchCode();
    report();
  }

  if (code == EndOfCodes && out) {
    // The data ran out while rows remain: a truncated image.
    if (!tolerate) Fail(tk::SReadError);
    damaged = true;
  }
  if (out) rows.Finish(static_cast<int>(width - (rowEnd - out)));
  data.SetPosition(static_cast<std::int64_t>(blocks.Position()));
  return damaged;
}

}  // namespace

bool DecodePixels(tk::TMemoryStream& data, int width, int height, int rowDepth, bool interlaced,
                  int bitDepth, bool tolerate, std::uint8_t* pixels, tk::TGraphic* progress) {
  if (progress && !progress->OnProgress) progress = nullptr;
  if (progress) progress->Progress(progress, tk::TProgressStage::Starting, 0, false, {}, "");
  bool damaged;
  try {
    damaged = progress ? Decode<true>(data, width, height, rowDepth, interlaced, bitDepth,
                                      tolerate, pixels, progress)
                       : Decode<false>(data, width, height, rowDepth, interlaced, bitDepth,
                                       tolerate, pixels, nullptr);
  } catch (const std::exception& e) {
    if (progress) progress->Progress(progress, tk::TProgressStage::Ending, 0, false, {}, e.what());
    throw;
  }
  if (progress) progress->Progress(progress, tk::TProgressStage::Ending, 100, false, {}, "");
  return damaged;
}

}  // namespace gif

// ---- The frame as a bitmap file image

namespace gif {

namespace {

void PutU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  PutU16(p, v);
  PutU16(p + 2, v >> 16);
}

}  // namespace

void TGIFFrame::DecodeToDIB(tk::TMemoryStream& target) {
  TGIFItem& item = *Encoded;
  const int depth = RowDepthFor(item.BitDepth);
  const std::int64_t rowBytes = tk::DibRowBytes(item.ItemWidth, depth);
  const std::int64_t imageSize = rowBytes * item.ItemHeight;
  if (item.ItemWidth < 0 || item.ItemHeight < 0 || imageSize > MaxPixelBytes)
    throw tk::EInvalidGraphicOperation(
        tk::Format(SImageTooLarge, {std::int64_t{item.ItemWidth}, std::int64_t{item.ItemHeight}}));

  // File header, information header, palette, and the rows decoded in place behind them.
  const std::uint32_t paletteBytes = 4u << depth;
  const std::uint32_t pixelOffset = 54 + paletteBytes;
  target.Clear();
  target.SetSize(pixelOffset + imageSize);
  std::uint8_t* file = target.Memory();
  file[0] = 'B';
  file[1] = 'M';
  PutU32(file + 2, static_cast<std::uint32_t>(pixelOffset + imageSize));
  PutU32(file + 10, pixelOffset);
  PutU32(file + 14, 40);
  PutU32(file + 18, static_cast<std::uint32_t>(item.ItemWidth));
  PutU32(file + 22, static_cast<std::uint32_t>(item.ItemHeight));
  PutU16(file + 26, 1);
  PutU16(file + 28, static_cast<std::uint32_t>(depth));
  PutU32(file + 34, static_cast<std::uint32_t>(imageSize));
  std::uint8_t* palette = file + 54;
  std::memset(palette, 0x80, paletteBytes);
  const int count = std::clamp<int>(item.ColorTable.Count, 0, static_cast<int>(paletteBytes / 4));
  for (int i = 0; i < count; ++i) {
    const auto& entry = item.ColorTable.Entries[static_cast<std::size_t>(i)];
    std::uint8_t* quad = palette + 4 * i;
    quad[0] = entry.Blue;
    quad[1] = entry.Green;
    quad[2] = entry.Red;
    quad[3] = 0;
  }

  tk::TMemoryStream none;
  tk::TMemoryStream& data = item.PixelData ? *item.PixelData : none;
  data.SetPosition(0);
  bool damaged = DecodePixels(data, item.ItemWidth, item.ItemHeight, depth, IsInterlaced, item.BitDepth,
                              TolerateDamage, file + pixelOffset, ParentImage);
  if (damaged) DataDamaged = true;
  target.SetPosition(0);
}

}  // namespace gif
