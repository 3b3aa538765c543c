// The Print Addresses dialog, the preview and printing, used as a user would.
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "Listrpt.h"
#include "MainTestKit.h"
#include "Print.h"
#include "ReportPreview.h"
#include "ReportPrint.h"

namespace {

// Runs Inside once the modal window opened by Open is up.
void WhileModal(const std::function<void()>& Inside, const std::function<void()>& Open) {
  QTimer::singleShot(0, [Inside] {
    QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
    Inside();
    // A failed check must not leave the window waiting for a hand.
    if (QTest::currentTestFailed())
      if (QWidget* Modal = QApplication::activeModalWidget()) Modal->close();
  });
  Open();
}

QStringList Items(QComboBox* List) {
  QStringList Result;
  for (int i = 0; i < List->count(); ++i) Result << List->itemText(i);
  return Result;
}

TNames Numbered(int Count) {
  static std::vector<std::string> Keep;
  Keep.clear();
  Keep.reserve(Count);
  TNames Names;
  for (int i = 1; i <= Count; ++i) {
    Keep.push_back(QStringLiteral("Name%1").arg(i, 2, 10, QLatin1Char('0')).toStdString());
    Names.push_back({Keep.back().c_str(), "X"});
  }
  return Names;
}

}  // namespace

class TPrintTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFakePlatform> Platform;
  std::unique_ptr<TWindows> Windows;
  std::unique_ptr<TfrmPrintAddresses> Dialog;
  std::unique_ptr<TListReport> Report;

  void Open(const TNames& Names) {
    BookWithLastUse(*Platform, Names);
    Windows = std::make_unique<TWindows>();
    Dialog = std::make_unique<TfrmPrintAddresses>(Windows->Main.get());
    Report = std::make_unique<TListReport>();
    Dialog->SetReport(Report.get());
    (*Windows)->SetPrintAddressesDialog(Dialog.get());
    QVERIFY(Windows->Activate());
  }

  // Opens the dialog with Ctrl+P, as a user would.
  void PressPrint(const std::function<void()>& Inside) {
    // The shortcut needs the main window active again after a dialog closed.
    QApplication::setActiveWindow(Windows->Main.get());
    QVERIFY(QTest::qWaitForWindowActive(Windows->Main.get()));
    WhileModal(Inside, [this] { QTest::keyClick(Windows->Main.get(), Qt::Key_P, Qt::ControlModifier); });
  }

