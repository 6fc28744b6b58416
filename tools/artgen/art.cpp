#include "tools/artgen/art.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace artgen {

namespace {

constexpr double Pi = std::numbers::pi;

// A point at a distance from the dial's centre, at an angle in degrees clockwise from the top.
std::pair<double, double> Polar(double radius, double degrees) {
  double a = degrees * Pi / 180.0;
  return {CentreX + radius * std::sin(a), CentreY - radius * std::cos(a)};
}

double Distance(int x, int y) { return std::hypot(x - CentreX, y - CentreY); }

// A line of the given width from one point to another (pixel centres inside the band).
void Line(Picture& p, double x0, double y0, double x1, double y1, Ink c, double width = 1.0) {
  double dx = x1 - x0, dy = y1 - y0;
  double length = std::hypot(dx, dy);
  int steps = int(std::ceil(length * 2)) + 1;
  int reach = int(std::ceil(width / 2));
  for (int i = 0; i <= steps; ++i) {
    double t = double(i) / steps;
    double x = x0 + dx * t, y = y0 + dy * t;
    if (width <= 1.0) {
      p.Set(int(std::lround(x)), int(std::lround(y)), c);
      continue;
    }
    for (int oy = -reach; oy <= reach; ++oy)
      for (int ox = -reach; ox <= reach; ++ox) {
        int px = int(std::lround(x)) + ox, py = int(std::lround(y)) + oy;
        if (std::hypot(px - x, py - y) <= width / 2) p.Set(px, py, c);
      }
  }
}

// Fills the polygon (even-odd rule at pixel centres).
void Polygon(Picture& p, const std::vector<std::pair<double, double>>& pts, Ink c) {
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      double px = x + 0.5, py = y + 0.5;
      bool in = false;
      for (std::size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
        auto [xi, yi] = pts[i];
        auto [xj, yj] = pts[j];
        if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) in = !in;
      }
      if (in) p.Set(x, y, c);
    }
}

void Rect(Picture& p, int left, int top, int right, int bottom, Ink c) {
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) p.Set(x, y, c);
}

// A 3 x 5 pixel font of the ten digits, one row of three bits per entry, top row first.
constexpr std::uint16_t DigitRows[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

// Draws a number centred on a point.
void Number(Picture& p, int value, double cx, double cy, Ink c) {
  std::string text = std::to_string(value);
  int width = int(text.size()) * 4 - 1;
  int left = int(std::lround(cx - width / 2.0)), top = int(std::lround(cy - 2.5));
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto& rows = DigitRows[text[i] - '0'];
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 3; ++x)
        if (rows[y] & (4 >> x)) p.Set(left + int(i) * 4 + x, top + y, c);
  }
}

// ---- Glyphs: 16 x 16 on silver.
//
// A button of 15 x 13 or 15 x 14 pixels centres its 16 x 16 glyph one pixel up and cuts it; its
// edge (two pixels on the right and at the bottom, one on the left and at the top, a pixel more
// while pressed) covers the glyph's rim. What a glyph draws lies inside the face: glyph columns
// 1 to 12 and rows 2 to 11 (to 12 on the 14-pixel ruler buttons).
constexpr int FaceLeft = 1, FaceRight = 13, FaceTop = 2, FaceBottom = 12;  // right, bottom: past
constexpr double FaceMidX = (FaceLeft + FaceRight) / 2.0, FaceMidY = (FaceTop + FaceBottom) / 2.0;

enum Direction { Left, Right, Up, Down };

void Arrowhead(Picture& g, int ox, Direction d, Ink c) {
  // A triangle filling the face: its tip a pixel in from one side, its base a pixel in from the
  // other (the polygon is filled at pixel centres).
  const double l = FaceLeft + 0.5, r = FaceRight - 0.5, t = FaceTop + 0.5, b = FaceBottom - 0.5;
  std::vector<std::pair<double, double>> pts;
  switch (d) {
    case Left: pts = {{l, FaceMidY}, {r, t}, {r, b}}; break;
    case Right: pts = {{r, FaceMidY}, {l, t}, {l, b}}; break;
    case Up: pts = {{FaceMidX, t}, {l, b}, {r, b}}; break;
    case Down: pts = {{FaceMidX, b}, {l, t}, {r, t}}; break;
  }
  for (auto& [x, y] : pts) x += ox;
  Polygon(g, pts, c);
}

Picture ArrowGlyph(Direction d) {
  Picture g(32, 16, Silver);  // the disabled glyph on the right stays empty
  Arrowhead(g, 0, d, Blue);
  return g;
}

Picture QuitGlyph() {
  Picture g(32, 16, Silver);
  // Two strokes corner to corner of the face's middle square, red with a yellow edge. Lines
  // are drawn at pixel centres: the face's middle pixel lies half a pixel up and left.
  const double a = FaceMidX - 3.5, b = FaceMidX + 2.5, top = FaceMidY - 3.5, bottom = FaceMidY + 2.5;
  Line(g, a, top, b, bottom, Yellow, 3.2);
  Line(g, b, top, a, bottom, Yellow, 3.2);
  Line(g, a, top, b, bottom, Red, 1.6);
  Line(g, b, top, a, bottom, Red, 1.6);
  return g;
}

