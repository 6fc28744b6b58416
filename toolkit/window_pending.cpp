// Drawing of the window system; waits for the graphics device.
#include "toolkit/window.h"

namespace tk {

std::vector<TRect> RegionRectangles(HRGN) { return {}; }

TImage::TImage(std::string name) : TControl(std::move(name)) {}
TImage::~TImage() = default;
void TImage::Paint(TCanvas&) {}
TBitBtn::TBitBtn(std::string name) : TControl(std::move(name)) {}
TBitBtn::~TBitBtn() = default;
void TBitBtn::Paint(TCanvas&) {}
void TForm::Paint(TCanvas&) {}
void TForm::ReleaseRegion() { region_ = nullptr; }

const std::vector<std::uint32_t>& TForm::Frame() {
  frame_.assign(static_cast<std::size_t>(Width) * Height, BtnFaceRGB);
  dirty_ = false;
  return frame_;
}

}  // namespace tk
