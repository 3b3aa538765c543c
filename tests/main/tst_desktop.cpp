// Every window on the desktops people use: a keyboard and a screen reader,
// a dark theme, a small or scaled screen, a window manager.
#include <QAccessible>
#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QStyleFactory>
#include <QTabBar>
#include <QTableWidget>
#include <QtTest>

#include <QPushButton>

#include "About.h"
#include "Print.h"
#include "MainTestKit.h"
#include "Program.h"
#include "ReportPreview.h"
#include "SyncConflict.h"
#include "SyncProgress.h"
#include "SyncSetup.h"

namespace {

QString AccessibleName(QWidget* Control) {
  QAccessibleInterface* Face = QAccessible::queryAccessibleInterface(Control);
  return Face ? Face->text(QAccessible::Name).trimmed() : QString();
}

// The letter after a single "&", upper-cased; none for "&&" or no mark.
QChar Mnemonic(const QString& Text) {
  for (qsizetype At = 0; At + 1 < Text.size(); ++At)
    if (Text[At] == QLatin1Char('&')) {
      if (Text[At + 1] == QLatin1Char('&')) ++At;
      else return Text[At + 1].toUpper();
    }
  return {};
}

// Every window the program makes, as it makes them.
struct TAllWindows {
  TFakePlatform Platform;
  TProgram Program{QStringList{}};
  std::unique_ptr<TfrmAbout> About;
  TReportLayout Layout;  // the preview keeps a reference to it
  std::unique_ptr<TReportPreview> Preview;
  std::unique_ptr<TfrmSyncSetup> SyncSetup;
  std::unique_ptr<TfrmSyncProgress> SyncProgress;
  std::unique_ptr<TfrmSyncConflict> SyncConflict;
  TAllWindows() {
    Program.CreateWindows();
    TfrmMain* Main = Program.Main.get();
    About = std::make_unique<TfrmAbout>(Main);
    Preview = std::make_unique<TReportPreview>(Layout, nullptr, Main);
    SyncSetup = std::make_unique<TfrmSyncSetup>(Main);
    SyncProgress = std::make_unique<TfrmSyncProgress>(Main);
    SyncConflict = std::make_unique<TfrmSyncConflict>(Main);
  }
  QWidget* Window(const QString& Name) {
    for (QWidget* Top : QApplication::topLevelWidgets())
      if (Top->objectName() == Name && !qobject_cast<QMenu*>(Top)) return Top;
    return nullptr;
  }
};

const char* const Dialogs[] = {"frmMain",    "frmFind",        "frmPrintAddresses", "frmDefaultTab",   "frmAbout",
                               "frmPreview", "frmSyncSetup",   "frmSyncProgress",   "frmSyncConflict", "frmDiallingOpt",
                               "frmDial",    "frmOutsideLine", "frmDialler",        "frmQuickDial"};
// The dialling windows get theirs with the dialling work on its own branch.
double Luminance(QColor C) {
  auto Channel = [](double V) { return V <= 0.03928 ? V / 12.92 : std::pow((V + 0.055) / 1.055, 2.4); };
  return 0.2126 * Channel(C.redF()) + 0.7152 * Channel(C.greenF()) + 0.0722 * Channel(C.blueF());
}

double Contrast(QColor A, QColor B) {
  const double La = Luminance(A), Lb = Luminance(B);
  return (std::max(La, Lb) + 0.05) / (std::min(La, Lb) + 0.05);
}

QPalette DarkPalette() {
  QPalette P;
  P.setColor(QPalette::Window, QColor(45, 45, 45));
  P.setColor(QPalette::WindowText, Qt::white);
  P.setColor(QPalette::Base, QColor(30, 30, 30));
  P.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
  P.setColor(QPalette::Text, Qt::white);
  P.setColor(QPalette::Button, QColor(53, 53, 53));
  P.setColor(QPalette::ButtonText, Qt::white);
  P.setColor(QPalette::Highlight, QColor(42, 130, 218));
  P.setColor(QPalette::HighlightedText, Qt::black);
  return P;
}

}  // namespace

