// The GIF module in the picture machinery: registration and withdrawal, the drawing routines'
// cursors, the stored picture value, files by extension, and the clipboard.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "bitmap_builder.h"
#include "common/test_paths.h"
#include "gif/gif.h"
#include "gif_builder.h"
#include "toolkit/device/bitmap.h"
#include "toolkit/system/clipboard.h"
#include "toolkit/device/icon.h"
#include "toolkit/system/library.h"
#include "toolkit/core/picture.h"
#include "toolkit/core/screen.h"

using namespace giftest;
using gif::TGIFImage;

namespace {

// A two-frame picture, both frames encoded.
Bytes TwoFrameGif() {
  TGIFImage picture;
  auto first =
      MakeBitmap(5, 4, 4, Pattern(5, 4, 16), {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
  picture.TakeFrom(first.get());
  picture.AppendFrame(MakeBitmap(3, 2, 1, {0, 1, 1, 0, 0, 1}, {0x000000, 0xFFFFFF}).get());
  picture.FrameAt(1).LeftPos = 2;
  picture.FrameAt(1).DelayMs = 100;
  tk::TMemoryStream out;
  picture.SaveStream(out);
  return Bytes(out.Bytes().begin(), out.Bytes().end());
}

TEST(Module, RegistersWhileInitialisedAndWithdrawsAtTheEnd) {
  EXPECT_EQ(tk::TPicture::FindFileFormat("gif"), nullptr);
  {
    gif::TGifModule module;
    const tk::TFileFormat* format = tk::TPicture::FindFileFormat("GIF");
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->Description, "CompuServe GIF Image");
    EXPECT_EQ(format->GraphicClass.Name, "TGIFImage");
    EXPECT_EQ(gif::GifClipboardFormat, tk::RegisterClipboardFormatA("GIF Image"));
    EXPECT_GE(gif::GifClipboardFormat, tk::kFirstRegisteredFormat);
    EXPECT_TRUE(tk::TPicture::SupportsClipboardFormat(gif::GifClipboardFormat));
    ASSERT_NE(tk::FindClass("TGIFFrame"), nullptr);
    ASSERT_NE(tk::FindClass("TGIFImage"), nullptr);
    EXPECT_EQ(tk::CreateObject("TGIFImage")->ClassName(), "TGIFImage");
    {
      gif::TGifModule again;  // a further initialisation changes nothing
    }
    EXPECT_NE(tk::TPicture::FindFileFormat("gif"), nullptr);
  }
  EXPECT_EQ(tk::TPicture::FindFileFormat("gif"), nullptr);
  EXPECT_FALSE(tk::TPicture::SupportsClipboardFormat(gif::GifClipboardFormat));
}

TEST(Module, DrawingRoutinesRegisterTheHandAndDragCursors) {
  gif::TGifModule module;
  // Each with its hotspot, a point of its black outline and one of its white inside.
  for (auto [id, name, hotspot, black, white] :
       {std::tuple{14000, "GIFHANDCURSOR", tk::TPoint{5, 0}, tk::TPoint{5, 21}, tk::TPoint{8, 14}},
        std::tuple{14001, "GIFDRAGCURSOR", tk::TPoint{8, 8}, tk::TPoint{5, 15},
                   tk::TPoint{8, 9}}}) {
    const std::vector<std::uint8_t>* file = tk::Screen().CursorFile(id);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(tk::FindResource(nullptr, name, tk::RT_RCDATA).has_value());
    tk::TIcon cursor;
    tk::TMemoryStream stream(*file);
    cursor.LoadStream(stream);
    EXPECT_TRUE(cursor.IsCursor());
    EXPECT_EQ(cursor.Width(), 32);
    EXPECT_EQ(cursor.Height(), 32);
    EXPECT_EQ(cursor.Hotspot(), hotspot);
    // Drawn on grey: the outline is black, the inside white, the rest shows the grey.
    tk::TBitmap canvas;
    canvas.Canvas().Brush().Color = 0x808080;
    canvas.SetWidth(32);
    canvas.SetHeight(32);
    canvas.Canvas().Draw(0, 0, &cursor);
    EXPECT_EQ(canvas.Canvas().Pixels(31, 31), 0x808080u);
    EXPECT_EQ(canvas.Canvas().Pixels(black.X, black.Y), 0x000000u);
    EXPECT_EQ(canvas.Canvas().Pixels(white.X, white.Y), 0xFFFFFFu);
  }
}

TEST(StoredValue, WrittenAndReadThroughThePictureMachinery) {
  gif::TGifModule module;
  const Bytes gif = TwoFrameGif();
  tk::TPicture picture;
  {
    auto graphic = std::make_unique<TGIFImage>();
    tk::TReadOnlyMemoryStream in(gif);
    graphic->LoadStream(in);
    picture.SetGraphic(std::move(graphic));
  }
  tk::TMemoryStream stored;
  picture.WriteStoredValue(stored);
  const Bytes expected = WithLength(gif, {9, 'T', 'G', 'I', 'F', 'I', 'm', 'a', 'g', 'e'});
  EXPECT_EQ(Bytes(stored.Bytes().begin(), stored.Bytes().end()), expected);

  stored.SetPosition(0);
  tk::TPicture again;
  again.ReadStoredValue(stored);
  auto* read = dynamic_cast<TGIFImage*>(again.Graphic());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(stored.Position(), stored.Size());
  EXPECT_EQ(read->FrameCount(), 2);
  EXPECT_EQ(read->CurrentIndex, 0);
  EXPECT_EQ(read->LogicalWidth, 5);
  EXPECT_EQ(read->LogicalHeight, 4);
  ASSERT_NE(read->FrameAt(0).BuiltBitmap, nullptr);  // frame 0 is decoded at once
  EXPECT_EQ(read->FrameAt(1).BuiltBitmap, nullptr);
  EXPECT_EQ(again.Width(), 5);
}

TEST(StoredValue, FilesWithTheGifExtension) {
  gif::TGifModule module;
  const auto dir = testpaths::ScratchDir("gif-module");
  const std::string name = (dir / "two.GIF").string();
  tk::WriteWholeFile(name, TwoFrameGif());
  tk::TPicture picture;
  picture.LoadFromFile(name);
  auto* read = dynamic_cast<TGIFImage*>(picture.Graphic());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->FrameCount(), 2);
  picture.SaveToFile((dir / "copy.gif").string());
  EXPECT_EQ(tk::ReadWholeFile((dir / "copy.gif").string()), TwoFrameGif());
}

// The clipboard store, emptied before and after each test.
class GifClipboard : public ::testing::Test {
 protected:
  void SetUp() override { tk::Clipboard().Clear(); }
  void TearDown() override { tk::Clipboard().Clear(); }
  gif::TGifModule module_;
};

TEST_F(GifClipboard, CopyPutsTheGifBlockAndTheBitmapOfFrameZero) {
  const Bytes gif = TwoFrameGif();
  TGIFImage picture;
  tk::TReadOnlyMemoryStream in(gif);
  picture.LoadStream(in);
  tk::Clipboard().TakeFrom(&picture);
  ASSERT_TRUE(tk::Clipboard().HasFormat(gif::GifClipboardFormat));
  ASSERT_TRUE(tk::Clipboard().HasFormat(tk::CF_BITMAP));
  {
    tk::TGlobalLock block(
        reinterpret_cast<tk::HGLOBAL>(tk::Clipboard().GetAsHandle(gif::GifClipboardFormat)));
    const Bytes expected = WithLength(gif);
    EXPECT_EQ(Bytes(block.Data(), block.Data() + block.Size()), expected);
  }

  // Pasting makes a GIF picture of the same frames; frame 0 shows the clipboard's bitmap.
  tk::TPicture pasted;
  pasted.TakeFrom(&tk::Clipboard());
  auto* read = dynamic_cast<TGIFImage*>(pasted.Graphic());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->FrameCount(), 2);
  EXPECT_EQ(read->CurrentIndex, 0);
  ASSERT_NE(read->FrameAt(0).BuiltBitmap, nullptr);
  EXPECT_EQ(read->FrameAt(0).BuiltBitmap->Width(), 5);
  tk::TBitmap& shown = *read->FrameAt(0).BuiltBitmap;
  tk::TBitmap& original = *picture.FrameAt(0).BuildBitmap();
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(shown.Canvas().Pixels(x, y), original.Canvas().Pixels(x, y));
  EXPECT_EQ(read->FrameAt(1).DelayMs, 100);
}

