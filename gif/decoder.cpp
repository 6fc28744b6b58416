#include "gif/decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "gif/gif.h"
#include "toolkit/core/bytes.h"
#include "toolkit/device/bmpfile.h"

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

void ReadStreamAt(tk::TStream& stream, std::int64_t offset, void* out, std::size_t count) {
  if (stream.Seek(offset, tk::SeekOrigin::Beginning) != offset || stream.Read(out, count) != count)
    throw tk::EReadError(tk::Reason{"fewer than " + std::to_string(count) + " bytes at offset " +
                                    std::to_string(offset) + ": the file changed while it was read"});
}

namespace {

using tk::Load64;
using tk::Store64;

[[noreturn]] void Fail(std::string_view message) {
  throw tk::EInvalidGraphicOperation(std::string(message));
}

// An expansion that already holds more stacked pixels than this runs round a cycle.
// Quirk: a code beyond the next free code is taken as the next free code would be (the previous
// string and its first pixel), as other decoders do; the entries built on it may form a cycle,
// which ends the frame as damaged when tolerating damage and fails with "GIF encoded data is
// corrupt" otherwise. Tests: Damage.CycleInTheTable, Lzw.TableCodesOfAWideTableWithSmallCodeSize.
constexpr int kStackLimit = 4096;

// The code sizes of the format. Quirk: when tolerating damage, a code size outside them is
// brought into them and the frame is marked damaged; only the codes that open a fresh table are
// stored then. Test: Damage.CodeSizeOutOfRange.
constexpr int kMinCodeSize = 2;
constexpr int kMaxCodeSize = 9;

// Where decoded pixels go. The decoder writes one byte per pixel, in the order of the data,
// into a band of rows; a step of the decoder writes at most kStepBytes bytes (a string and the
// bytes beyond it that whole-word stores touch). When the band has filled up to FlushAt, Flush
// moves its complete rows to their places in the rows of the view, in plain or interlaced order
// and packed to the view's depth (1, 4 or 8 bits), and keeps the row begun.
class PixelRows {
 public:
  static constexpr std::size_t kStepBytes = kStackLimit + 16;  // kTailPixels

  PixelRows(const tk::PixelView& rows, bool interlaced, const RowDone& rowDone)
      : rows_(rows),
        rowDone_(rowDone),
        width_(static_cast<std::size_t>(std::max(rows.width, 0))),
        height_(rows.width > 0 ? std::max(rows.height, 0) : 0),
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

  // Moves the complete rows of the band [Begin, out) to the view; the new write position.
  std::uint8_t* Flush(std::uint8_t* out) {
    if (Complete()) return out;
    const std::uint8_t* in = band_.get();
    std::size_t rows = std::min(static_cast<std::size_t>(out - in) / width_, rowsLeft_);
    for (; rows > 0; --rows, in += width_) {
      Put(in, width_);
      y_ = interlaced_ ? NextInterlacedRow(y_, height_, pass_) : y_ + 1;
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
    if (!partial || count == 0) return;
    // A view whose rows share one buffer holds the last row put: the pixels not reached are 0.
    if (rowDone_) std::memset(rows_.Row(y_), 0, rows_.PixelBytes());
    Put(band_.get(), count);
  }

 private:
  // Bytes of the band before a flush is due (at least one row).
  static constexpr std::size_t kBandBytes = 16384;

  void SetFlushPoint() {
    flushAt_ = band_.get() + (rowsLeft_ > bandBytes_ / std::max<std::size_t>(width_, 1)
                                  ? bandBytes_
                                  : rowsLeft_ * width_);
  }

  // Writes count pixels into row y_ of the view, and hands the row on.
  void Put(const std::uint8_t* in, std::size_t count) {
    tk::PackIndices(rows_.Row(y_), rows_.bitsPerPixel, 0, static_cast<int>(count), in);
    if (rowDone_) rowDone_(y_);
  }

  tk::PixelView rows_;
  const RowDone& rowDone_;
  std::size_t width_;
  int height_;
  bool interlaced_;
  int y_ = 0, pass_ = 0;
  std::size_t rowsLeft_;
  std::size_t bandBytes_;
  std::unique_ptr<std::uint8_t[]> band_;
  const std::uint8_t* flushAt_ = nullptr;
};

// Where a frame's pixels are only counted: what telling damaged data apart needs, without a
// pixel buffer. The image is complete at the step where its count of pixels is reached, as with
// PixelRows; the positions are pixel counts since the last flush instead of band addresses.
class PixelCount {
 public:
  PixelCount(int width, int height)
      : left_(width > 0 && height > 0 ? std::uint64_t(width) * std::uint64_t(height) : 0) {}

