// gifkit reduce: a bitmap file converted to 1, 4, 8 or 24 bits, the 8-bit form by a reduction
// method.
#include <utility>

#include "colour/colour.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/core/streams.h"
#include "tools/gifkit/command.h"

namespace {

using colour::ReductionMethod;

const std::pair<const char*, tk::TPixelFormat> Depths[] = {
    {"1", tk::pf1bit}, {"4", tk::pf4bit}, {"8", tk::pf8bit}, {"24", tk::pf24bit}};

const std::pair<const char*, ReductionMethod> Methods[] = {
    {"histogram", ReductionMethod::ReduceHistogram},   {"median-cut", ReductionMethod::ReduceMedianCut},
    {"fixed784", ReductionMethod::ReduceFixed784},     {"fixed666", ReductionMethod::ReduceFixed666},
    {"ramps", ReductionMethod::ReducePrimaryRamps},    {"gray", ReductionMethod::ReduceGray}};

template <class T, std::size_t N>
T Lookup(const std::pair<const char*, T> (&table)[N], const std::string& name, const char* option) {
  for (auto& [key, value] : table)
    if (name == key) return value;
  throw gifkit::UsageError{std::string("bad value for --") + option + ": '" + name + "'"};
}

}  // namespace

colour::ReductionMethod gifkit::MethodNamed(const std::string& name) {
  return Lookup(Methods, name, "method");
}

const std::vector<gifkit::Option>& gifkit::MethodHelp() {
  static const std::vector<Option> help = {
      {"histogram", "the image's most frequent colours, at most 256 (the default)"},
      {"median-cut", "one colour for each box of a median cut of the colour cube, at most 256"},
      {"fixed784", "a fixed palette of 7 reds x 8 greens x 4 blues, 224 colours"},
      {"fixed666", "a fixed palette of 6 x 6 x 6 levels, 216 colours"},
      {"ramps", "a fixed 64-step ramp of each primary; every pixel shows one channel"},
      {"gray", "256 grey levels"}};
  return help;
}

namespace {

int Run(const std::vector<std::string>& args) {
  gifkit::Args a(args, {"bits", "method"}, {});
  if (a.positional.size() != 2) throw gifkit::UsageError{"expected IN.bmp and OUT.bmp"};
  if (!a.Has("bits")) throw gifkit::UsageError{"--bits is required"};
  const tk::TPixelFormat format = Lookup(Depths, a.Value("bits"), "bits");
  if (a.Has("method") && format != tk::pf8bit)
    throw gifkit::UsageError{"--method applies to --bits 8 only"};
  const ReductionMethod method =
      a.Has("method") ? gifkit::MethodNamed(a.Value("method")) : colour::DefaultReduction;

  tk::TBitmap bitmap;
  bitmap.LoadFromFile(a.positional[0]);
  auto stream = colour::BitmapToDIBStream(bitmap, format, method);
  tk::WriteWholeFile(a.positional[1], stream->Bytes());
  return 0;
}

const gifkit::Register reg(
    {"reduce", "reduce IN.bmp OUT.bmp --bits 1|4|8|24 [--method METHOD]",
     "convert a bitmap file to 1, 4, 8 or 24 bits per pixel", Run,
     {{"--bits 1|4|8|24", "the bits per pixel of OUT.bmp; 1 and 4 take the nearest colours of "
                          "a standard palette, 8 a reduction method, 24 true colour"},
      {"--method METHOD", "with --bits 8: histogram, median-cut, fixed784, fixed666, ramps or "
                          "gray (gifkit --help explains them); histogram by default"}}});

}  // namespace
