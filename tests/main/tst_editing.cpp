#include <QMenuBar>
#include <QKeyEvent>
// Editing in place: new entries, tidying and renaming, the blank-surname box,
// Add New, Delete, the enabling rule, the clipboard commands, the default tab.
#include <QCheckBox>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <functional>

#include "Dialopt.h"
#include "MainTestKit.h"
#include "NameOrder.h"

class TEditingTest : public QObject {
  Q_OBJECT
private slots:
  void NewEntryFromTheNewRowWithTab();
  void SameSurnameShowsTheOlderEntry();
  void FirstNameOnlyEntry();
  void RenameMovesTheEntryToItsPlace();
  void CommitByACommandTidiesAndPlacesTheName_data();
  void CommitByACommandTidiesAndPlacesTheName();
  void BlankSurnameBoxAndItsEscapes();
  void BlankedSurnameOfAnEntryIsRestored();
  void TidyingMarksOnlyRealChanges();
  void VisitingNamesBeyondAsciiChangesNothing();
  void TypedNamesBeyondAsciiAreTidied_data();
  void TypedNamesBeyondAsciiAreTidied();
  void DeleteChoosesTheRowAbove();
  void DeleteTheOnlyEntry();
  void EnablingRule();
  void ClipboardOnEditsCommitsAfter();
  void ClipboardOnMemosAndOtherControls();
  void SelectAllCommitsFirst();
  void DefaultTabDialog();
  void CapacitiesCountCharacters();
  void ClickOnTheIndexAfterTypingANewSurname();
  void MenuShortcutsWorkFromTheEdits();
  void SurnameCannotBeEmptiedAndLost();
  void CopyAndPasteKeepSelectionAndCaret();
  void TabWalksTheWholeWindowAndNoMemoTakesIt();
};

void TEditingTest::NewEntryFromTheNewRowWithTab() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Young", "Yan"}});
  TWindows W;
  W.DefaultTab->SetTab(2);
  QVERIFY(W.Activate());
  W->mnuAAdd->trigger();
  QCOMPARE(W->SelectedRow(), 3);
  QCOMPARE(W->tabDetails->currentIndex(), 2);
  QCOMPARE(QApplication::focusWidget(), W->edtSurname);
  QTest::keyClicks(W->edtSurname, QStringLiteral("smith-jones"));
  QTest::keyClick(W->edtSurname, Qt::Key_Tab);
  QCoreApplication::processEvents();  // the posted focus request
  QCOMPARE(W.Rows(), 5);
  QCOMPARE(W.Cell(2, 0), QStringLiteral("Smith-Jones"));
  QCOMPARE(W->SelectedRow(), 2);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Smith-Jones"));
  QCOMPARE(W->tabDetails->currentIndex(), 0);  // "Home" whatever the default
  QCOMPARE(QApplication::focusWidget(), W->edtFirstName);
  QVERIFY(W->Book().Modified);
  QVERIFY(Platform.Prompter.Boxes.empty());
  // The first name typed next belongs to the new entry.
  QTest::keyClicks(W->edtFirstName, QStringLiteral("eve"));
  QTest::keyClick(W->edtFirstName, Qt::Key_Tab);
  W->UpdateCurrent();
  QCOMPARE(W->Names().Item(2)->FirstName.str(), std::string("Eve"));
  QCOMPARE(W->Book().Items->Count, 3);
}

void TEditingTest::SameSurnameShowsTheOlderEntry() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Smith", ""}});
  TWindows W;
  QVERIFY(W.Activate());
  TAddressItem* Older = W->Names().Item(1);
  W->mnuAAdd->trigger();
  QTest::keyClicks(W->edtSurname, QStringLiteral("Smith"));
  QTest::keyClick(W->edtSurname, Qt::Key_Tab);
  QCoreApplication::processEvents();
  QCOMPARE(W->Book().Items->Count, 2);
  QCOMPARE(W->SelectedRow(), 1);
  QCOMPARE(W->Book().Current, Older);
}

void TEditingTest::FirstNameOnlyEntry() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->mnuAAdd->trigger();
  // Straight from the empty surname to the first name: the box, and back.
  QTest::mouseClick(W->edtFirstName, Qt::LeftButton);
  QCOMPARE(Platform.Prompter.Texts(), QStringList{QString::fromLatin1(BlankSurnameText)});
  QCOMPARE(QApplication::focusWidget(), W->edtSurname);

  // From the index (no box) into the first name: an entry without a surname.
  Platform.Prompter.Boxes.clear();
  QTableView* Grid = W->grdNames;
  QTest::mouseClick(Grid->viewport(), Qt::LeftButton, {}, Grid->visualRect(Grid->model()->index(1, 0)).center());
  QCOMPARE(QApplication::focusWidget(), Grid);
  QTest::mouseClick(W->edtFirstName, Qt::LeftButton);
  QTest::keyClicks(W->edtFirstName, QStringLiteral("solo"));
  QTest::keyClick(W->edtFirstName, Qt::Key_Tab);
  QVERIFY(Platform.Prompter.Boxes.empty());
  QCOMPARE(W->Book().Items->Count, 2);
  // Ordered by surname and first name run together: "Solo" after "AdamsAnn".
  QCOMPARE(W->SelectedRow(), 2);
  QCOMPARE(W.Cell(2, 0), QString());
  QCOMPARE(W.Cell(2, 1), QStringLiteral("Solo"));
  QCOMPARE(W->edtFirstName->text(), QStringLiteral("Solo"));
}

