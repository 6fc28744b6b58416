// The giflib peer of `gifkit decode FILE.gif --all OUT_PREFIX` for whole-process comparisons:
// every frame decoded and written as an 8-bit bitmap file OUT_PREFIXN.bmp. It works the way that
// costs giflib the least memory: the file is read as it is decoded, one frame's indices are held
// at a time, and the rows go straight to the file.
//   giflib_decode_all FILE.gif OUT_PREFIX
#include <gif_lib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

bool WriteBitmap(const std::string& name, int width, int height, const ColorMapObject* map,
                 const std::vector<GifByteType>& indices) {
  const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) + 3) & ~3u;
  const std::uint32_t offset = 14 + 40 + 256 * 4;
  std::vector<std::uint8_t> head;
  head.push_back('B');
  head.push_back('M');
  Put32(head, offset + rowBytes * static_cast<std::uint32_t>(height));
  Put32(head, 0);
  Put32(head, offset);
  Put32(head, 40);
  Put32(head, static_cast<std::uint32_t>(width));
  Put32(head, static_cast<std::uint32_t>(height));
  Put16(head, 1);
  Put16(head, 8);
  for (int i = 0; i < 6; ++i) Put32(head, 0);
  for (int i = 0; i < 256; ++i) {
    const GifColorType c = map && i < map->ColorCount ? map->Colors[i] : GifColorType{0, 0, 0};
    head.insert(head.end(), {c.Blue, c.Green, c.Red, 0});
  }
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(head.data(), 1, head.size(), file) == head.size();
  const std::vector<std::uint8_t> padding(rowBytes - static_cast<std::uint32_t>(width), 0);
  for (int y = height - 1; ok && y >= 0; --y) {
    ok = std::fwrite(indices.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width), 1,
                     static_cast<std::size_t>(width), file) == static_cast<std::size_t>(width) &&
         std::fwrite(padding.data(), 1, padding.size(), file) == padding.size();
  }
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: giflib_decode_all FILE.gif OUT_PREFIX\n");
    return 2;
  }
  int error = 0;
  GifFileType* gif = DGifOpenFileName(argv[1], &error);
  if (!gif) {
    std::fprintf(stderr, "%s: %s\n", argv[1], GifErrorString(error));
    return 1;
  }
  int frame = 0;
  GifRecordType record = UNDEFINED_RECORD_TYPE;
  bool ok = true;
  while (ok && DGifGetRecordType(gif, &record) == GIF_OK && record != TERMINATE_RECORD_TYPE) {
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      ok = DGifGetExtension(gif, &code, &block) == GIF_OK;
      while (ok && block) ok = DGifGetExtensionNext(gif, &block) == GIF_OK;
    } else if (record == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) != GIF_OK) break;
      const int width = gif->Image.Width, height = gif->Image.Height;
      std::vector<GifByteType> indices(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
      static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
      const int passes = gif->Image.Interlace ? 4 : 1;
      for (int pass = 0; ok && pass < passes; ++pass)
        for (int y = passes == 1 ? 0 : kStart[pass]; ok && y < height; y += passes == 1 ? 1 : kStep[pass])
          ok = DGifGetLine(gif, indices.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                           width) == GIF_OK;
      if (!ok) break;
      const ColorMapObject* map = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
      ok = WriteBitmap(std::string(argv[2]) + std::to_string(frame++) + ".bmp", width, height, map, indices);
    }
  }
  DGifCloseFile(gif, &error);
  if (!ok) std::fprintf(stderr, "%s: frame %d could not be decoded or written\n", argv[1], frame);
  return ok ? 0 : 1;
}