class TDesktopTest : public QObject {
  Q_OBJECT
private slots:
  // Alt and a letter reaches each choice of a dialog; no letter serves two.
  void everyDialogHasItsMnemonics_data() {
    QTest::addColumn<QString>("window");
    for (const char* Name : Dialogs) QTest::newRow(Name) << QString::fromLatin1(Name);
  }
  void everyDialogHasItsMnemonics() {
    QFETCH(QString, window);
    TAllWindows All;
    QWidget* Window = All.Window(window);
    QVERIFY2(Window, qPrintable(window));
    QStringList Faults;
    QMap<QChar, QString> Taken;
    auto Take = [&](const QString& Text, const QString& Who, bool Needed) {
      const QChar Letter = Mnemonic(Text);
      if (Letter.isNull()) {
        if (Needed) Faults << Who + QStringLiteral(" has no mnemonic");
      } else if (Taken.contains(Letter)) {
        Faults << QStringLiteral("%1 and %2 share %3").arg(Taken[Letter], Who, Letter);
      } else {
        Taken[Letter] = Who;
      }
    };
    for (QWidget* Widget : Window->findChildren<QWidget*>()) {
      if (Widget->window() != Window) continue;  // a window of its own
      const QString Who =
          Widget->objectName().isEmpty() ? QLatin1String(Widget->metaObject()->className()) : Widget->objectName();
      if (auto* Button = qobject_cast<QAbstractButton*>(Widget)) {
        const QString Plain = QString(Button->text()).remove(QLatin1Char('&'));
        // OK, Cancel and Close answer Enter and Escape; keys and arrows have no word.
        const bool Word = Plain.count(QRegularExpression(QStringLiteral("[A-Za-z]"))) >= 2 &&
                          Plain != QLatin1String("OK") && Plain != QLatin1String("Cancel") &&
                          Plain != QLatin1String("Close");
        Take(Button->text(), Who, Word && Button->isVisibleTo(Window));
      } else if (auto* Label = qobject_cast<QLabel*>(Widget)) {
        if (Label->buddy()) Take(Label->text(), Who, true);
      } else if (auto* Bar = qobject_cast<QTabBar*>(Widget)) {
        for (int Tab = 0; Tab < Bar->count(); ++Tab) Take(Bar->tabText(Tab), Who + QString::number(Tab), false);
      } else if (auto* Menus = qobject_cast<QMenuBar*>(Widget)) {
        // Alt and a menu's letter opens it from anywhere in the window.
        for (QAction* Menu : Menus->actions()) Take(Menu->text(), QStringLiteral("menu ") + Menu->text(), true);
      }
    }
    QVERIFY2(Faults.isEmpty(), qPrintable(Faults.join(QStringLiteral("; "))));
  }

