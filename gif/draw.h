// Drawing routines: bitmaps stretched onto canvases with one colour left out, and the zeroed
// memory blocks of the pixel buffers.
#pragma once

#include <cstdint>
#include <memory>

#include "toolkit/device/bitmap.h"
#include "toolkit/device/canvas.h"
#include "toolkit/device/gdi.h"

namespace gif {

// Stretches the source rectangle of the bitmap into the canvas rectangle (x, y, width, height)
// with the key colour transparent.
void DrawBitmapKeyed(tk::TCanvas& canvas, int x, int y, int width, int height, const tk::TRect& source,
                     tk::TBitmap& bitmap, tk::TColor key);

// The same on explicit coordinates. A destination width or height of 0 or less is the bitmap's;
// a source width or height of 0 or less makes the whole bitmap the source. NoColor as key draws
// plainly; DefaultColor keys the bitmap's bottom-left pixel; a monochrome bitmap is keyed on
// white whatever the key.
void StretchBitmapKeyed(tk::TCanvas& canvas, tk::TBitmap& bitmap, tk::TColor key, int x, int y, int width,
                        int height, int sx, int sy, int swidth, int sheight);

// Stretches a rectangle of the source context into one of the destination, leaving out the
// source pixels of the key colour (an RGB value): a mask of the key colour is made at the source
// size, the destination's present pixels and the masked source are composed in memory at the
// destination size, and the destination is written once.
void KeyedStretchBlt(tk::HDC dest, int x, int y, int width, int height, tk::HDC source, int sx, int sy,
                     int swidth, int sheight, tk::HPALETTE palette, tk::COLORREF key);

// Start-up of the drawing routines: the hand and drag cursors join the program's own resources
// and the screen's cursors, as crGifHand (14000) and crGifDrag (14001).
void InitDrawingRoutines();

// A zero-filled block of count bytes; none for a count of 0 or less.
std::unique_ptr<std::uint8_t[]> AllocZeroed(std::int64_t count);
// Frees the block, if any, and leaves the reference null.
void FreeAllocated(std::unique_ptr<std::uint8_t[]>& block);

}  // namespace gif
