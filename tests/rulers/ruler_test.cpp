// The rulers on the headless backend: the digit font, the marks and numbers where they belong in
// both orientations and directions, the marker and its read-out, moves by key and drag, closing.
#include <gtest/gtest.h>

#include <string>

#include "toolkit/device/bitmap.h"
#include "toolkit/window/headless/headless.h"
#include "tools/rulers/digits.h"
#include "tools/rulers/ruler.h"

using namespace tk;
using namespace rulers;

namespace {

// Presented pixels (0x00RRGGBB) of the face's colours.
constexpr std::uint32_t Face = 0xFFE880;
constexpr std::uint32_t Ink = 0x000000;
constexpr std::uint32_t Zero = 0xFF0000;
constexpr std::uint32_t Blue = 0x0000FF;
constexpr std::uint32_t White = 0xFFFFFF;

// Reads the digits in a rectangle of a frame by the strokes of each 5 x 7 cell, so that the tests
// see what the screen shows rather than what the program meant to draw.
std::string ReadNumber(const headless::Window& w, const TRect& r, std::uint32_t ink) {
  auto on = [&](int x, int y) { return w.Pixel(x, y) == ink; };
  std::string text;
  for (int x = r.Left; x + DigitWidth <= r.Right; x += DigitWidth + DigitGap) {
    const int y = r.Top;
    // Segments a (top), b, c (right), d (bottom), e, f (left), g (middle).
    const unsigned bits = on(x + 2, y) | on(x + 4, y + 1) << 1 | on(x + 4, y + 5) << 2 |
                          on(x + 2, y + 6) << 3 | on(x, y + 5) << 4 | on(x, y + 1) << 5 |
                          on(x + 2, y + 3) << 6;
    const unsigned figures[10] = {0x3F, 0x49, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    char digit = '?';
    for (int d = 0; d < 10; ++d)
      if (figures[d] == bits) digit = char('0' + d);
    text += digit;
  }
  return text;
}

TEST(DigitFont, DrawsEveryDigitStrokeByStroke) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetWidth(NumberWidth(1234567890));
  bitmap.SetHeight(DigitHeight);
  bitmap.Canvas().Brush().Color = clWhite;
  bitmap.Canvas().FillRect({0, 0, bitmap.Width(), bitmap.Height()});
  DrawNumber(bitmap.Canvas(), 0, 0, 1234567890, clBlack);
  EXPECT_EQ(NumberWidth(1234567890), 59);
  EXPECT_EQ(NumberWidth(0), 5);
  EXPECT_EQ(NumberWidth(1000), 23);
  const char* expected[DigitHeight] = {
      "  #   ##### ##### #   # ##### ##### ##### ##### ##### #####",
      " ##       #     # #   # #     #         # #   # #   # #   #",
      "  #       #     # #   # #     #         # #   # #   # #   #",
      "  #   ##### ##### ##### ##### #####     # ##### ##### #   #",
      "  #   #         #     #     # #   #     # #   #     # #   #",
      "  #   #         #     #     # #   #     # #   #     # #   #",
      "  #   ##### #####     # ##### #####     # ##### ##### #####",
  };
  for (int y = 0; y < DigitHeight; ++y) {
    std::string row;
    for (int x = 0; x < bitmap.Width(); ++x)
      row += bitmap.Canvas().Pixels(x, y) == clBlack ? '#' : ' ';
    EXPECT_EQ(row, expected[y]) << "row " << y;
  }
}

TEST(Ruler, MarkLengthsAndStepsFollowTheirRules) {
  EXPECT_EQ(MarkLength(0), BigMark);
  EXPECT_EQ(MarkLength(300), BigMark);
  EXPECT_EQ(MarkLength(250), MediumMark);
  EXPECT_EQ(MarkLength(990), LittleMark);
  EXPECT_EQ(MarkLength(998), TinyMark);
  EXPECT_EQ(MarkLength(999), 0);
  EXPECT_EQ(StepFor(0), 1);
  EXPECT_EQ(StepFor(ssCtrl), 5);
  EXPECT_EQ(StepFor(ssCtrl | ssShift), 15);
  EXPECT_EQ(StepFor(ssShift), 1);
  EXPECT_EQ(StepFor(ssAlt | ssCtrl), 1);
  EXPECT_EQ(StepFor(ssAlt | ssCtrl | ssShift), 1);
}

// One ruler shown on a headless desktop of 1280 x 1024.
class RulerTest : public ::testing::Test {
 protected:
  void Open(TOrientation orientation, int length) {
    auto backend = std::make_unique<headless::Backend>(TRect{0, 0, 1280, 1024});
    h = backend.get();
    Application().Initialize(std::move(backend));
    ruler = std::make_unique<TRuler>(orientation, length, "Ruler");
    Application().SetMainForm(ruler.get());
    ruler->Show();
  }
  void TearDown() override {
    ruler.reset();
    Application().Finalize();
  }
  void Run() { Application().ProcessMessages(); }
  const headless::Window& W() { return h->Last(); }
  // A pixel by its place along and across the ruler.
  std::uint32_t At(int along, int across) {
    return ruler->Orientation() == TOrientation::Horizontal ? W().Pixel(along, across)
                                                            : W().Pixel(across, along);
  }
  // Moves the pointer to a point along the ruler, in its middle across.
  void Point(int along) {
    if (ruler->Orientation() == TOrientation::Horizontal)
      h->MouseMove(ruler->Left + along, ruler->Top + 20);
    else
      h->MouseMove(ruler->Left + 20, ruler->Top + along);
    Run();
  }
  // The length of the ink run from the marked edge at a pixel along the ruler.
  int MarkAt(int along) {
    int n = 0;
    while (n < Thickness && At(along, n) == Ink) ++n;
    return n;
  }

