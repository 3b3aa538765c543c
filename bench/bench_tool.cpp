// `tobrinel-book dump` of a large book, as a script runs it: a whole process
// whose output goes to a file.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <unistd.h>

#include "Adrbook.h"
#include "BenchProcess.h"
#include "JsonLines.h"

namespace {

// A folder of the run's own, removed at exit.
struct TTempFolder {
  TTempFolder() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-bench-tool-XXXXXX").string();
    Path = ::mkdtemp(Pattern.data());
  }
  ~TTempFolder() { std::filesystem::remove_all(Path); }
  std::string Path;
};

std::string TempPath(const std::string& Name) {
  static TTempFolder Dir;
  return Dir.Path + "/" + Name;
}

// Entries of realistic size: two names, four numbers, two three-line
// addresses and a two-line note, some with accented letters and quotes; in
// name order as the program saves a book, or in reverse order, as a book
// whose entries were all renamed could be.
const std::string& BookOf100k(bool Reverse = false) {
  static std::string Paths[2];
  std::string& Path = Paths[Reverse];
  if (Path.empty())
    Path = [Reverse] {
      const char* Surnames[] = {"Smith",
                                "Jones",
                                "M\xC3\xBCller",
                                "O'Brien",
                                "Taylor",
                                "Brown",
                                "Davies",
                                "Evans",
                                "Wilson",
                                "Garc\xC3\xAD"
                                "a",
                                "Thomas",
                                "Patel"};
      const char* FirstNames[] = {"Oliver",      "Amelia", "Zo\xC3\xAB", "Harry", "Ava",
                                  "No\xC3\xABl", "Jack",   "Ivy",        "Leo"};
      std::mt19937 Random(7);
      auto Number = [&] {
        return "0" + std::to_string(1000 + Random() % 9000) + " " + std::to_string(100000 + Random() % 900000);
      };
      TAddressBook Book;
      Book.FileName = TempPath(Reverse ? "reverse.ABK" : "big.ABK");
      std::vector<TAddressItem*> Items;
      for (int I = 0; I < 100000; ++I) {
        auto* Item = new TAddressItem;
        Item->Surname = Surnames[Random() % 12];
        Item->FirstName = FirstNames[Random() % 9];
        Item->HomeTelephone = Number();
        Item->BusTelephone = Number();
        Item->BusExtn = std::to_string(Random() % 1000);
        Item->BusFacsimile = Number();
        Item->BusMobile = "07" + std::to_string(700000000 + Random() % 99999999);
        for (TLineList* Address : {&Item->HomeAddress, &Item->BusAddress}) {
          Address->Add(std::to_string(1 + Random() % 200) + " Old Rectory Lane");
          Address->Add("Little Hadham");
          Address->Add("AB" + std::to_string(1 + Random() % 60) + " 3XY");
        }
        Item->Notes.Add("Met at the \"spring\" fair");
        Item->Notes.Add("Prefers calls after six\tor at weekends");
        Item->TabPage = uint8_t(Random() % 3);
        Items.push_back(Item);
      }
      std::stable_sort(Items.begin(), Items.end(),
                       [](auto* A, auto* B) { return TMyLinkList::CompareItems(*A, *B) < 0; });
      if (Reverse) std::reverse(Items.begin(), Items.end());
      for (TAddressItem* Item : Items) Book.Items->AppendSorted(Item);
      Book.SaveToFile();
      return Book.FileName;
    }();
  return Path;
}

void BM_DumpProcess100k(benchmark::State& State) {
  const std::string& Book = BookOf100k(State.range(0) != 0);
  std::string Out = TempPath("dump.jsonl");
  off_t Size = 0;
  double CpuMs = 0;
  for (auto _ : State) {
    const char* Argv[] = {TOBRINEL_BOOK_TOOL, "dump", Book.c_str(), nullptr};
    TProcessRun Run = RunProcess(Argv, 1, Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
    if (!Run.Started) State.SkipWithError("spawn");
    CpuMs += Run.CpuMs;
    if (Run.Status != 0) State.SkipWithError("dump failed");
    Size = off_t(std::filesystem::file_size(Out));
  }
  State.counters["output_MB"] = double(Size) / 1e6;
  // On a busy machine the real time includes waiting for a core.
  State.counters["process_cpu_ms"] = benchmark::Counter(CpuMs, benchmark::Counter::kAvgIterations);
}
// Argument 0: a book in name order; 1: in reverse order, loaded and sorted.
BENCHMARK(BM_DumpProcess100k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The JSON alone, for a book already in memory.
void BM_JsonOfLoadedBook100k(benchmark::State& State) {
  TAddressBook Book;
  Book.LoadFromFile(BookOf100k());
  TJsonLines Json;
  for (auto _ : State) {
    Json.Clear();
    for (TListNode* N = Book.Items->Head; N; N = N->Next) Json.Add(*static_cast<TAddressItem*>(N));
    benchmark::DoNotOptimize(Json.Text().data());
  }
}
BENCHMARK(BM_JsonOfLoadedBook100k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
