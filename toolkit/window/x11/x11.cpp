#include "toolkit/window/x11/x11.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include "toolkit/core/exceptions.h"

namespace tk::x11 {

namespace {

// Catches the X errors of the requests made during its life, which may fail for reasons outside
// the program (a window manager's window gone, focus given to a window not yet viewable), and
// restores the error handler it found. Errors of any other request stay fatal, as Xlib makes them.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* d) : d_(d) {
    XSync(d_, False);  // earlier requests report to the handler that was in place for them
    outer_ = error_;
    error_ = 0;
    previous_ = XSetErrorHandler(Record);
  }
  ~ErrorTrap() {
    XSync(d_, False);
    XSetErrorHandler(previous_);
    if (!error_) error_ = outer_;  // a trap around this one sees the errors caught here too
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;
  // The code of the last error so far (0: none); waits for the server's answer to every request.
  int Error() {
    XSync(d_, False);
    return error_;
  }

 private:
  static int Record(Display*, XErrorEvent* e) {
    error_ = e->error_code;
    return 0;
  }
  static inline int error_ = 0;
  Display* d_;
  int outer_ = 0;
  int (*previous_)(Display*, XErrorEvent*) = nullptr;
};

// The desktop conventions' values for a _NET_WM_STATE request and for _NET_WM_MOVERESIZE.
constexpr long NetWmStateRemove = 0;
constexpr long NetWmStateAdd = 1;
constexpr long NetWmMoveResizeMove = 8;
constexpr long NetWmMoveResizeCancel = 11;
constexpr long SourceApplication = 1;  // the request comes from an ordinary application

// How long the move loop waits at most for news from the server before it looks at the pointer
// again: the window manager's move sends no event when the button goes up.
constexpr int MoveLoopWaitMs = 30;

using Clock = std::chrono::steady_clock;

constexpr unsigned AnyButtonMask = Button1Mask | Button2Mask | Button3Mask;

TShiftState ShiftOf(unsigned state) {
  TShiftState s = 0;
  if (state & ShiftMask) s |= ssShift;
  if (state & Mod1Mask) s |= ssAlt;
  if (state & ControlMask) s |= ssCtrl;
  return s;
}

// The modifier bit a key itself stands for, and the key code the program sees.
TShiftState ModifierOf(KeySym sym) {
  switch (sym) {
    case XK_Shift_L: case XK_Shift_R: return ssShift;
    case XK_Control_L: case XK_Control_R: return ssCtrl;
    case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: case XK_Meta_R: return ssAlt;
    default: return 0;
  }
}

std::uint16_t KeyCodeOf(KeySym sym) {
  // The platform's key codes: the modifier keys, Escape, the arrows, and letters and digits as
  // their capital ASCII codes; other keys keep their X key symbol.
  switch (ModifierOf(sym)) {
    case ssShift: return 16;
    case ssCtrl: return 17;
    case ssAlt: return 18;
    default: break;
  }
  switch (sym) {
    case XK_Escape: return VK_ESCAPE;
    case XK_Left: case XK_KP_Left: return VK_LEFT;
    case XK_Up: case XK_KP_Up: return VK_UP;
    case XK_Right: case XK_KP_Right: return VK_RIGHT;
    case XK_Down: case XK_KP_Down: return VK_DOWN;
    default: break;
  }
  if (sym >= XK_a && sym <= XK_z) return static_cast<std::uint16_t>(sym - XK_a + 'A');
  return static_cast<std::uint16_t>(sym & 0xFFFF);
}

class Backend;

class NativeWindow : public TNativeWindow {
 public:
  NativeWindow(Backend& backend, TForm& form, ::Window window, const TRect& bounds)
      : b_(backend), form_(form), w_(window), bounds_(bounds) {}
  ~NativeWindow() override;

  void SetBounds(const TRect& bounds) override;
  void SetShape(const std::vector<TRect>* rectangles) override;
  void SetStayOnTop(bool value) override;
  void Show() override;
  void Hide() override;
  void Present(const std::uint32_t* pixels, int width, int height) override;
  TPoint MoveLoop() override;

  // One X event of this window.
  void Handle(XEvent& ev);
  ::Window Id() const { return w_; }
  bool Mapped() const { return mapped_; }