void TEditingTest::RenameMovesTheEntryToItsPlace() {
  TFakePlatform Platform;
  const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Baker", "Bob"}});
  {
    TWindows W;
    QVERIFY(W.Activate());
    TAddressItem* Adams = W->Book().Current;
    W->edtSurname->selectAll();
    QTest::keyClicks(W->edtSurname, QStringLiteral("zorn"));
    QTest::keyClick(W->edtSurname, Qt::Key_Tab);
    QCOMPARE(W.Cell(1, 0), QStringLiteral("Zorn"));        // the index at once
    QCOMPARE(Adams->Surname.str(), std::string("Adams"));  // the entry at the next commit
    W->edtFirstName->selectAll();
    QTest::keyClicks(W->edtFirstName, QStringLiteral("zak"));
    W->edtSurname->setFocus();
    QCOMPARE(W.Cell(1, 1), QStringLiteral("Zak"));
    TAddressItem* Baker = W->Names().Item(2);
    QTest::keyClick(W->edtSurname, Qt::Key_Down);
    QCOMPARE(Adams->Surname.str(), std::string("Zorn"));
    QCOMPARE(Adams->FirstName.str(), std::string("Zak"));
    // The commit puts Zorn after Baker; the row gone to is still Baker's.
    QCOMPARE(W.Cell(1, 0), QStringLiteral("Baker"));
    QCOMPARE(W.Cell(2, 0), QStringLiteral("Zorn"));
    QCOMPARE(W->Book().Current, Baker);
    QCOMPARE(W->SelectedRow(), 1);
    QCOMPARE(W->edtSurname->text(), QStringLiteral("Baker"));
    W->mnuFSave->trigger();
  }
  TWindows Again;
  QCOMPARE(Again.Cell(1, 0), QStringLiteral("Baker"));
  QCOMPARE(Again.Cell(2, 0), QStringLiteral("Zorn"));
  QCOMPARE(Again->Book().FileName, Path.toStdString());
}

// A name typed and committed by a command, without leaving its box, is tidied
// and put in its place all the same.
void TEditingTest::CommitByACommandTidiesAndPlacesTheName_data() {
  QTest::addColumn<QString>("Command");
  QTest::addColumn<QString>("Typed");
  QTest::addColumn<QString>("Stored");
  QTest::addColumn<int>("Row");
  QTest::newRow("Save, stays") << "mnuFSave"
                               << "ispanakq"
                               << "Ispanakq" << 2;
  QTest::newRow("Save, moves") << "mnuFSave"
                               << "zzz"
                               << "Zzz" << 3;
  QTest::newRow("Find Next") << "mnuSFindNext"
                             << "zzz"
                             << "Zzz" << 3;
  QTest::newRow("Add New") << "mnuAAdd"
                           << "abbot"
                           << "Abbot" << 1;
}

void TEditingTest::CommitByACommandTidiesAndPlacesTheName() {
  QFETCH(QString, Command);
  QFETCH(QString, Typed);
  QFETCH(QString, Stored);
  QFETCH(int, Row);
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Ispanak", ""}, {"Zzeus", ""}});
  TWindows W;
  QVERIFY(W.Activate());
  W->SelectRow(2);
  W->grdNamesClick();
  TAddressItem* Entry = W->Book().Current;
  W->edtSurname->selectAll();
  QTest::keyClicks(W->edtSurname, Typed);
  QCOMPARE(QApplication::focusWidget(), W->edtSurname);
  auto* Action = W->findChild<QAction*>(Command);
  QVERIFY(Action);
  Action->setEnabled(true);
  Action->trigger();
  QCOMPARE(QString::fromUtf8(Entry->Surname.str()), Stored);
  QCOMPARE(W.Cell(Row, 0), Stored);
  QCOMPARE(W->Names().Item(Row), Entry);
  QStringList Order;
  for (TListNode* Node = W->Book().Items->Head; Node; Node = Node->Next)
    Order << QString::fromUtf8(static_cast<TAddressItem*>(Node)->Surname.str());
  QStringList Sorted = Order;
  std::sort(Sorted.begin(), Sorted.end());
  QCOMPARE(Order, Sorted);
}