  // Runs the check on each of the four rulers, read both ways round.
  template <class Check>
  void ForEachRuler(Check check) {
    for (TOrientation o : {TOrientation::Horizontal, TOrientation::Vertical}) {
      for (int length : {1024, 800}) {
        Open(o, length);
        for (bool reversed : {false, true}) {
          if (reversed) ruler->Reverse();
          ruler->Update();
          SCOPED_TRACE(testing::Message() << int(o) << " " << length << " " << reversed);
          check(o, length, reversed);
        }
        TearDown();
      }
    }
  }

  headless::Backend* h = nullptr;
  std::unique_ptr<TRuler> ruler;
};

TEST_F(RulerTest, OpensCentredStayingOnTopInItsSize) {
  Open(TOrientation::Horizontal, 1024);
  EXPECT_EQ(W().bounds, (TRect{128, 492, 1152, 532}));
  EXPECT_TRUE(W().stayOnTop);
  EXPECT_TRUE(W().visible);
  EXPECT_FALSE(W().shaped);
  EXPECT_EQ(W().title, "Ruler");
  TearDown();
  Open(TOrientation::Vertical, 800);
  EXPECT_EQ(W().bounds, (TRect{620, 112, 660, 912}));
  EXPECT_EQ(W().frameWidth, 40);
  EXPECT_EQ(W().frameHeight, 800);
}

TEST_F(RulerTest, MarksHangFromTheMarkedEdgeInBothOrientationsAndDirections) {
  ForEachRuler([&](TOrientation, int length, bool reversed) {
    // The zero end is a red bar across the whole ruler; the other end is the frame's edge.
    const int zero = reversed ? length - ZeroBar : 0;
    for (int across = 0; across < Thickness; ++across) {
      EXPECT_EQ(At(zero, across), Zero);
      EXPECT_EQ(At(zero + 1, across), Zero);
    }
    EXPECT_EQ(At(reversed ? zero - 1 : ZeroBar, 20), Face);
    EXPECT_EQ(At(reversed ? 0 : length - 1, 20), Ink);
    EXPECT_EQ(At(length / 2 + 1, Thickness - 1), Ink);
    // Each pixel along carries the mark of its offset from the zero end; where there is none,
    // only the frame's edge is ink.
    for (int along = ZeroBar; along < length - ZeroBar; ++along) {
      const int offset = reversed ? length - 1 - along : along;
      ASSERT_EQ(ruler->OffsetAt(along), offset);
      ASSERT_EQ(MarkAt(along), std::max(1, MarkLength(offset))) << "along " << along;
    }
  });
}

TEST_F(RulerTest, NumbersStandAtEveryFiftyPixelsWhereTheyFit) {
  ForEachRuler([&](TOrientation o, int length, bool reversed) {
    const std::vector<TRuler::TNumber> numbers = ruler->Numbers();
    // 50, 100, ... up to the last below the length; 0 does not fit at its end.
    ASSERT_EQ(numbers.size(), std::size_t(length == 1024 ? 20 : 15));
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      const int offset = int(i + 1) * 50;
      const int along = reversed ? length - 1 - offset : offset;
      const int width = NumberWidth(offset);
      const TRect expected = o == TOrientation::Horizontal
                                 ? TRect{along - width / 2, NumberAcross, along - width / 2 + width,
                                         NumberAcross + DigitHeight}
                                 : TRect{NumberAcross, along - 3, NumberAcross + width, along + 4};
      EXPECT_EQ(numbers[i].offset, offset);
      EXPECT_EQ(numbers[i].rect, expected) << offset;
      EXPECT_EQ(ReadNumber(W(), expected, Ink), std::to_string(offset));
    }
  });
}

