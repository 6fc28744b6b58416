// The frame of the structure-aware mutators (LLVMFuzzerCustomMutator): byte flips rarely build
// a valid directory, chunk list or block sequence, so half the mutations work on the structure
// of the input (repeating, sharing and reordering its parts) and half are libFuzzer's own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace fuzzmutation {

using Bytes = std::vector<std::uint8_t>;
using Random = std::minstd_rand;

// A number below n (n > 0).
inline std::size_t Below(Random& random, std::size_t n) { return static_cast<std::size_t>(random()) % n; }

// How many times to repeat a part: mostly a few, now and then many, rarely as many as fit (at
// most most). Large inputs are slow to run, so they are made only as often as they add paths.
inline std::size_t Repeats(Random& random, std::size_t most) {
  static constexpr std::size_t kCounts[] = {1, 1, 1, 2, 2, 3, 4, 7, 8, 15, 16, 31, 64, 255, 256, 1024};
  const std::size_t n = Below(random, 32) == 0 ? most : kCounts[Below(random, std::size(kCounts))];
  return std::max<std::size_t>(1, std::min(most, n));
}

// The structural mutation gives the new input, or nothing (empty) when the input has no
// structure it can work on.
template <class Structural>
std::size_t Mutate(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned seed,
                   Structural structural) {
  Random random(seed);
  if (random() % 2 == 0) return LLVMFuzzerMutate(data, size, maxSize);
  const Bytes result = structural(Bytes(data, data + size), random, maxSize);
  if (result.empty() || result.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, result.data(), result.size());
  return result.size();
}

}  // namespace fuzzmutation
