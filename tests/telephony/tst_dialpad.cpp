// The dial pad and Quick Dial as a user drives them: keys typed and clicked,
// the outside-line question, what reaches the dialling window, the focus.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <set>

#include "Custom.h"
#include "Dial.h"
#include "Dialler.h"
#include "Dialopt.h"
#include "MDetect.h"
#include "MainTestKit.h"
#include "Olineopt.h"
#include "Qdial.h"
#include "SimModem.h"

namespace {

// Stands in for the dialling window: records each request it is shown with.
struct TDialRecorder {
  std::vector<TDialRequest> Requests;
  TDialFunction Hook() {
    return [this](const TDialRequest& Request) { Requests.push_back(Request); };
  }
};

// Runs Action once Ready holds, from the event loop of the modal window about
// to be shown; gives up after ten seconds and hides that window instead.
void When(std::function<bool()> Ready, std::function<void()> Action) {
  auto* Timer = new QTimer;
  QElapsedTimer Waited;
  Waited.start();
  QObject::connect(Timer, &QTimer::timeout, [=] {
    const bool Late = Waited.elapsed() > 10000;
    if (!Late && !Ready()) return;
    Timer->stop();
    Timer->deleteLater();
    if (!Late) Action();
    else if (QWidget* Modal = QApplication::activeModalWidget()) Modal->hide();
  });
  Timer->start(5);
}

bool ShowActive(QWidget& Window) {
  Window.show();
  QApplication::setActiveWindow(&Window);
  return QTest::qWaitForWindowActive(&Window);
}

// Names the widgets of a window that paint, and the buttons painted up (not pressed).
class TPaintCounter : public QObject {
public:
  std::set<QString> Painted, PaintedUp;
  explicit TPaintCounter(QWidget& Window) {
    Window.installEventFilter(this);
    for (QWidget* Child : Window.findChildren<QWidget*>()) Child->installEventFilter(this);
  }
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() != QEvent::Paint) return false;
    Painted.insert(Watched->objectName());
    if (auto* Button = qobject_cast<QAbstractButton*>(Watched); Button && !Button->isDown())
      PaintedUp.insert(Watched->objectName());
    return false;
  }
};

}  // namespace

class TDialPadTest : public QObject {
  Q_OBJECT
private slots:
  void KeysTypedAndClicked();
  void TypedKeyRepaintsOnlyItsButton();
  void QuickDialFirstFocus_data();
  void QuickDialFirstFocus();
  void QuickDialKeys_data();
  void QuickDialKeys();
  void EndToEndThroughTheModem();
};

void TDialPadTest::KeysTypedAndClicked() {
  TFakePlatform Platform;
  TfrmDialler Dialler;
  QVERIFY(ShowActive(Dialler));
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("0800-flowers*#"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);  // commands, not typing
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_2, Qt::AltModifier);
  QCOMPARE(Dialler.edtDialledNo->text(), QStringLiteral("08003569377"));
  // Clicked keys, the pictures too; Enter then dials whatever was clicked.
  for (QAbstractButton* Key : std::initializer_list<QAbstractButton*>{Dialler.btnDigits[1], Dialler.btnStar,
                                                                      Dialler.btnDigits[0], Dialler.btnHash}) {
    QTest::mouseClick(Key, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), Dialler.btnDial);
  }
  QCOMPARE(Dialler.edtDialledNo->text(), QStringLiteral("080035693771*0#"));
  QTest::keyClick(Dialler.btnDial, Qt::Key_F1);
  QCOMPARE(Platform.Help.Calls, QStringList{QStringLiteral("ctx55")});

  // Escape clears, and a second Escape closes.
  QTest::keyClick(Dialler.btnDial, Qt::Key_Escape);
  QVERIFY(Dialler.isVisible() && Dialler.edtDialledNo->text().isEmpty());
  QTest::keyClick(Dialler.btnDial, Qt::Key_Escape);
  QVERIFY(!Dialler.isVisible());
  QCOMPARE(Dialler.result(), int(QDialog::Rejected));
  // Shown again, it starts empty.
  Dialler.edtDialledNo->setText(QStringLiteral("123"));
  QVERIFY(ShowActive(Dialler));
  QCOMPARE(Dialler.edtDialledNo->text(), QString());
}

