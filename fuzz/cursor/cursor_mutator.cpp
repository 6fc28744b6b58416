// Structure-aware mutations of animated cursors: the RIFF chunks (and the chunks of each "LIST")
// are cut out of the input, repeated, dropped, reordered or copied into another list, and the
// file is written again with every size right. Byte flips alone break the sizes that tie the
// chunks together.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "fuzz/mutation.h"
#include "toolkit/core/bytes.h"

namespace {

using fuzzmutation::Below;
using fuzzmutation::Bytes;
using fuzzmutation::Random;

struct Chunk {
  Bytes id;    // 4 bytes
  Bytes data;  // a leaf's bytes, or a list's type
  bool list = false;
  std::vector<Chunk> children;
};

// The chunks in [at, end); a chunk cut short keeps the bytes there are.
std::vector<Chunk> ParseChunks(const Bytes& b, std::size_t at, std::size_t end, int depth) {
  std::vector<Chunk> chunks;
  while (at + 8 <= end) {
    Chunk c;
    c.id.assign(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + 4));
    const std::size_t size = std::min<std::size_t>(tk::LoadU32(b, at + 4), end - at - 8);
    const std::size_t data = at + 8;
    if (depth == 0 && std::memcmp(c.id.data(), "LIST", 4) == 0 && size >= 4) {
      c.list = true;
      c.data.assign(b.begin() + static_cast<std::ptrdiff_t>(data), b.begin() + static_cast<std::ptrdiff_t>(data + 4));
      c.children = ParseChunks(b, data + 4, data + size, depth + 1);
    } else {
      c.data.assign(b.begin() + static_cast<std::ptrdiff_t>(data), b.begin() + static_cast<std::ptrdiff_t>(data + size));
    }
    chunks.push_back(std::move(c));
    at = data + size + (size & 1);
  }
  return chunks;
}

void Write(Bytes& out, const Chunk& c) {
  out.insert(out.end(), c.id.begin(), c.id.end());
  const std::size_t sizeAt = out.size();
  tk::AppendU32(out, 0);
  out.insert(out.end(), c.data.begin(), c.data.end());
  for (const Chunk& child : c.children) Write(out, child);
  const std::size_t size = out.size() - sizeAt - 4;
  tk::Store32(out.data() + sizeAt, static_cast<std::uint32_t>(size));
  if (size & 1) out.push_back(0);
}

std::size_t Bytesize(const Chunk& c) {
  std::size_t n = 8 + c.data.size();
  for (const Chunk& child : c.children) n += Bytesize(child);
  return n + (n & 1);
}

Bytes Reshape(const Bytes& input, Random& random, std::size_t maxSize) {
  if (input.size() < 12 || std::memcmp(input.data(), "RIFF", 4) != 0) return {};
  std::vector<Chunk> top = ParseChunks(input, 12, input.size(), 0);
  // Every list of chunks: the top level and the children of each LIST.
  std::vector<std::vector<Chunk>*> lists{&top};
  for (Chunk& c : top)
    if (c.list) lists.push_back(&c.children);
  std::vector<Chunk>& from = *lists[Below(random, lists.size())];
  if (from.empty()) return {};
  const std::size_t i = Below(random, from.size());
  switch (random() % 4) {
    case 0: {  // repeat a chunk, as often as fits
      const std::size_t size = Bytesize(from[i]);
      const std::size_t room = maxSize > input.size() ? (maxSize - input.size()) / size : 0;
      if (room == 0) return {};
      const Chunk copy = from[i];
      from.insert(from.begin() + static_cast<std::ptrdiff_t>(i) + 1, fuzzmutation::Repeats(random, room), copy);
      break;
    }
    case 1:
      from.erase(from.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    case 2:
      std::swap(from[i], from[Below(random, from.size())]);
      break;
    default: {  // a copy into another list (a leaf only: lists do not nest)
      if (from[i].list) return {};
      std::vector<Chunk>& to = *lists[Below(random, lists.size())];
      const Chunk copy = from[i];
      to.insert(to.begin() + static_cast<std::ptrdiff_t>(Below(random, to.size() + 1)), copy);
    }
  }
  Chunk riff;
  riff.id.assign(input.begin(), input.begin() + 4);
  riff.data.assign(input.begin() + 8, input.begin() + 12);
  riff.children = std::move(top);
  Bytes out;
  Write(out, riff);
  return out;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned seed) {
  return fuzzmutation::Mutate(data, size, maxSize, seed, Reshape);
}
