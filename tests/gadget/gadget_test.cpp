// The gadget's handlers on the headless backend, with the build's Mantle.dll and with side
// libraries made here: start-up, steps and nudges, masks, pointer pictures, rulers, failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/test_paths.h"
#include "gadget/test_art.h"
#include "gadget/Unit1.h"
#include "gif/gif.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/window/headless/headless.h"
#include "toolkit/system/library.h"
#include "toolkit/core/picture.h"
#include "toolkit/device/region.h"
#include "tools/mkreslib/reslib.h"

using namespace tk;
using gadget::TForm1;
namespace fs = std::filesystem;

namespace {

const fs::path BinDir = fs::path(TEST_BINARY_DIR) / "bin";

// The window opens centred on a 1280 x 1024 desktop at the mask's size, 251 x 249.
constexpr int X0 = (1280 - 251) / 2;
constexpr int Y0 = (1024 - 249) / 2;

// Vanes.dll with the art's eight pointer pictures.
const std::vector<std::uint8_t>& VanesDll() {
  static const std::vector<std::uint8_t> dll = [] {
    std::vector<reslib::Resource> resources;
    for (const char* name : testart::PointerNames)
      resources.push_back({RT_RCDATA, name, testart::GifOf(artgen::Pointer(name), true)});
    return reslib::BuildResourceDll(resources, reslib::ImageFormat::Pe32);
  }();
  return dll;
}

class GadgetTest : public ::testing::Test {
 protected:
  // The module initialisation of the program: the GIF picture class is registered.
  gif::TGifModule gifModule_;
  void SetUp() override {
    dir_ = testpaths::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    previous_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    form.reset();
    gadget::Form1 = nullptr;
    Application().Finalize();
    fs::current_path(previous_);
  }

  // Puts the side libraries of the build into the working directory and starts the gadget.
  void Start(bool mantle = true, bool vanes = true) {
    if (mantle) fs::copy_file(BinDir / "Mantle.dll", dir_ / "Mantle.dll");
    if (vanes) WriteWholeFile((dir_ / "Vanes.dll").string(), VanesDll());
    gadget::ResetSharedState();
    auto backend = std::make_unique<headless::Backend>(TRect{0, 0, 1280, 1024});
    h = backend.get();
    Application().Initialize(std::move(backend));
    form = std::make_unique<TForm1>();
    gadget::Form1 = form.get();
    Application().SetMainForm(form.get());
    form->DoCreate();
    form->Show();
  }
  void Run() { Application().ProcessMessages(); }
  // The centre of a control on the screen, where the window is now.
  TPoint Centre(TControl* c) {
    return {form->Left + c->Left + c->Width / 2, form->Top + c->Top + c->Height / 2};
  }
  void ClickOn(TControl* c, TMouseButton button = mbLeft, TShiftState shift = 0) {
    h->Click(Centre(c).X, Centre(c).Y, button, shift);
    Run();
  }
  void Press(TControl* c, TMouseButton button) {
    h->MouseDown(Centre(c).X, Centre(c).Y, button);
    h->MouseUp(Centre(c).X, Centre(c).Y, button);
    Run();
  }
  TGraphic* Picture() { return form->Image2->Picture().Graphic(); }

  fs::path dir_;
  fs::path previous_;
  headless::Backend* h = nullptr;
  std::unique_ptr<TForm1> form;
};

// A bitmap of one colour.
std::unique_ptr<TBitmap> SolidBitmap(int width, int height, TColor colour) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetWidth(width);
  b->SetHeight(height);
  b->Canvas().Brush().Color = colour;
  b->Canvas().FillRect({0, 0, width, height});
  return b;
}

// A side library with bitmap resources made here.
void WriteMantle(const fs::path& file, const std::vector<std::pair<std::string, TBitmap*>>& masks) {
  std::vector<reslib::Resource> resources;
  for (auto& [name, bitmap] : masks) {
    TMemoryStream bmp;
    bitmap->SaveStream(bmp);
    resources.push_back({RT_BITMAP, name, reslib::BitmapResource(bmp.Bytes())});
  }
  auto dll = reslib::BuildResourceDll(resources, reslib::ImageFormat::Pe32);
  WriteWholeFile(file.string(), dll);
}