 private:
  Display* D() const;
  TPoint ScreenPosition() const;
  void SetSizeHints();
  void Raise();
  // Whether a window above this one that does not stay on top overlaps it.
  bool CoveredByNormalWindow();
  void Deliver(TInputEvent e) { form_.HandleInput(e); }
  void FocusSelf();

  Backend& b_;
  TForm& form_;
  ::Window w_;
  TRect bounds_;
  bool mapped_ = false;
  bool onTop_ = false;
  XImage* image_ = nullptr;
  std::vector<std::uint32_t> pixels_;
  // Our own last move: window-manager reports of other positions are ignored until it shows,
  // so that a stale report cannot undo a newer move.
  bool movePending_ = false;
  Clock::time_point moveTime_;
};

class Backend : public TWindowBackend {
 public:
  explicit Backend(Display* display) : d_(display) {
    screen_ = DefaultScreen(d_);
    root_ = RootWindow(d_, screen_);
    visual_ = DefaultVisual(d_, screen_);
    depth_ = DefaultDepth(d_, screen_);
    int eventBase = 0, errorBase = 0;
    shape_ = XShapeQueryExtension(d_, &eventBase, &errorBase);
    Bool detectable = False;
    XkbSetDetectableAutoRepeat(d_, True, &detectable);
    const char* names[] = {"WM_PROTOCOLS",        "WM_DELETE_WINDOW",
                           "_MOTIF_WM_HINTS",     "_NET_WM_STATE",
                           "_NET_WM_STATE_ABOVE", "_NET_WM_MOVERESIZE",
                           "_NET_SUPPORTED",      "_NET_SUPPORTING_WM_CHECK",
                           "_NET_WM_NAME",        "UTF8_STRING",
                           "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG",
                           "_NET_WM_STATE_MODAL"};
    static_assert(std::size(names) == AtomCount);
    XInternAtoms(d_, const_cast<char**>(names), std::size(names), False, atoms_);
    // A window manager that starts, ends or changes what it supports is seen on the root
    // window's properties; its capabilities are read now and again after each such change.
    XSelectInput(d_, root_, PropertyChangeMask);
    ReadWmCapabilities();
    gc_ = XCreateGC(d_, root_, 0, nullptr);
    font_ = XLoadQueryFont(d_, "fixed");
    if (font_) XSetFont(d_, gc_, font_->fid);
  }
  ~Backend() override {
    if (font_) XFreeFont(d_, font_);
    XFreeGC(d_, gc_);
    XCloseDisplay(d_);
  }

  enum AtomIndex {
    WM_PROTOCOLS, WM_DELETE_WINDOW, MOTIF_WM_HINTS, NET_WM_STATE, NET_WM_STATE_ABOVE,
    NET_WM_MOVERESIZE, NET_SUPPORTED, NET_SUPPORTING_WM_CHECK, NET_WM_NAME, UTF8_STRING,
    NET_WM_WINDOW_TYPE, NET_WM_WINDOW_TYPE_DIALOG, NET_WM_STATE_MODAL, AtomCount
  };
  Atom A(AtomIndex i) const { return atoms_[i]; }
  Display* D() const { return d_; }
  ::Window Root() const { return root_; }
  Visual* V() const { return visual_; }
  int Depth() const { return depth_; }
  GC Gc() const { return gc_; }
  bool HasShape() const { return shape_; }

  // What the window manager of the desktop conventions offers, as last read.
  bool WmRuns() const { return wm_.runs; }
  bool WmMoves() const { return wm_.moves; }
  // Whether the window's desktop state says it stays on top.
  bool StaysOnTop(::Window w) { return ListsAtom(w, A(NET_WM_STATE), A(NET_WM_STATE_ABOVE)); }

  // Sends a desktop-convention request about a window to the window manager.
  void SendToRoot(::Window w, Atom type, long l0, long l1, long l2, long l3, long l4) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = type;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = l0;
    ev.xclient.data.l[1] = l1;
    ev.xclient.data.l[2] = l2;
    ev.xclient.data.l[3] = l3;
    ev.xclient.data.l[4] = l4;
    XSendEvent(d_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    XFlush(d_);
  }

