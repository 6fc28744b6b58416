// giflib as the reference decoder of the tests: a GIF's frames, pixel indices, tables, graphic
// control blocks, looping block and comments as giflib sees them.
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace giftest {

struct RefFrame {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  int localColors = 0;                // entries of the local table, 0 without one
  std::vector<std::uint8_t> indices;  // top row first, in display order
  bool hasControl = false;            // a graphic control block stands before the image
  int delay = 0, disposal = 0, transparent = -1;
};

struct RefGif {
  int width = 0, height = 0, globalColors = 0, background = 0;
  std::vector<std::uint8_t> globalTable;  // red, green, blue
  std::vector<RefFrame> frames;
  int loopCount = -1;                 // from a NETSCAPE2.0 block, -1 without one
  std::vector<std::string> comments;  // comment blocks after the last image
};

// giflib's view of the bytes, or false when giflib refuses them.
inline bool GiflibDecode(const std::vector<std::uint8_t>& bytes, RefGif& gif) {
  struct Source {
    const std::vector<std::uint8_t>* bytes;
    std::size_t pos;
  } source{&bytes, 0};
  auto read = [](GifFileType* file, GifByteType* out, int count) -> int {
    auto* s = static_cast<Source*>(file->UserData);
    std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(count), s->bytes->size() - s->pos);
    std::memcpy(out, s->bytes->data() + s->pos, n);
    s->pos += n;
    return static_cast<int>(n);
  };
  int error = 0;
  GifFileType* file = DGifOpen(&source, read, &error);
  if (!file) return false;
  bool ok = DGifSlurp(file) == GIF_OK;
  if (ok) {
    gif.width = file->SWidth;
    gif.height = file->SHeight;
    gif.background = file->SBackGroundColor;
    if (file->SColorMap) {
      gif.globalColors = file->SColorMap->ColorCount;
      for (int i = 0; i < gif.globalColors; ++i) {
        const GifColorType& c = file->SColorMap->Colors[i];
        gif.globalTable.insert(gif.globalTable.end(), {c.Red, c.Green, c.Blue});
      }
    }
    for (int i = 0; i < file->ImageCount; ++i) {
      const SavedImage& image = file->SavedImages[i];
      RefFrame frame;
      frame.left = image.ImageDesc.Left;
      frame.top = image.ImageDesc.Top;
      frame.width = image.ImageDesc.Width;
      frame.height = image.ImageDesc.Height;
      frame.interlaced = image.ImageDesc.Interlace;
      frame.localColors = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap->ColorCount : 0;
      // DGifSlurp puts the rows of an interlaced image in display order.
      frame.indices.assign(image.RasterBits,
                           image.RasterBits + std::size_t(frame.width) * frame.height);
      for (int k = 0; k < image.ExtensionBlockCount; ++k) {
        const ExtensionBlock& block = image.ExtensionBlocks[k];
        if (block.Function == GRAPHICS_EXT_FUNC_CODE) {
          GraphicsControlBlock gcb;
          DGifExtensionToGCB(block.ByteCount, block.Bytes, &gcb);
          frame.hasControl = true;
          frame.delay = gcb.DelayTime;
          frame.disposal = gcb.DisposalMode;
          frame.transparent = gcb.TransparentColor;
        }
        if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
            std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0 && k + 1 < image.ExtensionBlockCount) {
          const ExtensionBlock& data = image.ExtensionBlocks[k + 1];
          if (data.ByteCount >= 3 && data.Bytes[0] == 1)
            gif.loopCount = data.Bytes[1] | data.Bytes[2] << 8;
        }
      }
      gif.frames.push_back(std::move(frame));
    }
    std::string comment;
    for (int k = 0; k < file->ExtensionBlockCount; ++k) {
      const ExtensionBlock& block = file->ExtensionBlocks[k];
      if (block.Function == COMMENT_EXT_FUNC_CODE)
        gif.comments.emplace_back(reinterpret_cast<const char*>(block.Bytes),
                                  static_cast<std::size_t>(block.ByteCount));
      else if (block.Function == CONTINUE_EXT_FUNC_CODE && !gif.comments.empty())
        gif.comments.back().append(reinterpret_cast<const char*>(block.Bytes),
                                   static_cast<std::size_t>(block.ByteCount));
    }
  }
  DGifCloseFile(file, &error);
  return ok;
}

}  // namespace giftest
