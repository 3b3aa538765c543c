#include "Dial.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTimer>

#include "DialNumber.h"
#include "Dialopt.h"
#include "MDetect.h"
#include "ModemExchange.h"
#include "Olineopt.h"
#include "Prompter.h"

namespace {

constexpr int RowsHeight = 113;  // the client area without a note
constexpr int NoteTop = 82, NoteWidth = 273;

}  // namespace

TfrmDial::TfrmDial(TfrmMODEMDetect* Modem, TfrmDiallingOpt* Options, QWidget* Parent)
    : TFixedDialog("frmDial", QStringLiteral("Dialing..."), QSize(288, RowsHeight), 60, Parent),
      FModem(Modem),
      FOptions(Options) {
  auto AddRow = [this](const QString& Caption, const char* Name, int Top, QLabel*& Label) {
    Label = new QLabel(Caption, this);
    Label->setGeometry(4, Top, 56, 21);
    Label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* Edit = new QLineEdit(this);
    Edit->setObjectName(QLatin1String(Name));
    Edit->setGeometry(64, Top, 217, 21);
    // Shows the request only: nothing typed here is ever read. Its label's
    // key reaches it, so that the text can be read out and copied.
    Edit->setReadOnly(true);
    Edit->setFocusPolicy(Qt::ClickFocus);
    Edit->setBackgroundRole(QPalette::Button);
    QPalette Colours = Edit->palette();
    Colours.setColor(QPalette::Base, Colours.color(QPalette::Button));
    Edit->setPalette(Colours);
    Label->setBuddy(Edit);  // names the edit for a screen reader
    return Edit;
  };
  edtName = AddRow(QStringLiteral("&Name :"), "edtName", 8, Label0);
  edtLocation = AddRow(QStringLiteral("&Location :"), "edtLocation", 32, Label1);
  edtNumber = AddRow(QStringLiteral("N&umber :"), "edtNumber", 56, Label2);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label2->setObjectName(QStringLiteral("Label2"));

  lblNote = new QLabel(this);
  lblNote->setObjectName(QStringLiteral("lblNote"));
  lblNote->setGeometry(8, NoteTop, NoteWidth, 0);
  lblNote->setWordWrap(true);
  lblNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lblNote->setTextFormat(Qt::PlainText);
  lblNote->hide();

  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(106, 84, 75, 25);
  btnOK->setDefault(true);  // and the cancel button: Escape presses it too (reject)
  connect(btnOK, &QPushButton::clicked, this, &TfrmDial::btnOKClick);

  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(btnOK->geometry());
  btnCancel->setAutoDefault(false);  // Enter must not end a call being dialled: Escape does
  btnCancel->hide();
  connect(btnCancel, &QPushButton::clicked, this, &TfrmDial::btnOKClick);
}

void TfrmDial::showEvent(QShowEvent* Event) {
  if (!Event->spontaneous()) {
    // FormShow: the number as it will be dialled, so that a wrong one is seen
    // before it rings, and below it what is not dialled.
    const bool Extensions = FOptions && FOptions->chkDialExtensions->isChecked();
    const TDialNumber Number =
        ReadDialNumber(DialNumber.toStdString(), FOptions ? FOptions->Country() : DefaultCountry());
    const bool OutsideLine = !NoOutsideLine && FOutsideLine && FOutsideLine->chkDialOutsideLine->isChecked();
    FDialString = BuildDialString(DialDigits(Number, Extensions), OutsideLine,
                                  OutsideLine ? FOutsideLine->edtOutsideLineDigit->text().toStdString() : std::string(),
                                  OutsideLine ? FOutsideLine->edtPauseChar->text().toStdString() : std::string());
    edtName->setText(DialName);
    edtLocation->setText(DialLocation);
    edtNumber->setText(QString::fromStdString(FDialString));
    edtNumber->setCursorPosition(0);
    const QString Note = QString::fromStdString(DialNote(Number, Extensions));
    lblNote->setText(Note);
    lblNote->setVisible(!Note.isEmpty());
    // The window grows by the lines the note takes.
    const int NoteHeight = Note.isEmpty() ? 0 : lblNote->heightForWidth(NoteWidth);
    lblNote->resize(NoteWidth, NoteHeight);
    const int Extra = Note.isEmpty() ? 0 : NoteHeight + 6;
    btnOK->move(106, 84 + Extra);
    btnCancel->move(btnOK->pos());
    setFixedSize(288, RowsHeight + Extra);
    FDialled = false;
    btnOK->setEnabled(false);
    btnOK->setFocus();
    // Where no window manager activates the window, the sequence starts all the same.
    QTimer::singleShot(0, this, [this] {
      if (isVisible()) FormActivate();
    });
  }
  TFixedDialog::showEvent(Event);
}

