// gifkit encode and copy, run as the program.
#include <gtest/gtest.h>

#include <cstdio>

#include "bitmap_builder.h"
#include "common/run_program.h"
#include "common/test_paths.h"
#include "gif/gif.h"
#include "gif_builder.h"

using namespace giftest;

namespace {

std::pair<int, std::string> Gifkit(const std::string& args) {
  testpaths::CommandResult result = testpaths::RunCommand(testpaths::Program("gifkit") + " " + args);
  return {result.status, result.output};
}

void ReadFile(gif::TGIFImage& picture, const std::string& name) {
  Read(picture, tk::ReadWholeFile(name));
}

TEST(GifkitEncode, BitmapsWithAMethodOrInGrey) {
  const auto dir = testpaths::ScratchDir("gifkit_encode");
  const std::string bmp = (dir / "in.bmp").string(), out = (dir / "out.gif").string();
  tk::WriteWholeFile(bmp, DibFile(20, 10, 24, Pattern(20, 10, 0x1000000)));
  EXPECT_EQ(Gifkit("encode " + bmp + " " + out + " --method fixed666"),
            (std::pair<int, std::string>{0, ""}));
  gif::TGIFImage picture;
  ReadFile(picture, out);
  ASSERT_EQ(picture.FrameCount(), 1);
  EXPECT_EQ(picture.LogicalWidth, 20);
  EXPECT_EQ(picture.ScreenData->GlobalTable.Color(1), 0x330000u);  // the 6 x 6 x 6 cube
  EXPECT_EQ(Gifkit("encode " + bmp + " " + out + " --gray").first, 0);
  ReadFile(picture, out);
  EXPECT_EQ(picture.ScreenData->GlobalTable.Color(200), 200u * 0x010101u);
}

TEST(GifkitEncode, FailuresAndBadUsage) {
  const auto dir = testpaths::ScratchDir("gifkit_encode_bad");
  const std::string bmp = (dir / "bad.bmp").string(), out = (dir / "out.gif").string();
  tk::WriteWholeFile(bmp, Bytes{'B', 'M', 0});
  EXPECT_EQ(Gifkit("encode " + bmp + " " + out),
            (std::pair<int, std::string>{1, "gifkit: Bitmap image is not valid\n"}));
  EXPECT_EQ(Gifkit("encode " + bmp + " " + out + " --method best").first, 2);
  EXPECT_EQ(Gifkit("encode " + (dir / "in.png").string() + " " + out).first, 2);
  EXPECT_EQ(Gifkit("encode " + bmp).first, 2);
}

TEST(GifkitCopy, WritesWhatItReads) {
  const auto dir = testpaths::ScratchDir("gifkit_copy");
  const std::string in = (dir / "in.gif").string(), out = (dir / "out.gif").string();
  Bytes gif = SimpleGif(3, 2, 2, {0, 1, 2, 3, 2, 1}, 0x40, GraphicControl(1, 25, 3));
  tk::WriteWholeFile(in, gif);
  EXPECT_EQ(Gifkit("copy " + in + " " + out), (std::pair<int, std::string>{0, ""}));
  gif::TGIFImage picture;
  Read(picture, gif);
  tk::TMemoryStream expected;
  picture.SaveStream(expected);
  EXPECT_EQ(tk::ReadWholeFile(out), Bytes(expected.Bytes().begin(), expected.Bytes().end()));
  tk::WriteWholeFile(in, Bytes{'G', 'I', 'F', '9', '0', 'a'});
  EXPECT_EQ(Gifkit("copy " + in + " " + out),
            (std::pair<int, std::string>{1, "gifkit: Unknown GIF version\n"}));
}

// Five frames that each declare 32768 x 32768 pixels in a file of a hundred bytes: info checks
// their code streams without a pixel buffer, so it runs within a 256 MiB address space (where a
// sanitizer's shadow memory allows such a limit).
TEST(GifkitInfo, HugeFramesAreCheckedWithoutTheirPixels) {
  const auto dir = testpaths::ScratchDir("gifkit_info_huge");
  const std::string in = (dir / "huge.gif").string();
  Bytes gif = Screen(1, 1, 0x80);
  gif << Table(2);
  for (int i = 0; i < 5; ++i)
    gif << Descriptor(0, 0, 32768, 32768)
        << (i < 4 ? Bytes{2, 2, 0x44, 0x01, 0} : Bytes{2, 1, 0x0C, 0});  // EndCode; data ends
  gif.push_back(0x3B);
  tk::WriteWholeFile(in, gif);
#if defined(__SANITIZE_ADDRESS__)
  const std::string limit;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  const std::string limit;
#else
  const std::string limit = "ulimit -v 262144; ";
#endif
#else
  const std::string limit = "ulimit -v 262144; ";
#endif
  const testpaths::CommandResult result =
      testpaths::RunCommand(limit + testpaths::Program("gifkit") + " info " + in);
  EXPECT_EQ(result.status, 0) << result.output;
  const std::string frame = " 32768 x 32768 at (0, 0), 1 bits, global table, not interlaced, delay 0 ms, "
                            "disposal 0, transparent none, ";
  EXPECT_NE(result.output.find("frame 3:" + frame + "intact\n"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("frame 4:" + frame + "damaged\n"), std::string::npos) << result.output;
}

}  // namespace
