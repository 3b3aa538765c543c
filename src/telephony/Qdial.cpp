#include "Qdial.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Blank.h"
#include "Prompter.h"

const char* const HomeLocation = "Home Telephone Number";
const char* const BusinessLocation = "Business Telephone Number";
const char* const ExtensionLocation = "Internal Extension";
const char* const MobileLocation = "Mobile Telephone";

namespace {

constexpr int HelpTopic = 46;
enum { Home, Business, Extension, Mobile };
const char* const Locations[] = {HomeLocation, BusinessLocation, ExtensionLocation, MobileLocation};

}  // namespace

TfrmQuickDial::TfrmQuickDial(QWidget* Parent)
    : TFixedDialog("frmQuickDial", QStringLiteral("Quick Dial"), QSize(312, 146), HelpTopic, Parent) {
  auto AddRow = [this](const char* LabelName, const QString& Caption, const char* EditName, int Top, QLabel*& Label,
                       QLineEdit*& Edit) {
    Edit = new QLineEdit(this);
    Edit->setObjectName(QLatin1String(EditName));
    Edit->setGeometry(96, Top, 201, 21);
    Edit->setReadOnly(true);
    QPalette Face = Edit->palette();
    Face.setColor(QPalette::Base, Face.color(QPalette::Button));
    Edit->setPalette(Face);
    Label = new QLabel(Caption, this);
    Label->setObjectName(QLatin1String(LabelName));
    Label->setGeometry(8, Top, 84, 21);
    Label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label->setBuddy(Edit);  // shows the letter underlined; the key itself dials
  };
  AddRow("Label1", QStringLiteral("&Home Tel :"), "edtHomeNo", 10, Label1, edtHomeNo);
  AddRow("Label2", QStringLiteral("&Work Tel :"), "edtWorkNo", 36, Label2, edtWorkNo);
  AddRow("Label3", QStringLiteral("E&xtension :"), "edtExtension", 62, Label3, edtExtension);
  AddRow("Label4", QStringLiteral("&Mobile :"), "edtMobile", 88, Label4, edtMobile);

  btnClose = new QPushButton(QStringLiteral("&Close"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setGeometry(222, 114, 75, 25);
  btnClose->setAutoDefault(false);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);  // the cancel button

  // The window sees every key before its controls.
  for (QWidget* Control :
       {static_cast<QWidget*>(edtHomeNo), static_cast<QWidget*>(edtWorkNo), static_cast<QWidget*>(edtExtension),
        static_cast<QWidget*>(edtMobile), static_cast<QWidget*>(btnClose)})
    Control->installEventFilter(this);
}

QLineEdit* TfrmQuickDial::Field(int Kind) const {
  switch (Kind) {
    case Home:
      return edtHomeNo;
    case Business:
      return edtWorkNo;
    case Extension:
      return edtExtension;
    default:
      return edtMobile;
  }
}

void TfrmQuickDial::showEvent(QShowEvent* Event) {
  // FormShow: the first number there is, in the order of the page the entry
  // was last seen on; the last of each order is taken when the others are empty.
  static const int HomeFirst[] = {Home, Business, Extension, Mobile};
  static const int WorkFirst[] = {Business, Extension, Mobile, Home};
  const int* Order = TabPage == 0 ? HomeFirst : WorkFirst;
  int Chosen = Order[3];
  for (int Index = 0; Index < 3; ++Index)
    if (!IsBlank(Field(Order[Index])->text())) {
      Chosen = Order[Index];
      break;
    }
  Field(Chosen)->setFocus();
  QDialog::showEvent(Event);
}

int TfrmQuickDial::KindOfKey(int Key) {
  switch (Key) {
    case 'H':
      return Home;
    case 'W':
      return Business;
    case 'X':
      return Extension;
    case 'M':
      return Mobile;
    default:
      return -1;
  }
}

void TfrmQuickDial::Dial(int Kind) {
  const QString Number = Field(Kind)->text();
  if (IsBlank(Number)) {
    Prompter().Beep();
    return;
  }
  if (ShowDial) ShowDial({DialName, QLatin1String(Locations[Kind]), Number, Kind == Extension});
  accept();
}

bool TfrmQuickDial::FormKeyPress(QKeyEvent* Event) {
  const int Key = Event->key();
  // FormKeyDown: Alt alone with a letter acts as the letter.
  if (Event->modifiers() == Qt::AltModifier && KindOfKey(Key) >= 0) {
    Dial(KindOfKey(Key));
    return true;
  }
  if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
    for (int Kind : {Home, Business, Extension, Mobile})
      if (Field(Kind)->hasFocus() && !IsBlank(Field(Kind)->text())) {
        Dial(Kind);
        return true;
      }
    return false;
  }
  if (Event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QString Typed = Event->text().toUpper();
  if (Typed.size() != 1 || KindOfKey(Typed.at(0).unicode()) < 0) return false;
  Dial(KindOfKey(Typed.at(0).unicode()));
  return true;
}

void TfrmQuickDial::keyPressEvent(QKeyEvent* Event) {
  if (FormKeyPress(Event)) return;
  TFixedDialog::keyPressEvent(Event);
}

bool TfrmQuickDial::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() != QEvent::KeyPress && Event->type() != QEvent::ShortcutOverride)
    return TFixedDialog::eventFilter(Watched, Event);
  auto* Key = static_cast<QKeyEvent*>(Event);
  if (Event->type() == QEvent::KeyPress) return FormKeyPress(Key);
  // Alt with a letter dials before the labels' own keys move the focus.
  if (Key->modifiers() == Qt::AltModifier && KindOfKey(Key->key()) >= 0) {
    Event->accept();
    return true;
  }
  return false;
}
