// Loading and saving large books.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Adrbook.h"
#include "EntryPool.h"

namespace {

const char* const Surnames[] = {
    "Smith",   "Jones",    "Williams", "Taylor", "Brown",   "Davies", "Evans",   "Wilson",   "Thomas", "Johnson",
    "Roberts", "Robinson", "Thompson", "Wright", "Walker",  "White",  "Edwards", "Hughes",   "Green",  "Hall",
    "Lewis",   "Harris",   "Clarke",   "Patel",  "Jackson", "Wood",   "Turner",  "Martin",   "Cooper", "Hill",
    "Ward",    "Morris",   "Moore",    "Clark",  "Lee",     "King",   "Baker",   "Harrison", "Morgan", "Allen"};
const char* const FirstNames[] = {"Oliver",   "Amelia", "George",   "Isla",   "Harry",   "Ava",    "Noah",
                                  "Mia",      "Jack",   "Ivy",      "Leo",    "Lily",    "Arthur", "Isabella",
                                  "Muhammad", "Rosie",  "Oscar",    "Sophia", "Charlie", "Grace",  "Jacob",
                                  "Freya",    "Thomas", "Florence", "Henry",  "Willow"};
const char* const Streets[] = {"Old Rectory Lane", "High Street",     "Station Road",  "Church Lane",
                               "Mill Road",        "Victoria Avenue", "Park Crescent", "Queens Drive"};
const char* const Towns[] = {"Little Hadham",     "Market Rasen",    "Upper Slaughter",
                             "Bishops Stortford", "Chipping Norton", "Much Wenlock"};

std::string Number(std::mt19937& Random) {
  return "0" + std::to_string(1000 + Random() % 9000) + " " + std::to_string(100000 + Random() % 900000);
}

// A book of Count entries of realistic size: two names, four numbers, two
// three-line addresses and a two-line note.
std::unique_ptr<TAddressBook> MakeBook(int Count, bool Reverse) {
  std::mt19937 Random(42);
  std::vector<TAddressItem*> Items;
  Items.reserve(size_t(Count));
  for (int I = 0; I < Count; ++I) {
    auto* Item = new TAddressItem;
    Item->Surname = std::string(Surnames[Random() % 40]) + (I % 3 ? "" : "-" + std::string(Surnames[Random() % 40]));
    Item->FirstName = FirstNames[Random() % 26];
    Item->HomeTelephone = Number(Random);
    Item->BusTelephone = Number(Random);
    Item->BusFacsimile = Number(Random);
    Item->BusMobile = "07" + std::to_string(700000000 + Random() % 99999999);
    for (TLineList* Address : {&Item->HomeAddress, &Item->BusAddress}) {
      Address->Add(std::to_string(1 + Random() % 200) + " " + Streets[Random() % 8]);
      Address->Add(Towns[Random() % 6]);
      Address->Add("AB" + std::to_string(1 + Random() % 60) + " " + std::to_string(Random() % 10) + "XY");
    }
    Item->Notes.Add("Met at the spring fair");
    Item->Notes.Add("Prefers calls after six");
    Items.push_back(Item);
  }
  std::stable_sort(Items.begin(), Items.end(), [](auto* A, auto* B) { return TMyLinkList::CompareItems(*A, *B) < 0; });
  if (Reverse) std::reverse(Items.begin(), Items.end());
  auto Book = std::make_unique<TAddressBook>();
  for (TAddressItem* Item : Items) Book->Items->AppendSorted(Item);
  return Book;
}

// A folder of the run's own, removed at exit.
struct TTempFolder {
  TTempFolder() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-bench-XXXXXX").string();
    Path = ::mkdtemp(Pattern.data());
  }
  ~TTempFolder() { std::filesystem::remove_all(Path); }
  std::string Path;
};

std::string TempPath(const std::string& Name) {
  static TTempFolder Dir;
  return Dir.Path + "/" + Name;
}

const std::string& BookFile(bool Reverse) {
  static std::string Paths[2];
  std::string& Path = Paths[Reverse];
  if (Path.empty()) {
    Path = TempPath(Reverse ? "reverse.ABK" : "ordered.ABK");
    auto Book = MakeBook(100000, Reverse);
    Book->FileName = Path;
    Book->SaveToFile();
  }
  return Path;
}

void BM_LoadInNameOrder(benchmark::State& State) {
  const std::string& Path = BookFile(false);
  size_t Bytes = 0;
  for (auto _ : State) {
    // The entries come from their own pool, the rest from the heap.
    size_t Before = mallinfo2().uordblks + EntryPool::LiveBytes();
    TAddressBook Book;
    Book.LoadFromFile(Path);
    Bytes = mallinfo2().uordblks + EntryPool::LiveBytes() - Before;
    benchmark::DoNotOptimize(Book.Items->Count);
  }
  State.counters["book_MB"] = double(Bytes) / 1e6;
}
BENCHMARK(BM_LoadInNameOrder)->Unit(benchmark::kMillisecond);

