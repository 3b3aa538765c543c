#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

#include "StoreTestUtil.h"
#include "SyncFields.h"
#include "SyncState.h"

namespace {

TSyncState Sample() {
  TSyncState S;
  S.ServerUrl = "https://dav.example.org/";
  S.AddressBookUrl = "https://dav.example.org/ann/my book%20/";
  S.UserName = "ann smith";
  S.SyncToken = "http://radicale.org/ns/sync/1a2b\tx\ny";
  S.TrustedCertificate = "AB:CD";
  TSyncCard A;
  A.Href = "/ann/book/1.vcf";
  A.ETag = "\"e 1\"";
  A.Uid = "1";
  A.Text = S.Keep("BEGIN:VCARD\r\nNOTE:two\\nlines\r\n\r\nEND:VCARD\r\n\n");
  A.Fingerprint = 0x0123456789abcdefULL;
  TSyncCard B = A;
  A.Claim = 0xfedcba9876543210ULL;
  B.Href = "/ann/book/2.vcf";
  B.ETag = "";
  B.Text = "";
  B.Pending = true;
  B.Moved = true;
  TAddressItem Entry;
  Entry.Surname = "Lee", Entry.Notes.SetText("a\n\nb:5"), Entry.TabPage = 2;
  std::string Base;
  SyncFields::Encode(Base, Entry);
  B.Base = S.Keep(Base);
  B.Fingerprint = SyncFields::Fingerprint(Entry);
  S.Cards = {A, B};
  return S;
}

}  // namespace

TEST(SyncState, RoundTripKeepsEveryByte) {
  TSyncState S = Sample();
  std::string Text = S.Serialize();
  TSyncState Back;
  Back.Parse(Text, "x.sync");
  EXPECT_TRUE(Back == S);
  EXPECT_EQ(Back.Serialize(), Text);
  EXPECT_EQ(Back.SyncToken, "http://radicale.org/ns/sync/1a2b\tx\ny");
  EXPECT_EQ(Back.Cards[0].Text, "BEGIN:VCARD\r\nNOTE:two\\nlines\r\n\r\nEND:VCARD\r\n\n");
  TAddressItem Entry;
  ASSERT_TRUE(SyncFields::Decode(Back.Cards[1].Base, Entry));
  EXPECT_EQ(Entry.Notes.Text(), "a\n\nb:5");
  EXPECT_EQ(Entry.TabPage, 2);
  EXPECT_TRUE(Back.Cards[1].Pending);
  // The index first, its values escaped where they could break a line or a
  // field; then the texts as they are.
  EXPECT_NE(Text.find("\nuser ann%20smith\n"), std::string::npos);
  EXPECT_NE(Text.find("\ncards 2 172\ncard /ann/book/1.vcf \"e%201\" 1 0123456789abcdef 44 0\nclaim fedcba9876543210\n"
                      "pending /ann/book/2.vcf  1 "),
            std::string::npos)
      << Text;
  EXPECT_EQ(Text.substr(Text.size() - 52), "end 2\nBEGIN:VCARD\r\nNOTE:two\\nlines\r\n\r\nEND:VCARD\r\n\n\n\n");
}

