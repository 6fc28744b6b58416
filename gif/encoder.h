// The LZW encoder's string table: its size and the slot where a string's search starts.
// EncodePixels itself is declared in gif/gif.h.
#pragma once

#include <cstdint>

namespace gif {

// The string table holds every string of the current table as its prefix code (the code of all
// its pixels but the last) and its last pixel. It has this many slots, linearly probed; the
// longest table (codes 258..4094) fills less than a quarter of it.
inline constexpr int kStringSlotBits = 14;
inline constexpr std::uint32_t kStringSlots = 1u << kStringSlotBits;

// The slot where the search for the string (prefix code, pixel) starts. The key is spread by a
// multiplicative hash, so that neighbouring prefix codes and pixel values land far apart.
constexpr std::uint32_t StringHash(std::uint32_t prefix, std::uint32_t pixel) {
  return ((prefix << 8 | pixel) * 0x9E3779B1u) >> (32 - kStringSlotBits);
}

}  // namespace gif