// The number of window pixels, outside the buttons, that differ from the picture drawn from the
// window's top-left corner and cut to Image2's 249 x 250 (its Clear pixels show the form's face).
int PictureMismatches(const headless::Window& w, const artgen::Picture& p) {
  const std::vector<artgen::ButtonArt> buttons = artgen::Buttons();
  int mismatches = 0;
  for (int y = 0; y < std::min({p.height, 250, w.frameHeight}); ++y)
    for (int x = 0; x < std::min({p.width, 249, w.frameWidth}); ++x) {
      bool onButton = false;
      for (const artgen::ButtonArt& b : buttons)
        onButton |= x >= b.left && x < b.left + b.width && y >= b.top && y < b.top + b.height;
      const artgen::Ink ink = p.At(x, y);
      if (!onButton && w.Pixel(x, y) != (ink == artgen::Clear ? 0xC0C0C0 : artgen::Palette[ink])) ++mismatches;
    }
  return mismatches;
}

// The number of glyph pixels (other than the silver background) of the enabled buttons that the
// window does not show where the buttons lie.
int GlyphMismatches(const headless::Window& w) {
  int mismatches = 0;
  for (const artgen::ButtonArt& b : artgen::Buttons())
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const int wx = b.left + (b.width - 16) / 2 + x, wy = b.top + (b.height - 16) / 2 + y;
        const artgen::Ink ink = b.glyph.At(x, y);
        if (ink != artgen::Silver && wx >= b.left && wx < b.left + b.width && wy >= b.top &&
            wy < b.top + b.height && w.Pixel(wx, wy) != artgen::Palette[ink])
          ++mismatches;
      }
  return mismatches;
}

// ---- Start-up ------------------------------------------------------------------------------

TEST_F(GadgetTest, StartsCentredAtTheMaskSizeWithItsOutline) {
  Start();
  EXPECT_EQ(h->Last().title, "Form1");
  EXPECT_EQ(h->Last().bounds, (TRect{X0, Y0, X0 + 251, Y0 + 249}));
  EXPECT_TRUE(h->Last().shaped);
  EXPECT_TRUE(h->messages.empty());
  // The dial came from the stored picture value, through the registry, as a GIF picture.
  ASSERT_NE(Picture(), nullptr);
  EXPECT_EQ(Picture()->ClassName(), "TGIFImage");
  EXPECT_EQ(Picture()->Width(), 251);
  EXPECT_EQ(Picture()->Height(), 249);
  // The first frame shows the dial, cut to the view, and the glyphs on the buttons.
  EXPECT_EQ(h->Last().frameWidth, 251);
  EXPECT_EQ(PictureMismatches(h->Last(), artgen::Dial()), 0);
  EXPECT_EQ(GlyphMismatches(h->Last()), 0);
  EXPECT_EQ(h->Last().Pixel(250, 100), 0xC0C0C0u);  // beyond the view: the form's face
  // Controls in creation order.
  std::vector<std::string> names;
  for (auto& c : form->Controls()) names.push_back(c->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Image2", "Image5", "Image6", "Image8", "Image7",
                                             "BitBtn1", "BitBtn2", "BitBtn3", "BitBtn4", "BitBtn6",
                                             "BitBtn7", "BitBtn5", "BitBtn8"}));
}

// The number of pixels of the button's edge that do not show the edge's colours: a glyph drawn
// over the bevel. Raised: light top and left, shadow and dark shadow bottom and right; pressed:
// dark shadow and shadow top and left, dark shadow bottom and right.
int BevelMismatches(const headless::Window& w, const TBitBtn& b, bool pressed) {
  auto rgb = [](TColor c) {
    const TColor v = ColorToRGB(c);
    return std::uint32_t((v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF));
  };
  const std::uint32_t light = rgb(clBtnHighlight), shadow = rgb(clBtnShadow), dark = rgb(cl3DDkShadow);
  const int l = b.Left, t = b.Top, r = b.Left + b.Width, bottom = b.Top + b.Height;
  int mismatches = 0;
  for (int y = t; y < bottom; ++y)
    for (int x = l; x < r; ++x) {
      std::uint32_t expected = 0;
      if (x == r - 1 || y == bottom - 1) expected = dark;
      else if (pressed) expected = x == l || y == t ? dark : x == l + 1 || y == t + 1 ? shadow : 0;
      else expected = x == l || y == t ? light : x == r - 2 || y == bottom - 2 ? shadow : 0;
      if (expected != 0 && w.Pixel(x, y) != expected) ++mismatches;
    }
  return mismatches;
}

