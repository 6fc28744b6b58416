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

// ---- CodeReader

CodeReader::CodeReader(const std::uint8_t* base, std::size_t size, std::size_t start,
                       tk::TGraphic* progress)
    : base_(base),
      end_(base + size),
      next_(base + std::min(start, size)),
      blockEnd_(next_),
      progress_(progress && progress->OnProgress ? progress : nullptr) {}

namespace {

std::uint64_t LoadLE64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

}  // namespace

bool CodeReader::Refill(int width) {
  while (bits_ < width) {
    std::size_t left = static_cast<std::size_t>(blockEnd_ - next_);
    if (left == 0) {
      // Take in the next sub-block; the terminator or the end of the data ends the codes.
      if (ended_ || next_ == end_) return false;
      unsigned length = *next_++;
      blockEnd_ = next_;
      if (length == 0) {
        ended_ = true;
        return false;
      }
      if (length > static_cast<std::size_t>(end_ - next_)) throw tk::EReadError();
      blockEnd_ = next_ + length;
      if (progress_) {
        int percent = static_cast<int>(Position() * 100 / static_cast<std::size_t>(end_ - base_));
        if (percent != lastPercent_) {
          lastPercent_ = percent;
          progress_->Progress(progress_, tk::TProgressStage::Running, percent, false, {}, "");
        }
      }
      continue;
    }
    if (left >= 8) {
      // Take as many whole bytes as the accumulator holds.
      int take = (63 - bits_) >> 3;
      acc_ |= LoadLE64(next_) << bits_;
      bits_ += take * 8;
      next_ += take;
      acc_ &= (std::uint64_t{1} << bits_) - 1;
    } else {
      acc_ |= std::uint64_t{*next_++} << bits_;
      bits_ += 8;
    }
  }
  return true;
}

namespace {

// Where decoded pixels go: rows of the bottom-up pixel buffer, in plain or interlaced order.
// Rows of depth 8 are written in place; rows of depth 1 and 4 are gathered one byte per pixel
// and packed when they are complete.
class PixelRows {
 public:
  PixelRows(std::uint8_t* pixels, int width, int height, int depth, bool interlaced)
      : pixels_(pixels),
        rowBytes_(RowBytes(width, depth)),
        width_(width),
        height_(width > 0 ? std::max(height, 0) : 0),
        depth_(depth),
        interlaced_(interlaced) {
    if (depth_ < 8) {
      gather_.resize(static_cast<std::size_t>(std::max(width, 0)));
      row_ = gather_.data();
    } else if (height_ > 0) {
      row_ = RowStart(0);
    }
  }

  bool Done() const { return y_ >= height_; }
  int SpaceInRow() const { return width_ - x_; }
  // Where the next pixel goes; valid while not Done.
  std::uint8_t* At() const { return row_ + x_; }
  // Accounts for n pixels written at At(), n <= SpaceInRow().
  void Advance(int n) {
    x_ += n;
    if (x_ == width_) NextRow();
  }
  void Store(std::uint8_t value) {
    row_[x_] = value;
    Advance(1);
  }
  // Stores a run of pixels across rows; pixels beyond the last row are dropped.
  void StoreRun(const std::uint8_t* p, int n) {
    while (n > 0 && !Done()) {
      int k = std::min(n, SpaceInRow());
      std::memcpy(At(), p, static_cast<std::size_t>(k));
      p += k;
      n -= k;
      Advance(k);
    }
  }
  // Packs a row left incomplete when decoding ended.
  void Finish() {
    if (depth_ < 8 && x_ > 0 && !Done()) Pack(x_);
  }

 private:
  std::uint8_t* RowStart(int y) const { return pixels_ + (height_ - 1 - y) * rowBytes_; }

  void NextRow() {
    if (depth_ < 8) Pack(width_);
    y_ = interlaced_ ? NextInterlacedRow(y_, height_, pass_) : y_ + 1;
    x_ = 0;
    if (depth_ == 8 && y_ < height_) row_ = RowStart(y_);
  }

  // Packs the first count gathered pixels into row y_, leftmost pixel in the highest bits.
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
  int x_ = 0, y_ = 0, pass_ = 0;
  std::uint8_t* row_ = nullptr;
  std::vector<std::uint8_t> gather_;
};

// The string table: prefix code and last pixel of each code's string, and the string's length
// (exact for codes whose strings were built from valid codes only; see Decode).
struct StringTable {
  std::array<std::uint16_t, 4096> prefix{};
  std::array<std::uint8_t, 4096> suffix{};
  std::array<std::uint16_t, 4096> length{};
  std::array<std::uint8_t, 4100> stack{};
};

// The stack limit: an expansion that already holds more entries than this is a cycle.
constexpr int kStackLimit = 4096;

[[noreturn]] void Fail(std::string_view message) {
  throw tk::EInvalidGraphicOperation(std::string(message));
}

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
  const unsigned clearCode = 1u << codeSize;
  const unsigned endCode = clearCode + 1;
  const unsigned firstFree = clearCode + 2;
  const unsigned pixelMask = (1u << std::clamp(bitDepth, 1, 8)) - 1;

