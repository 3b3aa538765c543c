// The main window: Find and Find Next.

#include "Main.h"

#include <algorithm>

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTextCursor>

#include "Find.h"
#include "MainShared.h"
#include "NamesModel.h"
#include "Prompter.h"

using namespace MainWindow;

const char* const NoMatchText = "There are no addresses that match your search.";
const char* const NoMoreMatchText = "There are no more addresses that match your search.";

void TfrmMain::mnuSFindClick() {
  UpdateCurrent();
  if (!FFindDialog || FFindDialog->exec() != QDialog::Accepted) return;
  mnuSFindNext->setEnabled(true);  // for the rest of the run
  RunSearch(true);
}

void TfrmMain::mnuSFindNextClick() {
  UpdateCurrent();
  if (FFindDialog) RunSearch(false);
}

void TfrmMain::RunSearch(bool First) {
  QuietUpdate = true;
  const bool Found =
      First ? FSearch.FindFirstMatch(*FBook->Items, *FFindDialog) : FSearch.FindNextMatch(*FBook->Items, *FFindDialog);
  if (Found) {
    // The matched field comes to the front with the focus, then its entry is shown.
    const int Page = FieldPage(FSearch.FoundField);
    if (Page >= 0) tabDetails->setCurrentIndex(Page);
    TAddressItem* Match = FSearch.FoundEntry();
    FieldControl(FSearch.FoundField)->setFocus();
    // Leaving the first name of the new-entry row shows another entry, which
    // the cursor follows; the match is still the one to place.
    FSearch.FollowEntry(Match);
    LocateCurrentNode();
  } else {
    // Finding nothing is news, not a fault.
    Prompter().Information(this, QString::fromLatin1(First ? NoMatchText : NoMoreMatchText));
  }
  QuietUpdate = false;
}

QWidget* TfrmMain::FieldControl(ESearchField Field) const {
  switch (Field) {
    case ESearchField::Surname:
      return edtSurname;
    case ESearchField::FirstName:
      return edtFirstName;
    case ESearchField::HomeTelephone:
      return edtHomeTel;
    case ESearchField::BusTelephone:
      return edtBusTel;
    case ESearchField::BusExtn:
      return edtBusExtn;
    case ESearchField::BusMobile:
      return edtMobile;
    case ESearchField::BusFacsimile:
      return edtBusFax;
    case ESearchField::HomeAddress:
      return memHomeAddress;
    case ESearchField::BusAddress:
      return memBusAddress;
    case ESearchField::Notes:
      return memNotes;
  }
  return edtSurname;
}

// The first row after the selected one, wrapping to the top, that shows the
// found entry's two names. Among rows of the same names the found entry's own
// row wins, so that a namesake is never shown with a selection that is not a
// match; that row is looked up first, by the entry, which is also quicker.
int TfrmMain::FoundEntryRow(const TAddressItem& Found) const {
  const int Count = FNames->EntryCount();
  int Start = FSelectedRow + 1;
  if (Start > Count) Start = 1;  // from the last entry or the new-entry row, the scan wraps at once
  auto SameNames = [&](int Row) {
    return FNames->Cell(Row, 0) == Found.Surname.str() && FNames->Cell(Row, 1) == Found.FirstName.str();
  };
  for (int Step = 0, Row = Start; Step < Count; ++Step, Row = Row == Count ? 1 : Row + 1)
    if (FNames->Item(Row) == &Found) {
      if (SameNames(Row)) return Row;
      break;
    }
  for (int Step = 0, Row = Start; Step < Count; ++Step, Row = Row == Count ? 1 : Row + 1)
    if (SameNames(Row)) return Row;
  return 0;
}

void TfrmMain::LocateCurrentNode() {
  const bool Was = QuietUpdate;
  QuietUpdate = true;
  TAddressItem* Found = FSearch.FoundEntry();
  if (const int Row = Found ? FoundEntryRow(*Found) : 0) {
    SelectRow(Row);
    grdNamesClick();  // quietly: the page and the focus stay with the matched field
    QWidget* Focused = focusWidget();
    if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) {
      if (Edit->property("Tag").toInt() != 1) tabDetails->setCurrentIndex(FSearch.FoundPage);
      Edit->setSelection(FSearch.FoundSelStart, FSearch.FoundSelLength);
    } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) {
      tabDetails->setCurrentIndex(FSearch.FoundPage);
      const int Last = Memo->document()->characterCount() - 1;
      QTextCursor Cursor = Memo->textCursor();
      Cursor.setPosition(std::min(FSearch.FoundSelStart, Last));
      Cursor.setPosition(std::min(FSearch.FoundSelStart + FSearch.FoundSelLength, Last), QTextCursor::KeepAnchor);
      Memo->setTextCursor(Cursor);
    }
  }
  QuietUpdate = Was;
}