TEST(SyncState, DamagedOrForeignFilesAreRefused) {
  const std::string Good = Sample().Serialize();
  auto Replaced = [&](const std::string& From, const std::string& To) {
    std::string T = Good;
    T.replace(T.find(From), From.size(), To);
    return T;
  };
  struct {
    std::string Content;
    const char* Message;
  } const Cases[] = {
      {"", "x.sync: is not a Tobrinel sync state"},
      {"TOBRINEL:1.04\r\n", "x.sync: is not a Tobrinel sync state"},
      {"TOBRINEL-SYNC 2\ncards 0 6\nend 0\n",
       "x.sync: was written by a later version of Tobrinel (sync state format 2)"},
      {"TOBRINEL-SYNC x\ncards 0 6\nend 0\n", "x.sync: is not a Tobrinel sync state"},
      {"TOBRINEL-SYNC 1\nserver x\n", "x.sync: line 3: the file is cut short (no cards line)"},
      {"TOBRINEL-SYNC 1\nserver x", "x.sync: line 2: the file is cut short (a line without its end)"},
      {Replaced("cards 2 172", "cards 2 179"), "x.sync: line 13: the index is longer than its cards line says"},
      {Replaced("cards 2 172", "cards 2 169"), "x.sync: line 13: the index is cut short (a line without its end)"},
      {Replaced("cards 2 172", "cards 2 999"), "x.sync: line 8: the file is cut short (the index is not whole)"},
      {Replaced("cards 2 172", "cards 3 172"), "x.sync: line 13: the number of cards does not match"},
      {Replaced("end 2", "end 3"), "x.sync: line 13: the number of cards does not match"},
      {Good.substr(0, Good.size() - 5), "x.sync: the text of the card /ann/book/1.vcf is cut short or damaged"},
      {Good + "more\n", "x.sync: there is more after the text of the last card"},
      {Replaced(" 44 0\n", " 4x 0\n"), "x.sync: line 8: \"4x\" is not a length"},
      {Replaced("0123456789abcdef", "0123456789abcdeg"), "x.sync: line 8: a fingerprint must be 16 hexadecimal digits"},
      {Replaced("/ann/book/2.vcf", "/ann/book/1.vcf"), "x.sync: line 10: the card /ann/book/1.vcf is given twice"},
      {Replaced("user ", "password "), "x.sync: line 4: unknown item \"password\""},
      {Replaced("user ", "server "), "x.sync: line 4: \"server\" is given twice"},
      {Replaced("3:Lee", "9:Lee"), "x.sync: line 10: the entry of the card is damaged"},
      {Replaced("claim fedcba9876543210\n", "claim fedcba9876543210\nmoved\n"),
       "x.sync: line 10: a claim must follow a card, once"},
      {Replaced("\nmoved\n", "\nmoved 1\n"), "x.sync: line 12: a claim gives a fingerprint, and \"moved\" nothing"},
      {Replaced("claim fedcba9876543210", "claim fedcba987654321x"), "x.sync: line 9: a claim gives a fingerprint"},
      {Replaced("ann%20smith", "ann%2smith"), "x.sync: line 4: a value holds a '%' that is not followed by two"},
      {Replaced(" 1 0123456789abcdef", " 0123456789abcdef"), "x.sync: line 8: a card line needs six values"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Message);
    TSyncState S;
    try {
      S.Parse(Case.Content, "x.sync");
      ADD_FAILURE() << "accepted";
    } catch (const ESyncStateError& E) {
      EXPECT_EQ(std::string(E.what()).substr(0, std::strlen(Case.Message)), Case.Message);
    }
  }
}

// A loaded state reads a card's text from the file only when it is wanted,
// and still has it after the file was replaced.
// An index longer than the pieces it is written in: its size, given before
// it, still matches it, and the file loads back whole.
TEST(SyncState, ALargeIndexIsWrittenInPiecesThatAddUp) {
  TTempDir Dir;
  TSyncState S = Sample();
  const TSyncCard First = S.Cards[0];
  for (int I = 0; I < 3000; ++I) {
    TSyncCard C = First;
    C.Href = S.Keep("/ann/book/n" + std::to_string(I) + ".vcf");
    S.Cards.push_back(C);
  }
  const std::string Path = Dir / "Big.ABK.sync";
  S.Save(Path);
  TSyncState Back;
  ASSERT_TRUE(Back.Load(Path));
  EXPECT_TRUE(Back == S);
  EXPECT_EQ(ReadBytes(Path), S.Serialize());
}

TEST(SyncState, FileBesideTheBook) {
  TTempDir Dir;
  std::string Path = TSyncState::PathFor(Dir / "Book.ABK");
  EXPECT_EQ(Path, Dir / "Book.ABK.sync");
  TSyncState S;
  S.UserName = "kept";
  EXPECT_FALSE(S.Load(Path));
  EXPECT_EQ(S.UserName, "");
  Sample().Save(Path);
  struct stat Info;
  ASSERT_EQ(::stat(Path.c_str(), &Info), 0);
  EXPECT_EQ(Info.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadBytes(Path), Sample().Serialize());
  ASSERT_TRUE(S.Load(Path));
  EXPECT_TRUE(S.Cards[0].TextInFile());
  EXPECT_TRUE(S == Sample());
  EXPECT_EQ(S.Text(S.Cards[0]), "BEGIN:VCARD\r\nNOTE:two\\nlines\r\n\r\nEND:VCARD\r\n\n");
  TSyncState Changed = S;
  Changed.UserName = "other";
  Changed.Save(Path);
  EXPECT_EQ(S.Serialize(), Sample().Serialize());
  EXPECT_EQ(OtherFiles(Dir.Path, {"Book.ABK.sync"}), "");

  std::string Good = Sample().Serialize();
  struct {
    std::string Content;
    const char* LoadError;  // "": loads, and the first card's text is refused
  } const Damaged[] = {
      {"junk", "is not a Tobrinel sync state"},
      {Good.substr(0, Good.size() - 1), "the file is cut short (the texts of the cards are not whole)"},
      {Good + "x", "there is more after the text of the last card"},
      {Good.substr(0, Good.size() - 2) + "x\n", ""},
  };
  for (const auto& Case : Damaged) {
    SCOPED_TRACE(Case.LoadError);
    WriteBytes(Path, Case.Content);
    try {
      S.Load(Path);
      EXPECT_STREQ(Case.LoadError, "");
      EXPECT_THROW(S.Text(S.Cards[0]), ESyncStateError);
    } catch (const ESyncStateError& E) {
      EXPECT_EQ(std::string(E.what()), Path + ": " + Case.LoadError);
    }
  }
  EXPECT_THROW(S.Load(Dir.Path), EFileError);
}

