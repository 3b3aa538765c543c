// The main window: Quick Dial and the dial pad.

#include "Main.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTabWidget>

#include "Dflttab.h"
#include "Dial.h"
#include "Dialler.h"
#include "Dialopt.h"
#include "MainShared.h"
#include "NamesModel.h"
#include "Olineopt.h"
#include "Prompter.h"
#include "Qdial.h"

using namespace MainWindow;

void TfrmMain::SetQuickDialWindow(TfrmQuickDial* Window) {
  FQuickDial = Window;
  if (FQuickDial) FQuickDial->ShowDial = [this](const TDialRequest& Request) { ShowDialWindow(Request); };
}

void TfrmMain::SetDiallerWindow(TfrmDialler* Window) {
  FDialler = Window;
  if (!FDialler) return;
  FDialler->ShowDial = [this](const TDialRequest& Request) { ShowDialWindow(Request); };
  // A desktop's telephone is no switchboard extension: no outside line to ask about.
  FDialler->OutsideLineTicked = [this] {
    return !(FDiallingOpt && FDiallingOpt->DialWithDesktop()) && FOutsideLine &&
           FOutsideLine->chkDialOutsideLine->isChecked();
  };
}

void TfrmMain::ShowDialWindow(const TDialRequest& Request) {
  if (FDiallingOpt && FDiallingOpt->DialWithDesktop()) {
    DialThroughDesktop(Request);
    return;
  }
  if (!FDial) return;
  FDial->DialName = Request.DialName;
  FDial->DialLocation = Request.DialLocation;
  FDial->DialNumber = Request.DialNumber;
  if (Request.NoOutsideLine) FDial->NoOutsideLine = *Request.NoOutsideLine;
  FDial->exec();
}

void TfrmMain::mnuAQuickDialClick() {
  UpdateCurrent();
  if (!FQuickDial || !FBook->Current) return;
  const TAddressItem& Entry = *FBook->Current;
  FQuickDial->edtHomeNo->setText(Q(Entry.HomeTelephone.str()));
  FQuickDial->edtWorkNo->setText(Q(Entry.BusTelephone.str()));
  const bool Extensions = FDiallingOpt && FDiallingOpt->chkDialExtensions->isChecked();
  FQuickDial->edtExtension->setText(Extensions ? Q(Entry.BusExtn.str()) : QString());
  FQuickDial->edtMobile->setText(Q(Entry.BusMobile.str()));
  FQuickDial->DialName = edtFirstName->text() + QLatin1Char(' ') + edtSurname->text();
  FQuickDial->TabPage = Entry.TabPage;
  bool AnyNumber = false;
  for (int Kind = 0; Kind < 4; ++Kind) AnyNumber = AnyNumber || !IsBlank(FQuickDial->Field(Kind)->text());
  if (!AnyNumber) {
    Prompter().Error(this, QStringLiteral("There are no numbers to dial for \"%1 %2\"")
                               .arg(Q(FNames->Cell(FSelectedRow, 1)), Q(FNames->Cell(FSelectedRow, 0))));
    return;
  }
  FQuickDial->exec();
  EnableControls();  // a failed modem reset forgets the modem
}

void TfrmMain::mnuFDiallerClick() {
  if (FDialler) FDialler->exec();
  EnableControls();  // a failed modem reset forgets the modem
}

void TfrmMain::mnuODefaultTabClick() {
  UpdateCurrent();
  if (!FDefaultTabDialog) return;
  if (FDefaultTabDialog->exec() == QDialog::Accepted) tabDetails->setCurrentIndex(FDefaultTabDialog->Tab());
}
