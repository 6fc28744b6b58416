#include "toolkit/system/clipboard.h"

#include <algorithm>
#include <map>
#include <new>
#include <unordered_set>
#include <vector>

#include "toolkit/core/exceptions.h"
#include "toolkit/core/graphic.h"
#include "toolkit/core/picture.h"

namespace tk {

struct GlobalBlock {
  std::vector<std::uint8_t> bytes;
  std::size_t size = 0;
  int locks = 0;
};

namespace {

// The largest block handed out; larger requests fail as the platform's would.
constexpr std::size_t kMaxGlobalBlock = std::size_t{1} << 30;
// The palette slot of the clipboard (declared with the bitmap class as CF_PALETTE).
constexpr TClipboardFormat kPaletteFormat = 9;

// Everything the clipboard and the global heap hold. It is never destroyed, so that data still
// on the clipboard at exit stays reachable and no release runs after the graphics device is gone.
struct State {
  std::unordered_set<GlobalBlock*> blocks;
  std::vector<std::string> formatNames;  // index i: format 0xC000 + i
  std::map<TClipboardFormat, TClipboardRelease> releaseHooks;
  bool open = false;
  std::vector<std::pair<TClipboardFormat, THandle>> items;  // in the order they were set
};

State& TheState() {
  static State* state = new State;
  return *state;
}

GlobalBlock* Live(HGLOBAL block) {
  return block && TheState().blocks.count(block) ? block : nullptr;
}

void Release(TClipboardFormat format, THandle data) {
  auto hook = TheState().releaseHooks.find(format);
  if (hook != TheState().releaseHooks.end()) hook->second(data);
  else GlobalFree(reinterpret_cast<HGLOBAL>(data));
}

}  // namespace

// ---- Global memory

HGLOBAL GlobalAlloc(unsigned, std::size_t bytes) {
  if (bytes > kMaxGlobalBlock) return nullptr;
  try {
    auto block = std::make_unique<GlobalBlock>();
    block->bytes.assign(std::max<std::size_t>(bytes, 1), 0);  // a size-0 block still locks
    block->size = bytes;
    TheState().blocks.insert(block.get());
    return block.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void* GlobalLock(HGLOBAL block) {
  GlobalBlock* b = Live(block);
  if (!b) return nullptr;
  ++b->locks;
  return b->bytes.data();
}

bool GlobalUnlock(HGLOBAL block) {
  GlobalBlock* b = Live(block);
  if (!b || b->locks == 0) return false;
  return --b->locks > 0;
}

std::size_t GlobalSize(HGLOBAL block) {
  GlobalBlock* b = Live(block);
  return b ? b->size : 0;
}

HGLOBAL GlobalFree(HGLOBAL block) {
  GlobalBlock* b = Live(block);
  if (!b) return block;
  TheState().blocks.erase(b);
  delete b;
  return nullptr;
}

// ---- Format names

TClipboardFormat RegisterClipboardFormatA(const char* name) {
  if (!name || !*name) return 0;
  auto& names = TheState().formatNames;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], name)) return static_cast<TClipboardFormat>(kFirstRegisteredFormat + i);
  if (names.size() > 0xFFFFu - kFirstRegisteredFormat) return 0;
  names.emplace_back(name);
  return static_cast<TClipboardFormat>(kFirstRegisteredFormat + names.size() - 1);
}

std::string GetClipboardFormatNameA(TClipboardFormat format) {
  auto& names = TheState().formatNames;
  const std::size_t index = format - std::size_t{kFirstRegisteredFormat};
  return format >= kFirstRegisteredFormat && index < names.size() ? names[index] : "";
}

// ---- The store

bool OpenClipboard() {
  if (TheState().open) return false;
  TheState().open = true;
  return true;
}

bool CloseClipboard() {
  if (!TheState().open) return false;
  TheState().open = false;
  return true;
}

bool EmptyClipboard() {
  State& s = TheState();
  if (!s.open) return false;
  auto items = std::move(s.items);
  s.items.clear();
  for (auto& [format, data] : items) Release(format, data);
  return true;
}

THandle SetClipboardData(TClipboardFormat format, THandle data) {
  State& s = TheState();
  if (!s.open || data == 0) return 0;
  auto it = std::find_if(s.items.begin(), s.items.end(), [&](auto& item) { return item.first == format; });
  if (it == s.items.end()) {
    s.items.emplace_back(format, data);
  } else if (it->second != data) {
    Release(format, std::exchange(it->second, data));
  }
  return data;
}

