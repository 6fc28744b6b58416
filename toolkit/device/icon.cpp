#include "toolkit/device/icon.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <iterator>
#include <map>
#include <optional>

#include "toolkit/device/bmpfile.h"
#include "toolkit/core/byte_reader.h"
#include "toolkit/core/bytes.h"
#include "toolkit/device/canvas.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/streams.h"

namespace tk {

namespace {

void FailInvalid(std::string reason) { throw EInvalidGraphic(std::string(SInvalidIcon), Reason{std::move(reason)}); }
[[noreturn]] void Invalid(std::string reason) {
  FailInvalid(std::move(reason));
  throw EInvalidGraphic(std::string(SInvalidIcon));
}

// One directory entry whose image lies inside the file.
struct Entry {
  std::span<const std::uint8_t> image;
  int width = 0;
  int height = 0;
  int bits = 0;
  bool png = false;
  TPoint hotspot;
};

struct Decoded {
  UniqueBitmap color;
  UniqueBitmap mask;
  bool alpha = false;
};

// An image of an icon file: an info header whose height counts the colour rows and the mask
// rows, the colour table, the colour rows and the 1-bit AND mask rows, all bottom row first.
Decoded DecodeImage(std::span<const std::uint8_t> image) {
  if (image.size() < 40 || LoadU32(image, 0) < 40) Invalid("an image without an info header");
  const auto fullHeight = static_cast<std::int32_t>(LoadU32(image, 8));
  if (fullHeight <= 0 || fullHeight % 2 != 0)
    Invalid("an image height of " + std::to_string(fullHeight) + ", not twice the rows of a picture");
  const std::int32_t height = fullHeight / 2;
  // The colour part is a packed DIB of half the height.
  std::vector<std::uint8_t> copy(image.begin(), image.end());
  for (int i = 0; i < 4; ++i) copy[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(height >> (8 * i));
  if (LoadU32(copy, 16) != BI_RGB) Invalid("a compressed image");
  Decoded out;
  BitmapFileResult colour;
  try {
    colour = ReadPackedDib(copy);
  } catch (const EInvalidGraphic& e) {
    Invalid("the colour image: " + e.ReasonText());
  }
  out.color = std::move(colour.bitmap);
  const int width = out.color->width;

  // The mask follows the colour rows; a 32-bit image may leave it out.
  BITMAPINFOHEADER maskHeader;
  maskHeader.biWidth = width;
  maskHeader.biHeight = height;
  maskHeader.biBitCount = 1;
  out.mask.reset(CreateDIBSection(maskHeader, StandardColorTable(1)));
  if (!out.mask) Invalid("a mask beyond the device's limit");
  const auto stride = static_cast<std::size_t>(DibRowBytes(width, 1));
  const std::size_t need = stride * static_cast<std::size_t>(height);
  const std::size_t start = colour.consumed;
  if (start <= image.size() && image.size() - start >= need) {
    for (int k = 0; k < height; ++k)
      std::memcpy(out.mask->Row(height - 1 - k), image.data() + start + stride * static_cast<std::size_t>(k), stride);
  } else if (out.color->bitsPerPixel != 32) {
    Invalid("the mask runs past the end of the image");
  }

  if (out.color->bitsPerPixel == 32) {
    for (int y = 0; y < height && !out.alpha; ++y)
      for (int x = 0; x < width; ++x)
        if (out.color->Row(y)[4 * x + 3] != 0) {
          out.alpha = true;
          break;
        }
  }
  return out;
}

}  // namespace

TIcon::~TIcon() = default;

void TIcon::TakeFrom(TPersistent* source) {
  if (!source) {
    file_.clear();
    color_.reset();
    mask_.reset();
    alpha_ = cursor_ = false;
    hotspot_ = TPoint{};
    Changed();
    return;
  }
  auto* other = dynamic_cast<TIcon*>(source);
  if (!other) {
    TGraphic::TakeFrom(source);
    return;
  }
  if (other == this) return;
  file_ = other->file_;
  color_.reset(CopyBitmap(other->color_.get()));
  mask_.reset(CopyBitmap(other->mask_.get()));
  alpha_ = other->alpha_;
  cursor_ = other->cursor_;
  hotspot_ = other->hotspot_;
  Changed();
}

void TIcon::DrawInRect(TCanvas& canvas, const TRect& rect) { Draw(canvas, rect, true); }

void TIcon::DrawUnblended(TCanvas& canvas, const TRect& rect) {
  canvas.Changing();
  Draw(canvas, rect, false);
  canvas.Changed();
}

void TIcon::Draw(TCanvas& canvas, const TRect& rect, bool blend) {
  if (!color_) return;
  HDC dest = canvas.Handle();
  if (alpha_) {
    AlphaDraw(dest, rect, color_.get(), blend);
    return;
  }
  UniqueDC source(CreateCompatibleDC(dest));
  {
    BitmapSelection select(source.get(), mask_.get());
    StretchBlt(dest, rect.Left, rect.Top, rect.Width(), rect.Height(), source.get(), 0, 0, mask_->width,
               mask_->height, SRCAND);
  }
  BitmapSelection select(source.get(), color_.get());
  StretchBlt(dest, rect.Left, rect.Top, rect.Width(), rect.Height(), source.get(), 0, 0, color_->width,
             color_->height, SRCINVERT);
}

void TIcon::ChangeWidth(int) { throw EInvalidGraphicOperation(std::string(SChangeIconSize)); }
void TIcon::ChangeHeight(int) { throw EInvalidGraphicOperation(std::string(SChangeIconSize)); }

void TIcon::LoadStream(TStream& stream) {
  const std::int64_t remaining = stream.Remaining();
  if (remaining < 6) Invalid("a file of " + std::to_string(remaining) + " bytes, shorter than its header");
  std::vector<std::uint8_t> file(static_cast<std::size_t>(remaining));
  stream.ReadBuffer(file.data(), file.size());
  const std::span<const std::uint8_t> d(file);

  const std::uint16_t type = LoadU16(d, 2);
  const std::size_t count = LoadU16(d, 4);
  const ByteReader directory(d, FailInvalid);
  directory.Require(LoadU16(d, 0) == 0, "reserved bytes not zero");
  directory.Require(type == 1 || type == 2, "a file of type " + std::to_string(type) + ", neither icon nor cursor");
  directory.Require(count > 0, "no entries");
  directory.At(6, 16 * count, "directory");

  std::vector<Entry> entries;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = 6 + 16 * i;
    const std::uint32_t size = LoadU32(d, at + 8), offset = LoadU32(d, at + 12);
    if (offset >= d.size() || size > d.size() - offset || size < 8) continue;
    Entry e;
    e.image = d.subspan(offset, size);
    e.png = e.image[0] == 0x89 && e.image[1] == 'P' && e.image[2] == 'N' && e.image[3] == 'G';
    e.width = d[at] ? d[at] : 256;
    e.height = d[at + 1] ? d[at + 1] : 256;
    if (!e.png && e.image.size() >= 16) {
      // The image's own header is more reliable than the directory.
      e.width = static_cast<std::int32_t>(LoadU32(e.image, 4));
      e.height = static_cast<std::int32_t>(LoadU32(e.image, 8)) / 2;
      e.bits = LoadU16(e.image, 14);
    }
    if (type == 2) e.hotspot = TPoint{LoadU16(d, at + 4), LoadU16(d, at + 6)};
    entries.push_back(e);
  }

