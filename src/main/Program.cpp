#include "Program.h"

#include <QApplication>

#include "Dflttab.h"
#include "Dial.h"
#include "Dialler.h"
#include "Dialopt.h"
#include "MDetect.h"
#include "Olineopt.h"
#include "Find.h"
#include "IniFile.h"
#include "InstanceLock.h"
#include "Listrpt.h"
#include "Main.h"
#include "Print.h"
#include "ProgramIcon.h"
#include "ProgramPaths.h"
#include "Prompter.h"
#include "Qdial.h"
#include "Settings.h"
#include "Splash.h"
#include "TickCounter.h"
#include "Verinfo.h"

const char* const ProgramTitle = "Tobrinel Address Manager and Phone Dialler";

TProgram::TProgram(const QStringList& Arguments) : FArguments(Arguments) {}

TProgram::~TProgram() {
  // The main window writes its settings as it goes.
  Splash.reset();
  Dialler.reset();
  OutsideLine.reset();
  ListReport.reset();
  PrintAddresses.reset();
  QuickDial.reset();
  DefaultTab.reset();
  Find.reset();
  Dial.reset();
  ModemDetect.reset();
  DiallingOpt.reset();
  Main.reset();
}

void TProgram::CreateWindows() {
  Main = std::make_unique<TfrmMain>(FArguments);
  DiallingOpt = std::make_unique<TfrmDiallingOpt>(Main.get());
  Main->SetDiallingOptions(DiallingOpt.get());
  ModemDetect = std::make_unique<TfrmMODEMDetect>(Main.get());
  Main->SetModemDetection(ModemDetect.get());
  SplashWanted = OpenSettings()->ReadBool("StartUp", "ShowSplash", true);
  ReadVersionTexts(ProgramPath().toStdString());
  if (SplashWanted) {
    Splash = std::make_unique<TfrmSplash>();
    Splash->show();
    Splash->repaint();
    QApplication::processEvents();
    SplashStart = TickCounter().Now();
  }
  Dial = std::make_unique<TfrmDial>(ModemDetect.get(), DiallingOpt.get(), Main.get());
  Main->SetDialWindow(Dial.get());
  Find = std::make_unique<TfrmFind>(Main.get());
  Main->SetFindDialog(Find.get());
  DefaultTab = std::make_unique<TfrmDefaultTab>(Main.get());
  Main->SetDefaultTabDialog(DefaultTab.get());
  QuickDial = std::make_unique<TfrmQuickDial>(Main.get());
  Main->SetQuickDialWindow(QuickDial.get());
  PrintAddresses = std::make_unique<TfrmPrintAddresses>(Main.get());
  ListReport = std::make_unique<TListReport>();
  PrintAddresses->SetReport(ListReport.get());
  Main->SetPrintAddressesDialog(PrintAddresses.get());
  OutsideLine = std::make_unique<TfrmOutsideLine>(Main.get());
  Main->SetOutsideLineWindow(OutsideLine.get());
  Dial->SetOutsideLine(OutsideLine.get());
  Dialler = std::make_unique<TfrmDialler>(Main.get());
  Main->SetDiallerWindow(Dialler.get());
}

void TProgram::HoldSplash(uint32_t MinimumMs) {
  if (!Splash) return;
  while (TicksSince(SplashStart, TickCounter().Now()) < MinimumMs) TickCounter().Pause(10);
  Splash->hide();
}

int RunTobrinel(int argc, char** argv) {
  // Before anything else, the display included: a second copy just ends. A
  // lock that cannot be made anywhere is no sign of one: the program runs.
  TInstanceLock Lock;
  if (Lock.TryAcquire("TOBRINEL") == TInstanceLock::EResult::HeldByAnother) return 0;
  QApplication App(argc, argv);
  SetApplicationTitle(QString::fromLatin1(ProgramTitle));
  QApplication::setWindowIcon(ProgramIcon());
  // Lets the desktop match the windows to the installed entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("tobrinel"));
  QStringList Arguments = QApplication::arguments();
  Arguments.removeFirst();
  int Status = 0;
  {
    TProgram Program(Arguments);
    Program.CreateWindows();
    Program.HoldSplash();
    // Other windows (the help viewer) must not keep the program alive.
    QObject::connect(Program.Main.get(), &TfrmMain::Closed, &App, &QCoreApplication::quit, Qt::QueuedConnection);
    Program.Main->show();
    Status = App.exec();
    Lock.Release();
  }
  return Status;
}
