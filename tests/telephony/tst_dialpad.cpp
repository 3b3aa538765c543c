// The dial pad and Quick Dial as a user drives them: keys typed and clicked,
// the outside-line question, what reaches the dialling window, the focus.
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <set>

#include "Custom.h"
#include "Dialler.h"
#include "MainTestKit.h"
#include "Qdial.h"

Q_DECLARE_METATYPE(std::optional<bool>)

namespace {

// Stands in for the dialling window: records each request it is shown with.
struct TDialRecorder {
  std::vector<TDialRequest> Requests;
  TDialFunction Hook() {
    return [this](const TDialRequest& Request) { Requests.push_back(Request); };
  }
};

bool ShowActive(QWidget& Window) {
  Window.show();
  QApplication::setActiveWindow(&Window);
  return QTest::qWaitForWindowActive(&Window);
}

// Counts the paint events of every widget of a window.
class TPaintCounter : public QObject {
public:
  std::set<QString> Painted;
  explicit TPaintCounter(QWidget& Window) {
    Window.installEventFilter(this);
    for (QWidget* Child : Window.findChildren<QWidget*>()) Child->installEventFilter(this);
  }
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::Paint) Painted.insert(Watched->objectName());
    return false;
  }
};

TAddressItem* Entry(TfrmMain& Main, int Row) { return Main.Names().Item(Row); }

}  // namespace

class TDialPadTest : public QObject {
  Q_OBJECT
private slots:
  void KeyboardEntersKeypadDigits();
  void ClickedKeysAndTheFocus();
  void DialAndTheOutsideLineQuestion_data();
  void DialAndTheOutsideLineQuestion();
  void TypedKeyRepaintsOnlyItsButton();
  void QuickDialFirstFocus_data();
  void QuickDialFirstFocus();
  void QuickDialKeys_data();
  void QuickDialKeys();
  void QuickDialCommand();
};

void TDialPadTest::KeyboardEntersKeypadDigits() {
  TFakePlatform Platform;
  TfrmDialler Dialler;
  QVERIFY(ShowActive(Dialler));
  QCOMPARE(QApplication::focusWidget(), Dialler.btnDial);
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("0800-flowers"));
  QCOMPARE(Dialler.edtDialledNo->text(), QStringLiteral("08003569377"));
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("*#"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
  QCOMPARE(Dialler.edtDialledNo->text(), QStringLiteral("08003569377"));
  // Keys held with Ctrl or Alt are commands, not typing.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_2, Qt::AltModifier);
  QCOMPARE(Dialler.edtDialledNo->text(), QStringLiteral("08003569377"));
  // The keys typed while a digit key has the focus go to the number as well.
  Dialler.btnDigits[7]->setFocus();
  QTest::keyClicks(Dialler.btnDigits[7], QStringLiteral("j"));
  QCOMPARE(Dialler.edtDialledNo->text(), QStringLiteral("080035693775"));
  QCOMPARE(QApplication::focusWidget(), Dialler.btnDial);

  // Escape clears, and a second Escape closes.
  QTest::keyClick(Dialler.btnDial, Qt::Key_Escape);
  QVERIFY(Dialler.isVisible());
  QCOMPARE(Dialler.edtDialledNo->text(), QString());
  QTest::keyClick(Dialler.btnDial, Qt::Key_Backspace);  // nothing to remove
  QTest::keyClick(Dialler.btnDial, Qt::Key_Escape);
  QVERIFY(!Dialler.isVisible());
  QCOMPARE(Dialler.result(), int(QDialog::Rejected));

  // Shown again, it starts empty.
  Dialler.edtDialledNo->setText(QStringLiteral("123"));
  QVERIFY(ShowActive(Dialler));
  QCOMPARE(Dialler.edtDialledNo->text(), QString());
}

