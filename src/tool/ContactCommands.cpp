// Contacts out of a book and into it, as vCard or CSV.
#include "ContactCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "Adrbook.h"
#include "ConsoleHost.h"
#include "Contacts.h"
#include "EntryPool.h"
#include "ToolStreams.h"

const char* const ContactUsage =
    "       tobrinel-book export --format vcard|csv BOOK [OUT]\n"
    "       tobrinel-book import --format vcard|csv BOOK [IN]\n"
    "       (a file named - is standard input or standard output)\n";

namespace {

struct TArguments {
  EContactFormat Format = EContactFormat::VCard;
  std::string Book;
  std::string File;  // empty or "-": standard input or output
};

int UsageError(const std::string& Why) {
  Complain() << Why << "\nusage:\n" << ContactUsage;
  return 2;
}

// False (after the usage message) when the arguments are not a command.
bool ParseArguments(int argc, char** argv, TArguments& Arguments, int& Status) {
  std::string Format;
  std::vector<std::string> Names;
  for (int I = 2; I < argc; ++I) {
    std::string Argument = argv[I];
    if (Argument == "--format" && I + 1 < argc) Format = argv[++I];
    else if (Argument.rfind("--format=", 0) == 0) Format = Argument.substr(9);
    else if (Argument.size() > 1 && Argument[0] == '-') return Status = UsageError("unknown option " + Argument), false;
    else Names.push_back(Argument);
  }
  if (Format.empty()) return Status = UsageError("which format? --format vcard or --format csv"), false;
  if (Format == "vcard") Arguments.Format = EContactFormat::VCard;
  else if (Format == "csv") Arguments.Format = EContactFormat::Csv;
  else return Status = UsageError("unknown format \"" + Format + "\" (vcard or csv)"), false;
  if (Names.empty() || Names.size() > 2) return Status = UsageError("name a book, and at most one other file"), false;
  Arguments.Book = Names[0];
  if (Names.size() == 2 && !IsStandardStream(Names[1])) Arguments.File = Names[1];
  if (std::strcmp(argv[1], "import") == 0 && IsStandardStream(Arguments.Book) && Arguments.File.empty())
    return Status = UsageError("standard input cannot hold both the book and the contacts"), false;
  return true;
}

int Export(const TArguments& Arguments) {
  TConsoleHost Host;
  TAddressBook Book(&Host);
  TLoadResult Result;
  TExported Exported;
  std::unique_ptr<TScratchBook> Scratch;
  const std::string BookName = IsStandardStream(Arguments.Book) ? "standard input" : Arguments.Book;
  // A book in list order, as the program saves it, is written out as it is
  // read instead of held whole. Into a file that is replaced once complete,
  // the order is checked on the way, and a book found out of order is
  // exported again; elsewhere it is checked before, by a read of its own.
  std::unique_ptr<TBookStream> Stream;
  TEntryView View;
  TEntrySource Next;
  TListOrderCheck Order;
  size_t EntriesAbout = 0;
  try {
    std::string Path = Arguments.Book;
    if (IsStandardStream(Path)) {
      Scratch = std::make_unique<TScratchBook>();
      Scratch->FromStandardInput();
      Path = Scratch->Path();
    }
    const bool CheckOnTheWay = !Arguments.File.empty() && ExportReplacesFile(Arguments.File);
    auto LoadWhole = [&] {
      Stream.reset();
      Result = Book.LoadFromFile(Path);
      Next = ListSource(*Book.Items);
      EntriesAbout = size_t(Book.Items->Count);
    };
    Stream = std::make_unique<TBookStream>(Path);
    EntriesAbout = Stream->EntriesAbout();
    if (Stream->CurrentFormat() && (CheckOnTheWay || Stream->InListOrder())) {
      Next = [&, CheckOnTheWay]() -> const TEntryView* {
        if (!Stream->Next(View)) return nullptr;
        if (CheckOnTheWay && !Order.Follows(View)) throw TOutOfListOrder();
        ++Result.EntriesRead;
        return &View;
      };
    } else {
      LoadWhole();
    }
    if (!Arguments.File.empty()) {
      try {
        Exported = ExportToFile(Path, Next, Arguments.Format, Arguments.File, EntriesAbout);
      } catch (const TOutOfListOrder&) {
        LoadWhole();
        Exported = ExportToFile(Path, Next, Arguments.Format, Arguments.File, EntriesAbout);
      }
    }
  } catch (const EFileError& E) {
    Complain() << (Scratch ? Scratch->Named(E.what()) : E.what()) << "\n";
    return 1;
  }
  if (Arguments.File.empty()) {
    bool Written;
    try {
      Written = WriteContacts(
          Next, Arguments.Format,
          [](std::string_view Piece) { return std::fwrite(Piece.data(), 1, Piece.size(), stdout) == Piece.size(); },
          &Exported, EntriesAbout);
    } catch (const EFileError& E) {
      Complain() << (Scratch ? Scratch->Named(E.what()) : E.what()) << "\n";
      return 1;
    }
    if (!Written || std::fflush(stdout) != 0) {
      Complain() << "cannot write the output\n";
      return 1;
    }
  }
  if (Stream) Result.Damaged = Stream->Damaged();
  for (const std::string& Notice : ExportNotices(Exported)) Complain() << Notice << "\n";
  if (Result.Damaged) {
    Complain() << BookName << " is damaged; " << Result.EntriesRead << " entries could be read\n";
    return 1;
  }
  return 0;
}

std::string Plural(int64_t Count, const char* One, const char* Many) {
  return std::to_string(Count) + " " + (Count == 1 ? One : Many);
}

void ReportImport(std::ostream& Counts, const TImported& Imported, int64_t Count, const std::string& Into) {
  Counts << Plural(Count, "entry", "entries") << " imported into " << Into << "\n";
  if (Imported.ValuesCut == 1) Counts << "1 value was longer than its field holds and was cut\n";
  if (Imported.ValuesCut > 1)
    Counts << Imported.ValuesCut << " values were longer than their fields hold and were cut\n";
  for (const std::string& Notice : ImportNotices(Imported)) Complain() << Notice << "\n";
}

// A new book from a file whose contacts come in list order, as exports do,
// is written as the contacts are read instead of held whole; from a file in
// another order, they are read again, held and sorted, and written without
// a list between. False, with nothing done, for a book that is there already
// or not a file of its own.
bool ImportIntoNewBook(const TArguments& Arguments, int& Status) {
  struct stat Input, Book;
  if (IsStandardStream(Arguments.Book) || Arguments.File.empty() || ::stat(Arguments.File.c_str(), &Input) != 0 ||
      !S_ISREG(Input.st_mode) || ::lstat(Arguments.Book.c_str(), &Book) == 0 || errno != ENOENT)
    return false;
  TImported Imported;
  try {
    bool InOrder = true;
    try {
      std::unique_ptr<TBookWriter> Writer;
      TListOrderCheck Order;
      Imported = ImportContactsFile(Arguments.File, Arguments.Format, true, [&](std::unique_ptr<TAddressItem> Item) {
        if (!Order.Follows(TEntryView(*Item))) throw TOutOfListOrder();
        // Made at the first entry, so that a file that is no contacts at all
        // is told of before the book's folder.
        if (!Writer) Writer = std::make_unique<TBookWriter>(Arguments.Book);
        Writer->Add(*Item);
      });
      if (!Writer) Writer = std::make_unique<TBookWriter>(Arguments.Book);
      Writer->Commit();
    } catch (const TOutOfListOrder&) {
      InOrder = false;
    }
    if (!InOrder) {
      Imported = ImportContactsFile(Arguments.File, Arguments.Format, true);
      Imported.Taken = int64_t(Imported.Items.size());
      std::vector<TAddressItem*, EntryPool::TLargeAllocator<TAddressItem*>> Sorted;
      Sorted.reserve(Imported.Items.size());
      // Never freed, as in dump: the tool ends right after.
      for (auto& Item : Imported.Items) Sorted.push_back(Item.release());
      Imported.Items.clear();
      TMyLinkList::SortByName(Sorted);
      TBookWriter::CheckAll(Sorted);
      TBookWriter Writer(Arguments.Book);
      Writer.AddAll(Sorted);
      Writer.Commit();
    }
  } catch (const EFileError& E) {
    Complain() << E.what() << "\n";
    return Status = 1, true;
  } catch (const EImportError& E) {
    Complain() << Arguments.File << ": " << E.what() << "\n";
    return Status = 1, true;
  }
  ReportImport(std::cout, Imported, Imported.Taken, Arguments.Book);
  Status = Imported.Refused.empty() ? 0 : 1;
  return true;
}

int Import(const TArguments& Arguments) {
  if (int Status; ImportIntoNewBook(Arguments, Status)) return Status;
  const std::string Source = Arguments.File.empty() ? "standard input" : Arguments.File;
  TImported Imported;
  try {
    // Read a piece at a time, from a file, a pipe or a device alike.
    if (!Arguments.File.empty()) {
      Imported = ImportContactsFile(Arguments.File, Arguments.Format, true);
    } else {
      TInput Input(STDIN_FILENO, Source);
      Imported = ReadContacts(Input, Arguments.Format);
    }
  } catch (const EFileError& E) {
    Complain() << E.what() << "\n";
    return 1;
  } catch (const EImportError& E) {
    Complain() << Source << ": " << E.what() << "\n";
    return 1;
  }

  // A book on standard input is written, with what was added, to standard output.
  const bool Streamed = IsStandardStream(Arguments.Book);
  const std::string BookName = Streamed ? "standard input" : Arguments.Book;
  TConsoleHost Host;
  // Never freed, as in dump: the tool ends right after, and freeing the book
  // entry by entry, in list order through memory filled in input order, cost
  // a twentieth of an import.
  TAddressBook& Book = *new TAddressBook(&Host);
  std::unique_ptr<TScratchBook> Scratch;
  try {
    std::string Path = Arguments.Book;
    if (Streamed) {
      Scratch = std::make_unique<TScratchBook>();
      Scratch->FromStandardInput();
      Path = Scratch->Path();
    }
    struct stat Existing;
    if (IsFileReadOnly(Path)) {
      Complain() << BookName << " is read-only; nothing was imported\n";
      return 1;
    }
    if (::stat(Path.c_str(), &Existing) == 0) {
      TLoadResult Result = Book.LoadFromFile(Path);
      // Saving would drop what could not be read.
      if (Result.Damaged) {
        Complain() << BookName << " is damaged; only " << Result.EntriesRead
                   << " entries could be read, so nothing was imported\n";
        return 1;
      }
    }
    DropEntriesInBook(*Book.Items, Imported);
    const auto Count = int64_t(Imported.Items.size());
    AddAllInOrder(*Book.Items, Imported.Items);
    Book.FileName = Path;
    Book.Modified = true;
    Book.SaveToFile();
    if (Scratch) Scratch->ToStandardOutput();
    // With the book on standard output, the counts go to standard error.
    ReportImport(Streamed ? std::cerr : std::cout, Imported, Count, Streamed ? "standard output" : BookName);
  } catch (const EFileError& E) {
    Complain() << (Scratch ? Scratch->Named(E.what()) : E.what()) << "\n";
    return 1;
  }
  // Scripts notice cards and rows that were skipped.
  return Imported.Refused.empty() ? 0 : 1;
}

}  // namespace

bool IsContactCommand(const char* Command) {
  return std::strcmp(Command, "export") == 0 || std::strcmp(Command, "import") == 0;
}

int RunContactCommand(int argc, char** argv) {
  TArguments Arguments;
  int Status = 0;
  if (!ParseArguments(argc, argv, Arguments, Status)) return Status;
  return std::strcmp(argv[1], "export") == 0 ? Export(Arguments) : Import(Arguments);
}
