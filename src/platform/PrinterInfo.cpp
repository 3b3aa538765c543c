#include "PrinterInfo.h"

#include <QPrinter>
#include <QPrinterInfo>
#include <cups/cups.h>

namespace {

// Asked only when no printer is listed: an unreachable service lists none either.
bool CupsReachable() {
  http_t* Connection = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 2000, nullptr);
  if (!Connection) return false;
  httpClose(Connection);
  return true;
}

class TCupsPrinters : public IPrinterInfo {
public:
  QString Unavailable() override {
    if (QPrinterInfo::availablePrinterNames().isEmpty())
      return CupsReachable() ? QStringLiteral("no printer is set up on this computer")
                             : QStringLiteral("the print service (CUPS) cannot be reached");
    const QPrinterInfo Default = QPrinterInfo::defaultPrinter();
    if (Default.isNull()) return QStringLiteral("no printer is set as the default printer");
    QPrinter Printer(Default);
    if (!Printer.isValid()) return QStringLiteral("the printer %1 cannot be used").arg(Default.printerName());
    return {};
  }
};

TCupsPrinters RealPrinters;
IPrinterInfo* Installed = nullptr;

}  // namespace

IPrinterInfo& PrinterInfo() { return Installed ? *Installed : RealPrinters; }
void SetPrinterInfo(IPrinterInfo* Replacement) { Installed = Replacement; }

QString NothingPrintedText(const QString& Reason) {
  return QStringLiteral("Nothing was printed: %1.  Preview can save the list as a PDF file instead.")
      .arg(Reason.isEmpty() ? QStringLiteral("no printer can be used") : Reason);
}