TEST_F(GifClipboard, AFrameWithoutEncodedDataSendsOnlyTheBitmap) {
  TGIFImage picture;
  picture.TakeFrom(MakeBitmap(2, 2, 8, {1, 2, 3, 4}).get());  // built, not encoded
  tk::Clipboard().TakeFrom(&picture);
  EXPECT_TRUE(tk::Clipboard().HasFormat(tk::CF_BITMAP));
  EXPECT_FALSE(tk::Clipboard().HasFormat(gif::GifClipboardFormat));
  EXPECT_FALSE(picture.FrameAt(0).Encoded->HasPixelData());
}

TEST_F(GifClipboard, EmptyPictureLeavesTheOutputsAlone) {
  TGIFImage picture;
  tk::TClipboardFormat format = 77;
  tk::THandle data = 5;
  tk::HPALETTE palette = nullptr;
  ASSERT_TRUE(tk::OpenClipboard());
  picture.ToClipboard(format, data, palette);
  EXPECT_FALSE(tk::IsClipboardFormatAvailable(gif::GifClipboardFormat));
  tk::CloseClipboard();
  EXPECT_EQ(format, 77);
  EXPECT_EQ(data, 5u);
}

TEST_F(GifClipboard, PastingABitmapAloneMakesAOneFramePicture) {
  auto bitmap = MakeBitmap(3, 3, 24, Pattern(3, 3, 0xFFFFFF));
  tk::Clipboard().TakeFrom(bitmap.get());
  TGIFImage picture;
  ChangeCounter changes(picture);
  ASSERT_TRUE(tk::OpenClipboard());
  picture.FromClipboard(tk::CF_BITMAP, tk::GetClipboardData(tk::CF_BITMAP), nullptr);
  tk::CloseClipboard();
  EXPECT_EQ(picture.FrameCount(), 1);
  EXPECT_EQ(picture.CurrentIndex, 0);
  EXPECT_EQ(picture.CurrentWidth(), 3);
  EXPECT_EQ(changes.count, 1);

  // Any other format without a GIF block fails and leaves the picture as it was.
  ASSERT_TRUE(tk::OpenClipboard());
  EXPECT_FAILS_WITH(picture.FromClipboard(tk::CF_TEXT, 1, nullptr), tk::EInvalidGraphic,
                    "Unsupported clipboard format");
  tk::CloseClipboard();
  EXPECT_EQ(picture.FrameCount(), 1);
}

TEST_F(GifClipboard, ABlockShorterThanItsLengthFails) {
  const Bytes gif = TwoFrameGif();
  tk::TGlobalMemory block(4 + gif.size() - 1);
  {
    tk::TGlobalLock lock(block.Handle());
    const std::uint32_t length = static_cast<std::uint32_t>(gif.size());
    std::memcpy(lock.Data(), &length, 4);
    std::memcpy(lock.Data() + 4, gif.data(), gif.size() - 1);
  }
  tk::Clipboard().SetAsHandle(gif::GifClipboardFormat,
                              reinterpret_cast<tk::THandle>(block.Release()));
  TGIFImage picture;
  picture.TakeFrom(MakeBitmap(1, 1, 8, {0}).get());
  ASSERT_TRUE(tk::OpenClipboard());
  EXPECT_FAILS_WITH(picture.FromClipboard(gif::GifClipboardFormat, 0, nullptr), tk::EReadError,
                    "Stream read error");
  tk::CloseClipboard();
  EXPECT_EQ(picture.FrameCount(), 0);  // reset before the read failed
}

}  // namespace
