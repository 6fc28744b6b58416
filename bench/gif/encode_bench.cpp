// LZW encoding of 8-bit frames, side by side with giflib's encoder (EGifPutLine) on the same
// indices: a photograph reduced to 256 colours by the median cut, the same photograph dithered to
// that palette (Floyd-Steinberg), and a flat-colour screenshot-like image.
//   gif_encode_bench [--rounds N] [--only TEXT] [PHOTO.ppm]
// Default photo: bench-data/photo-2048.ppm in the project, else /work/bench-data/photo-2048.ppm
// (made by make-large-gifs). Rounds are interleaved (bench/rounds.h). Both outputs are decoded by
// giflib and checked against the indices.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/rounds.h"
#include "colour/colour.h"
#include "gif/gif.h"
#include "tests/gif/giflib_ref.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/device/gdi.h"
#include "toolkit/core/streams.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// 8-bit indices, rows bottom row first and padded, as a device-independent bitmap holds them.
struct Indexed {
  std::string name;
  int width = 0, height = 0;
  Bytes rows;
  std::int64_t RowBytes() const { return tk::DibRowBytes(width, 8); }
  const std::uint8_t* TopRow(int y) const { return rows.data() + (height - 1 - y) * RowBytes(); }
};

// Floyd-Steinberg dithering of RGB pixels (top row first) to a palette; the nearest entry of a
// colour is looked up once per 5-bit cell of the cube.
void Dither(const std::uint8_t* rgb, const std::array<std::array<int, 3>, 256>& palette,
            Indexed& image) {
  std::vector<int> nearest(32768, -1);
  auto find = [&](int r, int g, int b) {
    int& n = nearest[(r >> 3) << 10 | (g >> 3) << 5 | b >> 3];
    if (n < 0) {
      int best = 1 << 30;
      for (int i = 0; i < 256; ++i) {
        const int dr = palette[i][0] - r, dg = palette[i][1] - g, db = palette[i][2] - b;
        if (dr * dr + dg * dg + db * db < best) best = dr * dr + dg * dg + db * db, n = i;
      }
    }
    return n;
  };
  const int w = image.width;
  std::vector<std::array<int, 3>> error(std::size_t(w + 2) * 2, {0, 0, 0});
  for (int y = 0; y < image.height; ++y) {
    std::array<int, 3>* now = &error[std::size_t(y % 2) * (w + 2) + 1];
    std::array<int, 3>* next = &error[std::size_t((y + 1) % 2) * (w + 2) + 1];
    std::fill(next - 1, next + w + 1, std::array<int, 3>{0, 0, 0});
    std::uint8_t* row = image.rows.data() + (image.height - 1 - y) * image.RowBytes();
    for (int x = 0; x < w; ++x) {
      int v[3];
      for (int c = 0; c < 3; ++c)
        v[c] = std::clamp(rgb[(std::size_t(y) * w + x) * 3 + c] + now[x][c] / 16, 0, 255);
      const int i = find(v[0], v[1], v[2]);
      row[x] = static_cast<std::uint8_t>(i);
      for (int c = 0; c < 3; ++c) {
        const int e = v[c] - palette[i][c];
        now[x + 1][c] += 7 * e;
        next[x - 1][c] += 3 * e;
        next[x][c] += 5 * e;
        next[x + 1][c] += e;
      }
    }
  }
}

