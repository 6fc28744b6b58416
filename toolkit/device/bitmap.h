// The bitmap graphic: pixels in a DIB section (1, 4, 8, 16, 24 or 32 bits, with a palette when
// indexed) or in a device bitmap (the screen's 32-bit format, or monochrome), a canvas to draw
// on, BMP files, the clipboard and a transparent colour.
//
// A bitmap holds at most MaxBitmapBytes of pixels (gdi.h). A new size, handle type, pixel format
// or monochrome setting that would need more fails with EOutOfResources "Bitmap of W x H pixels
// at B bits per pixel is too large" before anything is allocated, and the bitmap stays as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/device/canvas.h"
#include "toolkit/device/gdi.h"
#include "toolkit/core/graphic.h"

namespace tk {

enum class TBitmapHandleType : std::uint8_t { bmDIB, bmDDB };

// Pixel format codes: 0 device-dependent; DIB sections by bits per pixel: 1 bit 1, 4 bits 2,
// 8 bits 3, 16 bits 4 uncompressed (5 bits a channel), 5 with bit fields whose green mask is
// 0x7E0, 8 with other masks; 24 bits 6; 32 bits 7 uncompressed, 8 with bit fields.
enum TPixelFormat : std::uint8_t {
  pfDevice = 0,
  pf1bit = 1,
  pf4bit = 2,
  pf8bit = 3,
  pf15bit = 4,
  pf16bit = 5,
  pf24bit = 6,
  pf32bit = 7,
  pfCustom = 8,
};

// Bits per pixel of a DIB section's pixel format: 1, 4, 8, 16, 24 or 32; 0 for pfDevice and
// pfCustom, whose depth the format does not tell.
constexpr int BitsOfFormat(TPixelFormat format) {
  switch (format) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
    default: return 0;
  }
}

enum class TTransparentMode : std::uint8_t { tmAuto, tmFixed };

// The clipboard formats of bitmaps and palettes.
inline constexpr TClipboardFormat CF_BITMAP = 2;
inline constexpr TClipboardFormat CF_PALETTE = 9;

// The transparent colour's "take the bottom-left pixel" value.
inline constexpr TColor clDefault = 0x20000000;

inline constexpr std::string_view SInvalidPixelFormat = "Invalid pixel format";
// A size or format that would take more than MaxBitmapBytes of pixels (EOutOfResources).
inline constexpr std::string_view SBitmapTooLarge =
    "Bitmap of %d x %d pixels at %d bits per pixel is too large";

class TBitmapCanvas;

class TBitmap : public TGraphic {
 public:
  // An empty device-dependent bitmap.
  TBitmap();
  ~TBitmap() override;

  std::string_view ClassName() const override { return "TBitmap"; }

  // Copies another bitmap (pixels, format, palette, transparent colour and mode); null empties
  // this one. Any other source is asked to hand itself over.
  void TakeFrom(TPersistent* source) override;

  void DrawInRect(TCanvas& canvas, const TRect& rect) override;
  bool IsEmpty() override;
  int CurrentWidth() override { return image_->width; }
  int CurrentHeight() override { return image_->height; }
  // The new area takes the canvas's brush colour.
  void ChangeWidth(int width) override;
  void ChangeHeight(int height) override;
  HPALETTE CurrentPalette() override { return palette_.get(); }
  // Takes a copy of the palette; an indexed DIB section takes its colours as its colour table.
  void SetPalette(HPALETTE palette) override;

  // A BMP file. Saving an empty bitmap writes nothing; loading from the end of a stream gives
  // an empty bitmap.
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
  // The stored form: a 32-bit length, then the BMP file.
  void ReadStored(TStream& stream) override;
  void WriteStored(TStream& stream) override;

  // CF_BITMAP with a non-null bitmap handle (the palette may be null); anything else fails with
  // EInvalidGraphic "Unsupported clipboard format". The handles stay the caller's.
  void FromClipboard(TClipboardFormat format, THandle data, HPALETTE palette) override;
  // CF_BITMAP, a copy of the bitmap and a copy of the palette (or null), which belong to the
  // receiver. An empty bitmap gives a null bitmap handle.
  void ToClipboard(TClipboardFormat& format, THandle& data, HPALETTE& palette) override;

  // The bitmap of a packed DIB (a bitmap resource's data).
  void LoadFromPackedDib(std::span<const std::uint8_t> data);
  // The bitmap resource (RT_BITMAP) of that name in a library (null: the program's own
  // resources); fails with EResNotFound "Resource %s not found", or as a bad bitmap.
  void LoadFromResourceName(HMODULE module, const std::string& name);

  TCanvas& Canvas();

  // The bitmap handle (null while the bitmap is empty), owned by the bitmap.
  HBITMAP Handle();
  // Takes ownership of a bitmap (DIB section or device bitmap); null empties.
  void SetHandle(HBITMAP bitmap);
  // Hands the bitmap handle over to the caller and leaves the bitmap empty.
  HBITMAP ReleaseHandle();
  // Hands the palette over to the caller.
  HPALETTE ReleasePalette();

  TBitmapHandleType HandleType() const;
  // Converts: a device bitmap of the display format (monochrome stays monochrome), or a DIB
  // section of the same pixels (32 bits, or 1 bit when monochrome).
  void SetHandleType(TBitmapHandleType type);

  TPixelFormat PixelFormat() const;
  // Converts to the format (pfDevice: a device bitmap); indexed formats keep the bitmap's own
  // colours when it has as many, else they take the standard colour table (at 8 bits the
  // bitmap's palette when it has one), each pixel its nearest colour. pfCustom fails with
  // EInvalidGraphic "Invalid pixel format".
  void SetPixelFormat(TPixelFormat format);

  bool Monochrome() const { return image_->Monochrome(); }
  // Turning monochrome keeps the white pixels white and makes all others black (the platform's
  // colour-to-monochrome rule); turning back gives a 32-bit bitmap of the same handle type.
  void SetMonochrome(bool value);

  // The transparent colour with 0x02000000 added: in automatic mode the bottom-left pixel,
  // else the colour set (system colours resolved).
  TColor TransparentColor();
  // Sets a fixed transparent colour; clDefault goes back to automatic.
  void SetTransparentColor(TColor color);
  TTransparentMode TransparentMode() const { return transparentMode_; }
  void SetTransparentMode(TTransparentMode mode);

 private:
  friend class TBitmapCanvas;
  // Replaces the pixels (and the palette, when given) and signals a change.
  void Replace(UniqueBitmap image, UniquePalette palette, bool keepPalette);
  void Resize(int width, int height);
  void FreeContext();

  UniqueBitmap image_;
  UniquePalette palette_;
  std::unique_ptr<TBitmapCanvas> canvas_;
  TColor transparentColor_ = clDefault;
  TTransparentMode transparentMode_ = TTransparentMode::tmAuto;
};

// The palette of a colour table, or null for none.
UniquePalette PaletteFromColors(std::span<const RGBQUAD> colors);

}  // namespace tk
