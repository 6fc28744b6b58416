#include "tools/rulers/digits.h"

#include <string>

namespace rulers {

namespace {

// The segments of a seven-segment figure, as bits: a top, b upper right, c lower right,
// d bottom, e lower left, f upper left, g middle.
enum Segment : unsigned { a = 1, b = 2, c = 4, d = 8, e = 16, f = 32, g = 64 };
constexpr unsigned Segments[10] = {
    a | b | c | d | e | f,      // 0
    0,                          // 1: a stroke of its own (DrawDigit)
    a | b | d | e | g,          // 2
    a | b | c | d | g,          // 3
    b | c | f | g,              // 4
    a | c | d | f | g,          // 5
    a | c | d | e | f | g,      // 6
    a | b | c,                  // 7
    a | b | c | d | e | f | g,  // 8
    a | b | c | d | f | g,      // 9
};

void Fill(tk::TCanvas& canvas, int left, int top, int width, int height) {
  canvas.FillRect({left, top, left + width, top + height});
}

void DrawDigit(tk::TCanvas& canvas, int x, int y, int digit) {
  constexpr int w = DigitWidth, h = DigitHeight, mid = DigitHeight / 2;
  if (digit == 1) {
    // A one is a single stroke in the middle of its cell, with a short flag.
    Fill(canvas, x + w / 2, y, 1, h);
    Fill(canvas, x + w / 2 - 1, y + 1, 1, 1);
    return;
  }
  const unsigned s = Segments[digit];
  if (s & a) Fill(canvas, x, y, w, 1);
  if (s & g) Fill(canvas, x, y + mid, w, 1);
  if (s & d) Fill(canvas, x, y + h - 1, w, 1);
  if (s & f) Fill(canvas, x, y, 1, mid + 1);
  if (s & b) Fill(canvas, x + w - 1, y, 1, mid + 1);
  if (s & e) Fill(canvas, x, y + mid, 1, h - mid);
  if (s & c) Fill(canvas, x + w - 1, y + mid, 1, h - mid);
}

}  // namespace

int NumberWidth(int number) {
  const int digits = int(std::to_string(number).size());
  return digits * DigitWidth + (digits - 1) * DigitGap;
}

void DrawNumber(tk::TCanvas& canvas, int x, int y, int number, tk::TColor color) {
  canvas.Brush().Color = color;
  for (char ch : std::to_string(number)) {
    DrawDigit(canvas, x, y, ch - '0');
    x += DigitWidth + DigitGap;
  }
}

}  // namespace rulers
