// The window system on the headless backend: event routing, focus and exit events, double-clicks,
// the move loop, outline handling of the stacking switch, and the message loop's error report.
#include <gtest/gtest.h>

#include "toolkit/device/bitmap.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/window/headless/headless.h"
#include "toolkit/device/region.h"
#include "toolkit/window/window.h"

using namespace tk;

namespace {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<headless::Backend>(TRect{0, 0, 1000, 800});
    h = backend.get();
    Application().Initialize(std::move(backend));
    form = std::make_unique<TForm>("Form1");
    form->Caption = "Form1";
    form->SetWidth(200);
    form->SetHeight(100);
    image = form->Add(std::make_unique<TImage>("Image1"));
    image->SetBounds(0, 0, 100, 100);
    button = form->Add(std::make_unique<TBitBtn>("BitBtn1"));
    button->SetBounds(50, 50, 15, 13);
    Application().SetMainForm(form.get());
    form->Show();  // centred: (1000 - 200) / 2, (800 - 100) / 2
  }
  void TearDown() override {
    form.reset();
    Application().Finalize();
  }
  void Run() { Application().ProcessMessages(); }

  headless::Backend* h = nullptr;
  std::unique_ptr<TForm> form;
  TImage* image = nullptr;
  TBitBtn* button = nullptr;
  std::vector<std::string> log;
};

TEST_F(WindowTest, ShowsCentredOnTheDesktop) {
  EXPECT_EQ(form->Left, 400);
  EXPECT_EQ(form->Top, 350);
  EXPECT_EQ(h->Last().bounds, (TRect{400, 350, 600, 450}));
  EXPECT_TRUE(h->Last().visible);
  EXPECT_EQ(h->Last().title, "Form1");
  EXPECT_EQ(h->Last().frameWidth, 200);
}

TEST_F(WindowTest, ButtonsLieAboveImagesAndImagesAboveTheForm) {
  image->OnMouseDown = [&](TControl* s, TMouseButton b, TShiftState, int x, int y) {
    log.push_back(s->Name + " " + std::to_string(b) + " " + std::to_string(x) + "," + std::to_string(y));
  };
  button->OnMouseUp = [&](TControl* s, TMouseButton b, TShiftState, int x, int y) {
    log.push_back(s->Name + " up " + std::to_string(b) + " " + std::to_string(x) + "," + std::to_string(y));
  };
  form->OnMouseDown = [&](TControl* s, TMouseButton b, TShiftState shift, int x, int y) {
    log.push_back(s->Name + " " + std::to_string(b) + " " + std::to_string(shift) + " " +
                  std::to_string(x) + "," + std::to_string(y));
  };
  h->Click(400 + 52, 350 + 53, mbRight);         // on the button, inside the image
  h->Click(400 + 10, 350 + 20, mbMiddle);        // on the image only
  h->Click(400 + 150, 350 + 20, mbLeft, ssCtrl); // on the form's own surface
  h->Click(10, 10);                              // on the desktop
  Run();
  EXPECT_EQ(log, (std::vector<std::string>{"BitBtn1 up 1 2,3", "Image1 2 10,20", "Form1 0 4 150,20"}));
  EXPECT_EQ(h->missed, (std::vector<TPoint>{{10, 10}}));
}

TEST_F(WindowTest, ClickGivesTheButtonFocusAndDisablingRaisesExitAtOnce) {
  button->OnClick = [&](TControl*) {
    log.push_back("click");
    EXPECT_EQ(form->ActiveControl(), button);
    button->SetEnabled(false);
    log.push_back("after disable");
  };
  button->OnExit = [&](TControl*) {
    log.push_back("exit");
    EXPECT_EQ(form->ActiveControl(), nullptr);
    button->SetEnabled(true);
  };
  button->OnMouseUp = [&](TControl*, TMouseButton b, TShiftState, int, int) {
    log.push_back("up " + std::to_string(b));
  };
  h->Click(450, 400);
  Run();
  EXPECT_EQ(log, (std::vector<std::string>{"click", "exit", "after disable", "up 0"}));
  EXPECT_TRUE(button->Enabled());
  EXPECT_EQ(form->ActiveControl(), nullptr);
}

TEST_F(WindowTest, ClickNeedsPressAndReleaseOnTheButtonWithTheLeftButton) {
  int clicks = 0;
  button->OnClick = [&](TControl*) { ++clicks; };
  h->MouseDown(450, 400);
  h->MouseUp(300, 300);  // released elsewhere: no click, but the button keeps the focus
  h->Click(450, 400, mbRight);
  Run();
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(form->ActiveControl(), button);
}

