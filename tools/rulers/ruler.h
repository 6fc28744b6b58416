// A screen ruler: a frameless, stay-on-top window 40 pixels thick and 800 or 1024 pixels long,
// horizontal (Plank) or vertical (Spire), with marks every 2, 10, 50 and 100 pixels, numbers,
// a marker that follows the mouse pointer with its offset from the zero end, and moves by drag
// and arrow keys. Its face is drawn by code through the software graphics device.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "toolkit/window/window.h"

namespace rulers {

enum class TOrientation { Horizontal, Vertical };

// The face in ruler coordinates: "along" runs from the left (horizontal) or top (vertical) end
// of the window, "across" from the long edge that carries the marks (top or left).
inline constexpr int Thickness = 40;
// The lengths of the marks across the ruler.
inline constexpr int TinyMark = 3;     // every 2 pixels
inline constexpr int LittleMark = 6;   // every 10
inline constexpr int MediumMark = 10;  // every 50
inline constexpr int BigMark = 14;     // every 100
// Where the numbers begin across the ruler.
inline constexpr int NumberAcross = 16;
// The width of the bar that marks the zero end.
inline constexpr int ZeroBar = 2;

// The colours of the face (TColor: red in the low byte).
inline constexpr tk::TColor FaceColor = 0x80E8FF;  // pale yellow
inline constexpr tk::TColor InkColor = 0x000000;
inline constexpr tk::TColor ZeroColor = 0x0000FF;    // red
inline constexpr tk::TColor MarkerColor = 0xFF0000;  // blue
inline constexpr tk::TColor ReadoutColor = 0xFFFFFF;

// The length of the mark at an offset from the zero end; 0 where there is none.
int MarkLength(int offset);
// The step of an arrow key under the modifier keys held, by the gadget's rule: Ctrl 5 pixels,
// Ctrl and Shift 15, anything else 1.
int StepFor(tk::TShiftState shift);

class TRuler : public tk::TForm {
 public:
  // The window is sized and stays on top; it is shown by the message loop.
  TRuler(TOrientation orientation, int length, const std::string& caption);

  TOrientation Orientation() const { return orientation_; }
  int Length() const { return length_; }
  // Whether the zero end is the right (horizontal) or bottom (vertical) end.
  bool Reversed() const { return reversed_; }
  // The offset from the zero end of the pixel at `along`; the same formula maps an offset back
  // to its pixel.
  int OffsetAt(int along) const { return reversed_ ? length_ - 1 - along : along; }
  // The marker's pixel along the ruler while the pointer is over it.
  std::optional<int> Marker() const;

  // A number on the face: its offset and its rectangle in window coordinates.
  struct TNumber {
    int offset;
    tk::TRect rect;
  };
  // The numbers drawn: every 100 pixels and every 50, each where it fits on the face, clear of
  // the ends and of the close mark.
  std::vector<TNumber> Numbers() const;
  // The rectangle of the marker's read-out, in window coordinates (only while a marker shows).
  tk::TRect Readout() const;
  // The close mark, in window coordinates.
  tk::TRect CloseMark() const;

  // Turns the reading direction round: zero at the other end.
  void Reverse();

  // Handlers: a left press on the face drags the ruler, on the close mark arms it, and its
  // release there closes; a right press reverses; moves place the marker; arrow keys move the
  // ruler; R reverses; Esc and Q close.
  void FormMouseDown(tk::TControl* Sender, tk::TMouseButton Button, tk::TShiftState Shift, int X,
                     int Y);
  void FormMouseUp(tk::TControl* Sender, tk::TMouseButton Button, tk::TShiftState Shift, int X,
                   int Y);
  void FormMouseMove(tk::TControl* Sender, tk::TShiftState Shift, int X, int Y);
  void FormKeyDown(tk::TControl* Sender, std::uint16_t& Key, tk::TShiftState Shift);

  void Paint(tk::TCanvas& canvas) override;

 private:
  // A rectangle in ruler coordinates as window coordinates.
  tk::TRect ToWindow(int along, int across, int alongSize, int acrossSize) const;
  int AlongOf(tk::TPoint p) const { return orientation_ == TOrientation::Horizontal ? p.X : p.Y; }
  bool Inside(tk::TPoint p) const { return p.X >= 0 && p.Y >= 0 && p.X < Width && p.Y < Height; }
  void MoveBy(int dx, int dy);
  void SetPointer(std::optional<tk::TPoint> p);

  TOrientation orientation_;
  int length_;
  bool reversed_ = false;
  // The pointer in window coordinates, as last seen.
  std::optional<tk::TPoint> pointer_;
  bool closeArmed_ = false;
};

}  // namespace rulers
