// Side by side with abook, Debian's terminal address book: both programs as
// whole processes on the same 100,000 generated contacts, run in pairs that
// alternate which goes first. Counters: the medians of each program's CPU
// time (user + system) and the median of the pairs' ratios (Tobrinel /
// abook), which holds on a loaded machine where wall times do not. Also the
// CPU and peak memory of `dump` at 100,000 and 1,000,000 entries against the
// size of the book's file.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "BenchProcess.h"

namespace {

const char* const Abook = "/usr/bin/abook";

struct TTempFolder {
  TTempFolder() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "tobrinel-bench-abook-XXXXXX").string();
    Path = ::mkdtemp(Pattern.data());
  }
  ~TTempFolder() { std::filesystem::remove_all(Path); }
  std::string Path;
};

std::string TempPath(const std::string& Name) {
  static TTempFolder Dir;
  return Dir.Path + "/" + Name;
}

const char* const Surnames[] = {"Smith",
                                "Jones",
                                "Williams",
                                "Taylor",
                                "Brown",
                                "Davies",
                                "Evans",
                                "Wilson",
                                "Thomas",
                                "Johnson",
                                "Roberts",
                                "Robinson",
                                "Thompson",
                                "Wright",
                                "Walker",
                                "White",
                                "Edwards",
                                "Hughes",
                                "Green",
                                "Hall",
                                "Lewis",
                                "Harris",
                                "Clarke",
                                "Patel",
                                "Jackson",
                                "Wood",
                                "Turner",
                                "Martin",
                                "Cooper",
                                "Hill",
                                "M\xC3\xBCller",
                                "O'Neill",
                                "\xC3\x85kesson",
                                "Garc\xC3\xAD"
                                "a",
                                "Nguyen",
                                "Kowalski"};
const char* const FirstNames[] = {"Oliver",
                                  "Amelia",
                                  "George",
                                  "Isla",
                                  "Harry",
                                  "Ava",
                                  "Noah",
                                  "Mia",
                                  "Jack",
                                  "Ivy",
                                  "Leo",
                                  "Lily",
                                  "Arthur",
                                  "Zo\xC3\xAB",
                                  "Oscar",
                                  "Sophia",
                                  "Ren\xC3\xA9"
                                  "e",
                                  "Luca",
                                  "Freya",
                                  "Theo"};
const char* const Towns[] = {"Little Hadham",  "Bishop's Stortford", "Much Wenlock",
                             "Saffron Walden", "Market Harborough",  "Chipping Norton"};

struct TContact {
  std::string Surname, FirstName, Home, Work, Mobile, Street, Town, Note;
};

// Names, two or three numbers, a two-line address and a note line, in no
// particular order.
std::vector<TContact> Contacts(int Count) {
  std::mt19937 Random(2026);
  auto Number = [&] {
    return "0" + std::to_string(1000 + Random() % 9000) + " " + std::to_string(100000 + Random() % 900000);
  };
  std::vector<TContact> Out(static_cast<size_t>(Count));
  for (TContact& C : Out) {
    C.Surname = Surnames[Random() % std::size(Surnames)];
    if (Random() % 4 == 0) C.Surname += std::string("-") + Surnames[Random() % std::size(Surnames)];
    C.FirstName = FirstNames[Random() % std::size(FirstNames)];
    C.Home = Number();
    C.Work = Number();
    if (Random() % 2) C.Mobile = "07" + std::to_string(700000000 + Random() % 99999999);
    C.Street = std::to_string(1 + Random() % 200) + " Station Road";
    C.Town = Towns[Random() % std::size(Towns)];
    C.Note = "Met at the spring fair in " + std::to_string(1990 + Random() % 35) + ", calls after six";
  }
  return Out;
}

std::string Json(const std::string& Text) {
  std::string Out = "\"";
  for (char C : Text) {
    if (C == '"' || C == '\\') Out += '\\';
    Out += C;
  }
  return Out + "\"";
}

std::string TempPath(const std::string& Name);

