// Drawing of the window system through the software graphics device: the form paints its
// background and its controls into one 32-bit bitmap, which its native window presents whole.
#include <algorithm>
#include <cstring>

#include "toolkit/device/bitmap.h"
#include "toolkit/device/canvas.h"
#include "toolkit/device/gdi.h"
#include "toolkit/core/picture.h"
#include "toolkit/device/region.h"
#include "toolkit/window/window.h"

namespace tk {

namespace {

// A 32-bit bitmap selected into a context, with a canvas drawing on it.
struct Surface {
  Surface(int width, int height)
      : bitmap(CreateBitmap(width, height, 1, 32)),
        dc(CreateCompatibleDC(nullptr)),
        selection(dc.get(), bitmap.get()) {
    canvas.SetHandle(dc.get());
  }
  bool Ok() const { return selection.Ok(); }

  UniqueBitmap bitmap;
  UniqueDC dc;
  BitmapSelection selection;
  TCanvas canvas;
};

void Fill(HDC dc, int left, int top, int right, int bottom, TColor color) {
  FillSolidRect(dc, TRect{left, top, right, bottom}, ColorToRGB(color));
}

TRect Intersect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (r.Right < r.Left) r.Right = r.Left;
  if (r.Bottom < r.Top) r.Bottom = r.Top;
  return r;
}

}  // namespace

// ---- TImage -----------------------------------------------------------------------------------

TImage::TImage(std::string name) : TControl(std::move(name)), picture_(std::make_unique<TPicture>()) {
  picture_->OnChange = [this](TPicture*) {
    if (TGraphic* graphic = picture_->Graphic(); graphic && Transparent) graphic->SetTransparent(true);
    Invalidate();
  };
}

TImage::~TImage() = default;

void TImage::Paint(TCanvas& canvas) {
  TGraphic* graphic = picture_->Graphic();
  if (!graphic || graphic->IsEmpty() || Width <= 0 || Height <= 0) return;
  // The graphic draws at its own size onto a surface of the view's size that holds what lies
  // below the view, so whatever it draws beyond the view is cut off.
  Surface view(Width, Height);
  if (!view.Ok()) return;
  HDC dest = canvas.Handle();
  BitBlt(view.dc.get(), 0, 0, Width, Height, dest, Left, Top, SRCCOPY);
  graphic->DrawInRect(view.canvas, TRect{0, 0, graphic->Width(), graphic->Height()});
  BitBlt(dest, Left, Top, Width, Height, view.dc.get(), 0, 0, SRCCOPY);
}

// ---- TBitBtn ----------------------------------------------------------------------------------

TBitBtn::TBitBtn(std::string name) : TControl(std::move(name)), glyph_(std::make_unique<TBitmap>()) {
  glyph_->OnChange = [this](TGraphic*) { Invalidate(); };
}

TBitBtn::~TBitBtn() = default;

void TBitBtn::Paint(TCanvas& canvas) {
  if (Width <= 0 || Height <= 0) return;
  HDC dc = canvas.Handle();
  const int l = Left, t = Top, r = Left + Width, b = Top + Height;
  // The face with a raised edge: light top and left, shadow and dark shadow bottom and right;
  // while pressed the edge is sunk.
  Fill(dc, l, t, r, b, clBtnFace);
  if (pressed_) {
    Fill(dc, l, t, r, b, cl3DDkShadow);
    Fill(dc, l + 1, t + 1, r - 1, b - 1, clBtnShadow);
    Fill(dc, l + 2, t + 2, r - 1, b - 1, clBtnFace);
  } else {
    Fill(dc, l, t, r, b, cl3DDkShadow);
    Fill(dc, l, t, r - 1, b - 1, clBtnHighlight);
    Fill(dc, l + 1, t + 1, r - 1, b - 1, clBtnShadow);
    Fill(dc, l + 1, t + 1, r - 2, b - 2, clBtnFace);
  }

  const int glyphs = std::max(NumGlyphs, 1);
  const int gw = glyph_->Width() / glyphs;
  const int gh = glyph_->Height();
  if (gw <= 0 || gh <= 0) return;
  // The enabled glyph, or the disabled one beside it; centred, pushed by a pixel while pressed,
  // cut to the button, with the colour of the bitmap's bottom-left pixel left out.
  const int index = !Enabled() && glyphs > 1 ? 1 : 0;
  const int shift = pressed_ ? 1 : 0;
  const int x = l + (Width - gw) / 2 + shift;
  const int y = t + (Height - gh) / 2 + shift;
  const TRect part = Intersect(TRect{x, y, x + gw, y + gh}, TRect{l, t, r, b});
  if (part.Width() == 0 || part.Height() == 0) return;
  TransparentBlt(dc, part.Left, part.Top, part.Width(), part.Height(), glyph_->Canvas().Handle(),
                 index * gw + part.Left - x, part.Top - y, part.Width(), part.Height(),
                 glyph_->TransparentColor() & 0xFFFFFF);
}

// ---- TForm ------------------------------------------------------------------------------------

void TForm::Paint(TCanvas& canvas) {
  Fill(canvas.Handle(), 0, 0, Width, Height, Color);
  // Picture views first, then the windowed controls above them, each group in creation order.
  for (bool windowed : {false, true})
    for (const auto& control : controls_)
      if (control->Windowed() == windowed) control->Paint(canvas);
}

void TForm::ReleaseRegion() {
  if (region_) DeleteObject(region_);
  region_ = nullptr;
}

const std::vector<std::uint32_t>& TForm::Frame() {
  dirty_ = false;
  frame_.clear();
  if (Width <= 0 || Height <= 0) return frame_;
  Surface surface(Width, Height);
  if (!surface.Ok()) return frame_;
  Paint(surface.canvas);
  frame_.resize(static_cast<std::size_t>(Width) * Height);
  // The screen's pixels are 0x00RRGGBB in memory; the unused top byte is cleared.
  for (int y = 0; y < Height; ++y)
    std::memcpy(frame_.data() + static_cast<std::size_t>(y) * Width, surface.bitmap->Row(y),
                static_cast<std::size_t>(Width) * 4);
  for (std::uint32_t& pixel : frame_) pixel &= 0xFFFFFF;
  return frame_;
}

}  // namespace tk
