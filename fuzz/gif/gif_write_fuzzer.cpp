// Reads any bytes as a GIF and writes what was read: the writer takes every picture the reader
// makes, its output reads back to as many frames, and writing that again gives the same bytes
// (but for frames of no width or height).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "gif/gif.h"
#include "toolkit/core/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  gif::TGIFImage picture;
  picture.Options.TolerateDamage = true;
  tk::TReadOnlyMemoryStream stream({data, size});
  try {
    picture.ReadGIF(stream.Size(), stream, false);
  } catch (const tk::Exception&) {
  }
  if (picture.FrameCount() == 0) return 0;
  tk::TMemoryStream first, second;
  picture.SaveStream(first);
  gif::TGIFImage again;
  first.SetPosition(0);
  again.ReadGIF(first.Size(), first, false);
  if (again.FrameCount() != picture.FrameCount()) std::abort();
  again.SaveStream(second);
  // A frame of width or height 0 is read back at the size of the logical screen, which the
  // first write recomputed: only then may the second write differ.
  for (int i = 0; i < picture.FrameCount(); ++i)
    if (picture.FrameAt(i).Encoded->ItemWidth == 0 || picture.FrameAt(i).Encoded->ItemHeight == 0)
      return 0;
  if (second.Bytes().size() != first.Bytes().size() ||
      !std::equal(first.Bytes().begin(), first.Bytes().end(), second.Bytes().begin()))
    std::abort();
  return 0;
}
