#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "IniFile.h"
#include "StoreTestUtil.h"

namespace {

class TIniDir {
public:
  TIniDir() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-ini-XXXXXX").string();
    Path = ::mkdtemp(Pattern.data());
  }
  ~TIniDir() {
    std::error_code Ignored;
    std::filesystem::remove_all(Path, Ignored);
  }
  std::string operator/(const std::string& Name) const { return Path + "/" + Name; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> Names;
    for (const auto& Entry : std::filesystem::directory_iterator(Path)) Names.push_back(Entry.path().filename());
    std::sort(Names.begin(), Names.end());
    return Names;
  }
  std::string Path;
};

std::string Slurp(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

void Spill(const std::string& Path, const std::string& Bytes) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out << Bytes;
}

std::vector<std::string> AllOf(TSectionedIniFile& Ini) {
  std::vector<std::string> Lines;
  Ini.ReadAll(Lines);
  return Lines;
}

std::vector<std::string> SectionsOf(TSectionedIniFile& Ini) {
  std::vector<std::string> Names;
  Ini.ReadSections(Names);
  return Names;
}

using Lines = std::vector<std::string>;

// An engine over a file holding Bytes.
struct TLoaded {
  explicit TLoaded(const std::string& Bytes) : Path(Dir / "test.ini") {
    Spill(Path, Bytes);
    Ini = std::make_unique<TSectionedIniFile>(Path);
  }
  TIniDir Dir;
  std::string Path;
  std::unique_ptr<TSectionedIniFile> Ini;
};

}  // namespace

// --- Reading a file -------------------------------------------------------

TEST(IniLoad, LineEndsMarksAndBlankLines) {
  // CR ends a line, CR LF too; a lone LF stays inside the line; blank lines
  // and lines before the first header vanish; nothing after code 26 counts.
  TLoaded F("lost=1\r\n[A]\r\nx=1\r\r\n\ry=a\nb\r[B]\rz=2\x1a[C]\r\nw=3\r\n");
  EXPECT_EQ(AllOf(*F.Ini), (Lines{"[A]", "x=1", "y=a\nb", "", "[B]", "z=2", ""}));
  EXPECT_EQ(SectionsOf(*F.Ini), (Lines{"A", "B"}));
  EXPECT_EQ(F.Ini->ReadString("A", "y", "-"), "a\nb");
  EXPECT_FALSE(F.Ini->Modified);
}

TEST(IniLoad, TinyBuffersSplitNothing) {
  // CR and LF, and the end mark, falling on buffer boundaries.
  TIniDir Dir;
  std::string Bytes = "[A]\r\nx=1\r\ny=22\r\n\r\n[B]\r\nz=333\r\n\x1a[C]\r\nw=4\r\n";
  Spill(Dir / "in.ini", Bytes);
  for (int32_t Size : {1, 2, 3, 7}) {
    TSectionedIniFile Ini("");
    Ini.TextBufferSize = Size;
    Spill(Dir / "ends.ini", "lost=1\r\n[A]\r\nx=1\r\r\n\ry=a\nb\r[B]\rz=2");
    Ini.LoadFromFile(Dir / "ends.ini");
    EXPECT_EQ(AllOf(Ini), (Lines{"[A]", "x=1", "y=a\nb", "", "[B]", "z=2", ""})) << Size;
    Ini.Sections.Clear();
    Ini.LoadFromFile(Dir / "in.ini");
    EXPECT_EQ(AllOf(Ini), (Lines{"[A]", "x=1", "y=22", "", "[B]", "z=333", ""})) << Size;
    Ini.FileName = Dir / "out.ini";
    Ini.Modified = true;
    Ini.UpdateFile();
    EXPECT_EQ(Slurp(Dir / "out.ini"), "[A]\r\nx=1\r\ny=22\r\n\r\n[B]\r\nz=333\r\n\r\n") << Size;
  }
}

// A file written on this system ends its lines with line feeds alone; a file
// with any carriage return keeps a line feed inside its line, and either reads
// back the same once written.
TEST(IniLoad, LineFeedsEndLinesOnlyInAFileWithoutCarriageReturns) {
  const struct {
    const char* Bytes;
    Lines Expected;
  } Cases[] = {
      {"[A]\nx=1\n\n[B]\ny=2", {"[A]", "x=1", "", "[B]", "y=2", ""}},
      {"[A]\nx=1\x1a\r\n", {"[A]", "x=1", ""}},
      {"[A]\r\nx=a\nb\r\n", {"[A]", "x=a\nb", ""}},
      {"[A]\nx=1\r\n", {}},
      {"[A\nB]\r\nx=1\r\n", {"[A\nB]", "x=1", ""}},
  };
  for (const auto& Case : Cases) {
    TLoaded F(Case.Bytes);
    EXPECT_EQ(AllOf(*F.Ini), Case.Expected) << Case.Bytes;
    F.Ini->FileName = F.Path + ".out";
    F.Ini->Modified = true;
    F.Ini->UpdateFile();
    TSectionedIniFile Again(F.Path + ".out");
    EXPECT_EQ(AllOf(Again), Case.Expected) << Case.Bytes;
  }
}

