// The LZW decoder as it was before its decoding function was split and its table zero-filled
// only as far as the codes reach, kept here only as the reference of the differential fuzzer.
#include "fuzz/gif/reference_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "gif/decoder.h"
#include "gif/gif.h"
#include "toolkit/core/bytes.h"

namespace gif_reference {

using namespace gif;

namespace {

using tk::Load64;
using tk::Store64;

[[noreturn]] void Fail(std::string_view message) {
  throw tk::EInvalidGraphicOperation(std::string(message));
}

// An expansion that already holds more stacked pixels than this runs round a cycle.
constexpr int kStackLimit = 4096;

// Where decoded pixels go. The decoder writes one byte per pixel, in the order of the data,
// into a band of rows; a step of the decoder writes at most kStepBytes bytes (a string and the
// bytes beyond it that whole-word stores touch). When the band has filled up to FlushAt, Flush
// moves its complete rows to their places in the bottom-up pixel buffer, in plain or interlaced
// order and packed to 1 or 4 bits, and keeps the row begun.
class PixelRows {
 public:
  static constexpr std::size_t kStepBytes = kStackLimit + 16;

  PixelRows(std::uint8_t* pixels, int width, int height, int depth, bool interlaced)
      : pixels_(pixels),
        rowBytes_(tk::DibRowBytes(width, depth)),
        width_(static_cast<std::size_t>(std::max(width, 0))),
        height_(width > 0 ? std::max(height, 0) : 0),
        depth_(depth),
        interlaced_(interlaced),
        rowsLeft_(static_cast<std::size_t>(height_)),
        bandBytes_(std::max<std::size_t>(width_, kBandBytes)),
        band_(std::make_unique_for_overwrite<std::uint8_t[]>(bandBytes_ + kStepBytes)) {
    SetFlushPoint();
  }

  std::uint8_t* Begin() const { return band_.get(); }
  // Where the next flush is due: when the band is full, or the image complete if that is sooner.
  const std::uint8_t* FlushAt() const { return flushAt_; }
  bool Complete() const { return rowsLeft_ == 0; }

  // Moves the complete rows of the band [Begin, out) to the pixel buffer; the new write position.
  std::uint8_t* Flush(std::uint8_t* out) {
    if (Complete()) return out;
    const std::uint8_t* in = band_.get();
    std::size_t rows = std::min(static_cast<std::size_t>(out - in) / width_, rowsLeft_);
    for (; rows > 0; --rows, in += width_) {
      Put(in, width_);
      y_ = interlaced_ ? gif::NextInterlacedRow(y_, height_, pass_) : y_ + 1;
      --rowsLeft_;
    }
    std::size_t rest = rowsLeft_ > 0 ? static_cast<std::size_t>(out - in) : 0;
    std::memmove(band_.get(), in, rest);
    SetFlushPoint();
    return band_.get() + rest;
  }

  // Moves what was decoded when decoding ended early: the complete rows, and the pixels of the
  // row begun when partial is set.
  void Finish(std::uint8_t* out, bool partial) {
    out = Flush(out);
    if (Complete()) return;
    std::size_t count = static_cast<std::size_t>(out - band_.get());
    if (partial && count > 0) Put(band_.get(), count);
  }

 private:
  // Bytes of the band before a flush is due (at least one row).
  static constexpr std::size_t kBandBytes = 16384;

  void SetFlushPoint() {
    flushAt_ = band_.get() + (rowsLeft_ > bandBytes_ / std::max<std::size_t>(width_, 1)
                                  ? bandBytes_
                                  : rowsLeft_ * width_);
  }

  // Writes count pixels into row y_, packed to the row depth, the leftmost pixel in the highest
  // bits.
  void Put(const std::uint8_t* in, std::size_t count) {
    std::uint8_t* out = pixels_ + (height_ - 1 - y_) * rowBytes_;
    if (depth_ == 8) {
      std::memcpy(out, in, count);
    } else if (depth_ == 4) {
      std::size_t i = 0;
      for (; i + 1 < count; i += 2)
        *out++ = static_cast<std::uint8_t>((in[i] & 15) << 4 | (in[i + 1] & 15));
      if (i < count) *out = static_cast<std::uint8_t>((in[i] & 15) << 4);
    } else {
      for (std::size_t i = 0; i < count; i += 8) {
        unsigned byte = 0;
        std::size_t n = std::min<std::size_t>(8, count - i);
        for (std::size_t k = 0; k < n; ++k) byte |= (in[i + k] & 1u) << (7 - k);
        *out++ = static_cast<std::uint8_t>(byte);
      }
    }
  }

