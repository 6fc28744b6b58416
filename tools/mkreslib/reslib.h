// Writing PE resource-only DLLs: one .rsrc section holding the resource tree (types, names, one
// language each) and the data. The result loads with the toolkit's library loader and on Windows.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "toolkit/system/library.h"

namespace reslib {

struct Resource {
  tk::TResName type;
  tk::TResName name;  // texts are stored upper-case, as the platform's resource compiler does
  std::vector<std::uint8_t> bytes;
};

enum class ImageFormat { Pe32, Pe32Plus };

// The language every resource is stored under: neutral.
inline constexpr std::uint16_t kLanguageNeutral = 0;

// The bytes of a DLL holding the resources. Fails with tk::Exception on a duplicate type and name,
// or a name that is empty or not printable ASCII.
std::vector<std::uint8_t> BuildResourceDll(const std::vector<Resource>& resources, ImageFormat format);

// The bitmap resource of a .bmp file: the file without its 14-byte file header. Fails with
// tk::Exception when the bytes are not a bitmap file.
std::vector<std::uint8_t> BitmapResource(std::span<const std::uint8_t> bmpFile);

}  // namespace reslib