private slots:
  void init() { Platform = std::make_unique<TFakePlatform>(); }
  void cleanup() {
    Dialog.reset();
    Report.reset();
    Windows.reset();
    Platform.reset();
  }

  void commandsCommitFirstAndFollowTheBook() {
    Open({{"Adams", "Ann"}, {"Baker", "Bob"}});
    TfrmMain& Main = **Windows;
    QVERIFY(Main.mnuFPrint->isEnabled());
    Main.edtFirstName->setFocus();
    QTest::keyClicks(Main.edtFirstName, "e");
    Main.mnuFPrinterSetup->trigger();
    QCOMPARE(Platform->PrinterChoice.SetupCalls, 1);
    QCOMPARE(static_cast<TAddressItem*>(Main.Book().Items->GetItem(0))->FirstName.str(), std::string("Anne"));

    bool Shown = false;
    PressPrint([&] {
      Shown = Dialog->isVisible();
      QCOMPARE(Items(Dialog->cboFromAddress), QStringList({"Adams, Anne", "Baker, Bob"}));
      QCOMPARE(Dialog->cboToAddress->currentText(), QStringLiteral("Baker, Bob"));
      QTest::keyClick(Dialog.get(), Qt::Key_Escape);
    });
    QVERIFY(Shown);
    QCOMPARE(Dialog->result(), int(QDialog::Rejected));

    Platform->Prompter.Answers = {EAnswer::No};
    Main.mnuFNew->trigger();
    QVERIFY(!Main.mnuFPrint->isEnabled());
  }

  void rangeListsNeverCross() {
    Open(Numbered(10));
    PressPrint([&] {
      QComboBox* From = Dialog->cboFromAddress;
      QComboBox* To = Dialog->cboToAddress;
      QCOMPARE(From->count(), 10);
      // To: the 8th entry; the From list now ends there.
      To->setFocus();
      QTest::keyClick(To, Qt::Key_Up);
      QTest::keyClick(To, Qt::Key_Up);
      QCOMPARE(To->currentText(), QStringLiteral("Name08, X"));
      QCOMPARE(From->count(), 8);
      // From: the 5th entry; To holds the 5th to the 10th and still shows the 8th.
      From->setFocus();
      for (int i = 0; i < 4; ++i) QTest::keyClick(From, Qt::Key_Down);
      QCOMPARE(From->currentText(), QStringLiteral("Name05, X"));
      QCOMPARE(Items(To).first(), QStringLiteral("Name05, X"));
      QCOMPARE(Items(To).last(), QStringLiteral("Name10, X"));
      QCOMPARE(To->currentText(), QStringLiteral("Name08, X"));
      // To: the 6th entry; From offers the 1st to the 6th, the 5th still chosen.
      To->setFocus();
      QTest::keyClick(To, Qt::Key_Up);
      QTest::keyClick(To, Qt::Key_Up);
      QCOMPARE(To->currentText(), QStringLiteral("Name06, X"));
      QCOMPARE(Items(From).size(), 6);
      QCOMPARE(Items(From).last(), QStringLiteral("Name06, X"));
      QCOMPARE(From->currentText(), QStringLiteral("Name05, X"));
      // The range goes to the report as chosen.
      Dialog->SetReportParameters();
      QCOMPARE(Report->RangeFirst->Surname.str(), std::string("Name05"));
      QCOMPARE(Report->RangeLast->Surname.str(), std::string("Name06"));
      Dialog->btnCancel->click();
    });
    // Every opening starts with the whole book again.
    PressPrint([&] {
      QCOMPARE(Dialog->cboFromAddress->count(), 10);
      QCOMPARE(Dialog->cboToAddress->currentIndex(), 9);
      Dialog->reject();
    });
  }

  void textsFontsAndJustification() {
    Open({{"Adams", "Ann"}});
    QCOMPARE(Dialog->edtHeader->text(), QLatin1String(DefaultText));
    QFont Wide(QStringLiteral("Liberation Serif"), 28);
    Wide.setUnderline(true);
    Wide.setStrikeOut(true);
    Platform->Fonts.Answers = {Wide, std::nullopt};
    PressPrint([&] {
      QCOMPARE(Dialog->edtHeader->text(), QString());
      QCOMPARE(Dialog->edtFooter->text(), QString());
      QVERIFY(!Dialog->btnHeaderFont->isEnabled());
      QVERIFY(!Dialog->FooterJustify->isEnabled());
      QTest::keyClicks(Dialog->edtHeader, "   ");
      QVERIFY(!Dialog->btnHeaderFont->isEnabled());
      QVERIFY(!Dialog->HeaderJustify->isEnabled());
      QTest::keyClicks(Dialog->edtHeader, "Hi");
      QVERIFY(Dialog->btnHeaderFont->isEnabled());
      QVERIFY(Dialog->HeaderJustify->isEnabled());
      QVERIFY(!Dialog->btnFooterFont->isEnabled());

      QTest::mouseClick(Dialog->btnHeaderFont, Qt::LeftButton);
      QCOMPARE(Dialog->fdlgHeaderFont.family(), QStringLiteral("Liberation Serif"));
      QCOMPARE(Dialog->fdlgHeaderFont.pointSizeF(), 16.0);
      QVERIFY(!Dialog->fdlgHeaderFont.underline() && !Dialog->fdlgHeaderFont.strikeOut());
      QCOMPARE(Platform->Fonts.Calls.size(), size_t(1));
      QCOMPARE(Platform->Fonts.Calls[0].first.pointSizeF(), 16.0);  // Arial 16 pt bold at first
      QVERIFY(Platform->Fonts.Calls[0].first.bold());
      QVERIFY(Platform->Fonts.Calls[0].second.ScalableOnly);
      QCOMPARE(Platform->Fonts.Calls[0].second.MaxPointSize, 16);
      // A cancelled dialog leaves the font alone.
      QTest::mouseClick(Dialog->btnHeaderFont, Qt::LeftButton);
      QCOMPARE(Dialog->fdlgHeaderFont.family(), QStringLiteral("Liberation Serif"));

      TfrmPrintAddresses::SetItemIndex(Dialog->HeaderJustify, 2);
      Dialog->SetReportParameters();
      QCOMPARE(Report->rlHeader->Text, QStringLiteral("   Hi"));
      QCOMPARE(Report->rlHeader->Alignment, Qt::AlignRight);
      QCOMPARE(Report->rlHeader->Font().pointSizeF(), 16.0);
      QCOMPARE(Report->rlAddressBook->Text, QStringLiteral("BOOK.ABK"));
      Dialog->btnCancel->click();
    });
    // The texts, fonts and justification stay for the next opening.
    PressPrint([&] {
      QCOMPARE(Dialog->edtHeader->text(), QStringLiteral("   Hi"));
      QCOMPARE(TfrmPrintAddresses::ItemIndex(Dialog->HeaderJustify), 2);
      QCOMPARE(Dialog->fdlgHeaderFont.family(), QStringLiteral("Liberation Serif"));
      Dialog->reject();
    });
  }

  // OK prints on the chosen printer and closes; when nothing could be
  // printed it says so and why, and the dialog stays open.
  void okPrintsOnTheChosenPrinterOrSaysWhyNot_data() {
    QTest::addColumn<QString>("printer");  // "none", or the PDF file the printer writes
    QTest::addColumn<QString>("reason");   // why the print system has no printer
    QTest::addColumn<QString>("box");      // the error shown, "" for none
    QTest::newRow("printed") << "printed.pdf"
                             << ""
                             << "";
    QTest::newRow("print service out of reach")
        << "none"
        << "the print service (CUPS) cannot be reached"
        << "Nothing was printed: the print service (CUPS) cannot be reached.  Preview can save the list as a PDF "
           "file instead.";
    QTest::newRow("no printer set up")
        << "none"
        << "no printer is set up on this computer"
        << "Nothing was printed: no printer is set up on this computer.  Preview can save the list as a PDF file "
           "instead.";
    QTest::newRow("job refused") << "no/such/folder/x.pdf"
                                 << ""
                                 << "The report could not be printed.";
  }

  void okPrintsOnTheChosenPrinterOrSaysWhyNot() {
    QFETCH(QString, printer);
    QFETCH(QString, reason);
    QFETCH(QString, box);
    Open(Numbered(3));
    // The print system changes after start-up, as when CUPS stops.
    if (printer == QLatin1String("none")) {
      Platform->Printers.Available = false;
      Platform->Printers.Reason = reason;
    } else {
      Platform->PrinterChoice.PrintToPdf(Platform->Path(printer));
    }
    bool StillOpen = false;
    PressPrint([&] {
      QTest::mouseClick(Dialog->btnOK, Qt::LeftButton);
      StillOpen = Dialog->isVisible();
      if (StillOpen) Dialog->reject();
    });
    QCOMPARE(Platform->Prompter.Texts(), box.isEmpty() ? QStringList() : QStringList({box}));
    QCOMPARE(StillOpen, !box.isEmpty());
    QCOMPARE(Dialog->result(), box.isEmpty() ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QFile Printed(Platform->Path(printer));
    QCOMPARE(Printed.open(QIODevice::ReadOnly) && Printed.read(5) == "%PDF-", box.isEmpty());
  }

  void enterPreviewsAndThePreviewPagesSavesAndCloses() {
    Open(Numbered(40));
    const QString Saved = Platform->Path(QStringLiteral("saved.pdf"));
    Platform->Dialogs.SaveAnswers = {Saved};
    bool Previewed = false;
    PressPrint([&] {
      WhileModal(
          [&] {
            auto* Preview = qobject_cast<TReportPreview*>(QApplication::activeModalWidget());
            QVERIFY(Preview);
            Previewed = true;
            const int Pages = Preview->lblPageCount->text().mid(3).toInt();
            QVERIFY(Pages > 1);
            QVERIFY(!Preview->btnPrior->isEnabled());
            QVERIFY2(!Preview->btnPrint->isEnabled(), "no printer chosen");
            QTest::mouseClick(Preview->btnNext, Qt::LeftButton);
            QCOMPARE(Preview->Page(), 1);
            QTest::keyClick(Preview, Qt::Key_End, Qt::ControlModifier);
            QCOMPARE(Preview->Page(), Pages - 1);
            QVERIFY(!Preview->btnNext->isEnabled());
            QTest::mouseClick(Preview->btnSavePdf, Qt::LeftButton);
            QVERIFY(QFile::exists(Saved));
            QCOMPARE(Platform->Dialogs.SaveCalls.back().DefaultExt, QStringLiteral("pdf"));
            QTest::keyClick(Preview, Qt::Key_Escape);
          },
          [&] { QTest::keyClick(Dialog->cboFromAddress, Qt::Key_Return); });
      // Back in the dialog, which stays open.
      QVERIFY(Dialog->isVisible());
      Dialog->reject();
    });
    QVERIFY(Previewed);
    QVERIFY(Platform->Prompter.Boxes.empty());
  }

  void cancelInTheProgressWindowStopsPrinting() {
    TListReport List;
    TAddressBook Book;
    for (int i = 0; i < 50; ++i) {
      auto* Item = new TAddressItem;
      Item->Surname = "S" + std::to_string(i);
      Book.Items->Add(Item);
    }
    TListReportParameters P;
    P.Items = Book.Items.get();
    P.Last = 49;
    List.SetReportParameters(P);
    const TReportLayout Layout = LayOutReport(List.Report());
    QPrinter Printer(QPrinter::HighResolution);
    Printer.setOutputFormat(QPrinter::PdfFormat);
    Printer.setOutputFileName(Platform->Path(QStringLiteral("cancelled.pdf")));
    QTimer::singleShot(0, [] {
      for (QWidget* Window : QApplication::topLevelWidgets())
        if (auto* Progress = qobject_cast<QProgressDialog*>(Window))
          QTest::mouseClick(Progress->findChild<QPushButton*>(), Qt::LeftButton);
    });
    QCOMPARE(PrintLayout(Layout, Printer, nullptr), EPrintResult::Cancelled);
    QCOMPARE(PrintLayout(Layout, Printer, nullptr), EPrintResult::Printed);
  }
};

QTEST_MAIN(TPrintTest)
#include "tst_print.moc"
