// The name index: building, showing and committing rows, letters, Up and Down.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QtTest>

#include "MainTestKit.h"
#include "NameOrder.h"

class TIndexTest : public QObject {
  Q_OBJECT
private slots:
  void EmptyBookHasOnlyTheNewEntryRow();
  void LettersStepAndWrapAround();
  void LetterWithoutMatchChangesNothing();
  void LettersFollowTheLanguagesOrder_data();
  void LettersFollowTheLanguagesOrder();
  void LetterJumpPutsTheNameAtTheTop();
  void DownCommitsAndSelectsNextSurname();
  void UpAndDownStopAtTheEnds();
  void TypedNewEntryIsCreatedByACommittingCommand();
  void SpacesOnlyCreateNothingButModify();
  void DetailsPageMemory();
  void ClickingARowShowsIt();
  void RowsMatchTheBook();
  void StoredPageOutsideTheThreeIsKept();
};

void TIndexTest::EmptyBookHasOnlyTheNewEntryRow() {
  TFakePlatform Platform;
  TWindows W;
  QVERIFY(W.Activate());
  QCOMPARE(W.Rows(), 2);
  QCOMPARE(W->grdNames->model()->rowCount(), 1);
  QCOMPARE(W->grdNames->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Surname"));
  QCOMPARE(W->grdNames->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("First Name"));
  QCOMPARE(W->SelectedRow(), 1);
  QVERIFY(W->Book().Current == nullptr);
  QCOMPARE(QApplication::focusWidget(), W->edtSurname);
  QTest::mouseClick(W->btnLetters[0], Qt::LeftButton);
  QCOMPARE(W->SelectedRow(), 1);
  QVERIFY(!W->Book().Modified);
  QVERIFY(!W->mnuADelete->isEnabled());
}

void TIndexTest::LettersStepAndWrapAround() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "A"}, {"smith", "lower"}, {"Stone", "B"}, {"Young", "C"}});
  TWindows W;
  QVERIFY(W.Activate());
  QPushButton* S = W->btnLetters['S' - 'A'];
  QCOMPARE(S->property("Tag").toInt(), 19);
  // "smith" sorts among the S's.
  QTest::mouseClick(S, Qt::LeftButton);
  QCOMPARE(W->SelectedRow(), 2);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("smith"));  // a lower-case initial matches too
  QTest::mouseClick(S, Qt::LeftButton);
  QCOMPARE(W->SelectedRow(), 3);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Stone"));
  QTest::mouseClick(S, Qt::LeftButton);
  QCOMPARE(W->SelectedRow(), 2);  // wrapped round
  // From the new-entry row the scan starts at the top.
  W->SelectRow(5);
  W->grdNamesClick();
  QTest::mouseClick(W->btnLetters['A' - 'A'], Qt::LeftButton);
  QCOMPARE(W->SelectedRow(), 1);
  QCOMPARE(QApplication::focusWidget(), W->edtSurname);
  QVERIFY(Platform.Prompter.Boxes.empty());
}

void TIndexTest::LettersFollowTheLanguagesOrder_data() {
  QTest::addColumn<QString>("Locale");
  QTest::addColumn<QChar>("Letter");
  QTest::addColumn<QStringList>("Shown");  // the surnames three presses show
  QTest::newRow("German A") << "de_DE" << QChar('A') << QStringList{"Adams", "Ärger", "Adams"};
  QTest::newRow("Swedish A") << "sv_SE" << QChar('A') << QStringList{"Adams", "Adams", "Adams"};
  QTest::newRow("Swedish Z") << "sv_SE" << QChar('Z') << QStringList{"Zorn", "Ärger", "Zorn"};
  QTest::newRow("English D") << "en_US" << QChar('D') << QStringList{"de la Cruz", "Dean", "de la Cruz"};
  QTest::newRow("Turkish I") << "tr_TR" << QChar('I') << QStringList{"Işık", "İlker", "Işık"};
  QTest::newRow("Turkish C") << "tr_TR" << QChar('C') << QStringList{"Cem", "Çağrı", "Cem"};
}

void TIndexTest::LettersFollowTheLanguagesOrder() {
  QFETCH(QString, Locale);
  QFETCH(QChar, Letter);
  QFETCH(QStringList, Shown);
  TNameOrder::Use(Locale.toStdString());
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", ""},
                             {"Ärger", ""},
                             {"Cem", ""},
                             {"Çağrı", ""},
                             {"de la Cruz", ""},
                             {"Dean", ""},
                             {"Işık", ""},
                             {"İlker", ""},
                             {"Zorn", ""}});
  TWindows W;
  QVERIFY(W.Activate());
  W->SelectRow(W->Names().NewEntryRow());
  W->grdNamesClick();
  QStringList Seen;
  for (int Press = 0; Press < 3; ++Press) {
    QTest::mouseClick(W->btnLetters[static_cast<size_t>(Letter.unicode() - 'A')], Qt::LeftButton);
    Seen << W->edtSurname->text();
  }
  TNameOrder::Use(TNameOrder::DesktopLocale());
  QCOMPARE(Seen, Shown);
}

