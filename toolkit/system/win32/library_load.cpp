// LoadLibraryA of the Windows build: the real loader maps the DLL and the real FindResourceA,
// LoadResource and SizeofResource find its resources. A DLL the loader refuses as an image of
// another processor type (a 32-bit side library in a 64-bit program) is mapped as an image
// resource instead, so that both kinds load as they do on the other platforms.
#include <filesystem>
#include <memory>
#include <vector>

#include "toolkit/system/library_module.h"
#include "toolkit/system/win32/windows_api.h"

namespace tk {

namespace {

// One reference to a library the real loader holds; the last owner releases it.
struct NativeReference {
  ::HMODULE handle;
  explicit NativeReference(::HMODULE h) : handle(h) {}
  NativeReference(const NativeReference&) = delete;
  NativeReference& operator=(const NativeReference&) = delete;
  ~NativeReference() { ::FreeLibrary(handle); }
};

// The image as it lies mapped: the bytes from its base to the end of the image. A resource
// whose data does not lie within them is taken as missing, not read.
std::span<const std::uint8_t> MappedImage(::HMODULE handle) {
  // A module mapped as a data file has the low bits of its handle set.
  auto base = reinterpret_cast<const std::uint8_t*>(reinterpret_cast<std::uintptr_t>(handle) &
                                                    ~std::uintptr_t{3});
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0) return {};
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return {};
  // SizeOfImage sits at the same place in PE32 and PE32+ headers.
  return {base, nt->OptionalHeader.SizeOfImage};
}

// The resource name or type as the platform's API takes it: a number in the low word of the
// pointer, or a text.
struct NativeName {
  std::string text;
  std::uint16_t id = 0;
  bool isId = false;
  explicit NativeName(const TResName& n) : text(n.Name()), id(n.Id()), isId(n.IsId()) {}
  LPCSTR Get() const { return isId ? MAKEINTRESOURCEA(id) : text.c_str(); }
};

TResName FromNative(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return TResName(static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(name)));
  return TResName(std::string(name));
}

struct NativeModule : LoadedModule {
  std::shared_ptr<NativeReference> reference;

  std::optional<TResourceData> Find(const TResName& name, const TResName& type) const override {
    ::HMODULE h = reference->handle;
    HRSRC info = ::FindResourceA(h, NativeName(name).Get(), NativeName(type).Get());
    if (!info) return std::nullopt;
    ::HGLOBAL loaded = ::LoadResource(h, info);
    const DWORD size = ::SizeofResource(h, info);
    auto data = static_cast<const std::uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
    if (!data) return std::nullopt;
    const std::span<const std::uint8_t> image = MappedImage(h);
    if (data < image.data() || std::size_t(data - image.data()) > image.size() ||
        size > image.size() - std::size_t(data - image.data()))
      return std::nullopt;
    return TResourceData{{data, size}, reference};
  }

  // The platform's walk over types, names and languages, in directory order.
  std::vector<TResourceInfo> Enumerate() const override {
    std::vector<TResourceInfo> out;
    ::EnumResourceTypesA(reference->handle, +[](::HMODULE h, LPSTR type, LONG_PTR list) -> BOOL {
      ::EnumResourceNamesA(h, type, +[](::HMODULE h, LPCSTR type, LPSTR name, LONG_PTR list) -> BOOL {
        ::EnumResourceLanguagesA(h, type, name, +[](::HMODULE h, LPCSTR type, LPCSTR name, WORD language,
                                                    LONG_PTR list) -> BOOL {
          HRSRC info = ::FindResourceExA(h, type, name, language);
          reinterpret_cast<std::vector<TResourceInfo>*>(list)->push_back(
              {FromNative(type), FromNative(name), language, info ? std::size_t(::SizeofResource(h, info)) : 0});
          return TRUE;
        }, list);
        return TRUE;
      }, list);
      return TRUE;
    }, reinterpret_cast<LONG_PTR>(&out));
    return out;
  }
};

std::string ErrorText(DWORD code) {
  char* text = nullptr;
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string out = n && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
  return out;
}

}  // namespace

HMODULE LoadLibraryA(const char* fileName) {
  if (!fileName || !*fileName) return library::Fail("", "no library name");
  // A damaged file is a failed load, never a system error box.
  DWORD oldMode = 0;
  ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  ::HMODULE h = ::LoadLibraryA(fileName);
  DWORD error = h ? 0 : ::GetLastError();
  if (!h && error == ERROR_BAD_EXE_FORMAT)
    h = ::LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!h && error == ERROR_BAD_EXE_FORMAT) error = ::GetLastError();
  ::SetThreadErrorMode(oldMode, nullptr);
  if (!h) {
    // A folder of the library's name is no library: the same "not found" as a missing file.
    std::error_code ec;
    if (error == ERROR_MOD_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ||
        error == ERROR_PATH_NOT_FOUND ||
        (error == ERROR_ACCESS_DENIED && std::filesystem::is_directory(fileName, ec)))
      return library::Fail(fileName, library::kNotFound);
    std::string reason = ErrorText(error);
    if (auto at = reason.find("%1"); at != std::string::npos) reason.replace(at, 2, fileName);
    return library::Fail(fileName, reason);
  }
  auto module = std::make_unique<NativeModule>();
  module->reference = std::make_shared<NativeReference>(h);
  char path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameA(h, path, MAX_PATH);
  module->fileName = n ? std::string(path, n) : std::string(fileName);
  return library::Add(std::move(module));
}

}  // namespace tk
