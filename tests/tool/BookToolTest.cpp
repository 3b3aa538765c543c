#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <sys/wait.h>

#include "StoreTestUtil.h"

namespace {

struct TRun {
  int Status;
  std::string Out;
};

// Runs the tool with a shell redirection, capturing standard output and error.
TRun Tool(const std::string& Arguments, const TTempDir& Dir) {
  std::string Command = std::string(TOBRINEL_BOOK_TOOL) + " " + Arguments + " 2>" + (Dir / "err");
  FILE* Pipe = popen(Command.c_str(), "r");
  std::string Out;
  char Buffer[4096];
  size_t N;
  while ((N = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0) Out.append(Buffer, N);
  int Status = pclose(Pipe);
  return {WIFEXITED(Status) ? WEXITSTATUS(Status) : -1, Out};
}

}  // namespace

TEST(BookTool, CreateThenDumpGivesTheEntriesBackInNameOrder) {
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl",
             "{\"Surname\":\"Smith\",\"FirstName\":\"John\",\"HomeTelephone\":\"0113\","
             "\"BusExtn\":\"123456789012\",\"HomeAddress\":[\"1 Hill Rd\",\"\"],\"Notes\":[\"tab\\there\"],"
             "\"TabPage\":7}\n"
             "\n"
             "{\"Surname\":\"Adams\",\"FirstName\":\"Z\\u00f6e\"}\n");
  TRun Create = Tool("create " + Dir / "b.ABK" + " <" + Dir / "in.jsonl", Dir);
  ASSERT_EQ(Create.Status, 0) << ReadBytes(Dir / "err");
  TRun Dump = Tool("dump " + Dir / "b.ABK", Dir);
  ASSERT_EQ(Dump.Status, 0) << ReadBytes(Dir / "err");
  EXPECT_EQ(Dump.Out,
            "{\"Surname\":\"Adams\",\"FirstName\":\"Z\xC3\xB6"
            "e\",\"HomeTelephone\":\"\","
            "\"BusTelephone\":\"\",\"BusExtn\":\"\",\"BusFacsimile\":\"\",\"BusMobile\":\"\","
            "\"HomeAddress\":[],\"BusAddress\":[],\"Notes\":[],\"TabPage\":0}\n"
            "{\"Surname\":\"Smith\",\"FirstName\":\"John\",\"HomeTelephone\":\"0113\","
            "\"BusTelephone\":\"\",\"BusExtn\":\"1234567890\",\"BusFacsimile\":\"\",\"BusMobile\":\"\","
            "\"HomeAddress\":[\"1 Hill Rd\",\"\"],\"BusAddress\":[],\"Notes\":[\"tab\\there\"],"
            "\"TabPage\":7}\n");

  // Creating again keeps the previous book in the backup copy.
  std::string Previous = ReadBytes(Dir / "b.ABK");
  WriteBytes(Dir / "one.jsonl", "{\"Surname\":\"Solo\"}\n");
  ASSERT_EQ(Tool("create " + Dir / "b.ABK" + " <" + Dir / "one.jsonl", Dir).Status, 0);
  EXPECT_EQ(ReadBytes(Dir / "b.~abk"), Previous);
}

TEST(BookTool, BadInputAndUsageGiveTheirExitStatus) {
  TTempDir Dir;
  EXPECT_EQ(Tool("", Dir).Status, 2);
  EXPECT_EQ(Tool("list " + Dir / "b.ABK", Dir).Status, 2);

  TRun Missing = Tool("dump " + Dir / "absent.ABK", Dir);
  EXPECT_EQ(Missing.Status, 1);
  EXPECT_NE(ReadBytes(Dir / "err").find("No such file"), std::string::npos);

  for (const char* Bad : {"{\"Surname\":1}", "{\"Surname\":\"x\"", "{\"Nickname\":\"x\"}", "{\"TabPage\":256}", "[]",
                          "{\"Surname\":\"\\ud800\"}"}) {
    SCOPED_TRACE(Bad);
    WriteBytes(Dir / "bad.jsonl", std::string("{\"Surname\":\"ok\"}\n") + Bad + "\n");
    TRun Run = Tool("create " + Dir / "bad.ABK" + " <" + Dir / "bad.jsonl", Dir);
    EXPECT_EQ(Run.Status, 1);
    EXPECT_NE(ReadBytes(Dir / "err").find("line 2"), std::string::npos) << ReadBytes(Dir / "err");
    EXPECT_NE(ReadBytes(Dir / "err").find("nothing was written to " + Dir / "bad.ABK"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Dir / "bad.ABK"));
  }
  // Input that cannot be read is no empty input.
  EXPECT_EQ(Tool("create " + Dir / "bad.ABK" + " <" + Dir.Path, Dir).Status, 1);
  EXPECT_FALSE(std::filesystem::exists(Dir / "bad.ABK"));
}

