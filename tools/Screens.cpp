// Renders every window of the program to PNG files, for looking at them.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QDir>
#include <QFrame>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QTabWidget>
#include <QPainter>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdio>

#include "About.h"
#include "Adrbook.h"
#include "Custom.h"
#include "Dflttab.h"
#include "Listrpt.h"
#include "Dial.h"
#include "Dialler.h"
#include "Dialopt.h"
#include "MDetect.h"
#include "Olineopt.h"
#include "Find.h"
#include "FontDialogs.h"
#include "Main.h"
#include "Print.h"
#include "ProgramPaths.h"
#include "Prompter.h"
#include "Qdial.h"
#include "ReportLayout.h"
#include "ReportPainter.h"
#include "ReportPreview.h"
#include "SerialDrv.h"
#include "Splash.h"
#include "SyncConflict.h"
#include "SyncProgress.h"
#include "SyncSetup.h"
#include "Verinfo.h"

namespace {

void Save(QWidget& Window, const QDir& Folder, const QString& Name) {
  Window.show();
  QApplication::processEvents();
  const QString Path = Folder.filePath(Name + QStringLiteral(".png"));
  if (!Window.grab().save(Path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
  else std::printf("%s\n", qPrintable(Path));
}

// Without showing it: showing a window that talks to the modem would start talking.
void SaveUnshown(QWidget& Window, const QDir& Folder, const QString& Name) {
  Window.ensurePolished();
  const QString Path = Folder.filePath(Name + QStringLiteral(".png"));
  if (!Window.grab().save(Path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
  else std::printf("%s\n", qPrintable(Path));
}

void SampleBook(const QString& Path) {
  TAddressBook Book;
  const char* Names[][2] = {{"Adams", "Ann"},      {"Baker", "Bob"},       {"Clarke", "Carol"},
                            {"O'Brien", "Dermot"}, {"Smith-Jones", "Eve"}, {"Zorn", "Frank"}};
  for (auto& Name : Names) {
    auto* Item = new TAddressItem;
    Item->Surname = Name[0];
    Item->FirstName = Name[1];
    Item->HomeTelephone = "01234 567890";
    Item->HomeAddress.SetText("1 Hill Road\nLittle Town\nAB1 2CD");
    Item->BusTelephone = "020 7946 0000";
    Item->BusExtn = "123";
    Item->BusMobile = "07700 900123";
    Item->BusFacsimile = "020 7946 0001";
    Item->BusAddress.SetText("Works Lane\nBig City");
    Item->Notes.SetText("Met at the conference.\nPrefers calls in the morning.");
    Book.Items->Add(Item);
  }
  Book.FileName = Path.toStdString();
  Book.SaveToFile();
}

// A dark theme as people set one: Fusion with dark colours.
QPalette DarkPalette() {
  QPalette P;
  P.setColor(QPalette::Window, QColor(45, 45, 45));
  P.setColor(QPalette::WindowText, QColor(230, 230, 230));
  P.setColor(QPalette::Base, QColor(30, 30, 30));
  P.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
  P.setColor(QPalette::ToolTipBase, QColor(53, 53, 53));
  P.setColor(QPalette::ToolTipText, QColor(230, 230, 230));
  P.setColor(QPalette::Text, QColor(230, 230, 230));
  P.setColor(QPalette::PlaceholderText, QColor(140, 140, 140));
  P.setColor(QPalette::Button, QColor(53, 53, 53));
  P.setColor(QPalette::ButtonText, QColor(230, 230, 230));
  P.setColor(QPalette::BrightText, Qt::red);
  P.setColor(QPalette::Link, QColor(90, 160, 240));
  P.setColor(QPalette::Highlight, QColor(42, 130, 218));
  P.setColor(QPalette::HighlightedText, Qt::black);
  P.setColor(QPalette::Light, QColor(80, 80, 80));
  P.setColor(QPalette::Midlight, QColor(66, 66, 66));
  P.setColor(QPalette::Mid, QColor(40, 40, 40));
  P.setColor(QPalette::Dark, QColor(25, 25, 25));
  P.setColor(QPalette::Shadow, Qt::black);
  for (QPalette::ColorRole Role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    P.setColor(QPalette::Disabled, Role, QColor(120, 120, 120));
  return P;
}

int RenderWindows(const QDir& Folder, const QString& Book);

}  // namespace

int main(int argc, char** argv) {
  QApplication App(argc, argv);
  const QString Target = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screens");
  QDir().mkpath(Target);
  const QDir Folder(Target);

  // A scratch program folder, so that the real settings are left alone.
  QTemporaryDir Scratch;
  SetProgramPathOverride(Scratch.filePath(QStringLiteral("tobrinel")));
  // No serial port is ever opened from here.
  TSerialPortDriver::SetPortsFolder(Scratch.path());
  TSerialPortDriver::SetPortFallback([](int) { return std::string(); });
  SetApplicationTitle(QStringLiteral("Tobrinel Address Manager and Phone Dialler"));
  const QString Book = Scratch.filePath(QStringLiteral("SAMPLE.ABK"));
  SampleBook(Book);
  RenderWindows(Folder, Book);
  // Every window once more in a dark theme, into dark/.
  QApplication::setStyle(QStringLiteral("Fusion"));
  QApplication::setPalette(DarkPalette());
  QDir().mkpath(Folder.filePath(QStringLiteral("dark")));
  return RenderWindows(QDir(Folder.filePath(QStringLiteral("dark"))), Book);
}

namespace {

int RenderWindows(const QDir& Folder, const QString& Book) {
  TfrmMain Main({Book});
  TfrmFind Find(&Main);
  Main.SetFindDialog(&Find);
  TfrmDefaultTab DefaultTab(&Main);
  Main.SetDefaultTabDialog(&DefaultTab);
  Main.SetModemPort(1);
  Main.move(0, 0);
  Save(Main, Folder, QStringLiteral("main-home"));
  Main.tabDetails->setCurrentIndex(1);
  Save(Main, Folder, QStringLiteral("main-work"));
  Main.tabDetails->setCurrentIndex(2);
  Save(Main, Folder, QStringLiteral("main-notes"));

  // Each menu of the menu bar, opened.
  for (QAction* Top : Main.menuBar()->actions()) {
    QMenu* Menu = Top->menu();
    if (!Menu) continue;
    Menu->popup(Main.mapToGlobal(QPoint(0, 20)));
    QApplication::processEvents();
    Save(*Menu, Folder, QStringLiteral("menu-") + Menu->objectName());
    Menu->hide();
  }

  // A match in the notes, found as Find Next finds it.
  Find.cboSearchString->setText(QStringLiteral("calls"));
  Main.mnuSFindNextClick();
  Save(Main, Folder, QStringLiteral("main-found"));

  TfrmMain Empty({});
  Save(Empty, Folder, QStringLiteral("main-empty"));

  Save(DefaultTab, Folder, QStringLiteral("defaulttab"));

  // A box with a short text, as wide as its title needs.
  QTimer::singleShot(0, [&Folder] {
    if (QWidget* Box = QApplication::activeModalWidget()) {
      Save(*Box, Folder, QStringLiteral("box-question"));
      Box->close();
    }
  });
  Prompter().Question(&Main, QStringLiteral("Save changes to\n\n(Untitled)"));

  // The print dialog with a header typed, the preview it opens, and a page as printed.
  TfrmPrintAddresses Print(&Main);
  TListReport Report;
  Print.SetReport(&Report);
  QTimer::singleShot(0, &Print, [&] {
    Print.edtHeader->setText(QStringLiteral("Friends and family"));
    Save(Print, Folder, QStringLiteral("print"));
    QTimer::singleShot(0, &Print, [&] {
      for (QWidget* Window : QApplication::topLevelWidgets())
        if (auto* Preview = qobject_cast<TReportPreview*>(Window); Preview && Preview->isVisible()) {
          Save(*Preview, Folder, QStringLiteral("preview"));
          Preview->close();
        }
    });
    Print.btnPreview->click();
    Print.reject();
  });
  Print.Execute(Main.Book());
  // The header font dialog as the Font... button opens it.
  QTimer::singleShot(0, [&Folder] {
    if (QWidget* Dialog = QApplication::activeModalWidget()) {
      Save(*Dialog, Folder, QStringLiteral("font"));
      Dialog->close();
    }
  });
  {
    QFont Header = DefaultHeaderFont();
    FontDialogs().ChooseFont(&Main, Header, {QStringLiteral("Header Font"), true, MaxPrintFontSize});
  }
  {
    TListReportParameters P;
    P.BookName = QStringLiteral("SAMPLE.ABK");
    P.HeaderText = QStringLiteral("Friends and family");
    P.HeaderFont = DefaultHeaderFont();
    P.FooterText = QStringLiteral("Private");
    P.FooterFont = DefaultFooterFont();
    P.Items = Main.Book().Items.get();
    P.Last = Main.Book().Items->Count - 1;
    P.Now = QDateTime::currentDateTime();
    Report.SetReportParameters(P);
    const TReportLayout Layout = LayOutReport(Report.Report());
    QImage Page((Layout.PageSize * 1.5).toSize(), QImage::Format_RGB32);
    Page.fill(Qt::white);
    Page.setDotsPerMeterX(qRound(144 / 0.0254));
    Page.setDotsPerMeterY(qRound(144 / 0.0254));
    QPainter Painter(&Page);
    Painter.scale(1.5, 1.5);
    PaintReportPage(Painter, Layout, 0, 144);
    Painter.end();
    const QString Path = Folder.filePath(QStringLiteral("report-page1.png"));
    if (Page.save(Path)) std::printf("%s\n", qPrintable(Path));
  }

  TfrmDiallingOpt DiallingOpt(&Main);
  Save(DiallingOpt, Folder, QStringLiteral("diallingopt"));
  TfrmOutsideLine OutsideLine(&Main);
  Save(OutsideLine, Folder, QStringLiteral("outsideline-off"));
  OutsideLine.chkDialOutsideLine->setChecked(true);
  OutsideLine.edtOutsideLineDigit->setText(QStringLiteral("9"));
  Save(OutsideLine, Folder, QStringLiteral("outsideline-on"));
  OutsideLine.hide();

  TfrmMODEMDetect Detect(&Main);
  Detect.tmrTimer->blockSignals(true);  // the picture only, no detection run
  Detect.setWindowTitle(QStringLiteral("Checking Last Known MODEM..."));
  Detect.lblProgress->setText(Detect.windowTitle());
  Save(Detect, Folder, QStringLiteral("modemdetect-checking"));
  Detect.lstMODEMS->addItems({QStringLiteral("COM1: OK"), QStringLiteral("COM3: OK")});
  Detect.lstMODEMS->setCurrentRow(0);
  Detect.btnOK->setEnabled(true);
  Detect.setWindowTitle(QStringLiteral("Select MODEM"));
  Detect.lblProgress->setText(Detect.windowTitle());
  Save(Detect, Folder, QStringLiteral("modemdetect"));
  Detect.hide();

  TfrmDial Dial(&Detect, &DiallingOpt, &Main);
  Dial.edtName->setText(QStringLiteral("Ann Adams"));
  Dial.edtLocation->setText(QLatin1String(HomeLocation));
  Dial.edtNumber->setText(QStringLiteral("01234 567890"));
  // While the modem dials, Cancel stands in OK's place.
  Dial.btnOK->hide();
  Dial.btnCancel->show();
  SaveUnshown(Dial, Folder, QStringLiteral("dial-dialling"));
  Dial.btnOK->setEnabled(true);
  SaveUnshown(Dial, Folder, QStringLiteral("dial-talking"));
  Save(Find, Folder, QStringLiteral("find"));
  Find.chkAnyField->setChecked(false);
  Find.chkNames->setChecked(true);
  Find.chkSurname->setChecked(true);
  Find.chkNumbers->setChecked(true);
  Find.chkFaxNo->setChecked(true);
  Find.chkMatchCase->setChecked(true);
  Save(Find, Folder, QStringLiteral("find-where"));
  Find.hide();

  // Quick Dial and the dial pad, the keys in each of their states.
  auto Activate = [](QWidget& Window) {
    Window.show();
    QApplication::setActiveWindow(&Window);
    QApplication::processEvents();
  };
  TfrmQuickDial QuickDial(&Main);
  QuickDial.edtHomeNo->setText(QStringLiteral("01234 567890"));
  QuickDial.edtWorkNo->setText(QStringLiteral("020 7946 0000"));
  QuickDial.edtMobile->setText(QStringLiteral("07700 900123"));
  Activate(QuickDial);
  Save(QuickDial, Folder, QStringLiteral("quickdial"));
  QuickDial.hide();
  TfrmDialler Dialler(&Main);
  Activate(Dialler);
  Save(Dialler, Folder, QStringLiteral("dialler"));
  Dialler.edtDialledNo->setText(QStringLiteral("0800356*#"));
  Dialler.btnDigits[5]->setDown(true);
  Save(Dialler, Folder, QStringLiteral("dialler-pressed"));
  Dialler.btnDigits[5]->setDown(false);
  Dialler.btnDigits[9]->setFocus();
  Save(Dialler, Folder, QStringLiteral("dialler-focused"));
  Dialler.btnDigits[9]->setDown(true);
  Save(Dialler, Folder, QStringLiteral("dialler-focused-pressed"));
  Dialler.btnDigits[9]->setDown(false);
  for (QWidget* Key : Dialler.Panel2->findChildren<QWidget*>())
    Key->setEnabled(Key == static_cast<QWidget*>(Dialler.edtDialledNo));
  Save(Dialler, Folder, QStringLiteral("dialler-disabled"));
  Dialler.hide();

  // File > Synchronize: the set-up dialog with two books found, the progress
  // window, and an entry changed on both sides.
  TfrmSyncSetup SyncSetup(&Main);
  SyncSetup.Prefill(QStringLiteral("https://cloud.example.com/"), QStringLiteral("ann"), {}, {});
  SyncSetup.edtPassword->setText(QStringLiteral("secret"));
  for (const char* Shown : {"Contacts  (/dav/ann/contacts/)", "Family  (/dav/ann/family/)"}) {
    auto* Item = new QListWidgetItem(QString::fromLatin1(Shown), SyncSetup.lstBooks);
    Item->setData(Qt::UserRole, QUrl(QStringLiteral("https://cloud.example.com/dav/ann/contacts/")));
  }
  SyncSetup.lstBooks->setCurrentRow(0);
  SyncSetup.EnableControls();
  Save(SyncSetup, Folder, QStringLiteral("syncsetup"));
  SyncSetup.hide();
  TfrmSyncProgress SyncProgress(&Main);
  SyncProgress.ShowProgress(QStringLiteral("Receiving cards..."), 120, 1000);
  Save(SyncProgress, Folder, QStringLiteral("syncprogress"));
  SyncProgress.hide();
  TfrmSyncConflict SyncConflict(&Main);
  {
    TAddressItem Here, There;
    Here.Surname = There.Surname = "Baker";
    Here.FirstName = There.FirstName = "Bob";
    Here.HomeTelephone = "01234 567890";
    There.HomeTelephone = "01234 999999";
    Here.BusMobile = There.BusMobile = "07700 900123";
    Here.HomeAddress.SetText("1 Hill Road\nLittle Town\nAB1 2CD");
    There.HomeAddress.SetText("7 Mill Lane\nLittle Town\nAB1 3EF");
    Here.Notes.SetText("Met at the conference.");
    There.Notes.SetText("Met at the conference.\nE-mail: bob@example.com");
    SyncConflict.ShowVersions(Here, There);
  }
  Save(SyncConflict, Folder, QStringLiteral("syncconflict"));
  SyncConflict.hide();

  // The screens tool carries the program's version block.
  ReadVersionTexts(QCoreApplication::applicationFilePath().toStdString());
  TfrmSplash Splash;
  Save(Splash, Folder, QStringLiteral("splash"));
  TfrmAbout About(&Main);
  Save(About, Folder, QStringLiteral("about"));
  return 0;
}

}  // namespace
