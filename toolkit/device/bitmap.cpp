#include "toolkit/device/bitmap.h"

#include <algorithm>
#include <vector>

#include "toolkit/device/bmpfile.h"
#include "toolkit/system/clipboard.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/device/gdi_pixels.h"
#include "toolkit/device/icon.h"
#include "toolkit/system/library.h"
#include "toolkit/core/picture.h"
#include "toolkit/core/streams.h"

namespace tk {

// The bitmap's own canvas: a memory context with the bitmap and its palette selected.
class TBitmapCanvas : public TCanvas {
 public:
  explicit TBitmapCanvas(TBitmap& owner) : owner_(owner) {}
  void Release() { FreeHandle(); }

 protected:
  void CreateHandle() override {
    UniqueDC dc(CreateCompatibleDC(nullptr));
    if (!owner_.IsEmpty()) SelectObject(dc.get(), owner_.image_.get());
    if (owner_.palette_) {
      SelectPalette(dc.get(), owner_.palette_.get(), true);
      RealizePalette(dc.get());
    }
    AdoptHandle(dc.release());
  }

 private:
  TBitmap& owner_;
};

UniquePalette PaletteFromColors(std::span<const RGBQUAD> colors) {
  if (colors.empty()) return nullptr;
  std::vector<PALETTEENTRY> entries;
  entries.reserve(colors.size());
  for (const RGBQUAD& c : colors) entries.push_back(PALETTEENTRY{c.rgbRed, c.rgbGreen, c.rgbBlue, 0});
  return UniquePalette(CreatePalette(entries));
}

namespace {

UniquePalette CopyPalette(HPALETTE palette) {
  if (!palette) return nullptr;
  return UniquePalette(CreatePalette(palette->entries));
}

// A blank bitmap of the same format as another, at a new size.
UniqueBitmap Reshaped(const GdiBitmap& like, int width, int height) {
  if (!like.dibSection) return UniqueBitmap(CreateBitmap(width, height, 1, static_cast<unsigned>(like.bitsPerPixel)));
  BITMAPINFOHEADER h = like.header;
  h.biWidth = width;
  h.biHeight = height;
  return UniqueBitmap(CreateDIBSection(h, like.colors, like.masks));
}

// At start-up: the clipboard releases bitmap and palette handles with DeleteObject, and the
// picture machinery knows bitmaps and icons by class name, file extension and clipboard format.
[[maybe_unused]] const bool kRegistered = [] {
  SetClipboardReleaseHook(CF_BITMAP, [](THandle h) { DeleteObject(reinterpret_cast<GdiObject*>(h)); });
  SetClipboardReleaseHook(CF_PALETTE, [](THandle h) { DeleteObject(reinterpret_cast<GdiObject*>(h)); });
  // To and from the system's clipboard: a bitmap as a packed DIB (its BMP file without the file
  // header), a palette as its entries.
  SetClipboardTransfer(CF_BITMAP, {[](THandle h) {
                                     std::vector<std::uint8_t> file = BitmapFileBytes(reinterpret_cast<HBITMAP>(h));
                                     file.erase(file.begin(), file.begin() + std::min<std::size_t>(14, file.size()));
                                     return file;
                                   },
                                   [](std::span<const std::uint8_t> dib) -> THandle {
                                     try {
                                       return reinterpret_cast<THandle>(ReadPackedDib(dib).bitmap.release());
                                     } catch (const Exception&) {
                                       return 0;
                                     }
                                   }});
  SetClipboardTransfer(CF_PALETTE, {[](THandle h) {
                                      std::vector<std::uint8_t> bytes;
                                      for (const PALETTEENTRY& e : reinterpret_cast<HPALETTE>(h)->entries)
                                        bytes.insert(bytes.end(), {e.peRed, e.peGreen, e.peBlue, e.peFlags});
                                      return bytes;
                                    },
                                    [](std::span<const std::uint8_t> bytes) -> THandle {
                                      std::vector<PALETTEENTRY> entries;
                                      for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4)
                                        entries.push_back({bytes[i], bytes[i + 1], bytes[i + 2], bytes[i + 3]});
                                      return reinterpret_cast<THandle>(CreatePalette(entries));
                                    }});
  RegisterClass(ClassOf<TBitmap>("TBitmap"));
  RegisterClass(ClassOf<TIcon>("TIcon"));
  TPicture::RegisterFileFormat("bmp", "Bitmaps", ClassOf<TBitmap>("TBitmap"));
  TPicture::RegisterFileFormat("ico", "Icons", ClassOf<TIcon>("TIcon"));
  TPicture::RegisterClipboardFormat(CF_BITMAP, ClassOf<TBitmap>("TBitmap"));
  return true;
}();

[[noreturn]] void OutOfResources() { throw EOutOfResources(std::string(SOutOfResources)); }

// A bitmap above the device's limit is refused before anything is made, naming its size.
void CheckSize(int width, int height, int bits) {
  if (!BitmapSizeAllowed(width, height, bits))
    throw EOutOfResources(
        Format(SBitmapTooLarge, {std::int64_t{width}, std::int64_t{height}, std::int64_t{bits}}));
}

// The bitmap's pixels as a new DIB section of the depth (colour table and masks as given) or as
// a new device bitmap (1 or 32 bits).
UniqueBitmap Converted(HBITMAP from, int bits, bool dib, std::span<const RGBQUAD> colors = {},
                       std::span<const std::uint32_t> masks = {}) {
  CheckSize(from->width, from->height, bits);
  UniqueBitmap made(dib ? ConvertToDIBSection(from, bits, colors, masks)
                        : ConvertToDeviceBitmap(from, bits == 1));
  if (!made) OutOfResources();
  return made;
}

}  // namespace