// A binary PPM (P6, maxval 255) reduced to 256 colours by the median cut, and the same photo
// dithered to that palette.
bool LoadPhoto(const std::string& file, Indexed& out, Indexed& dithered) {
  Bytes bytes;
  try {
    bytes = tk::ReadWholeFile(file);
  } catch (const tk::Exception&) {
    return false;
  }
  int width = 0, height = 0, maxval = 0, consumed = 0;
  if (std::sscanf(reinterpret_cast<const char*>(bytes.data()), "P6 %d %d %d%n", &width, &height,
                  &maxval, &consumed) != 3 ||
      maxval != 255)
    return false;
  const std::size_t start = static_cast<std::size_t>(consumed) + 1;
  if (bytes.size() < start + std::size_t(width) * height * 3) return false;
  tk::BITMAPINFOHEADER header;
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = 24;
  tk::TBitmap bitmap;
  bitmap.SetHandle(tk::CreateDIBSection(header, {}));
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.Handle()->Row(y);
    const std::uint8_t* in = bytes.data() + start + std::size_t(y) * width * 3;
    for (int x = 0; x < width; ++x) {
      row[3 * x] = in[3 * x + 2];
      row[3 * x + 1] = in[3 * x + 1];
      row[3 * x + 2] = in[3 * x];
    }
  }
  auto dib =
      colour::BitmapToDIBStream(bitmap, tk::pf8bit, colour::ReductionMethod::ReduceMedianCut);
  const std::uint8_t* file8 = dib->Memory();
  const std::uint32_t offset =
      file8[10] | file8[11] << 8 | file8[12] << 16 | std::uint32_t(file8[13]) << 24;
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  out = {"photo " + size + " median cut", width, height, Bytes(file8 + offset, file8 + dib->Size())};
  std::array<std::array<int, 3>, 256> palette;  // red, green, blue
  for (int i = 0; i < 256; ++i)
    for (int c = 0; c < 3; ++c) palette[i][c] = file8[54 + 4 * i + 2 - c];
  dithered = {"photo " + size + " dithered", width, height, Bytes(out.rows.size(), 0)};
  Dither(bytes.data() + start, palette, dithered);
  return true;
}

// A screenshot-like picture: a desktop colour, overlapping windows with title bars, borders,
// toolbars of little icons and lines of "text" in a few colours.
Indexed Screenshot(int width, int height) {
  Indexed image{
      "screenshot " + std::to_string(width) + "x" + std::to_string(height) + " flat colours",
      width,
      height,
      {}};
  image.rows.assign(static_cast<std::size_t>(image.RowBytes() * height), 0);
  std::vector<std::uint8_t> top(std::size_t(width) * height, 30);  // desktop
  auto fill = [&](int x0, int y0, int x1, int y1, std::uint8_t c) {
    for (int y = std::max(y0, 0); y < std::min(y1, height); ++y)
      for (int x = std::max(x0, 0); x < std::min(x1, width); ++x)
        top[std::size_t(y) * width + x] = c;
  };
  std::uint32_t state = 12345;
  auto next = [&](std::uint32_t n) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % n;
  };
  for (int w = 0; w < 7; ++w) {
    const int x0 = static_cast<int>(next(width * 2 / 3)),
              y0 = static_cast<int>(next(height * 2 / 3));
    const int x1 = x0 + 300 + static_cast<int>(next(700)),
              y1 = y0 + 200 + static_cast<int>(next(500));
    fill(x0 - 1, y0 - 1, x1 + 1, y1 + 1, 8);                        // border
    fill(x0, y0, x1, y1, 255);                                      // client area
    fill(x0, y0, x1, y0 + 22, static_cast<std::uint8_t>(100 + w));  // title bar
    for (int i = 0; i < (x1 - x0) / 26; ++i)                        // toolbar icons
      fill(x0 + 4 + 26 * i, y0 + 28, x0 + 24 + 26 * i, y0 + 48,
           static_cast<std::uint8_t>(next(16) + 200));
    for (int line = y0 + 60; line + 12 < y1; line += 16)  // text
      for (int x = x0 + 8; x < x1 - 8;) {
        const int word = 3 + static_cast<int>(next(9));
        for (int c = 0; c < word && x < x1 - 8; ++c, x += 7)
          for (int gy = 0; gy < 11; ++gy)
            for (int gx = 0; gx < 6; ++gx)
              if (next(3) == 0) fill(x + gx, line + gy, x + gx + 1, line + gy + 1, 0);
        x += 7;
      }
  }
  for (int y = 0; y < height; ++y)
    std::memcpy(image.rows.data() + (height - 1 - y) * image.RowBytes(),
                top.data() + std::size_t(y) * width, static_cast<std::size_t>(width));
  return image;
}

Bytes EncodeOurs(const Indexed& image) {
  tk::BITMAPINFOHEADER header;
  header.biWidth = image.width;
  header.biHeight = image.height;
  header.biBitCount = 8;
  tk::TMemoryStream out;
  gif::EncodePixels(out, header, false, nullptr, image.rows);
  return out.Release();
}

int WriteMemory(GifFileType* file, const GifByteType* bytes, int count) {
  auto* out = static_cast<Bytes*>(file->UserData);
  out->insert(out->end(), bytes, bytes + count);
  return count;
}

