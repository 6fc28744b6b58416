// Every frame of every file of the GIF corpus, decoded by this library and by giflib: the pixel
// indices agree wherever giflib decodes without error; damaged files fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/test_paths.h"
#include "gif/decoder.h"
#include "gif/gif.h"
#include "gif_builder.h"
#include "giflib_ref.h"
#include "toolkit/core/streams.h"

namespace {

namespace fs = std::filesystem;

// giflib's frames, or false when giflib fails on the file.
bool GiflibDecode(const std::vector<std::uint8_t>& bytes, std::vector<giftest::RefFrame>& frames) {
  giftest::RefGif gif;
  if (!giftest::GiflibDecode(bytes, gif)) return false;
  frames = std::move(gif.frames);
  return true;
}

TEST(Conformance, CorpusFramesMatchGiflib) {
  REQUIRE_CORPUS();
  int compared = 0, framesCompared = 0, refused = 0;
  for (const fs::path& path : testpaths::CorpusGifs(testpaths::CorpusDir())) {
    SCOPED_TRACE(path.string());
    std::vector<std::uint8_t> bytes = tk::ReadWholeFile(path.string());
    std::vector<giftest::RefFrame> reference;
    const bool giflibOk = GiflibDecode(bytes, reference);

    gif::TGIFImage picture;
    tk::TReadOnlyMemoryStream stream(bytes);
    bool readOk = true;
    std::string readError;
    try {
      picture.ReadGIF(stream.Size(), stream, false);
    } catch (const tk::Exception& e) {
      readOk = false;
      readError = e.Message();
    }
    if (!giflibOk) {
      // Damaged files: every frame read must decode or fail cleanly.
      ++refused;
      for (int i = 0; i < picture.FrameCount(); ++i) {
        tk::TMemoryStream dib;
        try {
          picture.FrameAt(i).DecodeToDIB(dib);
        } catch (const tk::Exception&) {
        }
      }
      continue;
    }
    if (!readOk) { ADD_FAILURE() << "read fails: " << readError; continue; }
    if (picture.FrameCount() != static_cast<int>(reference.size())) { ADD_FAILURE() << "frames " << picture.FrameCount() << " giflib " << reference.size(); continue; }
    ++compared;
    for (int i = 0; i < picture.FrameCount(); ++i) {
      SCOPED_TRACE("frame " + std::to_string(i));
      gif::TGIFFrame& frame = picture.FrameAt(i);
      const giftest::RefFrame& ref = reference[static_cast<std::size_t>(i)];
      ASSERT_EQ(frame.Encoded->ItemWidth, ref.width);
      ASSERT_EQ(frame.Encoded->ItemHeight, ref.height);
      tk::TMemoryStream dib;
      try { frame.DecodeToDIB(dib); } catch (const tk::Exception& e) { ADD_FAILURE() << "decode fails: " << e.Message(); continue; }
      // Values beyond the colour table are masked to the frame's bit depth.
      const unsigned mask = (1u << frame.Encoded->BitDepth) - 1;
      const std::vector<unsigned> indices = giftest::DibIndices(dib.Bytes());
      int mismatches = 0;
      for (int y = 0; y < ref.height && mismatches < 5; ++y)
        for (int x = 0; x < ref.width && mismatches < 5; ++x) {
          unsigned expected = ref.indices[std::size_t(y) * ref.width + x] & mask;
          unsigned actual = indices[std::size_t(y) * ref.width + x];
          if (expected != actual) {
            ++mismatches;
            ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << actual << ", giflib " << expected;
          }
        }
      ++framesCompared;
    }
  }
  std::printf("compared %d files (%d frames) with giflib; %d files giflib refuses\n", compared,
              framesCompared, refused);
  EXPECT_GT(compared, 100);
}

}  // namespace

