// The LZW encoder: pixel rows of a 1-, 4- or 8-bit device-independent bitmap become the code
// size byte and the sub-block chain of a GIF image.
#include "gif/encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "gif/decoder.h"
#include "gif/gif.h"

namespace gif {

namespace {

// The last code assigned before the table starts afresh: codes never grow beyond 12 bits, and a
// decoder's table never fills.
constexpr unsigned kLastCode = 4094;

// A slot holds the scrambled name of the string that was put there, 0 when empty (0 names code
// 0, a single pixel, which is never put in a slot). Beside the slots, each name's key: the name
// of its prefix << 8 | its last pixel. Key 0xFFFFFFFF, of name 0, matches no string. The search
// takes the slot's name as the string's before its key is checked, so the next pixel's search
// waits for one load only.
struct StringTable {
  std::array<std::uint16_t, kStringSlots> slots;
  std::array<std::uint32_t, 4096> keys;
  StringTable() { keys[0] = 0xFFFFFFFF; }
  void Empty() { std::memset(slots.data(), 0, sizeof slots); }
};

// Where the code bytes gather before they go out as sub-blocks: room for 16 sub-blocks and the
// 8 bytes that one store of the bit accumulator may write past them.
constexpr std::size_t kStageBlocks = 16;
constexpr std::size_t kStageSize = 255 * kStageBlocks;

// The encoder's state between rows. Row keeps it in locals while it runs: the stores of code
// bytes would otherwise make the compiler reload every field after each of them.
class Encoder {
 public:
  Encoder(int bits, std::vector<std::uint8_t>& out)
      : codeSize_(bits == 1 ? 2 : bits),
        clearCode_(1u << codeSize_),
        endCode_(clearCode_ + 1),
        out_(out),
        table_(std::make_unique<StringTable>()) {
    out.push_back(static_cast<std::uint8_t>(codeSize_));
    StartTable();
    PutCode(clearCode_);
  }

  // Codes one row of pixels; the current string runs on across row ends.
  void Row(const std::uint8_t* pixels, int count) {
    const std::uint8_t* p = pixels;
    const std::uint8_t* const end = pixels + count;
    if (p == end) return;
    std::uint16_t* const slots = table_->slots.data();
    std::uint32_t* const keys = table_->keys.data();
    std::uint8_t* const stage = stage_;
    // The current string, by its scrambled name.
    unsigned prefix = prefix_;
    if (!haveString_) prefix = ScrambleCode(*p++);
    haveString_ = true;
    unsigned lastCode = lastCode_, capacity = capacity_;
    int width = width_;
    std::uint64_t acc = acc_;
    int bits = bits_;
    std::size_t fill = fill_;
    // The accumulator goes to the stage eight bytes at a time, its whole bytes counted.
    auto put = [&](unsigned code) {
      acc |= static_cast<std::uint64_t>(code) << bits;
      bits += width;
      std::memcpy(stage + fill, &acc, 8);
      fill += static_cast<unsigned>(bits) >> 3;
      acc >>= bits & ~7;
      bits &= 7;
      if (fill >= kStageSize) fill = FlushStage(fill);
    };
    for (;;) {
      // The string grows while the table holds it with the next pixel; the search stops at the
      // first pixel that makes a new string, with the slot where that string goes.
      std::uint32_t slot = 0;
      for (; p != end; ++p) {
        const unsigned pixel = *p;
        const std::uint32_t key = prefix << 8 | pixel;
        slot = StringSlot(prefix, pixel);
        unsigned name = slots[slot];
        if (keys[name] != key) [[unlikely]] {
          while (name != 0) {
            slot = (slot + 1) & (kStringSlots - 1);
            name = slots[slot];
            if (keys[name] == key) break;
          }
          if (name == 0) break;
        }
        prefix = name;
      }
      if (p == end) break;
      // A new string: the current one is written, and the pixel starts the next.
      const unsigned pixel = *p++;
      put(UnscrambleCode(prefix));
      const unsigned made = ScrambleCode(++lastCode);
      slots[slot] = static_cast<std::uint16_t>(made);
      keys[made] = prefix << 8 | pixel;
      prefix = ScrambleCode(pixel);
      if (lastCode >= capacity) {
        capacity <<= 1;
        ++width;
      } else if (lastCode >= kLastCode) {
        // The table is full: the pixel goes out alone, then ClearCode, and a fresh table.
        put(pixel);
        put(clearCode_);
        table_->Empty();
        lastCode = endCode_;
        width = codeSize_ + 1;
        capacity = 1u << width;
        if (p == end) {
          haveString_ = false;
          break;
        }
        prefix = ScrambleCode(*p++);
      }
    }
    prefix_ = prefix;
    lastCode_ = lastCode;
    capacity_ = capacity;
    width_ = width;
    acc_ = acc;
    bits_ = bits;
    fill_ = fill;
  }

  void Finish() {
    if (haveString_) PutCode(UnscrambleCode(prefix_));
    PutCode(endCode_);
    // The bits left: whole bytes, the last one padded with zeros.
    while (bits_ > 0) {
      stage_[fill_++] = static_cast<std::uint8_t>(acc_);
      acc_ >>= 8;
      bits_ -= 8;
    }
    for (std::size_t at = 0; at < fill_; at += 255)
      WriteBlock(stage_ + at, std::min<std::size_t>(255, fill_ - at));
    out_.push_back(0);
  }

