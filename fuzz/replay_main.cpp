// Replays saved inputs through a fuzz target's entry point, without libFuzzer, so that every build
// (g++ release as well as clang with sanitizers) runs them:
//   replay_TARGET [--max-seconds=S] [--max-rss-mb=M] PATH...
// Each PATH is a file or a folder whose files are taken in name order (a missing folder holds no
// inputs). Every input must end within S seconds and leave the process's peak memory below M MiB;
// the first that does not is named and the program ends with status 1. A crash or a sanitizer
// report ends it as it would end the fuzzer.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#if __has_include(<sys/resource.h>)
#include <sys/resource.h>
#define REPLAY_HAS_RUSAGE 1
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The process's peak resident memory so far in MiB, or -1 where it cannot be read.
double PeakMiB() {
#ifdef REPLAY_HAS_RUSAGE
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) == 0) return static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
  return -1;
}

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Option(const std::string& arg, const std::string& name, double& value) {
  if (arg.rfind(name + "=", 0) != 0) return false;
  value = std::atof(arg.c_str() + name.size() + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double maxSeconds = 10, maxMiB = 256;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (Option(arg, "--max-seconds", maxSeconds) || Option(arg, "--max-rss-mb", maxMiB)) continue;
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(arg))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      inputs.insert(inputs.end(), files.begin(), files.end());
    } else if (fs::is_regular_file(arg, ec)) {
      inputs.emplace_back(arg);
    }
  }

  for (const fs::path& input : inputs) {
    const std::vector<std::uint8_t> bytes = ReadFile(input);
    const auto start = std::chrono::steady_clock::now();
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double peak = PeakMiB();
    std::printf("%s: %zu bytes, %.3f s, peak %.0f MiB\n", input.string().c_str(), bytes.size(), seconds,
                peak);
    std::fflush(stdout);
    if (seconds > maxSeconds) {
      std::printf("FAILED: %s took %.1f s (limit %.0f s)\n", input.string().c_str(), seconds, maxSeconds);
      return 1;
    }
    if (peak > maxMiB) {
      std::printf("FAILED: %s raised the peak memory to %.0f MiB (limit %.0f MiB)\n",
                  input.string().c_str(), peak, maxMiB);
      return 1;
    }
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
