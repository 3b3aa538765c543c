// The modem exchange and the dial-string rules, against the simulated modem on
// pseudo-terminals linked as numbered ports. No display. The probe is tested
// through the detection window.

#include "ModemExchange.h"
#include "SerialDrv.h"
#include "SimModem.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

TEST(DialStrings, LettersPausesPrefixesAndTimeLimits) {
  const std::vector<std::pair<std::string, std::string>> Resolved = {
      {"ab-c", "222"}, {"(9) 1#", "91#"}, {"1*2,3", "1*2,3"}, {" - -", ""},
      {"0800-FLOWERS", "08003569377"}, {"two", "896"}, {"+44 (0)20 / 7.9", "4402079"}, {"\xc3\xa9" "5z", "59"}};
  for (const auto& [Typed, Dialled] : Resolved) EXPECT_EQ(ResolveAlphabetChars(Typed), Dialled) << Typed;

  EXPECT_EQ(PauseDuration("9,,1,"), 12000);
  EXPECT_EQ(PauseDuration("9W1"), 0);
  EXPECT_EQ(BuildDialString("123", true, "9", ","), "9,123");
  EXPECT_EQ(BuildDialString("123", true, "two", "W"), "896W123");  // the pause text is never resolved
  EXPECT_EQ(BuildDialString("123", false, "9", ","), "123");
  EXPECT_EQ(DialCommand(true, "123"), "DT 123;");
  EXPECT_EQ(DialCommand(false, ""), "DP ;");

  EXPECT_EQ(DialCommandTimeout(true, "123"), 10000);
  EXPECT_EQ(DialCommandTimeout(false, "123"), 30000);
  EXPECT_EQ(DialCommandTimeout(true, "9,,123"), 10000 + 8000 + 5000);
  // Every pause or wait character buys the same allowance.
  for (const char* Paused : {"9W123", "9w123", "9@123"}) EXPECT_EQ(DialCommandTimeout(true, Paused), 15000) << Paused;
  EXPECT_GT(DialCommandTimeout(true, std::string(1 << 20, ',')), 0);  // no overflow
}

TEST(DialStrings, WhatThePersonIsToldOfADialTurnedDown) {
  const struct {
    const char* Result;
    const char* DialString;
    const char* Told;
  } Cases[] = {
      {"OK", "123", ""},
      {"CONNECT", "123", ""},
      {"BUSY", "123", "The line is busy."},
      {"NO DIALTONE", "123", "There is no dial tone. Check that the telephone line is connected to the MODEM."},
      {"NO DIAL TONE", "123", "There is no dial tone. Check that the telephone line is connected to the MODEM."},
      {"NO ANSWER", "123", "There was no answer."},
      {"NO CARRIER", "123", "There was no answer."},
      {"ERROR", "9W123", "The MODEM refused the number 9W123."},
      {"+CME ERROR: 3", "9,123", "The MODEM refused the number 9,123."},
      {"ERROR", "", "The MODEM refused the number."},
  };
  for (const auto& Case : Cases) EXPECT_EQ(DialResultText(Case.Result, Case.DialString), Case.Told) << Case.Result;
}

TEST(PortProblems, WhatThePersonIsToldOfAPortThatCannotBeUsed) {
  const struct {
    int Error;
    const char* Device;
    const char* Group;
    int Kind;
    const char* Told;
  } Cases[] = {
      {ENOENT, "/dev/ttyS4", "", TPortProblem::pkGone, "The MODEM on COM5 is no longer connected."},
      {ENODEV, "/dev/ttyACM0", "dialout", TPortProblem::pkGone, "The MODEM on COM5 is no longer connected."},
      {EIO, "/dev/ttyS4", "", TPortProblem::pkGone, "The MODEM on COM5 is no longer connected."},
      {EBUSY, "/dev/ttyS4", "dialout", TPortProblem::pkInUse, "COM5 is in use by another program."},
      {EWOULDBLOCK, "/dev/ttyS4", "dialout", TPortProblem::pkInUse, "COM5 is in use by another program."},
      {EACCES, "/dev/ttyS4", "dialout", TPortProblem::pkForbidden,
       "You may not use /dev/ttyS4: add your account to the dialout group."},
      {EACCES, "/dev/ttyUSB0", "uucp", TPortProblem::pkForbidden,
       "You may not use /dev/ttyUSB0: add your account to the uucp group."},
      // No group of its own to join: the one serial ports have.
      {EPERM, "/dev/ttyS4", "", TPortProblem::pkForbidden,
       "You may not use /dev/ttyS4: add your account to the dialout group."},
      {EACCES, "/dev/ttyS4", "root", TPortProblem::pkForbidden,
       "You may not use /dev/ttyS4: add your account to the dialout group."},
      {ENOTTY, "/tmp/plain", "", TPortProblem::pkOther, "COM5 cannot be used: Inappropriate ioctl for device."},
      {0, "", "", TPortProblem::pkNone, ""},
  };
  for (const auto& Case : Cases) {
    const TPortProblem Problem{Case.Error, Case.Device, Case.Group};
    EXPECT_EQ(Problem.Kind(), Case.Kind) << Case.Error;
    EXPECT_EQ(PortProblemText(5, Problem), Case.Told) << Case.Error;
  }
}

