// The gadget's art as the tests use it: GIF files of the art whose pixels are coded as literals,
// so that the tests read the art through the GIF reader alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gif/gif_builder.h"
#include "tools/artgen/art.h"
#include "tools/artgen/files.h"

namespace testart {

inline std::vector<std::uint8_t> GifOf(const artgen::Picture& p, bool transparent) {
  return artgen::GifFile(p, transparent, giftest::LiteralData(8, p.ink));
}

inline const char* const PointerNames[] = {"PT", "PL", "PR", "PB", "PcT", "PcL", "PcR", "PcB"};

}  // namespace testart
