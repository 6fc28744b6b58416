// The GIF picture object model: pictures, frames, extensions, and the sharing of encoded data.
#include <algorithm>
#include <cstring>

#include "cursor/cursor.h"
#include "gif/format.h"
#include "gif/gif.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/core/screen.h"

namespace gif {

int DepthForCount(std::int32_t count) {
  static constexpr std::uint16_t kCounts[8] = {2, 4, 8, 16, 32, 64, 128, 256};
  const auto low = static_cast<std::uint16_t>(count);
  for (int i = 0; i < 8; ++i)
    if (kCounts[i] == low) return i + 1;
  throw tk::EInvalidGraphicOperation(std::string(SWrongColorCount));
}

// ---- TExtension

void TExtension::TakeFrom(tk::TPersistent* source) {
  auto* other = dynamic_cast<TExtension*>(source);
  if (!other) return TPersistent::TakeFrom(source);
  if (other == this) return;
  Kind = other->Kind;
  Header = other->Header;
  if (other->Lines) {
    if (!Lines) Lines = std::make_unique<tk::TStringList>();
    Lines->Assign(*other->Lines);
  }
}

bool TExtension::IsLoopExtension() const {
  if (Kind != ekApplication || !Lines || Lines->Empty()) return false;
  // The identifier is compared over as many bytes as the size byte gives, but never beyond the
  // 11 bytes the header holds. Quirk (a mended fault: a size byte above 11 read past them).
  // Test: ReadExtensions.ApplicationSizeAboveElevenReadsOnlyTheStoredBytes.
  std::size_t compared = std::min<std::size_t>(Header[0], 11);
  if (std::memcmp(Header.data() + 1, kNetscapeLoop.data(), compared) != 0 &&
      std::memcmp(Header.data() + 1, kAnimExtsLoop.data(), compared) != 0)
    return false;
  const std::string& first = (*Lines)[0];
  return first.size() >= 3 && first[0] == 1;
}

std::uint16_t TExtension::LoopCount() const {
  const std::string& first = (*Lines)[0];
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(first[1]) |
                                    static_cast<std::uint8_t>(first[2]) << 8);
}

TExtension* FindExtension(const TExtensionList* list, TExtensionKind kind) {
  if (!list) return nullptr;
  for (int i = list->Count() - 1; i >= 0; --i)
    if (list->At(i) && list->At(i)->Kind == kind) return list->At(i);
  return nullptr;
}

// ---- TGIFFrame

TGIFFrame::TGIFFrame(TGIFImage* parent) : ParentImage(parent) { ResetFrame(); }

GifOptions TGIFFrame::Options() const { return ParentImage ? ParentImage->Options : GifOptions{}; }

TGIFFrame::~TGIFFrame() {
  BuiltBitmap.reset();
  ExtBlocks.reset();
  Encoded.reset();
}

void TGIFFrame::ResetFrame() {
  Encoded = tk::MakeShared<TGIFItem>();
  GrayOnly = false;
  DataDamaged = false;
  TransColor = NoColor;
  LeftPos = 0;
  TopPos = 0;
  IsInterlaced = false;
  OwnColorTable = false;
  DelayMs = 0;
  Disposal = 0;
}

void TGIFFrame::NewBitmap() {
  BuiltBitmap.reset();
  BuiltBitmap = std::make_unique<tk::TBitmap>();
}

int TGIFFrame::FrameWidth() {
  if (!BuiltBitmap && !Encoded->HasPixelData()) return 0;
  return BuildBitmap()->Width();
}

int TGIFFrame::FrameHeight() {
  if (!BuiltBitmap && !Encoded->HasPixelData()) return 0;
  return BuildBitmap()->Height();
}

tk::TStringList* TGIFFrame::FindComment(bool create) {
  TExtension* comment = FindExtension(ExtBlocks.get(), ekComment);
  if (!comment) {
    if (!create) return nullptr;
    if (!ExtBlocks) ExtBlocks = std::make_unique<TExtensionList>();
    auto extension = std::make_unique<TExtension>();
    extension->Kind = ekComment;
    comment = extension.get();
    ExtBlocks->Add(std::move(extension));
  }
  if (!comment->Lines && create) comment->Lines = std::make_unique<tk::TStringList>();
  return comment->Lines.get();
}

