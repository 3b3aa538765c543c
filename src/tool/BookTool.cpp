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
#include <unistd.h>
#include <vector>

#include "Adrbook.h"
#include "ConsoleHost.h"
#include "ContactCommands.h"
#include "JsonLines.h"
#include "SyncCommand.h"

namespace {

const char* const Usage =
    "usage: tobrinel-book dump BOOK\n"
    "       tobrinel-book create BOOK < entries.jsonl\n"
    "       tobrinel-book print BOOK OUT.pdf [--from N] [--to N] [--header TEXT] [--footer TEXT]\n";

void WriteUsage(std::ostream& Out) { Out << Usage << ContactUsage << SyncUsage; }

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
  while (const TAddressItem* Item = Next()) {
    Out.Add(*Item);
    ++Count;
    if (Out.Text().size() >= (1 << 20) && !Write()) return false;
  }
  return Write() && std::fflush(stdout) == 0;
}

int Dump(const std::string& Path) {
  TConsoleHost Host;
  int32_t Count = 0;
  bool Written, Damaged;
  try {
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
  } catch (const EFileError& E) {
    std::cerr << "tobrinel-book: " << E.what() << "\n";
    return 1;
  }
  if (!Written) {
    std::cerr << "tobrinel-book: cannot write the output: " << std::strerror(errno) << "\n";
    return 1;
  }
  if (Damaged) {
    std::cerr << "tobrinel-book: " << Path << " is damaged; " << Entries(Count) << " could be read\n";
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
  char* Buffer = nullptr;
  size_t Capacity = 0;
  int LineNumber = 0;
  for (ssize_t Length; (Length = ::getline(&Buffer, &Capacity, stdin)) >= 0;) {
    ++LineNumber;
    std::string Line(Buffer, size_t(Length));
    if (Line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    auto Item = std::make_unique<TAddressItem>();
    try {
      ReadJsonEntry(Line.back() == '\n' ? Line.substr(0, Line.size() - 1) : Line, *Item);
    } catch (const std::exception& E) {
      std::free(Buffer);
      std::cerr << "tobrinel-book: line " << LineNumber << ": " << E.what() << "; nothing was written to "
                << Path << "\n";
      return 1;
    }
    Read.push_back(Item.release());
  }
  std::free(Buffer);
  if (std::ferror(stdin)) {
    std::cerr << "tobrinel-book: cannot read the entries: " << std::strerror(errno) << "; nothing was written to "
              << Path << "\n";
    return 1;
  }
  TAddressBook Book;
  // One stable sort, as the loader does, rather than a walk from the tail for
  // every entry, which is quadratic on unsorted input.
  Book.Items->AddAll(Read);
  Book.FileName = Path;
  Book.Modified = true;
  try {
    Book.SaveToFile();
  } catch (const EFileError& E) {
    std::cerr << "tobrinel-book: " << E.what() << "\n";
    return 1;
  }
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
  std::cerr << "tobrinel-book: cannot run " << Program << ": " << std::strerror(errno) << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Past the file-size limit a write fails and is reported instead of the
  // signal ending the tool without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  if (argc >= 2 && IsContactCommand(argv[1])) return RunContactCommand(argc, argv);
  if (argc >= 2 && std::string(argv[1]) == "print") return RunBeside("tobrinel-book-print", argc, argv);
  if (argc >= 2 && std::string(argv[1]) == "sync") return RunBeside("tobrinel-book-sync", argc, argv);
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    WriteUsage(std::cout);
    return 0;
  }
  if (argc != 3) {
    WriteUsage(std::cerr);
    return 2;
  }
  std::string Command = argv[1];
  if (Command == "dump") return Dump(argv[2]);
  if (Command == "create") return Create(argv[2]);
  WriteUsage(std::cerr);
  return 2;
}
