// The animated cursor reader: chunk helpers, the frames made from built and real files, copying,
// hand-over to icons, bitmaps and icon lists, and damaged input.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/run_program.h"
#include "common/test_paths.h"
#include "cursor/cursor.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/system/clipboard.h"
#include "toolkit/core/screen.h"

namespace cursor {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using tk::TColor;

// ---- Builders ---------------------------------------------------------------------------------

void Put(Bytes& b, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

// One image of an icon file: every pixel shows the colour, except those the hole function marks,
// which the mask leaves transparent.
struct Image {
  int size = 32;
  int bits = 1;
  TColor color = 0x0000FF;
  int hotX = 0, hotY = 0;
  std::function<bool(int x, int y)> hole = [](int, int) { return false; };
};

Bytes ImageData(const Image& im) {
  Bytes b;
  for (std::uint32_t v : {40u, static_cast<std::uint32_t>(im.size), static_cast<std::uint32_t>(2 * im.size)}) Put(b, v, 4);
  Put(b, 1, 2);
  Put(b, static_cast<std::uint32_t>(im.bits), 2);
  for (int i = 0; i < 6; ++i) Put(b, 0, 4);
  if (im.bits <= 8) {
    for (int i = 0; i < (1 << im.bits); ++i) {
      const TColor c = i == 1 ? im.color : 0;
      for (std::uint8_t v : {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c), std::uint8_t(0)}) b.push_back(v);
    }
  }
  const auto stride = static_cast<std::size_t>((im.size * im.bits + 31) / 32 * 4);
  const auto maskStride = static_cast<std::size_t>((im.size + 31) / 32 * 4);
  for (int row = im.size - 1; row >= 0; --row) {  // bottom row first
    Bytes line(stride, 0);
    for (int x = 0; x < im.size; ++x) {
      if (im.hole(x, row)) continue;  // index 0, black: the destination shows
      const std::size_t bit = static_cast<std::size_t>(x * im.bits);
      if (im.bits >= 24) {
        line[bit / 8] = static_cast<std::uint8_t>(im.color >> 16);
        line[bit / 8 + 1] = static_cast<std::uint8_t>(im.color >> 8);
        line[bit / 8 + 2] = static_cast<std::uint8_t>(im.color);
      } else {
        line[bit / 8] |= static_cast<std::uint8_t>(1 << (8 - im.bits - bit % 8));
      }
    }
    Append(b, line);
  }
  for (int row = im.size - 1; row >= 0; --row) {
    Bytes line(maskStride, 0);
    for (int x = 0; x < im.size; ++x)
      if (im.hole(x, row)) line[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    Append(b, line);
  }
  return b;
}

// An icon file (type 1) or cursor file (type 2) of the images.
Bytes IconFile(const std::vector<Image>& images, int type = 1) {
  Bytes b;
  Put(b, 0, 2);
  Put(b, static_cast<std::uint32_t>(type), 2);
  Put(b, static_cast<std::uint32_t>(images.size()), 2);
  std::vector<Bytes> data;
  std::size_t offset = 6 + 16 * images.size();
  for (const Image& im : images) {
    data.push_back(ImageData(im));
    b.push_back(static_cast<std::uint8_t>(im.size));
    b.push_back(static_cast<std::uint8_t>(im.size));
    b.push_back(static_cast<std::uint8_t>(im.bits < 8 ? 1 << im.bits : 0));
    b.push_back(0);
    Put(b, static_cast<std::uint32_t>(type == 2 ? im.hotX : 1), 2);
    Put(b, static_cast<std::uint32_t>(type == 2 ? im.hotY : im.bits), 2);
    Put(b, static_cast<std::uint32_t>(data.back().size()), 4);
    Put(b, static_cast<std::uint32_t>(offset), 4);
    offset += data.back().size();
  }
  for (const Bytes& d : data) Append(b, d);
  return b;
}
Bytes Icon(TColor color, int bits = 1, int size = 32) { return IconFile({Image{size, bits, color}}); }

// A chunk with its pad byte; the size written may lie.
Bytes ChunkSized(std::string_view id, std::uint32_t size, const Bytes& data) {
  Bytes b = Text(id);
  Put(b, size, 4);
  Append(b, data);
  if (data.size() % 2) b.push_back(0);
  return b;
}
Bytes Chunk(std::string_view id, const Bytes& data) {
  return ChunkSized(id, static_cast<std::uint32_t>(data.size()), data);
}
Bytes List(std::string_view type, const std::vector<Bytes>& chunks) {
  Bytes data = Text(type);
  for (const Bytes& c : chunks) Append(data, c);
  return Chunk("LIST", data);
}
Bytes Frames(const std::vector<Bytes>& iconFiles) {
  std::vector<Bytes> chunks;
  for (const Bytes& f : iconFiles) chunks.push_back(Chunk("icon", f));
  return List("fram", chunks);
}
Bytes Int32s(const std::vector<std::int32_t>& values) {
  Bytes b;
  for (std::int32_t v : values) Put(b, static_cast<std::uint32_t>(v), 4);
  return b;
}
Bytes Anih(int frames, int steps, int rate, int flags = AF_ICON) {
  return Chunk("anih", Int32s({36, frames, steps, 0, 0, 0, 0, rate, flags}));
}
Bytes Ani(const std::vector<Bytes>& chunks) {
  Bytes data = Text("ACON");
  for (const Bytes& c : chunks) Append(data, c);
  return Chunk("RIFF", data);
}

void Load(TAnimatedCursorImage& ani, const Bytes& bytes) {
  tk::TMemoryStream stream(bytes);
  ani.LoadStream(stream);
}

// The colour an icon shows at a point, drawn over the background.
TColor ColourAt(tk::TIcon* icon, int x = 1, int y = 1, TColor background = 0x808080) {
  tk::TBitmap bitmap;
  bitmap.Canvas().Brush().Color = background;
  bitmap.SetWidth(icon->Width());
  bitmap.SetHeight(icon->Height());
  bitmap.Canvas().Draw(0, 0, icon);
  return bitmap.Canvas().Pixels(x, y);
}

std::string ReadErrorOf(const Bytes& bytes) {
  TAnimatedCursorImage ani;
  try {
    Load(ani, bytes);
  } catch (const tk::EReadError& e) {
    return e.what();
  }
  return "";
}

constexpr TColor kRed = 0x0000FF, kLime = 0x00FF00, kBlue = 0xFF0000, kYellow = 0x00FFFF;

// ---- Chunk helpers ----------------------------------------------------------------------------

TEST(Chunks, PaddingReadingAndSkipping) {
  EXPECT_EQ(PadToEven(-3), -4);
  EXPECT_EQ(PadToEven(3), 4);
  EXPECT_EQ(PadToEven(4), 4);
  EXPECT_EQ(PadToEven(0xFFFFFFFF), 0x100000000);
  EXPECT_EQ(ColorsFromBitCount(1), 2);
  EXPECT_EQ(ColorsFromBitCount(4), 16);
  EXPECT_EQ(ColorsFromBitCount(8), 256);
  for (int bits : {0, 2, 16, 24, 32, 0x5244}) EXPECT_EQ(ColorsFromBitCount(bits), 0) << bits;

  // "abc" with its pad, then "next".
  Bytes bytes = Chunk("INAM", Text("abc"));
  Append(bytes, Chunk("next", {}));
  tk::TMemoryStream stream(bytes);
  TChunkHeader h;
  ASSERT_TRUE(ReadChunkHeader(stream, h));
  EXPECT_TRUE(h.Is("INAM"));
  EXPECT_EQ(h.Size, 3u);
  std::uint8_t two[2] = {9, 9};
  EXPECT_TRUE(ReadChunkPart(stream, h, two));
  EXPECT_EQ(two[0], 'a');
  EXPECT_EQ(two[1], 'b');
  EXPECT_EQ(stream.Position(), 12);  // past the pad byte
  ASSERT_TRUE(ReadChunkHeader(stream, h));
  EXPECT_TRUE(h.Is("next"));
  EXPECT_FALSE(ReadChunkHeader(stream, h));

  // Data that the stream does not hold whole is not read; a skip may go past the end.
  tk::TMemoryStream cut(ChunkSized("rate", 8, Int32s({1})));
  ASSERT_TRUE(ReadChunkHeader(cut, h));
  std::vector<std::uint8_t> data;
  EXPECT_FALSE(ReadChunkData(cut, h, data));
  EXPECT_EQ(cut.Position(), 8);
  EXPECT_TRUE(SkipChunk(cut, h));
  EXPECT_EQ(cut.Position(), 16);
}

// ---- Reading built files ----------------------------------------------------------------------

TEST(Reading, FramesTextsAndHeader) {
  Bytes file = Ani({List("INFO", {Chunk("INAM", Text("Spinner")), Chunk("IART", Text("Someone")),
                                  Chunk("ICOP", Text("skipped"))}),
                    Anih(3, 3, 7), Frames({Icon(kRed), Icon(kLime, 4), Icon(kBlue)}), Chunk("junk", Text("x"))});
  TAnimatedCursorImage ani;
  Load(ani, file);
  ASSERT_EQ(ani.FrameCount(), 3);
  EXPECT_EQ(ani.Title(), "Spinner");
  EXPECT_EQ(ani.Author(), "Someone");
  EXPECT_EQ(ani.MaxColors(), 16);
  EXPECT_EQ(ani.AniHeader().HeaderSize, 36);
  EXPECT_EQ(ani.AniHeader().FrameCount, 3);
  EXPECT_EQ(ani.AniHeader().StepCount, 3);
  EXPECT_EQ(ani.AniHeader().DisplayRate, 7);
  const TColor colours[] = {kRed, kLime, kBlue};
  for (int i = 0; i < 3; ++i) {
    TIconFrame& f = ani.FrameAt(i);
    EXPECT_EQ(f.Sequence, i);
    EXPECT_EQ(f.Rate, 7);
    EXPECT_TRUE(f.FromIconFile);
    EXPECT_EQ(f.Hotspot, (tk::TPoint{16, 16}));  // an icon's hotspot is its centre
    EXPECT_TRUE(f.ChunkHead.Is("icon"));
    EXPECT_EQ(ColourAt(ani.FramePicture(i)), colours[i]);
  }
  EXPECT_EQ(ani.FrameAt(1).ChunkHead.Size, Icon(kLime, 4).size());
  EXPECT_THROW(ani.FrameAt(3), tk::EListError);

  // A stream at its end leaves the cursor as it was.
  tk::TMemoryStream atEnd(file);
  atEnd.Seek(0, tk::SeekOrigin::End);
  ani.LoadStream(atEnd);
  EXPECT_EQ(ani.FrameCount(), 3);
  tk::TMemoryStream empty;
  ani.LoadStream(empty);
  EXPECT_EQ(ani.Title(), "Spinner");

  // A stream that is no animated cursor fails before anything is cleared.
  for (const Bytes& bad : {Text("RIFF"), Chunk("RIFX", Text("ACON")), Chunk("RIFF", Text("AVI ")), Chunk("RIFF", Text("AC"))}) {
    tk::TMemoryStream stream(bad);
    try {
      ani.LoadStream(stream);
      ADD_FAILURE() << "loaded";
    } catch (const tk::EReadError& e) {
      EXPECT_STREQ(e.what(), "Stream read error");
    }
    EXPECT_EQ(ani.FrameCount(), 3);
  }
}

TEST(Reading, IconsMatchFramesBySequence) {
  // Four icons and a header of two frames: two more frames for the icons nobody asked for.
  TAnimatedCursorImage ani;
  Load(ani, Ani({Anih(2, 2, 5), Frames({Icon(kRed), Icon(kLime), Icon(kBlue), Icon(kYellow)})}));
  ASSERT_EQ(ani.FrameCount(), 4);
  const int sequences[] = {0, 1, -1, -1};
  const TColor colours[] = {kRed, kLime, kBlue, kYellow};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ani.FrameAt(i).Sequence, sequences[i]);
    EXPECT_EQ(ani.FrameAt(i).Rate, 5);
    EXPECT_EQ(ColourAt(ani.FramePicture(i)), colours[i]);
  }
  EXPECT_EQ(ani.AniHeader().StepCount, 4);

