// gifkit copy IN.gif OUT.gif: a GIF read into a picture and written back.
#include "gif/gif.h"
#include "toolkit/core/streams.h"
#include "tools/gifkit/command.h"

namespace {

int Copy(const std::vector<std::string>& arguments) {
  gifkit::Args args(arguments, {}, {});
  if (args.positional.size() != 2) throw gifkit::UsageError{"expected IN.gif and OUT.gif"};
  tk::TMemoryStream out;
  {
    gif::TGIFImage picture;
    gifkit::ReadGifFile(args.positional[0], picture);
    picture.SaveStream(out);
  }  // the file read is closed, so that the one written may take its place (Windows)
  tk::WriteWholeFile(args.positional[1], out.Bytes());
  return 0;
}

const gifkit::Register reg({"copy", "copy IN.gif OUT.gif", "read a GIF and write it back", Copy});

}  // namespace
