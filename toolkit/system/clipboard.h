// The clipboard: format registration by name, movable global memory blocks, the clipboard
// store, and the clipboard object through which graphics are copied and pasted. The store is the
// system's own clipboard on Windows, shared with other programs (win32/clipboard_store.cpp), and
// an in-process store elsewhere (clipboard_store.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/core/handles.h"
#include "toolkit/core/persistent.h"

namespace tk {

class TGraphic;
class TPicture;

// Standard clipboard formats. CF_BITMAP (2) and CF_PALETTE (9), whose data are graphics
// handles, are declared with the bitmap class.
inline constexpr TClipboardFormat CF_TEXT = 1;
inline constexpr TClipboardFormat CF_METAFILEPICT = 3;
inline constexpr TClipboardFormat CF_DIB = 8;
inline constexpr TClipboardFormat CF_UNICODETEXT = 13;
inline constexpr TClipboardFormat CF_ENHMETAFILE = 14;
// Registered format names get numbers from here up.
inline constexpr TClipboardFormat kFirstRegisteredFormat = 0xC000;

// ---- Global memory blocks

inline constexpr unsigned GMEM_FIXED = 0x00;
inline constexpr unsigned GMEM_MOVEABLE = 0x02;
inline constexpr unsigned GMEM_ZEROINIT = 0x40;
inline constexpr unsigned GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A new block of the given size, zero-filled; null when it cannot be had.
HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes);
// The block's memory, counting one lock more; null for a null or unknown handle.
void* GlobalLock(HGLOBAL block);
// Counts one lock less; true while the block is still locked.
bool GlobalUnlock(HGLOBAL block);
// The size asked for at allocation; 0 for a null or unknown handle.
std::size_t GlobalSize(HGLOBAL block);
// Frees the block, locked or not: null on success, the handle itself when it is unknown.
HGLOBAL GlobalFree(HGLOBAL block);

// Owns a global block until it is released (for example to the clipboard).
class TGlobalMemory {
 public:
  explicit TGlobalMemory(std::size_t bytes, unsigned flags = GHND) : block_(GlobalAlloc(flags, bytes)) {}
  explicit TGlobalMemory(HGLOBAL block) : block_(block) {}
  TGlobalMemory(const TGlobalMemory&) = delete;
  TGlobalMemory& operator=(const TGlobalMemory&) = delete;
  ~TGlobalMemory() {
    if (block_) GlobalFree(block_);
  }
  HGLOBAL Handle() const { return block_; }
  explicit operator bool() const { return block_ != nullptr; }
  // Hands the block over: it is no longer freed here.
  HGLOBAL Release() { return std::exchange(block_, nullptr); }

 private:
  HGLOBAL block_;
};

// Holds a lock on a block for a scope.
class TGlobalLock {
 public:
  explicit TGlobalLock(HGLOBAL block) : block_(block), memory_(static_cast<std::uint8_t*>(GlobalLock(block))) {}
  TGlobalLock(const TGlobalLock&) = delete;
  TGlobalLock& operator=(const TGlobalLock&) = delete;
  ~TGlobalLock() {
    if (memory_) GlobalUnlock(block_);
  }
  std::uint8_t* Data() const { return memory_; }
  std::size_t Size() const { return GlobalSize(block_); }
  explicit operator bool() const { return memory_ != nullptr; }

 private:
  HGLOBAL block_;
  std::uint8_t* memory_;
};

// ---- The clipboard store

// The number of a format name: the same name, compared without regard to the case of a-z,
// always gives the same number, from 0xC000 up; 0 for an empty name or when the numbers run out.
TClipboardFormat RegisterClipboardFormatA(const char* name);
// The name a format was registered under; "" for other formats.
std::string GetClipboardFormatNameA(TClipboardFormat format);

// The store is opened by one user at a time: false when it is open already.
bool OpenClipboard();
bool CloseClipboard();
// Releases everything on the clipboard. Only while it is open.
bool EmptyClipboard();
// Puts data on the clipboard, which owns it from then on and releases any earlier data of the
// format. Only while it is open and with a non-null handle: otherwise returns 0 and the data
// stays the caller's. Returns the data.
THandle SetClipboardData(TClipboardFormat format, THandle data);
// The data of a format, still owned by the clipboard; 0 when there is none or it is not open.
THandle GetClipboardData(TClipboardFormat format);
bool IsClipboardFormatAvailable(TClipboardFormat format);
// The formats on the clipboard in the order they were put there: 0 gives the first, a format
// the next one; 0 at the end. Only while it is open.
TClipboardFormat EnumClipboardFormats(TClipboardFormat format);

// How the store releases the data of a format; formats without a hook hold global blocks and
// are released with GlobalFree. The graphics device registers DeleteObject for its handles.
using TClipboardRelease = std::function<void(THandle)>;
void SetClipboardReleaseHook(TClipboardFormat format, TClipboardRelease release);
// Releases data that the clipboard did not take, the way the clipboard would.
void ReleaseClipboardData(TClipboardFormat format, THandle data);

// How the graphics handles of a format cross to the system's clipboard and back, as bytes: a
// packed DIB for CF_BITMAP, palette entries (red, green, blue, flags) for CF_PALETTE. The
// graphics device registers them. Import makes a new handle that the clipboard owns; on failure
// it returns 0. The in-process store needs neither.
struct TClipboardTransfer {
  std::function<std::vector<std::uint8_t>(THandle)> Export;
  std::function<THandle(std::span<const std::uint8_t>)> Import;
};
void SetClipboardTransfer(TClipboardFormat format, TClipboardTransfer transfer);

// ---- The clipboard object

// Opens the store for a run of operations (nested opens count) and empties it once before the
// first data is added. Copying a graphic asks it for its clipboard form (ToClipboard) and puts
// that, and its palette, on the clipboard; pasting gives a picture the first format on the
// clipboard that a graphic class is registered for.
class TClipboard : public TPersistent {
 public:
  std::string_view ClassName() const override { return "TClipboard"; }

  // Fails with EClipboardError "Cannot open clipboard" when the store is held elsewhere.
  void Open();
  void Close();
  // Opens, empties and closes.
  void Clear();
  bool HasFormat(TClipboardFormat format) const { return IsClipboardFormatAvailable(format); }
  THandle GetAsHandle(TClipboardFormat format);
  // Puts data on the clipboard (emptied first); the clipboard owns it.
  void SetAsHandle(TClipboardFormat format, THandle data);

  // Copies a graphic (or a picture's graphic; an empty picture empties the clipboard).
  void CopyGraphic(TGraphic& graphic);
  // Pastes into a picture; fails with EInvalidGraphic "Unsupported clipboard format" when no
  // format on the clipboard has a graphic class.
  void PasteInto(TPicture& picture);

  // TakeFrom copies a graphic or a picture; GiveTo pastes into a picture.
  void TakeFrom(TPersistent* source) override;
  void GiveTo(TPersistent* target) override;

 private:
  // Empties the store before the first data of this opening.
  void Adding();
  int openCount_ = 0;
  bool emptied_ = false;
};

// The program's clipboard object.
TClipboard& Clipboard();

}  // namespace tk
