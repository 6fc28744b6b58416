// A window backend without a display: input comes from a script of events in screen
// coordinates, and every platform call is recorded, so that tests can check the exact geometry,
// outlines, cursor positions, launches and message boxes that the program asks for.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "toolkit/window/window.h"

namespace tk::headless {

// The state of one native window as the program left it.
struct Window {
  TForm* form = nullptr;
  std::string title;
  TRect bounds;
  bool shaped = false;         // false: rectangular
  std::vector<TRect> shape;    // window coordinates
  bool visible = false;
  bool stayOnTop = false;
  bool destroyed = false;
  std::vector<std::uint32_t> frame;  // the last presented frame
  int frameWidth = 0;
  int frameHeight = 0;
  int presents = 0;
  // Whether the screen point lies in the window and inside its outline.
  bool Hits(TPoint screen) const;
  // The presented pixel at a window point (0x00RRGGBB).
  std::uint32_t Pixel(int x, int y) const { return frame.at(std::size_t(y) * frameWidth + x); }
};

class Backend : public TWindowBackend {
 public:
  explicit Backend(TRect desktop = {0, 0, 1280, 1024}) : desktop_(desktop) {}

  // ---- The script: events are queued and delivered by the message loop.
  void MouseDown(int x, int y, TMouseButton button = mbLeft, TShiftState shift = 0);
  void MouseUp(int x, int y, TMouseButton button = mbLeft, TShiftState shift = 0);
  // Pointer motion: the move loop follows it; otherwise it goes to the window that holds the
  // pressed button, or else to the window under the pointer, and to the window it leaves.
  void MouseMove(int x, int y, TShiftState shift = 0);
  void Click(int x, int y, TMouseButton button = mbLeft, TShiftState shift = 0);
  // Two clicks in quick succession.
  void DoubleClick(int x, int y, TMouseButton button = mbLeft);
  void KeyDown(std::uint16_t key, TShiftState shift);
  void KeyUp(std::uint16_t key, TShiftState shift);
  // Lets time pass between presses (milliseconds); each scripted press adds 1 ms by itself.
  void Wait(std::uint32_t ms) { clock_ += ms; }
  bool Idle() const { return queue_.empty(); }

  // ---- The record.
  // Every platform call, in order, as text: "SetBounds 10 20 251 249", "SetCursorPos 3 4", ...
  std::vector<std::string> calls;
  // The calls that begin with the given word.
  std::vector<std::string> CallsOf(const std::string& word) const;
  std::vector<std::string> messages;  // message box texts
  std::vector<std::string> launches;  // files handed to the shell
  // Screen points of presses that hit no window (they went to the desktop).
  std::vector<TPoint> missed;
  TPoint cursor;
  std::vector<Window> windows;
  Window& Last() { return windows.back(); }
  // Whether ShellOpen reports success.
  bool shellSucceeds = true;

  // ---- TWindowBackend
  std::unique_ptr<TNativeWindow> CreateWindow(TForm& form, const std::string& title,
                                              const TRect& bounds) override;
  TRect DesktopRect() override { return desktop_; }
  void SetCursorPos(int x, int y) override;
  void ReleaseCapture() override;
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  bool ShellOpen(const std::string& file) override;
  bool Dispatch(bool wait) override;

 private:
  friend class NativeWindow;
  void Push(TInputEvent::Kind kind, int x, int y, TMouseButton button, TShiftState shift,
            std::uint16_t key = 0);
  void Record(std::string call) { calls.push_back(std::move(call)); }
  TPoint MoveLoop(std::size_t window);

  TRect desktop_;
  std::deque<TInputEvent> queue_;  // positions in screen coordinates
  std::uint32_t clock_ = 1000;
  // The window that took the last press: releases go to it, as with a pointer grab.
  std::ptrdiff_t grab_ = -1;
  // The window the last move went to.
  std::ptrdiff_t hover_ = -1;
};

}  // namespace tk::headless
