// Throughput of the graphics device's main row loops on a 2048 x 2048 bitmap, in pixels per
// second: a plain copy, the 24 to 32-bit and indexed to 32-bit conversions, the monochrome mask
// of a key colour, and the read-out of a bitmap as a device-independent bitmap (GetDIBits) at
// several depths.
#include <benchmark/benchmark.h>

#include <vector>

#include "toolkit/device/gdi.h"

namespace {

using namespace tk;

constexpr int kSize = 2048;

UniqueBitmap Patterned(HBITMAP b) {
  UniqueBitmap bitmap(b);
  for (int y = 0; y < bitmap->height; ++y)
    for (std::size_t i = 0; i < bitmap->stride; ++i) bitmap->Row(y)[i] = static_cast<std::uint8_t>(i * 7 + y);
  return bitmap;
}

HBITMAP Dib(int bits, std::span<const RGBQUAD> colors = {}) {
  BITMAPINFOHEADER h;
  h.biWidth = kSize;
  h.biHeight = kSize;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  return CreateDIBSection(h, colors);
}

void Run(benchmark::State& state, HBITMAP from, HBITMAP to, COLORREF background) {
  UniqueDC source(CreateCompatibleDC(nullptr)), dest(CreateCompatibleDC(nullptr));
  BitmapSelection s1(source.get(), from), s2(dest.get(), to);
  SetBkColor(source.get(), background);
  for (auto _ : state) {
    BitBlt(dest.get(), 0, 0, kSize, kSize, source.get(), 0, 0, SRCCOPY);
    benchmark::ClobberMemory();
  }
  state.counters["pixels"] = benchmark::Counter(static_cast<double>(kSize) * kSize * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}

void CopyDeviceBitmap(benchmark::State& state) {
  UniqueBitmap from = Patterned(CreateBitmap(kSize, kSize, 1, 32));
  UniqueBitmap to(CreateBitmap(kSize, kSize, 1, 32));
  Run(state, from.get(), to.get(), 0xFFFFFF);
}
BENCHMARK(CopyDeviceBitmap)->Unit(benchmark::kMillisecond);

void Convert24To32(benchmark::State& state) {
  UniqueBitmap from = Patterned(Dib(24));
  UniqueBitmap to(CreateBitmap(kSize, kSize, 1, 32));
  Run(state, from.get(), to.get(), 0xFFFFFF);
}
BENCHMARK(Convert24To32)->Unit(benchmark::kMillisecond);

void MonochromeMask(benchmark::State& state) {
  UniqueBitmap from = Patterned(CreateBitmap(kSize, kSize, 1, 32));
  UniqueBitmap to(CreateBitmap(kSize, kSize, 1, 1));
  Run(state, from.get(), to.get(), 0x02000000 | RGB(7, 14, 21));
}
BENCHMARK(MonochromeMask)->Unit(benchmark::kMillisecond);

// The read-out of a bitmap into a caller's buffer as a bottom-up DIB of the given depth.
void ReadOut(benchmark::State& state, HBITMAP (*make)(), int bits) {
  UniqueBitmap bitmap = Patterned(make());
  UniqueDC dc(CreateCompatibleDC(nullptr));
  BITMAPINFOHEADER h;
  h.biWidth = kSize;
  h.biHeight = kSize;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(DibRowBytes(kSize, bits)) * kSize);
  std::vector<RGBQUAD> colors(256);
  for (auto _ : state) {
    GetDIBits(dc.get(), bitmap.get(), 0, kSize, pixels, h, colors);
    benchmark::ClobberMemory();
  }
  state.counters["pixels"] = benchmark::Counter(
      static_cast<double>(kSize) * kSize * state.iterations(), benchmark::Counter::kIsRate);
}

HBITMAP DeviceBitmap() {
  return CreateBitmap(kSize, kSize, 1, 32);
}
HBITMAP Dib24() {
  return Dib(24);
}
HBITMAP GreyDib8() {
  std::vector<RGBQUAD> grey(256);
  for (int i = 0; i < 256; ++i)
    grey[i] = RGBQUAD{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
  return Dib(8, grey);
}

// An indexed DIB section, as a GIF frame is loaded, copied to a 32-bit device bitmap.
void IndexedTo32(benchmark::State& state, int bits) {
  std::vector<RGBQUAD> colors(std::size_t{1} << bits);
  for (std::size_t i = 0; i < colors.size(); ++i)
    colors[i] = RGBQUAD{std::uint8_t(i * 3), std::uint8_t(i * 5), std::uint8_t(i * 7), 0};
  UniqueBitmap from = Patterned(Dib(bits, colors));
  UniqueBitmap to(CreateBitmap(kSize, kSize, 1, 32));
  Run(state, from.get(), to.get(), 0xFFFFFF);
}
BENCHMARK_CAPTURE(IndexedTo32, 8_bit, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(IndexedTo32, 4_bit, 4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(IndexedTo32, 1_bit, 1)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(ReadOut, 24_from_24bit_DIB, Dib24, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadOut, 24_from_device_bitmap, DeviceBitmap, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadOut, 32_from_device_bitmap, DeviceBitmap, 32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadOut, 32_from_24bit_DIB, Dib24, 32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadOut, 8_from_8bit_DIB, GreyDib8, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadOut, 32_from_8bit_DIB, GreyDib8, 32)->Unit(benchmark::kMillisecond);
// Nearest colours of the standard 8-bit table: the general row conversion.
BENCHMARK_CAPTURE(ReadOut, 8_from_device_bitmap, DeviceBitmap, 8)->Unit(benchmark::kMillisecond);

}  // namespace