TEST(IniLoad, HeadersNeedBothBracketsAndKeepTheirSpaces) {
  TLoaded F("[ Spaced ]\r\na=1\r\n[]\r\nb=2\r\n[half\r\nc=3\r\n[x]y]\r\nd=4\r\n");
  EXPECT_EQ(SectionsOf(*F.Ini), (Lines{" Spaced ", "", "x]y"}));
  EXPECT_EQ(F.Ini->ReadString("", "b", "-"), "2");
  EXPECT_EQ(F.Ini->ReadString("", "[half", "-"), "-");  // no "=", never a key
  EXPECT_EQ(F.Ini->ReadString("Spaced", "a", "-"), "-");
  EXPECT_EQ(F.Ini->ReadString(" spaced ", "a", "-"), "1");
}

TEST(IniLoad, VeryLongLine) {
  std::string Value(200000, 'v');
  TLoaded F("[A]\r\nk=" + Value + "\r\n");
  EXPECT_EQ(F.Ini->ReadString("A", "k", ""), Value);
}

TEST(IniLoad, DuplicateSectionsKeepTheFirstAndLoseTheRest) {
  std::string Bytes = "[A]\r\nx=1\r\n[b]\r\ny=1\r\n[a]\r\nx=2\r\nz=9\r\n[B]\r\ny=2\r\n[c]\r\n";
  TLoaded F(Bytes);
  EXPECT_EQ(F.Ini->ReadString("A", "x", ""), "1");
  EXPECT_EQ(F.Ini->ReadString("a", "z", "none"), "none");
  EXPECT_EQ(SectionsOf(*F.Ini), (Lines{"A", "b", "c"}));
  EXPECT_FALSE(F.Ini->Modified);
  F.Ini.reset();
  EXPECT_EQ(Slurp(F.Path), Bytes);  // the duplicates stay until a real change
}

TEST(IniLoad, LoadingAgainAddsAndDropsNamesAlreadyPresent) {
  TIniDir Dir;
  Spill(Dir / "one", "[A]\r\nx=1\r\n");
  Spill(Dir / "two", "[a]\r\nx=2\r\n[B]\r\ny=3\r\n");
  TSectionedIniFile Ini(Dir / "one");
  Ini.LoadFromFile(Dir / "two");
  EXPECT_EQ(SectionsOf(Ini), (Lines{"A", "B"}));
  EXPECT_EQ(Ini.ReadString("a", "x", ""), "1");
  EXPECT_EQ(Ini.ReadString("b", "y", ""), "3");
}

TEST(IniLoad, MissingFileIsEmptyButUnreadableOneIsAnError) {
  TIniDir Dir;
  TSectionedIniFile Missing(Dir / "nothing.ini");
  EXPECT_EQ(Missing.Sections.Count(), 0);
  EXPECT_EQ(Missing.ReadInteger("A", "x", 7), 7);

  // A folder in place of the file exists but cannot be read as one.
  std::filesystem::create_directory(Dir / "folder.ini");
  EXPECT_THROW(TSectionedIniFile Ini(Dir / "folder.ini"), EFileError);
}

// --- Keys and sections ----------------------------------------------------

TEST(IniKeys, KeyIsTheTextBeforeTheFirstEquals) {
  TLoaded F("[S]\r\nKey = Value\r\nKey =spaced\r\na=b=c\r\n; comment\r\n=empty key\r\n");
  EXPECT_EQ(F.Ini->ReadString("S", "Key", "def"), "def");
  EXPECT_EQ(F.Ini->ReadString("S", "Key ", "def"), " Value");
  EXPECT_EQ(F.Ini->ReadString("S", "a", ""), "b=c");
  EXPECT_EQ(F.Ini->ReadString("S", "; comment", "def"), "def");
  EXPECT_EQ(F.Ini->ReadString("S", "", "def"), "empty key");
  EXPECT_EQ(F.Ini->ReadString("S", "a=b", "def"), "def");
}

TEST(IniKeys, CaseFoldingOfAsciiAndUtf8Names) {
  TLoaded F("[Straße ÄÖÜ]\r\nÉté=summer\r\nNAME=x\r\n[ПРИВЕТ]\r\nКлюч=1\r\n[\xC4\xE4]\r\nk=latin1\r\n");
  EXPECT_EQ(F.Ini->ReadString("straße äöü", "été", ""), "summer");
  EXPECT_EQ(F.Ini->ReadString("straße äöü", "name", ""), "x");
  EXPECT_EQ(F.Ini->ReadString("привет", "КЛЮЧ", ""), "1");
  // Bytes that are not UTF-8 match only themselves.
  EXPECT_EQ(F.Ini->ReadString("\xC4\xE4", "K", ""), "latin1");
  EXPECT_EQ(F.Ini->ReadString("\xE4\xE4", "K", "no"), "no");
  EXPECT_EQ(FoldCase("AbC Ä\xFF"), "abc ä\xFF");
}

