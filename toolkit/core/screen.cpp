#include "toolkit/core/screen.h"

#include <cstdio>

#include "toolkit/core/exceptions.h"

namespace tk {

void TScreen::RegisterCursor(TCursor id, std::vector<std::uint8_t> cursorFile) {
  cursors_[id] = std::move(cursorFile);
}

const std::vector<std::uint8_t>* TScreen::CursorFile(TCursor id) const {
  auto it = cursors_.find(id);
  return it == cursors_.end() ? nullptr : &it->second;
}

TScreen& Screen() {
  static TScreen screen;
  return screen;
}

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}
}  // namespace

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  if (Handler()) return Handler()(text, caption, flags);
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  return IDOK;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler previous = std::move(Handler());
  Handler() = std::move(handler);
  return previous;
}

void NotImplementedAbort() {
  Screen().SetCursor(crDefault);
  MessageBox("Function not yet implemented", "Information", MB_OK | MB_ICONINFORMATION);
  throw EAbort();
}

}  // namespace tk
