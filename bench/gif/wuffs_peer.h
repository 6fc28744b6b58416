// The wuffs v0.4 GIF decoder as a decoding peer of the benchmarks. It is compiled from the
// single-file release beside the project (../shared/peers/wuffs-v0.4.c) when that file exists,
// and never copied into the project.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

// Decodes every frame of a GIF into palette indices (the frames' rectangles of a canvas of the
// logical screen's size, as wuffs lays them out); false when wuffs refuses the data.
bool WuffsDecodeAll(const std::uint8_t* data, std::size_t size);

}  // namespace bench
