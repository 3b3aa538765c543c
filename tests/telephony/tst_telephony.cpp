// Modem detection, dialling and the option windows, driven as a user would
// through the main window, with simulated modems linked as numbered ports.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QAccessible>
#include <QGroupBox>
#include <QtTest>

#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Dial.h"
#include "Dialler.h"
#include "Dialopt.h"
#include "MDetect.h"
#include "MainTestKit.h"
#include "Olineopt.h"
#include "Qdial.h"
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
    // OK is enabled once this scan is over, whatever the caption the last one left.
    When([this] { return Detect.isVisible() && Detect.btnOK->isEnabled(); },
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

const QString NoModems =
    QStringLiteral("There are no MODEMS detected on this computer.  Telephone numbers cannot be dialed from this PC.");
const QString NoAnswer = QStringLiteral("Your MODEM has failed to respond to a command. A reset will be attempted...");

// Environment variables set or removed (nullopt) for a while, then put back.
class TEnvironment {
public:
  TEnvironment() = default;
  TEnvironment(const TEnvironment&) = delete;
  TEnvironment& operator=(const TEnvironment&) = delete;
  ~TEnvironment() {
    for (auto Saved = FSaved.rbegin(); Saved != FSaved.rend(); ++Saved) {
      if (Saved->second) qputenv(Saved->first, *Saved->second);
      else qunsetenv(Saved->first);
    }
  }
  void Set(const char* Name, const std::optional<QString>& Value) {
    FSaved.emplace_back(Name,
                        qEnvironmentVariableIsSet(Name) ? std::optional<QByteArray>(qgetenv(Name)) : std::nullopt);
    if (Value) qputenv(Name, Value->toLocal8Bit());
    else qunsetenv(Name);
  }

private:
  std::vector<std::pair<const char*, std::optional<QByteArray>>> FSaved;
};

// A desktop of the test's own for xdg-utils: private XDG folders and, when
// Registered, a telephone application for tel: links that writes down each
// link it is given. The environment is put back afterwards.
class TFakeTelephoneDesktop {
public:
  explicit TFakeTelephoneDesktop(bool Registered) {
    const QString Data = Folder.filePath(QStringLiteral("data")), Config = Folder.filePath(QStringLiteral("config"));
    QDir().mkpath(Data + QStringLiteral("/applications"));
    QDir().mkpath(Config);
    if (Registered) {
      const QString Script = Folder.filePath(QStringLiteral("fake-phone.sh"));
      Write(Script, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1'\n").arg(LinksFile()));
      QFile::setPermissions(Script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      Write(Data + QStringLiteral("/applications/fake-phone.desktop"),
            QStringLiteral("[Desktop Entry]\nType=Application\nName=Fake phone\nExec=%1 %u\n"
                           "MimeType=x-scheme-handler/tel;\n")
                .arg(Script));
      Write(Config + QStringLiteral("/mimeapps.list"),
            QStringLiteral("[Default Applications]\nx-scheme-handler/tel=fake-phone.desktop\n"));
    }
    const QString None = Folder.filePath(QStringLiteral("none"));
    Env.Set("XDG_DATA_HOME", Data);
    Env.Set("XDG_CONFIG_HOME", Config);
    Env.Set("XDG_DATA_DIRS", None);
    Env.Set("XDG_CONFIG_DIRS", None);
    Env.Set("DISPLAY", QStringLiteral(":99"));  // xdg-open asks a handler only on a display
    for (const char* Name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                             "WAYLAND_DISPLAY", "BROWSER", "DBUS_SESSION_BUS_ADDRESS"})
      Env.Set(Name, std::nullopt);
  }
  QString LinksFile() const { return Folder.filePath(QStringLiteral("links")); }
  // The links the application was given, once Count have come (or 10 s).
  QStringList Links(int Count) const {
    QStringList Lines;
    for (int Waited = 0; Waited < 10000; Waited += 20) {
      QFile File(LinksFile());
      if (File.open(QIODevice::ReadOnly)) Lines = QString::fromUtf8(File.readAll()).split('\n', Qt::SkipEmptyParts);
      if (Lines.size() >= Count) break;
      QTest::qWait(20);
    }
    return Lines;
  }

private:
  static void Write(const QString& Path, const QString& Text) {
    QFile File(Path);
    QVERIFY(File.open(QIODevice::WriteOnly));
    File.write(Text.toUtf8());
  }
  QTemporaryDir Folder;
  TEnvironment Env;
};

}  // namespace

// Each test function has a platform of its own; Start adds the book, a modem on COM3 and the main window.
class TTelephonyTest : public QObject {
  Q_OBJECT
private slots:
  void init() { Platform = std::make_unique<TFakePlatform>(); }
  void cleanup() {
    Phone.reset();
    Modem.reset();
    Platform.reset();
  }
  void LastKnownModemIsCheckedFirst();
  void DetectionListsEveryAnsweringPort();
  void DialButtonsSendTheCommands();
  void UnansweredModemIsReset();
  void CloseIsRefusedWhileTheModemIsReset();
  void CancelWhileDiallingHangsUp();
  void TurnedDownDialIsToldAndHungUp();
  void EchoOffAndRingingModemsDial();
  void PortProblemsAreToldAndTheModemKept();
  void DetectionKeepsAHeldModem();
  void DiallingOptionsCancelAndKeys();
  void OutsideLineRuleCancelAndKeys();
  void DialingWindowShowsWhatIsDialled();
  void DesktopTelephoneGetsTelLinks();
  void NoTelephoneApplicationOffersTheModem();
  void CallingFromAndDialWithAreKept();
  void MnemonicsAndAccessibleNames();

private:
  bool Start(const QString& Settings = QStringLiteral("[MODEM]\nPort=3\n")) {
    BookWithNumbers(*Platform, Settings);
    Modem = ModemOn(*Platform, 3);
    return Modem && OpenPhone();
  }
  // The main window anew, as the program starts.
  bool OpenPhone() {
    Phone.reset();
    Phone = std::make_unique<TPhone>();
    return Phone->W.Activate();
  }
  std::unique_ptr<TFakePlatform> Platform;
  std::unique_ptr<TSimModem> Modem;
  std::unique_ptr<TPhone> Phone;
};

void TTelephonyTest::LastKnownModemIsCheckedFirst() {
  QVERIFY(Start(QStringLiteral("[MODEM]\nPort=3\nDetected=1\n")));
  // One probe, and the window closed by itself.
  QCOMPARE(Phone->Captions, QStringList{QStringLiteral("Checking Last Known MODEM...")});
  QCOMPARE(Modem->Lines(), TLines{"ATZ"});
  QVERIFY(!Phone->Detect.isVisible());
  QCOMPARE(Phone->W->ModemPort(), 3);
  QVERIFY(Platform->Prompter.Boxes.empty());
  QVERIFY(Phone->W->spdbtnDial1->isEnabled());
  // Gone by the next start: nothing else is found and the dial buttons say so at once.
  Phone.reset();
  Modem.reset();
  QVERIFY(OpenPhone());
  QCOMPARE(Platform->Prompter.Texts().size(), 2);
  QCOMPARE(Platform->Prompter.Texts().last(), NoModems);
  QCOMPARE(Phone->W->ModemPort(), -1);
  QVERIFY(!Phone->W->spdbtnDial1->isEnabled());
}

void TTelephonyTest::DetectionListsEveryAnsweringPort() {
  BookWithNumbers(*Platform, QStringLiteral("[MODEM]\nPort=3\nDetected=1\n"));
  auto Moved = ModemOn(*Platform, 4);
  auto Refusing = ModemOn(*Platform, 5);
  QVERIFY(Moved && Refusing);
  Refusing->SetReply(TSimModem::TReply::Error);
  std::unique_ptr<TSimModem> First;
  {
    // The modem moved from COM3 to COM4: said so, then every port is tested.
    Phone = std::make_unique<TPhone>();
    Phone->PickWhenListed(0);
    QVERIFY(Phone->W.Activate());
    QCOMPARE(Platform->Prompter.Texts(),
             QStringList{QStringLiteral("The MODEM previously on COM3 is no longer available.  "
                                        "MODEMS will be detected again.")});
    QCOMPARE(Phone->Captions.size(), 11);
    QCOMPARE(Phone->Captions[1], QStringLiteral("Testing COM1..."));
    QCOMPARE(Phone->Captions[9], QStringLiteral("Testing COM9..."));
    QCOMPARE(Phone->Listed(), QStringList{QStringLiteral("COM4: OK")});  // not the one answering ERROR
    QCOMPARE(Phone->W->ModemPort(), 4);
    QVERIFY(Phone->W->spdbtnDial1->isEnabled());

    // Two modems, listed in port order; the second is chosen.
    First = ModemOn(*Platform, 1);
    QVERIFY(First);
    Phone->PickWhenListed(1);
    Phone->W->mnuODetectMODEMS->trigger();
    QCOMPARE(Phone->Listed(), QStringList({QStringLiteral("COM1: OK"), QStringLiteral("COM4: OK")}));
    QCOMPARE(Phone->W->ModemPort(), 4);
    QCOMPARE(First->Lines(), TLines{"ATZ"});
    // Shown again, nothing of that scan can be chosen before the next one begins.
    Phone->Detect.show();
    QVERIFY(!Phone->Detect.btnOK->isEnabled());
    QCOMPARE(Phone->Detect.lstMODEMS->count(), 0);
    Phone->Detect.hide();

    // Modem lines all down (a null-modem cable): nothing is listed or dialled.
    class TNoLines : public TSerialDevice {
    public:
      int ModemLines() override { return 0; }
    };
    Phone->Detect.cp->SetDevice(std::make_unique<TNoLines>());
    Platform->Prompter.Boxes.clear();
    Phone->W->mnuODetectMODEMS->trigger();
    QCOMPARE(Platform->Prompter.Texts(), QStringList{NoModems});
    QVERIFY(!Phone->Detect.isVisible());
    QCOMPARE(Phone->W->ModemPort(), -1);
    QVERIFY(!Phone->W->spdbtnDial1->isEnabled());
    QCOMPARE(First->Lines(), TLines{"ATZ"});
  }
  // A port beyond COM9 is never probed.
  auto Tenth = ModemOn(*Platform, 10);
  Phone.reset();
  Phone = std::make_unique<TPhone>();
  Phone->PickWhenListed(0);
  Phone->W->mnuODetectMODEMS->trigger();
  QCOMPARE(Phone->Listed(), QStringList({QStringLiteral("COM1: OK"), QStringLiteral("COM4: OK")}));
  QVERIFY(Tenth->Lines().empty());
}

void TTelephonyTest::DialButtonsSendTheCommands() {
  QVERIFY(Start());
  struct TCase {
    bool Tone, Silent, Outside;
    const char* Digits;
    const char* Pause;
    QToolButton* TfrmMain::*Button;
    const char* Location;
    const char* Shown;  // the dial string, outside line and all
    TLines Lines;
  };
  const std::vector<TCase> Cases = {
      {true,
       false,
       false,
       "",
       "W",
       &TfrmMain::spdbtnDial1,
       "Home Telephone Number",
       "123",
       {"ATM1", "ATDT 123;", "ATH", "ATZ"}},
      {false,
       true,
       false,
       "",
       "W",
       &TfrmMain::spdbtnDial2,
       "Business Telephone Number",
       "91#",
       {"ATM0", "ATDP 91#;", "ATH", "ATZ"}},
      {true,
       false,
       true,
       "9",
       ",",
       &TfrmMain::spdbtnDial1,
       "Home Telephone Number",
       "9,123",
       {"ATM1", "ATDT 9,123;", "ATH", "ATZ"}},
      {true,
       false,
       true,
       "two",
       "W",
       &TfrmMain::spdbtnDial4,
       "Mobile Telephone",
       "896W08003569377",
       {"ATM1", "ATDT 896W08003569377;", "ATH", "ATZ"}},
      // An extension never gets the outside-line prefix.
      {true,
       false,
       true,
       "9",
       ",",
       &TfrmMain::spdbtnDial3,
       "Internal Extension",
       "456",
       {"ATM1", "ATDT 456;", "ATH", "ATZ"}},
  };
  Phone->Options.chkDialExtensions->setChecked(true);
  for (const TCase& Case : Cases) {
    (Case.Tone ? Phone->Options.rdoToneDial : Phone->Options.rdoPulseDial)->setChecked(true);
    Phone->Options.chkDialSilently->setChecked(Case.Silent);
    Phone->Outside.chkDialOutsideLine->setChecked(Case.Outside);
    Phone->Outside.edtOutsideLineDigit->setText(QLatin1String(Case.Digits));
    Phone->Outside.edtPauseChar->setText(QLatin1String(Case.Pause));
    Modem->ClearRecords();
    QToolButton* Button = Phone->W.Main.get()->*Case.Button;
    Phone->W->tabDetails->setCurrentIndex(Button == Phone->W->spdbtnDial1 ? 0 : 1);
    QVERIFY(Button->isEnabled());
    QStringList Shown;
    When([&] { return Phone->Dial.isVisible() && Phone->Dial.btnOK->isEnabled(); },
         [&] {
           Shown << Phone->Dial.edtName->text() << Phone->Dial.edtLocation->text() << Phone->Dial.edtNumber->text();
           QTest::keyClick(&Phone->Dial, Qt::Key_Return);
         });
    Button->click();
    QVERIFY(!Phone->Dial.isVisible());
    QCOMPARE(Shown,
             QStringList({QStringLiteral("Ann Adams"), QLatin1String(Case.Location), QLatin1String(Case.Shown)}));
    QCOMPARE(Modem->Lines(), Case.Lines);
  }
  QVERIFY(Platform->Prompter.Boxes.empty());
}

void TTelephonyTest::UnansweredModemIsReset() {
  QVERIFY(Start());
  Phone->Detect.Exchange.CommandTimeout = 200;  // the speaker command's, left by an earlier exchange
  Phone->Dial.ResetTimeoutMs = 5000;            // only a modem that stays deaf waits it out
  Modem->SetReply(TSimModem::TReply::Silent);

  // The modem answers again once reset: the dial is not repeated.
  Platform->Prompter.WhileShown = [&](const TFakeBox& Box) {
    if (Box.Text == NoAnswer) Modem->SetReply(TSimModem::TReply::Ok);
  };
  When([&] { return Phone->Dial.isVisible() && Phone->Dial.btnOK->isEnabled(); }, [&] { Phone->Dial.btnOK->click(); });
  Phone->W->spdbtnDial1->click();
  QCOMPARE(Platform->Prompter.Texts(),
           QStringList(
               {NoAnswer, QStringLiteral("Your MODEM has reset successfully.  Please try the dial operation again.")}));
  QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATH", "ATZ", "ATH", "ATZ"}));
  QCOMPARE(Phone->W->ModemPort(), 3);
  QCOMPARE(Phone->Detect.Exchange.CommandTimeout, 5000);  // the reset's limit

  // A modem that stays deaf cannot be reset: every dial command is disabled.
  Phone->Detect.Exchange.CommandTimeout = 200;
  Phone->Dial.ResetTimeoutMs = 200;
  Platform->Prompter.WhileShown = nullptr;
  Platform->Prompter.Boxes.clear();
  Modem->ClearRecords();
  Modem->SetReply(TSimModem::TReply::Silent);
  When([&] { return Phone->Dial.isVisible() && Phone->Dial.btnOK->isEnabled(); }, [&] { Phone->Dial.btnOK->click(); });
  Phone->W->spdbtnDial1->click();
  QCOMPARE(Platform->Prompter.Texts(),
           QStringList({NoAnswer, QStringLiteral("Your MODEM could not be reset and it will have to be re-detected "
                                                 "before you can use it again.")}));
  QCOMPARE(Phone->W->ModemPort(), -1);
  QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATH", "ATZ"}));  // OK sends nothing without a modem
  QVERIFY(!Phone->W->spdbtnDial1->isEnabled());
  QVERIFY(!Phone->W->mnuFDialler->isEnabled());
}

void TTelephonyTest::CloseIsRefusedWhileTheModemIsReset() {
  QVERIFY(Start());
  // While the modem is reset after a command went unanswered, nothing closes the window.
  Modem->SetReply(TSimModem::TReply::Silent);
  Phone->Detect.Exchange.CommandTimeout = 200;
  Phone->Dial.ResetTimeoutMs = 2000;
  bool Refused = false;
  Platform->Prompter.WhileShown = [&](const TFakeBox& Box) {
    if (Box.Text != NoAnswer) return;
    Modem->SetReply(TSimModem::TReply::Ok);
    Modem->SetReplyDelay(150);
    When([&] { return Phone->Detect.Exchange.CommandBusy; },
         [&] {
           Phone->Dial.close();
           QTest::keyClick(&Phone->Dial, Qt::Key_Escape);
           Refused = Phone->Dial.isVisible();
           When([&] { return Phone->Dial.btnOK->isEnabled(); }, [&] { Phone->Dial.close(); });
         });
  };
  Phone->W->spdbtnDial1->click();
  QVERIFY(Refused);
  QVERIFY(!Phone->Dial.isVisible());
  // The title-bar close hung up, once.
  QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATH", "ATZ", "ATH", "ATZ"}));
}

// While the modem dials, the person can hang up: Cancel, Escape or the close box.
void TTelephonyTest::CancelWhileDiallingHangsUp() {
  QVERIFY(Start());
  Modem->SetReplyTo("ATD", "");  // the dial is never answered
  const std::vector<std::pair<const char*, std::function<void()>>> Cases = {
      {"Cancel", [&] { QTest::mouseClick(Phone->Dial.btnCancel, Qt::LeftButton); }},
      {"Escape", [&] { QTest::keyClick(&Phone->Dial, Qt::Key_Escape); }},
      {"close box", [&] { Phone->Dial.close(); }},
  };
  for (const auto& [Name, HangUp] : Cases) {
    Modem->ClearRecords();
    QStringList Seen;
    When([&] { return Phone->Dial.isVisible() && Modem->Lines().size() == 2; },
         [&] {
           Seen << Phone->Dial.btnCancel->text() << QString::number(Phone->Dial.btnCancel->isVisible())
                << QString::number(Phone->Dial.btnOK->isVisible());
           HangUp();
         });
    Phone->W->spdbtnDial1->click();
    QVERIFY2(!Phone->Dial.isVisible(), Name);
    QCOMPARE(Seen, QStringList({QStringLiteral("Cancel"), QStringLiteral("1"), QStringLiteral("0")}));
    // A carriage return stops the dialling; then the hang-up as after OK.
    QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATDT 123;", "", "ATH", "ATZ"}));
    QVERIFY(Platform->Prompter.Boxes.empty());
    QCOMPARE(Phone->W->ModemPort(), 3);
  }
  QVERIFY(!Phone->Dial.btnOK->isHidden() && Phone->Dial.btnCancel->isHidden());  // OK back in its place
}

// A dial the line or the modem turned down is told in the person's words and hung up.
void TTelephonyTest::TurnedDownDialIsToldAndHungUp() {
  QVERIFY(Start());
  Phone->Outside.chkDialOutsideLine->setChecked(true);
  Phone->Outside.edtOutsideLineDigit->setText(QStringLiteral("9"));
  Phone->Outside.edtPauseChar->setText(QStringLiteral("W"));
  const std::vector<std::pair<const char*, QString>> Cases = {
      {"BUSY", QStringLiteral("The line is busy.")},
      {"NO DIALTONE",
       QStringLiteral("There is no dial tone. Check that the telephone line is connected to the MODEM.")},
      {"NO ANSWER", QStringLiteral("There was no answer.")},
      {"NO CARRIER", QStringLiteral("There was no answer.")},
      {"ERROR", QStringLiteral("The MODEM refused the number 9W123.")},
  };
  for (const auto& [Result, Told] : Cases) {
    Modem->SetReplyTo("ATD", Result);
    Modem->ClearRecords();
    Platform->Prompter.Boxes.clear();
    // Nobody presses OK: the window closes by itself after the box.
    Phone->W->spdbtnDial1->click();
    QVERIFY2(!Phone->Dial.isVisible(), Result);
    QCOMPARE(Platform->Prompter.Texts(), QStringList{Told});
    QCOMPARE(Platform->Prompter.Kinds(), QStringList{QStringLiteral("error")});
    QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATDT 9W123;", "ATH", "ATZ"}));
    QCOMPARE(Phone->W->ModemPort(), 3);
  }
}

// A modem with its echo off, or one that rings meanwhile, dials like any other
// (detection already took an answer without the echo).
void TTelephonyTest::EchoOffAndRingingModemsDial() {
  QVERIFY(Start());
  Phone->Detect.Exchange.CommandTimeout = 20000;  // only a fault waits it out
  const std::vector<std::pair<const char*, std::function<void()>>> Cases = {
      {"echo off", [&] { Modem->SetEcho(false); }},
      {"ringing",
       [&] {
         Modem->SetEcho(true);
         Modem->Interject("\r\nRING\r\n");
       }},
  };
  for (const auto& [Name, Arrange] : Cases) {
    Arrange();
    Modem->ClearRecords();
    When([&] { return Phone->Dial.isVisible() && Phone->Dial.btnOK->isEnabled(); },
         [&] { Phone->Dial.btnOK->click(); });
    Phone->W->spdbtnDial1->click();
    QVERIFY2(Platform->Prompter.Boxes.empty(), Name);
    QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATDT 123;", "ATH", "ATZ"}));
  }
}

// A port that cannot be used is told at once, and the modem is kept.
void TTelephonyTest::PortProblemsAreToldAndTheModemKept() {
  QVERIFY(Start());
  const QString Device = QString::fromStdString(Modem->SlavePath());
  // A device that refuses this account (the tests run with every right).
  class TForbidden : public TSerialDevice {
  public:
    bool Open(const std::string&) override {
      errno = EACCES;
      return false;
    }
  };
  TSerialDevice Holder;
  struct TCase {
    const char* Name;
    std::function<void()> Arrange;
    QString Told;
    TLines Lines;
  };
  const std::vector<TCase> Cases = {
      {"held by another program",
       [&] { QVERIFY(Holder.Open(Modem->SlavePath())); },
       QStringLiteral("COM3 is in use by another program."),
       {}},
      {"no permission",
       [&] {
         Holder.Close();
         Phone->Detect.cp->SetDevice(std::make_unique<TForbidden>());
       },
       QStringLiteral("You may not use %1: add your account to the dialout group.").arg(Device),
       {}},
      {"pulled out while dialling",
       [&] {
         Phone->Detect.cp->SetDevice(std::make_unique<TSerialDevice>());
         Modem->SetReplyTo("ATD", "");
         When([&] { return Modem->Lines().size() == 2; }, [&] { Modem->DropLine(); });
       },
       QStringLiteral("The MODEM on COM3 is no longer connected."),
       {"ATM1", "ATDT 123;"}},
      {"gone", [&] {}, QStringLiteral("The MODEM on COM3 is no longer connected."), {}},
  };
  {
    Phone->Detect.Exchange.CommandTimeout = 60000;  // waiting it out fails the test
    for (const TCase& Case : Cases) {
      Case.Arrange();
      Modem->ClearRecords();
      Platform->Prompter.Boxes.clear();
      Phone->W->spdbtnDial1->click();
      QVERIFY2(!Phone->Dial.isVisible(), Case.Name);
      QCOMPARE(Platform->Prompter.Texts(), QStringList{Case.Told});
      QCOMPARE(Modem->Lines(), Case.Lines);
      QCOMPARE(Phone->W->ModemPort(), 3);
      QVERIFY(Phone->W->spdbtnDial1->isEnabled());
    }
    Phone.reset();
  }
  QVERIFY(Platform->ReadSettings().contains(QStringLiteral("[MODEM]\nPort=3\n")));
}

// Detection keeps a last known modem whose port is held or closed to the account.
void TTelephonyTest::DetectionKeepsAHeldModem() {
  BookWithNumbers(*Platform, QStringLiteral("[MODEM]\nPort=3\nDetected=1\n"));
  Modem = ModemOn(*Platform, 3);
  QVERIFY(Modem);
  TSerialDevice Holder;
  QVERIFY(Holder.Open(Modem->SlavePath()));
  QVERIFY(OpenPhone());
  QCOMPARE(Phone->Captions, QStringList{QStringLiteral("Checking Last Known MODEM...")});
  QCOMPARE(Platform->Prompter.Texts(), QStringList{QStringLiteral("COM3 is in use by another program.")});
  QVERIFY(!Phone->Detect.isVisible());
  QCOMPARE(Phone->W->ModemPort(), 3);
  QVERIFY(Modem->Lines().empty());
}

void TTelephonyTest::DiallingOptionsCancelAndKeys() {
  BookWithNumbers(*Platform, QStringLiteral("[MODEM]\nPort=3\n"));
  {
    QVERIFY(OpenPhone());
    TfrmDiallingOpt& Options = Phone->Options;
    QVERIFY(Options.rdoToneDial->isChecked());
    auto Show = [&](std::function<void()> Action) {
      When([&] { return Options.isVisible(); }, Action);
      Phone->W->mnuODialling->trigger();
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

    Phone->W->tabDetails->setCurrentIndex(1);
    QVERIFY(!Phone->W->spdbtnDial3->isEnabled());
    Show([&] {
      Options.chkDialExtensions->click();
      Options.btnOK->click();
    });
    QVERIFY(Phone->W->spdbtnDial3->isEnabled());  // at once
    Phone.reset();
  }
  const QString Written = Platform->ReadSettings();
  for (const char* Key : {"ToneDial=0\n", "DialExt=1\n", "SilentDial=0\n"})
    QVERIFY2(Written.contains(QLatin1String(Key)), Key);
  TPhone Again;
  QVERIFY(Again.Options.rdoPulseDial->isChecked() && Again.Options.chkDialExtensions->isChecked());
}

void TTelephonyTest::OutsideLineRuleCancelAndKeys() {
  {
    Phone = std::make_unique<TPhone>();
    TfrmOutsideLine& Line = Phone->Outside;
    auto Show = [&](std::function<void()> Action) {
      When([&] { return Line.isVisible(); }, Action);
      Phone->W->mnuOOutsideLine->trigger();
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
    Phone.reset();
  }
  const QString Written = Platform->ReadSettings();
  QVERIFY(Written.contains(QStringLiteral("[OutSideLine]\nDialForFirst=0\nDialThisFor= 9\nPauseChar=,\n")));
}

// The Dialing window shows the dial string the modem then receives, and what is not dialled.
void TTelephonyTest::DialingWindowShowsWhatIsDialled() {
  QVERIFY(Start());
  struct TCase {
    const char* Country;
    const char* Stored;
    bool Extensions, Outside;
    const char* Shown;
    const char* Note;
  };
  const std::vector<TCase> Cases = {
      {"GB", "+44 20 7946 0000", false, false, "02079460000", ""},
      {"GB", "+33 1 23 45 67 89", false, true, "9W0033123456789", ""},
      {"US", "+33 1 23 45 67 89", false, false, "01133123456789", ""},
      {"GB", "020 7946 0001 ext. 12", true, false, "02079460001,,,12", ""},
      {"GB", "020 7946 0001 ext. 12", false, true, "9W02079460001",
       "Extension 12 is not dialled (Allow Extension Dialling is off)."},
      {"DE", "0171 555 (mobil)", false, false, "0171555", "Not dialled: (mobil)"},
      {"GB", "0800 FLOWERS", false, false, "08003569377", ""},
      {"GB", "+999 123", false, false, "999123", "No country has this number's code: it is dialled without its \"+\"."},
  };
  Phone->W->tabDetails->setCurrentIndex(0);
  Phone->Outside.edtOutsideLineDigit->setText(QStringLiteral("9"));
  for (const TCase& Case : Cases) {
    Phone->Options.SetCountry(Case.Country);
    Phone->Options.chkDialExtensions->setChecked(Case.Extensions);
    Phone->Outside.chkDialOutsideLine->setChecked(Case.Outside);
    Phone->W->edtHomeTel->setText(QString::fromUtf8(Case.Stored));
    Modem->ClearRecords();
    QStringList Seen;
    When([&] { return Phone->Dial.isVisible() && Phone->Dial.btnOK->isEnabled(); },
         [&] {
           Seen << Phone->Dial.edtNumber->text()
                << (Phone->Dial.lblNote->isVisible() ? Phone->Dial.lblNote->text() : QString());
           // The note fits the window.
           if (Phone->Dial.lblNote->isVisible() && Phone->Dial.lblNote->geometry().bottom() > Phone->Dial.btnOK->y())
             Seen << "clipped";
           Phone->Dial.btnOK->click();
         });
    Phone->W->spdbtnDial1->click();
    QCOMPARE(Seen, QStringList({QLatin1String(Case.Shown), QString::fromUtf8(Case.Note)}));
    QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATDT " + std::string(Case.Shown) + ";", "ATH", "ATZ"}));
  }
  QVERIFY(Platform->Prompter.Boxes.empty());
}

// With "Dial with: this desktop's telephone application" every way of dialling
// opens a tel: link in international form, without a modem and without an outside line.
void TTelephonyTest::DesktopTelephoneGetsTelLinks() {
  TFakeTelephoneDesktop Desktop(true);
  BookWithNumbers(*Platform, QStringLiteral("[MODEM]\nDialWith=1\nDialExt=1\n[Location]\nCountry=GB\n"
                                            "[OutSideLine]\nDialForFirst=1\nDialThisFor=9\n"));
  Phone = std::make_unique<TPhone>();
  TfrmQuickDial QuickDial(Phone->W.Main.get());
  TfrmDialler Dialler(Phone->W.Main.get());
  Phone->W->SetQuickDialWindow(&QuickDial);
  Phone->W->SetDiallerWindow(&Dialler);
  QVERIFY(Phone->W.Activate());
  QCOMPARE(Phone->W->ModemPort(), -1);
  QVERIFY(Phone->W->spdbtnDial1->isEnabled() && Phone->W->mnuAQuickDial->isEnabled() &&
          Phone->W->mnuFDialler->isEnabled());

  // Each link is awaited before the next dial: the application runs apart from the program.
  QStringList Links;
  auto Given = [&] {
    const QStringList All = Desktop.Links(int(Links.size()) + 1);
    Links = All;
    return All.isEmpty() ? QString() : All.last();
  };
  Phone->W->tabDetails->setCurrentIndex(0);
  Phone->W->edtHomeTel->setText(QStringLiteral("+44 20 7946 0000"));
  Phone->W->spdbtnDial1->click();
  QCOMPARE(Given(), QStringLiteral("tel:+442079460000"));
  Phone->W->tabDetails->setCurrentIndex(1);
  Phone->W->edtBusTel->setText(QStringLiteral("020 7946 0001 ext. 12 (reception)"));
  Phone->W->spdbtnDial2->click();
  QCOMPARE(Given(), QStringLiteral("tel:+442079460001;ext=12"));
  // Quick Dial's mobile, as stored: a vanity number.
  When([&] { return QuickDial.isVisible(); }, [&] { QTest::keyClick(QuickDial.focusWidget(), Qt::Key_M); });
  Phone->W->mnuAQuickDial->trigger();
  QCOMPARE(Given(), QStringLiteral("tel:+448003569377"));
  // The dial pad asks nothing about an outside line.
  for (const auto& [Typed, Link] : std::vector<std::pair<const char*, const char*>>{
           {"0033123456789", "tel:+33123456789"}, {"*21#", "tel:*21%23"}}) {
    When([&] { return Dialler.isVisible(); },
         [&] {
           QTest::keyClicks(Dialler.focusWidget(), QLatin1String(Typed));
           QTest::keyClick(Dialler.focusWidget(), Qt::Key_Return);
           Dialler.btnClose->click();
         });
    Phone->W->mnuFDialler->trigger();
    QCOMPARE(Given(), QLatin1String(Link));
  }
  QCOMPARE(Links.size(), 5);
  QVERIFY(!Phone->Dial.isVisible());
  QVERIFY(Platform->Prompter.Boxes.empty());
}

// No application takes tel: links: the person is told once per attempt and offered the modem.
void TTelephonyTest::NoTelephoneApplicationOffersTheModem() {
  TFakeTelephoneDesktop Desktop(false);
  BookWithNumbers(*Platform, QStringLiteral("[MODEM]\nDialWith=1\n[Location]\nCountry=GB\n"));
  const QString Missing = QStringLiteral("No application on this desktop dials telephone links (tel:).");
  {
    // Without a modem there is nothing to offer.
    QVERIFY(OpenPhone());
    Phone->W->spdbtnDial1->click();
    QCOMPARE(Platform->Prompter.Kinds(), QStringList{QStringLiteral("error")});
    QVERIFY(Platform->Prompter.Texts().first().startsWith(Missing));
    QVERIFY(Phone->Options.DialWithDesktop());
    Phone.reset();
  }
  Platform->Prompter.Boxes.clear();
  QVERIFY(Start(QStringLiteral("[MODEM]\nPort=3\nDialWith=1\n[Location]\nCountry=GB\n")));
  Phone->W->edtHomeTel->setText(QStringLiteral("+44 20 7946 0000"));
  // No: nothing is dialled and the choice stays.
  Platform->Prompter.Confirms = {false, true};
  Phone->W->spdbtnDial1->click();
  QVERIFY(Modem->Lines().empty());
  QVERIFY(Phone->Options.DialWithDesktop());
  // Yes: the modem dials this number, and the next ones.
  When([&] { return Phone->Dial.isVisible() && Phone->Dial.btnOK->isEnabled(); }, [&] { Phone->Dial.btnOK->click(); });
  Phone->W->spdbtnDial1->click();
  QCOMPARE(Modem->Lines(), TLines({"ATM1", "ATDT 02079460000;", "ATH", "ATZ"}));
  QVERIFY(!Phone->Options.DialWithDesktop());
  const QString Offer = Missing + QStringLiteral(" Dial with the MODEM instead?");
  QCOMPARE(Platform->Prompter.Texts(), QStringList({Offer, Offer}));
  QVERIFY(Platform->Prompter.Confirms.empty());
}

// "Calling from:" starts as the desktop's country, lists countries by name and code,
// and both new options are put back by Cancel and kept in the settings.
void TTelephonyTest::CallingFromAndDialWithAreKept() {
  TEnvironment Env;
  Env.Set("LC_ALL", std::nullopt);
  Env.Set("LC_TELEPHONE", std::nullopt);
  Env.Set("LANG", QStringLiteral("de_AT.UTF-8"));
  {
    Phone = std::make_unique<TPhone>();
    TfrmDiallingOpt& Options = Phone->Options;
    QCOMPARE(Options.Country(), std::string("AT"));
    QCOMPARE(Options.cboCountry->currentText(), QStringLiteral("Austria (+43)"));
    QVERIFY(Options.cboCountry->findText(QStringLiteral("United Kingdom (+44)")) >= 0);
    QVERIFY(Options.rdoDialModem->isChecked());
    QVERIFY(Options.rdoToneDial->isEnabled());
    When([&] { return Options.isVisible(); },
         [&] {
           Options.rdoDialDesktop->click();
           Options.SetCountry("JP");
           Options.btnCancel->click();
         });
    Phone->W->mnuODialling->trigger();
    QCOMPARE(Options.Country(), std::string("AT"));
    QVERIFY(Options.rdoDialModem->isChecked());
    When([&] { return Options.isVisible(); },
         [&] {
           Options.rdoDialDesktop->click();
           Options.SetCountry("GB");
           Options.btnOK->click();
         });
    Phone->W->mnuODialling->trigger();
    QVERIFY(Options.rdoDialDesktop->isChecked());
    QVERIFY(!Options.rdoToneDial->isEnabled() && !Options.chkDialSilently->isEnabled());
    QVERIFY(Phone->W->mnuFDialler->isEnabled());  // no modem, yet something to dial with at once
    Phone.reset();
  }
  const QString Written = Platform->ReadSettings();
  QVERIFY(Written.contains(QStringLiteral("DialWith=1\n")));
  QVERIFY(Written.contains(QStringLiteral("[Location]\nCountry=GB\n")));
  // A country kept in lower case is read; one that is none gives the desktop's.
  for (const auto& [Kept, Read] : std::vector<std::pair<const char*, const char*>>{{"fr", "FR"}, {"XX", "AT"}}) {
    Platform->WriteSettings(QStringLiteral("[Location]\nCountry=%1\n").arg(QLatin1String(Kept)));
    TfrmDiallingOpt Options;
    QCOMPARE(Options.Country(), std::string(Read));
  }
}

// Each dialling window: no two controls share a key, and a screen reader hears
// what every control is for (its label's text, not what it holds).
void TTelephonyTest::MnemonicsAndAccessibleNames() {
  Phone = std::make_unique<TPhone>();
  TfrmQuickDial QuickDial;
  TfrmDialler Dialler;
  for (QDialog* Window :
       std::initializer_list<QDialog*>{&Phone->Dial, &Phone->Options, &Phone->Outside, &QuickDial, &Dialler}) {
    const QString Name = Window->objectName();
    QStringList Keys;
    auto Key = [&](const QString& Text) {
      const qsizetype At = QString(Text).replace(QStringLiteral("&&"), QStringLiteral("__")).indexOf('&');
      if (At >= 0 && At + 1 < Text.size()) Keys << Text.mid(At + 1, 1).toUpper();
    };
    for (QLabel* Label : Window->findChildren<QLabel*>()) Key(Label->text());
    for (QAbstractButton* Button : Window->findChildren<QAbstractButton*>()) Key(Button->text());
    for (QGroupBox* Group : Window->findChildren<QGroupBox*>()) Key(Group->title());
    QVERIFY2(Keys.size() >= 2, qPrintable(Name));
    QCOMPARE(QSet<QString>(Keys.begin(), Keys.end()).size(), Keys.size());

    QList<QWidget*> Controls;
    for (QLineEdit* Edit : Window->findChildren<QLineEdit*>()) {
      Edit->setText(QStringLiteral("0123"));
      Controls << Edit;
    }
    for (QComboBox* List : Window->findChildren<QComboBox*>()) Controls << List;
    for (QAbstractButton* Button : Window->findChildren<QAbstractButton*>()) Controls << Button;
    for (QWidget* Control : Controls) {
      QAccessibleInterface* Accessible = QAccessible::queryAccessibleInterface(Control);
      QVERIFY2(Accessible, qPrintable(Control->objectName()));
      const QString Heard = Accessible->text(QAccessible::Name);
      QVERIFY2(!Heard.trimmed().isEmpty() && Heard != QStringLiteral("0123"),
               qPrintable(Name + ' ' + Control->objectName() + ": " + Heard));
    }
  }
}

QTEST_MAIN(TTelephonyTest)
#include "tst_telephony.moc"
