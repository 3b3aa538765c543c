#include "ModemExchange.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>

#include "SerialDrv.h"

namespace {

int ModemPortValue = -1;

constexpr char CR = '\r';

}  // namespace

int ModemPort() { return ModemPortValue; }
void SetModemPort(int Port) { ModemPortValue = Port; }

void ConfigureModemPort(TSerialPortDriver& Port) {
  Port.SetPortName(QStringLiteral("\\\\.\\COM2"));
  Port.SetBaudRateValue(57600);
  Port.SetHwFlow(hfRTSCTS);
  Port.SetCheckLineStatus(true);
}

TModemExchange::TModemExchange(TSerialPortDriver& Port) : cp(Port) {}

bool TModemExchange::OpenModemPort(uint16_t N) {
  cp.SetPortName(QStringLiteral("\\\\.\\COM") + QString::number(N));
  return cp.OpenPort();
}

bool TModemExchange::WaitForText(std::string_view Expected, uint32_t TimeLimitMs) {
  cp.SetInputTimeout(TimeLimitMs);
  char Buffer[15];
  const uint32_t Count = cp.ReadBuffer(Buffer, sizeof Buffer);
  if (Count == 0) return false;
  return std::string_view(Buffer, Count).find(Expected) != std::string_view::npos;
}

bool TModemExchange::ProbePort(uint16_t N) {
  if (!OpenModemPort(N)) return false;
  const bool Found = cp.SendText("ATZ\r") && WaitForText("OK", ProbeTimeLimitMs);
  cp.ClosePort();
  return Found;
}

namespace {

// Watches the open port for bytes, so that the exchange can sleep between
// passes instead of spinning. A device that signals without giving bytes has
// hung up: it is not watched any more, and time runs out as for a silent modem.
class TPortWatch {
public:
  explicit TPortWatch(TSerialPortDriver& Port) : cp(Port) {
    if (cp.IsOpen()) {
      Notifier = std::make_unique<QSocketNotifier>(cp.Device().Handle(), QSocketNotifier::Read);
      QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this] { Signalled = true; });
    }
  }
  // Call after every read: Got is the count of bytes it gave.
  void AfterRead(uint32_t Got) {
    if (!Notifier) return;
    if (!cp.IsOpen() || (Signalled && Got == 0)) Notifier.reset();
    Signalled = false;
  }
  void Stop() { Notifier.reset(); }

private:
  TSerialPortDriver& cp;
  std::unique_ptr<QSocketNotifier> Notifier;
  bool Signalled = false;
};

}  // namespace

void TModemExchange::WaitForPortOrEvents(int64_t DeadlineMs) {
  // The elapsed clock is the caller's; DeadlineMs is what is left of it.
  if (DeadlineMs <= 0) return;
  QTimer Alarm;
  Alarm.setSingleShot(true);
  Alarm.start(int(std::min<int64_t>(DeadlineMs, 1 << 30)));
  // Returns after serving whatever woke it: a window event, the port's bytes or the alarm.
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TModemExchange::SendModemCommand(int Port, std::string_view Command, std::string& Reply) {
  if (CommandBusy) {
    // An exchange is already talking on the port further down the stack.
    CommandTimedOut = true;
    return;
  }
  if (OnBusy) OnBusy(true);
  CommandBusy = true;
  CommandTimedOut = false;
  if (CommandTimeout < 0) CommandTimeout = 10000;

  const std::string Line = "AT" + std::string(Command) + CR;
  const std::string_view Echo(Line.data(), Line.size() - 1);
  OpenModemPort(uint16_t(Port));
  // Every byte of the answer is the exchange's: the polling timer takes none.
  cp.PausePolling();
  cp.SendText(Line);

  TPortWatch Watch(cp);
  QElapsedTimer Clock;
  Clock.start();
  int State = 0;
  bool Done = false;
  bool Progress = true;
  char Buffer[512];
  while (!Done && Clock.elapsed() < CommandTimeout) {
    if (Progress) QCoreApplication::processEvents();
    else WaitForPortOrEvents(CommandTimeout - Clock.elapsed());
    Progress = false;

    uint32_t Got = 0;
    const uint32_t Waiting = cp.IsOpen() ? cp.InputCount() : 0;
    if (Waiting > 0 && cp.IsOpen()) {
      Got = cp.ReadBuffer(Buffer, std::min<uint32_t>(Waiting, sizeof Buffer));
      if (Got > 0) {
        Reply.append(Buffer, Got);
        Reply.erase(std::remove(Reply.begin(), Reply.end(), '\n'), Reply.end());
        if (Reply.size() > MaxReply) Reply.erase(0, Reply.size() - MaxReply);
        Progress = true;
      }
    }
    Watch.AfterRead(Got);

    const size_t End = Reply.find(CR);
    if (End == std::string::npos) continue;
    if (State == 0) {
      // Only the modem's echo of the line moves on; anything else waits for the time limit.
      if (std::string_view(Reply).substr(0, End) == Echo) {
        Reply.erase(0, End + 1);
        State = 1;
        Progress = true;
      }
    } else if (State == 1) {
      Reply.erase(0, End + 1);  // the blank line before the result
      State = 2;
      Progress = true;
    } else {
      Reply.erase(End);
      Done = true;
    }
  }
  CommandTimedOut = !Done;
  Watch.Stop();
  cp.ResumePolling();
  cp.ClosePort();
  CommandBusy = false;
  if (OnBusy) OnBusy(false);
}

void TModemExchange::WaitWhileBusy() {
  while (CommandBusy) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// ---------------------------------------------------------------------------
// Dial strings

std::string ResolveAlphabetChars(std::string_view Text) {
  static const char Keypad[] = "22233344455566677778889999";
  std::string Result;
  Result.reserve(Text.size());
  for (char C : Text) {
    if (C >= 'a' && C <= 'z') C = char(C - 'a' + 'A');
    if ((C >= '0' && C <= '9') || C == '*' || C == '#' || C == ',') Result += C;
    else if (C >= 'A' && C <= 'Z') Result += Keypad[C - 'A'];
  }
  return Result;
}

int PauseDuration(std::string_view Text) {
  const int64_t Commas = std::count(Text.begin(), Text.end(), ',');
  return int(std::min<int64_t>(4000 * Commas, INT32_MAX));
}

std::string BuildDialString(std::string_view ResolvedNumber, bool OutsideLine, std::string_view OutsideDigits,
                            std::string_view PauseText) {
  if (!OutsideLine) return std::string(ResolvedNumber);
  return ResolveAlphabetChars(OutsideDigits) + std::string(PauseText) + std::string(ResolvedNumber);
}

std::string DialCommand(bool Tone, std::string_view DialString) {
  return std::string(Tone ? "DT " : "DP ") + std::string(DialString) + ";";
}

int32_t DialCommandTimeout(bool Tone, std::string_view DialString) {
  int64_t Limit = Tone ? 10000 : 30000;
  Limit += PauseDuration(DialString);
  if (DialString.find_first_of(",Ww@") != std::string_view::npos) Limit += 5000;
  return int32_t(std::min<int64_t>(Limit, INT32_MAX));
}
