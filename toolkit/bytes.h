// Little-endian numbers in byte buffers, the byte order of every file format the platform reads
// and writes. The readers do not check bounds: callers check that the bytes are there first.
#pragma once

#include <cstddef>
#include <cstdint>
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

}  // namespace tk
