// The window backend of the platform the program is built for: X11 (x11/) or Windows (win32/).
// Programs that show windows link toolkit_platform and open it here.
#pragma once

#include <memory>

#include "toolkit/window/window.h"

namespace tk {

// Connects to the platform's window system; fails with an Exception whose message says in one
// line why there is no display.
std::unique_ptr<TWindowBackend> OpenPlatformBackend();

}  // namespace tk
