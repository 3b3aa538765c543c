// Renders every window of the program to PNG files, for looking at them.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

#include "About.h"
#include "Adrbook.h"
#include "Dflttab.h"
#include "Dial.h"
#include "Dialopt.h"
#include "MDetect.h"
#include "Olineopt.h"
#include "Main.h"
#include "ProgramPaths.h"
#include "Prompter.h"
#include "SerialDrv.h"
#include "Splash.h"
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
  const char* Names[][2] = {{"Adams", "Ann"}, {"Baker", "Bob"}, {"Clarke", "Carol"}, {"O'Brien", "Dermot"},
                            {"Smith-Jones", "Eve"}, {"Zorn", "Frank"}};
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

  TfrmMain Main({Book});
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

  TfrmMain Empty({});
  Save(Empty, Folder, QStringLiteral("main-empty"));

  Save(DefaultTab, Folder, QStringLiteral("defaulttab"));

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
  Detect.lstMODEMS->addItems({QStringLiteral("COM1: OK"), QStringLiteral("COM3: OK")});
  Detect.lstMODEMS->setCurrentRow(0);
  Detect.btnOK->setEnabled(true);
  Detect.setWindowTitle(QStringLiteral("Select MODEM"));
  Save(Detect, Folder, QStringLiteral("modemdetect"));
  Detect.hide();

  TfrmDial Dial(&Detect, &DiallingOpt, &Main);
  Dial.edtName->setText(QStringLiteral("Ann Adams"));
  Dial.edtLocation->setText(QStringLiteral("Home Telephone Number"));
  Dial.edtNumber->setText(QStringLiteral("01234 567890"));
  Dial.btnOK->setEnabled(false);
  SaveUnshown(Dial, Folder, QStringLiteral("dial-dialling"));
  Dial.btnOK->setEnabled(true);
  SaveUnshown(Dial, Folder, QStringLiteral("dial-talking"));

  // The screens tool carries the program's version block.
  ReadVersionTexts(QCoreApplication::applicationFilePath().toStdString());
  TfrmSplash Splash;
  Save(Splash, Folder, QStringLiteral("splash"));
  TfrmAbout About(&Main);
  Save(About, Folder, QStringLiteral("about"));
  return 0;
}
