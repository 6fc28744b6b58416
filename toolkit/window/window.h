// The window system: one form with picture views and bitmap buttons, their events, the message
// loop and the few platform calls the program makes (cursor, window outline, program launch).
// Everything here is platform-neutral; a backend (x11/, headless/) supplies native windows and
// input through the TWindowBackend interface at the end of this header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/device/bitmap.h"
#include "toolkit/device/colors.h"
#include "toolkit/core/handles.h"
#include "toolkit/core/persistent.h"
#include "toolkit/core/picture.h"

namespace tk {

class TForm;
class TNativeWindow;
class TWindowBackend;

// Modifier keys as one byte.
using TShiftState = std::uint8_t;
inline constexpr TShiftState ssShift = 1;
inline constexpr TShiftState ssAlt = 2;
inline constexpr TShiftState ssCtrl = 4;

enum TMouseButton : std::uint8_t { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

// Values of the platform's messages and commands that the program uses.
inline constexpr unsigned WM_SYSCOMMAND = 274;
inline constexpr unsigned SC_MOVE = 0xF010;
inline constexpr unsigned HTCAPTION = 2;
inline constexpr int SW_SHOWNORMAL = 1;

// Key codes of the keys the programs look at; letters and digits are their capital ASCII codes.
inline constexpr std::uint16_t VK_ESCAPE = 27;
inline constexpr std::uint16_t VK_LEFT = 37;
inline constexpr std::uint16_t VK_UP = 38;
inline constexpr std::uint16_t VK_RIGHT = 39;
inline constexpr std::uint16_t VK_DOWN = 40;

// The value of the button-face system colour (clBtnFace, colors.h).
inline constexpr TColor BtnFaceRGB = 0xC0C0C0;

class TControl;
using TNotifyEvent = std::function<void(TControl* Sender)>;
using TMouseEvent = std::function<void(TControl* Sender, TMouseButton Button, TShiftState Shift,
                                       int X, int Y)>;
using TMouseMoveEvent = std::function<void(TControl* Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(TControl* Sender, std::uint16_t& Key, TShiftState Shift)>;

// A control: a named rectangle of a form (position relative to the form) with its events.
class TControl : public TPersistent {
 public:
  explicit TControl(std::string name) : Name(std::move(name)) {}

  std::string Name;
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  // Stored but never shown: hint display is off on every control of this system.
  std::string Hint;
  bool ShowHint = false;
  int TabOrder = -1;
  bool TabStop = false;

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnExit;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;

  TForm* Parent() const { return parent_; }
  bool Enabled() const { return enabled_; }
  // Disabling the control that holds the keyboard focus moves the focus back to the form, which
  // raises the control's exit event at once.
  virtual void SetEnabled(bool value);
  void SetBounds(int left, int top, int width, int height);
  bool Contains(TPoint p) const {
    return p.X >= Left && p.X < Left + Width && p.Y >= Top && p.Y < Top + Height;
  }

  // Windowed controls take the keyboard focus on a left press and lie above all others.
  virtual bool Windowed() const { return false; }
  // Draws the control onto the form's canvas, at its own position.
  virtual void Paint(TCanvas& canvas) = 0;
  void Invalidate();

 protected:
  friend class TForm;
  TForm* parent_ = nullptr;
  bool enabled_ = true;
};

// A picture view: draws its picture at the picture's own size from the view's top-left corner,
// clipped to the view, transparently when the picture is transparent.
class TImage : public TControl {
 public:
  explicit TImage(std::string name);
  ~TImage() override;
  std::string_view ClassName() const override { return "TImage"; }
  bool Transparent = true;
  // The picture shown; its changes repaint the view.
  TPicture& Picture() { return *picture_; }
  void Paint(TCanvas& canvas) override;

 private:
  std::unique_ptr<TPicture> picture_;
};

// A push button showing a glyph: a bitmap of one or two square glyphs side by side (enabled,
// disabled), drawn with the colour of its bottom-left pixel left out.
class TBitBtn : public TControl {
 public:
  explicit TBitBtn(std::string name);
  ~TBitBtn() override;
  std::string_view ClassName() const override { return "TBitBtn"; }
  // The glyph bitmap: NumGlyphs glyphs side by side, enabled first, then disabled.
  TBitmap& Glyph() { return *glyph_; }
  int NumGlyphs = 1;
  bool Windowed() const override { return true; }
  void SetEnabled(bool value) override;
  void Paint(TCanvas& canvas) override;
  bool Pressed() const { return pressed_; }

 private:
  friend class TForm;
  bool pressed_ = false;
  std::unique_ptr<TBitmap> glyph_;
};

// An input event as a backend delivers it; positions are in window coordinates.
struct TInputEvent {
  enum class Kind : std::uint8_t {
    MouseDown, MouseUp, MouseMove, KeyDown, KeyUp, Moved, Paint, Close
  };
  Kind kind = Kind::Paint;
  TMouseButton button = mbLeft;
  TShiftState shift = 0;
  // Mouse events: window coordinates (a move may lie outside the window while a button is held,
  // or when it is the last position as the pointer left); Moved: the new screen position.
  TPoint pos;
  std::uint16_t key = 0;   // key events: the key code
  std::uint32_t time = 0;  // mouse down: milliseconds, for double-click detection
};

// A borderless top-level window holding controls. It owns its controls, draws them through the
// software graphics device and hands the finished frame to its native window.
class TForm : public TControl {
 public:
  explicit TForm(std::string name);
  ~TForm() override;
  std::string_view ClassName() const override { return "TForm"; }

  std::string Caption;
  TColor Color = clBtnFace;
  bool KeyPreview = false;

  TNotifyEvent OnCreate;
  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;

  // Adds a control above those added before it (windowed controls stay above the rest).
  template <class T>
  T* Add(std::unique_ptr<T> control) {
    T* raw = control.get();
    raw->parent_ = this;
    controls_.push_back(std::move(control));
    Invalidate();
    return raw;
  }
  const std::vector<std::unique_ptr<TControl>>& Controls() const { return controls_; }

  // Position and size in screen pixels; each setter applies at once.
  void SetLeft(int value);
  void SetTop(int value);
  void SetWidth(int value);
  void SetHeight(int value);
  // Shows the window, centred on the desktop the first time.
  void Show();
  bool Visible() const { return visible_; }
  // Closes the window; closing the application's main form ends the message loop.
  void Close();
  // Switches between normal stacking and stay-on-top. The switch gives the form a new native
  // window, which has no outline until one is set again.
  void SetStayOnTop(bool value);
  bool StayOnTop() const { return stayOnTop_; }

  // The control holding the keyboard focus, or null while the form itself holds it.
  TControl* ActiveControl() const { return active_; }
  void SetActiveControl(TControl* control);

  // The outline region the window took over, or null while the window is rectangular.
  HRGN Region() const { return region_; }
  // The native window, created on first demand.
  TNativeWindow& Handle();
  bool HandleAllocated() const { return native_ != nullptr; }

  // The finished frame: the form and its controls as 32-bit pixels (0x00RRGGBB), row by row.
  const std::vector<std::uint32_t>& Frame();
  void Invalidate() { dirty_ = true; }
  // Redraws when something changed and presents the frame.
  void Update();

  // Runs the create event; a failure is shown in a message box and creation goes on.
  void DoCreate();
  // Entry of the backend: one input event of this window.
  void HandleInput(const TInputEvent& event);
  // The move loop of the system window-move command; returns when the mouse button is up.
  void DragMove();
  void Paint(TCanvas& canvas) override;

 private:
  friend int SetWindowRgn(TForm& window, HRGN region, bool redraw);
  void ApplyBounds();
  void ApplyShape();
  void ReleaseRegion();
  TControl* ControlAt(TPoint p) const;
  void MouseDown(const TInputEvent& event);
  void MouseUp(const TInputEvent& event);
  void MouseMove(const TInputEvent& event);
  void Key(const TInputEvent& event);

  std::vector<std::unique_ptr<TControl>> controls_;
  std::unique_ptr<TNativeWindow> native_;
  std::vector<std::uint32_t> frame_;
  HRGN region_ = nullptr;
  TControl* active_ = nullptr;
  TControl* capture_ = nullptr;
  bool visible_ = false;
  bool shown_ = false;
  bool stayOnTop_ = false;
  bool dirty_ = true;
  bool presented_ = false;
  // The last press, for double-click detection.
  struct Press {
    TMouseButton button;
    std::uint32_t time;
    TPoint pos;
    bool wasDouble;
  };
  std::optional<Press> lastPress_;
};

// The application: holds the backend, runs the message loop and reports escaped exceptions.
class TApplication {
 public:
  std::string Title = "Project1";

  // Installs the backend; its message box becomes the standard error report.
  void Initialize(std::unique_ptr<TWindowBackend> backend);
  TWindowBackend& Backend();
  bool HasBackend() const { return backend_ != nullptr; }
  // Releases the backend and every native window (forms must be gone first).
  void Finalize();

  TForm* MainForm() const { return mainForm_; }
  void SetMainForm(TForm* form) { mainForm_ = form; }
  // Shows the main form and handles events until the loop ends.
  void Run();
  // Handles every waiting event without blocking; returns the number handled.
  int ProcessMessages();
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  // Shows the text of an exception in a message box (nothing for a silent abort).
  void ShowException(const std::exception& e);

 private:
  std::unique_ptr<TWindowBackend> backend_;
  TForm* mainForm_ = nullptr;
  bool terminated_ = false;
};

TApplication& Application();

// Platform calls by their usual names.
// The window takes over the region (null: rectangular again); returns non-zero on success.
int SetWindowRgn(TForm& window, HRGN region, bool redraw);
bool SetCursorPos(int x, int y);
bool ReleaseCapture();
// Sends a message to the window; only WM_SYSCOMMAND with the move command (0xF012: the move
// command and the caption hit-test code) does anything: it runs the window-move loop.
std::intptr_t SendMessage(TForm& window, unsigned message, std::uintptr_t wParam,
                          std::intptr_t lParam);
// Starts the named file when it exists and can be run, otherwise hands it to the desktop's
// opener. Returns a value above 32 when the request was handed on.
std::intptr_t ShellExecuteA(TForm* owner, const char* verb, const char* file,
                            const char* parameters, const char* directory, int showCommand);
// Whether a file (not a directory) of this name exists.
bool FileExists(const std::string& name);

// ---- The backend interface ---------------------------------------------------------------

// One native top-level window.
class TNativeWindow {
 public:
  virtual ~TNativeWindow() = default;
  // Screen position and size.
  virtual void SetBounds(const TRect& bounds) = 0;
  // The outline as rectangles in window coordinates; null for a rectangular window.
  virtual void SetShape(const std::vector<TRect>* rectangles) = 0;
  virtual void SetStayOnTop(bool value) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // A whole frame of width x height pixels, 0x00RRGGBB, row by row from the top.
  virtual void Present(const std::uint32_t* pixels, int width, int height) = 0;
  // Moves the window with the mouse until the buttons are up; returns the new screen position.
  virtual TPoint MoveLoop() = 0;
};

// What a backend gives the window system.
class TWindowBackend {
 public:
  virtual ~TWindowBackend() = default;
  // A new hidden window whose events go to the form.
  virtual std::unique_ptr<TNativeWindow> CreateWindow(TForm& form, const std::string& title,
                                                      const TRect& bounds) = 0;
  // The rectangle spanning all screens.
  virtual TRect DesktopRect() = 0;
  virtual void SetCursorPos(int x, int y) = 0;
  virtual void ReleaseCapture() = 0;
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  // Starts or opens the file; the result says whether the request was handed on.
  virtual bool ShellOpen(const std::string& file) = 0;
  // Delivers the next input event to its form; with wait false, returns false at once when
  // there is none. With wait true, blocks until one arrives (false: the event source is gone).
  virtual bool Dispatch(bool wait) = 0;
};

}  // namespace tk