TBitmap::TBitmap() : image_(CreateBitmap(0, 0, 1, 32)), canvas_(std::make_unique<TBitmapCanvas>(*this)) {
  canvas_->OnChange = [this](TCanvas*) { Changed(); };
}

TBitmap::~TBitmap() { FreeContext(); }

void TBitmap::FreeContext() {
  if (canvas_) canvas_->Release();
}

void TBitmap::Replace(UniqueBitmap image, UniquePalette palette, bool keepPalette) {
  if (!image) OutOfResources();
  FreeContext();
  image_ = std::move(image);
  if (!keepPalette) palette_ = std::move(palette);
  Changed();
}

bool TBitmap::IsEmpty() { return image_->width == 0 || image_->height == 0; }

TCanvas& TBitmap::Canvas() { return *canvas_; }

HBITMAP TBitmap::Handle() { return IsEmpty() ? nullptr : image_.get(); }

void TBitmap::SetHandle(HBITMAP bitmap) {
  if (!bitmap) {
    Replace(Reshaped(*image_, 0, 0), nullptr, false);
    return;
  }
  UniqueBitmap owned(bitmap);
  UniquePalette palette = bitmap->dibSection && bitmap->Indexed() ? PaletteFromColors(bitmap->colors) : nullptr;
  Replace(std::move(owned), std::move(palette), false);
}

HBITMAP TBitmap::ReleaseHandle() {
  if (IsEmpty()) return nullptr;
  FreeContext();
  UniqueBitmap blank = Reshaped(*image_, 0, 0);
  HBITMAP handle = image_.release();
  image_ = std::move(blank);
  return handle;
}

HPALETTE TBitmap::ReleasePalette() {
  FreeContext();
  return palette_.release();
}

void TBitmap::TakeFrom(TPersistent* source) {
  if (!source) {
    Replace(UniqueBitmap(CreateBitmap(0, 0, 1, 32)), nullptr, false);
    transparentColor_ = clDefault;
    transparentMode_ = TTransparentMode::tmAuto;
    return;
  }
  auto* other = dynamic_cast<TBitmap*>(source);
  if (!other) {
    TGraphic::TakeFrom(source);
    return;
  }
  if (other == this) return;
  transparentColor_ = other->transparentColor_;
  transparentMode_ = other->transparentMode_;
  Replace(UniqueBitmap(CopyBitmap(other->image_.get())), CopyPalette(other->palette_.get()), false);
}

void TBitmap::DrawInRect(TCanvas& canvas, const TRect& rect) {
  if (IsEmpty()) return;
  HDC dest = canvas.Handle();
  HDC source = Canvas().Handle();
  PaletteSelection palette(dest, palette_.get(), true);
  if (palette_) RealizePalette(dest);
  if (Transparent()) {
    TransparentBlt(dest, rect.Left, rect.Top, rect.Width(), rect.Height(), source, 0, 0, image_->width,
                   image_->height, TransparentColor() & 0xFFFFFF);
  } else {
    StretchBlt(dest, rect.Left, rect.Top, rect.Width(), rect.Height(), source, 0, 0, image_->width, image_->height,
               canvas.CopyMode());
  }
}

