// What the CSV files of mail programs, Google and spreadsheets become.
#include <gtest/gtest.h>

#include "ContactsTestUtil.h"
#include "ContactFields.h"
#include "Csv.h"
#include "TextCodec.h"

namespace {

// Text as UTF-16 with a byte-order mark, little- or big-endian.
std::string Utf16(const std::u16string& Text, bool Little) {
  std::string Out = Little ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t C : Text) {
    char Low = char(C & 0xFF), High = char(C >> 8);
    Out += Little ? Low : High;
    Out += Little ? High : Low;
  }
  return Out;
}

}  // namespace

TEST(Csv, RowsOfOtherProgramsAreRead) {
  const struct {
    const char* Name;
    std::string Text;
    const char* Expected;
    const char* Skipped;  // photos, binary, empty, phone characters
  } Cases[] = {
      {"Google, labelled pairs",
       "First Name,Middle Name,Last Name,Phone 1 - Label,Phone 1 - Value,Phone 2 - Label,Phone 2 - Value,"
       "E-mail 1 - Label,E-mail 1 - Value,Address 1 - Label,Address 1 - Formatted,Address 1 - Street,"
       "Address 1 - City,Address 1 - Postal Code,Address 1 - Country,Labels,Photo\r\n"
       "Ann,,Lee,Mobile,07700 900123 ::: 07700 900124,Work Fax,020 7946 0001,* Home,ann@example.org,Home,"
       "\"12 Athens St\nLeeds\",12 Athens St,Leeds,LS1,UK,* myContacts,https://x.example/p.jpg\r\n",
       "Lee\nAnn\n\n\n\n020 7946 0001\n07700 900123\n[12 Athens St|Leeds|LS1|UK|]\n[]\n"
       "[Mobile: 07700 900124|E-mail (Home): ann@example.org|]\n0\n--\n",
       "1 0 0 0"},
      {"Google, typed pairs",
       "Name,Given Name,Family Name,Phone 1 - Type,Phone 1 - Value,Phone 2 - Type,Phone 2 - Value,"
       "Phone 3 - Type,Phone 3 - Value,Phone 4 - Type,Phone 4 - Value,Address 1 - Type,Address 1 - Formatted\n"
       "Bob Roe,Bob,Roe,Home,0100,Other,0200,Home Fax,0300,Work,0400,Work,\"1 Mill Lane\nHull\"\n",
       "Roe\nBob\n0100\n0400\n\n0300\n\n[]\n[1 Mill Lane|Hull|]\n[Telephone (Other): 0200|]\n0\n--\n", "0 0 0 0"},
      {"each value in its own encoding", "Last Name,First Name\nM\xC3\xBCller,\xC9mile\n",
       "M\xC3\xBCller\n\xC3\x89mile\n\n\n\n\n\n[]\n[]\n[]\n0\n--\n", "0 0 0 0"},
      {"UTF-16, little-endian, as Excel writes Unicode Text",
       Utf16(u"Last Name\tFirst Name\r\nLee\tZo\u00EB \U0001F600\r\n", true),
       "Lee\nZo\xC3\xAB \xF0\x9F\x98\x80\n\n\n\n\n\n[]\n[]\n[]\n0\n--\n", "0 0 0 0"},
      {"UTF-16, big-endian", Utf16(u"Last Name,Home Phone\r\n\u00C5se,0100\r\n", false),
       "\xC3\x85se\n\n0100\n\n\n\n\n[]\n[]\n[]\n0\n--\n", "0 0 0 0"},
      {"a given name alone is the surname; an e-mail address names a row without a name; a row with nothing "
       "to show is counted",
       "First Name,Mobile Phone,E-mail,Labels\nMum,0777,,\n,,x@example.org,\n,,,\n,,,* myContacts\n",
       "Mum\n\n\n\n\n\n0777\n[]\n[]\n[]\n0\n--\n"
       "x@example.org\n\n\n\n\n\n\n[]\n[]\n[E-mail: x@example.org|]\n0\n--\n",
       "0 0 1 0"},
      {"a nickname before an e-mail address; a work fax before a home fax, whatever their order",
       "Nickname,E-mail 1 - Value,Phone 1 - Type,Phone 1 - Value,Phone 2 - Type,Phone 2 - Value\n"
       "Bo,bo@example.org,Home Fax,0300,Work Fax,0400\n",
       "Bo\n\n\n\n\n0400\n\n[]\n[]\n[Nickname: Bo|E-mail: bo@example.org|Fax (home): 0300|]\n0\n--\n", "0 0 0 0"},
      {"the apostrophe that keeps a value from being a formula comes off; one that does not stays",
       "Last Name,Home Phone,Notes\n'=HYPERLINK(\"x\"),'+44 1,\"'@a\n'-b\"\n'Neill,+44 2,'\n",
       "=HYPERLINK(\"x\")\n\n+44 1\n\n\n\n\n[]\n[]\n[@a|'-b|]\n0\n--\n"
       "'Neill\n\n+44 2\n\n\n\n\n[]\n[]\n['|]\n0\n--\n",
       "0 0 0 0"},
      {"a line break in a company's name starts a line of the notes", "Last Name,Company\nLee,\"Acme\rWorks\"\n",
       "Lee\n\n\n\n\n\n\n[]\n[]\n[Organisation: Acme|Works|]\n0\n--\n", "0 0 0 0"},
      {"a number keeps no backslash or line break", "Last Name,Home Phone\nLee,\"01\\2\r\n3\"\n",
       "Lee\n\n0123\n\n\n\n\n[]\n[]\n[]\n0\n--\n", "0 0 0 3"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TImported Read = ReadCsv(Case.Text);
    EXPECT_EQ(Fields(Read), Case.Expected);
    EXPECT_EQ(Skipped(Read), Case.Skipped);
  }
}

// A row that lies whole in what has been read is taken from it another way
// than one that goes on past it (a row longer than the piece of a file read at
// once): both read alike, as these rows are read.
TEST(Csv, RowsLongerThanAPieceReadAsShortOnes) {
  const struct {
    const char* Name;
    std::string Rows;  // # is a value of the fourth column
    const char* Expected;
    size_t Refused;
  } Cases[] = {
      {"quotes doubled and a line break inside quotes", "\"Lee\",\"Ann \"\"Nan\"\"\",\"line one\r\nline two\",#\r\n",
       "Lee\nAnn \"Nan\"\n\n\n\n\n\n[]\n[]\n[line one|line two|]\n0\n--\n", 0},
      {"rows ended by a carriage return alone", "Roe,Bob,note,#\rOld,Mac,cr endings,#\r",
       "Roe\nBob\n\n\n\n\n\n[]\n[]\n[note|]\n0\n--\nOld\nMac\n\n\n\n\n\n[]\n[]\n[cr endings|]\n0\n--\n", 0},
      {"text after a closing quote refuses its row alone", "Bad,\"quoted\"tail,x,#\r\nGood,Row,\"y\",#\r\n",
       "Good\nRow\n\n\n\n\n\n[]\n[]\n[y|]\n0\n--\n", 1},
      {"single-byte text, an empty row, a quote at a field's end",
       "M\xFCller,\xC9mile,cp1252,#\n,,,\nLee,,\"a\"\"\n\"\"b\"\"\",#\n",
       "M\xC3\xBCller\n\xC3\x89mile\n\n\n\n\n\n[]\n[]\n[cp1252|]\n0\n--\nLee\n\n\n\n\n\n\n[]\n[]\n[a\"|\"b\"|]\n0\n--"
       "\n",
       0},
      {"every field of a row a copy, and views between them",
       "\"L\"\"1\",\xC9"
       "a,\"n\"\"2\r\n\xE9\",#\r\n\"\"\"\",b,\"\",#\r\n",
       "L\"1\n\xC3\x89"
       "a\n\n\n\n\n\n[]\n[]\n[n\"2|\xC3\xA9|]\n0\n--\n\"\nb\n\n\n\n\n\n[]\n[]\n[]\n0\n--\n",
       0},
  };
  TTempDir Dir;
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    for (const std::string& Value : {std::string(), std::string(70000, 'p')}) {
      std::string Text = "Last Name,First Name,Notes,More\r\n";
      for (char C : Case.Rows) C == '#' ? void(Text += Value) : void(Text += C);
      Text += "Last,Row,z\r\n";
      WriteBytes(Dir / "rows.csv", Text);
      const TImported Whole = ReadCsv(Text);
      const TImported Pieces = ImportContactsFile(Dir / "rows.csv", EContactFormat::Csv);
      EXPECT_EQ(Fields(Pieces), Fields(Whole)) << Value.size();
      EXPECT_EQ(Pieces.Refused, Whole.Refused) << Value.size();
      EXPECT_EQ(Whole.Refused.size(), Case.Refused);
      if (Value.empty()) {
        EXPECT_EQ(Fields(Whole), Case.Expected + std::string("Last\nRow\n\n\n\n\n\n[]\n[]\n[z|]\n0\n--\n"));
      }
    }
  }
}