// Files as a sync writes them at the edges: a value whose last byte is
// escaped, and an empty book synced with an empty address book.
TEST(SyncState, EdgeFilesLoad) {
  struct {
    std::string Content;
    const char* UserName;
    const char* Token;
  } const Cases[] = {
      {"TOBRINEL-SYNC 1\nuser ann%20\ncards 0 6\nend 0\n", "ann ", ""},
      {"TOBRINEL-SYNC 1\nuser %25\ntoken a%0A\ncards 0 6\nend 0\n", "%", "a\n"},
      {"TOBRINEL-SYNC 1\ncards 0 6\nend 0\n", "", ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Content);
    TSyncState S;
    ASSERT_NO_THROW(S.Parse(Case.Content, "x.sync"));
    EXPECT_EQ(S.UserName, Case.UserName);
    EXPECT_EQ(S.SyncToken, Case.Token);
    EXPECT_TRUE(S.Cards.empty());
    TSyncState Back;
    ASSERT_NO_THROW(Back.Parse(S.Serialize(), "x.sync"));
    EXPECT_TRUE(Back == S);
  }
}

// Texts of fetched cards wait in a scratch file beside the book; a state that
// holds cards of the loaded file, of the scratch file and of memory writes
// each text where it belongs, and leaves no file behind.
TEST(SyncState, ScratchTextsSaveWithTheRest) {
  TTempDir Dir;
  const std::string Path = Dir / "Book.ABK.sync";
  Sample().Save(Path);
  struct {
    const char* Folder;  // "": none set; "dir": the test's folder
    bool InFile;
  } const Cases[] = {{"dir", true}, {"", false}, {"/nonexistent/folder", false}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Folder);
    TSyncState Loaded;
    ASSERT_TRUE(Loaded.Load(Path));
    TSyncState S = Loaded;
    S.ScratchFolder = std::string(Case.Folder) == "dir" ? Dir.Path : Case.Folder;
    TSyncCard New[3];
    const char* Texts[] = {"BEGIN:VCARD\r\nFN:one\r\nEND:VCARD\r\n", "", "BEGIN:VCARD\r\nFN:three\n\r\nEND:VCARD\r\n"};
    for (int I = 0; I < 3; ++I) {
      New[I].Href = S.Keep("/ann/book/n" + std::to_string(I) + ".vcf");
      S.KeepInFile(Texts[I], New[I]);
      EXPECT_EQ(New[I].TextInFile(), Case.InFile);
      EXPECT_EQ(S.Text(New[I]), Texts[I]);
    }
    // Loaded, scratch, loaded, scratch, scratch: the runs of each file apart.
    S.Cards = {New[2], Loaded.Cards[0], New[0], Loaded.Cards[1], New[1]};
    TSyncState Expected = Sample();
    const std::vector<TSyncCard> Old = Expected.Cards;
    Expected.Cards = {New[2], Old[0], New[0], Old[1], New[1]};
    for (TSyncCard& C : Expected.Cards) C.Text = Expected.Keep(TSyncState::Text(C)), C.TextFile = nullptr;
    const std::string Want = Expected.Serialize();
    EXPECT_EQ(S.Serialize(), Want);
    S.Save(Path + ".new");
    EXPECT_EQ(ReadBytes(Path + ".new"), Want);
    EXPECT_EQ(OtherFiles(Dir.Path, {"Book.ABK.sync", "Book.ABK.sync.new"}), "");
  }
}