  auto table = std::make_unique<StringTable>();
  auto& prefix = table->prefix;
  auto& suffix = table->suffix;
  auto& length = table->length;
  std::uint8_t* const stack = table->stack.data();
  for (unsigned c = 0; c < clearCode; ++c) length[c] = 1;

  PixelRows out(pixels, width, height, rowDepth, interlaced);
  CodeReader in(base, size, start + 1, progress);

  int codeWidth = codeSize + 1;
  unsigned widthLimit = 1u << codeWidth;
  unsigned codeMask = widthLimit - 1;
  unsigned nextFree = firstFree;
  bool tableFull = false;
  // Set once a table entry is built on a code that is not a valid string of the current table
  // (only damaged data does that). From then until the next ClearCode, strings are expanded
  // one by one with the cycle check, since their lengths are no longer known.
  bool irregular = false;
  unsigned previous = 0;
  std::uint8_t firstPixel = 0;
  auto regular = [&](unsigned c) {
    return c < clearCode || (!irregular && c >= firstFree && c < nextFree);
  };

  unsigned code = in.FetchCode(codeWidth, codeMask);
  if (code != clearCode && code != endCode && code != EndOfCodes) {
    // Data that does not begin with a ClearCode starts with a fresh table all the same.
    previous = code;
    firstPixel = static_cast<std::uint8_t>(code & pixelMask);
    if (!out.Done()) out.Store(firstPixel);
    code = in.FetchCode(codeWidth, codeMask);
  }

  while (code != endCode && code != EndOfCodes && !out.Done()) {
    if (code == clearCode) {
      codeWidth = codeSize + 1;
      widthLimit = 1u << codeWidth;
      codeMask = widthLimit - 1;
      nextFree = firstFree;
      tableFull = false;
      irregular = false;
      code = in.FetchCode(codeWidth, codeMask);
      // A further ClearCode only resets again; an EndCode ends the image.
      if (code == clearCode) continue;
      previous = code;
      if (code == endCode || code == EndOfCodes) break;
      firstPixel = static_cast<std::uint8_t>(code & pixelMask);
      out.Store(firstPixel);
    } else {
      // After a clamped code size only the codes that open a fresh table are stored.
      if (damaged) break;
      unsigned c = code;
      bool repeat = code >= nextFree;  // not yet in the table: previous string + its first pixel
      if (repeat) c = previous;
      if (regular(c)) {
        // The length is known: write the string from its last pixel back to its first,
        // straight into the row when it fits, else onto the stack.
        int n = length[c] + (repeat ? 1 : 0);
        bool direct = n <= out.SpaceInRow();
        std::uint8_t* first = direct ? out.At() : stack;
        std::uint8_t* p = first + n - 1;
        if (repeat) *p-- = firstPixel;
        while (c >= clearCode) {
          *p-- = suffix[c];
          c = prefix[c];
        }
        *p = firstPixel = static_cast<std::uint8_t>(c & pixelMask);
        if (direct) out.Advance(n);
        else out.StoreRun(stack, n);
      } else {
        irregular = true;
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
        out.StoreRun(stack, sp);
      }
      if (!tableFull) {
        if (!regular(previous)) irregular = true;
        prefix[nextFree] = static_cast<std::uint16_t>(previous);
        suffix[nextFree] = firstPixel;
        length[nextFree] = irregular ? 0 : static_cast<std::uint16_t>(length[previous] + 1);
        if (++nextFree == widthLimit) {
          if (codeWidth < 12) {
            ++codeWidth;
            widthLimit <<= 1;
            codeMask = widthLimit - 1;
          } else {
            tableFull = true;
          }
        }
      }
      previous = code;
    }
    code = in.FetchCode(codeWidth, codeMask);
  }

  if (code == EndOfCodes && !out.Done()) {
    // The data ran out while rows remain: a truncated image.
    if (!tolerate) Fail(tk::SReadError);
    damaged = true;
  }
  out.Finish();
  data.SetPosition(static_cast<std::int64_t>(in.Position()));
  return damaged;
}

}  // namespace

bool DecodePixels(tk::TMemoryStream& data, int width, int height, int rowDepth, bool interlaced,
                  int bitDepth, bool tolerate, std::uint8_t* pixels, tk::TGraphic* progress) {
  if (progress && !progress->OnProgress) progress = nullptr;
  if (progress) progress->Progress(progress, tk::TProgressStage::Starting, 0, false, {}, "");
  bool damaged;
  try {
    damaged = Decode(data, width, height, rowDepth, interlaced, bitDepth, tolerate, pixels, progress);
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
  const std::int64_t rowBytes = RowBytes(item.ItemWidth, depth);
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
