#pragma once

// Talking to the modem: the probe that finds it and the command exchange that
// every modem command goes through. Qt Core only, so it is tested without a
// display; the modem detection window owns one and shows its progress.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class TSerialPortDriver;

// The serial port number of the program's modem (1 for COM1), -1 when none is
// known. One value for the whole program: read from the settings by the main
// window, set by detection, cleared by a failed reset, read by every dial command.
int ModemPort();
void SetModemPort(int Port);

// The modem's line: 57600 bits per second, RTS/CTS, and no sending while no
// modem line is up. The port name is set before every open.
void ConfigureModemPort(TSerialPortDriver& Port);

// Why a command got no answer.
enum TCommandFailure : uint8_t {
  cfNone,             // answered
  cfNoAnswer,         // the modem stayed silent, or nothing could be sent to it
  cfPortUnavailable,  // the port could not be opened: PortError tells why
  cfPortLost,         // the device went away while the exchange waited
  cfCancelled,        // Cancel was called while the exchange waited
};

// Why a port could not be used, as the exchange found it.
struct TPortProblem {
  enum TKind : uint8_t { pkNone, pkGone, pkInUse, pkForbidden, pkOther };
  int Error = 0;       // errno; ENODEV for a device that went away
  std::string Device;  // the device node, links resolved
  std::string Group;   // the group that may use it, when the device says
  TKind Kind() const;
};

// What the person is told about a port they cannot use: COM<Port> missing,
// held by another program, or closed to their account.
std::string PortProblemText(int Port, const TPortProblem& Problem);

// Reads a modem's answer to one command line out of the bytes as they come.
// The answer counts with or without the modem's echo of the line: after the
// echo, the first line that is not an unsolicited one (RING, caller ID) is the
// result; before any echo only a final result code counts, and only
// tentatively, since a stray result may come just ahead of the echo.
class TAnswerReader {
public:
  explicit TAnswerReader(std::string_view Echo);
  // Line feeds are dropped; carriage returns end lines.
  void Add(std::string_view Bytes);
  // A result after the echo: the answer.
  bool Complete() const { return FComplete; }
  // A result without an echo before it: the answer unless the echo follows.
  bool Tentative() const { return !FComplete && !FResult.empty(); }
  const std::string& Result() const { return FResult; }
  // What came after the last whole line, at most MaxRest bytes.
  const std::string& Rest() const { return FRest; }

  static constexpr size_t MaxRest = 1024;

private:
  void TakeLine(std::string_view Line);

  std::string FEcho;
  std::string FRest;
  std::string FResult;
  bool FEchoSeen = false;
  bool FComplete = false;
};

// "OK", "ERROR", "BUSY", "NO CARRIER" and the other codes that end a command.
bool IsFinalResult(std::string_view Line);

class TModemExchange {
public:
  explicit TModemExchange(TSerialPortDriver& Port);
  TModemExchange(const TModemExchange&) = delete;
  TModemExchange& operator=(const TModemExchange&) = delete;

  // Opens "\\.\COM<N>"; on failure PortError tells why.
  bool OpenModemPort(uint16_t N);
  // Reads up to 15 bytes, until TimeLimitMs of quiet; true when Expected
  // occurs among them. Serves no events meanwhile.
  bool WaitForText(std::string_view Expected, uint32_t TimeLimitMs);
  // True when a modem on COM<N> answers "ATZ" with "OK" within ProbeTimeLimitMs.
  bool ProbePort(uint16_t N);

  // Sends "AT" + Command + CR on COM<Port> and waits, serving window events,
  // for the modem's result line, at most CommandTimeout ms. Reply (passed in
  // empty) receives the result line, or what had arrived when time ran out;
  // CommandTimedOut tells which, CommandFailure why. A port that cannot be
  // opened, or whose device goes away, ends the exchange at once. Opens and
  // closes the port.
  void SendModemCommand(int Port, std::string_view Command, std::string& Reply);
  // Serves window events while an exchange runs further down the stack.
  void WaitWhileBusy();
  // Ends the running exchange at once (cfCancelled); a modem that is dialling
  // is stopped by a carriage return.
  void Cancel();

  bool CommandBusy = false;
  // Milliseconds; negative means 10000 at the next command.
  int32_t CommandTimeout = -1;
  bool CommandTimedOut = false;
  TCommandFailure CommandFailure = cfNone;
  // Set when a port could not be opened or went away.
  TPortProblem PortError;

  uint32_t ProbeTimeLimitMs = 2000;
  // How long a result that came without an echo waits for an echo that would
  // show it to be a stray one. A modem echoes the line as it arrives, well
  // ahead of any result.
  uint32_t EchoGraceMs = 100;
  // How long a cancelled exchange waits for the modem to answer the carriage
  // return that stopped its dialling.
  uint32_t AbortWaitMs = 500;
  // Called with true as an exchange starts and false as it ends (the hourglass).
  std::function<void(bool Busy)> OnBusy;

  // The most of an unfinished answer kept: a babbling line cannot grow memory.
  static constexpr size_t MaxReply = TAnswerReader::MaxRest;

private:
  // Waits until the port has bytes, a window event arrives, or DeadlineMs
  // (on the exchange's clock) comes.
  void WaitForPortOrEvents(int64_t DeadlineMs);
  void NotePortProblem(int Error);

  TSerialPortDriver& cp;
  bool FCancel = false;
};

// The dial form of a number: letters become their keypad digits (ABC 2 ...
// WXYZ 9), digits, "*", "#" and "," stay, everything else is dropped.
std::string ResolveAlphabetChars(std::string_view Text);
// 4000 ms for every "," in Text.
int PauseDuration(std::string_view Text);
// The resolved outside-line digits and the pause text as typed go before the
// number when an outside line is wanted.
std::string BuildDialString(std::string_view ResolvedNumber, bool OutsideLine, std::string_view OutsideDigits,
                            std::string_view PauseText);
// The dial command: "D", "T" or "P", a space, the dial string and ";".
std::string DialCommand(bool Tone, std::string_view DialString);
// What the person is told when the dial command is answered with Result:
// empty when the number was dialled.
std::string DialResultText(std::string_view Result, std::string_view DialString);
// How long the dial command may take: 10 s for tone and 30 s for pulse
// dialling, plus the commas' pauses, plus 5 s more when the string makes the
// modem pause or wait at all (",", "W" for a dial tone, "@" for quiet).
int32_t DialCommandTimeout(bool Tone, std::string_view DialString);