  std::size_t Begin() const { return 0; }
  std::size_t FlushAt() const { return static_cast<std::size_t>(std::min<std::uint64_t>(left_, kStep)); }
  bool Complete() const { return left_ == 0; }
  std::size_t Flush(std::size_t out) {
    left_ -= std::min<std::uint64_t>(out, left_);
    return 0;
  }
  void Finish(std::size_t, bool) {}

 private:
  // Pixels counted between flushes, so that a count never overflows.
  static constexpr std::uint64_t kStep = std::uint64_t{1} << 30;
  std::uint64_t left_;
};

// The code size byte and the sub-blocks of an LZW chain, found in the data one at a time as
// their bits are needed; the zero-length terminator or the end of the data ends the codes. The
// data lies in memory, or in a stream, from which a buffer is refilled whenever less than a
// whole sub-block is left in it: each byte of the stream is read once, and never one beyond the
// data's size.
class SubBlocks {
 public:
  // The bytes in memory from start on.
  SubBlocks(const std::uint8_t* base, std::size_t size, std::size_t start)
      : base_(base), end_(base + size), next_(base + std::min(start, size)), size_(size) {}
  // size bytes of the stream from offset on.
  SubBlocks(tk::TStream& stream, std::int64_t offset, std::uint64_t size)
      : size_(size),
        stream_(&stream),
        streamAt_(offset),
        streamLeft_(size),
        capacity_(static_cast<std::size_t>(std::min<std::uint64_t>(size, kBufferBytes))),
        buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity_)) {
    base_ = end_ = next_ = buffer_.get();
  }

  struct Block {
    const std::uint8_t* data;  // null at the end of the codes
    const std::uint8_t* end;
  };

  // The code size byte before the sub-blocks; fails with EReadError "Stream read error" when
  // the data holds none.
  std::uint8_t CodeSize() {
    if (next_ == end_ && streamLeft_ > 0) Refill();
    if (next_ == end_) throw tk::EReadError();
    return *next_++;
  }

  // Takes in the next sub-block; its bytes stay in place until the next call. A sub-block that
  // is cut short fails with EReadError "Stream read error".
  Block Next() {
    if (ended_) return {nullptr, nullptr};
    if (static_cast<std::size_t>(end_ - next_) < kMaxSubBlock && streamLeft_ > 0) [[unlikely]]
      Refill();
    if (next_ == end_) return {nullptr, nullptr};
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

  // The position: the end of the last sub-block taken in, counted from the start of the data
  // in memory or from the offset in the stream.
  std::uint64_t Position() const { return passed_ + static_cast<std::uint64_t>(next_ - base_); }
  // The position as a percentage of the data's size.
  int PercentDone() const { return size_ == 0 ? 100 : static_cast<int>(Position() * 100 / size_); }

 private:
  // A length byte and the most bytes it announces.
  static constexpr std::size_t kMaxSubBlock = 256;
  // Bytes read from a stream at once.
  static constexpr std::size_t kBufferBytes = 65536;

  // Moves the bytes not yet taken in to the front of the buffer and fills the rest from the
  // stream, as far as the data goes.
  void Refill() {
    const std::size_t rest = static_cast<std::size_t>(end_ - next_);
    passed_ += static_cast<std::uint64_t>(next_ - base_);
    std::memmove(buffer_.get(), next_, rest);
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(capacity_ - rest, streamLeft_));
    ReadStreamAt(*stream_, streamAt_, buffer_.get() + rest, count);
    streamAt_ += static_cast<std::int64_t>(count);
    streamLeft_ -= count;
    next_ = buffer_.get();
    end_ = next_ + rest + count;
  }

  const std::uint8_t* base_ = nullptr;  // the data in memory, or the buffer
  const std::uint8_t* end_ = nullptr;
  const std::uint8_t* next_ = nullptr;
  std::uint64_t passed_ = 0;  // bytes of the data before base_
  std::uint64_t size_;
  bool ended_ = false;
  // A stream's data: where the next bytes are read, and how many remain to be read.
  tk::TStream* stream_ = nullptr;
  std::int64_t streamAt_ = 0;
  std::uint64_t streamLeft_ = 0;
  std::size_t capacity_ = 0;
  std::unique_ptr<std::uint8_t[]> buffer_;
};

