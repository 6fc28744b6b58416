// The in-process clipboard store and global memory of the portable build: the clipboard holds
// what is set into it for the life of the program.
#include "toolkit/system/clipboard.h"

#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

#include "toolkit/core/exceptions.h"

namespace tk {

struct GlobalBlock {
  std::vector<std::uint8_t> bytes;
  std::size_t size = 0;
  int locks = 0;
};

namespace {

// The largest block handed out; larger requests fail as the platform's would.
constexpr std::size_t kMaxGlobalBlock = std::size_t{1} << 30;

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

}  // namespace

void ReleaseClipboardData(TClipboardFormat format, THandle data) {
  auto hook = TheState().releaseHooks.find(format);
  if (hook != TheState().releaseHooks.end()) hook->second(data);
  else GlobalFree(reinterpret_cast<HGLOBAL>(data));
}

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
  for (auto& [format, data] : items) ReleaseClipboardData(format, data);
  return true;
}

THandle SetClipboardData(TClipboardFormat format, THandle data) {
  State& s = TheState();
  if (!s.open || data == 0) return 0;
  auto it = std::find_if(s.items.begin(), s.items.end(), [&](auto& item) { return item.first == format; });
  if (it == s.items.end()) {
    s.items.emplace_back(format, data);
  } else if (it->second != data) {
    ReleaseClipboardData(format, std::exchange(it->second, data));
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

// Graphics handles stay in this process as they are: nothing crosses to another program.
void SetClipboardTransfer(TClipboardFormat, TClipboardTransfer) {}


}  // namespace tk
