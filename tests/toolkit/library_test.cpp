// Side libraries: DLLs written by mkreslib load and give back exactly the bytes put in; the
// search order; the program's own resources; resource streams; damaged images fail cleanly.
#include <gtest/gtest.h>


#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/run_program.h"
#include "common/test_paths.h"
#include "toolkit/system/library.h"
#include "toolkit/system/pe_resources.h"
#include "tools/mkreslib/reslib.h"

using namespace tk;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// A bitmap file: 14-byte file header, 40-byte information header, one 24-bit pixel row.
std::vector<std::uint8_t> BmpFile() {
  std::vector<std::uint8_t> f = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,
                                 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0};
  f.resize(54);
  f.insert(f.end(), {0x11, 0x22, 0x33, 0});
  return f;
}

std::vector<reslib::Resource> SampleResources() {
  std::vector<std::uint8_t> big(70000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  return {{RT_RCDATA, "PcT", Bytes("GIF89a pointer")},
          {RT_RCDATA, "PT", Bytes("x")},
          {RT_RCDATA, 101, std::move(big)},
          {RT_RCDATA, "EMPTY", {}},
          {RT_BITMAP, "B", reslib::BitmapResource(BmpFile())},
          {"CUSTOM", "Z", Bytes("named type")}};
}

std::vector<std::uint8_t> Slurp(const fs::path& p) { return ReadWholeFile(p.string()); }

void Spit(const fs::path& p, const std::vector<std::uint8_t>& bytes) { WriteWholeFile(p.string(), bytes); }

std::string Shell(const std::string& command, int* status = nullptr) {
  testpaths::CommandResult result = testpaths::RunCommand(command);
  if (status) *status = result.status;
  return result.output;
}

std::string Mkreslib() { return testpaths::Program("mkreslib"); }

std::string ReadAll(TStream& s) {
  std::string text(static_cast<std::size_t>(s.Remaining()), '\0');
  s.ReadBuffer(text.data(), text.size());
  return text;
}

// Changes the current directory for one scope.
struct InDirectory {
  fs::path previous = fs::current_path();
  explicit InDirectory(const fs::path& dir) { fs::current_path(dir); }
  ~InDirectory() { fs::current_path(previous); }
};

}  // namespace

class LibraryFormats : public ::testing::TestWithParam<reslib::ImageFormat> {};

TEST_P(LibraryFormats, GivesBackEveryResourceByNameAndById) {
  auto resources = SampleResources();
  TLibrary lib(LoadLibraryFromImage(reslib::BuildResourceDll(resources, GetParam())));
  ASSERT_TRUE(lib) << LastLibraryError();
  for (const auto& r : resources) {
    auto data = FindResource(lib.Handle(), r.name, r.type);
    ASSERT_TRUE(data) << r.name.Text();
    EXPECT_EQ(std::vector<std::uint8_t>(data->Bytes.begin(), data->Bytes.end()), r.bytes) << r.name.Text();
  }
  // Names without regard to case; types and kinds must match.
  EXPECT_TRUE(FindResource(lib.Handle(), "pct", RT_RCDATA));
  EXPECT_TRUE(FindResource(lib.Handle(), "b", RT_BITMAP));
  EXPECT_TRUE(FindResource(lib.Handle(), "z", "custom"));
  EXPECT_FALSE(FindResource(lib.Handle(), "PcT", RT_BITMAP));
  EXPECT_FALSE(FindResource(lib.Handle(), "101", RT_RCDATA));  // a text is not the id
  EXPECT_FALSE(FindResource(lib.Handle(), 102, RT_RCDATA));
  EXPECT_FALSE(FindResource(lib.Handle(), "PcTx", RT_RCDATA));

  // The bitmap resource is the file less its 14-byte header.
  auto bmp = LoadResource(lib.Handle(), "B", RT_BITMAP);
  ASSERT_EQ(bmp.Bytes.size(), BmpFile().size() - 14);
  EXPECT_EQ(bmp.Bytes[0], 40);

  auto listed = EnumResources(lib.Handle());
  ASSERT_EQ(listed.size(), resources.size());
  // Named types first, then ids; in each, names upper-case in order, then ids.
  EXPECT_EQ(listed[0].Type.Name(), "CUSTOM");
  EXPECT_EQ(listed[1].Type.Id(), RT_BITMAP);
  EXPECT_EQ(listed[2].Name.Name(), "EMPTY");
  EXPECT_EQ(listed[3].Name.Name(), "PCT");
  EXPECT_EQ(listed[4].Name.Name(), "PT");
  EXPECT_EQ(listed[5].Name.Id(), 101);
  EXPECT_EQ(listed[5].Size, 70000u);
}

