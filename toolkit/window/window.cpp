#include "toolkit/window/window.h"

#include <cstdlib>
#include <filesystem>

#include "toolkit/core/exceptions.h"
#include "toolkit/device/region.h"
#include "toolkit/core/screen.h"

namespace tk {

namespace {

// The control that a left press captured: it receives the mouse until the left button is
// released (global, as on the platform: one capture for the whole program). Other buttons do
// not capture: their releases go to the control under the pointer.
TControl* g_capture = nullptr;

// Two presses of one button make a double-click within this time and distance.
constexpr std::uint32_t DoubleClickTime = 500;
constexpr int DoubleClickDistance = 4;

}  // namespace

// ---- TControl -------------------------------------------------------------------------------

void TControl::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Invalidate();
  if (!value && parent_ && parent_->ActiveControl() == this) parent_->SetActiveControl(nullptr);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  Left = left;
  Top = top;
  Width = width;
  Height = height;
  Invalidate();
}

void TControl::Invalidate() {
  if (parent_) parent_->Invalidate();
}

// ---- TBitBtn ----------------------------------------------------------------------------------

void TBitBtn::SetEnabled(bool value) {
  if (!value) pressed_ = false;
  TControl::SetEnabled(value);
}

// ---- TForm ------------------------------------------------------------------------------------

TForm::TForm(std::string name) : TControl(std::move(name)) {}

TForm::~TForm() {
  if (g_capture && (g_capture == this || g_capture->Parent() == this)) g_capture = nullptr;
  if (Application().MainForm() == this) Application().SetMainForm(nullptr);
  ReleaseRegion();
}

void TForm::SetLeft(int value) {
  Left = value;
  ApplyBounds();
}

void TForm::SetTop(int value) {
  Top = value;
  ApplyBounds();
}

void TForm::SetWidth(int value) {
  Width = value;
  ApplyBounds();
  Invalidate();
}

void TForm::SetHeight(int value) {
  Height = value;
  ApplyBounds();
  Invalidate();
}

void TForm::ApplyBounds() {
  if (native_) native_->SetBounds({Left, Top, Left + Width, Top + Height});
}

TNativeWindow& TForm::Handle() {
  if (!native_) {
    native_ = Application().Backend().CreateWindow(*this, Caption,
                                                   {Left, Top, Left + Width, Top + Height});
    if (stayOnTop_) native_->SetStayOnTop(true);
    if (region_) ApplyShape();
  }
  return *native_;
}

void TForm::Show() {
  if (!shown_) {
    TRect desk = Application().Backend().DesktopRect();
    Left = desk.Left + (desk.Width() - Width) / 2;
    Top = desk.Top + (desk.Height() - Height) / 2;
    shown_ = true;
    ApplyBounds();
  }
  Handle().Show();
  visible_ = true;
  Invalidate();
  Update();
}

void TForm::Close() {
  if (native_) native_->Hide();
  visible_ = false;
  if (Application().MainForm() == this) Application().Terminate();
}

void TForm::SetStayOnTop(bool value) {
  if (value == stayOnTop_) return;
  stayOnTop_ = value;
  ReleaseRegion();
  if (native_) {
    native_->SetStayOnTop(value);
    native_->SetShape(nullptr);
  }
}

void TForm::SetActiveControl(TControl* control) {
  if (control == active_) return;
  TControl* previous = active_;
  active_ = control;
  if (previous) {
    previous->Invalidate();
    if (previous->OnExit) previous->OnExit(previous);
  }
}

int SetWindowRgn(TForm& window, HRGN region, bool redraw) {
  window.Handle();
  window.ReleaseRegion();
  window.region_ = region;
  window.ApplyShape();
  if (redraw) window.Invalidate();
  return 1;
}

void TForm::ApplyShape() {
  if (!native_) return;
  if (!region_) {
    native_->SetShape(nullptr);
    return;
  }
  std::vector<TRect> rects = RegionRects(region_);
  native_->SetShape(&rects);
}

