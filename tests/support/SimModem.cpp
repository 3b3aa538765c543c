#include "SimModem.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

TSimModem::TSimModem() {
  int M = -1, S = -1;
  char Name[128] = {};
  if (::openpty(&M, &S, Name, nullptr, nullptr) != 0) return;
  // Raw on both sides until the driver sets its own: no echo or CR/LF mapping by the kernel.
  termios T{};
  ::tcgetattr(S, &T);
  ::cfmakeraw(&T);
  ::tcsetattr(S, TCSANOW, &T);
  ::fcntl(M, F_SETFL, ::fcntl(M, F_GETFL) | O_NONBLOCK);
  ::fcntl(M, F_SETFD, FD_CLOEXEC);
  ::fcntl(S, F_SETFD, FD_CLOEXEC);
  Master = M;
  SlaveHandle = S;
  Slave = Name;
  WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  Valid = WakeFd >= 0;
  if (Valid) Worker = std::thread([this] { Run(); });
}

TSimModem::~TSimModem() {
  Unlink();
  {
    std::lock_guard G(Lock);
    Stopping = true;
  }
  Wake();
  if (Worker.joinable()) Worker.join();
  if (Master >= 0) ::close(Master);
  if (SlaveHandle >= 0) ::close(SlaveHandle);
  if (WakeFd >= 0) ::close(WakeFd);
}

bool TSimModem::LinkAsPort(const std::string& Folder, int N) {
  namespace fs = std::filesystem;
  std::error_code E;
  const fs::path Dir = fs::path(Folder) / "ports";
  fs::create_directories(Dir, E);
  const fs::path Link = Dir / ("COM" + std::to_string(N));
  fs::remove(Link, E);
  fs::create_symlink(Slave, Link, E);
  if (!E) Links.push_back(Link.string());
  return !E;
}

void TSimModem::Unlink() {
  namespace fs = std::filesystem;
  for (const std::string& Link : Links) {
    std::error_code E;
    fs::remove(Link, E);
    fs::create_symlink(Link + ".gone", Link, E);
  }
  Links.clear();
}

void TSimModem::Wake() {
  if (WakeFd < 0) return;
  const uint64_t One = 1;
  [[maybe_unused]] auto R = ::write(WakeFd, &One, sizeof One);
}

void TSimModem::SetReply(TReply Value) {
  std::lock_guard G(Lock);
  Reply = Value;
}

void TSimModem::SetReplyTo(std::string_view Prefix, std::string_view Text) {
  std::lock_guard G(Lock);
  ReplyTo.emplace_back(Prefix, Text);
}

void TSimModem::Interject(std::string_view Bytes) {
  std::lock_guard G(Lock);
  Interjection = Bytes;
}

void TSimModem::SetEcho(bool On) {
  std::lock_guard G(Lock);
  Echo = On;
}

void TSimModem::SetReplyDelay(int DelayMs, int GapMs) {
  std::lock_guard G(Lock);
  ReplyDelayMs = std::max(DelayMs, 0);
  ReplyGapMs = std::max(GapMs, 0);
}

void TSimModem::SetListening(bool On) {
  {
    std::lock_guard G(Lock);
    Listening = On;
  }
  Wake();
}

void TSimModem::Send(std::string_view Bytes, int DelayMs) {
  {
    std::lock_guard G(Lock);
    Output.push_back({TClock::now() + std::chrono::milliseconds(std::max(DelayMs, 0)), std::string(Bytes)});
  }
  Wake();
}

void TSimModem::DropLine() {
  std::unique_lock G(Lock);
  if (Dropped || Master < 0) return;
  DropRequested = true;
  G.unlock();
  Wake();
  G.lock();
  Changed.wait(G, [this] { return Dropped; });
  G.unlock();
  Unlink();
}

std::vector<std::string> TSimModem::Lines() const {
  std::lock_guard G(Lock);
  return LineLog;
}

std::string TSimModem::Received() const {
  std::lock_guard G(Lock);
  return ByteLog;
}

void TSimModem::ClearRecords() {
  std::lock_guard G(Lock);
  LineLog.clear();
  ByteLog.clear();
  Partial.clear();
}

