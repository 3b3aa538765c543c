#include "Find.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <limits>

#include "HelpService.h"
#include "IniFile.h"
#include "ProgramPaths.h"
#include "Prompter.h"
#include "GroupFrame.h"

const char* const NoSearchTextText = "You have not entered a text to search for.";
const char* const NoWhereText = "You have not specified where to search.";
const char* const NoNamesText =
    "You have selected to search the names but have not specified which name(s) to look at.";
const char* const NoNumbersText =
    "You have selected to search numbers but have not specified which number(s) to look at.";
const char* const NoAddressesText =
    "You have selected to search addresses but have not specified which address(es) to look at.";

namespace {

constexpr int FindHelpContext = 24;  // the topic of Edit > Find, which describes this window

QCheckBox* AddBox(QWidget* Parent, const char* Name, const QString& Caption, int Left, int Top, int Width) {
  auto* Box = new QCheckBox(Caption, Parent);
  Box->setObjectName(QLatin1String(Name));
  Box->setGeometry(Left, Top, Width, 19);
  return Box;
}

// A frame headed by its own check box, the box standing on the frame's top line.
QGroupBox* AddHeadedFrame(QWidget* Parent, const QRect& Place, QCheckBox*& Header, const char* Name,
                          const QString& Caption) {
  auto* Frame = new QGroupBox(Parent);
  Frame->setGeometry(Place);
  Header = new QCheckBox(Caption, Parent);
  Header->setObjectName(QLatin1String(Name));
  Header->setAutoFillBackground(true);
  Header->adjustSize();
  Header->setGeometry(Place.left() + 6, Place.top() - 9, Header->width() + 2, 19);
  Header->raise();
  return Frame;
}

}  // namespace

TfrmFind::TfrmFind(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("frmFind"));
  setWindowTitle(QStringLiteral("Find..."));
  QFont Font = QApplication::font();
  Font.setPointSize(8);
  setFont(Font);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(436, 272);
  setProperty("HelpContext", FindHelpContext);

  grpWhat = new TGroupFrame(QStringLiteral(" What? "), this);
  grpWhat->setGeometry(8, 4, 336, 48);
  cboSearchString = new QLineEdit(grpWhat);
  cboSearchString->setObjectName(QStringLiteral("cboSearchString"));
  cboSearchString->setGeometry(10, 18, 316, 21);
  cboSearchString->setMaxLength(std::numeric_limits<int>::max());
  cboSearchString->setAccessibleName(QStringLiteral("Find what"));

  grpHow = new TGroupFrame(QStringLiteral(" How? "), this);
  grpHow->setGeometry(8, 56, 336, 42);
  chkMatchCase = AddBox(grpHow, "chkMatchCase", QStringLiteral("&Case Sensitive"), 10, 17, 150);
  chkWholeWords = AddBox(grpHow, "chkWholeWords", QStringLiteral("Whole &Words Only"), 170, 17, 156);

  grpWhere = new TGroupFrame(QStringLiteral(" Where? "), this);
  grpWhere->setGeometry(8, 102, 336, 162);
  chkAnyField = AddBox(grpWhere, "chkAnyField", QStringLiteral("&Anywhere"), 10, 17, 150);
  chkNotes = AddBox(grpWhere, "chkNotes", QStringLiteral("No&tes"), 170, 17, 150);
  QGroupBox* Names = AddHeadedFrame(grpWhere, QRect(8, 50, 100, 104), chkNames, "chkNames", QStringLiteral("&Names"));
  chkSurname = AddBox(Names, "chkSurname", QStringLiteral("&Surname"), 8, 16, 88);
  chkFirstName = AddBox(Names, "chkFirstName", QStringLiteral("&First Name"), 8, 34, 88);
  QGroupBox* Numbers =
      AddHeadedFrame(grpWhere, QRect(116, 50, 104, 104), chkNumbers, "chkNumbers", QStringLiteral("N&umbers"));
  chkHomeNo = AddBox(Numbers, "chkHomeNo", QStringLiteral("&Home"), 8, 16, 92);
  chkWorkNo = AddBox(Numbers, "chkWorkNo", QStringLiteral("Wor&k"), 8, 33, 92);
  chkMobileNo = AddBox(Numbers, "chkMobileNo", QStringLiteral("&Mobile"), 8, 50, 92);
  chkFaxNo = AddBox(Numbers, "chkFaxNo", QStringLiteral("Facs&imile"), 8, 67, 92);
  chkExtension = AddBox(Numbers, "chkExtension", QStringLiteral("&Extension"), 8, 84, 92);
  QGroupBox* Addresses =
      AddHeadedFrame(grpWhere, QRect(228, 50, 100, 104), chkAddresses, "chkAddresses", QStringLiteral("A&ddresses"));
  chkHomeAddress = AddBox(Addresses, "chkHomeAddress", QStringLiteral("H&ome"), 8, 16, 88);
  chkWorkAddress = AddBox(Addresses, "chkWorkAddress", QStringLiteral("Wo&rk"), 8, 34, 88);

  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(353, 10, 75, 25);
  btnOK->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(353, 41, 75, 25);

  QWidget* Previous = cboSearchString;
  for (QWidget* Next :
       std::initializer_list<QWidget*>{chkMatchCase, chkWholeWords, chkAnyField, chkNotes, chkNames, chkSurname,
                                       chkFirstName, chkNumbers, chkHomeNo, chkWorkNo, chkMobileNo, chkFaxNo,
                                       chkExtension, chkAddresses, chkHomeAddress, chkWorkAddress, btnOK, btnCancel}) {
    setTabOrder(Previous, Next);
    Previous = Next;
  }

  // chkAnyFieldClick: every box runs the one enabling rule.
  for (QCheckBox* Box : findChildren<QCheckBox*>()) connect(Box, &QCheckBox::toggled, this, &TfrmFind::EnableControls);
  connect(btnOK, &QPushButton::clicked, this, &TfrmFind::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);  // btnCancelClick: nothing is restored

  chkAnyField->setChecked(true);
  EnableControls();
  if (QScreen* Screen = QGuiApplication::primaryScreen())
    move(Screen->geometry().center() - QPoint(width() / 2, height() / 2));
}

