#include "tools/rulers/ruler.h"

#include "tools/rulers/digits.h"

namespace rulers {

using namespace tk;

namespace {

constexpr std::uint16_t KeyR = 'R';
constexpr std::uint16_t KeyQ = 'Q';
// The side of the close mark, and its distance from the far end and the far edge.
constexpr int CloseSize = 9;
constexpr int CloseInset = 3;

bool Within(const TRect& r, TPoint p) {
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

bool Overlap(const TRect& a, const TRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

TRect Inflate(const TRect& r, int by) {
  return {r.Left - by, r.Top - by, r.Right + by, r.Bottom + by};
}

void Fill(TCanvas& canvas, const TRect& r, TColor color) {
  canvas.Brush().Color = color;
  canvas.FillRect(r);
}

}  // namespace

int MarkLength(int offset) {
  if (offset % 100 == 0) return BigMark;
  if (offset % 50 == 0) return MediumMark;
  if (offset % 10 == 0) return LittleMark;
  if (offset % 2 == 0) return TinyMark;
  return 0;
}

int StepFor(TShiftState shift) {
  if (shift == ssCtrl) return 5;
  if (shift == (ssCtrl | ssShift)) return 15;
  return 1;
}

TRuler::TRuler(TOrientation orientation, int length, const std::string& caption)
    : TForm(caption), orientation_(orientation), length_(length) {
  Caption = caption;
  Color = FaceColor;
  const bool horizontal = orientation == TOrientation::Horizontal;
  Width = horizontal ? length : Thickness;
  Height = horizontal ? Thickness : length;
  SetStayOnTop(true);
  OnMouseDown = [this](TControl* s, TMouseButton b, TShiftState shift, int x, int y) {
    FormMouseDown(s, b, shift, x, y);
  };
  OnMouseUp = [this](TControl* s, TMouseButton b, TShiftState shift, int x, int y) {
    FormMouseUp(s, b, shift, x, y);
  };
  OnMouseMove = [this](TControl* s, TShiftState shift, int x, int y) {
    FormMouseMove(s, shift, x, y);
  };
  OnKeyDown = [this](TControl* s, std::uint16_t& key, TShiftState shift) {
    FormKeyDown(s, key, shift);
  };
}

TRect TRuler::ToWindow(int along, int across, int alongSize, int acrossSize) const {
  if (orientation_ == TOrientation::Horizontal)
    return {along, across, along + alongSize, across + acrossSize};
  return {across, along, across + acrossSize, along + alongSize};
}

std::optional<int> TRuler::Marker() const {
  if (!pointer_ || !Inside(*pointer_)) return std::nullopt;
  return AlongOf(*pointer_);
}

TRect TRuler::CloseMark() const {
  return ToWindow(length_ - CloseInset - CloseSize, Thickness - CloseInset - CloseSize, CloseSize,
                  CloseSize);
}

std::vector<TRuler::TNumber> TRuler::Numbers() const {
  const bool horizontal = orientation_ == TOrientation::Horizontal;
  // A number lies clear of the zero bars at both ends and of the border, and of the close mark.
  const TRect room = ToWindow(ZeroBar + 1, 1, length_ - 2 * ZeroBar - 2, Thickness - 2);
  const TRect close = Inflate(CloseMark(), 1);
  std::vector<TNumber> numbers;
  for (int offset = 0; offset < length_; offset += 50) {
    const int along = OffsetAt(offset);
    const int width = NumberWidth(offset);
    // Centred on its mark: across the horizontal ruler's length, along the vertical one's.
    const TRect r = horizontal
                        ? ToWindow(along - width / 2, NumberAcross, width, DigitHeight)
                        : ToWindow(along - DigitHeight / 2, NumberAcross, DigitHeight, width);
    const bool fits = r.Left >= room.Left && r.Top >= room.Top && r.Right <= room.Right &&
                      r.Bottom <= room.Bottom && !Overlap(r, close);
    if (fits) numbers.push_back({offset, r});
  }
  return numbers;
}

TRect TRuler::Readout() const {
  const std::optional<int> marker = Marker();
  if (!marker) return {};
  const int m = *marker;
  const int width = NumberWidth(OffsetAt(m));
  const bool horizontal = orientation_ == TOrientation::Horizontal;
  // The number in a box with a pixel of room round it, past the marker by two pixels, on the
  // side towards the far end unless it would meet that end or the close mark there.
  const int alongSize = (horizontal ? width : DigitHeight) + 2;
  const int acrossSize = (horizontal ? DigitHeight : width) + 2;
  const int across = horizontal ? Thickness - 4 - acrossSize : NumberAcross - 2;
  const TRect after = ToWindow(m + 2, across, alongSize, acrossSize);
  const int end = horizontal ? after.Right : after.Bottom;
  if (end <= length_ - 1 && !Overlap(after, CloseMark())) return after;
  return ToWindow(m - 2 - alongSize, across, alongSize, acrossSize);
}

void TRuler::Paint(TCanvas& canvas) {
  // The face inside a one-pixel frame; the marks hang from the frame's long edge.
  Fill(canvas, {0, 0, Width, Height}, InkColor);
  Fill(canvas, {1, 1, Width - 1, Height - 1}, FaceColor);
  for (int offset = 0; offset < length_; offset += 2)
    Fill(canvas, ToWindow(OffsetAt(offset), 0, 1, MarkLength(offset)), InkColor);
  Fill(canvas, ToWindow(reversed_ ? length_ - ZeroBar : 0, 0, ZeroBar, Thickness), ZeroColor);
  for (const TNumber& n : Numbers())
    DrawNumber(canvas, n.rect.Left, n.rect.Top, n.offset, InkColor);

  // The close mark: a framed cross.
  const TRect c = CloseMark();
  Fill(canvas, c, InkColor);
  Fill(canvas, Inflate(c, -1), FaceColor);
  for (int i = 2; i < CloseSize - 2; ++i) {
    Fill(canvas, {c.Left + i, c.Top + i, c.Left + i + 1, c.Top + i + 1}, InkColor);
    Fill(canvas, {c.Right - 1 - i, c.Top + i, c.Right - i, c.Top + i + 1}, InkColor);
  }

  if (const std::optional<int> m = Marker()) {
    Fill(canvas, ToWindow(*m, 0, 1, Thickness), MarkerColor);
    const TRect r = Readout();
    Fill(canvas, r, ReadoutColor);
    DrawNumber(canvas, r.Left + 1, r.Top + 1, OffsetAt(*m), MarkerColor);
  }
}

void TRuler::Reverse() {
  reversed_ = !reversed_;
  Invalidate();
}

void TRuler::SetPointer(std::optional<TPoint> p) {
  const std::optional<int> before = Marker();
  pointer_ = p;
  if (Marker() != before) Invalidate();
}

void TRuler::MoveBy(int dx, int dy) {
  if (dx) SetLeft(Left + dx);
  if (dy) SetTop(Top + dy);
  // The pointer stays where it is on the screen, so it moves the other way on the ruler.
  if (pointer_) SetPointer(TPoint{pointer_->X - dx, pointer_->Y - dy});
}

void TRuler::FormMouseDown(TControl*, TMouseButton Button, TShiftState, int X, int Y) {
  SetPointer(TPoint{X, Y});
  closeArmed_ = false;
  if (Button == mbRight) {
    Reverse();
  } else if (Button == mbLeft) {
    if (Within(CloseMark(), {X, Y})) {
      closeArmed_ = true;
      return;
    }
    // The drag moves the window and the pointer together: the marker stays where it is.
    ReleaseCapture();
    SendMessage(*this, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
  }
}

void TRuler::FormMouseUp(TControl*, TMouseButton Button, TShiftState, int X, int Y) {
  SetPointer(TPoint{X, Y});
  const bool close = closeArmed_ && Button == mbLeft && Within(CloseMark(), {X, Y});
  closeArmed_ = false;
  if (close) Close();
}

void TRuler::FormMouseMove(TControl*, TShiftState, int X, int Y) {
  SetPointer(TPoint{X, Y});
}

void TRuler::FormKeyDown(TControl*, std::uint16_t& Key, TShiftState Shift) {
  const int step = StepFor(Shift);
  switch (Key) {
    case VK_LEFT:
      MoveBy(-step, 0);
      break;
    case VK_RIGHT:
      MoveBy(step, 0);
      break;
    case VK_UP:
      MoveBy(0, -step);
      break;
    case VK_DOWN:
      MoveBy(0, step);
      break;
    case KeyR:
      Reverse();
      break;
    case VK_ESCAPE:
    case KeyQ:
      Close();
      break;
    default:
      break;
  }
}

}  // namespace rulers
