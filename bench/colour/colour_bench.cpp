// The six reduction methods on the 24-bit pixels of a photo, side by side with giflib's
// GifQuantizeBuffer (a median cut over 5 bits per channel) and, when asked for with
// --only libimagequant (it takes seconds a pass), libimagequant (256 colours, no dithering): each
// makes a 256-entry palette and the index of every pixel. The PSNR column tells how near each
// result stays to the photo.
//   colour_bench [--rounds N] [--only TEXT] [PHOTO.ppm]
// Default photo: bench-data/photo-2048.ppm in the project, else /work/bench-data/photo-2048.ppm
// (make-large-gifs OUTDIR). Rounds are interleaved (bench/rounds.h); our methods work in place,
// so each pass starts from a fresh copy of the pixels made outside the timing.
#include <gif_lib.h>
#include <libimagequant.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/rounds.h"
#include "colour/reduce.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Photo {
  int width = 0, height = 0;
  Bytes rgb;  // top row first, red, green, blue
};

bool ReadPpm(const std::string& path, Photo& photo) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  if (!(f >> magic >> photo.width >> photo.height >> maxval) || magic != "P6" || maxval != 255)
    return false;
  f.get();
  photo.rgb.resize(std::size_t(photo.width) * photo.height * 3);
  return bool(f.read(reinterpret_cast<char*>(photo.rgb.data()), std::streamsize(photo.rgb.size())));
}

// A result: palette (red, green, blue per entry) and the index of every pixel, top row first.
struct Reduced {
  std::vector<std::array<std::uint8_t, 3>> palette;
  Bytes indices;
};