THandle GetClipboardData(TClipboardFormat format) {
  State& s = TheState();
  if (!s.open) return 0;
  for (auto& [f, data] : s.items)
    if (f == format) return data;
  return 0;
}

bool IsClipboardFormatAvailable(TClipboardFormat format) {
  auto& items = TheState().items;
  return std::any_of(items.begin(), items.end(), [&](auto& item) { return item.first == format; });
}

TClipboardFormat EnumClipboardFormats(TClipboardFormat format) {
  State& s = TheState();
  if (!s.open || s.items.empty()) return 0;
  if (format == 0) return s.items.front().first;
  for (std::size_t i = 0; i + 1 < s.items.size(); ++i)
    if (s.items[i].first == format) return s.items[i + 1].first;
  return 0;
}

void SetClipboardReleaseHook(TClipboardFormat format, TClipboardRelease release) {
  if (release) TheState().releaseHooks[format] = std::move(release);
  else TheState().releaseHooks.erase(format);
}

// ---- TClipboard

void TClipboard::Open() {
  if (openCount_ == 0) {
    if (!OpenClipboard()) throw EClipboardError(std::string(SCannotOpenClipboard));
    emptied_ = false;
  }
  ++openCount_;
}

void TClipboard::Close() {
  if (openCount_ == 0) return;
  if (--openCount_ == 0) CloseClipboard();
}

namespace {
// Keeps the clipboard object open for a scope.
struct OpenScope {
  TClipboard& clipboard;
  explicit OpenScope(TClipboard& c) : clipboard(c) { clipboard.Open(); }
  ~OpenScope() { clipboard.Close(); }
};
}  // namespace

void TClipboard::Adding() {
  if (openCount_ > 0 && !emptied_) {
    EmptyClipboard();
    emptied_ = true;
  }
}

void TClipboard::Clear() {
  OpenScope open(*this);
  EmptyClipboard();
}

THandle TClipboard::GetAsHandle(TClipboardFormat format) {
  OpenScope open(*this);
  return GetClipboardData(format);
}

void TClipboard::SetAsHandle(TClipboardFormat format, THandle data) {
  OpenScope open(*this);
  Adding();
  if (SetClipboardData(format, data) == 0) Release(format, data);
}

void TClipboard::CopyGraphic(TGraphic& graphic) {
  OpenScope open(*this);
  Adding();
  TClipboardFormat format = 0;
  THandle data = 0;
  HPALETTE palette = nullptr;
  // The graphic may put further formats on the clipboard itself. Outputs it filled before a
  // failure are released, not lost.
  try {
    graphic.ToClipboard(format, data, palette);
  } catch (...) {
    if (data != 0) Release(format, data);
    if (palette) Release(kPaletteFormat, reinterpret_cast<THandle>(palette));
    throw;
  }
  if (data != 0 && SetClipboardData(format, data) == 0) Release(format, data);
  if (palette) {
    const THandle handle = reinterpret_cast<THandle>(palette);
    if (SetClipboardData(kPaletteFormat, handle) == 0) Release(kPaletteFormat, handle);
  }
}

void TClipboard::PasteInto(TPicture& picture) {
  OpenScope open(*this);
  for (TClipboardFormat f = EnumClipboardFormats(0); f != 0; f = EnumClipboardFormats(f)) {
    if (!TPicture::SupportsClipboardFormat(f)) continue;
    picture.LoadFromClipboardFormat(f, GetClipboardData(f),
                                    reinterpret_cast<HPALETTE>(GetClipboardData(kPaletteFormat)));
    return;
  }
  throw EInvalidGraphic(std::string(SUnknownClipboardFormat));
}

void TClipboard::TakeFrom(TPersistent* source) {
  if (auto* picture = dynamic_cast<TPicture*>(source)) {
    if (picture->Graphic()) CopyGraphic(*picture->Graphic());
    else Clear();
    return;
  }
  if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
    CopyGraphic(*graphic);
    return;
  }
  TPersistent::TakeFrom(source);
}

void TClipboard::GiveTo(TPersistent* target) {
  if (auto* picture = dynamic_cast<TPicture*>(target)) {
    PasteInto(*picture);
    return;
  }
  TPersistent::GiveTo(target);
}

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}

}  // namespace tk