TEST(IniKeys, FirstMatchingLineWinsAndTheNextShowsAfterDeletion) {
  TLoaded F("[S]\r\nk=1\r\nK=2\r\nother=3\r\nk=4\r\n");
  EXPECT_EQ(F.Ini->ReadString("S", "K", ""), "1");
  F.Ini->DeleteKey("S", "k");
  EXPECT_EQ(F.Ini->ReadString("S", "k", ""), "2");
  EXPECT_EQ(F.Ini->ReadString("S", "other", ""), "3");
  F.Ini->DeleteKey("S", "k");
  EXPECT_EQ(F.Ini->ReadString("S", "k", ""), "4");
  F.Ini->DeleteKey("S", "k");
  EXPECT_EQ(F.Ini->ReadString("S", "k", "gone"), "gone");
  EXPECT_EQ(F.Ini->ReadString("S", "other", ""), "3");
}

TEST(IniKeys, LookupsStartAtTheCurrentSectionAndWrap) {
  TSectionedIniFile Ini("");
  // Duplicates can only come in through the list itself; they show which
  // one the search meets first.
  for (const char* Name : {"A", "B", "a", "C"}) Ini.Sections.Add(Name);
  Ini.Sections.Section(0).Add("x=first");
  Ini.Sections.Section(2).Add("x=second");

  EXPECT_EQ(Ini.ReadString("a", "x", ""), "first");
  EXPECT_EQ(Ini.CurrentSection, 0);
  EXPECT_EQ(Ini.ReadString("B", "x", "-"), "-");
  EXPECT_EQ(Ini.CurrentSection, 1);
  EXPECT_EQ(Ini.ReadString("A", "x", ""), "second");
  EXPECT_EQ(Ini.CurrentSection, 2);
  EXPECT_EQ(Ini.ReadString("c", "x", "-"), "-");
  EXPECT_EQ(Ini.ReadString("A", "x", ""), "first");  // wrapped round
  EXPECT_EQ(Ini.ReadString("missing", "x", "-"), "-");
  EXPECT_EQ(Ini.CurrentSection, 0);
  Ini.CurrentSection = 99;  // out of range starts at the front
  EXPECT_EQ(Ini.ReadString("a", "x", ""), "first");

  Ini.Sections.LastFound = 1;
  EXPECT_EQ(Ini.Sections.IndexOf("A"), 2);
  EXPECT_EQ(Ini.Sections.LastFound, 2);
  Ini.Sections.LastFound = 3;
  EXPECT_EQ(Ini.Sections.IndexOf("a"), 0);
  EXPECT_EQ(Ini.Sections.IndexOf("nope"), -1);
  EXPECT_EQ(Ini.Sections.LastFound, 0);
  Ini.Sections.Delete(0);  // indexes shift
  EXPECT_EQ(Ini.Sections.IndexOf("c"), 2);
  EXPECT_EQ(Ini.Sections.IndexOf("a"), 1);
}

// --- Numbers, booleans, dates, times ---------------------------------------

TEST(IniValues, ReadIntegerForms) {
  const std::pair<const char*, int32_t> Cases[] = {
      // clang-format off
      {"0x1F", 31},          {"0X1f", 31},         {"$1f", 31},           {"x1F", 31},
      {"X1f", 31},           {" 42", 42},          {"  -42", -42},        {"+7", 7},
      {"-0x10", -16},        {"-$10", -16},        {"007", 7},            {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN}, {"0x7FFFFFFF", 2147483647}, {"-0x80000000", INT32_MIN},
      {"42 ", -1},           {"4 2", -1},          {"", -1},              {"2147483648", -1},
      {"-2147483649", -1},   {"99999999999999999999", -1}, {"0x80000000", -1}, {"$", -1},
      {"0x", -1},            {"-", -1},            {"1e3", -1},           {"\t5", -1},
      {"0x-5", -1},          {"- 5", -1},          {"12abc", -1},         {"$1G", -1},
  };
  // clang-format on
  TSectionedIniFile Ini("");
  for (const auto& [Text, Expected] : Cases) {
    Ini.WriteString("N", "v", Text);
    EXPECT_EQ(Ini.ReadInteger("N", "v", -1), Expected) << "'" << Text << "'";
  }
  EXPECT_EQ(Ini.ReadInteger("N", "missing", 5), 5);
  EXPECT_EQ(Ini.ReadInteger("missing", "v", 6), 6);
}

TEST(IniValues, ReadBoolIsAnyNonZeroInteger) {
  TSectionedIniFile Ini("");
  const std::tuple<const char*, bool, bool> Cases[] = {
      {"1", false, true},    {"-1", false, true}, {"5", false, true},     {"0", true, false},
      {"yes", false, false}, {"yes", true, true}, {"true", false, false}, {"", true, true},
  };
  for (const auto& [Text, Default, Expected] : Cases) {
    Ini.WriteString("B", "v", Text);
    EXPECT_EQ(Ini.ReadBool("B", "v", Default), Expected) << Text;
  }
  Ini.WriteBool("B", "t", true);
  Ini.WriteBool("B", "f", false);
  Ini.WriteInteger("B", "n", -123);
  EXPECT_EQ(Ini.ReadString("B", "t", ""), "1");
  EXPECT_EQ(Ini.ReadString("B", "f", ""), "0");
  EXPECT_EQ(Ini.ReadString("B", "n", ""), "-123");
}