// A whole GIF by giflib: screen, a 256-entry global table, one image, its rows by EGifPutLine.
Bytes EncodeGiflib(const Indexed& image) {
  Bytes out;
  out.reserve(image.rows.size());
  int error = 0;
  GifFileType* file = EGifOpen(&out, WriteMemory, &error);
  ColorMapObject* map = GifMakeMapObject(256, nullptr);
  for (int i = 0; i < 256; ++i) map->Colors[i] = {GifByteType(i), GifByteType(i), GifByteType(i)};
  EGifPutScreenDesc(file, image.width, image.height, 8, 0, map);
  EGifPutImageDesc(file, 0, 0, image.width, image.height, false, nullptr);
  for (int y = 0; y < image.height; ++y)
    EGifPutLine(file, const_cast<GifPixelType*>(image.TopRow(y)), image.width);
  EGifCloseFile(file, &error);
  GifFreeMapObject(map);
  return out;
}

// The indices giflib decodes from a GIF of one image, top row first.
Bytes GiflibIndices(const Bytes& gif) {
  giftest::RefGif ref;
  if (!giftest::GiflibDecode(gif, ref) || ref.frames.size() != 1) return {};
  return ref.frames[0].indices;
}

// Our LZW data wrapped in the same screen, table and image descriptor as giflib's file.
Bytes OursAsFile(const Indexed& image, const Bytes& data) {
  Bytes gif = {'G', 'I', 'F', '8', '7', 'a'};
  auto u16 = [&](int v) {
    gif.push_back(static_cast<std::uint8_t>(v));
    gif.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  u16(image.width);
  u16(image.height);
  gif.insert(gif.end(), {0xF7, 0, 0});
  for (int i = 0; i < 256; ++i)
    gif.insert(gif.end(), {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)});
  gif.push_back(0x2C);
  u16(0);
  u16(0);
  u16(image.width);
  u16(image.height);
  gif.push_back(0);
  gif.insert(gif.end(), data.begin(), data.end());
  gif.push_back(0x3B);
  return gif;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options options = bench::ParseOptions(argc, argv);
  const std::filesystem::path local =
      std::filesystem::path(PROJECT_SOURCE_DIR) / "bench-data" / "photo-2048.ppm";
  const std::string photoFile = !options.args.empty()           ? options.args[0]
                                : std::filesystem::exists(local) ? local.string()
                                                                 : "/work/bench-data/photo-2048.ppm";
  std::vector<Indexed> workloads;
  Indexed photo, dithered;
  if (LoadPhoto(photoFile, photo, dithered)) {
    workloads.push_back(std::move(photo));
    workloads.push_back(std::move(dithered));
  } else {
    std::printf("(no photo: %s not readable as a binary PPM)\n", photoFile.c_str());
  }
  workloads.push_back(Screenshot(1920, 1080));

  std::printf("%d interleaved rounds, single thread; x giflib = the median of the per-round ratios "
              "of giflib's time to ours [lowest, highest]\n\n",
              options.rounds);
  std::printf("%-36s %10s %10s %12s %12s %8s %15s\n", "workload", "ours Mpx/s", "giflib",
              "ours bytes", "giflib bytes", "x giflib", "range");
  for (const Indexed& image : workloads) {
    if (!options.Wants(image.name)) continue;
    const double pixels = double(image.width) * image.height;
    Bytes ours, theirs;
    const auto times = bench::RunRounds({{"ours", [&] { ours = EncodeOurs(image); }},
                                         {"giflib", [&] { theirs = EncodeGiflib(image); }}},
                                        options.rounds);
    // Both decode to the indices.
    Bytes expected;
    for (int y = 0; y < image.height; ++y)
      expected.insert(expected.end(), image.TopRow(y), image.TopRow(y) + image.width);
    const Bytes oursFile = OursAsFile(image, ours);
    const bool oursOk = GiflibIndices(oursFile) == expected,
               giflibOk = GiflibIndices(theirs) == expected;
    const auto [low, high] = bench::RatioRange(times[0], times[1]);
    std::printf("%-36s %10.1f %10.1f %12zu %12zu %8.2f    [%.2f, %.2f]%s\n", image.name.c_str(),
                pixels / bench::Median(times[0]) / 1e6, pixels / bench::Median(times[1]) / 1e6,
                oursFile.size(), theirs.size(), bench::MedianRatio(times[0], times[1]), low, high,
                oursOk && giflibOk ? "" : "  DECODING MISMATCH");
  }
  return 0;
}
