// Writes the reproducers too large to keep in the tree, each into OUTDIR/TARGET/, where the
// replay of that fuzz target finds them beside the ones of fuzz/regressions/TARGET/:
//   make_regressions OUTDIR
// Each file is a small description of the shape that once cost far more time or memory than
// its bytes justify, blown up to the size where it did.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/toolkit/pe_shapes.h"
#include "toolkit/core/bytes.h"
#include "toolkit/core/streams.h"
#include "tools/mkreslib/reslib.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// An icon file of count directory entries that all point at one 8-bit image of size × size
// whose AND mask is missing: the image decodes and then fails, as often as it is tried.
Bytes IconOfSharedImage(int count, int size) {
  Bytes image;
  tk::AppendU32(image, 40);
  tk::AppendU32(image, static_cast<std::uint32_t>(size));
  tk::AppendU32(image, static_cast<std::uint32_t>(2 * size));
  tk::AppendU16(image, 1);
  tk::AppendU16(image, 8);
  for (int i = 0; i < 6; ++i) tk::AppendU32(image, 0);
  for (std::uint32_t i = 0; i < 256; ++i) tk::AppendU32(image, i * 0x010101u);
  image.resize(image.size() + static_cast<std::size_t>(size) * static_cast<std::size_t>(size), 0x5A);

  Bytes file;
  tk::AppendU16(file, 0);
  tk::AppendU16(file, 1);
  tk::AppendU16(file, static_cast<std::uint32_t>(count));
  const auto offset = static_cast<std::uint32_t>(6 + 16 * count);
  for (int i = 0; i < count; ++i) {
    file.insert(file.end(), {0, 0, 0, 0});
    tk::AppendU16(file, 1);
    tk::AppendU16(file, 8);
    tk::AppendU32(file, static_cast<std::uint32_t>(image.size()));
    tk::AppendU32(file, offset);
  }
  file.insert(file.end(), image.begin(), image.end());
  return file;
}

// A side library of count raw-data resources whose names all lie on one name of length
// characters, each of three bytes in UTF-8: converting every name makes count copies of it.
Bytes LibraryOfSharedName(int count, int length) {
  std::vector<reslib::Resource> resources;
  resources.push_back({tk::RT_RCDATA, std::string(static_cast<std::size_t>(length), 'L'), {1}});
  for (int i = 0; i < count - 1; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "R%06d", i);
    resources.push_back({tk::RT_RCDATA, name, {2}});
  }
  Bytes image = reslib::BuildResourceDll(resources, reslib::ImageFormat::Pe32);
  // The directory of names is the second directory: point all its named entries at the long
  // name, and make that name's characters CJK ideographs.
  const auto directories = peshapes::Directories(image);
  if (directories.size() < 2) throw std::runtime_error("the library has no directory of names");
  const peshapes::Directory& names = directories[1];
  const std::size_t section = peshapes::ResourceSection(image).at;
  std::uint32_t longName = 0;
  for (std::uint32_t i = 0; i < names.count; ++i) {
    const std::uint32_t field = tk::LoadU32(image, names.Entry(i));
    if ((field & tk::pe::kHighBit) &&
        tk::LoadU16(image, section + (field & ~tk::pe::kHighBit)) == static_cast<std::uint32_t>(length))
      longName = field;
  }
  if (longName == 0) throw std::runtime_error("the long name is missing");
  for (std::uint32_t i = 0; i < names.count; ++i)
    if (tk::LoadU32(image, names.Entry(i)) & tk::pe::kHighBit) tk::Store32(image.data() + names.Entry(i), longName);
  const std::size_t text = section + (longName & ~tk::pe::kHighBit) + 2;
  for (int i = 0; i < length; ++i) {
    image[text + 2 * static_cast<std::size_t>(i)] = 0x00;  // U+4E00
    image[text + 2 * static_cast<std::size_t>(i) + 1] = 0x4E;
  }
  return image;
}

// A GIF of count images of 1 x 1 pixel, 12 bytes each: at about 1 KB of memory per frame, 3 million
// such frames once cost 3 GB.
Bytes GifOfMinimalFrames(int count) {
  Bytes file = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  const Bytes frame = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 0};
  file.reserve(file.size() + frame.size() * static_cast<std::size_t>(count) + 1);
  for (int i = 0; i < count; ++i) file.insert(file.end(), frame.begin(), frame.end());
  file.push_back(0x3B);
  return file;
}

struct Reproducer {
  const char* target;
  const char* name;
  std::function<Bytes()> make;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_regressions OUTDIR\n");
    return 2;
  }
  const std::vector<Reproducer> reproducers = {
      // 3 million frames in 36 MB: read up to the picture's frame limit, then refused.
      {"gif_read", "minimal-frames-3000000.gif", [] { return GifOfMinimalFrames(3000000); }},
      // 65,535 directory entries pointing at one 4 MiB image: once decoded per entry.
      {"ico", "shared-image-65535.ico", [] { return IconOfSharedImage(65535, 2048); }},
      // Named entries sharing one long name: every name converted in full (the gadget loads its
      // side library on every pointer selection).
      {"library", "shared-long-name-2048.dll", [] { return LibraryOfSharedName(2048, 32767); }},
      {"library", "shared-long-name-16384.dll", [] { return LibraryOfSharedName(16384, 32767); }},
  };
  try {
    for (const Reproducer& r : reproducers) {
      const fs::path folder = fs::path(argv[1]) / r.target;
      fs::create_directories(folder);
      const Bytes bytes = r.make();
      tk::WriteWholeFile((folder / r.name).string(), bytes);
      std::printf("%s: %zu bytes\n", (folder / r.name).string().c_str(), bytes.size());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_regressions: %s\n", e.what());
    return 1;
  }
  return 0;
}
