// Find and Find Next as a user drives them: the dialog, its checks, the match
// shown and selected in the main window, and the cursor after the book changes.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "MainTestKit.h"

namespace {

struct TEntry {
  const char* Surname;
  const char* FirstName = "";
  const char* HomeAddress = "";
  const char* Notes = "";
};

QString BookOf(TFakePlatform& Platform, const std::vector<TEntry>& Entries, const QString& Name = "BOOK.ABK") {
  TAddressBook Book;
  for (const TEntry& Entry : Entries) {
    auto* Item = new TAddressItem;
    Item->Surname = Entry.Surname;
    Item->FirstName = Entry.FirstName;
    Item->HomeAddress.SetText(Entry.HomeAddress);
    Item->Notes.SetText(Entry.Notes);
    Book.Items->Add(Item);
  }
  Book.FileName = Platform.Path(Name).toStdString();
  Book.SaveToFile();
  Platform.WriteSettings(QStringLiteral("[Startup]\nLoadFile=%1\n").arg(Platform.Path(Name)));
  return Platform.Path(Name);
}

// Ctrl+F from the focused control; Act runs while the dialog is up and must close it.
void CtrlF(TWindows& W, const std::function<void(TfrmFind&)>& Act) {
  QTimer::singleShot(0, W.Find.get(), [&W, Act] {
    Act(*W.Find);
    if (W.Find->isVisible()) {
      W.Find->reject();
      QFAIL("the dialog stayed open");
    }
  });
  QTest::keyClick(W->focusWidget(), Qt::Key_F, Qt::ControlModifier);
  QApplication::setActiveWindow(W.Main.get());  // as the desktop does when a dialog closes
}

std::function<void(TfrmFind&)> TypeAndEnter(const QString& Text) {
  return [Text](TfrmFind& F) {
    QTest::keyClicks(F.cboSearchString, Text);  // FormShow selected the old text
    QTest::keyClick(F.cboSearchString, Qt::Key_Return);
  };
}

void F3(TWindows& W) { QTest::keyClick(W->focusWidget(), Qt::Key_F3); }

QString Selected(QWidget* Control) {
  if (auto* Edit = qobject_cast<QLineEdit*>(Control)) return Edit->selectedText();
  return qobject_cast<QPlainTextEdit*>(Control)->textCursor().selectedText();
}

}  // namespace

class TFindTest : public QObject {
  Q_OBJECT
private slots:
  void DialogEnablingRule();
  void ValidSearchChecksInOrder();
  void FindSelectsEachMatchAndFindNextSteps();
  void ClickInTheIndexThenCancelledEmptyText();
  void EmptyBook();
  void CursorAfterTheBookChanges_data();
  void CursorAfterTheBookChanges();
  void NamesakeOfTheFoundEntryIsNotShown();
  void F3FromTheFirstNameOfTheNewEntryRow();
  void FindNextFromNotesToHomeBringsHomeToFront();
  void LettersBeyondAscii_data();
  void LettersBeyondAscii();
};

void TFindTest::DialogEnablingRule() {
  TFakePlatform Platform;
  TfrmFind F;
  auto Boxes = [&](bool (QCheckBox::*State)() const) {
    QStringList Names;
    for (QCheckBox* Box : F.findChildren<QCheckBox*>())
      if ((Box->*State)()) Names << Box->objectName().mid(3);
    Names.sort();
    return Names.join(' ');
  };
  QVERIFY(F.cboSearchString->text().isEmpty());
  QCOMPARE(Boxes(&QCheckBox::isChecked), QStringLiteral("AnyField"));
  QCOMPARE(Boxes(&QCheckBox::isEnabled), QStringLiteral("AnyField MatchCase WholeWords"));
  F.show();
  const std::pair<QCheckBox*, QString> Steps[] = {
      {F.chkAnyField, "Addresses AnyField MatchCase Names Notes Numbers WholeWords"},
      {F.chkNames, "Addresses AnyField FirstName MatchCase Names Notes Numbers Surname WholeWords"},
      {F.chkAnyField, "AnyField MatchCase WholeWords"},  // check marks stay, only enabling changes
  };
  for (const auto& [Box, Enabled] : Steps) {
    QTest::mouseClick(Box, Qt::LeftButton, {}, QPoint(6, Box->height() / 2));
    QCOMPARE(Boxes(&QCheckBox::isEnabled), Enabled);
  }
  QCOMPARE(Boxes(&QCheckBox::isChecked), QStringLiteral("AnyField Names"));
  QTest::keyClick(&F, Qt::Key_F1);  // the topic of Edit > Find describes this window
  QCOMPARE(Platform.Help.Calls, QStringList{"ctx24"});
}

