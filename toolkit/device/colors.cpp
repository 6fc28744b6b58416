#include "toolkit/device/colors.h"

#include <array>

namespace tk {

COLORREF GetSysColor(int index) {
  static constexpr std::array<COLORREF, 31> kScheme = {
      RGB(192, 192, 192),  // scroll bar
      RGB(0, 128, 128),    // desktop
      RGB(0, 0, 128),      // active caption
      RGB(128, 128, 128),  // inactive caption
      RGB(192, 192, 192),  // menu
      RGB(255, 255, 255),  // window background
      RGB(0, 0, 0),        // window frame
      RGB(0, 0, 0),        // menu text
      RGB(0, 0, 0),        // window text
      RGB(255, 255, 255),  // caption text
      RGB(192, 192, 192),  // active border
      RGB(192, 192, 192),  // inactive border
      RGB(128, 128, 128),  // application workspace
      RGB(0, 0, 128),      // highlight
      RGB(255, 255, 255),  // highlight text
      RGB(192, 192, 192),  // button face
      RGB(128, 128, 128),  // button shadow
      RGB(128, 128, 128),  // grey text
      RGB(0, 0, 0),        // button text
      RGB(192, 192, 192),  // inactive caption text
      RGB(255, 255, 255),  // button highlight
      RGB(0, 0, 0),        // 3-D dark shadow
      RGB(223, 223, 223),  // 3-D light
      RGB(0, 0, 0),        // tooltip text
      RGB(255, 255, 225),  // tooltip background
      RGB(192, 192, 192),  // (unused)
      RGB(0, 0, 128),      // hot-tracked item
      RGB(16, 132, 208),   // gradient of the active caption
      RGB(181, 181, 181),  // gradient of the inactive caption
      RGB(0, 0, 128),      // menu highlight
      RGB(192, 192, 192),  // menu bar
  };
  if (index < 0 || index >= static_cast<int>(kScheme.size())) return 0;
  return kScheme[static_cast<std::size_t>(index)];
}

COLORREF ColorToRGB(TColor color) {
  if (color & 0x80000000u) return GetSysColor(static_cast<int>(color & 0xFF));
  return color;
}

}  // namespace tk
