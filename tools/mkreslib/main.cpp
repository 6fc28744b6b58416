// mkreslib: builds a PE resource-only DLL from files.
//   mkreslib OUT.dll [--pe32plus] [--bitmap NAME=FILE.bmp]... [--rcdata NAME=FILE]...
// A NAME of decimal digits is a numeric id; any other NAME is a text name.
#include <cstdio>
#include <cstring>
#include <string>

#include "toolkit/core/streams.h"
#include "tools/mkreslib/reslib.h"

namespace {

const char kUsage[] =
    "usage: mkreslib OUT.dll [--pe32plus] [--bitmap NAME=FILE.bmp]... [--rcdata NAME=FILE]...\n"
    "  --bitmap NAME=FILE.bmp  a bitmap resource (RT_BITMAP), the file without its file header\n"
    "  --rcdata NAME=FILE      a raw-data resource (RT_RCDATA), the file as it is\n"
    "  --pe32plus              write a PE32+ (64-bit) image instead of PE32\n"
    "A NAME of decimal digits (1 to 65535) is a numeric id.\n";

struct UsageError {
  std::string message;
};

tk::TResName ParseName(const std::string& text) {
  if (!text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos) {
    unsigned long id = std::stoul(text);
    if (id == 0 || id > 0xFFFF) throw UsageError{"resource id out of range: " + text};
    return tk::TResName(static_cast<std::uint16_t>(id));
  }
  return tk::TResName(std::string_view(text));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::string out;
    bool plus = false;
    std::vector<reslib::Resource> resources;
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
      }
      if (arg == "--pe32plus") {
        plus = true;
      } else if (arg == "--bitmap" || arg == "--rcdata") {
        if (i + 1 >= argc) throw UsageError{arg + " needs NAME=FILE"};
        const std::string entry = argv[++i];
        const auto eq = entry.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == entry.size())
          throw UsageError{arg + " needs NAME=FILE, got '" + entry + "'"};
        const std::string file = entry.substr(eq + 1);
        std::vector<std::uint8_t> bytes = tk::ReadWholeFile(file);
        if (arg == "--bitmap") {
          try {
            bytes = reslib::BitmapResource(bytes);
          } catch (const tk::Exception& e) {
            throw tk::Exception(file + ": " + e.Message());
          }
        }
        resources.push_back({arg == "--bitmap" ? tk::RT_BITMAP : tk::RT_RCDATA,
                             ParseName(entry.substr(0, eq)), std::move(bytes)});
      } else if (arg.starts_with("-")) {
        throw UsageError{"unknown option " + arg};
      } else if (out.empty()) {
        out = arg;
      } else {
        throw UsageError{"more than one output file"};
      }
    }
    if (out.empty()) throw UsageError{"no output file"};
    auto image = reslib::BuildResourceDll(resources, plus ? reslib::ImageFormat::Pe32Plus
                                                          : reslib::ImageFormat::Pe32);
    tk::WriteWholeFile(out, image);
    return 0;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "mkreslib: %s\n%s", e.message.c_str(), kUsage);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mkreslib: %s\n", e.what());
    return 1;
  }
}
