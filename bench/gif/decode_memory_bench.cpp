// Whole-process cost of decoding every frame of a GIF file to bitmap files: `gifkit decode FILE
// --all PREFIX` beside giflib_decode_all, giflib's least memory-hungry way to do the same. Each
// contender runs as a process of its own, once per round, the order rotating from round to round;
// printed are the medians of the peak resident memory and of the processor time, and the medians
// of the per-round ratios (peer / ours: above 1, ours takes less).
//   gif_decode_memory_bench [--rounds N] [--only TEXT] [LARGE_DIR]
// Default: bench-data/ in the project, else /work/bench-data (make-large-gifs OUTDIR).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/rounds.h"

namespace {

namespace fs = std::filesystem;

struct Cost {
  double mib = 0;      // peak resident memory
  double seconds = 0;  // processor time, user and system
};

// Runs the program with its arguments and returns what it cost; a failed run ends the benchmark.
Cost Run(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", command[0].c_str());
    std::exit(1);
  }
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return {static_cast<double>(usage.ru_maxrss) / 1024, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

}  // namespace

int main(int argc, char** argv) {
  const bench::Options options = bench::ParseOptions(argc, argv);
  const fs::path project(PROJECT_SOURCE_DIR);
  const fs::path large = !options.args.empty()                     ? fs::path(options.args[0])
                         : fs::is_directory(project / "bench-data") ? project / "bench-data"
                                                                    : fs::path("/work/bench-data");
  std::vector<fs::path> files;
  if (fs::is_directory(large))
    for (const auto& e : fs::directory_iterator(large))
      if (e.path().extension() == ".gif" && options.Wants(e.path().filename().string())) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no GIF files in %s (make-large-gifs OUTDIR)\n", large.c_str());
    return 1;
  }
  const fs::path out = fs::temp_directory_path() / ("gif_decode_memory_bench." + std::to_string(getpid()));
  fs::create_directories(out);
  std::printf("%-40s %10s %10s %8s %9s %9s %8s\n", "file (decode every frame to .bmp)", "ours MiB",
              "giflib MiB", "MiB x", "ours s", "giflib s", "time x");
  for (const fs::path& file : files) {
    const std::vector<std::vector<std::string>> commands = {
        {GIFKIT_PATH, "decode", file.string(), "--all", (out / "ours").string()},
        {GIFLIB_DECODE_ALL_PATH, file.string(), (out / "giflib").string()},
    };
    std::vector<std::vector<double>> mib(2), seconds(2);
    for (int r = 0; r < options.rounds; ++r)
      for (std::size_t k = 0; k < 2; ++k) {
        const std::size_t c = (k + static_cast<std::size_t>(r)) % 2;
        const Cost cost = Run(commands[c]);
        mib[c].push_back(cost.mib);
        seconds[c].push_back(cost.seconds);
      }
    std::printf("%-40s %10.1f %10.1f %8.2f %9.3f %9.3f %8.2f\n", file.filename().c_str(), bench::Median(mib[0]),
                bench::Median(mib[1]), bench::MedianRatio(mib[0], mib[1]), bench::Median(seconds[0]),
                bench::Median(seconds[1]), bench::MedianRatio(seconds[0], seconds[1]));
    std::fflush(stdout);
  }
  fs::remove_all(out);
  return 0;
}
