// Pictures read from a stream that their frames keep the LZW data in (ReadGIFStreamed, gifkit's
// way): the same frames, pixels, damage, failures and written GIFs as a picture that holds its
// bytes, on the corpus, on files cut at every byte and on data that crosses the read buffers;
// a file cut or changed after reading fails or decodes within its bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/test_paths.h"
#include "gif/gif.h"
#include "gif/reader.h"
#include "gif_builder.h"
#include "toolkit/core/streams.h"

using namespace giftest;

namespace {

// Runs work; the message and reason of its failure, or an empty text.
template <class Work>
std::string FailureOf(Work work) {
  try {
    work();
  } catch (const tk::Exception& e) {
    return e.Message() + " | " + e.ReasonText();
  }
  return "";
}

// What one frame gives: its fields as read, then CheckData's and WriteDIB's results.
struct FrameOutcome {
  std::string fields;
  std::string checked;  // "damaged", "intact" or the failure
  std::string failure;  // of WriteDIB
  Bytes image;          // the bitmap file image WriteDIB wrote
  bool damaged = false;
  bool operator==(const FrameOutcome&) const = default;
};

// What reading a GIF gives: the failure of the reading, every frame, and the GIF written back.
struct Outcome {
  std::string failure;
  std::vector<FrameOutcome> frames;
  std::string comments;
  Bytes written;
  std::string writeFailure;
};

// Reads a picture with read, then examines each frame and writes the picture back.
template <class Reading>
Outcome Examine(bool tolerate, Reading read) {
  Outcome outcome;
  gif::TGIFImage picture;
  picture.Options.TolerateDamage = tolerate;
  outcome.failure = FailureOf([&] { read(picture); });
  for (const std::string& line : picture.ScreenData->CommentLines) outcome.comments += line + "/";
  for (int i = 0; i < picture.FrameCount(); ++i) {
    gif::TGIFFrame& frame = picture.FrameAt(i);
    const gif::TGIFItem& item = *frame.Encoded;
    FrameOutcome f;
    f.fields = std::to_string(item.ItemWidth) + "x" + std::to_string(item.ItemHeight) + " at " +
               std::to_string(frame.LeftPos) + "," + std::to_string(frame.TopPos) + " depth " +
               std::to_string(item.BitDepth) + (frame.IsInterlaced ? " interlaced" : "") +
               (frame.DataDamaged ? " damaged" : "") + " delay " + std::to_string(frame.DelayMs);
    f.checked = FailureOf([&] { frame.CheckData(); });
    if (f.checked.empty()) f.checked = frame.DataDamaged ? "damaged" : "intact";
    tk::TMemoryStream image;
    f.failure = FailureOf([&] { frame.WriteDIB(image); });
    f.image.assign(image.Bytes().begin(), image.Bytes().end());
    f.damaged = frame.DataDamaged;
    outcome.frames.push_back(std::move(f));
  }
  if (picture.FrameCount() > 0) {
    tk::TMemoryStream out;
    outcome.writeFailure = FailureOf([&] { picture.SaveStream(out); });
    outcome.written.assign(out.Bytes().begin(), out.Bytes().end());
  }
  return outcome;
}

// The GIF in the stream from its position on, read the ordinary way or streamed.
Outcome InMemory(bool tolerate, tk::TStream& stream) {
  return Examine(tolerate, [&](gif::TGIFImage& p) { p.ReadGIF(stream.Remaining(), stream, false); });
}
Outcome Streamed(bool tolerate, std::shared_ptr<tk::TStream> stream) {
  return Examine(tolerate, [&](gif::TGIFImage& p) { p.ReadGIFStreamed(stream); });
}

void ExpectSame(const Outcome& streamed, const Outcome& memory) {
  EXPECT_EQ(streamed.failure, memory.failure);
  EXPECT_EQ(streamed.comments, memory.comments);
  ASSERT_EQ(streamed.frames.size(), memory.frames.size());
  for (std::size_t i = 0; i < memory.frames.size(); ++i) {
    const FrameOutcome& s = streamed.frames[i];
    const FrameOutcome& m = memory.frames[i];
    EXPECT_EQ(s.fields, m.fields) << "frame " << i;
    EXPECT_EQ(s.checked, m.checked) << "frame " << i;
    EXPECT_EQ(s.failure, m.failure) << "frame " << i;
    EXPECT_EQ(s.damaged, m.damaged) << "frame " << i;
    EXPECT_TRUE(s.image == m.image) << "frame " << i << ": bitmap files differ";
  }
  EXPECT_EQ(streamed.writeFailure, memory.writeFailure);
  EXPECT_TRUE(streamed.written == memory.written) << "the GIFs written differ";
}

// The image data (code size byte and chain) re-cut into sub-blocks of blockSize bytes.
Bytes Rechunked(const Bytes& data, std::size_t blockSize) {
  Bytes codes;
  for (std::size_t at = 1; at < data.size() && data[at] != 0; at += 1u + data[at])
    codes.insert(codes.end(), data.begin() + static_cast<std::ptrdiff_t>(at + 1),
                 data.begin() + static_cast<std::ptrdiff_t>(at + 1 + data[at]));
  Bytes b{data[0]};
  return b << SubBlocks(codes, blockSize);
}

// A GIF whose parts cross the 64 KiB read buffers: a comment of 100 KiB, then frames of
// 300 x 200 pixels of noise (about 90 KiB of codes each) in sub-blocks of 255, 97 and 1 bytes.
Bytes LongGif(std::vector<std::uint8_t>& pixels) {
  std::mt19937 random(7);
  pixels.resize(300 * 200);
  for (auto& p : pixels) p = static_cast<std::uint8_t>(random());
  Bytes comment;
  for (int i = 0; i < 200; ++i) comment.push_back(static_cast<std::uint8_t>(i * 7));
  Bytes b = Screen(300, 200, 0xF7);
  b << Table(256) << Comment({comment, comment, Bytes(255, 'c')});
  for (int i = 0; i < 300; ++i) b << Comment({Bytes(255, static_cast<std::uint8_t>(i))});
  const Bytes data = LiteralData(8, pixels);
  for (std::size_t blockSize : {255, 97, 1}) b << Descriptor(0, 0, 300, 200) << Rechunked(data, blockSize);
  b.push_back(0x3B);
  return b;
}

// A file cut while it is read: its size stays what it was, but reads stop at the cut.
class CutWhileRead : public tk::TMemoryStream {
 public:
  CutWhileRead(const giftest::Bytes& bytes, std::int64_t cut) : TMemoryStream(bytes), cut_(cut) {}
  std::size_t Read(void* buffer, std::size_t count) override {
    const std::int64_t left = std::max<std::int64_t>(cut_ - Position(), 0);
    return TMemoryStream::Read(buffer, std::min<std::size_t>(count, static_cast<std::size_t>(left)));
  }

