#pragma once

// The serial port component: one port, its line settings, timed sends and
// reads, and a polling timer that hands received bytes to handlers.

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QTimer;
struct termios;

// The ordinals are stored in settings and forms: never reorder.
enum TPortNumber : uint8_t {
  pnCustom,
  pnCOM1,
  pnCOM2,
  pnCOM3,
  pnCOM4,
  pnCOM5,
  pnCOM6,
  pnCOM7,
  pnCOM8,
  pnCOM9,
  pnCOM10,
  pnCOM11,
  pnCOM12,
  pnCOM13,
  pnCOM14,
  pnCOM15,
  pnCOM16
};
enum TBaudRate : uint8_t {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TDataBits : uint8_t { db5BITS, db6BITS, db7BITS, db8BITS };
enum TStopBits : uint8_t { sb1BITS, sb1HALFBITS, sb2BITS };
enum TParity : uint8_t { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum THwFlowControl : uint8_t { hfNONE, hfNONERTSON, hfRTSCTS };
enum TSwFlowControl : uint8_t { sfNONE, sfXONXOFF };
enum TPacketMode : uint8_t { pmDiscard, pmPass };

// Bits per second by TBaudRate ordinal; brCustom has none (0).
uint32_t BaudRateOf(TBaudRate Rate);

enum TLineStatusFlag : uint8_t { LineCTS = 1, LineDSR = 2, LineRing = 4, LineCarrier = 8 };
using TLineStatus = uint8_t;  // a set of TLineStatusFlag

class TSerialPortDriver;
// The bytes live in the driver's receive buffer and are valid only during the call.
using TReceiveDataEvent = std::function<void(TSerialPortDriver* Sender, const void* DataPtr, uint32_t DataSize)>;
using TReceivePacketEvent = std::function<void(TSerialPortDriver* Sender, const void* Packet, uint32_t DataSize)>;

// Line settings as the driver hands them to the device.
struct TLineSettings {
  uint32_t Rate = 9600;
  TDataBits DataBits = db8BITS;
  TStopBits StopBits = sb1BITS;
  TParity Parity = ptNONE;
  THwFlowControl HwFlow = hfNONERTSON;
  TSwFlowControl SwFlow = sfNONE;
  bool RaiseDTR = true;
};

// The terminal device under the driver. Tests replace single operations,
// such as the modem-line query, by deriving from it.
// Operations that fail return -1 and leave errno set.
class TSerialDevice {
public:
  TSerialDevice() = default;
  TSerialDevice(const TSerialDevice&) = delete;
  TSerialDevice& operator=(const TSerialDevice&) = delete;
  virtual ~TSerialDevice();

  virtual bool Open(const std::string& Path);
  virtual void Close();
  bool IsOpen() const { return Fd >= 0; }
  int Handle() const { return Fd; }

  virtual int SetLine(const TLineSettings& Settings);
  // Raw mode with the settings' character format, flow control and rate.
  static void FillTermios(const TLineSettings& Settings, termios& T);
  virtual int Flush(bool Input, bool Output);
  virtual int InputCount();
  virtual int OutputCount();
  // TIOCM_* bits.
  virtual int ModemLines();
  virtual int SetModemLine(int Bit, bool On);
  virtual long Read(void* Buffer, size_t Size);
  virtual long Write(const void* Data, size_t Size);
  // poll() on the device: the events that occurred, 0 after the time limit.
  virtual int Wait(short Events, int TimeoutMs);

protected:
  int Fd = -1;
};

class TSerialPortDriver : public QObject {
  Q_OBJECT

public:
  explicit TSerialPortDriver(QObject* Parent = nullptr);
  ~TSerialPortDriver() override;

  // Where "\\.\COM<n>" looks for ports/COM<n>; empty means the program's folder.
  static void SetPortsFolder(const QString& Folder);
  static QString PortsFolder();
  // The device "\\.\COM<n>" stands for when ports/COM<n> is missing:
  // /dev/ttyS<n-1> unless replaced (null restores it). An empty path is no
  // device at all, so tests can leave every port they did not link empty.
  using TPortFallback = std::function<std::string(int N)>;
  static void SetPortFallback(TPortFallback Fallback);
  // The device node that PortName stands for.
  static std::string DevicePath(const QString& PortName);

  // Replaces the device layer; ignored while open.
  void SetDevice(std::unique_ptr<TSerialDevice> Device);
  TSerialDevice& Device() { return *FDevice; }

