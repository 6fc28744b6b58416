// Reads any bytes as a GIF and decodes every frame, tolerating damage and then refusing it; each
// frame written row by row (WriteDIB) must give the bytes DecodeToDIB builds whole, and so must
// the frame of the picture read streamed (ReadGIFStreamed, gifkit's way), which then decodes its
// frames again from the stream cut short.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "gif/decoder.h"
#include "gif/gif.h"
#include "toolkit/core/streams.h"

namespace {

// Frames are decoded while their pixel buffers come to no more than this in all, and a frame
// whose buffer alone is larger is left undecoded: beyond it, pixels cost time, not coverage.
constexpr std::int64_t kMaxFuzzPixelBytes = std::int64_t{16} << 20;

// Whether the frame is decoded, within what is left of the budget, which it takes from.
bool Affordable(const gif::TGIFFrame& frame, std::int64_t& budget) {
  const gif::TGIFItem& item = *frame.Encoded;
  // Every frame counts 64 KiB at least (its decoding tables), so that many small frames do too.
  const std::int64_t bytes =
      std::max<std::int64_t>(tk::DibRowBytes(item.ItemWidth, 8) * item.ItemHeight, 65536);
  if (budget <= 0 || bytes > kMaxFuzzPixelBytes) return false;
  budget -= bytes;
  return true;
}

// Runs work; the failure's message and reason, or "-".
template <class Work>
std::string Failure(Work work) {
  try {
    work();
  } catch (const tk::Exception& e) {
    return e.Message() + " | " + e.ReasonText();
  }
  return "-";
}

void ReadAndDecode(const std::uint8_t* data, std::size_t size, bool tolerate) {
  gif::TGIFImage picture, streamed;
  picture.Options.TolerateDamage = tolerate;
  streamed.Options.TolerateDamage = tolerate;
  tk::TReadOnlyMemoryStream stream({data, size});
  const std::string failure = Failure([&] { picture.ReadGIF(stream.Size(), stream, false); });
  const auto file = std::make_shared<tk::TMemoryStream>(std::vector<std::uint8_t>(data, data + size));
  if (Failure([&] { streamed.ReadGIFStreamed(file); }) != failure) std::abort();
  if (streamed.FrameCount() != picture.FrameCount()) std::abort();
  gif::TGIFImage copy;
  copy.TakeFrom(&picture);  // takes the picture's settings along
  std::int64_t budget = kMaxFuzzPixelBytes;
  for (int i = 0; i < copy.FrameCount(); ++i) {
    if (!Affordable(copy.FrameAt(i), budget)) continue;
    tk::TMemoryStream image, written, fromStream;
    const std::string whole = Failure([&] { copy.FrameAt(i).DecodeToDIB(image); });
    if (Failure([&] { copy.FrameAt(i).WriteDIB(written); }) != whole) std::abort();
    if (whole == "-" && !std::ranges::equal(image.Bytes(), written.Bytes())) std::abort();
    if (Failure([&] { streamed.FrameAt(i).WriteDIB(fromStream); }) != whole) std::abort();
    if (whole == "-" && !std::ranges::equal(image.Bytes(), fromStream.Bytes())) std::abort();
  }
  // The file cut short after reading: each frame fails or decodes, reading nothing beyond it.
  file->SetSize(static_cast<std::int64_t>(size / 2));
  budget = kMaxFuzzPixelBytes;
  for (int i = 0; i < streamed.FrameCount(); ++i) {
    if (!Affordable(streamed.FrameAt(i), budget)) continue;
    tk::TMemoryStream image;
    Failure([&] { streamed.FrameAt(i).WriteDIB(image); });
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReadAndDecode(data, size, true);
  ReadAndDecode(data, size, false);
  return 0;
}