// The lines an import gathers for an address or the notes: cut where a book
// holds no more, counted, and put before or after others.
TEST(ContactFields, GatheredLinesAreCutCountedAndJoined) {
  using namespace ContactFields;
  const std::string Long(size_t(MaxStoredLength) - 1, 'x');
  const struct {
    const char* Name;
    std::vector<std::string> Texts;   // each through AddText
    std::vector<std::string> Before;  // prepended
    const char* Joined;               // with '|', empty lines left out
    size_t Lines;
    int32_t Cut;
    bool Some;
  } Cases[] = {
      {"nothing", {}, {}, "", 0, 0, false},
      {"one empty line", {""}, {}, "", 1, 0, false},
      {"two empty lines", {"\r\n"}, {}, "", 2, 0, true},
      {"breaks of every kind", {"a\r\nb\rc\nd"}, {}, "a|b|c|d", 4, 0, true},
      {"before others", {"street"}, {"Acme", "\n"}, "Acme|street", 4, 0, true},
      {"a line longer than a book holds, cut before a whole character", {Long + "\xC3\xA9z"}, {}, nullptr, 1, 1, true},
      {"a cut line before others is counted there too", {"b"}, {Long + "yy"}, nullptr, 2, 1, true},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TLines Lines, Before;
    for (const std::string& Text : Case.Texts) Lines.AddText(Text);
    for (const std::string& Text : Case.Before) Before.AddText(Text);
    if (!Case.Before.empty()) Lines.Prepend(Before);
    EXPECT_EQ(Lines.size(), Case.Lines);
    EXPECT_EQ(Lines.Cut, Case.Cut);
    EXPECT_EQ(Lines.Some(), Case.Some);
    if (Case.Joined) {
      EXPECT_EQ(JoinLines(Lines, "|"), Case.Joined);
    }
    size_t Longest = 0;
    Lines.View().ForEach([&](std::string_view Line) {
      Longest = std::max(Longest, Line.size());
      EXPECT_TRUE(IsValidUtf8(Line));
    });
    EXPECT_LE(Longest, size_t(MaxStoredLength));
    TLines Twice = Lines;
    Twice.Append(Lines);
    EXPECT_EQ(Twice.size(), 2 * Case.Lines);
    EXPECT_EQ(Twice.Cut, 2 * Case.Cut);
  }
}