INSTANTIATE_TEST_SUITE_P(Pe, LibraryFormats,
                         ::testing::Values(reslib::ImageFormat::Pe32, reslib::ImageFormat::Pe32Plus),
                         [](auto& info) {
                           return info.param == reslib::ImageFormat::Pe32 ? "Pe32" : "Pe32Plus";
                         });

TEST(Mkreslib, BuildsFromFilesAndObjdumpListsTheTree) {
  auto dir = testpaths::ScratchDir("mkreslib");
  Spit(dir / "mask.bmp", BmpFile());
  Spit(dir / "pointer.gif", Bytes("GIF87a...;"));
  for (bool plus : {false, true}) {
    const fs::path dll = dir / (plus ? "Vanes64.dll" : "Vanes.dll");
    int status = -1;
    std::string out = Shell(Mkreslib() + " " + dll.string() + (plus ? " --pe32plus" : "") +
                              " --bitmap B=" + (dir / "mask.bmp").string() + " --rcdata PcT=" +
                              (dir / "pointer.gif").string() + " --rcdata 7=" +
                              (dir / "pointer.gif").string(),
                          &status);
    ASSERT_EQ(status, 0) << out;

    TLibrary lib(dll.string().c_str());
    ASSERT_TRUE(lib) << LastLibraryError();
    EXPECT_TRUE(fs::equivalent(ModuleFileName(lib.Handle()), dll)) << ModuleFileName(lib.Handle());
    TResourceStream gif(lib.Handle(), "PcT", RT_RCDATA);
    EXPECT_EQ(ReadAll(gif), "GIF87a...;");
    TResourceStream byId(lib.Handle(), 7, RT_RCDATA);
    EXPECT_EQ(ReadAll(byId), "GIF87a...;");
    auto bmp = LoadResource(lib.Handle(), "B", RT_BITMAP);
    const auto file = BmpFile();
    EXPECT_TRUE(std::equal(bmp.Bytes.begin(), bmp.Bytes.end(), file.begin() + 14, file.end()));

#ifdef _WIN32
    continue;  // objdump is a tool of the build machine
#endif
    std::string dump = Shell("objdump -p " + dll.string(), &status);
    ASSERT_EQ(status, 0) << dump;
    EXPECT_NE(dump.find(plus ? "(PE32+)" : "(PE32)"), std::string::npos) << dump;
    EXPECT_NE(dump.find(plus ? "pei-x86-64" : "pei-i386"), std::string::npos) << dump;
    EXPECT_NE(dump.find("DLL"), std::string::npos);
    EXPECT_NE(dump.find("The .rsrc Resource Directory section"), std::string::npos) << dump;
    EXPECT_NE(dump.find("Entry: ID: 0x000002"), std::string::npos) << dump;  // RT_BITMAP
    EXPECT_NE(dump.find("Entry: ID: 0x00000a"), std::string::npos) << dump;  // RT_RCDATA
    EXPECT_NE(dump.find("len 1]: B,"), std::string::npos) << dump;
    EXPECT_NE(dump.find("len 3]: PCT,"), std::string::npos) << dump;
    EXPECT_NE(dump.find("Entry: ID: 0x000007"), std::string::npos) << dump;
    EXPECT_NE(dump.find("Size: 0x00000a,"), std::string::npos) << dump;  // the GIF's 10 bytes
    EXPECT_NE(dump.find("Size: 0x00002c,"), std::string::npos) << dump;  // the bitmap less its header
    EXPECT_EQ(dump.find("warning"), std::string::npos) << dump;
  }
}

