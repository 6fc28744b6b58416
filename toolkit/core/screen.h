// The screen object: the mouse cursor shown over the program and its table of extra cursors,
// and the standard message box through which the program talks to the user.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tk {

// Cursor numbers: 0 is the default cursor; programs register their own above the built-in ones.
using TCursor = int;
inline constexpr TCursor crDefault = 0;

class TScreen {
 public:
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor cursor) { cursor_ = cursor; }

  // Registers a cursor image (the bytes of a .cur file) under a number, replacing any earlier one.
  void RegisterCursor(TCursor id, std::vector<std::uint8_t> cursorFile);
  void UnregisterCursor(TCursor id) { cursors_.erase(id); }
  // The registered cursor file, or null.
  const std::vector<std::uint8_t>* CursorFile(TCursor id) const;

 private:
  TCursor cursor_ = crDefault;
  std::map<TCursor, std::vector<std::uint8_t>> cursors_;
};

// The program's one screen object.
TScreen& Screen();

// Message box styles and results (the values of the platform's message box).
inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;

// Shows a modal message box and returns the button chosen. The window backend installs the real
// box; tests install a recorder. Without a handler the text goes to stderr and IDOK comes back.
int MessageBox(const std::string& text, const std::string& caption, unsigned flags);

using MessageBoxHandler =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;
// Installs a handler and returns the one it replaces.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The information box that ends operations the system does not support: the screen cursor goes
// back to the default, "Function not yet implemented" is shown in a box captioned "Information",
// and the operation ends with a silent abort (EAbort).
[[noreturn]] void NotImplementedAbort();

}  // namespace tk
