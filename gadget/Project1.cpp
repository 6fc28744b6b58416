// The program: makes the GIF picture class known, connects to the desktop, creates the gadget
// window and runs the message loop until the window is closed.
#include <cstdio>
#include <memory>

#include "gadget/Unit1.h"
#include "cursor/cursor.h"
#include "gif/gif.h"
#include "toolkit/window/window.h"
#include "toolkit/window/platform.h"

int main() {
  // Module initialisation, before the window exists: the GIF module registers its drawing
  // cursors and makes the picture machinery know the GIF picture class, so that the window can
  // read its stored dial picture; the icon-list module registers its clipboard format.
  gif::TGifModule gifModule;
  cursor::InitializeCursor();

  std::unique_ptr<tk::TWindowBackend> display;
  try {
    display = tk::OpenPlatformBackend();
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