TEST(BookTool, DamagedAndOlderBooksAreDumpedAsTheProgramReadsThem) {
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl", "{\"Surname\":\"Ann\"}\n{\"Surname\":\"Bob\"}\n");
  ASSERT_EQ(Tool("create " + Dir / "d.ABK" + " <" + Dir / "in.jsonl", Dir).Status, 0);
  std::string Bytes = ReadBytes(Dir / "d.ABK");
  WriteBytes(Dir / "d.ABK", Bytes.substr(0, Bytes.size() - 3));
  TRun Damaged = Tool("dump " + Dir / "d.ABK", Dir);
  EXPECT_EQ(Damaged.Status, 1);
  EXPECT_NE(Damaged.Out.find("\"Ann\""), std::string::npos);
  EXPECT_EQ(Damaged.Out.find("\"Bob\""), std::string::npos);
  EXPECT_NE(ReadBytes(Dir / "err").find("; 1 entry could be read"), std::string::npos) << ReadBytes(Dir / "err");

  WriteBytes(Dir / "old.ABK", "[Items]\r\nNumberOfItems=1\r\n1=P\r\n[P]\r\nSurname=Old\r\n");
  TRun Old = Tool("dump " + Dir / "old.ABK", Dir);
  EXPECT_EQ(Old.Status, 0);
  EXPECT_NE(Old.Out.find("\"Surname\":\"Old\""), std::string::npos);
  EXPECT_NE(ReadBytes(Dir / "err").find("was saved by an older version"), std::string::npos);
}

namespace {

// A text as the tool writes it in JSON.
std::string Json(const std::string& Text) {
  std::string Out = "\"";
  for (unsigned char C : Text) {
    if (C == '"') Out += "\\\"";
    else if (C == '\\') Out += "\\\\";
    else if (C == '\n') Out += "\\n";
    else if (C == '\r') Out += "\\r";
    else if (C == '\t') Out += "\\t";
    else if (C < 0x20) {
      char Hex[8];
      std::snprintf(Hex, sizeof Hex, "\\u%04x", C);
      Out += Hex;
    } else Out += char(C);
  }
  return Out + "\"";
}

std::string EntryLine(const std::string& Surname, const std::string& Mobile, const std::string& Note) {
  return "{\"Surname\":" + Json(Surname) +
         ",\"FirstName\":\"\",\"HomeTelephone\":\"\",\"BusTelephone\":\"\",\"BusExtn\":\"\",\"BusFacsimile\":\"\","
         "\"BusMobile\":" +
         Json(Mobile) + ",\"HomeAddress\":[],\"BusAddress\":[],\"Notes\":[" + Json(Note) + "," + Json(Note + Note) +
         "],\"TabPage\":0}\n";
}

}  // namespace

TEST(BookTool, EveryCharacterThatNeedsAnEscapeSurvivesAtEveryPlace) {
  // Texts of every length up to 17 bytes with one such character at the
  // start, the middle or the end, among plain and accented letters.
  std::string In;
  const char Special[] = {'"', '\\', '\n', '\r', '\t', '\x01', '\x1f', '\0'};
  for (size_t Length = 1; Length <= 17; ++Length)
    for (char C : Special)
      for (size_t At : {size_t(0), Length / 2, Length - 1}) {
        std::string Text;
        for (size_t I = 0; I < Length; ++I)
          Text += I == At ? std::string(1, C) : I % 5 == 4 ? std::string("\xC3\xA9") : std::string(1, char('a' + I));
        In += EntryLine("Esc", Text, Text);
      }
  In += EntryLine("Plain", "", "") + EntryLine("Plain", std::string(50, 'm'), std::string(300, 'n'));
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl", In);
  ASSERT_EQ(Tool("create " + Dir / "b.ABK" + " <" + Dir / "in.jsonl", Dir).Status, 0) << ReadBytes(Dir / "err");
  TRun Dump = Tool("dump " + Dir / "b.ABK", Dir);
  EXPECT_EQ(Dump.Status, 0) << ReadBytes(Dir / "err");
  EXPECT_TRUE(Dump.Out == In) << "the dump differs from the input";

  // A book whose entries are out of order (renamed since they were added) is
  // dumped in name order all the same.
  TAddressBook Book;
  Book.Items->InsertAfter(nullptr, MakeItem("Adams", ""));
  Book.Items->InsertAfter(nullptr, MakeItem("Brown", ""));
  Book.FileName = Dir / "unsorted.ABK";
  Book.SaveToFile();
  TRun Sorted = Tool("dump " + Dir / "unsorted.ABK", Dir);
  EXPECT_EQ(Sorted.Status, 0);
  EXPECT_LT(Sorted.Out.find("Adams"), Sorted.Out.find("Brown"));
  // Into a file the order is checked on the way: a book found out of order
  // only after more than a piece was written is dumped again over it, and a
  // file appended to keeps what it held.
  SaveLateUnorderedBook(Dir / "late.ABK", 6000);
  for (const char* Name : {"unsorted.ABK", "late.ABK"}) {
    const TRun Piped = Tool("dump " + Dir / Name, Dir);
    ASSERT_EQ(Piped.Status, 0);
    EXPECT_EQ(Piped.Out.rfind("{\"Surname\":\"A", 0), 0u) << Name;
    EXPECT_EQ(Tool("dump " + Dir / Name + " >" + Dir / "out", Dir).Status, 0);
    EXPECT_TRUE(ReadBytes(Dir / "out") == Piped.Out) << Name;
    WriteBytes(Dir / "out", "before\n");
    EXPECT_EQ(Tool("dump " + Dir / Name + " >>" + Dir / "out", Dir).Status, 0);
    EXPECT_TRUE(ReadBytes(Dir / "out") == "before\n" + Piped.Out) << Name;
  }
}