void TDialPadTest::ClickedKeysAndTheFocus() {
  TFakePlatform Platform;
  TfrmDialler Dialler;
  QVERIFY(ShowActive(Dialler));
  for (QAbstractButton* Key : std::initializer_list<QAbstractButton*>{
           Dialler.btnDigits[1], Dialler.btnDigits[5], Dialler.btnStar, Dialler.btnDigits[0], Dialler.btnHash,
           Dialler.btnDigits[9]}) {
    QTest::mouseClick(Key, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), Dialler.btnDial);  // Enter dials whatever was clicked
  }
  QCOMPARE(Dialler.edtDialledNo->text(), QStringLiteral("15*0#9"));
  QCOMPARE(Dialler.btnStar->focusPolicy(), Qt::NoFocus);
  QCOMPARE(Dialler.btnHash->focusPolicy(), Qt::NoFocus);
  // The keys sit on the telephone's grid: 48 pixels apart across, 40 down.
  for (int Tag = 1; Tag <= 9; ++Tag) {
    const QRect Key = Dialler.btnDigits[static_cast<size_t>(Tag)]->geometry();
    QCOMPARE(Key.size(), QSize(41, 33));
    QCOMPARE(Key.topLeft() - Dialler.btnDigits[1]->geometry().topLeft(),
             QPoint((Tag - 1) % 3 * 48, (Tag - 1) / 3 * 40));
  }
  QCOMPARE(Dialler.btnDigits[0]->geometry().topLeft() - Dialler.btnDigits[1]->geometry().topLeft(), QPoint(48, 120));
  QCOMPARE(Dialler.btnDigits[2]->Caption(), QStringList({QStringLiteral("ABC"), QStringLiteral("2")}));
  QCOMPARE(Dialler.btnDigits[0]->Caption(), QStringList({QStringLiteral(" "), QStringLiteral("0")}));
}

void TDialPadTest::DialAndTheOutsideLineQuestion_data() {
  QTest::addColumn<QString>("Number");
  QTest::addColumn<bool>("Ticked");
  QTest::addColumn<int>("Answer");
  QTest::addColumn<bool>("Dialled");
  QTest::addColumn<std::optional<bool>>("NoOutsideLine");
  const int Yes = int(EAnswer::Yes), No = int(EAnswer::No), Cancel = int(EAnswer::Cancel);
  QTest::newRow("not ticked: no question") << "01234" << false << -1 << true << std::optional<bool>();
  QTest::newRow("Yes") << "01234" << true << Yes << true << std::optional<bool>(false);
  QTest::newRow("No") << "01234" << true << No << true << std::optional<bool>(true);
  QTest::newRow("Cancel") << "01234" << true << Cancel << false << std::optional<bool>();
  QTest::newRow("empty number") << "" << true << -1 << false << std::optional<bool>();
}

void TDialPadTest::DialAndTheOutsideLineQuestion() {
  QFETCH(QString, Number);
  QFETCH(bool, Ticked);
  QFETCH(int, Answer);
  QFETCH(bool, Dialled);
  QFETCH(std::optional<bool>, NoOutsideLine);
  TFakePlatform Platform;
  if (Answer >= 0) Platform.Prompter.Answers.push_back(EAnswer(Answer));
  TDialRecorder Dial;
  TfrmDialler Dialler;
  Dialler.ShowDial = Dial.Hook();
  Dialler.OutsideLineTicked = [Ticked] { return Ticked; };
  for (bool ByEnter : {true, false}) {
    QVERIFY(ShowActive(Dialler));
    QTest::keyClicks(Dialler.btnDial, Number);
    if (ByEnter) QTest::keyClick(Dialler.btnDial, Qt::Key_Return);
    else QTest::mouseClick(Dialler.btnDial, Qt::LeftButton);
    const QStringList Expected = Answer >= 0 ? QStringList{OutsideLineQuestion} : QStringList();
    QCOMPARE(Platform.Prompter.Texts(), Expected);
    QCOMPARE(Dial.Requests.size(), size_t(Dialled));
    if (Dialled) {
      const TDialRequest& Request = Dial.Requests.front();
      QCOMPARE(Request.DialName, QString());
      QCOMPARE(Request.DialLocation, QStringLiteral("Direct Dialing"));
      QCOMPARE(Request.DialNumber, Number);
      QCOMPARE(Request.NoOutsideLine, NoOutsideLine);
    }
    QCOMPARE(Dialler.edtDialledNo->text(), QString());  // emptied after every attempt
    QVERIFY(Dialler.isVisible());
    Platform.Prompter.Boxes.clear();
    Dial.Requests.clear();
    if (Answer >= 0) Platform.Prompter.Answers.push_back(EAnswer(Answer));
  }
}