  // Three frames and two icons: the frame without a picture goes, and the steps follow.
  Load(ani, Ani({Anih(3, 3, 5), Frames({Icon(kRed), Icon(kLime)})}));
  EXPECT_EQ(ani.FrameCount(), 2);
  EXPECT_EQ(ani.AniHeader().StepCount, 2);
  EXPECT_EQ(ani.AniHeader().FrameCount, 3);

  // The frames before a second "fram" list carry on counting icons.
  Load(ani, Ani({Anih(2, 2, 5), Frames({Icon(kRed)}), Frames({Icon(kLime)})}));
  ASSERT_EQ(ani.FrameCount(), 2);
  EXPECT_EQ(ColourAt(ani.FramePicture(1)), kLime);
}

TEST(Reading, RatesAndSequencesGoToFramesInTurn) {
  TAnimatedCursorImage ani;
  // Every value of one chunk, one value a frame; values beyond the frames are dropped. The
  // sequence, before the icons, decides which icon each frame shows; two frames may share one.
  Load(ani, Ani({Anih(3, 5, 9, AF_ICON | AF_SEQUENCE), Chunk("rate", Int32s({1, 2, 3, 4, 5})),
                 Chunk("seq ", Int32s({2, 0, 2, 1, 0})), Frames({Icon(kRed), Icon(kLime), Icon(kBlue)})}));
  ASSERT_EQ(ani.FrameCount(), 4);
  const int rates[] = {1, 2, 3, 9};
  const int sequences[] = {2, 0, 2, -1};
  const TColor colours[] = {kBlue, kRed, kBlue, kLime};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ani.FrameAt(i).Rate, rates[i]) << i;
    EXPECT_EQ(ani.FrameAt(i).Sequence, sequences[i]) << i;
    EXPECT_EQ(ColourAt(ani.FramePicture(i)), colours[i]) << i;
  }
  EXPECT_NE(ani.FramePicture(0), ani.FramePicture(2));  // each frame owns its picture

  // Several chunks of one value each continue where the last one stopped; a sequence after the
  // icons only renumbers the frames.
  Load(ani, Ani({Anih(2, 2, 9), Chunk("rate", Int32s({4})), Frames({Icon(kRed), Icon(kLime)}),
                 Chunk("rate", Int32s({6})), Chunk("seq ", Int32s({1, 0}))}));
  ASSERT_EQ(ani.FrameCount(), 2);
  EXPECT_EQ(ani.FrameAt(0).Rate, 4);
  EXPECT_EQ(ani.FrameAt(1).Rate, 6);
  EXPECT_EQ(ani.FrameAt(0).Sequence, 1);
  EXPECT_EQ(ColourAt(ani.FramePicture(0)), kRed);

  // Values before the header reach no frame; a truncated chunk ends the reading.
  Load(ani, Ani({Chunk("rate", Int32s({4})), Anih(1, 1, 9), Frames({Icon(kRed)}), ChunkSized("rate", 400, Int32s({1}))}));
  EXPECT_EQ(ani.FrameAt(0).Rate, 9);
}

