// The clipboard store and global memory of the Windows build: the system's own clipboard, which
// other programs share, and the system's movable global blocks. The graphics handles of the
// toolkit's software device cannot go there as they are: a bitmap goes as a packed DIB (CF_DIB,
// from which the system makes CF_BITMAP for programs that ask for it) and a palette as a real
// palette; reading them back makes new software handles, which the store owns until it is
// closed or emptied.
#include <algorithm>
#include <map>
#include <unordered_set>
#include <vector>

#include "toolkit/system/clipboard.h"
#include "toolkit/system/win32/windows_api.h"

namespace tk {

namespace {

// The largest block handed out, as in the other builds.
constexpr std::size_t kMaxGlobalBlock = std::size_t{1} << 30;
// The toolkit's numbers of the graphics formats (those of the platform).
constexpr TClipboardFormat kBitmapFormat = 2;
constexpr TClipboardFormat kPaletteFormat = 9;
constexpr UINT kDibFormat = 8;
constexpr UINT kDibV5Format = 17;

struct State {
  std::map<TClipboardFormat, TClipboardRelease> releaseHooks;
  std::map<TClipboardFormat, TClipboardTransfer> transfers;
  bool open = false;
  // Graphics handles made from the system's data while the store is open.
  std::vector<std::pair<TClipboardFormat, THandle>> imported;
  // Blocks allocated with size 0: the system gives them one byte, so that they can be locked.
  std::unordered_set<HGLOBAL> empty;
  HWND owner = nullptr;
};

State& TheState() {
  static State* state = new State;
  return *state;
}

// The clipboard's owner: a hidden message-only window, made on first use.
HWND Owner() {
  State& s = TheState();
  if (!s.owner) {
    s.owner = ::CreateWindowExA(0, "STATIC", "Protractor clipboard", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, ::GetModuleHandleA(nullptr), nullptr);
  }
  return s.owner;
}

::HGLOBAL Native(HGLOBAL block) { return reinterpret_cast<::HGLOBAL>(block); }
HGLOBAL Ours(::HGLOBAL block) { return reinterpret_cast<HGLOBAL>(block); }

void ReleaseImported(TClipboardFormat format) {
  auto& imported = TheState().imported;
  for (auto it = imported.begin(); it != imported.end();) {
    if (format == 0 || it->first == format) {
      const auto [f, data] = *it;
      it = imported.erase(it);
      ReleaseClipboardData(f, data);
    } else {
      ++it;
    }
  }
}

// Bytes into a new movable block, or null.
::HGLOBAL BlockOf(const std::vector<std::uint8_t>& bytes) {
  ::HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, std::max<std::size_t>(bytes.size(), 1));
  if (!block) return nullptr;
  void* p = ::GlobalLock(block);
  if (!p) {
    ::GlobalFree(block);
    return nullptr;
  }
  std::copy(bytes.begin(), bytes.end(), static_cast<std::uint8_t*>(p));
  ::GlobalUnlock(block);
  return block;
}

// A graphics handle of the toolkit as the system's data of the format, or null.
HANDLE Exported(TClipboardFormat format, THandle data) {
  auto transfer = TheState().transfers.find(format);
  if (transfer == TheState().transfers.end() || !transfer->second.Export) return nullptr;
  const std::vector<std::uint8_t> bytes = transfer->second.Export(data);
  if (format == kBitmapFormat) return BlockOf(bytes);
  std::vector<std::uint8_t> logical(sizeof(LOGPALETTE) + bytes.size());
  auto* palette = reinterpret_cast<LOGPALETTE*>(logical.data());
  palette->palVersion = 0x300;
  palette->palNumEntries = static_cast<WORD>(bytes.size() / 4);
  std::copy(bytes.begin(), bytes.end(), reinterpret_cast<std::uint8_t*>(palette->palPalEntry));
  return palette->palNumEntries ? ::CreatePalette(palette) : nullptr;
}

// The system's data of a graphics format as a new toolkit handle, owned by the store; 0 when
// there is none or it cannot be read.
THandle Imported(TClipboardFormat format) {
  auto transfer = TheState().transfers.find(format);
  if (transfer == TheState().transfers.end() || !transfer->second.Import) return 0;
  std::vector<std::uint8_t> bytes;
  if (format == kBitmapFormat) {
    ::HGLOBAL block = static_cast<::HGLOBAL>(::GetClipboardData(kDibFormat));
    const void* p = block ? ::GlobalLock(block) : nullptr;
    if (!p) return 0;
    auto first = static_cast<const std::uint8_t*>(p);
    bytes.assign(first, first + ::GlobalSize(block));
    ::GlobalUnlock(block);
  } else {
    auto palette = static_cast<::HPALETTE>(::GetClipboardData(CF_PALETTE));
    const UINT n = palette ? ::GetPaletteEntries(palette, 0, 0, nullptr) : 0;
    if (n == 0) return 0;
    std::vector<::PALETTEENTRY> entries(n);
    ::GetPaletteEntries(palette, 0, n, entries.data());
    for (const ::PALETTEENTRY& e : entries) bytes.insert(bytes.end(), {e.peRed, e.peGreen, e.peBlue, e.peFlags});
  }
  const THandle handle = transfer->second.Import(bytes);
  if (handle) TheState().imported.emplace_back(format, handle);
  return handle;
}

}  // namespace

