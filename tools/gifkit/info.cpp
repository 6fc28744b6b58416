// gifkit info FILE.gif [--json]: what a GIF file holds, picture by frame.
#include <cstdio>
#include <string>
#include <vector>

#include "gif/gif.h"
#include "toolkit/core/streams.h"
#include "tools/gifkit/command.h"

namespace {

// A colour as #rrggbb, or "none".
std::string ColorText(gif::TColor color) {
  if (color == gif::NoColor) return "none";
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", color & 0xFF, color >> 8 & 0xFF, color >> 16 & 0xFF);
  return text;
}

// Bytes as a JSON string; bytes above 0x7F are taken as Latin-1.
std::string Json(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonColor(gif::TColor color) { return color == gif::NoColor ? "null" : Json(ColorText(color)); }

// Bytes as text with the unprintable ones escaped.
std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    }
  }
  return out;
}

// The disposal methods of the graphic control extension by name.
std::string DisposalName(int disposal) {
  static const char* const names[] = {"unspecified", "keep", "restore background",
                                      "restore previous"};
  return disposal < 4 ? names[disposal] : "reserved " + std::to_string(disposal);
}

struct FrameInfo {
  gif::TGIFFrame* frame;
  std::string error;  // why the frame cannot be decoded
  int transparentIndex = -1;  // the colour-table index of the transparent colour, -1: none
  std::vector<std::string> comments = {};  // the frame's comment extensions, each as one text
};

// What the frame's extensions say beyond its fields: the index of its transparent colour (the
// graphic control extension's that decided it, else the first entry of that colour) and its
// comments, each extension's sub-blocks joined.
void ReadExtensions(FrameInfo& info) {
  const gif::TGIFFrame& f = *info.frame;
  if (f.ExtBlocks) {
    for (const auto& extension : *f.ExtBlocks) {
      if (extension->Kind == gif::ekGraphicControl && (extension->Packed() & 1) &&
          extension->TransparentIndex() < f.Encoded->ColorTable.Count)
        info.transparentIndex = extension->TransparentIndex();
      if (extension->Kind == gif::ekComment) {
        std::string text;
        if (extension->Lines)
          for (const std::string& block : *extension->Lines) text += block;
        info.comments.push_back(text);
      }
    }
  }
  if (f.TransColor == gif::NoColor) info.transparentIndex = -1;
  else if (info.transparentIndex < 0) info.transparentIndex = gif::FindColorIndex(f.Encoded->ColorTable, f.TransColor);
}

// A frame's information, examined when its line is printed, so that no frame's information is
// held beside the picture. Checking the code stream tells whether the data is damaged; no pixel
// is stored.
FrameInfo Examine(gif::TGIFFrame& frame) {
  FrameInfo info{&frame, ""};
  ReadExtensions(info);
  try {
    frame.CheckData();
  } catch (const tk::Exception& e) {
    info.error = e.Message();
  }
  return info;
}

std::string TransparentText(const FrameInfo& info) {
  std::string text = ColorText(info.frame->TransColor);
  if (info.transparentIndex >= 0) text += " (index " + std::to_string(info.transparentIndex) + ")";
  return text;
}