void TGIFFrame::SetComment(const tk::TStringList& lines) {
  tk::TStringList copy;
  copy.Assign(lines);  // the lines may be this frame's own
  FindComment(true)->Assign(copy);
}

void TGIFFrame::UpdateParentSize() {
  if (ParentImage) ParentImage->UpdateLogicalSize();
}

void TGIFFrame::AssignFrame(TGIFFrame& source) {
  Encoded = source.Encoded;
  OwnColorTable = source.ParentImage != ParentImage ? true : source.OwnColorTable;
  LeftPos = source.LeftPos;
  TopPos = source.TopPos;
  IsInterlaced = source.IsInterlaced;
  // The own bitmap showed the old picture: it becomes a copy of the source's, or goes when the
  // source has none, so that the next request builds it from the new data. Quirk (a mended
  // fault: the old picture stayed). Test: Frame.AssigningAFrameWithoutABitmapDropsTheOldOne.
  if (source.BuiltBitmap) {
    auto copy = std::make_unique<tk::TBitmap>();
    copy->TakeFrom(source.BuiltBitmap.get());
    BuiltBitmap = std::move(copy);
  } else {
    BuiltBitmap.reset();
  }
  TransColor = source.TransColor;
  DelayMs = source.DelayMs;
  Disposal = source.Disposal;
  GrayOnly = source.GrayOnly;
  DataDamaged = source.DataDamaged;
  if (tk::TStringList* comment = source.FindComment(false); comment && !comment->Empty())
    SetComment(*comment);
}

void TGIFFrame::TakeFrom(tk::TPersistent* source) {
  if (!source) {
    ResetFrame();
    BuiltBitmap.reset();
    UpdateParentSize();
    return;
  }
  if (auto* frame = dynamic_cast<TGIFFrame*>(source)) {
    if (frame == this) return;
    AssignFrame(*frame);
    UpdateParentSize();
    return;
  }
  if (auto* picture = dynamic_cast<TGIFImage*>(source)) {
    if (picture->FrameCount() == 0) return TakeFrom(nullptr);
    int index = picture->CurrentIndex;
    if (index < 0 || index >= picture->FrameCount()) index = 0;
    TGIFFrame& frame = picture->FrameAt(index);
    if (&frame == this) return;
    AssignFrame(frame);
    UpdateParentSize();
    return;
  }
  if (auto* graphic = dynamic_cast<tk::TGraphic*>(source)) return TakeFromGraphic(graphic);
  TPersistent::TakeFrom(source);
}

// ---- TGIFImage

TGIFImage::TGIFImage() {
  Reset();
  InitTransparent(true);
}

TGIFImage::~TGIFImage() {
  OnChange = nullptr;
  ScreenData.reset();
  FreeFrames();
}

void TGIFImage::Reset() {
  ScreenData = tk::MakeShared<TGIFData>();
  FreeFrames();
  CurrentIndex = -1;
  BackdropColor = NoColor;
  LoopCount = 1;
  LoopEnabled = false;
  GifVersion = 0;
}

tk::TBitmap* TGIFImage::CurrentBitmap() {
  if (FrameCount() == 0) {
    CurrentIndex = 0;
    tk::TBitmap empty;
    TakeFrom(&empty);
    return FrameAt(0).BuildBitmap();
  }
  int index = CurrentIndex >= 0 && CurrentIndex < FrameCount() ? CurrentIndex : 0;
  return FrameAt(index).BuildBitmap();
}

void TGIFImage::UpdateLogicalSize() {
  LogicalWidth = 0;
  LogicalHeight = 0;
  for (const auto& frame : FrameList) {
    LogicalWidth = static_cast<std::uint16_t>(std::max(int{LogicalWidth}, frame->LeftPos + frame->FrameWidth()));
    LogicalHeight = static_cast<std::uint16_t>(std::max(int{LogicalHeight}, frame->TopPos + frame->FrameHeight()));
  }
}

int TGIFImage::AppendFrame(tk::TGraphic* graphic) {
  int index = FrameList.Add(std::make_unique<TGIFFrame>(this));
  CurrentIndex = index;
  FrameList[index].TakeFrom(graphic);
  if (GifVersion == 0) GifVersion = 1;
  if (FrameCount() > 1) GifVersion = 2;
  return index;
}