// Bytes as a modem sends them, whole or in pieces, and the answer read from them.
TEST(AnswerReader, WithOrWithoutEchoAndPastUnsolicitedLines) {
  const struct {
    const char* Name;
    std::vector<std::string> Pieces;
    bool Complete, Tentative;
    const char* Result;
  } Cases[] = {
      {"echo then result", {"ATM1\r\r\nOK\r\n"}, true, false, "OK"},
      {"byte pieces", {"AT", "M1", "\r", "\r", "\n", "O", "K", "\r"}, true, false, "OK"},
      {"busy", {"ATM1\r\r\nBUSY\r\n"}, true, false, "BUSY"},
      {"echo, no result yet", {"ATM1\r\r\n"}, false, false, ""},
      {"no echo", {"\r\nOK\r\n"}, false, true, "OK"},
      {"no echo, busy", {"\r\nNO DIALTONE\r\n"}, false, true, "NO DIALTONE"},
      {"ring before the echo", {"\r\nRING\r\n", "ATM1\r\r\nOK\r\n"}, true, false, "OK"},
      {"ring before a result without echo", {"\r\nRING\r\n\r\nOK\r\n"}, false, true, "OK"},
      {"ring after the echo", {"ATM1\r\r\nRING\r\n\r\nOK\r\n"}, true, false, "OK"},
      {"caller id after the echo", {"ATM1\r\r\nRING\r\n\r\nNMBR = 0123\r\n\r\nERROR\r\n"}, true, false, "ERROR"},
      // A result ahead of the echo was an earlier command's.
      {"stray result before the echo", {"\r\nNO CARRIER\r\nATM1\r"}, false, false, ""},
      {"stray result, echo, result", {"\r\nOK\r\nATM1\r\r\nERROR\r\n"}, true, false, "ERROR"},
      {"stray text before the echo", {"+FCERROR\r", "ATM1\r\r\nOK\r\n"}, true, false, "OK"},
      {"an echo of another command", {"ATM0\r\r\nOK\r\n"}, false, true, "OK"},
      // After the echo any line that is not unsolicited is the answer, known or not.
      {"unknown answer after the echo", {"ATM1\r\r\nVCON\r\n"}, true, false, "VCON"},
      {"unknown line without echo", {"\r\nVCON\r\n"}, false, false, ""},
      {"spaces around a result", {"\r\n OK \r\n"}, false, true, "OK"},
  };
  for (const auto& Case : Cases) {
    TAnswerReader Reader("ATM1");
    for (const std::string& Piece : Case.Pieces) Reader.Add(Piece);
    EXPECT_EQ(Reader.Complete(), Case.Complete) << Case.Name;
    EXPECT_EQ(Reader.Tentative(), Case.Tentative) << Case.Name;
    EXPECT_EQ(Reader.Result(), Case.Result) << Case.Name;
  }
  TAnswerReader Babble("ATM1");
  Babble.Add(std::string(5000, 'x'));
  EXPECT_EQ(Babble.Rest(), std::string(1024, 'x'));
}

