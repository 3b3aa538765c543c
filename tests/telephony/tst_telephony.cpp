// Modem detection, dialling and the option windows, driven as a user would
// through the main window, with simulated modems linked as numbered ports.

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Dial.h"
#include "Dialopt.h"
#include "MDetect.h"
#include "MainTestKit.h"
#include "Olineopt.h"
#include "SerialDrv.h"
#include "SimModem.h"

namespace {

using TLines = std::vector<std::string>;

// Runs Action once Ready holds; meant for the modal window about to be shown.
// Gives up after ten seconds and hides the modal window, so a test fails instead of hanging.
void When(std::function<bool()> Ready, std::function<void()> Action) {
  auto* Timer = new QTimer;
  auto* Waited = new QElapsedTimer;
  Waited->start();
  QObject::connect(Timer, &QTimer::timeout, [=] {
    const bool Late = Waited->elapsed() > 10000;
    if (!Late && !Ready()) return;
    Timer->stop();
    Timer->deleteLater();
    delete Waited;
    if (!Late) Action();
    else if (QWidget* Modal = QApplication::activeModalWidget()) Modal->hide();
  });
  Timer->start(5);
}

// The main window with the telephony windows, wired as the program wires them.
struct TPhone {
  TWindows W;
  TfrmDiallingOpt Options{W.Main.get()};
  TfrmMODEMDetect Detect{W.Main.get()};
  TfrmDial Dial{&Detect, &Options, W.Main.get()};
  TfrmOutsideLine Outside{W.Main.get()};
  QStringList Captions;

  TPhone() {
    W->SetDiallingOptions(&Options);
    W->SetModemDetection(&Detect);
    W->SetDialWindow(&Dial);
    W->SetOutsideLineWindow(&Outside);
    Dial.SetOutsideLine(&Outside);
    // Long enough for a loaded machine; only modems that answer wrongly wait it out.
    Detect.Exchange.ProbeTimeLimitMs = 1000;
    QObject::connect(&Detect, &QWidget::windowTitleChanged, [this](const QString& Text) { Captions << Text; });
  }
  QStringList Listed() const {
    QStringList Lines;
    for (int Row = 0; Row < Detect.lstMODEMS->count(); ++Row) Lines << Detect.lstMODEMS->item(Row)->text();
    return Lines;
  }
  // Picks a listed modem once the scan is over.
  void PickWhenListed(int Row) {
    When([this] { return Detect.isVisible() && Detect.windowTitle() == QStringLiteral("Select MODEM"); },
         [this, Row] {
           Detect.lstMODEMS->setCurrentRow(Row);
           Detect.btnOK->click();
         });
  }
};

std::unique_ptr<TSimModem> ModemOn(TFakePlatform& Platform, int Port) {
  auto Modem = std::make_unique<TSimModem>();
  if (!Modem->LinkAsPort(Platform.Folder.path().toStdString(), Port)) return nullptr;
  return Modem;
}

QString BookWithNumbers(TFakePlatform& Platform, const QString& Settings) {
  TAddressBook Book;
  auto* Item = new TAddressItem;
  Item->Surname = "Adams";
  Item->FirstName = "Ann";
  Item->HomeTelephone = "123";
  Item->BusTelephone = "(9) 1#";
  Item->BusExtn = "456";
  Item->BusMobile = "0800-FLOWERS";
  Book.Items->Add(Item);
  const QString Path = Platform.Path(QStringLiteral("BOOK.ABK"));
  Book.FileName = Path.toStdString();
  Book.SaveToFile();
  Platform.WriteSettings(QStringLiteral("[Startup]\nLoadFile=%1\n").arg(Path) + Settings);
  return Path;
}

const QString NoModems = QStringLiteral(
    "There are no MODEMS detected on this computer.  Telephone numbers cannot be dialed from this PC.");
const QString NoAnswer = QStringLiteral("Your MODEM has failed to respond to a command. A reset will be attempted...");

}  // namespace