TEST(IniValues, DayCount) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  EXPECT_THROW(EncodeDate(1999, 2, 29), std::invalid_argument);
  EXPECT_THROW(EncodeDate(1900, 2, 29), std::invalid_argument);
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
  EXPECT_THROW(EncodeDate(0, 1, 1), std::invalid_argument);
  EXPECT_THROW(EncodeDate(2000, 13, 1), std::invalid_argument);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), std::invalid_argument);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), std::invalid_argument);

  int Y, M, D, H, Mi, S, Ms;
  for (int Year : {1, 1600, 1899, 1900, 1999, 2024, 9999}) {
    // Before 1899 the fraction still adds time, away from zero.
    TDateTime Day = EncodeDate(Year, 2, 28);
    DecodeDate(Day >= 0 ? Day + 0.75 : Day - 0.75, Y, M, D);
    EXPECT_EQ(Y * 10000 + M * 100 + D, Year * 10000 + 228) << Year;
  }
  DecodeDate(-1.5, Y, M, D);  // the whole days count towards zero
  EXPECT_EQ(Y * 10000 + M * 100 + D, 18991229);
  DecodeTime(-1.5, H, Mi, S, Ms);
  EXPECT_EQ(H, 12);
  DecodeTime(EncodeDate(2001, 1, 1) + EncodeTime(23, 59, 59, 999), H, Mi, S, Ms);
  EXPECT_EQ((std::vector<int>{H, Mi, S, Ms}), (std::vector<int>{23, 59, 59, 999}));
}

TEST(IniValues, DatesAndTimesAsText) {
  TSectionedIniFile Ini("");
  Ini.WriteDate("D", "d", EncodeDate(1999, 3, 5) + 0.9);
  EXPECT_EQ(Ini.ReadString("D", "d", ""), "05/03/1999");
  EXPECT_EQ(Ini.ReadDate("D", "d", -1), EncodeDate(1999, 3, 5));
  Ini.WriteDate("D", "d", EncodeDate(33, 11, 2));
  EXPECT_EQ(Ini.ReadString("D", "d", ""), "02/11/0033");
  Ini.WriteTime("D", "t", EncodeTime(9, 5, 3, 7));
  EXPECT_EQ(Ini.ReadString("D", "t", ""), "09:05:03.007");
  EXPECT_DOUBLE_EQ(Ini.ReadTime("D", "t", -1), EncodeTime(9, 5, 3, 7));

  const std::pair<const char*, double> Dates[] = {
      // clang-format off
      {"31/02/1999", -1},         {"29/02/2000", EncodeDate(2000, 2, 29)},
      {"29/02/1900", -1},         {"05-03-1999", EncodeDate(1999, 3, 5)},
      {"05/03/1999 and more", EncodeDate(1999, 3, 5)},
      {"5/3/1999", -1},           {"05/03/99", EncodeDate(99, 3, 5)},
      {"00/03/1999", -1},         {"05/13/1999", -1},
      {"", -1},                   {"ab/cd/efgh", -1},
  };
  // clang-format on
  for (const auto& [Text, Expected] : Dates) {
    Ini.WriteString("D", "v", Text);
    EXPECT_EQ(Ini.ReadDate("D", "v", -1), Expected) << Text;
  }
  const std::pair<const char*, double> Times[] = {
      // clang-format off
      {"09:05:03", EncodeTime(9, 5, 3, 0)},        {"09:05:03.abc", EncodeTime(9, 5, 3, 0)},
      {"23:59:59.999", EncodeTime(23, 59, 59, 999)}, {"24:00:00.000", -1},
      {"12:60:00", -1},                           {"12:00:xx", -1},
      {"1:2:3", -1},                              {"", -1},
  };
  // clang-format on
  for (const auto& [Text, Expected] : Times) {
    Ini.WriteString("D", "v", Text);
    EXPECT_DOUBLE_EQ(Ini.ReadTime("D", "v", -1), Expected) << Text;
  }
}

// --- Writing, deleting, listing -------------------------------------------

TEST(IniWrite, EqualValueDoesNotMarkModifiedNorTouchTheFile) {
  // A layout that a rewrite would change: blank lines, a comment before the
  // first header, a duplicate section.
  std::string Bytes = "; top\r\n\r\n[Main]\r\nTop=52\r\n\r\n[main]\r\nLeft=1\r\n";
  TLoaded F(Bytes);
  F.Ini->WriteString("MAIN", "Top", "52");
  F.Ini->WriteInteger("main", "Top", 52);
  EXPECT_FALSE(F.Ini->Modified);
  F.Ini.reset();
  EXPECT_EQ(Slurp(F.Path), Bytes);
}

TEST(IniWrite, ChangedCapitalsOrValueReplaceTheLine) {
  TLoaded F("[Main]\r\nTop=52\r\nLeft=21\r\n");
  F.Ini->WriteString("main", "TOP", "52");
  EXPECT_TRUE(F.Ini->Modified);
  F.Ini->WriteString("Main", "left", "22");
  F.Ini->WriteString("Other", "n", "v");  // new section goes at the end
  F.Ini->WriteString("Main", "New", "");
  F.Ini.reset();
  EXPECT_EQ(Slurp(F.Path), "[Main]\r\nTOP=52\r\nleft=22\r\nNew=\r\n\r\n[Other]\r\nn=v\r\n\r\n");
}

