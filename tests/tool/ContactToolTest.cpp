// tobrinel-book export and import, and what other contact tools make of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

#include "StoreTestUtil.h"

namespace {

struct TRun {
  int Status;
  std::string Out;
  std::string Err;
};

TRun Shell(const std::string& Command, const TTempDir& Dir) {
  FILE* Pipe = popen((Command + " 2>" + Dir / "err").c_str(), "r");
  std::string Out;
  char Buffer[4096];
  size_t N;
  while ((N = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0) Out.append(Buffer, N);
  int Status = pclose(Pipe);
  return {WIFEXITED(Status) ? WEXITSTATUS(Status) : -1, Out, ReadBytes(Dir / "err")};
}

TRun Tool(const std::string& Arguments, const TTempDir& Dir) {
  return Shell(std::string(TOBRINEL_BOOK_TOOL) + " " + Arguments, Dir);
}

const char* const Entries =
    "{\"Surname\":\"O'Brien, Jr.\",\"FirstName\":\"Zo\\u00eb\",\"HomeTelephone\":\"0123; 456\","
    "\"BusTelephone\":\"020 7946 0000\",\"BusExtn\":\"123\",\"BusFacsimile\":\"020 7946 0001\","
    "\"BusMobile\":\"07700 900123\",\"HomeAddress\":[\"1 Hill Rd, Flat 2\",\"\",\"Little Town\"],"
    "\"BusAddress\":[\"Works \\\\ Lane\"],\"Notes\":[\"Likes \\\"quotes\\\"\",\"second line\"],\"TabPage\":2}\n"
    "{\"Surname\":\"Lee\",\"FirstName\":\"Ann\"}\n";

bool HavePython() { return std::system("/usr/bin/python3 -c 'import vobject' 2>/dev/null") == 0; }

}  // namespace

TEST(ContactTool, ExportedBooksImportBackAndImportsAddInNameOrder) {
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl", Entries);
  ASSERT_EQ(Tool("create " + Dir / "b.ABK" + " <" + Dir / "in.jsonl", Dir).Status, 0);
  const std::string Dump = Tool("dump " + Dir / "b.ABK", Dir).Out;
  for (const char* Format : {"vcard", "csv"}) {
    SCOPED_TRACE(Format);
    std::string F = Format;
    TRun Out = Tool("export --format " + F + " " + Dir / "b.ABK", Dir);
    ASSERT_EQ(Out.Status, 0) << Out.Err;
    ASSERT_EQ(Tool("export --format=" + F + " " + Dir / "b.ABK" + " " + Dir / "out", Dir).Status, 0);
    EXPECT_EQ(ReadBytes(Dir / "out"), Out.Out);

    // Into a new book from a file, then the same again from standard input.
    std::string Book = Dir / ("new-" + F + ".ABK");
    TRun In = Tool("import --format " + F + " " + Book + " " + Dir / "out", Dir);
    ASSERT_EQ(In.Status, 0) << In.Err;
    EXPECT_EQ(In.Out, "2 entries imported into " + Book + "\n");
    EXPECT_EQ(Tool("dump " + Book, Dir).Out, Dump);
    std::string Before = ReadBytes(Book);
    ASSERT_EQ(Tool("import --format " + F + " " + Book + " <" + Dir / "out", Dir).Status, 0);
    EXPECT_EQ(ReadBytes(ChangeFileExt(Book, ".~abk")), Before);
    std::string Twice = Tool("dump " + Book, Dir).Out;
    size_t Ann = Twice.find("\"Lee\""), Zoe = Twice.find("\"O'Brien");
    EXPECT_LT(Twice.find("\"Lee\"", Ann + 1), Zoe);
    EXPECT_EQ(Twice.size(), 2 * Dump.size());
  }
}

TEST(ContactTool, BadInputIsReportedAndLeavesTheBookAlone) {
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl", Entries);
  ASSERT_EQ(Tool("create " + Dir / "b.ABK" + " <" + Dir / "in.jsonl", Dir).Status, 0);
  const std::string Book = ReadBytes(Dir / "b.ABK");

  WriteBytes(Dir / "bad.vcf", "BEGIN:VCARD\r\nN:Ok\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:Cut\r\n");
  TRun Bad = Tool("import --format vcard " + Dir / "b.ABK" + " " + Dir / "bad.vcf", Dir);
  EXPECT_EQ(Bad.Status, 1);
  EXPECT_EQ(Bad.Err, "tobrinel-book: " + Dir / "bad.vcf" + ": line 4: the card that begins here has no END:VCARD\n");
  WriteBytes(Dir / "bad.csv", "Last Name,Notes\r\nA,\"open\r\n");
  EXPECT_EQ(Tool("import --format csv " + Dir / "b.ABK" + " <" + Dir / "bad.csv", Dir).Err,
            "tobrinel-book: standard input: line 2: a quoted field is not closed\n");
  EXPECT_EQ(Tool("export --format csv " + Dir / "b.ABK" + " " + Dir / "b.ABK", Dir).Status, 1);
  std::filesystem::permissions(Dir / "b.ABK", std::filesystem::perms::owner_read);
  WriteBytes(Dir / "ok.vcf", "BEGIN:VCARD\r\nN:Ok\r\nEND:VCARD\r\n");
  EXPECT_EQ(Tool("import --format vcard " + Dir / "b.ABK" + " " + Dir / "ok.vcf", Dir).Err,
            "tobrinel-book: " + Dir / "b.ABK" + " is read-only; nothing was imported\n");
  EXPECT_EQ(ReadBytes(Dir / "b.ABK"), Book);
  EXPECT_FALSE(std::filesystem::exists(Dir / "b.~abk"));

  for (const char* Usage : {"export " , "export --format " , "import --format xml ", "import --format csv a b "})
    EXPECT_EQ(Tool(Usage + Dir / "b.ABK", Dir).Status, 2) << Usage;

  WriteBytes(Dir / "long.csv", "Last Name,Business Extension\n" + std::string(51, 'x') + ",123456789012\nB,1\n");
  TRun Cut = Tool("import --format csv " + Dir / "c.ABK" + " " + Dir / "long.csv", Dir);
  EXPECT_EQ(Cut.Out, "2 entries imported into " + Dir / "c.ABK" + "\n2 values were longer than their fields hold and were cut\n");
}

// Other tools on this machine read what we write, and we read what they write.
TEST(ContactTool, VobjectAndAbookAgreeWithUs) {
  if (!HavePython()) GTEST_SKIP() << "python3-vobject is not installed";
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl", Entries);
  ASSERT_EQ(Tool("create " + Dir / "b.ABK" + " <" + Dir / "in.jsonl", Dir).Status, 0);
  ASSERT_EQ(Tool("export --format vcard " + Dir / "b.ABK" + " " + Dir / "out.vcf", Dir).Status, 0);
  WriteBytes(Dir / "read.py",
             "import sys, vobject\n"
             "for c in vobject.readComponents(open(sys.argv[1], encoding='utf-8').read()):\n"
             "  print(c.n.value.family, '|', c.n.value.given, '|', c.fn.value)\n"
             "  for t in c.contents.get('tel', []): print(' ', t.params['TYPE'], t.value)\n"
             "  for a in c.contents.get('adr', []): print(' ', a.params['TYPE'], repr(a.value.street))\n"
             "  for n in c.contents.get('note', []): print(' ', repr(n.value))\n");
  EXPECT_EQ(Shell("/usr/bin/python3 " + Dir / "read.py" + " " + Dir / "out.vcf", Dir).Out,
            "Lee | Ann | Ann Lee\n"
            "O'Brien, Jr. | Zo\xC3\xAB | Zo\xC3\xAB O'Brien, Jr.\n"
            "  ['HOME', 'VOICE'] 0123; 456\n  ['WORK', 'VOICE'] 020 7946 0000\n"
            "  ['WORK', 'FAX'] 020 7946 0001\n  ['CELL'] 07700 900123\n"
            "  ['HOME'] '1 Hill Rd, Flat 2\\n\\nLittle Town'\n  ['WORK'] 'Works \\\\ Lane'\n"
            "  'Likes \"quotes\"\\nsecond line'\n");

  // A 3.0 card as vobject writes it.
  WriteBytes(Dir / "write.py",
             "import vobject\n"
             "c = vobject.vCard()\n"
             "c.add('n').value = vobject.vcard.Name(family='M\\u00fcller; Sohn', given='J\\u00fcrgen')\n"
             "c.add('fn').value = 'J\\u00fcrgen M\\u00fcller'\n"
             "t = c.add('tel'); t.value = '+49 30 1234'; t.type_param = 'WORK'\n"
             "a = c.add('adr'); a.value = vobject.vcard.Address(street='Hauptstr. 1', city='Berlin', code='10115')\n"
             "c.add('email').value = 'j@example.de'\n"
             "c.add('note').value = 'a, b; c\\nd'\n"
             "print(c.serialize(), end='')\n");
  ASSERT_EQ(Shell("/usr/bin/python3 " + Dir / "write.py" + " >" + Dir / "py.vcf", Dir).Status, 0);
  ASSERT_EQ(Tool("import --format vcard " + Dir / "py.ABK" + " " + Dir / "py.vcf", Dir).Status, 0);
  EXPECT_EQ(Tool("dump " + Dir / "py.ABK", Dir).Out,
            "{\"Surname\":\"M\xC3\xBCller; Sohn\",\"FirstName\":\"J\xC3\xBCrgen\",\"HomeTelephone\":\"\","
            "\"BusTelephone\":\"+49 30 1234\",\"BusExtn\":\"\",\"BusFacsimile\":\"\",\"BusMobile\":\"\","
            "\"HomeAddress\":[\"Hauptstr. 1\",\"Berlin\",\"10115\"],\"BusAddress\":[],"
            "\"Notes\":[\"a, b; c\",\"d\",\"E-mail: j@example.de\"],\"TabPage\":0}\n");

  // abook writes its own vCard dialect: no version, bare types.
  if (std::system("command -v abook >/dev/null") != 0) GTEST_SKIP() << "abook is not installed";
  WriteBytes(Dir / "a.abook", "[0]\nname=Ann Lee\nemail=ann@example.org\nphone=0123\nworkphone=0456\n"
                              "mobile=0789\nfax=0999\naddress=1 Hill Rd\ncity=Town\nnotes=hi\n");
  ASSERT_EQ(Shell("abook --convert --informat abook --infile " + Dir / "a.abook" + " --outformat vcard --outfile " +
                    Dir / "a.vcf",
                Dir).Status, 0);
  ASSERT_EQ(Tool("import --format vcard " + Dir / "a.ABK" + " " + Dir / "a.vcf", Dir).Status, 0);
  EXPECT_EQ(Tool("dump " + Dir / "a.ABK", Dir).Out,
            "{\"Surname\":\"Lee\",\"FirstName\":\"Ann\",\"HomeTelephone\":\"0123\",\"BusTelephone\":\"0456\","
            "\"BusExtn\":\"\",\"BusFacsimile\":\"0999\",\"BusMobile\":\"0789\",\"HomeAddress\":[\"1 Hill Rd\","
            "\"Town\"],\"BusAddress\":[],\"Notes\":[\"hi\",\"E-mail: ann@example.org\"],\"TabPage\":0}\n");
}