TEST_F(GadgetTest, GlyphsLieInsideTheButtonFacesRaisedAndPressed) {
  Start();
  for (TBitBtn* b : {form->BitBtn1, form->BitBtn2, form->BitBtn3, form->BitBtn4, form->BitBtn6,
                     form->BitBtn7, form->BitBtn5, form->BitBtn8}) {
    EXPECT_EQ(BevelMismatches(h->Last(), *b, false), 0) << b->Name;
    h->MouseDown(Centre(b).X, Centre(b).Y, mbLeft);
    Run();
    ASSERT_TRUE(b->Pressed()) << b->Name;
    EXPECT_EQ(BevelMismatches(h->Last(), *b, true), 0) << b->Name << ", pressed";
    h->MouseUp(form->Left + 60, form->Top + 60, mbLeft);  // released off the button: no click
    Run();
  }
  // The disabled glyph of the stay-on-top button too.
  form->BitBtn7->SetEnabled(false);
  form->Update();
  EXPECT_EQ(BevelMismatches(h->Last(), *form->BitBtn7, false), 0);
}

TEST_F(GadgetTest, WithoutMantleTheWindowIsAPlainStoredSizeRectangle) {
  Start(false, true);
  EXPECT_EQ(h->messages, (std::vector<std::string>{"Resource B not found"}));
  EXPECT_EQ(h->Last().bounds, (TRect{372, 338, 372 + 536, 338 + 348}));
  EXPECT_FALSE(h->Last().shaped);
}

// ---- Steps and nudges ----------------------------------------------------------------------

TEST_F(GadgetTest, NudgeStepsFollowTheModifierKeys) {
  Start();
  auto nudge = [&](TShiftState keys = 0) {
    int before = form->Left;
    ClickOn(form->BitBtn2, mbLeft, keys);
    return form->Left - before;
  };
  EXPECT_EQ(nudge(), 1);  // StepSize is 5, but StepMode 0 until a key comes
  h->KeyDown(17, ssCtrl);
  Run();
  EXPECT_EQ(nudge(), 5);
  h->KeyDown(16, ssCtrl | ssShift);
  Run();
  EXPECT_EQ(nudge(), 15);
  h->KeyUp(16, ssCtrl);  // Shift released, Ctrl still held
  Run();
  EXPECT_EQ(nudge(), 5);
  h->KeyUp(17, 0);
  Run();
  EXPECT_EQ(nudge(), 1);
  // After a key-up: Shift alone, Alt alone, Alt then Ctrl all leave 1 pixel.
  for (TShiftState s : {ssShift, ssAlt, TShiftState(ssAlt | ssCtrl)}) h->KeyDown(0, s);
  Run();
  EXPECT_EQ(nudge(), 1);
  // Ctrl then Alt keeps the 5 pixels the Ctrl press set.
  h->KeyDown(17, ssCtrl);
  h->KeyDown(18, ssCtrl | ssAlt);
  Run();
  EXPECT_EQ(nudge(), 5);
  EXPECT_EQ(form->Top, Y0);
}

TEST_F(GadgetTest, EachNudgePutsTheCursorBackOnItsButton) {
  Start();
  h->KeyDown(17, ssCtrl);
  Run();
  for (int i = 1; i <= 3; ++i) {
    ClickOn(form->BitBtn1);
    EXPECT_EQ(form->Left, X0 - 5 * i);
    EXPECT_EQ(h->cursor, (TPoint{X0 - 5 * i + 83 + 8, Y0 + 136 + 6}));
    EXPECT_TRUE(form->BitBtn1->Enabled());
    EXPECT_EQ(form->ActiveControl(), nullptr);
  }
  ClickOn(form->BitBtn3);
  EXPECT_EQ(h->cursor, (TPoint{form->Left + 138 + 7, Y0 - 5 + 136 + 6}));
  ClickOn(form->BitBtn4);
  ClickOn(form->BitBtn4);
  EXPECT_EQ(form->Top, Y0 + 5);
  EXPECT_EQ(h->cursor, (TPoint{form->Left + 155 + 7, Y0 + 5 + 136 + 5}));
  // The nudges set the position only; the window may leave the screen.
  EXPECT_EQ(h->CallsOf("SetBounds").back(),
            "SetBounds " + std::to_string(X0 - 15) + " " + std::to_string(Y0 + 5) + " 251 249");
}

