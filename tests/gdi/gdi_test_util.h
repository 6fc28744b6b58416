// Small builders, file helpers and the reference decoder shared by the graphics device tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/device/bitmap.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/device/gdi.h"
#include "toolkit/core/streams.h"

namespace gditest {

using namespace tk;

// A context with its own bitmap, released together.
struct Surface {
  UniqueBitmap bitmap;
  UniqueDC dc;
  explicit Surface(HBITMAP b) : bitmap(b), dc(CreateCompatibleDC(nullptr)) {
    EXPECT_TRUE(bitmap);
    SelectObject(dc.get(), bitmap.get());
  }
  ~Surface() { dc.reset(); }
  HDC operator*() const { return dc.get(); }
  COLORREF At(int x, int y) const { return GetPixel(dc.get(), x, y); }
  // Pixels row by row, top row first.
  std::vector<COLORREF> All() const {
    std::vector<COLORREF> out;
    for (int y = 0; y < bitmap->height; ++y)
      for (int x = 0; x < bitmap->width; ++x) out.push_back(At(x, y));
    return out;
  }
  void Fill(std::initializer_list<COLORREF> colors) {
    auto it = colors.begin();
    for (int y = 0; y < bitmap->height; ++y)
      for (int x = 0; x < bitmap->width && it != colors.end(); ++x) SetPixel(dc.get(), x, y, *it++);
  }
};

inline HBITMAP Dib(int width, int height, int bits, std::vector<RGBQUAD> colors = {},
                   std::vector<std::uint32_t> masks = {}) {
  BITMAPINFOHEADER h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  h.biCompression = masks.empty() ? BI_RGB : BI_BITFIELDS;
  return CreateDIBSection(h, colors, masks);
}

inline RGBQUAD Quad(COLORREF c) { return RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0}; }

// ---- Files made by hand ----

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// The bytes with some of them, from the given offset on, replaced.
inline Bytes Patched(Bytes b, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
  return b;
}

inline void Load(TGraphic& graphic, const Bytes& file) {
  TMemoryStream s(file);
  graphic.LoadStream(s);
}

// Loading the file into a new graphic of the class fails with EInvalidGraphic and the message,
// and leaves the graphic empty.
template <class Graphic>
void ExpectLoadFails(const Bytes& file, std::string_view message, const std::string& what) {
  Graphic graphic;
  try {
    Load(graphic, file);
    ADD_FAILURE() << "accepted: " << what;
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.what(), message) << what;
  }
  EXPECT_TRUE(graphic.IsEmpty()) << what;
}

// Pixels of a bitmap, top row first.
inline std::vector<COLORREF> PixelsOf(TBitmap& b) {
  std::vector<COLORREF> out;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) out.push_back(b.Canvas().Pixels(x, y));
  return out;
}

// ---- Real files and a reference decoder ----

// Good and broken BMP and ICO files of the Debian package gdk-pixbuf-tests.
inline const std::filesystem::path kPixbufImages =
    "/usr/libexec/installed-tests/gdk-pixbuf/test-images";

inline bool HaveImageMagick() {
  return std::system("convert -version >/dev/null 2>&1") == 0;
}

// ImageMagick's reading of a picture, after the given options (e.g. flattening it onto a
// background), as 8-bit RGB pixels, top row first; empty when it fails. The raw pixels are
// written to the file raw.
inline std::vector<COLORREF> ImageMagickPixels(const std::string& source,
                                               const std::string& options,
                                               const std::filesystem::path& raw) {
  const std::string command =
      "convert '" + source + "' " + options + " -depth 8 rgb:'" + raw.string() + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  const Bytes bytes = ReadWholeFile(raw.string());
  std::vector<COLORREF> out;
  for (std::size_t i = 0; i + 2 < bytes.size(); i += 3)
    out.push_back(RGB(bytes[i], bytes[i + 1], bytes[i + 2]));
  return out;
}

}  // namespace gditest
