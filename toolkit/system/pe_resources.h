// The resource section of a PE image (PE32 or PE32+): the three-level tree of types, names and
// languages and the data entries it leads to. Every offset and length read from the image is
// checked against the bytes before use; a damaged tree yields "not found", never a bad read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "toolkit/system/library.h"

namespace tk::pe {

// Layout constants shared by the parser and the library builder.
inline constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
inline constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
inline constexpr std::uint32_t kDosLfanewOffset = 0x3C;
inline constexpr std::uint32_t kCoffHeaderSize = 20;
inline constexpr std::uint16_t kMagicPe32 = 0x10B;
inline constexpr std::uint16_t kMagicPe32Plus = 0x20B;
inline constexpr std::uint16_t kFileExecutable = 0x0002;
inline constexpr std::uint16_t kFileDll = 0x2000;
inline constexpr std::uint32_t kSectionHeaderSize = 40;
inline constexpr std::uint32_t kResourceDirectoryIndex = 2;
inline constexpr std::uint32_t kResourceDirSize = 16;
inline constexpr std::uint32_t kResourceEntrySize = 8;
inline constexpr std::uint32_t kResourceDataEntrySize = 16;
inline constexpr std::uint32_t kHighBit = 0x80000000u;

// The resource tree of a parsed image. It refers to the image's bytes, which the caller keeps.
class ResourceTree {
 public:
  // Parses the headers and locates the resource section; on failure returns nothing and puts the
  // reason into error.
  static std::optional<ResourceTree> Parse(std::span<const std::uint8_t> image, std::string& error);

  bool IsPe32Plus() const { return pe32Plus_; }
  // The resource section from the tree's root on, within the image.
  std::span<const std::uint8_t> ResourceSection() const { return rsrc_; }
  // The bytes of the first language entry under type and name, or nothing. Names are compared
  // where they lie, and only as far as the name asked for reaches, so the work is bounded by the
  // number of entries whatever the names in the tree.
  std::optional<std::span<const std::uint8_t>> Find(const TResName& name, const TResName& type) const;
  // Every resource with a sound data entry. A directory reached twice (a loop or a shared
  // subtree) is walked only once, and the walk reads no more entries than the section has room
  // for (overlapping directories could otherwise claim far more) and converts no more name
  // characters than it has room for (entries sharing one long name could otherwise make copies
  // of it without end), so the work and the list are bounded by the size of the section.
  std::vector<TResourceInfo> Enumerate() const;

 private:
  struct Section {
    std::uint32_t virtualAddress, virtualSize, rawPointer, rawSize;
  };
  struct Entry {
    TResName name;
    std::uint32_t target;  // offset in the section, with kHighBit for a subdirectory
  };

  // The file offset of an RVA and the number of image bytes that follow it within its section.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> MapRva(std::uint32_t rva) const;
  // What a walk over the tree may still read: entries and name characters.
  struct Budget {
    std::size_t entries;
    std::size_t nameUnits;
  };
  // The directory at an offset of the resource section: where its entries begin and how many
  // there are; nothing when it runs out of the section.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> Entries(std::uint32_t offset) const;
  // The entries of the directory at an offset of the resource section (empty when damaged), its
  // names converted within the budget. A directory of more entries, or names of more
  // characters, than the budget allows spends it all and ends the walk.
  std::vector<Entry> Directory(std::uint32_t offset, Budget& budget) const;
  // The target of the first entry of the directory at an offset that matches a name or id (the
  // first readable entry when wanted is null), as the platform takes it; nothing when none does.
  std::optional<std::uint32_t> Lookup(std::uint32_t offset, const TResName* wanted) const;
  std::optional<std::span<const std::uint8_t>> Data(std::uint32_t entryOffset) const;
  // The number of UTF-16 units of the name at an offset of the section; nothing when it runs out.
  std::optional<std::uint32_t> NameLength(std::uint32_t offset) const;
  // Reads the UTF-16 name at an offset of the section, as UTF-8; nothing when it runs out.
  std::optional<std::string> Name(std::uint32_t offset) const;
  // Whether the name at an offset of the section is the text asked for (without regard to the
  // case of a-z); reads no more of it than the text's length.
  bool NameIs(std::uint32_t offset, std::string_view text) const;

  std::span<const std::uint8_t> image_;
  std::span<const std::uint8_t> rsrc_;  // the resource section from the tree's root on
  std::vector<Section> sections_;
  bool pe32Plus_ = false;
};

}  // namespace tk::pe
