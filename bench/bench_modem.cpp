// Modem detection and the command exchange against simulated modems, offscreen:
// a scan of nine port numbers with nothing behind them, the CPU an exchange
// costs while it waits for an answer that never comes (per cent of one core:
// process user + system time over wall time), and how long speaker, hang-up
// and reset exchanges take with a modem that answers at once.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QListWidget>
#include <QTimer>

#include <sys/resource.h>

#include <chrono>
#include <string>

#include "FakePlatform.h"
#include "MDetect.h"
#include "ModemExchange.h"
#include "SerialDrv.h"
#include "SimModem.h"

namespace {

double CpuSeconds() {
  rusage U{};
  getrusage(RUSAGE_SELF, &U);
  auto S = [](const timeval& T) { return double(T.tv_sec) + double(T.tv_usec) / 1e6; };
  return S(U.ru_utime) + S(U.ru_stime);
}

double WallSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void DetectNothingOnNinePorts(benchmark::State& State) {
  TFakePlatform Platform;  // ports/ beside the fake program is empty; no other port exists
  TfrmMODEMDetect Detect;
  Detect.tmrTimer->blockSignals(true);  // the run is started here, not by showing
  Detect.show();
  QApplication::processEvents();
  for (auto _ : State) {
    // Each run ends by closing the window; a closed one would not scan.
    if (!Detect.isVisible()) {
      State.PauseTiming();
      Detect.show();
      QApplication::processEvents();
      State.ResumeTiming();
    }
    SetModemPort(-1);
    Detect.tmrTimerTimer();
    if (Detect.lstMODEMS->count() != 0) State.SkipWithError("a port answered");
  }
  State.counters["boxes"] = double(Platform.Prompter.Boxes.size()) / double(State.iterations());
}
BENCHMARK(DetectNothingOnNinePorts)->Unit(benchmark::kMillisecond)->UseRealTime();

// One exchange that runs out of time; Arg: the modem echoes (an unanswered
// dial) or stays quiet altogether (an idle wait).
void UnansweredExchangeCpu(benchmark::State& State) {
  TFakePlatform Platform;
  TSimModem Modem;
  if (!Modem.IsValid() || !Modem.LinkAsPort(Platform.Folder.path().toStdString(), 3)) {
    State.SkipWithError("no pseudo-terminal");
    return;
  }
  Modem.SetEcho(State.range(0) != 0);
  Modem.SetReply(TSimModem::TReply::Silent);
  TSerialPortDriver Port;
  ConfigureModemPort(Port);
  TModemExchange Exchange(Port);
  const std::string Command = DialCommand(true, "123");
  double Cpu = 0, Wall = 0;
  for (auto _ : State) {
    Exchange.CommandTimeout = State.range(0) ? DialCommandTimeout(true, "123") : 3000;
    std::string Reply;
    const double C0 = CpuSeconds(), W0 = WallSeconds();
    Exchange.SendModemCommand(3, Command, Reply);
    Cpu += CpuSeconds() - C0;
    Wall += WallSeconds() - W0;
    if (!Exchange.CommandTimedOut) State.SkipWithError("answered");
  }
  State.counters["cpu_percent"] = 100.0 * Cpu / Wall;
  State.counters["cpu_ms"] = Cpu * 1000.0;
}
BENCHMARK(UnansweredExchangeCpu)
    ->ArgName("echo")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A whole exchange, open to close, with a modem that answers at once: its time
// is what the exchange adds to the modem's own. Without the echo a result
// waits EchoGraceMs for an echo that would show it to be a stray one.
void AnsweredExchange(benchmark::State& State, const char* Command, bool Echo) {
  TFakePlatform Platform;
  TSimModem Modem;
  if (!Modem.IsValid() || !Modem.LinkAsPort(Platform.Folder.path().toStdString(), 3)) {
    State.SkipWithError("no pseudo-terminal");
    return;
  }
  Modem.SetEcho(Echo);
  TSerialPortDriver Port;
  ConfigureModemPort(Port);
  TModemExchange Exchange(Port);
  for (auto _ : State) {
    std::string Reply;
    Exchange.SendModemCommand(3, Command, Reply);
    if (Exchange.CommandTimedOut || Reply != "OK") State.SkipWithError("no answer");
  }
}
BENCHMARK_CAPTURE(AnsweredExchange, speaker, "M1", true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(AnsweredExchange, hangup, "H", true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(AnsweredExchange, reset, "Z", true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(AnsweredExchange, speaker_no_echo, "M1", false)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  int QtArgc = 1;
  char* QtArgv[] = {argv[0], nullptr};
  QApplication App(QtArgc, QtArgv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
