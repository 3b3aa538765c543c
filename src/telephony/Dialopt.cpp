#include "Dialopt.h"

#include <QCheckBox>
#include <QCollator>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include <algorithm>

#include "DialNumber.h"
#include "GroupFrame.h"
#include "IniFile.h"
#include "Settings.h"

namespace {

// Every country by its name, with its calling code: "United Kingdom (+44)".
void FillCountries(QComboBox* List) {
  std::vector<std::pair<QString, QString>> Countries;  // name, code
  for (const std::string& Code : DiallingCountries()) {
    const QString Iso = QString::fromStdString(Code);
    const QLocale::Territory Territory = QLocale::codeToTerritory(Iso);
    const QString Name = Territory == QLocale::AnyTerritory ? Iso : QLocale::territoryToString(Territory);
    Countries.emplace_back(QStringLiteral("%1 (+%2)").arg(Name).arg(CallingCode(Code)), Iso);
  }
  QCollator Order{QLocale(QLocale::English)};
  std::sort(Countries.begin(), Countries.end(),
            [&Order](const auto& A, const auto& B) { return Order.compare(A.first, B.first) < 0; });
  for (const auto& [Text, Code] : Countries) List->addItem(Text, Code);
}

}  // namespace

TfrmDiallingOpt::TfrmDiallingOpt(QWidget* Parent)
    : TOptionsDialog("frmDiallingOpt", QStringLiteral("Dialling Options"), QSize(388, 230), 67, Parent) {
  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 4, 289, 218);

  GroupBox2 = new TGroupFrame(QStringLiteral("Dialing Type"), GroupBox1);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  GroupBox2->setGeometry(8, 8, 273, 49);
  rdoToneDial = new QRadioButton(QStringLiteral("&Tone Dialling"), GroupBox2);
  rdoToneDial->setObjectName(QStringLiteral("rdoToneDial"));
  rdoToneDial->setGeometry(8, 20, 124, 20);
  rdoPulseDial = new QRadioButton(QStringLiteral("&Pulse Dialling"), GroupBox2);
  rdoPulseDial->setObjectName(QStringLiteral("rdoPulseDial"));
  rdoPulseDial->setGeometry(136, 20, 130, 20);
  chkDialExtensions = new QCheckBox(QStringLiteral("Allow &Extension Dialling"), GroupBox1);
  chkDialExtensions->setObjectName(QStringLiteral("chkDialExtensions"));
  chkDialExtensions->setGeometry(16, 62, 257, 20);
  chkDialSilently = new QCheckBox(QStringLiteral("Dial &Silently"), GroupBox1);
  chkDialSilently->setObjectName(QStringLiteral("chkDialSilently"));
  chkDialSilently->setGeometry(16, 86, 257, 20);

  GroupBox3 = new TGroupFrame(QStringLiteral("Dial with:"), GroupBox1);
  GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
  GroupBox3->setGeometry(8, 110, 273, 66);
  rdoDialModem = new QRadioButton(QStringLiteral("the &MODEM"), GroupBox3);
  rdoDialModem->setObjectName(QStringLiteral("rdoDialModem"));
  rdoDialModem->setGeometry(8, 20, 257, 20);
  rdoDialDesktop = new QRadioButton(QStringLiteral("this &desktop's telephone application"), GroupBox3);
  rdoDialDesktop->setObjectName(QStringLiteral("rdoDialDesktop"));
  rdoDialDesktop->setGeometry(8, 40, 257, 20);

  lblCountry = new QLabel(QStringLiteral("Calling &from:"), GroupBox1);
  lblCountry->setObjectName(QStringLiteral("lblCountry"));
  lblCountry->setGeometry(16, 186, 80, 22);
  cboCountry = new QComboBox(GroupBox1);
  cboCountry->setObjectName(QStringLiteral("cboCountry"));
  cboCountry->setGeometry(100, 186, 181, 22);
  lblCountry->setBuddy(cboCountry);  // names the list for a screen reader
  FillCountries(cboCountry);

  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(305, 10, 75, 25);
  btnOK->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(305, 42, 75, 25);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmDiallingOpt::btnCancelClick);
  connect(rdoDialModem, &QRadioButton::toggled, this, &TfrmDiallingOpt::EnableControls);

  // FormCreate
  const auto Settings = OpenSettings();
  (Settings->ReadInteger("MODEM", "DialWith", 0) == 1 ? rdoDialDesktop : rdoDialModem)->setChecked(true);
  (Settings->ReadBool("MODEM", "ToneDial", true) ? rdoToneDial : rdoPulseDial)->setChecked(true);
  chkDialExtensions->setChecked(Settings->ReadBool("MODEM", "DialExt", false));
  chkDialSilently->setChecked(Settings->ReadBool("MODEM", "SilentDial", false));
  std::string Code = Settings->ReadString("Location", "Country", "");
  std::transform(Code.begin(), Code.end(), Code.begin(),
                 [](char C) { return C >= 'a' && C <= 'z' ? char(C - 32) : C; });
  SetCountry(IsDiallingCountry(Code) ? Code : DefaultCountry());
  EnableControls();
}

TfrmDiallingOpt::~TfrmDiallingOpt() {
  // FormDestroy: the options of this run reach the settings only now.
  const auto Settings = OpenSettings();
  Settings->WriteInteger("MODEM", "DialWith", DialWithDesktop() ? 1 : 0);
  Settings->WriteBool("MODEM", "ToneDial", rdoToneDial->isChecked());
  Settings->WriteBool("MODEM", "DialExt", chkDialExtensions->isChecked());
  Settings->WriteBool("MODEM", "SilentDial", chkDialSilently->isChecked());
  Settings->WriteString("Location", "Country", Country());
}

void TfrmDiallingOpt::EnableControls() {
  const bool Modem = rdoDialModem->isChecked();
  GroupBox2->setEnabled(Modem);
  chkDialSilently->setEnabled(Modem);
}

bool TfrmDiallingOpt::DialWithDesktop() const { return rdoDialDesktop->isChecked(); }

std::string TfrmDiallingOpt::Country() const { return cboCountry->currentData().toString().toStdString(); }

void TfrmDiallingOpt::SetCountry(const std::string& Code) {
  const int Index = cboCountry->findData(QString::fromStdString(Code));
  if (Index >= 0) cboCountry->setCurrentIndex(Index);
}

void TfrmDiallingOpt::showEvent(QShowEvent* Event) {
  // Space on the radio button that is not chosen would change the choice unseen.
  if (DialWithDesktop()) rdoDialDesktop->setFocus();
  else (rdoToneDial->isChecked() ? rdoToneDial : rdoPulseDial)->setFocus();
  EnableControls();
  TOptionsDialog::showEvent(Event);
}