  TPortNumber Port() const { return FPort; }
  void SetPort(TPortNumber Value);
  QString PortName() const { return FPortName; }
  void SetPortName(const QString& Value);
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate Value);
  uint32_t BaudRateValue() const { return FBaudRateValue; }
  void SetBaudRateValue(uint32_t Value);
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits Value);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits Value);
  TParity Parity() const { return FParity; }
  void SetParity(TParity Value);
  THwFlowControl HwFlow() const { return FHwFlow; }
  void SetHwFlow(THwFlowControl Value);
  TSwFlowControl SwFlow() const { return FSwFlow; }
  void SetSwFlow(TSwFlowControl Value);
  uint32_t InBufSize() const { return FInBufSize; }
  void SetInBufSize(uint32_t Value);
  uint32_t OutBufSize() const { return FOutBufSize; }
  void SetOutBufSize(uint32_t Value);
  int16_t PacketSize() const { return FPacketSize; }
  void SetPacketSize(int16_t Value);
  int32_t PacketTimeout() const { return FPacketTimeout; }
  void SetPacketTimeout(int32_t Value);
  TPacketMode PacketMode() const { return FPacketMode; }
  void SetPacketMode(TPacketMode Value) { FPacketMode = Value; }
  uint16_t PollingDelay() const { return FPollingDelay; }
  void SetPollingDelay(uint16_t Value);
  bool EnableDTROnOpen() const { return FEnableDTROnOpen; }
  void SetEnableDTROnOpen(bool Value) { FEnableDTROnOpen = Value; }
  uint16_t OutputTimeout() const { return FOutputTimeout; }
  void SetOutputTimeout(uint16_t Value) { FOutputTimeout = Value; }
  uint32_t InputTimeout() const { return FInputTimeout; }
  void SetInputTimeout(uint32_t Value) { FInputTimeout = Value; }
  bool CheckLineStatus() const { return FCheckLineStatus; }
  void SetCheckLineStatus(bool Value) { FCheckLineStatus = Value; }

  TReceiveDataEvent OnReceiveData;
  TReceivePacketEvent OnReceivePacket;

  bool OpenPort();
  // Why the last OpenPort failed (an errno value), 0 after one that worked.
  int OpenError() const { return FOpenError; }
  void ClosePort();
  bool IsOpen() const { return FDevice->IsOpen(); }
  bool ApplySettings();
  bool FlushBuffers(bool Input, bool Output);
  uint32_t InputCount();
  uint16_t OutputFreeSpace();
  TLineStatus LineStatus();
  uint32_t SendBufferTimed(const void* Data, uint32_t Size, uint32_t TimeLimitMs);
  uint32_t SendBuffer(const void* Data, uint32_t Size);
  bool SendText(std::string_view Text);
  uint32_t ReadBuffer(void* Buffer, uint32_t Size);
  // False once the device has gone away (unplugged, hung up); the port is
  // then closed. Bytes still waiting are left to be read first.
  bool CheckDevice();
  void PausePolling() { ++FPauseCount; }
  void ResumePolling() { --FPauseCount; }

  // Milliseconds one packet takes on the line at BaudRateValue, 10 bits a character.
  uint32_t PacketTransmitTime() const;
  // The size of the receive buffer that handlers are given bytes from.
  size_t ReceiveBufferSize() const { return FReceiveBuffer.size(); }

private:
  void PollReceive();
  void ReapplyIfOpen();
  void ResizeReceiveBuffer(uint32_t Size);
  // The device went away (unplugged, hung up): the port is closed.
  void DeviceLost();
  bool FailedForGood(int Error);

  std::unique_ptr<TSerialDevice> FDevice;
  QTimer* FTimer;
  std::vector<uint8_t> FReceiveBuffer;
  uint32_t FPacketStart = UINT32_MAX;  // all ones: no partial packet pending
  int FPauseCount = 0;
  uint32_t FOpenCount = 0;  // tells a port reopened by a handler from the one being polled
  int FOpenError = 0;

  TPortNumber FPort = pnCOM2;
  QString FPortName = QStringLiteral("\\\\.\\COM2");
  TBaudRate FBaudRate = br9600;
  uint32_t FBaudRateValue = 9600;
  TDataBits FDataBits = db8BITS;
  TStopBits FStopBits = sb1BITS;
  TParity FParity = ptNONE;
  THwFlowControl FHwFlow = hfNONERTSON;
  TSwFlowControl FSwFlow = sfNONE;
  uint32_t FInBufSize = 2048;
  uint32_t FOutBufSize = 2048;
  int16_t FPacketSize = -1;
  int32_t FPacketTimeout = -1;
  TPacketMode FPacketMode = pmDiscard;
  uint16_t FPollingDelay = 50;
  bool FEnableDTROnOpen = true;
  uint16_t FOutputTimeout = 500;
  uint32_t FInputTimeout = 200;
  bool FCheckLineStatus = false;
};
