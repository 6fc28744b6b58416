// Feeds arbitrary bytes to the BMP reader, as a file and as a packed DIB; a bitmap that loads is
// drawn, converted and saved again.
#include <cstddef>
#include <cstdint>
#include <span>

#include "toolkit/device/bitmap.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  tk::TBitmap bitmap;
  try {
    tk::TReadOnlyMemoryStream stream(bytes);
    bitmap.LoadStream(stream);
  } catch (const tk::Exception&) {
    try {
      bitmap.LoadFromPackedDib(bytes);
    } catch (const tk::Exception&) {
      return 0;
    }
  }
  if (bitmap.IsEmpty() || bitmap.Width() > 512 || bitmap.Height() > 512) return 0;
  tk::TBitmap target;
  target.SetWidth(16);
  target.SetHeight(16);
  target.Canvas().StretchDraw(tk::TRect{0, 0, 16, 16}, &bitmap);
  bitmap.SetHandleType(tk::TBitmapHandleType::bmDDB);
  tk::TMemoryStream out;
  bitmap.SaveStream(out);
  return 0;
}
