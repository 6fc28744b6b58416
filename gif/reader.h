// Parsing of GIF streams: the buffer that all parsing works on, and the extension readers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "gif/gif.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/lists.h"

namespace gif {

// The bytes of one GIF stream with a read position. Plain reads take what there is and read the
// bytes missing at the end of the data as zero; exact reads fail with EReadError "Stream read
// error" when the data holds fewer bytes than asked for.
class GifBuffer {
 public:
  explicit GifBuffer(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t Position() const { return pos_; }
  std::size_t Size() const { return bytes_.size(); }
  std::size_t Remaining() const { return bytes_.size() - pos_; }
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  const std::uint8_t* Here() const { return bytes_.data() + pos_; }
  void Skip(std::size_t count) { pos_ += std::min(count, Remaining()); }

  void Read(void* out, std::size_t count) {
    std::size_t n = std::min(count, Remaining());
    if (n) std::memcpy(out, Here(), n);
    if (n < count) std::memset(static_cast<std::uint8_t*>(out) + n, 0, count - n);
    pos_ += n;
  }
  std::uint8_t ReadByte() { return AtEnd() ? 0 : bytes_[pos_++]; }

  void ReadExact(void* out, std::size_t count) {
    if (count > Remaining()) throw tk::EReadError();
    Read(out, count);
  }
  std::uint8_t ReadExactByte() {
    if (AtEnd()) throw tk::EReadError();
    return bytes_[pos_++];
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// Reads one extension; the buffer stands just behind its 0x21 introducer. An extension of a
// label other than 0xF9, 0xFE, 0x01 and 0xFF is skipped (the result is null) while TolerateDamage
// is set, and fails with "Unrecognized extension block: %.2x" when it is not.
std::unique_ptr<TExtension> ReadExtension(GifBuffer& data);

// Reads a sub-block chain, one string per sub-block.
std::unique_ptr<tk::TStringList> ReadSubBlocks(GifBuffer& data);

}  // namespace gif
