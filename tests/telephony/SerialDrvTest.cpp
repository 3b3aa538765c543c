// The serial port driver against pseudo-terminals with the simulated modem.

#include "SerialDrv.h"
#include "SimModem.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Termios2.h"

namespace {

// Runs the event loop until Done holds or TimeoutMs passed.
bool Pump(const std::function<bool()>& Done, int TimeoutMs) {
  QElapsedTimer T;
  T.start();
  while (!Done()) {
    if (T.elapsed() > TimeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Waits without running the event loop, so that polling cannot take the bytes.
bool WaitInput(TSerialPortDriver& Port, uint32_t Count, int TimeoutMs = 2000) {
  QElapsedTimer T;
  T.start();
  while (Port.InputCount() != Count) {
    if (T.elapsed() > TimeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string ReadAll(TSerialPortDriver& Port, uint32_t Size) {
  std::string S(Size, '\0');
  S.resize(Port.ReadBuffer(S.data(), Size));
  return S;
}

termios SlaveSettings(const TSimModem& Modem) {
  termios T{};
  EXPECT_EQ(tcgetattr(Modem.SlaveFd(), &T), 0);
  return T;
}

// A device whose modem lines are all down, that records how the driver sets DTR and RTS.
class TNoLinesDevice : public TSerialDevice {
public:
  int ModemLines() override { return 0; }
  int SetModemLine(int Bit, bool On) override {
    (Bit == TIOCM_DTR ? DTR : RTS) = On ? 1 : 0;
    return 0;
  }
  int DTR = -1, RTS = -1;
};

class SerialPty : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Modem.IsValid());
    Port.SetPortName(QString::fromStdString(Modem.SlavePath()));
    Port.SetInputTimeout(100);
    Port.SetOutputTimeout(100);
  }
  std::string Exchange(std::string_view Command, uint32_t Want = 15) {
    EXPECT_TRUE(Port.SendText(Command));
    return ReadAll(Port, Want);
  }
  TSimModem Modem;
  TSerialPortDriver Port;
};

}  // namespace

TEST(SerialProperties, DefaultsPortNamesAndRates) {
  TSerialPortDriver P;
  EXPECT_EQ(P.Port(), pnCOM2);
  EXPECT_EQ(P.PortName(), "\\\\.\\COM2");
  EXPECT_EQ(P.BaudRate(), br9600);
  EXPECT_EQ(P.BaudRateValue(), 9600u);
  EXPECT_EQ(P.DataBits(), db8BITS);
  EXPECT_EQ(P.StopBits(), sb1BITS);
  EXPECT_EQ(P.Parity(), ptNONE);
  EXPECT_EQ(P.HwFlow(), hfNONERTSON);
  EXPECT_EQ(P.SwFlow(), sfNONE);
  EXPECT_EQ(P.InBufSize(), 2048u);
  EXPECT_EQ(P.OutBufSize(), 2048u);
  EXPECT_EQ(P.ReceiveBufferSize(), 2048u);
  EXPECT_EQ(P.PacketSize(), -1);
  EXPECT_EQ(P.PacketTimeout(), -1);
  EXPECT_EQ(P.PacketMode(), pmDiscard);
  EXPECT_EQ(P.PollingDelay(), 50);
  EXPECT_TRUE(P.EnableDTROnOpen());
  EXPECT_EQ(P.OutputTimeout(), 500);
  EXPECT_EQ(P.InputTimeout(), 200u);
  EXPECT_FALSE(P.CheckLineStatus());
  EXPECT_FALSE(P.IsOpen());

  P.SetPortName("/dev/ttyUSB0");
  EXPECT_EQ(P.Port(), pnCustom);
  P.SetPort(pnCOM3);
  EXPECT_EQ(P.PortName(), "\\\\.\\COM3");
  P.SetPort(pnCOM16);
  EXPECT_EQ(P.PortName(), "\\\\.\\COM16");
  P.SetPort(pnCustom);
  EXPECT_EQ(P.Port(), pnCustom);
  EXPECT_EQ(P.PortName(), "\\\\.\\COM16");

  const uint32_t Table[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                            19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (int R = br110; R <= br256000; ++R) {
    P.SetBaudRate(TBaudRate(R));
    EXPECT_EQ(P.BaudRateValue(), Table[R - 1]) << "rate ordinal " << R;
  }
  P.SetBaudRate(brCustom);
  EXPECT_EQ(P.BaudRateValue(), 256000u);
  P.SetBaudRate(br1200);
  P.SetBaudRateValue(31250);
  EXPECT_EQ(P.BaudRate(), brCustom);
  EXPECT_EQ(P.BaudRateValue(), 31250u);
}

TEST(SerialProperties, BufferPacketAndPollingRules) {
  TSerialPortDriver P;
  P.SetInBufSize(100);
  EXPECT_EQ(P.InBufSize(), 128u);
  EXPECT_EQ(P.ReceiveBufferSize(), 128u);
  P.SetInBufSize(10000);
  EXPECT_EQ(P.InBufSize(), 8192u);
  P.SetOutBufSize(1);
  EXPECT_EQ(P.OutBufSize(), 128u);
  P.SetOutBufSize(65536);
  EXPECT_EQ(P.OutBufSize(), 8192u);

  P.SetInBufSize(2048);
  P.SetPacketSize(4000);
  EXPECT_EQ(P.PacketSize(), 4000);
  EXPECT_EQ(P.InBufSize(), 4000u);
  EXPECT_EQ(P.ReceiveBufferSize(), 4000u);
  // The buffer never shrinks below a packet.
  P.SetInBufSize(128);
  EXPECT_EQ(P.InBufSize(), 4000u);
  // Beyond the largest buffer a packet could not be held: it is cut to fit.
  P.SetPacketSize(20000);
  EXPECT_EQ(P.PacketSize(), 8192);
  EXPECT_EQ(P.ReceiveBufferSize(), 8192u);
  P.SetPacketSize(0);
  EXPECT_EQ(P.PacketSize(), -1);
  P.SetPacketSize(-7);
  EXPECT_EQ(P.PacketSize(), -1);

  P.SetPacketTimeout(20);
  EXPECT_EQ(P.PacketTimeout(), 70);
  P.SetPacketTimeout(0);
  EXPECT_EQ(P.PacketTimeout(), -1);
  P.SetPacketTimeout(50);
  EXPECT_EQ(P.PacketTimeout(), 50);
  P.SetPollingDelay(2);
  EXPECT_EQ(P.PollingDelay(), 5);
  EXPECT_EQ(P.PacketTimeout(), 50);
  // A longer poll raises a packet time limit that is now shorter than one poll.
  P.SetPollingDelay(301);
  EXPECT_EQ(P.PacketTimeout(), 301 + 301 * 40 / 100);
  P.SetPacketTimeout(-1);
  P.SetPollingDelay(20);
  EXPECT_EQ(P.PacketTimeout(), -1);
}

TEST(SerialProperties, PacketTransmitTime) {
  TSerialPortDriver P;
  P.SetPacketSize(96);
  EXPECT_EQ(P.PacketTransmitTime(), 100u);
  P.SetBaudRate(br115200);
  EXPECT_EQ(P.PacketTransmitTime(), 8u);  // 8.33 rounds down
  P.SetBaudRate(br110);
  EXPECT_EQ(P.PacketTransmitTime(), 8727u);  // 8727.3
  P.SetBaudRateValue(0);
  EXPECT_EQ(P.PacketTransmitTime(), 0u);
}

TEST(SerialPortNames, ComNumbersUseLinksBesideTheProgram) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  TSerialPortDriver::SetPortsFolder(Dir.path());
  TSimModem Modem;
  ASSERT_TRUE(Modem.IsValid());
  const std::string Folder = Dir.path().toStdString();

  EXPECT_EQ(TSerialPortDriver::DevicePath("\\\\.\\COM3"), "/dev/ttyS2");
  EXPECT_EQ(TSerialPortDriver::DevicePath("\\\\.\\COM12"), "/dev/ttyS11");
  ASSERT_TRUE(Modem.LinkAsPort(Folder, 3));
  EXPECT_EQ(TSerialPortDriver::DevicePath("\\\\.\\COM3"), Folder + "/ports/COM3");
  // A link to an unplugged adapter is still that port, not /dev/ttyS4.
  ASSERT_EQ(symlink("/nonexistent/ttyUSB7", (Folder + "/ports/COM5").c_str()), 0);
  EXPECT_EQ(TSerialPortDriver::DevicePath("\\\\.\\COM5"), Folder + "/ports/COM5");
  for (const char* Other : {"/dev/ttyACM0", "\\\\.\\COM", "\\\\.\\COM0", "\\\\.\\COM3x", "\\\\.\\COM-1"})
    EXPECT_EQ(TSerialPortDriver::DevicePath(Other), Other);

  TSerialPortDriver P;
  P.SetInputTimeout(100);
  P.SetPort(pnCOM3);
  ASSERT_TRUE(P.OpenPort());
  EXPECT_TRUE(P.SendText("ATZ\r"));
  EXPECT_TRUE(Modem.WaitForLines(1, 2000));
  EXPECT_EQ(Modem.Lines(), std::vector<std::string>{"ATZ"});
  P.ClosePort();
  P.SetPort(pnCOM5);
  EXPECT_FALSE(P.OpenPort());
  EXPECT_FALSE(P.IsOpen());

  // A replaced fallback leaves unlinked numbers without any device.
  TSerialPortDriver::SetPortFallback([](int) { return std::string(); });
  EXPECT_EQ(TSerialPortDriver::DevicePath("\\\\.\\COM4"), "");
  EXPECT_EQ(TSerialPortDriver::DevicePath("\\\\.\\COM3"), Folder + "/ports/COM3");
  P.SetPort(pnCOM4);
  EXPECT_FALSE(P.OpenPort());
  TSerialPortDriver::SetPortFallback(nullptr);
  EXPECT_EQ(TSerialPortDriver::DevicePath("\\\\.\\COM4"), "/dev/ttyS3");
  TSerialPortDriver::SetPortsFolder({});
}

TEST(SerialExclusive, SecondOpenFailsAndAKilledHolderLetsGo) {
  TSimModem Modem;
  ASSERT_TRUE(Modem.IsValid());
  int Ready[2];
  ASSERT_EQ(pipe(Ready), 0);
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    // Holds the port until killed, as a program that crashes mid-call would.
    TSerialDevice Holder;
    const char State = Holder.Open(Modem.SlavePath()) ? 'y' : 'n';
    [[maybe_unused]] auto W = write(Ready[1], &State, 1);
    for (;;) pause();
  }
  char State = 0;
  ASSERT_EQ(read(Ready[0], &State, 1), 1);
  close(Ready[0]);
  close(Ready[1]);
  EXPECT_EQ(State, 'y');
  TSerialPortDriver Port;
  Port.SetPortName(QString::fromStdString(Modem.SlavePath()));
  EXPECT_FALSE(Port.OpenPort());
  kill(Child, SIGKILL);
  waitpid(Child, nullptr, 0);
  // The modem still holds its side open: the port must be free all the same.
  ASSERT_TRUE(Port.OpenPort());
  TSerialDevice Second;
  EXPECT_FALSE(Second.Open(Modem.SlavePath()));
  Port.ClosePort();
  EXPECT_TRUE(Second.Open(Modem.SlavePath()));
}

TEST_F(SerialPty, OpenCloseAndQueriesWhenClosed) {
  ASSERT_TRUE(Port.OpenPort());
  EXPECT_TRUE(Port.IsOpen());
  EXPECT_TRUE(Port.OpenPort());
  const QString Name = Port.PortName();
  Port.SetPortName("/dev/null");
  Port.SetPort(pnCOM1);
  Port.SetInBufSize(4096);
  Port.SetOutBufSize(4096);
  EXPECT_EQ(Port.PortName(), Name);
  EXPECT_EQ(Port.Port(), pnCustom);
  EXPECT_EQ(Port.InBufSize(), 2048u);
  EXPECT_EQ(Port.OutBufSize(), 2048u);
  EXPECT_EQ(Port.InputCount(), 0u);
  EXPECT_EQ(Port.OutputFreeSpace(), 2048);
  EXPECT_TRUE(Port.ApplySettings());
  EXPECT_TRUE(Port.FlushBuffers(true, false));

  Port.ClosePort();
  EXPECT_FALSE(Port.IsOpen());
  Port.ClosePort();
  EXPECT_EQ(Port.InputCount(), 65535u);
  EXPECT_EQ(Port.OutputFreeSpace(), 65535);
  EXPECT_EQ(Port.LineStatus(), 0);
  EXPECT_FALSE(Port.ApplySettings());
  EXPECT_FALSE(Port.FlushBuffers(true, true));
  char Buffer[4];
  EXPECT_EQ(Port.ReadBuffer(Buffer, 4), 0u);
  EXPECT_EQ(Port.SendBuffer("AT\r", 3), 0u);
  EXPECT_FALSE(Port.SendText("AT\r"));

  // Reopening works, and a missing device or a plain file never counts as open.
  EXPECT_TRUE(Port.OpenPort());
  Port.ClosePort();
  Port.SetPortName("/nonexistent/ttyS0");
  EXPECT_FALSE(Port.OpenPort());
  QTemporaryDir Dir;
  const QString Plain = Dir.filePath("plain");
  {
    QFile F(Plain);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly));
  }
  Port.SetPortName(Plain);
  EXPECT_FALSE(Port.OpenPort());
  EXPECT_FALSE(Port.IsOpen());
}