  // Alt and a label's letter puts the caret in the box it names, on the page shown.
  void labelLettersMoveTheFocus_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("control");
    QTest::newRow("surname") << 0 << int(Qt::Key_S) << "edtSurname";
    QTest::newRow("first name") << 1 << int(Qt::Key_N) << "edtFirstName";
    QTest::newRow("home telephone") << 0 << int(Qt::Key_T) << "edtHomeTel";
    QTest::newRow("home address") << 0 << int(Qt::Key_D) << "memHomeAddress";
    QTest::newRow("work telephone") << 1 << int(Qt::Key_P) << "edtBusTel";
    QTest::newRow("extension") << 1 << int(Qt::Key_X) << "edtBusExtn";
    QTest::newRow("mobile") << 1 << int(Qt::Key_M) << "edtMobile";
    QTest::newRow("facsimile") << 1 << int(Qt::Key_C) << "edtBusFax";
    QTest::newRow("work address") << 1 << int(Qt::Key_R) << "memBusAddress";
    // A label on the page not shown is not reached.
    QTest::newRow("work's telephone from home") << 0 << int(Qt::Key_P) << "grdNames";
  }
  void labelLettersMoveTheFocus() {
    QFETCH(int, page);
    QFETCH(int, key);
    QFETCH(QString, control);
    TFakePlatform Platform;
    BookWithLastUse(Platform, {{"Baker", "Bob"}});
    TWindows W;
    QVERIFY(W.Activate());
    W->tabDetails->setCurrentIndex(page);
    W->grdNames->setFocus();
    QTRY_VERIFY(W->grdNames->hasFocus());
    QTest::keyClick(W->grdNames, Qt::Key(key), Qt::AltModifier);
    QTRY_COMPARE(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(), control);
    QCOMPARE(AccessibleName(W->findChild<QWidget*>(control)).isEmpty(), false);
  }

  // A name shown with characters no installed font has is told of once a
  // run, in a box that needs no answer, whether the index or the name boxes
  // show it; names the fonts cover are not.
  void namesNoFontShowsAreToldOnce_data() {
    QTest::addColumn<QStringList>("surnames");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("walk");  // every entry shown in the name boxes in turn
    QTest::addColumn<int>("notices");
    const QString Private = QString(QChar(0xE000)), Unassigned = QString(QChar(0x0378));
    QTest::newRow("Latin") << QStringList{"Adams", "Baker"} << "x" << true << 0;
    QTest::newRow("accents, Greek and CJK")
        << QStringList{QStringLiteral(u"Öztürk"), QStringLiteral(u"Ωmega"), QStringLiteral(u"山田")}
        << QStringLiteral(u"Łukasz") << true << 0;
    QTest::newRow("the one entry") << QStringList{Private + "a"} << "x" << false << 1;
    QTest::newRow("index only") << QStringList{"Adams", Unassigned + "b"} << "x" << false << 1;
    QTest::newRow("typed") << QStringList{"Adams"} << Private << true << 1;
    QTest::newRow("everywhere") << QStringList{Private + "a", Unassigned + "b"} << Private + Unassigned << true << 1;
  }
  void namesNoFontShowsAreToldOnce() {
    QFETCH(QStringList, surnames);
    QFETCH(QString, typed);
    QFETCH(bool, walk);
    QFETCH(int, notices);
    TFakePlatform Platform;
    std::vector<QByteArray> Kept;
    TNames Names;
    for (const QString& Surname : surnames) Kept.push_back(Surname.toUtf8());
    for (const QByteArray& Surname : Kept) Names.push_back({Surname.constData(), ""});
    BookWithLastUse(Platform, Names);
    TWindows W;
    QVERIFY(W.Activate());
    W->grdNames->viewport()->grab();  // the index paints every row
    QApplication::processEvents();
    // Keys typed one by one, then the entries shown in turn.
    W->edtSurname->setFocus();
    QTRY_VERIFY(W->edtSurname->hasFocus());
    W->edtSurname->end(false);
    TypeText(W->edtSurname, typed);
    QApplication::processEvents();
    for (int Row = 0; walk && Row < surnames.size(); ++Row) {
      W->grdNames->selectRow(Row);
      W->grdNames->viewport()->grab();
      QApplication::processEvents();
    }
    QCOMPARE(Platform.Prompter.Kinds().count(QStringLiteral("notice")), notices);
    QCOMPARE(Platform.Prompter.Boxes.size(), size_t(notices));
    if (notices)
      QVERIFY2(Platform.Prompter.Boxes[0].Text.contains(QStringLiteral("install fonts-noto-cjk")),
               qPrintable(Platform.Prompter.Boxes[0].Text));
  }

  // Each menu item has a letter of its own in its menu, and so has each menu.
  void everyMenuItemHasAUniqueMnemonic() {
    TAllWindows All;
    QStringList Faults;
    QSet<QChar> Menus;
    for (QAction* Top : All.Program.Main->menuBar()->actions()) {
      const QChar MenuLetter = Mnemonic(Top->text());
      if (MenuLetter.isNull() || Menus.contains(MenuLetter)) Faults << Top->text();
      Menus.insert(MenuLetter);
      QSet<QChar> Items;
      for (QAction* Item : Top->menu()->actions()) {
        if (Item->isSeparator()) continue;
        const QChar Letter = Mnemonic(Item->text());
        if (Letter.isNull()) Faults << Item->text() + QStringLiteral(" has none");
        else if (Items.contains(Letter)) Faults << Item->text() + QStringLiteral(" repeats ") + Letter;
        Items.insert(Letter);
      }
    }
    QVERIFY2(Faults.isEmpty(), qPrintable(Faults.join(QStringLiteral("; "))));
  }

  // A screen reader says what a box is for, not what it holds; a notebook's
  // tab bar and the letter buttons say what they are.
  void controlsAreNamedByWhatTheyAreFor() {
    TAllWindows All;
    QStringList Faults;
    const QString Value = QStringLiteral("Some value typed");
    for (const char* Name :
         {"frmMain", "frmFind", "frmPrintAddresses", "frmDefaultTab", "frmSyncSetup", "frmPreview"}) {
      QWidget* Window = All.Window(QString::fromLatin1(Name));
      QVERIFY2(Window, Name);
      for (QLineEdit* Edit : Window->findChildren<QLineEdit*>()) {
        if (Edit->window() != Window) continue;
        if (qobject_cast<QComboBox*>(Edit->parentWidget()) || qobject_cast<QAbstractSpinBox*>(Edit->parentWidget()))
          continue;
        const QString Was = Edit->text();
        Edit->setText(Value);
        const QString Said = AccessibleName(Edit);
        if (Said.isEmpty() || Said == Value) Faults << QStringLiteral("%1 says \"%2\"").arg(Edit->objectName(), Said);
        Edit->setText(Was);
      }
      // On this desktop a list is announced by its entry unless it is named.
      for (QComboBox* List : Window->findChildren<QComboBox*>())
        if (List->window() == Window && List->accessibleName().isEmpty())
          Faults << List->objectName() + QStringLiteral(" has no name");
      for (QTabBar* Bar : Window->findChildren<QTabBar*>()) {
        if (Bar->window() != Window) continue;
        if (AccessibleName(Bar).isEmpty()) Faults << QString::fromLatin1(Name) + QStringLiteral(" tab bar");
        if (Bar->focusPolicy() == Qt::NoFocus)
          Faults << QString::fromLatin1(Name) + QStringLiteral(" tab bar takes no focus");
      }
    }
    auto* Print = All.Program.PrintAddresses.get();
    const QStringList Named{AccessibleName(Print->edtHeader), AccessibleName(Print->edtFooter)};
    if (Named[0] == Named[1]) Faults << QStringLiteral("header and footer both \"%1\"").arg(Named[0]);
    QCOMPARE(AccessibleName(All.Program.Main->btnLetters[0]), QStringLiteral("Go to names starting with A"));
    QCOMPARE(AccessibleName(All.Program.Main->btnLetters[25]), QStringLiteral("Go to names starting with Z"));
    QVERIFY2(Faults.isEmpty(), qPrintable(Faults.join(QStringLiteral("; "))));
  }

  // The tab bar with the focus shows it: its picture changes when it takes it.
  void tabBarFocusCanBeSeen() {
    TAllWindows All;
    TfrmMain& Main = *All.Program.Main;
    Main.show();
    QApplication::setActiveWindow(&Main);
    QVERIFY(QTest::qWaitForWindowActive(&Main));
    QTabBar* Bar = Main.tabDetails->tabBar();
    Main.grdNames->setFocus();  // not from an empty surname, which keeps the focus
    QApplication::processEvents();
    const QImage Without = Bar->grab().toImage();
    Bar->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY2(Bar->hasFocus(),
                 qPrintable(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "none"));
    const QImage With = Bar->grab().toImage();
    const QColor Mark = Bar->palette().color(QPalette::Highlight);
    int Marked = 0;
    for (int Y = 0; Y < With.height(); ++Y)
      for (int X = 0; X < With.width(); ++X)
        if (With.pixelColor(X, Y) != Without.pixelColor(X, Y) && With.pixelColor(X, Y) == Mark) ++Marked;
    QVERIFY2(Marked >= 20, qPrintable(QStringLiteral("%1 pixels of the mark").arg(Marked)));
  }

  // In a dark theme the fields that differ read as well as in a light one.
  void conflictRowsTakeTheirColoursFromThePalette_data() {
    QTest::addColumn<bool>("dark");
    QTest::newRow("light") << false;
    QTest::newRow("dark") << true;
  }
  void conflictRowsTakeTheirColoursFromThePalette() {
    QFETCH(bool, dark);
    QStyle* Fusion = QStyleFactory::create(QStringLiteral("Fusion"));
    TfrmSyncConflict Conflict;
    Conflict.setStyle(Fusion);
    for (QWidget* Child : Conflict.findChildren<QWidget*>()) Child->setStyle(Fusion);
    if (dark) Conflict.setPalette(DarkPalette());
    TAddressItem Here, There;
    Here.Surname = There.Surname = "Baker";
    Here.HomeTelephone = "01234 567890";
    There.HomeTelephone = "01234 999999";
    Conflict.ShowVersions(Here, There);
    Conflict.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Conflict));
    const QImage Picture = Conflict.grdVersions->viewport()->grab().toImage();
    const QPalette& Colours = Conflict.grdVersions->palette();
    for (int Row : {0, 2}) {
      const QRect Cell = Conflict.grdVersions->visualItemRect(Conflict.grdVersions->item(Row, 1));
      const QColor Fill = Picture.pixelColor(Cell.right() - 2, Cell.center().y());
      // The text: the pixel of the cell that stands out most from its fill.
      double Best = 1;
      for (int Y = Cell.top(); Y <= Cell.bottom(); ++Y)
        for (int X = Cell.left(); X < Cell.left() + 90; ++X)
          Best = std::max(Best, Contrast(Picture.pixelColor(X, Y), Fill));
      if (Row == 2) QCOMPARE(Fill, Colours.color(QPalette::Highlight));  // differs: marked
      else QCOMPARE(Fill, Colours.color(QPalette::Base));
      // The theme's own pair for selected text, at the least (3 to 1).
      QVERIFY2(Best >= 3, qPrintable(QStringLiteral("row %1: contrast %2").arg(Row).arg(Best)));
    }
    Conflict.hide();
  }

  // The boxes keep all four lines of their frames; run at 1.5x as well.
  void framesKeepTheirLinesAtAnyScale() {
    TAllWindows All;
    TfrmMain& Main = *All.Program.Main;
    Main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Main));
    QStringList Faults;
    auto Check = [&](QWidget* Box, QWidget* Window) {
      const QImage Picture = Window->grab().toImage();
      const double Ratio = Picture.devicePixelRatio();
      const QRect Place(Box->mapTo(Window, QPoint(0, 0)), Box->size());
      const int X = int((Place.left() + Place.width() / 2) * Ratio);
      const int Base = qGray(Box->palette().color(QPalette::Base).rgb());
      auto Line = [&](double From, double To) {
        int Darkest = 255;
        for (int Y = int(From * Ratio); Y < int(std::ceil(To * Ratio)) && Y < Picture.height(); ++Y)
          Darkest = std::min(Darkest, qGray(Picture.pixel(X, Y)));
        return Base - Darkest >= 40;
      };
      if (!Line(Place.top(), Place.top() + 1)) Faults << Box->objectName() + QStringLiteral(" top");
      if (!Line(Place.bottom(), Place.bottom() + 1)) Faults << Box->objectName() + QStringLiteral(" bottom");
    };
    for (int Page : {0, 1, 2}) {
      Main.tabDetails->setCurrentIndex(Page);
      QApplication::processEvents();
      for (QWidget* Memo : {static_cast<QWidget*>(Main.memHomeAddress), static_cast<QWidget*>(Main.memBusAddress),
                            static_cast<QWidget*>(Main.memNotes)})
        if (Memo->isVisible()) Check(Memo, &Main);
    }
    All.SyncSetup->show();
    QVERIFY(QTest::qWaitForWindowExposed(All.SyncSetup.get()));
    Check(All.SyncSetup->lstBooks, All.SyncSetup.get());
    QVERIFY2(Faults.isEmpty(), qPrintable(Faults.join(QStringLiteral("; "))));
  }

  // A window of a fixed size offers no maximise button, and the preview
  // opens within the screen, its buttons on it.
  void windowsFitTheirScreen() {
    TAllWindows All;
    QStringList Faults;
    for (QWidget* Top : QApplication::topLevelWidgets()) {
      if (qobject_cast<QMenu*>(Top) || Top->objectName().isEmpty()) continue;
      const bool Fixed = Top->minimumSize() == Top->maximumSize();
      if (Fixed && (Top->windowFlags() & Qt::WindowMaximizeButtonHint))
        Faults << Top->objectName() + QStringLiteral(" offers to maximise");
    }
    QVERIFY2(Faults.isEmpty(), qPrintable(Faults.join(QStringLiteral("; "))));
    const QRect Free = All.Program.Main->screen()->availableGeometry();
    QVERIFY2(Free.contains(All.Preview->geometry()), qPrintable(QStringLiteral("%1x%2 on %3x%4")
                                                                    .arg(All.Preview->width())
                                                                    .arg(All.Preview->height())
                                                                    .arg(Free.width())
                                                                    .arg(Free.height())));
  }
};

QTEST_MAIN(TDesktopTest)
#include "tst_desktop.moc"