int Info(const std::vector<std::string>& arguments) {
  gifkit::Args args(arguments, {}, {"json"});
  if (args.positional.size() != 1) throw gifkit::UsageError{"expected one GIF file"};
  gif::TGIFImage picture;
  gifkit::ReadGifFile(args.positional[0], picture);

  const std::size_t count = static_cast<std::size_t>(picture.FrameCount());
  auto table = [](const gif::TGIFFrame& f) {
    return f.OwnColorTable ? "local" : f.Encoded->ColorTable.Count > 0 ? "global" : "none";
  };
  const tk::TStringList& comments = picture.ScreenData->CommentLines;

  if (args.Has("json")) {
    std::printf("{\"version\": %s, \"width\": %d, \"height\": %d, \"frameCount\": %zu, "
                "\"background\": %s,\n",
                Json(std::string(gif::GifVersionTexts[picture.GifVersion])).c_str(), picture.LogicalWidth,
                picture.LogicalHeight, count, JsonColor(picture.BackdropColor).c_str());
    std::printf(" \"loop\": {\"enabled\": %s, \"count\": %d},\n", picture.LoopEnabled ? "true" : "false",
                picture.LoopCount);
    std::printf(" \"comments\": [");
    for (int i = 0; i < comments.Count(); ++i) std::printf("%s%s", i ? ", " : "", Json(comments[i]).c_str());
    std::printf("],\n \"frames\": [");
    for (std::size_t i = 0; i < count; ++i) {
      const FrameInfo info = Examine(picture.FrameAt(static_cast<int>(i)));
      const gif::TGIFFrame& f = *info.frame;
      std::printf("%s\n  {\"left\": %d, \"top\": %d, \"width\": %d, \"height\": %d, \"bitDepth\": %d, "
                  "\"colorTable\": \"%s\", \"interlaced\": %s, \"delayMs\": %d, \"disposal\": %d, "
                  "\"disposalName\": %s, \"transparent\": %s, \"transparentIndex\": %s, "
                  "\"damaged\": %s",
                  i ? "," : "", f.LeftPos, f.TopPos, f.Encoded->ItemWidth, f.Encoded->ItemHeight,
                  f.Encoded->BitDepth, table(f), f.IsInterlaced ? "true" : "false", f.DelayMs, f.Disposal,
                  Json(DisposalName(f.Disposal)).c_str(), JsonColor(f.TransColor).c_str(),
                  info.transparentIndex < 0 ? "null" : std::to_string(info.transparentIndex).c_str(),
                  f.DataDamaged ? "true" : "false");
      std::printf(", \"comments\": [");
      for (std::size_t c = 0; c < info.comments.size(); ++c)
        std::printf("%s%s", c ? ", " : "", Json(info.comments[c]).c_str());
      std::printf("]");
      if (!info.error.empty()) std::printf(", \"error\": %s", Json(info.error).c_str());
      std::printf("}");
    }
    std::printf("%s]}\n", count == 0 ? "" : "\n ");
    return 0;
  }

  std::printf("%s: GIF%s, %d x %d, %zu frame%s, background %s\n", args.positional[0].c_str(),
              std::string(gif::GifVersionTexts[picture.GifVersion]).c_str(), picture.LogicalWidth,
              picture.LogicalHeight, count, count == 1 ? "" : "s",
              ColorText(picture.BackdropColor).c_str());
  if (picture.LoopEnabled) std::printf("loop: count %d%s\n", picture.LoopCount, picture.LoopCount ? "" : " (forever)");
  else std::printf("loop: none\n");
  for (const std::string& line : comments) std::printf("comment: %s\n", Printable(line).c_str());
  for (std::size_t i = 0; i < count; ++i) {
    const FrameInfo info = Examine(picture.FrameAt(static_cast<int>(i)));
    const gif::TGIFFrame& f = *info.frame;
    std::printf("frame %zu: %d x %d at (%d, %d), %d bits, %s table, %s, delay %d ms, disposal %d (%s), "
                "transparent %s, %s\n",
                i, f.Encoded->ItemWidth, f.Encoded->ItemHeight, f.LeftPos, f.TopPos, f.Encoded->BitDepth,
                table(f), f.IsInterlaced ? "interlaced" : "not interlaced", f.DelayMs, f.Disposal,
                DisposalName(f.Disposal).c_str(), TransparentText(info).c_str(),
                !info.error.empty() ? ("undecodable: " + info.error).c_str()
                : f.DataDamaged          ? "damaged"
                                         : "intact");
    for (const std::string& comment : info.comments)
      std::printf("  comment: %s\n", Printable(comment).c_str());
  }
  return 0;
}

gifkit::Register info{{"info", "info FILE.gif [--json]",
                       "version, screen, loop, comments and frames of a GIF file", Info,
                       {{"--json", "the same as one JSON object"}},
                       "Each frame's line is followed by the comments that stood before its "
                       "image; the comments after the last image are the picture's own. A frame "
                       "that cannot be decoded says why."}};

}  // namespace