void TDialPadTest::TypedKeyRepaintsOnlyItsButton() {
  TFakePlatform Platform;
  TfrmDialler Dialler;
  QVERIFY(ShowActive(Dialler));
  QTest::qWait(50);
  TPaintCounter Paints(Dialler);
  QTest::keyClick(Dialler.btnDial, Qt::Key_5);
  QTRY_VERIFY(Paints.Painted.count(QStringLiteral("btn5")));
  QTest::qWait(200);  // pressed, then released
  QCOMPARE(Paints.Painted, std::set<QString>({QStringLiteral("btn5"), QStringLiteral("edtDialledNo")}));
  QVERIFY(!Dialler.btnDigits[5]->isDown());
}

void TDialPadTest::QuickDialFirstFocus_data() {
  QTest::addColumn<int>("TabPage");
  QTest::addColumn<QString>("Filled");  // the fields with a number: H, W, X, M
  QTest::addColumn<int>("Focused");     // 0 home, 1 business, 2 extension, 3 mobile
  QTest::newRow("home page, all") << 0 << "HWXM" << 0;
  QTest::newRow("home page, no home") << 0 << "WXM" << 1;
  QTest::newRow("home page, extension") << 0 << "XM" << 2;
  QTest::newRow("home page, mobile only") << 0 << "M" << 3;
  QTest::newRow("work page, all") << 1 << "HWXM" << 1;
  QTest::newRow("work page, home and mobile") << 1 << "HM" << 3;
  QTest::newRow("work page, home and extension") << 1 << "HX" << 2;
  QTest::newRow("notes page, home only") << 2 << "H" << 0;
  QTest::newRow("spaces are no number") << 0 << "hW" << 1;  // h: spaces only
}

void TDialPadTest::QuickDialFirstFocus() {
  QFETCH(int, TabPage);
  QFETCH(QString, Filled);
  QFETCH(int, Focused);
  TFakePlatform Platform;
  TfrmQuickDial QuickDial;
  const QString Letters = QStringLiteral("HWXM");
  for (int Kind = 0; Kind < 4; ++Kind) {
    QString Number;
    if (Filled.contains(Letters[Kind])) Number = QStringLiteral("1%1").arg(Kind);
    else if (Filled.contains(Letters[Kind].toLower())) Number = QStringLiteral("   ");
    QuickDial.Field(Kind)->setText(Number);
  }
  QuickDial.TabPage = TabPage;
  QVERIFY(ShowActive(QuickDial));
  QCOMPARE(QApplication::focusWidget(), QuickDial.Field(Focused));
}

void TDialPadTest::QuickDialKeys_data() {
  QTest::addColumn<int>("Key");
  QTest::addColumn<int>("Modifiers");
  QTest::addColumn<int>("Dialled");  // the kind dialled; -1 none
  QTest::addColumn<bool>("Beep");
  const int Alt = Qt::AltModifier;
  QTest::newRow("h") << int(Qt::Key_H) << 0 << 0 << false;
  QTest::newRow("shift W") << int(Qt::Key_W) << int(Qt::ShiftModifier) << 1 << false;
  QTest::newRow("x: the extension") << int(Qt::Key_X) << 0 << 2 << false;
  QTest::newRow("alt H") << int(Qt::Key_H) << Alt << 0 << false;
  QTest::newRow("alt X") << int(Qt::Key_X) << Alt << 2 << false;
  QTest::newRow("m, no mobile") << int(Qt::Key_M) << 0 << -1 << true;
  QTest::newRow("alt M, no mobile") << int(Qt::Key_M) << Alt << -1 << true;
  QTest::newRow("another letter") << int(Qt::Key_Q) << 0 << -1 << false;
  QTest::newRow("ctrl H") << int(Qt::Key_H) << int(Qt::ControlModifier) << -1 << false;
  QTest::newRow("enter on the work number") << int(Qt::Key_Return) << 0 << 1 << false;
}