TEST(Reading, CursorFilesAndHotspots) {
  // A cursor file: its last directory entry's hotspot, loaded as an icon.
  Bytes cur = IconFile({Image{16, 1, kRed, 3, 4}, Image{32, 8, kLime, 7, 9}}, 2);
  TAnimatedCursorImage ani;
  Load(ani, Ani({Anih(2, 2, 1), Frames({cur, IconFile({Image{16, 4, kBlue}, Image{48, 1, kRed}})})}));
  ASSERT_EQ(ani.FrameCount(), 2);
  EXPECT_FALSE(ani.FrameAt(0).FromIconFile);
  EXPECT_EQ(ani.FrameAt(0).Hotspot, (tk::TPoint{7, 9}));
  EXPECT_FALSE(ani.FramePicture(0)->IsCursor());
  EXPECT_EQ(ani.FramePicture(0)->Width(), 32);
  EXPECT_EQ(ani.MaxColors(), 256);
  // An icon file: the centre of the image the toolkit chose (48 is nearer 32 than 16 is not).
  EXPECT_TRUE(ani.FrameAt(1).FromIconFile);
  EXPECT_EQ(ani.FramePicture(1)->Width(), 16);
  EXPECT_EQ(ani.FrameAt(1).Hotspot, (tk::TPoint{8, 8}));
}

