#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <pwd.h>
#include <unistd.h>

#include "StoreTestUtil.h"

namespace {

class TRecordingHost : public IBookHost {
public:
  void OldFormatWarning(const std::string& Text) override { Warnings.push_back(Text); }
  void SetDefaultTab(int Tab) override { DefaultTab = Tab; }
  std::vector<std::string> Warnings;
  int DefaultTab = -1;
};

const std::string Header = std::string("TOBRINEL:1.04\r\n");

std::string Str(const std::string& Text) {
  std::string Out;
  Out += char(Text.size() & 0xFF);
  Out += char(Text.size() >> 8);
  return Out + Text;
}

// One record as the writer lays it out.
std::string Record(const std::string& Surname, const std::string& FirstName, int TabPage = 0,
                   const std::vector<std::string>& Notes = {}) {
  std::string Out = Str(Surname) + Str(FirstName);
  for (int I = 0; I < 5; ++I) Out += Str("");
  Out += std::string("\0\0\0\0", 4);
  Out += char(Notes.size());
  Out += '\0';
  for (const std::string& Line : Notes) Out += Str(Line);
  Out += char(TabPage);
  Out += '\0';
  return Out;
}

}  // namespace

class BookFile : public ::testing::Test {
protected:
  TTempDir Dir;
  TRecordingHost Host;
  std::string BookPath = Dir / "people.ABK";
};

