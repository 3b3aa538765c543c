// tobrinel-book: reads and writes address books from scripts, as JSON lines.
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>

#include "Adrbook.h"
#include "ContactCommands.h"
#include "JsonLines.h"
#include "PrintCommand.h"

namespace {

const char* const Usage =
    "usage: tobrinel-book dump BOOK\n"
    "       tobrinel-book create BOOK < entries.jsonl\n"
    "       tobrinel-book print BOOK OUT.pdf [--from N] [--to N] [--header TEXT] [--footer TEXT]\n";

class TConsoleHost : public IBookHost {
public:
  void OldFormatWarning(const std::string& Text) override { std::cerr << Text << "\n"; }
  void SetDefaultTab(int) override {}
};

int Dump(const std::string& Path) {
  TConsoleHost Host;
  TAddressBook Book(&Host);
  TLoadResult Result;
  try {
    Result = Book.LoadFromFile(Path);
  } catch (const EFileError& E) {
    std::cerr << "tobrinel-book: " << E.what() << "\n";
    return 1;
  }
  std::string Out;
  TListNode* Cursor;
  Book.Items->ResetCursor(Cursor);
  while (Book.Items->MoveNext(Cursor)) {
    Out += EntryToJson(*static_cast<TAddressItem*>(Cursor));
    Out += '\n';
    if (Out.size() > 65536) {
      std::fwrite(Out.data(), 1, Out.size(), stdout);
      Out.clear();
    }
  }
  std::fwrite(Out.data(), 1, Out.size(), stdout);
  if (std::fflush(stdout) != 0) {
    std::cerr << "tobrinel-book: cannot write the output\n";
    return 1;
  }
  if (Result.Damaged) {
    std::cerr << "tobrinel-book: " << Path << " is damaged; " << Result.EntriesRead
              << " entries could be read\n";
    return 1;
  }
  return 0;
}

int Create(const std::string& Path) {
  TAddressBook Book;
  std::string Line;
  int LineNumber = 0;
  while (std::getline(std::cin, Line)) {
    ++LineNumber;
    if (Line.find_first_not_of(" \t\r") == std::string::npos) continue;
    auto Item = std::make_unique<TAddressItem>();
    try {
      ReadJsonEntry(Line, *Item);
    } catch (const std::exception& E) {
      std::cerr << "tobrinel-book: line " << LineNumber << ": " << E.what() << "\n";
      return 1;
    }
    Book.Items->Add(Item.release());
  }
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

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && IsContactCommand(argv[1])) return RunContactCommand(argc, argv);
  if (argc >= 2 && std::string(argv[1]) == "print") return PrintCommand(argc - 2, argv + 2);
  if (argc != 3) {
    std::cerr << Usage << ContactUsage;
    return 2;
  }
  std::string Command = argv[1];
  if (Command == "dump") return Dump(argv[2]);
  if (Command == "create") return Create(argv[2]);
  std::cerr << Usage << ContactUsage;
  return 2;
}