TEST_F(WindowTest, KeysReachTheFormOnlyWhileNoControlHoldsTheFocus) {
  form->OnKeyDown = [&](TControl*, std::uint16_t& key, TShiftState shift) {
    log.push_back("down " + std::to_string(key) + " " + std::to_string(shift));
  };
  form->OnKeyUp = [&](TControl*, std::uint16_t& key, TShiftState shift) {
    log.push_back("up " + std::to_string(key) + " " + std::to_string(shift));
  };
  h->KeyDown(17, ssCtrl);
  h->KeyUp(17, 0);
  h->MouseDown(450, 400);  // the button takes the focus
  h->MouseUp(300, 300);
  h->KeyDown(17, ssCtrl);
  Run();
  EXPECT_EQ(log, (std::vector<std::string>{"down 17 4", "up 17 0"}));
  form->KeyPreview = true;
  h->KeyDown(16, ssShift);
  Run();
  EXPECT_EQ(log.back(), "down 16 1");
}

TEST_F(WindowTest, DoubleClickComesBeforeTheSecondPressAndOnlyWhenQuickAndClose) {
  image->OnDblClick = [&](TControl* s) { log.push_back("dbl " + s->Name); };
  image->OnMouseDown = [&](TControl*, TMouseButton, TShiftState, int, int) { log.push_back("down"); };
  h->DoubleClick(410, 360);
  Run();
  EXPECT_EQ(log, (std::vector<std::string>{"down", "dbl Image1", "down"}));
  log.clear();
  h->Wait(1000);
  h->Click(410, 360);
  h->Wait(600);  // too slow
  h->Click(410, 360);
  h->Click(420, 360);  // too far
  h->Click(420, 360, mbRight);
  h->Click(420, 360, mbRight);  // right double-clicks raise no double-click event
  h->Click(420, 360);
  h->Click(420, 360);  // a double-click
  h->Click(420, 360);  // a third press is a plain press again
  Run();
  EXPECT_EQ(std::count(log.begin(), log.end(), "dbl Image1"), 1);
  EXPECT_EQ(log[log.size() - 3], "dbl Image1");
}

TEST_F(WindowTest, MoveCommandFollowsThePointerUntilTheButtonIsUp) {
  form->OnMouseDown = [&](TControl*, TMouseButton, TShiftState, int, int) {
    ReleaseCapture();
    SendMessage(*form, WM_SYSCOMMAND, 0xF012, 0);
    log.push_back("returned at " + std::to_string(form->Left) + "," + std::to_string(form->Top));
  };
  h->MouseDown(550, 360);
  h->MouseMove(560, 370);
  h->MouseMove(600, 300);
  h->MouseUp(500, 500);
  h->KeyDown(17, ssCtrl);
  Run();
  EXPECT_EQ(log, (std::vector<std::string>{"returned at 350,490"}));
  EXPECT_EQ(h->Last().bounds, (TRect{350, 490, 550, 590}));
  // Other commands do nothing.
  SendMessage(*form, WM_SYSCOMMAND, 0xF010, 0);
  SendMessage(*form, 0x0112 + 1, 0xF012, 0);
  EXPECT_EQ(h->CallsOf("MoveLoop").size(), 1u);
}

TEST_F(WindowTest, StayOnTopSwitchLeavesTheWindowWithoutOutline) {
  std::vector<TRect> none;
  form->SetStayOnTop(true);
  EXPECT_TRUE(h->Last().stayOnTop);
  EXPECT_FALSE(h->Last().shaped);
  form->SetStayOnTop(true);  // no change, no call
  form->SetStayOnTop(false);
  EXPECT_EQ(h->CallsOf("SetStayOnTop"), (std::vector<std::string>{"SetStayOnTop 1", "SetStayOnTop 0"}));
  EXPECT_EQ(h->CallsOf("SetShape"), (std::vector<std::string>{"SetShape none", "SetShape none"}));
}

TEST_F(WindowTest, EscapedExceptionsAreShownAndTheLoopGoesOn) {
  image->OnMouseDown = [&](TControl*, TMouseButton b, TShiftState, int, int) {
    if (b == mbRight) throw EResNotFound("C");
    if (b == mbMiddle) throw EAbort();
    log.push_back("still running");
  };
  h->Click(410, 360, mbRight);
  h->Click(410, 360, mbMiddle);
  h->Click(410, 360, mbLeft);
  Run();
  EXPECT_EQ(h->messages, (std::vector<std::string>{"Resource C not found"}));
  EXPECT_EQ(h->CallsOf("MessageBox"), (std::vector<std::string>{"MessageBox Project1: Resource C not found"}));
  EXPECT_EQ(log, (std::vector<std::string>{"still running"}));
}

