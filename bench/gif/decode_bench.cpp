// Reading and decoding every frame of GIF files, side by side with giflib and stb_image; and ours
// up to the frames' bitmaps.
//   gif_decode_bench [CORPUS_DIR [LARGE_DIR]]
// Defaults: ../shared/corpus beside the project and /work/bench-data (make-large-gifs OUTDIR).
// Each workload runs for at least half a second per decoder; the best pass counts.
#include <gif_lib.h>
#include <stb_image.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "gif/gif.h"
#include "toolkit/core/streams.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Ours: read without decoding, then decode every frame into its bitmap file image.
bool DecodeOurs(const Bytes& bytes) {
  gif::TGIFImage picture;
  tk::TReadOnlyMemoryStream stream(bytes);
  try {
    picture.ReadGIF(stream.Size(), stream, false);
    for (int i = 0; i < picture.FrameCount(); ++i) {
      tk::TMemoryStream image;
      picture.FrameAt(i).DecodeToDIB(image);
    }
  } catch (const tk::Exception&) {
    return false;
  }
  return true;
}

// Ours as the program shows frames: read, then each frame's bitmap (decoded, loaded and, unless
// monochrome, converted to a device bitmap).
bool BitmapsOurs(const Bytes& bytes) {
  gif::TGIFImage picture;
  tk::TReadOnlyMemoryStream stream(bytes);
  try {
    picture.ReadGIF(stream.Size(), stream, false);
    for (int i = 0; i < picture.FrameCount(); ++i) picture.FrameAt(i).BuildBitmap();
  } catch (const tk::Exception&) {
    return false;
  }
  return true;
}

struct MemorySource {
  const Bytes* bytes;
  std::size_t pos;
};

int ReadMemory(GifFileType* file, GifByteType* out, int count) {
  auto* s = static_cast<MemorySource*>(file->UserData);
  std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), s->bytes->size() - s->pos);
  std::memcpy(out, s->bytes->data() + s->pos, n);
  s->pos += n;
  return static_cast<int>(n);
}

bool DecodeGiflib(const Bytes& bytes) {
  MemorySource source{&bytes, 0};
  int error = 0;
  GifFileType* file = DGifOpen(&source, ReadMemory, &error);
  if (!file) return false;
  bool ok = DGifSlurp(file) == GIF_OK;
  DGifCloseFile(file, &error);
  return ok;
}

// stb_image composes every frame onto the logical screen as RGBA.
bool DecodeStb(const Bytes& bytes) {
  int* delays = nullptr;
  int w = 0, h = 0, frames = 0, channels = 0;
  stbi_uc* pixels = stbi_load_gif_from_memory(bytes.data(), static_cast<int>(bytes.size()), &delays,
                                              &w, &h, &frames, &channels, 4);
  bool ok = pixels != nullptr;
  stbi_image_free(pixels);
  stbi_image_free(delays);
  return ok;
}

struct Workload {
  std::string name;
  std::vector<Bytes> files;
  double bytes = 0;   // input size
  double pixels = 0;  // decoded frame pixels
};

// The decoded frame pixels of a file (width x height of every frame), by our reader.
double FramePixels(const Bytes& bytes) {
  gif::TGIFImage picture;
  tk::TReadOnlyMemoryStream stream(bytes);
  picture.ReadGIF(stream.Size(), stream, false);
  double pixels = 0;
  for (int i = 0; i < picture.FrameCount(); ++i)
    pixels += double(picture.FrameAt(i).Encoded->ItemWidth) * picture.FrameAt(i).Encoded->ItemHeight;
  return pixels;
}

void Add(Workload& w, Bytes bytes) {
  w.bytes += double(bytes.size());
  w.pixels += FramePixels(bytes);
  w.files.push_back(std::move(bytes));
}

// Seconds of the best pass over the workload.
double Time(const Workload& w, const std::function<bool(const Bytes&)>& decode) {
  using Clock = std::chrono::steady_clock;
  double best = 1e30, total = 0;
  for (int pass = 0; pass < 3 || total < 0.5; ++pass) {
    auto start = Clock::now();
    for (const Bytes& file : w.files)
      if (!decode(file)) std::fprintf(stderr, "decode failed in %s\n", w.name.c_str());
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    best = std::min(best, seconds);
    total += seconds;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path corpus = argc > 1 ? argv[1] : fs::path(PROJECT_SOURCE_DIR) / ".." / "shared" / "corpus";
  fs::path large = argc > 2 ? argv[2] : "/work/bench-data";
  std::vector<Workload> workloads;

  // The corpus: every file that all three decoders accept (the valid pictures).
  Workload all{"corpus (valid files)", {}, 0, 0};
  std::vector<fs::path> paths;
  if (fs::is_directory(corpus))
    for (const auto& e : fs::recursive_directory_iterator(corpus))
      if (e.is_regular_file() && e.path().extension() == ".gif") paths.push_back(e.path());
  std::sort(paths.begin(), paths.end());
  for (const auto& p : paths) {
    Bytes bytes = tk::ReadWholeFile(p.string());
    if (DecodeGiflib(bytes) && DecodeStb(bytes) && DecodeOurs(bytes)) Add(all, std::move(bytes));
  }
  if (!all.files.empty()) workloads.push_back(std::move(all));
  for (const char* name : {"elephants-3840x2160-fs.gif", "elephants-3840x2160-fs-interlaced.gif",
                           "ladybird-2560x1600-nodither.gif", "twowings-pan-48f-800x500.gif"}) {
    fs::path p = large / name;
    if (!fs::exists(p)) continue;
    Workload w{name, {}, 0, 0};
    Add(w, tk::ReadWholeFile(p.string()));
    workloads.push_back(std::move(w));
  }
  if (workloads.empty()) {
    std::fprintf(stderr, "no GIF files found (corpus %s, large pictures %s)\n", corpus.c_str(), large.c_str());
    return 1;
  }

  std::printf("%-40s %-8s %10s %12s %10s\n", "workload", "decoder", "input MB/s", "Mpixel/s", "vs giflib");
  for (const Workload& w : workloads) {
    double ours = Time(w, DecodeOurs);
    double bitmaps = Time(w, BitmapsOurs);
    double giflib = Time(w, DecodeGiflib);
    double stb = Time(w, DecodeStb);
    auto row = [&](const char* decoder, double seconds) {
      std::printf("%-40s %-8s %10.1f %12.1f %9.2fx\n", w.name.c_str(), decoder, w.bytes / seconds / 1e6,
                  w.pixels / seconds / 1e6, giflib / seconds);
    };
    row("ours", ours);
    row("ours+bmp", bitmaps);
    row("giflib", giflib);
    row("stb", stb);
  }
  return 0;
}
