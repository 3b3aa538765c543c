// Contacts out of and into a book of 100,000 entries: vCard and CSV against
// the JSON lines of `dump`, and imports in every order of cards.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

#include "Adrbook.h"
#include "BenchProcess.h"
#include "Contacts.h"
#include "JsonLines.h"

namespace {

const char* const Surnames[] = {"Smith",   "Jones",   "Williams", "Taylor",   "Brown",    "Davies", "Evans",  "Wilson",
                                "Thomas",  "Johnson", "Roberts",  "Robinson", "Thompson", "Wright", "Walker", "White",
                                "Edwards", "Hughes",  "Green",    "Hall",     "Lewis",    "Harris", "Clarke", "Patel",
                                "Jackson", "Wood",    "Turner",   "Martin",   "Cooper",   "Hill",   "Müller"};
const char* const FirstNames[] = {"Oliver", "Amelia", "George", "Isla", "Harry",  "Ava", "Noah",  "Mia",
                                  "Jack",   "Ivy",    "Leo",    "Lily", "Arthur", "Zoë", "Oscar", "Sophia"};

std::string Number(std::mt19937& Random) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "0%u %u", unsigned(1000 + Random() % 9000), unsigned(100000 + Random() % 900000));
  return Text;
}

enum EOrder { InOrder, Reversed, Shuffled };

// Entries of realistic size (two names, four numbers, two three-line
// addresses, a two-line note), linked in the order asked for.
std::unique_ptr<TAddressBook> MakeBook(int Count, EOrder Order) {
  std::mt19937 Random(42);
  std::vector<TAddressItem*> Items;
  for (int I = 0; I < Count; ++I) {
    auto* Item = new TAddressItem;
    std::string Surname = Surnames[Random() % 31];
    if (I % 3 == 0) Surname.append("-").append(Surnames[Random() % 31]);
    Item->Surname = Surname;
    Item->FirstName = FirstNames[Random() % 16];
    Item->HomeTelephone = Number(Random);
    Item->BusTelephone = Number(Random);
    Item->BusExtn = std::to_string(Random() % 1000);
    Item->BusFacsimile = Number(Random);
    Item->BusMobile = std::string("07").append(std::to_string(700000000 + Random() % 99999999));
    for (TLineList* Address : {&Item->HomeAddress, &Item->BusAddress}) {
      Address->Add(
          std::to_string(1 + Random() % 200).append(" Station Road, Flat ").append(std::to_string(Random() % 9)));
      Address->Add("Little Hadham; Herts");
      Address->Add(std::string("AB").append(std::to_string(1 + Random() % 60)).append(" 1XY"));
    }
    Item->Notes.Add("Met at the spring fair");
    Item->Notes.Add("Prefers calls after six, not \"early\"");
    Items.push_back(Item);
  }
  auto Less = [](auto* A, auto* B) { return TMyLinkList::CompareItems(*A, *B) < 0; };
  std::stable_sort(Items.begin(), Items.end(), Less);
  if (Order == Reversed) std::reverse(Items.begin(), Items.end());
  if (Order == Shuffled) std::shuffle(Items.begin(), Items.end(), Random);
  auto Book = std::make_unique<TAddressBook>();
  for (TAddressItem* Item : Items) Book->Items->AppendSorted(Item);
  return Book;
}

const TAddressBook& SharedBook() {
  static auto Book = MakeBook(100000, InOrder);
  return *Book;
}

// Every writer goes the same way: into a 64 KiB piece, then through stdio to /dev/null.
FILE* Null() {
  static FILE* F = std::fopen("/dev/null", "wb");
  return F;
}

void BM_DumpJsonLines(benchmark::State& State) {
  const TAddressBook& Book = SharedBook();
  for (auto _ : State) {
    std::string Out;
    for (TListNode* N = Book.Items->Head; N; N = N->Next) {
      Out += EntryToJson(*static_cast<TAddressItem*>(N));
      Out += '\n';
      if (Out.size() >= (1 << 16)) {
        std::fwrite(Out.data(), 1, Out.size(), Null());
        Out.clear();
      }
    }
    std::fwrite(Out.data(), 1, Out.size(), Null());
  }
}
BENCHMARK(BM_DumpJsonLines)->Unit(benchmark::kMillisecond);

void Export(benchmark::State& State, EContactFormat Format) {
  const TAddressBook& Book = SharedBook();
  size_t Bytes = 0;
  for (auto _ : State) {
    Bytes = 0;
    WriteContacts(*Book.Items, Format, [&](std::string_view Piece) {
      Bytes += Piece.size();
      return std::fwrite(Piece.data(), 1, Piece.size(), Null()) == Piece.size();
    });
  }
  State.counters["MB"] = double(Bytes) / 1e6;
}
void BM_ExportVCard(benchmark::State& State) { Export(State, EContactFormat::VCard); }
void BM_ExportCsv(benchmark::State& State) { Export(State, EContactFormat::Csv); }
BENCHMARK(BM_ExportVCard)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportCsv)->Unit(benchmark::kMillisecond);

// The commands themselves, each a process reading the book file and writing to /dev/null.
const std::string& BookFile() {
  static std::string Path = [] {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-bench-XXXXXX").string();
    std::string Dir = ::mkdtemp(Pattern.data());
    auto Book = MakeBook(100000, InOrder);
    Book->FileName = Dir + "/book.ABK";
    Book->SaveToFile();
    return Book->FileName;
  }();
  return Path;
}