  // Handles one event: for a window of ours, its handler runs; a change of the root window's
  // window-manager properties renews the capabilities; others are dropped.
  void HandleEvent(XEvent& ev) {
    if (ev.xany.window == root_) {
      if (ev.type == PropertyNotify && (ev.xproperty.atom == A(NET_SUPPORTING_WM_CHECK) ||
                                        ev.xproperty.atom == A(NET_SUPPORTED)))
        ReadWmCapabilities();
      return;
    }
    auto it = windows_.find(ev.xany.window);
    if (it != windows_.end()) it->second->Handle(ev);
  }
  // The window a message box belongs to: a shown window of ours, or none.
  ::Window OwnerWindow() const {
    for (const auto& [id, window] : windows_)
      if (window->Mapped()) return id;
    return None;
  }
  void Register(::Window w, NativeWindow* nw) { windows_[w] = nw; }
  void Unregister(::Window w) { windows_.erase(w); }

  std::unique_ptr<TNativeWindow> CreateWindow(TForm& form, const std::string& title,
                                              const TRect& bounds) override;
  TRect DesktopRect() override {
    return {0, 0, DisplayWidth(d_, screen_), DisplayHeight(d_, screen_)};
  }
  void SetCursorPos(int x, int y) override {
    XWarpPointer(d_, None, root_, 0, 0, 0, 0, x, y);
    XFlush(d_);
  }
  void ReleaseCapture() override {
    XUngrabPointer(d_, CurrentTime);
    XFlush(d_);
  }
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  bool ShellOpen(const std::string& file) override { return LaunchOrOpen(file); }
  bool Dispatch(bool wait) override {
    if (!wait && XPending(d_) == 0) return false;
    XEvent ev;
    XNextEvent(d_, &ev);
    HandleEvent(ev);
    return true;
  }

  void SetTitle(::Window w, const std::string& title) {
    XStoreName(d_, w, title.c_str());
    XChangeProperty(d_, w, A(NET_WM_NAME), A(UTF8_STRING), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), int(title.size()));
    XClassHint hint{const_cast<char*>("protractor"), const_cast<char*>("Protractor")};
    XSetClassHint(d_, w, &hint);
    Atom protocols[] = {A(WM_DELETE_WINDOW)};
    XSetWMProtocols(d_, w, protocols, 1);
    XWMHints wm{};
    wm.flags = InputHint | StateHint;
    wm.input = True;
    wm.initial_state = NormalState;
    XSetWMHints(d_, w, &wm);
  }

 private:
  // Whether the window's property, a list of atoms, holds the atom. The window may be another
  // program's, gone since it was listed: that error is caught and gives false.
  bool ListsAtom(::Window w, Atom property, Atom atom) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    ErrorTrap trap(d_);
    if (XGetWindowProperty(d_, w, property, 0, 4096, False, XA_ATOM, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
      if (type == XA_ATOM && format == 32) {
        const Atom* list = reinterpret_cast<const Atom*>(data);
        found = std::find(list, list + count, atom) != list + count;
      }
      XFree(data);
    }
    return found;
  }
  // The window a window property names. The window asked may be gone (a window manager's check
  // window after it ended): that error is caught and gives false.
  bool WindowProperty(::Window w, Atom property, ::Window& out) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    ErrorTrap trap(d_);
    int rc = XGetWindowProperty(d_, w, property, 0, 1, False, XA_WINDOW, &type, &format, &count,
                                &after, &data);
    bool ok = rc == Success && trap.Error() == 0 && data && type == XA_WINDOW && format == 32 &&
              count == 1;
    if (ok) out = *reinterpret_cast<const ::Window*>(data);
    if (data) XFree(data);
    return ok;
  }

  // Reads whether a window manager of the desktop conventions runs (its check window names
  // itself) and whether it moves windows on request.
  void ReadWmCapabilities() {
    wm_ = {};
    ::Window check = 0, self = 0;
    wm_.runs = WindowProperty(root_, A(NET_SUPPORTING_WM_CHECK), check) &&
               WindowProperty(check, A(NET_SUPPORTING_WM_CHECK), self) && self == check;
    wm_.moves = wm_.runs && ListsAtom(root_, A(NET_SUPPORTED), A(NET_WM_MOVERESIZE));
  }

  struct WmCapabilities {
    bool runs = false;   // a window manager of the desktop conventions runs
    bool moves = false;  // it moves a window on request (_NET_WM_MOVERESIZE)
  };

  Display* d_;
  int screen_ = 0;
  ::Window root_ = 0;
  Visual* visual_ = nullptr;
  int depth_ = 24;
  bool shape_ = false;
  Atom atoms_[AtomCount] = {};
  GC gc_ = nullptr;
  XFontStruct* font_ = nullptr;
  WmCapabilities wm_;
  std::map<::Window, NativeWindow*> windows_;
};

