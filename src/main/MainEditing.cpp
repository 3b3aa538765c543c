// The main window: editing entries in place.

#include "Main.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>

#include "Dialler.h"
#include "Dialopt.h"
#include "MainShared.h"
#include "NameOrder.h"
#include "NamesModel.h"
#include "Prompter.h"

using namespace MainWindow;

void TfrmMain::edtSurnameChange() {
  FBook->CurrentChanged = true;
  EnableControls();
}

void TfrmMain::EnableControls() {
  const bool EntryRow = !FNames->Cell(FSelectedRow, 0).empty();
  const bool Modem = CanDial();
  mnuADelete->setEnabled(EntryRow);
  mnuAQuickDial->setEnabled(EntryRow && Modem);
  mnuFDialler->setEnabled(Modem);
  spdbtnDial1->setEnabled(!IsBlank(edtHomeTel->text()) && Modem);
  spdbtnDial2->setEnabled(!IsBlank(edtBusTel->text()) && Modem);
  spdbtnDial3->setEnabled(!IsBlank(edtBusExtn->text()) && Modem && FDiallingOpt &&
                          FDiallingOpt->chkDialExtensions->isChecked());
  spdbtnDial4->setEnabled(!IsBlank(edtMobile->text()) && Modem);
  mnuHContents->setEnabled(!FHelpFile.isEmpty());
  mnuFPrint->setEnabled(FBook->Items->Count > 0);
}

bool TfrmMain::IsDetailControl(QWidget* Widget) const {
  return Widget == edtFirstName || Widget == edtHomeTel || Widget == memHomeAddress || Widget == edtBusTel ||
         Widget == edtBusExtn || Widget == edtMobile || Widget == edtBusFax || Widget == memBusAddress ||
         Widget == memNotes || Widget == tabDetails || (Widget && Widget->parentWidget() == tabDetails);
}

void TfrmMain::SetFocusQuietly(QWidget* Target) {
  FIgnoreFocus = true;
  Target->setFocus();
  FIgnoreFocus = false;
}

void TfrmMain::OnFocusChanged(QWidget* Old, QWidget* Now) {
  // Only a move between two controls of this window counts; a box or another
  // window taking the focus leaves the controls' handlers alone.
  if (FIgnoreFocus || !Old || !Now || Old->window() != this || Now->window() != this) return;
  if (qobject_cast<QMenuBar*>(Now) || qobject_cast<QMenuBar*>(Old)) return;  // menus take no focus here
  if (Old == edtSurname) edtSurnameExit(Now);
  else if (Old == edtFirstName) edtFirstNameExit();
  if (Now == edtSurname || IsDetailControl(Now)) EnableControls();  // the enter handlers
}

// The index row holds a name as it was when its box was filled or last left:
// a name the user did not change is kept as stored, tidy or not.
QString TfrmMain::TidyName(const QLineEdit* Edit, int Column, int Row) const {
  const QString Text = Edit->text();
  if (FNames->Item(Row) && Std(Text) == FNames->Cell(Row, Column)) return Text;
  return Q(CapitaliseWords(Std(Text), TNameOrder::Current().Turkic()));
}

// A commit tidies the names as leaving their boxes does, whichever command
// runs it: Find or Print may take the focus straight from a name box.
void TfrmMain::TidyNameEdits(int Row) {
  for (QLineEdit* Edit : {edtSurname, edtFirstName}) {
    const QString Tidy = TidyName(Edit, Edit == edtSurname ? 0 : 1, Row);
    if (Tidy != Edit->text()) Edit->setText(Tidy);
  }
}