void TGIFImage::CopyPicture(const TGIFImage& source) {
  ScreenData = source.ScreenData;
  GifVersion = source.GifVersion;
  BackdropColor = source.BackdropColor;
  LoopCount = source.LoopCount;
  LoopEnabled = source.LoopEnabled;
  Options = source.Options;
  FreeFrames();
  for (const auto& sourceFrame : source.FrameList) {
    auto frame = std::make_unique<TGIFFrame>(this);
    frame->AssignFrame(*sourceFrame);
    frame->OwnColorTable = sourceFrame->OwnColorTable;
    FrameList.Add(std::move(frame));
  }
  LogicalWidth = source.LogicalWidth;
  LogicalHeight = source.LogicalHeight;
  CurrentIndex = source.CurrentIndex;
}

void TGIFImage::TakeFrame(TGIFFrame& source) {
  // Keep the source alive, and its picture's data, while this picture is reset: the source may
  // be one of this picture's own frames.
  std::unique_ptr<TGIFFrame> own;
  if (source.ParentImage == this) {
    int index = FrameList.IndexOf(&source);
    if (index >= 0) own = FrameList.Extract(index);
  }
  tk::TSharedRef<TGIFData> sourceData =
      source.ParentImage ? source.ParentImage->ScreenData : tk::TSharedRef<TGIFData>();
  Reset();
  if (sourceData) {
    ScreenData->AspectByte = sourceData->AspectByte;
    ScreenData->GlobalDepth = sourceData->GlobalDepth;
    ScreenData->ColorResolution = sourceData->ColorResolution;
    ScreenData->GlobalTable = sourceData->GlobalTable;
  }
  int index = FrameList.Add(std::make_unique<TGIFFrame>(this));
  CurrentIndex = index;
  FrameList[index].TakeFrom(&source);
  if (GifVersion == 0) GifVersion = 1;
}

void TGIFImage::TakeFrom(tk::TPersistent* source) {
  if (!source) {
    Reset();
    Changed();
    return;
  }
  if (auto* picture = dynamic_cast<TGIFImage*>(source)) {
    if (picture == this) return;
    CopyPicture(*picture);
    Changed();
    return;
  }
  if (auto* frame = dynamic_cast<TGIFFrame*>(source)) {
    TakeFrame(*frame);
    Changed();
    return;
  }
  if (auto* bitmap = dynamic_cast<tk::TBitmap*>(source)) {
    Reset();
    AppendFrame(bitmap);
    Changed();
    return;
  }
  if (auto* cursor = dynamic_cast<cursor::TAnimatedCursorImage*>(source)) {
    TakeCursor(*cursor);
    Changed();
    return;
  }
  TGraphic::TakeFrom(source);
}

bool TGIFImage::SameAs(tk::TGraphic* other) {
  auto* picture = dynamic_cast<TGIFImage*>(other);
  return picture && picture->ScreenData.get() == ScreenData.get();
}

bool TGIFImage::IsEmpty() {
  if (FrameCount() == 0) return true;
  int index = CurrentIndex >= 0 && CurrentIndex < FrameCount() ? CurrentIndex : 0;
  const TGIFFrame& frame = FrameAt(index);
  return !(frame.BuiltBitmap && !frame.BuiltBitmap->IsEmpty()) && !frame.Encoded->HasPixelData();
}

int TGIFImage::CurrentWidth() {
  if (IsEmpty() || CurrentIndex < 0 || CurrentIndex >= FrameCount()) return 0;
  return FrameAt(CurrentIndex).BuildBitmap()->Width();
}

int TGIFImage::CurrentHeight() {
  if (IsEmpty() || CurrentIndex < 0 || CurrentIndex >= FrameCount()) return 0;
  return FrameAt(CurrentIndex).BuildBitmap()->Height();
}

tk::HPALETTE TGIFImage::CurrentPalette() {
  if (FrameCount() == 0) return nullptr;
  return CurrentBitmap()->CurrentPalette();
}

bool TGIFImage::IsTransparent() {
  if (!Transparent()) return false;
  return std::any_of(FrameList.begin(), FrameList.end(),
                     [](const auto& frame) { return frame->TransColor != NoColor; });
}

void TGIFImage::ChangeWidth(int) { throw tk::EInvalidGraphicOperation(std::string(SCannotResize)); }

void TGIFImage::ChangeHeight(int) { throw tk::EInvalidGraphicOperation(std::string(SCannotResize)); }

}  // namespace gif