bool TSimModem::WaitForLines(size_t Count, int TimeoutMs) const {
  std::unique_lock G(Lock);
  return Changed.wait_for(G, std::chrono::milliseconds(TimeoutMs), [&] { return LineLog.size() >= Count; });
}

// Runs on the worker thread with Lock held.
void TSimModem::HandleLine(const std::string& Line, TClock::time_point Now) {
  LineLog.push_back(Line);
  Changed.notify_all();
  const bool Command = Line.size() >= 2 && (Line[0] == 'A' || Line[0] == 'a') && (Line[1] == 'T' || Line[1] == 't');
  if (!Command) return;
  std::string Result = Reply == TReply::Ok ? "OK" : Reply == TReply::Error ? "ERROR" : "";
  for (auto Given = ReplyTo.rbegin(); Given != ReplyTo.rend(); ++Given)
    if (Line.compare(0, Given->first.size(), Given->first) == 0) {
      Result = Given->second;
      break;
    }
  if (Result.empty()) return;
  const std::string Text = "\r\n" + Result + "\r\n";
  auto Due = Now + std::chrono::milliseconds(ReplyDelayMs);
  if (ReplyGapMs == 0) {
    Output.push_back({Due, Text});
    return;
  }
  for (char C : Text) {
    Output.push_back({Due, std::string(1, C)});
    Due += std::chrono::milliseconds(ReplyGapMs);
  }
}

// Runs on the worker thread with Lock held.
void TSimModem::TakeInput() {
  char Buffer[512];
  for (;;) {
    const ssize_t N = ::read(Master, Buffer, sizeof Buffer);
    if (N <= 0) return;
    const auto Now = TClock::now();
    ByteLog.append(Buffer, size_t(N));
    // One write with the echo, so that nothing can come between them.
    std::string Out = std::move(Interjection);
    Interjection.clear();
    if (Echo) Out.append(Buffer, size_t(N));
    if (!Out.empty()) Output.push_back({Now, std::move(Out)});
    for (ssize_t I = 0; I < N; ++I) {
      const char C = Buffer[I];
      if (C == '\r') {
        const std::string Line = std::move(Partial);
        Partial.clear();
        HandleLine(Line, Now);
      } else if (C != '\n') {
        Partial += C;
      }
    }
  }
}

// Runs on the worker thread with Lock held.
void TSimModem::WriteDue() {
  const auto Now = TClock::now();
  while (!Output.empty() && Output.front().Due <= Now) {
    std::string& Bytes = Output.front().Bytes;
    const ssize_t N = ::write(Master, Bytes.data(), Bytes.size());
    if (N <= 0) return;  // the line is full: poll for room
    Bytes.erase(0, size_t(N));
    if (Bytes.empty()) Output.pop_front();
  }
}

void TSimModem::Run() {
  std::unique_lock G(Lock);
  while (!Stopping) {
    if (DropRequested) {
      ::close(Master);
      Master = -1;
      DropRequested = false;
      Dropped = true;
      Output.clear();
      Changed.notify_all();
    }
    if (Master >= 0) {
      if (Listening) TakeInput();
      WriteDue();
    }
    // Sleep until input, room for output that is due, the next due chunk, or a wake-up.
    int Timeout = -1;
    short MasterEvents = 0;
    if (Master >= 0 && Listening) MasterEvents |= POLLIN;
    if (Master >= 0 && !Output.empty()) {
      const auto Now = TClock::now();
      if (Output.front().Due <= Now) {
        MasterEvents |= POLLOUT;
      } else {
        const auto Ms = std::chrono::ceil<std::chrono::milliseconds>(Output.front().Due - Now).count();
        Timeout = int(std::min<long long>(Ms, INT_MAX));
      }
    }
    pollfd P[2] = {{MasterEvents ? Master : -1, MasterEvents, 0}, {WakeFd, POLLIN, 0}};
    G.unlock();
    ::poll(P, 2, Timeout);
    if (P[1].revents & POLLIN) {
      uint64_t Count;
      [[maybe_unused]] auto R = ::read(WakeFd, &Count, sizeof Count);
    }
    G.lock();
  }
}