void TFindTest::ValidSearchChecksInOrder() {
  TFakePlatform Platform;
  BookOf(Platform, {{"Adams"}});
  TWindows W;
  QVERIFY(W.Activate());
  QVERIFY(!W->mnuSFindNext->isEnabled());
  QStringList Focus;
  CtrlF(W, [&](TfrmFind& F) {
    auto Ok = [&] {
      QTest::keyClick(F.cboSearchString, Qt::Key_Return);
      Focus << F.focusWidget()->objectName();
    };
    QTest::keyClicks(F.cboSearchString, QStringLiteral("   "));
    Ok();
    QTest::keyClicks(F.cboSearchString, QStringLiteral(" x"));
    F.chkAnyField->click();
    Ok();
    F.chkNames->click();
    Ok();
    F.chkFirstName->click();
    F.chkNumbers->click();
    Ok();
    F.chkNumbers->click();  // unticked: its empty choice no longer matters
    F.chkAddresses->click();
    Ok();
    F.chkWorkAddress->click();
    QVERIFY(F.ValidSearch());
    QTest::keyClick(F.cboSearchString, Qt::Key_Escape);
  });
  QCOMPARE(Platform.Prompter.Texts(),
           (QStringList{NoSearchTextText, NoWhereText, NoNamesText, NoNumbersText, NoAddressesText}));
  QCOMPARE(Platform.Prompter.Kinds(), QStringList(5, QStringLiteral("error")));
  QCOMPARE(Focus, (QStringList{"cboSearchString", "chkAnyField", "chkSurname", "chkHomeNo", "chkHomeAddress"}));
  QVERIFY(!W->mnuSFindNext->isEnabled());  // closed with Cancel
}

void TFindTest::FindSelectsEachMatchAndFindNextSteps() {
  TFakePlatform Platform;
  BookOf(Platform, {{"Adams", "Ann", "", "lanes"},
                    {"Baker", "Bob",
                     "0123456789\nabcde\nGr\xC3\xBC\xC3\x9F"
                     "e \xF0\x9D\x84\x9E Lane"},
                    {"Lane", "Lois"},
                    {"Zorn", "Zed", "", "Notes\nby the lane end"}});
  TWindows W;
  QVERIFY(W.Activate());
  CtrlF(W, [](TfrmFind& F) {
    F.chkWholeWords->click();
    TypeAndEnter(QStringLiteral("lane"))(F);
  });
  QVERIFY(W->mnuSFindNext->isEnabled());
  QCOMPARE(W->SelectedRow(), 2);
  QCOMPARE(W->tabDetails->currentIndex(), 0);
  QCOMPARE(W->focusWidget(), W->memHomeAddress);
  QCOMPARE(Selected(W->memHomeAddress), QStringLiteral("Lane"));

  W->tabDetails->setCurrentIndex(1);  // a name match leaves the page alone
  F3(W);
  QCOMPARE(W->SelectedRow(), 3);
  QCOMPARE(W->tabDetails->currentIndex(), 1);
  QCOMPARE(W->focusWidget(), W->edtSurname);
  QCOMPARE(Selected(W->edtSurname), QStringLiteral("Lane"));

  F3(W);
  QCOMPARE(W->SelectedRow(), 4);
  QCOMPARE(W->tabDetails->currentIndex(), 2);
  QCOMPARE(Selected(W->memNotes), QStringLiteral("lane"));
  QVERIFY(Platform.Prompter.Boxes.empty());
  QVERIFY(!W->Book().Modified);

  F3(W);
  QCOMPARE(Platform.Prompter.Texts(), QStringList{NoMoreMatchText});
  QCOMPARE(W->SelectedRow(), 4);
}

