// gifkit run as the program: encode, copy, info, decode and ani, cut files, help and usage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
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
            (std::pair<int, std::string>{1, "gifkit: Bitmap image is not valid\n"
                                            "gifkit: a file of 3 bytes, shorter than its headers\n"}));
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
  // In place: the file read is closed before the one written replaces it (which Windows needs).
  EXPECT_EQ(Gifkit("copy " + out + " " + out), (std::pair<int, std::string>{0, ""}));
  EXPECT_EQ(tk::ReadWholeFile(out), Bytes(expected.Bytes().begin(), expected.Bytes().end()));
  tk::WriteWholeFile(in, Bytes{'G', 'I', 'F', '9', '0', 'a'});
  EXPECT_EQ(Gifkit("copy " + in + " " + out),
            (std::pair<int, std::string>{1, "gifkit: Unknown GIF version\ngifkit: version \"90a\"\n"}));
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

TEST(GifkitDecode, AllWritesEveryFrameNumberedInOrder) {
  const auto dir = testpaths::ScratchDir("gifkit_decode_all");
  const std::string in = (dir / "in.gif").string();
  // Eleven frames of 2 x 1 pixels, frame i of the colours i and i + 1.
  Bytes gif = Screen(2, 1, 0x83);
  gif << Table(16);
  for (std::uint8_t i = 0; i < 11; ++i)
    gif << Descriptor(0, 0, 2, 1) << LiteralData(4, {i, static_cast<std::uint8_t>(i + 1)});
  gif.push_back(0x3B);
  tk::WriteWholeFile(in, gif);
  const std::string prefix = (dir / "frame").string();
  EXPECT_EQ(Gifkit("decode " + in + " --all " + prefix), (std::pair<int, std::string>{0, ""}));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"frame00.bmp", "frame01.bmp", "frame02.bmp", "frame03.bmp",
                                             "frame04.bmp", "frame05.bmp", "frame06.bmp", "frame07.bmp",
                                             "frame08.bmp", "frame09.bmp", "frame10.bmp", "in.gif"}));
  const std::string single = (dir / "single.bmp").string();
  EXPECT_EQ(Gifkit("decode " + in + " " + single + " --frame 7").first, 0);
  EXPECT_EQ(tk::ReadWholeFile(prefix + "07.bmp"), tk::ReadWholeFile(single));
  EXPECT_EQ(DibIndices(tk::ReadWholeFile(prefix + "10.bmp")), (std::vector<unsigned>{10, 11}));
  // A frame written over its own GIF file, which is closed first.
  const std::string over = (dir / "over.gif").string();
  tk::WriteWholeFile(over, gif);
  EXPECT_EQ(Gifkit("decode " + over + " " + over + " --frame 7").first, 0);
  EXPECT_EQ(tk::ReadWholeFile(over), tk::ReadWholeFile(single));
  EXPECT_EQ(Gifkit("decode " + in + " --all " + prefix + " --frame 2").first, 2);
  EXPECT_EQ(Gifkit("decode " + in + " " + single + " --all " + prefix).first, 2);
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
#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32)  // Windows' command interpreter has no ulimit
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
                            "disposal 0 (unspecified), transparent none, ";
  EXPECT_NE(result.output.find("frame 3:" + frame + "intact\n"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("frame 4:" + frame + "damaged\n"), std::string::npos) << result.output;
}

// The lines of a text.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(GifkitRead, FilesCutInTheHeaderOrBeforeTheFirstImageAreNoPictures) {
  const auto dir = testpaths::ScratchDir("gifkit_cut");
  const std::string file = (dir / "cut.gif").string(), bmp = (dir / "out.bmp").string();
  const Bytes whole = SimpleGif(2, 1, 2, {1, 2});
  Bytes noImage = Slice(whole, 0, 25);
  noImage.push_back(0x3B);
  const std::pair<Bytes, std::string> cases[] = {
      {{}, "the file is empty"},
      {Slice(whole, 0, 10), "the file ends inside its GIF header (10 of 13 bytes)"},
      {Slice(whole, 0, 20), "the file ends inside its global colour table (7 of 12 bytes)"},
      {Slice(whole, 0, 25), "the file ends before its first image"},
      {noImage, "the file ends before its first image"},
  };
  for (const auto& [bytes, message] : cases) {
    tk::WriteWholeFile(file, bytes);
    for (const std::string& command :
         {"info " + file, "decode " + file + " " + bmp, "copy " + file + " " + file})
      EXPECT_EQ(Gifkit(command), (std::pair<int, std::string>{1, "gifkit: " + file + ": " + message + "\n"}))
          << command;
  }
  tk::WriteWholeFile(file, whole);
  EXPECT_EQ(Gifkit("info " + file).first, 0);
}

