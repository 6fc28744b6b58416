// Start-up of the drawing routines: the hand and drag cursors, kept as cursor files among the
// program's own resources and registered with the screen.
#include <array>
#include <string_view>

#include "gif/draw.h"
#include "gif/gif.h"
#include "toolkit/core/bytes.h"
#include "toolkit/system/library.h"
#include "toolkit/core/screen.h"

namespace gif {

namespace {

constexpr int kSide = 32;

// A cursor image: 'X' black, '.' white, anything else transparent; rows not given are
// transparent.
struct CursorArt {
  const char* resource;
  int id;
  int hotX, hotY;
  std::array<std::string_view, 22> rows;
};

// clang-format off
constexpr CursorArt kHand{"GIFHANDCURSOR", crGifHand, 5, 0, {
    "     XX",
    "    X..X",
    "    X..X",
    "    X..X",
    "    X..X",
    "    X..XXX",
    "    X..X..XXX",
    "    X..X..X..XX",
    "    X..X..X..X.X",
    "XX  X..X..X..X..X",
    "X..XX........X..X",
    "X...X...........X",
    " X..............X",
    "  X.............X",
    "  X.............X",
    "   X...........X",
    "   X...........X",
    "    X.........X",
    "    X.........X",
    "     X.......X",
    "     X.......X",
    "     XXXXXXXXX",
}};

constexpr CursorArt kDrag{"GIFDRAGCURSOR", crGifDrag, 8, 8, {
    "",
    "",
    "",
    "    XX XX XX",
    "   X..X..X..XX",
    "   X........X.X",
    "    X..........X",
    "   XX..........X",
    "  X.X..........X",
    "  X............X",
    "  X...........X",
    "   X..........X",
    "    X.........X",
    "     X.......X",
    "     X.......X",
    "     XXXXXXXXX",
}};
// clang-format on

// A cursor file of one 32 x 32 image at 1 bit: black and white, and its AND mask (1 where the
// screen shows through).
std::vector<std::uint8_t> CursorFile(const CursorArt& art) {
  constexpr std::uint32_t kRowBytes = 4;
  constexpr std::uint32_t kImageBytes = 40 + 8 + 2 * kRowBytes * kSide;
  std::vector<std::uint8_t> out;
  tk::AppendU16(out, 0);  // reserved
  tk::AppendU16(out, 2);  // a cursor file
  tk::AppendU16(out, 1);  // one image
  out.push_back(kSide);
  out.push_back(kSide);
  out.push_back(2);  // colours
  out.push_back(0);
  tk::AppendU16(out, static_cast<unsigned>(art.hotX));
  tk::AppendU16(out, static_cast<unsigned>(art.hotY));
  tk::AppendU32(out, kImageBytes);
  tk::AppendU32(out, 6 + 16);
  // The image: its header (twice the height: colours and mask), black and white, then the rows
  // of the colours and of the mask, bottom row first.
  tk::AppendU32(out, 40);
  tk::AppendU32(out, kSide);
  tk::AppendU32(out, 2 * kSide);
  tk::AppendU16(out, 1);
  tk::AppendU16(out, 1);
  for (int i = 0; i < 6; ++i) tk::AppendU32(out, 0);
  tk::AppendU32(out, 0x000000);
  tk::AppendU32(out, 0xFFFFFF);
  for (int plane = 0; plane < 2; ++plane) {
    for (int y = kSide - 1; y >= 0; --y) {
      std::uint32_t bits = 0;
      const std::string_view row =
          y < static_cast<int>(art.rows.size()) ? art.rows[static_cast<std::size_t>(y)] : "";
      for (int x = 0; x < kSide; ++x) {
        const char c = x < static_cast<int>(row.size()) ? row[static_cast<std::size_t>(x)] : ' ';
        const bool set = plane == 0 ? c == '.' : c != 'X' && c != '.';
        if (set) bits |= 0x80000000u >> x;
      }
      for (int k = 3; k >= 0; --k) out.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
    }
  }
  return out;
}

}  // namespace

void InitDrawingRoutines() {
  for (const CursorArt* art : {&kHand, &kDrag}) {
    tk::RegisterOwnResource(tk::RT_RCDATA, art->resource, CursorFile(*art));
    const tk::TResourceData data = tk::LoadResource(nullptr, art->resource, tk::RT_RCDATA);
    tk::Screen().RegisterCursor(art->id, {data.Bytes.begin(), data.Bytes.end()});
  }
}

}  // namespace gif
