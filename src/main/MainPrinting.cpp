// The main window: printer set-up and printing.

#include "Main.h"

#include "MainShared.h"
#include "Print.h"
#include "PrinterSetup.h"

using namespace MainWindow;

void TfrmMain::mnuFPrinterSetupClick() {
  UpdateCurrent();
  PrinterSetup().Setup(this);
}

void TfrmMain::mnuFPrintClick() {
  UpdateCurrent();
  if (FPrintAddresses && FBook->Items->Count > 0) FPrintAddresses->Execute(*FBook);
}
