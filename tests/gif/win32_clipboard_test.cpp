// The "GIF Image" format on the system's clipboard: what the GIF module copies is there for every
// program, in the system's own forms, and another program pastes the same picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/run_program.h"
#include "common/test_paths.h"
#include "gif/gif.h"
#include "bitmap_builder.h"
#include "gif_builder.h"
#include "toolkit/core/bytes.h"
#include "toolkit/core/picture.h"
#include "toolkit/core/streams.h"
#include "toolkit/system/clipboard.h"
#include "toolkit/system/win32/windows_api.h"

namespace fs = std::filesystem;

namespace {

// A picture of three frames of palette bitmaps, so that frame 0's bitmap has a palette.
giftest::Bytes Picture() {
  gif::TGIFImage picture;
  auto first = giftest::MakeBitmap(6, 5, 4, giftest::Pattern(6, 5, 16),
                                   {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
  picture.TakeFrom(first.get());
  picture.AppendFrame(giftest::MakeBitmap(3, 2, 1, {0, 1, 1, 0, 0, 1}, {0x000000, 0xFFFFFF}).get());
  picture.AppendFrame(giftest::MakeBitmap(2, 2, 1, {1, 0, 0, 1}, {0x000000, 0xFFFFFF}).get());
  tk::TMemoryStream out;
  picture.SaveStream(out);
  return giftest::Bytes(out.Bytes().begin(), out.Bytes().end());
}

giftest::Bytes Saved(gif::TGIFImage& picture) {
  tk::TMemoryStream out;
  picture.SaveStream(out);
  return giftest::Bytes(out.Bytes().begin(), out.Bytes().end());
}

}  // namespace

TEST(SystemClipboard, ACopiedGifIsThereForEveryProgram) {
  gif::TGifModule module;
  const giftest::Bytes bytes = Picture();
  gif::TGIFImage picture;
  tk::TReadOnlyMemoryStream in(bytes);
  picture.LoadStream(in);
  tk::Clipboard().TakeFrom(&picture);

  // As another program sees it, through the system's own calls.
  ASSERT_EQ(::RegisterClipboardFormatA("GIF Image"), gif::GifClipboardFormat);
  ASSERT_TRUE(::OpenClipboard(nullptr));
  auto block = static_cast<::HGLOBAL>(::GetClipboardData(gif::GifClipboardFormat));
  ASSERT_NE(block, nullptr);
  auto data = static_cast<const std::uint8_t*>(::GlobalLock(block));
  ASSERT_EQ(::GlobalSize(block), bytes.size() + 4);
  EXPECT_EQ(tk::LoadU32({data, 4}, 0), bytes.size());
  EXPECT_EQ(giftest::Bytes(data + 4, data + 4 + bytes.size()), bytes);
  ::GlobalUnlock(block);
  // The bitmap of frame 0 in the system's bitmap forms, and its palette.
  EXPECT_TRUE(::IsClipboardFormatAvailable(CF_DIB));
  EXPECT_TRUE(::IsClipboardFormatAvailable(CF_BITMAP));
  EXPECT_TRUE(::IsClipboardFormatAvailable(CF_PALETTE));
  auto dib = static_cast<::HGLOBAL>(::GetClipboardData(CF_DIB));
  ASSERT_NE(dib, nullptr);
  auto header = static_cast<const ::BITMAPINFOHEADER*>(::GlobalLock(dib));
  EXPECT_EQ(header->biWidth, 6);
  EXPECT_EQ(header->biHeight, 5);
  ::GlobalUnlock(dib);
  ::CloseClipboard();

  // Another program pastes it: this test program again, writing what it pasted to a file.
  const fs::path out = testpaths::ScratchDir("win32_clipboard") / "pasted.gif";
  ::SetEnvironmentVariableA("PROTRACTOR_PASTE_FILE", out.string().c_str());
  const auto result = testpaths::RunCommand(
      (testpaths::TestProgramFolder() / "gif_tests.exe").make_preferred().string() +
      " --gtest_also_run_disabled_tests --gtest_filter=SystemClipboard.DISABLED_PasteIntoFile");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(tk::ReadWholeFile(out.string()), Saved(picture));
}

// Run by the test above as another program.
TEST(SystemClipboard, DISABLED_PasteIntoFile) {
  gif::TGifModule module;
  const char* file = std::getenv("PROTRACTOR_PASTE_FILE");
  ASSERT_NE(file, nullptr);
  tk::TPicture pasted;
  pasted.TakeFrom(&tk::Clipboard());
  auto* picture = dynamic_cast<gif::TGIFImage*>(pasted.Graphic());
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->FrameCount(), 3);
  ASSERT_NE(picture->FrameAt(0).BuiltBitmap, nullptr);
  EXPECT_EQ(picture->FrameAt(0).BuiltBitmap->PixelFormat(), picture->FrameAt(0).BuildBitmap()->PixelFormat());
  tk::WriteWholeFile(file, Saved(*picture));
}

TEST(SystemClipboard, ABitmapCopiedByAnotherProgramPastesAsAOneFrameGif) {
  gif::TGifModule module;
  // Another program puts a 2 x 2 24-bit DIB on the clipboard.
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  const std::size_t size = sizeof(::BITMAPINFOHEADER) + 2 * 8;
  ::HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  auto* header = static_cast<::BITMAPINFOHEADER*>(::GlobalLock(block));
  header->biSize = sizeof(::BITMAPINFOHEADER);
  header->biWidth = 2;
  header->biHeight = 2;
  header->biPlanes = 1;
  header->biBitCount = 24;
  auto* pixels = reinterpret_cast<std::uint8_t*>(header + 1);
  const std::uint8_t rows[16] = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0};
  std::copy(rows, rows + 16, pixels);  // bottom row red, green; top row blue, white
  ::GlobalUnlock(block);
  ASSERT_NE(::SetClipboardData(CF_DIB, block), nullptr);
  ::CloseClipboard();

  tk::TPicture pasted;
  pasted.TakeFrom(&tk::Clipboard());
  ASSERT_NE(pasted.Graphic(), nullptr);
  EXPECT_EQ(pasted.Width(), 2);
  EXPECT_EQ(pasted.Height(), 2);
  gif::TGIFImage picture;
  picture.TakeFrom(pasted.Graphic());
  ASSERT_EQ(picture.FrameCount(), 1);
  tk::TBitmap& frame = *picture.FrameAt(0).BuildBitmap();
  EXPECT_EQ(frame.Canvas().Pixels(0, 1), 0x0000FFu);  // red, as the toolkit writes colours
  EXPECT_EQ(frame.Canvas().Pixels(1, 1), 0x00FF00u);
  EXPECT_EQ(frame.Canvas().Pixels(0, 0), 0xFF0000u);
  EXPECT_EQ(frame.Canvas().Pixels(1, 0), 0xFFFFFFu);
}
