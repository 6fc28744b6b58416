// Throughput of the graphics device's main row loops on a 2048 x 2048 bitmap, in pixels per
// second: a plain copy, the 24 to 32-bit conversion and the monochrome mask of a key colour.
#include <benchmark/benchmark.h>

#include "toolkit/gdi.h"

namespace {

using namespace tk;

constexpr int kSize = 2048;

UniqueBitmap Patterned(HBITMAP b) {
  UniqueBitmap bitmap(b);
  for (int y = 0; y < bitmap->height; ++y)
    for (std::size_t i = 0; i < bitmap->stride; ++i) bitmap->Row(y)[i] = static_cast<std::uint8_t>(i * 7 + y);
  return bitmap;
}

HBITMAP Dib(int bits) {
  BITMAPINFOHEADER h;
  h.biWidth = kSize;
  h.biHeight = kSize;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  return CreateDIBSection(h);
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

}  // namespace
