// gifkit encode and copy, run as the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <vector>

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

TEST(GifkitDecode, AFrameWithoutPixelsIsRefusedAndNothingIsWritten) {
  const auto dir = testpaths::ScratchDir("gifkit_decode_empty");
  const std::string in = (dir / "in.gif").string(), out = (dir / "out.bmp").string();
  Bytes gif = Screen(0, 0, 0x80);
  gif << Table(2) << Descriptor(0, 0, 7, 0) << LiteralData(2, {1}) << Bytes{0x3B};
  tk::WriteWholeFile(in, gif);
  EXPECT_EQ(Gifkit("decode " + in + " " + out),
            (std::pair<int, std::string>{1, "gifkit: GIF image has no pixels (7 x 0)\n"}));
  EXPECT_FALSE(std::filesystem::exists(out));
}

#if defined(__unix__)
TEST(GifkitOutput, AFullDiskLeavesThePreviousFileAndSaysWhy) {
  // A file system of 64 KiB of its own (a private mount namespace; skipped where the system
  // allows none), holding the previous output; the new one, a bitmap of 160 KB, does not fit.
  const auto dir = testpaths::ScratchDir("gifkit_full_disk");
  const std::string in = (dir / "in.gif").string(), disk = (dir / "disk").string();
  tk::WriteWholeFile(in, SimpleGif(400, 400, 8, std::vector<std::uint8_t>(400, 7)));
  std::filesystem::create_directories(disk);
  const std::string out = disk + "/out.bmp";
  const std::string script =
      "mount -t tmpfs -o size=64k none " + disk + " || exit 99; printf previous > " + out + "; " +
      testpaths::Program("gifkit") + " decode " + in + " " + out + "; echo status $?; cat " + out +
      "; echo; ls -A " + disk;
  const testpaths::CommandResult result = testpaths::RunCommand("unshare -Urm sh -c '" + script + "'");
  if (result.status != 0) GTEST_SKIP() << "no private file system to fill: " << result.output;
  EXPECT_EQ(result.output, "gifkit: Cannot write file " + out + ". No space left on device\n"
                           "status 1\nprevious\nout.bmp\n");
}
#endif

}  // namespace
