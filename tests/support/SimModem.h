#pragma once

// A Hayes-type modem on the master side of a pseudo-terminal, for tests of
// the serial driver, modem detection and dialling.
//
// It runs on a std::thread of its own, so that it answers while the test's
// thread is blocked in a read that pumps no events (as a modem probe is).
// Every member may be called from the test's thread at any time.
//
// Behaviour: each byte received is echoed at once (unless echo is off); a
// carriage return ends a line (line feeds are ignored); every line is
// recorded; a line starting with "AT" (either case) is answered with the
// result text framed as CR LF text CR LF. Tests can give single commands
// another result (BUSY to a dial), put an unsolicited line ahead of the next
// echo (RING), switch the echo off, or pull the device out.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class TSimModem {
public:
  enum class TReply { Ok, Error, Silent };

  TSimModem();
  ~TSimModem();
  TSimModem(const TSimModem&) = delete;
  TSimModem& operator=(const TSimModem&) = delete;

  // False when no pseudo-terminal could be had.
  bool IsValid() const { return Valid; }
  // The device the program opens, such as /dev/pts/3.
  std::string SlavePath() const { return Slave; }
  // A descriptor of the slave held open by the modem: its line settings are
  // the ones the driver applied (tcgetattr), and the line stays up between
  // the driver's opens.
  int SlaveFd() const { return SlaveHandle; }
  // Makes Folder/ports/COM<N> a link to the slave, as a user links a real port.
  // Once the line is dropped or the modem gone, the link names a device that
  // never exists: the kernel gives the slave's number to the next pseudo-terminal
  // opened, maybe another test's modem.
  bool LinkAsPort(const std::string& Folder, int N);

  void SetReply(TReply Reply);
  // Lines starting with Prefix are answered with Text instead ("BUSY", "NO
  // DIALTONE"); an empty Text leaves them unanswered. The latest prefix given
  // that fits counts.
  void SetReplyTo(std::string_view Prefix, std::string_view Text);
  // Puts Bytes on the line as the next command line starts to arrive, ahead of
  // its echo and result, as an incoming call's RING would come.
  void Interject(std::string_view Bytes);
  void SetEcho(bool On);
  // Answers slowly: the result follows DelayMs after the command line, and
  // its bytes GapMs apart.
  void SetReplyDelay(int DelayMs, int GapMs = 0);
  // While off, the modem takes nothing from the line, so the sender's side fills up.
  void SetListening(bool On);
  // Puts bytes on the line, after DelayMs.
  void Send(std::string_view Bytes, int DelayMs = 0);
  // Closes the master side: the device vanishes under whoever has it open.
  void DropLine();

  // Every line received, without its carriage return.
  std::vector<std::string> Lines() const;
  // Every byte received.
  std::string Received() const;
  void ClearRecords();
  // Waits until at least Count lines were received; false when time ran out.
  bool WaitForLines(size_t Count, int TimeoutMs) const;

private:
  using TClock = std::chrono::steady_clock;
  struct TChunk {
    TClock::time_point Due;
    std::string Bytes;
  };

  void Run();
  void Wake();
  void TakeInput();
  void HandleLine(const std::string& Line, TClock::time_point Now);
  void WriteDue();
  void Unlink();

  bool Valid = false;
  int Master = -1;
  int SlaveHandle = -1;
  int WakeFd = -1;
  std::string Slave;
  std::vector<std::string> Links;  // by LinkAsPort, before any DropLine

  mutable std::mutex Lock;
  mutable std::condition_variable Changed;
  bool Stopping = false;
  bool DropRequested = false;
  bool Dropped = false;
  TReply Reply = TReply::Ok;
  bool Echo = true;
  bool Listening = true;
  int ReplyDelayMs = 0;
  int ReplyGapMs = 0;
  std::vector<std::pair<std::string, std::string>> ReplyTo;
  std::string Interjection;
  std::deque<TChunk> Output;
  std::string Partial;
  std::vector<std::string> LineLog;
  std::string ByteLog;

  std::thread Worker;
};