  // Nearest to 32 x 32, then most colours, then first in the file; PNG images only when
  // nothing else decodes.
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    const long da = std::labs(a.width - 32L) + std::labs(a.height - 32L);
    const long db = std::labs(b.width - 32L) + std::labs(b.height - 32L);
    if (da != db) return da < db;
    return a.bits > b.bits;
  });
  // Quirk: an image that failed is passed over for the next best one, but bytes are never decoded
  // twice: an entry whose image overlaps one already tried is skipped, so however many entries
  // point into the same bytes, the work stays within the size of the file. Tests:
  // Icon.ChoosesNearestTo32ThenMostColoursPassingOverPng, regressions_library.
  std::map<const std::uint8_t*, const std::uint8_t*> tried;  // the images tried, begin to end
  auto overlapsTried = [&](std::span<const std::uint8_t> image) {
    const std::uint8_t* begin = image.data();
    const std::uint8_t* end = begin + image.size();
    auto next = tried.lower_bound(begin);
    if (next != tried.end() && next->first < end) return true;
    return next != tried.begin() && std::prev(next)->second > begin;
  };
  std::string lastFailure;
  for (const Entry& e : entries) {
    if (e.png || overlapsTried(e.image)) continue;
    tried.emplace(e.image.data(), e.image.data() + e.image.size());
    Decoded image;
    try {
      image = DecodeImage(e.image);
    } catch (const EInvalidGraphic& failure) {
      lastFailure = failure.ReasonText();
      continue;
    }
    file_ = std::move(file);
    color_ = std::move(image.color);
    mask_ = std::move(image.mask);
    alpha_ = image.alpha;
    cursor_ = type == 2;
    hotspot_ = e.hotspot;
    Changed();
    return;
  }
  Invalid(lastFailure.empty() ? "no entry holds an image that can be read"
                             : "no entry holds an image that can be read; the last: " + lastFailure);
}

void TIcon::SaveStream(TStream& stream) {
  if (!file_.empty()) stream.WriteBuffer(file_);
}

void TIcon::FromClipboard(TClipboardFormat, THandle, HPALETTE) {
  throw EInvalidGraphic(std::string(SIconToClipboard));
}

void TIcon::ToClipboard(TClipboardFormat&, THandle&, HPALETTE&) {
  throw EInvalidGraphic(std::string(SIconToClipboard));
}

}  // namespace tk