// A click in the index moves where F3 goes on; a cancelled empty text is what F3 uses.
void TFindTest::ClickInTheIndexThenCancelledEmptyText() {
  TFakePlatform Platform;
  std::vector<TEntry> Entries;
  const char* Names[] = {"Aa", "Bb", "Cc", "Dd", "Ee", "Ff", "Gg", "Hh", "Ii", "Jj"};
  for (int Index = 0; Index < 10; ++Index)
    Entries.push_back({Names[Index], "", "", Index == 2 || Index == 4 || Index == 7 ? "hit" : ""});
  BookOf(Platform, Entries);
  TWindows W;
  QVERIFY(W.Activate());
  CtrlF(W, TypeAndEnter(QStringLiteral("hit")));
  QCOMPARE(W->SelectedRow(), 3);
  QTableView* Grid = W->grdNames;
  QTest::mouseClick(Grid->viewport(), Qt::LeftButton, {}, Grid->visualRect(Grid->model()->index(6, 0)).center());
  QCOMPARE(W->SelectedRow(), 7);
  F3(W);
  QCOMPARE(W->SelectedRow(), 8);
  W->SelectRow(1);
  W->grdNamesClick();
  CtrlF(W, [](TfrmFind& F) {
    QTest::keyClick(F.cboSearchString, Qt::Key_Delete);  // the text was all selected
    QTest::keyClick(F.cboSearchString, Qt::Key_Escape);
  });
  QVERIFY(W.Find->cboSearchString->text().isEmpty());
  F3(W);
  QCOMPARE(Platform.Prompter.Texts(), QStringList{NoMoreMatchText});
  QCOMPARE(W->SelectedRow(), 1);
}

void TFindTest::EmptyBook() {
  TFakePlatform Platform;
  TWindows W;
  QVERIFY(W.Activate());
  CtrlF(W, TypeAndEnter(QStringLiteral("x")));
  F3(W);
  QCOMPARE(Platform.Prompter.Texts(), (QStringList{NoMatchText, NoMoreMatchText}));
  QCOMPARE(Platform.Prompter.Kinds(), (QStringList{"information", "information"}));  // news, not faults
}

// Whatever removes the entry the cursor is on, Find Next never reads it: the
// sanitizer build runs this too.
void TFindTest::CursorAfterTheBookChanges_data() {
  QTest::addColumn<QString>("Action");
  QTest::addColumn<int>("Row");  // where F3 lands; 0: "no more"
  QTest::newRow("delete the only entry") << "delete" << 0;
  QTest::newRow("new book") << "new" << 0;
  QTest::newRow("open an empty book") << "open empty" << 0;
  QTest::newRow("open fails") << "open missing" << 2;
}

void TFindTest::CursorAfterTheBookChanges() {
  QFETCH(QString, Action);
  QFETCH(int, Row);
  TFakePlatform Platform;
  const QString Empty = BookOf(Platform, {}, "EMPTY.ABK");
  BookOf(Platform, Action == "delete" ? std::vector<TEntry>{{"Aa", "", "", "hit"}}
                                      : std::vector<TEntry>{{"Aa", "", "", "hit"}, {"Bb", "", "", "hit"}});
  TWindows W;
  QVERIFY(W.Activate());
  CtrlF(W, TypeAndEnter(QStringLiteral("hit")));
  QCOMPARE(W->SelectedRow(), 1);
  Platform.Prompter.Answers = {EAnswer::Yes};
  Platform.Dialogs.OpenAnswers = {Action == "open empty" ? Empty : Platform.Path("MISSING.ABK")};
  if (Action == "delete") W->mnuADelete->trigger();
  else if (Action == "new") W->mnuFNew->trigger();
  else W->mnuFOpen->trigger();
  // Never the freed entry: none, or the entry still shown.
  QCOMPARE(W->Search().FoundEntry(), Row ? W->Book().Current : nullptr);
  Platform.Prompter.Boxes.clear();
  F3(W);
  if (Row == 0) {
    QCOMPARE(Platform.Prompter.Texts(), QStringList{NoMoreMatchText});
  } else {
    QVERIFY(Platform.Prompter.Boxes.empty());
    QCOMPARE(W->SelectedRow(), Row);
  }
}

void TFindTest::NamesakeOfTheFoundEntryIsNotShown() {
  TFakePlatform Platform;
  BookOf(Platform, {{"Smith", "John", "", "other"}, {"Smith", "John", "", "hit"}});
  TWindows W;
  QVERIFY(W.Activate());
  TAddressItem* Second = W->Names().Item(2);
  W->SelectRow(2);
  W->grdNamesClick();
  CtrlF(W, TypeAndEnter(QStringLiteral("hit")));
  QCOMPARE(W->SelectedRow(), 2);
  QCOMPARE(W->Book().Current, Second);
  QCOMPARE(Selected(W->memNotes), QStringLiteral("hit"));
}

