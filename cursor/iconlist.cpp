#include "cursor/cursor.h"

#include "toolkit/system/clipboard.h"

namespace cursor {

void TIconList::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0 && changed_) {
    changed_ = false;
    if (OnChange) OnChange(this);
  }
}

void TIconList::Changed() {
  if (updateCount_ > 0)
    changed_ = true;
  else if (OnChange)
    OnChange(this);
}

void TIconList::Clear() {
  icons_.Clear();
  Changed();
}

int TIconList::Add(tk::TIcon* icon) {
  auto copy = std::make_unique<tk::TIcon>();
  copy->TakeFrom(icon);
  const int index = icons_.Add(std::move(copy));
  Changed();
  return index;
}

namespace {
tk::TClipboardFormat iconListFormat = 0;
}

tk::TClipboardFormat IconListClipboardFormat() { return iconListFormat; }

void InitializeCursor() {
  if (iconListFormat == 0) iconListFormat = tk::RegisterClipboardFormatA("Protractor Icon List");
}

}  // namespace cursor