TEST_F(RulerTest, MarkerFollowsThePointerWithItsOffsetFromTheZeroEnd) {
  Open(TOrientation::Horizontal, 1024);
  const int presents = W().presents;
  EXPECT_FALSE(ruler->Marker());
  Point(300);
  ASSERT_EQ(ruler->Marker(), 300);
  for (int across = 0; across < Thickness; ++across) EXPECT_EQ(At(300, across), Blue);
  // The read-out stands past the marker, towards the far end, in a white box.
  TRect r = ruler->Readout();
  EXPECT_EQ(r, (TRect{302, 27, 302 + 19, 36}));
  EXPECT_EQ(W().Pixel(r.Left, r.Top), White);
  EXPECT_EQ(ReadNumber(W(), {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1}, Blue), "300");

  // A move across the ruler, at the same pixel along, draws nothing new.
  h->MouseMove(ruler->Left + 300, ruler->Top + 5);
  Run();
  EXPECT_EQ(W().presents, presents + 1);

  // Read the other way round, the same pixel is 723 from the zero end.
  h->KeyDown('R', 0);
  Run();
  EXPECT_TRUE(ruler->Reversed());
  r = ruler->Readout();
  EXPECT_EQ(ReadNumber(W(), {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1}, Blue), "723");

  // Near the far end the read-out stands before the marker.
  Point(1020);
  r = ruler->Readout();
  EXPECT_EQ(r, (TRect{1020 - 2 - 7, 27, 1018, 36}));
  EXPECT_EQ(ReadNumber(W(), {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1}, Blue), "3");

  // A move out of the ruler takes the marker away.
  h->MouseMove(ruler->Left + 500, ruler->Top - 1);
  Run();
  EXPECT_FALSE(ruler->Marker());
  EXPECT_EQ(At(1020, 20), Face);
}

TEST_F(RulerTest, VerticalReadoutStandsBelowTheMarkerAndAboveItAtTheBottom) {
  Open(TOrientation::Vertical, 800);
  Point(123);
  TRect r = ruler->Readout();
  EXPECT_EQ(r, (TRect{14, 125, 14 + 19, 134}));
  EXPECT_EQ(ReadNumber(W(), {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1}, Blue), "123");
  for (int across = 0; across < Thickness; ++across) EXPECT_EQ(At(123, across), Blue);
  h->Click(ruler->Left + 20, ruler->Top + 795, mbRight);  // a right click reverses
  Run();
  EXPECT_TRUE(ruler->Reversed());
  r = ruler->Readout();
  EXPECT_EQ(r, (TRect{14, 795 - 11, 14 + 7, 793}));
  EXPECT_EQ(ReadNumber(W(), {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1}, Blue), "4");
}

