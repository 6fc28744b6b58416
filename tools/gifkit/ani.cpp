// gifkit ani FILE.ani: what an animated cursor holds, frame by frame.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cursor/cursor.h"
#include "tools/gifkit/command.h"

namespace {

// A text with its unprintable bytes as \r, \n, \t or \xNN.
std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x7F || c == '\\') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int Ani(const std::vector<std::string>& arguments) {
  gifkit::Args args(arguments, {}, {});
  if (args.positional.size() != 1) throw gifkit::UsageError{"expected one FILE.ani"};
  const std::string& file = args.positional[0];
  cursor::TAnimatedCursorImage ani;
  ani.ReadCursorFile(file);

  const cursor::TAniHeader& h = ani.AniHeader();
  std::printf("header: size %d, frames %d, steps %d, %d x %d, %d bits, %d planes, rate %d, flags 0x%x\n",
              h.HeaderSize, h.FrameCount, h.StepCount, h.Width, h.Height, h.BitCount, h.Planes, h.DisplayRate,
              static_cast<unsigned>(h.Flags));
  std::printf("title: %s\n", Escaped(ani.Title()).c_str());
  std::printf("author: %s\n", Escaped(ani.Author()).c_str());
  std::printf("max colours: %u\n", ani.MaxColors());
  std::printf("frames: %d\n", ani.FrameCount());
  for (int i = 0; i < ani.FrameCount(); ++i) {
    cursor::TIconFrame& frame = ani.FrameAt(i);
    std::printf("  %d: sequence %d, rate %d, hotspot %d,%d, %d x %d, %s file\n", i, frame.Sequence, frame.Rate,
                frame.Hotspot.X, frame.Hotspot.Y, frame.Picture->Width(), frame.Picture->Height(),
                frame.FromIconFile ? "icon" : "cursor");
  }
  return 0;
}

const gifkit::Register reg({"ani", "ani FILE.ani",
                            "show the header, texts and frames of an animated cursor", Ani});

}  // namespace
