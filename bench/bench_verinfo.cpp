// What reading the version texts adds to start-up: the program's own file,
// as the program start reads it (the target is under 2 ms).
#include <benchmark/benchmark.h>

#include "Verinfo.h"

static void BM_ReadVersionTexts(benchmark::State& State) {
  for (auto _ : State) {
    ReadVersionTexts(TOBRINEL_EXE);
    benchmark::DoNotOptimize(VersionText.data());
  }
  if (VersionText != "2.0.0.0") State.SkipWithError("the program file gave no version");
}
BENCHMARK(BM_ReadVersionTexts)->Unit(benchmark::kMicrosecond);

// A program file without the items (this benchmark itself).
static void BM_ReadVersionTextsOfAFileWithout(benchmark::State& State) {
  for (auto _ : State) {
    ReadVersionTexts("/proc/self/exe");
    benchmark::DoNotOptimize(CopyrightText.data());
  }
}
BENCHMARK(BM_ReadVersionTextsOfAFileWithout)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