TEST(Reading, TextsAndOddSizes) {
  std::string long300(300, 'x');
  long300[0] = 'T';
  TAnimatedCursorImage ani;
  Load(ani, Ani({List("INFO", {Chunk("INAM", Text(long300)), Chunk("IART", Text("odd"))}), Anih(1, 1, 1),
                 Chunk("pad ", Text("12345")), Frames({Icon(kRed)})}));
  EXPECT_EQ(ani.Title(), "T" + std::string(254, 'x'));  // 255 bytes and a zero
  EXPECT_EQ(ani.Author(), "odd");
  EXPECT_EQ(ani.FrameCount(), 1);  // read from the even offset after "pad"

  // A text longer than its list ends the list; its data is read as top-level chunks.
  Bytes info = Text("INFO");
  Append(info, ChunkSized("INAM", 16, {}));
  Load(ani, Ani({ChunkSized("LIST", 12, info), Chunk("skip", Text("12345678")), Anih(1, 1, 1), Frames({Icon(kRed)})}));
  EXPECT_EQ(ani.Title(), "");
  EXPECT_EQ(ani.FrameCount(), 1);
}

TEST(Reading, DamagedFilesFailOrStopCleanly) {
  EXPECT_EQ(ReadErrorOf(Ani({Anih(1, 1, 1, 0), Frames({Icon(kRed)})})), "Stream read error");  // bit 0 clear
  EXPECT_EQ(ReadErrorOf(Ani({Anih(1, 0, 1), Frames({Icon(kRed)})})), "Stream read error");     // no steps
  EXPECT_EQ(ReadErrorOf(Ani({Anih(1, 1, 1)})), "Stream read error");                           // no pictures
  // An icon chunk running past the end, also by a size of 2^31 or more.
  EXPECT_EQ(ReadErrorOf(Ani({Anih(1, 1, 1), List("fram", {ChunkSized("icon", 5000, Icon(kRed))})})), "Stream read error");
  EXPECT_EQ(ReadErrorOf(Ani({Anih(1, 1, 1), List("fram", {ChunkSized("icon", 0x80000000, Icon(kRed))})})),
            "Stream read error");

  TAnimatedCursorImage ani;
  // An icon chunk that holds no icon ends the list: the icons after it are skipped at the top
  // level, and their frames go.
  Load(ani, Ani({Anih(3, 3, 1), Frames({Icon(kRed), Text("not an icon"), Icon(kLime)})}));
  EXPECT_EQ(ani.FrameCount(), 1);
  Bytes noImage = Icon(kLime);
  noImage[18] = 0xFF;  // the image's offset points outside the file
  Load(ani, Ani({Anih(2, 2, 1), Frames({Icon(kRed), noImage})}));
  EXPECT_EQ(ani.FrameCount(), 1);
  EXPECT_EQ(ani.MaxColors(), 2);

  // A header longer than 36 bytes keeps its first 36; the next chunk is read where it begins.
  Bytes anih40 = Int32s({36, 1, 1, 0, 0, 0, 0, 3, AF_ICON, 77});
  Load(ani, Ani({Chunk("anih", anih40), Frames({Icon(kRed)})}));
  EXPECT_EQ(ani.FrameCount(), 1);
  EXPECT_EQ(ani.FrameAt(0).Rate, 3);

  // Sizes of 2^31 or more run past the end: an unknown chunk ends the reading, a list is read
  // to the end of the data.
  Load(ani, Ani({Anih(1, 1, 1), Frames({Icon(kRed)}), ChunkSized("junk", 0xFFFFFFF0, {}), Frames({Icon(kLime)})}));
  EXPECT_EQ(ani.FrameCount(), 1);
  Bytes bigList = Text("fram");
  Append(bigList, Chunk("icon", Icon(kRed)));
  Append(bigList, Chunk("icon", Icon(kLime)));
  Load(ani, Ani({Anih(2, 2, 1), ChunkSized("LIST", 0x80000001, bigList)}));
  EXPECT_EQ(ani.FrameCount(), 2);
  // A list too short for its type ends where its size says.
  Load(ani, Ani({ChunkSized("LIST", 0, {}), Anih(1, 1, 1), Frames({Icon(kRed)})}));
  EXPECT_EQ(ani.FrameCount(), 1);

  // A header of 2^31 - 1 frames makes no more frames than the data could give pictures.
  const auto start = std::chrono::steady_clock::now();
  Load(ani, Ani({Anih(0x7FFFFFFF, 1, 1), Frames({Icon(kRed), Icon(kLime)})}));
  EXPECT_EQ(ani.FrameCount(), 2);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  // Frames that all show one icon each own a copy; copies beyond the memory allowed for
  // pictures fail the load instead of taking gigabytes.
  const std::size_t copies = TAnimatedCursorImage::kMaxPictureBytes / TAnimatedCursorImage::kPictureUpkeep + 1;
  const Bytes tiny = Icon(kRed, 1, 1);
  EXPECT_EQ(ReadErrorOf(Ani({Anih(0x7FFFFFFF, 1, 1), Chunk("seq ", Int32s(std::vector<std::int32_t>(copies, 0))),
                             Frames({tiny})})),
            "Stream read error");
  Load(ani, Ani({Anih(0x7FFFFFFF, 1, 1), Chunk("seq ", Int32s(std::vector<std::int32_t>(1000, 0))), Frames({tiny})}));
  EXPECT_EQ(ani.FrameCount(), 1000);

  // Image data shorter than its bit count, or partly outside the file, counts no colours.
  Bytes shortImage = IconFile({Image{32, 8, kRed}});
  shortImage[14] = 10;  // image size 10
  shortImage[15] = 0;
  Bytes outside = IconFile({Image{32, 8, kRed}});
  outside[18] = static_cast<std::uint8_t>(outside.size() - 10);  // offset: 10 bytes before the end
  outside[19] = static_cast<std::uint8_t>((outside.size() - 10) >> 8);
  Load(ani, Ani({Anih(3, 3, 1), Frames({Icon(kRed), shortImage, outside})}));
  EXPECT_EQ(ani.MaxColors(), 2);
}

