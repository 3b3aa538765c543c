#pragma once

// Whether printing is possible at all: at least one printer and a default
// printer that can be selected.
class IPrinterInfo {
public:
  virtual ~IPrinterInfo() = default;
  virtual bool PrinterAvailable() = 0;
};

IPrinterInfo& PrinterInfo();
void SetPrinterInfo(IPrinterInfo* Replacement);
