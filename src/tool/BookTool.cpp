// tobrinel-book: reads and writes address books from scripts, as JSON lines.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "Adrbook.h"
#include "ConsoleHost.h"
#include "ContactCommands.h"
#include "JsonLines.h"
#include "SyncCommand.h"
#include "ToolStreams.h"

namespace {

// One row a command: its words after the program's name, what it does, and
// whether it only reads books. A new command adds its row here.
struct TCommand {
  const char* Name;
  const char* Usage;
  const char* About;
  bool OnlyReads = false;
};

const TCommand Commands[] = {
    {"dump", "dump BOOK", "Prints the entries of BOOK in list order, one JSON object a line.\n", true},
    {"create", "create BOOK < entries.jsonl",
     "Writes BOOK from JSON lines on standard input, as dump prints them, sorted by name (equal names in\n"
     "their input order), keeping the previous file as BOOK.~abk. A file that exists must be a book.\n"
     "Values longer than their fields are cut, and each line where that happened is named.\n"},
    {"export", "export --format vcard|csv BOOK [OUT]",
     "Writes every entry of BOOK as vCard 3.0 or CSV to OUT, or to standard output without OUT.\n", true},
    {"import", "import --format vcard|csv BOOK [IN]",
     "Adds the contacts of a vCard (2.1, 3.0, 4.0) or CSV file to BOOK in name order, from IN or from\n"
     "standard input without it, creating BOOK if needed and keeping BOOK.~abk.\n"},
    {"print", "print BOOK OUT.pdf [--from N] [--to N] [--header TEXT] [--footer TEXT]",
     "Writes the list report of BOOK as a PDF, as the program prints it: the entries from list position\n"
     "--from to --to (counted from 1; the whole book by default), the header text on the first page and\n"
     "the footer text on every page. OUT.pdf is replaced once it is whole when it is a file, and written\n"
     "into when it is a device or a named pipe; - writes the PDF to standard output.\n",
     true},
    {"sync", SyncUsageLine, SyncAbout},
};

const char* const ExitStatusText =
    "A file named - is standard input where a file is read and standard output where one is written\n"
    "(a BOOK of import is read from standard input and written to standard output).\n"
    "The exit status is 0 on success, 1 for an unreadable, damaged or invalid input, 2 for a usage error.\n";

const TCommand* FindCommand(const std::string& Name) {
  for (const TCommand& Command : Commands)
    if (Name == Command.Name) return &Command;
  return nullptr;
}

std::string UsageText() {
  std::string Text;
  for (const TCommand& Command : Commands)
    Text += std::string(Text.empty() ? "usage: " : "       ") + "tobrinel-book " + Command.Usage + "\n";
  return Text +
         "       tobrinel-book COMMAND --help\n"
         "       tobrinel-book --help | -h | --version\n";
}

int UsageError() {
  std::cerr << UsageText();
  return 2;
}

bool IsHelp(const std::string& Word) { return Word == "--help" || Word == "-h"; }

int Help(const TCommand* Command) {
  if (Command) std::cout << "usage: tobrinel-book " << Command->Usage << "\n\n" << Command->About;
  else std::cout << UsageText() << "\nReads and writes Tobrinel address books from scripts.\n\n" << ExitStatusText;
  return std::cout.flush() ? 0 : 1;
}

std::string Entries(int32_t Count) { return std::to_string(Count) + (Count == 1 ? " entry" : " entries"); }

// Writes every entry Next hands out as one JSON line; false with errno set
// when the output cannot be written.
template <class TNext>
bool WriteJsonLines(TNext&& Next, int32_t& Count) {
  TJsonLines Out;
  auto Write = [&] {
    bool Done = std::fwrite(Out.Text().data(), 1, Out.Text().size(), stdout) == Out.Text().size();
    Out.Clear();
    return Done;
  };
  while (const auto* Item = Next()) {
    Out.Add(*Item);
    ++Count;
    if (Out.Text().size() >= (1 << 20) && !Write()) return false;
  }
  return Write() && std::fflush(stdout) == 0;
}

int Dump(std::string Path) {
  TConsoleHost Host;
  int32_t Count = 0;
  bool Written, Damaged;
  std::unique_ptr<TScratchBook> Scratch;
  try {
    if (IsStandardStream(Path)) {
      Scratch = std::make_unique<TScratchBook>();
      Scratch->FromStandardInput();
      Path = Scratch->Path();
    }
    // A book in list order, as the program saves it, is written out as it is
    // read: memory, whose first touch was most of what a large book cost,
    // then stays small whatever the size. Into a file (not one appended to),
    // what was written can be taken back: the order is checked on the way
    // rather than by a read of its own before.
    TBookStream Stream(Path);
    struct stat Output;
    const int Flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    const off_t Start =
        ::fstat(STDOUT_FILENO, &Output) == 0 && S_ISREG(Output.st_mode) && Flags >= 0 && !(Flags & O_APPEND)
            ? ::ftello(stdout)
            : -1;
    bool Streamed = false;
    if (Stream.CurrentFormat() && (Start >= 0 || Stream.InListOrder())) {
      TEntryView View;
      TListOrderCheck Order;
      try {
        Written = WriteJsonLines(
            [&]() -> const TEntryView* {
              if (!Stream.Next(View)) return nullptr;
              if (Start >= 0 && !Order.Follows(View)) throw TOutOfListOrder();
              return &View;
            },
            Count);
        Damaged = Stream.Damaged();
        Streamed = true;
      } catch (const TOutOfListOrder&) {
        Count = 0;
        if (std::fflush(stdout) != 0 || ::ftruncate(STDOUT_FILENO, Start) != 0 ||
            ::fseeko(stdout, Start, SEEK_SET) != 0) {
          Complain() << "cannot write the output: " << std::strerror(errno) << "\n";
          return 1;
        }
      }
    }
    if (!Streamed) {
      // Never freed: the tool ends right after, and the kernel takes the book
      // back at once where freeing it entry by entry costs a tenth of the run.
      TAddressBook& Book = *new TAddressBook(&Host);
      Damaged = Book.LoadFromFile(Path).Damaged;
      TListNode* Cursor;
      Book.Items->ResetCursor(Cursor);
      Written = WriteJsonLines(
          [&]() -> const TAddressItem* {
            return Book.Items->MoveNext(Cursor) ? static_cast<TAddressItem*>(Cursor) : nullptr;
          },
          Count);
    }
  } catch (const EFileError& E) {
    Complain() << (Scratch ? Scratch->Named(E.what()) : E.what()) << "\n";
    return 1;
  }
  if (!Written) {
    Complain() << "cannot write the output: " << std::strerror(errno) << "\n";
    return 1;
  }
  if (Damaged) {
    Complain() << (Scratch ? "standard input" : Path) << " is damaged; " << Entries(Count) << " could be read\n";
    return 1;
  }
  return 0;
}

int Create(const std::string& Path) {
  std::vector<TAddressItem*> Read;
  struct TOwned {
    std::vector<TAddressItem*>& Items;
    ~TOwned() {
      for (TAddressItem* Item : Items) delete Item;
    }
  } Owned{Read};
  const bool ToOutput = IsStandardStream(Path);
  const std::string Target = ToOutput ? "standard output" : Path;
  // Like import, create writes a book or a new file, never over a file of another kind.
  try {
    struct stat Existing;
    if (!ToOutput && ::stat(Path.c_str(), &Existing) == 0 && S_ISREG(Existing.st_mode) &&
        BookFileKind(Path) == EBookFile::NotABook)
      throw ENotABook(Path);
  } catch (const EFileError& E) {
    Complain() << E.what() << "; nothing was written to it\n";
    return 1;
  }
  char* Buffer = nullptr;
  size_t Capacity = 0;
  int LineNumber = 0;
  std::vector<std::pair<int, int32_t>> CutLines;  // line, values cut on it
  for (ssize_t Length; (Length = ::getline(&Buffer, &Capacity, stdin)) >= 0;) {
    ++LineNumber;
    std::string Line(Buffer, size_t(Length));
    if (Line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    auto Item = std::make_unique<TAddressItem>();
    int32_t Cut = 0;
    try {
      ReadJsonEntry(Line.back() == '\n' ? Line.substr(0, Line.size() - 1) : Line, *Item, &Cut);
    } catch (const std::exception& E) {
      std::free(Buffer);
      Complain() << "line " << LineNumber << ": " << E.what() << "; nothing was written to " << Target << "\n";
      return 1;
    }
    if (Cut > 0) CutLines.push_back({LineNumber, Cut});
    Read.push_back(Item.release());
  }
  std::free(Buffer);
  if (std::ferror(stdin)) {
    Complain() << "cannot read the entries: " << std::strerror(errno) << "; nothing was written to " << Target << "\n";
    return 1;
  }
  TAddressBook Book;
  // One stable sort, as the loader does, rather than a walk from the tail for
  // every entry, which is quadratic on unsorted input.
  Book.Items->AddAll(Read);
  Book.Modified = true;
  try {
    if (ToOutput) {
      TScratchBook Scratch;
      Book.FileName = Scratch.Path();
      Book.SaveToFile();
      Scratch.ToStandardOutput();
    } else {
      Book.FileName = Path;
      Book.SaveToFile();
    }
  } catch (const EFileError& E) {
    Complain() << E.what() << "\n";
    return 1;
  }
  for (auto [Line, Cut] : CutLines)
    Complain() << "line " << Line << ": "
               << (Cut == 1 ? "1 value was longer than its field holds and was cut"
                            : std::to_string(Cut) + " values were longer than their fields hold and were cut")
               << "\n";
  return 0;
}

// The print and sync commands are programs of their own beside this one
// (they load Qt, which would slow every other command's start): run the one
// named with the same words.
int RunBeside(const char* Name, int argc, char** argv) {
  char Self[PATH_MAX];
  const ssize_t Length = ::readlink("/proc/self/exe", Self, sizeof Self - 1);
  std::string Program = Length > 0 ? std::string(Self, size_t(Length)) : std::string(argv[0]);
  Program = Program.substr(0, Program.rfind('/') + 1) + Name;
  std::vector<char*> Arguments{Program.data()};
  for (int I = 2; I < argc; ++I) Arguments.push_back(argv[I]);
  Arguments.push_back(nullptr);
  ::execv(Program.c_str(), Arguments.data());
  Complain() << "cannot run " << Program << ": " << std::strerror(errno) << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Past the file-size limit a write fails and is reported instead of the
  // signal ending the tool without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  if (argc < 2) return UsageError();
  const std::string First = argv[1];
  if (IsHelp(First)) {
    if (argc == 2) return Help(nullptr);
    const TCommand* Command = argc == 3 ? FindCommand(argv[2]) : nullptr;
    return Command ? Help(Command) : UsageError();
  }
  if (First == "--version") {
    if (argc != 2) return UsageError();
    std::cout << "tobrinel-book " << TOBRINEL_VERSION << "\n";
    return std::cout.flush() ? 0 : 1;
  }
  const TCommand* Command = FindCommand(First);
  if (!Command) return UsageError();
  if (argc == 3 && IsHelp(argv[2])) return Help(Command);
  TConsoleHost::OnlyReads = Command->OnlyReads;
  if (IsContactCommand(argv[1])) return RunContactCommand(argc, argv);
  if (First == "print") return RunBeside("tobrinel-book-print", argc, argv);
  if (First == "sync") return RunBeside("tobrinel-book-sync", argc, argv);
  if (argc != 3) return UsageError();
  if (First == "dump") return Dump(argv[2]);
  return Create(argv[2]);
}
