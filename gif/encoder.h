// The LZW encoder's parts: the string table's slot function and the bit packer that cuts the
// code stream into sub-blocks. EncodePixels itself is declared in gif/gif.h.
#pragma once

#include <cstdint>
#include <vector>

namespace gif {

// The string table holds every string of the current table as its prefix code (the code of all
// its pixels but the last) and its last pixel. It has this many slots, linearly probed; the
// longest table (codes 258..4094) fills less than half of it.
inline constexpr int kStringSlotBits = 13;
inline constexpr std::uint32_t kStringSlots = 1u << kStringSlotBits;

// The slot where the search for the string (prefix code, pixel) starts. The key is spread by a
// multiplicative hash, so that neighbouring prefix codes and pixel values land far apart.
constexpr std::uint32_t StringHash(std::uint32_t prefix, std::uint32_t pixel) {
  return ((prefix << 8 | pixel) * 0x9E3779B1u) >> (32 - kStringSlotBits);
}

// Packs codes least significant bit first and writes them as sub-blocks of 255 bytes, each after
// its length byte; FlushCodes writes the last, shorter sub-block and the terminator.
class BitPacker {
 public:
  explicit BitPacker(std::vector<std::uint8_t>& out) : out_(out) {}

  void PutCode(unsigned code, int width) {
    acc_ |= static_cast<std::uint64_t>(code) << bits_;
    bits_ += width;
    while (bits_ >= 8) {
      block_[fill_++] = static_cast<std::uint8_t>(acc_);
      acc_ >>= 8;
      bits_ -= 8;
      if (fill_ == 255) WriteBlock();
    }
  }

  void FlushCodes() {
    if (bits_ > 0) {
      block_[fill_++] = static_cast<std::uint8_t>(acc_);
      acc_ = 0;
      bits_ = 0;
      if (fill_ == 255) WriteBlock();
    }
    if (fill_ > 0) WriteBlock();
    out_.push_back(0);
  }

 private:
  void WriteBlock() {
    out_.push_back(static_cast<std::uint8_t>(fill_));
    out_.insert(out_.end(), block_, block_ + fill_);
    fill_ = 0;
  }

  std::vector<std::uint8_t>& out_;
  std::uint64_t acc_ = 0;
  int bits_ = 0;
  int fill_ = 0;
  std::uint8_t block_[255];
};

}  // namespace gif