Picture OnTopGlyph() {
  Picture g(32, 16, Silver);
  for (int half = 0; half < 2; ++half) {
    int ox = half * 16;
    Polygon(g, {{ox + FaceMidX + 1, FaceBottom - 0.5}, {ox + FaceLeft + 3.5, FaceTop + 3.5},
                {ox + FaceRight - 1.5, FaceTop + 3.5}},
            Blue);
    for (int i = FaceLeft; i < FaceRight; i += 3) g.Set(ox + i, FaceTop, Blue);
    for (int i = FaceTop; i < FaceBottom; i += 3) g.Set(ox + FaceLeft, i, Blue);
  }
  // The disabled glyph carries a small yellow tick at the top right.
  Line(g, 16 + 8, FaceTop + 2, 16 + 9, FaceTop + 3, Yellow);
  Line(g, 16 + 9, FaceTop + 3, 16 + 12, FaceTop, Yellow);
  return g;
}

Picture RulerGlyph(bool upright) {
  Picture g(16, 16, Silver);
  // Along the ruler: the face's columns (1 to 12), or its rows (2 to 12) when upright.
  const int first = upright ? FaceTop : FaceLeft, last = upright ? FaceBottom : FaceRight - 1;
  const int mid = int(upright ? FaceMidX : FaceMidY);
  auto put = [&](int along, int across, Ink c) {
    if (upright)
      g.Set(across, along, c);
    else
      g.Set(along, across, c);
  };
  for (int a = first; a <= last; ++a)
    for (int b = mid - 3; b < mid + 3; ++b) put(a, b, a <= first + 1 || a >= last - 1 ? Blue : Yellow);
  for (int a = first + 3; a <= last - 3; a += 2)
    for (int b = mid - 3; b < mid + ((a - first) % 4 == 3 ? 1 : -1); ++b) put(a, b, Blue);
  return g;
}

// A button as it appears on the dial: a small silver plate with a dark edge and its glyph.
void ButtonPicture(Picture& dial, const ButtonArt& b) {
  Rect(dial, b.left, b.top, b.left + b.width, b.top + b.height, Silver);
  for (int x = b.left; x < b.left + b.width; ++x) {
    dial.Set(x, b.top, White);
    dial.Set(x, b.top + b.height - 1, DarkGrey);
  }
  for (int y = b.top; y < b.top + b.height; ++y) {
    dial.Set(b.left, y, White);
    dial.Set(b.left + b.width - 1, y, DarkGrey);
  }
  int gx = b.left + (b.width - 16) / 2, gy = b.top + (b.height - 16) / 2;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      Ink c = b.glyph.At(x, y);
      int px = gx + x, py = gy + y;
      if (c != Silver && px > b.left && px < b.left + b.width - 1 && py > b.top &&
          py < b.top + b.height - 1)
        dial.Set(px, py, c);
    }
}

}  // namespace

std::vector<ButtonArt> Buttons() {
  std::vector<ButtonArt> b;
  b.push_back({"BitBtn1", 83, 136, 15, 13, ArrowGlyph(Left)});
  b.push_back({"BitBtn2", 100, 136, 15, 13, ArrowGlyph(Right)});
  b.push_back({"BitBtn3", 138, 136, 15, 13, ArrowGlyph(Up)});
  b.push_back({"BitBtn4", 155, 136, 15, 13, ArrowGlyph(Down)});
  b.push_back({"BitBtn6", 100, 100, 15, 13, QuitGlyph()});
  b.push_back({"BitBtn7", 83, 100, 15, 13, OnTopGlyph()});
  b.push_back({"BitBtn5", 138, 99, 15, 14, RulerGlyph(false)});
  b.push_back({"BitBtn8", 155, 99, 15, 14, RulerGlyph(true)});
  return b;
}

Picture Dial() {
  Picture p(DialWidth, DialHeight, White);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      double d = Distance(x, y);
      if (d <= OuterRadius && d >= InnerRadius) p.Set(x, y, Yellow);
      if (std::abs(d - OuterRadius) < 0.6 || std::abs(d - InnerRadius) < 0.6) p.Set(x, y, Black);
    }
  // Ticks every 2 degrees, longer every 10, and the labels 0 to 350 clockwise from the top.
  for (int deg = 0; deg < 360; deg += 2) {
    double inner = OuterRadius - (deg % 10 == 0 ? 10 : 5);
    auto [x0, y0] = Polar(OuterRadius, deg);
    auto [x1, y1] = Polar(inner, deg);
    Line(p, x0, y0, x1, y1, Black);
  }
  for (int deg = 0; deg < 360; deg += 10) {
    auto [x, y] = Polar(InnerRadius + 9, deg);
    Number(p, deg, x, y, Black);
  }
  // The face: radial lines every 10 degrees, and dashed red-and-blue diameters.
  for (int deg = 0; deg < 360; deg += 10) {
    if (deg % 90 == 0) continue;
    auto [x0, y0] = Polar(30, deg);
    auto [x1, y1] = Polar(InnerRadius, deg);
    Line(p, x0, y0, x1, y1, Black);
  }
  const int r = int(InnerRadius) - 1;
  for (int i = -r; i <= r; ++i) {
    Ink c = ((i + r) / 6) % 2 == 0 ? Red : Blue;
    p.Set(int(CentreX) + i, int(CentreY), c);
    p.Set(int(CentreX), int(CentreY) + i, c);
  }
  for (const ButtonArt& b : Buttons()) ButtonPicture(p, b);
  return p;
}