bool TfrmDial::event(QEvent* Event) {
  const bool Result = TFixedDialog::event(Event);
  if (Event->type() == QEvent::WindowActivate && isVisible()) FormActivate();
  return Result;
}

TCommandFailure TfrmDial::Command(const std::string& Text, std::string* Reply) {
  std::string Answer;
  FModem->SendModemCommand(ModemPort(), Text, Answer);
  FModem->Exchange.WaitWhileBusy();
  if (Reply) *Reply = Answer;
  return FModem->Exchange.CommandFailure;
}

void TfrmDial::SetDialling(bool On) {
  FDialling = On;
  btnOK->setVisible(!On);
  btnCancel->setVisible(On);
  btnCancel->setEnabled(On);
  if (On) btnCancel->setFocus();
}

bool TfrmDial::ReportPortProblem(TCommandFailure Failure) {
  if (Failure != cfPortUnavailable && Failure != cfPortLost) return false;
  Prompter().Error(this, QString::fromStdString(PortProblemText(ModemPort(), FModem->Exchange.PortError)));
  return true;
}

void TfrmDial::FormActivate() {
  if (FDialled) return;
  FDialled = true;
  FCancelRequested = false;
  btnOK->setEnabled(false);
  SetDialling(true);
  const bool Silent = FOptions && FOptions->chkDialSilently->isChecked();
  // The speaker, within the time limit the previous exchange left. Its answer
  // is not read: a modem that refuses it may still dial.
  TCommandFailure Failure = Command(Silent ? "M0" : "M1");
  const std::string& DialString = FDialString;  // built as the window was shown
  std::string Result;
  if (Failure == cfNone && !FCancelRequested) {
    const bool Tone = !FOptions || FOptions->rdoToneDial->isChecked();
    FModem->Exchange.CommandTimeout = DialCommandTimeout(Tone, DialString);
    Failure = Command(DialCommand(Tone, DialString), &Result);
  }
  SetDialling(false);
  if (FCancelRequested || Failure == cfCancelled) {
    btnOK->setEnabled(true);
    btnOKClick();
    return;
  }
  // A port that cannot be used, and a dial the line or the modem turned down,
  // leave nothing to talk on: the person is told why and the modem hung up.
  const bool PortProblem = ReportPortProblem(Failure);
  const QString Refused = Failure == cfNone ? QString::fromStdString(DialResultText(Result, DialString)) : QString();
  if (!Refused.isEmpty()) Prompter().Error(this, Refused);
  if (PortProblem || !Refused.isEmpty()) {
    btnOK->setEnabled(true);
    btnOKClick();
    return;
  }
  if (Failure == cfNoAnswer) ModemResponseError();
  btnOK->setEnabled(true);
  btnOK->setFocus();
}

void TfrmDial::ModemResponseError() {
  Prompter().Error(this, QStringLiteral("Your MODEM has failed to respond to a command. A reset will be attempted..."));
  FModem->Exchange.CommandTimeout = ResetTimeoutMs;
  Command("H");
  const TCommandFailure Reset = Command("Z");
  // A port gone or taken meanwhile says nothing about the modem: it is kept.
  if (ReportPortProblem(Reset)) return;
  if (Reset != cfNone) {
    Prompter().Error(this, QStringLiteral("Your MODEM could not be reset and it will have to be re-detected "
                                          "before you can use it again."));
    SetModemPort(-1);
  } else {
    Prompter().Error(this, QStringLiteral("Your MODEM has reset successfully.  Please try the dial operation again."));
  }
}

void TfrmDial::btnOKClick() {
  if (FDialling) {
    // Cancel: the exchange ends at once and the sequence hangs up.
    FCancelRequested = true;
    btnCancel->setEnabled(false);
    FModem->Exchange.Cancel();
    return;
  }
  if (!btnOK->isEnabled()) return;
  btnOK->setEnabled(false);
  if (ModemPort() != -1) {
    Command("H");
    Command("Z");
  }
  btnOK->setEnabled(true);
  done(QDialog::Accepted);
}

bool TfrmDial::FormCloseQuery() const { return btnOK->isEnabled() || (FDialling && btnCancel->isEnabled()); }

void TfrmDial::reject() {
  // Escape presses OK, or Cancel while dialling; nothing while the modem is reset.
  if (FormCloseQuery()) btnOKClick();
}

void TfrmDial::closeEvent(QCloseEvent* Event) {
  // The close goes through OK, which hangs up once and hides the window.
  Event->ignore();
  if (FormCloseQuery()) btnOKClick();
}
