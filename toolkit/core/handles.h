// Plain value types and opaque handles of the platform layer: rectangles, points, colours, and
// the handles of graphics objects, memory blocks and modules.
#pragma once

#include <cstdint>

namespace tk {

struct TPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};

// A colour: red in the low byte, then green, then blue. Bit 31 set names a system colour by its
// low byte; 0x02000000 added marks a palette-relative colour.
using TColor = std::uint32_t;

// Graphics objects of the software graphics device. Every one of them derives from GdiObject;
// the handles are pointers to them.
struct GdiObject;
struct GdiBitmap;
struct GdiPalette;
struct GdiRegion;
struct DeviceContext;
using HGDIOBJ = GdiObject*;
using HBITMAP = GdiBitmap*;
using HPALETTE = GdiPalette*;
using HRGN = GdiRegion*;
using HDC = DeviceContext*;

// A movable global memory block (the clipboard's currency).
struct GlobalBlock;
using HGLOBAL = GlobalBlock*;

// A loaded side library.
struct LoadedModule;
using HMODULE = LoadedModule*;

// The data handle of a clipboard format: an HBITMAP for the system bitmap format, an HGLOBAL for
// every other format; 0 for none.
using THandle = std::uintptr_t;
using TClipboardFormat = std::uint16_t;

}  // namespace tk