TEST_F(WindowTest, CreateEventFailureIsReportedAndCreationGoesOn) {
  TForm other("Form2");
  other.OnCreate = [](TControl*) { throw EResNotFound("B"); };
  other.DoCreate();
  EXPECT_EQ(h->messages, (std::vector<std::string>{"Resource B not found"}));
}

TEST_F(WindowTest, CloseOfTheMainFormEndsTheLoop) {
  button->OnClick = [&](TControl*) { form->Close(); };
  h->Click(450, 400);
  h->KeyDown(17, ssCtrl);
  Run();
  EXPECT_TRUE(Application().Terminated());
  EXPECT_FALSE(h->Last().visible);
  EXPECT_FALSE(h->Idle());  // the key was never handled
}

TEST_F(WindowTest, ShellAndCursorCallsReachTheBackend) {
  EXPECT_GT(ShellExecuteA(form.get(), "open", "Plank800.exe", nullptr, nullptr, SW_SHOWNORMAL), 32);
  h->shellSucceeds = false;
  EXPECT_LE(ShellExecuteA(form.get(), "open", "Spire800.exe", nullptr, nullptr, SW_SHOWNORMAL), 32);
  EXPECT_EQ(ShellExecuteA(form.get(), "print", "x", nullptr, nullptr, SW_SHOWNORMAL), 31);
  EXPECT_EQ(h->launches, (std::vector<std::string>{"Plank800.exe", "Spire800.exe"}));
  SetCursorPos(-5, 7);
  EXPECT_EQ(h->cursor, (TPoint{-5, 7}));
}

TEST_F(WindowTest, MovesGoUnderThePointerAndWhileAButtonIsHeldToWhatTookThePress) {
  auto logMove = [&](TControl* s, TShiftState shift, int x, int y) {
    log.push_back(s->Name + " " + std::to_string(shift) + " " + std::to_string(x) + "," +
                  std::to_string(y));
  };
  image->OnMouseMove = logMove;
  button->OnMouseMove = logMove;
  form->OnMouseMove = logMove;
  form->OnMouseUp = [&](TControl* s, TMouseButton b, TShiftState, int x, int y) {
    log.push_back(s->Name + " up " + std::to_string(b) + " " + std::to_string(x) + "," +
                  std::to_string(y));
  };
  h->MouseMove(410, 360);
  h->MouseMove(452, 403, ssShift);
  h->MouseMove(550, 370);
  h->MouseMove(10, 10);  // leaving: the form hears where the pointer went
  h->MouseMove(20, 10);  // over no window: nobody hears it
  h->MouseDown(410, 360);
  h->MouseMove(650, 500);  // out of the window, the press still held by the image
  h->MouseUp(650, 500);
  h->MouseMove(650, 500);  // no press held: the form hears that the pointer is outside
  h->MouseDown(550, 370, mbRight);  // the form's own surface hears its own release
  h->MouseMove(560, 380);
  h->MouseUp(560, 380, mbRight);
  Run();
  EXPECT_EQ(log, (std::vector<std::string>{"Image1 0 10,10", "BitBtn1 1 2,3", "Form1 0 150,20",
                                           "Form1 0 -390,-340", "Image1 0 250,150",
                                           "Form1 0 250,150", "Form1 0 160,30",
                                           "Form1 up 1 160,30"}));
  EXPECT_EQ(h->cursor, (TPoint{560, 380}));
}

// ---- Painting and outline ---------------------------------------------------------------------

// A colour reference (0x00BBGGRR) as a presented pixel (0x00RRGGBB).
std::uint32_t Pixel(TColor color) {
  COLORREF c = ColorToRGB(color);
  return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
}

// A 24-bit bitmap filled with one colour.
std::unique_ptr<TBitmap> Filled(int width, int height, TColor color) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetWidth(width);
  b->SetHeight(height);
  b->Canvas().Brush().Color = color;
  b->Canvas().FillRect({0, 0, width, height});
  return b;
}

