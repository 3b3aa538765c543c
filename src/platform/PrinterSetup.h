#pragma once

#include <QString>

class QPrinter;
class QWidget;

// The printer the program prints on: the default printer until another is
// chosen in the printer set-up dialog, which also sets its paper and options.
class IPrinterSetup {
public:
  virtual ~IPrinterSetup() = default;
  // Shows the printer set-up dialog; a choice made there stays for the run.
  virtual void Setup(QWidget* Parent) = 0;
  // The chosen printer, or nullptr when no printer can be used.
  virtual QPrinter* Printer() = 0;
  // Why the chosen printer cannot be used (see IPrinterInfo); empty when it can.
  virtual QString Unavailable() = 0;
};

IPrinterSetup& PrinterSetup();
void SetPrinterSetup(IPrinterSetup* Replacement);