 private:
  std::int64_t cut_;
};

// LongGif read streamed from a memory stream, which a test may cut or change.
struct StreamedLongGif {
  StreamedLongGif() : bytes(LongGif(pixels)), stream(std::make_shared<tk::TMemoryStream>(bytes)) {
    picture.ReadGIFStreamed(stream);
  }
  // Whether the frame's bitmap file shows the GIF's pixels.
  bool ShowsThePixels(gif::TGIFFrame& frame) const {
    tk::TMemoryStream image;
    frame.WriteDIB(image);
    return DibIndices(image.Bytes()) == std::vector<unsigned>(pixels.begin(), pixels.end());
  }

  std::vector<std::uint8_t> pixels;
  Bytes bytes;
  std::shared_ptr<tk::TMemoryStream> stream;
  gif::TGIFImage picture;
};

TEST(ReadStreamed, CorpusFilesAsWhenTheirBytesAreHeld) {
  REQUIRE_CORPUS();
  int files = 0, frames = 0;
  for (const auto& path : testpaths::CorpusGifs(testpaths::CorpusDir())) {
    SCOPED_TRACE(path.string());
    const Bytes bytes = tk::ReadWholeFile(path.string());
    for (bool tolerate : {true, false}) {
      tk::TReadOnlyMemoryStream held(bytes);
      const Outcome memory = InMemory(tolerate, held);
      const Outcome streamed =
          Streamed(tolerate, std::make_shared<tk::TFileStream>(path.string(), tk::FileMode::OpenRead));
      ExpectSame(streamed, memory);
      frames += static_cast<int>(memory.frames.size());
    }
    ++files;
  }
  EXPECT_GT(files, 400);
  std::printf("%d files, %d frames\n", files, frames);
}

TEST(ReadStreamed, FilesCutAtEveryByteAsWhenTheirBytesAreHeld) {
  // Two frames (a local table, interlacing, extensions before them) and a trailing comment,
  // behind bytes of something else: the stream's position, not 0, is where the GIF begins.
  Bytes gif = Screen(5, 4, 0x81);
  gif << Table(4) << Application("NETSCAPE2.0", {{1, 3, 0}}) << GraphicControl(0x05, 7, 2)
      << Comment({{'a', 'b'}}) << Descriptor(0, 0, 5, 4, 0x40 | 0x80 | 2) << Table(8)
      << LiteralData(3, {1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4})
      << Descriptor(1, 1, 3, 2) << LiteralData(2, {3, 2, 1, 0, 1, 2}) << Comment({{'z'}});
  gif.push_back(0x3B);
  const Bytes prefix{'j', 'u', 'n', 'k'};
  for (std::size_t size = 0; size <= gif.size(); ++size) {
    SCOPED_TRACE("cut to " + std::to_string(size) + " bytes");
    Bytes bytes = prefix;
    bytes << Slice(gif, 0, size);
    for (bool tolerate : {true, false}) {
      tk::TMemoryStream held(bytes);
      held.SetPosition(4);
      const auto stream = std::make_shared<tk::TMemoryStream>(bytes);
      stream->SetPosition(4);
      ExpectSame(Streamed(tolerate, stream), InMemory(tolerate, held));
    }
  }
}

TEST(ReadStreamed, DataAcrossTheReadBuffersDecodesAsInMemory) {
  std::vector<std::uint8_t> pixels;
  const Bytes bytes = LongGif(pixels);
  ASSERT_GT(bytes.size(), 4u * gif::GifBuffer::kWindowBytes);
  tk::TReadOnlyMemoryStream held(bytes);
  const Outcome memory = InMemory(false, held);
  const Outcome streamed = Streamed(false, std::make_shared<tk::TMemoryStream>(bytes));
  ExpectSame(streamed, memory);
  ASSERT_EQ(streamed.frames.size(), 3u);
  for (const FrameOutcome& frame : streamed.frames) {
    EXPECT_EQ(frame.failure, "");
    EXPECT_TRUE(DibIndices(frame.image) == std::vector<unsigned>(pixels.begin(), pixels.end()));
  }
}

TEST(ReadStreamed, AFileCutWhileItIsParsedFailsNamingTheOffset) {
  std::vector<std::uint8_t> pixels;
  const Bytes bytes = LongGif(pixels);
  for (std::int64_t cut : {std::int64_t{10}, std::int64_t{100000}, static_cast<std::int64_t>(bytes.size()) - 1}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    gif::TGIFImage picture;
    try {
      picture.ReadGIFStreamed(std::make_shared<CutWhileRead>(bytes, cut));
      ADD_FAILURE() << "no failure";
    } catch (const tk::EReadError& e) {
      // The window that reaches over the cut: at most 64 KiB from an offset before it.
      EXPECT_EQ(e.Message(), "Stream read error");
      const std::string& reason = e.ReasonText();
      const std::size_t at = reason.find(" bytes at offset ");
      ASSERT_EQ(reason.rfind("fewer than ", 0), 0u) << reason;
      ASSERT_NE(at, std::string::npos) << reason;
      const std::int64_t count = std::stoll(reason.substr(11, at - 11));
      const std::int64_t offset = std::stoll(reason.substr(at + 17));
      EXPECT_LE(count, static_cast<std::int64_t>(gif::GifBuffer::kWindowBytes));
      EXPECT_LE(offset, cut);
      EXPECT_GT(offset + count, cut);
      EXPECT_TRUE(reason.ends_with(": the file changed while it was read")) << reason;
    }
  }
}

TEST(ReadStreamed, AFileCutAfterReadingFailsToDecodeAndToWrite) {
  StreamedLongGif file;
  gif::TGIFImage& picture = file.picture;
  ASSERT_EQ(picture.FrameCount(), 3);
  const std::int64_t at = picture.FrameAt(1).Encoded->Streamed->Offset;
  file.stream->SetSize(at + 70000);  // in the second frame's data, behind its first buffer
  // The first buffer of the data was read whole; the next one is read from behind it.
  const std::string reason =
      " bytes at offset " + std::to_string(at + 65536) + ": the file changed while it was read";
  for (bool tolerate : {true, false}) {
    picture.Options.TolerateDamage = tolerate;
    gif::TGIFFrame& frame = picture.FrameAt(1);
    for (int way = 0; way < 3; ++way) {
      try {
        tk::TMemoryStream image;
        if (way == 0) frame.WriteDIB(image);
        if (way == 1) frame.DecodeToDIB(image);
        if (way == 2) frame.CheckData();
        ADD_FAILURE() << "no failure, way " << way;
      } catch (const tk::EReadError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
        EXPECT_TRUE(e.ReasonText().starts_with("fewer than ") && e.ReasonText().ends_with(reason))
            << e.ReasonText();
      }
    }
  }
  tk::TMemoryStream out;
  EXPECT_FAILS_WITH(picture.SaveStream(out), tk::EReadError, "Stream read error");
  EXPECT_EQ(out.Size(), 0);
  // The frame before the cut still decodes.
  EXPECT_TRUE(file.ShowsThePixels(picture.FrameAt(0)));
}

TEST(ReadStreamed, DataChangedAfterReadingIsReadNoFurtherThanItWas) {
  StreamedLongGif file;
  gif::TGIFImage& picture = file.picture;
  ASSERT_EQ(picture.FrameCount(), 3);
  gif::TGIFFrame& frame = picture.FrameAt(2);
  const gif::StreamedData place = *frame.Encoded->Streamed;
  // Grown behind the data: it decodes as before.
  file.stream->SetSize(file.stream->Size() + 1000);
  EXPECT_TRUE(file.ShowsThePixels(frame));
  std::uint8_t* data = file.stream->Memory() + place.Offset;
  // Zero bytes where the data was: a code size out of range and a terminator right behind it,
  // so the frame is damaged and all 0 (or refused without damage tolerance).
  std::fill(data, data + place.Size, std::uint8_t{0});
  picture.Options.TolerateDamage = true;
  {
    tk::TMemoryStream image;
    frame.WriteDIB(image);
    EXPECT_TRUE(frame.DataDamaged);
    const std::vector<unsigned> indices = DibIndices(image.Bytes());
    EXPECT_TRUE(std::all_of(indices.begin(), indices.end(), [](unsigned p) { return p == 0; }));
  }
  picture.Options.TolerateDamage = false;
  tk::TMemoryStream refused;
  EXPECT_FAILS_WITH(frame.WriteDIB(refused), tk::EInvalidGraphicOperation, "GIF code size not in range 2 to 9");
  // Bytes of 0xFF over the whole data and behind it: the sub-blocks run on to the data's end,
  // where the last one announces more than the data held; nothing beyond it is read (a
  // sanitizer build would see it), and the decoding ends one way or the other.
  std::fill(data, data + place.Size + 1000, std::uint8_t{0xFF});
  data[0] = 8;
  for (bool tolerate : {true, false}) {
    picture.Options.TolerateDamage = tolerate;
    tk::TMemoryStream image;
    try {
      frame.WriteDIB(image);
    } catch (const tk::Exception&) {
    }
  }
}

TEST(ReadStreamed, ADecodedFrameEncodedAnewLeavesTheStream) {
  const Bytes bytes = SimpleGif(2, 2, 2, {0, 1, 2, 3});
  const auto stream = std::make_shared<tk::TMemoryStream>(bytes);
  gif::TGIFImage picture;
  picture.ReadGIFStreamed(stream);
  gif::TGIFFrame& frame = picture.FrameAt(0);
  ASSERT_TRUE(frame.Encoded->Streamed);
  EXPECT_FALSE(frame.Encoded->PixelData);
  tk::TMemoryStream dib;
  frame.DecodeToDIB(dib);
  frame.EncodeFromDIB(dib);
  EXPECT_FALSE(frame.Encoded->Streamed);
  stream->Clear();  // the stream is no longer read
  tk::TMemoryStream again;
  frame.DecodeToDIB(again);
  EXPECT_EQ(DibIndices(again.Bytes()), (std::vector<unsigned>{0, 1, 2, 3}));
}

}  // namespace