// ---- Native windows -------------------------------------------------------------------------

std::unique_ptr<TNativeWindow> Backend::CreateWindow(TForm& form, const std::string& title,
                                                     const TRect& bounds) {
  XSetWindowAttributes attrs{};
  attrs.background_pixel = BlackPixel(d_, screen_);
  attrs.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                     LeaveWindowMask | KeyPressMask | KeyReleaseMask | StructureNotifyMask |
                     VisibilityChangeMask;
  ::Window w = XCreateWindow(d_, root_, bounds.Left, bounds.Top,
                             unsigned(std::max(1, bounds.Width())),
                             unsigned(std::max(1, bounds.Height())), 0, depth_, InputOutput,
                             visual_, CWBackPixel | CWEventMask, &attrs);
  SetTitle(w, title);
  // No frame: the window manager is asked for no decorations (flags: decorations; value 0).
  long motif[5] = {2, 0, 0, 0, 0};
  XChangeProperty(d_, w, A(MOTIF_WM_HINTS), A(MOTIF_WM_HINTS), 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(motif), 5);
  auto native = std::make_unique<NativeWindow>(*this, form, w, bounds);
  Register(w, native.get());
  return native;
}

Display* NativeWindow::D() const { return b_.D(); }

NativeWindow::~NativeWindow() {
  b_.Unregister(w_);
  if (image_) {
    image_->data = nullptr;  // the pixels belong to pixels_
    XDestroyImage(image_);
  }
  XDestroyWindow(D(), w_);
  XFlush(D());
}

void NativeWindow::SetSizeHints() {
  XSizeHints hints{};
  // The position is the program's own, and it is the window's own corner (no frame to allow for).
  hints.flags = USPosition | PPosition | USSize | PSize | PWinGravity;
  hints.x = bounds_.Left;
  hints.y = bounds_.Top;
  hints.width = std::max(1, bounds_.Width());
  hints.height = std::max(1, bounds_.Height());
  hints.win_gravity = StaticGravity;
  XSetWMNormalHints(D(), w_, &hints);
}

void NativeWindow::SetBounds(const TRect& r) {
  bounds_ = r;
  movePending_ = true;
  moveTime_ = Clock::now();
  if (!mapped_) SetSizeHints();
  XMoveResizeWindow(D(), w_, r.Left, r.Top, unsigned(std::max(1, r.Width())),
                    unsigned(std::max(1, r.Height())));
  XFlush(D());
}

void NativeWindow::SetShape(const std::vector<TRect>* rects) {
  if (!b_.HasShape()) return;
  if (!rects) {
    XShapeCombineMask(D(), w_, ShapeBounding, 0, 0, None, ShapeSet);
    XShapeCombineMask(D(), w_, ShapeInput, 0, 0, None, ShapeSet);
  } else {
    std::vector<XRectangle> xr;
    xr.reserve(rects->size());
    for (const TRect& r : *rects) {
      if (r.Right <= r.Left || r.Bottom <= r.Top) continue;
      xr.push_back({short(r.Left), short(r.Top), static_cast<unsigned short>(r.Width()),
                    static_cast<unsigned short>(r.Height())});
    }
    // The input shape follows the outline, so clicks on the cut-away parts reach what lies below.
    for (int kind : {ShapeBounding, ShapeInput})
      XShapeCombineRectangles(D(), w_, kind, 0, 0, xr.data(), int(xr.size()), ShapeSet,
                              Unsorted);
  }
  XFlush(D());
}