void ReleaseClipboardData(TClipboardFormat format, THandle data) {
  auto hook = TheState().releaseHooks.find(format);
  if (hook != TheState().releaseHooks.end()) hook->second(data);
  else GlobalFree(reinterpret_cast<HGLOBAL>(data));
}

// ---- Global memory

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes) {
  if (bytes > kMaxGlobalBlock) return nullptr;
  // The system gives a size-0 movable block no memory; ours always has some to lock.
  ::HGLOBAL block = ::GlobalAlloc((flags & GMEM_MOVEABLE) | GMEM_ZEROINIT, std::max<std::size_t>(bytes, 1));
  if (block && bytes == 0) TheState().empty.insert(Ours(block));
  return Ours(block);
}

void* GlobalLock(HGLOBAL block) { return block ? ::GlobalLock(Native(block)) : nullptr; }

bool GlobalUnlock(HGLOBAL block) { return block && ::GlobalUnlock(Native(block)); }

std::size_t GlobalSize(HGLOBAL block) {
  if (!block || TheState().empty.count(block)) return 0;
  return ::GlobalSize(Native(block));
}

HGLOBAL GlobalFree(HGLOBAL block) {
  if (!block) return nullptr;
  HGLOBAL result = Ours(::GlobalFree(Native(block)));
  if (!result) TheState().empty.erase(block);
  return result;
}

// ---- Format names

TClipboardFormat RegisterClipboardFormatA(const char* name) {
  if (!name || !*name) return 0;
  return static_cast<TClipboardFormat>(::RegisterClipboardFormatA(name));
}

std::string GetClipboardFormatNameA(TClipboardFormat format) {
  if (format < kFirstRegisteredFormat) return "";
  char name[256] = {};
  const int n = ::GetClipboardFormatNameA(format, name, sizeof name);
  return n > 0 ? std::string(name, std::size_t(n)) : "";
}

// ---- The store

bool OpenClipboard() {
  State& s = TheState();
  if (s.open || !::OpenClipboard(Owner())) return false;
  s.open = true;
  return true;
}

bool CloseClipboard() {
  State& s = TheState();
  if (!s.open) return false;
  ReleaseImported(0);
  s.open = false;
  ::CloseClipboard();
  return true;
}

bool EmptyClipboard() {
  if (!TheState().open) return false;
  ReleaseImported(0);
  return ::EmptyClipboard();
}

THandle SetClipboardData(TClipboardFormat format, THandle data) {
  if (!TheState().open || data == 0) return 0;
  if (format == kBitmapFormat || format == kPaletteFormat) {
    // The system takes a copy in its own form; the toolkit's handle, now the clipboard's, goes.
    HANDLE copy = Exported(format, data);
    const UINT native = format == kBitmapFormat ? kDibFormat : CF_PALETTE;
    if (!copy || !::SetClipboardData(native, copy)) {
      if (copy && format == kBitmapFormat) ::GlobalFree(copy);
      if (copy && format == kPaletteFormat) ::DeleteObject(copy);
      return 0;
    }
    ReleaseImported(format);
    ReleaseClipboardData(format, data);
    return data;
  }
  return ::SetClipboardData(format, reinterpret_cast<HANDLE>(data)) ? data : 0;
}

THandle GetClipboardData(TClipboardFormat format) {
  if (!TheState().open) return 0;
  if (format == kBitmapFormat || format == kPaletteFormat) {
    for (const auto& [f, data] : TheState().imported)
      if (f == format) return data;
    return Imported(format);
  }
  return reinterpret_cast<THandle>(::GetClipboardData(format));
}

bool IsClipboardFormatAvailable(TClipboardFormat format) {
  if (format == kBitmapFormat) return ::IsClipboardFormatAvailable(kDibFormat);
  return ::IsClipboardFormatAvailable(format);
}

// The system lists a bitmap under each of its forms (DIB, DIB V5, bitmap); the toolkit sees one
// bitmap format, at the place of the first of them.
TClipboardFormat EnumClipboardFormats(TClipboardFormat format) {
  if (!TheState().open) return 0;
  std::vector<TClipboardFormat> formats;
  bool bitmap = false;
  for (UINT f = ::EnumClipboardFormats(0); f != 0; f = ::EnumClipboardFormats(f)) {
    if (f == kDibFormat || f == kDibV5Format || f == kBitmapFormat) {
      if (!std::exchange(bitmap, true)) formats.push_back(kBitmapFormat);
    } else if (f <= 0xFFFF) {
      formats.push_back(static_cast<TClipboardFormat>(f));
    }
  }
  if (format == 0) return formats.empty() ? 0 : formats.front();
  auto it = std::find(formats.begin(), formats.end(), format);
  return it == formats.end() || it + 1 == formats.end() ? 0 : *(it + 1);
}

void SetClipboardReleaseHook(TClipboardFormat format, TClipboardRelease release) {
  if (release) TheState().releaseHooks[format] = std::move(release);
  else TheState().releaseHooks.erase(format);
}

void SetClipboardTransfer(TClipboardFormat format, TClipboardTransfer transfer) {
  TheState().transfers[format] = std::move(transfer);
}

}  // namespace tk
