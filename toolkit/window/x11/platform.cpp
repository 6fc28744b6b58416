// The X11 backend is the platform's backend of the Linux build.
#include "toolkit/window/platform.h"
#include "toolkit/window/x11/x11.h"

namespace tk {

std::unique_ptr<TWindowBackend> OpenPlatformBackend() { return x11::Open(); }

}  // namespace tk