// FetchCode: the codes are packed least significant bit first into the data bytes of the
// sub-blocks. A sub-block is taken in only when the bits in the buffer run short of a code: the
// bytes not yet used (at most 3) move to the front and the sub-block's bytes follow them. A code
// is read with one word load; the buffer has room for a word beyond its last byte.
// The buffer is the caller's and the refill a function apart, so that the reader itself is
// only pointers and counters: nothing takes its address, and the compiler keeps the counters in
// registers through the decoding loop instead of storing and reloading them at every code.
class CodeReader {
 public:
  static constexpr std::size_t kBufferBytes = 3 + 255 + 8;
  using Buffer = std::array<std::uint8_t, kBufferBytes>;

  CodeReader(SubBlocks& blocks, Buffer& buffer) : blocks_(&blocks), buffer_(buffer.data()) {}

  // The next code of the given width, or EndOfCodes when the data holds no further code.
  unsigned Fetch(int width, unsigned mask) {
    if (position_ + width > valid_) [[unlikely]] {
      const Bits bits = Refill(*blocks_, buffer_, {position_, valid_}, width);
      position_ = bits.position;
      valid_ = bits.valid;
      if (position_ + width > valid_) return EndOfCodes;
    }
    const unsigned code =
        static_cast<unsigned>(Load64(buffer_ + position_ / 8) >> position_ % 8) & mask;
    position_ += width;
    return code;
  }

  int PercentDone() const { return blocks_->PercentDone(); }

 private:
  struct Bits {
    std::size_t position;  // in bits
    std::size_t valid;     // bits in the buffer
  };

  // Takes in sub-blocks until the buffer holds width bits beyond the position, or the data ends.
  [[gnu::noinline]] static Bits Refill(SubBlocks& blocks, std::uint8_t* buffer, Bits bits,
                                       int width) {
    while (bits.position + width > bits.valid) {
      const SubBlocks::Block block = blocks.Next();
      if (!block.data) break;
      const std::size_t used = bits.position / 8;
      Store64(buffer, Load64(buffer + used));
      bits.position %= 8;
      bits.valid -= 8 * used;
      const std::size_t length = static_cast<std::size_t>(block.end - block.data);
      std::memcpy(buffer + bits.valid / 8, block.data, length);
      bits.valid += 8 * length;
    }
    return bits;
  }

  SubBlocks* blocks_;
  std::uint8_t* buffer_;
  std::size_t position_ = 0;
  std::size_t valid_ = 0;
};

// An entry of the string table. prefix and suffix are the table of the code stream: the code of
// the string without its last pixel, and that pixel. The rest describes strings built from valid
// codes only (see Decode), so that they are written without walking the prefixes pixel by
// pixel: a string is the string of its head, a multiple of kTailPixels pixels long, followed by
// its tail, its last ((length - 1) mod kTailPixels) + 1 pixels (0 above them). A long string is
// written kTailPixels pixels per entry loaded.
constexpr unsigned kTailPixels = 16;
struct Entry {
  std::array<std::uint8_t, kTailPixels> tail;
  std::uint16_t head;
  std::uint16_t length;
  std::uint16_t prefix;
  std::uint8_t suffix;
  std::uint8_t first;  // the string's first pixel
};

// Writes the string of a valid entry at out, and up to kTailPixels - 1 bytes beyond it; returns
// its end.
inline std::uint8_t* WriteString(const Entry* table, unsigned code, std::uint8_t* out) {
  const Entry* e = &table[code];
  const unsigned n = e->length;
  std::uint8_t* p = out + (n - 1 - ((n - 1) % kTailPixels));
  std::memcpy(p, e->tail.data(), kTailPixels);
  while (p != out) {
    e = &table[e->head];
    p -= kTailPixels;
    std::memcpy(p, e->tail.data(), kTailPixels);
  }
  return out + n;
}
// Counting only: the string's length.
inline std::size_t WriteString(const Entry* table, unsigned code, std::size_t out) {
  return out + table[code].length;
}

inline void Put(std::uint8_t*& out, std::uint8_t pixel) { *out++ = pixel; }
inline void Put(std::size_t& out, std::uint8_t) { ++out; }