TEST(Mkreslib, RejectsBadUsageAndBadInput) {
  auto dir = testpaths::ScratchDir("mkreslib_bad");
  Spit(dir / "text.bmp", Bytes("not a bitmap at all"));
  Spit(dir / "a.bin", Bytes("a"));
  const std::string out = (dir / "out.dll").string();
  int status = -1;
  Shell(Mkreslib(), &status);
  EXPECT_EQ(status, 2);
  Shell(Mkreslib() + " " + out + " --rcdata NOEQUALS", &status);
  EXPECT_EQ(status, 2);
  Shell(Mkreslib() + " " + out + " --rcdata 70000=" + (dir / "a.bin").string(), &status);
  EXPECT_EQ(status, 2);
  Shell(Mkreslib() + " " + out + " --frobnicate", &status);
  EXPECT_EQ(status, 2);
  std::string text = Shell(Mkreslib() + " " + out + " --bitmap B=" + (dir / "text.bmp").string(), &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(text.find("not a bitmap file"), std::string::npos) << text;
  text = Shell(Mkreslib() + " " + out + " --rcdata X=" + (dir / "missing").string(), &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(text.find("Cannot open file"), std::string::npos) << text;
  text = Shell(Mkreslib() + " " + out + " --rcdata pt=" + (dir / "a.bin").string() + " --rcdata PT=" +
                 (dir / "a.bin").string(),
             &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(text.find("duplicate resource"), std::string::npos) << text;
  EXPECT_FALSE(fs::exists(out));
}

TEST(LoadLibrary, SearchesTheProgramFolderThenTheCurrentDirectory) {
  auto cwd = testpaths::ScratchDir("library_search");
  const fs::path programDir = testpaths::TestProgramFolder();
  const fs::path inProgramDir = programDir / "TkSearchTest.dll";
  Spit(cwd / "TkSearchTest.dll", reslib::BuildResourceDll({{RT_RCDATA, "WHERE", Bytes("cwd")}},
                                                          reslib::ImageFormat::Pe32));
  Spit(inProgramDir, reslib::BuildResourceDll({{RT_RCDATA, "WHERE", Bytes("program")}},
                                              reslib::ImageFormat::Pe32Plus));
  InDirectory in(cwd);
  {
    TLibrary lib("TkSearchTest.dll");
    ASSERT_TRUE(lib) << LastLibraryError();
    TResourceStream s(lib.Handle(), "where", RT_RCDATA);
    EXPECT_EQ(ReadAll(s), "program");
  }
  fs::remove(inProgramDir);
  {
    TLibrary lib("TkSearchTest");  // ".dll" is added to a name without extension
    ASSERT_TRUE(lib) << LastLibraryError();
    TResourceStream s(lib.Handle(), "WHERE", RT_RCDATA);
    EXPECT_EQ(ReadAll(s), "cwd");
  }
  fs::remove(cwd / "TkSearchTest.dll");
  fs::create_directory(cwd / "TkSearchTest.dll");  // a folder of that name does not count
  EXPECT_EQ(LoadLibraryA("TkSearchTest.dll"), nullptr);
  EXPECT_NE(LastLibraryError().find("TkSearchTest.dll: not found"), std::string::npos) << LastLibraryError();
  Spit(cwd / "Plain.dll", Bytes("MZ but nothing else"));
  EXPECT_EQ(LoadLibraryA("Plain.dll"), nullptr);
#ifdef _WIN32
  // The system's loader says why in its own words.
  EXPECT_NE(LastLibraryError().find("Plain.dll: Bad EXE format"), std::string::npos) << LastLibraryError();
#else
  EXPECT_NE(LastLibraryError().find("no DOS header"), std::string::npos) << LastLibraryError();
#endif
  EXPECT_EQ(LoadLibraryA(""), nullptr);
}

TEST(LoadLibrary, NullHandleSearchesTheProgramsOwnResources) {
  RegisterOwnResource(RT_CURSOR, "TkOwnTest", Bytes("cursor file"));
  TResourceStream own(nullptr, "tkowntest", RT_CURSOR);
  EXPECT_EQ(ReadAll(own), "cursor file");
  RegisterOwnResource(RT_CURSOR, "TKOWNTEST", Bytes("replaced"));
  EXPECT_EQ(FindResource(nullptr, "TkOwnTest", RT_CURSOR)->Bytes.size(), 8u);
  EXPECT_EQ(ReadAll(own), "");  // the stream read to its end keeps the first bytes alive
  own.SetPosition(0);
  EXPECT_EQ(ReadAll(own), "cursor file");

  // The gadget's lookups after a failed load.
  HMODULE missing = LoadLibraryA("NoSuchLibrary.dll");
  EXPECT_EQ(missing, nullptr);
  try {
    TResourceStream s(missing, "PT", RT_RCDATA);
    FAIL();
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), "Resource PT not found");
  }
  try {
    LoadResource(missing, "B", RT_BITMAP);
    FAIL();
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), "Resource B not found");
  }
  EXPECT_FALSE(FreeLibrary(missing));
}