void TEditingTest::BlankSurnameBoxAndItsEscapes() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->mnuAAdd->trigger();
  QTest::keyClick(W->edtSurname, Qt::Key_Tab);
  QCOMPARE(Platform.Prompter.Kinds(), QStringList{QStringLiteral("error")});
  QCOMPARE(Platform.Prompter.Boxes[0].Text,
           QStringLiteral("Please enter a surname before attempting to enter any other details for the address"));
  QCOMPARE(QApplication::focusWidget(), W->edtSurname);
  QCOMPARE(W->SelectedRow(), 2);

  // A letter button or the index are ways out without a box.
  Platform.Prompter.Boxes.clear();
  QTest::mouseClick(W->btnLetters[0], Qt::LeftButton);
  QVERIFY(Platform.Prompter.Boxes.empty());
  QCOMPARE(W->SelectedRow(), 1);
  W->mnuAAdd->trigger();
  QTableView* Grid = W->grdNames;
  QTest::mouseClick(Grid->viewport(), Qt::LeftButton, {}, Grid->visualRect(Grid->model()->index(0, 0)).center());
  QVERIFY(Platform.Prompter.Boxes.empty());
  QCOMPARE(W->SelectedRow(), 1);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Adams"));

  // Spaces are blank too.
  W->mnuAAdd->trigger();
  QTest::keyClicks(W->edtSurname, QStringLiteral("   "));
  QTest::keyClick(W->edtSurname, Qt::Key_Tab);
  QCOMPARE(Platform.Prompter.Boxes.size(), size_t(1));
  QCOMPARE(W->Book().Items->Count, 1);
}

void TEditingTest::BlankedSurnameOfAnEntryIsRestored() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->edtSurname->selectAll();
  QTest::keyClick(W->edtSurname, Qt::Key_Delete);
  QTest::keyClicks(W->edtSurname, QStringLiteral("  "));
  QTest::keyClick(W->edtSurname, Qt::Key_Tab);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Adams"));
  QVERIFY(Platform.Prompter.Boxes.empty());
  W->UpdateCurrent();
  QCOMPARE(W->Names().Item(1)->Surname.str(), std::string("Adams"));
}

void TEditingTest::TidyingMarksOnlyRealChanges() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Neat", "Name"}, {"o'brien", "mary-jo"}});
  TWindows W;
  QVERIFY(W.Activate());
  // Leaving tidy names changes nothing.
  QTest::keyClick(W->edtSurname, Qt::Key_Tab);
  QTest::keyClick(W->edtFirstName, Qt::Key_Tab);
  W->UpdateCurrent();
  QVERIFY(!W->Book().Modified);
  // Leaving stored lower-case names that the user did not change keeps them.
  W->edtSurname->setFocus();
  QTest::keyClick(W->edtSurname, Qt::Key_Down);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("o'brien"));
  QTest::keyClick(W->edtSurname, Qt::Key_Tab);
  QTest::keyClick(W->edtFirstName, Qt::Key_Tab);
  W->UpdateCurrent();
  QCOMPARE(W->edtSurname->text(), QStringLiteral("o'brien"));
  QCOMPARE(W->edtFirstName->text(), QStringLiteral("mary-jo"));
  QVERIFY(!W->Book().Modified);
  // The same text typed again is no change to tidy either.
  W->edtFirstName->setFocus();
  W->edtFirstName->selectAll();
  QTest::keyClicks(W->edtFirstName, QStringLiteral("mary-jo"));
  QTest::keyClick(W->edtFirstName, Qt::Key_Tab);
  QCOMPARE(W->edtFirstName->text(), QStringLiteral("mary-jo"));
  QCOMPARE(W.Cell(2, 1), QStringLiteral("mary-jo"));
  // Names the user types are tidied, and that is a change.
  W->edtSurname->setFocus();
  W->edtSurname->selectAll();
  QTest::keyClicks(W->edtSurname, QStringLiteral("o'neil"));
  QTest::keyClick(W->edtSurname, Qt::Key_Tab);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("O'Neil"));
  W->edtFirstName->selectAll();
  QTest::keyClicks(W->edtFirstName, QStringLiteral("mary-jane"));
  QTest::keyClick(W->edtFirstName, Qt::Key_Tab);
  QCOMPARE(W->edtFirstName->text(), QStringLiteral("Mary-Jane"));
  W->UpdateCurrent();
  QVERIFY(W->Book().Modified);
  QCOMPARE(W->Names().Item(2)->Surname.str(), std::string("O'Neil"));
  QCOMPARE(W->Names().Item(2)->FirstName.str(), std::string("Mary-Jane"));
}