// The exchange on port numbers that lead only to the simulated modems linked here.
class Exchange : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid() && Modem.IsValid());
    TSerialPortDriver::SetPortsFolder(Dir.path());
    TSerialPortDriver::SetPortFallback([](int) { return std::string(); });
    ASSERT_TRUE(Modem.LinkAsPort(Dir.path().toStdString(), 3));
    ConfigureModemPort(Port);
    Talk.OnBusy = [this](bool Busy) { BusyCalls.push_back(Busy); };
  }
  void TearDown() override {
    TSerialPortDriver::SetPortsFolder({});
    TSerialPortDriver::SetPortFallback(nullptr);
  }
  std::string Send(const std::string& Command, int PortNumber = 3) {
    std::string Reply;
    Talk.SendModemCommand(PortNumber, Command, Reply);
    EXPECT_FALSE(Talk.CommandBusy);
    EXPECT_FALSE(Port.IsOpen());  // every command opens and closes the port
    return Reply;
  }

  QTemporaryDir Dir;
  TSimModem Modem;
  TSerialPortDriver Port;
  TModemExchange Talk{Port};
  std::vector<bool> BusyCalls;
};

TEST_F(Exchange, SendsEachCommandAndTakesItsResultLine) {
  EXPECT_EQ(Talk.CommandTimeout, -1);
  const std::vector<std::string> Commands = {"M1", "DT 123;", "H", "Z"};
  for (const std::string& Command : Commands) {
    EXPECT_EQ(Send(Command), "OK");
    EXPECT_FALSE(Talk.CommandTimedOut);
  }
  EXPECT_EQ(Talk.CommandTimeout, 10000);
  EXPECT_EQ(Modem.Received(), "ATM1\rATDT 123;\rATH\rATZ\r");
  EXPECT_EQ(BusyCalls, std::vector<bool>({true, false, true, false, true, false, true, false}));

  // Any complete answer counts, whatever it says.
  Modem.SetReply(TSimModem::TReply::Error);
  EXPECT_EQ(Send("M0"), "ERROR");
  EXPECT_FALSE(Talk.CommandTimedOut);

  // A slow answer, a byte at a time, while the port's own polling runs as fast
  // as it can: every byte still reaches the exchange.
  Modem.SetReply(TSimModem::TReply::Ok);
  Modem.SetReplyDelay(30, 15);
  Port.SetPollingDelay(5);
  EXPECT_EQ(Send("H"), "OK");
  EXPECT_FALSE(Talk.CommandTimedOut);
}

TEST_F(Exchange, AnswersWithoutEchoOrAfterUnsolicitedLines) {
  Talk.CommandTimeout = 20000;  // only a fault waits it out
  struct TCase {
    const char* Name;
    std::function<void()> Arrange;
    const char* Command;
    const char* Reply;
  };
  const std::vector<TCase> Cases = {
      {"echo off", [&] { Modem.SetEcho(false); }, "M1", "OK"},
      {"echo off, busy", [&] { Modem.SetReplyTo("ATD", "BUSY"); }, "DT 123;", "BUSY"},
      {"ring before the echo", [&] { Modem.SetEcho(true); Modem.Interject("\r\nRING\r\n"); }, "M1", "OK"},
      {"stray result before the echo", [&] { Modem.Interject("\r\nOK\r\n"); }, "DT 123;", "BUSY"},
      {"ring, then no echo", [&] { Modem.SetEcho(false); Modem.Interject("\r\nRING\r\n"); }, "H", "OK"},
  };
  for (const TCase& Case : Cases) {
    Case.Arrange();
    EXPECT_EQ(Send(Case.Command), Case.Reply) << Case.Name;
    EXPECT_FALSE(Talk.CommandTimedOut) << Case.Name;
    EXPECT_EQ(Talk.CommandFailure, cfNone) << Case.Name;
  }
}