TEST(ResourceStream, OutlivesItsLibraryAndIsReadOnly) {
  HMODULE module = LoadLibraryFromImage(
      reslib::BuildResourceDll({{RT_RCDATA, "PT", Bytes("GIF89a")}}, reslib::ImageFormat::Pe32));
  ASSERT_NE(module, nullptr);
  TResourceStream s(module, "PT", RT_RCDATA);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(FreeLibrary(module));  // a handle is released once
  EXPECT_FALSE(FindResource(module, "PT", RT_RCDATA));  // and is dead afterwards
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.Size(), 6);
  char buf[8];
  EXPECT_EQ(s.Read(buf, 8), 6u);  // plain read at the end: what there is
  EXPECT_EQ(std::string(buf, 6), "GIF89a");
  s.SetPosition(4);
  EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);
  EXPECT_THROW(s.WriteU8(0), EStreamError);
  try {
    TResourceStream missing(module, "PT", RT_RCDATA);
    FAIL();
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), "Resource PT not found");
  }
}

// ---- Damaged images

namespace {

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b.at(at) = static_cast<std::uint8_t>(v);
  b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

// Loads the image and asks it everything; returns the load error ("" when it loaded).
std::string Exercise(std::vector<std::uint8_t> image) {
  HMODULE m = LoadLibraryFromImage(std::move(image));
  if (!m) return LastLibraryError();
  // Every listed resource is found (a tree that lies may list duplicates; the first is found).
  for (const auto& r : EnumResources(m)) EXPECT_TRUE(FindResource(m, r.Name, r.Type)) << r.Name.Text();
  FindResource(m, "PT", RT_RCDATA);
  FindResource(m, 1, RT_RCDATA);
  FreeLibrary(m);
  return "";
}

// The sample DLL and where its parts lie (the writer's fixed layout: headers at 0x40).
struct Sample {
  std::vector<std::uint8_t> image = reslib::BuildResourceDll(
      {{RT_RCDATA, "PT", Bytes("pointer")}, {RT_RCDATA, "PL", Bytes("left")}}, reslib::ImageFormat::Pe32);
  static constexpr std::size_t kCoff = 0x44, kOpt = 0x58, kSection = kOpt + 224, kRsrc = 0x200;
};

bool FindsPT(const std::vector<std::uint8_t>& image) {
  TLibrary lib(LoadLibraryFromImage(image));
  return lib && FindResource(lib.Handle(), "PT", RT_RCDATA).has_value();
}

}  // namespace