// The stacked pixels of an expansion, last pixel first, written in their order.
inline std::uint8_t* PutReversed(const std::uint8_t* stack, int count, std::uint8_t* out) {
  return std::reverse_copy(stack, stack + count, out);
}
inline std::size_t PutReversed(const std::uint8_t*, int count, std::size_t out) {
  return out + static_cast<std::size_t>(count);
}

// The string table of one frame: 4096 entries, the next free code and the code width. The codes
// below ClearCode are their own strings: one pixel, the code masked to the pixel depth. Codes are
// never above the code mask, nor are the prefixes stored (they are earlier codes), so only the
// entries up to the widest mask so far can be read: they are zero-filled as the width grows, not
// all 4096 for every frame, and a damaged table reads what a zero-filled one would.
class StringTable {
 public:
  StringTable(int codeSize, unsigned pixelMask)
      : entries_(std::make_unique_for_overwrite<Entry[]>(4096)),
        codeSize_(codeSize),
        clearCode_(1u << codeSize),
        firstFree_(clearCode_ + 2) {
    Reset();
    Entry* const table = entries_.get();
    for (unsigned c = 0; c < clearCode_; ++c) {
      table[c].tail[0] = table[c].first = static_cast<std::uint8_t>(c & pixelMask);
      table[c].length = 1;
    }
  }

  const Entry* Entries() const { return entries_.get(); }
  const Entry& operator[](unsigned code) const { return entries_[code]; }
  unsigned ClearCode() const { return clearCode_; }
  unsigned FirstFree() const { return firstFree_; }
  unsigned NextFree() const { return nextFree_; }
  bool Full() const { return nextFree_ >= 4096; }
  int Width() const { return width_; }
  unsigned Mask() const { return mask_; }

  // A ClearCode: the first free code and the initial width again.
  void Reset() {
    width_ = codeSize_ + 1;
    mask_ = (1u << width_) - 1;
    nextFree_ = firstFree_;
    Reach(mask_);
  }

  // Sets the next free entry to the string of previous (a valid entry when valid is set) and the
  // pixel, and widens the codes when the width's last code was assigned.
  void Add(unsigned previous, std::uint8_t pixel, bool valid) {
    Entry* const table = entries_.get();
    Entry& e = table[nextFree_];
    e.prefix = static_cast<std::uint16_t>(previous);
    e.suffix = pixel;
    if (valid) {
      const Entry& p = table[previous];
      const unsigned length = p.length;
      // Pixels in the previous tail when it has room for one more.
      const unsigned used = length % kTailPixels;
      e.length = static_cast<std::uint16_t>(length + 1);
      e.first = p.first;
      e.tail = used ? p.tail : decltype(e.tail){};
      e.tail[used] = pixel;
      e.head = used ? p.head : static_cast<std::uint16_t>(previous);
    }
    ++nextFree_;
    if (nextFree_ > mask_ && width_ < 12) [[unlikely]] {
      ++width_;
      mask_ = mask_ * 2 + 1;
      Reach(mask_);
    }
  }

 private:
  // Zero-fills the entries up to code `last` that are not yet.
  void Reach(unsigned last) {
    if (last < reached_) return;
    std::memset(static_cast<void*>(entries_.get() + reached_), 0, (last + 1 - reached_) * sizeof(Entry));
    reached_ = last + 1;
  }

  std::unique_ptr<Entry[]> entries_;
  const int codeSize_;
  const unsigned clearCode_, firstFree_;
  unsigned nextFree_ = 0;
  int width_ = 0;
  unsigned mask_ = 0;
  unsigned reached_ = 0;  // the entries below are zero-filled or set
};

// Damaged data: the string of code c expanded pixel by pixel through the prefixes onto the
// stack, last pixel first, after the pixel already there (the first pixel of a repeat); an
// expansion that needs more than 4096 stacked pixels runs round a cycle. Returns the stacked
// count, or 0 for a cycle when tolerate is set (without it, fails with "GIF encoded data is
// corrupt").
int ExpandDamaged(const StringTable& table, unsigned c, std::uint8_t* stack, int sp,
                  unsigned pixelMask, bool tolerate) {
  while (c >= table.ClearCode()) {
    if (sp > kStackLimit) {
      if (!tolerate) Fail(SDataCorrupt);
      return 0;
    }
    stack[sp++] = table[c].suffix;
    c = table[c].prefix;
  }
  stack[sp++] = static_cast<std::uint8_t>(c & pixelMask);
  return sp;
}