// Visiting the name boxes of names beyond ASCII, stored tidy or not, changes
// nothing: no cell, no entry, no question on closing.
void TEditingTest::VisitingNamesBeyondAsciiChangesNothing() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"M\xC3\xBCller", "hans"},
                             {"\xC3\x96zt\xC3\xBCrk",
                              "\xC3\x87"
                              "a\xC4\x9Fr\xC4\xB1"},
                             {"van der berg", "\xC3\xA9lodie"}});
  TWindows W;
  QVERIFY(W.Activate());
  QTableView* Grid = W->grdNames;
  for (int Row = 0; Row < 3; ++Row) {
    QTest::mouseClick(Grid->viewport(), Qt::LeftButton, {}, Grid->visualRect(Grid->model()->index(Row, 0)).center());
    QTest::mouseClick(W->edtSurname, Qt::LeftButton);
    QTest::keyClick(W->edtSurname, Qt::Key_Tab);
    QTest::keyClick(W->edtFirstName, Qt::Key_Tab);
  }
  QTest::mouseClick(Grid->viewport(), Qt::LeftButton, {}, Grid->visualRect(Grid->model()->index(0, 0)).center());
  const char* Stored[][2] = {{"M\xC3\xBCller", "hans"},
                             {"\xC3\x96zt\xC3\xBCrk",
                              "\xC3\x87"
                              "a\xC4\x9Fr\xC4\xB1"},
                             {"van der berg", "\xC3\xA9lodie"}};
  for (int Row = 1; Row <= 3; ++Row) {
    QCOMPARE(W->Names().Cell(Row, 0), std::string(Stored[Row - 1][0]));
    QCOMPARE(W->Names().Cell(Row, 1), std::string(Stored[Row - 1][1]));
    QCOMPARE(W->Names().Item(Row)->Surname.str(), std::string(Stored[Row - 1][0]));
    QCOMPARE(W->Names().Item(Row)->FirstName.str(), std::string(Stored[Row - 1][1]));
  }
  QVERIFY(!W->Book().Modified);
  QVERIFY(W->close());
  QVERIFY(Platform.Prompter.Boxes.empty());
}

// Names typed in any script are tidied by their words' first letters.
void TEditingTest::TypedNamesBeyondAsciiAreTidied_data() {
  QTest::addColumn<QString>("Locale");
  QTest::addColumn<QString>("Surname");
  QTest::addColumn<QString>("FirstName");
  QTest::addColumn<QString>("TidySurname");
  QTest::addColumn<QString>("TidyFirstName");
  QTest::newRow("Turkish") << "en_US" << QStringLiteral("öztürk") << QStringLiteral("çağrı") << QStringLiteral("Öztürk")
                           << QStringLiteral("Çağrı");
  QTest::newRow("German") << "de_DE" << QStringLiteral("müller-lüdenscheidt") << QStringLiteral("jürgen")
                          << QStringLiteral("Müller-Lüdenscheidt") << QStringLiteral("Jürgen");
  QTest::newRow("Turkish i's") << "tr_TR" << QStringLiteral("ılgaz") << QStringLiteral("ilker")
                               << QStringLiteral("Ilgaz") << QStringLiteral("İlker");
  QTest::newRow("Azeri i's") << "az_AZ" << QStringLiteral("işıq") << QStringLiteral("ışık") << QStringLiteral("İşıq")
                             << QStringLiteral("Işık");
  QTest::newRow("Greek, Cyrillic") << "en_US" << QStringLiteral("παπαδόπουλος") << QStringLiteral("иван")
                                   << QStringLiteral("Παπαδόπουλος") << QStringLiteral("Иван");
}

void TEditingTest::TypedNamesBeyondAsciiAreTidied() {
  QFETCH(QString, Locale);
  QFETCH(QString, Surname);
  QFETCH(QString, FirstName);
  QFETCH(QString, TidySurname);
  QFETCH(QString, TidyFirstName);
  TNameOrder::Use(Locale.toStdString());
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->mnuAAdd->trigger();
  TypeText(W->edtSurname, Surname);
  QTest::keyClick(W->edtSurname, Qt::Key_Tab);
  QCoreApplication::processEvents();  // the posted focus request
  QCOMPARE(QApplication::focusWidget(), W->edtFirstName);
  TypeText(W->edtFirstName, FirstName);
  QTest::keyClick(W->edtFirstName, Qt::Key_Tab);
  W->UpdateCurrent();
  QCOMPARE(W.Cell(2, 0), TidySurname);
  QCOMPARE(W.Cell(2, 1), TidyFirstName);
  QCOMPARE(QString::fromUtf8(W->Names().Item(2)->Surname.str()), TidySurname);
  QCOMPARE(QString::fromUtf8(W->Names().Item(2)->FirstName.str()), TidyFirstName);
  TNameOrder::Use(TNameOrder::DesktopLocale());
}