TEST_F(BookFile, WorkedExampleIsWrittenByteForByteAndReadBack) {
  TAddressBook Book(&Host);
  TAddressItem* Item = MakeItem("Lee", "Ann");
  Item->HomeTelephone = "0123";
  Item->HomeAddress.Add("1 Hill Rd");
  Book.Items->Add(Item);
  Book.FileName = BookPath;
  Book.Modified = true;
  Book.SaveToFile();
  EXPECT_FALSE(Book.Modified);

  const unsigned char Expected[] = {'T',  'O',  'B',  'R',  'I',  'N',  'E',  'L',  ':',  '1',  '.',  '0',
                                    '4',  0x0D, 0x0A, 0x03, 0x00, 0x4C, 0x65, 0x65, 0x03, 0x00, 0x41, 0x6E,
                                    0x6E, 0x04, 0x00, 0x30, 0x31, 0x32, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x01, 0x00, 0x09, 0x00, 0x31, 0x20, 0x48, 0x69, 0x6C,
                                    0x6C, 0x20, 0x52, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(ReadBytes(BookPath), std::string(reinterpret_cast<const char*>(Expected), 58));

  TAddressBook Loaded(&Host);
  TLoadResult Result = Loaded.LoadFromFile(BookPath);
  EXPECT_FALSE(Result.Damaged);
  EXPECT_EQ(Result.EntriesRead, 1);
  EXPECT_TRUE(Host.Warnings.empty());
  ASSERT_EQ(Loaded.Items->Count, 1);
  TAddressItem* Back = ItemAt(*Loaded.Items, 0);
  EXPECT_EQ(Back->HomeTelephone.str(), "0123");
  EXPECT_EQ(Back->HomeAddress.Lines(), std::vector<std::string>{"1 Hill Rd"});
  EXPECT_EQ(Loaded.FileName, BookPath);
  EXPECT_FALSE(Loaded.Modified);
  EXPECT_EQ(Loaded.Current, nullptr);
}

TEST_F(BookFile, EveryFieldSurvivesARoundTrip) {
  TAddressBook Book;
  TAddressItem* Item = MakeItem("", "Nobody");  // no surname; entries after it must survive
  Item->BusTelephone = "020 7946 0000";
  Item->BusExtn = "42";
  Item->BusFacsimile = "020 7946 0001";
  Item->BusMobile = "07700 900123";
  Item->BusAddress.SetText("Unit 4\n\nDocks");
  Item->Notes.Add(std::string(2000, 'n'));  // longer than older readers allowed
  Item->TabPage = 2;
  Book.Items->Add(Item);
  TAddressItem* Twin1 = MakeItem("Twin", "Same");
  Twin1->Notes.Add("first");
  TAddressItem* Twin2 = MakeItem("Twin", "Same");
  Twin2->Notes.Add("second");
  Book.Items->Add(Twin1);
  Book.Items->Add(Twin2);
  Book.Items->Add(MakeItem("M\xC3\xBCller", "\xC3\x89mile"));
  Book.FileName = BookPath;
  Book.SaveToFile();

  TAddressBook Loaded;
  Loaded.LoadFromFile(BookPath);
  ASSERT_EQ(Loaded.Items->Count, 4);
  EXPECT_EQ(NamesOf(*Loaded.Items), "M\xC3\xBCller/\xC3\x89mile|/Nobody|Twin/Same|Twin/Same");
  TAddressItem* Back = ItemAt(*Loaded.Items, 1);
  EXPECT_EQ(Back->BusTelephone.str(), "020 7946 0000");
  EXPECT_EQ(Back->BusExtn.str(), "42");
  EXPECT_EQ(Back->BusFacsimile.str(), "020 7946 0001");
  EXPECT_EQ(Back->BusMobile.str(), "07700 900123");
  EXPECT_EQ(Back->BusAddress.Lines(), (std::vector<std::string>{"Unit 4", "", "Docks"}));
  EXPECT_EQ(Back->Notes[0], std::string(2000, 'n'));
  EXPECT_EQ(Back->TabPage, 2);
  EXPECT_EQ(ItemAt(*Loaded.Items, 2)->Notes[0], "first");
  EXPECT_EQ(ItemAt(*Loaded.Items, 3)->Notes[0], "second");
}

TEST_F(BookFile, EmptyBookIsTheHeaderAlone) {
  TAddressBook Book(&Host);
  Book.FileName = BookPath;
  Book.SaveToFile();
  EXPECT_EQ(ReadBytes(BookPath), Header);
  TLoadResult Result = Book.LoadFromFile(BookPath);
  EXPECT_EQ(Book.Items->Count, 0);
  EXPECT_FALSE(Result.Damaged);
  EXPECT_TRUE(Host.Warnings.empty());
}

TEST_F(BookFile, RecordsOutOfOrderLoadAsIfAddedOneByOne) {
  // Reverse name order, with equal keys whose notes tell them apart.
  std::string Bytes = Header;
  std::vector<std::pair<std::string, std::string>> Written;
  for (int I = 300; I > 0; --I) {
    std::string Surname = "N" + std::to_string(I % 50);
    std::string Tag = std::to_string(I);
    Bytes += Record(Surname, "", 0, {Tag});
    Written.emplace_back(Surname, Tag);
  }
  WriteBytes(BookPath, Bytes);
  TAddressBook Book;
  Book.LoadFromFile(BookPath);

  TMyLinkList Expected;
  for (auto& [Surname, Tag] : Written) {
    TAddressItem* Item = MakeItem(Surname, "");
    Item->Notes.Add(Tag);
    Expected.Add(Item);
  }
  ASSERT_EQ(Book.Items->Count, Expected.Count);
  TListNode* A = Book.Items->Head;
  for (TListNode* B = Expected.Head; B; B = B->Next, A = A->Next) {
    EXPECT_EQ(static_cast<TAddressItem*>(A)->Surname.str(), static_cast<TAddressItem*>(B)->Surname.str());
    EXPECT_EQ(static_cast<TAddressItem*>(A)->Notes[0], static_cast<TAddressItem*>(B)->Notes[0]);
  }
  // Links run both ways after the bulk insertion.
  int32_t Backwards = 0;
  for (TListNode* N = Book.Items->Tail; N; N = N->Prev) ++Backwards;
  EXPECT_EQ(Backwards, Book.Items->Count);
}

TEST_F(BookFile, BackupHoldsTheBookAsItWasBeforeEachSave) {
  TAddressBook Book;
  Book.FileName = BookPath;
  Book.Items->Add(MakeItem("One", ""));
  Book.SaveToFile();
  std::string First = ReadBytes(BookPath);
  EXPECT_FALSE(std::filesystem::exists(Dir / "people.~abk"));

  Book.Items->Add(MakeItem("Two", ""));
  Book.SaveToFile();
  std::string Second = ReadBytes(BookPath);
  EXPECT_EQ(ReadBytes(Dir / "people.~abk"), First);

  Book.Items->Add(MakeItem("Three", ""));
  Book.SaveToFile();
  EXPECT_EQ(ReadBytes(Dir / "people.~abk"), Second);
}

TEST_F(BookFile, DamagedBooksLoadTheCompleteRecordsAndSaySo) {
  std::string Good = Header + Record("Ann", "") + Record("Bob", "");
  struct TCase {
    const char* Name;
    std::string Bytes;
  } Cases[] = {
      {"cut inside a string", Good + Str("Carl").substr(0, 4)},
      {"cut after one length byte", Good + std::string(1, '\x03')},
      {"cut before the tab page", Good + Record("Carl", "").substr(0, Record("Carl", "").size() - 2)},
      {"negative length", Good + std::string("\xFF\xFF", 2) + "garbage"},
      {"cut after a line count", Good + Str("Dan") + std::string(12, '\0') + "\xF0\xFF"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    WriteBytes(BookPath, Case.Bytes);
    TAddressBook Book;
    TLoadResult Result = Book.LoadFromFile(BookPath);
    EXPECT_TRUE(Result.Damaged);
    EXPECT_EQ(Result.EntriesRead, 2);
    EXPECT_EQ(NamesOf(*Book.Items), "Ann/|Bob/");
  }
}

// The reader takes a record that lies whole in what it has read another way
// than one cut by the end of its buffer, and a stream hands out views of the
// first kind where it can: wherever that end falls in these records, they
// read as they do on their own, loaded or streamed.
TEST_F(BookFile, RecordsCutByTheEndOfTheBufferReadAsWhole) {
  auto Entry = [](const TEntryView& I) {
    std::string Out;
    for (std::string_view F : I.TextFields()) Out.append(F) += "|";
    for (const TLinesView* L : I.LineLists()) {
      Out += "[";
      L->ForEach([&](std::string_view Line) { Out.append(Line) += "/"; });
      Out += "]";
    }
    return Out + std::to_string(I.TabPage);
  };
  // The last byte of the mobile number and the count of lines after it
  // (0xBC) would make a "\xC3\xBC" of the record valid as a whole.
  std::string SplitCharacter = Str("Mu");
  for (int I = 0; I < 5; ++I) SplitCharacter += Str("");
  SplitCharacter += Str("07\xC3") + std::string("\xBC\0", 2);
  for (int I = 0; I < 0xBC; ++I) SplitCharacter += Str("");
  SplitCharacter += std::string(6, '\0');
  const struct {
    const char* Name;
    std::string Bytes;
  } Cases[] = {
      {"Windows text in names and lines", Record("M\xFCller",
                                                 "Ren\xE9"
                                                 "e",
                                                 2, {"caf\xE9", "", "line"})},
      {"counts of zero or less", Str("Neg") + Str("Ann") + std::string(10, '\0') +
                                     std::string("\xFF\xFF\0\0\0\x80", 6) + std::string("\x01\0", 2)},
      {"a name longer than its field", Record(std::string(60, 'x') + "\xC3\xA9", "", 255, {std::string(300, 'n')})},
      {"a character split by a count", SplitCharacter},
      {"UTF-8 and sizes above 0x7F", Record("\xC3\x85kesson", "", 1, {std::string(0x90, 'n'), "caf\xC3\xA9"})},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    WriteBytes(BookPath, Header + Case.Bytes);
    TAddressBook Alone;
    ASSERT_FALSE(Alone.LoadFromFile(BookPath).Damaged);
    const std::string Expected = Entry(*ItemAt(*Alone.Items, 0));
    constexpr size_t BufferEnd = size_t(1) << 16;
    for (size_t Before = BufferEnd - Case.Bytes.size() - 1; Before <= BufferEnd + 1; ++Before) {
      // "Aaa" entries before it, one of them as long as makes the record begin at Before.
      std::string Bytes = Header;
      const std::string Filler = Record("Aaa", "", 0, {std::string(100, 'f')});
      while (Bytes.size() + Filler.size() + 200 < Before) Bytes += Filler;
      Bytes += Record("Aaa", "", 0, {std::string(Before - Bytes.size() - Record("Aaa", "", 0, {""}).size(), 'f')});
      ASSERT_EQ(Bytes.size(), Before);
      WriteBytes(BookPath, Bytes + Case.Bytes + Record("Zzz", ""));
      TAddressBook Book;
      ASSERT_FALSE(Book.LoadFromFile(BookPath).Damaged) << Before;
      const TAddressItem* Found = nullptr;
      for (int32_t I = 0; I < Book.Items->Count; ++I)
        if (ItemAt(*Book.Items, I)->Surname.str() != "Aaa" && ItemAt(*Book.Items, I)->Surname.str() != "Zzz")
          Found = ItemAt(*Book.Items, I);
      ASSERT_TRUE(Found) << Before;
      ASSERT_EQ(Entry(*Found), Expected) << Before;
      TBookStream Stream(BookPath);
      TEntryView View;
      std::string Streamed;
      while (Stream.Next(View))
        if (View.Surname != "Aaa" && View.Surname != "Zzz") Streamed = Entry(View);
      ASSERT_FALSE(Stream.Damaged());
      ASSERT_EQ(Streamed, Expected) << Before;
    }
  }
}

// Neighbours with the same names as stored are passed over without being
// compared: what comes after such a run is still compared with it.
TEST_F(BookFile, AStreamTellsWhetherTheBookIsInListOrder) {
  const struct {
    std::vector<std::pair<std::string, std::string>> Names;
    bool Ordered;
  } Cases[] = {
      {{{"Ann", ""}, {"Ann", ""}, {"Bob", ""}}, true},
      {{{"Bob", ""}, {"Bob", ""}, {"Ann", ""}}, false},
      {{{"Ann", "Zed"}, {"Ann", "Zed"}, {"Ann", "Amy"}}, false},
      {{{"M\xFCller", ""}, {"M\xFCller", ""}, {"M\xC3\xBCller", ""}, {"Adams", ""}}, false},
      {{{"M\xFCller", ""}, {"M\xC3\xBCller", ""}, {"Zander", ""}}, true},
      {{{"", "Bob"}, {"Bob", ""}, {"Ann", ""}}, false},
      {{}, true},
  };
  for (const auto& Case : Cases) {
    std::string Bytes = Header;
    for (const auto& [Surname, FirstName] : Case.Names) Bytes += Record(Surname, FirstName);
    SCOPED_TRACE(Bytes);
    WriteBytes(BookPath, Bytes);
    TBookStream Stream(BookPath);
    EXPECT_EQ(Stream.InListOrder(), Case.Ordered);
    // Rewound: every entry is read after it.
    TEntryView View;
    size_t Read = 0;
    while (Stream.Next(View)) ++Read;
    EXPECT_EQ(Read, Case.Names.size());
  }
}

TEST(FixedText, KeepsItsBytesInPlaceOrInABlockThroughCopiesMovesAndItself) {
  // Around the fifteen bytes kept in place, and past the capacity in
  // characters (the cut keeps whole characters).
  const std::string Eur = "\xE2\x82\xAC";  // three bytes, one character
  const struct {
    std::string In, Kept;
  } Cases[] = {
      {"", ""},
      {"abcdefghijklmn", "abcdefghijklmn"},
      {"abcdefghijklmno", "abcdefghijklmno"},
      {"abcdefghijklmnop", "abcdefghijklmnop"},
      {std::string(19, 'x') + Eur, std::string(19, 'x') + Eur},
      {std::string(19, 'x') + Eur + "y", std::string(19, 'x') + Eur},
      {std::string(21, 'x'), std::string(20, 'x')},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.In);
    TFixedText<20> Text(Case.In);
    EXPECT_EQ(Text.str(), Case.Kept);
    EXPECT_EQ(Text.c_str()[Text.size()], '\0');
    TFixedText<20> Copy(Text), Assigned;
    Assigned = Copy;
    TFixedText<20> Moved(std::move(Copy));
    EXPECT_TRUE(Copy.empty());
    EXPECT_EQ(Assigned, Moved);
    EXPECT_EQ(Moved.str(), Case.Kept);
    // Taking a part of itself, whether the part lies in place or in its block.
    Moved = Moved.str().substr(Moved.empty() ? 0 : 1);
    EXPECT_EQ(Moved.str(), Case.Kept.substr(Case.Kept.empty() ? 0 : 1));
    TFixedText<20>& Same = Assigned;
    Assigned = std::move(Same);
    EXPECT_EQ(Assigned.str(), Case.Kept);
  }
  // Long texts in a wider field: 50 characters of three bytes each.
  std::string Long;
  for (int I = 0; I < 51; ++I) Long += Eur;
  TFixedText<NameCapacity> Wide(Long);
  EXPECT_EQ(Wide.size(), 150u);
  Wide = "short";
  EXPECT_EQ(Wide.str(), "short");
}

TEST_F(BookFile, LineCountsOfZeroOrLessAreEmptyLists) {
  // Home address -1, work address 0, notes -32768 lines; tab page 1.
  std::string Counts = std::string("\xFF\xFF\0\0\0\x80", 6);
  WriteBytes(BookPath, Header + Str("Neg") + Str("Ann") + std::string(10, '\0') + Counts + std::string("\x01\0", 2) +
                           Record("Next", "", 2, {"note"}));
  TAddressBook Book;
  TLoadResult Result = Book.LoadFromFile(BookPath);
  EXPECT_FALSE(Result.Damaged);
  ASSERT_EQ(NamesOf(*Book.Items), "Neg/Ann|Next/");
  TAddressItem* Neg = ItemAt(*Book.Items, 0);
  EXPECT_EQ(Neg->HomeAddress.Count() + Neg->BusAddress.Count() + Neg->Notes.Count(), 0);
  EXPECT_EQ(Neg->TabPage, 1);
  EXPECT_EQ(ItemAt(*Book.Items, 1)->Notes.Lines(), std::vector<std::string>{"note"});
}

TEST_F(BookFile, StrangeTabPagesAndWindowsTextAreMadeSafe) {
  WriteBytes(BookPath, Header + Record("M\xFCller", "", 7) + Record("Ok", "", 1));
  TAddressBook Book;
  EXPECT_FALSE(Book.LoadFromFile(BookPath).Damaged);
  EXPECT_EQ(ItemAt(*Book.Items, 0)->Surname.str(), "M\xC3\xBCller");
  EXPECT_EQ(ItemAt(*Book.Items, 0)->TabPage, 7);  // kept: the window leaves the page alone
  EXPECT_EQ(ItemAt(*Book.Items, 1)->TabPage, 1);
}

TEST_F(BookFile, MissingOrUnreadableFileRaisesTheSystemText) {
  TAddressBook Book;
  try {
    Book.LoadFromFile(Dir / "absent.ABK");
    FAIL() << "no error";
  } catch (const EFileError& E) {
    EXPECT_NE(std::string(E.what()).find("No such file or directory"), std::string::npos) << E.what();
  }
  EXPECT_EQ(Book.Items->Count, 0);
}

TEST_F(BookFile, WhatTheFormatCannotHoldIsRefusedAndTheFileKept) {
  WriteBytes(BookPath, Header);
  TAddressBook Book;
  Book.FileName = BookPath;
  TAddressItem* Item = MakeItem("Long", "Line");
  Item->Notes.Add(std::string(32768, 'x'));
  Book.Items->Add(Item);
  Book.Modified = true;
  try {
    Book.SaveToFile();
    FAIL() << "no error";
  } catch (const EFileError& E) {
    EXPECT_NE(std::string(E.what()).find("Long, Line"), std::string::npos) << E.what();
  }
  EXPECT_TRUE(Book.Modified);
  EXPECT_EQ(ReadBytes(BookPath), Header);

  Item->Notes.Clear();
  Item->Notes.Add(std::string(32767, 'x'));  // the longest line that fits
  for (int I = 0; I < 32767; ++I) Item->HomeAddress.Add("");
  Book.SaveToFile();
  TAddressBook Loaded;
  Loaded.LoadFromFile(BookPath);
  EXPECT_EQ(ItemAt(*Loaded.Items, 0)->Notes[0].size(), 32767u);
  EXPECT_EQ(ItemAt(*Loaded.Items, 0)->HomeAddress.Count(), 32767);

  Item->HomeAddress.Add("");
  EXPECT_THROW(Book.SaveToFile(), EFileError);
}

TEST_F(BookFile, FileSizeLimitFailsTheSaveAndKeepsBookAndBackup) {
  // The limit is met writing the new book, or copying the old one to the
  // backup. The signal it raises must not end the process.
  const struct {
    const char* Name;
    int OldEntries, NewEntries;
  } Cases[] = {{"new book too large", 1, 500}, {"backup copy too large", 500, 1}};
  auto Book = [&](int Entries) {
    auto Made = std::make_unique<TAddressBook>();
    Made->FileName = BookPath;
    for (int I = 0; I < Entries; ++I) Made->Items->Add(MakeItem("Entry" + std::to_string(I), "Someone"));
    Made->Modified = true;
    return Made;
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Book(Case.OldEntries)->SaveToFile();
    WriteBytes(Dir / "people.~abk", "previous backup");
    std::string Before = ReadBytes(BookPath);
    int Status = RunInChild(
        [&] {
          auto New = Book(Case.NewEntries);
          try {
            New->SaveToFile();
            return 2;
          } catch (const EFileError& E) {
            std::string Text = E.what();
            bool SaysWhy =
                Text.rfind("Cannot write file ", 0) == 0 && Text.find(std::strerror(EFBIG)) != std::string::npos;
            return New->Modified && SaysWhy ? 0 : 3;
          }
        },
        {.FileSize = 4096});
    EXPECT_EQ(Status, 0);
    EXPECT_EQ(ReadBytes(BookPath), Before);
    EXPECT_EQ(ReadBytes(Dir / "people.~abk"), "previous backup");
    EXPECT_EQ(OtherFiles(Dir.Path, {"people.ABK", "people.~abk"}), "");
  }
}

TEST_F(BookFile, ABookTheUserMayNotWriteIsRefusedAndKept) {
  ::chmod(Dir.Path.c_str(), 0777);  // a folder anyone may write in
  auto Save = [&] {
    TAddressBook Book;
    Book.FileName = BookPath;
    Book.Items->Add(MakeItem("New", ""));
    try {
      Book.SaveToFile();
      return 2;
    } catch (const EFileError& E) {
      return std::string(E.what()) == "Cannot create file " + BookPath + ": " + std::strerror(EACCES) ? 0 : 3;
    }
  };
  WriteBytes(BookPath, Header);
  ::chmod(BookPath.c_str(), 0444);  // read-only for everyone, the superuser too
  EXPECT_EQ(Save(), 0);
  // Writable by its owner only, and saved by another user (when the tests do
  // not run as the superuser, the read-only book again, for that user).
  ::chmod(BookPath.c_str(), ::geteuid() == 0 ? 0644 : 0444);
  EXPECT_EQ(RunInChild(Save, {.NormalUser = true}), 0);
  EXPECT_EQ(ReadBytes(BookPath), Header);
  EXPECT_EQ(OtherFiles(Dir.Path, {"people.ABK"}), "");
}

TEST_F(BookFile, AnythingButARegularFileIsRefusedAtOnce) {
  ASSERT_EQ(::mkfifo((Dir / "pipe.ABK").c_str(), 0644), 0);
  std::filesystem::create_symlink("/dev/zero", Dir / "zero.ABK");
  std::filesystem::create_directory(Dir / "folder.ABK");
  const std::pair<std::string, std::string> Cases[] = {{"pipe.ABK", "it is a named pipe, not a regular file"},
                                                       {"zero.ABK", "it is a device, not a regular file"},
                                                       {"folder.ABK", "it is a folder, not a regular file"}};
  for (const auto& [Name, Why] : Cases) {
    SCOPED_TRACE(Name);
    std::string Path = Dir / Name;
    // Kept from hanging or filling the disk should the refusal fail.
    int Status = RunInChild(
        [&] {
          auto Refused = [&](auto&& Act, const std::string& Text) {
            try {
              Act();
              return false;
            } catch (const EFileError& E) {
              return E.what() == Text;
            }
          };
          TAddressBook Book;
          bool Load = Refused([&] { Book.LoadFromFile(Path); }, "Cannot open file " + Path + ": " + Why);
          Book.FileName = Path;
          bool Save = Refused([&] { Book.SaveToFile(); }, "Cannot create file " + Path + ": " + Why);
          bool Copy = Refused([&] { CopyFile(Path, Dir / "copy"); }, "Cannot open file " + Path + ": " + Why);
          return (Load ? 0 : 1) | (Save ? 0 : 2) | (Copy ? 0 : 4);
        },
        {.Seconds = 20, .FileSize = 1 << 20});
    EXPECT_EQ(Status, 0) << "1 load, 2 save, 4 copy not refused as expected";
  }
  EXPECT_EQ(OtherFiles(Dir.Path, {"pipe.ABK", "zero.ABK", "folder.ABK"}), "");
  EXPECT_TRUE(std::filesystem::is_fifo(Dir / "pipe.ABK"));
}

TEST_F(BookFile, SaveKeepsPermissionsAndSymbolicLinks) {
  std::string Real = Dir / "real.ABK";
  WriteBytes(Real, Header);
  ::chmod(Real.c_str(), 0640);
  std::filesystem::create_symlink(Real, BookPath);
  TAddressBook Book;
  Book.FileName = BookPath;
  Book.Items->Add(MakeItem("Linked", ""));
  Book.SaveToFile();
  EXPECT_TRUE(std::filesystem::is_symlink(BookPath));
  TAddressBook Loaded;
  Loaded.LoadFromFile(Real);
  EXPECT_EQ(NamesOf(*Loaded.Items), "Linked/");
  struct stat S;
  ::stat(Real.c_str(), &S);
  EXPECT_EQ(S.st_mode & 0777, 0640u);

  // The owner is kept too, where the user may give the file to another.
  if (::geteuid() != 0) GTEST_SKIP() << "keeping another user's ownership needs the superuser";
  const passwd* Nobody = ::getpwnam("nobody");
  ASSERT_NE(Nobody, nullptr);
  ASSERT_EQ(::chown(Real.c_str(), Nobody->pw_uid, Nobody->pw_gid), 0);
  Book.SaveToFile();
  ::stat(Real.c_str(), &S);
  EXPECT_EQ(S.st_uid, Nobody->pw_uid);
  EXPECT_EQ(S.st_gid, Nobody->pw_gid);
  EXPECT_EQ(S.st_mode & 0777, 0640u);
}

TEST_F(BookFile, FileUtilities) {
  EXPECT_FALSE(IsFileReadOnly(Dir / "absent"));
  WriteBytes(BookPath, "x");
  ::chmod(BookPath.c_str(), 0644);
  EXPECT_FALSE(IsFileReadOnly(BookPath));
  ::chmod(BookPath.c_str(), 0444);  // read-only even for root, who could write it
  EXPECT_TRUE(IsFileReadOnly(BookPath));
  ::chmod(BookPath.c_str(), 0644);

  std::string Big(20000, '\0');
  for (size_t I = 0; I < Big.size(); ++I) Big[I] = char(I * 7);
  WriteBytes(BookPath, Big);
  WriteBytes(Dir / "copy", "old content that is longer than nothing");
  CopyFile(BookPath, Dir / "copy");
  EXPECT_EQ(ReadBytes(Dir / "copy"), Big);
  CopyFile(BookPath, BookPath);  // onto itself: must not truncate
  EXPECT_EQ(ReadBytes(BookPath), Big);
  try {
    CopyFile(Dir / "absent", Dir / "copy");
    FAIL() << "no error";
  } catch (const EFileError& E) {
    EXPECT_EQ(std::string(E.what()).rfind("Cannot open file " + (Dir / "absent"), 0), 0u) << E.what();
  }
  try {
    CopyFile(BookPath, Dir / "no/such/folder");
    FAIL() << "no error";
  } catch (const EFileError& E) {
    EXPECT_EQ(std::string(E.what()).rfind("Cannot create file " + (Dir / "no/such/folder"), 0), 0u) << E.what();
  }
  EXPECT_EQ(ChangeFileExt("/a.b/book", ".OLD"), "/a.b/book.OLD");
  EXPECT_EQ(ChangeFileExt("/a/book.abk", ".~abk"), "/a/book.~abk");
  TAddressBook Untitled;
  EXPECT_EQ(Untitled.DisplayName(), "(Untitled)");
}

// ---- Books written by older versions

class OldBook : public BookFile {
protected:
  void Write(const std::string& Text) { WriteBytes(BookPath, Text); }
};

TEST_F(OldBook, IsReadWithWarningAndBackedUp) {
  std::string Old =
      "[Settings]\r\nDefaultTab=2\r\n"
      "[Items]\r\nNumberOfItems=4\r\n1=Person1\r\n2=\r\n3=Person3\r\n4=Person4\r\n"
      "[Person1]\r\nSurname=" +
      std::string(60, 's') +
      "\r\nFirstName=Ann\r\nBusExtn=123456789012\r\n"
      "HomeAddressLines=2\r\nHomeAddress_1=1 Hill Rd\r\nHomeAddress_2=Leeds\r\n"
      "NotesLines=1\r\nNotes_1=Likes tea\r\nTabPage=5\r\n"
      "[Person3]\r\nSurname=Brown\r\nFirstName=Bob\r\nHomeTelephone=0113\r\nTabPage=1\r\n"
      "BusAddressLines=3\r\nBusAddress_1=Works\r\nBusAddress_3=M\xFCnchen\r\n"
      "[Person4]\r\nSurname=Adams\r\n";
  Write(Old);
  TAddressBook Book(&Host);
  TLoadResult Result = Book.LoadFromFile(BookPath);
  ASSERT_EQ(Host.Warnings.size(), 1u);
  EXPECT_EQ(Host.Warnings[0], "'" + BookPath +
                                  "' was saved by an older version of Tobrinel.  When you save it "
                                  "next, it will be upgraded to the new version.  Your original old "
                                  "file will be backed up to: '" +
                                  Dir / "people.OLD" + "'");
  EXPECT_EQ(Host.DefaultTab, 2);
  EXPECT_EQ(ReadBytes(Dir / "people.OLD"), Old);
  EXPECT_FALSE(Result.Damaged);
  EXPECT_EQ(Result.EntriesRead, 3);
  EXPECT_FALSE(Book.Modified);
  ASSERT_EQ(NamesOf(*Book.Items), "Adams/|Brown/Bob|" + std::string(50, 's') + "/Ann");

  TAddressItem* Cut = ItemAt(*Book.Items, 2);
  EXPECT_EQ(Cut->BusExtn.str(), "1234567890");
  EXPECT_EQ(Cut->HomeAddress.Lines(), (std::vector<std::string>{"1 Hill Rd", "Leeds"}));
  EXPECT_EQ(Cut->Notes.Lines(), std::vector<std::string>{"Likes tea"});
  EXPECT_EQ(Cut->TabPage, 0);
  TAddressItem* Brown = ItemAt(*Book.Items, 1);
  EXPECT_EQ(Brown->TabPage, 1);
  EXPECT_EQ(Brown->HomeTelephone.str(), "0113");
  EXPECT_EQ(Brown->BusAddress.Lines(), (std::vector<std::string>{"Works", "", "M\xC3\xBCnchen"}));
  EXPECT_EQ(ReadBytes(BookPath), Old);  // nothing written on load

  // The next save writes the current format; both copies keep the old one.
  Book.SaveToFile();
  EXPECT_EQ(ReadBytes(BookPath).substr(0, 15), Header);
  EXPECT_EQ(ReadBytes(Dir / "people.OLD"), Old);
  EXPECT_EQ(ReadBytes(Dir / "people.~abk"), Old);
  TAddressBook Again(&Host);
  Again.LoadFromFile(BookPath);
  EXPECT_EQ(Host.Warnings.size(), 1u);
  EXPECT_EQ(NamesOf(*Again.Items), NamesOf(*Book.Items));
}

TEST_F(OldBook, EmptyFilesAndOtherHeadersTakeTheOlderPath) {
  // Other headers are older books only when their text has an older book's
  // sections; alone they are refused (see WhatIsNoBookIsRefusedAndLeftAlone).
  for (const std::string& Text : {std::string(), std::string("TOBRINEL:1.05\r\n[Items]\r\n"),
                                  std::string("tobrinel:1.04\r\n[Settings]\r\nDefaultTab=1\r\n")}) {
    Host.Warnings.clear();
    std::filesystem::remove(Dir / "people.OLD");
    Write(Text);
    TAddressBook Book(&Host);
    Book.LoadFromFile(BookPath);
    EXPECT_EQ(Host.Warnings.size(), 1u);
    EXPECT_EQ(Book.Items->Count, 0);
    EXPECT_TRUE(std::filesystem::exists(Dir / "people.OLD"));
  }
}

TEST_F(OldBook, BookFileKindReadsTheLinesAsTheIniEngineDoes) {
  const std::string Random = [] {
    std::string Bytes;
    for (unsigned I = 0, X = 7; I < 100000; ++I) Bytes += char((X = X * 1103515245 + 12345) >> 16);
    return Bytes;
  }();
  const struct TCase {
    const char* Name;
    std::string Bytes;
    EBookFile Kind;
  } Cases[] = {
      {"empty", "", EBookFile::Older},
      {"current header alone", Header, EBookFile::Current},
      {"current header ended by a line feed", "TOBRINEL:1.04\n", EBookFile::Current},
      {"items section", "[Items]\r\nNumberOfItems=0\r\n", EBookFile::Older},
      {"settings in any case, last line unended", "Note\r\n[sETTINGS]", EBookFile::Older},
      {"tabs and form feeds are text", "A=\t\f\v\r\n[Items]\r\n", EBookFile::Older},
      {"bytes after the end-of-file mark are not read", "[Items]\r\n\x1a\x00\x01\x02", EBookFile::Older},
      {"section after the end-of-file mark", "A=1\r\n\x1a[Items]\r\n", EBookFile::NotABook},
      {"later header, no sections", "TOBRINEL:1.05\r\n", EBookFile::NotABook},
      {"other section", "[Person1]\r\nSurname=Smith\r\n", EBookFile::NotABook},
      {"line feeds only, as written here", "[Items]\nNumberOfItems=0\n", EBookFile::Older},
      {"a line feed inside a Windows line", "A=1\r\nB=x\n[Items]\r\n", EBookFile::NotABook},
      {"section name with spaces", "[ Items ]\r\n", EBookFile::NotABook},
      {"null byte", std::string("[Items]\r\nA=\0\r\n", 14), EBookFile::NotABook},
      {"escape byte", "[Items]\r\nA=\x1b\r\n", EBookFile::NotABook},
      {"vCard", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nEND:VCARD\r\n", EBookFile::NotABook},
      {"blank lines only", "\r\n\r\n", EBookFile::NotABook},
      {"random bytes", Random, EBookFile::NotABook},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Write(Case.Bytes);
    EXPECT_EQ(int(BookFileKind(BookPath)), int(Case.Kind));
  }
}

TEST_F(OldBook, WhatIsNoBookIsRefusedAndLeftAlone) {
  const std::string VCard = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nEND:VCARD\r\n";
  Write(VCard);
  TAddressBook Book(&Host);
  try {
    Book.LoadFromFile(BookPath);
    FAIL() << "no error";
  } catch (const ENotABook& E) {
    EXPECT_EQ(std::string(E.what()), BookPath + " is not an address book");
  }
  EXPECT_TRUE(Host.Warnings.empty());
  EXPECT_EQ(Book.Items->Count, 0);
  EXPECT_EQ(ReadBytes(BookPath), VCard);
  EXPECT_EQ(OtherFiles(Dir.Path, {"people.ABK"}), "");
}

TEST_F(OldBook, AHostThatNeverSavesGetsNoCopyAndIsToldSo) {
  class TReader : public TRecordingHost {
  public:
    bool MaySave() const override { return false; }
  } Reader;
  const std::string Old = "[Settings]\r\nDefaultTab=1\r\n[Items]\r\nNumberOfItems=1\r\n1=P\r\n[P]\r\nSurname=Old\r\n";
  Write(Old);
  TAddressBook Book(&Reader);
  EXPECT_EQ(Book.LoadFromFile(BookPath).EntriesRead, 1);
  EXPECT_EQ(NamesOf(*Book.Items), "Old/");
  EXPECT_EQ(Reader.DefaultTab, 1);
  ASSERT_EQ(Reader.Warnings.size(), 1u);
  EXPECT_EQ(Reader.Warnings[0], "'" + BookPath +
                                    "' was saved by an older version of Tobrinel.  It was read as it stands; "
                                    "nothing was written beside it.");
  EXPECT_EQ(ReadBytes(BookPath), Old);
  EXPECT_EQ(OtherFiles(Dir.Path, {"people.ABK"}), "");
}

TEST_F(OldBook, HugeCountsFromDamagedFilesDoNotHang) {
  Write(
      "[Items]\r\nNumberOfItems=2147483647\r\n7=P\r\n[P]\r\nSurname=Only\r\n"
      "HomeAddressLines=2000000000\r\nHomeAddress_1=Here\r\n");
  TAddressBook Book(&Host);
  Book.LoadFromFile(BookPath);
  ASSERT_EQ(Book.Items->Count, 1);
  EXPECT_EQ(ItemAt(*Book.Items, 0)->HomeAddress[0], "Here");
}
