// gifkit encode IN.(bmp|ico|cur|ani) OUT.gif: a bitmap, an icon or an animated cursor assigned
// to a GIF picture and saved.
#include <filesystem>

#include "colour/colour.h"
#include "cursor/cursor.h"
#include "gif/gif.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/device/icon.h"
#include "toolkit/core/streams.h"
#include "tools/gifkit/command.h"

namespace {

int Encode(const std::vector<std::string>& arguments) {
  gifkit::Args args(arguments, {"method"}, {"gray"});
  if (args.positional.size() != 2) throw gifkit::UsageError{"expected an input file and OUT.gif"};
  if (args.Has("method") && args.Has("gray"))
    throw gifkit::UsageError{"--gray and --method exclude each other: --gray reduces to greys"};
  const std::string& input = args.positional[0];
  const std::string extension = tk::LowerCase(std::filesystem::path(input).extension().string());

  gif::TGIFImage picture;
  if (args.Has("method")) picture.Options.Reduction = gifkit::MethodNamed(args.Value("method"));
  if (extension == ".bmp") {
    tk::TBitmap bitmap;
    bitmap.LoadFromFile(input);
    picture.TakeFrom(&bitmap);
  } else if (extension == ".ico" || extension == ".cur") {
    tk::TIcon icon;
    icon.LoadFromFile(input);
    picture.AppendFrame(&icon);
  } else if (extension == ".ani") {
    cursor::TAnimatedCursorImage animated;
    animated.ReadCursorFile(input);
    picture.TakeFrom(&animated);
  } else {
    throw gifkit::UsageError{"the input must be a .bmp, .ico, .cur or .ani file"};
  }
  if (args.Has("gray"))
    for (int i = 0; i < picture.FrameCount(); ++i) picture.FrameAt(i).GrayOnly = true;
  picture.SaveToFile(args.positional[1]);
  return 0;
}

const gifkit::Register reg(
    {"encode", "encode IN.(bmp|ico|cur|ani) OUT.gif [--method METHOD | --gray]",
     "save a bitmap, an icon or an animated cursor as a GIF picture", Encode,
     {{"--method METHOD", "how a picture of more than 256 colours is reduced: histogram, "
                          "median-cut, fixed784, fixed666, ramps or gray (gifkit --help "
                          "explains them); histogram by default"},
      {"--gray", "a picture of more than 256 colours is reduced to 256 grey levels"}},
     "A bitmap of 1, 4 or 8 bits keeps its own colours. An animated cursor gives one frame per "
     "icon, with its display time; the parts of an icon that are less than half opaque become "
     "transparent."});

}  // namespace
