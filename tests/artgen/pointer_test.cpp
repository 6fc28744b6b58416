// The pointer pictures: drawn over the dial's own scale, the pointer on the face only.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tools/artgen/art.h"

namespace {

const char* const Names[] = {"PT", "PL", "PR", "PB", "PcT", "PcL", "PcR", "PcB"};

double Distance(int x, int y) { return std::hypot(x - artgen::CentreX, y - artgen::CentreY); }

TEST(Pointer, TheDialsScaleStaysAndThePointerEndsAtIt) {
  const artgen::Picture dial = artgen::Dial();
  for (const std::string name : Names) {
    const artgen::Picture p = artgen::Pointer(name);
    ASSERT_EQ(p.width, 249) << name;
    ASSERT_EQ(p.height, 249) << name;
    int scaleDiffers = 0, pointerOnScale = 0, pointer = 0;
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        const double d = Distance(x, y);
        // The ring with its ticks and labels is the dial's, pixel for pixel.
        if (d > artgen::InnerRadius - 0.6) {
          scaleDiffers += p.At(x, y) != dial.At(x, y);
        } else if (p.At(x, y) != artgen::Clear) {
          ++pointer;
          // The second style's shaft ends at its head: nothing of the pointer reaches past the
          // scale's inner edge, where the tip touches it.
          pointerOnScale += d > artgen::InnerRadius - 1.5;
        }
      }
    EXPECT_EQ(scaleDiffers, 0) << name;
    EXPECT_GT(pointer, 200) << name;
    EXPECT_LE(pointerOnScale, 2) << name;  // the tip's own pixels
  }
}

TEST(Pointer, TheFaceIsSeeThroughBesideThePointer) {
  // A point of the face away from every pointer's axis shows what lies under the picture.
  for (const std::string name : Names) EXPECT_EQ(artgen::Pointer(name).At(60, 60), artgen::Clear) << name;
}

}  // namespace