void TBitmap::Resize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == image_->width && height == image_->height) return;
  CheckSize(width, height, image_->bitsPerPixel);
  UniqueBitmap fresh = Reshaped(*image_, width, height);
  if (!fresh) OutOfResources();
  if (width > 0 && height > 0) {
    // The new bitmap takes the brush colour, then the old pixels where they overlap.
    UniqueDC into(CreateCompatibleDC(nullptr));
    BitmapSelection selectInto(into.get(), fresh.get());
    if (palette_) SelectPalette(into.get(), palette_.get(), true);
    FillSolidRect(into.get(), TRect{0, 0, width, height}, ColorToRGB(canvas_->Brush().Color));
    if (!IsEmpty()) {
      FreeContext();
      UniqueDC from(CreateCompatibleDC(nullptr));
      BitmapSelection selectFrom(from.get(), image_.get());
      BitBlt(into.get(), 0, 0, std::min(width, image_->width), std::min(height, image_->height), from.get(), 0, 0,
             SRCCOPY);
    }
  }
  Replace(std::move(fresh), nullptr, true);
}

void TBitmap::ChangeWidth(int width) { Resize(width, image_->height); }
void TBitmap::ChangeHeight(int height) { Resize(image_->width, height); }

void TBitmap::SetPalette(HPALETTE palette) {
  UniquePalette copy = CopyPalette(palette);
  if (image_->dibSection && image_->Indexed() && copy) {
    FreeContext();
    std::vector<RGBQUAD> colors = pixels::PaletteColors(*copy, image_->colors.size());
    std::copy(colors.begin(), colors.end(), image_->colors.begin());
  }
  FreeContext();
  palette_ = std::move(copy);
  SetPaletteModified(true);
  Changed();
}

void TBitmap::LoadStream(TStream& stream) {
  const std::int64_t start = stream.Position();
  const std::int64_t remaining = stream.Remaining();
  if (remaining <= 0) {
    TakeFrom(nullptr);
    return;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(remaining));
  stream.ReadBuffer(bytes.data(), bytes.size());
  BitmapFileResult result = ReadBitmapFile(bytes);
  stream.SetPosition(start + static_cast<std::int64_t>(result.consumed));
  UniquePalette palette = result.bitmap->Indexed() ? PaletteFromColors(result.bitmap->colors) : nullptr;
  Replace(std::move(result.bitmap), std::move(palette), false);
}

void TBitmap::LoadFromPackedDib(std::span<const std::uint8_t> data) {
  UniqueBitmap bitmap = ReadPackedDib(data).bitmap;
  UniquePalette palette = bitmap->Indexed() ? PaletteFromColors(bitmap->colors) : nullptr;
  Replace(std::move(bitmap), std::move(palette), false);
}

void TBitmap::LoadFromResourceName(HMODULE module, const std::string& name) {
  const TResourceData resource = LoadResource(module, TResName(name), RT_BITMAP);
  LoadFromPackedDib(resource.Bytes);
}

void TBitmap::SaveStream(TStream& stream) {
  if (IsEmpty()) return;
  WriteBitmapFile(image_.get(), stream);
}

void TBitmap::ReadStored(TStream& stream) {
  const std::uint32_t size = stream.ReadU32();
  if (size > stream.Remaining()) throw EReadError();
  std::vector<std::uint8_t> bytes(size);
  stream.ReadBuffer(bytes.data(), bytes.size());
  TMemoryStream data(std::move(bytes));
  LoadStream(data);
}

void TBitmap::WriteStored(TStream& stream) {
  const std::vector<std::uint8_t> bytes = IsEmpty() ? std::vector<std::uint8_t>{} : BitmapFileBytes(image_.get());
  stream.WriteU32(static_cast<std::uint32_t>(bytes.size()));
  stream.WriteBuffer(bytes);
}

void TBitmap::FromClipboard(TClipboardFormat format, THandle data, HPALETTE palette) {
  if (format != CF_BITMAP || data == 0) throw EInvalidGraphic(std::string(SUnknownClipboardFormat));
  const auto* bitmap = reinterpret_cast<GdiBitmap*>(data);
  UniqueBitmap copy(CopyBitmap(const_cast<GdiBitmap*>(bitmap)));
  UniquePalette ownPalette = CopyPalette(palette);
  if (!ownPalette && copy && copy->dibSection && copy->Indexed()) ownPalette = PaletteFromColors(copy->colors);
  Replace(std::move(copy), std::move(ownPalette), false);
}

void TBitmap::ToClipboard(TClipboardFormat& format, THandle& data, HPALETTE& palette) {
  format = CF_BITMAP;
  data = IsEmpty() ? 0 : reinterpret_cast<THandle>(CopyBitmap(image_.get()));
  palette = CopyPalette(palette_.get()).release();
}

TBitmapHandleType TBitmap::HandleType() const {
  return image_->dibSection ? TBitmapHandleType::bmDIB : TBitmapHandleType::bmDDB;
}

