// The GIF picture object model: defaults, copying and sharing of encoded data, assignment
// between pictures, frames and extensions, comments, and the failures of the model.
#include <gtest/gtest.h>

#include <utility>

#include "gif/gif.h"
#include "gif_builder.h"
#include "toolkit/device/bitmap.h"

using namespace giftest;
using gif::NoColor;
using gif::TGIFFrame;
using gif::TGIFImage;

namespace {

// Two frames: a 3 x 2 one with a local table and a comment at (1, 2), and a 2 x 2 one at (4, 0)
// with a transparent colour; a global table; looping; a trailing comment.
Bytes TwoFrames() {
  Bytes b = Screen(6, 4, 0x81, 1);
  b << Table(4) << Application("NETSCAPE2.0", {{1, 9, 0}}) << Comment({{'h', 'i'}})
    << Descriptor(1, 2, 3, 2, 0x82) << Table(8) << LiteralData(3, {1, 2, 3, 4, 5, 6})
    << GraphicControl(0x01 | 2 << 2, 10, 2) << Descriptor(4, 0, 2, 2) << LiteralData(2, {3, 2, 1, 0})
    << Comment({{'e', 'n', 'd'}}) << Bytes{0x3B};
  return b;
}

TEST(Picture, NewPictureDefaults) {
  TGIFImage picture;
  EXPECT_TRUE(picture.IsEmpty());
  EXPECT_EQ(picture.CurrentWidth(), 0);
  EXPECT_EQ(picture.CurrentHeight(), 0);
  EXPECT_EQ(picture.CurrentPalette(), nullptr);
  EXPECT_FALSE(picture.IsTransparent());
  EXPECT_TRUE(picture.Transparent());
  EXPECT_EQ(picture.FrameCount(), 0);
  EXPECT_EQ(picture.CurrentIndex, -1);
  EXPECT_EQ(picture.LoopCount, 1);
  EXPECT_FALSE(picture.LoopEnabled);
  EXPECT_EQ(picture.GifVersion, 0);
  EXPECT_EQ(picture.BackdropColor, NoColor);
  EXPECT_EQ(picture.LogicalWidth, 0);
  EXPECT_EQ(picture.ScreenData->RefCount(), 1);
  EXPECT_EQ(picture.ClassName(), "TGIFImage");
}

TEST(Picture, SizeCannotBeChanged) {
  TGIFImage picture;
  Read(picture, TwoFrames());
  ChangeCounter changes(picture);
  for (int value : {0, 5, -1}) {
    EXPECT_FAILS_WITH(picture.SetWidth(value), tk::EInvalidGraphicOperation, "Cannot change the Size of a GIF image");
    EXPECT_FAILS_WITH(picture.SetHeight(value), tk::EInvalidGraphicOperation, "Cannot change the Size of a GIF image");
  }
  EXPECT_EQ(picture.FrameCount(), 2);
  EXPECT_EQ(picture.LogicalWidth, 6);
  EXPECT_EQ(changes.count, 0);
}

TEST(Picture, CopySharesEncodedDataByReference) {
  auto source = std::make_unique<TGIFImage>();
  Read(*source, TwoFrames());
  source->FrameAt(1).OwnColorTable = true;  // copies keep the source frames' values
  source->CurrentIndex = 1;
  TGIFImage copy;
  ChangeCounter changes(copy);
  copy.TakeFrom(source.get());
  EXPECT_EQ(changes.count, 1);
  EXPECT_TRUE(copy.SameAs(source.get()));
  EXPECT_TRUE(source->SameAs(&copy));
  EXPECT_EQ(copy.ScreenData.get(), source->ScreenData.get());
  EXPECT_EQ(copy.ScreenData->RefCount(), 2);
  ASSERT_EQ(copy.FrameCount(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(copy.FrameAt(i).Encoded.get(), source->FrameAt(i).Encoded.get());
    EXPECT_EQ(copy.FrameAt(i).Encoded->RefCount(), 2);
    EXPECT_EQ(copy.FrameAt(i).OwnColorTable, source->FrameAt(i).OwnColorTable);
    EXPECT_EQ(copy.FrameAt(i).ParentImage, &copy);
  }
  EXPECT_TRUE(copy.FrameAt(1).OwnColorTable);
  EXPECT_EQ(copy.FrameAt(1).TransColor, TableColor(2));
  EXPECT_EQ(copy.FrameAt(1).DelayMs, 100);
  EXPECT_EQ(copy.FrameAt(1).Disposal, 2);
  EXPECT_EQ(copy.FrameAt(1).LeftPos, 4);
  EXPECT_EQ(*copy.FrameAt(0).FindComment(false), (tk::TStringList{"hi"}));
  EXPECT_EQ(copy.CurrentIndex, 1);
  EXPECT_EQ(copy.LogicalWidth, 6);
  EXPECT_EQ(copy.LogicalHeight, 4);
  EXPECT_EQ(copy.GifVersion, 2);
  EXPECT_TRUE(copy.LoopEnabled);
  EXPECT_EQ(copy.LoopCount, 9);
  EXPECT_EQ(copy.BackdropColor, TableColor(1));

  // Freeing the source leaves the copy intact.
  source.reset();
  EXPECT_EQ(copy.ScreenData->RefCount(), 1);
  EXPECT_EQ(copy.FrameAt(0).Encoded->RefCount(), 1);
  tk::TMemoryStream image;
  copy.FrameAt(0).DecodeToDIB(image);
  EXPECT_EQ(DibIndices(image.Bytes()), (std::vector<unsigned>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(copy.ScreenData->CommentLines, (tk::TStringList{"end"}));
}

TEST(Picture, ReadingIntoACopyLeavesTheSourceAlone) {
  TGIFImage source, copy;
  Read(source, TwoFrames());
  copy.TakeFrom(&source);
  gif::TGIFItem* item = source.FrameAt(0).Encoded.get();
  Read(copy, SimpleGif(1, 1, 1, {1}));
  EXPECT_FALSE(copy.SameAs(&source));
  EXPECT_EQ(source.FrameCount(), 2);
  EXPECT_EQ(source.FrameAt(0).Encoded.get(), item);
  EXPECT_EQ(item->RefCount(), 1);
  EXPECT_EQ(item->PixelData->Size(), static_cast<std::int64_t>(LiteralData(3, {1, 2, 3, 4, 5, 6}).size()));
  EXPECT_EQ(source.ScreenData->RefCount(), 1);
  // Two pictures read from the same bytes are not the same.
  TGIFImage again;
  Read(again, TwoFrames());
  EXPECT_FALSE(again.SameAs(&source));
  EXPECT_FALSE(again.SameAs(nullptr));
}

TEST(Picture, AssigningToItselfChangesNothing) {
  TGIFImage picture;
  Read(picture, TwoFrames());
  ChangeCounter changes(picture);
  gif::TGIFData* data = picture.ScreenData.get();
  picture.TakeFrom(&picture);
  EXPECT_EQ(changes.count, 0);
  EXPECT_EQ(picture.ScreenData.get(), data);
  EXPECT_EQ(picture.FrameCount(), 2);
}

TEST(Picture, NullResetsAndUnsupportedSourcesFail) {
  TGIFImage picture;
  Read(picture, TwoFrames());
  ChangeCounter changes(picture);
  gif::TExtension extension;
  EXPECT_FAILS_WITH(picture.TakeFrom(&extension), tk::EConvertError, "Cannot assign a TExtension to a TGIFImage");
  EXPECT_EQ(picture.FrameCount(), 2);
  EXPECT_EQ(changes.count, 0);
  picture.TakeFrom(nullptr);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(picture.FrameCount(), 0);
  EXPECT_EQ(picture.CurrentIndex, -1);
  EXPECT_EQ(picture.GifVersion, 0);
  EXPECT_EQ(picture.LogicalWidth, 6);  // the logical size survives a reset
  EXPECT_FAILS_WITH(picture.FrameAt(5), tk::EListError, "List index out of bounds (5)");
}

TEST(Picture, TransparencyNeedsTheBaseFlagAndATransparentFrame) {
  TGIFImage picture;
  Read(picture, TwoFrames());
  EXPECT_TRUE(picture.IsTransparent());
  picture.SetTransparent(false);
  EXPECT_FALSE(picture.IsTransparent());
  picture.SetTransparent(true);
  picture.FrameAt(1).TransColor = NoColor;
  EXPECT_FALSE(picture.IsTransparent());
}

TEST(Picture, EmptinessLooksAtTheCurrentFrame) {
  TGIFImage picture;
  Read(picture, TwoFrames());
  EXPECT_FALSE(picture.IsEmpty());
  picture.CurrentIndex = -1;  // frame 0 is looked at
  picture.FrameAt(0).Encoded->PixelData->Clear();
  EXPECT_TRUE(picture.IsEmpty());
  EXPECT_EQ(picture.CurrentWidth(), 0);
  picture.CurrentIndex = 1;
  EXPECT_FALSE(picture.IsEmpty());
  EXPECT_EQ(picture.CurrentWidth(), 2);
  EXPECT_EQ(picture.CurrentHeight(), 2);
  picture.CurrentIndex = 2;  // out of range: frame 0 for emptiness, no size
  EXPECT_TRUE(picture.IsEmpty());
  EXPECT_EQ(picture.CurrentHeight(), 0);
}

TEST(Picture, CurrentBitmapOfAnEmptyPictureMakesOneEmptyFrame) {
  TGIFImage picture;
  ChangeCounter changes(picture);
  tk::TBitmap* bitmap = picture.CurrentBitmap();
  ASSERT_NE(bitmap, nullptr);
  EXPECT_TRUE(bitmap->IsEmpty());
  EXPECT_EQ(picture.FrameCount(), 1);
  EXPECT_EQ(picture.CurrentIndex, 0);
  EXPECT_EQ(picture.GifVersion, 1);
  EXPECT_EQ(changes.count, 1);
  EXPECT_TRUE(picture.IsEmpty());
}

TEST(Picture, LogicalSizeIsTheUnionOfTheFrames) {
  TGIFImage picture;
  Read(picture, TwoFrames());
  picture.FrameAt(1).LeftPos = 70000;  // kept in 16 bits
  picture.UpdateLogicalSize();
  EXPECT_EQ(picture.LogicalWidth, static_cast<std::uint16_t>(70002));
  EXPECT_EQ(picture.LogicalHeight, 4);
  EXPECT_NE(picture.FrameAt(0).BuiltBitmap, nullptr);  // asking for a frame's size decodes it
}

TEST(Picture, PictureFromOneFrame) {
  TGIFImage source, picture;
  Read(source, TwoFrames());
  ChangeCounter changes(picture);
  picture.TakeFrom(&source.FrameAt(1));
  EXPECT_EQ(changes.count, 1);
  ASSERT_EQ(picture.FrameCount(), 1);
  EXPECT_EQ(picture.CurrentIndex, 0);
  EXPECT_EQ(picture.GifVersion, 1);
  EXPECT_NE(picture.ScreenData.get(), source.ScreenData.get());
  EXPECT_EQ(picture.ScreenData->GlobalTable.Count, 4);
  EXPECT_EQ(picture.ScreenData->GlobalTable.Color(3), TableColor(3));
  EXPECT_TRUE(picture.ScreenData->CommentLines.Empty());
  EXPECT_TRUE(picture.FrameAt(0).OwnColorTable);
  EXPECT_EQ(picture.FrameAt(0).Encoded.get(), source.FrameAt(1).Encoded.get());
  EXPECT_EQ(picture.LogicalWidth, 6);  // 4 + 2
  EXPECT_EQ(picture.LogicalHeight, 2);
  // A frame of the picture itself.
  picture.TakeFrom(&source);
  picture.TakeFrom(&picture.FrameAt(1));
  ASSERT_EQ(picture.FrameCount(), 1);
  EXPECT_EQ(picture.FrameAt(0).Encoded.get(), source.FrameAt(1).Encoded.get());
  EXPECT_FALSE(picture.FrameAt(0).OwnColorTable);
  EXPECT_EQ(picture.ScreenData->GlobalTable.Count, 4);
}

TEST(Frame, AssigningFramesSharesTheItem) {
  TGIFImage one, other;
  Read(one, TwoFrames());
  Read(other, TwoFrames());
  TGIFFrame& target = one.FrameAt(0);
  target.TakeFrom(&other.FrameAt(1));  // another picture's frame
  EXPECT_TRUE(target.OwnColorTable);
  EXPECT_EQ(target.Encoded.get(), other.FrameAt(1).Encoded.get());
  EXPECT_EQ(target.Encoded->RefCount(), 2);
  EXPECT_EQ(target.LeftPos, 4);
  EXPECT_EQ(target.TransColor, TableColor(2));
  EXPECT_EQ(target.DelayMs, 100);
  EXPECT_EQ(*target.FindComment(false), (tk::TStringList{"hi"}));  // its own comment stays
  // A frame of the same picture: its value is kept.
  one.FrameAt(1).OwnColorTable = false;
  one.FrameAt(0).TakeFrom(&one.FrameAt(1));
  EXPECT_FALSE(one.FrameAt(0).OwnColorTable);
  // The comment goes with the frame; no other extension does.
  other.FrameAt(1).TakeFrom(&other.FrameAt(0));
  EXPECT_EQ(*other.FrameAt(1).FindComment(false), (tk::TStringList{"hi"}));
  EXPECT_EQ(other.FrameAt(1).ExtBlocks->Count(), 2);  // its graphic control and the comment
  // Assigning a frame to itself, and null.
  TGIFFrame& frame = other.FrameAt(0);
  gif::TGIFItem* item = frame.Encoded.get();
  frame.TakeFrom(&frame);
  EXPECT_EQ(frame.Encoded.get(), item);
  frame.TakeFrom(nullptr);
  EXPECT_NE(frame.Encoded.get(), item);
  EXPECT_FALSE(frame.Encoded->HasPixelData());
  EXPECT_EQ(frame.BuiltBitmap, nullptr);
  EXPECT_EQ(frame.LeftPos, 0);
  EXPECT_EQ(frame.TransColor, NoColor);
  EXPECT_NE(frame.ExtBlocks, nullptr);  // ResetFrame keeps the extensions
}

TEST(Frame, AssigningAFrameWithoutABitmapDropsTheOldOne) {
  TGIFImage one, other;
  Read(one, TwoFrames());
  Read(other, TwoFrames());
  TGIFFrame& target = one.FrameAt(0);
  ASSERT_EQ(target.BuildBitmap()->Width(), 3);  // built: the 3 x 2 picture
  TGIFFrame& source = other.FrameAt(1);
  ASSERT_EQ(source.BuiltBitmap, nullptr);
  target.TakeFrom(&source);
  // The frame draws and measures as its new data, the 2 x 2 picture.
  EXPECT_EQ(target.FrameWidth(), 2);
  EXPECT_EQ(target.FrameHeight(), 2);
  EXPECT_EQ(target.BuildBitmap()->Canvas().Pixels(0, 0), TableColor(3));
}

TEST(Frame, TakesThePictureCurrentFrame) {
  TGIFImage source, target;
  Read(source, TwoFrames());
  Read(target, SimpleGif(1, 1, 1, {0}));
  source.CurrentIndex = -1;  // frame 0 then
  target.FrameAt(0).TakeFrom(&source);
  EXPECT_EQ(target.FrameAt(0).Encoded.get(), source.FrameAt(0).Encoded.get());
  source.CurrentIndex = 1;
  target.FrameAt(0).TakeFrom(&source);
  EXPECT_EQ(target.FrameAt(0).Encoded.get(), source.FrameAt(1).Encoded.get());
  TGIFImage empty;
  target.FrameAt(0).TakeFrom(&empty);
  EXPECT_FALSE(target.FrameAt(0).Encoded->HasPixelData());
  gif::TExtension extension;
  EXPECT_FAILS_WITH(target.FrameAt(0).TakeFrom(&extension), tk::EConvertError,
                    "Cannot assign a TExtension to a TGIFFrame");
}

TEST(Frame, FindCommentAndSetComment) {
  TGIFImage picture;
  Read(picture, SimpleGif(1, 1, 1, {0}, 0, GraphicControl(0, 1, 0)));
  TGIFFrame& frame = picture.FrameAt(0);
  EXPECT_EQ(frame.FindComment(false), nullptr);
  EXPECT_EQ(frame.ExtBlocks->Count(), 1);
  tk::TStringList* lines = frame.FindComment(true);
  ASSERT_NE(lines, nullptr);
  EXPECT_TRUE(lines->Empty());
  EXPECT_EQ(frame.ExtBlocks->Count(), 2);
  EXPECT_EQ((*frame.ExtBlocks)[1].Kind, gif::ekComment);
  EXPECT_EQ(frame.FindComment(true), lines);
  frame.SetComment(tk::TStringList{"a", "b"});
  EXPECT_EQ(*frame.FindComment(false), (tk::TStringList{"a", "b"}));
  EXPECT_EQ(frame.ExtBlocks->Count(), 2);
  // A frame without any extension list gets one.
  TGIFImage bare;
  Read(bare, SimpleGif(1, 1, 1, {0}));
  EXPECT_EQ(bare.FrameAt(0).ExtBlocks, nullptr);
  bare.FrameAt(0).SetComment(tk::TStringList{"x"});
  EXPECT_EQ(bare.FrameAt(0).ExtBlocks->Count(), 1);
}

TEST(ColorTable, CopiesShareTheEntriesUntilOneIsChanged) {
  // The frames without a local table share the global table's entries.
  TGIFImage picture;
  Read(picture, TwoFrames());
  const gif::GifColorTable& global = picture.ScreenData->GlobalTable;
  gif::GifColorTable& second = picture.FrameAt(1).Encoded->ColorTable;
  EXPECT_EQ(std::as_const(second).Entries.data(), global.Entries.data());
  EXPECT_NE(std::as_const(picture.FrameAt(0).Encoded->ColorTable).Entries.data(), global.Entries.data());
  // A change goes to the changed table alone.
  const gif::TColor before = global.Color(1);
  second.Entries[1] = {1, 2, 3};
  EXPECT_EQ(second.Color(1), 0x030201u);
  EXPECT_EQ(global.Color(1), before);
  EXPECT_NE(std::as_const(second).Entries.data(), global.Entries.data());
  // A table that never had entries reads as black and holds none.
  const gif::GifColorTable empty;
  EXPECT_EQ(empty.Color(255), 0u);
}

TEST(Extension, TakeFromCopiesKindHeaderAndLines) {
  gif::TExtension source, target;
  source.Kind = gif::ekApplication;
  source.Header[0] = 11;
  source.Header[11] = '0';
  target.Lines = std::make_unique<tk::TStringList>(tk::TStringList{"mine"});
  target.TakeFrom(&source);  // the source has no lines: the target keeps its own
  EXPECT_EQ(target.Kind, gif::ekApplication);
  EXPECT_EQ(target.Header, source.Header);
  EXPECT_EQ(*target.Lines, (tk::TStringList{"mine"}));
  source.Lines = std::make_unique<tk::TStringList>(tk::TStringList{"x", "y"});
  target.TakeFrom(&source);
  EXPECT_EQ(*target.Lines, (tk::TStringList{"x", "y"}));
  EXPECT_NE(target.Lines.get(), source.Lines.get());
  TGIFImage picture;
  EXPECT_FAILS_WITH(target.TakeFrom(&picture), tk::EConvertError, "Cannot assign a TGIFImage to a TExtension");
}

}  // namespace
