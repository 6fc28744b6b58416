#include "tools/artgen/files.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "gif/format.h"
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
    // A graphic control extension: no delay, the Clear index transparent.
    const std::uint8_t control[] = {gif::kExtensionIntroducer, gif::ExtensionLabels[gif::ekGraphicControl],
                                    4, gif::kTransparentFlag, 0, 0, Clear, 0};
    s.WriteBuffer(control, sizeof control);
  }
  s.WriteU8(gif::kImageSeparator);
  s.WriteU16(0);
  s.WriteU16(0);
  s.WriteU16(std::uint16_t(p.width));
  s.WriteU16(std::uint16_t(p.height));
  s.WriteU8(gif::kColorTableFlag | 7);  // a local table of 2^(7+1) entries
  for (int i = 0; i < 256; ++i) {
    const std::uint32_t rgb = i < InkCount ? Palette[i] : 0;
    s.WriteU8(std::uint8_t(rgb >> 16));
    s.WriteU8(std::uint8_t(rgb >> 8));
    s.WriteU8(std::uint8_t(rgb));
  }
  s.WriteBuffer(codedPixels.data(), codedPixels.size());
  s.WriteU8(gif::kTrailer);
  return s.Release();
}

std::vector<std::uint8_t> StoredGifValue(std::span<const std::uint8_t> gifFile) {
  std::vector<std::uint8_t> stored = {9, 'T', 'G', 'I', 'F', 'I', 'm', 'a', 'g', 'e'};
  for (int shift = 0; shift < 32; shift += 8) stored.push_back(std::uint8_t(gifFile.size() >> shift));
  stored.insert(stored.end(), gifFile.begin(), gifFile.end());
  return stored;
}

namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(value >> shift));
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

// A chunk: its length, its type and data, and the CRC of type and data.
void PngChunk(std::vector<std::uint8_t>& out, const char (&type)[5], std::span<const std::uint8_t> data) {
  PutU32(out, std::uint32_t(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutU32(out, Crc32(std::span(out).subspan(start)));
}

// A zlib stream of stored deflate blocks (at most 65535 bytes each) and the Adler-32 sum.
std::vector<std::uint8_t> StoredZlib(std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> out = {0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(65535, data.size() - at);
    out.push_back(at + n == data.size() ? 1 : 0);  // the last block is marked final
    for (std::uint16_t v : {std::uint16_t(n), std::uint16_t(~n)}) {
      out.push_back(std::uint8_t(v));
      out.push_back(std::uint8_t(v >> 8));
    }
    out.insert(out.end(), data.begin() + std::ptrdiff_t(at), data.begin() + std::ptrdiff_t(at + n));
    at += n;
  } while (at < data.size());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutU32(out, b << 16 | a);
  return out;
}

}  // namespace

std::vector<std::uint8_t> PngFile(int width, int height, std::span<const std::uint8_t> rgba) {
  const std::size_t stride = std::size_t(width) * 4;
  if (width <= 0 || height <= 0 || rgba.size() != stride * std::size_t(height))
    throw std::invalid_argument("PngFile: the pixels do not match the size");
  // Each row behind filter type 0 (none).
  std::vector<std::uint8_t> rows;
  rows.reserve((stride + 1) * std::size_t(height));
  for (int y = 0; y < height; ++y) {
    rows.push_back(0);
    rows.insert(rows.end(), rgba.begin() + std::ptrdiff_t(stride * y), rgba.begin() + std::ptrdiff_t(stride * (y + 1)));
  }
  std::vector<std::uint8_t> header;
  PutU32(header, std::uint32_t(width));
  PutU32(header, std::uint32_t(height));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, deflate, filter set 0, no interlace
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PngChunk(out, "IHDR", header);
  PngChunk(out, "IDAT", StoredZlib(rows));
  PngChunk(out, "IEND", {});
  return out;
}

}  // namespace artgen
