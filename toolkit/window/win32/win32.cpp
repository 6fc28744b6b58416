#include "toolkit/window/win32/win32.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "toolkit/core/exceptions.h"
#include "toolkit/window/platform.h"
#include "toolkit/system/win32/windows_api.h"

namespace tk::win32 {

namespace {

constexpr char kClassName[] = "ProtractorForm";

// The modifier keys held now: while a key message is handled, the state includes that key.
TShiftState ShiftNow() {
  TShiftState s = 0;
  if (::GetKeyState(VK_SHIFT) < 0) s |= ssShift;
  if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
  if (::GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
  return s;
}

bool AnyButtonHeld() {
  return ((::GetAsyncKeyState(VK_LBUTTON) | ::GetAsyncKeyState(VK_RBUTTON) |
           ::GetAsyncKeyState(VK_MBUTTON)) &
          0x8000) != 0;
}

class NativeWindow : public TNativeWindow {
 public:
  NativeWindow(TForm& form, const TRect& bounds) : form_(form), bounds_(bounds) {}
  ~NativeWindow() override {
    if (hwnd_) {
      ::SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
      ::DestroyWindow(hwnd_);
    }
  }
  NativeWindow(const NativeWindow&) = delete;
  NativeWindow& operator=(const NativeWindow&) = delete;

  // The frameless popup window; false when the system refuses it.
  bool Create(const std::string& title) {
    ::CreateWindowExA(0, kClassName, title.c_str(), WS_POPUP | WS_CLIPCHILDREN, bounds_.Left,
                      bounds_.Top, std::max(1, bounds_.Width()), std::max(1, bounds_.Height()),
                      nullptr, nullptr, ::GetModuleHandleA(nullptr), this);
    return hwnd_ != nullptr;
  }
  HWND Hwnd() const { return hwnd_; }

  void SetBounds(const TRect& r) override {
    bounds_ = r;
    ::SetWindowPos(hwnd_, nullptr, r.Left, r.Top, std::max(1, r.Width()), std::max(1, r.Height()),
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void SetShape(const std::vector<TRect>* rects) override {
    if (!rects) {
      ::SetWindowRgn(hwnd_, nullptr, TRUE);
      return;
    }
    std::vector<RECT> list;
    list.reserve(rects->size());
    RECT bound{0, 0, 0, 0};
    for (const TRect& r : *rects) {
      if (r.Right <= r.Left || r.Bottom <= r.Top) continue;
      list.push_back({r.Left, r.Top, r.Right, r.Bottom});
      if (list.size() == 1) bound = list.back();
      bound = {std::min(bound.left, LONG(r.Left)), std::min(bound.top, LONG(r.Top)),
               std::max(bound.right, LONG(r.Right)), std::max(bound.bottom, LONG(r.Bottom))};
    }
    std::vector<std::uint8_t> data(sizeof(RGNDATAHEADER) + list.size() * sizeof(RECT));
    auto* region = reinterpret_cast<RGNDATA*>(data.data());
    region->rdh.dwSize = sizeof(RGNDATAHEADER);
    region->rdh.iType = RDH_RECTANGLES;
    region->rdh.nCount = DWORD(list.size());
    region->rdh.nRgnSize = DWORD(list.size() * sizeof(RECT));
    region->rdh.rcBound = bound;
    if (!list.empty()) std::memcpy(region->Buffer, list.data(), list.size() * sizeof(RECT));
    ::HRGN outline = ::ExtCreateRegion(nullptr, DWORD(data.size()), region);
    // The window owns the region once it has accepted it.
    if (outline && !::SetWindowRgn(hwnd_, outline, TRUE)) ::DeleteObject(outline);
  }

  void SetStayOnTop(bool value) override {
    ::SetWindowPos(hwnd_, value ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }

  void Show() override {
    ::ShowWindow(hwnd_, SW_SHOWNORMAL);
    ::SetForegroundWindow(hwnd_);
    ::UpdateWindow(hwnd_);
  }

  void Hide() override { ::ShowWindow(hwnd_, SW_HIDE); }

  void Present(const std::uint32_t* pixels, int width, int height) override {
    if (width <= 0 || height <= 0) return;
    frame_.assign(pixels, pixels + std::size_t(width) * height);
    frameWidth_ = width;
    frameHeight_ = height;
    ::HDC dc = ::GetDC(hwnd_);
    Draw(dc);
    ::ReleaseDC(hwnd_, dc);
  }

  // The system's window-move loop: the move command with the caption hit-test code, sent to the
  // window procedure; it returns when the mouse button is released.
  TPoint MoveLoop() override {
    if (AnyButtonHeld()) ::SendMessageA(hwnd_, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
    RECT r{};
    ::GetWindowRect(hwnd_, &r);
    bounds_ = {r.left, r.top, r.left + bounds_.Width(), r.top + bounds_.Height()};
    return {r.left, r.top};
  }

  LRESULT Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void Draw(::HDC dc) {
    if (frame_.empty()) return;
    // 0x00RRGGBB words are the bytes blue, green, red, 0 of a 32-bit DIB; rows from the top.
    ::BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(::BITMAPINFOHEADER);
    info.bmiHeader.biWidth = frameWidth_;
    info.bmiHeader.biHeight = -frameHeight_;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ::SetDIBitsToDevice(dc, 0, 0, DWORD(frameWidth_), DWORD(frameHeight_), 0, 0, 0,
                        UINT(frameHeight_), frame_.data(), &info, DIB_RGB_COLORS);
  }
  void Mouse(TInputEvent::Kind kind, TMouseButton button, WPARAM wParam, LPARAM lParam) {
    TInputEvent e;
    e.kind = kind;
    e.button = button;
    e.shift = TShiftState((wParam & MK_SHIFT ? ssShift : 0) | (wParam & MK_CONTROL ? ssCtrl : 0) |
                          (::GetKeyState(VK_MENU) < 0 ? ssAlt : 0));
    e.pos = {short(LOWORD(lParam)), short(HIWORD(lParam))};
    e.time = std::uint32_t(::GetMessageTime());
    form_.HandleInput(e);
  }

  TForm& form_;
  HWND hwnd_ = nullptr;
  TRect bounds_;
  std::vector<std::uint32_t> frame_;
  int frameWidth_ = 0;
  int frameHeight_ = 0;
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (auto* window = reinterpret_cast<NativeWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA)))
    return window->Handle(hwnd, message, wParam, lParam);
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT NativeWindow::Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  constexpr WPARAM kButtons = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON;
  switch (message) {
    case WM_NCCREATE: hwnd_ = hwnd; break;
    // A press holds the mouse for the window until every button is up, as the X server's
    // implicit grab does; the core decides which control gets the events.
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      ::SetCapture(hwnd);
      Mouse(TInputEvent::Kind::MouseDown,
            message == WM_LBUTTONDOWN ? mbLeft : message == WM_RBUTTONDOWN ? mbRight : mbMiddle,
            wParam, lParam);
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      Mouse(TInputEvent::Kind::MouseUp,
            message == WM_LBUTTONUP ? mbLeft : message == WM_RBUTTONUP ? mbRight : mbMiddle, wParam,
            lParam);
      if ((wParam & kButtons) == 0 && ::GetCapture() == hwnd) ::ReleaseCapture();
      return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      TInputEvent e;
      e.kind = message == WM_KEYDOWN || message == WM_SYSKEYDOWN ? TInputEvent::Kind::KeyDown
                                                                 : TInputEvent::Kind::KeyUp;
      e.key = std::uint16_t(wParam);
      e.shift = ShiftNow();
      form_.HandleInput(e);
      // Alt and F4 still closes the window.
      if (message == WM_SYSKEYDOWN || message == WM_SYSKEYUP) break;
      return 0;
    }
    case WM_MOVE: {
      RECT r{};
      ::GetWindowRect(hwnd, &r);
      if (r.left == bounds_.Left && r.top == bounds_.Top) return 0;
      bounds_ = {r.left, r.top, r.left + bounds_.Width(), r.top + bounds_.Height()};
      TInputEvent e;
      e.kind = TInputEvent::Kind::Moved;
      e.pos = {r.left, r.top};
      form_.HandleInput(e);
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      ::HDC dc = ::BeginPaint(hwnd, &paint);
      Draw(dc);
      ::EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_ERASEBKGND: return 1;  // every frame covers the whole window
    case WM_CLOSE: {
      TInputEvent e;
      e.kind = TInputEvent::Kind::Close;
      form_.HandleInput(e);
      return 0;
    }
    default: break;
  }
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

class Backend : public TWindowBackend {
 public:
  std::unique_ptr<TNativeWindow> CreateWindow(TForm& form, const std::string& title,
                                              const TRect& bounds) override {
    auto window = std::make_unique<NativeWindow>(form, bounds);
    if (!window->Create(title)) throw Exception("cannot create a window");
    return window;
  }

  TRect DesktopRect() override {
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {left, top, left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN),
            top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  }

  void SetCursorPos(int x, int y) override { ::SetCursorPos(x, y); }
  void ReleaseCapture() override { ::ReleaseCapture(); }

  // The system's message box, owned by the main window once it exists.
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    return ::MessageBoxA(MainWindow(), text.c_str(), caption.c_str(), flags);
  }

  bool ShellOpen(const std::string& file) override {
    auto result = reinterpret_cast<std::intptr_t>(
        ::ShellExecuteA(MainWindow(), "open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
  }

  bool Dispatch(bool wait) override {
    MSG message;
    if (wait) {
      if (::GetMessageA(&message, nullptr, 0, 0) <= 0) return false;
    } else if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      return false;
    } else if (message.message == WM_QUIT) {
      return false;
    }
    ::DispatchMessageA(&message);
    return true;
  }

 private:
  static HWND MainWindow() {
    TForm* form = Application().MainForm();
    if (!form || !form->HandleAllocated()) return nullptr;
    auto* native = dynamic_cast<NativeWindow*>(&form->Handle());
    return native ? native->Hwnd() : nullptr;
  }
};

}  // namespace

std::unique_ptr<TWindowBackend> Open() {
  // Pixels are the screen's own: the gadget's outline and positions are exact.
  ::SetProcessDPIAware();
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  if (!::RegisterClassA(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw Exception("cannot register the window class");
  return std::make_unique<Backend>();
}

}  // namespace tk::win32

namespace tk {

std::unique_ptr<TWindowBackend> OpenPlatformBackend() { return win32::Open(); }

}  // namespace tk
