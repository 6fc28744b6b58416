#include "toolkit/device/region.h"

#include <algorithm>
#include <utility>

namespace tk {

namespace {

using Spans = std::vector<std::pair<int, int>>;  // [left, right) runs of one band, left to right

struct Band {
  int top = 0;
  int bottom = 0;
  Spans spans;
};

std::vector<Band> ToBands(const std::vector<TRect>& rects) {
  std::vector<Band> bands;
  for (const TRect& r : rects) {
    if (bands.empty() || bands.back().top != r.Top) bands.push_back(Band{r.Top, r.Bottom, {}});
    bands.back().spans.emplace_back(r.Left, r.Right);
  }
  return bands;
}

// Whether the x intervals of a and b, combined by the mode, include [x, ...) is decided segment
// by segment between the sorted boundaries of both.
Spans CombineSpans(const Spans& a, const Spans& b, int mode) {
  std::vector<int> xs;
  xs.reserve(2 * (a.size() + b.size()));
  for (const auto& [l, r] : a) xs.push_back(l), xs.push_back(r);
  for (const auto& [l, r] : b) xs.push_back(l), xs.push_back(r);
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  Spans out;
  std::size_t ia = 0, ib = 0;
  for (std::size_t k = 0; k + 1 < xs.size(); ++k) {
    const int x = xs[k];
    while (ia < a.size() && a[ia].second <= x) ++ia;
    while (ib < b.size() && b[ib].second <= x) ++ib;
    const bool inA = ia < a.size() && a[ia].first <= x;
    const bool inB = ib < b.size() && b[ib].first <= x;
    bool in = false;
    switch (mode) {
      case RGN_AND: in = inA && inB; break;
      case RGN_OR: in = inA || inB; break;
      case RGN_XOR: in = inA != inB; break;
      default: in = inA && !inB; break;  // RGN_DIFF
    }
    if (!in) continue;
    if (!out.empty() && out.back().second == x) out.back().second = xs[k + 1];
    else out.emplace_back(x, xs[k + 1]);
  }
  return out;
}

// The spans of the band covering row y (bands are walked forward with a cursor).
const Spans* SpansAt(const std::vector<Band>& bands, std::size_t& cursor, int y) {
  while (cursor < bands.size() && bands[cursor].bottom <= y) ++cursor;
  if (cursor < bands.size() && bands[cursor].top <= y) return &bands[cursor].spans;
  return nullptr;
}

std::vector<TRect> Combine(const std::vector<TRect>& ra, const std::vector<TRect>& rb, int mode) {
  const std::vector<Band> a = ToBands(ra), b = ToBands(rb);
  std::vector<int> ys;
  for (const Band& band : a) ys.push_back(band.top), ys.push_back(band.bottom);
  for (const Band& band : b) ys.push_back(band.top), ys.push_back(band.bottom);
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

  RegionFromRuns out;
  std::size_t ca = 0, cb = 0;
  static const Spans kNone;
  for (std::size_t k = 0; k + 1 < ys.size(); ++k) {
    const Spans* sa = SpansAt(a, ca, ys[k]);
    const Spans* sb = SpansAt(b, cb, ys[k]);
    if (!sa && !sb) continue;
    out.AddBand(ys[k], ys[k + 1], CombineSpans(sa ? *sa : kNone, sb ? *sb : kNone, mode));
  }
  return out.TakeRects();
}

int Kind(const GdiRegion* region) {
  if (region->rects.empty()) return NULLREGION;
  return region->rects.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

}  // namespace

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  auto* region = new GdiRegion;
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  if (left < right && top < bottom) region->rects.push_back(TRect{left, top, right, bottom});
  return region;
}

int CombineRgn(HRGN dest, HRGN source1, HRGN source2, int mode) {
  if (!dest || !source1 || mode < RGN_AND || mode > RGN_COPY) return RGN_ERROR;
  if (mode == RGN_COPY) {
    if (dest != source1) dest->rects = source1->rects;
    return Kind(dest);
  }
  if (!source2) return RGN_ERROR;
  dest->rects = Combine(source1->rects, source2->rects, mode);
  return Kind(dest);
}

bool PtInRegion(HRGN region, int x, int y) {
  if (!region) return false;
  return std::any_of(region->rects.begin(), region->rects.end(),
                     [&](const TRect& r) { return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom; });
}

int GetRgnBox(HRGN region, TRect& box) {
  if (!region) return RGN_ERROR;
  box = TRect{};
  if (!region->rects.empty()) {
    box = region->rects.front();
    for (const TRect& r : region->rects) {
      box.Left = std::min(box.Left, r.Left);
      box.Right = std::max(box.Right, r.Right);
      box.Bottom = std::max(box.Bottom, r.Bottom);
    }
  }
  return Kind(region);
}

int OffsetRgn(HRGN region, int dx, int dy) {
  if (!region) return RGN_ERROR;
  for (TRect& r : region->rects) r = TRect{r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
  return Kind(region);
}

bool EqualRgn(HRGN a, HRGN b) { return a && b && a->rects == b->rects; }

std::vector<TRect> RegionRects(HRGN region) { return region ? region->rects : std::vector<TRect>{}; }

void RegionFromRuns::AddBand(int top, int bottom, std::span<const Run> runs) {
  if (runs.empty() || top >= bottom) return;
  // The last band continues when it ends where this one begins and has the same runs.
  const std::size_t last = rects_.size() - lastBand_;
  bool same = !rects_.empty() && rects_.back().Bottom == top && last == runs.size();
  for (std::size_t i = 0; same && i < runs.size(); ++i)
    same = rects_[lastBand_ + i].Left == runs[i].first && rects_[lastBand_ + i].Right == runs[i].second;
  if (same) {
    for (std::size_t i = lastBand_; i < rects_.size(); ++i) rects_[i].Bottom = bottom;
    return;
  }
  lastBand_ = rects_.size();
  for (const auto& [left, right] : runs) rects_.push_back(TRect{left, top, right, bottom});
}

std::vector<TRect> RegionFromRuns::TakeRects() {
  lastBand_ = 0;
  return std::exchange(rects_, {});
}

HRGN RegionFromRuns::Create() {
  auto* region = new GdiRegion;
  region->rects = TakeRects();
  return region;
}

}  // namespace tk
