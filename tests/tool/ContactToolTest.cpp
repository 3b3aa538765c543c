// tobrinel-book export and import, and what other contact tools make of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

#include "Contacts.h"
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
    // Entries already in the book are not added again.
    std::string Before = ReadBytes(Book);
    TRun Again = Tool("import --format " + F + " " + Book + " <" + Dir / "out", Dir);
    ASSERT_EQ(Again.Status, 0) << Again.Err;
    EXPECT_EQ(Again.Out, "0 entries imported into " + Book + "\n");
    EXPECT_EQ(Again.Err, "tobrinel-book: 2 were already in the book and were not added again\n");
    EXPECT_EQ(ReadBytes(ChangeFileExt(Book, ".~abk")), Before);
    EXPECT_EQ(Tool("dump " + Book, Dir).Out, Dump);
  }
}

TEST(ContactTool, BadInputIsReportedAndLeavesTheBookAlone) {
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl", Entries);
  ASSERT_EQ(Tool("create " + Dir / "b.ABK" + " <" + Dir / "in.jsonl", Dir).Status, 0);
  const std::string Book = ReadBytes(Dir / "b.ABK");

  WriteBytes(Dir / "bad.vcf", "BEGIN:VCARD\r\nN:Cut\r\n");
  TRun Bad = Tool("import --format vcard " + Dir / "b.ABK" + " " + Dir / "bad.vcf", Dir);
  EXPECT_EQ(Bad.Status, 1);
  EXPECT_EQ(Bad.Err, "tobrinel-book: " + Dir / "bad.vcf" + ": line 1: the card that begins here has no END:VCARD\n");
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

  for (const char* Usage : {"export ", "export --format ", "import --format xml ", "import --format csv a b "})
    EXPECT_EQ(Tool(Usage + Dir / "b.ABK", Dir).Status, 2) << Usage;

  WriteBytes(Dir / "long.csv", "Last Name,Business Extension\n" + std::string(51, 'x') + ",123456789012\nB,1\n");
  TRun Cut = Tool("import --format csv " + Dir / "c.ABK" + " " + Dir / "long.csv", Dir);
  EXPECT_EQ(Cut.Out, "2 entries imported into " + Dir / "c.ABK" +
                         "\n2 values were longer than their fields hold and were cut\n");
}

