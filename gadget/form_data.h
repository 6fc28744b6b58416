// The data the window is built from that is not code: the stored dial picture and the glyph
// bitmaps. The build generates their bytes (tools/artgen) into form_data.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace gadget::formdata {

// The stored value of Image2's picture: the class name "TGIFImage" as a length-prefixed string,
// the GIF stream's length as 32 bits, then the GIF stream.
std::span<const std::uint8_t> Image2Picture();

// The glyph bitmap (the bytes of a .bmp file) of a button, by the button's name; empty for a
// name without a glyph.
std::span<const std::uint8_t> Glyph(std::string_view button);

}  // namespace gadget::formdata
