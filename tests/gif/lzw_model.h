// The LZW encoding as plainly as it can be put, for the encoder's tests and its differential
// fuzzer: a map from (prefix code, pixel) to code, and codes packed through a 260-byte buffer that
// goes out 255 bytes at a time. Pixels in the order they are coded; the result is the code size
// byte, the sub-blocks and the terminator.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace giftest {

inline std::vector<std::uint8_t> ModelEncode(int codeSize, const std::vector<std::uint8_t>& pixels) {
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(codeSize)};
  std::uint8_t buffer[260] = {};
  int position = 0;
  int width = codeSize + 1;
  auto put = [&](unsigned code) {
    const int i = position / 8;
    const std::uint32_t v = code << (position % 8);
    buffer[i] |= static_cast<std::uint8_t>(v);
    buffer[i + 1] = static_cast<std::uint8_t>(v >> 8);
    buffer[i + 2] = static_cast<std::uint8_t>(v >> 16);
    position += width;
    if (position >= 2040) {
      out.push_back(255);
      out.insert(out.end(), buffer, buffer + 255);
      buffer[0] = buffer[255];
      buffer[1] = buffer[256];
      std::fill(buffer + 2, buffer + 257, 0);
      position -= 2040;
    }
  };
  const unsigned clear = 1u << codeSize, end = clear + 1;
  unsigned last = end, capacity = 1u << width;
  std::map<std::pair<unsigned, unsigned>, unsigned> table;
  put(clear);
  unsigned prefix = 0;
  int length = 0;
  for (std::uint8_t p : pixels) {
    if (++length == 1) {
      prefix = p;
      continue;
    }
    auto found = table.find({prefix, p});
    if (found != table.end()) {
      prefix = found->second;
      continue;
    }
    put(prefix);
    table[{prefix, p}] = ++last;
    prefix = p;
    length = 1;
    if (last >= capacity) {
      capacity *= 2;
      ++width;
    } else if (last >= 4094) {
      put(p);
      put(clear);
      length = 0;
      last = end;
      width = codeSize + 1;
      capacity = 1u << width;
      table.clear();
    }
  }
  if (length > 0) put(prefix);
  put(end);
  const int n = (position + 7) / 8;
  if (n > 0) {
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), buffer, buffer + n);
  }
  out.push_back(0);
  return out;
}

}  // namespace giftest
