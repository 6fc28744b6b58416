// Throughput of the six reduction methods through BitmapToDIBStream on a 24-bit photo, side by
// side with libimagequant (256 colours, no dithering), the quantizer a user would otherwise pick.
//   colour_bench [photo-2048.ppm]     (default: /work/bench-data/photo-2048.ppm, made by
//                                      make-large-gifs OUTDIR)
#include <libimagequant.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "colour/colour.h"
#include "toolkit/device/bitmap.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Photo {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // top row first, red, green, blue
};

bool ReadPpm(const std::string& path, Photo& photo) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  if (!(f >> magic >> photo.width >> photo.height >> maxval) || magic != "P6" || maxval != 255) return false;
  f.get();
  photo.rgb.resize(std::size_t(photo.width) * photo.height * 3);
  return bool(f.read(reinterpret_cast<char*>(photo.rgb.data()), std::streamsize(photo.rgb.size())));
}

// Best of several runs, in seconds.
double Best(int runs, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "/work/bench-data/photo-2048.ppm";
  Photo photo;
  if (!ReadPpm(path, photo)) {
    std::printf("no photo at %s (make it with make-large-gifs OUTDIR)\n", path.c_str());
    return 0;
  }
  const double mpixels = double(photo.width) * photo.height / 1e6;

  // A 24-bit bitmap of the photo.
  tk::BITMAPINFOHEADER header;
  header.biWidth = photo.width;
  header.biHeight = photo.height;
  header.biBitCount = 24;
  tk::TBitmap bitmap;
  bitmap.SetHandle(tk::CreateDIBSection(header));
  tk::HBITMAP handle = bitmap.Handle();
  for (int y = 0; y < photo.height; ++y) {
    const std::uint8_t* src = &photo.rgb[std::size_t(y) * photo.width * 3];
    std::uint8_t* dst = handle->Row(y);
    for (int x = 0; x < photo.width; ++x, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }

  std::printf("%s: %d x %d, best of 5 runs\n\n", path.c_str(), photo.width, photo.height);
  std::printf("%-40s %10s %10s\n", "", "ms", "Mpixel/s");
  auto report = [&](const char* name, double seconds) {
    std::printf("%-40s %10.1f %10.1f\n", name, seconds * 1e3, mpixels / seconds);
  };

  std::vector<std::uint8_t> copy(photo.rgb.size());
  report("memcpy of the 24-bit pixels", Best(5, [&] { std::memcpy(copy.data(), photo.rgb.data(), copy.size()); }));
  report("GrabDIB, 24-bit read-out alone",
         Best(5, [&] { colour::GrabDIB(handle, nullptr, tk::pf24bit); }));

  const std::pair<const char*, colour::ReductionMethod> methods[] = {
      {"BitmapToDIBStream 8-bit, histogram", colour::ReductionMethod::ReduceHistogram},
      {"BitmapToDIBStream 8-bit, median cut", colour::ReductionMethod::ReduceMedianCut},
      {"BitmapToDIBStream 8-bit, fixed 7-8-4", colour::ReductionMethod::ReduceFixed784},
      {"BitmapToDIBStream 8-bit, fixed 6-6-6", colour::ReductionMethod::ReduceFixed666},
      {"BitmapToDIBStream 8-bit, primary ramps", colour::ReductionMethod::ReducePrimaryRamps},
      {"BitmapToDIBStream 8-bit, grey", colour::ReductionMethod::ReduceGray},
  };
  for (const auto& entry : methods) {
    const colour::ReductionMethod method = entry.second;
    report(entry.first, Best(5, [&] { colour::BitmapToDIBStream(bitmap, tk::pf8bit, method); }));
  }

  // The peer: RGB to RGBA, quantize to 256 colours, remap without dithering.
  std::vector<std::uint8_t> rgba(std::size_t(photo.width) * photo.height * 4);
  std::vector<std::uint8_t> indices(std::size_t(photo.width) * photo.height);
  report("libimagequant 256 colours, no dithering", Best(5, [&] {
           for (std::size_t i = 0, n = std::size_t(photo.width) * photo.height; i < n; ++i) {
             std::memcpy(&rgba[4 * i], &photo.rgb[3 * i], 3);
             rgba[4 * i + 3] = 255;
           }
           liq_attr* attr = liq_attr_create();
           liq_set_max_colors(attr, 256);
           liq_image* image = liq_image_create_rgba(attr, rgba.data(), photo.width, photo.height, 0);
           liq_result* result = nullptr;
           if (liq_image_quantize(image, attr, &result) == LIQ_OK) {
             liq_set_dithering_level(result, 0);
             liq_write_remapped_image(result, image, indices.data(), indices.size());
             liq_result_destroy(result);
           }
           liq_image_destroy(image);
           liq_attr_destroy(attr);
         }));
  return 0;
}
