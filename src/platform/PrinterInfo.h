#pragma once

#include <QString>

// Whether printing is possible at all: at least one printer and a default
// printer that can be selected.
class IPrinterInfo {
public:
  virtual ~IPrinterInfo() = default;
  bool PrinterAvailable() { return Unavailable(QString()).isEmpty(); }
  // Why the named printer (empty: the default printer) cannot be used, as the
  // end of a sentence ("the print service (CUPS) cannot be reached"); empty
  // when it can.
  virtual QString Unavailable(const QString& Printer) = 0;
};

IPrinterInfo& PrinterInfo();
void SetPrinterInfo(IPrinterInfo* Replacement);

// The message for a print that found no printer: nothing printed, and why.
QString NothingPrintedText(const QString& Reason);
