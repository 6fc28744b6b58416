// LoadLibraryA of the portable build: the DLL file is read whole and its resources are found by
// the toolkit's own bounds-checked parser.
#include <filesystem>

#include "toolkit/system/library_module.h"

namespace tk {

namespace {

// Files larger than this are not taken for side libraries.
constexpr std::uintmax_t kMaxLibrarySize = 256u << 20;

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

}  // namespace

HMODULE LoadLibraryA(const char* fileName) {
  if (!fileName || !*fileName) return library::Fail("", "no library name");
  auto path = Locate(fileName);
  if (!path) return library::Fail(fileName, library::kNotFound);
  std::error_code ec;
  const auto size = std::filesystem::file_size(*path, ec);
  if (ec) return library::Fail(path->string(), ec.message());
  if (size > kMaxLibrarySize) return library::Fail(path->string(), "too large for a side library");
  std::vector<std::uint8_t> image;
  try {
    image = ReadWholeFile(path->string());
  } catch (const Exception& e) {
    return library::Fail(path->string(), e.Message());
  }
  return LoadLibraryFromImage(std::move(image), path->string());
}

}  // namespace tk