TEST_F(RulerTest, ArrowKeysMoveByTheGadgetsStepsAndTheMarkerStaysUnderThePointer) {
  Open(TOrientation::Horizontal, 800);
  const TPoint start{ruler->Left, ruler->Top};
  Point(400);
  h->KeyDown(VK_RIGHT, 0);
  h->KeyDown(VK_RIGHT, ssCtrl);
  h->KeyDown(VK_RIGHT, ssCtrl | ssShift);
  h->KeyDown(VK_DOWN, ssShift);
  h->KeyDown(VK_DOWN, ssCtrl | ssAlt);
  h->KeyDown(VK_UP, ssCtrl);
  Run();
  EXPECT_EQ(ruler->Left, start.X + 21);
  EXPECT_EQ(ruler->Top, start.Y + 2 - 5);
  EXPECT_EQ(W().bounds.Left, start.X + 21);
  EXPECT_EQ(W().bounds.Top, start.Y - 3);
  EXPECT_EQ(ruler->Marker(), 400 - 21);
  EXPECT_EQ(At(379, 20), Blue);
  h->KeyDown(VK_LEFT, ssCtrl | ssShift);
  Run();
  EXPECT_EQ(ruler->Left, start.X + 6);
  // Moved far enough that the pointer is off the ruler: no marker.
  h->KeyDown(VK_DOWN, ssCtrl | ssShift);
  h->KeyDown(VK_DOWN, ssCtrl | ssShift);
  Run();
  EXPECT_FALSE(ruler->Marker());
}

TEST_F(RulerTest, LeftDragMovesTheRuler) {
  Open(TOrientation::Vertical, 1024);
  h->MouseDown(640, 300);
  h->MouseMove(700, 320);
  h->MouseUp(710, 330);
  Run();
  EXPECT_EQ(h->CallsOf("MoveLoop"), (std::vector<std::string>{"MoveLoop 690 30"}));
  EXPECT_EQ(ruler->Left, 690);
  EXPECT_EQ(ruler->Top, 30);
  EXPECT_TRUE(ruler->Visible());
}

TEST_F(RulerTest, EscapeQAndTheCloseMarkEndTheRuler) {
  for (std::uint16_t key : {VK_ESCAPE, std::uint16_t('Q')}) {
    Open(TOrientation::Horizontal, 800);
    h->KeyDown(key, 0);
    Run();
    EXPECT_FALSE(ruler->Visible());
    EXPECT_TRUE(Application().Terminated());
    TearDown();
  }
  Open(TOrientation::Horizontal, 800);
  const TRect c = ruler->CloseMark();
  EXPECT_EQ(c, (TRect{788, 28, 797, 37}));
  // The cross is drawn in the mark.
  EXPECT_EQ(W().Pixel(c.Left + 2, c.Top + 2), Ink);
  EXPECT_EQ(W().Pixel(c.Right - 3, c.Top + 2), Ink);
  EXPECT_EQ(W().Pixel(c.Left + 1, c.Top + 2), Face);
  // A right click there reverses; a press there released elsewhere, or a press elsewhere
  // released there, does nothing; a left click closes.
  const int x = ruler->Left + c.Left + 4, y = ruler->Top + c.Top + 4;
  h->Click(x, y, mbRight);
  h->MouseDown(x, y);
  h->MouseUp(x - 20, y);
  Run();
  EXPECT_TRUE(ruler->Visible());
  EXPECT_TRUE(ruler->Reversed());
  h->Click(x, y);
  Run();
  EXPECT_FALSE(ruler->Visible());
  EXPECT_TRUE(Application().Terminated());
}

}  // namespace
