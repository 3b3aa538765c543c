#include "TickCounter.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>

namespace {

class TSteadyTicks : public ITickCounter {
public:
  uint32_t Now() override { return GetTickCount32(); }
  void Pause(uint32_t Milliseconds) override {
    QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(Milliseconds));
    QThread::msleep(Milliseconds);
  }
};

TSteadyTicks RealTicks;
ITickCounter* Installed = nullptr;

}  // namespace

uint32_t GetTickCount32() {
  const auto Ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(Ms.count());
}

ITickCounter& TickCounter() { return Installed ? *Installed : RealTicks; }
void SetTickCounter(ITickCounter* Replacement) { Installed = Replacement; }
