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

constexpr std::uint32_t kEmptySlot = 0xFFFFFFFF;
// The last code assigned before the table starts afresh: codes never grow beyond 12 bits, and a
// decoder's table never fills.
constexpr unsigned kLastCode = 4094;

// A slot holds the string's key (prefix code << 8 | last pixel) above its own 12-bit code. The
// empty slot reads as prefix 4095, which is never assigned.
struct StringTable {
  std::array<std::uint32_t, kStringSlots> slots;
  void Empty() { std::memset(slots.data(), 0xFF, sizeof slots); }
};

class Encoder {
 public:
  Encoder(int bits, std::vector<std::uint8_t>& out)
      : codeSize_(bits == 1 ? 2 : bits),
        clearCode_(1u << codeSize_),
        endCode_(clearCode_ + 1),
        packer_(out),
        table_(std::make_unique<StringTable>()) {
    out.push_back(static_cast<std::uint8_t>(codeSize_));
    StartTable();
    packer_.PutCode(clearCode_, width_);
  }

  // Codes one row of pixels; the current string runs on across row ends.
  void Row(const std::uint8_t* pixels, int count) {
    int x = 0;
    if (!haveString_ && count > 0) {
      prefix_ = pixels[x++];
      haveString_ = true;
    }
    // The state lives in locals while the row is coded.
    std::uint32_t* const slots = table_->slots.data();
    unsigned prefix = prefix_;
    for (; x < count; ++x) {
      const unsigned pixel = pixels[x];
      const std::uint32_t key = prefix << 8 | pixel;
      std::uint32_t slot = StringHash(prefix, pixel);
      std::uint32_t entry;
      while ((entry = slots[slot]) >> 12 != key) {
        if (entry == kEmptySlot) break;
        slot = (slot + 1) & (kStringSlots - 1);
      }
      if (entry != kEmptySlot) {  // the string grows by the pixel
        prefix = entry & 0xFFF;
        continue;
      }
      // A new string: the current one is written, and the pixel starts the next.
      packer_.PutCode(prefix, width_);
      ++lastCode_;
      slots[slot] = key << 12 | lastCode_;
      prefix = pixel;
      if (lastCode_ >= capacity_) {
        capacity_ <<= 1;
        ++width_;
      } else if (lastCode_ >= kLastCode) {
        // The table is full: the pixel goes out alone, then ClearCode, and a fresh table.
        packer_.PutCode(pixel, width_);
        packer_.PutCode(clearCode_, width_);
        StartTable();
        if (++x == count) {
          haveString_ = false;
          return;
        }
        prefix = pixels[x];
      }
    }
    prefix_ = prefix;
  }

  void Finish() {
    if (haveString_) packer_.PutCode(prefix_, width_);
    packer_.PutCode(endCode_, width_);
    packer_.FlushCodes();
  }

 private:
  void StartTable() {
    table_->Empty();
    lastCode_ = endCode_;
    width_ = codeSize_ + 1;
    capacity_ = 1u << width_;
  }

  const int codeSize_;
  const unsigned clearCode_;
  const unsigned endCode_;
  BitPacker packer_;
  std::unique_ptr<StringTable> table_;
  unsigned lastCode_ = 0;
  int width_ = 0;
  unsigned capacity_ = 0;
  bool haveString_ = false;
  unsigned prefix_ = 0;
};

// Unpacks a row of 1- or 4-bit pixels into one byte per pixel, the leftmost pixel from the
// highest bits.
void UnpackRow(const std::uint8_t* row, int bits, int width, std::uint8_t* out) {
  if (bits == 4) {
    for (int x = 0; x + 1 < width; x += 2) {
      out[x] = row[x / 2] >> 4;
      out[x + 1] = row[x / 2] & 15;
    }
    if (width % 2) out[width - 1] = row[width / 2] >> 4;
  } else {
    for (int x = 0; x < width; ++x) out[x] = row[x / 8] >> (7 - x % 8) & 1;
  }
}

void Encode(std::vector<std::uint8_t>& out, const tk::BITMAPINFOHEADER& header, bool interlaced,
            tk::TGraphic* progress, std::span<const std::uint8_t> rows) {
  const int bits = header.biBitCount;
  const int width = header.biWidth;
  const int height = header.biHeight;
  if ((bits != 1 && bits != 4 && bits != 8) || width < 0 || height < 0)
    throw tk::EInvalidGraphicOperation(std::string(SEncodingError));
  const std::int64_t rowBytes = tk::DibRowBytes(width, bits);
  if (static_cast<std::int64_t>(rows.size()) < rowBytes * height)
    throw tk::EInvalidGraphicOperation(std::string(SEncodingError));

  Encoder encoder(bits, out);
  if (progress) progress->Progress(progress, tk::TProgressStage::Starting, 0, false, {}, "");
  std::vector<std::uint8_t> unpacked(bits < 8 ? static_cast<std::size_t>(width) : 0);
  // Rows go from the top of the picture, which is the last row of the buffer, downwards.
  int pass = 0;
  for (int y = 0; y < height;) {
    const std::uint8_t* row = rows.data() + (height - 1 - y) * rowBytes;
    if (bits < 8) {
      UnpackRow(row, bits, width, unpacked.data());
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

void EncodePixels(tk::TStream& output, const tk::BITMAPINFOHEADER& header, bool interlaced, tk::TGraphic* progress,
                  std::span<const std::uint8_t> rows) {
  if (progress && !progress->OnProgress) progress = nullptr;
  std::vector<std::uint8_t> out;
  // The data takes about a byte per pixel at most for photographs, much less for flat images.
  out.reserve(static_cast<std::size_t>(std::min<std::int64_t>(rows.size() / 2 + 1024, std::int64_t{1} << 26)));
  try {
    Encode(out, header, interlaced, progress, rows);
    output.WriteBuffer(out.data(), out.size());
  } catch (const std::exception& e) {
    if (progress) progress->Progress(progress, tk::TProgressStage::Ending, 0, false, {}, e.what());
    throw;
  }
  if (progress) progress->Progress(progress, tk::TProgressStage::Ending, 100, false, {}, "");
}

}  // namespace gif