void TIndexTest::LetterJumpPutsTheNameAtTheTop() {
  TFakePlatform Platform;
  TNames Names;
  std::vector<std::string> Texts;
  for (int I = 0; I < 200; ++I) Texts.push_back((I < 100 ? "Adams" : "Moore") + std::to_string(1000 + I));
  for (const std::string& Text : Texts) Names.push_back({Text.c_str(), ""});
  BookWithLastUse(Platform, Names);
  TWindows W;
  QVERIFY(W.Activate());
  QTest::mouseClick(W->btnLetters['M' - 'A'], Qt::LeftButton);
  QCOMPARE(W->SelectedRow(), 101);
  QCOMPARE(W->grdNames->rowAt(0), 100);  // the found name heads the index
  QTRY_COMPARE(W->grdNames->horizontalScrollBar()->isVisible(), false);
}

void TIndexTest::LetterWithoutMatchChangesNothing() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "A"}, {"Baker", "B"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->SelectRow(2);
  W->grdNamesClick();
  QTest::mouseClick(W->btnLetters['Q' - 'A'], Qt::LeftButton);
  QCOMPARE(W->SelectedRow(), 2);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Baker"));
  QVERIFY(Platform.Prompter.Boxes.empty());
  QVERIFY(!W->Book().Modified);
}

void TIndexTest::DownCommitsAndSelectsNextSurname() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Baker", "Bob"}});
  TWindows W;
  QVERIFY(W.Activate());
  TAddressItem* First = W->Book().Current;
  QVERIFY(First);
  W->edtFirstName->setFocus();
  W->edtFirstName->selectAll();
  QTest::keyClicks(W->edtFirstName, QStringLiteral("Anne"));
  W->edtSurname->setFocus();
  QTest::keyClick(W->edtSurname, Qt::Key_Down);
  QCOMPARE(First->FirstName.str(), std::string("Anne"));
  QVERIFY(W->Book().Modified);
  QCOMPARE(W->SelectedRow(), 2);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Baker"));
  QCOMPARE(W->edtSurname->selectedText(), QStringLiteral("Baker"));
  QCOMPARE(W.Cell(1, 1), QStringLiteral("Anne"));
}

void TIndexTest::UpAndDownStopAtTheEnds() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Baker", "Bob"}});
  TWindows W;
  W.DefaultTab->SetTab(2);
  QVERIFY(W.Activate());
  QTest::keyClick(W->edtSurname, Qt::Key_Up);
  QCOMPARE(W->SelectedRow(), 1);
  QTest::keyClick(W->edtSurname, Qt::Key_Down);
  QCOMPARE(W->SelectedRow(), 2);
  QTest::keyClick(W->edtSurname, Qt::Key_Down);
  QCOMPARE(W->SelectedRow(), 3);
  QVERIFY(W->Book().Current == nullptr);
  QVERIFY(W->edtSurname->text().isEmpty());
  QVERIFY(W->edtFirstName->text().isEmpty());
  QCOMPARE(W->tabDetails->currentIndex(), 2);  // the default page
  QTest::keyClick(W->edtSurname, Qt::Key_Down);
  QCOMPARE(W->SelectedRow(), 3);
  QTest::keyClick(W->edtSurname, Qt::Key_Up);
  QCOMPARE(W->SelectedRow(), 2);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Baker"));
  QVERIFY(!W->edtSurname->hasSelectedText());
  QCOMPARE(W->edtSurname->cursorPosition(), 0);
  QVERIFY(!W->Book().Modified);
}

void TIndexTest::TypedNewEntryIsCreatedByACommittingCommand() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Baker", "Bob"}, {"Young", "Yan"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->mnuAAdd->trigger();
  QCOMPARE(W->SelectedRow(), 3);
  // Typed into the new-entry row without leaving it; Save commits first.
  W->edtSurname->insert(QStringLiteral("Moss"));
  W->tabDetails->setCurrentIndex(1);
  W->mnuFSave->trigger();
  QCOMPARE(W.Rows(), 5);
  QCOMPARE(W.Cell(2, 0), QStringLiteral("Moss"));
  QCOMPARE(W->SelectedRow(), 1);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Baker"));
  QCOMPARE(int(W->Names().Item(2)->TabPage), 0);  // a quiet commit starts on "Home"
  QVERIFY(!W->Book().Modified);                   // and Save then wrote it
  TAddressBook Reread;
  Reread.LoadFromFile(Path.toStdString());
  QCOMPARE(Reread.Items->Count, 3);
}