TEST_F(SerialPty, SettingsReachTheLineAndAreReapplied) {
  ASSERT_TRUE(Port.OpenPort());
  termios T = SlaveSettings(Modem);
  EXPECT_EQ(cfgetospeed(&T), speed_t(B9600));
  EXPECT_EQ(T.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(T.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(T.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
  EXPECT_EQ(T.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
  EXPECT_EQ(T.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(T.c_oflag & OPOST, 0u);

  // Bytes waiting when the settings change are dropped with the flush.
  Modem.Send("xyz");
  ASSERT_TRUE(WaitInput(Port, 3));
  Port.SetBaudRate(br57600);
  EXPECT_EQ(Port.InputCount(), 0u);
  // A pseudo-terminal keeps 8 bits without parity whatever it is told; the
  // character format is checked on the settings built for the device below.
  Port.SetStopBits(sb2BITS);
  Port.SetHwFlow(hfRTSCTS);
  Port.SetSwFlow(sfXONXOFF);
  T = SlaveSettings(Modem);
  EXPECT_EQ(cfgetospeed(&T), speed_t(B57600));
  EXPECT_TRUE(T.c_cflag & CSTOPB);
  EXPECT_TRUE(T.c_cflag & CRTSCTS);
  EXPECT_EQ(T.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
  EXPECT_EQ(T.c_cc[VSTART], 0x11);
  EXPECT_EQ(T.c_cc[VSTOP], 0x13);
  Port.SetHwFlow(hfNONE);
  Port.SetSwFlow(sfNONE);
  Port.SetStopBits(sb1BITS);
  T = SlaveSettings(Modem);
  EXPECT_EQ(T.c_cflag & (CRTSCTS | CSTOPB), 0u);
  EXPECT_EQ(T.c_iflag & (IXON | IXOFF), 0u);

  // Rates without a B constant go through the free-rate interface.
  const std::pair<TBaudRate, unsigned> FreeRates[] = {
      {br14400, 14400}, {br56000, 56000}, {br128000, 128000}, {br256000, 256000}};
  for (const auto& [R, Speed] : FreeRates) {
    Port.SetBaudRate(R);
    termios2 T2{};
    ASSERT_EQ(ioctl(Modem.SlaveFd(), TCGETS2, &T2), 0);
    EXPECT_EQ(T2.c_ospeed, Speed) << Speed;
    EXPECT_EQ(T2.c_ispeed, Speed) << Speed;
  }
  Port.SetBaudRateValue(31250);
  termios2 T2{};
  ASSERT_EQ(ioctl(Modem.SlaveFd(), TCGETS2, &T2), 0);
  EXPECT_EQ(T2.c_ospeed, 31250u);

  // A rate of 0 would mean "hang up": it is refused, and an open with it fails.
  EXPECT_TRUE(Port.ApplySettings());
  Port.SetBaudRateValue(0);
  EXPECT_FALSE(Port.ApplySettings());
  Port.ClosePort();
  EXPECT_FALSE(Port.OpenPort());
  EXPECT_FALSE(Port.IsOpen());
}

TEST(SerialSettings, CharacterFormatOnTheDevice) {
  const tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
  const tcflag_t Parities[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR, PARENB | CMSPAR};
  termios T{};
  // Start from a cooked terminal with everything set, as a device may be left.
  T.c_iflag = ICRNL | IXON | IXOFF | INPCK | IGNPAR;
  T.c_oflag = OPOST | ONLCR;
  T.c_lflag = ICANON | ECHO | ISIG;
  T.c_cflag = CS8 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL;
  for (int Bits = db5BITS; Bits <= db8BITS; ++Bits)
    for (int Parity = ptNONE; Parity <= ptSPACE; ++Parity) {
      TLineSettings S;
      S.DataBits = TDataBits(Bits);
      S.Parity = TParity(Parity);
      S.StopBits = Parity % 2 ? sb1HALFBITS : sb1BITS;
      termios U = T;
      TSerialDevice::FillTermios(S, U);
      EXPECT_EQ(U.c_cflag & CSIZE, Sizes[Bits]);
      EXPECT_EQ(U.c_cflag & (PARENB | PARODD | CMSPAR), Parities[Parity]) << Parity;
      EXPECT_EQ(bool(U.c_cflag & CSTOPB), S.StopBits != sb1BITS);
      EXPECT_EQ(U.c_cflag & (CRTSCTS | HUPCL), 0u);
      EXPECT_EQ(U.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
      EXPECT_EQ(U.c_lflag & (ICANON | ECHO | ISIG), 0u);
      EXPECT_EQ(U.c_oflag & OPOST, 0u);
    }
}

TEST_F(SerialPty, ReadStopsAfterQuietTimeOrWhenFull) {
  ASSERT_TRUE(Port.OpenPort());
  // Echo and answer are 10 bytes: a read for 15 ends after InputTimeout of quiet.
  QElapsedTimer T;
  T.start();
  EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");
  EXPECT_GE(T.elapsed(), 100);
  EXPECT_EQ(Modem.Lines(), std::vector<std::string>{"ATZ"});

  // A read for exactly what comes returns without waiting out the quiet time.
  Port.SetInputTimeout(5000);
  T.restart();
  EXPECT_EQ(Exchange("AT\r", 9), "AT\r\r\nOK\r\n");
  EXPECT_LT(T.elapsed(), 5000);
  Port.SetInputTimeout(100);

  Modem.SetReply(TSimModem::TReply::Error);
  EXPECT_EQ(Exchange("ATZ\r", 20), "ATZ\r\r\nERROR\r\n");
  Modem.SetReply(TSimModem::TReply::Ok);
  Modem.SetEcho(false);
  EXPECT_EQ(Exchange("ATZ\r"), "\r\nOK\r\n");
  Modem.SetEcho(true);
  Modem.SetReply(TSimModem::TReply::Silent);
  EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r");
  Modem.SetReply(TSimModem::TReply::Ok);

  // A slow answer: a short quiet limit gives up after the echo, a long one gets it all,
  // and bytes that keep trickling in keep the read going past its limit.
  Modem.SetReplyDelay(400);
  Port.SetInputTimeout(50);
  EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r");
  EXPECT_EQ(ReadAll(Port, 15), "");
  Port.SetInputTimeout(600);
  EXPECT_EQ(ReadAll(Port, 15), "\r\nOK\r\n");
  Modem.SetReplyDelay(0, 40);
  Port.SetInputTimeout(120);
  EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");
}

TEST_F(SerialPty, SendTextAndItsTimeLimit) {
  ASSERT_TRUE(Port.OpenPort());
  EXPECT_TRUE(Port.SendText(""));
  EXPECT_TRUE(Port.SendText("AT\r"));
  ASSERT_TRUE(Modem.WaitForLines(1, 2000));
  EXPECT_EQ(Modem.Received(), "AT\r");  // nothing from the empty text

  // A modem that takes nothing: the line fills, and the send gives up after its limit.
  Modem.SetListening(false);
  std::string Big(1 << 20, 'x');
  QElapsedTimer T;
  T.start();
  const uint32_t Sent = Port.SendBufferTimed(Big.data(), uint32_t(Big.size()), 80);
  EXPECT_GE(T.elapsed(), 80);
  EXPECT_GT(Sent, 0u);
  EXPECT_LT(Sent, Big.size());
  EXPECT_FALSE(Port.SendText(Big));
  EXPECT_TRUE(Port.IsOpen());
}

TEST_F(SerialPty, LineStatusAndCheckLineStatus) {
  ASSERT_TRUE(Port.OpenPort());
  // A pseudo-terminal has no control lines: it counts as always ready.
  EXPECT_EQ(Port.LineStatus(), LineCTS | LineDSR);
  Port.SetCheckLineStatus(true);
  EXPECT_TRUE(Port.SendText("ATZ\r"));
  ASSERT_TRUE(Modem.WaitForLines(1, 2000));
  Port.ClosePort();
  Modem.ClearRecords();

  auto Device = std::make_unique<TNoLinesDevice>();
  TNoLinesDevice* Lines = Device.get();
  Port.SetDevice(std::move(Device));
  Port.SetOutputTimeout(10000);
  ASSERT_TRUE(Port.OpenPort());
  EXPECT_EQ(Lines->DTR, 1);
  EXPECT_EQ(Lines->RTS, 1);
  EXPECT_EQ(Port.LineStatus(), 0);
  QElapsedTimer T;
  T.start();
  EXPECT_FALSE(Port.SendText("ATZ\r"));
  EXPECT_LT(T.elapsed(), 10000);  // stops at once rather than running out of time
  Port.SetCheckLineStatus(false);
  EXPECT_TRUE(Port.SendText("AT\r"));
  ASSERT_TRUE(Modem.WaitForLines(1, 2000));
  EXPECT_EQ(Modem.Received(), "AT\r");

  Port.SetHwFlow(hfNONE);
  EXPECT_EQ(Lines->RTS, 0);
  Port.SetHwFlow(hfRTSCTS);
  EXPECT_EQ(Lines->RTS, 1);
  Port.ClosePort();
  Port.SetEnableDTROnOpen(false);
  ASSERT_TRUE(Port.OpenPort());
  EXPECT_EQ(Lines->DTR, 0);
}

TEST_F(SerialPty, PollingHandsOverDataAndHonoursPauses) {
  std::string Got;
  Port.OnReceiveData = [&](TSerialPortDriver* Sender, const void* Data, uint32_t Size) {
    EXPECT_EQ(Sender, &Port);
    Got.append(static_cast<const char*>(Data), Size);
  };
  Port.SetPollingDelay(10);
  ASSERT_TRUE(Port.OpenPort());
  Modem.Send("hello");
  EXPECT_TRUE(Pump([&] { return Got == "hello"; }, 2000)) << Got;

  // Paused polling takes nothing; pauses nest.
  Got.clear();
  Port.PausePolling();
  Port.PausePolling();
  Modem.Send("abc");
  ASSERT_TRUE(WaitInput(Port, 3));
  Pump([] { return false; }, 60);
  Port.ResumePolling();
  Pump([] { return false; }, 60);
  EXPECT_EQ(Port.InputCount(), 3u);
  EXPECT_EQ(Got, "");
  Port.ResumePolling();
  EXPECT_TRUE(Pump([&] { return Got == "abc"; }, 2000)) << Got;

  // Without a handler the bytes are taken and dropped.
  Port.OnReceiveData = nullptr;
  Modem.Send("def");
  ASSERT_TRUE(WaitInput(Port, 3));
  EXPECT_TRUE(Pump([&] { return Port.InputCount() == 0; }, 2000));

  // Polling stops with the port.
  Port.ClosePort();
  Port.OnReceiveData = [&](TSerialPortDriver*, const void*, uint32_t) { Got = "after close"; };
  Pump([] { return false; }, 50);
  EXPECT_NE(Got, "after close");
}

namespace {
class SerialPackets : public SerialPty {
protected:
  void SetUp() override {
    SerialPty::SetUp();
    Port.OnReceivePacket = [this](TSerialPortDriver*, const void* Data, uint32_t Size) {
      Packets.emplace_back(static_cast<const char*>(Data), Size);
    };
    Port.SetPollingDelay(10);
    Port.SetPacketSize(4);
    Port.SetPacketTimeout(60);
  }
  std::vector<std::string> Packets;
};
}  // namespace

TEST_F(SerialPackets, WholePacketsAndDiscardedRemainder) {
  ASSERT_TRUE(Port.OpenPort());
  Modem.Send("abcdefghij");
  ASSERT_TRUE(Pump([&] { return Packets.size() >= 2 && Port.InputCount() == 0; }, 2000));
  EXPECT_EQ(Packets, (std::vector<std::string>{"abcd", "efgh"}));
  Pump([] { return false; }, 100);
  EXPECT_EQ(Packets.size(), 2u);
}

TEST_F(SerialPackets, PassedRemainderAndNoTimeLimit) {
  Port.SetPacketMode(pmPass);
  ASSERT_TRUE(Port.OpenPort());
  Modem.Send("abcdefghij");
  ASSERT_TRUE(Pump([&] { return Packets.size() >= 3; }, 2000));
  EXPECT_EQ(Packets, (std::vector<std::string>{"abcd", "efgh", "ij"}));

  // Without a time limit a part packet waits for the rest of its bytes.
  Packets.clear();
  Port.SetPacketTimeout(-1);
  Modem.Send("kl");
  ASSERT_TRUE(Pump([&] { return Port.InputCount() == 2; }, 2000));
  Pump([] { return false; }, 150);
  EXPECT_TRUE(Packets.empty());
  EXPECT_EQ(Port.InputCount(), 2u);
  Modem.Send("mn");
  ASSERT_TRUE(Pump([&] { return !Packets.empty(); }, 2000));
  EXPECT_EQ(Packets, std::vector<std::string>{"klmn"});
}

TEST_F(SerialPty, VanishedDeviceGivesShortCountsAndAClosedPort) {
  // Opened by its link: the slave's number may soon be another test's pseudo-terminal.
  QTemporaryDir Dir;
  ASSERT_TRUE(Modem.LinkAsPort(Dir.path().toStdString(), 3));
  Port.SetPortName(Dir.path() + QStringLiteral("/ports/COM3"));
  // Bytes that came before the line dropped are still read; then the port is closed.
  Port.SetInputTimeout(10000);
  ASSERT_TRUE(Port.OpenPort());
  Modem.Send("ab");
  ASSERT_TRUE(WaitInput(Port, 2));
  std::thread Dropper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Modem.DropLine();
  });
  QElapsedTimer T;
  T.start();
  EXPECT_EQ(ReadAll(Port, 15), "ab");
  Dropper.join();
  EXPECT_LT(T.elapsed(), 10000);
  EXPECT_FALSE(Port.IsOpen());

  // A line whose other end is gone cannot be opened again.
  EXPECT_FALSE(Port.OpenPort());
  EXPECT_FALSE(Port.SendText("ATZ\r"));
}

TEST_F(SerialPty, VanishedDeviceWhileSendingOrPolling) {
  Port.SetOutputTimeout(10000);
  ASSERT_TRUE(Port.OpenPort());
  Modem.SetListening(false);
  std::string Big(1 << 20, 'x');
  std::thread Dropper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Modem.DropLine();
  });
  const uint32_t Sent = Port.SendBuffer(Big.data(), uint32_t(Big.size()));
  Dropper.join();
  EXPECT_LT(Sent, Big.size());
  EXPECT_FALSE(Port.IsOpen());
}

TEST(SerialVanish, PollingClosesAPortWhoseDeviceWentAway) {
  TSimModem Modem;
  ASSERT_TRUE(Modem.IsValid());
  TSerialPortDriver Port;
  Port.SetPortName(QString::fromStdString(Modem.SlavePath()));
  Port.SetPollingDelay(10);
  ASSERT_TRUE(Port.OpenPort());
  Modem.DropLine();
  EXPECT_TRUE(Pump([&] { return !Port.IsOpen(); }, 2000));
}

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
