// The one bounded reader of bytes in memory, shared by the parsers of every file format: GIF
// streams, RIFF chunks of animated cursors, BMP files and icon files. Nothing is read outside
// the bytes it was given, whatever the numbers in them say.
//
// Two kinds of read: plain reads take what the data holds and read the bytes missing at its end
// as zero (formats whose readers go on quietly at the end); exact reads fail when the data holds
// fewer bytes than asked for. A failure, of an exact read or of a check the parser makes, goes
// to the failure function given at construction, which throws the format's own exception with
// the system's message text and the reason beside it (Reason), for example "colour table: 1024
// bytes needed at offset 54, 60 there".
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "toolkit/core/exceptions.h"

namespace tk {

class ByteReader {
 public:
  // Throws the format's exception with the reason; it never returns.
  using Failure = void (*)(std::string reason);

  ByteReader(std::span<const std::uint8_t> bytes, Failure fail) : bytes_(bytes), fail_(fail) {}

  std::span<const std::uint8_t> Bytes() const { return bytes_; }
  std::size_t Size() const { return bytes_.size(); }
  // The position may lie beyond the end after a seek or a skip: reads there find nothing.
  std::uint64_t Position() const { return pos_; }
  std::size_t Remaining() const { return pos_ < bytes_.size() ? bytes_.size() - static_cast<std::size_t>(pos_) : 0; }
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  // The bytes from the position on (empty at or beyond the end).
  std::span<const std::uint8_t> Rest() const { return bytes_.subspan(bytes_.size() - Remaining()); }

  void Seek(std::uint64_t position) { pos_ = position; }
  void Skip(std::uint64_t count) { pos_ = count > kFar - pos_ ? kFar : pos_ + count; }

  // ---- Plain reads
  // Reads count bytes, the missing ones as zero; returns how many the data held.
  std::size_t Read(void* out, std::size_t count) {
    const std::size_t n = std::min(count, Remaining());
    if (n) std::memcpy(out, Rest().data(), n);
    if (n < count) std::memset(static_cast<std::uint8_t*>(out) + n, 0, count - n);
    Skip(n);
    return n;
  }
  std::uint8_t ReadByte() { return AtEnd() ? 0 : bytes_[static_cast<std::size_t>(pos_++)]; }
  std::uint16_t ReadU16() {
    std::uint8_t b[2];
    Read(b, 2);
    return static_cast<std::uint16_t>(b[0] | b[1] << 8);
  }
  std::uint32_t ReadU32() {
    const std::uint32_t low = ReadU16();
    return low | static_cast<std::uint32_t>(ReadU16()) << 16;
  }

  // ---- Exact reads; what names the part read, for the reason of a failure.
  std::span<const std::uint8_t> Take(std::uint64_t count, std::string_view what) {
    Need(count, what);
    const std::span<const std::uint8_t> part = Rest().first(static_cast<std::size_t>(count));
    pos_ += count;
    return part;
  }
  void ReadExact(void* out, std::size_t count, std::string_view what) {
    const std::span<const std::uint8_t> part = Take(count, what);
    if (count) std::memcpy(out, part.data(), count);
  }
  std::uint8_t ReadExactByte(std::string_view what) { return Take(1, what)[0]; }
  std::uint16_t ReadExactU16(std::string_view what) {
    const auto b = Take(2, what);
    return static_cast<std::uint16_t>(b[0] | b[1] << 8);
  }
  std::uint32_t ReadExactU32(std::string_view what) {
    const auto b = Take(4, what);
    return static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16) | static_cast<std::uint32_t>(b[3]) << 24;
  }
  // A reader of its own over the next count bytes (exact), which the position passes over.
  ByteReader Part(std::uint64_t count, std::string_view what) { return ByteReader(Take(count, what), fail_); }
  // A reader over count bytes at an offset of the whole data (exact); the position stays.
  ByteReader At(std::uint64_t offset, std::uint64_t count, std::string_view what) const {
    if (offset > bytes_.size() || count > bytes_.size() - offset)
      Fail(std::string(what) + ": " + std::to_string(count) + " bytes at offset " + std::to_string(offset) +
           " lie beyond the " + std::to_string(bytes_.size()) + " bytes of the data");
    return ByteReader(bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count)), fail_);
  }

  // ---- Checks
  // Fails with the reason unless the condition holds.
  void Require(bool condition, std::string_view reason) const {
    if (!condition) Fail(std::string(reason));
  }
  // Fails unless count bytes lie from the position on.
  void Need(std::uint64_t count, std::string_view what) const {
    if (count > Remaining()) Fail(ShortReason(what, count, pos_, Remaining()));
  }
  // The reason of an exact read that finds fewer bytes than it needs, for readers of other
  // sources to give the same: "what: COUNT bytes needed at offset OFFSET, THERE there".
  static std::string ShortReason(std::string_view what, std::uint64_t count, std::uint64_t offset,
                                 std::uint64_t there) {
    return std::string(what) + ": " + std::to_string(count) + " bytes needed at offset " +
           std::to_string(offset) + ", " + std::to_string(there) + " there";
  }
  [[noreturn]] void Fail(std::string reason) const {
    fail_(reason);
    throw EReadError(Reason{std::move(reason)});  // a failure function that returned
  }

 private:
  static constexpr std::uint64_t kFar = ~std::uint64_t{0};

  std::span<const std::uint8_t> bytes_;
  Failure fail_;
  std::uint64_t pos_ = 0;
};

}  // namespace tk
