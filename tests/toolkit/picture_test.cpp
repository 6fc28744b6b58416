// The picture machinery: class registry, file and clipboard format registries, and the picture
// container's loading, stored values and change notification.
#include <gtest/gtest.h>

#include "common/test_paths.h"
#include "tests/toolkit/test_graphic.h"
#include "toolkit/core/picture.h"
#include "toolkit/core/streams.h"

using namespace tk;
using testgraphic::TTestGraphic;

namespace {

struct TNotAGraphic : TPersistent {
  std::string_view ClassName() const override { return "TNotAGraphic"; }
};

// Registers the test graphic for the tests of this file and withdraws it afterwards.
class PictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass(ClassOf<TTestGraphic>("TTestGraphic"));
    TPicture::RegisterFileFormat("tst", "Test Graphic File", ClassOf<TTestGraphic>("TTestGraphic"));
    TPicture::RegisterClipboardFormat(testgraphic::Format(), ClassOf<TTestGraphic>("TTestGraphic"));
  }
  void TearDown() override {
    TPicture::UnregisterGraphicClass("TTestGraphic");
    UnregisterClass("TTestGraphic");
  }
};

std::vector<std::uint8_t> Stored(std::string_view name, std::string_view text) {
  TMemoryStream s;
  s.WriteU8(static_cast<std::uint8_t>(name.size()));
  s.WriteBuffer(name.data(), name.size());
  s.WriteU32(static_cast<std::uint32_t>(text.size()));
  s.WriteBuffer(text.data(), text.size());
  return s.Release();
}

std::string Text(const TPicture& p) {
  auto* g = dynamic_cast<TTestGraphic*>(p.Graphic());
  return g ? g->text : "<none>";
}

}  // namespace

TEST(ClassRegistry, FindsClassesByNameWithoutRegardToCase) {
  RegisterClass(ClassOf<TNotAGraphic>("TNotAGraphic"));
  ASSERT_NE(FindClass("tnotagraphic"), nullptr);
  EXPECT_EQ(CreateObject("TNOTAGRAPHIC")->ClassName(), "TNotAGraphic");
  struct TOwnedOnly : TPersistent {
    explicit TOwnedOnly(int) {}
    std::string_view ClassName() const override { return "TOwnedOnly"; }
  };
  RegisterClass(ClassOf<TOwnedOnly>("TOwnedOnly"));  // registered, but made only by its owner
  EXPECT_NE(FindClass("TOwnedOnly"), nullptr);
  try {
    CreateObject("TOwnedOnly");
    FAIL();
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(e.Message(), "Class TOwnedOnly not found");
  }
  UnregisterClass("TNotAGraphic");
  UnregisterClass("TOwnedOnly");
  EXPECT_EQ(FindClass("TNotAGraphic"), nullptr);
  EXPECT_THROW(CreateObject("TNotAGraphic"), EClassNotFound);
}

TEST_F(PictureTest, StoredValueIsLengthByteClassNameThenTheGraphicsData) {
  TPicture picture;
  auto graphic = std::make_unique<TTestGraphic>();
  graphic->text = "GIF87a;";
  picture.SetGraphic(std::move(graphic));
  TMemoryStream out;
  picture.WriteStoredValue(out);
  const auto expected = Stored("TTestGraphic", "GIF87a;");
  EXPECT_EQ(std::vector<std::uint8_t>(out.Bytes().begin(), out.Bytes().end()), expected);

  // Read back through the class registry; the stream is left just behind the value.
  out.WriteU8(0xEE);
  out.SetPosition(0);
  TPicture back;
  back.ReadStoredValue(out);
  EXPECT_EQ(back.Graphic()->ClassName(), "TTestGraphic");
  EXPECT_EQ(Text(back), "GIF87a;");
  EXPECT_EQ(out.Position(), static_cast<std::int64_t>(expected.size()));
  TMemoryStream again;
  back.WriteStoredValue(again);
  EXPECT_EQ(std::vector<std::uint8_t>(again.Bytes().begin(), again.Bytes().end()), expected);

  // No graphic: a zero length byte and nothing more; reading it empties a picture.
  TPicture none;
  TMemoryStream empty;
  none.WriteStoredValue(empty);
  EXPECT_EQ(empty.Size(), 1);
  empty.SetPosition(0);
  back.ReadStoredValue(empty);
  EXPECT_EQ(back.Graphic(), nullptr);
}

TEST_F(PictureTest, StoredValuesThatCannotBeReadFailClearly) {
  TPicture picture;
  auto graphic = std::make_unique<TTestGraphic>();
  graphic->text = "kept";
  picture.SetGraphic(std::move(graphic));
  auto read = [&](std::vector<std::uint8_t> bytes) {
    TMemoryStream s(std::move(bytes));
    picture.ReadStoredValue(s);
  };
  try {
    read(Stored("TBitmapX", "data"));
    FAIL();
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(e.Message(), "Class TBitmapX not found");
  }
  RegisterClass(ClassOf<TNotAGraphic>("TNotAGraphic"));
  EXPECT_THROW(read(Stored("TNotAGraphic", "")), EInvalidGraphic);
  UnregisterClass("TNotAGraphic");
  auto cut = Stored("TTestGraphic", "GIF87a");
  cut.pop_back();  // the graphic's data runs short
  EXPECT_THROW(read(cut), EReadError);
  EXPECT_THROW(read({12, 'T', 'T', 'e'}), EReadError);  // the class name runs short
  EXPECT_THROW(read({}), EReadError);
  EXPECT_EQ(Text(picture), "kept");  // every failure leaves the picture as it was
}