void TEditingTest::DeleteChoosesTheRowAbove() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Baker", "Bob"}, {"Cole", "Cy"}, {"Dale", "Di"}});
  TWindows W;
  QVERIFY(W.Activate());
  // No and Cancel keep the entry.
  Platform.Prompter.Answers = {EAnswer::No, EAnswer::Cancel};
  W->mnuADelete->trigger();
  W->mnuADelete->trigger();
  QCOMPARE(W->Book().Items->Count, 4);
  QVERIFY(!W->Book().Modified);
  QCOMPARE(Platform.Prompter.Texts().first(), QStringLiteral("Are you sure you want to delete \"Ann Adams\"?"));

  Platform.Prompter.Answers = {EAnswer::Yes};
  W->SelectRow(4);
  W->grdNamesClick();
  W->mnuADelete->trigger();
  QCOMPARE(W->Book().Items->Count, 3);
  QCOMPARE(W->SelectedRow(), 3);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Cole"));
  QVERIFY(W->Book().Modified);

  Platform.Prompter.Answers = {EAnswer::Yes};
  W->SelectRow(1);
  W->grdNamesClick();
  W->mnuADelete->trigger();
  QCOMPARE(W->SelectedRow(), 1);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Baker"));

  Platform.Prompter.Answers = {EAnswer::Yes};
  W->SelectRow(2);
  W->grdNamesClick();
  W->mnuADelete->trigger();
  QCOMPARE(W->SelectedRow(), 1);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Baker"));
  QCOMPARE(W.Rows(), 3);
}

void TEditingTest::DeleteTheOnlyEntry() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->edtHomeTel->setText(QStringLiteral("123"));  // an unsaved edit is committed, then deleted
  Platform.Prompter.Answers = {EAnswer::Yes};
  W->mnuADelete->trigger();
  QCOMPARE(W->Book().Items->Count, 0);
  QCOMPARE(W.Rows(), 2);
  QVERIFY(W->Book().Current == nullptr);
  QVERIFY(W->edtSurname->text().isEmpty());
  QVERIFY(W->edtHomeTel->text().isEmpty());
  QVERIFY(!W->mnuADelete->isEnabled());
  QVERIFY(!W->mnuFPrint->isEnabled());
}

void TEditingTest::EnablingRule() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  TfrmDiallingOpt Options(W.Main.get());
  W->SetDiallingOptions(&Options);
  QVERIFY(W.Activate());
  QVERIFY(W->mnuADelete->isEnabled());
  QVERIFY(W->mnuFPrint->isEnabled());
  QVERIFY(!W->mnuFDialler->isEnabled());
  QVERIFY(!W->mnuAQuickDial->isEnabled());
  W->edtHomeTel->setText(QStringLiteral("123"));
  QVERIFY(!W->spdbtnDial1->isEnabled());  // no modem

  W->SetModemPort(2);
  W->tabDetails->setCurrentIndex(1);  // any event that runs the rule
  QVERIFY(W->mnuFDialler->isEnabled());
  QVERIFY(W->mnuAQuickDial->isEnabled());
  QVERIFY(W->spdbtnDial1->isEnabled());
  W->edtHomeTel->setText(QStringLiteral("   "));
  QVERIFY(!W->spdbtnDial1->isEnabled());  // spaces only
  W->edtBusTel->setFocus();
  QTest::keyClicks(W->edtBusTel, QStringLiteral("9"));
  QVERIFY(W->spdbtnDial2->isEnabled());  // typing enables at once
  W->edtMobile->setText(QStringLiteral("07"));
  QVERIFY(W->spdbtnDial4->isEnabled());
  W->edtBusExtn->setText(QStringLiteral("12"));
  QVERIFY(!W->spdbtnDial3->isEnabled());
  Options.chkDialExtensions->setChecked(true);
  W->edtBusExtn->setText(QStringLiteral("123"));
  QVERIFY(W->spdbtnDial3->isEnabled());

  W->mnuAAdd->trigger();
  QVERIFY(!W->mnuADelete->isEnabled());
  QVERIFY(!W->mnuAQuickDial->isEnabled());
  QVERIFY(!W->spdbtnDial2->isEnabled());
}

void TEditingTest::ClipboardOnEditsCommitsAfter() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  TAddressItem* Entry = W->Book().Current;
  QClipboard* Clipboard = QApplication::clipboard();

  W->edtHomeTel->setFocus();
  W->edtHomeTel->setText(QStringLiteral("0123 456"));
  W->edtHomeTel->setSelection(4, 4);
  W->mnuECut->trigger();
  QCOMPARE(Clipboard->text(), QStringLiteral(" 456"));
  QCOMPARE(W->edtHomeTel->text(), QStringLiteral("0123"));
  QCOMPARE(Entry->HomeTelephone.str(), std::string("0123"));  // committed after the cut

  W->edtHomeTel->setCursorPosition(0);
  Clipboard->setText(QStringLiteral("+44 "));
  W->mnuEPaste->trigger();
  QCOMPARE(Entry->HomeTelephone.str(), std::string("+44 0123"));

  W->edtHomeTel->setSelection(0, 4);
  W->mnuECopy->trigger();
  QCOMPARE(Clipboard->text(), QStringLiteral("+44 "));

  W->edtHomeTel->setSelection(0, 4);
  W->mnuEDelete->trigger();
  QCOMPARE(Entry->HomeTelephone.str(), std::string("0123"));
  // Delete with nothing selected deletes nothing.
  W->edtHomeTel->setCursorPosition(0);
  W->mnuEDelete->trigger();
  QCOMPARE(W->edtHomeTel->text(), QStringLiteral("0123"));

  // The keys reach the menu's commands, not the edit's own.
  W->edtHomeTel->setFocus();
  W->edtHomeTel->setSelection(0, 2);
  QTest::keyClick(W->edtHomeTel, Qt::Key_X, Qt::ControlModifier);
  QCOMPARE(Clipboard->text(), QStringLiteral("01"));
  QCOMPARE(Entry->HomeTelephone.str(), std::string("23"));
}

