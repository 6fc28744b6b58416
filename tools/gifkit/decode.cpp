// gifkit decode FILE.gif OUT.bmp [--frame N]: a frame as the bitmap file its decoder makes.
#include <string>

#include "gif/gif.h"
#include "toolkit/core/streams.h"
#include "tools/gifkit/command.h"

namespace {

int Decode(const std::vector<std::string>& arguments) {
  gifkit::Args args(arguments, {"frame"}, {});
  if (args.positional.size() != 2) throw gifkit::UsageError{"expected a GIF file and a bitmap file"};
  int index = 0;
  try {
    index = tk::StrToInt(args.Value("frame", "0"));
  } catch (const tk::EConvertError& e) {
    throw gifkit::UsageError{e.Message()};
  }
  const std::string& file = args.positional[0];
  gif::TGIFImage picture;
  gifkit::ReadGifFile(file, picture);
  const int count = picture.FrameCount();
  const std::string frames = count == 1 ? "1 frame, number 0"
                                        : std::to_string(count) + " frames, 0 to " +
                                              std::to_string(count - 1);
  gif::TGIFFrame& frame = gifkit::WithContext(
      file + " holds " + frames, [&]() -> gif::TGIFFrame& { return picture.FrameAt(index); });
  // A frame without pixels makes a bitmap file image that no bitmap reader takes.
  const gif::TGIFItem& item = *frame.Encoded;
  if (item.ItemWidth == 0 || item.ItemHeight == 0)
    throw tk::EInvalidGraphicOperation(
        tk::Format(gif::SImageEmpty, {std::int64_t{item.ItemWidth}, std::int64_t{item.ItemHeight}}));
  tk::TMemoryStream image;
  frame.DecodeToDIB(image);
  tk::WriteWholeFile(args.positional[1], image.Bytes());
  return 0;
}

gifkit::Register decode{{"decode", "decode FILE.gif OUT.bmp [--frame N]",
                         "write a frame as the bitmap file its decoder makes", Decode,
                         {{"--frame N", "the frame to write, counted from 0 (gifkit info lists "
                                        "them); 0 by default"}}}};

}  // namespace
