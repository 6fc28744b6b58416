#include "toolkit/system/library.h"

#include <map>

#include "toolkit/system/library_module.h"
#include "toolkit/system/pe_resources.h"

namespace tk {

// A library read by the toolkit's parser: its image, shared with the resource data handed out,
// and its parsed tree.
struct ImageModule : LoadedModule {
  std::shared_ptr<const std::vector<std::uint8_t>> image;
  pe::ResourceTree tree;

  std::optional<TResourceData> Find(const TResName& name, const TResName& type) const override {
    auto bytes = tree.Find(name, type);
    if (!bytes) return std::nullopt;
    return TResourceData{*bytes, image};
  }
  std::vector<TResourceInfo> Enumerate() const override { return tree.Enumerate(); }
};

namespace {

std::string& LastError() {
  static std::string error;
  return error;
}

// The libraries loaded and not yet released: a handle is valid exactly while it is in here.
std::map<HMODULE, std::unique_ptr<LoadedModule>>& Modules() {
  static std::map<HMODULE, std::unique_ptr<LoadedModule>> modules;
  return modules;
}

struct OwnResource {
  TResName type;
  TResName name;
  std::shared_ptr<const std::vector<std::uint8_t>> bytes;
};

std::vector<OwnResource>& OwnResources() {
  static std::vector<OwnResource> resources;
  return resources;
}

}  // namespace

bool TResName::Matches(const TResName& other) const {
  if (isId_ != other.isId_) return false;
  return isId_ ? id_ == other.id_ : SameText(name_, other.name_);
}

namespace library {

HMODULE Add(std::unique_ptr<LoadedModule> module) {
  HMODULE handle = module.get();
  Modules().emplace(handle, std::move(module));
  LastError().clear();
  return handle;
}

HMODULE Fail(std::string_view name, std::string_view reason) {
  LastError() = std::string(name) + ": " + std::string(reason);
  return nullptr;
}

}  // namespace library

HMODULE LoadLibraryFromImage(std::vector<std::uint8_t> image, std::string_view name) {
  auto module = std::make_unique<ImageModule>();
  module->image = std::make_shared<const std::vector<std::uint8_t>>(std::move(image));
  std::string error;
  auto tree = pe::ResourceTree::Parse(*module->image, error);
  if (!tree) return library::Fail(name, error);
  module->tree = *tree;
  module->fileName = std::string(name);
  return library::Add(std::move(module));
}

bool FreeLibrary(HMODULE module) { return module && Modules().erase(module) == 1; }

const std::string& LastLibraryError() { return LastError(); }

std::string ModuleFileName(HMODULE module) {
  auto it = Modules().find(module);
  return it == Modules().end() ? std::string() : it->second->fileName;
}

std::optional<TResourceData> FindResource(HMODULE module, const TResName& name,
                                          const TResName& type) {
  if (!module) {
    for (const OwnResource& r : OwnResources())
      if (r.type.Matches(type) && r.name.Matches(name)) return TResourceData{*r.bytes, r.bytes};
    return std::nullopt;
  }
  auto it = Modules().find(module);
  if (it == Modules().end()) return std::nullopt;
  return it->second->Find(name, type);
}

TResourceData LoadResource(HMODULE module, const TResName& name, const TResName& type) {
  auto data = FindResource(module, name, type);
  if (!data) throw EResNotFound(name.Text());
  return *data;
}

std::vector<TResourceInfo> EnumResources(HMODULE module) {
  std::vector<TResourceInfo> out;
  if (!module) {
    for (const OwnResource& r : OwnResources()) out.push_back({r.type, r.name, 0, r.bytes->size()});
    return out;
  }
  auto it = Modules().find(module);
  return it == Modules().end() ? out : it->second->Enumerate();
}

void RegisterOwnResource(const TResName& type, const TResName& name, std::vector<std::uint8_t> bytes) {
  auto shared = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
  for (OwnResource& r : OwnResources()) {
    if (r.type.Matches(type) && r.name.Matches(name)) {
      r.bytes = std::move(shared);
      return;
    }
  }
  OwnResources().push_back({type, name, std::move(shared)});
}

}  // namespace tk
