// The side libraries on the real Windows loader: the DLLs mkreslib writes, and the build's
// Mantle.dll and Vanes.dll, load with the system's own LoadLibraryA and their resources are found
// by FindResourceA; damaged and truncated libraries fail the way they do on the other platforms.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_paths.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/streams.h"
#include "toolkit/system/library.h"
#include "tools/mkreslib/reslib.h"
#include "toolkit/system/win32/windows_api.h"

namespace fs = std::filesystem;

namespace {

const fs::path BinDir = fs::path(TEST_BINARY_DIR) / "bin";
constexpr bool k64Bit = sizeof(void*) == 8;
// The resource types by number: <windows.h> makes RT_RCDATA and RT_BITMAP macros.
const tk::TResName kRcData(10), kBitmap(2);

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The bytes of a resource as the system's loader finds them in a library it mapped as an image.
std::string SystemResource(const fs::path& file, LPCSTR name, LPCSTR type) {
  ::HMODULE module = ::LoadLibraryA(file.string().c_str());
  if (!module) return "<not loaded: " + std::to_string(::GetLastError()) + ">";
  std::string bytes = "<not found>";
  if (HRSRC info = ::FindResourceA(module, name, type)) {
    auto data = static_cast<const char*>(::LockResource(::LoadResource(module, info)));
    bytes.assign(data, ::SizeofResource(module, info));
  }
  ::FreeLibrary(module);
  return bytes;
}

}  // namespace

TEST(SystemLoader, LoadsTheLibrariesMkreslibWrites) {
  const auto dir = testpaths::ScratchDir("win32_loader");
  const auto own = k64Bit ? reslib::ImageFormat::Pe32Plus : reslib::ImageFormat::Pe32;
  const auto other = k64Bit ? reslib::ImageFormat::Pe32 : reslib::ImageFormat::Pe32Plus;
  const std::vector<reslib::Resource> resources{{kRcData, "PT", Bytes("GIF89a pointer")},
                                                {kRcData, 7, Bytes("seven")}};
  tk::WriteWholeFile((dir / "Own.dll").string(), reslib::BuildResourceDll(resources, own));
  tk::WriteWholeFile((dir / "Other.dll").string(), reslib::BuildResourceDll(resources, other));

  // An image of the program's own kind maps as a library.
  EXPECT_EQ(SystemResource(dir / "Own.dll", "PT", MAKEINTRESOURCEA(10)), "GIF89a pointer");
  EXPECT_EQ(SystemResource(dir / "Own.dll", MAKEINTRESOURCEA(7), MAKEINTRESOURCEA(10)), "seven");
  // The toolkit's loader takes both kinds, the other one as an image resource.
  for (const char* name : {"Own.dll", "Other.dll"}) {
    tk::TLibrary library((dir / name).string().c_str());
    ASSERT_TRUE(library) << name << ": " << tk::LastLibraryError();
    tk::TResourceStream stream(library.Handle(), "pt", kRcData);
    EXPECT_EQ(stream.Size(), 14) << name;
    const auto listed = tk::EnumResources(library.Handle());
    ASSERT_EQ(listed.size(), 2u) << name;
    EXPECT_EQ(listed[0].Name.Text(), "PT");
    EXPECT_EQ(listed[1].Name.Id(), 7);
    EXPECT_EQ(listed[1].Size, 5u);
  }
}

TEST(SystemLoader, LoadsTheGadgetsSideLibraries) {
  EXPECT_EQ(SystemResource(BinDir / "Mantle.dll", "B", MAKEINTRESOURCEA(2)).substr(0, 4),
            std::string("\x28\0\0\0", 4));  // a packed DIB: its 40-byte header first
  EXPECT_EQ(SystemResource(BinDir / "Mantle.dll", "C", MAKEINTRESOURCEA(2)).substr(0, 4),
            std::string("\x28\0\0\0", 4));
  for (const char* name : {"PT", "PL", "PR", "PB", "PcT", "PcL", "PcR", "PcB"})
    EXPECT_EQ(SystemResource(BinDir / "Vanes.dll", name, MAKEINTRESOURCEA(10)).substr(0, 3), "GIF") << name;
}

TEST(SystemLoader, ResourceDataOutlivesTheLibrary) {
  std::unique_ptr<tk::TResourceStream> stream;
  {
    tk::TLibrary vanes((BinDir / "Vanes.dll").string().c_str());
    ASSERT_TRUE(vanes) << tk::LastLibraryError();
    stream = std::make_unique<tk::TResourceStream>(vanes.Handle(), "PcB", kRcData);
  }
  char signature[6];
  stream->ReadBuffer(signature, 6);
  EXPECT_EQ(std::string(signature, 3), "GIF");
}

TEST(SystemLoader, DamagedAndTruncatedLibrariesFailAsElsewhere) {
  const auto dir = testpaths::ScratchDir("win32_damaged");
  const fs::path damaged = fs::path(PROJECT_SOURCE_DIR) / "fuzz" / "regressions" / "library";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(damaged)) files.push_back(entry.path());
  const auto mantle = tk::ReadWholeFile((BinDir / "Mantle.dll").string());
  for (std::size_t cut : {std::size_t{0}, std::size_t{64}, std::size_t{512}, mantle.size() / 2, mantle.size() - 1}) {
    const fs::path file = dir / ("cut" + std::to_string(cut) + ".dll");
    tk::WriteWholeFile(file.string(), std::vector<std::uint8_t>(mantle.begin(), mantle.begin() + cut));
    files.push_back(file);
  }
  for (const fs::path& file : files) {
    // Either the load fails, saying why, or every lookup answers; a missing mask is the usual
    // resource-not-found error.
    tk::TLibrary library(file.string().c_str());
    if (!library) {
      EXPECT_FALSE(tk::LastLibraryError().empty()) << file;
    }
    tk::EnumResources(library.Handle());
    try {
      tk::LoadResource(library.Handle(), "B", kBitmap);
    } catch (const tk::EResNotFound& e) {
      EXPECT_EQ(e.Message(), "Resource B not found") << file;
    }
  }
}
