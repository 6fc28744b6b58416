// The program: makes the GIF picture class known, connects to the X display, creates the gadget
// window and runs the message loop until the window is closed.
#include <cstdio>
#include <memory>

#include "gadget/Unit1.h"
#include "toolkit/window.h"
#include "toolkit/x11/x11.h"

int main() {
  // Module initialisation: the picture machinery knows the GIF picture class before the window
  // reads its stored dial picture.
  gadget::RegisterGifPicture();

  std::unique_ptr<tk::TWindowBackend> display;
  try {
    display = tk::x11::Open();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "protractor: %s\n", e.what());
    return 1;
  }
  tk::Application().Initialize(std::move(display));
  {
    gadget::TForm1 form;
    gadget::Form1 = &form;
    tk::Application().SetMainForm(&form);
    form.DoCreate();
    tk::Application().Run();
    gadget::Form1 = nullptr;
  }
  tk::Application().Finalize();
  return 0;
}