// Into a new book, a file whose contacts come in list order is written as
// it is read, and any other is read again and held whole: both give what an
// import from standard input (always held whole) gives, book and messages.
TEST(ContactTool, ANewBookFromAFileIsWhatStandardInputGives) {
  const std::string Card = "BEGIN:VCARD\r\nN:Lee;Ann\r\nNOTE:a\\, b\r\nEND:VCARD\r\n";
  std::string Many;
  for (int I = 0; I < 300; ++I)
    Many += "BEGIN:VCARD\r\nN:Name" + std::to_string(1000 + I) + ";F\r\nNOTE:" + std::string(300, 'n') +
            "\r\nEND:VCARD\r\n";
  const struct {
    const char* Name;
    std::string In;
  } Cases[] = {
      {"in order", "BEGIN:VCARD\r\nN:Adams;Bo\r\nEND:VCARD\r\n" + Card + Card},
      {"out of order at the end", Many + "BEGIN:VCARD\r\nN:Aaron\r\nEND:VCARD\r\n"},
      {"a card cut off between others", Card + "BEGIN:VCARD\r\nN:Cut\r\n" + Card},
      {"a card nested in another", "BEGIN:VCARD\r\nN:Zed\r\nAGENT:BEGIN:VCARD\\nN:Agent\\nEND:VCARD\r\nEND:VCARD\r\n"},
      {"no contacts", "BEGIN:VCARD\r\nVERSION:3.0\r\nEND:VCARD\r\n"},
      {"no vCard at all", "hello\r\n"},
      {"too many lines to save", "BEGIN:VCARD\r\nN:A\r\nNOTE:" +
                                     [] {
                                       std::string Lines;
                                       for (int I = 0; I < 33000; ++I) Lines += "x\\n";
                                       return Lines;
                                     }() +
                                     "\r\nEND:VCARD\r\n"},
      {"rows in order", "Last Name,First Name\r\nAdams,Bo\r\nLee,Ann\r\nLee,Ann\r\n"},
      {"rows out of order", "Last Name,First Name\r\nLee,Ann\r\nAdams,Bo\r\n"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TTempDir Dir;
    const std::string Format = Case.Name[0] == 'r' ? "csv" : "vcard";
    WriteBytes(Dir / "in", Case.In);
    TRun FromFile = Tool("import --format " + Format + " " + Dir / "file.ABK" + " " + Dir / "in", Dir);
    TRun FromInput = Tool("import --format " + Format + " " + Dir / "input.ABK" + " <" + Dir / "in", Dir);
    auto Named = [&](std::string Text, const std::string& Book, const std::string& Source) {
      for (const std::string& Name : {Dir / Book, Source})
        for (size_t At; (At = Text.find(Name)) != std::string::npos;) Text.replace(At, Name.size(), "@");
      return Text;
    };
    EXPECT_EQ(FromFile.Status, FromInput.Status);
    EXPECT_EQ(Named(FromFile.Out, "file.ABK", Dir / "in"), Named(FromInput.Out, "input.ABK", "standard input"));
    EXPECT_EQ(Named(FromFile.Err, "file.ABK", Dir / "in"), Named(FromInput.Err, "input.ABK", "standard input"));
    EXPECT_EQ(std::filesystem::exists(Dir / "file.ABK"), std::filesystem::exists(Dir / "input.ABK"));
    EXPECT_EQ(ReadBytes(Dir / "file.ABK"), ReadBytes(Dir / "input.ABK"));
    size_t Files = 0;
    for ([[maybe_unused]] const auto& Entry : std::filesystem::directory_iterator(Dir.Path)) ++Files;
    EXPECT_EQ(Files, std::filesystem::exists(Dir / "file.ABK") ? 4u : 2u);  // in, err and the books
  }
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
             "  print(c.n.value.family, '|', c.n.value.given, '|', c.fn.value, '|', len(c.uid.value))\n"
             "  for t in c.contents.get('tel', []): print(' ', t.params['TYPE'], t.value)\n"
             "  for a in c.contents.get('adr', []): print(' ', a.params['TYPE'], repr(a.value.street))\n"
             "  for n in c.contents.get('note', []): print(' ', repr(n.value))\n");
  EXPECT_EQ(Shell("/usr/bin/python3 " + Dir / "read.py" + " " + Dir / "out.vcf", Dir).Out,
            "Lee | Ann | Ann Lee | 36\n"
            "O'Brien, Jr. | Zo\xC3\xAB | Zo\xC3\xAB O'Brien, Jr. | 36\n"
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
  // It takes a number as it stands: one escaped would keep its backslashes.
  ASSERT_EQ(Shell("abook --convert --informat vcard --infile " + Dir / "out.vcf" + " --outformat abook --outfile " +
                      Dir / "out.abook",
                  Dir)
                .Status,
            0);
  EXPECT_NE(ReadBytes(Dir / "out.abook").find("\nphone=0123; 456\n"), std::string::npos)
      << ReadBytes(Dir / "out.abook");
  WriteBytes(Dir / "a.abook",
             "[0]\nname=Ann Lee\nemail=ann@example.org\nphone=0123\nworkphone=0456\n"
             "mobile=0789\nfax=0999\naddress=1 Hill Rd\ncity=Town\nnotes=hi\n");
  ASSERT_EQ(Shell("abook --convert --informat abook --infile " + Dir / "a.abook" + " --outformat vcard --outfile " +
                      Dir / "a.vcf",
                  Dir)
                .Status,
            0);
  ASSERT_EQ(Tool("import --format vcard " + Dir / "a.ABK" + " " + Dir / "a.vcf", Dir).Status, 0);
  EXPECT_EQ(Tool("dump " + Dir / "a.ABK", Dir).Out,
            "{\"Surname\":\"Lee\",\"FirstName\":\"Ann\",\"HomeTelephone\":\"0123\",\"BusTelephone\":\"0456\","
            "\"BusExtn\":\"\",\"BusFacsimile\":\"0999\",\"BusMobile\":\"0789\",\"HomeAddress\":[\"1 Hill Rd\","
            "\"Town\"],\"BusAddress\":[],\"Notes\":[\"hi\",\"E-mail: ann@example.org\"],\"TabPage\":0}\n");
}

// khard, like every CardDAV client, passes over a card without a UID.
TEST(ContactTool, KhardListsEveryExportedCard) {
  if (std::system("command -v khard >/dev/null") != 0) GTEST_SKIP() << "khard is not installed";
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl", Entries);
  ASSERT_EQ(Tool("create " + Dir / "b.ABK" + " <" + Dir / "in.jsonl", Dir).Status, 0);
  const std::string Cards = Tool("export --format vcard " + Dir / "b.ABK", Dir).Out;
  // khard reads a folder of one card a file.
  std::filesystem::create_directory(Dir / "cards");
  int Count = 0;
  for (size_t Start = 0, End; (End = Cards.find("END:VCARD\r\n", Start)) != std::string::npos; Start = End + 11)
    WriteBytes(Dir / ("cards/" + std::to_string(++Count) + ".vcf"), Cards.substr(Start, End + 11 - Start));
  WriteBytes(Dir / "khard.conf", "[addressbooks]\n[[cards]]\npath = " + Dir / "cards" +
                                     "\n[general]\ndefault_action = list\n[contact table]\ndisplay = first_name\n");
  TRun Listed = Shell("khard -c " + Dir / "khard.conf" + " list --parsable", Dir);
  EXPECT_EQ(Listed.Status, 0) << Listed.Err;
  EXPECT_EQ(Listed.Err, "");
  // A UID, a tab, the name: one line for each card, in the order of first names.
  std::string Names;
  for (size_t Start = 0, End; (End = Listed.Out.find('\n', Start)) != std::string::npos; Start = End + 1) {
    std::string Line = Listed.Out.substr(Start, End - Start);
    EXPECT_EQ(Line.find('\t'), 36u) << Line;
    Names += Line.substr(37, Line.find('\t', 37) - 37) + "|";
  }
  EXPECT_EQ(Names, "Ann Lee|Zo\xC3\xAB O'Brien, Jr.|");
}

// Standard input, a process substitution, a named pipe and a device are read
// as they come; an input that never ends is refused at its fault.
TEST(ContactTool, PipesAndDevicesAreReadAndEndlessInputIsRefused) {
  TTempDir Dir;
  const std::string T = TOBRINEL_BOOK_TOOL;
  ASSERT_EQ(::mkfifo((Dir / "fifo").c_str(), 0600), 0);
  const struct {
    std::string Script;  // run by bash
    int Status;
    std::string Out, Err;
  } Cases[] = {
      {"printf 'Last Name\\nLee\\n' | " + T + " import --format csv " + Dir / "1.ABK" + " /dev/stdin", 0,
       "1 entry imported into " + Dir / "1.ABK" + "\n", ""},
      {T + " import --format csv " + Dir / "2.ABK" + " <(printf 'Last Name\\nRoe\\n')", 0,
       "1 entry imported into " + Dir / "2.ABK" + "\n", ""},
      // The writer comes later: the reader waits for it, as cat does.
      {"(sleep 0.2; printf 'Last Name\\nPipe\\n' >" + Dir / "fifo" + ") & " + T + " import --format csv " +
           Dir / "3.ABK" + " " + Dir / "fifo",
       0, "1 entry imported into " + Dir / "3.ABK" + "\n", ""},
      {T + " import --format vcard " + Dir / "4.ABK" + " /dev/null", 0,
       "0 entries imported into " + Dir / "4.ABK" + "\n", ""},
      {"{ printf 'BEGIN:VCARD\\r\\nNOTE:'; yes n | tr -d '\\n'; } | " + T + " import --format vcard " + Dir / "5.ABK",
       1, "",
       "tobrinel-book: standard input: line 2: the value of NOTE is longer than 8 MB, more than Tobrinel reads\n"},
      {T + " import --format csv " + Dir / "6.ABK" + " /dev/zero", 1, "",
       "tobrinel-book: /dev/zero: line 1: the row is longer than 8 MB, more than Tobrinel reads\n"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Script);
    WriteBytes(Dir / "script", Case.Script);
    TRun Run = Shell("bash " + Dir / "script", Dir);
    EXPECT_EQ(Run.Status, Case.Status);
    EXPECT_EQ(Run.Out, Case.Out);
    EXPECT_EQ(Run.Err, Case.Err);
  }
  EXPECT_EQ(Tool("dump " + Dir / "3.ABK", Dir).Out.substr(0, 20), "{\"Surname\":\"Pipe\",\"F");
}

TEST(ContactTool, WhatWasLeftOutIsToldOnStandardError) {
  TTempDir Dir;
  WriteBytes(Dir / "in.vcf",
             "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\r\n"
             "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\nEND:VCARD\r\n"
             "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Club\r\nMEMBER:urn:uuid:1\r\nEND:VCARD\r\n");
  TRun In = Tool("import --format vcard " + Dir / "b.ABK" + " " + Dir / "in.vcf", Dir);
  EXPECT_EQ(In.Status, 0);
  EXPECT_EQ(In.Out, "1 entry imported into " + Dir / "b.ABK" + "\n");
  EXPECT_EQ(In.Err,
            "tobrinel-book: 1 photo was not imported\n"
            "tobrinel-book: 1 contact that held nothing an entry can show was skipped\n"
            "tobrinel-book: 1 contact group was not imported (the book has no groups)\n");

  WriteBytes(Dir / "in.jsonl", "{\"Surname\":\"Lee\",\"HomeTelephone\":\"01\\\\23\",\"BusMobile\":\"07\\t7\\r\"}\n");
  ASSERT_EQ(Tool("create " + Dir / "c.ABK" + " <" + Dir / "in.jsonl", Dir).Status, 0);
  TRun Out = Tool("export --format vcard " + Dir / "c.ABK", Dir);
  EXPECT_EQ(Out.Status, 0);
  EXPECT_NE(Out.Out.find("\r\nTEL;TYPE=HOME,VOICE:0123\r\nTEL;TYPE=CELL:077\r\n"), std::string::npos) << Out.Out;
  EXPECT_EQ(Out.Err,
            "tobrinel-book: 3 characters that cannot stand in a phone number (a backslash, a line break or "
            "another control character) were left out of 2 numbers\n");
}

// A book is exported in list order whether its file holds the entries in
// that order (written as it is read) or not (loaded and sorted first), and a
// damaged one gives what could be read and says so; to a file or to standard
// output alike. A file found out of order only after pieces of the export
// were written ("late") is exported again whole, over what was written.
TEST(ContactTool, ExportGivesListOrderFromOrderedUnorderedAndDamagedBooks) {
  TTempDir Dir;
  TAddressBook Book;
  for (const char* Name : {"Cole", "Adams", "Brown", "Adams"}) {
    TAddressItem* Item = MakeItem(Name, "");
    Item->BusMobile = std::string("07700 90") + Name[0];
    Book.Items->InsertAfter(Book.Items->Tail, Item);
  }
  SaveLateUnorderedBook(Dir / "late.ABK", 400);
  Book.FileName = Dir / "unordered.ABK";
  Book.SaveToFile();
  TAddressBook Loaded, LateLoaded;
  Loaded.LoadFromFile(Book.FileName);
  LateLoaded.LoadFromFile(Dir / "late.ABK");
  Loaded.FileName = Dir / "ordered.ABK";
  Loaded.SaveToFile();
  const std::string Bytes = ReadBytes(Loaded.FileName);
  WriteBytes(Dir / "damaged.ABK", Bytes.substr(0, Bytes.size() - 3));
  for (EContactFormat Format : {EContactFormat::VCard, EContactFormat::Csv}) {
    std::string Expected, LateExpected;
    WriteContacts(*Loaded.Items, Format, [&](std::string_view Piece) { return Expected.append(Piece), true; });
    WriteContacts(*LateLoaded.Items, Format, [&](std::string_view Piece) { return LateExpected.append(Piece), true; });
    ASSERT_GT(LateExpected.size(), size_t(70000));  // a piece of 64 KB is written before Aaron
    const std::string Name = Format == EContactFormat::VCard ? "vcard" : "csv";
    for (const char* File : {"ordered", "unordered", "damaged", "late"}) {
      const std::string In = Dir / (std::string(File) + ".ABK");
      const bool Damaged = File[0] == 'd';
      TRun Out = Tool("export --format " + Name + " " + In, Dir);
      TRun ToFile = Tool("export --format " + Name + " " + In + " " + Dir / "out", Dir);
      for (const TRun* Run : {&Out, &ToFile}) {
        EXPECT_EQ(Run->Status, Damaged ? 1 : 0) << File << " " << Name;
        EXPECT_EQ(Run->Err.find("3 entries could be read") != std::string::npos, Damaged) << Run->Err;
      }
      // The damaged book lost its last entry, Cole.
      const std::string Want =
          File[0] == 'l' ? LateExpected
          : Damaged
              ? Expected.substr(
                    0, Expected.find(Format == EContactFormat::VCard ? "BEGIN:VCARD\r\nVERSION:3.0\r\nUID" : "\"Cole\"",
                                     Expected.find("Brown")))
              : Expected;
      EXPECT_EQ(Out.Out, Want) << File << " " << Name;
      EXPECT_EQ(ReadBytes(Dir / "out"), Want) << File << " " << Name;
    }
  }
  // Nothing is left beside the export by the one begun again.
  std::vector<std::string> Left;
  for (const auto& Entry : std::filesystem::directory_iterator(Dir.Path)) Left.push_back(Entry.path().filename());
  std::sort(Left.begin(), Left.end());
  EXPECT_EQ(Left, (std::vector<std::string>{"damaged.ABK", "err", "late.ABK", "ordered.ABK", "out", "unordered.ABK"}));
}
