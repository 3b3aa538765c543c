// Every window as a user who cannot see it, or who works from the keyboard, meets it.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "About.h"
#include "Custom.h"
#include "Dflttab.h"
#include "Dial.h"
#include "Dialler.h"
#include "Dialopt.h"
#include "Find.h"
#include "HelpViewer.h"
#include "MDetect.h"
#include "MainTestKit.h"
#include "Olineopt.h"
#include "Print.h"
#include "Program.h"
#include "Qdial.h"
#include "ReportPreview.h"

namespace {

QString AccessibleName(QWidget* Control) {
  QAccessibleInterface* Face = QAccessible::queryAccessibleInterface(Control);
  return Face ? Face->text(QAccessible::Name).trimmed() : QString();
}

// A control the user acts on; the parts that Qt builds inside a control (a
// list's scroll bars, a combo box's edit) belong to that control.
bool IsControl(QWidget* Widget, QWidget* Window) {
  if (Widget->window() != Window) return false;
  for (QWidget* Up = Widget->parentWidget(); Up && Up != Window; Up = Up->parentWidget())
    if (qobject_cast<QAbstractScrollArea*>(Up) || qobject_cast<QComboBox*>(Up) || qobject_cast<QTabBar*>(Up) ||
        qobject_cast<QAbstractSpinBox*>(Up) || qobject_cast<QMenuBar*>(Up))
      return false;
  return qobject_cast<QAbstractButton*>(Widget) || qobject_cast<QLineEdit*>(Widget) ||
         qobject_cast<QComboBox*>(Widget) || qobject_cast<QAbstractItemView*>(Widget) ||
         qobject_cast<QTextEdit*>(Widget) || qobject_cast<QPlainTextEdit*>(Widget) ||
         qobject_cast<QAbstractSpinBox*>(Widget);
}

// Runs Inside once the modal window opened by Open is up, and closes what a
// failed check left open.
void WhileModal(const std::function<void()>& Inside, const std::function<void()>& Open) {
  QTimer::singleShot(0, [Inside] {
    QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
    Inside();
    if (QTest::currentTestFailed())
      if (QWidget* Modal = QApplication::activeModalWidget()) Modal->close();
  });
  Open();
}

bool ShowMain(TProgram& Program) {
  Program.Main->show();
  QApplication::setActiveWindow(Program.Main.get());
  return QTest::qWaitForWindowActive(Program.Main.get());
}

}  // namespace

class TWindowsTest : public QObject {
  Q_OBJECT

private slots:
  // Each control says what it is: a name of its own (its text, a label that
  // is its buddy, or the caption of a group it has to itself), and no two
  // controls side by side share one.
  void everyControlHasAName_data() {
    QTest::addColumn<QString>("window");
    for (const char* Name :
         {"frmMain", "frmDiallingOpt", "frmMODEMDetect", "frmDial", "frmFind", "frmDefaultTab", "frmQuickDial",
          "frmPrintAddresses", "frmOutsideLine", "frmDialler", "frmAbout", "frmPreview", "frmHelp"})
      QTest::newRow(Name) << QString::fromLatin1(Name);
  }

  void everyControlHasAName() {
    QFETCH(QString, window);
    TFakePlatform Platform;
    TProgram Program({});
    Program.CreateWindows();
    TfrmAbout About(Program.Main.get());
    TReportPreview Preview(TReportLayout(), nullptr, Program.Main.get());
    THelpViewer::ShowContents(Platform.Path(QStringLiteral("tobrinel.HLP")));
    QWidget* Window = nullptr;
    for (QWidget* Top : QApplication::topLevelWidgets())
      if (Top->objectName() == window) Window = Top;
    QVERIFY2(Window, qPrintable(window));
    QStringList Faults;
    QMap<QWidget*, QStringList> Neighbours;
    for (QWidget* Widget : Window->findChildren<QWidget*>()) {
      if (!IsControl(Widget, Window)) continue;
      const QString Name = AccessibleName(Widget);
      const QString Which =
          QStringLiteral("%1 (%2)").arg(Widget->objectName(), QLatin1String(Widget->metaObject()->className()));
      if (Name.isEmpty()) Faults << Which + QStringLiteral(" has no name");
      else if (Neighbours[Widget->parentWidget()].contains(Name)) Faults << Which + QStringLiteral(" shares ") + Name;
      Neighbours[Widget->parentWidget()] << Name;
    }
    THelpViewer::Instance()->close();
    QVERIFY2(Faults.isEmpty(), qPrintable(Faults.join(QStringLiteral("; "))));
  }

