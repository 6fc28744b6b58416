// The X11 window backend: borderless managed windows with a Shape-extension outline, drawn by
// presenting whole 32-bit frames.
#pragma once

#include <memory>
#include <string>

#include "toolkit/window/window.h"

namespace tk::x11 {

// Connects to the display that DISPLAY names; fails with an Exception whose message says in one
// line why there is no display.
std::unique_ptr<TWindowBackend> Open();

// Starts the file when it exists and can be run, otherwise hands the name to the desktop's
// opener (xdg-open). Does not wait; returns whether a process was started.
bool LaunchOrOpen(const std::string& file);

}  // namespace tk::x11