void NativeWindow::SetStayOnTop(bool value) {
  onTop_ = value;
  if (mapped_ && b_.WmRuns()) {
    b_.SendToRoot(w_, b_.A(Backend::NET_WM_STATE), value ? NetWmStateAdd : NetWmStateRemove,
                  long(b_.A(Backend::NET_WM_STATE_ABOVE)), 0, SourceApplication, 0);
  } else {
    // Before mapping, the state is a property that the window manager reads.
    if (value) {
      Atom above = b_.A(Backend::NET_WM_STATE_ABOVE);
      XChangeProperty(D(), w_, b_.A(Backend::NET_WM_STATE), XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(&above), 1);
    } else {
      XDeleteProperty(D(), w_, b_.A(Backend::NET_WM_STATE));
    }
    if (value && mapped_) Raise();
  }
  XFlush(D());
}

bool NativeWindow::CoveredByNormalWindow() {
  ::Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(D(), b_.Root(), &root, &parent, &children, &count)) return false;
  // The children of the root, bottom first: those after this window lie above it.
  bool above = false, covered = false;
  for (unsigned i = 0; i < count && !covered; ++i) {
    if (children[i] == w_) {
      above = true;
      continue;
    }
    XWindowAttributes a{};
    if (!above) continue;
    {
      ErrorTrap trap(D());  // another program's window may be gone since the listing
      if (!XGetWindowAttributes(D(), children[i], &a) || trap.Error() || a.map_state != IsViewable)
        continue;
    }
    const bool overlaps = a.x < bounds_.Right && bounds_.Left < a.x + a.width &&
                          a.y < bounds_.Bottom && bounds_.Top < a.y + a.height;
    covered = overlaps && !b_.StaysOnTop(children[i]);
  }
  if (children) XFree(children);
  return covered;
}

void NativeWindow::Raise() {
  XRaiseWindow(D(), w_);
  XFlush(D());
}

void NativeWindow::Show() {
  SetSizeHints();
  XMapRaised(D(), w_);
  XMoveWindow(D(), w_, bounds_.Left, bounds_.Top);
  XFlush(D());
}

void NativeWindow::Hide() {
  XUnmapWindow(D(), w_);
  mapped_ = false;
  XFlush(D());
}

void NativeWindow::Present(const std::uint32_t* pixels, int width, int height) {
  if (width <= 0 || height <= 0) return;
  bool sameSize = image_ && image_->width == width && image_->height == height;
  if (!sameSize) {
    if (image_) {
      image_->data = nullptr;
      XDestroyImage(image_);
      image_ = nullptr;
    }
    pixels_.assign(std::size_t(width) * height, 0);
    image_ = XCreateImage(D(), b_.V(), unsigned(b_.Depth()), ZPixmap, 0,
                          reinterpret_cast<char*>(pixels_.data()), unsigned(width),
                          unsigned(height), 32, 0);
    if (!image_) return;
    if (image_->bits_per_pixel != 32 ||
        std::size_t(image_->bytes_per_line) * height > pixels_.size() * 4) {
      // An unusual visual: the image gets memory of its own, filled pixel by pixel below.
      pixels_.assign((std::size_t(image_->bytes_per_line) * height + 3) / 4, 0);
      image_->data = reinterpret_cast<char*>(pixels_.data());
    }
  }
  const Visual* v = b_.V();
  bool direct = image_->bits_per_pixel == 32 && image_->byte_order == LSBFirst &&
                v->red_mask == 0xFF0000 && v->green_mask == 0xFF00 && v->blue_mask == 0xFF;
  if (direct) {
    std::memcpy(pixels_.data(), pixels, std::size_t(width) * height * 4);
  } else {
    auto scale = [](std::uint32_t c, unsigned long mask) -> unsigned long {
      if (!mask) return 0;
      int shift = __builtin_ctzl(mask);
      unsigned long max = mask >> shift;
      return ((c * max + 127) / 255) << shift;
    };
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        std::uint32_t p = pixels[std::size_t(y) * width + x];
        XPutPixel(image_, x, y,
                  scale((p >> 16) & 0xFF, v->red_mask) | scale((p >> 8) & 0xFF, v->green_mask) |
                      scale(p & 0xFF, v->blue_mask));
      }
  }
  XPutImage(D(), w_, b_.Gc(), image_, 0, 0, 0, 0, unsigned(width), unsigned(height));
  XFlush(D());
}

TPoint NativeWindow::ScreenPosition() const {
  int x = 0, y = 0;
  ::Window child = 0;
  XTranslateCoordinates(D(), w_, b_.Root(), 0, 0, &x, &y, &child);
  return {x, y};
}

