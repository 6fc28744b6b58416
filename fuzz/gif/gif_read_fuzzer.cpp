// Reads any bytes as a GIF and decodes every frame, tolerating damage and then refusing it; each
// frame written row by row (WriteDIB) must give the bytes DecodeToDIB builds whole, and so must
// the frame of the picture read streamed (ReadGIFStreamed, gifkit's way), which then decodes its
// frames again from the stream cut short.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
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

// What decoding a frame gave: the failure, or "-" and a hash of its bitmap file (64-bit FNV-1a).
std::string Decoded(const std::string& failure, std::span<const std::uint8_t> image) {
  if (failure != "-") return failure;
  std::uint64_t hash = 14695981039346656037u;
  for (std::uint8_t b : image) hash = (hash ^ b) * 1099511628211u;
  return "- " + std::to_string(hash);
}

void ReadAndDecode(const std::uint8_t* data, std::size_t size, bool tolerate) {
  // Read as a picture that holds its bytes; each frame decoded whole and row by row. What each
  // frame gave stays (its failure or the hash of its bitmap file) for the picture read streamed,
  // which is read once this one is gone, so that a file of many frames is not held twice.
  std::string failure;
  std::vector<std::string> decoded;
  {
    gif::TGIFImage picture;
    picture.Options.TolerateDamage = tolerate;
    tk::TReadOnlyMemoryStream stream({data, size});
    failure = Failure([&] { picture.ReadGIF(stream.Size(), stream, false); });
    gif::TGIFImage copy;
    copy.TakeFrom(&picture);  // takes the picture's settings along
    std::int64_t budget = kMaxFuzzPixelBytes;
    for (int i = 0; i < copy.FrameCount(); ++i) {
      if (!Affordable(copy.FrameAt(i), budget)) continue;
      tk::TMemoryStream image, written;
      const std::string whole = Failure([&] { copy.FrameAt(i).DecodeToDIB(image); });
      if (Failure([&] { copy.FrameAt(i).WriteDIB(written); }) != whole) std::abort();
      if (whole == "-" && !std::ranges::equal(image.Bytes(), written.Bytes())) std::abort();
      decoded.resize(static_cast<std::size_t>(i) + 1);
      decoded[static_cast<std::size_t>(i)] = Decoded(whole, image.Bytes());
    }
    decoded.resize(static_cast<std::size_t>(picture.FrameCount()));
  }
  // The bytes read in place from a stream that the test cuts short later.
  gif::TGIFImage streamed;
  streamed.Options.TolerateDamage = tolerate;
  const auto file = std::make_shared<tk::TMemoryStream>(std::span(data, size),
                                                        std::shared_ptr<const void>(data, [](const void*) {}));
  if (Failure([&] { streamed.ReadGIFStreamed(file); }) != failure) std::abort();
  if (static_cast<std::size_t>(streamed.FrameCount()) != decoded.size()) std::abort();
  std::int64_t budget = kMaxFuzzPixelBytes;
  for (int i = 0; i < streamed.FrameCount(); ++i) {
    if (!Affordable(streamed.FrameAt(i), budget)) continue;
    tk::TMemoryStream image;
    const std::string rows = Failure([&] { streamed.FrameAt(i).WriteDIB(image); });
    if (Decoded(rows, image.Bytes()) != decoded[static_cast<std::size_t>(i)]) std::abort();
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