double Psnr(const Photo& photo, const Reduced& r) {
  double sum = 0;
  for (std::size_t i = 0; i < r.indices.size(); ++i)
    for (int c = 0; c < 3; ++c) {
      const double d = double(photo.rgb[3 * i + c]) - r.palette[r.indices[i]][c];
      sum += d * d;
    }
  const double mse = sum / (3.0 * double(r.indices.size()));
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options options = bench::ParseOptions(argc, argv);
  const std::filesystem::path local =
      std::filesystem::path(PROJECT_SOURCE_DIR) / "bench-data" / "photo-2048.ppm";
  const std::string path = !options.args.empty()           ? options.args[0]
                           : std::filesystem::exists(local) ? local.string()
                                                            : "/work/bench-data/photo-2048.ppm";
  Photo photo;
  if (!ReadPpm(path, photo)) {
    std::printf("no photo at %s (make it with make-large-gifs OUTDIR)\n", path.c_str());
    return 0;
  }
  const int width = photo.width, height = photo.height;
  const std::size_t pixels = std::size_t(width) * height;

  // Ours: the WorkImage (rows bottom row first, blue, green, red, padded to 4 bytes).
  const std::size_t in = colour::DibRowBytes(width, 24), out = colour::DibRowBytes(width, 8);
  Bytes source(in * height), work;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        source[(height - 1 - y) * in + 3 * x + c] = photo.rgb[(std::size_t(y) * width + x) * 3 + 2 - c];
  std::uint8_t palette[colour::PaletteBytes];
  auto ours = [&] {
    Reduced r;
    for (int i = 0; i < colour::PaletteEntries; ++i)
      r.palette.push_back({palette[4 * i + 2], palette[4 * i + 1], palette[4 * i]});
    for (int y = 0; y < height; ++y)
      r.indices.insert(r.indices.end(), work.data() + (height - 1 - y) * out,
                       work.data() + (height - 1 - y) * out + width);
    return r;
  };
  const colour::WorkImage image{width, height, nullptr};
  auto method = [&](void (*reduce)(colour::WorkImage, std::uint8_t*)) {
    return [&, reduce] { reduce({width, height, work.data()}, palette); };
  };
  struct Method {
    const char* name;
    std::function<void()> pass;
  };
  (void)image;
  const Method methods[] = {
      {"histogram", [&] { colour::ReduceHistogram({width, height, work.data()}, palette, 256, 0xFF, 0xFF, 0xFF); }},
      {"median cut", [&] { colour::MedianCut({width, height, work.data()}, palette, 256); }},
      {"fixed 7-8-4", method(colour::ReduceFixed784)},
      {"fixed 6-6-6", method(colour::ReduceFixed666)},
      {"primary ramps", method(colour::ReducePrimaryRamps)},
      {"grey", method(colour::ReduceGray)},
  };

  // giflib: the three channels as planes, top row first.
  Bytes red(pixels), green(pixels), blue(pixels), giflibIndices(pixels);
  for (std::size_t i = 0; i < pixels; ++i) {
    red[i] = photo.rgb[3 * i];
    green[i] = photo.rgb[3 * i + 1];
    blue[i] = photo.rgb[3 * i + 2];
  }
  GifColorType giflibMap[256];
  int giflibColours = 256;
  auto giflib = [&] {
    giflibColours = 256;
    GifQuantizeBuffer(unsigned(width), unsigned(height), &giflibColours, red.data(), green.data(),
                      blue.data(), giflibIndices.data(), giflibMap);
  };

  // libimagequant: RGBA in, quantize to 256 colours, remap without dithering.
  Bytes rgba(pixels * 4), liqIndices(pixels);
  for (std::size_t i = 0; i < pixels; ++i) {
    std::memcpy(&rgba[4 * i], &photo.rgb[3 * i], 3);
    rgba[4 * i + 3] = 255;
  }
  Reduced liqResult;
  auto imagequant = [&] {
    liq_attr* attr = liq_attr_create();
    liq_set_max_colors(attr, 256);
    liq_image* liqImage = liq_image_create_rgba(attr, rgba.data(), width, height, 0);
    liq_result* result = nullptr;
    if (liq_image_quantize(liqImage, attr, &result) == LIQ_OK) {
      liq_set_dithering_level(result, 0);
      liq_write_remapped_image(result, liqImage, liqIndices.data(), liqIndices.size());
      const liq_palette* p = liq_get_palette(result);
      liqResult.palette.assign(256, {0, 0, 0});
      for (unsigned i = 0; i < p->count; ++i)
        liqResult.palette[i] = {p->entries[i].r, p->entries[i].g, p->entries[i].b};
      liq_result_destroy(result);
    }
    liq_image_destroy(liqImage);
    liq_attr_destroy(attr);
  };

  std::vector<bench::Contender> contenders;
  for (const Method& m : methods)
    if (options.Wants(m.name))
      contenders.push_back({m.name, m.pass, [&] { work = source; }});
  contenders.push_back({"giflib GifQuantizeBuffer", giflib});
  const bool withImagequant = options.only == "libimagequant";
  if (withImagequant) contenders.push_back({"libimagequant", imagequant});

  // The quality of each result, from one pass outside the timing.
  std::vector<double> psnr;
  for (bench::Contender& c : contenders) {
    if (c.prepare) c.prepare();
    c.pass();
    if (c.name == "giflib GifQuantizeBuffer") {
      Reduced r{std::vector<std::array<std::uint8_t, 3>>(256, {0, 0, 0}), giflibIndices};
      for (int i = 0; i < giflibColours; ++i)
        r.palette[i] = {giflibMap[i].Red, giflibMap[i].Green, giflibMap[i].Blue};
      psnr.push_back(Psnr(photo, r));
    } else if (c.name == "libimagequant") {
      liqResult.indices = liqIndices;
      psnr.push_back(Psnr(photo, liqResult));
    } else {
      psnr.push_back(Psnr(photo, ours()));
    }
  }

  const auto times = bench::RunRounds(contenders, options.rounds);
  std::size_t giflibAt = 0;
  while (contenders[giflibAt].name != "giflib GifQuantizeBuffer") ++giflibAt;
  std::printf("%s: %d x %d; %d interleaved rounds, single thread; x giflib = the median of the "
              "per-round ratios of GifQuantizeBuffer's time to the method's [lowest, highest]\n\n",
              path.c_str(), width, height, options.rounds);
  std::printf("%-26s %9s %10s %9s %10s %15s\n", "method", "ms", "Mpixel/s", "PSNR dB", "x giflib",
              "range");
  for (std::size_t c = 0; c < contenders.size(); ++c) {
    const double seconds = bench::Median(times[c]);
    std::printf("%-26s %9.2f %10.1f %9.2f", contenders[c].name.c_str(), seconds * 1e3,
                double(pixels) / seconds / 1e6, psnr[c]);
    if (c != giflibAt) {
      const auto [low, high] = bench::RatioRange(times[c], times[giflibAt]);
      std::printf(" %10.2f    [%.2f, %.2f]", bench::MedianRatio(times[c], times[giflibAt]), low, high);
    }
    std::printf("\n");
  }
  return 0;
}