void TEditingTest::ClipboardOnMemosAndOtherControls() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  TAddressItem* Entry = W->Book().Current;
  QClipboard* Clipboard = QApplication::clipboard();
  W->tabDetails->setCurrentIndex(2);
  W->memNotes->setFocus();
  W->memNotes->setPlainText(QStringLiteral("first line\nsecond line"));
  W->memNotes->selectAll();
  W->mnuECut->trigger();
  QCOMPARE(Clipboard->text(), QStringLiteral("first line\nsecond line"));
  QCOMPARE(Entry->Notes.Count(), 0);
  W->mnuEPaste->trigger();
  QCOMPARE(Entry->Notes.Count(), 2);
  QCOMPARE(Entry->Notes[1], std::string("second line"));

  // On the index nothing happens.
  Clipboard->setText(QStringLiteral("untouched"));
  W->grdNames->setFocus();
  W->mnuECut->trigger();
  W->mnuEPaste->trigger();
  W->mnuEDelete->trigger();
  QCOMPARE(Clipboard->text(), QStringLiteral("untouched"));
  QCOMPARE(Entry->Notes.Count(), 2);
}

void TEditingTest::SelectAllCommitsFirst() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  TAddressItem* Entry = W->Book().Current;
  W->edtFirstName->setFocus();
  W->edtFirstName->setText(QStringLiteral("Annabel"));
  W->SelectAll1->trigger();
  QCOMPARE(Entry->FirstName.str(), std::string("Annabel"));
  QCOMPARE(W->edtFirstName->selectedText(), QStringLiteral("Annabel"));
  QCOMPARE(W->edtFirstName->selectionStart(), 0);

  W->tabDetails->setCurrentIndex(0);
  W->memHomeAddress->setFocus();
  W->memHomeAddress->setPlainText(QStringLiteral("a\nb"));
  W->SelectAll1->trigger();
  QCOMPARE(W->memHomeAddress->textCursor().selectedText().size(), 3);
  QCOMPARE(Entry->HomeAddress.Count(), 2);
}

void TEditingTest::DefaultTabDialog() {
  TFakePlatform Platform;
  {
    TWindows W;
    QVERIFY(W.Activate());
    TfrmDefaultTab* Dialog = W.DefaultTab.get();
    // Cancel: the page picked is dropped; the window does not switch.
    QTimer::singleShot(0, Dialog, [Dialog] {
      QVERIFY(!Dialog->btnOK->isEnabled());
      Dialog->tabDetails->setCurrentIndex(1);
      QVERIFY(Dialog->btnOK->isEnabled());
      Dialog->btnCancel->click();
    });
    W->mnuODefaultTab->trigger();
    QCOMPARE(W->tabDetails->currentIndex(), 0);
    QVERIFY(!Platform.ReadSettings().contains(QStringLiteral("[Defaults]")));
    QCOMPARE(Dialog->Tab(), 0);
    W->tabDetails->setCurrentIndex(1);
    W->mnuAAdd->trigger();
    QCOMPARE(W->tabDetails->currentIndex(), 0);  // the new-entry row uses the dialog's page

    QTimer::singleShot(0, Dialog, [Dialog] {
      QVERIFY(!Dialog->btnOK->isEnabled());  // disabled again on every showing
      Dialog->tabDetails->setCurrentIndex(2);
      Dialog->btnOK->click();
    });
    W->mnuODefaultTab->trigger();
    QCOMPARE(W->tabDetails->currentIndex(), 2);
    QVERIFY(Platform.ReadSettings().contains(QStringLiteral("Tab=2")));
    W->tabDetails->setCurrentIndex(0);
    W->mnuAAdd->trigger();
    QCOMPARE(W->tabDetails->currentIndex(), 2);
    QVERIFY(W->close());
  }
  TWindows Again;
  QCOMPARE(Again.DefaultTab->Tab(), 2);
  QVERIFY(Again.Activate());
  QCOMPARE(Again->tabDetails->currentIndex(), 2);  // the empty book shows the new-entry row
}