void TForm::DoCreate() {
  try {
    if (OnCreate) OnCreate(this);
  } catch (const std::exception& e) {
    Application().ShowException(e);
  }
}

TControl* TForm::ControlAt(TPoint p) const {
  // Windowed controls lie above the others; within each group later controls lie above earlier.
  for (bool windowed : {true, false}) {
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
      TControl* c = it->get();
      if (c->Windowed() == windowed && c->Enabled() && c->Contains(p)) return c;
    }
  }
  return nullptr;
}

void TForm::HandleInput(const TInputEvent& event) {
  try {
    switch (event.kind) {
      case TInputEvent::Kind::MouseDown: MouseDown(event); break;
      case TInputEvent::Kind::MouseUp: MouseUp(event); break;
      case TInputEvent::Kind::MouseMove: MouseMove(event); break;
      case TInputEvent::Kind::KeyDown:
      case TInputEvent::Kind::KeyUp: Key(event); break;
      case TInputEvent::Kind::Moved:
        Left = event.pos.X;
        Top = event.pos.Y;
        break;
      case TInputEvent::Kind::Paint: presented_ = false; break;
      case TInputEvent::Kind::Close: Close(); break;
    }
  } catch (const std::exception& e) {
    Application().ShowException(e);
  }
  Update();
}

void TForm::MouseDown(const TInputEvent& e) {
  bool isDouble = lastPress_ && !lastPress_->wasDouble && lastPress_->button == e.button &&
                  e.time - lastPress_->time <= DoubleClickTime &&
                  std::abs(e.pos.X - lastPress_->pos.X) <= DoubleClickDistance &&
                  std::abs(e.pos.Y - lastPress_->pos.Y) <= DoubleClickDistance;
  lastPress_ = Press{e.button, e.time, e.pos, isDouble};

  TControl* target = ControlAt(e.pos);
  if (e.button == mbLeft) g_capture = target ? target : this;
  if (!target) {
    if (OnMouseDown) OnMouseDown(this, e.button, e.shift, e.pos.X, e.pos.Y);
    return;
  }
  if (auto* button = dynamic_cast<TBitBtn*>(target); button && e.button == mbLeft) {
    button->pressed_ = true;
    button->Invalidate();
    SetActiveControl(button);
  }
  // A left double-click on a picture view raises its double-click event before the press.
  if (!target->Windowed() && isDouble && e.button == mbLeft && target->OnDblClick)
    target->OnDblClick(target);
  if (target->OnMouseDown)
    target->OnMouseDown(target, e.button, e.shift, e.pos.X - target->Left, e.pos.Y - target->Top);
}

void TForm::MouseUp(const TInputEvent& e) {
  // Without a capture the release goes to what lies under the pointer: a control, or the
  // form's own surface.
  TControl* target = g_capture ? g_capture : ControlAt(e.pos);
  if (!target && e.pos.X >= 0 && e.pos.Y >= 0 && e.pos.X < Width && e.pos.Y < Height) target = this;
  if (e.button == mbLeft) g_capture = nullptr;
  if (!target) return;
  if (target == this) {
    if (OnMouseUp) OnMouseUp(this, e.button, e.shift, e.pos.X, e.pos.Y);
    return;
  }
  if (target->Parent() != this) return;
  if (auto* button = dynamic_cast<TBitBtn*>(target)) {
    bool clicked = button->pressed_ && e.button == mbLeft && button->Enabled() &&
                   button->Contains(e.pos);
    if (e.button == mbLeft && button->pressed_) {
      button->pressed_ = false;
      button->Invalidate();
    }
    if (clicked && button->OnClick) button->OnClick(button);
  }
  if (target->OnMouseUp)
    target->OnMouseUp(target, e.button, e.shift, e.pos.X - target->Left, e.pos.Y - target->Top);
}