TEST_F(GadgetTest, NudgesCarryTheWindowAcrossTheScreenEdge) {
  Start();
  h->KeyDown(16, ssCtrl | ssShift);
  Run();
  for (int i = 0; i < 40; ++i) ClickOn(form->BitBtn3);
  EXPECT_EQ(form->Top, Y0 - 600);
}

// ---- Dragging --------------------------------------------------------------------------------

TEST_F(GadgetTest, LeftAndMiddlePressesOnTheDialAndAnyPressOnTheSurfaceDrag) {
  // A rectangular mask larger than the dial leaves some of the window's own surface bare.
  auto b = SolidBitmap(300, 260, 0);
  WriteMantle(dir_ / "Mantle.dll", {{"B", b.get()}});
  Start(false, true);
  const int x0 = (1280 - 300) / 2, y0 = (1024 - 260) / 2;
  h->MouseDown(x0 + 60, y0 + 60, mbMiddle);
  h->MouseMove(x0 + 70, y0 + 65);
  h->MouseUp(x0 + 70, y0 + 65, mbMiddle);
  Run();
  EXPECT_EQ(form->Left, x0 + 10);
  EXPECT_EQ(form->Top, y0 + 5);
  h->MouseDown(form->Left + 280, form->Top + 100, mbRight);
  h->MouseMove(form->Left + 270, form->Top + 100);
  h->MouseUp(form->Left + 270, form->Top + 100, mbRight);
  Run();
  EXPECT_EQ(form->Left, x0);
  EXPECT_EQ(gadget::MaskName, "B");  // only right presses on the dial switch the mask
  EXPECT_EQ(h->CallsOf("ReleaseCapture").size(), 2u);
  EXPECT_TRUE(h->messages.empty());
}

// ---- Masks -----------------------------------------------------------------------------------

TEST_F(GadgetTest, RightPressesOnTheDialAlternateTheMasks) {
  Start();
  std::vector<std::vector<TRect>> shapes{h->Last().shape};
  for (int i = 0; i < 3; ++i) {
    Press(i == 1 ? form->Image7 : form->Image2, mbRight);
    shapes.push_back(h->Last().shape);
  }
  EXPECT_EQ(gadget::MaskName, "C");
  EXPECT_EQ(gadget::AltMaskState, 0);
  EXPECT_NE(shapes[1], shapes[0]);  // C
  EXPECT_EQ(shapes[2], shapes[0]);  // B
  EXPECT_EQ(shapes[3], shapes[1]);  // C
  EXPECT_EQ(form->Left, X0);
}

TEST_F(GadgetTest, MasksOfDifferentSizesResizeTheWindowInPlace) {
  auto b = SolidBitmap(200, 150, 0);
  auto c = SolidBitmap(120, 90, 0x00FF00);
  WriteMantle(dir_ / "Mantle.dll", {{"B", b.get()}, {"C", c.get()}});
  Start(false, true);
  // Right presses on the dial where both masks cover it.
  auto press = [&] {
    h->MouseDown(form->Left + 20, form->Top + 20, mbRight);
    h->MouseUp(form->Left + 20, form->Top + 20, mbRight);
    Run();
  };
  EXPECT_EQ(h->Last().bounds, (TRect{540, 437, 740, 587}));
  press();
  EXPECT_EQ(h->Last().bounds, (TRect{540, 437, 660, 527}));
  // Height first, then width.
  auto sets = h->CallsOf("SetBounds");
  EXPECT_EQ(sets[sets.size() - 2], "SetBounds 540 437 200 90");
  EXPECT_EQ(sets.back(), "SetBounds 540 437 120 90");
  press();
  EXPECT_EQ(h->Last().bounds, (TRect{540, 437, 740, 587}));
}

