// Little-endian numbers in byte buffers, the byte order of every file format the platform reads
// and writes. The readers do not check bounds: callers check that the bytes are there first.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace tk {

inline std::uint16_t LoadU16(std::span<const std::uint8_t> d, std::size_t at) {
  return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}
inline std::uint32_t LoadU32(std::span<const std::uint8_t> d, std::size_t at) {
  return static_cast<std::uint32_t>(LoadU16(d, at)) |
         (static_cast<std::uint32_t>(LoadU16(d, at + 2)) << 16);
}

inline void AppendU16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  AppendU16(out, v & 0xFFFF);
  AppendU16(out, v >> 16);
}

// Unaligned 32- and 64-bit words at any address, for loops that move pixel bytes a word at a
// time. The machine's order is little-endian, the order of the bytes in the files.
static_assert(std::endian::native == std::endian::little);
inline std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, sizeof v); }
inline void Store64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, sizeof v); }

}  // namespace tk