class TTelephonyTest : public QObject {
  Q_OBJECT
private slots:
  void LastKnownModemIsCheckedFirst();
  void DetectionListsEveryAnsweringPort();
  void DialButtonsSendTheCommands();
  void UnansweredModemIsReset();
  void CloseIsRefusedWhileDialling();
  void DiallingOptionsCancelAndKeys();
  void OutsideLineRuleCancelAndKeys();
};

void TTelephonyTest::LastKnownModemIsCheckedFirst() {
  TFakePlatform Platform;
  BookWithNumbers(Platform, QStringLiteral("[MODEM]\nPort=3\nDetected=1\n"));
  auto Modem = ModemOn(Platform, 3);
  QVERIFY(Modem);
  {
    TPhone Phone;
    QVERIFY(Phone.W.Activate());
    // One probe, and the window closed by itself.
    QCOMPARE(Phone.Captions, QStringList{QStringLiteral("Checking Last Known MODEM...")});
    QCOMPARE(Modem->Lines(), TLines{"ATZ"});
    QVERIFY(!Phone.Detect.isVisible());
    QCOMPARE(Phone.W->ModemPort(), 3);
    QVERIFY(Platform.Prompter.Boxes.empty());
    QVERIFY(Phone.W->spdbtnDial1->isEnabled());
  }
  // Gone by the next start: nothing else is found and the dial buttons say so at once.
  Modem.reset();
  TPhone Phone;
  QVERIFY(Phone.W.Activate());
  QCOMPARE(Platform.Prompter.Texts().size(), 2);
  QCOMPARE(Platform.Prompter.Texts().last(), NoModems);
  QCOMPARE(Phone.W->ModemPort(), -1);
  QVERIFY(!Phone.W->spdbtnDial1->isEnabled());
}

void TTelephonyTest::DetectionListsEveryAnsweringPort() {
  TFakePlatform Platform;
  BookWithNumbers(Platform, QStringLiteral("[MODEM]\nPort=3\nDetected=1\n"));
  auto Moved = ModemOn(Platform, 4);
  auto Refusing = ModemOn(Platform, 5);
  QVERIFY(Moved && Refusing);
  Refusing->SetReply(TSimModem::TReply::Error);
  std::unique_ptr<TSimModem> First;
  {
    // The modem moved from COM3 to COM4: said so, then every port is tested.
    TPhone Phone;
    Phone.PickWhenListed(0);
    QVERIFY(Phone.W.Activate());
    QCOMPARE(Platform.Prompter.Texts(),
             QStringList{QStringLiteral("The MODEM previously on COM3 is no longer available.  "
                                        "MODEMS will be detected again.")});
    QCOMPARE(Phone.Captions.size(), 11);
    QCOMPARE(Phone.Captions[1], QStringLiteral("Testing COM1..."));
    QCOMPARE(Phone.Captions[9], QStringLiteral("Testing COM9..."));
    QCOMPARE(Phone.Listed(), QStringList{QStringLiteral("COM4: OK")});  // not the one answering ERROR
    QCOMPARE(Phone.W->ModemPort(), 4);
    QVERIFY(Phone.W->spdbtnDial1->isEnabled());

    // Two modems, listed in port order; the second is chosen.
    First = ModemOn(Platform, 1);
    QVERIFY(First);
    Phone.PickWhenListed(1);
    Phone.W->mnuODetectMODEMS->trigger();
    QCOMPARE(Phone.Listed(), QStringList({QStringLiteral("COM1: OK"), QStringLiteral("COM4: OK")}));
    QCOMPARE(Phone.W->ModemPort(), 4);
    QCOMPARE(First->Lines(), TLines{"ATZ"});

    // Modem lines all down (a null-modem cable): nothing is listed or dialled.
    class TNoLines : public TSerialDevice {
    public:
      int ModemLines() override { return 0; }
    };
    Phone.Detect.cp->SetDevice(std::make_unique<TNoLines>());
    Platform.Prompter.Boxes.clear();
    Phone.W->mnuODetectMODEMS->trigger();
    QCOMPARE(Platform.Prompter.Texts(), QStringList{NoModems});
    QVERIFY(!Phone.Detect.isVisible());
    QCOMPARE(Phone.W->ModemPort(), -1);
    QVERIFY(!Phone.W->spdbtnDial1->isEnabled());
    QCOMPARE(First->Lines(), TLines{"ATZ"});
  }
  // A port beyond COM9 is never probed.
  auto Tenth = ModemOn(Platform, 10);
  TPhone Phone;
  Phone.PickWhenListed(0);
  Phone.W->mnuODetectMODEMS->trigger();
  QCOMPARE(Phone.Listed(), QStringList({QStringLiteral("COM1: OK"), QStringLiteral("COM4: OK")}));
  QVERIFY(Tenth->Lines().empty());
}