TEST(Reading, EveryPrefixOfAFileFailsOrLoads) {
  const Bytes file = Ani({List("INFO", {Chunk("INAM", Text("abc"))}), Anih(2, 2, 4), Chunk("rate", Int32s({1, 2})),
                          Frames({Icon(kRed), IconFile({Image{16, 4, kLime, 1, 2}}, 2)})});
  for (std::size_t n = 0; n <= file.size(); ++n) {
    Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
    TAnimatedCursorImage ani;
    try {
      Load(ani, prefix);
    } catch (const tk::EReadError&) {
      continue;
    }
    EXPECT_GE(ani.FrameCount(), n == 0 ? 0 : 1) << n;
  }
}

TEST(Reading, FilesAndSaving) {
  const auto dir = testpaths::ScratchDir("cursor_files");
  TAnimatedCursorImage ani;
  const Bytes good = Ani({Anih(1, 1, 1), Frames({Icon(kRed)})});
  tk::WriteWholeFile((dir / "good.ani").string(), good);
  ani.ReadCursorFile((dir / "good.ani").string());
  EXPECT_EQ(ani.FrameCount(), 1);

  // A file that fails to load leaves the cursor empty.
  tk::WriteWholeFile((dir / "bad.ani").string(), Ani({List("INFO", {Chunk("INAM", Text("t"))}), Anih(1, 1, 1)}));
  EXPECT_THROW(ani.ReadCursorFile((dir / "bad.ani").string()), tk::EReadError);
  EXPECT_EQ(ani.Title(), "");
  EXPECT_EQ(ani.FrameCount(), 0);
  EXPECT_THROW(ani.ReadCursorFile((dir / "missing.ani").string()), tk::EFOpenError);

  // Saving is not supported: an information box, a silent abort and nothing written.
  Load(ani, good);
  std::vector<std::string> boxes;
  auto previous = tk::SetMessageBoxHandler([&](const std::string& text, const std::string& caption, unsigned flags) {
    boxes.push_back(caption + ": " + text + " " + std::to_string(flags));
    return tk::IDOK;
  });
  tk::Screen().SetCursor(5);
  tk::TMemoryStream out;
  EXPECT_THROW(ani.SaveStream(out), tk::EAbort);
  tk::SetMessageBoxHandler(previous);
  EXPECT_EQ(boxes, std::vector<std::string>{"Information: Function not yet implemented 64"});
  EXPECT_EQ(tk::Screen().Cursor(), tk::crDefault);
  EXPECT_EQ(out.Size(), 0);
}

