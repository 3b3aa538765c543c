#include "PrinterInfo.h"

#include <QPrinter>
#include <QPrinterInfo>
#include <cstring>
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
  QString Unavailable(const QString& Name) override {
    if (QPrinterInfo::availablePrinterNames().isEmpty())
      return CupsReachable() ? QStringLiteral("no printer is set up on this computer")
                             : QStringLiteral("the print service (CUPS) cannot be reached");
    const QPrinterInfo Info = Name.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo::printerInfo(Name);
    if (Info.isNull())
      return Name.isEmpty() ? QStringLiteral("no printer is set as the default printer")
                            : QStringLiteral("the printer %1 is no longer set up").arg(Name);
    QPrinter Printer(Info);
    if (!Printer.isValid()) return QStringLiteral("the printer %1 cannot be used").arg(Info.printerName());
    // A job sent to a queue that refuses jobs is lost without a word from Qt.
    if (!Accepting(Info.printerName()))
      return QStringLiteral("the printer %1 is not accepting jobs").arg(Info.printerName());
    return {};
  }

private:
  static bool Accepting(const QString& Name) {
    cups_dest_t* Dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, Name.toUtf8().constData(), nullptr);
    if (!Dest) return true;  // not known to CUPS itself: let the job tell
    const char* Value = cupsGetOption("printer-is-accepting-jobs", Dest->num_options, Dest->options);
    const bool Result = !Value || std::strcmp(Value, "false") != 0;
    cupsFreeDests(1, Dest);
    return Result;
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
