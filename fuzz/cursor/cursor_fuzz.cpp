// Feeds arbitrary bytes to the animated cursor reader; a cursor that loads is copied and handed
// to an icon, an icon list and, when small, a bitmap strip.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cursor/cursor.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cursor::TAnimatedCursorImage ani;
  try {
    tk::TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
    ani.LoadStream(stream);
  } catch (const tk::Exception&) {
    return 0;
  }
  cursor::TAnimatedCursorImage copy;
  copy.TakeFrom(&ani);
  tk::TIcon icon;
  copy.GiveTo(&icon);
  cursor::TIconList list;
  copy.GiveTo(&list);
  if (static_cast<long>(copy.FrameCount()) * icon.Width() * icon.Height() <= 64 * 64 * 8) {
    tk::TBitmap strip;
    copy.GiveTo(&strip);
    copy.DrawStrip(strip, 0xFF00FF, false, true);
  }
  return 0;
}