TEST_F(WindowTest, PictureIsDrawnAtItsOwnSizeCutToTheViewWithItsTransparentColourLeftOut) {
  EXPECT_EQ(h->Last().Pixel(150, 20), Pixel(clBtnFace));
  image->SetBounds(10, 10, 50, 40);
  auto picture = Filled(80, 80, clRed);
  picture->Canvas().SetPixels(5, 5, clBlue);
  picture->Canvas().SetPixels(0, 79, clBlue);  // bottom-left: the transparent colour
  image->Picture().SetGraphic(std::move(picture));
  form->Update();
  const headless::Window& w = h->Last();
  EXPECT_TRUE(image->Picture().Graphic()->Transparent());
  EXPECT_EQ(w.Pixel(10, 10), 0xFF0000u);
  EXPECT_EQ(w.Pixel(59, 49), 0xFF0000u);
  EXPECT_EQ(w.Pixel(60, 20), Pixel(clBtnFace));  // beyond the view's right edge
  EXPECT_EQ(w.Pixel(20, 50), Pixel(clBtnFace));  // below it
  EXPECT_EQ(w.Pixel(9, 20), Pixel(clBtnFace));
  EXPECT_EQ(w.Pixel(15, 15), Pixel(clBtnFace));  // the blue pixel is see-through

  // An opaque view draws every pixel.
  image->Transparent = false;
  auto opaque = Filled(80, 80, clRed);
  opaque->Canvas().SetPixels(5, 5, clBlue);
  image->Picture().SetGraphic(std::move(opaque));
  form->Update();
  EXPECT_EQ(h->Last().Pixel(15, 15), 0x0000FFu);
}

TEST_F(WindowTest, ButtonShowsItsGlyphOverItsEdgeAndTheDisabledGlyphWhileDisabled) {
  // Two glyphs on silver: a blue pixel in the enabled one, a yellow one in the disabled one.
  auto glyph = Filled(32, 16, TColor(0xC0C0C0));
  glyph->Canvas().SetPixels(7, 7, clBlue);
  glyph->Canvas().SetPixels(16 + 7, 7, clYellow);
  button->Glyph().TakeFrom(glyph.get());
  button->NumGlyphs = 2;
  form->Update();
  // The 16 x 16 glyph is centred on the 15 x 13 button at (50, 50): it starts at (50, 49).
  const headless::Window& w = h->Last();
  EXPECT_EQ(w.Pixel(57, 56), 0x0000FFu);
  EXPECT_EQ(w.Pixel(50, 50), Pixel(clBtnHighlight));  // the silver of the glyph is left out
  EXPECT_EQ(w.Pixel(64, 62), Pixel(cl3DDkShadow));
  EXPECT_EQ(w.Pixel(50, 49), Pixel(clBtnFace));       // nothing drawn outside the button

  button->SetEnabled(false);
  form->Update();
  EXPECT_EQ(h->Last().Pixel(57, 56), 0xFFFF00u);
  button->SetEnabled(true);

  // Pressed, the glyph moves by one pixel to the right and down.
  h->MouseDown(400 + 52, 350 + 53);
  Run();
  EXPECT_EQ(h->Last().Pixel(58, 57), 0x0000FFu);
  EXPECT_EQ(h->Last().Pixel(50, 50), Pixel(cl3DDkShadow));
}

TEST_F(WindowTest, OutlineRegionBecomesTheWindowShapeAndClicksOutsideItMiss) {
  HRGN outline = CreateRectRgn(0, 0, 200, 100);
  UniqueRegion hole(CreateRectRgn(100, 0, 200, 50));
  CombineRgn(outline, outline, hole.get(), RGN_DIFF);
  const std::vector<TRect> expected = RegionRects(outline);
  SetWindowRgn(*form, outline, true);
  EXPECT_EQ(form->Region(), outline);
  EXPECT_TRUE(h->Last().shaped);
  EXPECT_EQ(h->Last().shape, expected);
  EXPECT_EQ(expected.size(), 2u);
  form->OnMouseDown = [&](TControl*, TMouseButton, TShiftState, int x, int y) {
    log.push_back(std::to_string(x) + "," + std::to_string(y));
  };
  h->Click(400 + 150, 350 + 10);  // in the hole
  h->Click(400 + 150, 350 + 60);
  Run();
  EXPECT_EQ(log, (std::vector<std::string>{"150,60"}));
  EXPECT_EQ(h->missed, (std::vector<TPoint>{{550, 360}}));
  // A new outline replaces the old one, which the window releases.
  SetWindowRgn(*form, nullptr, true);
  EXPECT_FALSE(h->Last().shaped);
}

}  // namespace
