// A frame whose bitmap conversion runs out of memory after its source loaded. This program
// replaces the allocation functions (failing_allocator.cpp) so that large allocations can be made
// to fail; it is a program of its own so that no other test runs on them.
#include <gtest/gtest.h>

#include <cstddef>
#include <new>

#include "gif/gif.h"
#include "gif_builder.h"
#include "toolkit/device/bitmap.h"

using namespace giftest;

// Allocations of this many bytes or more fail while it is set (0: none fail).
extern std::size_t gFailAllocationsFrom;

namespace {

TEST(BuildBitmap, AFailedConversionLeavesAnEmptyBitmap) {
  Bytes gif = Screen(3, 2, 0x82);
  gif << Table(8) << Descriptor(0, 0, 3, 2) << LiteralData(3, {0, 1, 2, 1, 5, 1}) << Bytes{0x3B};
  gif::TGIFImage picture;
  Read(picture, gif);
  gif::TGIFFrame& frame = picture.FrameAt(0);
  // 256 x 256 at 4 bits: a 32 KB device-independent bitmap loads, its 256 KB device bitmap
  // cannot be made.
  frame.Encoded->ItemWidth = frame.Encoded->ItemHeight = 256;
  gFailAllocationsFrom = 200000;
  EXPECT_THROW(frame.BuildBitmap(), std::bad_alloc);
  gFailAllocationsFrom = 0;
  ASSERT_NE(frame.BuiltBitmap, nullptr);
  EXPECT_TRUE(frame.BuiltBitmap->IsEmpty());
  tk::TBitmap* built = frame.BuildBitmap();
  EXPECT_EQ(built->HandleType(), tk::TBitmapHandleType::bmDDB);
  EXPECT_EQ(built->Width(), 256);
  EXPECT_EQ(built->Canvas().Pixels(2, 0), TableColor(2));
}

}  // namespace
