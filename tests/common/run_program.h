// Runs a shell command from a test and gives back its exit status and its output (standard
// output and standard error together).
#pragma once

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>

namespace testpaths {

struct CommandResult {
  int status = -1;  // the exit status, -1 when the command did not exit normally
  std::string output;
};

inline CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) result.output.append(buffer, n);
  const int status = pclose(pipe);
#ifdef _WIN32
  result.status = status;  // the command interpreter's exit code
#else
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return result;
}

// The path of a program of the build, e.g. Program("gifkit"), in the platform's spelling.
inline std::string Program(const std::string& name) {
  return std::filesystem::path(std::string(TEST_BINARY_DIR) + "/bin/" + name).make_preferred().string();
}

// The folder of the test programs.
inline std::filesystem::path TestProgramFolder() {
  return std::filesystem::path(TEST_BINARY_DIR) / "tests";
}

}  // namespace testpaths