void TfrmMain::edtSurnameExit(QWidget* Receiver) {
  const QString Tidy = TidyName(edtSurname, 0, FSelectedRow);
  if (Tidy != edtSurname->text()) edtSurname->setText(Tidy);
  const std::string Cell(FNames->Cell(FSelectedRow, 0));
  if (!Cell.empty()) {
    if (!IsBlank(Tidy)) FNames->SetCell(FSelectedRow, 0, Std(Tidy));
    else edtSurname->setText(Q(Cell));
    return;
  }
  if (!IsBlank(Tidy)) {
    const std::string Surname = Std(Tidy);
    UpdateCurrent();
    SelectRow(FNames->FindSurname(Surname));
    grdNamesClick();
    QMetaObject::invokeMethod(this, &TfrmMain::FocusFirstName, Qt::QueuedConnection);
    return;
  }
  const bool Escape = Receiver == grdNames || grdNames->isAncestorOf(Receiver) ||
                      std::find(btnLetters.begin(), btnLetters.end(), Receiver) != btnLetters.end();
  if (Escape || QuietUpdate) return;
  Prompter().Error(this, QString::fromLatin1(BlankSurnameText));
  SetFocusQuietly(edtSurname);
}

void TfrmMain::FocusFirstName() { edtFirstName->setFocus(); }

void TfrmMain::edtFirstNameExit() {
  const QString Tidy = TidyName(edtFirstName, 1, FSelectedRow);
  if (Tidy != edtFirstName->text()) edtFirstName->setText(Tidy);
  if (!FNames->Cell(FSelectedRow, 0).empty()) {
    FNames->SetCell(FSelectedRow, 1, Std(Tidy));
    return;
  }
  const std::string Surname = Std(edtSurname->text());
  grdNamesClick();
  SelectRow(FNames->FindSurname(Surname));
  grdNamesClick();
}

void TfrmMain::mnuAAddClick() {
  UpdateCurrent();
  SelectRow(FNames->NewEntryRow());
  grdNamesClick();
}

void TfrmMain::mnuADeleteClick() {
  UpdateCurrent();
  const int Row = FSelectedRow;
  const QString Text = QStringLiteral("Are you sure you want to delete \"") + Q(FNames->Cell(Row, 1)) +
                       QLatin1Char(' ') + Q(FNames->Cell(Row, 0)) + QStringLiteral("\"?");
  if (Prompter().Question(this, Text) != EAnswer::Yes) return;
  TAddressItem* Current = FBook->Current;
  if (!Current) return;
  FBook->Current = nullptr;
  FSearch.EntryRemoved(Current);
  FBook->Items->Delete(Current);
  FBook->Modified = true;
  BuildNamesList();
  SelectRow(Row <= 2 ? 1 : Row - 1);
  grdNamesClick();
}

void TfrmMain::mnuECutClick() {
  QWidget* Focused = focusWidget();
  if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) {
    QApplication::clipboard()->setText(Edit->selectedText());
    if (Edit->hasSelectedText()) Edit->insert(QString());
  } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) {
    Memo->cut();
  } else {
    return;
  }
  UpdateCurrent();
}

void TfrmMain::mnuECopyClick() {
  QWidget* Focused = focusWidget();
  if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) {
    QApplication::clipboard()->setText(Edit->selectedText());
  } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) {
    Memo->copy();
  } else {
    return;
  }
  UpdateCurrent();
}

void TfrmMain::mnuEPasteClick() {
  QWidget* Focused = focusWidget();
  if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) {
    Edit->insert(QApplication::clipboard()->text());
  } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) {
    Memo->paste();
  } else {
    return;
  }
  UpdateCurrent();
}

void TfrmMain::mnuEDeleteClick() {
  QWidget* Focused = focusWidget();
  if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) {
    if (Edit->hasSelectedText()) Edit->insert(QString());
  } else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) {
    Memo->textCursor().removeSelectedText();
  } else {
    return;
  }
  UpdateCurrent();
}

void TfrmMain::SelectAll1Click() {
  UpdateCurrent();
  QWidget* Focused = focusWidget();
  if (auto* Edit = qobject_cast<QLineEdit*>(Focused)) Edit->setSelection(0, 32767);
  else if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focused)) Memo->selectAll();
}
