// The subcommands of gifkit. Each command file registers itself with a static GifkitCommand.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/core/exceptions.h"

namespace colour {
enum class ReductionMethod : std::uint8_t;
}
namespace gif {
class TGIFImage;
}

namespace gifkit {

// Thrown for bad usage: gifkit prints the message and the usage and exits with status 2.
struct UsageError {
  std::string message;
};

// A failure gifkit itself finds, or one of the libraries with a line of gifkit's own after the
// library's message and its reason: printed as "gifkit: MESSAGE", "gifkit: REASON" and
// "gifkit: CONTEXT"; exit status 1.
struct Failure {
  std::string message;
  std::string context = {};  // empty: no line of gifkit's own
  std::string reason = {};   // the library's reason beside its message; empty: none
};

// The reason that a failure of the libraries carries beside its message (tk::Exception), or an
// empty text.
std::string ReasonOf(const std::exception& failure);

struct Option {
  std::string name;         // e.g. "--frame N"
  std::string description;  // one sentence
};

struct Command {
  std::string name;
  std::string usage;    // e.g. "info FILE.gif [--json]"
  std::string summary;  // one line
  std::function<int(const std::vector<std::string>& args)> run;  // returns the exit status
  std::vector<Option> options = {};
  std::string details = {};  // more about the command, for its --help
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
// The reduction methods for --help, one line each.
const std::vector<Option>& MethodHelp();

// Runs work; a failure of the libraries (other than a silent abort) passes on as a Failure with
// the given line of context after the library's own message.
template <class Work>
auto WithContext(const std::string& context, Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const tk::EAbort&) {
    throw;
  } catch (const std::exception& e) {
    throw Failure{e.what(), context, ReasonOf(e)};
  }
}

// Reads a GIF file into the picture without decoding. A file that ends inside the header or
// the global colour table, or before the first image, fails: gifkit reports no picture for it.
void ReadGifFile(const std::string& file, gif::TGIFImage& picture);

}  // namespace gifkit