void TTelephonyTest::DialButtonsSendTheCommands() {
  TFakePlatform Platform;
  BookWithNumbers(Platform, QStringLiteral("[MODEM]\nPort=3\n"));
  auto Modem = ModemOn(Platform, 3);
  QVERIFY(Modem);
  TPhone Phone;
  QVERIFY(Phone.W.Activate());
  struct TCase {
    bool Tone, Silent, Outside;
    const char* Digits;
    const char* Pause;
    QToolButton* TfrmMain::*Button;
    const char* Location;
    const char* Shown;
    TLines Lines;
  };
  const std::vector<TCase> Cases = {
      {true, false, false, "", "W", &TfrmMain::spdbtnDial1, "Home Telephone Number", "123",
       {"ATM1", "ATDT 123;", "ATH", "ATZ"}},
      {false, true, false, "", "W", &TfrmMain::spdbtnDial2, "Business Telephone Number", "(9) 1#",
       {"ATM0", "ATDP 91#;", "ATH", "ATZ"}},
      {true, false, true, "9", ",", &TfrmMain::spdbtnDial1, "Home Telephone Number", "123",
       {"ATM1", "ATDT 9,123;", "ATH", "ATZ"}},
      {true, false, true, "two", "W", &TfrmMain::spdbtnDial4, "Mobile Telephone", "0800-FLOWERS",
       {"ATM1", "ATDT 896W08003569377;", "ATH", "ATZ"}},
      // An extension never gets the outside-line prefix.
      {true, false, true, "9", ",", &TfrmMain::spdbtnDial3, "Internal Extension", "456",
       {"ATM1", "ATDT 456;", "ATH", "ATZ"}},
  };
  Phone.Options.chkDialExtensions->setChecked(true);
  for (const TCase& Case : Cases) {
    (Case.Tone ? Phone.Options.rdoToneDial : Phone.Options.rdoPulseDial)->setChecked(true);
    Phone.Options.chkDialSilently->setChecked(Case.Silent);
    Phone.Outside.chkDialOutsideLine->setChecked(Case.Outside);
    Phone.Outside.edtOutsideLineDigit->setText(QLatin1String(Case.Digits));
    Phone.Outside.edtPauseChar->setText(QLatin1String(Case.Pause));
    Modem->ClearRecords();
    QToolButton* Button = Phone.W.Main.get()->*Case.Button;
    Phone.W->tabDetails->setCurrentIndex(Button == Phone.W->spdbtnDial1 ? 0 : 1);
    QVERIFY(Button->isEnabled());
    QStringList Shown;
    When([&] { return Phone.Dial.isVisible() && Phone.Dial.btnOK->isEnabled(); },
         [&] {
           Shown << Phone.Dial.edtName->text() << Phone.Dial.edtLocation->text() << Phone.Dial.edtNumber->text();
           QTest::keyClick(&Phone.Dial, Qt::Key_Return);
         });
    Button->click();
    QVERIFY(!Phone.Dial.isVisible());
    QCOMPARE(Shown, QStringList({QStringLiteral("Ann Adams"), QLatin1String(Case.Location), QLatin1String(Case.Shown)}));
    QCOMPARE(Modem->Lines(), Case.Lines);
  }
  QVERIFY(Platform.Prompter.Boxes.empty());
}