void TDialPadTest::QuickDialKeys() {
  QFETCH(int, Key);
  QFETCH(int, Modifiers);
  QFETCH(int, Dialled);
  QFETCH(bool, Beep);
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
  QCOMPARE(QApplication::focusWidget(), QuickDial.edtWorkNo);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key(Key), Qt::KeyboardModifiers(Modifiers));
  QCOMPARE(Platform.Prompter.Beeps, int(Beep));
  QVERIFY(Platform.Prompter.Boxes.empty());
  if (Dialled < 0) {
    QVERIFY(Dial.Requests.empty());
    QVERIFY(QuickDial.isVisible());
    // The labels' letters never move the focus: the keys are the window's.
    QCOMPARE(QApplication::focusWidget(), QuickDial.edtWorkNo);
    return;
  }
  static const char* const Locations[] = {"Home Telephone Number", "Business Telephone Number",
                                          "Internal Extension", "Mobile Telephone"};
  QCOMPARE(Dial.Requests.size(), size_t(1));
  const TDialRequest& Request = Dial.Requests.front();
  QCOMPARE(Request.DialName, QStringLiteral("Ann Adams"));
  QCOMPARE(Request.DialLocation, QLatin1String(Locations[Dialled]));
  QCOMPARE(Request.DialNumber, QuickDial.Field(Dialled)->text());
  QCOMPARE(Request.NoOutsideLine, std::optional<bool>(Dialled == 2));
  QVERIFY(!QuickDial.isVisible());
  QCOMPARE(QuickDial.result(), int(QDialog::Accepted));
}

void TDialPadTest::QuickDialCommand() {
  TFakePlatform Platform;
  const QString Path = Platform.Path(QStringLiteral("BOOK.ABK"));
  {
    TAddressBook Book;
    auto Add = [&](const char* Surname, const char* FirstName, const char* Extension, const char* Mobile) {
      auto* Item = new TAddressItem;
      Item->Surname = Surname;
      Item->FirstName = FirstName;
      Item->BusExtn = Extension;
      Item->BusMobile = Mobile;
      Item->TabPage = 1;
      Book.Items->Add(Item);
    };
    Add("Adams", "Ann", "123", "");
    Add("Baker", "Bob", "45", "07700");
    Book.FileName = Path.toStdString();
    Book.SaveToFile();
  }
  Platform.WriteSettings(QStringLiteral("[Startup]\nLoadFile=%1\n[MODEM]\nPort=1\n").arg(Path));
  TWindows W;
  TfrmQuickDial QuickDial(W.Main.get());
  W->SetQuickDialWindow(&QuickDial);
  bool Extensions = false;
  W->SetAllowExtensionDialling([&] { return Extensions; });
  QVERIFY(W.Activate());

  // Ann's only number is her extension, and extensions may not be dialled.
  QVERIFY(W->mnuAQuickDial->isEnabled());
  bool Shown = false;
  QTimer::singleShot(0, &QuickDial, [&] {
    Shown = true;
    QuickDial.reject();
  });
  W->mnuAQuickDial->trigger();
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});
  QCOMPARE(Platform.Prompter.Texts(), QStringList{QStringLiteral("There are no numbers to dial for \"Ann Adams\"")});
  QVERIFY(!Shown);
  QCoreApplication::processEvents();  // the pending close finds nothing shown

  // With extension dialling allowed the window shows it; the name as edited counts.
  Extensions = true;
  Platform.Prompter.Boxes.clear();
  W->edtFirstName->setText(QStringLiteral("Annie"));
  QStringList Seen;
  QTimer::singleShot(0, &QuickDial, [&] {
    for (int Kind = 0; Kind < 4; ++Kind) Seen << QuickDial.Field(Kind)->text();
    Seen << QuickDial.DialName << QString::number(QuickDial.TabPage);
    QuickDial.reject();
  });
  W->mnuAQuickDial->trigger();
  QVERIFY(Platform.Prompter.Boxes.empty());
  QCOMPARE(Seen, QStringList({"", "", "123", "", "Annie Adams", "1"}));
  QCOMPARE(Entry(*W, 1)->FirstName.str(), std::string("Annie"));  // committed first

  // Bob, extension dialling off again: the extension field is emptied.
  Extensions = false;
  W->SelectRow(2);
  W->grdNamesClick();
  Seen.clear();
  QTimer::singleShot(0, &QuickDial, [&] {
    for (int Kind = 0; Kind < 4; ++Kind) Seen << QuickDial.Field(Kind)->text();
    QuickDial.reject();
  });
  W->mnuAQuickDial->trigger();
  QCOMPARE(Seen, QStringList({"", "", "", "07700"}));
}

QTEST_MAIN(TDialPadTest)
#include "tst_dialpad.moc"
