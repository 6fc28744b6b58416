// Runs a shell command from a test and gives back its exit status and its output (standard
// output and standard error together).
#pragma once

#include <sys/wait.h>

#include <cstdio>
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
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The path of a program of the build, e.g. Program("gifkit").
inline std::string Program(const std::string& name) {
  return std::string(TEST_BINARY_DIR) + "/bin/" + name;
}

}  // namespace testpaths