void TfrmFind::EnableControls() {
  const bool Choose = !chkAnyField->isChecked();
  for (QCheckBox* Group : {chkNotes, chkNames, chkNumbers, chkAddresses}) Group->setEnabled(Choose);
  const bool Names = Choose && chkNames->isChecked();
  const bool Numbers = Choose && chkNumbers->isChecked();
  const bool Addresses = Choose && chkAddresses->isChecked();
  for (QCheckBox* Box : {chkSurname, chkFirstName}) Box->setEnabled(Names);
  for (QCheckBox* Box : {chkHomeNo, chkWorkNo, chkMobileNo, chkFaxNo, chkExtension}) Box->setEnabled(Numbers);
  for (QCheckBox* Box : {chkHomeAddress, chkWorkAddress}) Box->setEnabled(Addresses);
}

bool TfrmFind::Refuse(const char* Text, QWidget* Focus) {
  Prompter().Error(this, QString::fromLatin1(Text));
  Focus->setFocus();
  return false;
}

bool TfrmFind::ValidSearch() {
  if (TrimSpaces(SearchText()).empty()) return Refuse(NoSearchTextText, cboSearchString);
  if (!chkAnyField->isChecked() && !chkNotes->isChecked() && !chkNames->isChecked() && !chkNumbers->isChecked() &&
      !chkAddresses->isChecked())
    return Refuse(NoWhereText, chkAnyField);
  auto Chosen = [this](QCheckBox* Group) { return Group->isEnabledTo(this) && Group->isChecked(); };
  if (Chosen(chkNames) && !chkSurname->isChecked() && !chkFirstName->isChecked())
    return Refuse(NoNamesText, chkSurname);
  if (Chosen(chkNumbers) && !chkHomeNo->isChecked() && !chkWorkNo->isChecked() && !chkMobileNo->isChecked() &&
      !chkFaxNo->isChecked() && !chkExtension->isChecked())
    return Refuse(NoNumbersText, chkHomeNo);
  if (Chosen(chkAddresses) && !chkHomeAddress->isChecked() && !chkWorkAddress->isChecked())
    return Refuse(NoAddressesText, chkHomeAddress);
  return true;
}

void TfrmFind::btnOKClick() {
  if (ValidSearch()) accept();
}

std::string TfrmFind::SearchText() const { return cboSearchString->text().toStdString(); }

QCheckBox* TfrmFind::Box(ESearchBox Which) const {
  switch (Which) {
    case ESearchBox::MatchCase:
      return chkMatchCase;
    case ESearchBox::WholeWords:
      return chkWholeWords;
    case ESearchBox::AnyField:
      return chkAnyField;
    case ESearchBox::Notes:
      return chkNotes;
    case ESearchBox::Names:
      return chkNames;
    case ESearchBox::Surname:
      return chkSurname;
    case ESearchBox::FirstName:
      return chkFirstName;
    case ESearchBox::Numbers:
      return chkNumbers;
    case ESearchBox::HomeNo:
      return chkHomeNo;
    case ESearchBox::WorkNo:
      return chkWorkNo;
    case ESearchBox::MobileNo:
      return chkMobileNo;
    case ESearchBox::FaxNo:
      return chkFaxNo;
    case ESearchBox::Extension:
      return chkExtension;
    case ESearchBox::Addresses:
      return chkAddresses;
    case ESearchBox::HomeAddress:
      return chkHomeAddress;
    case ESearchBox::WorkAddress:
      return chkWorkAddress;
  }
  return nullptr;
}

bool TfrmFind::Checked(ESearchBox Which) const {
  const QCheckBox* Found = Box(Which);
  return Found && Found->isChecked();
}

void TfrmFind::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  // FormShow
  cboSearchString->setFocus();
  cboSearchString->selectAll();
}

void TfrmFind::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_F1) {
    HelpService().ShowContext(HelpFileName(), FindHelpContext);
    return;
  }
  QDialog::keyPressEvent(Event);
}
