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

#include <cerrno>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

TEST(DialStrings, LettersPausesPrefixesAndTimeLimits) {
  const std::vector<std::pair<std::string, std::string>> Resolved = {{"ab-c", "222"},
                                                                     {"(9) 1#", "91#"},
                                                                     {"1*2,3", "1*2,3"},
                                                                     {" - -", ""},
                                                                     {"0800-FLOWERS", "08003569377"},
                                                                     {"two", "896"},
                                                                     {"+44 (0)20 / 7.9", "4402079"},
                                                                     {"\xc3\xa9"
                                                                      "5z",
                                                                      "59"}};
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

TEST(PortProblems, WhatThePersonIsToldOfAPortThatCannotBeUsed) {
  const struct {
    int Error;
    const char* Device;
    const char* Group;
    int Kind;
    const char* Told;
  } Cases[] = {
      {EACCES, "/dev/ttyUSB0", "uucp", TPortProblem::pkForbidden,
       "You may not use /dev/ttyUSB0: add your account to the uucp group."},
      // No group of its own to join: the one serial ports have.
      {EACCES, "/dev/ttyS4", "root", TPortProblem::pkForbidden,
       "You may not use /dev/ttyS4: add your account to the dialout group."},
      {EBUSY, "/dev/ttyS4", "dialout", TPortProblem::pkInUse, "COM5 is in use by another program."},
      {EIO, "/dev/ttyS4", "", TPortProblem::pkGone, "The MODEM on COM5 is no longer connected."},
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
      {"echo then result, in pieces", {"AT", "M1\r", "\r\nOK", "\r\n"}, true, false, "OK"},
      {"echo, no result yet", {"ATM1\r\r\n"}, false, false, ""},
      {"no echo", {"\r\nNO DIALTONE\r\n"}, false, true, "NO DIALTONE"},
      {"ring before the echo", {"\r\nRING\r\n", "ATM1\r\r\nOK\r\n"}, true, false, "OK"},
      {"caller id after the echo", {"ATM1\r\r\nRING\r\n\r\nNMBR = 0123\r\n\r\nBUSY\r\n"}, true, false, "BUSY"},
      // A result ahead of the echo was an earlier command's.
      {"stray result, echo, result", {"\r\nOK\r\nATM1\r\r\nERROR\r\n"}, true, false, "ERROR"},
      // After the echo any line that is not unsolicited is the answer, known or not; before it, only results.
      {"unknown answer after the echo", {"ATM1\r\r\nVCON\r\n"}, true, false, "VCON"},
      {"unknown line without echo", {"\r\nVCON\r\n"}, false, false, ""},
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

TEST_F(Exchange, ABabblingLineKeepsTheAnswerBounded) {
  Talk.CommandTimeout = 300;
  Modem.SetEcho(false);
  Modem.SetReply(TSimModem::TReply::Silent);
  Modem.Send(std::string(200000, 'x'), 20);
  const std::string Reply = Send("M1");
  EXPECT_TRUE(Talk.CommandTimedOut);
  EXPECT_EQ(Reply.size(), TModemExchange::MaxReply);
}

// The answer to a dial command: which lines end it, and what the person is told.
TEST(AnswerReader, DialAnswersAndWhatTheyTell) {
  const struct {
    const char* Name;
    std::vector<std::string> Pieces;
    bool Complete, Tentative;
    const char* Result;
  } Cases[] = {
      {"stray result before the echo, no answer yet", {"\r\nOK\r\n", "ATDT 123;\r\r\n"}, false, false, ""},
      {"connect with a speed, echo off", {"\r\nCONNECT 9600\r\n"}, false, true, "CONNECT 9600"},
      {"connect with a speed after the echo", {"ATDT 123;\r\r\nCONNECT 9600\r\n"}, true, false, "CONNECT 9600"},
      {"no carrier, echo off", {"\r\nNO CARRIER\r\n"}, false, true, "NO CARRIER"},
  };
  for (const auto& Case : Cases) {
    TAnswerReader Reader("ATDT 123;");
    for (const std::string& Piece : Case.Pieces) Reader.Add(Piece);
    EXPECT_EQ(Reader.Complete(), Case.Complete) << Case.Name;
    EXPECT_EQ(Reader.Tentative(), Case.Tentative) << Case.Name;
    EXPECT_EQ(Reader.Result(), Case.Result) << Case.Name;
  }
  const std::pair<const char*, const char*> Told[] = {
      {"NO CARRIER", "There was no answer."},
      {"NO ANSWER", "There was no answer."},
      {"BUSY", "The line is busy."},
      {"NO DIAL TONE", "There is no dial tone. Check that the telephone line is connected to the MODEM."},
      {"ERROR", "The MODEM refused the number 123."},
      {"OK", ""},
      {"CONNECT 9600", ""},
  };
  for (const auto& [Result, Text] : Told) EXPECT_EQ(DialResultText(Result, "123"), Text) << Result;
  for (const char* Final : {"CONNECT 9600", "CONNECT", "NO CARRIER", "+CME ERROR: 3"})
    EXPECT_TRUE(IsFinalResult(Final)) << Final;
  for (const char* NotFinal : {"CONNECTED", "RING", "NO", ""}) EXPECT_FALSE(IsFinalResult(NotFinal)) << NotFinal;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
