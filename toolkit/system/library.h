// Side libraries: PE resource-only DLLs loaded from disk, their resources found by name and type,
// and the program's own resources (the target of a lookup through a null library handle).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/core/handles.h"
#include "toolkit/core/streams.h"

namespace tk {

// Resource types of the platform.
inline constexpr std::uint16_t RT_CURSOR = 1;
inline constexpr std::uint16_t RT_BITMAP = 2;
inline constexpr std::uint16_t RT_ICON = 3;
inline constexpr std::uint16_t RT_MENU = 4;
inline constexpr std::uint16_t RT_DIALOG = 5;
inline constexpr std::uint16_t RT_STRING = 6;
inline constexpr std::uint16_t RT_FONTDIR = 7;
inline constexpr std::uint16_t RT_FONT = 8;
inline constexpr std::uint16_t RT_ACCELERATOR = 9;
inline constexpr std::uint16_t RT_RCDATA = 10;
inline constexpr std::uint16_t RT_MESSAGETABLE = 11;
inline constexpr std::uint16_t RT_GROUP_CURSOR = 12;
inline constexpr std::uint16_t RT_GROUP_ICON = 14;
inline constexpr std::uint16_t RT_VERSION = 16;
inline constexpr std::uint16_t RT_ANICURSOR = 21;
inline constexpr std::uint16_t RT_ANIICON = 22;
inline constexpr std::uint16_t RT_HTML = 23;
inline constexpr std::uint16_t RT_MANIFEST = 24;

// The name or type of a resource: a text (compared without regard to the case of a-z) or a
// 16-bit number.
class TResName {
 public:
  TResName(std::uint16_t id) : id_(id), isId_(true) {}  // NOLINT: implicit, like MAKEINTRESOURCE
  TResName(int id) : TResName(static_cast<std::uint16_t>(id)) {}
  TResName(const char* name) : TResName(std::string_view(name)) {}
  TResName(const std::string& name) : TResName(std::string_view(name)) {}
  TResName(std::string_view name) : name_(name) {}

  bool IsId() const { return isId_; }
  std::uint16_t Id() const { return id_; }
  const std::string& Name() const { return name_; }
  // The text shown in messages: the name, or the number in decimal.
  std::string Text() const { return isId_ ? std::to_string(id_) : name_; }
  // Equal ids, or names equal without regard to the case of a-z.
  bool Matches(const TResName& other) const;

 private:
  std::string name_;
  std::uint16_t id_ = 0;
  bool isId_ = false;
};

// The bytes of one resource and the owner that keeps them alive.
struct TResourceData {
  std::span<const std::uint8_t> Bytes;
  std::shared_ptr<const void> Owner;
};

// Loads a library by file name. A bare name (no '/') is looked for in the program's own folder,
// then in the current directory; a name without an extension gets ".dll". Returns null when the
// file is missing or is not a PE resource DLL; LastLibraryError() then says why.
HMODULE LoadLibraryA(const char* fileName);
// Loads a library from the bytes of a DLL image (the loader's parser without the file search).
HMODULE LoadLibraryFromImage(std::vector<std::uint8_t> image, std::string_view name = "<memory>");
// Releases a library; false for a null or unknown handle. Resource data already handed out stays
// valid through its owner.
bool FreeLibrary(HMODULE module);
// Why the last failing LoadLibraryA or LoadLibraryFromImage failed (empty after a success).
const std::string& LastLibraryError();
// The file a library was loaded from, or the name given to LoadLibraryFromImage; "" for a null
// or unknown handle.
std::string ModuleFileName(HMODULE module);

// Finds a resource of the library (null: the program's own resources). The language level of
// the tree is not chosen by: the first language entry is taken.
std::optional<TResourceData> FindResource(HMODULE module, const TResName& name, const TResName& type);
// As FindResource, failing with EResNotFound "Resource %s not found" (the name filled in).
TResourceData LoadResource(HMODULE module, const TResName& name, const TResName& type);

// One resource as listed by EnumResources.
struct TResourceInfo {
  TResName Type;
  TResName Name;
  std::uint16_t Language;
  std::size_t Size;
};
// Every resource of the library whose data entry is sound, in directory order.
std::vector<TResourceInfo> EnumResources(HMODULE module);

// Adds a resource to the program's own resources, replacing one of the same type and name.
void RegisterOwnResource(const TResName& type, const TResName& name, std::vector<std::uint8_t> bytes);

// Holds a loaded library and releases it when it goes.
class TLibrary {
 public:
  explicit TLibrary(const char* fileName) : module_(LoadLibraryA(fileName)) {}
  explicit TLibrary(HMODULE module) : module_(module) {}
  TLibrary(const TLibrary&) = delete;
  TLibrary& operator=(const TLibrary&) = delete;
  ~TLibrary() { FreeLibrary(module_); }

  HMODULE Handle() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }

 private:
  HMODULE module_;
};

// A read-only stream over a resource's bytes, positioned at the start. Fails with EResNotFound
// when there is no such resource. The bytes stay valid after the library is released.
class TResourceStream : public TReadOnlyMemoryStream {
 public:
  TResourceStream(HMODULE module, const TResName& name, const TResName& type)
      : TResourceStream(LoadResource(module, name, type)) {}

 private:
  explicit TResourceStream(TResourceData data)
      : TReadOnlyMemoryStream(data.Bytes, std::move(data.Owner)) {}
};

}  // namespace tk
