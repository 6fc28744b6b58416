#include "tools/mkreslib/reslib.h"

#include <algorithm>
#include <map>

#include "toolkit/core/bytes.h"
#include "toolkit/system/pe_resources.h"

namespace reslib {

namespace {

using namespace tk::pe;

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kSectionRva = kSectionAlignment;
constexpr std::uint32_t kDosHeaderSize = 64;
constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kFile32BitMachine = 0x0100;
constexpr std::uint16_t kFileLargeAddressAware = 0x0020;
constexpr std::uint32_t kScnInitializedData = 0x00000040;
constexpr std::uint32_t kScnMemRead = 0x40000000;
constexpr std::uint16_t kSubsystemWindowsGui = 2;
constexpr std::uint32_t kDataDirectoryCount = 16;

std::uint32_t Align(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// A little-endian byte buffer written at explicit offsets.
struct Buffer {
  std::vector<std::uint8_t> bytes;
  void U8(std::size_t at, std::uint8_t v) { bytes.at(at) = v; }
  void U16(std::size_t at, std::uint16_t v) {
    U8(at, static_cast<std::uint8_t>(v));
    U8(at + 1, static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::size_t at, std::uint32_t v) {
    U16(at, static_cast<std::uint16_t>(v));
    U16(at + 2, static_cast<std::uint16_t>(v >> 16));
  }
  void U64(std::size_t at, std::uint64_t v) {
    U32(at, static_cast<std::uint32_t>(v));
    U32(at + 4, static_cast<std::uint32_t>(v >> 32));
  }
};

// Resource names as the tree stores them: texts upper-case, checked.
tk::TResName Normalised(const tk::TResName& name) {
  if (name.IsId()) return name;
  if (name.Name().empty()) throw tk::Exception("empty resource name");
  std::string upper = name.Name();
  for (char& c : upper) {
    if (c < 0x20 || c > 0x7E) throw tk::Exception("resource name '" + name.Name() + "' is not printable ASCII");
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return tk::TResName(std::string_view(upper));
}

// The order of entries in a directory: named entries first, by name, then ids ascending. The
// platform's lookup searches the directory by halves and relies on it.
struct NameOrder {
  bool operator()(const tk::TResName& a, const tk::TResName& b) const {
    if (a.IsId() != b.IsId()) return !a.IsId();
    return a.IsId() ? a.Id() < b.Id() : a.Name() < b.Name();
  }
};

using Tree = std::map<tk::TResName, std::map<tk::TResName, const Resource*, NameOrder>, NameOrder>;

// Lays out the .rsrc section: directory tables (root, then one per type, then one per name),
// then the name strings, then the data entries, then the data, each aligned.
std::vector<std::uint8_t> ResourceSection(const Tree& tree) {
  std::size_t names = 0;
  for (auto& [type, byName] : tree) names += byName.size();
  const std::uint32_t typeDirs = kResourceDirSize + kResourceEntrySize * static_cast<std::uint32_t>(tree.size());
  std::uint32_t nameDirs = 0;
  for (auto& [type, byName] : tree)
    nameDirs += kResourceDirSize + kResourceEntrySize * static_cast<std::uint32_t>(byName.size());
  const std::uint32_t languageDirs = static_cast<std::uint32_t>(names) * (kResourceDirSize + kResourceEntrySize);
  std::uint32_t stringsAt = typeDirs + nameDirs + languageDirs;
  std::uint32_t stringsSize = 0;
  auto stringSize = [](const tk::TResName& n) {
    return n.IsId() ? 0u : 2 + 2 * static_cast<std::uint32_t>(n.Name().size());
  };
  for (auto& [type, byName] : tree) {
    stringsSize += stringSize(type);
    for (auto& [name, r] : byName) stringsSize += stringSize(name);
  }
  const std::uint32_t entriesAt = Align(stringsAt + stringsSize, 4);
  std::uint32_t dataAt = Align(entriesAt + kResourceDataEntrySize * static_cast<std::uint32_t>(names), 8);
  std::uint32_t total = dataAt;
  for (auto& [type, byName] : tree)
    for (auto& [name, r] : byName) total = Align(total + static_cast<std::uint32_t>(r->bytes.size()), 8);

  Buffer out;
  out.bytes.assign(total, 0);
  auto directory = [&](std::uint32_t at, const std::vector<tk::TResName>& keys) {
    const auto named = std::count_if(keys.begin(), keys.end(), [](auto& k) { return !k.IsId(); });
    out.U16(at + 12, static_cast<std::uint16_t>(named));
    out.U16(at + 14, static_cast<std::uint16_t>(keys.size() - named));
  };
  auto entryName = [&](std::uint32_t at, const tk::TResName& key) {
    if (key.IsId()) {
      out.U32(at, key.Id());
      return;
    }
    out.U32(at, kHighBit | stringsAt);
    out.U16(stringsAt, static_cast<std::uint16_t>(key.Name().size()));
    for (std::size_t i = 0; i < key.Name().size(); ++i)
      out.U16(stringsAt + 2 + 2 * i, static_cast<std::uint8_t>(key.Name()[i]));
    stringsAt += stringSize(key);
  };

  std::vector<tk::TResName> typeKeys;
  for (auto& [type, byName] : tree) typeKeys.push_back(type);
  directory(0, typeKeys);
  std::uint32_t nameDir = typeDirs;
  std::uint32_t languageDir = typeDirs + nameDirs;
  std::uint32_t entry = entriesAt;
  std::uint32_t data = dataAt;
  std::uint32_t typeIndex = 0;
  for (auto& [type, byName] : tree) {
    const std::uint32_t typeEntry = kResourceDirSize + kResourceEntrySize * typeIndex++;
    entryName(typeEntry, type);
    out.U32(typeEntry + 4, kHighBit | nameDir);
    std::vector<tk::TResName> nameKeys;
    for (auto& [name, r] : byName) nameKeys.push_back(name);
    directory(nameDir, nameKeys);
    std::uint32_t nameIndex = 0;
    for (auto& [name, r] : byName) {
      const std::uint32_t nameEntry = nameDir + kResourceDirSize + kResourceEntrySize * nameIndex++;
      entryName(nameEntry, name);
      out.U32(nameEntry + 4, kHighBit | languageDir);
      directory(languageDir, {tk::TResName(kLanguageNeutral)});
      out.U32(languageDir + kResourceDirSize, kLanguageNeutral);
      out.U32(languageDir + kResourceDirSize + 4, entry);
      languageDir += kResourceDirSize + kResourceEntrySize;
      out.U32(entry, kSectionRva + data);
      out.U32(entry + 4, static_cast<std::uint32_t>(r->bytes.size()));
      entry += kResourceDataEntrySize;
      std::copy(r->bytes.begin(), r->bytes.end(), out.bytes.begin() + data);
      data = Align(data + static_cast<std::uint32_t>(r->bytes.size()), 8);
    }
    nameDir += kResourceDirSize + kResourceEntrySize * static_cast<std::uint32_t>(byName.size());
  }
  return std::move(out.bytes);
}

// The image checksum of the platform: 16-bit one's-complement-style sum of the file with the
// checksum field left out, plus the file length.
std::uint32_t ImageChecksum(const std::vector<std::uint8_t>& file, std::size_t checksumAt) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < file.size(); i += 2) {
    if (i == checksumAt || i == checksumAt + 2) continue;
    sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + file.size());
}

}  // namespace

std::vector<std::uint8_t> BuildResourceDll(const std::vector<Resource>& resources, ImageFormat format) {
  Tree tree;
  for (const Resource& r : resources) {
    auto& byName = tree[Normalised(r.type)];
    if (!byName.emplace(Normalised(r.name), &r).second)
      throw tk::Exception("duplicate resource " + r.name.Text() + " of type " + r.type.Text());
  }
  const std::vector<std::uint8_t> rsrc = ResourceSection(tree);
  const bool plus = format == ImageFormat::Pe32Plus;
  const std::uint32_t rawSize = Align(static_cast<std::uint32_t>(rsrc.size()), kFileAlignment);
  const std::uint32_t virtualSize = static_cast<std::uint32_t>(rsrc.size());
  const std::uint16_t optionalSize = plus ? 240 : 224;
  const std::uint32_t pe = kDosHeaderSize;
  const std::uint32_t coff = pe + 4;
  const std::uint32_t opt = coff + kCoffHeaderSize;
  const std::uint32_t sectionTable = opt + optionalSize;
  const std::uint32_t headersSize = Align(sectionTable + kSectionHeaderSize, kFileAlignment);

  Buffer f;
  f.bytes.assign(headersSize + rawSize, 0);
  // DOS header: the signature and where the PE header lies; no DOS program.
  f.U16(0, kDosMagic);
  f.U32(kDosLfanewOffset, pe);
  f.U32(pe, kPeSignature);
  // COFF file header.
  f.U16(coff, plus ? kMachineAmd64 : kMachineI386);
  f.U16(coff + 2, 1);  // one section
  f.U16(coff + 16, optionalSize);
  f.U16(coff + 18, kFileExecutable | kFileDll | (plus ? kFileLargeAddressAware : kFile32BitMachine));
  // Optional header; the fields after ImageBase move by 4 in PE32+ (no BaseOfData, 64-bit sizes).
  f.U16(opt, plus ? kMagicPe32Plus : kMagicPe32);
  f.U8(opt + 2, 14);  // linker version
  f.U32(opt + 8, rawSize);  // size of initialised data
  if (plus) {
    f.U64(opt + 24, 0x180000000ull);
  } else {
    f.U32(opt + 24, kSectionRva);  // BaseOfData
    f.U32(opt + 28, 0x10000000u);  // ImageBase
  }
  f.U32(opt + 32, kSectionAlignment);
  f.U32(opt + 36, kFileAlignment);
  f.U16(opt + 40, plus ? 6 : 5);  // operating system version
  f.U16(opt + 42, plus ? 0 : 1);
  f.U16(opt + 48, plus ? 6 : 5);  // subsystem version
  f.U16(opt + 50, plus ? 0 : 1);
  f.U32(opt + 56, kSectionRva + Align(virtualSize, kSectionAlignment));  // SizeOfImage
  f.U32(opt + 60, headersSize);
  f.U16(opt + 68, kSubsystemWindowsGui);
  const std::uint32_t sizes = opt + 72;  // stack reserve, stack commit, heap reserve, heap commit
  const std::uint64_t sizeValues[] = {0x100000, 0x1000, 0x100000, 0x1000};
  for (int i = 0; i < 4; ++i) {
    if (plus) f.U64(sizes + 8 * i, sizeValues[i]);
    else f.U32(sizes + 4 * i, static_cast<std::uint32_t>(sizeValues[i]));
  }
  const std::uint32_t countAt = opt + (plus ? 108 : 92);
  f.U32(countAt, kDataDirectoryCount);
  f.U32(countAt + 4 + 8 * kResourceDirectoryIndex, kSectionRva);
  f.U32(countAt + 8 + 8 * kResourceDirectoryIndex, virtualSize);
  // The one section, .rsrc.
  const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  std::copy(name, name + 8, f.bytes.begin() + sectionTable);
  f.U32(sectionTable + 8, virtualSize);
  f.U32(sectionTable + 12, kSectionRva);
  f.U32(sectionTable + 16, rawSize);
  f.U32(sectionTable + 20, headersSize);
  f.U32(sectionTable + 36, kScnInitializedData | kScnMemRead);
  std::copy(rsrc.begin(), rsrc.end(), f.bytes.begin() + headersSize);
  f.U32(opt + 64, ImageChecksum(f.bytes, opt + 64));
  return std::move(f.bytes);
}

std::vector<std::uint8_t> BitmapResource(std::span<const std::uint8_t> bmpFile) {
  constexpr std::size_t kFileHeaderSize = 14;
  if (bmpFile.size() < kFileHeaderSize + 4 || bmpFile[0] != 'B' || bmpFile[1] != 'M')
    throw tk::Exception("not a bitmap file (no BM header)");
  const std::uint32_t infoSize = tk::LoadU32(bmpFile, kFileHeaderSize);
  if (infoSize < 12 || infoSize > bmpFile.size() - kFileHeaderSize)
    throw tk::Exception("not a bitmap file (bad information header size)");
  return {bmpFile.begin() + kFileHeaderSize, bmpFile.end()};
}

}  // namespace reslib
