#include "toolkit/window/headless/headless.h"

namespace tk::headless {

namespace {

std::string Join(const char* word, std::initializer_list<int> values) {
  std::string text = word;
  for (int v : values) {
    text += ' ';
    text += std::to_string(v);
  }
  return text;
}

}  // namespace

bool Window::Hits(TPoint p) const {
  if (!visible || destroyed) return false;
  TPoint w{p.X - bounds.Left, p.Y - bounds.Top};
  if (w.X < 0 || w.Y < 0 || w.X >= bounds.Width() || w.Y >= bounds.Height()) return false;
  if (!shaped) return true;
  for (const TRect& r : shape)
    if (w.X >= r.Left && w.X < r.Right && w.Y >= r.Top && w.Y < r.Bottom) return true;
  return false;
}

// A native window is an index into the backend's record.
class NativeWindow : public TNativeWindow {
 public:
  NativeWindow(Backend& backend, std::size_t index) : b_(backend), i_(index) {}
  ~NativeWindow() override {
    W().destroyed = true;
    b_.Record("DestroyWindow");
  }
  void SetBounds(const TRect& r) override {
    W().bounds = r;
    b_.Record(Join("SetBounds", {r.Left, r.Top, r.Width(), r.Height()}));
  }
  void SetShape(const std::vector<TRect>* rects) override {
    W().shaped = rects != nullptr;
    W().shape = rects ? *rects : std::vector<TRect>{};
    b_.Record(rects ? Join("SetShape", {int(rects->size())}) : "SetShape none");
  }
  void SetStayOnTop(bool value) override {
    W().stayOnTop = value;
    b_.Record(Join("SetStayOnTop", {value}));
  }
  void Show() override {
    W().visible = true;
    b_.Record("Show");
  }
  void Hide() override {
    W().visible = false;
    b_.Record("Hide");
  }
  void Present(const std::uint32_t* pixels, int width, int height) override {
    Window& w = W();
    w.frame.assign(pixels, pixels + std::size_t(width) * height);
    w.frameWidth = width;
    w.frameHeight = height;
    ++w.presents;
  }
  TPoint MoveLoop() override { return b_.MoveLoop(i_); }

