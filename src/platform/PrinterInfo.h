#pragma once

#include <QString>

// Whether printing is possible at all: at least one printer and a default
// printer that can be selected.
class IPrinterInfo {
public:
  virtual ~IPrinterInfo() = default;
  bool PrinterAvailable() { return Unavailable().isEmpty(); }
  // Why no printer can be used, as the end of a sentence ("the print service
  // (CUPS) cannot be reached"); empty when one can.
  virtual QString Unavailable() = 0;
};

IPrinterInfo& PrinterInfo();
void SetPrinterInfo(IPrinterInfo* Replacement);

// The message for a print that found no printer: nothing printed, and why.
QString NothingPrintedText(const QString& Reason);
