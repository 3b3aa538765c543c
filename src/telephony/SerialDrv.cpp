#include "SerialDrv.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "Termios2.h"

namespace {

constexpr unsigned kOtherRate = 0010000;  // BOTHER: the rate is in c_ispeed/c_ospeed
constexpr unsigned kInputShift = 16;      // IBSHIFT: where the input rate code sits in c_cflag
constexpr uint32_t kNoPacket = UINT32_MAX;
constexpr short kGoneEvents = POLLHUP | POLLERR | POLLNVAL;

// clang-format off
const uint32_t kRates[16] = {0,    110,   300,   600,   1200,  2400,   4800,   9600,
                             14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
// clang-format on

uint32_t Tick() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Milliseconds to wait so that more than Limit ms will have passed since Start.
int WaitLeft(uint32_t Start, uint32_t Limit) {
  const uint32_t Elapsed = Tick() - Start;
  if (Elapsed > Limit) return 0;
  return static_cast<int>(std::min<uint64_t>(uint64_t(Limit) - Elapsed + 1, INT_MAX));
}

speed_t StandardSpeed(uint32_t Rate) {
  switch (Rate) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return B0;
  }
}

QString& PortsFolderOverride() {
  static QString Folder;
  return Folder;
}

std::string SystemPort(int N) { return "/dev/ttyS" + std::to_string(N - 1); }

TSerialPortDriver::TPortFallback& PortFallback() {
  static TSerialPortDriver::TPortFallback Fallback = SystemPort;
  return Fallback;
}

}  // namespace

uint32_t BaudRateOf(TBaudRate Rate) { return Rate < 16 ? kRates[Rate] : 0; }

// ---------------------------------------------------------------------------
// The POSIX terminal device

TSerialDevice::~TSerialDevice() { TSerialDevice::Close(); }

bool TSerialDevice::Open(const std::string& Path) {
  Close();
  const int Handle = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (Handle < 0) return false;
  // The port is not shared. A lock on the open file, not the terminal's
  // exclusive flag: the kernel drops it with the process however that ends,
  // while the flag would outlive a killed program and keep everyone out.
  if (::flock(Handle, LOCK_EX | LOCK_NB) != 0) {
    const int Error = errno;
    ::close(Handle);
    errno = Error;
    return false;
  }
  Fd = Handle;
  return true;
}

void TSerialDevice::Close() {
  if (Fd < 0) return;
  ::close(Fd);
  Fd = -1;
}

void TSerialDevice::FillTermios(const TLineSettings& S, termios& T) {
  ::cfmakeraw(&T);
  T.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  // No HUPCL: closing the port must not drop DTR, since the program closes
  // it between commands while a call it dialled goes on.
  T.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | HUPCL);
  T.c_cflag |= CLOCAL | CREAD;
  static const tcflag_t Sizes[4] = {CS5, CS6, CS7, CS8};
  T.c_cflag |= Sizes[std::min<int>(S.DataBits, 3)];
  // Two stop bits; UARTs send 1.5 for 5-bit characters, the only width that has them.
  if (S.StopBits != sb1BITS) T.c_cflag |= CSTOPB;
  switch (S.Parity) {
    case ptNONE:
      break;
    case ptODD:
      T.c_cflag |= PARENB | PARODD;
      break;
    case ptEVEN:
      T.c_cflag |= PARENB;
      break;
    case ptMARK:
      T.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case ptSPACE:
      T.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (S.HwFlow == hfRTSCTS) T.c_cflag |= CRTSCTS;
  if (S.SwFlow == sfXONXOFF) T.c_iflag |= IXON | IXOFF;
  T.c_cc[VSTART] = 0x11;
  T.c_cc[VSTOP] = 0x13;
  // A read with nothing queued fails with EAGAIN; 0 then only means a hung-up line.
  T.c_cc[VMIN] = 1;
  T.c_cc[VTIME] = 0;
  const speed_t Speed = StandardSpeed(S.Rate);
  // Rates without a constant are set through termios2 after this.
  ::cfsetispeed(&T, Speed == B0 ? B38400 : Speed);
  ::cfsetospeed(&T, Speed == B0 ? B38400 : Speed);
}

