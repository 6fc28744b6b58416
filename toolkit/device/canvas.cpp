#include "toolkit/device/canvas.h"

#include "toolkit/core/graphic.h"

namespace tk {

TCanvas::~TCanvas() { FreeHandle(); }

HDC TCanvas::Handle() {
  if (!dc_) CreateHandle();
  return dc_;
}

void TCanvas::SetHandle(HDC dc) {
  FreeHandle();
  dc_ = dc;
  owned_ = false;
}

void TCanvas::AdoptHandle(HDC dc) {
  FreeHandle();
  dc_ = dc;
  owned_ = true;
}

void TCanvas::FreeHandle() {
  if (dc_ && owned_) DeleteDC(dc_);
  dc_ = nullptr;
  owned_ = false;
}

TColor TCanvas::Pixels(int x, int y) { return GetPixel(Handle(), x, y); }

void TCanvas::SetPixels(int x, int y, TColor color) {
  Changing();
  SetPixel(Handle(), x, y, ColorToRGB(color));
  Changed();
}

void TCanvas::FillRect(const TRect& rect) {
  Changing();
  FillSolidRect(Handle(), rect, ColorToRGB(brush_.Color));
  Changed();
}

void TCanvas::Draw(int x, int y, TGraphic* graphic) {
  if (!graphic || graphic->IsEmpty()) return;
  StretchDraw(TRect{x, y, x + graphic->Width(), y + graphic->Height()}, graphic);
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic* graphic) {
  if (!graphic) return;
  Changing();
  graphic->DrawInRect(*this, rect);
  Changed();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
  Changing();
  StretchBlt(Handle(), dest.Left, dest.Top, dest.Width(), dest.Height(), source.Handle(), sourceRect.Left,
             sourceRect.Top, sourceRect.Width(), sourceRect.Height(), copyMode_);
  Changed();
}

}  // namespace tk