  // The picture buttons and the dial pad's keys, as a screen reader says them.
  void pictureAndKeypadButtonsSayWhatTheyDo() {
    TFakePlatform Platform;
    TProgram Program({});
    Program.CreateWindows();
    TfrmMain& Main = *Program.Main;
    const std::vector<std::pair<QWidget*, const char*>> Expected = {
        {(QWidget*)Main.spdbtnDial1, "Dial Home Telephone Number"},
        {(QWidget*)Main.spdbtnDial2, "Dial Business Telephone Number"},
        {(QWidget*)Main.spdbtnDial3, "Dial Internal Extension"},
        {(QWidget*)Main.spdbtnDial4, "Dial Mobile Telephone"},
        {Program.Dialler->btnDigits[1], "1"},
        {Program.Dialler->btnDigits[2], "2 ABC"},
        {Program.Dialler->btnDigits[3], "3 DEF"},
        {Program.Dialler->btnDigits[4], "4 GHI"},
        {Program.Dialler->btnDigits[5], "5 JKL"},
        {Program.Dialler->btnDigits[6], "6 MNO"},
        {Program.Dialler->btnDigits[7], "7 PQRS"},
        {Program.Dialler->btnDigits[8], "8 TUV"},
        {Program.Dialler->btnDigits[9], "9 WXYZ"},
        {Program.Dialler->btnDigits[0], "0"},
        {(QWidget*)Program.Dialler->btnStar, "star"},
        {(QWidget*)Program.Dialler->btnHash, "hash"}};
    for (const auto& [Button, Name] : Expected) QCOMPARE(AccessibleName(Button), QString::fromLatin1(Name));
  }

  // Dialling Options opens with the focus on the dialling type that is
  // chosen, so Space there changes nothing.
  void diallingOptionsFocusTheChosenType_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("triedPulse");  // pulse chosen by key, then Escape, at an earlier opening
    QTest::addColumn<QString>("chosen");
    QTest::newRow("tone stored") << QStringLiteral("ToneDial=1") << false << QStringLiteral("rdoToneDial");
    QTest::newRow("pulse stored") << QStringLiteral("ToneDial=0") << false << QStringLiteral("rdoPulseDial");
    QTest::newRow("pulse tried and cancelled") << QStringLiteral("ToneDial=1") << true << QStringLiteral("rdoToneDial");
  }

  void diallingOptionsFocusTheChosenType() {
    QFETCH(QString, settings);
    QFETCH(bool, triedPulse);
    QFETCH(QString, chosen);
    TFakePlatform Platform;
    Platform.WriteSettings(QStringLiteral("[MODEM]\n") + settings + QStringLiteral("\n"));
    TProgram Program({});
    Program.CreateWindows();
    QVERIFY(ShowMain(Program));
    QTRY_VERIFY(Program.Main->Activated());
    TfrmDiallingOpt& Options = *Program.DiallingOpt;
    if (triedPulse)
      WhileModal(
          [&] {
            QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(&Options));
            QTest::keyClick(Options.windowHandle(), Qt::Key_Right);
            QVERIFY(Options.rdoPulseDial->isChecked());
            QTest::keyClick(Options.windowHandle(), Qt::Key_Escape);
          },
          [&] { Program.Main->mnuODialling->trigger(); });
    QString Focused;
    WhileModal(
        [&] {
          QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(&Options));
          Focused = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
          QTest::keyClick(Options.windowHandle(), Qt::Key_Space);
          QTest::keyClick(Options.windowHandle(), Qt::Key_Return);
        },
        [&] { Program.Main->mnuODialling->trigger(); });
    QCOMPARE(Focused, chosen);
    QCOMPARE(Options.result(), int(QDialog::Accepted));
    QVERIFY(Options.findChild<QRadioButton*>(chosen)->isChecked());
  }

  // The detection window's caption is its only progress text; it is shown
  // whole in the window too, whatever room a title bar gives it.
  void detectionProgressIsShownWhole() {
    TFakePlatform Platform;
    Platform.WriteSettings(QStringLiteral("[MODEM]\nPort=3\nDetected=1\n"));
    TProgram Program({});
    Program.CreateWindows();
    TfrmMODEMDetect& Detect = *Program.ModemDetect;
    QStringList Shown;
    connect(&Detect, &QWidget::windowTitleChanged, this, [&](const QString& Caption) {
      const QLabel* Progress = Detect.lblProgress;
      const bool Whole = Progress->text() == Caption && Progress->isVisible() &&
                         Progress->fontMetrics().horizontalAdvance(Caption) <= Progress->contentsRect().width();
      Shown << (Whole ? Caption : QStringLiteral("cut: ") + Caption);
    });
    ShowMain(Program);  // the first activation runs the detection
    QTRY_VERIFY(Program.Main->Activated());
    QCOMPARE(Shown, QStringList({"Checking Last Known MODEM...", "Testing COM1...", "Testing COM2...",
                                 "Testing COM3...", "Testing COM4...", "Testing COM5...", "Testing COM6...",
                                 "Testing COM7...", "Testing COM8...", "Testing COM9...", "Select MODEM"}));
    QCOMPARE(Platform.Prompter.Boxes.size(), size_t(2));  // the modem gone, then none found
  }
};

QTEST_MAIN(TWindowsTest)
#include "tst_windows.moc"
