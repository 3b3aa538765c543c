#pragma once

#include <QStringList>
#include <cstdint>
#include <memory>

class TfrmMain;
class TfrmDefaultTab;
class TfrmDial;
class TfrmDiallingOpt;
class TfrmMODEMDetect;
class TfrmDialler;
class TfrmOutsideLine;
class TfrmFind;
class TfrmQuickDial;
class TfrmSplash;
class TfrmPrintAddresses;
class TListReport;

// The program's windows, created once in their order and destroyed together.
class TProgram {
public:
  explicit TProgram(const QStringList& Arguments);
  ~TProgram();

  // The main window first, then the splash when wanted, then the rest.
  void CreateWindows();
  // Keeps serving events until the splash has been up MinimumMs, then hides it.
  void HoldSplash(uint32_t MinimumMs = 3000);

  std::unique_ptr<TfrmMain> Main;
  std::unique_ptr<TfrmDiallingOpt> DiallingOpt;
  std::unique_ptr<TfrmMODEMDetect> ModemDetect;
  std::unique_ptr<TfrmSplash> Splash;
  std::unique_ptr<TfrmDial> Dial;
  std::unique_ptr<TfrmFind> Find;
  std::unique_ptr<TfrmDefaultTab> DefaultTab;
  std::unique_ptr<TfrmQuickDial> QuickDial;
  std::unique_ptr<TfrmPrintAddresses> PrintAddresses;
  std::unique_ptr<TListReport> ListReport;
  std::unique_ptr<TfrmOutsideLine> OutsideLine;
  std::unique_ptr<TfrmDialler> Dialler;
  bool SplashWanted = true;
  uint32_t SplashStart = 0;

private:
  QStringList FArguments;
};

// The program entry: the lock, the windows, the event loop. Returns the exit status.
int RunTobrinel(int argc, char** argv);

extern const char* const ProgramTitle;