void TDialPadTest::TypedKeyRepaintsOnlyItsButton() {
  TFakePlatform Platform;
  TfrmDialler Dialler;
  QVERIFY(ShowActive(Dialler));
  Dialler.repaint();  // what showing and activating left to paint, before counting
  TPaintCounter Paints(Dialler);
  QTest::keyClick(Dialler.btnDial, Qt::Key_K);
  QTRY_VERIFY(Paints.PaintedUp.count(QStringLiteral("btn5")));  // pressed a moment, then released
  QCOMPARE(Paints.Painted, std::set<QString>({QStringLiteral("btn5"), QStringLiteral("edtDialledNo")}));
}

void TDialPadTest::QuickDialFirstFocus_data() {
  QTest::addColumn<int>("TabPage");
  QTest::addColumn<QString>("Filled");  // the fields with a number: H, W, X, M; lower case for spaces only
  QTest::addColumn<int>("Focused");     // 0 home, 1 business, 2 extension, 3 mobile
  QTest::newRow("home page, all") << 0 << "HWXM" << 0;
  QTest::newRow("home page, extension") << 0 << "hXM" << 2;
  QTest::newRow("home page, mobile only") << 0 << "M" << 3;
  QTest::newRow("work page, all") << 1 << "HWXM" << 1;
  QTest::newRow("work page, home and mobile") << 1 << "HwM" << 3;
  QTest::newRow("notes page, home only") << 2 << "H" << 0;
}

void TDialPadTest::QuickDialFirstFocus() {
  QFETCH(int, TabPage);
  QFETCH(QString, Filled);
  QFETCH(int, Focused);
  TFakePlatform Platform;
  TfrmQuickDial QuickDial;
  for (int Kind = 0; Kind < 4; ++Kind) {
    const QChar Letter = QStringLiteral("HWXM")[Kind];
    QuickDial.Field(Kind)->setText(Filled.contains(Letter)             ? QStringLiteral("1")
                                   : Filled.contains(Letter.toLower()) ? QStringLiteral("  ")
                                                                       : QString());
  }
  QuickDial.TabPage = TabPage;
  QVERIFY(ShowActive(QuickDial));
  QCOMPARE(QApplication::focusWidget(), QuickDial.Field(Focused));
}

void TDialPadTest::QuickDialKeys_data() {
  QTest::addColumn<int>("Key");
  QTest::addColumn<int>("Modifiers");
  QTest::addColumn<int>("Dialled");  // the kind dialled, -1 none, -2 none with a beep
  const int Alt = Qt::AltModifier;
  QTest::newRow("h") << int(Qt::Key_H) << 0 << 0;
  QTest::newRow("shift W") << int(Qt::Key_W) << int(Qt::ShiftModifier) << 1;
  QTest::newRow("alt X: the extension") << int(Qt::Key_X) << Alt << 2;
  QTest::newRow("m, no mobile") << int(Qt::Key_M) << 0 << -2;
  QTest::newRow("alt M, no mobile") << int(Qt::Key_M) << Alt << -2;
  QTest::newRow("another letter") << int(Qt::Key_Q) << 0 << -1;
  QTest::newRow("ctrl H") << int(Qt::Key_H) << int(Qt::ControlModifier) << -1;
  QTest::newRow("enter on the work number") << int(Qt::Key_Return) << 0 << 1;
}

