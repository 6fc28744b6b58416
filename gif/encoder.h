// The LZW encoder's string table. EncodePixels itself is declared in gif/gif.h.
//
// Within the table a code goes by a scrambled name: the code times an odd constant, modulo 4096
// (a one-to-one map of 12-bit numbers). The search for the string (prefix, pixel) starts at the
// slot named by the prefix's scrambled name XOR a spread of the pixel: one XOR after the load
// that gave the prefix, where a hash of the code would take a multiplication. Consecutive codes
// get names far apart, so the slots of a table's strings do not cluster.
#pragma once

#include <cstdint>

namespace gif {

// Slots of the table, linearly probed; the longest table (codes 258..4094) fills an eighth.
inline constexpr int kStringSlotBits = 15;
inline constexpr std::uint32_t kStringSlots = 1u << kStringSlotBits;

constexpr unsigned ScrambleCode(unsigned code) { return code * 2531u & 0xFFF; }
// 971 is the inverse of 2531 modulo 4096.
constexpr unsigned UnscrambleCode(unsigned name) { return name * 971u & 0xFFF; }
static_assert(UnscrambleCode(ScrambleCode(4094)) == 4094 && ScrambleCode(0) == 0);

// The slot where the search for the string (prefix's scrambled name, pixel) starts.
constexpr std::uint32_t StringSlot(std::uint32_t prefixName, std::uint32_t pixel) {
  return prefixName ^ (pixel * 0x9E3779B1u >> (32 - kStringSlotBits));
}

}  // namespace gif
