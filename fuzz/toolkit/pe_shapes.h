// Where the resource directories of a PE image lie, for the tools that reshape them on purpose:
// the library fuzzer's mutator and the generator of large reproducers. Only bounds-checked
// reads; an image that does not parse has no directories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "toolkit/core/bytes.h"
#include "toolkit/system/pe_resources.h"

namespace peshapes {

// One resource directory: the offset in the image of its 16-byte header and its entry count.
struct Directory {
  std::size_t at;
  std::uint32_t count;
  // The offset in the image of entry i (8 bytes: name field, target field).
  std::size_t Entry(std::uint32_t i) const { return at + tk::pe::kResourceDirSize + tk::pe::kResourceEntrySize * i; }
};

// The offset of the resource section in the image and its size; size 0 when there is none.
struct Section {
  std::size_t at = 0;
  std::size_t size = 0;
};

inline Section ResourceSection(std::span<const std::uint8_t> image) {
  std::string error;
  const auto tree = tk::pe::ResourceTree::Parse(image, error);
  if (!tree) return {};
  return {static_cast<std::size_t>(tree->ResourceSection().data() - image.data()), tree->ResourceSection().size()};
}

// The directories reachable from the root whose entries lie within the section, breadth first,
// each once, at most limit of them.
inline std::vector<Directory> Directories(std::span<const std::uint8_t> image, std::size_t limit = 4096) {
  const Section section = ResourceSection(image);
  std::vector<Directory> out;
  if (section.size == 0) return out;
  const std::span<const std::uint8_t> rsrc = image.subspan(section.at, section.size);
  std::deque<std::uint32_t> queue{0};
  std::set<std::uint32_t> seen{0};
  while (!queue.empty() && out.size() < limit) {
    const std::uint32_t offset = queue.front();
    queue.pop_front();
    if (offset > rsrc.size() || rsrc.size() - offset < tk::pe::kResourceDirSize) continue;
    const std::uint32_t count = std::uint32_t{tk::LoadU16(rsrc, offset + 12)} + tk::LoadU16(rsrc, offset + 14);
    const std::size_t room = (rsrc.size() - offset - tk::pe::kResourceDirSize) / tk::pe::kResourceEntrySize;
    if (count > room) continue;
    const Directory directory{section.at + offset, count};
    out.push_back(directory);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t target = tk::LoadU32(image, directory.Entry(i) + 4);
      if ((target & tk::pe::kHighBit) && seen.insert(target & ~tk::pe::kHighBit).second)
        queue.push_back(target & ~tk::pe::kHighBit);
    }
  }
  return out;
}

}  // namespace peshapes