// The decoding loop, into Rows: PixelRows stores the pixels, PixelCount only counts them. With
// kReport, the progress event hears of every step of the loop; without it the loop carries no
// trace of progress at all.
template <bool kReport, class Rows>
bool Decode(SubBlocks& blocks, bool tolerate, int bitDepth, Rows& rows, bool partialRow,
            tk::TGraphic* progress) {
  bool damaged = false;
  int codeSize = blocks.CodeSize();
  if (codeSize < kMinCodeSize || codeSize > kMaxCodeSize) {
    if (!tolerate) Fail(SCodeSizeRange);
    damaged = true;
    codeSize = std::clamp(codeSize, kMinCodeSize, kMaxCodeSize);
  }
  const bool clamped = damaged;
  const unsigned pixelMask = (1u << std::clamp(bitDepth, 1, 8)) - 1;
  StringTable table(codeSize, pixelMask);
  const unsigned clearCode = table.ClearCode();
  const unsigned endCode = clearCode + 1;
  std::array<std::uint8_t, kStackLimit + 2> stack;

  auto out = rows.Begin();
  auto flushAt = rows.FlushAt();
  bool complete = rows.Complete();
  auto flush = [&] {
    out = rows.Flush(out);
    flushAt = rows.FlushAt();
    complete = rows.Complete();
  };

  CodeReader::Buffer codeBuffer{};
  CodeReader reader(blocks, codeBuffer);
  auto fetch = [&] { return reader.Fetch(table.Width(), table.Mask()); };
  auto report = [&] {
    if constexpr (kReport)
      progress->Progress(progress, tk::TProgressStage::Running, reader.PercentDone(), false, {},
                         "");
  };

  // The codes below validEnd are strings of the current table built from valid codes only:
  // the next free code, or ClearCode once damaged data has built an entry on a code that was not
  // (then until the next ClearCode strings are expanded pixel by pixel with the cycle check).
  // ClearCode and EndCode are never asked about.
  unsigned validEnd = table.FirstFree();
  // The codes below fastEnd take the plain path: the table is valid and so is the previous
  // code; the code after the last entry is among them.
  unsigned fastEnd = 0;
  unsigned previous = 0;
  std::uint8_t firstPixel = 0;

  unsigned code = EndOfCodes;
  try {
    code = fetch();
    if (code != clearCode && code != endCode && code != EndOfCodes) {
      // Data that does not begin with a ClearCode starts with a fresh table all the same.
      previous = code;
      firstPixel = static_cast<std::uint8_t>(code & pixelMask);
      if (!complete) {
        Put(out, firstPixel);
        if (out >= flushAt) flush();
      }
      if (!clamped && previous < validEnd) fastEnd = table.NextFree() + 1;
      code = fetch();
    }

    while (code != endCode && code != EndOfCodes && !complete) {
      if (code < fastEnd && code - clearCode >= 2) {
        // The plain path, in a loop of its own: the new entry is the previous string and the
        // first pixel of this one, whose string is then written from its tails. The code after
        // the last entry is the previous string and that string's first pixel.
        do {
          if (!table.Full())
            table.Add(previous, table[code < table.NextFree() ? code : previous].first, true);
          out = WriteString(table.Entries(), code, out);
          previous = code;
          if (out >= flushAt) [[unlikely]] {
            flush();
            if (complete) break;
          }
          code = fetch();
          report();
        } while (code <= table.NextFree() && code - clearCode >= 2);
        if (complete) {
          code = fetch();
          report();
        }
        firstPixel = table[previous].first;
        validEnd = table.NextFree();
        fastEnd = validEnd + 1;
        continue;
      }
      if (code == clearCode) {
        table.Reset();
        validEnd = table.FirstFree();
        fastEnd = 0;
        code = fetch();
        // A further ClearCode only resets again; an EndCode ends the image.
        if (code == clearCode) {
          report();
          continue;
        }
        previous = code;
        if (code == endCode || code == EndOfCodes) break;
        firstPixel = static_cast<std::uint8_t>(code & pixelMask);
        Put(out, firstPixel);
        if (!clamped && previous < validEnd) fastEnd = table.NextFree() + 1;
      } else {
        // After a clamped code size only the codes that open a fresh table are stored.
        if (clamped) break;
        unsigned c = code;
        // Not yet in the table: the previous string and its first pixel.
        const bool repeat = code >= table.NextFree();
        if (repeat) c = previous;
        if (c < validEnd) {
          out = WriteString(table.Entries(), c, out);
          if (repeat) Put(out, firstPixel);
          firstPixel = table[c].first;
        } else {
          validEnd = clearCode;
          int sp = 0;
          if (repeat) stack[sp++] = firstPixel;
          sp = ExpandDamaged(table, c, stack.data(), sp, pixelMask, tolerate);
          if (sp == 0) {
            damaged = true;
            break;
          }
          firstPixel = stack[sp - 1];
          out = PutReversed(stack.data(), sp, out);
        }
        if (!table.Full()) {
          const bool valid = previous < validEnd;
          table.Add(previous, firstPixel, valid);
          validEnd = valid && validEnd != clearCode ? table.NextFree() : clearCode;
        }
        previous = code;
        fastEnd = validEnd == table.NextFree() && previous < validEnd ? table.NextFree() + 1 : 0;
      }
      if (out >= flushAt) flush();
      code = fetch();
      report();
    }
  } catch (...) {
    // What was decoded stays: the complete rows, and the row begun when partialRow is set.
    rows.Finish(out, partialRow);
    throw;
  }

  if (code == EndOfCodes && !complete) {
    // The data ran out while rows remain: a truncated image. Quirk: when tolerating damage the
    // rows not reached stay 0 and the frame is marked damaged, so that a file cut short still
    // shows what it holds. Test: Damage.DataRunsOutWhileRowsRemain.
    if (!tolerate) {
      rows.Finish(out, partialRow);
      Fail(tk::SReadError);
    }
    damaged = true;
  }
  rows.Finish(out, true);
  return damaged;
}

