// Frames as bitmaps, the drawing of frames and pictures, and the keyed stretch drawing.
#include "gif/draw.h"

#include "gif/decoder.h"
#include "gif/gif.h"

namespace gif {

// ---- Frames and pictures

tk::TBitmap* TGIFFrame::BuildBitmap() {
  if (BuiltBitmap && !BuiltBitmap->IsEmpty()) return BuiltBitmap.get();
  NewBitmap();
  const TGIFItem& item = *Encoded;
  if (!item.HasPixelData()) return BuiltBitmap.get();
  try {
    // A 2-colour frame stays a 1-bit bitmap; any other becomes a 32-bit device bitmap. Quirk: one
    // the device cannot hold is refused before any decoding, naming its size.
    // Test: BuildBitmap.FramesTheDeviceCannotHoldAreRefusedBeforeDecoding.
    const int bits = RowDepthFor(item.BitDepth) == 1 ? 1 : 32;
    if (item.ItemWidth == 0 || item.ItemHeight == 0)
      throw tk::EInvalidGraphicOperation(
          tk::Format(SImageEmpty, {std::int64_t{item.ItemWidth}, std::int64_t{item.ItemHeight}}));
    if (item.ItemWidth >= 0 && item.ItemHeight >= 0 &&
        !tk::BitmapSizeAllowed(item.ItemWidth, item.ItemHeight, bits))
      throw tk::EOutOfResources(tk::Format(
          tk::SBitmapTooLarge,
          {std::int64_t{item.ItemWidth}, std::int64_t{item.ItemHeight}, std::int64_t{bits}}));
    // The frame decodes straight into the rows of a DIB section of its depth and colour table.
    const tk::BITMAPINFOHEADER header = RowHeader();
    if (header.biWidth == 0 || header.biHeight == 0) {
      // A bitmap has no rows of no pixels: the decoded nothing is refused as the bitmap loader
      // refuses an empty bitmap file.
      DecodeRows(tk::PixelView{header.biWidth, header.biHeight, header.biBitCount, 0, nullptr, {}});
      throw tk::EInvalidGraphic(std::string(tk::SInvalidImage));
    }
    tk::UniqueBitmap rows(tk::CreateDIBSection(header, RowPalette(header.biBitCount, 0)));
    if (!rows) throw tk::EOutOfResources(std::string(tk::SOutOfResources));
    DecodeRows(tk::ViewOf(*rows));
    BuiltBitmap->SetHandle(rows.release());
    if (!BuiltBitmap->Monochrome()) BuiltBitmap->SetHandleType(tk::TBitmapHandleType::bmDDB);
  } catch (...) {
    // Whatever step failed, the frame is left with an empty bitmap, so that the next request
    // starts again.
    NewBitmap();
    throw;
  }
  return BuiltBitmap.get();
}

void TGIFFrame::DrawFrame(tk::TCanvas& canvas, const tk::TRect& rect, bool transparent) {
  tk::TBitmap& bitmap = *BuildBitmap();
  if (TransColor != NoColor && transparent)
    DrawBitmapKeyed(canvas, rect.Left, rect.Top, rect.Width(), rect.Height(),
                    tk::TRect{0, 0, bitmap.Width(), bitmap.Height()}, bitmap, TransColor);
  else
    canvas.StretchDraw(rect, &bitmap);
}

void TGIFImage::DrawInRect(tk::TCanvas& canvas, const tk::TRect& rect) {
  // A picture whose current frame is gone (frame 0 failed to decode on reading) draws nothing.
  // Quirk: instead of failing with "List index out of bounds". Test:
  // DecodeFirst.AnUndecodableFrameZeroIsRemoved.
  if (CurrentIndex < 0 || CurrentIndex >= FrameCount()) return;
  FrameAt(CurrentIndex).DrawFrame(canvas, rect, IsTransparent());
}

void TGIFFrame::GiveTo(tk::TPersistent* target) {
  if (dynamic_cast<TGIFFrame*>(target) || dynamic_cast<TGIFImage*>(target))
    return target->TakeFrom(this);
  auto* graphic = dynamic_cast<tk::TGraphic*>(target);
  if (!graphic) return TPersistent::GiveTo(target);
  graphic->TakeFrom(BuildBitmap());
  auto* bitmap = dynamic_cast<tk::TBitmap*>(target);
  if (bitmap && TransColor != NoColor) {
    bitmap->SetTransparentColor(
        tk::GetNearestColor(bitmap->Canvas().Handle(), tk::ColorToRGB(TransColor)));
    bitmap->SetTransparent(true);
  }
}

void TGIFImage::GiveTo(tk::TPersistent* target) {
  if (dynamic_cast<TGIFImage*>(target)) return target->TakeFrom(this);
  if (!dynamic_cast<tk::TGraphic*>(target)) return TPersistent::GiveTo(target);
  if (IsEmpty()) return target->TakeFrom(nullptr);
  if (CurrentIndex < 0) return target->TakeFrom(CurrentBitmap());
  FrameAt(CurrentIndex).GiveTo(target);
}

// ---- Keyed stretch drawing

void DrawBitmapKeyed(tk::TCanvas& canvas, int x, int y, int width, int height,
                     const tk::TRect& source, tk::TBitmap& bitmap, tk::TColor key) {
  StretchBitmapKeyed(canvas, bitmap, key, x, y, width, height, source.Left, source.Top,
                     source.Width(), source.Height());
}

namespace {

// Locks a canvas and silences its before-change notification while it is the source of a copy.
class QuietCanvas {
 public:
  explicit QuietCanvas(tk::TCanvas& canvas)
      : canvas_(canvas), changing_(std::move(canvas.OnChanging)) {
    canvas_.OnChanging = nullptr;
    canvas_.Lock();
  }
  ~QuietCanvas() {
    canvas_.Unlock();
    canvas_.OnChanging = std::move(changing_);
  }
  QuietCanvas(const QuietCanvas&) = delete;
  QuietCanvas& operator=(const QuietCanvas&) = delete;

