// The main window: modem detection, dialling options and the dial buttons.

#include "Main.h"

#include <QAction>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>

#include "Dial.h"
#include "DialNumber.h"
#include "DialRequest.h"
#include "Dialopt.h"
#include "MDetect.h"
#include "MainShared.h"
#include "ModemExchange.h"
#include "Olineopt.h"
#include "Prompter.h"
#include "TelephoneLinks.h"

using namespace MainWindow;

int TfrmMain::ModemPort() const { return ::ModemPort(); }
void TfrmMain::SetModemPort(int Port) { ::SetModemPort(Port); }

void TfrmMain::mnuODetectMODEMSClick() {
  // Forget the modem, so that every port is tested again.
  SetModemPort(-1);
  if (FModemDetect) FModemDetect->exec();
  EnableControls();
}

void TfrmMain::mnuMAutoDetModemClick(bool Checked) {
  // The tick is the action's own; commit before the toggle takes effect.
  mnuOAutoDetectMODEMS->setChecked(!Checked);
  UpdateCurrent();
  mnuOAutoDetectMODEMS->setChecked(Checked);
}

void TfrmMain::mnuODiallingClick() {
  UpdateCurrent();
  if (FDiallingOpt) FDiallingOpt->exec();
  // The extension button follows "Allow Extension Dialling" at once.
  UpdateCurrent();
}

void TfrmMain::mnuOOutsideLineClick() {
  if (FOutsideLine) FOutsideLine->exec();
}

void TfrmMain::spdbtnDialClick(QToolButton* Button) {
  if (!FDial) return;
  // The numbers as they stand in the edits, saved or not.
  TDialRequest Request;
  Request.DialName = edtFirstName->text() + QLatin1Char(' ') + edtSurname->text();
  Request.NoOutsideLine = false;
  if (tabDetails->currentIndex() == 0) {
    Request.DialLocation = QLatin1String(HomeLocation);
    Request.DialNumber = edtHomeTel->text();
  } else if (Button == spdbtnDial2) {
    Request.DialLocation = QLatin1String(BusinessLocation);
    Request.DialNumber = edtBusTel->text();
  } else if (Button == spdbtnDial3) {
    Request.DialLocation = QLatin1String(ExtensionLocation);
    Request.DialNumber = edtBusExtn->text();
    Request.NoOutsideLine = true;
  } else if (Button == spdbtnDial4) {
    Request.DialLocation = QLatin1String(MobileLocation);
    Request.DialNumber = edtMobile->text();
  } else {
    return;
  }
  ShowDialWindow(Request);
  // A failed modem reset may have cleared the modem port.
  EnableControls();
}

bool TfrmMain::CanDial() const { return ModemPort() != -1 || (FDiallingOpt && FDiallingOpt->DialWithDesktop()); }

void TfrmMain::DialThroughDesktop(const TDialRequest& Request) {
  const std::string Country = FDiallingOpt ? FDiallingOpt->Country() : DefaultCountry();
  const QString Link = Q(TelLink(ReadDialNumber(Std(Request.DialNumber), Country), Country));
  if (Link.isEmpty()) {
    Prompter().Error(this, QStringLiteral("There is no number to dial in \"%1\".").arg(Request.DialNumber));
    return;
  }
  ITelephoneLinks& Telephone = TelephoneLinks();
  if (!Telephone.Handler().isEmpty() && Telephone.Open(Link)) return;
  // Said once, with the way out: the modem, when there is one.
  const QString Missing = QStringLiteral("No application on this desktop dials telephone links (tel:).");
  if (ModemPort() == -1) {
    Prompter().Error(this, Missing + QStringLiteral(" Install one (a softphone, GNOME Calls, KDE Connect with a "
                                                    "paired phone), or detect a MODEM to dial with it instead."));
    return;
  }
  if (!Prompter().Confirm(this, Missing + QStringLiteral(" Dial with the MODEM instead?"))) return;
  FDiallingOpt->rdoDialModem->setChecked(true);
  ShowDialWindow(Request);
}