int TSerialDevice::SetLine(const TLineSettings& S) {
  if (S.Rate == 0) {
    errno = EINVAL;  // a rate of 0 would hang the line up
    return -1;
  }
  termios T{};
  if (::tcgetattr(Fd, &T) != 0) return -1;
  FillTermios(S, T);
  const speed_t Speed = StandardSpeed(S.Rate);
  if (::tcsetattr(Fd, TCSANOW, &T) != 0) return -1;
  if (Speed == B0) {
    termios2 T2{};
    if (::ioctl(Fd, TCGETS2, &T2) != 0) return -1;
    T2.c_cflag &= ~(CBAUD | (CBAUD << kInputShift));
    T2.c_cflag |= kOtherRate | (kOtherRate << kInputShift);
    T2.c_ispeed = T2.c_ospeed = S.Rate;
    if (::ioctl(Fd, TCSETS2, &T2) != 0) return -1;
  }
  if (SetModemLine(TIOCM_DTR, S.RaiseDTR) != 0) return -1;
  if (SetModemLine(TIOCM_RTS, S.HwFlow != hfNONE) != 0) return -1;
  return 0;
}

int TSerialDevice::Flush(bool Input, bool Output) {
  if (!Input && !Output) return 0;
  return ::tcflush(Fd, Input && Output ? TCIOFLUSH : Input ? TCIFLUSH : TCOFLUSH);
}

int TSerialDevice::InputCount() {
  int Count = 0;
  return ::ioctl(Fd, FIONREAD, &Count) == 0 ? Count : -1;
}

int TSerialDevice::OutputCount() {
  int Count = 0;
  return ::ioctl(Fd, TIOCOUTQ, &Count) == 0 ? Count : -1;
}

int TSerialDevice::ModemLines() {
  int Bits = 0;
  if (::ioctl(Fd, TIOCMGET, &Bits) == 0) return Bits;
  // Pseudo-terminals and software modems have no control lines: always ready.
  if (errno == ENOTTY || errno == EINVAL) return TIOCM_CTS | TIOCM_DSR;
  return -1;
}

int TSerialDevice::SetModemLine(int Bit, bool On) {
  if (::ioctl(Fd, On ? TIOCMBIS : TIOCMBIC, &Bit) == 0) return 0;
  return errno == ENOTTY || errno == EINVAL ? 0 : -1;
}

long TSerialDevice::Read(void* Buffer, size_t Size) {
  long N;
  do N = ::read(Fd, Buffer, Size);
  while (N < 0 && errno == EINTR);
  return N;
}

long TSerialDevice::Write(const void* Data, size_t Size) {
  long N;
  do N = ::write(Fd, Data, Size);
  while (N < 0 && errno == EINTR);
  return N;
}

int TSerialDevice::Wait(short Events, int TimeoutMs) {
  pollfd P{Fd, Events, 0};
  int R;
  do R = ::poll(&P, 1, TimeoutMs);
  while (R < 0 && errno == EINTR);
  return R > 0 ? P.revents : R;
}

// ---------------------------------------------------------------------------
// The driver

TSerialPortDriver::TSerialPortDriver(QObject* Parent)
    : QObject(Parent), FDevice(std::make_unique<TSerialDevice>()), FTimer(new QTimer(this)), FReceiveBuffer(2048, 0) {
  FTimer->setInterval(FPollingDelay);
  connect(FTimer, &QTimer::timeout, this, &TSerialPortDriver::PollReceive);
}

TSerialPortDriver::~TSerialPortDriver() { ClosePort(); }

void TSerialPortDriver::SetPortsFolder(const QString& Folder) { PortsFolderOverride() = Folder; }

void TSerialPortDriver::SetPortFallback(TPortFallback Fallback) {
  PortFallback() = Fallback ? std::move(Fallback) : TPortFallback(SystemPort);
}