TEST(BookTool, CreateSortsALargeUnorderedInputStably) {
  // Many equal names in random order: each keeps its input position (in the
  // home telephone) among its equals. One by one from the tail this took
  // minutes.
  const int Count = 100000;
  std::mt19937 Random(5);
  std::string In;
  for (int I = 0; I < Count; ++I)
    In += "{\"Surname\":\"S" + std::to_string(Random() % 500) + "\",\"FirstName\":\"F" + std::to_string(Random() % 3) +
          "\",\"HomeTelephone\":\"" + std::to_string(I) + "\"}\n";
  TTempDir Dir;
  WriteBytes(Dir / "in.jsonl", In);
  ASSERT_EQ(Tool("create " + Dir / "b.ABK" + " <" + Dir / "in.jsonl", Dir).Status, 0) << ReadBytes(Dir / "err");
  TRun Dump = Tool("dump " + Dir / "b.ABK", Dir);
  ASSERT_EQ(Dump.Status, 0);
  std::istringstream Lines(Dump.Out);
  std::string Line, PreviousSurname, PreviousFirstName;
  long PreviousIndex = -1;
  int Seen = 0, Misplaced = 0;
  auto Field = [&](const std::string& Name) {
    size_t Start = Line.find("\"" + Name + "\":\"") + Name.size() + 4;
    return Line.substr(Start, Line.find('"', Start) - Start);
  };
  while (std::getline(Lines, Line)) {
    ++Seen;
    const std::string Surname = Field("Surname"), FirstName = Field("FirstName");
    long Index = std::stol(Field("HomeTelephone"));
    const int32_t Order =
        Seen == 1 ? 1 : TNameOrder::Current().CompareNames(Surname, FirstName, PreviousSurname, PreviousFirstName);
    if (Order < 0 || (Order == 0 && Index < PreviousIndex)) ++Misplaced;
    PreviousSurname = Surname;
    PreviousFirstName = FirstName;
    PreviousIndex = Index;
  }
  EXPECT_EQ(Seen, Count);
  EXPECT_EQ(Misplaced, 0);
}