TEST(IniWrite, LinesThatCouldNotBeReadBackAreRefused) {
  TSectionedIniFile Ini("");
  EXPECT_THROW(Ini.WriteString("S", "k", "a\rb"), std::invalid_argument);
  EXPECT_THROW(Ini.WriteString("S", "k",
                               std::string("a\x1a"
                                           "b")),
               std::invalid_argument);
  EXPECT_THROW(Ini.WriteString("S\r", "k", "v"), std::invalid_argument);
  EXPECT_THROW(Ini.WriteString("S", "k\r", "v"), std::invalid_argument);
  EXPECT_FALSE(Ini.Modified);
  EXPECT_EQ(Ini.Sections.Count(), 0);
  Ini.WriteString("S", "k", "line\nfeed");  // a lone LF reads back
  EXPECT_EQ(Ini.ReadString("S", "k", ""), "line\nfeed");
}

TEST(IniWrite, EraseAndDeleteKey) {
  TLoaded F("[A]\r\nx=1\r\n[B]\r\ny=2\r\n[C]\r\nz=3\r\n");
  F.Ini->EraseSection("nothing");
  F.Ini->DeleteKey("A", "nothing");
  EXPECT_FALSE(F.Ini->Modified);
  F.Ini->DeleteKey("New", "k");  // creates an empty section, unsaved
  EXPECT_EQ(SectionsOf(*F.Ini), (Lines{"A", "B", "C", "New"}));
  EXPECT_FALSE(F.Ini->Modified);

  EXPECT_EQ(F.Ini->ReadString("New", "k", "-"), "-");
  EXPECT_EQ(F.Ini->CurrentSection, 3);
  F.Ini->EraseSection("c");
  EXPECT_TRUE(F.Ini->Modified);
  EXPECT_EQ(F.Ini->CurrentSection, 0);  // 3 is no longer valid
  EXPECT_EQ(F.Ini->Sections.LastFound, 0);
  EXPECT_EQ(F.Ini->ReadString("C", "z", "gone"), "gone");
  EXPECT_EQ(F.Ini->ReadString("b", "y", ""), "2");

  F.Ini->DeleteKey("A", "X");
  EXPECT_EQ(SectionsOf(*F.Ini), (Lines{"A", "B", "New"}));
  F.Ini->WriteString("new", "k", "v");
  F.Ini.reset();
  // Sections left without lines are not written.
  EXPECT_EQ(Slurp(F.Path), "[B]\r\ny=2\r\n\r\n[New]\r\nk=v\r\n\r\n");
}

TEST(IniWrite, ListingSectionsKeysAndLines) {
  TLoaded F("[A]\r\nx=1\r\n; note\r\ny=a=b\r\n[Empty]\r\n[B]\r\nz=3\r\n");
  Lines Target{"kept"};
  F.Ini->ReadSection("a", Target);
  EXPECT_EQ(Target, (Lines{"kept", "x", "", "y"}));
  F.Ini->ReadSection("missing", Target);
  EXPECT_EQ(Target.size(), 4u);
  Target = {"kept"};
  F.Ini->ReadSectionValues("A", Target);
  EXPECT_EQ(Target, (Lines{"kept", "x=1", "; note", "y=a=b"}));
  Target = {"dropped"};
  F.Ini->ReadSections(Target);
  EXPECT_EQ(Target, (Lines{"A", "Empty", "B"}));
  Target = {"kept"};
  F.Ini->ReadAll(Target);
  EXPECT_EQ(Target, (Lines{"kept", "[A]", "x=1", "; note", "y=a=b", "", "[B]", "z=3", ""}));
}

TEST(IniWrite, SettingsSectionKeepsItsCapitals) {
  TLoaded F("[startup]\r\nShowSplash=0\r\n");
  EXPECT_FALSE(F.Ini->ReadBool("StartUp", "ShowSplash", true));
  F.Ini->WriteString("Startup", "LoadFile", "");
  F.Ini.reset();
  EXPECT_EQ(Slurp(F.Path), "[startup]\r\nShowSplash=0\r\nLoadFile=\r\n\r\n");
}

TEST(IniWrite, UnboundEngineNeverWrites) {
  TIniDir Dir;
  TSectionedIniFile Ini("");
  Ini.WriteString("S", "k", "v");
  EXPECT_TRUE(Ini.Modified);
  Ini.UpdateFile();
  EXPECT_FALSE(Ini.Modified);
  Ini.WriteString("S", "k", "w");
  Ini.SetFileName(Dir / "later.ini");  // the pending change had nowhere to go
  EXPECT_EQ(Ini.Sections.Count(), 0);
  EXPECT_TRUE(Dir.Entries().empty());
}

