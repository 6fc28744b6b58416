// The LZW decoder as it was before its rewrite (reference_decoder.cpp).
#pragma once

#include <cstdint>

#include "toolkit/core/streams.h"

namespace gif_reference {

bool DecodePixels(tk::TMemoryStream& data, int width, int height, int rowDepth, bool interlaced,
                  int bitDepth, bool tolerate, std::uint8_t* pixels);

}  // namespace gif_reference