void TForm::MouseMove(const TInputEvent& e) {
  // While a button is held the moves go to the control that took the press, as the release does.
  TControl* target = g_capture ? g_capture : ControlAt(e.pos);
  if (!target || (target != this && target->Parent() != this)) target = this;
  if (!target->OnMouseMove) return;
  if (target == this)
    target->OnMouseMove(target, e.shift, e.pos.X, e.pos.Y);
  else
    target->OnMouseMove(target, e.shift, e.pos.X - target->Left, e.pos.Y - target->Top);
}

void TForm::Key(const TInputEvent& e) {
  // Without key preview the form hears keys only while no control holds the focus.
  if (active_ && !KeyPreview) return;
  std::uint16_t key = e.key;
  const TKeyEvent& handler = e.kind == TInputEvent::Kind::KeyDown ? OnKeyDown : OnKeyUp;
  if (handler) handler(this, key, e.shift);
}

void TForm::DragMove() {
  if (!native_) return;
  TPoint to = native_->MoveLoop();
  Left = to.X;
  Top = to.Y;
}

void TForm::Update() {
  if (!visible_ || !native_) return;
  if (dirty_) presented_ = false;
  if (presented_) return;
  const std::vector<std::uint32_t>& pixels = Frame();
  native_->Present(pixels.data(), Width, Height);
  presented_ = true;
}

// ---- Platform calls ---------------------------------------------------------------------------

bool SetCursorPos(int x, int y) {
  Application().Backend().SetCursorPos(x, y);
  return true;
}

bool ReleaseCapture() {
  g_capture = nullptr;
  Application().Backend().ReleaseCapture();
  return true;
}

std::intptr_t SendMessage(TForm& window, unsigned message, std::uintptr_t wParam,
                          std::intptr_t /*lParam*/) {
  if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_MOVE && (wParam & 0xF) == HTCAPTION)
    window.DragMove();
  return 0;
}

std::intptr_t ShellExecuteA(TForm* /*owner*/, const char* verb, const char* file,
                            const char* /*parameters*/, const char* /*directory*/,
                            int /*showCommand*/) {
  constexpr std::intptr_t SE_ERR_FNF = 2;
  constexpr std::intptr_t SE_ERR_NOASSOC = 31;
  constexpr std::intptr_t Success = 42;
  if (!file || (verb && std::string_view(verb) != "open")) return SE_ERR_NOASSOC;
  return Application().Backend().ShellOpen(file) ? Success : SE_ERR_FNF;
}

bool FileExists(const std::string& name) {
  std::error_code ec;
  const auto status = std::filesystem::status(name, ec);
  return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

// ---- TApplication -----------------------------------------------------------------------------

TApplication& Application() {
  static TApplication application;
  return application;
}

void TApplication::Initialize(std::unique_ptr<TWindowBackend> backend) {
  backend_ = std::move(backend);
  terminated_ = false;
  SetMessageBoxHandler([this](const std::string& text, const std::string& caption,
                              unsigned flags) { return backend_->MessageBox(text, caption, flags); });
}

void TApplication::Finalize() {
  SetMessageBoxHandler(nullptr);
  backend_.reset();
  mainForm_ = nullptr;
  terminated_ = false;
}

TWindowBackend& TApplication::Backend() {
  if (!backend_) throw Exception("No window system");
  return *backend_;
}

void TApplication::Run() {
  if (mainForm_ && !mainForm_->Visible()) mainForm_->Show();
  while (!terminated_ && Backend().Dispatch(true)) {
  }
}

int TApplication::ProcessMessages() {
  int handled = 0;
  while (!terminated_ && Backend().Dispatch(false)) ++handled;
  return handled;
}

void TApplication::ShowException(const std::exception& e) {
  if (dynamic_cast<const EAbort*>(&e)) return;
  MessageBox(e.what(), Title, MB_OK | MB_ICONERROR);
}

}  // namespace tk