void BM_LoadInReverseOrder(benchmark::State& State) {
  const std::string& Path = BookFile(true);
  for (auto _ : State) {
    TAddressBook Book;
    Book.LoadFromFile(Path);
    benchmark::DoNotOptimize(Book.Items->Count);
  }
}
BENCHMARK(BM_LoadInReverseOrder)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& State) {
  TAddressBook Book;
  Book.LoadFromFile(BookFile(false));
  Book.FileName = TempPath("saved.ABK");
  for (auto _ : State) Book.SaveToFile();
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

long ResidentKb() {
  long Pages = 0, Resident = 0;
  FILE* F = std::fopen("/proc/self/statm", "r");
  if (F) {
    if (std::fscanf(F, "%ld %ld", &Pages, &Resident) != 2) Resident = 0;
    std::fclose(F);
  }
  return Resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Resident memory a fresh process gains by loading the book. The process is
// started anew: a forked one would reuse the entry pool this one has touched.
constexpr const char* ResidentChildOption = "--resident-growth-of";

int ResidentChild(const char* Path) {
  long Before = ResidentKb();
  TAddressBook Book;
  Book.LoadFromFile(Path);
  long Growth = ResidentKb() - Before;
  return std::printf("%ld\n", Growth) > 0 ? 0 : 1;
}

void BM_ResidentMemoryOfLoadedBook(benchmark::State& State) {
  const std::string& Path = BookFile(false);
  long GrowthKb = 0;
  for (auto _ : State) {
    int Pipe[2];
    if (pipe(Pipe) != 0) State.SkipWithError("pipe");
    pid_t Child = fork();
    if (Child == 0) {
      dup2(Pipe[1], STDOUT_FILENO);
      execl("/proc/self/exe", "bench_store", ResidentChildOption, Path.c_str(), nullptr);
      _exit(127);
    }
    close(Pipe[1]);
    char Text[32] = {};
    ssize_t Got = read(Pipe[0], Text, sizeof Text - 1);
    close(Pipe[0]);
    int Status = 0;
    waitpid(Child, &Status, 0);
    if (Got <= 0 || !WIFEXITED(Status) || WEXITSTATUS(Status) != 0) State.SkipWithError("child");
    else GrowthKb = std::strtol(Text, nullptr, 10);
  }
  State.counters["rss_growth_MB"] = double(GrowthKb) / 1024.0;
}
BENCHMARK(BM_ResidentMemoryOfLoadedBook)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_LoadOlderFormat10k(benchmark::State& State) {
  std::string Path = TempPath("older.ABK");
  {
    auto Book = MakeBook(10000, false);
    std::ofstream Out(Path, std::ios::binary);
    Out << "[Settings]\r\nDefaultTab=1\r\n[Items]\r\nNumberOfItems=10000\r\n";
    for (int I = 1; I <= 10000; ++I) Out << I << "=Entry" << I << "\r\n";
    int I = 0;
    for (TListNode* N = Book->Items->Head; N; N = N->Next) {
      auto* Item = static_cast<TAddressItem*>(N);
      Out << "[Entry" << ++I << "]\r\nSurname=" << Item->Surname.str() << "\r\nFirstName=" << Item->FirstName.str()
          << "\r\nHomeTelephone=" << Item->HomeTelephone.str() << "\r\nBusTelephone=" << Item->BusTelephone.str()
          << "\r\nBusExtn=\r\nBusFacsimile=" << Item->BusFacsimile.str() << "\r\nBusMobile=" << Item->BusMobile.str()
          << "\r\n";
      const std::pair<const char*, const TLineList*> Lists[] = {
          {"HomeAddress", &Item->HomeAddress}, {"BusAddress", &Item->BusAddress}, {"Notes", &Item->Notes}};
      for (auto [Name, List] : Lists) {
        Out << Name << "Lines=" << List->Count() << "\r\n";
        for (int J = 0; J < List->Count(); ++J) Out << Name << "_" << J + 1 << "=" << (*List)[J] << "\r\n";
      }
      Out << "TabPage=0\r\n";
    }
  }
  for (auto _ : State) {
    TAddressBook Book;
    Book.LoadFromFile(Path);
    if (Book.Items->Count != 10000) State.SkipWithError("wrong count");
  }
}
BENCHMARK(BM_LoadOlderFormat10k)->Unit(benchmark::kMillisecond);

// A million names in no order, as an import or a book of the older format
// brings them, put into name order at once.
void BM_SortMillionNames(benchmark::State& State) {
  std::mt19937 Random(9);
  std::vector<std::pair<std::string, std::string>> Names;
  for (int I = 0; I < 1000000; ++I)
    Names.emplace_back(std::string(Surnames[Random() % 40]) + (I % 3 ? "" : "-" + std::string(Surnames[Random() % 40])),
                       FirstNames[Random() % 26]);
  for (auto _ : State) {
    State.PauseTiming();
    std::vector<TAddressItem*> Items;
    Items.reserve(Names.size());
    for (const auto& [Surname, FirstName] : Names) {
      auto* Item = new TAddressItem;
      Item->Surname = Surname;
      Item->FirstName = FirstName;
      Items.push_back(Item);
    }
    TMyLinkList List;
    State.ResumeTiming();
    List.AddAll(Items);
    benchmark::DoNotOptimize(List.Head);
    State.PauseTiming();
    List.Clear();
    State.ResumeTiming();
  }
}
BENCHMARK(BM_SortMillionNames)->Unit(benchmark::kMillisecond)->Iterations(2);

// One new entry typed into a book of 100,000: Add walks from the tail.
void BM_AddOneToLargeBook(benchmark::State& State) {
  TAddressBook Book;
  Book.LoadFromFile(BookFile(false));
  std::mt19937 Random(3);
  for (auto _ : State) {
    auto* Item = new TAddressItem;
    Item->Surname = Surnames[Random() % 40];
    Item->FirstName = FirstNames[Random() % 26];
    Book.Items->Add(Item);
    Book.Items->Delete(Item);
  }
}
BENCHMARK(BM_AddOneToLargeBook)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == ResidentChildOption) return ResidentChild(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
