// Exceptions, message formatting, streams, lists, persistent objects and shared holders.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(__unix__)
#include <sys/resource.h>
#endif

#include "toolkit/core/byte_reader.h"
#include "toolkit/core/exceptions.h"
#include "toolkit/core/graphic.h"
#include "toolkit/core/lists.h"
#include "toolkit/core/persistent.h"
#include "toolkit/core/streams.h"
#include "tests/toolkit/test_graphic.h"

using namespace tk;

TEST(Format, FillsTheThreePlaceholderKinds) {
  EXPECT_EQ(Format("Resource %s not found", {"B"}), "Resource B not found");
  EXPECT_EQ(Format("List index out of bounds (%d)", {std::int64_t{-1}}), "List index out of bounds (-1)");
  EXPECT_EQ(Format("Unrecognized extension block: %.2x", {std::int64_t{0x2C}}),
            "Unrecognized extension block: 2C");
  EXPECT_EQ(Format("%.2x", {std::int64_t{5}}), "05");
  EXPECT_EQ(Format("Cannot assign a %s to a %s", {"TIcon", "TGIFImage"}),
            "Cannot assign a TIcon to a TGIFImage");
  EXPECT_EQ(Format("100%% %s", {"done"}), "100% done");
  EXPECT_EQ(Format("%s and %s", {"one"}), "one and %s");
}

TEST(Exceptions, CarryTheMessageTextsVerbatim) {
  EXPECT_STREQ(EReadError().what(), "Stream read error");
  EXPECT_STREQ(EListError(7).what(), "List index out of bounds (7)");
  EXPECT_STREQ(EResNotFound("PcT").what(), "Resource PcT not found");
  EXPECT_THROW(StrToInt(""), EConvertError);
  try {
    StrToInt("");
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'' is not a valid integer value");
  }
  try {
    StrToInt("12a");
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'12a' is not a valid integer value");
  }
  EXPECT_EQ(StrToInt("5"), 5);
  EXPECT_EQ(StrToInt("-12"), -12);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
}

TEST(MemoryStream, PlainAndExactReadsAtTheEnd) {
  TMemoryStream s;
  const char text[] = "abcdef";
  s.WriteBuffer(text, 6);
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.Position(), 6);
  s.SetPosition(4);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 2u);  // plain read: what is there
  EXPECT_EQ(std::string(buf, 2), "ef");
  EXPECT_EQ(s.Read(buf, 8), 0u);
  s.SetPosition(4);
  EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);  // exact read fails
  s.SetPosition(4);
  EXPECT_NO_THROW(s.ReadBuffer(buf, 2));
  EXPECT_NO_THROW(s.ReadBuffer(buf, 0));
}

TEST(MemoryStream, SeekTruncateAndGrow) {
  TMemoryStream s;
  s.WriteU32(0x04030201);
  EXPECT_EQ(s.Seek(-1, SeekOrigin::Beginning), -1);  // refused, position unchanged
  EXPECT_EQ(s.Position(), 4);
  EXPECT_EQ(s.Seek(10, SeekOrigin::Beginning), 10);  // beyond the end is allowed
  char c;
  EXPECT_EQ(s.Read(&c, 1), 0u);
  s.WriteU8(9);  // writing there fills the gap with zeros
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.Memory()[5], 0);
  s.SetSize(2);
  EXPECT_EQ(s.Position(), 2);
  s.SetPosition(0);
  EXPECT_EQ(s.ReadU16(), 0x0201);
  EXPECT_THROW(s.ReadU8(), EReadError);
}

TEST(MemoryStream, SharedBytesAreReadInPlaceAndCopiedOnTheFirstChange) {
  auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::vector<std::uint8_t>{1, 2, 3, 4});
  const std::span<const std::uint8_t> all(*bytes);
  TMemoryStream s(all.subspan(1, 2), bytes);
  EXPECT_TRUE(s.Shares());
  EXPECT_EQ(s.Size(), 2);
  EXPECT_EQ(std::as_const(s).Memory(), bytes->data() + 1);  // no copy
  EXPECT_EQ(s.ReadU8(), 2);
  EXPECT_EQ(bytes.use_count(), 2);
  s.SetSize(1);  // fewer bytes: still shared
  EXPECT_TRUE(s.Shares());
  s.SetPosition(1);
  s.WriteU8(9);  // a change: the stream's own copy, the shared bytes untouched
  EXPECT_FALSE(s.Shares());
  EXPECT_EQ(std::vector<std::uint8_t>(s.Bytes().begin(), s.Bytes().end()), (std::vector<std::uint8_t>{2, 9}));
  EXPECT_EQ(*bytes, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(bytes.use_count(), 1);
  TMemoryStream cleared(all, bytes);
  cleared.Clear();  // empty: the owner is let go
  EXPECT_FALSE(cleared.Shares());
  EXPECT_EQ(bytes.use_count(), 1);
}