void Command(benchmark::State& State, const std::string& Arguments) {
  const std::string Line = std::string(TOBRINEL_BOOK_TOOL) + " " + Arguments + " " + BookFile() + " >/dev/null";
  for (auto _ : State)
    if (std::system(Line.c_str()) != 0) State.SkipWithError("the command failed");
}
void BM_CommandDump(benchmark::State& State) { Command(State, "dump"); }
void BM_CommandExportVCard(benchmark::State& State) { Command(State, "export --format vcard"); }
void BM_CommandExportCsv(benchmark::State& State) { Command(State, "export --format csv"); }
BENCHMARK(BM_CommandDump)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommandExportVCard)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommandExportCsv)->Unit(benchmark::kMillisecond);

// Reading N cards written in an order and adding them to an empty book, or to
// a book that holds N entries already.
std::string Cards(int Count, EOrder Order, EContactFormat Format) {
  auto Book = MakeBook(Count, Order);
  std::string Out;
  WriteContacts(*Book->Items, Format, [&](std::string_view Piece) {
    Out += Piece;
    return true;
  });
  return Out;
}

void Import(benchmark::State& State, EOrder Order, EContactFormat Format, bool IntoFullBook) {
  const int Count = int(State.range(0));
  const std::string Text = Cards(Count, Order, Format);
  for (auto _ : State) {
    State.PauseTiming();
    auto Book = IntoFullBook ? MakeBook(Count, Shuffled) : std::make_unique<TAddressBook>();
    State.ResumeTiming();
    TImported Imported = ReadContacts(Text, Format);
    AddAllInOrder(*Book->Items, Imported.Items);
    if (Book->Items->Count != (IntoFullBook ? 2 : 1) * Count) State.SkipWithError("wrong count");
    State.PauseTiming();
    Book.reset();
    State.ResumeTiming();
  }
  State.SetComplexityN(Count);
}
void BM_ImportVCardInOrder(benchmark::State& State) { Import(State, InOrder, EContactFormat::VCard, false); }
void BM_ImportVCardReversed(benchmark::State& State) { Import(State, Reversed, EContactFormat::VCard, false); }
void BM_ImportVCardShuffled(benchmark::State& State) { Import(State, Shuffled, EContactFormat::VCard, false); }
void BM_ImportVCardIntoFullBook(benchmark::State& State) { Import(State, Reversed, EContactFormat::VCard, true); }
void BM_ImportCsvShuffled(benchmark::State& State) { Import(State, Shuffled, EContactFormat::Csv, false); }
BENCHMARK(BM_ImportVCardInOrder)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportVCardReversed)
    ->Arg(25000)
    ->Arg(50000)
    ->Arg(100000)
    ->Arg(200000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportVCardShuffled)
    ->Arg(25000)
    ->Arg(50000)
    ->Arg(100000)
    ->Arg(200000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportVCardIntoFullBook)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportCsvShuffled)->Arg(100000)->Unit(benchmark::kMillisecond);

// Refusing a bad input of 200 MB as the tool does, a whole process: its peak
// memory stays small whatever the size, as the readers stream and stop at the
// first line they can refuse.
const std::string& BadInput(int Kind) {
  static std::string Paths[3];
  std::string& Path = Paths[Kind];
  if (!Path.empty()) return Path;
  static const struct TFolder {  // removed at exit: the inputs take 600 MB
    TFolder() {
      std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-bench-bad-XXXXXX").string();
      Path = ::mkdtemp(Pattern.data());
    }
    ~TFolder() { std::filesystem::remove_all(Path); }
    std::string Path;
  } Folder;
  const std::string& Dir = Folder.Path;
  static const char* const Names[] = {"random", "note.vcf", "quote.csv"};
  static const char* const Heads[] = {
      "", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nNOTE:", "Last Name,Notes\r\nLee,\""};
  Path = Dir + "/" + Names[Kind];
  std::ofstream Out(Path, std::ios::binary);
  Out << Heads[Kind];
  std::mt19937 Random(3);
  std::string Block(1 << 20, 'n');
  for (int I = 0; I < 200; ++I) {
    if (Kind == 0)
      for (char& C : Block) C = char(Random());
    Out.write(Block.data(), std::streamsize(Block.size()));
  }
  return Path;
}

void BM_RefuseBadInputProcess(benchmark::State& State) {
  // 0: random bytes as CSV; 1: random bytes as vCard; 2: a card with a 200 MB
  // NOTE; 3: a CSV field whose quote is never closed.
  const int Case = int(State.range(0));
  const std::string& Input = BadInput(Case == 0 ? 0 : Case - 1);
  const std::string Book = Input + ".ABK";
  const char* Format = Case == 0 || Case == 3 ? "csv" : "vcard";
  long PeakKb = 0;
  double CpuMs = 0;
  for (auto _ : State) {
    const char* Argv[] = {TOBRINEL_BOOK_TOOL, "import", "--format", Format, Book.c_str(), Input.c_str(), nullptr};
    TProcessRun Run = RunProcess(Argv, 2, "/dev/null", O_WRONLY);
    if (!Run.Started) State.SkipWithError("spawn");
    PeakKb = std::max(PeakKb, Run.PeakKb);
    CpuMs += Run.CpuMs;
    if (Run.Status != 1) State.SkipWithError("the input was not refused");
  }
  State.counters["peak_MB"] = double(PeakKb) / 1024;
  State.counters["process_cpu_ms"] = benchmark::Counter(CpuMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RefuseBadInputProcess)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
