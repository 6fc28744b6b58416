// xwait: waits on an X display for a state the end-to-end test needs, woken by the server's
// events rather than by polling, up to a limit.
//   xwait wm SECONDS                      a window manager of the desktop conventions runs
//   xwait window NAME SECONDS [managed]   a viewable window named NAME exists (managed: and a
//                                         window manager has taken it); prints its id
// Exit status 0 when the state came, 1 when the limit passed first, 2 for bad usage.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

// Windows may vanish between a listing and a question about them: those errors are expected.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

bool WindowProperty(Display* d, Window w, Atom property, Window& out) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool ok = XGetWindowProperty(d, w, property, 0, 1, False, XA_WINDOW, &type, &format, &count,
                               &after, &data) == Success &&
            data && type == XA_WINDOW && format == 32 && count == 1;
  if (ok) out = *reinterpret_cast<Window*>(data);
  if (data) XFree(data);
  return ok;
}

bool WmRuns(Display* d) {
  Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  Window w = 0, self = 0;
  return WindowProperty(d, DefaultRootWindow(d), check, w) && WindowProperty(d, w, check, self) &&
         self == w;
}

bool HasProperty(Display* d, Window w, Atom property) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool ok = XGetWindowProperty(d, w, property, 0, 1, False, AnyPropertyType, &type, &format,
                               &count, &after, &data) == Success &&
            type != None;
  if (data) XFree(data);
  return ok;
}

// Looks for the window below `parent`; every window of that name is watched from then on, so
// that its mapping and its properties wake the wait.
Window Find(Display* d, Window parent, const std::string& name, bool managed,
            std::set<Window>& watched) {
  Window root = 0, up = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d, parent, &root, &up, &children, &count)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    Window w = children[i];
    char* title = nullptr;
    if (XFetchName(d, w, &title) && title) {
      bool same = name == title;
      XFree(title);
      if (same) {
        if (watched.insert(w).second) XSelectInput(d, w, StructureNotifyMask | PropertyChangeMask);
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(d, w, &attributes) && attributes.map_state == IsViewable &&
            (!managed || HasProperty(d, w, XInternAtom(d, "WM_STATE", False))))
          found = w;
      }
    }
    if (!found) found = Find(d, w, name, managed, watched);
  }
  if (children) XFree(children);
  return found;
}

using Clock = std::chrono::steady_clock;

// Calls done() after each batch of events until it gives true (then returns true) or the
// deadline passes (false). Without news for retryMs, calls retry() and goes on waiting.
template <class Done, class Retry>
bool WaitFor(Display* d, Clock::time_point deadline, int retryMs, Done done, Retry retry) {
  for (;;) {
    if (done()) return true;
    // Sleep until the server has news (or a pause is over), then take every waiting event.
    while (XPending(d) == 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd fd{ConnectionNumber(d), POLLIN, 0};
      if (poll(&fd, 1, int(std::min<long long>(left, retryMs))) == 0) {
        retry();
        XFlush(d);
      }
    }
    while (XPending(d) > 0) {
      XEvent ev;
      XNextEvent(d, &ev);
    }
  }
}

// Whether the window manager takes new windows: a window manager that is still starting may
// drop the map requests that reach it early, so a probe window is mapped (again after each
// pause) until the window manager has taken it.
bool WmTakesWindows(Display* d, Clock::time_point deadline) {
  Window probe = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  XStoreName(d, probe, "xwait probe");
  XSelectInput(d, probe, StructureNotifyMask | PropertyChangeMask);
  XMapWindow(d, probe);
  const Atom wmState = XInternAtom(d, "WM_STATE", False);
  bool taken = WaitFor(
      d, deadline, 1000, [&] { return HasProperty(d, probe, wmState); },
      [&] {
        XUnmapWindow(d, probe);
        XMapWindow(d, probe);
      });
  XDestroyWindow(d, probe);
  XSync(d, False);
  return taken;
}

int Usage() {
  std::fprintf(stderr, "usage: xwait wm SECONDS | xwait window NAME SECONDS [managed]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string what = argv[1];
  const bool forWindow = what == "window";
  if (!forWindow && what != "wm") return Usage();
  if (forWindow && argc < 4) return Usage();
  const std::string name = forWindow ? argv[2] : "";
  const double seconds = std::atof(argv[forWindow ? 3 : 2]);
  const bool managed = forWindow && argc > 4 && std::strcmp(argv[4], "managed") == 0;

  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "xwait: cannot open the display\n");
    return 1;
  }
  XSetErrorHandler(IgnoreError);
  // Root properties (the window manager's check) and new, mapped or reparented top-level
  // windows wake the wait.
  XSelectInput(d, DefaultRootWindow(d), PropertyChangeMask | SubstructureNotifyMask);
  XSync(d, False);

  const auto deadline = Clock::now() + std::chrono::milliseconds(long(seconds * 1000));
  bool came = false;
  if (forWindow) {
    std::set<Window> watched;
    Window found = 0;
    auto done = [&] { return (found = Find(d, DefaultRootWindow(d), name, managed, watched)) != 0; };
    came = WaitFor(d, deadline, 1000, done, [] {});
    if (came) std::printf("%lu\n", found);
  } else {
    came = WaitFor(d, deadline, 1000, [&] { return WmRuns(d); }, [] {}) &&
           WmTakesWindows(d, deadline);
  }
  if (!came)
    std::fprintf(stderr, "xwait: %s did not come within %g s\n",
                 forWindow ? ("window \"" + name + "\"").c_str() : "a window manager", seconds);
  XCloseDisplay(d);
  return came ? 0 : 1;
}
