// The window's form data for the tests: the art's dial as a stored GIF picture value and the
// art's glyph bitmaps.
#include <map>
#include <string>

#include "gadget/form_data.h"
#include "gadget/test_art.h"

namespace gadget::formdata {

std::span<const std::uint8_t> Image2Picture() {
  static const std::vector<std::uint8_t> stored =
      artgen::StoredGifValue(testart::GifOf(artgen::Dial(), false));
  return stored;
}

std::span<const std::uint8_t> Glyph(std::string_view button) {
  static const auto glyphs = [] {
    std::map<std::string, std::vector<std::uint8_t>, std::less<>> files;
    for (const artgen::ButtonArt& b : artgen::Buttons()) files[b.name] = artgen::BitmapFile(b.glyph);
    return files;
  }();
  auto it = glyphs.find(button);
  if (it == glyphs.end()) return {};
  return it->second;
}

}  // namespace gadget::formdata