TEST(DamagedLibrary, HeadersThatLieAreRejectedWithAReason) {
  struct Case {
    const char* what;
    void (*damage)(std::vector<std::uint8_t>&);
    const char* reason;
  };
  const Case cases[] = {
      {"no MZ", [](auto& b) { b[0] = 'Z'; }, "no DOS header"},
      {"PE header offset beyond the end", [](auto& b) { Put32(b, 0x3C, 0xFFFFFFF0u); }, "beyond the file"},
      {"no PE signature", [](auto& b) { b[0x40] = 'X'; }, "no PE signature"},
      {"not a DLL", [](auto& b) { Put16(b, Sample::kCoff + 18, 0x0102); }, "not a DLL"},
      {"optional header longer than the file",
       [](auto& b) { Put16(b, Sample::kCoff + 16, 0xFFFF); }, "optional header cut short"},
      {"optional header too short for the directories",
       [](auto& b) { Put16(b, Sample::kCoff + 16, 64); }, "optional header cut short"},
      {"unknown magic", [](auto& b) { Put16(b, Sample::kOpt, 0x107); }, "magic"},
      {"two data directories only", [](auto& b) { Put32(b, Sample::kOpt + 92, 2); }, "no resource directory"},
      {"section table beyond the end", [](auto& b) { Put16(b, Sample::kCoff + 2, 0xFFFF); }, "section table"},
      {"resources outside every section",
       [](auto& b) { Put32(b, Sample::kOpt + 96 + 16, 0x9000); }, "outside every section"},
      {"section raw data beyond the end",
       [](auto& b) { Put32(b, Sample::kSection + 20, 0x7FFFFFF0u); }, "outside every section"},
  };
  for (const Case& c : cases) {
    Sample s;
    c.damage(s.image);
    EXPECT_NE(Exercise(s.image).find(c.reason), std::string::npos) << c.what << ": " << LastLibraryError();
  }
}

TEST(DamagedLibrary, TreesThatLieGiveNotFound) {
  // Resource section layout of the sample: root (16+8), type dir (16+2*8), two language dirs,
  // strings, then data entries and data.
  constexpr std::size_t kRoot = Sample::kRsrc, kTypeDir = Sample::kRsrc + 24;
  {
    Sample s;  // the type entry points back at the root: a loop
    Put32(s.image, kRoot + 16 + 4, 0x80000000u);
    EXPECT_FALSE(FindsPT(s.image));
    EXPECT_EQ(Exercise(s.image), "");
  }
  {
    Sample s;  // both name entries lead to the type directory itself
    Put32(s.image, kTypeDir + 16 + 4, 0x80000000u | 24);
    Put32(s.image, kTypeDir + 24 + 4, 0x80000000u | 24);
    EXPECT_FALSE(FindsPT(s.image));
    EXPECT_EQ(Exercise(s.image), "");
  }
  {
    Sample s;  // a directory claiming 65535 + 65535 entries
    Put16(s.image, kRoot + 12, 0xFFFF);
    Put16(s.image, kRoot + 14, 0xFFFF);
    EXPECT_FALSE(FindsPT(s.image));
    EXPECT_EQ(Exercise(s.image), "");
  }
  {
    Sample s;  // the name of "PL" lies beyond the section: that entry is skipped
    Put32(s.image, kTypeDir + 16, 0x80000000u | 0xFFFF0);
    EXPECT_TRUE(FindsPT(s.image));
    EXPECT_EQ(Exercise(s.image), "");
  }
  auto dataEntry = [](Sample& s) {
    // The data entry of the first resource, found through the tree as the loader would.
    std::size_t languageDir = Sample::kRsrc + (s.image[kTypeDir + 16 + 4] | s.image[kTypeDir + 16 + 5] << 8);
    return Sample::kRsrc + (s.image[languageDir + 20] | s.image[languageDir + 21] << 8);
  };
  auto findsPL = [](const std::vector<std::uint8_t>& image) {
    TLibrary lib(LoadLibraryFromImage(image));
    return lib && FindResource(lib.Handle(), "PL", RT_RCDATA).has_value();
  };
  {
    Sample s;  // the data of "PL" runs past the section; "PT" is still there
    Put32(s.image, dataEntry(s) + 4, 0x10000);
    EXPECT_FALSE(findsPL(s.image));
    EXPECT_TRUE(FindsPT(s.image));
    EXPECT_EQ(Exercise(s.image), "");
  }
  {
    Sample s;  // the data of "PL" lies at an address no section maps
    Put32(s.image, dataEntry(s), 0x7FFF0000u);
    EXPECT_FALSE(findsPL(s.image));
    EXPECT_EQ(Exercise(s.image), "");
  }
  // Every truncation of a good image either fails to load or answers without reading out of
  // bounds (the sanitizer build checks the latter).
  Sample good;
  for (std::size_t n = 0; n < good.image.size(); n += 7) {
    std::vector<std::uint8_t> cut(good.image.begin(), good.image.begin() + n);
    Exercise(cut);
  }
}