TEST(BookTool, HelpAndVersionGoToStandardOutputAndUsageErrorsToStandardError) {
  const std::string PrintUsage =
      "usage: tobrinel-book print BOOK OUT.pdf [--from N] [--to N] [--header TEXT] [--footer TEXT]\n\n";
  const struct TCase {
    std::string Arguments;
    int Status;
    std::string OutStart;  // the start of standard output
  } Cases[] = {
      {"--version", 0, "tobrinel-book 2.0.0.0\n"},
      {"--help", 0, "usage: tobrinel-book dump BOOK\n       tobrinel-book create BOOK < entries.jsonl\n"},
      {"-h", 0, "usage: tobrinel-book dump BOOK\n       tobrinel-book create BOOK < entries.jsonl\n"},
      {"dump --help", 0, "usage: tobrinel-book dump BOOK\n\nPrints the entries of BOOK"},
      {"create -h", 0, "usage: tobrinel-book create BOOK < entries.jsonl\n\n"},
      {"export --help", 0, "usage: tobrinel-book export --format vcard|csv BOOK [OUT]\n\n"},
      {"import --help", 0, "usage: tobrinel-book import --format vcard|csv BOOK [IN]\n\n"},
      // Answered here, not by the print program, which would want a book.
      {"print --help", 0, PrintUsage},
      {"--help print", 0, PrintUsage},
      {"--version 2", 2, ""},
      {"--help sing", 2, ""},
      {"sing --help", 2, ""},
      {"dump --help more", 2, ""},
      {"", 2, ""},
  };
  TTempDir Dir;
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Arguments);
    const TRun Run = Tool(Case.Arguments, Dir);
    const std::string Err = ReadBytes(Dir / "err");
    EXPECT_EQ(Run.Status, Case.Status) << Err;
    if (Case.Status == 0) {
      EXPECT_EQ(Run.Out.substr(0, Case.OutStart.size()), Case.OutStart);
      EXPECT_EQ(Err, "");
    } else {
      EXPECT_EQ(Run.Out, "");
      EXPECT_EQ(Err.rfind("usage: tobrinel-book dump BOOK\n", 0), 0u) << Err;
    }
  }
  // The whole help names every command as it is used, and what the exit status means.
  const std::string Help = Tool("--help", Dir).Out;
  for (const char* Line :
       {"tobrinel-book export --format vcard|csv BOOK [OUT]\n", "tobrinel-book import --format vcard|csv BOOK [IN]\n",
        "tobrinel-book print BOOK OUT.pdf [--from N] [--to N] [--header TEXT] [--footer TEXT]\n",
        "tobrinel-book COMMAND --help\n", "2 for a usage error"})
    EXPECT_NE(Help.find(Line), std::string::npos) << Line;
}

TEST(BookTool, AFileThatIsNoBookIsRefusedAndNothingIsWrittenBesideIt) {
  const std::string VCard = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nEND:VCARD\r\n";
  // The arguments of import swapped, among others.
  const char* const Commands[] = {"dump @F", "export --format vcard @F", "export --format csv @F @OUT", "print @F @OUT",
                                  "import --format vcard @F @IN"};
  for (const char* Command : Commands) {
    SCOPED_TRACE(Command);
    TTempDir Dir;
    WriteBytes(Dir / "mine.vcf", VCard);
    WriteBytes(Dir / "other.vcf", VCard);
    std::string Arguments = Command;
    for (const auto& [Mark, Name] : {std::pair{"@F", "mine.vcf"}, {"@OUT", "out"}, {"@IN", "other.vcf"}})
      if (const size_t At = Arguments.find(Mark); At != std::string::npos)
        Arguments.replace(At, std::strlen(Mark), Dir / Name);
    const TRun Run = Tool(Arguments, Dir);
    EXPECT_EQ(Run.Status, 1);
    EXPECT_EQ(Run.Out, "");
    EXPECT_EQ(ReadBytes(Dir / "err"), "tobrinel-book: " + Dir / "mine.vcf" + " is not an address book\n");
    EXPECT_EQ(ReadBytes(Dir / "mine.vcf"), VCard);
    EXPECT_EQ(OtherFiles(Dir.Path, {"mine.vcf", "other.vcf", "err"}), "");
  }
}

TEST(BookTool, CommandsThatOnlyReadLeaveNothingBesideAnOlderBook) {
  const std::string Old = "[Items]\r\nNumberOfItems=1\r\n1=P\r\n[P]\r\nSurname=Old\r\n";
  TTempDir Dir;
  WriteBytes(Dir / "old.ABK", Old);
  for (const std::string& Command : {"dump " + Dir / "old.ABK", "export --format csv " + Dir / "old.ABK",
                                     "print " + Dir / "old.ABK " + Dir / "out.pdf"}) {
    SCOPED_TRACE(Command);
    EXPECT_EQ(Tool(Command, Dir).Status, 0) << ReadBytes(Dir / "err");
    EXPECT_NE(ReadBytes(Dir / "err").find("was saved by an older version of Tobrinel.  It was read as it stands"),
              std::string::npos);
    EXPECT_EQ(ReadBytes(Dir / "old.ABK"), Old);
    EXPECT_EQ(OtherFiles(Dir.Path, {"old.ABK", "err", "out.pdf"}), "");
  }
  // Importing writes the book, so its older form is kept as described.
  WriteBytes(Dir / "in.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nEND:VCARD\r\n");
  EXPECT_EQ(Tool("import --format vcard " + Dir / "old.ABK " + Dir / "in.vcf", Dir).Status, 0);
  EXPECT_EQ(ReadBytes(Dir / "old.OLD"), Old);
  EXPECT_NE(ReadBytes(Dir / "err").find("will be backed up to: '" + Dir / "old.OLD'"), std::string::npos);
}
