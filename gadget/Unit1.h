// The gadget window: a shaped, borderless dial with edge areas and small bitmap buttons, and the
// seven variables its event handlers share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/core/handles.h"
#include "toolkit/window/window.h"

namespace tk {
class TBitmap;
}

namespace gadget {

// ---- Shared state, read and written only by the window's event handlers.
// 0: normal stacking; 1: the window stays on top.
extern std::int32_t OnTopState;
// 1: the nudge buttons move by StepSize; any other value: by 1 pixel.
extern std::int32_t StepMode;
extern std::int32_t StepSize;
// The mask bitmap of Mantle.dll that gives the outline.
extern std::string MaskName;
// The pointer picture of Vanes.dll last selected.
extern std::string PointerName;
// The text whose digits choose the next pointer picture; empty between selections.
extern std::string PickSource;
// The mask the next right press on the dial selects: non-zero "C", zero "B".
extern std::int32_t AltMaskState;
// Puts the seven variables back to their values at start-up.
void ResetSharedState();

// The characters '0' to '9' of the text, in order.
std::string DigitsOnly(std::string_view text);

// The full rectangle of the bitmap less its pure white pixels. The caller owns the region.
tk::HRGN RegionFromMask(tk::TBitmap& mask);

class TForm1 : public tk::TForm {
 public:
  // Builds the window and its controls in creation order; the create event is not run yet.
  TForm1();

  tk::TImage* Image2;
  tk::TImage* Image5;
  tk::TImage* Image6;
  tk::TImage* Image8;
  tk::TImage* Image7;
  tk::TBitBtn* BitBtn1;
  tk::TBitBtn* BitBtn2;
  tk::TBitBtn* BitBtn3;
  tk::TBitBtn* BitBtn4;
  tk::TBitBtn* BitBtn6;
  tk::TBitBtn* BitBtn7;
  tk::TBitBtn* BitBtn5;
  tk::TBitBtn* BitBtn8;

  // Outline (mask in Mantle.dll).
  void FormCreate(tk::TControl* Sender);
  void Image2MouseDown(tk::TControl* Sender, tk::TMouseButton Button, tk::TShiftState Shift,
                       int X, int Y);
  // Moving.
  void FormMouseDown(tk::TControl* Sender, tk::TMouseButton Button, tk::TShiftState Shift, int X,
                     int Y);
  void FormKeyDown(tk::TControl* Sender, std::uint16_t& Key, tk::TShiftState Shift);
  void FormKeyUp(tk::TControl* Sender, std::uint16_t& Key, tk::TShiftState Shift);
  void BitBtn1Click(tk::TControl* Sender);
  void BitBtn2Click(tk::TControl* Sender);
  void BitBtn3Click(tk::TControl* Sender);
  void BitBtn4Click(tk::TControl* Sender);
  void BitBtn1Exit(tk::TControl* Sender);
  void BitBtn2Exit(tk::TControl* Sender);
  void BitBtn3Exit(tk::TControl* Sender);
  void BitBtn4Exit(tk::TControl* Sender);
  void BitBtn7Click(tk::TControl* Sender);
  void BitBtn7Exit(tk::TControl* Sender);
  void BitBtn6Click(tk::TControl* Sender);
  // Pointer pictures (Vanes.dll).
  void BitBtn6MouseUp(tk::TControl* Sender, tk::TMouseButton Button, tk::TShiftState Shift, int X,
                      int Y);
  void Image8DblClick(tk::TControl* Sender);
  // Rulers.
  void BitBtn5Click(tk::TControl* Sender);
  void BitBtn5Exit(tk::TControl* Sender);
  void BitBtn8Click(tk::TControl* Sender);
  void BitBtn8Exit(tk::TControl* Sender);

 private:
  // Moves the window by the step and puts the cursor back on the button, at its offset.
  void Nudge(tk::TBitBtn* button, int dx, int dy, int cursorX, int cursorY);
  // Starts the preferred ruler program when its file exists, else the fallback.
  void Launch(tk::TBitBtn* button, const char* preferred, const char* fallback);
};

// The one window.
extern TForm1* Form1;

}  // namespace gadget