// ---- Copying and handing over -----------------------------------------------------------------

TEST(Copying, CursorsAndFrames) {
  TAnimatedCursorImage source;
  Load(source, Ani({List("INFO", {Chunk("INAM", Text("a")), Chunk("IART", Text("b"))}), Anih(2, 2, 8),
                    Chunk("rate", Int32s({3, 4})), Frames({Icon(kRed, 4), IconFile({Image{32, 1, kLime, 5, 6}}, 2)})}));
  TAnimatedCursorImage copy;
  copy.TakeFrom(&source);
  ASSERT_EQ(copy.FrameCount(), 2);
  EXPECT_EQ(copy.Title(), "a");
  EXPECT_EQ(copy.Author(), "b");
  EXPECT_EQ(copy.MaxColors(), 16);
  EXPECT_EQ(copy.AniHeader().DisplayRate, 8);
  for (int i = 0; i < 2; ++i) {
    const TIconFrame &a = source.FrameAt(i), &b = copy.FrameAt(i);
    EXPECT_EQ(b.Sequence, a.Sequence);
    EXPECT_EQ(b.Rate, a.Rate);
    EXPECT_EQ(b.Hotspot, a.Hotspot);
    EXPECT_EQ(b.FromIconFile, a.FromIconFile);
    EXPECT_EQ(b.ChunkHead.Size, a.ChunkHead.Size);
    EXPECT_NE(b.Picture.get(), a.Picture.get());
    EXPECT_EQ(ColourAt(b.Picture.get()), ColourAt(a.Picture.get()));
  }
  EXPECT_EQ(copy.FrameAt(1).Hotspot, (tk::TPoint{5, 6}));

  copy.TakeFrom(&copy);  // a copy of itself changes nothing
  EXPECT_EQ(copy.FrameCount(), 2);
  copy.TakeFrom(nullptr);
  EXPECT_EQ(copy.FrameCount(), 0);
  EXPECT_EQ(copy.Title(), "");
  EXPECT_EQ(copy.AniHeader().DisplayRate, 0);

  tk::TBitmap bitmap;
  try {
    copy.TakeFrom(&bitmap);
    ADD_FAILURE();
  } catch (const tk::EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TBitmap to a TAnimatedCursorImage");
  }
  TIconFrame frame(0, 0);
  try {
    source.GiveTo(&frame);
    ADD_FAILURE();
  } catch (const tk::EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TAnimatedCursorImage to a TIconFrame");
  }
  frame.TakeFrom(&source.FrameAt(1));
  EXPECT_EQ(frame.Sequence, 1);
  EXPECT_EQ(ColourAt(frame.Picture.get()), kLime);
}

