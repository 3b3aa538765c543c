#include "Olineopt.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <stdexcept>

#include "Blank.h"
#include "IniFile.h"
#include "Settings.h"
#include "GroupFrame.h"

namespace {

// A carriage return or the end-of-file mark cannot stand in a settings line.
std::string Storable(const QString& Text) {
  std::string Value = Text.toStdString();
  std::erase_if(Value, [](char C) { return C == '\r' || C == '\n' || C == '\x1a'; });
  return Value;
}

}  // namespace

TfrmOutsideLine::TfrmOutsideLine(QWidget* Parent)
    : TOptionsDialog("frmOutsideLine", QStringLiteral("Outside Line"), QSize(314, 108), 59, Parent) {
  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 8, 217, 92);
  Label1 = new QLabel(QStringLiteral("&Number :"), GroupBox1);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(8, 24, 72, 21);
  Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edtOutsideLineDigit = new QLineEdit(GroupBox1);
  edtOutsideLineDigit->setObjectName(QStringLiteral("edtOutsideLineDigit"));
  edtOutsideLineDigit->setGeometry(86, 24, 121, 21);
  Label2 = new QLabel(QStringLiteral("&Pause Char. :"), GroupBox1);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(8, 56, 72, 21);
  Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edtPauseChar = new QLineEdit(GroupBox1);
  edtPauseChar->setObjectName(QStringLiteral("edtPauseChar"));
  edtPauseChar->setGeometry(86, 56, 121, 21);
  Label1->setBuddy(edtOutsideLineDigit);
  Label2->setBuddy(edtPauseChar);

  // Over the frame's top edge, so that it reads as the group's title.
  chkDialOutsideLine = new QCheckBox(QStringLiteral("&Dial for an Outside Line"), this);
  chkDialOutsideLine->setObjectName(QStringLiteral("chkDialOutsideLine"));
  chkDialOutsideLine->setGeometry(16, 0, chkDialOutsideLine->sizeHint().width() + 4, 17);
  chkDialOutsideLine->setAutoFillBackground(true);
  chkDialOutsideLine->raise();

  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(232, 12, 75, 25);
  btnOK->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(232, 44, 75, 25);
  setTabOrder(chkDialOutsideLine, edtOutsideLineDigit);
  setTabOrder(edtOutsideLineDigit, edtPauseChar);
  setTabOrder(edtPauseChar, btnOK);
  setTabOrder(btnOK, btnCancel);

  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmOutsideLine::btnCancelClick);
  connect(chkDialOutsideLine, &QCheckBox::toggled, this, &TfrmOutsideLine::EnableControls);  // chkDialOutsideLineClick
  connect(edtOutsideLineDigit, &QLineEdit::textChanged, this,
          &TfrmOutsideLine::EnableControls);  // edtOutsideLineDigitChange
  connect(edtPauseChar, &QLineEdit::textChanged, this, &TfrmOutsideLine::EnableControls);

  // FormCreate
  const auto Settings = OpenSettings();
  chkDialOutsideLine->setChecked(Settings->ReadBool("OutSideLine", "DialForFirst", false));
  edtOutsideLineDigit->setText(QString::fromStdString(Settings->ReadString("OutSideLine", "DialThisFor", "")));
  edtPauseChar->setText(QString::fromStdString(Settings->ReadString("OutSideLine", "PauseChar", "W")));
  EnableControls();
}

TfrmOutsideLine::~TfrmOutsideLine() {
  // FormDestroy: the texts as typed, spaces and all.
  const auto Settings = OpenSettings();
  Settings->WriteBool("OutSideLine", "DialForFirst", chkDialOutsideLine->isChecked());
  Settings->WriteString("OutSideLine", "DialThisFor", Storable(edtOutsideLineDigit->text()));
  Settings->WriteString("OutSideLine", "PauseChar", Storable(edtPauseChar->text()));
}

void TfrmOutsideLine::EnableControls() {
  const bool On = chkDialOutsideLine->isChecked();
  for (QWidget* Control : {static_cast<QWidget*>(edtOutsideLineDigit), static_cast<QWidget*>(edtPauseChar),
                           static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2)})
    Control->setEnabled(On);
  btnOK->setEnabled(!On || (!IsBlank(edtOutsideLineDigit->text()) && !IsBlank(edtPauseChar->text())));
}

void TfrmOutsideLine::showEvent(QShowEvent* Event) {
  EnableControls();
  TOptionsDialog::showEvent(Event);
}