TEST(IniWrite, SetFileNameSavesToThePreviousFile) {
  TIniDir Dir;
  Spill(Dir / "two.ini", "[T]\r\nk=2\r\n");
  TSectionedIniFile Ini(Dir / "one.ini");
  Ini.WriteString("O", "k", "1");
  Ini.SetFileName(Dir / "two.ini");
  EXPECT_EQ(Slurp(Dir / "one.ini"), "[O]\r\nk=1\r\n\r\n");
  EXPECT_FALSE(Ini.Modified);
  EXPECT_EQ(Ini.ReadString("T", "k", ""), "2");
  EXPECT_EQ(Ini.ReadString("O", "k", "-"), "-");
}

// Random edits against a plain model that scans everything, to catch an
// index that goes stale after a write, delete, erase or duplicate removal.
TEST(IniWrite, IndexesAgreeWithAPlainScan) {
  struct TModel {
    std::vector<std::pair<std::string, Lines>> Sections;
    int Find(const std::string& Name) {
      for (size_t I = 0; I < Sections.size(); ++I)
        if (FoldCase(Sections[I].first) == FoldCase(Name)) return static_cast<int>(I);
      return -1;
    }
    static int Line(const Lines& L, const std::string& Key) {
      for (size_t I = 0; I < L.size(); ++I) {
        size_t Eq = L[I].find('=');
        if (Eq != std::string::npos && FoldCase(L[I].substr(0, Eq)) == FoldCase(Key)) return static_cast<int>(I);
      }
      return -1;
    }
  };
  const char* Names[] = {"A", "a", "B", "Ä", "ä", "c"};
  // Enough keys that sections grow past the size searched line by line.
  std::vector<std::string> Keys = {"k", "K", "k2", "Ключ", "ключ", "x"};
  for (int I = 0; I < 60; ++I) Keys.push_back((I % 2 ? "N" : "n") + std::to_string(I));
  std::mt19937 Random(12345);
  auto Pick = [&](auto& Array) { return std::string(Array[Random() % std::size(Array)]); };

  TLoaded F("[A]\r\nk=1\r\nK=2\r\nnote\r\nx=3\r\n[b]\r\nk=4\r\n[a]\r\nk=lost\r\n[Ä]\r\nключ=5\r\nКЛЮЧ=6\r\n");
  TModel M;
  M.Sections = {{"A", {"k=1", "K=2", "note", "x=3"}}, {"b", {"k=4"}}, {"Ä", {"ключ=5", "КЛЮЧ=6"}}};

  for (int Step = 0; Step < 20000; ++Step) {
    std::string S = Pick(Names), K = Pick(Keys), V = std::to_string(Random() % 4);
    int Index = M.Find(S);
    switch (Random() % 6) {
      case 0:
      case 1: {
        if (Index < 0) {
          M.Sections.push_back({S, {}});
          Index = static_cast<int>(M.Sections.size()) - 1;
        }
        Lines& L = M.Sections[Index].second;
        int At = TModel::Line(L, K);
        if (At < 0) L.push_back(K + "=" + V);
        else L[At] = K + "=" + V;
        F.Ini->WriteString(S, K, V);
        break;
      }
      case 2: {
        if (Index < 0) {
          M.Sections.push_back({S, {}});
          Index = static_cast<int>(M.Sections.size()) - 1;
        }
        Lines& L = M.Sections[Index].second;
        int At = TModel::Line(L, K);
        if (At >= 0) L.erase(L.begin() + At);
        F.Ini->DeleteKey(S, K);
        break;
      }
      case 3:
        if (Random() % 100 == 0) {  // rarely, so that sections grow large
          if (Index >= 0) M.Sections.erase(M.Sections.begin() + Index);
          F.Ini->EraseSection(S);
        }
        break;
      default: {
        std::string Expected = "-";
        if (Index >= 0) {
          const Lines& L = M.Sections[Index].second;
          int At = TModel::Line(L, K);
          if (At >= 0) Expected = L[At].substr(L[At].find('=') + 1);
        }
        ASSERT_EQ(F.Ini->ReadString(S, K, "-"), Expected) << "step " << Step;
      }
    }
  }
  Lines Expected;
  for (const auto& [Name, L] : M.Sections) {
    if (L.empty()) continue;
    Expected.push_back("[" + Name + "]");
    Expected.insert(Expected.end(), L.begin(), L.end());
    Expected.push_back("");
  }
  EXPECT_EQ(AllOf(*F.Ini), Expected);
}

// --- Writing the file safely ------------------------------------------------

TEST(IniUpdate, ExactOutputAndPermissionsKept) {
  TIniDir Dir;
  std::string Path = Dir / "s.ini";
  Spill(Path, "junk\r\n[A]\r\n\r\nx=1\r\n[Empty]\r\n[B]\r\ny=2\x1atail");
  ::chmod(Path.c_str(), 0640);
  {
    TSectionedIniFile Ini(Path);
    Ini.WriteString("B", "z", "3");
  }
  EXPECT_EQ(Slurp(Path), "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\nz=3\r\n\r\n");
  struct stat Info;
  ASSERT_EQ(::stat(Path.c_str(), &Info), 0);
  EXPECT_EQ(Info.st_mode & 07777, 0640u);
  EXPECT_EQ(Dir.Entries(), (Lines{"s.ini"}));  // no temporary left behind
}