void TIndexTest::SpacesOnlyCreateNothingButModify() {
  TFakePlatform Platform;
  TWindows W;
  QVERIFY(W.Activate());
  W->edtSurname->insert(QStringLiteral("   "));
  W->UpdateCurrent();
  QCOMPARE(W.Rows(), 2);
  QCOMPARE(W->Book().Items->Count, 0);
  QVERIFY(W->Book().Modified);
}

void TIndexTest::DetailsPageMemory() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Baker", "Bob"}});
  TWindows W;
  QVERIFY(W.Activate());
  // Switching the page alone does not count as a change.
  W->tabDetails->setCurrentIndex(1);
  QVERIFY(!W->Book().CurrentChanged);
  W->SelectRow(2);
  W->grdNamesClick();
  QVERIFY(!W->Book().Modified);
  QCOMPARE(int(W->Names().Item(1)->TabPage), 0);

  // Edited on "Work", left while "Notes" is shown: reopens on "Notes".
  W->SelectRow(1);
  W->grdNamesClick();
  W->tabDetails->setCurrentIndex(1);
  W->edtBusTel->setFocus();
  QTest::keyClicks(W->edtBusTel, QStringLiteral("555"));
  W->tabDetails->setCurrentIndex(2);
  QTest::keyClick(W->edtSurname, Qt::Key_Down);
  QCOMPARE(int(W->Names().Item(1)->TabPage), 2);
  W->tabDetails->setCurrentIndex(0);
  QTest::keyClick(W->edtSurname, Qt::Key_Up);
  QCOMPARE(W->tabDetails->currentIndex(), 2);
  QCOMPARE(W->edtBusTel->text(), QStringLiteral("555"));

  // A stored page outside 0..2 leaves the page shown.
  W->Names().Item(2)->TabPage = 7;
  W->tabDetails->setCurrentIndex(1);
  QTest::keyClick(W->edtSurname, Qt::Key_Down);
  QCOMPARE(W->tabDetails->currentIndex(), 1);
}

void TIndexTest::ClickingARowShowsIt() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Baker", "Bob"}, {"Cole", "Cy"}});
  TWindows W;
  QVERIFY(W.Activate());
  QTableView* Grid = W->grdNames;
  const QRect Third = Grid->visualRect(Grid->model()->index(2, 0));
  QTest::mouseClick(Grid->viewport(), Qt::LeftButton, {}, Third.center());
  QCOMPARE(W->SelectedRow(), 3);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Cole"));
  QCOMPARE(QApplication::focusWidget(), W->edtSurname);  // the grid gives the focus away
  QVERIFY(Platform.Prompter.Boxes.empty());
}

void TIndexTest::RowsMatchTheBook() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Zed", "Z"}, {"Adams", "A"}, {"Adams", ""}, {"", "Nameless"}});
  TWindows W;
  QCOMPARE(W.Rows(), 6);
  // Ordered by surname followed directly by first name.
  const QStringList Surnames{QStringLiteral("Adams"), QStringLiteral("Adams"), QString(), QStringLiteral("Zed"),
                             QString()};
  const QStringList FirstNames{QString(), QStringLiteral("A"), QStringLiteral("Nameless"), QStringLiteral("Z"),
                               QString()};
  for (int Row = 1; Row <= 5; ++Row) {
    QCOMPARE(W.Cell(Row, 0), Surnames[Row - 1]);
    QCOMPARE(W.Cell(Row, 1), FirstNames[Row - 1]);
  }
}

void TIndexTest::StoredPageOutsideTheThreeIsKept() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Baker", "Bob"}});
  {
    TAddressBook Book;
    Book.LoadFromFile(Path.toStdString());
    static_cast<TAddressItem*>(Book.Items->Head)->TabPage = 1;
    static_cast<TAddressItem*>(Book.Items->Head->Next)->TabPage = 7;
    Book.SaveToFile();
  }
  {
    TWindows W;
    QVERIFY(W.Activate());
    QCOMPARE(W->tabDetails->currentIndex(), 1);
    QTest::keyClick(W->edtSurname, Qt::Key_Down);  // to Baker, page 7 as read from the file
    QCOMPARE(W->tabDetails->currentIndex(), 1);
    W->mnuFSave->trigger();
  }
  TAddressBook Saved;
  Saved.LoadFromFile(Path.toStdString());
  QCOMPARE(int(static_cast<TAddressItem*>(Saved.Items->Head->Next)->TabPage), 7);  // nothing lost
}

QTEST_MAIN(TIndexTest)
#include "tst_index.moc"
