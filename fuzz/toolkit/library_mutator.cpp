// Structure-aware mutations of side libraries. A resource tree that byte flips cannot build is
// made in two ways: the library is rebuilt by the side-library writer with resources added
// (many, with long names, or the names the gadget asks for), renamed or removed; or its
// directories are reshaped where they lie, the way damaged or hostile files do: entries made to
// share one name or one subdirectory, counts raised, name lengths stretched.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz/mutation.h"
#include "fuzz/toolkit/pe_shapes.h"
#include "toolkit/core/bytes.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/system/pe_resources.h"
#include "tools/mkreslib/reslib.h"

namespace {

using fuzzmutation::Below;
using fuzzmutation::Bytes;
using fuzzmutation::Random;
using tk::pe::kHighBit;

std::string RandomName(Random& random) {
  static const char* const kNames[] = {"PT", "PL", "PR", "PB", "PcT", "PcL", "PcR", "PcB", "B", "C"};
  if (random() % 2) return kNames[Below(random, std::size(kNames))];
  static constexpr std::size_t kLengths[] = {1, 2, 5, 16, 255, 4096, 32767};
  std::string name(kLengths[Below(random, std::size(kLengths))], 'A');
  for (char& c : name) c = static_cast<char>('A' + Below(random, 26));
  return name;
}

tk::TResName RandomType(Random& random) {
  static constexpr std::uint16_t kTypes[] = {tk::RT_RCDATA, tk::RT_BITMAP, tk::RT_ICON, tk::RT_GROUP_ICON};
  if (random() % 8 == 0) return tk::TResName(std::string_view("TYPE"));
  return kTypes[Below(random, std::size(kTypes))];
}

// The library written anew from its own resources, changed.
Bytes Rebuild(const Bytes& input, Random& random, std::size_t maxSize) {
  std::vector<reslib::Resource> resources;
  std::set<std::string> taken;  // type and name, as the writer compares them
  auto key = [](const tk::TResName& type, const tk::TResName& name) {
    return tk::LowerCase(type.Text() + (type.IsId() ? "#" : "$") + name.Text() + (name.IsId() ? "#" : "$"));
  };
  auto add = [&](const tk::TResName& type, const tk::TResName& name, Bytes bytes) {
    if (!name.IsId() && name.Name().empty()) return;
    if (taken.insert(key(type, name)).second) resources.push_back({type, name, std::move(bytes)});
  };
  std::string error;
  if (const auto tree = tk::pe::ResourceTree::Parse(input, error)) {
    for (const tk::TResourceInfo& info : tree->Enumerate()) {
      if (resources.size() >= 4096) break;
      if (!info.Name.IsId()) {
        const std::string& text = info.Name.Name();
        if (std::any_of(text.begin(), text.end(), [](char c) { return c < 0x20 || c > 0x7E; })) continue;
      }
      const auto bytes = tree->Find(info.Name, info.Type);
      add(info.Type, info.Name, bytes ? Bytes(bytes->begin(), bytes->end()) : Bytes{});
    }
  }
  switch (random() % 3) {
    case 0: {  // many new resources
      const std::size_t count = fuzzmutation::Repeats(random, 1024);
      for (std::size_t i = 0; i < count; ++i) {
        Bytes bytes(Below(random, 16), static_cast<std::uint8_t>(random()));
        if (random() % 2) add(RandomType(random), static_cast<std::uint16_t>(random()), bytes);
        else add(RandomType(random), tk::TResName(std::string_view(RandomName(random))), bytes);
      }
      break;
    }
    case 1:  // one resource renamed
      if (!resources.empty()) resources[Below(random, resources.size())].name = tk::TResName(std::string_view(RandomName(random)));
      break;
    default:
      if (!resources.empty()) resources.erase(resources.begin() + static_cast<std::ptrdiff_t>(Below(random, resources.size())));
  }
  try {
    Bytes out = reslib::BuildResourceDll(resources, random() % 2 ? reslib::ImageFormat::Pe32 : reslib::ImageFormat::Pe32Plus);
    return out.size() <= maxSize ? out : Bytes{};
  } catch (const tk::Exception&) {
    return {};  // two names the same but for case
  }
}

// The directories changed where they lie, one to four times.
Bytes Reshape(Bytes image, Random& random) {
  const peshapes::Section section = peshapes::ResourceSection(image);
  const std::vector<peshapes::Directory> directories = peshapes::Directories(image, 256);
  std::vector<std::size_t> entries, named;
  for (const peshapes::Directory& d : directories)
    for (std::uint32_t i = 0; i < d.count && i < 4096; ++i) {
      entries.push_back(d.Entry(i));
      if (tk::LoadU32(image, d.Entry(i)) & kHighBit) named.push_back(d.Entry(i));
    }
  if (entries.empty()) return {};
  const std::size_t sectionEnd = section.at + section.size;
  for (std::size_t n = 1 + Below(random, 4); n > 0; --n) {
    const std::size_t a = entries[Below(random, entries.size())], b = entries[Below(random, entries.size())];
    switch (random() % 4) {
      case 0:  // share a name
        if (!named.empty()) tk::Store32(image.data() + b, tk::LoadU32(image, named[Below(random, named.size())]));
        break;
      case 1:  // share a subdirectory or a data entry
        tk::Store32(image.data() + b + 4, tk::LoadU32(image, a + 4));
        break;
      case 2: {  // a count raised as far as the section has room
        const peshapes::Directory& d = directories[Below(random, directories.size())];
        const std::size_t room = (sectionEnd - d.Entry(0)) / tk::pe::kResourceEntrySize;
        const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::size_t>(room, 0xFFFF));
        const std::size_t field = d.at + (random() % 2 ? 12 : 14);
        image[field] = static_cast<std::uint8_t>(count);
        image[field + 1] = static_cast<std::uint8_t>(count >> 8);
        break;
      }
      default: {  // a name stretched as far as the section has room
        if (named.empty()) break;
        const std::size_t at = section.at + (tk::LoadU32(image, named[Below(random, named.size())]) & ~kHighBit);
        if (at + 2 > sectionEnd) break;
        const std::size_t length = std::min<std::size_t>((sectionEnd - at - 2) / 2, Below(random, 0x10000));
        image[at] = static_cast<std::uint8_t>(length);
        image[at + 1] = static_cast<std::uint8_t>(length >> 8);
      }
    }
  }
  return image;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned seed) {
  return fuzzmutation::Mutate(data, size, maxSize, seed, [](const Bytes& input, Random& random, std::size_t maxSize) {
    return random() % 3 == 0 ? Rebuild(input, random, maxSize) : Reshape(input, random);
  });
}