TEST_F(GadgetTest, AMissingMaskIsReportedAndTheSameMaskIsTriedAgain) {
  auto b = SolidBitmap(200, 150, 0);
  WriteMantle(dir_ / "Mantle.dll", {{"B", b.get()}});
  Start(false, true);
  std::vector<TRect> outline = h->Last().shape;
  Press(form->Image2, mbRight);
  EXPECT_EQ(h->messages, (std::vector<std::string>{"Resource C not found"}));
  EXPECT_EQ(gadget::MaskName, "C");
  EXPECT_EQ(gadget::AltMaskState, 1);
  EXPECT_EQ(h->Last().shape, outline);
  Press(form->Image2, mbRight);
  EXPECT_EQ(h->messages.size(), 2u);
  EXPECT_EQ(gadget::AltMaskState, 1);
}

TEST_F(GadgetTest, StayOnTopTwiceRestoresTheOutlineEachTime) {
  Start();
  std::vector<TRect> outline = h->Last().shape;
  ClickOn(form->BitBtn7);
  EXPECT_EQ(gadget::OnTopState, 1);
  EXPECT_TRUE(h->Last().stayOnTop);
  EXPECT_EQ(h->Last().shape, outline);
  EXPECT_TRUE(form->BitBtn7->Enabled());
  ClickOn(form->BitBtn7);
  EXPECT_EQ(gadget::OnTopState, 0);
  EXPECT_FALSE(h->Last().stayOnTop);
  EXPECT_EQ(h->Last().shape, outline);
  auto shapes = h->CallsOf("SetShape");
  ASSERT_EQ(shapes.size(), 5u);  // start, then "none" and the outline again after each switch
  EXPECT_EQ(shapes[1], "SetShape none");
  EXPECT_EQ(shapes[2], shapes[0]);
}

TEST_F(GadgetTest, StayOnTopWithoutMantleLeavesTheWindowRectangular) {
  Start(false, true);
  h->messages.clear();
  ClickOn(form->BitBtn7);
  EXPECT_EQ(h->messages, (std::vector<std::string>{"Resource B not found"}));
  EXPECT_FALSE(h->Last().shaped);
  EXPECT_TRUE(form->BitBtn7->Enabled());
}

// ---- Pointer pictures ------------------------------------------------------------------------

TEST_F(GadgetTest, RightReleasesAlternateTheStylesOfTheCurrentSide) {
  Start();
  std::vector<std::string> shown;
  for (TBitBtn* b : {form->BitBtn1, form->BitBtn6, form->BitBtn5, form->BitBtn8}) {
    ClickOn(b, mbRight);
    shown.push_back(gadget::PointerName);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"PcT", "PT", "PcT", "PT"}));
  EXPECT_EQ(gadget::PickSource, "");
  EXPECT_EQ(Picture()->Width(), 249);  // a pointer picture, no longer the 251-pixel dial
  EXPECT_TRUE(h->launches.empty());    // right releases never click
  EXPECT_FALSE(Application().Terminated());
}

TEST_F(GadgetTest, TheStyleSwitchesOnARightReleaseOverAButtonWhereverThePressWas) {
  Start();
  const TPoint dial{form->Left + 60, form->Top + 60};
  // Pressed on a button, released over the dial: no button was released on, nothing switches.
  h->MouseDown(Centre(form->BitBtn1).X, Centre(form->BitBtn1).Y, mbRight);
  h->MouseUp(dial.X, dial.Y, mbRight);
  Run();
  EXPECT_EQ(gadget::PointerName, "PT");
  // Pressed on the dial (which swaps the mask), released over a button: the style switches.
  h->MouseDown(dial.X, dial.Y, mbRight);
  h->MouseUp(Centre(form->BitBtn3).X, Centre(form->BitBtn3).Y, mbRight);
  Run();
  EXPECT_EQ(gadget::MaskName, "C");
  EXPECT_EQ(gadget::PointerName, "PcT");
  // A left press still holds the mouse for its button: released elsewhere, it clicks nothing
  // and the button's mouse-up handler hears it.
  h->MouseDown(Centre(form->BitBtn2).X, Centre(form->BitBtn2).Y, mbLeft);
  h->MouseUp(dial.X, dial.Y, mbLeft);
  Run();
  EXPECT_EQ(form->Left, X0);
  EXPECT_EQ(gadget::PointerName, "PcT");
}

