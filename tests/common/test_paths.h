// Where the tests find their data: the shared GIF corpus beside the project, and scratch files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace testpaths {

// The GIF test corpus: $PROTRACTOR_CORPUS, else ../shared/corpus beside the project.
inline std::filesystem::path CorpusDir() {
  if (const char* env = std::getenv("PROTRACTOR_CORPUS")) return env;
  return std::filesystem::path(PROJECT_SOURCE_DIR) / ".." / "shared" / "corpus";
}

inline bool HaveCorpus() { return std::filesystem::is_directory(CorpusDir()); }

// The GIF files under a folder of the corpus, in the order of their paths.
inline std::vector<std::filesystem::path> CorpusGifs(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
    if (entry.is_regular_file() && entry.path().extension() == ".gif") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// A fresh scratch folder for one test, removed by the caller or left in the build tree.
inline std::filesystem::path ScratchDir(const std::string& name) {
  auto dir = std::filesystem::path(TEST_BINARY_DIR) / "scratch" / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace testpaths

// Skips a test that needs the corpus when it is absent.
#define REQUIRE_CORPUS()                                                          \
  do {                                                                            \
    if (!testpaths::HaveCorpus())                                                 \
      GTEST_SKIP() << "GIF corpus not found at " << testpaths::CorpusDir();       \
  } while (0)