TEST(IniUpdate, WritesThroughASymbolicLink) {
  TIniDir Dir;
  Spill(Dir / "real.ini", "[A]\r\nx=1\r\n");
  std::filesystem::create_symlink(Dir / "real.ini", Dir / "link.ini");
  {
    TSectionedIniFile Ini(Dir / "link.ini");
    Ini.WriteString("A", "x", "2");
  }
  EXPECT_TRUE(std::filesystem::is_symlink(Dir / "link.ini"));
  EXPECT_EQ(Slurp(Dir / "real.ini"), "[A]\r\nx=2\r\n\r\n");
}

TEST(IniUpdate, MissingFolderThrowsWithReasonAndPathAndDestructorSwallows) {
  TIniDir Dir;
  std::string Path = Dir / "no-such-folder/s.ini";
  auto Ini = std::make_unique<TSectionedIniFile>(Path);
  Ini->WriteString("A", "x", "1");
  try {
    Ini->UpdateFile();
    FAIL() << "no error";
  } catch (const EFileError& Error) {
    EXPECT_NE(std::string(Error.what()).find(Path), std::string::npos) << Error.what();
    EXPECT_NE(std::string(Error.what()).find(std::strerror(ENOENT)), std::string::npos) << Error.what();
  }
  EXPECT_TRUE(Ini->Modified);  // still unsaved
  // Freed while the folder is still missing, the engine says nothing and
  // leaves nothing behind; freed once it exists, it writes what it holds.
  Ini.reset();
  EXPECT_TRUE(Dir.Entries().empty());
  auto Later = std::make_unique<TSectionedIniFile>(Path);
  Later->WriteString("A", "x", "1");
  std::filesystem::create_directory(Dir / "no-such-folder");
  Later.reset();
  EXPECT_EQ(Slurp(Path), "[A]\r\nx=1\r\n\r\n");
}

TEST(IniUpdate, ReadOnlyFileIsNotReplaced) {
  TIniDir Dir;
  std::string Path = Dir / "ro.ini";
  Spill(Path, "[A]\r\nx=1\r\n");
  ::chmod(Path.c_str(), 0444);
  TSectionedIniFile Ini(Path);
  Ini.WriteString("A", "x", "2");
  EXPECT_THROW(Ini.UpdateFile(), EFileError);
  EXPECT_EQ(Slurp(Path), "[A]\r\nx=1\r\n");
  EXPECT_EQ(Dir.Entries(), (Lines{"ro.ini"}));
}

TEST(IniUpdate, WriteFailingPartWayLeavesTheOldFile) {
  TIniDir Dir;
  std::string Path = Dir / "big.ini";
  std::string Old = "[Keep]\r\nvalue=old\r\n";
  Spill(Path, Old);

  // A file size limit makes the write fail after some bytes, like a full disk
  // does; the signal it raises must not end the process.
  int Status = RunInChild(
      [&] {
        int Result = 1;
        {
          TSectionedIniFile Ini(Path);
          for (int I = 0; I < 20000; ++I) Ini.WriteString("Keep", "key" + std::to_string(I), std::string(20, 'x'));
          try {
            Ini.UpdateFile();
            Result = 2;
          } catch (const EFileError& Error) {
            std::string Text = Error.what();
            Result =
                Text.find(Path) != std::string::npos && Text.find(std::strerror(EFBIG)) != std::string::npos ? 0 : 3;
          }
        }  // the destructor tries again and must swallow the same failure
        return Result;
      },
      {.FileSize = 64 * 1024});
  EXPECT_EQ(Status, 0);
  EXPECT_EQ(Slurp(Path), Old);
  EXPECT_EQ(Dir.Entries(), (Lines{"big.ini"}));
}

TEST(IniUpdate, WritableFileInAFolderTheUserMayNotWriteIsUpdatedInPlace) {
  TIniDir Dir;
  std::string Path = Dir / "s.ini";
  Spill(Path, "[A]\r\nx=1\r\nlong=" + std::string(100, 'z') + "\r\n");
  ::chmod(Path.c_str(), 0666);
  ::chmod(Dir.Path.c_str(), 0555);
  struct stat Before;
  ASSERT_EQ(::stat(Path.c_str(), &Before), 0);
  int Status = RunInChild(
      [&] {
        TSectionedIniFile Ini(Path);
        Ini.WriteString("A", "x", "2");
        Ini.DeleteKey("A", "long");
        try {
          Ini.UpdateFile();
          return 0;
        } catch (const EFileError&) {
          return 1;
        }
      },
      {.NormalUser = true});
  ::chmod(Dir.Path.c_str(), 0700);
  EXPECT_EQ(Status, 0);
  EXPECT_EQ(Slurp(Path), "[A]\r\nx=2\r\n\r\n");  // the longer old content cut off
  struct stat After;
  ASSERT_EQ(::stat(Path.c_str(), &After), 0);
  EXPECT_EQ(After.st_ino, Before.st_ino);
  EXPECT_EQ(Dir.Entries(), (Lines{"s.ini"}));
}

