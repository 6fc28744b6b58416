#include "toolkit/system/library.h"

#include <filesystem>
#include <map>

#include "toolkit/system/pe_resources.h"

namespace tk {

// A loaded library: its image, shared with the resource data handed out, and its parsed tree.
struct LoadedModule {
  std::string fileName;
  std::shared_ptr<const std::vector<std::uint8_t>> image;
  pe::ResourceTree tree;
};

namespace {

// Files larger than this are not taken for side libraries.
constexpr std::uintmax_t kMaxLibrarySize = 256u << 20;

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

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

// Where a library name leads: a name with a folder as it is, a bare name in the program's
// folder, then in the current directory. Only regular files count.
std::optional<std::filesystem::path> Locate(std::string name) {
  const auto slash = name.rfind('/');
  if (name.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos) name += ".dll";
  std::vector<std::filesystem::path> candidates;
  if (slash != std::string::npos) {
    candidates.push_back(name);
  } else {
    if (auto folder = ProgramFolder(); !folder.empty()) candidates.push_back(folder / name);
    candidates.push_back(std::filesystem::current_path() / name);
  }
  for (auto& path : candidates) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) return path;
  }
  return std::nullopt;
}

HMODULE Fail(std::string_view name, std::string_view reason) {
  LastError() = std::string(name) + ": " + std::string(reason);
  return nullptr;
}

}  // namespace

bool TResName::Matches(const TResName& other) const {
  if (isId_ != other.isId_) return false;
  return isId_ ? id_ == other.id_ : SameText(name_, other.name_);
}

HMODULE LoadLibraryFromImage(std::vector<std::uint8_t> image, std::string_view name) {
  auto module = std::make_unique<LoadedModule>();
  module->image = std::make_shared<const std::vector<std::uint8_t>>(std::move(image));
  std::string error;
  auto tree = pe::ResourceTree::Parse(*module->image, error);
  if (!tree) return Fail(name, error);
  module->tree = *tree;
  module->fileName = std::string(name);
  HMODULE handle = module.get();
  Modules().emplace(handle, std::move(module));
  LastError().clear();
  return handle;
}

HMODULE LoadLibraryA(const char* fileName) {
  if (!fileName || !*fileName) return Fail("", "no library name");
  auto path = Locate(fileName);
  if (!path) return Fail(fileName, "not found in the program's folder or the current directory");
  std::error_code ec;
  const auto size = std::filesystem::file_size(*path, ec);
  if (ec) return Fail(path->string(), ec.message());
  if (size > kMaxLibrarySize) return Fail(path->string(), "too large for a side library");
  std::vector<std::uint8_t> image;
  try {
    image = ReadWholeFile(path->string());
  } catch (const Exception& e) {
    return Fail(path->string(), e.Message());
  }
  return LoadLibraryFromImage(std::move(image), path->string());
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
  auto bytes = it->second->tree.Find(name, type);
  if (!bytes) return std::nullopt;
  return TResourceData{*bytes, it->second->image};
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
  return it == Modules().end() ? out : it->second->tree.Enumerate();
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
