// Helpers that build GIF byte streams for tests: blocks, colour tables and LZW code streams.
#pragma once

#include <cstdint>
#include <algorithm>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "gif/decoder.h"
#include "gif/gif.h"
#include "toolkit/core/streams.h"

namespace giftest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes& operator<<(Bytes& b, const Bytes& more) {
  b.insert(b.end(), more.begin(), more.end());
  return b;
}
inline Bytes& operator<<(Bytes& b, std::string_view text) {
  b.insert(b.end(), text.begin(), text.end());
  return b;
}

// n bytes of b from at on.
inline Bytes Slice(const Bytes& b, std::size_t at, std::size_t n) {
  return {b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

inline Bytes U16(unsigned v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}; }

// The bytes after their length as a 32-bit little-endian number, and before that the optional
// prefix (the stored form of a GIF picture).
inline Bytes WithLength(const Bytes& bytes, const Bytes& prefix = {}) {
  Bytes b(prefix.size() + 4 + bytes.size());
  std::copy(prefix.begin(), prefix.end(), b.begin());
  for (std::size_t i = 0; i < 4; ++i) b[prefix.size() + i] = static_cast<std::uint8_t>(bytes.size() >> (8 * i));
  std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(prefix.size() + 4));
  return b;
}

// Header and logical screen descriptor.
inline Bytes Screen(unsigned width, unsigned height, std::uint8_t packed = 0, std::uint8_t background = 0,
                    std::uint8_t aspect = 0, std::string_view signature = "GIF89a") {
  Bytes b;
  b << signature << U16(width) << U16(height);
  b.push_back(packed);
  b.push_back(background);
  b.push_back(aspect);
  return b;
}

// A colour table of n entries; entry i is (i, 2i, 3i) unless given.
inline Bytes Table(int n) {
  Bytes b;
  for (int i = 0; i < n; ++i) {
    b.push_back(static_cast<std::uint8_t>(i));
    b.push_back(static_cast<std::uint8_t>(2 * i));
    b.push_back(static_cast<std::uint8_t>(3 * i));
  }
  return b;
}
inline gif::TColor TableColor(int i) {
  return static_cast<gif::TColor>(i | (2 * i & 255) << 8 | (3 * i & 255) << 16);
}

inline Bytes GraphicControl(std::uint8_t packed, unsigned delay, std::uint8_t index) {
  Bytes b{0x21, 0xF9, 4, packed};
  b << U16(delay);
  b.push_back(index);
  b.push_back(0);
  return b;
}

// A sub-block chain of the given blocks, with its terminator.
inline Bytes Chain(std::initializer_list<Bytes> blocks) {
  Bytes b;
  for (const Bytes& block : blocks) {
    b.push_back(static_cast<std::uint8_t>(block.size()));
    b << block;
  }
  b.push_back(0);
  return b;
}

inline Bytes Comment(std::initializer_list<Bytes> blocks) {
  Bytes b{0x21, 0xFE};
  return b << Chain(blocks);
}

inline Bytes Application(std::string_view id, std::initializer_list<Bytes> blocks, std::uint8_t size = 11) {
  Bytes b{0x21, 0xFF, size};
  b << id;
  return b << Chain(blocks);
}

inline Bytes PlainText(std::initializer_list<Bytes> blocks) {
  Bytes b{0x21, 0x01, 12};
  b << Bytes(12, 0);
  return b << Chain(blocks);
}

inline Bytes Descriptor(unsigned left, unsigned top, unsigned width, unsigned height, std::uint8_t packed = 0) {
  Bytes b{0x2C};
  b << U16(left) << U16(top) << U16(width) << U16(height);
  b.push_back(packed);
  return b;
}

