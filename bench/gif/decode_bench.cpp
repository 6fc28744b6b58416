// Reading and decoding every frame of GIF files, side by side with giflib and wuffs v0.4 (when its
// source lies beside the project): each decoder reads the file from memory and produces the
// palette indices of every frame. Ours also up to the frames' bitmaps, for reference. Like the
// peers, ours reads the bytes in place: the stream tells the reader what keeps them alive.
//   gif_decode_bench [--rounds N] [--only TEXT] [CORPUS_DIR [LARGE_DIR]]
// Defaults: ../shared/corpus beside the project; bench-data/ in the project, else
// /work/bench-data (make-large-gifs OUTDIR). Rounds are interleaved (bench/rounds.h).
#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/rounds.h"
#include "gif/gif.h"
#include "toolkit/core/streams.h"
#ifdef HAVE_WUFFS_PEER
#include "bench/gif/wuffs_peer.h"
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using File = std::shared_ptr<const Bytes>;

// Ours: read without decoding, then decode every frame into its bitmap file image.
bool DecodeOurs(const File& file) {
  gif::TGIFImage picture;
  tk::TReadOnlyMemoryStream stream(*file, file);
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
bool BitmapsOurs(const File& file) {
  gif::TGIFImage picture;
  tk::TReadOnlyMemoryStream stream(*file, file);
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

// giflib: every frame's indices in its saved images.
bool DecodeGiflib(const File& bytes) {
  MemorySource source{bytes.get(), 0};
  int error = 0;
  GifFileType* file = DGifOpen(&source, ReadMemory, &error);
  if (!file) return false;
  bool ok = DGifSlurp(file) == GIF_OK;
  DGifCloseFile(file, &error);
  return ok;
}

#ifdef HAVE_WUFFS_PEER
bool DecodeWuffs(const File& file) { return bench::WuffsDecodeAll(file->data(), file->size()); }
#endif

struct Decoder {
  const char* name;
  bool (*decode)(const File&);
};

const Decoder kDecoders[] = {
    {"ours", DecodeOurs},
    {"ours+bitmaps", BitmapsOurs},
    {"giflib", DecodeGiflib},
#ifdef HAVE_WUFFS_PEER
    {"wuffs", DecodeWuffs},
#endif
};

struct Workload {
  std::string name;
  std::vector<File> files;
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

void Add(Workload& w, File file) {
  w.bytes += double(file->size());
  w.pixels += FramePixels(*file);
  w.files.push_back(std::move(file));
}

// Every decoder accepts the file.
bool AllAccept(const File& file) {
  for (const Decoder& d : kDecoders)
    if (!d.decode(file)) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options options = bench::ParseOptions(argc, argv);
  const fs::path project(PROJECT_SOURCE_DIR);
  const fs::path corpus = options.args.size() > 0 ? fs::path(options.args[0])
                                                  : project / ".." / "shared" / "corpus";
  const fs::path large = options.args.size() > 1                  ? fs::path(options.args[1])
                         : fs::is_directory(project / "bench-data") ? project / "bench-data"
                                                                    : fs::path("/work/bench-data");
  std::vector<Workload> workloads;

  // The real corpus of small files: every file that all decoders accept (the valid pictures).
  Workload all{"corpus (valid files)", {}, 0, 0};
  if (options.Wants(all.name) && fs::is_directory(corpus)) {
    std::vector<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(corpus))
      if (e.is_regular_file() && e.path().extension() == ".gif") paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    for (const auto& p : paths) {
      auto file = std::make_shared<const Bytes>(tk::ReadWholeFile(p.string()));
      if (AllAccept(file)) Add(all, std::move(file));
    }
    if (!all.files.empty()) workloads.push_back(std::move(all));
  }
  for (const char* name : {"elephants-3840x2160-fs.gif", "elephants-3840x2160-fs-interlaced.gif",
                           "ladybird-2560x1600-nodither.gif", "twowings-pan-48f-800x500.gif"}) {
    const fs::path p = large / name;
    if (!options.Wants(name) || !fs::exists(p)) continue;
    Workload w{name, {}, 0, 0};
    Add(w, std::make_shared<const Bytes>(tk::ReadWholeFile(p.string())));
    workloads.push_back(std::move(w));
  }
  if (workloads.empty()) {
    std::fprintf(stderr, "no GIF files found (corpus %s, large pictures %s)\n", corpus.c_str(),
                 large.c_str());
    return 1;
  }
#ifndef HAVE_WUFFS_PEER
  std::printf("(wuffs is not compared: its source was not found when the benchmark was built)\n");
#endif

  std::printf("%d interleaved rounds, single thread; ratio = the median of the per-round ratios of "
              "the peer's time to ours [lowest, highest]\n\n",
              options.rounds);
  std::printf("%-38s %-13s %9s %10s %10s %8s %15s\n", "workload", "decoder", "ms", "input MB/s",
              "Mpixel/s", "ours x", "range");
  for (const Workload& w : workloads) {
    std::vector<bench::Contender> contenders;
    for (const Decoder& d : kDecoders)
      contenders.push_back({d.name, [&w, &d] {
                              for (const File& file : w.files)
                                if (!d.decode(file))
                                  std::fprintf(stderr, "%s failed in %s\n", d.name, w.name.c_str());
                            }});
    const auto times = bench::RunRounds(contenders, options.rounds);
    for (std::size_t c = 0; c < contenders.size(); ++c) {
      const double seconds = bench::Median(times[c]);
      std::printf("%-38s %-13s %9.2f %10.1f %10.1f", w.name.c_str(), contenders[c].name.c_str(),
                  seconds * 1e3, w.bytes / seconds / 1e6, w.pixels / seconds / 1e6);
      if (c >= 2) {
        const auto [low, high] = bench::RatioRange(times[0], times[c]);
        std::printf(" %8.2f    [%.2f, %.2f]", bench::MedianRatio(times[0], times[c]), low, high);
      }
      std::printf("\n");
    }
  }
  return 0;
}
