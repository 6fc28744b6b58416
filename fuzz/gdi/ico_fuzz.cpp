// Feeds arbitrary bytes to the icon and cursor reader; an icon that loads is drawn.
#include <cstddef>
#include <cstdint>
#include <span>

#include "toolkit/device/bitmap.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/device/icon.h"
#include "toolkit/core/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tk::TIcon icon;
  try {
    tk::TReadOnlyMemoryStream stream(std::span<const std::uint8_t>(data, size));
    icon.LoadStream(stream);
  } catch (const tk::Exception&) {
    return 0;
  }
  tk::TBitmap target;
  target.SetWidth(8);
  target.SetHeight(8);
  target.Canvas().StretchDraw(tk::TRect{0, 0, 8, 8}, &icon);
  target.Canvas().Draw(-2, -2, &icon);
  return 0;
}
