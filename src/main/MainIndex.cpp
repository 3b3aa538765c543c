// The main window: the name index.

#include "Main.h"

#include <memory>

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>

#include "MainShared.h"
#include "NamesModel.h"
#include "Prompter.h"

using namespace MainWindow;

void TfrmMain::BuildNamesList() {
  FNames->Rebuild(*FBook->Items);
  FShownRow = 0;
  SelectRow(1);
}

void TfrmMain::SelectRow(int Row, bool AtTop) {
  if (Row < 1) Row = 1;
  if (Row > FNames->NewEntryRow()) Row = FNames->NewEntryRow();
  FSelectedRow = Row;
  FSettingRow = true;
  const QModelIndex At = FNames->index(Row - 1, 0);
  grdNames->selectionModel()->setCurrentIndex(At, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  grdNames->scrollTo(At, AtTop ? QAbstractItemView::PositionAtTop : QAbstractItemView::EnsureVisible);
  FSettingRow = false;
}

void TfrmMain::StoreEdits(TAddressItem& Item) const {
  Item.Surname = Std(edtSurname->text());
  Item.FirstName = Std(edtFirstName->text());
  Item.HomeTelephone = Std(edtHomeTel->text());
  Item.BusTelephone = Std(edtBusTel->text());
  Item.BusExtn = Std(edtBusExtn->text());
  Item.BusFacsimile = Std(edtBusFax->text());
  Item.BusMobile = Std(edtMobile->text());
  Item.HomeAddress.SetText(Std(memHomeAddress->toPlainText()));
  Item.BusAddress.SetText(Std(memBusAddress->toPlainText()));
  Item.Notes.SetText(Std(memNotes->toPlainText()));
}

void TfrmMain::grdNamesClick() {
  if (SuppressGridClick) {
    EnableControls();
    return;
  }
  if (FBook->CurrentChanged) {
    TidyNameEdits(FShownRow);
    if (TAddressItem* Current = FBook->Current) {
      // The index row's surname is the one a blanked surname edit falls back to.
      const bool Shown = FNames->Item(FShownRow) == Current;
      const std::string Surname(Shown ? FNames->Cell(FShownRow, 0) : Current->Surname.str());
      const std::string OldSurname = Current->Surname, OldFirstName = Current->FirstName;
      StoreEdits(*Current);
      if (IsBlank(edtSurname->text()) && !Surname.empty()) Current->Surname = Surname;
      if (!QuietUpdate) Current->TabPage = static_cast<uint8_t>(tabDetails->currentIndex());
      if (Current->Surname.str() != OldSurname || Current->FirstName.str() != OldFirstName) MoveToItsPlace(*Current);
      else if (Shown) FNames->KeepCells(FShownRow, Current->Surname, Current->FirstName);
    } else if (!IsBlank(edtSurname->text()) || !IsBlank(edtFirstName->text())) {
      auto Item = std::make_unique<TAddressItem>();
      StoreEdits(*Item);
      Item->TabPage = QuietUpdate ? 0 : static_cast<uint8_t>(tabDetails->currentIndex());
      FBook->Items->Add(Item.release());
      BuildNamesList();
    }
    FBook->Modified = true;
  }
  ShowSelectedRow();
  FBook->CurrentChanged = false;
  if (!QuietUpdate) edtSurname->setFocus();
  EnableControls();
}

// A renamed entry goes where its new name sorts, and the index shows it
// there; the row chosen meanwhile stays chosen wherever it went.
void TfrmMain::MoveToItsPlace(TAddressItem& Item) {
  TAddressItem* Selected = FNames->Item(FSelectedRow);
  const bool NewEntryRow = FSelectedRow == FNames->NewEntryRow();
  FBook->Items->Remove(&Item);
  FBook->Items->Add(&Item);
  FNames->Rebuild(*FBook->Items);
  FShownRow = FBook->Items->IndexOf(&Item) + 1;
  SelectRow(Selected ? FBook->Items->IndexOf(Selected) + 1 : NewEntryRow ? FNames->NewEntryRow() : FSelectedRow);
}

// A name of characters no installed font has shows as empty boxes; the
// person is told once a run, after the paint or the key that showed it, in a
// box that leaves the window working.
void TfrmMain::CheckShownName(const QString& Name, const QFont& Font) {
  if (FMissingCharactersTold || !FShownCoverage.LacksGlyphs(Name, Font)) return;
  FMissingCharactersTold = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        Prompter().Notice(this, QStringLiteral("Some characters in the names shown cannot be displayed with the fonts "
                                               "installed: install fonts-noto-cjk."));
      },
      Qt::QueuedConnection);
}

void TfrmMain::ShowSelectedRow() {
  if (TAddressItem* Item = FNames->Item(FSelectedRow)) {
    // The entry shown has just been committed from the edits: filling them
    // again would only throw away the caret and the selection being edited.
    if (Item != FBook->Current || FShownRow != FSelectedRow) {
      edtSurname->setText(Q(Item->Surname));
      edtFirstName->setText(Q(Item->FirstName));
      edtHomeTel->setText(Q(Item->HomeTelephone));
      memHomeAddress->setPlainText(Q(Item->HomeAddress.Text()));
      edtBusTel->setText(Q(Item->BusTelephone));
      edtBusExtn->setText(Q(Item->BusExtn));
      edtBusFax->setText(Q(Item->BusFacsimile));
      edtMobile->setText(Q(Item->BusMobile));
      memBusAddress->setPlainText(Q(Item->BusAddress.Text()));
      memNotes->setPlainText(Q(Item->Notes.Text()));
    }
    if (!QuietUpdate && Item->TabPage <= 2) tabDetails->setCurrentIndex(Item->TabPage);
    FBook->Current = Item;
    FShownRow = FSelectedRow;
    FSearch.FollowEntry(Item);
    return;
  }
  for (QLineEdit* Edit : {edtSurname, edtFirstName, edtHomeTel, edtBusTel, edtBusExtn, edtBusFax, edtMobile})
    Edit->clear();
  for (QPlainTextEdit* Memo : {memHomeAddress, memBusAddress, memNotes}) Memo->clear();
  if (!QuietUpdate) tabDetails->setCurrentIndex(DefaultTab());
  if (FNames->GridRowCount() == 2) SelectRow(1);
  FBook->Current = nullptr;
  FShownRow = 0;
}

void TfrmMain::UpdateCurrent() {
  const bool Was = QuietUpdate;
  QuietUpdate = true;
  grdNamesClick();
  QuietUpdate = Was;
}

void TfrmMain::btnAClick(int Tag) {
  const char Letter = static_cast<char>(Tag + 64);
  const int Start = FSelectedRow == FNames->NewEntryRow() ? 1 : FSelectedRow + 1;
  int Found = FNames->FindLetter(Start, Letter);
  if (!Found) Found = FNames->FindLetter(1, Letter);
  if (!Found) return;
  SelectRow(Found, true);
  grdNamesClick();
}

void TfrmMain::edtSurnameKeyDown(int Key) {
  if (Key == Qt::Key_Down) {
    if (FSelectedRow < FNames->NewEntryRow()) {
      SelectRow(FSelectedRow + 1);
      grdNamesClick();
    }
    edtSurname->selectAll();
  } else if (Key == Qt::Key_Up) {
    if (FSelectedRow > 1) {
      SelectRow(FSelectedRow - 1);
      grdNamesClick();
    }
    edtSurname->setCursorPosition(0);
    edtSurname->deselect();
  }
}
