// gifkit: the command-line face of the GIF, colour-reduction and cursor libraries.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>

#include "toolkit/core/exceptions.h"
#include "tools/gifkit/command.h"

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

}  // namespace gifkit

namespace {

void PrintUsage(std::FILE* out) {
  auto commands = gifkit::Commands();
  std::sort(commands.begin(), commands.end(), [](auto& a, auto& b) { return a.name < b.name; });
  std::fprintf(out, "usage: gifkit COMMAND [ARGS]\n\n"
                    "The command-line face of the GIF picture, colour-reduction and animated\n"
                    "cursor libraries.\n\ncommands:\n");
  for (auto& c : commands) std::fprintf(out, "  gifkit %-48s %s\n", c.usage.c_str(), c.summary.c_str());
  std::fprintf(out, "  gifkit %-48s %s\n", "--help", "show this text");
  std::fprintf(out, "\nexit status: 0 success, 1 failure (message on stderr), 2 bad usage\n");
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
  for (auto& command : gifkit::Commands()) {
    if (command.name != args[0]) continue;
    try {
      return command.run({args.begin() + 1, args.end()});
    } catch (const gifkit::UsageError& e) {
      std::fprintf(stderr, "gifkit: %s\nusage: gifkit %s\n", e.message.c_str(), command.usage.c_str());
      return 2;
    } catch (const tk::EAbort&) {
      return 1;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "gifkit: %s\n", e.what());
      return 1;
    }
  }
  std::fprintf(stderr, "gifkit: unknown command '%s'\n", args[0].c_str());
  PrintUsage(stderr);
  return 2;
}
