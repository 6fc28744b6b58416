// Reads any bytes as a GIF and decodes every frame, tolerating damage and then refusing it.
#include <cstddef>
#include <cstdint>

#include "gif/decoder.h"
#include "gif/gif.h"
#include "toolkit/core/streams.h"

namespace {

// Frames whose pixel buffer is larger are left undecoded: they cost time, not coverage.
constexpr std::int64_t kMaxFuzzPixelBytes = std::int64_t{16} << 20;

void ReadAndDecode(const std::uint8_t* data, std::size_t size) {
  gif::TGIFImage picture;
  tk::TReadOnlyMemoryStream stream({data, size});
  try {
    picture.ReadGIF(stream.Size(), stream, false);
  } catch (const tk::Exception&) {
  }
  gif::TGIFImage copy;
  copy.TakeFrom(&picture);
  for (int i = 0; i < copy.FrameCount(); ++i) {
    gif::TGIFFrame& frame = copy.FrameAt(i);
    const gif::TGIFItem& item = *frame.Encoded;
    if (tk::DibRowBytes(item.ItemWidth, 8) * item.ItemHeight > kMaxFuzzPixelBytes) continue;
    tk::TMemoryStream image;
    try {
      frame.DecodeToDIB(image);
    } catch (const tk::Exception&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  gif::TolerateDamage = true;
  ReadAndDecode(data, size);
  gif::TolerateDamage = false;
  ReadAndDecode(data, size);
  return 0;
}
