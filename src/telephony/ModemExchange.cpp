#include "ModemExchange.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <grp.h>
#include <sys/stat.h>

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

// ---------------------------------------------------------------------------
// Ports that cannot be used

namespace {

// The node behind a port's name, and the group that may use it when its
// permissions give that group reading and writing.
TPortProblem DescribePort(const std::string& Path, int Error) {
  TPortProblem Problem;
  Problem.Error = Error;
  Problem.Device = Path;
  if (Path.empty()) return Problem;
  if (char* Real = ::realpath(Path.c_str(), nullptr)) {
    Problem.Device = Real;
    std::free(Real);
  }
  struct stat Node {};
  if (::stat(Problem.Device.c_str(), &Node) == 0 && (Node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
    if (const group* Group = ::getgrgid(Node.st_gid)) Problem.Group = Group->gr_name;
  return Problem;
}

}  // namespace

TPortProblem::TKind TPortProblem::Kind() const {
  switch (Error) {
    case 0:
      return pkNone;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
      return pkGone;
    // The driver's lock (another copy of this program), or a program's exclusive open.
    case EWOULDBLOCK:
    case EBUSY:
      return pkInUse;
    case EACCES:
    case EPERM:
      return pkForbidden;
    default:
      return pkOther;
  }
}

std::string PortProblemText(int Port, const TPortProblem& Problem) {
  const std::string Name = "COM" + std::to_string(Port);
  switch (Problem.Kind()) {
    case TPortProblem::pkNone:
      return {};
    case TPortProblem::pkGone:
      return "The MODEM on " + Name + " is no longer connected.";
    case TPortProblem::pkInUse:
      return Name + " is in use by another program.";
    case TPortProblem::pkForbidden: {
      const std::string Group = Problem.Group.empty() || Problem.Group == "root" ? "dialout" : Problem.Group;
      return "You may not use " + (Problem.Device.empty() ? Name : Problem.Device) + ": add your account to the " +
             Group + " group.";
    }
    case TPortProblem::pkOther:
      break;
  }
  return Name + " cannot be used: " + std::strerror(Problem.Error) + ".";
}

// ---------------------------------------------------------------------------
// Reading an answer

namespace {

bool StartsWith(std::string_view Text, std::string_view Prefix) { return Text.substr(0, Prefix.size()) == Prefix; }

// Lines a modem sends of its own accord: an incoming call and its caller ID.
bool IsUnsolicited(std::string_view Line) {
  return Line == "RING" || Line == "RINGING" || Line == "RRING" || StartsWith(Line, "+CRING") ||
         StartsWith(Line, "+CLIP") || Line.find('=') != std::string_view::npos;
}

std::string_view TrimmedLine(std::string_view Line) {
  while (!Line.empty() && Line.front() == ' ') Line.remove_prefix(1);
  while (!Line.empty() && Line.back() == ' ') Line.remove_suffix(1);
  return Line;
}

}  // namespace

bool IsFinalResult(std::string_view Line) {
  for (std::string_view Code : {"OK", "ERROR", "BUSY", "NO CARRIER", "NO DIALTONE", "NO DIAL TONE", "NO ANSWER",
                                "CONNECT", "DELAYED", "BLACKLISTED"})
    if (Line == Code) return true;
  return StartsWith(Line, "CONNECT ") || StartsWith(Line, "+CME ERROR") || StartsWith(Line, "+CMS ERROR");
}

TAnswerReader::TAnswerReader(std::string_view Echo) : FEcho(Echo) {}

void TAnswerReader::Add(std::string_view Bytes) {
  for (const char C : Bytes) {
    if (FComplete) return;
    if (C == '\n') continue;
    if (C == CR) {
      TakeLine(FRest);
      FRest.clear();
    } else {
      FRest += C;
    }
  }
  if (FRest.size() > MaxRest) FRest.erase(0, FRest.size() - MaxRest);
}

void TAnswerReader::TakeLine(std::string_view Raw) {
  if (Raw == FEcho) {
    // Whatever result came before the echo was a stray one.
    FEchoSeen = true;
    FResult.clear();
    return;
  }
  const std::string_view Line = TrimmedLine(Raw);
  if (Line.empty() || IsUnsolicited(Line)) return;
  if (FEchoSeen) {
    FResult = Line;
    FComplete = true;
  } else if (IsFinalResult(Line)) {
    FResult = Line;
  }
}

// ---------------------------------------------------------------------------
// The exchange

TModemExchange::TModemExchange(TSerialPortDriver& Port) : cp(Port) {}

void TModemExchange::NotePortProblem(int Error) {
  PortError = DescribePort(TSerialPortDriver::DevicePath(cp.PortName()), Error);
}

bool TModemExchange::OpenModemPort(uint16_t N) {
  cp.SetPortName(QStringLiteral("\\\\.\\COM") + QString::number(N));
  if (cp.OpenPort()) return true;
  NotePortProblem(cp.OpenError());
  return false;
}

bool TModemExchange::WaitForText(std::string_view Expected, uint32_t TimeLimitMs) {
  cp.SetInputTimeout(TimeLimitMs);
  char Buffer[15];
  const uint32_t Count = cp.ReadBuffer(Buffer, sizeof Buffer);
  if (Count == 0) return false;
  return std::string_view(Buffer, Count).find(Expected) != std::string_view::npos;
}

bool TModemExchange::ProbePort(uint16_t N) {
  PortError = {};
  if (!OpenModemPort(N)) return false;
  const bool Found = cp.SendText("ATZ\r") && WaitForText("OK", ProbeTimeLimitMs);
  cp.ClosePort();
  return Found;
}

namespace {

// Watches the open port for bytes, so that the exchange can sleep between
// passes instead of spinning. A device that signals without giving bytes and
// is still there is not watched any more: time runs out as for a silent modem.
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
    if (Signalled && Got == 0) cp.CheckDevice();
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

void TModemExchange::Cancel() {
  if (CommandBusy) FCancel = true;
}

void TModemExchange::SendModemCommand(int Port, std::string_view Command, std::string& Reply) {
  if (CommandBusy) {
    // An exchange is already talking on the port further down the stack.
    CommandTimedOut = true;
    CommandFailure = cfNoAnswer;
    return;
  }
  if (OnBusy) OnBusy(true);
  CommandBusy = true;
  CommandTimedOut = false;
  CommandFailure = cfNone;
  PortError = {};
  FCancel = false;
  if (CommandTimeout < 0) CommandTimeout = 10000;

  const std::string Line = "AT" + std::string(Command) + CR;
  TAnswerReader Answer(std::string_view(Line.data(), Line.size() - 1));
  bool Done = false;
  if (!OpenModemPort(uint16_t(Port))) {
    // Nothing can come back: waiting would only keep the person waiting.
    CommandFailure = cfPortUnavailable;
  } else {
    // Every byte of the answer is the exchange's: the polling timer takes none.
    cp.PausePolling();
    if (!cp.SendText(Line)) CommandFailure = cp.IsOpen() ? cfNoAnswer : cfPortLost;

    TPortWatch Watch(cp);
    QElapsedTimer Clock;
    Clock.start();
    // After a cancel: the modem's answer to the carriage return that stopped
    // its dialling, so that the next command finds it ready.
    TAnswerReader Abort("");
    int64_t AbortBy = -1;
    int64_t TentativeSince = -1;
    bool Progress = true;
    char Buffer[512];
    for (;;) {
      const int64_t Now = Clock.elapsed();
      int64_t Deadline = CommandTimeout;
      if (AbortBy >= 0) {
        if (Abort.Complete() || Abort.Tentative() || Now >= AbortBy || !cp.IsOpen()) break;
        Deadline = AbortBy;
      } else {
        if (CommandFailure != cfNone || Done) break;
        if (TentativeSince >= 0 && (Now - TentativeSince >= int64_t(EchoGraceMs) || Now >= CommandTimeout)) {
          Done = true;  // no echo followed: this modem does not echo
          break;
        }
        if (Now >= CommandTimeout) break;
        if (TentativeSince >= 0) Deadline = std::min<int64_t>(Deadline, TentativeSince + int64_t(EchoGraceMs));
      }
      if (Progress) QCoreApplication::processEvents();
      else WaitForPortOrEvents(Deadline - Now);
      Progress = false;
      if (FCancel && AbortBy < 0) {
        CommandFailure = cfCancelled;
        AbortBy = Clock.elapsed() + AbortWaitMs;
        cp.SendText("\r");  // any character stops a modem that is dialling
        continue;
      }

      uint32_t Got = 0;
      const uint32_t Waiting = cp.IsOpen() ? cp.InputCount() : 0;
      if (Waiting > 0 && cp.IsOpen()) {
        Got = cp.ReadBuffer(Buffer, std::min<uint32_t>(Waiting, sizeof Buffer));
        if (Got > 0 && AbortBy >= 0) {
          Abort.Add(std::string_view(Buffer, Got));
        } else if (Got > 0) {
          const bool WasTentative = Answer.Tentative();
          const std::string Before = Answer.Result();
          Answer.Add(std::string_view(Buffer, Got));
          if (!Answer.Tentative()) TentativeSince = -1;
          else if (!WasTentative || Answer.Result() != Before) TentativeSince = Clock.elapsed();
        }
        Progress = Got > 0;
      }
      Watch.AfterRead(Got);
      if (AbortBy >= 0) continue;
      if (!cp.IsOpen()) CommandFailure = cfPortLost;
      Done = Answer.Complete();
    }
    Watch.Stop();
    cp.ResumePolling();
    if (CommandFailure == cfPortLost) NotePortProblem(ENODEV);
  }
  if (Done) {
    Reply = Answer.Result();
  } else {
    Reply.append(Answer.Rest());
    if (Reply.size() > MaxReply) Reply.erase(0, Reply.size() - MaxReply);
    if (CommandFailure == cfNone) CommandFailure = cfNoAnswer;
  }
  CommandTimedOut = !Done;
  FCancel = false;
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

std::string DialResultText(std::string_view Result, std::string_view DialString) {
  if (Result == "BUSY") return "The line is busy.";
  if (Result == "NO DIALTONE" || Result == "NO DIAL TONE")
    return "There is no dial tone. Check that the telephone line is connected to the MODEM.";
  if (Result == "NO ANSWER" || Result == "NO CARRIER") return "There was no answer.";
  if (Result == "ERROR" || Result == "DELAYED" || Result == "BLACKLISTED" || StartsWith(Result, "+CME ERROR") ||
      StartsWith(Result, "+CMS ERROR"))
    return DialString.empty() ? std::string("The MODEM refused the number.")
                              : "The MODEM refused the number " + std::string(DialString) + ".";
  return {};
}

int32_t DialCommandTimeout(bool Tone, std::string_view DialString) {
  int64_t Limit = Tone ? 10000 : 30000;
  Limit += PauseDuration(DialString);
  if (DialString.find_first_of(",Ww@") != std::string_view::npos) Limit += 5000;
  return int32_t(std::min<int64_t>(Limit, INT32_MAX));
}
