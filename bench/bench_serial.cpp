// CPU the serial driver costs while it waits: an open port polling a quiet
// line, and a read that waits out its quiet time. Reported as per cent of one
// core (process user + system time over wall time).

#include "SerialDrv.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace {

struct TPty {
  TPty() {
    char Name[128] = {};
    if (openpty(&Master, &Slave, Name, nullptr, nullptr) == 0) Path = Name;
  }
  ~TPty() {
    if (Master >= 0) close(Master);
    if (Slave >= 0) close(Slave);
  }
  int Master = -1, Slave = -1;
  std::string Path;
};

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

void IdleOpenPort(benchmark::State& State) {
  TPty Pty;
  TSerialPortDriver Port;
  Port.SetPortName(QString::fromStdString(Pty.Path));
  if (Pty.Path.empty() || !Port.OpenPort()) {
    State.SkipWithError("no pseudo-terminal");
    return;
  }
  double Cpu = 0, Wall = 0;
  for (auto _ : State) {
    const double C0 = CpuSeconds(), W0 = WallSeconds();
    QEventLoop Loop;
    QTimer::singleShot(int(State.range(0)), &Loop, &QEventLoop::quit);
    Loop.exec();
    Cpu += CpuSeconds() - C0;
    Wall += WallSeconds() - W0;
  }
  State.counters["cpu_percent"] = 100.0 * Cpu / Wall;
  State.counters["cpu_ms"] = Cpu * 1000.0;
}
BENCHMARK(IdleOpenPort)->Arg(3000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void QuietReadBuffer(benchmark::State& State) {
  TPty Pty;
  TSerialPortDriver Port;
  Port.SetPortName(QString::fromStdString(Pty.Path));
  Port.SetInputTimeout(uint32_t(State.range(0)));
  if (Pty.Path.empty() || !Port.OpenPort()) {
    State.SkipWithError("no pseudo-terminal");
    return;
  }
  double Cpu = 0, Wall = 0;
  char Buffer[15];
  for (auto _ : State) {
    const double C0 = CpuSeconds(), W0 = WallSeconds();
    benchmark::DoNotOptimize(Port.ReadBuffer(Buffer, sizeof Buffer));
    Cpu += CpuSeconds() - C0;
    Wall += WallSeconds() - W0;
  }
  State.counters["cpu_percent"] = 100.0 * Cpu / Wall;
  State.counters["cpu_ms"] = Cpu * 1000.0;
}
BENCHMARK(QuietReadBuffer)->Arg(2000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  int QtArgc = 1;
  char* QtArgv[] = {argv[0], nullptr};
  QCoreApplication App(QtArgc, QtArgv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
