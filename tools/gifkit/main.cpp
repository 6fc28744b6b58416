// gifkit: the command-line face of the GIF, colour-reduction and cursor libraries.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <sstream>

#include "gif/gif.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/streams.h"
#include "tools/gifkit/command.h"

#ifndef PROTRACTOR_VERSION
#define PROTRACTOR_VERSION "unknown"
#endif

namespace gifkit {

std::vector<Command>& Commands() {
  static std::vector<Command> commands;
  return commands;
}

Args::Args(const std::vector<std::string>& args, const std::vector<std::string>& valueOptions,
           const std::vector<std::string>& flagOptions) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a.substr(2);
      if (std::find(valueOptions.begin(), valueOptions.end(), name) != valueOptions.end()) {
        if (i + 1 >= args.size()) throw UsageError{"option --" + name + " needs a value"};
        options.emplace_back(name, args[++i]);
      } else if (std::find(flagOptions.begin(), flagOptions.end(), name) != flagOptions.end()) {
        options.emplace_back(name, "");
      } else {
        throw UsageError{"unknown option " + a};
      }
    } else {
      positional.push_back(a);
    }
  }
}

bool Args::Has(const std::string& name) const {
  return std::any_of(options.begin(), options.end(), [&](auto& o) { return o.first == name; });
}

std::string Args::Value(const std::string& name, const std::string& fallback) const {
  for (auto it = options.rbegin(); it != options.rend(); ++it)
    if (it->first == name) return it->second;
  return fallback;
}

std::string ReasonOf(const std::exception& failure) {
  const auto* exception = dynamic_cast<const tk::Exception*>(&failure);
  return exception ? exception->ReasonText() : std::string();
}

void ReadGifFile(const std::string& file, gif::TGIFImage& picture) {
  // The file is read once as it is parsed, and the frames keep the places of their data in it,
  // which decoding reads again: the picture holds no copy of the file.
  const auto stream = std::make_shared<tk::TFileStream>(file, tk::FileMode::OpenRead);
  const std::int64_t size = stream->Size();
  picture.ReadGIFStreamed(stream);
  // The reader takes what a file holds and reads missing bytes of the header as zero; a file cut
  // short there, or before any image, is no picture.
  constexpr std::int64_t HeaderBytes = 13;  // signature, version, logical screen descriptor
  if (size == 0) throw Failure{file + ": the file is empty"};
  if (size < HeaderBytes)
    throw Failure{file + ": the file ends inside its GIF header (" + std::to_string(size) + " of " +
                  std::to_string(HeaderBytes) + " bytes)"};
  // The global colour table, as the screen descriptor announces it.
  const std::int64_t table = 3 * std::int64_t{picture.ScreenData->GlobalTable.Count};
  if (size < HeaderBytes + table)
    throw Failure{file + ": the file ends inside its global colour table (" +
                  std::to_string(size - HeaderBytes) + " of " + std::to_string(table) + " bytes)"};
  if (picture.FrameCount() == 0) throw Failure{file + ": the file ends before its first image"};
}

}  // namespace gifkit

namespace {

constexpr std::size_t Columns = 80;

// The text as lines of at most 80 columns: the first begins with lead, the others with as many
// spaces; words longer than a line stand alone.
std::string Wrapped(const std::string& lead, const std::string& text) {
  std::string out, line = lead;
  bool empty = true;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (!empty && line.size() + 1 + word.size() > Columns) {
      out += line + "\n";
      line = std::string(lead.size(), ' ');
      empty = true;
    }
    line += (empty ? "" : " ") + word;
    empty = false;
  }
  return out + line + "\n";
}

// "  NAME" padded to width, then the description wrapped beside it.
std::string Entry(const std::string& name, std::size_t width, const std::string& description) {
  std::string lead = "  " + name;
  if (lead.size() + 2 > width) return "  " + name + "\n" + Wrapped(std::string(width, ' '), description);
  lead.resize(width, ' ');
  return Wrapped(lead, description);
}

std::vector<gifkit::Command> SortedCommands() {
  auto commands = gifkit::Commands();
  std::sort(commands.begin(), commands.end(), [](auto& a, auto& b) { return a.name < b.name; });
  return commands;
}

void PrintUsage(std::FILE* out) {
  std::string text =
      "usage: gifkit COMMAND [ARGS]\n"
      "       gifkit COMMAND --help   the command's arguments and options\n"
      "       gifkit --version\n\n" +
      Wrapped("", "The command-line face of the GIF picture, colour-reduction and animated "
                  "cursor libraries.") +
      "\ncommands:\n";
  for (const gifkit::Command& c : SortedCommands()) text += Entry(c.name, 10, c.summary);
  text += "\nreduction methods (--method of encode and reduce):\n";
  for (const gifkit::Option& m : gifkit::MethodHelp()) text += Entry(m.name, 14, m.description);
  text += "\nexit status: 0 success, 1 failure (message on stderr), 2 bad usage\n";
  std::fputs(text.c_str(), out);
}

void PrintCommandHelp(const gifkit::Command& c) {
  std::string text = Wrapped("usage: gifkit ", c.usage) + "\n" + Wrapped("", c.summary);
  if (!c.details.empty()) text += "\n" + Wrapped("", c.details);
  if (!c.options.empty()) {
    text += "\noptions:\n";
    for (const gifkit::Option& o : c.options) text += Entry(o.name, 20, o.description);
  }
  std::fputs(text.c_str(), stdout);
}

bool AsksForHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintUsage(stderr);
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintUsage(stdout);
    return 0;
  }
  if (args[0] == "--version") {
    std::printf("gifkit %s\n", PROTRACTOR_VERSION);
    return 0;
  }
  for (auto& command : gifkit::Commands()) {
    if (command.name != args[0]) continue;
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (AsksForHelp(rest)) {
      PrintCommandHelp(command);
      return 0;
    }
    try {
      return command.run(rest);
    } catch (const gifkit::UsageError& e) {
      std::fprintf(stderr, "gifkit: %s\n%s", e.message.c_str(),
                   Wrapped("usage: gifkit ", command.usage).c_str());
      return 2;
    } catch (const gifkit::Failure& f) {
      std::fprintf(stderr, "gifkit: %s\n", f.message.c_str());
      if (!f.reason.empty()) std::fprintf(stderr, "gifkit: %s\n", f.reason.c_str());
      if (!f.context.empty()) std::fprintf(stderr, "gifkit: %s\n", f.context.c_str());
      return 1;
    } catch (const tk::EAbort&) {
      return 1;
    } catch (const std::exception& e) {
      // The library's message, then the reason it gives beside it.
      std::fprintf(stderr, "gifkit: %s\n", e.what());
      if (const std::string reason = gifkit::ReasonOf(e); !reason.empty())
        std::fprintf(stderr, "gifkit: %s\n", reason.c_str());
      return 1;
    }
  }
  std::fprintf(stderr, "gifkit: unknown command '%s'\n", args[0].c_str());
  PrintUsage(stderr);
  return 2;
}
