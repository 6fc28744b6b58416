// Small builders shared by the graphics device tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "toolkit/gdi.h"

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

}  // namespace gditest
