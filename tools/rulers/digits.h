// A small digit font drawn by code: each digit is built from the strokes of a seven-segment
// figure in a cell of 5 x 7 pixels, so the program needs no font files.
#pragma once

#include "toolkit/device/canvas.h"

namespace rulers {

inline constexpr int DigitWidth = 5;
inline constexpr int DigitHeight = 7;
// Pixels between two digits of a number.
inline constexpr int DigitGap = 1;

// The width in pixels of a number (not negative) in decimal digits.
int NumberWidth(int number);
// Draws the decimal digits of a number (not negative) with their top-left corner at (x, y).
void DrawNumber(tk::TCanvas& canvas, int x, int y, int number, tk::TColor color);

}  // namespace rulers