// A process started straight from this one would count this one's memory
// (the address space it starts from) in its peak: the peak comes from
// /usr/bin/time, a small process in between. Its own CPU is a millisecond.
TProcessRun Run(std::vector<std::string> Words, const std::string& Out = "/dev/null") {
  const std::string PeakFile = TempPath("peak");
  const bool Timed = ::access("/usr/bin/time", X_OK) == 0;
  if (Timed) Words.insert(Words.begin(), {"/usr/bin/time", "-f", "%M", "-o", PeakFile});
  std::vector<const char*> Argv;
  for (const std::string& Word : Words) Argv.push_back(Word.c_str());
  Argv.push_back(nullptr);
  TProcessRun R = RunProcess(Argv.data(), 1, Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
  if (Timed) {
    R.PeakKb = 0;
    std::ifstream(PeakFile) >> R.PeakKb;
  }
  return R;
}

// The book of Count contacts written by each program: Tobrinel's through
// `create`, abook's in its own file format.
struct TBooks {
  std::string Tobrinel, Abook;
};

const TBooks& BooksOf(int Count) {
  static std::vector<std::pair<int, TBooks>> Made;
  for (auto& [N, Books] : Made)
    if (N == Count) return Books;
  const std::string Name = "book" + std::to_string(Count);
  TBooks Books{TempPath(Name + ".ABK"), TempPath(Name + ".abook")};
  const std::vector<TContact> All = Contacts(Count);
  {
    std::ofstream Lines(TempPath(Name + ".jsonl"), std::ios::binary);
    std::ofstream Native(Books.Abook, std::ios::binary);
    Native << "# abook addressbook file\n\n[format]\nprogram=abook\nversion=0.6.1\n\n";
    int Index = 0;
    for (const TContact& C : All) {
      Lines << "{\"Surname\":" << Json(C.Surname) << ",\"FirstName\":" << Json(C.FirstName)
            << ",\"HomeTelephone\":" << Json(C.Home) << ",\"BusTelephone\":" << Json(C.Work)
            << ",\"BusExtn\":\"\",\"BusFacsimile\":\"\",\"BusMobile\":" << Json(C.Mobile) << ",\"HomeAddress\":["
            << Json(C.Street) << "," << Json(C.Town) << "],\"BusAddress\":[],\"Notes\":[" << Json(C.Note)
            << "],\"TabPage\":0}\n";
      Native << "\n[" << Index++ << "]\nname=" << C.FirstName << " " << C.Surname << "\nphone=" << C.Home
             << "\nworkphone=" << C.Work << "\n";
      if (!C.Mobile.empty()) Native << "mobile=" << C.Mobile << "\n";
      Native << "address=" << C.Street << "\ncity=" << C.Town << "\nnotes=" << C.Note << "\n";
    }
  }
  const std::string Create =
      "'" + std::string(TOBRINEL_BOOK_TOOL) + "' create '" + Books.Tobrinel + "' < '" + TempPath(Name + ".jsonl") + "'";
  if (std::system(Create.c_str()) != 0) std::fprintf(stderr, "could not create %s\n", Books.Tobrinel.c_str());
  Made.emplace_back(Count, Books);
  return Made.back().second;
}

// The inputs of the imports, made once from the 100,000-entry books.
enum EInput { SortedCards, AbookCards, TobrinelCsv, AbookCsv };
const std::string& Input(EInput Kind) {
  static std::string Paths[4];
  std::string& Path = Paths[Kind];
  if (!Path.empty()) return Path;
  const TBooks& Books = BooksOf(100000);
  if (Kind == SortedCards) {
    Path = TempPath("sorted.vcf");
    Run({TOBRINEL_BOOK_TOOL, "export", "--format", "vcard", Books.Tobrinel, Path});
  } else if (Kind == AbookCards) {
    Path = TempPath("abook.vcf");
    Run({Abook, "--convert", "--informat", "abook", "--infile", Books.Abook, "--outformat", "vcard", "--outfile",
         Path});
  } else if (Kind == AbookCsv) {
    Path = TempPath("abook.csv");
    Run({Abook, "--convert", "--informat", "abook", "--infile", Books.Abook, "--outformat", "csv", "--outfile", Path});
  } else {
    Path = TempPath("tobrinel.csv");
    Run({TOBRINEL_BOOK_TOOL, "export", "--format", "csv", Books.Tobrinel, Path});
  }
  return Path;
}

double Median(std::vector<double> Values) {
  if (Values.empty()) return 0;
  std::sort(Values.begin(), Values.end());
  const size_t N = Values.size();
  return N % 2 ? Values[N / 2] : (Values[N / 2 - 1] + Values[N / 2]) / 2;
}

double LoadAverage() {
  double Load = 0;
  if (FILE* F = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(F, "%lf", &Load) != 1) Load = 0;
    std::fclose(F);
  }
  return Load;
}

// One row of the comparison: Ours and Theirs are whole commands, Out where
// their standard output goes; Before runs ahead of each (untimed).
struct TCommand {
  std::vector<std::string> Words;
  std::string Out = "/dev/null";
  std::vector<std::string> Remove;  // files a run must not find
};

void Paired(benchmark::State& State, const TCommand& Ours, const TCommand& Theirs) {
  if (::access(Abook, X_OK) != 0) {
    State.SkipWithError("abook is not installed");
    return;
  }
  std::vector<double> OurCpu, TheirCpu, Ratios;
  long OurPeak = 0;
  const double Load = LoadAverage();
  int Pair = 0;
  for (auto _ : State) {
    double Cpu[2] = {0, 0};
    for (int Turn = 0; Turn < 2; ++Turn) {
      const int Which = (Turn + Pair) % 2;  // who goes first alternates
      const TCommand& Command = Which == 0 ? Ours : Theirs;
      for (const std::string& File : Command.Remove) std::filesystem::remove(File);
      const TProcessRun R = Run(Command.Words, Command.Out);
      if (!R.Started || R.Status != 0) State.SkipWithError(Which == 0 ? "tobrinel-book failed" : "abook failed");
      Cpu[Which] = R.CpuMs;
      if (Which == 0) OurPeak = std::max(OurPeak, R.PeakKb);
    }
    ++Pair;
    OurCpu.push_back(Cpu[0]);
    TheirCpu.push_back(Cpu[1]);
    Ratios.push_back(Cpu[1] > 0 ? Cpu[0] / Cpu[1] : 0);
  }
  State.counters["tobrinel_cpu_ms"] = Median(OurCpu);
  State.counters["abook_cpu_ms"] = Median(TheirCpu);
  State.counters["ratio"] = Median(Ratios);
  State.counters["tobrinel_peak_MB"] = double(OurPeak) / 1024;
  State.counters["load"] = Load;
}

