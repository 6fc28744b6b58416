// The reduction methods as they were before their pixel loops were rewritten (reference.cpp).
#pragma once

#include <cstdint>

#include "colour/reduce.h"

namespace colour_reference {

void ReduceHistogram(colour::WorkImage image, std::uint8_t* palette, int wanted,
                     std::uint8_t redMask, std::uint8_t greenMask, std::uint8_t blueMask);
int MedianCut(colour::WorkImage image, std::uint8_t* palette, int wanted);
// The pixel mappings of the fixed methods (their palettes are made by unchanged code).
void MapFixed666(colour::WorkImage image);
void MapFixed784(colour::WorkImage image);
void MapPrimaryRamps(colour::WorkImage image);
void MapGray(colour::WorkImage image);

}  // namespace colour_reference
