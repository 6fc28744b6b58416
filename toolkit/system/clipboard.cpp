// The clipboard object: copying graphics to the clipboard store and pasting from it.
#include "toolkit/system/clipboard.h"

#include "toolkit/core/exceptions.h"
#include "toolkit/core/graphic.h"
#include "toolkit/core/picture.h"

namespace tk {

namespace {
// The palette slot of the clipboard (declared with the bitmap class as CF_PALETTE).
constexpr TClipboardFormat kPaletteFormat = 9;
}  // namespace

// ---- TClipboard

void TClipboard::Open() {
  if (openCount_ == 0) {
    if (!OpenClipboard()) throw EClipboardError(std::string(SCannotOpenClipboard));
    emptied_ = false;
  }
  ++openCount_;
}

void TClipboard::Close() {
  if (openCount_ == 0) return;
  if (--openCount_ == 0) CloseClipboard();
}

namespace {
// Keeps the clipboard object open for a scope.
struct OpenScope {
  TClipboard& clipboard;
  explicit OpenScope(TClipboard& c) : clipboard(c) { clipboard.Open(); }
  ~OpenScope() { clipboard.Close(); }
};
}  // namespace

void TClipboard::Adding() {
  if (openCount_ > 0 && !emptied_) {
    EmptyClipboard();
    emptied_ = true;
  }
}

void TClipboard::Clear() {
  OpenScope open(*this);
  EmptyClipboard();
}

THandle TClipboard::GetAsHandle(TClipboardFormat format) {
  OpenScope open(*this);
  return GetClipboardData(format);
}

void TClipboard::SetAsHandle(TClipboardFormat format, THandle data) {
  OpenScope open(*this);
  Adding();
  if (SetClipboardData(format, data) == 0) ReleaseClipboardData(format, data);
}

void TClipboard::CopyGraphic(TGraphic& graphic) {
  OpenScope open(*this);
  Adding();
  TClipboardFormat format = 0;
  THandle data = 0;
  HPALETTE palette = nullptr;
  // The graphic may put further formats on the clipboard itself. Outputs it filled before a
  // failure are released, not lost.
  try {
    graphic.ToClipboard(format, data, palette);
  } catch (...) {
    if (data != 0) ReleaseClipboardData(format, data);
    if (palette) ReleaseClipboardData(kPaletteFormat, reinterpret_cast<THandle>(palette));
    throw;
  }
  if (data != 0 && SetClipboardData(format, data) == 0) ReleaseClipboardData(format, data);
  if (palette) {
    const THandle handle = reinterpret_cast<THandle>(palette);
    if (SetClipboardData(kPaletteFormat, handle) == 0) ReleaseClipboardData(kPaletteFormat, handle);
  }
}

void TClipboard::PasteInto(TPicture& picture) {
  OpenScope open(*this);
  for (TClipboardFormat f = EnumClipboardFormats(0); f != 0; f = EnumClipboardFormats(f)) {
    if (!TPicture::SupportsClipboardFormat(f)) continue;
    picture.LoadFromClipboardFormat(f, GetClipboardData(f),
                                    reinterpret_cast<HPALETTE>(GetClipboardData(kPaletteFormat)));
    return;
  }
  throw EInvalidGraphic(std::string(SUnknownClipboardFormat));
}

void TClipboard::TakeFrom(TPersistent* source) {
  if (auto* picture = dynamic_cast<TPicture*>(source)) {
    if (picture->Graphic()) CopyGraphic(*picture->Graphic());
    else Clear();
    return;
  }
  if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
    CopyGraphic(*graphic);
    return;
  }
  TPersistent::TakeFrom(source);
}

void TClipboard::GiveTo(TPersistent* target) {
  if (auto* picture = dynamic_cast<TPicture*>(target)) {
    PasteInto(*picture);
    return;
  }
  TPersistent::GiveTo(target);
}

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}

}  // namespace tk