void TTelephonyTest::UnansweredModemIsReset() {
  TFakePlatform Platform;
  BookWithNumbers(Platform, QStringLiteral("[MODEM]\nPort=3\n"));
  auto Modem = ModemOn(Platform, 3);
  QVERIFY(Modem);
  TPhone Phone;
  QVERIFY(Phone.W.Activate());
  Phone.Detect.Exchange.CommandTimeout = 200;  // the speaker command's, left by an earlier exchange
  Phone.Dial.ResetTimeoutMs = 200;
  Modem->SetEcho(false);

  // The modem answers again once reset: the dial is not repeated.
  Platform.Prompter.WhileShown = [&](const TFakeBox& Box) {
    if (Box.Text == NoAnswer) Modem->SetEcho(true);
  };
  When([&] { return Phone.Dial.isVisible() && Phone.Dial.btnOK->isEnabled(); }, [&] { Phone.Dial.btnOK->click(); });
  Phone.W->spdbtnDial1->click();
  QCOMPARE(Platform.Prompter.Texts(),
           QStringList({NoAnswer, QStringLiteral("Your MODEM has reset successfully.  Please try the dial operation again.")}));
  QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATH", "ATZ", "ATH", "ATZ"}));
  QCOMPARE(Phone.W->ModemPort(), 3);
  QCOMPARE(Phone.Detect.Exchange.CommandTimeout, 200);

  // A modem that stays deaf cannot be reset: every dial command is disabled.
  Platform.Prompter.WhileShown = nullptr;
  Platform.Prompter.Boxes.clear();
  Modem->ClearRecords();
  Modem->SetEcho(false);
  When([&] { return Phone.Dial.isVisible() && Phone.Dial.btnOK->isEnabled(); }, [&] { Phone.Dial.btnOK->click(); });
  Phone.W->spdbtnDial1->click();
  QCOMPARE(Platform.Prompter.Texts(),
           QStringList({NoAnswer, QStringLiteral("Your MODEM could not be reset and it will have to be re-detected "
                                                 "before you can use it again.")}));
  QCOMPARE(Phone.W->ModemPort(), -1);
  QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATH", "ATZ"}));  // OK sends nothing without a modem
  QVERIFY(!Phone.W->spdbtnDial1->isEnabled());
  QVERIFY(!Phone.W->mnuFDialler->isEnabled());
}

void TTelephonyTest::CloseIsRefusedWhileDialling() {
  TFakePlatform Platform;
  BookWithNumbers(Platform, QStringLiteral("[MODEM]\nPort=3\n"));
  auto Modem = ModemOn(Platform, 3);
  QVERIFY(Modem);
  Modem->SetReplyDelay(150);
  TPhone Phone;
  QVERIFY(Phone.W.Activate());
  bool Refused = false;
  When([&] { return Phone.Dial.isVisible() && Phone.Detect.Exchange.CommandBusy; },
       [&] {
         Phone.Dial.close();
         QTest::keyClick(&Phone.Dial, Qt::Key_Escape);
         Refused = Phone.Dial.isVisible();
         When([&] { return Phone.Dial.btnOK->isEnabled(); }, [&] { Phone.Dial.close(); });
       });
  Phone.W->spdbtnDial1->click();
  QVERIFY(Refused);
  QVERIFY(!Phone.Dial.isVisible());
  // The title-bar close hung up, once.
  QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATDT 123;", "ATH", "ATZ"}));
}