void TEditingTest::CapacitiesCountCharacters() {
  TFakePlatform Platform;
  // Fifty characters outside the first plane: a hundred UTF-16 units.
  std::string Wide;
  for (int Index = 0; Index < 50; ++Index) Wide += "\xF0\x9F\x98\x80";
  const QString Path = BookWithLastUse(Platform, {{Wide.c_str(), "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  QCOMPARE(W->edtSurname->text().toUcs4().size(), 50);
  W->edtHomeTel->setFocus();
  QTest::keyClicks(W->edtHomeTel, QStringLiteral("1"));
  W->UpdateCurrent();
  QCOMPARE(W->Book().Current->Surname.str(), Wide);  // nothing cut by the edit

  // Typing stops at the capacity.
  W->edtBusExtn->setFocus();
  QTest::keyClicks(W->edtBusExtn, QStringLiteral("123456789012"));
  QCOMPARE(W->edtBusExtn->text(), QStringLiteral("1234567890"));
}

void TEditingTest::ClickOnTheIndexAfterTypingANewSurname() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Cole", "Cy"}});
  TWindows W;
  QVERIFY(W.Activate());
  W->mnuAAdd->trigger();
  QTest::keyClicks(W->edtSurname, QStringLiteral("baker"));
  // Leaving for the index creates the entry before the click picks its row,
  // from the index as it is after the new entry went in.
  QTableView* Grid = W->grdNames;
  QTest::mouseClick(Grid->viewport(), Qt::LeftButton, {}, Grid->visualRect(Grid->model()->index(2, 0)).center());
  QCoreApplication::processEvents();
  QCOMPARE(W->Book().Items->Count, 3);
  QCOMPARE(W.Cell(2, 0), QStringLiteral("Baker"));
  QCOMPARE(W->SelectedRow(), 3);
  QCOMPARE(W->edtSurname->text(), QStringLiteral("Cole"));
  QVERIFY(Platform.Prompter.Boxes.empty());
}

void TEditingTest::MenuShortcutsWorkFromTheEdits() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Young", "Yan"}});
  TWindows W;
  QVERIFY(W.Activate());
  QCOMPARE(QApplication::focusWidget(), W->edtSurname);
  // Some desktops bind Ctrl+E (end of line) and Ctrl+D (delete) in the edits
  // themselves; every menu shortcut is claimed before an edit can take it.
  QObject* Window = W.Main.get();
  for (QAction* Action : W->menuBar()->findChildren<QAction*>()) {
    if (Action->shortcut().isEmpty()) continue;
    const QKeyCombination Key = Action->shortcut()[0];
    for (QWidget* Control : std::initializer_list<QWidget*>{W->edtSurname, W->edtBusExtn, W->memNotes}) {
      QKeyEvent Override(QEvent::ShortcutOverride, Key.key(), Key.keyboardModifiers());
      QVERIFY2(Window->eventFilter(Control, &Override), qPrintable(Action->objectName()));
    }
  }
  QTest::keyClick(W->edtSurname, Qt::Key_E, Qt::ControlModifier);
  QCOMPARE(W->SelectedRow(), 3);
  QVERIFY(W->edtSurname->text().isEmpty());
  // And from a memo: Ctrl+R asks to delete the shown entry.
  W->SelectRow(1);
  W->grdNamesClick();
  W->memNotes->setFocus();
  Platform.Prompter.Answers = {EAnswer::No};
  QTest::keyClick(W->memNotes, Qt::Key_R, Qt::ControlModifier);
  QCOMPARE(Platform.Prompter.Texts(), QStringList{QStringLiteral("Are you sure you want to delete \"Ann Adams\"?")});
  QCOMPARE(W->Book().Items->Count, 2);
}

void TEditingTest::SurnameCannotBeEmptiedAndLost() {
  // Blanking the surname and then committing without leaving the edit.
  const std::vector<std::pair<const char*, std::function<void(TWindows&)>>> Ways = {
      {"cut, Tab",
       [](TWindows& W) {
         QTest::keyClick(W->edtSurname, Qt::Key_X, Qt::ControlModifier);
         QCOMPARE(W->edtSurname->text(), QString());  // the cut itself stands
         QTest::keyClick(W->edtSurname, Qt::Key_Tab);
         QCOMPARE(W->edtSurname->text(), QStringLiteral("Zorn"));  // the row's surname comes back
       }},
      {"backspace, Add New",
       [](TWindows& W) {
         QTest::keyClick(W->edtSurname, Qt::Key_Backspace);
         QTest::keyClick(W->edtSurname, Qt::Key_E, Qt::ControlModifier);
         QCOMPARE(W->SelectedRow(), 3);
       }},
  };
  for (const auto& [Way, Blank] : Ways) {
    TFakePlatform Platform;
    const QString Path = BookWithLastUse(Platform, {{"Adams", "Ann"}, {"Baker", "Bob"}});
    {
      TWindows W;
      QVERIFY(W.Activate());
      // A command's commit renames the entry and puts it in its place at once.
      W->edtSurname->selectAll();
      QTest::keyClicks(W->edtSurname, QStringLiteral("Zorn"));
      QTest::keyClick(W->edtSurname, Qt::Key_C, Qt::ControlModifier);
      QCOMPARE(W.Cell(1, 0), QStringLiteral("Baker"));
      QCOMPARE(W.Cell(2, 0), QStringLiteral("Zorn"));
      QCOMPARE(W->SelectedRow(), 2);
      QTest::keyClick(W->edtSurname, Qt::Key_Tab);
      QCOMPARE(W.Cell(2, 0), QStringLiteral("Zorn"));
      W->edtSurname->setFocus();
      W->edtSurname->selectAll();
      Blank(W);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier);
      QVERIFY2(Platform.Prompter.Boxes.empty(), Way);
    }
    TAddressBook Saved;
    Saved.LoadFromFile(Path.toStdString());
    QCOMPARE(Saved.Items->Count, 2);
    QCOMPARE(static_cast<TAddressItem*>(Saved.Items->Head->Next)->Surname.str(), std::string("Zorn"));
  }
}

