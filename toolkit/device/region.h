// Regions of the graphics device: sets of pixels kept as bands of rectangles (rectangles of one
// band share their top and bottom, do not touch and run left to right; bands run top to bottom
// and never have the same rectangles as a band they touch).
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "toolkit/device/gdi.h"
#include "toolkit/core/handles.h"

namespace tk {

struct GdiRegion : GdiObject {
  GdiRegion() : GdiObject(GdiKind::Region) {}
  std::vector<TRect> rects;
};

// Region kinds returned by the operations.
inline constexpr int RGN_ERROR = 0;
inline constexpr int NULLREGION = 1;
inline constexpr int SIMPLEREGION = 2;
inline constexpr int COMPLEXREGION = 3;

// Combination modes.
inline constexpr int RGN_AND = 1;
inline constexpr int RGN_OR = 2;
inline constexpr int RGN_XOR = 3;
inline constexpr int RGN_DIFF = 4;
inline constexpr int RGN_COPY = 5;

// A rectangle region; the corners may come in any order, an empty rectangle gives an empty
// region.
HRGN CreateRectRgn(int left, int top, int right, int bottom);
// Combines the sources into the destination (which may be one of them); RGN_COPY takes the
// first source alone. Returns the kind of the result, or RGN_ERROR.
int CombineRgn(HRGN dest, HRGN source1, HRGN source2, int mode);
bool PtInRegion(HRGN region, int x, int y);
// The bounding rectangle (all zero for an empty region) and the region's kind.
int GetRgnBox(HRGN region, TRect& box);
int OffsetRgn(HRGN region, int dx, int dy);
bool EqualRgn(HRGN a, HRGN b);
// The region's rectangles in band order: what a window backend hands to its shape calls.
std::vector<TRect> RegionRects(HRGN region);

// Builds a region in its banded form from runs, band by band from top to bottom: each band is
// rows [top, bottom) covered by runs [left, right) that run left to right and do not touch. A
// band that continues the one above it with the same runs extends it, so the result has the
// form the operations above give, without one combination per run.
class RegionFromRuns {
 public:
  using Run = std::pair<int, int>;

  // Adds a band; a band without runs adds nothing. Bands come in order, never overlapping.
  void AddBand(int top, int bottom, std::span<const Run> runs);
  // The rectangles so far, in band order; the builder is left empty.
  std::vector<TRect> TakeRects();
  // A new region of the rectangles; the builder is left empty.
  HRGN Create();

 private:
  std::vector<TRect> rects_;
  std::size_t lastBand_ = 0;  // index of the first rectangle of the last band
};

}  // namespace tk