TEST(DamagedLibrary, OverlappingDirectoriesDoNotMultiplyTheWork) {
  // One resource whose data is a pattern of directory entries: read as directories, every 8-byte
  // offset in it claims over 32768 entries leading to 2048 further such directories. The root's
  // type entry is made to point into it. Walked naively that is some 10^8 entries.
  constexpr std::uint32_t kSlots = 60000, kTargets = 2048;
  constexpr std::uint32_t kData = 88;  // where the writer puts the data of one resource with an id
  std::vector<std::uint8_t> pattern(8 * kSlots);
  for (std::uint32_t j = 0; j < kSlots; ++j) {
    Put32(pattern, 8 * j, j & 0xFFFF);
    Put32(pattern, 8 * j + 4, 0x80000000u | (kData + 8 * (j % kTargets)));
  }
  auto image = reslib::BuildResourceDll({{RT_RCDATA, 1, pattern}}, reslib::ImageFormat::Pe32);
  ASSERT_TRUE(std::equal(pattern.begin(), pattern.begin() + 16, image.begin() + Sample::kRsrc + kData));
  Put32(image, Sample::kRsrc + 16 + 4, 0x80000000u | kData);
  TLibrary lib(LoadLibraryFromImage(image));
  ASSERT_TRUE(lib);
  EXPECT_LT(EnumResources(lib.Handle()).size(), image.size() / 8);
  FindResource(lib.Handle(), 1, RT_RCDATA);
}

TEST(DamagedLibrary, FuzzerFindingsFailCleanly) {
  const fs::path dir = fs::path(PROJECT_SOURCE_DIR) / "fuzz" / "regressions" / "library";
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    // A file either fails to load, saying why, or loads and answers every question.
    if (HMODULE m = LoadLibraryFromImage(Slurp(entry.path()))) {
      FreeLibrary(m);
    } else {
      EXPECT_FALSE(LastLibraryError().empty());
    }
    Exercise(Slurp(entry.path()));
    ++files;
  }
  EXPECT_GT(files, 0);
}

TEST(LoadLibrary, FindsTheLibraryTheBuildPutBesideTheProgram) {
  TLibrary lib("TkBuiltLib.dll");
  ASSERT_TRUE(lib) << LastLibraryError();
  const auto expected = Slurp(fs::path(PROJECT_SOURCE_DIR) / "tests" / "toolkit" / "data" / "sample.txt");
  for (const TResName& name : {TResName("sample"), TResName(12)}) {
    TResourceStream s(lib.Handle(), name, RT_RCDATA);
    EXPECT_EQ(ReadAll(s), std::string(expected.begin(), expected.end()));
  }
}