// Leaving that edit shows the first entry without a surname; the match found
// must still be the one shown.
void TFindTest::F3FromTheFirstNameOfTheNewEntryRow() {
  TFakePlatform Platform;
  BookOf(Platform, {{"Aa", "", "", "hit"}, {"Bb", "", "", "a hit"}, {"", "Solo"}});
  TWindows W;
  QVERIFY(W.Activate());
  CtrlF(W, TypeAndEnter(QStringLiteral("hit")));
  QTableView* Grid = W->grdNames;
  QTest::mouseClick(Grid->viewport(), Qt::LeftButton, {}, Grid->visualRect(Grid->model()->index(3, 0)).center());
  QTest::keyClick(W->edtSurname, Qt::Key_Backtab);  // back to the index: no box
  QTest::mouseClick(W->edtFirstName, Qt::LeftButton);
  QCOMPARE(W->focusWidget(), W->edtFirstName);
  F3(W);
  QCOMPARE(W->SelectedRow(), 2);
  QCOMPARE(Selected(W->memNotes), QStringLiteral("hit"));
  QVERIFY(Platform.Prompter.Boxes.empty());
}

void TFindTest::FindNextFromNotesToHomeBringsHomeToFront() {
  TFakePlatform Platform;
  BookOf(Platform, {{"Aa", "", "", "a hit"}, {"Bb", "", "12 hit Road"}});
  TWindows W;
  QVERIFY(W.Activate());
  CtrlF(W, TypeAndEnter(QStringLiteral("hit")));
  QCOMPARE(W->tabDetails->currentIndex(), 2);
  QCOMPARE(Selected(W->memNotes), QStringLiteral("hit"));
  F3(W);
  QCOMPARE(W->SelectedRow(), 2);
  QCOMPARE(W->tabDetails->currentIndex(), 0);
  QCOMPARE(W->focusWidget(), W->memHomeAddress);
  QCOMPARE(W->memHomeAddress->textCursor().selectionStart(), 3);
  QCOMPARE(Selected(W->memHomeAddress), QStringLiteral("hit"));
}

// What the user types in any script finds its other case and keeps to whole
// words; the selection is exactly the text that matched.
void TFindTest::LettersBeyondAscii_data() {
  QTest::addColumn<QString>("Text");
  QTest::addColumn<bool>("WholeWords");
  QTest::addColumn<QString>("Selection");  // empty: nothing is found
  QTest::newRow("other case") << QStringLiteral("öztürk") << false << QStringLiteral("Öztürk");
  QTest::newRow("inside a word") << QStringLiteral("ller") << true << QString();
  QTest::newRow("capital sharp s") << QStringLiteral("große") << false << QStringLiteral("GROẞE");
  QTest::newRow("after CJK") << QStringLiteral("lane") << true << QStringLiteral("Lane");
}

void TFindTest::LettersBeyondAscii() {
  QFETCH(QString, Text);
  QFETCH(bool, WholeWords);
  QFETCH(QString, Selection);
  TFakePlatform Platform;
  BookOf(Platform, {{"M\xC3\xBCller", "Hans"},
                    {"\xC3\x96zt\xC3\xBCrk", "",
                     "GRO\xE1\xBA\x9E"
                     "E Weg"},
                    {"Zz", "", "", "Tokyo\n\xE6\x97\xA5\xE6\x9C\xAC Lane"}});
  TWindows W;
  QVERIFY(W.Activate());
  CtrlF(W, [&](TfrmFind& F) {
    if (WholeWords) F.chkWholeWords->click();
    TypeText(F.cboSearchString, Text);
    QTest::keyClick(F.cboSearchString, Qt::Key_Return);
  });
  if (Selection.isEmpty()) {
    QCOMPARE(Platform.Prompter.Texts(), QStringList{NoMatchText});
    return;
  }
  QVERIFY(Platform.Prompter.Boxes.empty());
  QCOMPARE(Selected(W->focusWidget()), Selection);
}

QTEST_MAIN(TFindTest)
#include "tst_find.moc"