TEST(Copying, ToIconsAndIconLists) {
  TAnimatedCursorImage ani;
  Load(ani, Ani({Anih(2, 2, 1), Frames({Icon(kRed), Icon(kBlue)})}));
  tk::TIcon icon;
  ani.GiveTo(&icon);
  EXPECT_EQ(ColourAt(&icon), kRed);
  icon.TakeFrom(&ani);  // the icon asks the cursor to hand itself over
  EXPECT_EQ(ColourAt(&icon), kRed);
  TAnimatedCursorImage().GiveTo(&icon);
  EXPECT_TRUE(icon.IsEmpty());

  TIconList list;
  int changes = 0;
  list.OnChange = [&](TIconList*) { ++changes; };
  list.Add(&icon);
  EXPECT_EQ(changes, 1);
  ani.GiveTo(&list);
  EXPECT_EQ(changes, 2);  // once, at the end of the update
  EXPECT_EQ(list.UpdateCount(), 0);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(ColourAt(&list[1]), kBlue);

  InitializeCursor();
  const tk::TClipboardFormat format = IconListClipboardFormat();
  EXPECT_GE(format, tk::kFirstRegisteredFormat);
  EXPECT_EQ(tk::GetClipboardFormatNameA(format), "Protractor Icon List");
  InitializeCursor();
  EXPECT_EQ(IconListClipboardFormat(), format);
}

TEST(Copying, ToBitmapStrips) {
  // The top-left pixel of each icon is transparent: the strip's background shows there.
  auto hole = [](int x, int y) { return x == 0 && y == 0; };
  const Bytes red = IconFile({Image{32, 1, kRed, 0, 0, hole}});
  TAnimatedCursorImage ani;
  Load(ani, Ani({Anih(3, 3, 1), Frames({red, Icon(kLime, 4), Icon(kBlue)})}));
  tk::TBitmap bitmap;
  bitmap.Canvas().Brush().Color = kYellow;
  ani.GiveTo(&bitmap);
  EXPECT_EQ(bitmap.Width(), 96);
  EXPECT_EQ(bitmap.Height(), 32);
  EXPECT_EQ(bitmap.PixelFormat(), tk::pf4bit);  // no image had 256 colours
  EXPECT_EQ(bitmap.Canvas().Pixels(0, 0), kYellow);
  EXPECT_EQ(bitmap.Canvas().Pixels(5, 5), kRed);
  EXPECT_EQ(bitmap.Canvas().Pixels(37, 31), kLime);
  EXPECT_EQ(bitmap.Canvas().Pixels(95, 20), kBlue);

  // With an 8-bit image: 256 colours. Vertical and unreduced: the frames one below the other.
  Load(ani, Ani({Anih(3, 3, 1), Frames({red, Icon(kLime, 8), Icon(kBlue)})}));
  ani.GiveTo(&bitmap);
  EXPECT_EQ(bitmap.PixelFormat(), tk::pf8bit);
  EXPECT_EQ(bitmap.Canvas().Pixels(40, 3), kLime);
  ani.DrawStrip(bitmap, 0x123456, false, true);
  EXPECT_EQ(bitmap.Width(), 32);
  EXPECT_EQ(bitmap.Height(), 96);
  EXPECT_NE(bitmap.PixelFormat(), tk::pf8bit);
  EXPECT_EQ(bitmap.Canvas().Pixels(0, 0), 0x123456u);
  EXPECT_EQ(bitmap.Canvas().Pixels(3, 70), kBlue);

  // A larger later picture is drawn at its own width's step, as far as it fits.
  Load(ani, Ani({Anih(2, 2, 1), Frames({Icon(kRed, 1, 16), Icon(kLime, 1, 32)})}));
  ani.DrawStrip(bitmap, kYellow, false, false);
  EXPECT_EQ(bitmap.Width(), 32);
  EXPECT_EQ(bitmap.Canvas().Pixels(20, 5), kYellow);

  TAnimatedCursorImage().GiveTo(&bitmap);
  EXPECT_TRUE(bitmap.IsEmpty());
}

// ---- Real files -------------------------------------------------------------------------------

const fs::path kWx = "/usr/share/doc/wx3.2-examples/examples/samples";
const fs::path kPixbuf = "/usr/libexec/installed-tests/gdk-pixbuf";

#define REQUIRE_FILE(path) \
  if (!fs::exists(path)) GTEST_SKIP() << path << " is missing (scripts/deps.sh installs it)"