TEST(IniUpdate, ASettingsFileThatIsAPipeIsRefusedNotWaitedOn) {
  TIniDir Dir;
  std::string Path = Dir / "s.ini";
  ASSERT_EQ(::mkfifo(Path.c_str(), 0644), 0);
  int Status = RunInChild(
      [&] {
        try {
          TSectionedIniFile Ini(Path);
          return 2;
        } catch (const EFileError& Error) {
          return std::string(Error.what()) == "Cannot open file " + Path + ": it is a named pipe, not a regular file"
                     ? 0
                     : 3;
        }
      },
      {.Seconds = 20});
  EXPECT_EQ(Status, 0);
}

// --- String utilities -----------------------------------------------------

TEST(IniText, PaddingAndTrimming) {
  EXPECT_EQ(PadWithZeros("7", 3), "007");
  EXPECT_EQ(PadWithZeros("12345", 3), "12345");
  EXPECT_EQ(PadWithZeros("", 2), "00");
  EXPECT_EQ(TrimLeadingSpaces("  a b  "), "a b  ");
  EXPECT_EQ(TrimTrailingSpaces("  a b  "), "  a b");
  EXPECT_EQ(TrimTrailingChar("x..y...", '.'), "x..y");
  EXPECT_EQ(TrimSpaces("  \ta b\t  "), "\ta b\t");
  EXPECT_EQ(TrimSpaces("     "), "");
  EXPECT_EQ(TrimSpaces(""), "");
}

TEST(IniText, CapitaliseWords) {
  const std::pair<const char*, const char*> Cases[] = {
      {"", ""},
      {"o'neil-smith", "O'Neil-Smith"},
      {"mcDonald", "McDonald"},
      {"3rd", "3Rd"},
      {"JOHN SMITH", "JOHN SMITH"},
      {"  two  words", "  Two  Words"},
      // Letters beyond ASCII continue their word and are raised at its start.
      {"éric", "Éric"},
      {"zoëa anne", "Zoëa Anne"},
      {"müller", "Müller"},
      {"öztürk", "Öztürk"},
      {"çağrı", "Çağrı"},
      {"ÖZTÜRK", "ÖZTÜRK"},
      {"mu\u0308ller", "Mu\u0308ller"},  // a combining mark is part of its letter
      {"иван петров", "Иван Петров"},
      {"σοφία", "Σοφία"},
      {"\u01C6uro \u01F3", "\u01C5uro \u01F2"},  // digraphs take their title case
      {"\u10D2\u10D8\u10DD\u10E0\u10D2\u10D8", "\u10D2\u10D8\u10DD\u10E0\u10D2\u10D8"},  // Georgian has none
      {"ßa ırmak", "ßa Irmak"},
      {"istanbul", "Istanbul"},  // ASCII as ever, whatever the locale
      {"日本lane 日本 lane", "日本lane 日本 Lane"},
      // Anything else beyond ASCII still starts a word.
      {"o\u2019brien jean\u00A0paul", "O\u2019Brien Jean\u00A0Paul"},
      {"\U0001F600smith \u20ACuro", "\U0001F600Smith \u20ACUro"},
      {"\xFFsmith \xC3", "\xFFSmith \xC3"},  // broken bytes are kept
  };
  for (const auto& [In, Out] : Cases) EXPECT_EQ(CapitaliseWords(In), Out) << In;
}

// --- Where the settings live ----------------------------------------------

TEST(IniSettings, BesideTheExecutableOrInTheUserFolder) {
  std::string Executable = GetExecutablePath();
  ASSERT_FALSE(Executable.empty());
  EXPECT_EQ(Executable.front(), '/');
  EXPECT_EQ(std::filesystem::path(Executable).filename(), program_invocation_short_name);
  EXPECT_TRUE(std::filesystem::is_regular_file(Executable));
  if (::access(std::filesystem::path(Executable).parent_path().c_str(), W_OK) == 0) {
    EXPECT_EQ(GetSettingsFileName(), Executable + ".INI");
  }

  TIniDir Dir;
  std::string SavedXdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  std::string SavedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("XDG_CONFIG_HOME", (Dir / "config").c_str(), 1);
  EXPECT_EQ(SettingsFileNameFor("/usr/bin/tobrinel", false), Dir / "config/tobrinel/tobrinel.INI");
  EXPECT_TRUE(std::filesystem::is_directory(Dir / "config/tobrinel"));
  EXPECT_EQ(SettingsFileNameFor("/opt/x/tobrinel", true), "/opt/x/tobrinel.INI");

  ::setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored
  ::setenv("HOME", (Dir / "home").c_str(), 1);
  EXPECT_EQ(SettingsFileNameFor("/usr/bin/tobrinel", false), Dir / "home/.config/tobrinel/tobrinel.INI");
  EXPECT_TRUE(std::filesystem::is_directory(Dir / "home/.config/tobrinel"));
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(SettingsFileNameFor("/usr/bin/tobrinel", false), Dir / "home/.config/tobrinel/tobrinel.INI");

  if (SavedXdg.empty()) ::unsetenv("XDG_CONFIG_HOME");
  else ::setenv("XDG_CONFIG_HOME", SavedXdg.c_str(), 1);
  ::setenv("HOME", SavedHome.c_str(), 1);
}