TEST(MemoryStream, CopyFromTakesExactlyTheCount) {
  TMemoryStream source(std::vector<std::uint8_t>{1, 2, 3, 4, 5});
  TMemoryStream target;
  source.SetPosition(1);
  EXPECT_EQ(target.CopyFrom(source, 3), 3);
  EXPECT_EQ(std::vector<std::uint8_t>(target.Bytes().begin(), target.Bytes().end()),
            (std::vector<std::uint8_t>{2, 3, 4}));
  EXPECT_THROW(target.CopyFrom(source, 2), EReadError);  // one byte left
  EXPECT_THROW(target.CopyFrom(source, -1), EReadError);
  EXPECT_EQ(target.CopyFrom(source, 0), 5);  // 0: the whole source from its start
  EXPECT_EQ(target.Size(), 8);
}

TEST(ReadOnlyStream, ReadsAndRefusesWrites) {
  static const std::uint8_t bytes[] = {1, 2, 3};
  TReadOnlyMemoryStream s(bytes);
  EXPECT_EQ(s.ReadU8(), 1);
  EXPECT_EQ(s.Seek(0, SeekOrigin::End), 3);
  EXPECT_THROW(s.WriteU8(1), EStreamError);
}

TEST(FileStream, RoundTripAndOpenFailure) {
  auto path = std::filesystem::temp_directory_path() / "tk_core_test.bin";
  {
    TFileStream f(path.string(), FileMode::Create);
    f.WriteU32(0xDEADBEEF);
  }
  {
    TFileStream f(path.string(), FileMode::OpenRead);
    EXPECT_EQ(f.Size(), 4);
    EXPECT_EQ(f.ReadU32(), 0xDEADBEEFu);
    EXPECT_THROW(f.ReadU8(), EReadError);
  }
  std::filesystem::remove(path);
  EXPECT_THROW(TFileStream(path.string(), FileMode::OpenRead), EFOpenError);
  EXPECT_THROW(TFileStream("/", FileMode::OpenRead), EFOpenError);  // a directory
}

