#include "toolkit/system/pe_resources.h"

#include <algorithm>
#include <set>

#include "toolkit/core/bytes.h"
#include "toolkit/core/exceptions.h"

namespace tk::pe {

namespace {

bool Has(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint64_t length) {
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::optional<ResourceTree> ResourceTree::Parse(std::span<const std::uint8_t> image,
                                                std::string& error) {
  auto fail = [&](const char* reason) -> std::optional<ResourceTree> {
    error = reason;
    return std::nullopt;
  };
  if (!Has(image, 0, 64) || LoadU16(image, 0) != kDosMagic) return fail("no DOS header (MZ)");
  const std::uint32_t peOffset = LoadU32(image, kDosLfanewOffset);
  if (!Has(image, peOffset, 4 + kCoffHeaderSize)) return fail("PE header lies beyond the file");
  if (LoadU32(image, peOffset) != kPeSignature) return fail("no PE signature");

  const std::uint32_t coff = peOffset + 4;
  const std::uint16_t sectionCount = LoadU16(image, coff + 2);
  const std::uint16_t optionalSize = LoadU16(image, coff + 16);
  const std::uint16_t characteristics = LoadU16(image, coff + 18);
  if (!(characteristics & kFileDll)) return fail("not a DLL");

  const std::uint32_t optional = coff + kCoffHeaderSize;
  if (optionalSize < 2 || !Has(image, optional, optionalSize))
    return fail("optional header cut short");
  ResourceTree tree;
  tree.image_ = image;
  const std::uint16_t magic = LoadU16(image, optional);
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) return fail("unknown optional header magic");
  tree.pe32Plus_ = magic == kMagicPe32Plus;
  // Where the count of data directories and the directories themselves lie.
  const std::uint32_t countAt = tree.pe32Plus_ ? 108 : 92;
  const std::uint32_t dirsAt = countAt + 4;
  if (optionalSize < dirsAt) return fail("optional header cut short");
  const std::uint32_t dirCount =
      std::min<std::uint32_t>(LoadU32(image, optional + countAt), (optionalSize - dirsAt) / 8);
  if (dirCount <= kResourceDirectoryIndex) return fail("no resource directory");
  const std::uint32_t rsrcRva = LoadU32(image, optional + dirsAt + 8 * kResourceDirectoryIndex);
  if (rsrcRva == 0) return fail("no resource directory");

  const std::uint64_t sectionTable = std::uint64_t{optional} + optionalSize;
  if (!Has(image, sectionTable, std::uint64_t{sectionCount} * kSectionHeaderSize))
    return fail("section table lies beyond the file");
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const std::size_t at = static_cast<std::size_t>(sectionTable) + i * kSectionHeaderSize;
    tree.sections_.push_back(
        {LoadU32(image, at + 12), LoadU32(image, at + 8), LoadU32(image, at + 20), LoadU32(image, at + 16)});
  }
  auto root = tree.MapRva(rsrcRva);
  if (!root) return fail("resource directory lies outside every section");
  tree.rsrc_ = image.subspan(root->first, root->second);
  if (!Has(tree.rsrc_, 0, kResourceDirSize)) return fail("resource directory cut short");
  error.clear();
  return tree;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> ResourceTree::MapRva(std::uint32_t rva) const {
  for (const Section& s : sections_) {
    // Raw bytes past the virtual size are not part of the mapped section.
    std::uint32_t extent = s.virtualSize != 0 ? std::min(s.rawSize, s.virtualSize) : s.rawSize;
    if (rva < s.virtualAddress || rva - s.virtualAddress >= extent) continue;
    const std::uint32_t delta = rva - s.virtualAddress;
    const std::uint64_t offset = std::uint64_t{s.rawPointer} + delta;
    if (offset >= image_.size()) return std::nullopt;
    const std::uint64_t avail = std::min<std::uint64_t>(extent - delta, image_.size() - offset);
    return std::pair{static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(avail)};
  }
  return std::nullopt;
}

std::optional<std::uint32_t> ResourceTree::NameLength(std::uint32_t offset) const {
  if (!Has(rsrc_, offset, 2)) return std::nullopt;
  const std::uint32_t length = LoadU16(rsrc_, offset);
  if (!Has(rsrc_, std::uint64_t{offset} + 2, std::uint64_t{length} * 2)) return std::nullopt;
  return length;
}

std::optional<std::string> ResourceTree::Name(std::uint32_t offset) const {
  const auto length = NameLength(offset);
  if (!length) return std::nullopt;
  std::string name;
  for (std::uint32_t i = 0; i < *length; ++i) {
    std::uint32_t c = LoadU16(rsrc_, offset + 2 + 2 * i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < *length) {
      std::uint32_t low = LoadU16(rsrc_, offset + 4 + 2 * i);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone surrogate
    AppendUtf8(name, c);
  }
  return name;
}

bool ResourceTree::NameIs(std::uint32_t offset, std::string_view text) const {
  // Every UTF-16 unit gives at least one byte of UTF-8: a longer name cannot be the text.
  const auto length = NameLength(offset);
  if (!length || *length > text.size()) return false;
  const auto name = Name(offset);
  return name && SameText(*name, text);
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> ResourceTree::Entries(std::uint32_t offset) const {
  if (!Has(rsrc_, offset, kResourceDirSize)) return std::nullopt;
  const std::uint32_t count = std::uint32_t{LoadU16(rsrc_, offset + 12)} + LoadU16(rsrc_, offset + 14);
  const std::uint64_t first = std::uint64_t{offset} + kResourceDirSize;
  if (!Has(rsrc_, first, std::uint64_t{count} * kResourceEntrySize)) return std::nullopt;
  return std::pair{static_cast<std::uint32_t>(first), count};
}

std::vector<ResourceTree::Entry> ResourceTree::Directory(std::uint32_t offset, Budget& budget) const {
  std::vector<Entry> entries;
  const auto table = Entries(offset);
  if (!table) return entries;
  const auto [first, count] = *table;
  if (count > budget.entries) {
    budget.entries = 0;
    return entries;
  }
  budget.entries -= count;
  entries.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t at = first + i * kResourceEntrySize;
    const std::uint32_t nameField = LoadU32(rsrc_, at);
    const std::uint32_t target = LoadU32(rsrc_, at + 4);
    if (nameField & kHighBit) {
      const auto length = NameLength(nameField & ~kHighBit);
      if (!length) continue;  // a name that runs out of the section: skip the entry
      if (*length > budget.nameUnits) {
        budget = {0, 0};
        return entries;
      }
      budget.nameUnits -= *length;
      entries.push_back({TResName(std::string_view(*Name(nameField & ~kHighBit))), target});
    } else {
      entries.push_back({TResName(static_cast<std::uint16_t>(nameField)), target});
    }
  }
  return entries;
}

std::optional<std::uint32_t> ResourceTree::Lookup(std::uint32_t offset, const TResName* wanted) const {
  const auto table = Entries(offset);
  if (!table) return std::nullopt;
  const auto [first, count] = *table;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t at = first + i * kResourceEntrySize;
    const std::uint32_t nameField = LoadU32(rsrc_, at);
    const std::uint32_t target = LoadU32(rsrc_, at + 4);
    bool match;
    if (nameField & kHighBit) {
      // An entry whose name runs out of the section is passed over. Quirk: a damaged tree gives
      // "not found" instead of reading past the section. Test: DamagedLibrary.TreesThatLieGiveNotFound.
      match = wanted ? !wanted->IsId() && NameIs(nameField & ~kHighBit, wanted->Name())
                     : NameLength(nameField & ~kHighBit).has_value();
    } else {
      match = !wanted || (wanted->IsId() && wanted->Id() == static_cast<std::uint16_t>(nameField));
    }
    if (match) return target;
  }
  return std::nullopt;
}

std::optional<std::span<const std::uint8_t>> ResourceTree::Data(std::uint32_t entryOffset) const {
  if (!Has(rsrc_, entryOffset, kResourceDataEntrySize)) return std::nullopt;
  const std::uint32_t rva = LoadU32(rsrc_, entryOffset);
  const std::uint32_t size = LoadU32(rsrc_, entryOffset + 4);
  if (size == 0) return std::span<const std::uint8_t>();
  auto place = MapRva(rva);
  if (!place || place->second < size) return std::nullopt;
  return image_.subspan(place->first, size);
}

std::optional<std::span<const std::uint8_t>> ResourceTree::Find(const TResName& name,
                                                                const TResName& type) const {
  // Each level is one directory: take the first matching entry, as the platform does.
  const auto names = Lookup(0, &type);
  if (!names || !(*names & kHighBit)) return std::nullopt;
  const auto languages = Lookup(*names & ~kHighBit, &name);
  if (!languages || !(*languages & kHighBit)) return std::nullopt;
  const auto data = Lookup(*languages & ~kHighBit, nullptr);
  if (!data || (*data & kHighBit)) return std::nullopt;
  return Data(*data);
}

std::vector<TResourceInfo> ResourceTree::Enumerate() const {
  std::vector<TResourceInfo> out;
  std::set<std::uint32_t> seen;
  // A sound tree has its entries side by side, 8 bytes each, and its names one after another,
  // 2 bytes a character, all within the section.
  Budget budget{rsrc_.size() / kResourceEntrySize, rsrc_.size() / 2};
  auto subdirectory = [&](const Entry& e) -> std::optional<std::uint32_t> {
    if (!(e.target & kHighBit)) return std::nullopt;
    const std::uint32_t offset = e.target & ~kHighBit;
    if (offset == 0 || !seen.insert(offset).second) return std::nullopt;
    return offset;
  };
  for (const Entry& t : Directory(0, budget)) {
    auto names = subdirectory(t);
    if (!names) continue;
    for (const Entry& n : Directory(*names, budget)) {
      auto languages = subdirectory(n);
      if (!languages) continue;
      for (const Entry& l : Directory(*languages, budget)) {
        if (l.target & kHighBit || !l.name.IsId()) continue;
        if (auto bytes = Data(l.target))
          out.push_back({t.name, n.name, l.name.Id(), bytes->size()});
      }
    }
  }
  return out;
}

}  // namespace tk::pe
