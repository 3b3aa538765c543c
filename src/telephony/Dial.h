#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "FixedDialog.h"
#include "ModemExchange.h"

class QLabel;
class QLineEdit;
class QPushButton;
class TfrmDiallingOpt;
class TfrmMODEMDetect;
class TfrmOutsideLine;

// Dials one number as a voice call: sets the modem's speaker, dials with a
// command ending in ";" so the modem returns to command mode, and waits while
// the user talks on the handset; OK hangs the modem up and resets it. While
// the modem dials, Cancel (Escape, the close box) hangs up at once. A dial
// answered BUSY, NO DIALTONE, NO ANSWER, NO CARRIER or ERROR, and a port that
// cannot be used, are told in a box; then the modem is hung up as after OK.
//
// To dial, fill the request and show the window modally:
//
//   Dial.DialName = "Ann Adams";                     // shown as is; empty for the dial pad
//   Dial.DialLocation = "Home Telephone Number";     // or "Business Telephone Number",
//                                                    // "Internal Extension", "Mobile Telephone",
//                                                    // "Direct Dialing"
//   Dial.DialNumber = "+44 1234 567890 ext. 12";     // as stored or typed (see DialNumber.h)
//   Dial.NoOutsideLine = false;                      // true: never the outside-line prefix
//   Dial.exec();                                     // the result means nothing
//
// NoOutsideLine keeps its value until a caller sets it again. Afterwards the
// caller applies its own enabling rule: a failed modem reset sets ModemPort()
// to -1, which disables every dial command.
class TfrmDial : public TFixedDialog {
  Q_OBJECT
public:
  // The modem detection window owns the port and its command exchange; the
  // option windows hold the dialling options. The outside-line window is
  // created later than this one: see SetOutsideLine.
  TfrmDial(TfrmMODEMDetect* Modem, TfrmDiallingOpt* Options, QWidget* Parent = nullptr);

  void SetOutsideLine(TfrmOutsideLine* Window) { FOutsideLine = Window; }

  // The dial request.
  QString DialName;
  QString DialLocation;
  QString DialNumber;
  bool NoOutsideLine = false;

  QLabel* Label0 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* edtName = nullptr;
  QLineEdit* edtLocation = nullptr;
  QLineEdit* edtNumber = nullptr;  // the dial string, outside line and all
  // What is not dialled, shown under the number; hidden when nothing.
  QLabel* lblNote = nullptr;
  QPushButton* btnOK = nullptr;
  // In OK's place while the speaker and dial commands run.
  QPushButton* btnCancel = nullptr;

  // The time limit of the hang-up and reset after a command went unanswered.
  int32_t ResetTimeoutMs = 5000;

  // The dialling sequence; once per showing.
  void FormActivate();
  void btnOKClick();
  bool FormCloseQuery() const;
  void ModemResponseError();
  bool Dialled() const { return FDialled; }
  // The dial string: outside line, number, extension.
  const std::string& DialString() const { return FDialString; }

  void reject() override;

protected:
  bool event(QEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

private:
  // Sends one command and waits for its exchange to end; cfNone when it was answered.
  TCommandFailure Command(const std::string& Text, std::string* Reply = nullptr);
  // Swaps Cancel in for OK while the dialling commands run.
  void SetDialling(bool On);
  // Tells why the port could not be used; true when that was the failure.
  bool ReportPortProblem(TCommandFailure Failure);

  TfrmMODEMDetect* FModem;
  TfrmDiallingOpt* FOptions;
  TfrmOutsideLine* FOutsideLine = nullptr;
  std::string FDialString;
  bool FDialled = false;
  bool FDialling = false;
  bool FCancelRequested = false;
};