namespace {

namespace fs = std::filesystem;

// The names in a folder, sorted.
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Content(const fs::path& file) {
  const auto bytes = ReadWholeFile(file.string());
  return std::string(bytes.begin(), bytes.end());
}

void Write(const fs::path& file, std::string_view text) {
  WriteWholeFile(file.string(), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// A graphic whose saving writes 64 KiB, then fails.
class TFailingGraphic : public testgraphic::TTestGraphic {
 public:
  void SaveStream(TStream& s) override {
    s.WriteBuffer(std::string(65536, 'x').data(), 65536);
    throw EWriteError();
  }
};

// An exception's message, or "" when none is thrown.
template <class F>
std::string FailureOf(F&& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

}  // namespace

TEST(AtomicFile, ReplacesTheFileWholeOrLeavesItAsItWas) {
  const fs::path folder = fs::temp_directory_path() / "tk_atomic_test";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path file = folder / "out.bin";
  Write(file, "first");
  Write(file, "second");
  EXPECT_EQ(Content(file), "second");
  EXPECT_EQ(Listing(folder), std::vector<std::string>{"out.bin"});

  // A save that fails half-way: the file as it was, no temporary file left.
  TFailingGraphic failing;
  EXPECT_EQ(FailureOf([&] { failing.SaveToFile(file.string()); }), "Stream write error");
  EXPECT_EQ(Content(file), "second");
  EXPECT_EQ(Listing(folder), std::vector<std::string>{"out.bin"});
  testgraphic::TTestGraphic good;
  good.text = "third";
  good.SaveToFile(file.string());
  EXPECT_EQ(Content(file), "third");

  // The target is a folder that holds a file: the rename fails and says which file and why.
  const fs::path taken = folder / "taken";
  fs::create_directories(taken);
  Write(taken / "inside", "kept");
  const std::string failure = FailureOf([&] { Write(taken, "lost"); });
  EXPECT_EQ(failure.rfind("Cannot write file " + taken.string() + ". ", 0), 0u) << failure;
  EXPECT_EQ(Content(taken / "inside"), "kept");
  EXPECT_EQ(Listing(folder), (std::vector<std::string>{"out.bin", "taken"}));
  // A folder that does not exist.
  EXPECT_EQ(FailureOf([&] { Write(folder / "none" / "x.bin", ""); }),
            "Cannot create file " + (folder / "none" / "x.bin").string() + ". No such file or directory");
  fs::remove_all(folder);
}

#if defined(__unix__)
TEST(AtomicFile, AWriteTheSystemRefusesNamesTheFileAndTheReason) {
  // A file size limit makes the system refuse the write after 8 KiB, as a full disk would.
  const fs::path folder = fs::temp_directory_path() / "tk_atomic_limit_test";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path file = folder / "out.bin";
  Write(file, "before");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit limit = old;
  limit.rlim_cur = 8192;
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::string failure = FailureOf([&] { Write(file, std::string(65536, 'y')); });
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(failure, "Cannot write file " + file.string() + ". File too large");
  EXPECT_EQ(Content(file), "before");
  EXPECT_EQ(Listing(folder), std::vector<std::string>{"out.bin"});
  fs::remove_all(folder);
}
#endif

TEST(Lists, StringListHoldsAnyBytesAndChecksIndexes) {
  TStringList l;
  l.Add(std::string("a\0b", 3));
  l.Add("");
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l[0].size(), 3u);
  try {
    (void)l[2];
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (2)");
  }
  TStringList copy;
  copy.Assign(l);
  EXPECT_EQ(copy, l);
}

namespace {
int destroyed = 0;
struct Counted {
  explicit Counted(int i) : id(i) {}
  int id;
  ~Counted() { destroyed = destroyed * 10 + id; }
};
}  // namespace

TEST(Lists, ObjectListOwnsAndFreesInOrder) {
  destroyed = 0;
  {
    TObjectList<Counted> l;
    l.Add(std::make_unique<Counted>(1));
    l.Add(std::make_unique<Counted>(2));
    l.Add(std::make_unique<Counted>(3));
    EXPECT_THROW(l.At(3), EListError);
    EXPECT_THROW(l.At(-1), EListError);
    auto taken = l.Extract(1);
    EXPECT_EQ(l.Count(), 2);
    EXPECT_EQ(destroyed, 0);
    l.Clear();
    EXPECT_EQ(destroyed, 13);  // first to last
  }
  EXPECT_EQ(destroyed, 132);  // the extracted one goes with its owner
}

namespace {
struct Holder : TSharedImage {
  int* released;
  explicit Holder(int* r) : released(r) {}
  void ReleaseContents() override { ++*released; }
};
struct Thing : TPersistent {
  std::string_view ClassName() const override { return "TThing"; }
};
struct Other : TPersistent {
  std::string_view ClassName() const override { return "TOther"; }
};
}  // namespace

TEST(SharedImage, CountsReferencesAndReleasesWithTheLast) {
  int released = 0;
  auto* h = new Holder(&released);
  EXPECT_EQ(h->RefCount(), 0);
  h->AddReference();
  h->AddReference();
  EXPECT_EQ(h->RefCount(), 2);
  TSharedImage::DropReference(h);
  EXPECT_EQ(released, 0);
  TSharedImage::DropReference(h);
  EXPECT_EQ(released, 1);
  TSharedImage::DropReference(nullptr);  // null-safe

  int released2 = 0;
  {
    TSharedRef<Holder> a(new Holder(&released2));
    TSharedRef<Holder> b = a;
    EXPECT_EQ(a->RefCount(), 2);
    a.reset();
    EXPECT_EQ(b->RefCount(), 1);
  }
  EXPECT_EQ(released2, 1);
}

TEST(Persistent, LastResortNamesSourceAndTarget) {
  Thing t;
  Other o;
  try {
    t.TakeFrom(&o);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TOther to a TThing");
  }
  try {
    t.TakeFrom(nullptr);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a nil to a TThing");
  }
}

TEST(ByteReader, PlainReadsZeroFillExactReadsFailWithAReason) {
  const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
  ByteReader data(bytes, [](std::string reason) { throw EReadError(Reason{std::move(reason)}); });
  EXPECT_EQ(data.ReadU16(), 0x0201);
  EXPECT_EQ(data.ReadExactByte("a byte"), 3);
  // A plain read takes what there is and reads the rest as zero.
  std::uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_EQ(data.Read(out, 4), 2u);
  EXPECT_EQ(out[1], 5);
  EXPECT_EQ(out[2], 0);
  EXPECT_TRUE(data.AtEnd());
  // An exact read fails with the system's text and a reason naming the part.
  data.Seek(3);
  try {
    data.ReadExactU32("the count");
    FAIL() << "read past the end";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
    EXPECT_EQ(e.ReasonText(), "the count: 4 bytes needed at offset 3, 2 there");
  }
  EXPECT_EQ(data.Position(), 3u);  // a failed read moves nothing
  // Parts have bounds of their own; a position may lie beyond the end, where nothing is read.
  ByteReader part = data.At(1, 2, "a part");
  EXPECT_EQ(part.ReadU32(), 0x0302u);
  EXPECT_THROW(data.At(4, 2, "a part"), EReadError);
  data.Skip(1000);
  EXPECT_EQ(data.Position(), 1003u);
  EXPECT_EQ(data.ReadByte(), 0);
  EXPECT_EQ(data.Remaining(), 0u);
  // The one message, whatever the reason.
  EXPECT_EQ(EReadError(Reason{"why"}).Message(), "Stream read error");
  EXPECT_TRUE(EReadError().ReasonText().empty());
}
