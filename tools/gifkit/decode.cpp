// gifkit decode FILE.gif OUT.bmp [--frame N], or FILE.gif --all OUT_PREFIX: a frame, or every
// frame, as the bitmap file its decoder makes.
#include <cstdio>
#include <string>

#include "gif/gif.h"
#include "toolkit/core/streams.h"
#include "tools/gifkit/command.h"

namespace {

// Decodes a frame and writes it as a bitmap file. A frame without pixels makes a bitmap file
// image that no bitmap reader takes: it is refused. With last set, the frame's picture is let go
// before the bitmap file takes its place: the GIF file is closed then, so that the bitmap file
// may replace it even where open files cannot be replaced (Windows).
void WriteFrame(gif::TGIFFrame& frame, const std::string& out, bool last = false) {
  const gif::TGIFItem& item = *frame.Encoded;
  if (item.ItemWidth == 0 || item.ItemHeight == 0)
    throw tk::EInvalidGraphicOperation(
        tk::Format(gif::SImageEmpty, {std::int64_t{item.ItemWidth}, std::int64_t{item.ItemHeight}}));
  tk::TAtomicFileStream file(out);
  frame.WriteDIB(file);
  if (last) frame.ParentImage->FreeFrames();
  file.Commit();
}

// Every frame, one after another, as OUT_PREFIX followed by its number and ".bmp"; the numbers
// have as many digits as the last one, so that the files sort in frame order. A frame's rows go
// to its file one at a time.
int DecodeAll(const std::string& file, gif::TGIFImage& picture, const std::string& prefix) {
  const int count = picture.FrameCount();
  const int digits = static_cast<int>(std::to_string(count - 1).size());
  for (int i = 0; i < count; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%0*d", digits, i);
    const std::string out = prefix + number + ".bmp";
    gifkit::WithContext(file + ": frame " + std::to_string(i) + " of " + std::to_string(count),
                        [&] { WriteFrame(picture.FrameAt(i), out); });
  }
  return 0;
}

int Decode(const std::vector<std::string>& arguments) {
  gifkit::Args args(arguments, {"frame", "all"}, {});
  const bool all = args.Has("all");
  if (all && args.Has("frame")) throw gifkit::UsageError{"--all and --frame exclude each other"};
  if (args.positional.size() != (all ? 1u : 2u))
    throw gifkit::UsageError{all ? "expected a GIF file and --all OUT_PREFIX" : "expected a GIF file and a bitmap file"};
  int index = 0;
  try {
    index = tk::StrToInt(args.Value("frame", "0"));
  } catch (const tk::EConvertError& e) {
    throw gifkit::UsageError{e.Message()};
  }
  const std::string& file = args.positional[0];
  gif::TGIFImage picture;
  gifkit::ReadGifFile(file, picture);
  if (all) return DecodeAll(file, picture, args.Value("all"));
  const int count = picture.FrameCount();
  const std::string frames = count == 1 ? "1 frame, number 0"
                                        : std::to_string(count) + " frames, 0 to " +
                                              std::to_string(count - 1);
  gif::TGIFFrame& frame = gifkit::WithContext(
      file + " holds " + frames, [&]() -> gif::TGIFFrame& { return picture.FrameAt(index); });
  WriteFrame(frame, args.positional[1], true);
  return 0;
}

gifkit::Register decode{{"decode", "decode FILE.gif (OUT.bmp [--frame N] | --all OUT_PREFIX)",
                         "write a frame, or every frame, as the bitmap file its decoder makes", Decode,
                         {{"--frame N", "the frame to write, counted from 0 (gifkit info lists "
                                        "them); 0 by default"},
                          {"--all OUT_PREFIX", "write every frame, frame N to OUT_PREFIXN.bmp, N with as "
                                               "many digits as the last number"}}}};

}  // namespace
