#include "tools/artgen/files.h"

#include "toolkit/device/bitmap.h"
#include "toolkit/core/streams.h"

namespace artgen {

std::vector<std::uint8_t> BitmapFile(const Picture& p) {
  tk::TBitmap bitmap;
  bitmap.SetPixelFormat(tk::pf24bit);
  bitmap.SetWidth(p.width);
  bitmap.SetHeight(p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const std::uint32_t rgb = Palette[p.At(x, y)];
      bitmap.Canvas().SetPixels(x, y, ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16));
    }
  tk::TMemoryStream out;
  bitmap.SaveStream(out);
  return out.Release();
}

std::vector<std::uint8_t> GifFile(const Picture& p, bool transparent,
                                  std::span<const std::uint8_t> codedPixels) {
  tk::TMemoryStream s;
  s.WriteBuffer(transparent ? "GIF89a" : "GIF87a", 6);
  s.WriteU16(std::uint16_t(p.width));
  s.WriteU16(std::uint16_t(p.height));
  s.WriteU8(0);  // no global table
  s.WriteU8(0);
  s.WriteU8(0);
  if (transparent) {
    const std::uint8_t control[] = {0x21, 0xF9, 4, 1, 0, 0, Clear, 0};
    s.WriteBuffer(control, sizeof control);
  }
  s.WriteU8(0x2C);
  s.WriteU16(0);
  s.WriteU16(0);
  s.WriteU16(std::uint16_t(p.width));
  s.WriteU16(std::uint16_t(p.height));
  s.WriteU8(0x80 | 7);  // a local table of 2^(7+1) entries
  for (int i = 0; i < 256; ++i) {
    const std::uint32_t rgb = i < InkCount ? Palette[i] : 0;
    s.WriteU8(std::uint8_t(rgb >> 16));
    s.WriteU8(std::uint8_t(rgb >> 8));
    s.WriteU8(std::uint8_t(rgb));
  }
  s.WriteBuffer(codedPixels.data(), codedPixels.size());
  s.WriteU8(0x3B);
  return s.Release();
}

std::vector<std::uint8_t> StoredGifValue(std::span<const std::uint8_t> gifFile) {
  std::vector<std::uint8_t> stored = {9, 'T', 'G', 'I', 'F', 'I', 'm', 'a', 'g', 'e'};
  for (int shift = 0; shift < 32; shift += 8) stored.push_back(std::uint8_t(gifFile.size() >> shift));
  stored.insert(stored.end(), gifFile.begin(), gifFile.end());
  return stored;
}

}  // namespace artgen