 private:
  void StartTable() {
    table_->Empty();
    lastCode_ = endCode_;
    width_ = codeSize_ + 1;
    capacity_ = 1u << width_;
  }

  void PutCode(unsigned code) {
    acc_ |= static_cast<std::uint64_t>(code) << bits_;
    bits_ += width_;
    while (bits_ >= 8) {
      stage_[fill_++] = static_cast<std::uint8_t>(acc_);
      acc_ >>= 8;
      bits_ -= 8;
    }
    if (fill_ >= kStageSize) fill_ = FlushStage(fill_);
  }

  void WriteBlock(const std::uint8_t* bytes, std::size_t length) {
    out_.push_back(static_cast<std::uint8_t>(length));
    out_.insert(out_.end(), bytes, bytes + length);
  }

  // Writes the full sub-blocks of the stage and moves the rest to its start; returns the rest.
  std::size_t FlushStage(std::size_t fill) {
    for (std::size_t k = 0; k < kStageBlocks; ++k) WriteBlock(stage_ + 255 * k, 255);
    std::memmove(stage_, stage_ + kStageSize, fill - kStageSize);
    return fill - kStageSize;
  }

  const int codeSize_;
  const unsigned clearCode_;
  const unsigned endCode_;
  std::vector<std::uint8_t>& out_;
  std::unique_ptr<StringTable> table_;
  unsigned lastCode_ = 0;
  unsigned capacity_ = 0;
  int width_ = 0;
  bool haveString_ = false;
  unsigned prefix_ = 0;  // scrambled
  // Codes are packed least significant bit first into the accumulator, whose low bits go to the
  // stage eight bytes at a time.
  std::uint64_t acc_ = 0;
  int bits_ = 0;
  std::size_t fill_ = 0;
  std::uint8_t stage_[kStageSize + 8];
};

void Encode(std::vector<std::uint8_t>& out, const tk::ConstPixelView& image, bool interlaced,
            tk::TGraphic* progress) {
  const int bits = image.bitsPerPixel;
  const int width = image.width;
  const int height = image.height;
  if ((bits != 1 && bits != 4 && bits != 8) || width < 0 || height < 0)
    throw tk::EInvalidGraphicOperation(std::string(SEncodingError));

  Encoder encoder(bits, out);
  if (progress) progress->Progress(progress, tk::TProgressStage::Starting, 0, false, {}, "");
  std::vector<std::uint8_t> unpacked(bits < 8 ? static_cast<std::size_t>(width) : 0);
  // Rows go from the top of the picture downwards.
  int pass = 0;
  for (int y = 0; y < height;) {
    const std::uint8_t* row = image.Row(y);
    if (bits < 8) {
      tk::UnpackIndices(row, bits, 0, width, unpacked.data());
      row = unpacked.data();
    }
    encoder.Row(row, width);
    y = interlaced ? NextInterlacedRow(y, height, pass) : y + 1;
    if (progress)
      progress->Progress(progress, tk::TProgressStage::Running,
                         static_cast<int>(std::int64_t{y} * 100 / height), false, {}, "");
  }
  encoder.Finish();
}

}  // namespace

void EncodePixels(tk::TStream& output, const tk::ConstPixelView& rows, bool interlaced,
                  tk::TGraphic* progress) {
  if (progress && !progress->OnProgress) progress = nullptr;
  std::vector<std::uint8_t> out;
  // The data takes about a byte per pixel at most for photographs, much less for flat images.
  const std::int64_t pixels = std::int64_t{std::max(rows.width, 0)} * std::max(rows.height, 0);
  out.reserve(static_cast<std::size_t>(std::min<std::int64_t>(pixels / 2 + 1024, std::int64_t{1} << 26)));
  try {
    Encode(out, rows, interlaced, progress);
    output.WriteBuffer(out.data(), out.size());
  } catch (const std::exception& e) {
    if (progress) progress->Progress(progress, tk::TProgressStage::Ending, 0, false, {}, e.what());
    throw;
  }
  if (progress) progress->Progress(progress, tk::TProgressStage::Ending, 100, false, {}, "");
}

void EncodePixels(tk::TStream& output, const tk::BITMAPINFOHEADER& header, bool interlaced,
                  tk::TGraphic* progress, std::span<const std::uint8_t> rows) {
  const int bits = header.biBitCount;
  const std::int64_t rowBytes = tk::DibRowBytes(header.biWidth, bits);
  const bool valid = (bits == 1 || bits == 4 || bits == 8) && header.biWidth >= 0 &&
                     header.biHeight >= 0 &&
                     static_cast<std::int64_t>(rows.size()) >= rowBytes * header.biHeight;
  const tk::ConstPixelView view = valid ? tk::BottomUpRows(rows.data(), header.biWidth, header.biHeight, bits)
                                        : tk::ConstPixelView{header.biWidth, header.biHeight, 0, 0, nullptr, {}};
  EncodePixels(output, view, interlaced, progress);
}

}  // namespace gif
