// Frames as bitmaps, and the drawing of frames and pictures.
#include "gif/gif.h"
#include "toolkit/bitmap.h"

namespace gif {

tk::TBitmap* TGIFFrame::BuildBitmap() {
  if (BuiltBitmap && !BuiltBitmap->IsEmpty()) return BuiltBitmap.get();
  NewBitmap();
  if (!Encoded->HasPixelData()) return BuiltBitmap.get();
  tk::TMemoryStream image;
  DecodeToDIB(image);
  BuiltBitmap->LoadStream(image);
  return BuiltBitmap.get();
}

void TGIFFrame::GiveTo(tk::TPersistent* target) { TPersistent::GiveTo(target); }
void TGIFFrame::DrawFrame(tk::TCanvas&, const tk::TRect&, bool) {}
void TGIFImage::GiveTo(tk::TPersistent* target) { TPersistent::GiveTo(target); }
void TGIFImage::DrawInRect(tk::TCanvas&, const tk::TRect&) {}

}  // namespace gif
