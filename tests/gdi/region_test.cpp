// Regions: combination modes, banding, point tests and the outline built from white runs.
#include <gtest/gtest.h>

#include "toolkit/device/region.h"

using namespace tk;

namespace {
UniqueRegion Rect(int l, int t, int r, int b) { return UniqueRegion(CreateRectRgn(l, t, r, b)); }
}  // namespace

TEST(Regions, CombineModesGiveBandedRectangles) {
  auto a = Rect(0, 0, 4, 4), b = Rect(2, 2, 6, 6), out = Rect(0, 0, 0, 0);
  EXPECT_EQ(CombineRgn(out.get(), a.get(), b.get(), RGN_AND), SIMPLEREGION);
  EXPECT_EQ(RegionRects(out.get()), (std::vector<TRect>{{2, 2, 4, 4}}));
  EXPECT_EQ(CombineRgn(out.get(), a.get(), b.get(), RGN_OR), COMPLEXREGION);
  EXPECT_EQ(RegionRects(out.get()), (std::vector<TRect>{{0, 0, 4, 2}, {0, 2, 6, 4}, {2, 4, 6, 6}}));
  EXPECT_EQ(CombineRgn(out.get(), a.get(), b.get(), RGN_XOR), COMPLEXREGION);
  EXPECT_EQ(RegionRects(out.get()),
            (std::vector<TRect>{{0, 0, 4, 2}, {0, 2, 2, 4}, {4, 2, 6, 4}, {2, 4, 6, 6}}));
  EXPECT_EQ(CombineRgn(out.get(), a.get(), b.get(), RGN_DIFF), COMPLEXREGION);
  EXPECT_EQ(RegionRects(out.get()), (std::vector<TRect>{{0, 0, 4, 2}, {0, 2, 2, 4}}));
  EXPECT_EQ(CombineRgn(out.get(), b.get(), nullptr, RGN_COPY), SIMPLEREGION);
  EXPECT_TRUE(EqualRgn(out.get(), b.get()));
  EXPECT_EQ(CombineRgn(out.get(), a.get(), a.get(), RGN_DIFF), NULLREGION);
  EXPECT_EQ(CombineRgn(out.get(), a.get(), nullptr, RGN_DIFF), RGN_ERROR);
  EXPECT_EQ(CombineRgn(out.get(), a.get(), b.get(), 9), RGN_ERROR);
  // Vertically touching bands with the same spans merge.
  auto top = Rect(0, 0, 3, 1), below = Rect(0, 1, 3, 2);
  EXPECT_EQ(CombineRgn(out.get(), top.get(), below.get(), RGN_OR), SIMPLEREGION);
  EXPECT_EQ(RegionRects(out.get()), (std::vector<TRect>{{0, 0, 3, 2}}));
}

TEST(Regions, OutlineFromWhiteRuns) {
  // A 5 x 3 mask: row 0 white from x=1 to 3, row 1 all white, row 2 a single white pixel at 2.
  auto outline = Rect(0, 0, 5, 3);
  for (TRect run : {TRect{1, 0, 4, 1}, TRect{0, 1, 5, 2}, TRect{2, 2, 3, 3}}) {
    auto cut = Rect(run.Left, run.Top, run.Right, run.Bottom);
    CombineRgn(outline.get(), outline.get(), cut.get(), RGN_DIFF);
  }
  EXPECT_EQ(RegionRects(outline.get()),
            (std::vector<TRect>{{0, 0, 1, 1}, {4, 0, 5, 1}, {0, 2, 2, 3}, {3, 2, 5, 3}}));
  EXPECT_TRUE(PtInRegion(outline.get(), 0, 0));
  EXPECT_FALSE(PtInRegion(outline.get(), 1, 0));
  EXPECT_FALSE(PtInRegion(outline.get(), 2, 1));
  EXPECT_FALSE(PtInRegion(outline.get(), 2, 2));
  EXPECT_TRUE(PtInRegion(outline.get(), 3, 2));
  EXPECT_FALSE(PtInRegion(outline.get(), 5, 2));
  TRect box;
  EXPECT_EQ(GetRgnBox(outline.get(), box), COMPLEXREGION);
  EXPECT_EQ(box, (TRect{0, 0, 5, 3}));
  EXPECT_EQ(OffsetRgn(outline.get(), 10, 20), COMPLEXREGION);
  EXPECT_TRUE(PtInRegion(outline.get(), 10, 20));
  // All white: nothing is left.
  auto all = Rect(0, 0, 2, 2), cut = Rect(0, 0, 2, 2);
  EXPECT_EQ(CombineRgn(all.get(), all.get(), cut.get(), RGN_DIFF), NULLREGION);
  EXPECT_EQ(GetRgnBox(all.get(), box), NULLREGION);
  EXPECT_EQ(box, TRect{});
}

TEST(Regions, RectangleCornersInAnyOrder) {
  auto r = Rect(5, 6, 1, 2);
  EXPECT_EQ(RegionRects(r.get()), (std::vector<TRect>{{1, 2, 5, 6}}));
  auto empty = Rect(3, 3, 3, 9);
  EXPECT_TRUE(RegionRects(empty.get()).empty());
}

TEST(Regions, FromRunsBandByBand) {
  // The 5 x 3 outline above from its runs: the same rectangles as the subtractions give.
  using Runs = std::vector<RegionFromRuns::Run>;
  RegionFromRuns builder;
  builder.AddBand(0, 1, Runs{{0, 1}, {4, 5}});
  builder.AddBand(1, 2, Runs{});
  builder.AddBand(2, 3, Runs{{0, 2}, {3, 5}});
  UniqueRegion outline(builder.Create());
  EXPECT_EQ(RegionRects(outline.get()),
            (std::vector<TRect>{{0, 0, 1, 1}, {4, 0, 5, 1}, {0, 2, 2, 3}, {3, 2, 5, 3}}));
  // Touching bands with the same runs make one band; a gap or other runs start a new one.
  builder.AddBand(0, 1, Runs{{1, 3}});
  builder.AddBand(1, 4, Runs{{1, 3}});
  builder.AddBand(4, 5, Runs{{1, 2}});
  builder.AddBand(6, 7, Runs{{1, 2}});
  EXPECT_EQ(builder.TakeRects(), (std::vector<TRect>{{1, 0, 3, 4}, {1, 4, 2, 5}, {1, 6, 2, 7}}));
  EXPECT_TRUE(builder.TakeRects().empty());
  UniqueRegion none(builder.Create());
  EXPECT_TRUE(RegionRects(none.get()).empty());
}
