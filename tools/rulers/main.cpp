// The ruler programs, all four from this one source: the build names the program and gives its
// orientation and length (RULER_NAME, RULER_VERTICAL, RULER_LENGTH). Each run is one ruler; it
// takes no arguments, saves nothing and ends with status 0 when closed.
#include <cstdio>
#include <memory>

#include "toolkit/window/window.h"
#include "toolkit/window/platform.h"
#include "tools/rulers/ruler.h"

int main() {
  std::unique_ptr<tk::TWindowBackend> display;
  try {
    display = tk::OpenPlatformBackend();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", RULER_NAME, e.what());
    return 1;
  }
  tk::Application().Initialize(std::move(display));
  tk::Application().Title = RULER_NAME;
  {
    rulers::TRuler ruler(
        RULER_VERTICAL ? rulers::TOrientation::Vertical : rulers::TOrientation::Horizontal,
        RULER_LENGTH, RULER_NAME);
    tk::Application().SetMainForm(&ruler);
    tk::Application().Run();
  }
  tk::Application().Finalize();
  return 0;
}