QString TSerialPortDriver::PortsFolder() {
  if (!PortsFolderOverride().isEmpty()) return PortsFolderOverride();
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

std::string TSerialPortDriver::DevicePath(const QString& Name) {
  static const QString Prefix = QStringLiteral("\\\\.\\COM");
  if (Name.startsWith(Prefix, Qt::CaseInsensitive)) {
    const QString Digits = Name.mid(Prefix.size());
    bool AllDigits = !Digits.isEmpty() && Digits.size() <= 4;
    for (QChar C : Digits) AllDigits = AllDigits && C >= u'0' && C <= u'9';
    const int N = AllDigits ? Digits.toInt() : 0;
    if (N >= 1) {
      const QString Link = PortsFolder() + QStringLiteral("/ports/COM") + QString::number(N);
      // A link to an adapter that is unplugged must not fall through to another port.
      const QFileInfo Info(Link);
      if (Info.exists() || Info.isSymLink()) return Link.toStdString();
      return PortFallback()(N);
    }
  }
  return Name.toStdString();
}

void TSerialPortDriver::SetDevice(std::unique_ptr<TSerialDevice> Device) {
  if (IsOpen() || !Device) return;
  FDevice = std::move(Device);
}

void TSerialPortDriver::SetPort(TPortNumber Value) {
  if (IsOpen() || Value > pnCOM16) return;
  FPort = Value;
  if (Value != pnCustom) FPortName = QStringLiteral("\\\\.\\COM%1").arg(int(Value));
}

void TSerialPortDriver::SetPortName(const QString& Value) {
  if (IsOpen()) return;
  FPortName = Value;
  FPort = pnCustom;
}

void TSerialPortDriver::SetBaudRate(TBaudRate Value) {
  if (Value > br256000) return;
  FBaudRate = Value;
  if (Value != brCustom) FBaudRateValue = kRates[Value];
  ReapplyIfOpen();
}

void TSerialPortDriver::SetBaudRateValue(uint32_t Value) {
  FBaudRateValue = Value;
  FBaudRate = brCustom;
  ReapplyIfOpen();
}

void TSerialPortDriver::SetDataBits(TDataBits Value) {
  if (Value > db8BITS) return;
  FDataBits = Value;
  ReapplyIfOpen();
}

void TSerialPortDriver::SetStopBits(TStopBits Value) {
  if (Value > sb2BITS) return;
  FStopBits = Value;
  ReapplyIfOpen();
}

void TSerialPortDriver::SetParity(TParity Value) {
  if (Value > ptSPACE) return;
  FParity = Value;
  ReapplyIfOpen();
}

void TSerialPortDriver::SetHwFlow(THwFlowControl Value) {
  if (Value > hfRTSCTS) return;
  FHwFlow = Value;
  ReapplyIfOpen();
}

void TSerialPortDriver::SetSwFlow(TSwFlowControl Value) {
  if (Value > sfXONXOFF) return;
  FSwFlow = Value;
  ReapplyIfOpen();
}

void TSerialPortDriver::ReapplyIfOpen() {
  if (IsOpen()) ApplySettings();
}

void TSerialPortDriver::ResizeReceiveBuffer(uint32_t Size) {
  FInBufSize = Size;
  FReceiveBuffer.assign(Size, 0);
}

void TSerialPortDriver::SetInBufSize(uint32_t Value) {
  if (IsOpen()) return;
  ResizeReceiveBuffer(std::clamp<uint32_t>(Value, 128, 8192));
  SetPacketSize(FPacketSize);
}

void TSerialPortDriver::SetOutBufSize(uint32_t Value) {
  if (IsOpen()) return;
  FOutBufSize = std::clamp<uint32_t>(Value, 128, 8192);
}

void TSerialPortDriver::SetPacketSize(int16_t Value) {
  if (Value <= 0) {
    FPacketSize = -1;
    return;
  }
  // The receive buffer holds at most 8192 bytes and must hold a whole packet,
  // also while open, when InBufSize itself cannot be changed.
  FPacketSize = std::min<int16_t>(Value, 8192);
  if (uint32_t(FPacketSize) > FInBufSize) ResizeReceiveBuffer(uint32_t(FPacketSize));
}

void TSerialPortDriver::SetPacketTimeout(int32_t Value) {
  if (Value < 1) FPacketTimeout = -1;
  else if (Value < int32_t(FPollingDelay)) FPacketTimeout = FPollingDelay + FPollingDelay * 40 / 100;
  else FPacketTimeout = Value;
}

void TSerialPortDriver::SetPollingDelay(uint16_t Value) {
  Value = std::max<uint16_t>(Value, 5);
  if (Value == FPollingDelay) return;
  FPollingDelay = Value;
  FTimer->setInterval(Value);  // restarts a running timer with the new period
  SetPacketTimeout(FPacketTimeout);
}

uint32_t TSerialPortDriver::PacketTransmitTime() const {
  if (FPacketSize <= 0 || FBaudRateValue == 0) return 0;
  return static_cast<uint32_t>(std::lround(FPacketSize / (FBaudRateValue / 10.0) * 1000.0));
}

bool TSerialPortDriver::OpenPort() {
  if (IsOpen()) return true;
  FOpenError = 0;
  if (!FDevice->Open(DevicePath(FPortName))) {
    FOpenError = errno ? errno : ENODEV;
    return false;
  }
  ++FOpenCount;
  FPacketStart = kNoPacket;
  errno = 0;
  if (!ApplySettings()) {
    FOpenError = errno ? errno : EIO;
    ClosePort();
    return false;
  }
  // The device is non-blocking: sends and reads wait in poll() for their own limits.
  FTimer->start(FPollingDelay);
  return true;
}

void TSerialPortDriver::ClosePort() {
  FTimer->stop();
  if (!IsOpen()) return;
  FDevice->Close();
  FPacketStart = kNoPacket;
}

bool TSerialPortDriver::FailedForGood(int Error) {
  return Error == EIO || Error == ENXIO || Error == ENODEV || Error == EBADF || Error == EPIPE;
}

void TSerialPortDriver::DeviceLost() { ClosePort(); }

bool TSerialPortDriver::CheckDevice() {
  if (!IsOpen()) return false;
  const int Events = FDevice->Wait(POLLIN, 0);
  if (Events > 0 && (Events & kGoneEvents)) {
    const int Waiting = FDevice->InputCount();
    if (Waiting <= 0) DeviceLost();
  }
  return IsOpen();
}

bool TSerialPortDriver::ApplySettings() {
  if (!IsOpen()) return false;
  TLineSettings S;
  S.Rate = FBaudRateValue;
  S.DataBits = FDataBits;
  S.StopBits = FStopBits;
  S.Parity = FParity;
  S.HwFlow = FHwFlow;
  S.SwFlow = FSwFlow;
  S.RaiseDTR = FEnableDTROnOpen;
  if (FDevice->SetLine(S) != 0) return false;
  // The kernel sizes its own queues: InBufSize and OutBufSize only bound ours.
  return FlushBuffers(true, true);
}

bool TSerialPortDriver::FlushBuffers(bool Input, bool Output) {
  if (!IsOpen() || FDevice->Flush(Input, Output) != 0) return false;
  FPacketStart = kNoPacket;
  return true;
}

uint32_t TSerialPortDriver::InputCount() {
  if (!IsOpen()) return 65535;
  const int Count = FDevice->InputCount();
  if (Count >= 0) return uint32_t(Count);
  if (FailedForGood(errno)) DeviceLost();
  return 0;
}

uint16_t TSerialPortDriver::OutputFreeSpace() {
  if (!IsOpen()) return 65535;
  const int Queued = FDevice->OutputCount();
  if (Queued < 0) {
    if (FailedForGood(errno)) DeviceLost();
    return 0;
  }
  // A queue fuller than OutBufSize has no room, rather than wrapping round.
  return uint16_t(uint32_t(Queued) >= FOutBufSize ? 0 : FOutBufSize - uint32_t(Queued));
}

TLineStatus TSerialPortDriver::LineStatus() {
  if (!IsOpen()) return 0;
  const int Bits = FDevice->ModemLines();
  if (Bits < 0) return 0;
  TLineStatus S = 0;
  if (Bits & TIOCM_CTS) S |= LineCTS;
  if (Bits & TIOCM_DSR) S |= LineDSR;
  if (Bits & TIOCM_RI) S |= LineRing;
  if (Bits & TIOCM_CD) S |= LineCarrier;
  return S;
}

uint32_t TSerialPortDriver::SendBufferTimed(const void* Data, uint32_t Size, uint32_t TimeLimitMs) {
  if (!IsOpen()) return 0;
  const uint8_t* P = static_cast<const uint8_t*>(Data);
  uint32_t Sent = 0;
  uint32_t Start = Tick();
  bool WaitedForRoom = false;
  while (Sent < Size && IsOpen()) {
    const uint16_t Free = OutputFreeSpace();
    if (!IsOpen()) break;
    bool Blocked = false;
    if (Free > 0) {
      if (FCheckLineStatus && LineStatus() == 0) break;
      const long N = FDevice->Write(P + Sent, std::min<uint32_t>(Size - Sent, Free));
      if (N > 0) {
        Sent += uint32_t(N);
        Start = Tick();
        WaitedForRoom = false;
        continue;
      }
      if (N < 0 && FailedForGood(errno)) {
        DeviceLost();
        break;
      }
      Blocked = N < 0 && errno == EAGAIN;
    }
    const int Left = WaitLeft(Start, TimeLimitMs);
    if (Left == 0) break;
    if (Blocked && !WaitedForRoom) {
      const int Events = FDevice->Wait(POLLOUT, Left);
      if (Events & kGoneEvents && !(Events & POLLOUT)) {
        DeviceLost();
        break;
      }
      // poll() said there is room; if the write still finds none, sleep below next time.
      WaitedForRoom = Events > 0;
    } else {
      // Our own queue limit is reached, or the device keeps refusing: let it drain.
      ::poll(nullptr, 0, std::min(Left, 5));
      WaitedForRoom = false;
    }
  }
  return Sent;
}

uint32_t TSerialPortDriver::SendBuffer(const void* Data, uint32_t Size) {
  return SendBufferTimed(Data, Size, FOutputTimeout);
}

bool TSerialPortDriver::SendText(std::string_view Text) {
  return SendBuffer(Text.data(), uint32_t(Text.size())) == Text.size();
}

uint32_t TSerialPortDriver::ReadBuffer(void* Buffer, uint32_t Size) {
  if (!IsOpen()) return 0;
  PausePolling();
  uint8_t* P = static_cast<uint8_t*>(Buffer);
  uint32_t Count = 0;
  uint32_t Start = Tick();
  bool HungUp = false;
  while (Count < Size && IsOpen()) {
    const long N = FDevice->Read(P + Count, Size - Count);
    if (N > 0) {
      Count += uint32_t(N);
      Start = Tick();
      continue;
    }
    // With VMIN 1 an empty queue gives EAGAIN; end of file means the line hung up.
    if (N == 0 || FailedForGood(errno) || (errno == EAGAIN && HungUp)) {
      DeviceLost();
      break;
    }
    const int Left = WaitLeft(Start, FInputTimeout);
    if (Left == 0) break;
    const int Events = FDevice->Wait(POLLIN, Left);
    HungUp = Events > 0 && (Events & kGoneEvents);
  }
  ResumePolling();
  return Count;
}

void TSerialPortDriver::PollReceive() {
  if (!IsOpen() || FPauseCount > 0) return;
  const uint32_t Session = FOpenCount;
  auto SamePort = [&] { return IsOpen() && FOpenCount == Session; };

  const int Events = FDevice->Wait(POLLIN, 0);
  const bool HungUp = Events > 0 && (Events & kGoneEvents);
  const int Waiting = FDevice->InputCount();
  if (Waiting < 0) {
    if (HungUp || FailedForGood(errno)) DeviceLost();
    return;
  }
  uint32_t W = uint32_t(Waiting);

  auto ReadInto = [&](uint32_t Want) -> long {
    const long N = FDevice->Read(FReceiveBuffer.data(), std::min<size_t>(Want, FReceiveBuffer.size()));
    if (N == 0 || (N < 0 && FailedForGood(errno))) DeviceLost();
    return N;
  };

  if (FPacketSize <= 0) {
    if (W > 0) {
      const long N = ReadInto(W);
      if (N > 0 && OnReceiveData) OnReceiveData(this, FReceiveBuffer.data(), uint32_t(N));
    }
  } else if (W >= uint32_t(FPacketSize)) {
    while (SamePort() && FPacketSize > 0 && W >= uint32_t(FPacketSize)) {
      const uint32_t Size = uint32_t(FPacketSize);
      const long N = ReadInto(Size);
      if (N > 0 && OnReceivePacket) OnReceivePacket(this, FReceiveBuffer.data(), uint32_t(N));
      if (N <= 0) break;
      // The next packet began arriving one packet's line time later.
      if (FPacketStart != kNoPacket) {
        FPacketStart += PacketTransmitTime();
        if (FPacketStart == kNoPacket) --FPacketStart;
      }
      W -= Size;
      if (W == 0) FPacketStart = kNoPacket;
    }
    // A part packet left behind whole packets taken in one go is timed from now.
    if (SamePort() && W > 0 && FPacketStart == kNoPacket) FPacketStart = Tick();
  } else {
    if (FPacketTimeout > 0 && FPacketStart != kNoPacket && Tick() - FPacketStart > uint32_t(FPacketTimeout)) {
      const long N = W > 0 ? ReadInto(W) : 0;
      FPacketStart = kNoPacket;
      if (FPacketMode == pmPass && N > 0 && OnReceivePacket) OnReceivePacket(this, FReceiveBuffer.data(), uint32_t(N));
    } else if (W > 0 && FPacketStart == kNoPacket) {
      FPacketStart = Tick();
    }
  }
  if (HungUp && SamePort()) DeviceLost();
}
