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

class TModemExchange {
public:
  explicit TModemExchange(TSerialPortDriver& Port);
  TModemExchange(const TModemExchange&) = delete;
  TModemExchange& operator=(const TModemExchange&) = delete;

  // Opens "\\.\COM<N>".
  bool OpenModemPort(uint16_t N);
  // Reads up to 15 bytes, until TimeLimitMs of quiet; true when Expected
  // occurs among them. Serves no events meanwhile.
  bool WaitForText(std::string_view Expected, uint32_t TimeLimitMs);
  // True when a modem on COM<N> answers "ATZ" with "OK" within ProbeTimeLimitMs.
  bool ProbePort(uint16_t N);

  // Sends "AT" + Command + CR on COM<Port> and waits, serving window events,
  // for the echo, a blank line and a result line, at most CommandTimeout ms.
  // Reply (passed in empty) receives the result line, or what had arrived when
  // time ran out; CommandTimedOut tells which. Opens and closes the port.
  void SendModemCommand(int Port, std::string_view Command, std::string& Reply);
  // Serves window events while an exchange runs further down the stack.
  void WaitWhileBusy();

  bool CommandBusy = false;
  // Milliseconds; negative means 10000 at the next command.
  int32_t CommandTimeout = -1;
  bool CommandTimedOut = false;

  uint32_t ProbeTimeLimitMs = 2000;
  // Called with true as an exchange starts and false as it ends (the hourglass).
  std::function<void(bool Busy)> OnBusy;

  // The most of an answer kept: a babbling line cannot grow memory.
  static constexpr size_t MaxReply = 1024;

private:
  // Waits until the port has bytes, a window event arrives, or DeadlineMs
  // (on the exchange's clock) comes.
  void WaitForPortOrEvents(int64_t DeadlineMs);

  TSerialPortDriver& cp;
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
// How long the dial command may take: 10 s for tone and 30 s for pulse
// dialling, plus the commas' pauses, plus 5 s more when the string makes the
// modem pause or wait at all (",", "W" for a dial tone, "@" for quiet).
int32_t DialCommandTimeout(bool Tone, std::string_view DialString);