// The LZW data of a memory stream, from its position on, read in place (the bytes may be shared).
SubBlocks BlocksOf(const tk::TMemoryStream& data) {
  const std::size_t size = static_cast<std::size_t>(data.Size());
  const std::size_t start = static_cast<std::size_t>(std::max<std::int64_t>(data.Position(), 0));
  return SubBlocks(data.Bytes().data(), size, start);
}

// The LZW data in a stream; data without a stream has no code size byte.
SubBlocks BlocksOf(const StreamedData& data) {
  if (!data.Stream) return SubBlocks(nullptr, 0, 0);
  return SubBlocks(*data.Stream, data.Offset, static_cast<std::uint64_t>(std::max<std::int64_t>(data.Size, 0)));
}

// Decodes the blocks into the rows, with the progress events around.
bool DecodeBlocks(SubBlocks& blocks, const tk::PixelView& rows, bool interlaced, int bitDepth,
                  bool tolerate, tk::TGraphic* progress, const RowDone& rowDone) {
  if (progress && !progress->OnProgress) progress = nullptr;
  if (progress) progress->Progress(progress, tk::TProgressStage::Starting, 0, false, {}, "");
  bool damaged;
  try {
    PixelRows pixelRows(rows, interlaced, rowDone);
    // A failure keeps the row begun at 8 bits per pixel.
    const bool partialRow = rows.bitsPerPixel == 8;
    damaged = progress ? Decode<true>(blocks, tolerate, bitDepth, pixelRows, partialRow, progress)
                       : Decode<false>(blocks, tolerate, bitDepth, pixelRows, partialRow, nullptr);
  } catch (const std::exception& e) {
    if (progress) progress->Progress(progress, tk::TProgressStage::Ending, 0, false, {}, e.what());
    throw;
  }
  if (progress) progress->Progress(progress, tk::TProgressStage::Ending, 100, false, {}, "");
  return damaged;
}

}  // namespace

bool DecodePixels(tk::TMemoryStream& data, const tk::PixelView& rows, bool interlaced, int bitDepth,
                  bool tolerate, tk::TGraphic* progress, const RowDone& rowDone) {
  SubBlocks blocks = BlocksOf(data);
  const bool damaged = DecodeBlocks(blocks, rows, interlaced, bitDepth, tolerate, progress, rowDone);
  data.SetPosition(static_cast<std::int64_t>(blocks.Position()));
  return damaged;
}