namespace {

// The fuzzer-made files of the corpus: read as a file is loaded (decoding frame 0 at once), then
// every remaining frame decoded, with and without damage tolerance. Nothing may crash or leak.
TEST(Robustness, FuzzerMadeFilesReadAndDecode) {
  REQUIRE_CORPUS();
  const fs::path dir = testpaths::CorpusDir() / "suite-libnsgif" / "test" / "ns-afl-gif";
  ASSERT_TRUE(fs::is_directory(dir));
  int files = 0, loaded = 0;
  for (const fs::path& path : testpaths::CorpusGifs(dir)) {
    std::vector<std::uint8_t> bytes = tk::ReadWholeFile(path.string());
    for (bool tolerate : {true, false}) {
      giftest::Tolerate setting(tolerate);
      gif::TGIFImage picture;
      tk::TReadOnlyMemoryStream stream(bytes);
      try {
        picture.LoadStream(stream);
        loaded += tolerate;
      } catch (const tk::Exception&) {
      }
      for (int i = 0; i < picture.FrameCount(); ++i) {
        tk::TMemoryStream image;
        try {
          picture.FrameAt(i).DecodeToDIB(image);
        } catch (const tk::Exception&) {
        }
      }
    }
    ++files;
  }
  EXPECT_GT(files, 250);
  std::printf("%d fuzzer-made files, %d load with damage tolerated\n", files, loaded);
}

}  // namespace

namespace {

// A frame's bitmap file image written to a stream row by row (as gifkit writes its files) is
// the image DecodeToDIB builds whole, or fails with the same message: every frame of the corpus,
// damaged ones included (rows not reached, a row cut short), with and without damage tolerance.
TEST(WriteDIB, SameBytesAsDecodeToDIBOnEveryCorpusFrame) {
  REQUIRE_CORPUS();
  int frames = 0, failures = 0;
  for (const fs::path& path : testpaths::CorpusGifs(testpaths::CorpusDir())) {
    SCOPED_TRACE(path.string());
    const std::vector<std::uint8_t> bytes = tk::ReadWholeFile(path.string());
    for (bool tolerate : {true, false}) {
      giftest::Tolerate setting(tolerate);
      // Two pictures of the file, one for each way of writing, so that each frame's damage is
      // found by its own decoding.
      gif::TGIFImage picture, other;
      for (gif::TGIFImage* p : {&picture, &other}) {
        tk::TReadOnlyMemoryStream stream(bytes);
        try {
          p->LoadStream(stream);
        } catch (const tk::Exception&) {
        }
      }
      ASSERT_EQ(other.FrameCount(), picture.FrameCount());
      for (int i = 0; i < picture.FrameCount(); ++i) {
        std::string whole, rows;
        tk::TMemoryStream image;
        try {
          picture.FrameAt(i).DecodeToDIB(image);
        } catch (const tk::Exception& e) {
          whole = e.Message();
        }
        tk::TMemoryStream written;
        written.WriteBuffer("xyz", 3);  // the image begins at the stream's position
        try {
          other.FrameAt(i).WriteDIB(written);
        } catch (const tk::Exception& e) {
          rows = e.Message();
        }
        ++frames;
        EXPECT_EQ(rows, whole) << "frame " << i;
        EXPECT_EQ(other.FrameAt(i).DataDamaged, picture.FrameAt(i).DataDamaged) << "frame " << i;
        if (!whole.empty()) {
          ++failures;
          continue;
        }
        EXPECT_EQ(written.Position(), written.Size());
        const auto image_bytes = image.Bytes();
        const auto written_bytes = written.Bytes();
        ASSERT_EQ(written_bytes.size(), image_bytes.size() + 3) << "frame " << i;
        EXPECT_TRUE(std::equal(image_bytes.begin(), image_bytes.end(), written_bytes.begin() + 3))
            << "frame " << i;
      }
    }
  }
  EXPECT_GT(frames, 1000);
  std::printf("%d frames, %d fail to decode\n", frames, failures);
}

}  // namespace
