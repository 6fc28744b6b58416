// Parsing of GIF streams: the buffer that all parsing works on, and the extension readers.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "gif/gif.h"
#include "toolkit/core/byte_reader.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/lists.h"

namespace gif {

// The bytes of one GIF stream with a read position: the toolkit's bounded reader, whose exact
// reads fail with EReadError "Stream read error" and the reason beside it. Plain reads take what
// there is and read the bytes missing at the end of the data as zero. The owner, when there is
// one, keeps the bytes alive: the frames' LZW data are then views of them, not copies.
class GifBuffer : public tk::ByteReader {
 public:
  explicit GifBuffer(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner = nullptr)
      : ByteReader(bytes, FailRead), owner_(std::move(owner)) {}

  const std::shared_ptr<const void>& Owner() const { return owner_; }

 private:
  static void FailRead(std::string reason) { throw tk::EReadError(tk::Reason{std::move(reason)}); }

  std::shared_ptr<const void> owner_;
};

// Reads one extension; the buffer stands just behind its 0x21 introducer. An extension of a
// label other than 0xF9, 0xFE, 0x01 and 0xFF is skipped (the result is null) when tolerating
// damage, and fails with "Unrecognized extension block: %.2x" when not.
std::unique_ptr<TExtension> ReadExtension(GifBuffer& data, bool tolerate = TolerateDamage);

// Reads a sub-block chain, one string per sub-block.
std::unique_ptr<tk::TStringList> ReadSubBlocks(GifBuffer& data);

}  // namespace gif
