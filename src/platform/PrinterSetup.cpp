#include "PrinterSetup.h"

#include <QPushButton>
#include <QDialogButtonBox>
#include <QPrintDialog>
#include <QPrinter>
#include <memory>

#include "PrinterInfo.h"

namespace {

class TQtPrinterSetup : public IPrinterSetup {
public:
  void Setup(QWidget* Parent) override {
    QPrinter* Chosen = Printer();
    if (!Chosen) return;
    // Qt's print dialog in a set-up role: it chooses the printer, its paper and
    // its options, and prints nothing.
    QPrintDialog Dialog(Chosen, Parent);
    Dialog.setWindowTitle(QStringLiteral("Printer Setup"));
    Dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    Dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    Dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    Dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    Dialog.setOption(QAbstractPrintDialog::PrintShowPageSize, true);
    for (QDialogButtonBox* Buttons : Dialog.findChildren<QDialogButtonBox*>())
      if (QPushButton* Ok = Buttons->button(QDialogButtonBox::Ok)) Ok->setText(QStringLiteral("OK"));
    Dialog.exec();
  }

  QString Unavailable() override { return PrinterInfo().Unavailable(FPrinter ? FPrinter->printerName() : QString()); }

  QPrinter* Printer() override {
    if (!Unavailable().isEmpty()) return nullptr;
    if (!FPrinter) FPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return FPrinter->isValid() ? FPrinter.get() : nullptr;
  }

private:
  std::unique_ptr<QPrinter> FPrinter;
};

IPrinterSetup* Installed = nullptr;

IPrinterSetup& RealSetup() {
  // Made on first use: a printer object talks to the print system.
  static TQtPrinterSetup Real;
  return Real;
}

}  // namespace

IPrinterSetup& PrinterSetup() { return Installed ? *Installed : RealSetup(); }
void SetPrinterSetup(IPrinterSetup* Replacement) { Installed = Replacement; }