TEST_F(GadgetTest, DoubleClicksOnEdgeAreasShowThePictureOfThatSide) {
  Start();
  const std::pair<TImage*, const char*> table[] = {
      {form->Image5, "PT"}, {form->Image6, "PL"}, {form->Image7, "PR"}, {form->Image8, "PB"}};
  for (auto [edge, name] : table) {
    h->Wait(1000);
    h->DoubleClick(form->Left + edge->Left + 5, form->Top + edge->Top + 5);
    Run();
    EXPECT_EQ(gadget::PointerName, name);
    EXPECT_EQ(PictureMismatches(h->Last(), artgen::Pointer(name)), 0) << name;
    ClickOn(form->BitBtn4, mbRight);
    EXPECT_EQ(gadget::PointerName, std::string("Pc") + (name + 1));
  }
  // While "PcL" is shown, a double-click on the left edge area shows "PL".
  h->Wait(1000);
  h->DoubleClick(form->Left + 5, form->Top + 120);
  Run();
  EXPECT_EQ(gadget::PointerName, "PL");
  EXPECT_EQ(form->Left, X0);  // the second press's drag did not move the window
}

TEST_F(GadgetTest, AMissingVanesIsReportedAndThePictureKept) {
  Start(true, false);
  ClickOn(form->BitBtn2, mbRight);
  EXPECT_EQ(h->messages, (std::vector<std::string>{"Resource PcT not found"}));
  EXPECT_EQ(gadget::PointerName, "PcT");
  EXPECT_EQ(Picture()->Width(), 251);
  // The pick was emptied, so a double-click selects by its edge area.
  EXPECT_EQ(gadget::PickSource, "");
  h->DoubleClick(form->Left + 5, form->Top + 120);
  Run();
  EXPECT_EQ(gadget::PointerName, "PL");
  EXPECT_EQ(h->messages.back(), "Resource PL not found");
}

TEST_F(GadgetTest, DigitsOnlyKeepsTheDigitsInOrder) {
  EXPECT_EQ(gadget::DigitsOnly("BitBtn 1"), "1");
  EXPECT_EQ(gadget::DigitsOnly("Image8"), "8");
  EXPECT_EQ(gadget::DigitsOnly("a1b2c3"), "123");
  EXPECT_EQ(gadget::DigitsOnly("Form"), "");
}

// ---- Rulers and quitting ---------------------------------------------------------------------

TEST_F(GadgetTest, RulersPreferThe1024ProgramWhenItsFileExists) {
  Start();
  ClickOn(form->BitBtn5);
  std::ofstream(dir_ / "Plank1024.exe") << "x";
  std::ofstream(dir_ / "Plank800.exe") << "x";
  ClickOn(form->BitBtn5);
  ClickOn(form->BitBtn5);
  fs::create_directory(dir_ / "Spire1024.exe");
  ClickOn(form->BitBtn8);
  std::ofstream(dir_ / "Spire1024.exe" / "inside") << "x";
  EXPECT_EQ(h->launches, (std::vector<std::string>{"Plank800.exe", "Plank1024.exe",
                                                   "Plank1024.exe", "Spire800.exe"}));
  EXPECT_TRUE(form->BitBtn5->Enabled());
  EXPECT_TRUE(form->BitBtn8->Enabled());
  EXPECT_EQ(form->ActiveControl(), nullptr);
}

TEST_F(GadgetTest, QuitClosesTheWindowAndEndsTheLoop) {
  Start();
  ClickOn(form->BitBtn6);
  EXPECT_TRUE(Application().Terminated());
  EXPECT_FALSE(h->Last().visible);
}

// ---- Outline from a mask ---------------------------------------------------------------------

