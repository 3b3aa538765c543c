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
  B.Href = "/ann/book/2.vcf";
  B.ETag = "";
  B.Text = "";
  B.Pending = true;
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
  // The values that could break a line or a field are escaped.
  EXPECT_NE(Text.find("\nuser ann%20smith\n"), std::string::npos);
  EXPECT_NE(Text.find("\ncard /ann/book/1.vcf \"e%201\" 1 0123456789abcdef 44 0\n"), std::string::npos) << Text;
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
      {"TOBRINEL-SYNC 2\nend 0\n", "x.sync: was written by a later version of Tobrinel (sync state format 2)"},
      {"TOBRINEL-SYNC x\nend 0\n", "x.sync: is not a Tobrinel sync state"},
      {"TOBRINEL-SYNC 1\nserver x\n", "x.sync: line 3: the file is cut short (no end line)"},
      {"TOBRINEL-SYNC 1\nserver x", "x.sync: line 2: the file is cut short (a line without its end)"},
      {Good.substr(0, Good.size() - 30), "x.sync: line 17: the file is cut short or a length is wrong"},
      {Replaced(" 44 0\n", " 47 0\n"), "x.sync: line 8: the file is cut short or a length is wrong"},
      {Replaced(" 44 0\n", " 4x 0\n"), "x.sync: line 7: \"4x\" is not a length"},
      {Replaced("0123456789abcdef", "0123456789abcdeg"), "x.sync: line 7: a fingerprint must be 16 hexadecimal digits"},
      {Replaced("end 2", "end 3"), "x.sync: line 18: the number of cards does not match"},
      {Replaced("/ann/book/2.vcf", "/ann/book/1.vcf"), "x.sync: line 15: the card /ann/book/1.vcf is given twice"},
      {Replaced("user ", "password "), "x.sync: line 4: unknown item \"password\""},
      {Replaced("user ", "server "), "x.sync: line 4: \"server\" is given twice"},
      {Replaced("3:Lee", "9:Lee"), "x.sync: line 15: the entry of the card is damaged"},
      {Replaced("ann%20smith", "ann%2smith"), "x.sync: line 4: a value holds a '%' that is not followed by two"},
      {Replaced(" 1 0123456789abcdef", " 0123456789abcdef"), "x.sync: line 7: a card line needs six values"},
      {Good + "more\n", "x.sync: line 18: there is more after the end line"},
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
  ASSERT_TRUE(S.Load(Path));
  EXPECT_TRUE(S == Sample());
  EXPECT_EQ(OtherFiles(Dir.Path, {"Book.ABK.sync"}), "");
  EXPECT_THROW(S.Load(Dir.Path), EFileError);
  WriteBytes(Path, "junk");
  EXPECT_THROW(S.Load(Path), ESyncStateError);
}
