// The gadget's own costs on the headless backend: FormCreate with a 250 x 250 mask (load the
// bitmap from Mantle.dll, size the window, build and apply the outline), the outline alone, and
// the start-up from nothing to the first presented frame (form creation with the stored dial
// picture, glyphs, FormCreate with the art's mask "B", centring, painting).
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>

#include "gadget/Unit1.h"
#include "gadget/form_data.h"
#include "gif/gif.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/window/headless/headless.h"
#include "toolkit/system/library.h"
#include "toolkit/device/region.h"
#include "tools/artgen/art.h"
#include "tools/artgen/files.h"
#include "tools/mkreslib/reslib.h"

namespace {

using namespace tk;
namespace fs = std::filesystem;

// A 250 x 250 mask: black inside a circle of radius 123, white outside, with a cut-away face.
artgen::Picture RingMask() {
  artgen::Picture p(250, 250, artgen::Black);
  for (int y = 0; y < 250; ++y)
    for (int x = 0; x < 250; ++x) {
      const double d = std::hypot(x - 124.5, y - 124.5);
      if (d > 123 || d < 90) p.Set(x, y, artgen::White);
    }
  return p;
}

// A working folder holding Mantle.dll with the given masks "B" and "C".
fs::path Folder(const artgen::Picture& b, const artgen::Picture& c) {
  const fs::path dir = fs::temp_directory_path() / "gadget_bench";
  fs::create_directories(dir);
  std::vector<reslib::Resource> masks = {
      {RT_BITMAP, "B", reslib::BitmapResource(artgen::BitmapFile(b))},
      {RT_BITMAP, "C", reslib::BitmapResource(artgen::BitmapFile(c))}};
  WriteWholeFile((dir / "Mantle.dll").string(), reslib::BuildResourceDll(masks, reslib::ImageFormat::Pe32));
  fs::current_path(dir);
  return dir;
}

// The application on a headless backend for the length of one benchmark.
struct Session {
  Session() {
    gadget::ResetSharedState();
    auto backend = std::make_unique<headless::Backend>();
    h = backend.get();
    Application().Initialize(std::move(backend));
  }
  ~Session() { Application().Finalize(); }
  gif::TGifModule gifModule;
  headless::Backend* h;
};

void FormCreate250(benchmark::State& state) {
  const artgen::Picture mask = RingMask();
  Folder(mask, mask);
  Session session;
  gadget::TForm1 form;
  form.Show();
  for (auto _ : state) form.FormCreate(nullptr);
  if (form.Width != 250 || !session.h->Last().shaped) state.SkipWithError("no outline applied");
}
BENCHMARK(FormCreate250)->Unit(benchmark::kMicrosecond);

void RegionFromMask250(benchmark::State& state) {
  const artgen::Picture mask = RingMask();
  TBitmap bitmap;
  const std::vector<std::uint8_t> file = artgen::BitmapFile(mask);
  TReadOnlyMemoryStream stream(file);
  bitmap.LoadStream(stream);
  for (auto _ : state) UniqueRegion region(gadget::RegionFromMask(bitmap));
}
BENCHMARK(RegionFromMask250)->Unit(benchmark::kMicrosecond);

void StartUpToFirstFrame(benchmark::State& state) {
  Folder(artgen::MaskB(), artgen::MaskC());
  // The form data is made once, as a program has it from the start.
  gadget::formdata::Image2Picture();
  for (const artgen::ButtonArt& b : artgen::Buttons()) gadget::formdata::Glyph(b.name);
  for (auto _ : state) {
    Session session;
    gadget::TForm1 form;
    form.DoCreate();
    form.Show();
    if (session.h->Last().presents != 1) state.SkipWithError("no frame presented");
  }
}
BENCHMARK(StartUpToFirstFrame)->Unit(benchmark::kMillisecond);

}  // namespace