TEST(RealFiles, AnimatedCursors) {
  REQUIRE_FILE(kWx / "animate/hourglass.ani");
  TAnimatedCursorImage ani;
  ani.ReadCursorFile((kWx / "animate/hourglass.ani").string());
  EXPECT_EQ(ani.Title(), "3D Rendered Rotating Hourglass\r\nv.1.09");
  EXPECT_EQ(ani.Author(), "(c)1997 Mitch Fishman\r\nmitch@tmbg.org");
  ASSERT_EQ(ani.FrameCount(), 20);
  EXPECT_EQ(ani.MaxColors(), 256);
  EXPECT_EQ(ani.AniHeader().DisplayRate, 10);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(ani.FrameAt(i).Rate, i == 0 ? 24 : 4) << i;  // every value of the "rate" chunk
    EXPECT_EQ(ani.FrameAt(i).Hotspot, (tk::TPoint{16, 15}));
    EXPECT_FALSE(ani.FrameAt(i).FromIconFile);
    EXPECT_EQ(ani.FramePicture(i)->Width(), 32);
  }
  tk::TBitmap strip;
  ani.GiveTo(&strip);
  EXPECT_EQ(strip.Width(), 640);
  EXPECT_EQ(strip.PixelFormat(), tk::pf8bit);

  REQUIRE_FILE(kWx / "image/horse3.ani");
  ani.ReadCursorFile((kWx / "image/horse3.ani").string());
  ASSERT_EQ(ani.FrameCount(), 4);
  EXPECT_EQ(ani.FrameAt(0).Rate, 10);
  EXPECT_EQ(ani.FrameAt(3).Rate, 9);
  EXPECT_EQ(ani.FrameAt(3).Hotspot, (tk::TPoint{16, 23}));

  REQUIRE_FILE(kPixbuf / "test-animation.ani");
  ani.ReadCursorFile((kPixbuf / "test-animation.ani").string());
  EXPECT_EQ(ani.FrameCount(), 18);
  EXPECT_EQ(ani.FrameAt(17).Rate, 2);
}

TEST(RealFiles, IconAndCursorFilesInsideBuiltCursors) {
  const fs::path files[] = {kWx / "image/horse.cur", kWx / "image/horse.ico", kPixbuf / "test-images/reftests/bug785447.ico",
                            kPixbuf / "test-images/reftests/squares.ico"};
  std::vector<Bytes> contents;
  for (const fs::path& f : files) {
    REQUIRE_FILE(f);
    contents.push_back(tk::ReadWholeFile(f.string()));
  }
  TAnimatedCursorImage ani;
  Load(ani, Ani({Anih(4, 4, 6), Frames(contents)}));
  ASSERT_EQ(ani.FrameCount(), 4);
  EXPECT_EQ(ani.MaxColors(), 256);  // the modern icon, which starts its 256 x 256 image as PNG, has 8-bit ones
  EXPECT_FALSE(ani.FrameAt(0).FromIconFile);
  EXPECT_EQ(ani.FrameAt(0).Hotspot, (tk::TPoint{16, 23}));
  EXPECT_EQ(ani.FrameAt(1).Hotspot, (tk::TPoint{16, 16}));
  EXPECT_EQ(ani.FrameAt(2).Hotspot, (tk::TPoint{16, 16}));
  EXPECT_EQ(ani.FrameAt(3).Hotspot, (tk::TPoint{50, 50}));
  // Each frame looks as the file does when the toolkit loads it directly.
  for (int i = 0; i < 4; ++i) {
    tk::TIcon direct;
    direct.LoadFromFile(files[i].string());
    for (int y = 0; y < direct.Height(); y += 3)
      for (int x = 0; x < direct.Width(); x += 3)
        ASSERT_EQ(ColourAt(ani.FramePicture(i), x, y), ColourAt(&direct, x, y)) << i << " " << x << "," << y;
  }
  // The same files as their only images: an icon file of 16 colours gives a 4-bit strip.
  Load(ani, Ani({Anih(2, 2, 6), Frames({contents[0], contents[1]})}));
  EXPECT_EQ(ani.MaxColors(), 16);
}

// ---- gifkit ani -------------------------------------------------------------------------------

std::pair<int, std::string> Gifkit(const std::string& args) {
  testpaths::CommandResult result = testpaths::RunCommand(testpaths::Program("gifkit") + " ani " + args);
  return {result.status, result.output};
}

TEST(GifkitAni, PrintsHeaderTextsAndFrames) {
  const auto dir = testpaths::ScratchDir("gifkit_ani");
  const std::string file = (dir / "a.ani").string();
  tk::WriteWholeFile(file, Ani({List("INFO", {Chunk("INAM", Text("Two\r\n"))}), Anih(2, 2, 5), Chunk("rate", Int32s({7})),
                                Frames({Icon(kRed), IconFile({Image{16, 4, kLime, 3, 4}}, 2)})}));
  auto [status, output] = Gifkit(file);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output,
            "header: size 36, frames 2, steps 2, 0 x 0, 0 bits, 0 planes, rate 5, flags 0x1\n"
            "title: Two\\r\\n\n"
            "author: \n"
            "max colours: 16\n"
            "frames: 2\n"
            "  0: sequence 0, rate 7, hotspot 16,16, 32 x 32, icon file\n"
            "  1: sequence 1, rate 5, hotspot 3,4, 16 x 16, cursor file\n");
  tk::WriteWholeFile(file, Ani({Anih(2, 2, 5)}));
  EXPECT_EQ(Gifkit(file), (std::pair<int, std::string>{1, "gifkit: Stream read error\ngifkit: no frame with a picture\n"}));
  EXPECT_EQ(Gifkit("").first, 2);
}

}  // namespace
}  // namespace cursor