void TDialPadTest::QuickDialKeys() {
  QFETCH(int, Key);
  QFETCH(int, Modifiers);
  QFETCH(int, Dialled);
  TFakePlatform Platform;
  TDialRecorder Dial;
  TfrmQuickDial QuickDial;
  QuickDial.ShowDial = Dial.Hook();
  QuickDial.DialName = QStringLiteral("Ann Adams");
  QuickDial.TabPage = 1;
  QuickDial.edtHomeNo->setText(QStringLiteral("01234"));
  QuickDial.edtWorkNo->setText(QStringLiteral("0800 FLOWERS"));
  QuickDial.edtExtension->setText(QStringLiteral("123"));
  QVERIFY(ShowActive(QuickDial));
  QTest::keyClick(QuickDial.edtWorkNo, Qt::Key(Key), Qt::KeyboardModifiers(Modifiers));
  QCOMPARE(Platform.Prompter.Beeps, int(Dialled == -2));
  QVERIFY(Platform.Prompter.Boxes.empty());
  if (Dialled < 0) {
    QVERIFY(Dial.Requests.empty() && QuickDial.isVisible());
    QCOMPARE(QApplication::focusWidget(), QuickDial.edtWorkNo);  // the labels' letters move no focus
    return;
  }
  static const char* const Locations[] = {"Home Telephone Number", "Business Telephone Number", "Internal Extension",
                                          "Mobile Telephone"};
  QCOMPARE(Dial.Requests.size(), size_t(1));
  const TDialRequest& Request = Dial.Requests.front();
  QCOMPARE(Request.DialName, QStringLiteral("Ann Adams"));
  QCOMPARE(Request.DialLocation, QLatin1String(Locations[Dialled]));
  QCOMPARE(Request.DialNumber, QuickDial.Field(Dialled)->text());
  QCOMPARE(Request.NoOutsideLine, std::optional<bool>(Dialled == 2));
  QVERIFY(!QuickDial.isVisible());
  QCOMPARE(QuickDial.result(), int(QDialog::Accepted));
}

