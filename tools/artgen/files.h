// The gadget's art as files: bitmap files, GIF files laid out as the gadget's resources are, and
// the stored picture value of the dial.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/artgen/art.h"

namespace artgen {

// A 24-bit bitmap file of the picture.
std::vector<std::uint8_t> BitmapFile(const Picture& p);

// A GIF file of one image with a 256-entry local colour table (the palette, then black) and no
// global table: "87a" when opaque; "89a" with a graphic control extension naming Clear as
// transparent otherwise. codedPixels are the image's LZW data (code size byte, sub-blocks,
// terminator) for the picture's inks.
std::vector<std::uint8_t> GifFile(const Picture& p, bool transparent,
                                  std::span<const std::uint8_t> codedPixels);

// The stored value of a GIF picture: the class name "TGIFImage" as a length-prefixed string,
// the GIF stream's length as 32 bits, then the GIF stream.
std::vector<std::uint8_t> StoredGifValue(std::span<const std::uint8_t> gifFile);

// A PNG file of 8-bit red, green, blue and alpha pixels, row by row from the top. The pixels go
// into uncompressed deflate blocks: the files are small icons, and no deflate coder is needed.
std::vector<std::uint8_t> PngFile(int width, int height, std::span<const std::uint8_t> rgba);

}  // namespace artgen