bool DecodePixels(const StreamedData& data, const tk::PixelView& rows, bool interlaced, int bitDepth,
                  bool tolerate, tk::TGraphic* progress, const RowDone& rowDone) {
  SubBlocks blocks = BlocksOf(data);
  return DecodeBlocks(blocks, rows, interlaced, bitDepth, tolerate, progress, rowDone);
}

bool DecodePixels(tk::TMemoryStream& data, int width, int height, int rowDepth, bool interlaced,
                  int bitDepth, bool tolerate, std::uint8_t* pixels, tk::TGraphic* progress) {
  return DecodePixels(data, tk::BottomUpRows(pixels, width, height, rowDepth), interlaced,
                      bitDepth, tolerate, progress, {});
}

bool CheckPixels(tk::TMemoryStream& data, int width, int height, int bitDepth, bool tolerate) {
  PixelCount rows(width, height);
  SubBlocks blocks = BlocksOf(data);
  const bool damaged = Decode<false>(blocks, tolerate, bitDepth, rows, false, nullptr);
  data.SetPosition(static_cast<std::int64_t>(blocks.Position()));
  return damaged;
}

bool CheckPixels(const StreamedData& data, int width, int height, int bitDepth, bool tolerate) {
  PixelCount rows(width, height);
  SubBlocks blocks = BlocksOf(data);
  return Decode<false>(blocks, tolerate, bitDepth, rows, false, nullptr);
}

}  // namespace gif

// ---- The frame's rows, and the frame as a bitmap file image

