// The Windows window backend: frameless popup windows with a region outline, drawn by presenting
// whole 32-bit frames with SetDIBitsToDevice.
#pragma once

#include <memory>

#include "toolkit/window/window.h"

namespace tk::win32 {

// The backend of the desktop the program runs on.
std::unique_ptr<TWindowBackend> Open();

}  // namespace tk::win32
