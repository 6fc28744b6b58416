// Differential fuzzing of the LZW decoder: the decoder and the reference it replaced
// (reference_decoder.cpp) must give the same pixels, damage flag, failure and stream position,
// checking the data without its pixels (CheckPixels) must tell the same damage or failure, and
// decoding the data where it lies in a stream (StreamedData) the same pixels and outcome.
//   Input: width, height, bit depth and flags (interlaced, tolerate), then the LZW data (code
//   size byte and sub-blocks).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/gif/reference_decoder.h"
#include "gif/decoder.h"
#include "gif/gif.h"
#include "toolkit/device/gdi.h"

namespace {

struct Result {
  std::string outcome;  // "damaged", "intact" or the failure's message
  std::vector<std::uint8_t> pixels;
  std::int64_t position = 0;
};

template <class Run>
Result Outcome(const std::uint8_t* data, std::size_t size, std::size_t pixelBytes, Run run) {
  Result r;
  r.pixels.assign(pixelBytes + 1, 0);
  tk::TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  try {
    r.outcome = run(stream, r.pixels.data()) ? "damaged" : "intact";
  } catch (const tk::Exception& e) {
    r.outcome = e.Message();
  }
  r.position = stream.Position();
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int width = data[0] | (data[1] & 3) << 8;  // 0..1023
  const int height = data[2] % 64 + (data[1] & 4 ? 0 : 1) * (data[1] >> 3);
  const int bitDepth = data[3] % 8 + 1;
  const bool interlaced = data[3] & 0x10, tolerate = data[3] & 0x20;
  const int rowDepth = gif::RowDepthFor(bitDepth);
  const std::size_t pixelBytes = static_cast<std::size_t>(tk::DibRowBytes(width, rowDepth) * height);
  data += 4;
  size -= 4;

  const Result ours = Outcome(data, size, pixelBytes, [&](tk::TMemoryStream& s, std::uint8_t* p) {
    return gif::DecodePixels(s, width, height, rowDepth, interlaced, bitDepth, tolerate, p, nullptr);
  });
  const Result reference = Outcome(data, size, pixelBytes, [&](tk::TMemoryStream& s, std::uint8_t* p) {
    return gif_reference::DecodePixels(s, width, height, rowDepth, interlaced, bitDepth, tolerate, p);
  });
  const Result checked = Outcome(data, size, 0, [&](tk::TMemoryStream& s, std::uint8_t*) {
    return gif::CheckPixels(s, width, height, bitDepth, tolerate);
  });
  const Result streamed = Outcome(data, size, pixelBytes, [&](tk::TMemoryStream& s, std::uint8_t* p) {
    const gif::StreamedData place{std::shared_ptr<tk::TStream>(&s, [](tk::TStream*) {}), 0, s.Size()};
    return gif::DecodePixels(place, tk::BottomUpRows(p, width, height, rowDepth), interlaced, bitDepth,
                             tolerate, nullptr);
  });
  if (ours.outcome != reference.outcome || ours.pixels != reference.pixels ||
      ours.position != reference.position || checked.outcome != ours.outcome ||
      streamed.outcome != ours.outcome || streamed.pixels != ours.pixels)
    std::abort();
  return 0;
}
