// Structure-aware mutations of icon and cursor files: the directory is cut out of the input and
// its entries are repeated, made to share one image or overlap another, dropped and reordered,
// with the image offsets kept pointing at the same bytes behind the directory; or its count is
// made to lie. Byte flips alone rarely make thousands of entries that lead to real images.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "fuzz/mutation.h"
#include "toolkit/core/bytes.h"

namespace {

using fuzzmutation::Below;
using fuzzmutation::Bytes;
using fuzzmutation::Random;

constexpr std::size_t kEntry = 16;

Bytes Reshape(const Bytes& input, Random& random, std::size_t maxSize) {
  if (input.size() < 6 + kEntry) return {};
  const std::size_t count = std::min<std::size_t>(tk::LoadU16(input, 4), (input.size() - 6) / kEntry);
  if (count == 0) return {};
  std::vector<Bytes> entries;
  for (std::size_t i = 0; i < count; ++i)
    entries.emplace_back(input.begin() + static_cast<std::ptrdiff_t>(6 + kEntry * i),
                         input.begin() + static_cast<std::ptrdiff_t>(6 + kEntry * (i + 1)));
  const std::size_t oldEnd = 6 + kEntry * count;
  const std::size_t i = Below(random, count), j = Below(random, count);
  bool lie = false;
  switch (random() % 6) {
    case 0: {  // repeat an entry, as often as fits
      const std::size_t room = std::min<std::size_t>(maxSize > input.size() ? (maxSize - input.size()) / kEntry : 0,
                                                     0xFFFF - count);
      if (room == 0) return {};
      entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(i) + 1, fuzzmutation::Repeats(random, room), entries[i]);
      break;
    }
    case 1:  // share another entry's image
      std::copy(entries[j].begin() + 8, entries[j].end(), entries[i].begin() + 8);
      break;
    case 2: {  // overlap another entry's image, a little further on
      const std::uint32_t offset = tk::LoadU32(entries[j], 12) + static_cast<std::uint32_t>(Below(random, 64));
      tk::Store32(entries[i].data() + 12, offset);
      break;
    }
    case 3:
      if (count > 1) entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    case 4:
      std::swap(entries[i], entries[j]);
      break;
    default:
      lie = true;
  }
  // The images keep their bytes behind the directory; offsets into them move with its end.
  const std::size_t newEnd = 6 + kEntry * entries.size();
  Bytes out(input.begin(), input.begin() + 6);
  const std::uint32_t shown = lie ? static_cast<std::uint32_t>(random()) & 0xFFFF : static_cast<std::uint32_t>(entries.size());
  out[4] = static_cast<std::uint8_t>(shown);
  out[5] = static_cast<std::uint8_t>(shown >> 8);
  for (Bytes& e : entries) {
    const std::uint32_t offset = tk::LoadU32(e, 12);
    if (offset >= oldEnd) tk::Store32(e.data() + 12, static_cast<std::uint32_t>(offset - oldEnd + newEnd));
    out.insert(out.end(), e.begin(), e.end());
  }
  out.insert(out.end(), input.begin() + static_cast<std::ptrdiff_t>(oldEnd), input.end());
  return out;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned seed) {
  return fuzzmutation::Mutate(data, size, maxSize, seed, Reshape);
}