void TEditingTest::CopyAndPasteKeepSelectionAndCaret() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  QClipboard* Clipboard = QApplication::clipboard();
  W->edtHomeTel->setFocus();
  W->edtHomeTel->setText(QStringLiteral("0123 456"));
  W->edtHomeTel->setSelection(0, 4);
  QTest::keyClick(W->edtHomeTel, Qt::Key_C, Qt::ControlModifier);
  QCOMPARE(Clipboard->text(), QStringLiteral("0123"));
  QTest::keyClicks(W->edtHomeTel, QStringLiteral("9"));  // replaces the selection
  QCOMPARE(W->edtHomeTel->text(), QStringLiteral("9 456"));
  Clipboard->setText(QStringLiteral("+44"));
  W->edtHomeTel->setCursorPosition(0);
  QTest::keyClick(W->edtHomeTel, Qt::Key_V, Qt::ControlModifier);
  QCOMPARE(W->edtHomeTel->text(), QStringLiteral("+449 456"));
  QCOMPARE(W->edtHomeTel->cursorPosition(), 3);
  QCOMPARE(W->Book().Current->HomeTelephone.str(), std::string("+449 456"));

  W->tabDetails->setCurrentIndex(2);
  W->memNotes->setFocus();
  W->memNotes->setPlainText(QStringLiteral("ab\ncd"));
  QTextCursor Caret = W->memNotes->textCursor();
  Caret.setPosition(1);
  W->memNotes->setTextCursor(Caret);
  Clipboard->setText(QStringLiteral("XY"));
  QTest::keyClick(W->memNotes, Qt::Key_V, Qt::ControlModifier);
  QCOMPARE(W->memNotes->toPlainText(), QStringLiteral("aXYb\ncd"));
  QCOMPARE(W->memNotes->textCursor().position(), 3);
}

void TEditingTest::TabWalksTheWholeWindowAndNoMemoTakesIt() {
  TFakePlatform Platform;
  BookWithLastUse(Platform, {{"Adams", "Ann"}});
  TWindows W;
  QVERIFY(W.Activate());
  QStringList Letters;
  for (char Letter = 'A'; Letter <= 'Z'; ++Letter) Letters << QStringLiteral("btn") + QLatin1Char(Letter);
  const QStringList Around =
      QStringList{QStringLiteral("edtSurname"), QStringLiteral("edtFirstName"), QStringLiteral("tabDetails")};
  const std::vector<QStringList> Pages = {
      {QStringLiteral("edtHomeTel"), QStringLiteral("memHomeAddress")},
      {QStringLiteral("edtBusTel"), QStringLiteral("edtBusExtn"), QStringLiteral("edtMobile"),
       QStringLiteral("edtBusFax"), QStringLiteral("memBusAddress")},
      {QStringLiteral("memNotes")}};
  for (int Page = 0; Page < 3; ++Page) {
    W->tabDetails->setCurrentIndex(Page);
    W->edtSurname->setFocus();
    const QStringList Expected =
        Around + Pages[size_t(Page)] + Letters + QStringList{QStringLiteral("grdNames"), QStringLiteral("edtSurname")};
    QStringList Seen;
    for (qsizetype Step = 0; Step < Expected.size(); ++Step) {
      QWidget* Focused = QApplication::focusWidget();
      Seen << (Focused == W->tabDetails->focusProxy() ? QStringLiteral("tabDetails") : Focused->objectName());
      QTest::keyClick(Focused, Qt::Key_Tab);
    }
    QCOMPARE(Seen, Expected);
  }
  // Back from the first letter to the last control of the page shown.
  W->btnLetters[0]->setFocus();
  QTest::keyClick(W->btnLetters[0], Qt::Key_Backtab);
  QCOMPARE(QApplication::focusWidget(), W->memNotes);
  QVERIFY(!W->memNotes->toPlainText().contains(QLatin1Char('\t')));
  W->UpdateCurrent();
  QVERIFY(!W->Book().Modified);
}

QTEST_MAIN(TEditingTest)
#include "tst_editing.moc"