// Packs codes, each at its own width, least significant bit first.
inline Bytes PackCodes(const std::vector<std::pair<unsigned, int>>& codes) {
  Bytes out;
  std::uint32_t acc = 0;
  int bits = 0;
  for (auto [code, width] : codes) {
    acc |= code << bits;
    bits += width;
    while (bits >= 8) {
      out.push_back(static_cast<std::uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) out.push_back(static_cast<std::uint8_t>(acc));
  return out;
}

// Splits data into sub-blocks of at most 255 bytes and adds the terminator.
inline Bytes SubBlocks(const Bytes& data, std::size_t blockSize = 255) {
  Bytes b;
  for (std::size_t i = 0; i < data.size(); i += blockSize) {
    std::size_t n = std::min(blockSize, data.size() - i);
    b.push_back(static_cast<std::uint8_t>(n));
    b.insert(b.end(), data.begin() + static_cast<std::ptrdiff_t>(i), data.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  b.push_back(0);
  return b;
}

// Image data (code size byte and chain) of codes at given widths.
inline Bytes CodeData(std::uint8_t codeSize, const std::vector<std::pair<unsigned, int>>& codes) {
  Bytes b{codeSize};
  return b << SubBlocks(PackCodes(codes));
}

// Image data that codes every pixel as its own literal, following the decoder's table growth:
// ClearCode first, a ClearCode again before the table fills, EndCode last.
inline Bytes LiteralData(int codeSize, const std::vector<std::uint8_t>& pixels, bool clearFirst = true) {
  const unsigned clear = 1u << codeSize;
  std::vector<std::pair<unsigned, int>> codes;
  int width = codeSize + 1;
  unsigned next = clear + 2;
  bool fresh = true;
  if (clearFirst) codes.push_back({clear, width});
  for (std::uint8_t p : pixels) {
    codes.push_back({p, width});
    if (fresh) {
      fresh = false;
      continue;
    }
    if (++next == (1u << width)) {
      if (width < 12) {
        ++width;
      } else {
        codes.push_back({clear, width});
        width = codeSize + 1;
        next = clear + 2;
        fresh = true;
      }
    }
  }
  codes.push_back({clear + 1, width});
  return CodeData(static_cast<std::uint8_t>(codeSize), codes);
}

// A one-image GIF with a global table of 2^depth entries and literal-coded pixels.
inline Bytes SimpleGif(int width, int height, int depth, const std::vector<std::uint8_t>& pixels,
                       std::uint8_t descFlags = 0, const Bytes& before = {}) {
  Bytes b = Screen(static_cast<unsigned>(width), static_cast<unsigned>(height),
                   static_cast<std::uint8_t>(0x80 | (depth - 1)));
  b << Table(1 << depth) << before
    << Descriptor(0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), descFlags)
    << LiteralData(std::max(depth, 2), pixels);
  b.push_back(0x3B);
  return b;
}

// The pixel indices of a bitmap file image, top row first.
inline std::vector<unsigned> DibIndices(std::span<const std::uint8_t> file) {
  auto u32 = [&](int at) { return file[at] | file[at + 1] << 8 | file[at + 2] << 16 | unsigned(file[at + 3]) << 24; };
  const int offset = static_cast<int>(u32(10)), width = static_cast<int>(u32(18)), height = static_cast<int>(u32(22));
  const int bits = file[28];
  std::vector<unsigned> indices;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = file.data() + offset + (height - 1 - y) * tk::DibRowBytes(width, bits);
    for (int x = 0; x < width; ++x)
      indices.push_back(bits == 8 ? row[x] : bits == 4 ? (x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4)
                                                       : row[x / 8] >> (7 - x % 8) & 1);
  }
  return indices;
}

// Reads bytes into a picture with ReadGIF.
inline void Read(gif::TGIFImage& picture, const Bytes& bytes, bool decodeFirst = false) {
  tk::TReadOnlyMemoryStream stream(bytes);
  picture.ReadGIF(stream.Size(), stream, decodeFirst);
}

// Counts the changes a picture signals.
struct ChangeCounter {
  explicit ChangeCounter(gif::TGIFImage& picture) {
    picture.OnChange = [this](tk::TGraphic*) { ++count; };
  }
  int count = 0;
};

// Sets TolerateDamage for the life of the guard.
class Tolerate {
 public:
  explicit Tolerate(bool value) : saved_(gif::TolerateDamage) { gif::TolerateDamage = value; }
  ~Tolerate() { gif::TolerateDamage = saved_; }
  Tolerate(const Tolerate&) = delete;
  Tolerate& operator=(const Tolerate&) = delete;

 private:
  bool saved_;
};

// Expects a call to fail with an exception of type E carrying the message.
#define EXPECT_FAILS_WITH(statement, E, message)                         \
  do {                                                                   \
    try {                                                                \
      statement;                                                         \
      ADD_FAILURE() << "no exception from " #statement;                  \
    } catch (const E& e) {                                               \
      EXPECT_EQ(e.Message(), message);                                   \
    } catch (const std::exception& e) {                                  \
      ADD_FAILURE() << "wrong exception from " #statement ": " << e.what(); \
    }                                                                    \
  } while (0)

}  // namespace giftest
