// The GIF picture's place in the picture machinery: registration at start-up, withdrawal at
// shutdown, and the clipboard.
#include <cstring>

#include "gif/draw.h"
#include "gif/gif.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/system/clipboard.h"
#include "toolkit/core/picture.h"

namespace gif {

namespace {

// How many module initialisations are in force.
int initCount = 0;

void RegisterGifClasses() {
  GifClipboardFormat = tk::RegisterClipboardFormatA("GIF Image");
  tk::RegisterClass(tk::ClassOf<TGIFFrame>("TGIFFrame"));
  tk::RegisterClass(tk::ClassOf<TGIFImage>("TGIFImage"));
  tk::TPicture::RegisterFileFormat("gif", SGIFDescription, tk::ClassOf<TGIFImage>("TGIFImage"));
  tk::TPicture::RegisterClipboardFormat(GifClipboardFormat, tk::ClassOf<TGIFImage>("TGIFImage"));
}

}  // namespace

TGifModule::TGifModule() {
  if (initCount++ != 0) return;
  try {
    InitDrawingRoutines();
    RegisterGifClasses();
  } catch (...) {
    --initCount;
    throw;
  }
}

TGifModule::~TGifModule() {
  if (--initCount == 0) tk::TPicture::UnregisterGraphicClass("TGIFImage");
}

// ---- The clipboard

void TGIFImage::FromClipboard(tk::TClipboardFormat format, tk::THandle data, tk::HPALETTE palette) {
  const tk::THandle block = tk::GetClipboardData(GifClipboardFormat);
  if (!block) {
    // No GIF on the clipboard: the picture becomes one frame of the bitmap there.
    tk::TBitmap bitmap;
    bitmap.FromClipboard(format, data, palette);
    TakeFrom(&bitmap);
    return;
  }
  tk::TMemoryStream stream;
  {
    tk::TGlobalLock lock(reinterpret_cast<tk::HGLOBAL>(block));
    if (lock) stream.WriteBuffer(lock.Data(), lock.Size());
  }
  stream.SetPosition(0);
  const std::int32_t length = stream.ReadI32();
  ReadGIF(length, stream, false);
  if (FrameCount() == 0) return;
  CurrentIndex = 0;
  // Frame 0 shows the bitmap that came with the GIF.
  if (const tk::THandle bitmap = tk::GetClipboardData(tk::CF_BITMAP)) {
    TGIFFrame& frame = FrameAt(0);
    frame.NewBitmap();
    frame.BuiltBitmap->FromClipboard(tk::CF_BITMAP, bitmap, palette);
  }
}

void TGIFImage::ToClipboard(tk::TClipboardFormat& format, tk::THandle& data,
                            tk::HPALETTE& palette) {
  if (FrameCount() == 0) return;
  FrameAt(0).BuildBitmap()->ToClipboard(format, data, palette);
  // The GIF goes along only when every frame is encoded already.
  for (const auto& frame : FrameList)
    if (!frame->Encoded->HasPixelData()) return;
  tk::TMemoryStream stream;
  WriteGIF(stream, true);
  tk::TGlobalMemory block(static_cast<std::size_t>(stream.Size()), tk::GMEM_MOVEABLE);
  if (!block) return;
  {
    tk::TGlobalLock lock(block.Handle());
    if (!lock) return;
    std::memcpy(lock.Data(), stream.Memory(), static_cast<std::size_t>(stream.Size()));
  }
  // The clipboard owns the block once it takes it; a block it refuses is freed here.
  if (tk::SetClipboardData(GifClipboardFormat, reinterpret_cast<tk::THandle>(block.Handle())) != 0)
    block.Release();
}

}  // namespace gif
