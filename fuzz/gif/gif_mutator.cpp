// Structure-aware mutations of GIF streams for the reader's and the writer's fuzzers: the block
// sequence (extensions and images) is cut out of the input and blocks are repeated, dropped,
// moved and copied, so that pictures of very many frames or extensions, and extensions in every
// order around the images, are reached as well as what byte flips make.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "fuzz/mutation.h"

namespace {

using fuzzmutation::Below;
using fuzzmutation::Bytes;
using fuzzmutation::Random;

// A GIF as its header part (signature, screen and global table), its blocks and what follows
// the last block (trailer and anything after it).
struct Blocks {
  Bytes head;
  std::vector<Bytes> blocks;
  Bytes tail;
};

// The end of the sub-block chain that starts at at (the end of the data when it runs out).
std::size_t ChainEnd(const Bytes& b, std::size_t at) {
  while (at < b.size()) {
    const std::size_t length = b[at];
    at += 1 + length;
    if (length == 0) return at;
  }
  return b.size();
}

bool Parse(const Bytes& b, Blocks& out) {
  if (b.size() < 13) return false;
  std::size_t at = 13;
  if (b[10] & 0x80) at += 3u << ((b[10] & 7) + 1);
  if (at > b.size()) return false;
  out.head.assign(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(at));
  while (at < b.size() && (b[at] == 0x21 || b[at] == 0x2C)) {
    std::size_t end;
    if (b[at] == 0x21) {
      end = ChainEnd(b, at + 2);
    } else {
      std::size_t data = at + 10;
      if (data <= b.size() && (b[at + 9] & 0x80)) data += 3u << ((b[at + 9] & 7) + 1);
      end = ChainEnd(b, data + 1);
    }
    end = std::min(end, b.size());
    out.blocks.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(end));
    at = end;
  }
  out.tail.assign(b.begin() + static_cast<std::ptrdiff_t>(at), b.end());
  return !out.blocks.empty();
}

Bytes Reshape(const Bytes& input, Random& random, std::size_t maxSize) {
  Blocks gif;
  if (!Parse(input, gif)) return {};
  auto& blocks = gif.blocks;
  const std::size_t i = Below(random, blocks.size());
  switch (random() % 5) {
    case 0: {  // repeat a block, as often as fits
      const std::size_t room = maxSize > input.size() ? (maxSize - input.size()) / blocks[i].size() : 0;
      if (room == 0) return {};
      const Bytes copy = blocks[i];
      blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(i) + 1, fuzzmutation::Repeats(random, room), copy);
      break;
    }
    case 1:
      blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    case 2:
      std::swap(blocks[i], blocks[Below(random, blocks.size())]);
      break;
    case 3: {
      const Bytes copy = blocks[i];
      blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(Below(random, blocks.size() + 1)), copy);
      break;
    }
    default:  // the end of the data right after a block, or a trailer
      gif.tail = gif.tail.empty() ? Bytes{0x3B} : Bytes{};
  }
  Bytes out = gif.head;
  for (const Bytes& block : blocks) out.insert(out.end(), block.begin(), block.end());
  out.insert(out.end(), gif.tail.begin(), gif.tail.end());
  return out;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned seed) {
  return fuzzmutation::Mutate(data, size, maxSize, seed, Reshape);
}