namespace gif {

std::vector<tk::RGBQUAD> TGIFFrame::RowPalette(int depth, std::uint8_t fillerReserved) const {
  // The first Count entries of the colour table, blue, green, red, 0; the rest of the 2^depth
  // entries are grey 0x80 (in a bitmap file four bytes 0x80).
  std::vector<tk::RGBQUAD> palette(std::size_t{1} << depth,
                                   tk::RGBQUAD{0x80, 0x80, 0x80, fillerReserved});
  const GifColorTable& table = Encoded->ColorTable;
  const int count = std::clamp<int>(table.Count, 0, static_cast<int>(palette.size()));
  for (int i = 0; i < count; ++i) {
    const auto& entry = table.Entries[static_cast<std::size_t>(i)];
    palette[static_cast<std::size_t>(i)] = tk::RGBQUAD{entry.Blue, entry.Green, entry.Red, 0};
  }
  if (count == 0) {
    // Quirk: a frame without any colour table is shown through a grey ramp over its 2^BitDepth
    // values, black to white, so that its picture stays visible instead of one flat grey.
    // Test: ReadImage.WithoutAnyColourTableTheCodeSizeGivesTheDepth.
    const int levels = 1 << std::clamp<int>(Encoded->BitDepth, 1, depth);
    for (int i = 0; i < levels; ++i) {
      const auto grey = static_cast<std::uint8_t>(i * 255 / (levels - 1));
      palette[static_cast<std::size_t>(i)] = tk::RGBQUAD{grey, grey, grey, 0};
    }
  }
  return palette;
}

namespace {

// Runs work (a decoding that tells whether the data is damaged) on the item's LZW data: where it
// lies in a stream, or the bytes held, from their start (without any, there is no code size byte).
template <class Work>
bool WithData(TGIFItem& item, Work work) {
  if (item.Streamed) return work(*item.Streamed);
  tk::TMemoryStream none;
  tk::TMemoryStream& data = item.PixelData ? *item.PixelData : none;
  data.SetPosition(0);
  return work(data);
}

}  // namespace

void TGIFFrame::DecodeRows(const tk::PixelView& rows, const RowDone& rowDone) {
  const TGIFItem& item = *Encoded;
  if (WithData(*Encoded, [&](auto& data) {
        return DecodePixels(data, rows, IsInterlaced, item.BitDepth, Options().Tolerates(), ParentImage, rowDone);
      }))
    DataDamaged = true;
}

tk::BITMAPINFOHEADER TGIFFrame::RowHeader() const {
  const TGIFItem& item = *Encoded;
  const int depth = RowDepthFor(item.BitDepth);
  const std::int64_t imageSize = tk::DibRowBytes(item.ItemWidth, depth) * item.ItemHeight;
  if (item.ItemWidth < 0 || item.ItemHeight < 0 || imageSize > Options().PixelByteLimit())
    throw tk::EInvalidGraphicOperation(
        tk::Format(SImageTooLarge, {std::int64_t{item.ItemWidth}, std::int64_t{item.ItemHeight}}));
  tk::BITMAPINFOHEADER header;
  header.biWidth = item.ItemWidth;
  header.biHeight = item.ItemHeight;
  header.biBitCount = static_cast<std::uint16_t>(depth);
  header.biSizeImage = static_cast<std::uint32_t>(imageSize);
  return header;
}

void TGIFFrame::DecodeToDIB(tk::TMemoryStream& target) {
  // File header, information header, palette, and the rows decoded in place behind them.
  const tk::BITMAPINFOHEADER header = RowHeader();
  target.Clear();
  target.SetSize(static_cast<std::int64_t>(tk::BitmapFileSize(header)));
  DecodeRows(tk::LayOutBitmapFile({target.Memory(), static_cast<std::size_t>(target.Size())}, header,
                                  RowPalette(header.biBitCount, 0x80)));
  target.SetPosition(0);
}

// Bytes of rows that WriteDIB writes at once.
constexpr std::size_t kBlockBytes = 65536;

void TGIFFrame::WriteDIB(tk::TStream& target) {
  // Each row goes to its place as it is complete (bottom row first in the file, in the
  // interlaced order when the frame is interlaced); the rows that damage leaves undecoded are
  // written as 0 afterwards, as in DecodeToDIB's zero-filled image, so that every byte of the
  // file is written (a file with holes could outgrow a full disk later).
  const tk::BITMAPINFOHEADER header = RowHeader();
  const std::int64_t start = target.Position();
  const std::size_t rowsAt = tk::BitmapFileRowsOffset(header);
  const std::size_t rowBytes = tk::DibRowBytes(header.biWidth, header.biBitCount);
  const std::int64_t end = start + static_cast<std::int64_t>(tk::BitmapFileSize(header));
  target.SetSize(end);
  std::vector<std::uint8_t> head(rowsAt);
  tk::LayOutBitmapFileHead(head, header, RowPalette(header.biBitCount, 0x80));
  target.WriteBuffer(head);
  const int height = header.biHeight;
  std::vector<std::uint8_t> row(rowBytes);  // every row of the view is this one buffer
  std::vector<bool> written(static_cast<std::size_t>(height));
  // Rows following one another from the top wait in a block, bottom row first as in the file,
  // and go out in one write when the block is full or the next row is elsewhere.
  const std::size_t blockRows = std::max<std::size_t>(1, kBlockBytes / std::max<std::size_t>(rowBytes, 1));
  std::vector<std::uint8_t> block(blockRows * rowBytes);
  int first = 0;              // the top row in the block
  std::size_t count = 0;      // rows in the block, at its end
  auto flush = [&] {
    if (count == 0) return;
    const int bottom = first + static_cast<int>(count) - 1;
    const std::size_t at = rowsAt + static_cast<std::size_t>(height - 1 - bottom) * rowBytes;
    target.SetPosition(start + static_cast<std::int64_t>(at));
    target.WriteBuffer(block.data() + (blockRows - count) * rowBytes, count * rowBytes);
    count = 0;
  };
  auto put = [&](int y) {
    if (count > 0 && (count == blockRows || y != first + static_cast<int>(count))) flush();
    if (count == 0) first = y;
    ++count;
    if (rowBytes != 0)  // a frame without columns has no block to copy into
      std::memcpy(block.data() + (blockRows - count) * rowBytes, row.data(), rowBytes);
    written[static_cast<std::size_t>(y)] = true;
  };
  DecodeRows({header.biWidth, height, header.biBitCount, 0, row.data(), {}}, put);
  std::fill(row.begin(), row.end(), std::uint8_t{0});
  for (int y = 0; y < height; ++y)
    if (!written[static_cast<std::size_t>(y)]) put(y);
  flush();
  target.SetPosition(end);
}

void TGIFFrame::CheckData() {
  RowHeader();  // fails as decoding would for an unsupported depth or a frame too large
  const TGIFItem& item = *Encoded;
  if (WithData(*Encoded, [&](auto& data) {
        return CheckPixels(data, item.ItemWidth, item.ItemHeight, item.BitDepth, Options().Tolerates());
      }))
    DataDamaged = true;
}

}  // namespace gif