void TBitmap::SetHandleType(TBitmapHandleType type) {
  if (type == HandleType()) return;
  const int bits = image_->Monochrome() ? 1 : 32;
  Replace(Converted(image_.get(), bits, type == TBitmapHandleType::bmDIB), nullptr, true);
}

TPixelFormat TBitmap::PixelFormat() const {
  const GdiBitmap& b = *image_;
  if (!b.dibSection) return pfDevice;
  const bool bitfields = b.header.biCompression == BI_BITFIELDS;
  switch (b.bitsPerPixel) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 16: return !bitfields ? pf15bit : (b.masks[1] == 0x7E0 ? pf16bit : pfCustom);
    case 24: return pf24bit;
    case 32: return bitfields ? pfCustom : pf32bit;
    default: return pfCustom;
  }
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == PixelFormat()) return;
  static constexpr std::uint32_t kMasks565[3] = {0xF800, 0x7E0, 0x1F};
  switch (format) {
    case pfDevice: SetHandleType(TBitmapHandleType::bmDDB); return;
    case pf1bit:
    case pf4bit:
    case pf8bit: {
      const int bits = BitsOfFormat(format);
      std::vector<RGBQUAD> colors;
      if (image_->bitsPerPixel == bits && image_->dibSection) colors = image_->colors;
      else if (bits == 8 && palette_) colors = pixels::PaletteColors(*palette_, 256);
      else colors.assign(StandardColorTable(bits).begin(), StandardColorTable(bits).end());
      UniquePalette palette = PaletteFromColors(colors);
      Replace(Converted(image_.get(), bits, true, colors), std::move(palette), false);
      return;
    }
    case pf15bit: Replace(Converted(image_.get(), 16, true), nullptr, true); return;
    case pf16bit: Replace(Converted(image_.get(), 16, true, {}, kMasks565), nullptr, true); return;
    case pf24bit: Replace(Converted(image_.get(), 24, true), nullptr, true); return;
    case pf32bit: Replace(Converted(image_.get(), 32, true), nullptr, true); return;
    default: throw EInvalidGraphic(std::string(SInvalidPixelFormat));
  }
}

void TBitmap::SetMonochrome(bool value) {
  if (value == Monochrome()) return;
  if (value) {
    // The platform's colour-to-monochrome copy: white stays white, everything else is black.
    UniqueBitmap mono = image_->dibSection ? UniqueBitmap(CreateDIBSection(
                                                 [&] {
                                                   BITMAPINFOHEADER h = image_->header;
                                                   h.biBitCount = 1;
                                                   h.biCompression = BI_RGB;
                                                   h.biClrUsed = h.biClrImportant = 0;
                                                   return h;
                                                 }(),
                                                 StandardColorTable(1)))
                                           : UniqueBitmap(CreateBitmap(image_->width, image_->height, 1, 1));
    if (!mono) OutOfResources();
    if (!IsEmpty()) {
      FreeContext();
      UniqueDC from(CreateCompatibleDC(nullptr)), into(CreateCompatibleDC(nullptr));
      BitmapSelection selectFrom(from.get(), image_.get());
      BitmapSelection selectInto(into.get(), mono.get());
      SetBkColor(from.get(), 0xFFFFFF);
      BitBlt(into.get(), 0, 0, image_->width, image_->height, from.get(), 0, 0, SRCCOPY);
    }
    Replace(std::move(mono),
            image_->dibSection ? PaletteFromColors(StandardColorTable(1)) : nullptr, false);
  } else {
    Replace(Converted(image_.get(), 32, image_->dibSection), nullptr, false);
  }
}

TColor TBitmap::TransparentColor() {
  if (transparentMode_ == TTransparentMode::tmFixed && transparentColor_ != clDefault)
    return (ColorToRGB(transparentColor_) & 0xFFFFFF) | 0x02000000;
  if (IsEmpty()) return 0x02000000;
  return (Canvas().Pixels(0, image_->height - 1) & 0xFFFFFF) | 0x02000000;
}

void TBitmap::SetTransparentColor(TColor color) {
  transparentColor_ = color;
  transparentMode_ = color == clDefault ? TTransparentMode::tmAuto : TTransparentMode::tmFixed;
  Changed();
}

void TBitmap::SetTransparentMode(TTransparentMode mode) {
  if (mode == transparentMode_) return;
  if (mode == TTransparentMode::tmAuto) transparentColor_ = clDefault;
  else transparentColor_ = TransparentColor() & 0xFFFFFF;
  transparentMode_ = mode;
  Changed();
}

}  // namespace tk