TEST_F(PictureTest, LoadsFilesByExtension) {
  auto dir = testpaths::ScratchDir("picture_files");
  WriteWholeFile((dir / "shape.TsT").string(), std::vector<std::uint8_t>{'a', 'b'});
  WriteWholeFile((dir / "shape.xyz").string(), std::vector<std::uint8_t>{'a'});
  ASSERT_NE(TPicture::FindFileFormat("TST"), nullptr);
  EXPECT_EQ(TPicture::FindFileFormat(".tst")->Description, "Test Graphic File");

  TPicture picture;
  int changes = 0;
  std::vector<std::string> progress;
  picture.OnChange = [&](TPicture* p) {
    EXPECT_EQ(p, &picture);
    ++changes;
  };
  picture.OnProgress = [&](TPersistent*, TProgressStage, int, bool, const TRect&, const std::string& msg) {
    progress.push_back(msg);
  };
  picture.LoadFromFile((dir / "shape.TsT").string());
  EXPECT_EQ(Text(picture), "ab");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(progress, std::vector<std::string>{"loaded"});  // reported while loading

  // The graphic's own changes reach the picture's handler.
  picture.Graphic()->Changed();
  EXPECT_EQ(changes, 2);
  picture.Graphic()->SetTransparent(true);
  EXPECT_EQ(changes, 3);

  for (const char* bad : {"shape.xyz", "noextension", "dir.tst/file"}) {
    try {
      picture.LoadFromFile((dir / bad).string());
      FAIL() << bad;
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), std::string("Unknown picture file extension (.") +
                                 (std::string(bad) == "shape.xyz" ? "xyz" : "") + ")");
    }
  }
  EXPECT_THROW(picture.LoadFromFile((dir / "missing.tst").string()), EFOpenError);
  EXPECT_EQ(Text(picture), "ab");

  picture.SaveToFile((dir / "copy.tst").string());
  EXPECT_EQ(ReadWholeFile((dir / "copy.tst").string()), (std::vector<std::uint8_t>{'a', 'b'}));
}

TEST_F(PictureTest, UnregisteringAGraphicClassRemovesItsFormats) {
  EXPECT_TRUE(TPicture::SupportsClipboardFormat(testgraphic::Format()));
  TPicture::RegisterFileFormat("tst2", "Second", ClassOf<TTestGraphic>("TTestGraphic"));
  TPicture::UnregisterGraphicClass("TTestGraphic");
  EXPECT_EQ(TPicture::FindFileFormat("tst"), nullptr);
  EXPECT_EQ(TPicture::FindFileFormat("tst2"), nullptr);
  EXPECT_FALSE(TPicture::SupportsClipboardFormat(testgraphic::Format()));
  EXPECT_NE(FindClass("TTestGraphic"), nullptr);  // the class registry keeps it for stored values

  TPicture picture;
  try {
    picture.LoadFromClipboardFormat(testgraphic::Format(), 0, nullptr);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Unsupported clipboard format");
  }
  try {
    picture.LoadFromFile("x.tst");
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Unknown picture file extension (.tst)");
  }
}

TEST_F(PictureTest, TakesACopyOfAGraphicOrAnotherPicture) {
  TTestGraphic source;
  source.text = "dial";
  TPicture a;
  int changes = 0;
  a.OnChange = [&](TPicture*) { ++changes; };
  a.TakeFrom(&source);  // a new graphic of the source's class, made through the registry
  ASSERT_NE(a.Graphic(), nullptr);
  EXPECT_NE(a.Graphic(), &source);
  EXPECT_EQ(Text(a), "dial");
  EXPECT_EQ(changes, 1);
  TPicture b;
  b.TakeFrom(&a);
  EXPECT_EQ(Text(b), "dial");
  EXPECT_NE(b.Graphic(), a.Graphic());
  b.TakeFrom(&b);  // itself: nothing happens
  EXPECT_EQ(Text(b), "dial");
  b.TakeFrom(nullptr);
  EXPECT_EQ(b.Graphic(), nullptr);
  EXPECT_EQ(b.Width(), 0);
  a.TakeFrom(&b);  // an empty picture empties
  EXPECT_EQ(a.Graphic(), nullptr);

  struct TUnregistered : TTestGraphic {
    std::string_view ClassName() const override { return "TUnregistered"; }
  };
  TUnregistered stranger;
  try {
    b.TakeFrom(&stranger);
    FAIL();
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(e.Message(), "Class TUnregistered not found");
  }
  TNotAGraphic other;
  try {
    b.TakeFrom(&other);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TNotAGraphic to a TPicture");
  }
}