  std::uint8_t* pixels_;
  std::int64_t rowBytes_;
  std::size_t width_;
  int height_, depth_;
  bool interlaced_;
  int y_ = 0, pass_ = 0;
  std::size_t rowsLeft_;
  std::size_t bandBytes_;
  std::unique_ptr<std::uint8_t[]> band_;
  const std::uint8_t* flushAt_ = nullptr;
};

// The sub-blocks of an LZW chain, found in the data one at a time as their bits are needed; the
// zero-length terminator or the end of the data ends the codes.
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

// An entry of the string table. prefix and suffix are the table of the code stream: the code of
// the string without its last pixel, and that pixel. The rest describes strings built from valid
// codes only (see Decode), so that they are written without walking the prefixes pixel by
// pixel: a string is the string of its head, a multiple of 8 pixels long, followed by its tail,
// its last ((length - 1) mod 8) + 1 pixels (the first in the lowest byte, 0 above them).
struct Entry {
  std::uint64_t tail;
  std::uint16_t head;
  std::uint16_t length;
  std::uint16_t prefix;
  std::uint8_t suffix;
  std::uint8_t first;  // the string's first pixel
};

// Writes the string of a valid entry at out, and up to 7 bytes beyond it; returns its end.
inline std::uint8_t* WriteString(const Entry* table, unsigned code, std::uint8_t* out) {
  const Entry* e = &table[code];
  const unsigned n = e->length;
  std::uint8_t* p = out + (n - 1 - ((n - 1) & 7));
  Store64(p, e->tail);
  while (p != out) {
    e = &table[e->head];
    p -= 8;
    Store64(p, e->tail);
  }
  return out + n;
}

// Sets a new entry: the string of previous (a valid entry when valid is set) and the pixel.
inline void SetEntry(Entry* table, unsigned code, unsigned previous, std::uint8_t pixel,
                     bool valid) {
  Entry& e = table[code];
  e.prefix = static_cast<std::uint16_t>(previous);
  e.suffix = pixel;
  if (!valid) return;
  const Entry& p = table[previous];
  const unsigned length = p.length;
  const unsigned used = length & 7;  // pixels in the previous tail when it has room for one more
  e.length = static_cast<std::uint16_t>(length + 1);
  e.first = p.first;
  e.tail = (used ? p.tail : 0) | std::uint64_t{pixel} << 8 * used;
  e.head = used ? p.head : static_cast<std::uint16_t>(previous);
}

// With kReport, the progress event hears of every step of the decoding loop; without it the
// loop carries no trace of progress at all.
template <bool kReport>
bool Decode(tk::TMemoryStream& data, int width, int height, int rowDepth, bool interlaced,
            int bitDepth, bool tolerate, std::uint8_t* pixels, tk::TGraphic* progress) {
  const std::uint8_t* base = data.Bytes().data();
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

  // The string table, zero-filled. The codes below ClearCode are their own strings: one pixel,
  // the code masked to the pixel depth.
  auto entries = std::make_unique<Entry[]>(4096);
  Entry* const table = entries.get();
  for (unsigned c = 0; c < clearCode; ++c) {
    table[c].tail = table[c].first = static_cast<std::uint8_t>(c & pixelMask);
    table[c].length = 1;
  }
  std::array<std::uint8_t, kStackLimit + 2> stack;

  PixelRows rows(pixels, width, height, rowDepth, interlaced);
  std::uint8_t* out = rows.Begin();
  const std::uint8_t* flushAt = rows.FlushAt();
  bool complete = rows.Complete();
  auto flush = [&] {
    out = rows.Flush(out);
    flushAt = rows.FlushAt();
    complete = rows.Complete();
  };

  // FetchCode: the codes are packed least significant bit first into the data bytes of the
  // sub-blocks. A sub-block is taken in only when the bits in the buffer run short of a code:
  // the bytes not yet used (at most 3) move to the front and the sub-block's bytes follow them.
  // A code is read with one word load; the buffer has room for a word beyond its last byte.
  SubBlocks blocks(base, size, start + 1);
  auto report = [&] {
    if constexpr (kReport)
      progress->Progress(progress, tk::TProgressStage::Running, blocks.PercentDone(), false, {},
                         "");
  };
  std::array<std::uint8_t, 3 + 255 + 8> buffer{};
  std::size_t position = 0;  // in bits
  std::size_t valid = 0;     // bits in the buffer
  int codeWidth = codeSize + 1;
  unsigned codeMask = (1u << codeWidth) - 1;
  auto fetchCode = [&]() -> unsigned {
    while (position + codeWidth > valid) [[unlikely]] {
        const SubBlocks::Block block = blocks.Next();
        if (!block.data) return EndOfCodes;
        const std::size_t used = position / 8;
        Store64(buffer.data(), Load64(buffer.data() + used));
        position %= 8;
        valid -= 8 * used;
        const std::size_t length = static_cast<std::size_t>(block.end - block.data);
        std::memcpy(buffer.data() + valid / 8, block.data, length);
        valid += 8 * length;
      }
    const unsigned code =
        static_cast<unsigned>(Load64(buffer.data() + position / 8) >> position % 8) & codeMask;
    position += codeWidth;
    return code;
  };

  unsigned nextFree = firstFree;  // the table is full when it reaches 4096
  auto addEntry = [&](unsigned previous, std::uint8_t pixel, bool valid) {
    SetEntry(table, nextFree, previous, pixel, valid);
    ++nextFree;
    if (nextFree > codeMask && codeWidth < 12) {
      ++codeWidth;
      codeMask = codeMask * 2 + 1;
    }
  };
  // The codes below validEnd are strings of the current table built from valid codes only:
  // nextFree, or ClearCode once damaged data has built an entry on a code that was not (then
  // until the next ClearCode strings are expanded pixel by pixel with the cycle check).
  // ClearCode and EndCode are never asked about.
  unsigned validEnd = firstFree;
  // The codes below fastEnd take the plain path: the table is valid and so is the previous
  // code; the code after the last entry is among them.
  unsigned fastEnd = 0;
  unsigned previous = 0;
  std::uint8_t firstPixel = 0;

  unsigned code = EndOfCodes;
  try {
    code = fetchCode();
    if (code != clearCode && code != endCode && code != EndOfCodes) {
      // Data that does not begin with a ClearCode starts with a fresh table all the same.
      previous = code;
      firstPixel = static_cast<std::uint8_t>(code & pixelMask);
      if (!complete) {
        *out++ = firstPixel;
        if (out >= flushAt) flush();
      }
      if (!clamped && previous < validEnd) fastEnd = nextFree + 1;
      code = fetchCode();
    }

    while (code != endCode && code != EndOfCodes && !complete) {
      if (code < fastEnd && code - clearCode >= 2) {
        // The plain path, in a loop of its own: the new entry is the previous string and the
        // first pixel of this one, whose string is then written from its tails. The code after
        // the last entry is the previous string and that string's first pixel.
        do {
          if (nextFree < 4096)
            addEntry(previous, table[code < nextFree ? code : previous].first, true);
          out = WriteString(table, code, out);
          previous = code;
          if (out >= flushAt) [[unlikely]] {
            flush();
            if (complete) break;
          }
          code = fetchCode();
          report();
        } while (code <= nextFree && code - clearCode >= 2);
        if (complete) {
          code = fetchCode();
          report();
        }
        firstPixel = table[previous].first;
        validEnd = nextFree;
        fastEnd = nextFree + 1;
        continue;
      }
      if (code == clearCode) {
        codeWidth = codeSize + 1;
        codeMask = (1u << codeWidth) - 1;
        nextFree = validEnd = firstFree;
        fastEnd = 0;
        code = fetchCode();
        // A further ClearCode only resets again; an EndCode ends the image.
        if (code == clearCode) {
          report();
          continue;
        }
        previous = code;
        if (code == endCode || code == EndOfCodes) break;
        firstPixel = static_cast<std::uint8_t>(code & pixelMask);
        *out++ = firstPixel;
        if (!clamped && previous < validEnd) fastEnd = nextFree + 1;
      } else {
        // After a clamped code size only the codes that open a fresh table are stored.
        if (clamped) break;
        unsigned c = code;
        const bool repeat =
            code >= nextFree;  // not yet in the table: previous string + its first pixel
        if (repeat) c = previous;
        if (c < validEnd) {
          out = WriteString(table, c, out);
          if (repeat) *out++ = firstPixel;
          firstPixel = table[c].first;
        } else {
          // Damaged data: pixel by pixel through the prefixes, watching for a cycle.
          validEnd = clearCode;
          int sp = 0;
          if (repeat) stack[sp++] = firstPixel;
          while (c >= clearCode) {
            if (sp > kStackLimit) {
              if (!tolerate) Fail(SDataCorrupt);
              damaged = true;
              break;
            }
            stack[sp++] = table[c].suffix;
            c = table[c].prefix;
          }
          if (damaged) break;
          stack[sp++] = firstPixel = static_cast<std::uint8_t>(c & pixelMask);
          out = std::reverse_copy(stack.begin(), stack.begin() + sp, out);
        }
        if (nextFree < 4096) {
          const bool valid = previous < validEnd;
          addEntry(previous, firstPixel, valid);
          validEnd = valid && validEnd != clearCode ? nextFree : clearCode;
        }
        previous = code;
        fastEnd = validEnd == nextFree && previous < validEnd ? nextFree + 1 : 0;
      }
      if (out >= flushAt) flush();
      code = fetchCode();
      report();
    }
  } catch (...) {
    // What was decoded stays: the complete rows, and the row begun at 8 bits per pixel.
    rows.Finish(out, rowDepth == 8);
    throw;
  }

  if (code == EndOfCodes && !complete) {
    // The data ran out while rows remain: a truncated image.
    if (!tolerate) {
      rows.Finish(out, rowDepth == 8);
      Fail(tk::SReadError);
    }
    damaged = true;
  }
  rows.Finish(out, true);
  data.SetPosition(static_cast<std::int64_t>(blocks.Position()));
  return damaged;
}

}  // namespace

bool DecodePixels(tk::TMemoryStream& data, int width, int height, int rowDepth, bool interlaced,
                  int bitDepth, bool tolerate, std::uint8_t* pixels) {
  return Decode<false>(data, width, height, rowDepth, interlaced, bitDepth, tolerate, pixels,
                       nullptr);
}

}  // namespace gif_reference
