// The sync engine alone, no network: a book already synced with its address
// book, run again with nothing changed and with ten entries changed, and the
// memory of the sync state against the book's own.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <malloc.h>
#include <map>
#include <unistd.h>

#include "Adrbook.h"
#include "EntryPool.h"
#include "SyncEngine.h"

namespace {

// Entries with every field filled, as a phone's contacts tend to be.
void FillBook(TAddressBook& Book, int Count) {
  static const char* const Streets[] = {"Mill Lane", "Quay Street", "Orchard Close", "Abbey Road", "Long Row"};
  std::vector<TAddressItem*> Items;
  for (int I = 0; I < Count; ++I) {
    auto* Item = new TAddressItem;
    std::string N = std::to_string(I);
    Item->Surname = "Surname" + std::to_string(I % 997);
    Item->FirstName = "First" + std::to_string(I % 89);
    Item->HomeTelephone = "01632 96" + N;
    Item->BusTelephone = "020 7946 " + N;
    Item->BusFacsimile = "020 7946 9" + N;
    Item->BusMobile = "07700 900" + N;
    Item->HomeAddress.Add(N + " " + Streets[I % 5]);
    Item->HomeAddress.Add("Market Town");
    Item->HomeAddress.Add("AB" + std::to_string(I % 90) + " 1CD");
    Item->BusAddress.Add("Unit " + std::to_string(I % 40) + ", Trade Park");
    Item->BusAddress.Add("County Town");
    Item->Notes.Add("Met at the autumn fair");
    Items.push_back(Item);
  }
  Book.Items->AddAll(Items);
}

struct TSynced {
  TAddressBook Book;
  std::string StatePath;
  TServerListing Full, NoChanges;
  ~TSynced() {
    std::filesystem::remove(StatePath);
    std::filesystem::remove(Book.FileName);
    std::filesystem::remove(Book.FileName.substr(0, Book.FileName.size() - 4) + ".~abk");
  }
};

std::string TempPath(const std::string& Name) {
  return std::filesystem::temp_directory_path() / ("tobrinel-bench-sync-" + std::to_string(getpid()) + "-" + Name);
}

// A book of Count entries and the state of a sync that sent them all.
TSynced& Synced(int Count) {
  static std::map<int, std::unique_ptr<TSynced>> Made;
  auto& S = Made[Count];
  if (S) return *S;
  S = std::make_unique<TSynced>();
  FillBook(S->Book, Count);
  TSyncState Empty;
  Empty.AddressBookUrl = "https://dav.example.org/ann/book/";
  TSyncEngine First(std::move(Empty));
  First.Listing(TServerListing());
  TSyncPlan Plan = First.Plan(*S->Book.Items, TSyncOptions());
  int Tag = 0;
  for (TCardPut& Put : Plan.Puts) {
    Put.Result = EOpResult::Done;
    Put.ETag = std::string(1, '"').append(std::to_string(++Tag)).append(1, '"');
    S->Full.Cards.push_back({std::string(Put.Href), Put.ETag});
  }
  TSyncState State = Plan.FinalState();
  State.SyncToken = "t1";
  S->StatePath = TempPath(std::to_string(Count) + ".sync");
  State.Save(S->StatePath);
  S->Book.FileName = TempPath(std::to_string(Count) + ".ABK");
  S->Book.SaveToFile();
  S->Full.SyncToken = S->NoChanges.SyncToken = "t1";
  S->NoChanges.Full = false;
  return *S;
}

// Load the state from its file, compare, plan; with nothing changed the
// state is not written, else the cards are sent and the state made.
void RunOnce(benchmark::State& Run, TSynced& S, const TServerListing& Listing, size_t ExpectedPuts) {
  TSyncState State;
  State.Load(S.StatePath);
  TSyncEngine Engine(std::move(State));
  if (!Engine.Listing(Listing).empty()) Run.SkipWithError("cards to fetch");
  TSyncPlan Plan = Engine.Plan(*S.Book.Items, TSyncOptions());
  if (Plan.Puts.size() != ExpectedPuts) Run.SkipWithError("unexpected plan");
  for (TCardPut& Put : Plan.Puts) Put.Result = EOpResult::Done;
  if (Plan.StateChanged() != (ExpectedPuts > 0)) Run.SkipWithError("the state would be written, or not");
  if (ExpectedPuts > 0) benchmark::DoNotOptimize(Plan.FinalState().Cards.size());
}

void BM_SyncNothingChanged(benchmark::State& Run) {
  TSynced& S = Synced(int(Run.range(0)));
  const TServerListing& Listing = Run.range(1) ? S.Full : S.NoChanges;
  for (auto _ : Run) RunOnce(Run, S, Listing, 0);
}
// Entries, then 1 for a full listing (a server without sync tokens).
BENCHMARK(BM_SyncNothingChanged)
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Unit(benchmark::kMillisecond);

void BM_SyncTenChanged(benchmark::State& Run) {
  TSynced& S = Synced(int(Run.range(0)));
  std::vector<std::pair<TAddressItem*, std::string>> Changed;
  int I = 0;
  for (TListNode* N = S.Book.Items->Head; N && Changed.size() < 10; N = N->Next, ++I) {
    if (I % 97) continue;
    auto* Item = static_cast<TAddressItem*>(N);
    Changed.emplace_back(Item, Item->BusMobile.str());
    Item->BusMobile = "07700 000000";
  }
  for (auto _ : Run) RunOnce(Run, S, S.NoChanges, 10);
  for (auto& [Item, Mobile] : Changed) Item->BusMobile = Mobile;
}
BENCHMARK(BM_SyncTenChanged)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

size_t HeapBytes() { return mallinfo2().uordblks + EntryPool::LiveBytes(); }

// The heap taken by the state of 10,000 cards loaded, and with the engine
// and a plan of nothing to do alive, against the book of the same entries
// loaded from its file. (Resident memory says little here: the process
// reuses what the book freed.)
void BM_SyncStateMemory10000(benchmark::State& Run) {
  TSynced& S = Synced(10000);
  double BookMB = 0, StateMB = 0, SyncMB = 0;
  for (auto _ : Run) {
    size_t Before = HeapBytes();
    {
      TAddressBook Book;
      Book.LoadFromFile(S.Book.FileName);
      BookMB = double(HeapBytes() - Before) / 1e6;
    }
    Before = HeapBytes();
    TSyncState State;
    State.Load(S.StatePath);
    StateMB = double(HeapBytes() - Before) / 1e6;
    TSyncEngine Engine(std::move(State));
    Engine.Listing(S.NoChanges);
    TSyncPlan Plan = Engine.Plan(*S.Book.Items, TSyncOptions());
    SyncMB = double(HeapBytes() - Before) / 1e6;
    benchmark::DoNotOptimize(Plan.Summary);
  }
  // The first run: every entry goes as a new card, its text held till it is sent.
  double FirstMB = 0;
  {
    size_t Before = HeapBytes();
    TSyncEngine First{TSyncState()};
    First.Listing(TServerListing());
    TSyncPlan Plan = First.Plan(*S.Book.Items, TSyncOptions());
    FirstMB = double(HeapBytes() - Before) / 1e6;
  }
  Run.counters["first_run_plan_MB"] = FirstMB;
  Run.counters["book_MB"] = BookMB;
  Run.counters["state_MB"] = StateMB;
  Run.counters["state_engine_plan_MB"] = SyncMB;
  Run.counters["state_file_MB"] = double(std::filesystem::file_size(S.StatePath)) / 1e6;
}
BENCHMARK(BM_SyncStateMemory10000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
