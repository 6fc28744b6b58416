// The icon graphic: one image of an icon (.ico) or cursor (.cur) file, drawn with its mask or
// its alpha channel.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "toolkit/device/gdi.h"
#include "toolkit/core/graphic.h"

namespace tk {

inline constexpr std::string_view SInvalidIcon = "Icon image is not valid";
inline constexpr std::string_view SChangeIconSize = "Cannot change the size of an icon";
inline constexpr std::string_view SIconToClipboard = "Clipboard does not support Icons";

class TIcon : public TGraphic {
 public:
  // An icon is transparent: its mask or alpha channel leaves the background showing.
  TIcon() { InitTransparent(true); }
  ~TIcon() override;

  std::string_view ClassName() const override { return "TIcon"; }

  // Copies another icon; null empties. Any other source is asked to hand itself over.
  void TakeFrom(TPersistent* source) override;

  // Draws the image stretched into the rectangle: the destination is kept where the mask is 1
  // and the image's pixels are combined in (XOR), or, for an image with an alpha channel,
  // blended over it.
  void DrawInRect(TCanvas& canvas, const TRect& rect) override;
  // Draws as DrawInRect does, except that an alpha channel only decides which pixels show:
  // those below half opacity are left out, the others are drawn opaque, unblended. For targets
  // that hold no partial transparency, such as GIF frames.
  void DrawUnblended(TCanvas& canvas, const TRect& rect);
  bool IsEmpty() override { return !color_; }
  int CurrentWidth() override { return color_ ? color_->width : 0; }
  int CurrentHeight() override { return color_ ? color_->height : 0; }
  // An icon's size is its image's: both fail with EInvalidGraphicOperation.
  void ChangeWidth(int) override;
  void ChangeHeight(int) override;

  // Reads an icon or cursor file from the rest of the stream. Of several images it takes the
  // one nearest to 32 × 32, then the one with the most colours, passing over PNG-compressed
  // images, and over an image that does not decode for the next best one (never decoding bytes
  // twice, however many entries point at them). A file without a plain image, or a bad one, fails
  // with EInvalidGraphic "Icon image is not valid" and leaves the icon as it was.
  void LoadStream(TStream& stream) override;
  // Writes the file the icon was read from.
  void SaveStream(TStream& stream) override;
  // The clipboard holds no icons: both fail with EInvalidGraphic.
  void FromClipboard(TClipboardFormat format, THandle data, HPALETTE palette) override;
  void ToClipboard(TClipboardFormat& format, THandle& data, HPALETTE& palette) override;

  // The image's colours (at its own depth) and its AND mask (1 bit, 1 = transparent).
  HBITMAP ColorBitmap() const { return color_.get(); }
  HBITMAP MaskBitmap() const { return mask_.get(); }
  // Whether the image is 32-bit with a non-zero alpha channel, which then replaces the mask.
  bool HasAlpha() const { return alpha_; }
  // Whether the file was a cursor file, and its hotspot (0, 0 for icons).
  bool IsCursor() const { return cursor_; }
  TPoint Hotspot() const { return hotspot_; }
  // The bits per pixel of the image taken.
  int BitCount() const { return color_ ? color_->bitsPerPixel : 0; }

 private:
  void Draw(TCanvas& canvas, const TRect& rect, bool blend);

  std::vector<std::uint8_t> file_;
  UniqueBitmap color_;
  UniqueBitmap mask_;
  bool alpha_ = false;
  bool cursor_ = false;
  TPoint hotspot_;
};

}  // namespace tk