 private:
  tk::TCanvas& canvas_;
  std::function<void(tk::TCanvas*)> changing_;
};

// A two-colour bitmap is keyed on the bit whose colour the key is, so that a frame whose
// transparent index is 0 (or whose colours are not black and white) keeps its own transparency.
// A key that is neither of the two colours keys white, as a bitmap without transparency would.
// Quirk (a mended fault: such frames were always keyed on white).
// Test: StretchBitmapKeyed.TwoColourFramesAreKeyedOnTheirTransparentIndex.
tk::COLORREF MonochromeKey(tk::TBitmap& bitmap, tk::COLORREF key) {
  constexpr tk::COLORREF White = 0xFFFFFF;
  const std::vector<tk::RGBQUAD>& table = bitmap.Handle()->colors;
  // A monochrome device bitmap shows its bits as black and white.
  if (table.empty()) return key == 0 || key == White ? key : White;
  for (const tk::RGBQUAD& q : table)
    if (tk::RGB(q.rgbRed, q.rgbGreen, q.rgbBlue) == key) return key;
  return White;
}

}  // namespace

void StretchBitmapKeyed(tk::TCanvas& canvas, tk::TBitmap& bitmap, tk::TColor key, int x, int y,
                        int width, int height, int sx, int sy, int swidth, int sheight) {
  if (width <= 0) width = bitmap.Width();
  if (height <= 0) height = bitmap.Height();
  if (swidth <= 0 || sheight <= 0) {
    sx = sy = 0;
    swidth = bitmap.Width();
    sheight = bitmap.Height();
  }
  // Eliminated lines are deleted, not blended (the mode is left set).
  if (!bitmap.Monochrome()) tk::SetStretchBltMode(canvas.Handle(), tk::COLORONCOLOR);
  tk::TCanvas& source = bitmap.Canvas();
  QuietCanvas quiet(source);
  if (key == NoColor) {
    tk::StretchBlt(canvas.Handle(), x, y, width, height, source.Handle(), sx, sy, swidth, sheight,
                   canvas.CopyMode());
    return;
  }
  if (key == DefaultColor) key = source.Pixels(0, bitmap.Height() - 1);
  key = tk::ColorToRGB(key);
  if (bitmap.Monochrome()) key = MonochromeKey(bitmap, key);
  KeyedStretchBlt(canvas.Handle(), x, y, width, height, source.Handle(), sx, sy, swidth, sheight,
                  bitmap.CurrentPalette(), key);
}

void KeyedStretchBlt(tk::HDC dest, int x, int y, int width, int height, tk::HDC source, int sx,
                     int sy, int swidth, int sheight, tk::HPALETTE palette, tk::COLORREF key) {
  if (width <= 0 || height <= 0 || swidth <= 0 || sheight <= 0) return;
  // Four memory contexts and their bitmaps: two masks of the source size, the composition at
  // the destination size and a copy of the source. Everything is released in the reverse
  // order: palettes, bitmap selections, bitmaps, then the contexts composition, inverse mask,
  // mask and source copy.
  tk::UniqueDC sourceCopyDC(tk::CreateCompatibleDC(dest));
  tk::UniqueDC maskDC(tk::CreateCompatibleDC(dest));
  tk::UniqueDC inverseMaskDC(tk::CreateCompatibleDC(dest));
  tk::UniqueDC compositionDC(tk::CreateCompatibleDC(dest));
  tk::UniqueBitmap mask(tk::CreateBitmap(swidth, sheight, 1, 1));
  tk::UniqueBitmap inverseMask(tk::CreateBitmap(swidth, sheight, 1, 1));
  tk::UniqueBitmap composition(tk::CreateCompatibleBitmap(dest, width, height));
  tk::UniqueBitmap sourceCopy(tk::CreateCompatibleBitmap(dest, swidth, sheight));
  if (!inverseMaskDC || !maskDC || !compositionDC || !sourceCopyDC || !mask || !inverseMask ||
      !composition || !sourceCopy)
    throw tk::EOutOfResources(std::string(tk::SOutOfResources));
  tk::BitmapSelection selectMask(maskDC.get(), mask.get());
  tk::BitmapSelection selectInverse(inverseMaskDC.get(), inverseMask.get());
  tk::BitmapSelection selectComposition(compositionDC.get(), composition.get());
  tk::BitmapSelection selectSourceCopy(sourceCopyDC.get(), sourceCopy.get());

  // The palette, when given: background in the destination and the composition, foreground in
  // the source copy and the mask.
  tk::PaletteSelection destPalette(dest, palette, true);
  if (palette) tk::RealizePalette(dest);
  tk::PaletteSelection sourceCopyPalette(sourceCopyDC.get(), palette, false);
  if (palette) tk::RealizePalette(sourceCopyDC.get());
  tk::PaletteSelection maskPalette(maskDC.get(), palette, false);
  if (palette) tk::RealizePalette(maskDC.get());
  tk::PaletteSelection compositionPalette(compositionDC.get(), palette, true);
  if (palette) tk::RealizePalette(compositionDC.get());

  tk::SetMapMode(source, tk::GetMapMode(dest));
  tk::SetMapMode(sourceCopyDC.get(), tk::GetMapMode(dest));
  tk::BitBlt(sourceCopyDC.get(), 0, 0, swidth, sheight, source, sx, sy, tk::SRCCOPY);

  // The mask: 1 where the source has the key colour.
  tk::COLORREF background = tk::SetBkColor(sourceCopyDC.get(), key | 0x02000000);
  tk::BitBlt(maskDC.get(), 0, 0, swidth, sheight, sourceCopyDC.get(), 0, 0, tk::SRCCOPY);
  tk::SetBkColor(sourceCopyDC.get(), background);
  tk::BitBlt(inverseMaskDC.get(), 0, 0, swidth, sheight, maskDC.get(), 0, 0, tk::NOTSRCCOPY);

  // The present background where the key colour was, the source elsewhere.
  tk::BitBlt(compositionDC.get(), 0, 0, width, height, dest, x, y, tk::SRCCOPY);
  tk::StretchBlt(compositionDC.get(), 0, 0, width, height, maskDC.get(), 0, 0, swidth, sheight,
                 tk::SRCAND);
  tk::BitBlt(sourceCopyDC.get(), 0, 0, swidth, sheight, inverseMaskDC.get(), 0, 0, tk::SRCAND);
  tk::StretchBlt(compositionDC.get(), 0, 0, width, height, sourceCopyDC.get(), 0, 0, swidth,
                 sheight, tk::SRCPAINT);
  tk::BitBlt(dest, x, y, width, height, compositionDC.get(), 0, 0, tk::SRCCOPY);
}

// ---- Memory blocks

std::unique_ptr<std::uint8_t[]> AllocZeroed(std::int64_t count) {
  if (count <= 0) return nullptr;
  return std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(count));
}

void FreeAllocated(std::unique_ptr<std::uint8_t[]>& block) {
  block.reset();
}

}  // namespace gif