// abook will not write over a file.
TCommand AbookConvert(const char* From, const std::string& In, const char* To, const std::string& Out) {
  return {{Abook, "--convert", "--informat", From, "--infile", In, "--outformat", To, "--outfile", Out},
          "/dev/null",
          {Out}};
}

// Reading the book and writing each entry out: JSON lines against abook's CSV.
void BM_AbookDump(benchmark::State& State) {
  const TBooks& B = BooksOf(100000);
  Paired(State, {{TOBRINEL_BOOK_TOOL, "dump", B.Tobrinel}, TempPath("ours.jsonl"), {}},
         AbookConvert("abook", B.Abook, "csv", TempPath("theirs.csv")));
}

// Each writes a new file: abook will not write over one, and replacing a file
// costs the system the freeing of the old one's pages.
void Export(benchmark::State& State, const char* Ours, const char* Theirs, const char* Ext) {
  const TBooks& B = BooksOf(100000);
  const std::string Out = TempPath(std::string("ours.") + Ext);
  Paired(State, {{TOBRINEL_BOOK_TOOL, "export", "--format", Ours, B.Tobrinel, Out}, "/dev/null", {Out}},
         AbookConvert("abook", B.Abook, Theirs, TempPath(std::string("theirs.") + Ext)));
}
void BM_AbookExportVCard(benchmark::State& State) { Export(State, "vcard", "vcard", "vcf"); }
void BM_AbookExportCsv(benchmark::State& State) { Export(State, "csv", "csv", "csv"); }

// Both read the same file into a new book of their own.
void Import(benchmark::State& State, EInput Kind, const char* Ours, const char* Theirs, EInput TheirKind) {
  const std::string& In = Input(Kind);
  const std::string& TheirIn = Input(TheirKind);
  const std::string Book = TempPath("imported.ABK");
  Paired(State,
         {{TOBRINEL_BOOK_TOOL, "import", "--format", Ours, Book, In}, "/dev/null", {Book, TempPath("imported.~abk")}},
         AbookConvert(Theirs, TheirIn, "abook", TempPath("imported.abook")));
}
// Cards in name order, as Tobrinel writes them.
void BM_AbookImportSortedVCard(benchmark::State& State) { Import(State, SortedCards, "vcard", "vcard", SortedCards); }
// Cards in the order of abook's book, as abook writes them.
void BM_AbookImportShuffledVCard(benchmark::State& State) { Import(State, AbookCards, "vcard", "vcard", AbookCards); }
// 0: both read Tobrinel's CSV export (abook takes its first five columns);
// 1: each reads its own CSV export of the same contacts (abook's has five
// columns and no header, so it reads less).
void BM_AbookImportCsv(benchmark::State& State) {
  Import(State, TobrinelCsv, "csv", "csv", State.range(0) ? AbookCsv : TobrinelCsv);
}

BENCHMARK(BM_AbookDump)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AbookExportVCard)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AbookImportSortedVCard)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AbookImportShuffledVCard)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AbookExportCsv)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AbookImportCsv)->Arg(0)->Arg(1)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();

// `dump` alone, at 100,000 and 1,000,000 entries: CPU, and peak memory against
// the size of the file.
void BM_DumpCpuAndMemory(benchmark::State& State) {
  const TBooks& B = BooksOf(int(State.range(0)));
  std::vector<double> Cpu;
  long Peak = 0;
  for (auto _ : State) {
    const TProcessRun R = Run({TOBRINEL_BOOK_TOOL, "dump", B.Tobrinel}, TempPath("dump.jsonl"));
    if (!R.Started || R.Status != 0) State.SkipWithError("dump failed");
    Cpu.push_back(R.CpuMs);
    Peak = std::max(Peak, R.PeakKb);
  }
  const double FileMB = double(std::filesystem::file_size(B.Tobrinel)) / (1 << 20);
  State.counters["cpu_ms"] = Median(Cpu);
  State.counters["peak_MB"] = double(Peak) / 1024;
  State.counters["file_MB"] = FileMB;
  State.counters["peak_per_file"] = double(Peak) / 1024 / FileMB;
  State.counters["load"] = LoadAverage();
}
BENCHMARK(BM_DumpCpuAndMemory)->Arg(100000)->Arg(1000000)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
