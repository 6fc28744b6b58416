// The canvas: drawing on a device context with a brush colour and a copy mode, pixel access,
// a lock, and notifications before and after every change.
#pragma once

#include <cstdint>
#include <functional>

#include "toolkit/device/colors.h"
#include "toolkit/device/gdi.h"
#include "toolkit/core/handles.h"

namespace tk {

class TGraphic;

struct TBrush {
  TColor Color = clWhite;
};

class TCanvas {
 public:
  TCanvas() = default;
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;
  virtual ~TCanvas();

  // The context to draw on, created when first asked for (a canvas of its own owns it).
  HDC Handle();
  // Draws on a context owned elsewhere; null detaches.
  void SetHandle(HDC dc);
  bool HandleAllocated() const { return dc_ != nullptr; }

  TBrush& Brush() { return brush_; }
  std::uint32_t CopyMode() const { return copyMode_; }
  void SetCopyMode(std::uint32_t rop) { copyMode_ = rop; }

  // The pixel's colour (CLR_INVALID outside), and setting it (system colours resolved).
  TColor Pixels(int x, int y);
  void SetPixels(int x, int y, TColor color);
  // Fills the rectangle with the brush colour.
  void FillRect(const TRect& rect);
  // Draws a graphic at its own size with its top-left corner at (x, y).
  void Draw(int x, int y, TGraphic* graphic);
  // Draws a graphic stretched into the rectangle.
  void StretchDraw(const TRect& rect, TGraphic* graphic);
  // Copies a rectangle of another canvas into a rectangle of this one with the copy mode.
  void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);

  // A counting lock around work on the canvas from outside.
  void Lock() { ++lockCount_; }
  void Unlock() {
    if (lockCount_ > 0) --lockCount_;
  }
  int LockCount() const { return lockCount_; }

  // Raised before and after every drawing operation of the canvas.
  std::function<void(TCanvas*)> OnChanging;
  std::function<void(TCanvas*)> OnChange;
  void Changing() {
    if (OnChanging) OnChanging(this);
  }
  void Changed() {
    if (OnChange) OnChange(this);
  }

 protected:
  // Makes the context of a canvas that owns one; does nothing by default.
  virtual void CreateHandle() {}
  // Installs a context the canvas owns (deleted with the canvas or the next handle).
  void AdoptHandle(HDC dc);
  // Deletes an owned context; forgets one owned elsewhere.
  void FreeHandle();

 private:
  HDC dc_ = nullptr;
  bool owned_ = false;
  TBrush brush_;
  std::uint32_t copyMode_ = SRCCOPY;
  int lockCount_ = 0;
};

}  // namespace tk
