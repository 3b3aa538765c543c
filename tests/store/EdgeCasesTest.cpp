// Cases at the edges of the readers, each one a fault that a one-point change
// of the code would let through.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "ContactsTestUtil.h"
#include "TextCodec.h"

namespace {

// Text as UTF-16 little-endian with a byte-order mark.
std::string Utf16Le(const std::u16string& Text) {
  std::string Out = "\xFF\xFE";
  for (char16_t C : Text) Out += char(C & 0xFF), Out += char(C >> 8);
  return Out;
}

std::string ReadAll(TInput& In) {
  std::string Out;
  for (std::string_view Piece; !(Piece = In.Peek(1 << 20)).empty(); In.Skip(Piece.size())) Out += Piece;
  return Out;
}

}  // namespace

// The fast test for ASCII runs must not pass over a byte at the end of a run.
TEST(TextCodec, Windows1252BytesAnywhereInARun) {
  const struct {
    std::string Bytes;
    const char* Utf8;
  } Cases[] = {
      {"Mueller\xFCx", "Mueller\xC3\xBCx"},                // the eighth byte of eight
      {"Muelle\xFCxy", "Muelle\xC3\xBCxy"},                // the seventh
      {"abcdefghijklmno\xFC", "abcdefghijklmno\xC3\xBC"},  // the last of sixteen
      {"\x9F", "\xC5\xB8"},                                // Ÿ
      {"\x80\x8A\x9C", "\xE2\x82\xAC\xC5\xA0\xC5\x93"},    // € Š œ
      {"Mueller\xC3\xBC", "Mueller\xC3\xBC"},              // valid UTF-8 is kept
  };
  for (const auto& Case : Cases) EXPECT_EQ(ToUtf8(Case.Bytes), Case.Utf8) << Case.Bytes;
  EXPECT_EQ(AsciiPrefix("Mueller\xFCx"), 7u);
  EXPECT_FALSE(IsValidUtf8("Mueller\xFCx"));
}

// A character beyond the Basic Multilingual Plane as the very last thing of a
// UTF-16 text, from memory and from a file.
TEST(ContactFields, Utf16EndingInASurrogatePair) {
  const struct {
    std::u16string Text;
    const char* Utf8;
  } Cases[] = {
      {u"Lee\U0001F600", "Lee\xF0\x9F\x98\x80"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {u"Lee\xD83D", "Lee\xEF\xBF\xBD"},  // half a pair at the end is a replacement character
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Utf8);
    const std::string Bytes = Utf16Le(Case.Text);
    TInput Memory(Bytes);
    EXPECT_EQ(ReadAll(Memory), Case.Utf8);
    TTempDir Dir;
    WriteBytes(Dir / "in.csv", Bytes);
    int Fd = ::open((Dir / "in.csv").c_str(), O_RDONLY);
    ASSERT_GE(Fd, 0);
    TInput File(Fd, "in.csv");
    EXPECT_EQ(ReadAll(File), Case.Utf8);
    ::close(Fd);
  }
  TImported Read = ReadContacts(Utf16Le(u"Last Name\r\nLee\U0001F600"), EContactFormat::Csv);
  ASSERT_EQ(Read.Items.size(), 1u);
  EXPECT_EQ(Read.Items[0]->Surname.str(), "Lee\xF0\x9F\x98\x80");
}

// An older book lists its entries under [Items] up to NumberOfItems; keys
// beyond it are not entries.
TEST(OldBookItems, KeysAboveTheCountAreNotLoaded) {
  const struct {
    const char* Items;
    const char* Names;
  } Cases[] = {
      {"NumberOfItems=2\r\n1=P1\r\n2=P2\r\n3=P3\r\n", "A/|B/"},
      {"NumberOfItems=1\r\n2=P2\r\n1=P1\r\n", "A/"},
      {"NumberOfItems=0\r\n1=P1\r\n", ""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Items);
    TTempDir Dir;
    WriteBytes(Dir / "old.ABK", std::string("[Items]\r\n") + Case.Items +
                                    "[P1]\r\nSurname=A\r\n[P2]\r\nSurname=B\r\n[P3]\r\nSurname=C\r\n");
    TAddressBook Book;
    Book.LoadFromFile(Dir / "old.ABK");
    EXPECT_EQ(NamesOf(*Book.Items), Case.Names);
  }
}

// Values of cards at their edges.
TEST(VCardEdges, ValuesAtTheirEdges) {
  const struct {
    const char* Name;
    std::string Card;
    const char* Expected;
  } Cases[] = {
      {"\\N is a line break as \\n is",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nNOTE:one\\Ntwo\\nthree\r\nEND:VCARD\r\n",
       "Lee\nAnn\n\n\n\n\n\n[]\n[]\n[one|two|three|]\n0\n--\n"},
      {"a single 3.0 name component keeps its blanks",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:van der Berg\r\nTEL:1\r\nEND:VCARD\r\n",
       "van der Berg\n\n1\n\n\n\n\n[]\n[]\n[]\n0\n--\n"},
      {"the pages of the details are 0 to 2",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nX-TOBRINEL-TABPAGE:2\r\nEND:VCARD\r\n",
       "Lee\nAnn\n\n\n\n\n\n[]\n[]\n[]\n2\n--\n"},
      {"page 3 is refused", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nX-TOBRINEL-TABPAGE:3\r\nEND:VCARD\r\n",
       "Lee\nAnn\n\n\n\n\n\n[]\n[]\n[]\n0\n--\n"},
      {"whole base64", "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nNOTE;ENCODING=BASE64:QUJDRA==\r\nEND:VCARD\r\n",
       "Lee\nAnn\n\n\n\n\n\n[]\n[]\n[ABCD|]\n0\n--\n"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(Fields(ReadVCards(Case.Card)), Case.Expected);
  }
  // Base64 cut short, or going on after its padding, is reported with its line.
  for (const char* Value : {"QUJDR", "Q", "QUJDRA==QQ"}) {
    SCOPED_TRACE(Value);
    try {
      ReadVCards(std::string("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nNOTE;ENCODING=BASE64:") + Value +
                 "\r\nEND:VCARD\r\n");
      ADD_FAILURE() << "read without an error";
    } catch (const EImportError& E) {
      EXPECT_EQ(E.Line, 4);
      EXPECT_EQ(E.Problem, "the value of NOTE is not valid base64");
    }
  }
}