 private:
  Window& W() { return b_.windows[i_]; }
  Backend& b_;
  std::size_t i_;
};

std::unique_ptr<TNativeWindow> Backend::CreateWindow(TForm& form, const std::string& title,
                                                     const TRect& bounds) {
  Window w;
  w.form = &form;
  w.title = title;
  w.bounds = bounds;
  windows.push_back(std::move(w));
  Record("CreateWindow " + title + Join("", {bounds.Left, bounds.Top, bounds.Width(),
                                              bounds.Height()}));
  return std::make_unique<NativeWindow>(*this, windows.size() - 1);
}

void Backend::SetCursorPos(int x, int y) {
  cursor = {x, y};
  Record(Join("SetCursorPos", {x, y}));
}

void Backend::ReleaseCapture() {
  grab_ = -1;
  Record("ReleaseCapture");
}

int Backend::MessageBox(const std::string& text, const std::string& caption, unsigned) {
  messages.push_back(text);
  Record("MessageBox " + caption + ": " + text);
  return 1;
}

bool Backend::ShellOpen(const std::string& file) {
  launches.push_back(file);
  Record("ShellOpen " + file);
  return shellSucceeds;
}

std::vector<std::string> Backend::CallsOf(const std::string& word) const {
  std::vector<std::string> out;
  for (const std::string& c : calls)
    if (c.compare(0, word.size(), word) == 0 &&
        (c.size() == word.size() || c[word.size()] == ' '))
      out.push_back(c);
  return out;
}

void Backend::Push(TInputEvent::Kind kind, int x, int y, TMouseButton button, TShiftState shift,
                   std::uint16_t key) {
  TInputEvent e;
  e.kind = kind;
  e.pos = {x, y};
  e.button = button;
  e.shift = shift;
  e.key = key;
  e.time = ++clock_;
  queue_.push_back(e);
}

void Backend::MouseDown(int x, int y, TMouseButton button, TShiftState shift) {
  Push(TInputEvent::Kind::MouseDown, x, y, button, shift);
}

void Backend::MouseUp(int x, int y, TMouseButton button, TShiftState shift) {
  Push(TInputEvent::Kind::MouseUp, x, y, button, shift);
}

void Backend::MouseMove(int x, int y, TShiftState shift) {
  Push(TInputEvent::Kind::MouseMove, x, y, mbLeft, shift);
}

void Backend::Click(int x, int y, TMouseButton button, TShiftState shift) {
  MouseDown(x, y, button, shift);
  MouseUp(x, y, button, shift);
}

void Backend::DoubleClick(int x, int y, TMouseButton button) {
  Click(x, y, button);
  Wait(100);
  Click(x, y, button);
}

void Backend::KeyDown(std::uint16_t key, TShiftState shift) {
  Push(TInputEvent::Kind::KeyDown, 0, 0, mbLeft, shift, key);
}

void Backend::KeyUp(std::uint16_t key, TShiftState shift) {
  Push(TInputEvent::Kind::KeyUp, 0, 0, mbLeft, shift, key);
}

bool Backend::Dispatch(bool) {
  if (queue_.empty()) return false;
  TInputEvent e = queue_.front();
  queue_.pop_front();
  const bool mouse = e.kind == TInputEvent::Kind::MouseDown ||
                     e.kind == TInputEvent::Kind::MouseUp ||
                     e.kind == TInputEvent::Kind::MouseMove;
  if (mouse) cursor = e.pos;

  std::ptrdiff_t target = -1;
  if (e.kind == TInputEvent::Kind::MouseMove) {
    target = grab_;
    for (std::size_t i = windows.size(); target < 0 && i-- > 0;)
      if (windows[i].Hits(e.pos)) target = std::ptrdiff_t(i);
  } else if (e.kind == TInputEvent::Kind::MouseDown) {
    for (std::size_t i = windows.size(); i-- > 0;)
      if (windows[i].Hits(e.pos)) {
        target = std::ptrdiff_t(i);
        break;
      }
    if (target < 0) missed.push_back(e.pos);
    grab_ = target;
  } else if (e.kind == TInputEvent::Kind::MouseUp) {
    target = grab_;
    grab_ = -1;
  } else {
    // Keys go to the newest visible window, which holds the focus.
    for (std::size_t i = windows.size(); i-- > 0;)
      if (windows[i].visible && !windows[i].destroyed) {
        target = std::ptrdiff_t(i);
        break;
      }
  }
  auto deliver = [&](std::ptrdiff_t index, TInputEvent event) {
    Window& w = windows[std::size_t(index)];
    if (mouse) event.pos = {event.pos.X - w.bounds.Left, event.pos.Y - w.bounds.Top};
    w.form->HandleInput(event);
  };
  if (e.kind == TInputEvent::Kind::MouseMove) {
    // Leaving a window is one more move for it, to where the pointer went.
    const std::ptrdiff_t left = hover_;
    hover_ = target;
    if (left >= 0 && left != target && !windows[std::size_t(left)].destroyed) deliver(left, e);
  }
  if (target >= 0) deliver(target, e);
  return true;
}

TPoint Backend::MoveLoop(std::size_t index) {
  TPoint start = cursor;
  TRect origin = windows[index].bounds;
  TPoint at = start;
  // The pointer moves the window until a button comes up (or the script ends).
  while (!queue_.empty()) {
    TInputEvent e = queue_.front();
    queue_.pop_front();
    if (e.kind != TInputEvent::Kind::MouseMove && e.kind != TInputEvent::Kind::MouseUp) continue;
    at = e.pos;
    if (e.kind == TInputEvent::Kind::MouseUp) break;
  }
  cursor = at;
  grab_ = -1;
  Window& w = windows[index];
  w.bounds = {origin.Left + at.X - start.X, origin.Top + at.Y - start.Y,
              origin.Right + at.X - start.X, origin.Bottom + at.Y - start.Y};
  Record(Join("MoveLoop", {w.bounds.Left, w.bounds.Top}));
  return {w.bounds.Left, w.bounds.Top};
}

}  // namespace tk::headless