// A 24-bit bitmap from rows of colours (0x00BBGGRR).
std::unique_ptr<TBitmap> MaskOf(const std::vector<std::vector<TColor>>& rows) {
  auto b = SolidBitmap(rows.empty() ? 0 : int(rows[0].size()), int(rows.size()), 0);
  for (std::size_t y = 0; y < rows.size(); ++y)
    for (std::size_t x = 0; x < rows[y].size(); ++x) b->Canvas().SetPixels(int(x), int(y), rows[y][x]);
  return b;
}

std::vector<TRect> RectsFromMask(TBitmap& mask) {
  UniqueRegion region(gadget::RegionFromMask(mask));
  return RegionRects(region.get());
}

// The outline as the per-run subtraction builds it: the full rectangle less each white run.
UniqueRegion SubtractWhiteRuns(TBitmap& mask) {
  const int w = mask.Width(), h = mask.Height();
  UniqueRegion r(CreateRectRgn(0, 0, w, h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w;) {
      if (mask.Canvas().Pixels(x, y) != 0xFFFFFF) {
        ++x;
        continue;
      }
      int start = x;
      while (x < w && mask.Canvas().Pixels(x, y) == 0xFFFFFF) ++x;
      UniqueRegion run(CreateRectRgn(start, y, x, y + 1));
      CombineRgn(r.get(), r.get(), run.get(), RGN_DIFF);
    }
  return r;
}

constexpr TColor K = 0x000000, W = 0xFFFFFF, NearWhite = 0xFFFFFE;

TEST(RegionFromMask, GivesTheExactRectanglesOfTheNonWhitePixels) {
  EXPECT_EQ(RectsFromMask(*MaskOf({{K, K, K, K}, {K, K, K, K}, {K, 0x123456, K, K}})),
            (std::vector<TRect>{{0, 0, 4, 3}}));
  EXPECT_TRUE(RectsFromMask(*MaskOf({{W, W, W}, {W, W, W}})).empty());
  // A full white row is removed whole; a single white pixel removes exactly that pixel.
  EXPECT_EQ(RectsFromMask(*MaskOf({{K, K, K}, {W, W, W}, {K, W, K}})),
            (std::vector<TRect>{{0, 0, 3, 1}, {0, 2, 1, 3}, {2, 2, 3, 3}}));
  // Near white is inside; a white run reaching the right end is cut to the row's end.
  EXPECT_EQ(RectsFromMask(*MaskOf({{NearWhite, W, W}, {K, K, K}})),
            (std::vector<TRect>{{0, 0, 1, 1}, {0, 1, 3, 2}}));
  // Equal rows that follow each other make one band.
  EXPECT_EQ(RectsFromMask(*MaskOf({{W, K, W}, {W, K, W}, {W, K, K}})),
            (std::vector<TRect>{{1, 0, 2, 2}, {1, 2, 3, 3}}));
  TBitmap empty;
  EXPECT_TRUE(RectsFromMask(empty).empty());
}

TEST(RegionFromMask, EqualsTheFullRectangleLessEachWhiteRun) {
  // A noisy mask and the two masks of the build.
  std::vector<std::vector<TColor>> rows(37, std::vector<TColor>(53));
  std::uint32_t seed = 12345;
  for (auto& row : rows)
    for (TColor& c : row) {
      seed = seed * 1103515245 + 12345;
      c = (seed >> 16) % 3 == 0 ? K : W;
    }
  std::vector<std::unique_ptr<TBitmap>> masks;
  masks.push_back(MaskOf(rows));
  TLibrary mantle((BinDir / "Mantle.dll").string().c_str());
  ASSERT_TRUE(mantle) << LastLibraryError();
  for (const char* name : {"B", "C"}) {
    masks.push_back(std::make_unique<TBitmap>());
    masks.back()->LoadFromPackedDib(LoadResource(mantle.Handle(), name, RT_BITMAP).Bytes);
    EXPECT_EQ(masks.back()->Width(), 251);
    EXPECT_EQ(masks.back()->Height(), 249);
  }
  for (auto& mask : masks) {
    UniqueRegion ours(gadget::RegionFromMask(*mask));
    UniqueRegion reference = SubtractWhiteRuns(*mask);
    EXPECT_TRUE(EqualRgn(ours.get(), reference.get()));
    EXPECT_EQ(RegionRects(ours.get()), RegionRects(reference.get()));
  }
}

}  // namespace
