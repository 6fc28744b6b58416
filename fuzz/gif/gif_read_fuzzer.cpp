// Reads any bytes as a GIF and decodes every frame, tolerating damage and then refusing it; each
// frame written row by row (WriteDIB) must give the bytes DecodeToDIB builds whole.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gif/decoder.h"
#include "gif/gif.h"
#include "toolkit/core/streams.h"

namespace {

// Frames are decoded while their pixel buffers come to no more than this in all, and a frame
// whose buffer alone is larger is left undecoded: beyond it, pixels cost time, not coverage.
constexpr std::int64_t kMaxFuzzPixelBytes = std::int64_t{16} << 20;

void ReadAndDecode(const std::uint8_t* data, std::size_t size, bool tolerate) {
  gif::TGIFImage picture;
  picture.Options.TolerateDamage = tolerate;
  tk::TReadOnlyMemoryStream stream({data, size});
  try {
    picture.ReadGIF(stream.Size(), stream, false);
  } catch (const tk::Exception&) {
  }
  gif::TGIFImage copy;
  copy.TakeFrom(&picture);  // takes the picture's settings along
  std::int64_t budget = kMaxFuzzPixelBytes;
  for (int i = 0; i < copy.FrameCount() && budget > 0; ++i) {
    gif::TGIFFrame& frame = copy.FrameAt(i);
    const gif::TGIFItem& item = *frame.Encoded;
    // Every frame counts 64 KiB at least (its decoding tables), so that many small frames do too.
    const std::int64_t bytes =
        std::max<std::int64_t>(tk::DibRowBytes(item.ItemWidth, 8) * item.ItemHeight, 65536);
    if (bytes > kMaxFuzzPixelBytes) continue;
    budget -= bytes;
    tk::TMemoryStream image, written;
    std::string whole = "-", rows = "-";
    try {
      frame.DecodeToDIB(image);
    } catch (const tk::Exception& e) {
      whole = e.Message();
    }
    try {
      frame.WriteDIB(written);
    } catch (const tk::Exception& e) {
      rows = e.Message();
    }
    if (rows != whole) std::abort();
    if (whole == "-" && !std::ranges::equal(image.Bytes(), written.Bytes())) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReadAndDecode(data, size, true);
  ReadAndDecode(data, size, false);
  return 0;
}