void TTelephonyTest::DiallingOptionsCancelAndKeys() {
  TFakePlatform Platform;
  BookWithNumbers(Platform, QStringLiteral("[MODEM]\nPort=3\n"));
  {
    TPhone Phone;
    QVERIFY(Phone.W.Activate());
    TfrmDiallingOpt& Options = Phone.Options;
    QVERIFY(Options.rdoToneDial->isChecked());
    auto Show = [&](std::function<void()> Action) {
      When([&] { return Options.isVisible(); }, Action);
      Phone.W->mnuODialling->trigger();
    };
    Show([&] {
      Options.rdoPulseDial->click();
      Options.chkDialSilently->click();
      Options.btnCancel->click();
    });
    QVERIFY(Options.rdoToneDial->isChecked() && !Options.chkDialSilently->isChecked());
    Show([&] {
      Options.rdoPulseDial->click();
      Options.close();  // the title-bar close keeps the choice
    });
    QVERIFY(Options.rdoPulseDial->isChecked());
    Show([&] {
      Options.rdoToneDial->click();
      QTest::keyClick(&Options, Qt::Key_Escape);
    });
    QVERIFY(Options.rdoPulseDial->isChecked());

    Phone.W->tabDetails->setCurrentIndex(1);
    QVERIFY(!Phone.W->spdbtnDial3->isEnabled());
    Show([&] {
      Options.chkDialExtensions->click();
      Options.btnOK->click();
    });
    QVERIFY(Phone.W->spdbtnDial3->isEnabled());  // at once
  }
  const QString Written = Platform.ReadSettings();
  for (const char* Key : {"ToneDial=0\n", "DialExt=1\n", "SilentDial=0\n"}) QVERIFY2(Written.contains(QLatin1String(Key)), Key);
  TPhone Again;
  QVERIFY(Again.Options.rdoPulseDial->isChecked() && Again.Options.chkDialExtensions->isChecked());
}

void TTelephonyTest::OutsideLineRuleCancelAndKeys() {
  TFakePlatform Platform;
  {
    TPhone Phone;
    TfrmOutsideLine& Line = Phone.Outside;
    auto Show = [&](std::function<void()> Action) {
      When([&] { return Line.isVisible(); }, Action);
      Phone.W->mnuOOutsideLine->trigger();
    };
    QVector<bool> OK;
    Show([&] {
      OK << Line.btnOK->isEnabled() << Line.edtPauseChar->isEnabled();
      Line.chkDialOutsideLine->click();
      OK << Line.btnOK->isEnabled() << Line.edtPauseChar->isEnabled();
      QTest::keyClicks(Line.edtOutsideLineDigit, QStringLiteral("9"));
      OK << Line.btnOK->isEnabled();
      Line.edtPauseChar->setText(QStringLiteral("   "));
      OK << Line.btnOK->isEnabled();
      QTest::keyClick(Line.edtPauseChar, Qt::Key_Return);  // OK is disabled: nothing
      OK << Line.isVisible();
      Line.btnCancel->click();
    });
    QCOMPARE(OK, QVector<bool>({true, false, false, true, true, false, true}));
    QVERIFY(!Line.chkDialOutsideLine->isChecked());
    QCOMPARE(Line.edtOutsideLineDigit->text(), QString());
    QCOMPARE(Line.edtPauseChar->text(), QStringLiteral("W"));
    Show([&] {
      Line.chkDialOutsideLine->click();
      Line.edtOutsideLineDigit->setText(QStringLiteral(" 9"));
      Line.edtPauseChar->setText(QStringLiteral(","));
      QTest::keyClick(Line.edtPauseChar, Qt::Key_Return);
    });
    QVERIFY(!Line.isVisible());
    // Unticked, the texts stay for later.
    Line.chkDialOutsideLine->setChecked(false);
  }
  const QString Written = Platform.ReadSettings();
  QVERIFY(Written.contains(QStringLiteral("[OutSideLine]\nDialForFirst=0\nDialThisFor= 9\nPauseChar=,\n")));
}

QTEST_MAIN(TTelephonyTest)
#include "tst_telephony.moc"
