// The subcommands of gifkit. Each command file registers itself with a static GifkitCommand.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace colour {
enum class ReductionMethod : std::uint8_t;
}

namespace gifkit {

// Thrown for bad usage: gifkit prints the message and the usage and exits with status 2.
struct UsageError {
  std::string message;
};

struct Command {
  std::string name;
  std::string usage;    // e.g. "info FILE.gif [--json]"
  std::string summary;  // one line
  std::function<int(const std::vector<std::string>& args)> run;  // returns the exit status
};

std::vector<Command>& Commands();

struct Register {
  explicit Register(Command command) { Commands().push_back(std::move(command)); }
};

// Splits arguments into positional ones and "--name value" / "--flag" options.
struct Args {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;  // flag options have an empty value
  // Parses args; valueOptions names the options that take a value. Unknown "--x" is a usage error.
  Args(const std::vector<std::string>& args, const std::vector<std::string>& valueOptions,
       const std::vector<std::string>& flagOptions);
  bool Has(const std::string& name) const;
  std::string Value(const std::string& name, const std::string& fallback = "") const;
};

// The reduction method of a --method value: histogram, median-cut, fixed784, fixed666, ramps or
// gray; any other name is a usage error.
colour::ReductionMethod MethodNamed(const std::string& name);

}  // namespace gifkit