TEST_F(Exchange, UnansweredCommandsRunOutOfTime) {
  Talk.CommandTimeout = 300;
  struct TCase {
    const char* Name;
    std::function<void()> Arrange;
    int PortNumber;
    TCommandFailure Failure;
  };
  const std::vector<TCase> Cases = {
      {"silent", [&] { Modem.SetReply(TSimModem::TReply::Silent); }, 3, cfNoAnswer},
      {"echo only", [&] { Modem.SetEcho(true); }, 3, cfNoAnswer},
      {"no device", [] {}, 4, cfPortUnavailable},
      // The line goes while the exchange waits: the closed port's 65535 is no byte count.
      {"line dropped", [&] { QTimer::singleShot(50, [&] { Modem.DropLine(); }); }, 3, cfPortLost},
  };
  for (const TCase& Case : Cases) {
    Case.Arrange();
    const std::string Reply = Send("M1", Case.PortNumber);
    EXPECT_TRUE(Talk.CommandTimedOut) << Case.Name;
    EXPECT_EQ(Talk.CommandFailure, Case.Failure) << Case.Name;
    EXPECT_LT(Reply.size(), 16u) << Case.Name;
  }
}

// A port that cannot be used ends the exchange at once, whatever its time
// limit, and says why; so does a device pulled out while the exchange waits.
TEST_F(Exchange, PortsThatCannotBeUsedEndTheExchangeAtOnce) {
  Talk.CommandTimeout = 60000;  // beyond the test's own limit: waiting it out fails the test
  Modem.SetReply(TSimModem::TReply::Silent);
  const std::string Folder = Dir.path().toStdString();
  ASSERT_EQ(symlink("/nonexistent/ttyUSB7", (Folder + "/ports/COM5").c_str()), 0);
  TSerialDevice Holder;  // another copy of the program, say
  struct TCase {
    const char* Name;
    std::function<void()> Arrange;
    int PortNumber;
    TCommandFailure Failure;
    const char* Told;
  };
  const std::vector<TCase> Cases = {
      {"unplugged adapter", [] {}, 5, cfPortUnavailable, "The MODEM on COM5 is no longer connected."},
      {"held", [&] { ASSERT_TRUE(Holder.Open(Modem.SlavePath())); }, 3, cfPortUnavailable,
       "COM3 is in use by another program."},
      {"pulled out", [&] { Holder.Close(); QTimer::singleShot(50, [&] { Modem.DropLine(); }); }, 3, cfPortLost,
       "The MODEM on COM3 is no longer connected."},
  };
  for (const TCase& Case : Cases) {
    Case.Arrange();
    Send("M1", Case.PortNumber);
    EXPECT_TRUE(Talk.CommandTimedOut) << Case.Name;
    EXPECT_EQ(Talk.CommandFailure, Case.Failure) << Case.Name;
    EXPECT_EQ(PortProblemText(Case.PortNumber, Talk.PortError), Case.Told) << Case.Name;
  }
  EXPECT_EQ(Modem.Lines(), std::vector<std::string>{"ATM1"});  // sent only once the port was free
}

TEST_F(Exchange, CancelEndsTheWaitAndStopsTheDialling) {
  Talk.CommandTimeout = 60000;
  Modem.SetReplyTo("ATD", "");
  QTimer::singleShot(0, [&] {
    Talk.Cancel();  // not yet talking: nothing to end
  });
  QCoreApplication::processEvents();
  std::function<void()> CancelOnceDialled = [&] {
    if (Modem.Lines().empty()) QTimer::singleShot(5, CancelOnceDialled);
    else Talk.Cancel();
  };
  QTimer::singleShot(5, CancelOnceDialled);
  Send("DT 123;");
  EXPECT_TRUE(Talk.CommandTimedOut);
  EXPECT_EQ(Talk.CommandFailure, cfCancelled);
  ASSERT_TRUE(Modem.WaitForLines(2, 2000));
  EXPECT_EQ(Modem.Lines(), std::vector<std::string>({"ATDT 123;", ""}));
  // The next exchange is not cancelled by the last one's request.
  EXPECT_EQ(Send("H"), "OK");
  EXPECT_EQ(Talk.CommandFailure, cfNone);
}

TEST_F(Exchange, ABabblingLineKeepsTheAnswerBounded) {
  Talk.CommandTimeout = 300;
  Modem.SetEcho(false);
  Modem.SetReply(TSimModem::TReply::Silent);
  Modem.Send(std::string(200000, 'x'), 20);
  const std::string Reply = Send("M1");
  EXPECT_TRUE(Talk.CommandTimedOut);
  EXPECT_EQ(Reply.size(), TModemExchange::MaxReply);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
