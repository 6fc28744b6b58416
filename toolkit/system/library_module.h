// The inside of a library handle, shared by the loaders of the platforms: the portable one that
// reads a DLL file with the toolkit's parser (library_load.cpp) and the real Windows loader
// (win32/library_load.cpp).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/system/library.h"

namespace tk {

// A loaded library: where it came from and how its resources are found.
struct LoadedModule {
  virtual ~LoadedModule() = default;
  // The resource's bytes, kept alive by the owner they come with (even past FreeLibrary).
  virtual std::optional<TResourceData> Find(const TResName& name, const TResName& type) const = 0;
  virtual std::vector<TResourceInfo> Enumerate() const = 0;
  std::string fileName;
};

namespace library {

// Registers a loaded library and gives its handle; the load error is cleared.
HMODULE Add(std::unique_ptr<LoadedModule> module);
// Notes why a load failed ("NAME: REASON") and returns null.
HMODULE Fail(std::string_view name, std::string_view reason);
// The text of a failure to find a library file.
inline constexpr std::string_view kNotFound = "not found in the program's folder or the current directory";

}  // namespace library
}  // namespace tk
