// The side-library loader on arbitrary bytes: load, list every resource, look some up.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "toolkit/system/library.h"

// Keeps the reads of the resource bytes from being optimised away.
volatile std::size_t sink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tk::HMODULE module = tk::LoadLibraryFromImage(std::vector<std::uint8_t>(data, data + size));
  if (!module) return 0;
  // Each lookup walks its directories: looking up every resource of a library of thousands
  // would cost their square, so the first hundred are looked up.
  std::size_t total = 0, looked = 0;
  for (const auto& r : tk::EnumResources(module)) {
    if (++looked > 100) break;
    if (auto found = tk::FindResource(module, r.Name, r.Type)) {
      for (std::uint8_t b : found->Bytes) total += b;  // touch every byte handed out
    }
  }
  for (const char* name : {"B", "C", "PT", "PcT"}) {
    tk::FindResource(module, name, tk::RT_BITMAP);
    tk::FindResource(module, name, tk::RT_RCDATA);
  }
  tk::FindResource(module, 1, 1);
  tk::FreeLibrary(module);
  sink = total;
  return 0;
}
