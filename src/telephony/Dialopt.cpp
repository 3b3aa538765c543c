#include "Dialopt.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "IniFile.h"
#include "Settings.h"
#include "GroupFrame.h"

TfrmDiallingOpt::TfrmDiallingOpt(QWidget* Parent)
    : TFixedDialog("frmDiallingOpt", QStringLiteral("Dialling Options"), QSize(313, 129), 67, Parent) {
  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 4, 217, 117);
  GroupBox2 = new TGroupFrame(QStringLiteral("Dialing Type"), GroupBox1);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  GroupBox2->setGeometry(8, 8, 201, 49);
  rdoToneDial = new QRadioButton(QStringLiteral("Tone Dialling"), GroupBox2);
  rdoToneDial->setObjectName(QStringLiteral("rdoToneDial"));
  rdoToneDial->setGeometry(8, 20, 92, 20);
  rdoPulseDial = new QRadioButton(QStringLiteral("Pulse Dialling"), GroupBox2);
  rdoPulseDial->setObjectName(QStringLiteral("rdoPulseDial"));
  rdoPulseDial->setGeometry(104, 20, 94, 20);
  chkDialExtensions = new QCheckBox(QStringLiteral("Allow Extension Dialling"), GroupBox1);
  chkDialExtensions->setObjectName(QStringLiteral("chkDialExtensions"));
  chkDialExtensions->setGeometry(16, 64, 190, 20);
  chkDialSilently = new QCheckBox(QStringLiteral("Dial Silently"), GroupBox1);
  chkDialSilently->setObjectName(QStringLiteral("chkDialSilently"));
  chkDialSilently->setGeometry(16, 88, 190, 20);

  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(232, 10, 75, 25);
  btnOK->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(232, 42, 75, 25);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmDiallingOpt::btnCancelClick);

  // FormCreate
  const auto Settings = OpenSettings();
  (Settings->ReadBool("MODEM", "ToneDial", true) ? rdoToneDial : rdoPulseDial)->setChecked(true);
  chkDialExtensions->setChecked(Settings->ReadBool("MODEM", "DialExt", false));
  chkDialSilently->setChecked(Settings->ReadBool("MODEM", "SilentDial", false));
}

TfrmDiallingOpt::~TfrmDiallingOpt() {
  // FormDestroy: the options of this run reach the settings only now.
  const auto Settings = OpenSettings();
  Settings->WriteBool("MODEM", "ToneDial", rdoToneDial->isChecked());
  Settings->WriteBool("MODEM", "DialExt", chkDialExtensions->isChecked());
  Settings->WriteBool("MODEM", "SilentDial", chkDialSilently->isChecked());
}

void TfrmDiallingOpt::showEvent(QShowEvent* Event) {
  FTone = rdoToneDial->isChecked();
  FExtensions = chkDialExtensions->isChecked();
  FSilent = chkDialSilently->isChecked();
  // Space on the radio button that is not chosen would change the choice unseen.
  (FTone ? rdoToneDial : rdoPulseDial)->setFocus();
  TFixedDialog::showEvent(Event);
}

void TfrmDiallingOpt::btnCancelClick() {
  (FTone ? rdoToneDial : rdoPulseDial)->setChecked(true);
  chkDialExtensions->setChecked(FExtensions);
  chkDialSilently->setChecked(FSilent);
  done(QDialog::Rejected);
}

void TfrmDiallingOpt::reject() {
  if (FClosing) TFixedDialog::reject();
  else btnCancelClick();
}

void TfrmDiallingOpt::closeEvent(QCloseEvent* Event) {
  FClosing = true;
  TFixedDialog::closeEvent(Event);
  FClosing = false;
}