void TDialPadTest::EndToEndThroughTheModem() {
  TFakePlatform Platform;
  const QString Path = Platform.Path(QStringLiteral("BOOK.ABK"));
  {
    TAddressBook Book;
    for (const char* Name : {"Adams", "Baker"}) {
      auto* Item = new TAddressItem;
      Item->Surname = Name;
      Item->FirstName = Name[0] == 'A' ? "Ann" : "Bob";
      Item->BusExtn = "123";  // Bob's only number
      if (Name[0] == 'A') Item->HomeTelephone = "01234";
      Book.Items->Add(Item);
    }
    Book.FileName = Path.toStdString();
    Book.SaveToFile();
  }
  Platform.WriteSettings(QStringLiteral("[Startup]\nLoadFile=%1\n[MODEM]\nPort=3\n"
                                        "[OutSideLine]\nDialForFirst=1\nDialThisFor=9\nPauseChar=,\n")
                             .arg(Path));
  TSimModem Modem;
  QVERIFY(Modem.LinkAsPort(Platform.Folder.path().toStdString(), 3));
  // The windows, wired as the program wires them.
  TWindows W;
  TfrmDiallingOpt Options(W.Main.get());
  TfrmMODEMDetect Detect(W.Main.get());
  TfrmDial Dial(&Detect, &Options, W.Main.get());
  TfrmQuickDial QuickDial(W.Main.get());
  TfrmOutsideLine Outside(W.Main.get());
  TfrmDialler Dialler(W.Main.get());
  W->SetDiallingOptions(&Options);
  W->SetModemDetection(&Detect);
  W->SetDialWindow(&Dial);
  W->SetQuickDialWindow(&QuickDial);
  W->SetOutsideLineWindow(&Outside);
  Dial.SetOutsideLine(&Outside);
  W->SetDiallerWindow(&Dialler);
  QVERIFY(W.Activate());
  QStringList Shown;  // what the dialling window showed each time
  auto TalkThenHangUp = [&] {
    When([&] { return Dial.isVisible() && Dial.btnOK->isEnabled(); },
         [&] {
           Shown << Dial.edtName->text() + '|' + Dial.edtLocation->text() + '|' + Dial.edtNumber->text();
           Dial.btnOK->click();
         });
  };
  auto Lines = [&](const std::vector<std::string>& Dialled) {
    std::vector<std::string> All;
    for (const std::string& Command : Dialled) All.insert(All.end(), {"ATM1", Command, "ATH", "ATZ"});
    return All;
  };

  // The dial pad: the outside-line question decides the prefix and Cancel dials
  // nothing; without the option there is neither question nor prefix; an empty
  // number does nothing. The number is emptied after every attempt.
  for (EAnswer Answer : {EAnswer::Yes, EAnswer::No, EAnswer::Cancel}) Platform.Prompter.Answers.push_back(Answer);
  QStringList Left;
  When([&] { return Dialler.isVisible(); },
       [&] {
         for (const char* Typed : {"0800-flowers", "0800-flowers", "0800-flowers", "0800-flowers", ""}) {
           if (Left.size() == 3) Outside.chkDialOutsideLine->setChecked(false);
           if (Left.size() != 2 && *Typed) TalkThenHangUp();
           QTest::keyClicks(Dialler.focusWidget(), QLatin1String(Typed));
           QTest::keyClick(Dialler.focusWidget(), Qt::Key_Return);
           Left << Dialler.edtDialledNo->text();
         }
         Dialler.btnClose->click();
       });
  W->mnuFDialler->trigger();
  QCOMPARE(Modem.Lines(), Lines({"ATDT 9,08003569377;", "ATDT 08003569377;", "ATDT 08003569377;"}));
  // The dialling window shows what is dialled, outside line and all.
  QCOMPARE(Shown, QStringList(
                      {"|Direct Dialing|9,08003569377", "|Direct Dialing|08003569377", "|Direct Dialing|08003569377"}));
  QCOMPARE(Platform.Prompter.Texts(), QStringList(3, OutsideLineQuestion));
  QCOMPARE(Left, QStringList(5, QString()));
  Outside.chkDialOutsideLine->setChecked(true);

  // Quick Dial: the extension never gets the prefix, the home number does.
  Options.chkDialExtensions->setChecked(true);
  Modem.ClearRecords();
  Shown.clear();
  for (Qt::Key Key : {Qt::Key_X, Qt::Key_H}) {
    TalkThenHangUp();
    When([&] { return QuickDial.isVisible(); }, [&, Key] { QTest::keyClick(QuickDial.focusWidget(), Key); });
    W->mnuAQuickDial->trigger();
    QVERIFY(!QuickDial.isVisible());
  }
  QCOMPARE(Modem.Lines(), Lines({"ATDT 123;", "ATDT 9,01234;"}));
  QCOMPARE(Shown, QStringList({"Ann Adams|Internal Extension|123", "Ann Adams|Home Telephone Number|9,01234"}));

  // Bob's extension may not be dialled once the option is off: nothing to dial.
  Options.chkDialExtensions->setChecked(false);
  W->SelectRow(2);
  W->grdNamesClick();
  Platform.Prompter.Boxes.clear();
  W->mnuAQuickDial->trigger();
  QCOMPARE(Platform.Prompter.Texts(), QStringList{QStringLiteral("There are no numbers to dial for \"Bob Baker\"")});
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});

  // A modem that stops answering and cannot be reset: the dial pad's command is off at once.
  Modem.SetReply(TSimModem::TReply::Silent);
  Detect.Exchange.CommandTimeout = 200;
  Dial.ResetTimeoutMs = 200;
  Platform.Prompter.Answers.push_back(EAnswer::No);
  When([&] { return Dialler.isVisible(); },
       [&] {
         TalkThenHangUp();
         QTest::keyClicks(Dialler.focusWidget(), QStringLiteral("1#"));
         QTest::keyClick(Dialler.focusWidget(), Qt::Key_Return);
         Dialler.btnClose->click();
       });
  W->mnuFDialler->trigger();
  QCOMPARE(W->ModemPort(), -1);
  QVERIFY(!W->mnuFDialler->isEnabled() && !W->mnuAQuickDial->isEnabled());
}

QTEST_MAIN(TDialPadTest)
#include "tst_dialpad.moc"
