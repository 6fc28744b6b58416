// The clipboard: format numbers, global blocks, the store's ownership, and copying and pasting
// graphics through the clipboard object.
#include <gtest/gtest.h>

#include <vector>

#include "tests/toolkit/test_graphic.h"
#include "toolkit/system/clipboard.h"
#include "toolkit/core/picture.h"

using namespace tk;
using testgraphic::TTestGraphic;

namespace {

constexpr TClipboardFormat kBitmap = 2, kPalette = 9;

std::string BlockText(THandle data) {
  TGlobalLock lock(reinterpret_cast<HGLOBAL>(data));
  return lock ? std::string(reinterpret_cast<const char*>(lock.Data()), lock.Size()) : "<dead>";
}

THandle TextBlock(const std::string& text) {
  TGlobalMemory block(text.size());
  TGlobalLock lock(block.Handle());
  std::copy(text.begin(), text.end(), lock.Data());
  return reinterpret_cast<THandle>(block.Release());
}

// Every test starts and ends with a closed, empty clipboard.
class ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override { Empty(); }
  void TearDown() override {
    Empty();
    SetClipboardReleaseHook(kBitmap, nullptr);
    SetClipboardReleaseHook(kPalette, nullptr);
  }
  static void Empty() {
    CloseClipboard();
    ASSERT_TRUE(OpenClipboard());
    EmptyClipboard();
    CloseClipboard();
  }
};

}  // namespace

TEST(ClipboardFormats, SameNameSameNumberFrom0xC000) {
  const TClipboardFormat gif = RegisterClipboardFormatA("GIF Image");
  EXPECT_GE(gif, 0xC000);
  EXPECT_EQ(RegisterClipboardFormatA("gif image"), gif);
  EXPECT_EQ(RegisterClipboardFormatA("GIF IMAGE"), gif);
  const TClipboardFormat icons = RegisterClipboardFormatA("Icon List");
  EXPECT_GE(icons, 0xC000);
  EXPECT_NE(icons, gif);
  EXPECT_EQ(GetClipboardFormatNameA(gif), "GIF Image");  // the first spelling is kept
  EXPECT_EQ(GetClipboardFormatNameA(kBitmap), "");
  EXPECT_EQ(RegisterClipboardFormatA(""), 0);
  EXPECT_EQ(RegisterClipboardFormatA(nullptr), 0);
}

TEST(GlobalMemory, BlocksAreZeroedSizedLockedAndFreedOnce) {
  HGLOBAL block = GlobalAlloc(GHND, 10);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalSize(block), 10u);
  auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::vector<std::uint8_t>(p, p + 10), std::vector<std::uint8_t>(10, 0));
  EXPECT_EQ(GlobalLock(block), p);  // a movable block stays put while we hold it
  EXPECT_TRUE(GlobalUnlock(block));  // still locked once
  EXPECT_FALSE(GlobalUnlock(block));
  EXPECT_FALSE(GlobalUnlock(block));  // not locked at all
  EXPECT_EQ(GlobalFree(block), nullptr);
  EXPECT_EQ(GlobalFree(block), block);  // a second free is refused
  EXPECT_EQ(GlobalSize(block), 0u);
  EXPECT_EQ(GlobalLock(block), nullptr);
  EXPECT_EQ(GlobalLock(nullptr), nullptr);

  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);  // size 0 still has memory to lock
  EXPECT_EQ(GlobalSize(empty), 0u);
  EXPECT_NE(GlobalLock(empty), nullptr);
  EXPECT_EQ(GlobalFree(empty), nullptr);
  EXPECT_EQ(GlobalAlloc(GHND, std::size_t{1} << 40), nullptr);  // too large: no block

  HGLOBAL held;
  {
    TGlobalMemory memory(4);
    held = memory.Handle();
    EXPECT_EQ(GlobalSize(held), 4u);
  }
  EXPECT_EQ(GlobalSize(held), 0u);  // freed with its holder
  TGlobalMemory memory(4);
  HGLOBAL released = memory.Release();
  EXPECT_FALSE(memory);
  EXPECT_EQ(GlobalFree(released), nullptr);
}

TEST_F(ClipboardTest, TheStoreOwnsWhatIsSetAndReleasesIt) {
  THandle a = TextBlock("first"), b = TextBlock("second");
  EXPECT_EQ(SetClipboardData(0xC123, a), 0u);  // not open: refused, still ours
  EXPECT_EQ(GetClipboardData(0xC123), 0u);
  ASSERT_TRUE(OpenClipboard());
  EXPECT_FALSE(OpenClipboard());  // one user at a time
  EXPECT_EQ(SetClipboardData(0xC123, 0), 0u);
  EXPECT_EQ(SetClipboardData(0xC123, a), a);
  EXPECT_EQ(SetClipboardData(CF_TEXT, b), b);
  EXPECT_EQ(EnumClipboardFormats(0), 0xC123);  // in the order set
  EXPECT_EQ(EnumClipboardFormats(0xC123), CF_TEXT);
  EXPECT_EQ(EnumClipboardFormats(CF_TEXT), 0);
  EXPECT_EQ(BlockText(GetClipboardData(0xC123)), "first");

  THandle c = TextBlock("third");  // replacing a format releases its old data
  EXPECT_EQ(SetClipboardData(0xC123, c), c);
  EXPECT_EQ(GlobalSize(reinterpret_cast<HGLOBAL>(a)), 0u);
  EXPECT_EQ(BlockText(GetClipboardData(0xC123)), "third");
  EXPECT_TRUE(CloseClipboard());

  EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT));  // asking needs no opening
  EXPECT_EQ(GetClipboardData(CF_TEXT), 0u);          // reading does
  EXPECT_FALSE(EmptyClipboard());
  ASSERT_TRUE(OpenClipboard());
  EXPECT_TRUE(EmptyClipboard());
  EXPECT_EQ(GlobalSize(reinterpret_cast<HGLOBAL>(b)), 0u);
  EXPECT_EQ(GlobalSize(reinterpret_cast<HGLOBAL>(c)), 0u);
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
  EXPECT_EQ(EnumClipboardFormats(0), 0);
  CloseClipboard();
}