Picture MaskB() {
  Picture p(DialWidth, DialHeight, Black);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      if (Distance(x, y) > OuterRadius + 0.5) p.Set(x, y, White);
  return p;
}

Picture MaskC() {
  Picture p = MaskB();
  // The face is cut away, so the screen shows through; the button cluster stays.
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      bool cluster = x >= 81 && x < 172 && y >= 97 && y < 151;
      if (Distance(x, y) < InnerRadius - 0.5 && !cluster) p.Set(x, y, White);
    }
  return p;
}

Picture Pointer(const std::string& name) {
  // The dial's scale (its ring with the ticks and labels, and what lies outside it) around a
  // see-through face; the pointer lies on the face, its tip at the ring's inner edge, so that the
  // angles stay readable while a pointer is shown.
  const Picture dial = Dial();
  Picture p(249, 249, Clear);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      if (Distance(x, y) > InnerRadius - 0.6) p.Set(x, y, dial.At(x, y));
  const char side = name.back();
  const double deg = side == 'T' ? 0 : side == 'R' ? 90 : side == 'B' ? 180 : 270;
  const bool needle = name.size() == 2;
  auto [tx, ty] = Polar(InnerRadius - 1, deg);
  if (needle) {
    auto [lx, ly] = Polar(8, deg - 90);
    auto [rx, ry] = Polar(8, deg + 90);
    auto [bx, by] = Polar(20, deg + 180);
    Polygon(p, {{tx, ty}, {lx, ly}, {bx, by}, {rx, ry}}, Red);
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x)
        if (Distance(x, y) <= 5) p.Set(x, y, Black);
  } else {
    // An arrow: a hub ring, a shaft that ends where the head begins, and the head.
    constexpr double HeadLength = 22;
    auto [sx, sy] = Polar(14, deg);
    auto [hx, hy] = Polar(InnerRadius - 1 - HeadLength, deg);
    Line(p, sx, sy, hx, hy, Blue, 3.0);
    auto [lx, ly] = Polar(10, deg - 90);
    auto [rx, ry] = Polar(10, deg + 90);
    Polygon(p, {{tx, ty}, {hx + lx - CentreX, hy + ly - CentreY}, {hx + rx - CentreX, hy + ry - CentreY}},
            Blue);
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        double d = Distance(x, y);
        if (d <= 14 && d >= 11) p.Set(x, y, Blue);
      }
  }
  return p;
}

std::vector<std::uint8_t> Icon(int size) {
  const Picture dial = Dial();
  const Picture mask = MaskB();
  // The square around the outline, sampled on an n x n grid per icon pixel: fine enough that
  // every dial pixel is seen at the smallest size too.
  const double side = 2 * (OuterRadius + 1);
  const double left = CentreX + 0.5 - side / 2, top = CentreY + 0.5 - side / 2;
  const int n = std::max(4, 2 * int(std::ceil(side / size)));
  const double step = side / size / n;
  std::vector<std::uint8_t> rgba(std::size_t(size) * size * 4);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      std::uint32_t sum[3] = {0, 0, 0};
      std::uint32_t inside = 0;
      for (int sy = 0; sy < n; ++sy)
        for (int sx = 0; sx < n; ++sx) {
          const int px = int(std::floor(left + (x * n + sx + 0.5) * step));
          const int py = int(std::floor(top + (y * n + sy + 0.5) * step));
          if (px < 0 || py < 0 || px >= dial.width || py >= dial.height || mask.At(px, py) == White)
            continue;
          const std::uint32_t rgb = Palette[dial.At(px, py)];
          sum[0] += rgb >> 16 & 0xFF;
          sum[1] += rgb >> 8 & 0xFF;
          sum[2] += rgb & 0xFF;
          ++inside;
        }
      std::uint8_t* out = &rgba[(std::size_t(y) * size + x) * 4];
      if (inside == 0) continue;
      for (int c = 0; c < 3; ++c) out[c] = std::uint8_t((sum[c] + inside / 2) / inside);
      out[3] = std::uint8_t((inside * 255 + n * n / 2) / (n * n));
    }
  return rgba;
}

}  // namespace artgen
