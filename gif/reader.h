// Parsing of GIF streams: the buffer that all parsing works on, and the extension readers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "gif/gif.h"
#include "toolkit/core/byte_reader.h"
#include "toolkit/core/streams.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/lists.h"

namespace gif {

// The bytes of one GIF stream with a read position, bounded as the toolkit's ByteReader: exact
// reads fail with EReadError "Stream read error" and the reason beside it; plain reads take what
// there is and read the bytes missing at the end of the data as zero. The bytes lie in memory
// (the owner, when there is one, keeps them alive: the frames' LZW data are then views of them,
// not copies), or in a stream, read through a window of kWindowBytes from its position to the
// end it had when the buffer was made.
class GifBuffer {
 public:
  static constexpr std::size_t kWindowBytes = 65536;

  explicit GifBuffer(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner = nullptr)
      : window_(bytes), size_(bytes.size()), owner_(std::move(owner)) {}
  explicit GifBuffer(std::shared_ptr<tk::TStream> stream);

  std::uint64_t Size() const { return size_; }
  std::uint64_t Position() const { return pos_; }
  std::uint64_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ == size_; }
  // Passes over count bytes, or to the end when fewer remain.
  void Skip(std::uint64_t count) { pos_ += std::min(count, Remaining()); }

  // ---- Plain reads
  std::uint8_t ReadByte() {
    const std::uint8_t byte = PeekByte();
    Skip(1);
    return byte;
  }
  // The byte at the position, which stays; 0 at the end.
  std::uint8_t PeekByte() { return AtEnd() ? 0 : Ahead(1)[0]; }
  // Reads count bytes, the missing ones as zero; returns how many the data held.
  std::size_t Read(void* out, std::size_t count);

  // ---- Exact reads; what names the part read, for the reason of a failure.
  void ReadExact(void* out, std::size_t count, std::string_view what);
  std::uint8_t ReadExactByte(std::string_view what) {
    std::uint8_t byte;
    ReadExact(&byte, 1, what);
    return byte;
  }

  // The bytes in memory and their owner (none for a stream).
  std::span<const std::uint8_t> Bytes() const { return stream_ ? std::span<const std::uint8_t>() : window_; }
  const std::shared_ptr<const void>& Owner() const { return owner_; }
  // The stream (null for bytes in memory), and the place of count bytes from offset at of the data in it.
  const std::shared_ptr<tk::TStream>& Stream() const { return stream_; }
  StreamedData Place(std::uint64_t at, std::uint64_t count) const {
    return {stream_, start_ + static_cast<std::int64_t>(at), static_cast<std::int64_t>(count)};
  }

 private:
  // The next min(count, Remaining()) bytes (count at most kWindowBytes), which a stream's window
  // is refilled for when they are not in it.
  std::span<const std::uint8_t> Ahead(std::size_t count) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, Remaining()));
    if (pos_ < windowAt_ || pos_ - windowAt_ + n > window_.size()) [[unlikely]] Fill();
    return window_.subspan(static_cast<std::size_t>(pos_ - windowAt_), n);
  }
  // Reads the window from the position on; fails when the stream holds fewer bytes than it had.
  void Fill();

  std::span<const std::uint8_t> window_;  // the bytes from windowAt_ on
  std::uint64_t windowAt_ = 0;
  std::uint64_t size_;
  std::uint64_t pos_ = 0;
  std::shared_ptr<const void> owner_;
  std::shared_ptr<tk::TStream> stream_;
  std::int64_t start_ = 0;  // the stream's position of the data's first byte
  std::unique_ptr<std::uint8_t[]> buffer_;
};

// Reads one extension; the buffer stands just behind its 0x21 introducer. An extension of a
// label other than 0xF9, 0xFE, 0x01 and 0xFF is skipped (the result is null) when tolerating
// damage, and fails with "Unrecognized extension block: %.2x" when not.
std::unique_ptr<TExtension> ReadExtension(GifBuffer& data, bool tolerate = TolerateDamage);

// Reads a sub-block chain, one string per sub-block.
std::unique_ptr<tk::TStringList> ReadSubBlocks(GifBuffer& data);

}  // namespace gif
