// What the writer produces, seen by other decoders: giflib decodes every GIF written here to
// exactly the pixels the picture holds, with the same tables, positions, delays, disposal,
// transparency, looping and comments; ImageMagick's identify accepts the files where installed.
// The corpus is read, written and read again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "bitmap_builder.h"
#include "common/test_paths.h"
#include "gif/gif.h"
#include "gif_builder.h"
#include "giflib_ref.h"
#include "toolkit/device/bitmap.h"

using namespace giftest;
using gif::NoColor;
using gif::TGIFImage;

namespace fs = std::filesystem;

namespace {

Bytes Saved(TGIFImage& picture) {
  tk::TMemoryStream out;
  picture.SaveStream(out);
  return Bytes(out.Bytes().begin(), out.Bytes().end());
}

// The frame's pixels as its own decoder gives them, top row first.
std::vector<unsigned> Pixels(gif::TGIFFrame& frame) {
  tk::TMemoryStream dib;
  frame.DecodeToDIB(dib);
  return DibIndices(dib.Bytes());
}

// giflib's view of the picture's bytes agrees with the picture: sizes, positions, tables,
// pixels, delays, disposal and transparency.
void ExpectGiflibAgrees(TGIFImage& picture, const Bytes& bytes) {
  RefGif ref;
  ASSERT_TRUE(GiflibDecode(bytes, ref));
  ASSERT_EQ(static_cast<int>(ref.frames.size()), picture.FrameCount());
  EXPECT_EQ(ref.width, picture.LogicalWidth);
  EXPECT_EQ(ref.height, picture.LogicalHeight);
  const gif::GifColorTable& global = picture.ScreenData->GlobalTable;
  ASSERT_EQ(ref.globalColors, global.Count);
  for (int i = 0; i < global.Count; ++i)
    ASSERT_EQ(
        ref.globalTable[3 * i] | ref.globalTable[3 * i + 1] << 8 | ref.globalTable[3 * i + 2] << 16,
        global.Color(i));
  for (int i = 0; i < picture.FrameCount(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    gif::TGIFFrame& frame = picture.FrameAt(i);
    const RefFrame& r = ref.frames[static_cast<std::size_t>(i)];
    EXPECT_EQ(r.left, frame.LeftPos);
    EXPECT_EQ(r.top, frame.TopPos);
    EXPECT_EQ(r.width, frame.Encoded->ItemWidth);
    EXPECT_EQ(r.height, frame.Encoded->ItemHeight);
    EXPECT_EQ(r.interlaced, frame.IsInterlaced);
    EXPECT_EQ(r.localColors, frame.OwnColorTable ? frame.Encoded->ColorTable.Count : 0);
    const std::vector<unsigned> pixels = Pixels(frame);
    ASSERT_EQ(r.indices.size(), pixels.size());
    const unsigned mask = (1u << frame.Encoded->BitDepth) - 1;
    for (std::size_t k = 0; k < pixels.size(); ++k)
      ASSERT_EQ(r.indices[k] & mask, pixels[k]) << "pixel " << k;
    if (r.hasControl) {
      EXPECT_EQ(r.delay, frame.DelayMs / 10);
      EXPECT_EQ(r.disposal, frame.Disposal);
      const int transparent = r.transparent >= 0
                                  ? static_cast<int>(frame.Encoded->ColorTable.Color(r.transparent))
                                  : -1;
      EXPECT_EQ(transparent, frame.TransColor == NoColor
                                 ? -1
                                 : static_cast<int>(tk::ColorToRGB(frame.TransColor) & 0xFFFFFF));
    } else {
      EXPECT_EQ(frame.DelayMs / 10, 0);
      EXPECT_EQ(frame.Disposal, 0);
      EXPECT_EQ(frame.TransColor, NoColor);
    }
  }
}

bool HaveIdentify() {
  return fs::exists("/usr/bin/identify");
}

// The number of images ImageMagick's identify finds in the file, or -1 when it refuses it.
int IdentifyFrames(const fs::path& file) {
  const std::string command =
      "/usr/bin/identify -format '%n\\n' '" + file.string() + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char line[64] = {};
  int frames = -1;
  if (std::fgets(line, sizeof line, pipe)) frames = std::atoi(line);
  while (std::fgets(line, sizeof line, pipe)) {
  }
  return pclose(pipe) == 0 ? frames : -1;
}

TEST(Interop, BitmapsOfEveryDepthAndMethod) {
  const fs::path dir = testpaths::ScratchDir("gif-interop");
  int files = 0;
  const std::vector<std::uint32_t> colors = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00,
                                             0x0000FF, 0x808080, 0x123456, 0xFEDCBA,
                                             0x00FFFF, 0xFF00FF, 0x7F7F00, 0x010203};
  const std::uint32_t rgbValues[] = {0x1000000, 200};  // all colours, and few enough to keep
  using M = colour::ReductionMethod;
  for (M method : {M::ReduceHistogram, M::ReduceMedianCut, M::ReduceFixed784, M::ReduceFixed666,
                   M::ReducePrimaryRamps, M::ReduceGray}) {
    const M saved = colour::DefaultReduction;
    colour::DefaultReduction = method;
    for (int bits : {1, 4, 8, 24}) {
      for (std::uint32_t modulus :
           bits == 24 ? std::vector<std::uint32_t>(std::begin(rgbValues), std::end(rgbValues))
                      : std::vector<std::uint32_t>{1u << bits}) {
        SCOPED_TRACE("method " + std::to_string(int(method)) + ", " + std::to_string(bits) +
                     " bits, " + std::to_string(modulus) + " values");
        std::vector<std::uint32_t> values = Pattern(61, 37, modulus, modulus);
        if (bits == 24 && modulus <= 256)
          for (auto& v : values) v = v * 0x010305 & 0xFFFFFF;  // 200 distinct colours
        auto bitmap = MakeBitmap(61, 37, bits, values, colors);
        TGIFImage picture;
        picture.TakeFrom(bitmap.get());
        const Bytes bytes = Saved(picture);
        ExpectGiflibAgrees(picture, bytes);
        // Palette bitmaps, and histograms of few colours, keep every pixel's colour.
        if (bits < 24 || (modulus <= 256 && method == M::ReduceHistogram)) {
          gif::TGIFFrame& frame = picture.FrameAt(0);
          const std::vector<unsigned> pixels = Pixels(frame);
          for (std::size_t k = 0; k < pixels.size(); ++k) {
            const std::uint32_t rgb =
                bits < 24 ? (values[k] < colors.size() ? colors[values[k]] : 0) : values[k];
            const tk::TColor expected = (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
            ASSERT_EQ(frame.Encoded->ColorTable.Color(static_cast<int>(pixels[k])), expected)
                << "pixel " << k;
          }
        }
        if (HaveIdentify()) {
          const fs::path file = dir / (std::to_string(files) + ".gif");
          tk::WriteWholeFile(file.string(), bytes);
          EXPECT_EQ(IdentifyFrames(file), 1);
        }
        ++files;
      }
    }
    colour::DefaultReduction = saved;
  }
  EXPECT_EQ(files, 30);
}

TEST(Interop, AnimationWithDelaysTransparencyCommentsAndLooping) {
  TGIFImage picture;
  picture.TakeFrom(
      MakeBitmap(30, 20, 8, Pattern(30, 20, 5), {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0}).get());
  picture.AppendFrame(MakeBitmap(10, 12, 4, Pattern(10, 12, 16, 3), {0xFFFFFF, 0x000000}).get());
  picture.AppendFrame(MakeBitmap(300, 7, 1, Pattern(300, 7, 2, 9), {0x00FF00, 0x0000FF}).get());
  picture.FrameAt(0).DelayMs = 120;
  picture.FrameAt(0).TransColor = 0xFF0000;  // the fourth colour (0x0000FF as red, green, blue)
  picture.FrameAt(1).LeftPos = 25;
  picture.FrameAt(1).TopPos = 14;
  picture.FrameAt(1).Disposal = 2;
  picture.FrameAt(1).DelayMs = 1000;
  picture.FrameAt(1).SetComment({"second frame"});
  picture.FrameAt(2).TopPos = 30;
  picture.FrameAt(2).TransColor = 0xFF0000;
  picture.LoopEnabled = true;
  picture.LoopCount = 3;
  picture.ScreenData->CommentLines.Add("made by the writer");
  picture.ScreenData->CommentLines.Add(std::string(400, 'w'));
  const Bytes bytes = Saved(picture);
  EXPECT_EQ(picture.LogicalWidth, 300);
  EXPECT_EQ(picture.LogicalHeight, 37);
  ExpectGiflibAgrees(picture, bytes);
  RefGif ref;
  ASSERT_TRUE(GiflibDecode(bytes, ref));
  EXPECT_EQ(ref.loopCount, 3);
  EXPECT_EQ(ref.frames[0].transparent, 2);
  EXPECT_EQ(ref.frames[1].transparent, -1);
  EXPECT_EQ(ref.frames[2].transparent, 1);
  EXPECT_EQ(ref.frames[2].delay, 0);
  ASSERT_EQ(ref.comments.size(), 1u);
  EXPECT_EQ(ref.comments[0], "made by the writer" + std::string(400, 'w'));

  // Read again: the same frames and settings.
  TGIFImage again;
  Read(again, bytes);
  ASSERT_EQ(again.FrameCount(), 3);
  for (int i = 0; i < 3; ++i) {
    gif::TGIFFrame &a = picture.FrameAt(i), &b = again.FrameAt(i);
    EXPECT_EQ(b.LeftPos, a.LeftPos);
    EXPECT_EQ(b.TopPos, a.TopPos);
    EXPECT_EQ(b.DelayMs, a.DelayMs / 10 * 10);
    EXPECT_EQ(b.Disposal, a.Disposal);
    EXPECT_EQ(b.TransColor, a.TransColor);
    EXPECT_EQ(b.OwnColorTable, a.OwnColorTable);
    EXPECT_EQ(Pixels(b), Pixels(a));
  }
  EXPECT_EQ(*again.FrameAt(1).FindComment(false), tk::TStringList{"second frame"});
  EXPECT_TRUE(again.LoopEnabled);
  EXPECT_EQ(again.LoopCount, 3);
  EXPECT_EQ(again.ScreenData->CommentLines.Count(), 3);
  EXPECT_EQ(Saved(again), bytes);
  if (HaveIdentify()) {
    const fs::path file = testpaths::ScratchDir("gif-interop-anim") / "anim.gif";
    tk::WriteWholeFile(file.string(), bytes);
    EXPECT_EQ(IdentifyFrames(file), 3);
  }
}

// The corpus, read and written back: every file giflib reads whose frames are intact comes out
// with the same pixels, tables, positions, timing, transparency, looping and comments.
TEST(Interop, CorpusReadWriteRead) {
  REQUIRE_CORPUS();
  const fs::path dir = testpaths::ScratchDir("gif-interop-corpus");
  int files = 0, frames = 0, identified = 0;
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(testpaths::CorpusDir()))
    if (entry.is_regular_file() && entry.path().extension() == ".gif")
      paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  for (const fs::path& path : paths) {
    const Bytes original = tk::ReadWholeFile(path.string());
    RefGif before;
    if (!GiflibDecode(original, before)) continue;
    TGIFImage picture;
    try {
      Read(picture, original);
    } catch (const tk::Exception&) {
      continue;
    }
    bool intact = picture.FrameCount() > 0;
    for (int i = 0; i < picture.FrameCount() && intact; ++i) {
      try {
        Pixels(picture.FrameAt(i));
      } catch (const tk::Exception&) {
        intact = false;
      }
      intact = intact && !picture.FrameAt(i).DataDamaged;
    }
    if (!intact) continue;
    SCOPED_TRACE(path.string());
    const Bytes written = Saved(picture);
    ExpectGiflibAgrees(picture, written);

    RefGif after;
    ASSERT_TRUE(GiflibDecode(written, after));
    TGIFImage again;
    Read(again, written);
    ASSERT_EQ(again.FrameCount(), picture.FrameCount());
    EXPECT_EQ(again.GifVersion, picture.GifVersion);
    // A picture without a background colour is written with index 0 (the field has no "none").
    if (picture.BackdropColor != NoColor) {
      EXPECT_EQ(again.BackdropColor, picture.BackdropColor);
    }
    if (picture.FrameCount() > 1) {
      EXPECT_EQ(again.LoopEnabled, picture.LoopEnabled);
      if (picture.LoopEnabled) {
        EXPECT_EQ(again.LoopCount, picture.LoopCount);
      }
    }
    EXPECT_EQ(again.ScreenData->CommentLines, picture.ScreenData->CommentLines);
    EXPECT_EQ(again.ScreenData->AspectByte, picture.ScreenData->AspectByte);
    for (int i = 0; i < picture.FrameCount(); ++i) {
      SCOPED_TRACE("frame " + std::to_string(i));
      gif::TGIFFrame &a = picture.FrameAt(i), &b = again.FrameAt(i);
      EXPECT_EQ(b.LeftPos, a.LeftPos);
      EXPECT_EQ(b.TopPos, a.TopPos);
      EXPECT_EQ(b.IsInterlaced, a.IsInterlaced);
      EXPECT_EQ(b.OwnColorTable, a.OwnColorTable);
      EXPECT_EQ(b.DelayMs, a.DelayMs / 10 * 10);
      EXPECT_EQ(b.Disposal, a.Disposal);
      EXPECT_EQ(b.TransColor, a.TransColor);
      EXPECT_EQ(b.Encoded->ColorTable.Count, a.Encoded->ColorTable.Count);
      EXPECT_EQ(0, std::memcmp(b.Encoded->ColorTable.Entries.data(), a.Encoded->ColorTable.Entries.data(),
                               3 * a.Encoded->ColorTable.Entries.size()));
      EXPECT_EQ(Pixels(b), Pixels(a));
      const tk::TStringList* ca = a.FindComment(false);
      const tk::TStringList* cb = b.FindComment(false);
      EXPECT_EQ(cb ? *cb : tk::TStringList{}, ca ? *ca : tk::TStringList{});
      // giflib sees the same transparent index as in the original file, when that named an
      // entry of the table.
      const int index = before.frames[static_cast<std::size_t>(i)].transparent;
      if (index < a.Encoded->ColorTable.Count) {
        EXPECT_EQ(after.frames[static_cast<std::size_t>(i)].transparent, index);
      }
      ++frames;
    }
    EXPECT_EQ(Saved(again), written);  // and writes the same bytes again
    if (HaveIdentify() && files % 8 == 0) {
      const fs::path copy = dir / "copy.gif";
      tk::WriteWholeFile(copy.string(), written);
      EXPECT_EQ(IdentifyFrames(copy), picture.FrameCount());
      ++identified;
    }
    ++files;
  }
  std::printf("%d corpus files (%d frames) written back; %d checked with identify\n", files, frames,
              identified);
  EXPECT_GT(files, 100);
}

}  // namespace