TEST(GifkitInfo, EveryCommentTheTransparentIndexDisposalByNameAndTheFrameCount) {
  const auto dir = testpaths::ScratchDir("gifkit_info");
  const std::string file = (dir / "in.gif").string();
  Bytes b = Screen(4, 2, 0x81);
  b << Table(4) << Comment({{'o', 'n', 'e'}, {'!'}}) << GraphicControl(0x01 | 2 << 2, 5, 3)
    << Descriptor(0, 0, 2, 1) << LiteralData(2, {1, 3}) << Comment({{'t', 'w', 'o'}})
    << Descriptor(2, 1, 2, 1) << LiteralData(2, {0, 2}) << Comment({{'e', 'n', 'd'}}) << Bytes{0x3B};
  tk::WriteWholeFile(file, b);
  const auto [status, output] = Gifkit("info " + file);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Lines(output), (std::vector<std::string>{
                               file + ": GIF89a, 4 x 2, 2 frames, background #000000",
                               "loop: none",
                               "comment: end",
                               "frame 0: 2 x 1 at (0, 0), 2 bits, global table, not interlaced, delay 50 ms, "
                               "disposal 2 (restore background), transparent #030609 (index 3), intact",
                               "  comment: one!",
                               "frame 1: 2 x 1 at (2, 1), 2 bits, global table, not interlaced, delay 0 ms, "
                               "disposal 0 (unspecified), transparent none, intact",
                               "  comment: two"}));
  const std::string json = Gifkit("info " + file + " --json").second;
  EXPECT_NE(json.find("\"frameCount\": 2"), std::string::npos) << json;
  EXPECT_NE(json.find("\"disposalName\": \"restore background\", \"transparent\": \"#030609\", "
                      "\"transparentIndex\": 3"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"comments\": [\"one!\"]"), std::string::npos) << json;
}

TEST(GifkitMessages, SayWhatTheUserCanDo) {
  const auto dir = testpaths::ScratchDir("gifkit_messages");
  const std::string file = (dir / "in.gif").string(), bmp = (dir / "out.bmp").string();
  Bytes b = Screen(1, 1, 0x80);
  b << Table(2);
  for (int i = 0; i < 3; ++i) b << Descriptor(0, 0, 1, 1) << LiteralData(2, {1});
  b.push_back(0x3B);
  tk::WriteWholeFile(file, b);
  EXPECT_EQ(Gifkit("decode " + file + " " + bmp + " --frame 2").first, 0);
  // The library's message stays; gifkit says which frames there are.
  EXPECT_EQ(Gifkit("decode " + file + " " + bmp + " --frame 3"),
            (std::pair<int, std::string>{1, "gifkit: List index out of bounds (3)\n"
                                            "gifkit: " + file + " holds 3 frames, 0 to 2\n"}));
  EXPECT_EQ(Gifkit("ani " + file),
            (std::pair<int, std::string>{1, "gifkit: Stream read error\n"
                                            "gifkit: the data begins with \"GIF8\", not \"RIFF\"\n"}));
}

TEST(GifkitHelp, EachCommandHasItsHelpAndEveryLineFitsEightyColumns) {
  const auto [status, usage] = Gifkit("--help");
  EXPECT_EQ(status, 0);
  std::vector<std::string> texts{usage};
  for (const char* command : {"ani", "copy", "decode", "encode", "info", "reduce"}) {
    const auto [commandStatus, help] = Gifkit(std::string(command) + " --help");
    EXPECT_EQ(commandStatus, 0) << command;
    EXPECT_EQ(help.rfind(std::string("usage: gifkit ") + command, 0), 0u) << help;
    texts.push_back(help);
  }
  for (const std::string& text : texts)
    for (const std::string& line : Lines(text)) EXPECT_LE(line.size(), 80u) << line;
  // One line for each reduction method.
  for (const char* method : {"histogram", "median-cut", "fixed784", "fixed666", "ramps", "gray"})
    EXPECT_NE(usage.find(std::string("\n  ") + method + " "), std::string::npos) << method;
  const auto [versionStatus, version] = Gifkit("--version");
  EXPECT_EQ(versionStatus, 0);
  EXPECT_EQ(version.rfind("gifkit ", 0), 0u) << version;
}

TEST(GifkitHelp, OptionsThatWouldBeIgnoredAreRefused) {
  const auto dir = testpaths::ScratchDir("gifkit_ignored");
  const std::string bmp = (dir / "in.bmp").string();
  tk::WriteWholeFile(bmp, DibFile(4, 2, 24, Pattern(4, 2, 0x1000000)));
  const auto reduce = Gifkit("reduce " + bmp + " " + (dir / "out.bmp").string() + " --bits 4 --method median-cut");
  EXPECT_EQ(reduce.first, 2);
  EXPECT_EQ(Lines(reduce.second).at(0), "gifkit: --method applies to --bits 8 only");
  EXPECT_EQ(Gifkit("encode " + bmp + " " + (dir / "out.gif").string() + " --gray --method fixed666").first, 2);
  EXPECT_EQ(Gifkit("reduce " + bmp + " " + (dir / "out.bmp").string() + " --bits 8 --method median-cut").first, 0);
}

}  // namespace