TEST_F(ClipboardTest, GraphicsHandlesGoBackThroughTheirReleaseHook) {
#ifdef _WIN32
  GTEST_SKIP() << "the system's clipboard takes graphics in its own form (tests/gif/win32_clipboard_test.cpp)";
#endif
  std::vector<std::pair<TClipboardFormat, THandle>> released;
  SetClipboardReleaseHook(kBitmap, [&](THandle h) { released.emplace_back(kBitmap, h); });
  SetClipboardReleaseHook(kPalette, [&](THandle h) { released.emplace_back(kPalette, h); });
  ASSERT_TRUE(OpenClipboard());
  SetClipboardData(kBitmap, 0x1000);
  SetClipboardData(kPalette, 0x2000);
  SetClipboardData(kBitmap, 0x3000);
  EXPECT_EQ(released, (std::vector<std::pair<TClipboardFormat, THandle>>{{kBitmap, 0x1000}}));
  EmptyClipboard();
  EXPECT_EQ(released, (std::vector<std::pair<TClipboardFormat, THandle>>{
                          {kBitmap, 0x1000}, {kBitmap, 0x3000}, {kPalette, 0x2000}}));
  CloseClipboard();
}

TEST_F(ClipboardTest, CopiesAGraphicAndPastesItIntoAPicture) {
#ifdef _WIN32
  GTEST_SKIP() << "the test graphic's palette is no real palette (tests/gif/win32_clipboard_test.cpp)";
#endif
  std::vector<THandle> palettes;
  SetClipboardReleaseHook(kPalette, [&](THandle h) { palettes.push_back(h); });
  TPicture::RegisterClipboardFormat(testgraphic::Format(), ClassOf<TTestGraphic>("TTestGraphic"));

  // Something already there goes when the graphic is copied.
  Clipboard().SetAsHandle(CF_TEXT, TextBlock("old"));
  TTestGraphic graphic;
  graphic.text = "pixels with palette";
  Clipboard().TakeFrom(&graphic);
  EXPECT_FALSE(Clipboard().HasFormat(CF_TEXT));
  EXPECT_TRUE(Clipboard().HasFormat(testgraphic::Format()));
  EXPECT_TRUE(Clipboard().HasFormat(kPalette));
  EXPECT_EQ(BlockText(Clipboard().GetAsHandle(testgraphic::Format())), "pixels with palette");
  EXPECT_TRUE(OpenClipboard());  // the clipboard object closed the store again
  CloseClipboard();

  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TPicture*) { ++changes; };
  picture.TakeFrom(&Clipboard());  // the clipboard hands itself over: a paste
  ASSERT_NE(dynamic_cast<TTestGraphic*>(picture.Graphic()), nullptr);
  EXPECT_EQ(static_cast<TTestGraphic*>(picture.Graphic())->text, "pixels with palette");
  EXPECT_EQ(changes, 1);

  Clipboard().Clear();
  EXPECT_EQ(palettes, std::vector<THandle>{0x9});
  try {
    Clipboard().PasteInto(picture);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Unsupported clipboard format");
  }
  EXPECT_EQ(static_cast<TTestGraphic*>(picture.Graphic())->text, "pixels with palette");
  TPicture::UnregisterGraphicClass("TTestGraphic");
}

TEST_F(ClipboardTest, FailuresLeaveNothingBehindAndTheStoreClosed) {
  std::vector<THandle> palettes;
  SetClipboardReleaseHook(kPalette, [&](THandle h) { palettes.push_back(h); });
  TTestGraphic graphic;
  graphic.text = "palette";
  graphic.failInToClipboard = true;
  EXPECT_THROW(Clipboard().CopyGraphic(graphic), EInvalidGraphicOperation);
  EXPECT_EQ(palettes, std::vector<THandle>{0x9});  // the outputs it filled were released
  EXPECT_FALSE(Clipboard().HasFormat(testgraphic::Format()));

  ASSERT_TRUE(OpenClipboard());  // held elsewhere: the clipboard object cannot open it
  try {
    Clipboard().Clear();
    FAIL();
  } catch (const EClipboardError& e) {
    EXPECT_EQ(e.Message(), "Cannot open clipboard");
  }
  CloseClipboard();
  TPicture empty;
  Clipboard().SetAsHandle(CF_TEXT, TextBlock("x"));
  Clipboard().TakeFrom(&empty);  // an empty picture empties the clipboard
  EXPECT_FALSE(Clipboard().HasFormat(CF_TEXT));
}
