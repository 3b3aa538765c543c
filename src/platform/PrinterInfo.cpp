#include "PrinterInfo.h"

#include <QPrinter>
#include <QPrinterInfo>

namespace {

class TCupsPrinters : public IPrinterInfo {
public:
  bool PrinterAvailable() override {
    if (QPrinterInfo::availablePrinterNames().isEmpty()) return false;
    const QPrinterInfo Default = QPrinterInfo::defaultPrinter();
    if (Default.isNull()) return false;
    QPrinter Printer(Default);
    return Printer.isValid();
  }
};

TCupsPrinters RealPrinters;
IPrinterInfo* Installed = nullptr;

}  // namespace

IPrinterInfo& PrinterInfo() { return Installed ? *Installed : RealPrinters; }
void SetPrinterInfo(IPrinterInfo* Replacement) { Installed = Replacement; }
