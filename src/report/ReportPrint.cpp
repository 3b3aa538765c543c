#include "ReportPrint.h"

#include <QApplication>
#include <QPainter>
#include <QPrinter>
#include <QProgressDialog>

#include "PrinterInfo.h"
#include "PrinterSetup.h"
#include "Prompter.h"
#include "ReportPainter.h"
#include "ReportPreview.h"
#include "WaitCursor.h"

EPrintResult PrintLayout(const TReportLayout& Layout, QPrinter& Printer, QWidget* Parent) {
  Printer.setFullPage(true);
  Printer.setPageLayout(QPageLayout(Layout.Paper, Layout.Landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                    QMarginsF(0, 0, 0, 0)));
  Printer.setDocName(Layout.Title);
  const int Pages = Layout.PageCount();
  QProgressDialog Progress(Parent);
  Progress.setObjectName(QStringLiteral("frmPrintProgress"));
  Progress.setWindowTitle(QStringLiteral("Printing"));
  Progress.setLabelText(QStringLiteral("Printing page 1 of %1").arg(Pages));
  Progress.setRange(0, Pages);
  Progress.setWindowModality(Qt::ApplicationModal);
  Progress.setMinimumDuration(0);
  Progress.setAutoClose(false);
  Progress.setValue(0);
  QApplication::processEvents();

  QPainter Painter;
  if (!Painter.begin(&Printer)) return EPrintResult::Failed;
  TShapedTexts Shaped;
  for (int Page = 0; Page < Pages; ++Page) {
    Progress.setLabelText(QStringLiteral("Printing page %1 of %2").arg(Page + 1).arg(Pages));
    Progress.setValue(Page);
    QApplication::processEvents();
    if (Progress.wasCanceled()) {
      Printer.abort();
      Painter.end();
      return EPrintResult::Cancelled;
    }
    if (Page > 0 && !Printer.newPage()) {
      Painter.end();
      return EPrintResult::Failed;
    }
    PaintReportPageOn(Painter, Printer, Layout, Page, &Shaped);
  }
  Progress.setValue(Pages);
  return Painter.end() ? EPrintResult::Printed : EPrintResult::Failed;
}

namespace {

EPrintResult NoPrinter(QWidget* Parent) {
  Prompter().Error(Parent, NothingPrintedText(PrinterSetup().Unavailable()));
  return EPrintResult::NoPrinter;
}

}  // namespace

EPrintResult PrintToChosenPrinter(const TReportLayout& Layout, QWidget* Parent) {
  QPrinter* Printer = PrinterSetup().Printer();
  if (!Printer) return NoPrinter(Parent);
  const EPrintResult Result = PrintLayout(Layout, *Printer, Parent);
  // A printer that was there but refused the job must not pass for printed.
  if (Result == EPrintResult::Failed) {
    const QString Name = Printer->printerName();
    Prompter().Error(Parent, Name.isEmpty() ? QStringLiteral("The report could not be printed.")
                                            : QStringLiteral("The report could not be printed on %1.").arg(Name));
  }
  return Result;
}

namespace {

TReportLayout Run(TReport& Report, QWidget* Parent) {
  TReportLayout Layout;
  {
    TWaitCursor Wait;
    Layout = LayOutReport(Report);
  }
  if (Layout.MissingCharacters)
    Prompter().Warning(Parent, QString::fromLatin1(MissingCharactersText) + QLatin1Char('.'));
  return Layout;
}

}  // namespace

EPrintResult PrintReport(TReport& Report, QWidget* Parent) {
  if (!PrinterSetup().Printer()) return NoPrinter(Parent);
  const TReportLayout Layout = Run(Report, Parent);
  return PrintToChosenPrinter(Layout, Parent);
}

void PreviewReport(TReport& Report, QWidget* Parent) {
  const TReportLayout Layout = Run(Report, Parent);
  std::function<void(QWidget*)> Print;
  if (PrinterSetup().Printer()) Print = [&Layout](QWidget* Over) { PrintToChosenPrinter(Layout, Over); };
  TReportPreview Preview(Layout, Print, Parent);
  Preview.exec();
}
