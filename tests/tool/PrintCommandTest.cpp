// tobrinel-book print: the PDF read back as text, and what it refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>

#include "StoreTestUtil.h"

namespace {

struct TRun {
  int Status;
  std::string Out;
};

TRun Shell(const std::string& Command) {
  FILE* Pipe = popen(Command.c_str(), "r");
  std::string Out;
  char Buffer[4096];
  size_t N;
  while ((N = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0) Out.append(Buffer, N);
  const int Status = pclose(Pipe);
  return {WIFEXITED(Status) ? WEXITSTATUS(Status) : -1, Out};
}

// The tool as a script would run it: no display, no platform named. Before
// and After are shell commands around it; the status is the tool's.
TRun Print(const std::string& Arguments, const TTempDir& Dir, const std::string& Before = "",
           const std::string& After = "") {
  return Shell(Before + "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(TOBRINEL_BOOK_TOOL) +
               " print " + Arguments + " 2>" + (Dir / "err") + "; s=$?; " + After + "exit $s");
}

void SmallBook(const std::string& Path) {
  TAddressBook Book;
  auto* Smith = MakeItem("Smith", "John");
  Smith->HomeTelephone = "0113 496 0000";
  Smith->HomeAddress.SetText("1 Hill Road\nLeeds");
  Smith->Notes.SetText("Call after six");
  Book.Items->Add(Smith);
  Book.Items->Add(MakeItem("Adams", "Ann"));
  Book.Items->Add(MakeItem("Baker", "Bob"));
  Book.Items->Add(MakeItem("Carter", "Cy"));
  Book.FileName = Path;
  Book.SaveToFile();
}

// The words of the text in order, one string.
std::string Words(const std::string& Text) {
  std::string Result;
  bool Space = true;
  for (char C : Text) {
    const bool Blank = C == ' ' || C == '\n' || C == '\r' || C == '\t' || C == '\f';
    if (Blank && !Space) Result += ' ';
    if (!Blank) Result += C;
    Space = Blank;
  }
  return Result;
}

}  // namespace

TEST(PrintCommand, PdfCarriesTheListInOrderOnA4) {
  TTempDir Dir;
  SmallBook(Dir / "friends.abk");
  const TRun Run =
      Print(Dir / "friends.abk " + Dir / "out.pdf" + " --from 2 --header 'Our friends' --footer 'Keep safe'", Dir);
  ASSERT_EQ(Run.Status, 0) << ReadBytes(Dir / "err");
  EXPECT_EQ(ReadBytes(Dir / "err"), "");
  const TRun Text = Shell("pdftotext " + Dir / "out.pdf" + " -");
  ASSERT_EQ(Text.Status, 0) << "pdftotext (poppler-utils) is needed";
  const std::string W = Words(Text.Out);
  // Adams (position 1) is left out; the rest in list order, each with its bands.
  EXPECT_EQ(W.find("Adams"), std::string::npos) << W;
  const std::vector<std::string> InOrder = {"Tobrinel Address Manager",
                                            "friends.abk",
                                            "Our friends",
                                            "B",
                                            "Baker, Bob",
                                            "Home Phone:",
                                            "C",
                                            "Carter, Cy",
                                            "S",
                                            "Smith, John",
                                            "0113 496 0000",
                                            "Home Address:",
                                            "1 Hill Road",
                                            "Leeds",
                                            "Notes:",
                                            "Call after six",
                                            "Keep safe",
                                            "As of:"};
  size_t At = 0;
  for (const std::string& Piece : InOrder) {
    const size_t Found = W.find(Piece, At);
    ASSERT_NE(Found, std::string::npos) << "'" << Piece << "' after position " << At << " in: " << W;
    At = Found + Piece.size();
  }
  EXPECT_NE(Shell("pdfinfo " + Dir / "out.pdf").Out.find("(A4)"), std::string::npos);
}

TEST(PrintCommand, BadRangesAndFilesAreRefusedWithoutWritingAFile) {
  TTempDir Dir;
  SmallBook(Dir / "b.abk");
  struct TCase {
    std::string Arguments;
    int Status;
  } Cases[] = {
      {Dir / "b.abk", 2},                            // no output named
      {Dir / "b.abk " + Dir / "o.pdf --from", 2},    // option without value
      {Dir / "b.abk " + Dir / "o.pdf --from 0", 2},  // positions start at 1
      {Dir / "b.abk " + Dir / "o.pdf --to 2x", 2},
      {Dir / "b.abk " + Dir / "o.pdf --from 3 --to 2", 2},
      {Dir / "b.abk " + Dir / "o.pdf --colour red", 2},
      {Dir / "b.abk " + Dir / "o.pdf --to 5", 1},  // the book holds 4
      {Dir / "missing.abk " + Dir / "o.pdf", 1},
      {Dir / "b.abk " + Dir / "no/such/folder/o.pdf", 1},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(Print(Case.Arguments, Dir).Status, Case.Status) << Case.Arguments;
    EXPECT_NE(ReadBytes(Dir / "err"), "") << Case.Arguments;
    EXPECT_FALSE(std::filesystem::exists(Dir / "o.pdf")) << Case.Arguments;
  }
  // An empty book has nothing to print.
  TAddressBook Empty;
  Empty.FileName = Dir / "empty.abk";
  Empty.SaveToFile();
  EXPECT_EQ(Print(Dir / "empty.abk " + Dir / "o.pdf", Dir).Status, 1);
}

TEST(PrintCommand, OutputIsWrittenAsExportWritesItsOwn) {
  TTempDir Dir;
  SmallBook(Dir / "b.abk");
  const std::string Book = ReadBytes(Dir / "b.abk");
  std::filesystem::create_symlink(Dir / "b.abk", Dir / "link.pdf");
  ASSERT_EQ(::mkfifo((Dir / "pipe.pdf").c_str(), 0600), 0);
  WriteBytes(Dir / "old.pdf", "old content");
  const struct TCase {
    const char* Name;
    std::string Output;  // after the book on the command line, with any redirection
    int Status;
    std::string Written;  // the file that then starts with a PDF, if any
    std::string Err;
    std::string Before = "", After = "";
  } Cases[] = {
      {"the book itself", Dir / "b.abk", 1, "",
       "tobrinel-book: Cannot create file " + Dir / "b.abk" + ": it is the address book itself\n"},
      {"a link to the book", Dir / "link.pdf", 1, "",
       "tobrinel-book: Cannot create file " + Dir / "link.pdf" + ": it is the address book itself\n"},
      {"standard output appended to the book", "- >>" + Dir / "b.abk", 1, "",
       "tobrinel-book: Cannot create file -: it is the address book itself\n"},
      {"a regular file is replaced", Dir / "old.pdf", 0, Dir / "old.pdf", ""},
      {"standard output", "- >" + Dir / "stdout.pdf", 0, Dir / "stdout.pdf", ""},
      {"standard output by its device name", "/dev/stdout >" + Dir / "dev.pdf", 0, Dir / "dev.pdf", ""},
      // Read by a reader that starts at once; the pipe stays a pipe.
      {"a named pipe", Dir / "pipe.pdf", 0, Dir / "piped.pdf", "",
       "timeout 20 cat " + Dir / "pipe.pdf >" + Dir / "piped.pdf & ", "wait; "},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TRun Run = Print(Dir / "b.abk " + Case.Output, Dir, Case.Before, Case.After);
    EXPECT_EQ(Run.Status, Case.Status);
    EXPECT_EQ(ReadBytes(Dir / "err"), Case.Err);
    if (!Case.Written.empty()) {
      EXPECT_EQ(ReadBytes(Case.Written).substr(0, 5), "%PDF-") << Case.Written;
      EXPECT_NE(Shell("pdfinfo " + Case.Written).Out.find("Pages:"), std::string::npos);
    }
    EXPECT_TRUE(ReadBytes(Dir / "b.abk") == Book) << "the book was changed";
  }
  EXPECT_TRUE(std::filesystem::is_fifo(Dir / "pipe.pdf"));
  EXPECT_TRUE(std::filesystem::is_symlink(Dir / "link.pdf"));
}