TPoint NativeWindow::MoveLoop() {
  ::Window root = 0, child = 0;
  int rx = 0, ry = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  auto buttonsHeld = [&] {
    XQueryPointer(D(), w_, &root, &child, &rx, &ry, &wx, &wy, &mask);
    return (mask & AnyButtonMask) != 0;
  };
  // The press may already be over: then there is nothing to move.
  if (!buttonsHeld()) return {bounds_.Left, bounds_.Top};
  int button = (mask & Button1Mask) ? 1 : (mask & Button3Mask) ? 3 : 2;

  if (b_.WmMoves()) {
    // The window manager moves the window; it reports no end, so the pointer is watched until
    // the buttons are up. The press's own grab is given up first, so that the window manager
    // can take the pointer.
    XUngrabPointer(D(), CurrentTime);
    if (buttonsHeld()) {
      b_.SendToRoot(w_, b_.A(Backend::NET_WM_MOVERESIZE), rx, ry, NetWmMoveResizeMove, button,
                    SourceApplication);
      // Waits on the connection: the window's moves wake the loop, and a pause without news
      // is cut short to look at the buttons again. Events wait in the queue meanwhile, except
      // the window's exposures, which are served.
      while (buttonsHeld()) {
        XEvent ev;
        while (XCheckTypedWindowEvent(D(), w_, Expose, &ev)) Handle(ev);
        pollfd connection{ConnectionNumber(D()), POLLIN, 0};
        poll(&connection, 1, MoveLoopWaitMs);
      }
    }
    // A release that came before the window manager took the pointer would leave it moving
    // the window with no button held: a cancel ends such a move. The window manager handles
    // the release before this request, so a move that ended normally stays where it ended.
    b_.SendToRoot(w_, b_.A(Backend::NET_WM_MOVERESIZE), rx, ry, NetWmMoveResizeCancel, button,
                  SourceApplication);
    XSync(D(), False);
  } else {
    // No window manager: an own pointer grab moves the window until the buttons are up.
    TPoint start = ScreenPosition();
    int startX = rx, startY = ry;
    XGrabPointer(D(), w_, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                 GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    for (;;) {
      XEvent ev;
      XMaskEvent(D(), ButtonPressMask | ButtonReleaseMask | PointerMotionMask | ExposureMask,
                 &ev);
      if (ev.type == Expose) {
        if (ev.xany.window == w_) Handle(ev);
        continue;
      }
      int px = ev.type == MotionNotify ? ev.xmotion.x_root : ev.xbutton.x_root;
      int py = ev.type == MotionNotify ? ev.xmotion.y_root : ev.xbutton.y_root;
      XMoveWindow(D(), w_, start.X + px - startX, start.Y + py - startY);
      if (ev.type == ButtonRelease) {
        unsigned held = ev.xbutton.state & AnyButtonMask;
        unsigned released = ev.xbutton.button == 1   ? Button1Mask
                            : ev.xbutton.button == 2 ? Button2Mask
                            : ev.xbutton.button == 3 ? Button3Mask
                                                     : 0;
        if ((held & ~released) == 0) break;
      }
    }
    XUngrabPointer(D(), CurrentTime);
    XSync(D(), False);
  }
  // The window manager may still place the window after this; its report arrives as a move.
  TPoint at = ScreenPosition();
  bounds_ = {at.X, at.Y, at.X + bounds_.Width(), at.Y + bounds_.Height()};
  movePending_ = false;
  return at;
}

void NativeWindow::FocusSelf() {
  // Focus on a window that is not viewable (unmapped a moment ago) fails: that is no fault.
  ErrorTrap trap(D());
  XSetInputFocus(D(), w_, RevertToParent, CurrentTime);
}

void NativeWindow::Handle(XEvent& ev) {
  TInputEvent e;
  switch (ev.type) {
    case ButtonPress:
    case ButtonRelease: {
      unsigned b = ev.xbutton.button;
      if (b < 1 || b > 3) return;  // wheel steps are not buttons
      if (ev.type == ButtonPress) FocusSelf();
      e.kind = ev.type == ButtonPress ? TInputEvent::Kind::MouseDown : TInputEvent::Kind::MouseUp;
      e.button = b == 1 ? mbLeft : b == 3 ? mbRight : mbMiddle;
      e.shift = ShiftOf(ev.xbutton.state);
      e.pos = {ev.xbutton.x, ev.xbutton.y};
      e.time = std::uint32_t(ev.xbutton.time);
      Deliver(e);
      return;
    }
    case MotionNotify:
    case LeaveNotify: {
      // Leaving is one more move, to where the pointer went (grabs that begin or end are not).
      if (ev.type == LeaveNotify && ev.xcrossing.mode != NotifyNormal) return;
      // Of the moves waiting in a row only the last counts.
      XEvent next;
      while (ev.type == MotionNotify && XEventsQueued(D(), QueuedAlready) > 0) {
        XPeekEvent(D(), &next);
        if (next.type != MotionNotify || next.xany.window != w_) break;
        XNextEvent(D(), &ev);
      }
      const bool motion = ev.type == MotionNotify;
      e.kind = TInputEvent::Kind::MouseMove;
      e.shift = ShiftOf(motion ? ev.xmotion.state : ev.xcrossing.state);
      e.pos = motion ? TPoint{ev.xmotion.x, ev.xmotion.y} : TPoint{ev.xcrossing.x, ev.xcrossing.y};
      Deliver(e);
      return;
    }
    case KeyPress:
    case KeyRelease: {
      KeySym sym = XLookupKeysym(&ev.xkey, 0);
      // The state of an X key event is the one before it; the program wants the keys held after
      // it, so a modifier key adds or removes its own bit.
      TShiftState shift = ShiftOf(ev.xkey.state);
      TShiftState own = ModifierOf(sym);
      shift = ev.type == KeyPress ? TShiftState(shift | own) : TShiftState(shift & ~own);
      e.kind = ev.type == KeyPress ? TInputEvent::Kind::KeyDown : TInputEvent::Kind::KeyUp;
      e.shift = shift;
      e.key = KeyCodeOf(sym);
      Deliver(e);
      return;
    }
    case Expose:
      if (ev.xexpose.count == 0) {
        e.kind = TInputEvent::Kind::Paint;
        Deliver(e);
      }
      return;
    case MapNotify:
      mapped_ = true;
      FocusSelf();
      if (onTop_) SetStayOnTop(true);
      return;
    case UnmapNotify: mapped_ = false; return;
    case VisibilityNotify:
      // Without a window manager, a window that stays on top raises itself when a window that
      // does not stay on top covers it. (Two that both stay on top would otherwise raise
      // themselves over each other for ever.)
      if (onTop_ && ev.xvisibility.state != VisibilityUnobscured && !b_.WmRuns() &&
          CoveredByNormalWindow())
        Raise();
      return;
    case ConfigureNotify: {
      TPoint at = ScreenPosition();
      if (movePending_) {
        if (at.X == bounds_.Left && at.Y == bounds_.Top) {
          movePending_ = false;
        } else if (Clock::now() - moveTime_ < std::chrono::seconds(1)) {
          return;
        }
      }
      if (at.X == bounds_.Left && at.Y == bounds_.Top) return;
      bounds_ = {at.X, at.Y, at.X + bounds_.Width(), at.Y + bounds_.Height()};
      e.kind = TInputEvent::Kind::Moved;
      e.pos = at;
      Deliver(e);
      return;
    }
    case ClientMessage:
      if (ev.xclient.message_type == b_.A(Backend::WM_PROTOCOLS) &&
          Atom(ev.xclient.data.l[0]) == b_.A(Backend::WM_DELETE_WINDOW)) {
        e.kind = TInputEvent::Kind::Close;
        Deliver(e);
      }
      return;
    default: return;
  }
}

// ---- Message box ----------------------------------------------------------------------------

int Backend::MessageBox(const std::string& text, const std::string& caption, unsigned) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (lines.empty()) lines.emplace_back();

  int lineHeight = font_ ? font_->ascent + font_->descent : 13;
  int ascent = font_ ? font_->ascent : 10;
  auto textWidth = [&](const std::string& s) {
    return font_ ? XTextWidth(font_, s.c_str(), int(s.size())) : int(s.size()) * 6;
  };
  int width = 160;
  for (const std::string& l : lines) width = std::max(width, textWidth(l) + 40);
  const int buttonW = 75, buttonH = 23;
  int height = 20 + int(lines.size()) * lineHeight + 20 + buttonH + 12;
  TRect desk = DesktopRect();
  int left = (desk.Width() - width) / 2, top = (desk.Height() - height) / 2;

  XSetWindowAttributes attrs{};
  attrs.background_pixel = 0xC0C0C0 & ((1ul << std::min(depth_, 24)) - 1);
  attrs.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | KeyPressMask |
                     StructureNotifyMask;
  ::Window w = XCreateWindow(d_, root_, left, top, unsigned(width), unsigned(height), 0, depth_,
                             InputOutput, visual_, CWBackPixel | CWEventMask, &attrs);
  SetTitle(w, caption);
  Atom dialog = A(NET_WM_WINDOW_TYPE_DIALOG);
  XChangeProperty(d_, w, A(NET_WM_WINDOW_TYPE), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&dialog), 1);
  // The box belongs to the shown window and is modal to it, so that a window manager keeps it
  // above that window while the window takes no input.
  if (::Window owner = OwnerWindow(); owner != None) {
    XSetTransientForHint(d_, w, owner);
    Atom modal = A(NET_WM_STATE_MODAL);
    XChangeProperty(d_, w, A(NET_WM_STATE), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&modal), 1);
  }
  XSizeHints hints{};
  hints.flags = USPosition | PPosition | PMinSize | PMaxSize;
  hints.x = left;
  hints.y = top;
  hints.min_width = hints.max_width = width;
  hints.min_height = hints.max_height = height;
  XSetWMNormalHints(d_, w, &hints);
  XMapRaised(d_, w);

  const int bx = (width - buttonW) / 2, by = height - buttonH - 12;
  auto paint = [&] {
    XSetForeground(d_, gc_, BlackPixel(d_, screen_));
    for (std::size_t i = 0; i < lines.size(); ++i)
      XDrawString(d_, w, gc_, 20, 20 + int(i) * lineHeight + ascent, lines[i].c_str(),
                  int(lines[i].size()));
    XDrawRectangle(d_, w, gc_, bx, by, buttonW, buttonH);
    XDrawString(d_, w, gc_, bx + (buttonW - textWidth("OK")) / 2,
                by + (buttonH + ascent) / 2 - 1, "OK", 2);
  };
  // A modal loop: only the box takes input; the other windows are only redrawn.
  bool pressedOk = false;
  for (bool done = false; !done;) {
    XEvent ev;
    XNextEvent(d_, &ev);
    if (ev.xany.window != w) {
      if (ev.type == Expose || ev.type == ConfigureNotify || ev.type == MapNotify ||
          ev.type == PropertyNotify)
        HandleEvent(ev);
      continue;
    }
    switch (ev.type) {
      case Expose:
        if (ev.xexpose.count == 0) paint();
        break;
      case MapNotify: {
        ErrorTrap trap(d_);  // the box may be unmapped again already
        XSetInputFocus(d_, w, RevertToParent, CurrentTime);
        break;
      }
      case ButtonPress:
        pressedOk = ev.xbutton.x >= bx && ev.xbutton.x < bx + buttonW && ev.xbutton.y >= by &&
                    ev.xbutton.y < by + buttonH;
        break;
      case ButtonRelease:
        done = pressedOk && ev.xbutton.x >= bx && ev.xbutton.x < bx + buttonW &&
               ev.xbutton.y >= by && ev.xbutton.y < by + buttonH;
        break;
      case KeyPress: {
        KeySym sym = XLookupKeysym(&ev.xkey, 0);
        done = sym == XK_Return || sym == XK_KP_Enter || sym == XK_Escape || sym == XK_space;
        break;
      }
      case ClientMessage:
        done = Atom(ev.xclient.data.l[0]) == A(WM_DELETE_WINDOW);
        break;
      default: break;
    }
  }
  XDestroyWindow(d_, w);
  XFlush(d_);
  return 1;  // OK
}

}  // namespace

std::unique_ptr<TWindowBackend> Open() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) throw Exception("no X display: DISPLAY is not set");
  Display* d = XOpenDisplay(name);
  if (!d) throw Exception(std::string("cannot open the X display \"") + name + "\"");
  return std::make_unique<Backend>(d);
}

}  // namespace tk::x11
