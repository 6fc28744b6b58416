// gifsize FILE.gif: decodes a GIF file with the Protractor GIF library and prints its logical
// size, its frame count and the colour of the first frame's top-left pixel.
#include <cstdio>
#include <exception>

#include "gif/gif.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/device/canvas.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gifsize FILE.gif\n");
    return 2;
  }
  try {
    gif::TGIFImage picture;
    picture.LoadFromFile(argv[1]);
    std::printf("%d x %d, %d frames", picture.LogicalWidth, picture.LogicalHeight, picture.FrameCount());
    tk::TBitmap* first = picture.FrameCount() > 0 ? picture.FrameAt(0).BuildBitmap() : nullptr;
    if (first && !first->IsEmpty()) {
      const tk::TColor c = first->Canvas().Pixels(0, 0);  // red in the low byte
      std::printf(", top-left pixel #%02x%02x%02x", c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF);
    }
    std::printf("\n");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gifsize: %s\n", e.what());
    return 1;
  }
}
