#include "Dialler.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "Custom.h"
#include "Blank.h"
#include "Keypad.h"
#include "Prompter.h"

const char* const OutsideLineQuestion = "Is an outside line required for this call?";
const char* const DirectLocation = "Direct Dialing";

namespace {

constexpr int HelpTopic = 55;
constexpr int KeyWidth = 41, KeyHeight = 33, ColumnPitch = 48, RowPitch = 40;
constexpr int PressedMs = 100;  // how long a typed key shows pressed

// The pictures of the star and hash keys, drawn in the text colour.
QIcon KeyPicture(bool Hash, const QColor& Colour) {
  QPixmap Picture(14, 14);
  Picture.fill(Qt::transparent);
  QPainter Painter(&Picture);
  Painter.setRenderHint(QPainter::Antialiasing);
  Painter.setPen(QPen(Colour, 2.0, Qt::SolidLine, Qt::RoundCap));
  if (Hash) {
    Painter.drawLine(QPointF(5.5, 1.5), QPointF(4.5, 12.5));
    Painter.drawLine(QPointF(9.5, 1.5), QPointF(8.5, 12.5));
    Painter.drawLine(QPointF(1.5, 5), QPointF(12.5, 5));
    Painter.drawLine(QPointF(1.5, 9), QPointF(12.5, 9));
  } else {
    Painter.drawLine(QPointF(7, 1.5), QPointF(7, 12.5));
    Painter.drawLine(QPointF(2.2, 4.2), QPointF(11.8, 9.8));
    Painter.drawLine(QPointF(2.2, 9.8), QPointF(11.8, 4.2));
  }
  return QIcon(Picture);
}

// The window's font, narrowed where the bold letters of the widest key would
// reach the key's edges (wide desktop fonts at this size do).
QFont KeyFont(const QFont& Font) {
  QFont Narrow = Font;
  for (int Stretch = 100; Stretch >= 75; Stretch -= 5) {
    Narrow.setStretch(Stretch);
    QFont Bold = Narrow;
    Bold.setBold(true);
    if (QFontMetrics(Bold).horizontalAdvance(QStringLiteral("WXYZ")) <= KeyWidth - 3 - 6) break;
  }
  return Narrow;
}

}  // namespace

TfrmDialler::TfrmDialler(QWidget* Parent)
    : TFixedDialog("frmDialler", QStringLiteral("Dial"), QSize(201, 296), HelpTopic, Parent) {
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setGeometry(8, 8, 185, 245);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel2 = new QFrame(Panel1);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setGeometry(7, 7, 171, 231);
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);

  constexpr int Left = 17, Top = 12;
  edtDialledNo = new QLineEdit(Panel2);
  edtDialledNo->setObjectName(QStringLiteral("edtDialledNo"));
  edtDialledNo->setGeometry(Left, Top, 137, 21);
  edtDialledNo->setReadOnly(true);
  edtDialledNo->setAccessibleName(QStringLiteral("Number"));
  edtDialledNo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // Paints all of itself, so that a new digit repaints nothing behind it.
  edtDialledNo->setBackgroundRole(QPalette::Window);
  edtDialledNo->setAutoFillBackground(true);

  // Row by row as on a telephone: 1 2 3, 4 5 6, 7 8 9, * 0 #.
  static const char* const Letters[10] = {" ", " ", "ABC", "DEF", "GHI", "JKL", "MNO", "PQRS", "TUV", "WXYZ"};
  constexpr int KeysTop = Top + 21 + 8;
  auto Place = [&](QWidget* Key, int Row, int Column) {
    Key->setGeometry(Left + Column * ColumnPitch, KeysTop + Row * RowPitch, KeyWidth, KeyHeight);
  };
  const QFont Keys = KeyFont(font());
  for (int Tag = 0; Tag <= 9; ++Tag) {
    auto* Key = new TMultiLineButton(Panel2);
    Key->setFont(Keys);
    Key->setObjectName(QStringLiteral("btn%1").arg(Tag));
    Key->setProperty("Tag", Tag);
    Key->SetCaption({QLatin1String(Letters[Tag]), QString::number(Tag)});
    // Said as on a telephone, digit first: "2 ABC".
    Key->setAccessibleName(QStringLiteral("%1 %2").arg(Tag).arg(QLatin1String(Letters[Tag])).trimmed());
    Key->SetSelectedFontStyle(fsBold);
    Key->SetTextStyle(tsNormal);
    if (Tag == 0) Place(Key, 3, 1);
    else Place(Key, (Tag - 1) / 3, (Tag - 1) % 3);
    connect(Key, &QPushButton::clicked, this, [this, Tag] { btn1Click(Tag); });
    btnDigits[static_cast<size_t>(Tag)] = Key;
  }
  auto AddPictureKey = [&](const char* Name, bool Hash, int Column) {
    auto* Key = new QToolButton(Panel2);
    Key->setObjectName(QLatin1String(Name));
    Key->setAccessibleName(Hash ? QStringLiteral("hash") : QStringLiteral("star"));
    Key->setIcon(KeyPicture(Hash, palette().color(QPalette::ButtonText)));
    Key->setIconSize(QSize(14, 14));
    Key->setFocusPolicy(Qt::NoFocus);  // picture buttons never take the focus
    Key->setAutoFillBackground(true);
    Place(Key, 3, Column);
    return Key;
  };
  btnStar = AddPictureKey("btnStar", false, 0);
  btnHash = AddPictureKey("btnHash", true, 2);
  connect(btnStar, &QToolButton::clicked, this, &TfrmDialler::btnStarClick);
  connect(btnHash, &QToolButton::clicked, this, &TfrmDialler::btnHashClick);

  btnDial = new QPushButton(QStringLiteral("&Dial..."), Panel2);
  btnDial->setObjectName(QStringLiteral("btnDial"));
  btnDial->setGeometry(Left, KeysTop + 3 * RowPitch + KeyHeight + 8, 137, 25);
  btnDial->setDefault(true);
  connect(btnDial, &QPushButton::clicked, this, &TfrmDialler::btnDialClick);

  btnClose = new QPushButton(QStringLiteral("&Close"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setGeometry(63, 262, 75, 25);
  connect(btnClose, &QPushButton::clicked, this, &TfrmDialler::btnCloseClick);

  connect(edtDialledNo, &QLineEdit::textChanged, this, &TfrmDialler::EnableControls);  // edtDialledNoChange

  // The window sees every key before its controls.
  for (QWidget* Control : findChildren<QWidget*>()) Control->installEventFilter(this);
  QWidget* Previous = edtDialledNo;
  for (int Tag : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}) {
    setTabOrder(Previous, btnDigits[static_cast<size_t>(Tag)]);
    Previous = btnDigits[static_cast<size_t>(Tag)];
  }
  setTabOrder(Previous, btnDial);
  setTabOrder(btnDial, btnClose);
}

void TfrmDialler::showEvent(QShowEvent* Event) {
  edtDialledNo->clear();  // FormShow
  EnableControls();
  QDialog::showEvent(Event);
}

void TfrmDialler::EnableControls() {
  // Enter dials whatever was clicked last.
  btnDial->setFocus();
}

void TfrmDialler::Append(const QString& Key) {
  edtDialledNo->setText(edtDialledNo->text() + Key);
  EnableControls();
}

void TfrmDialler::btn1Click(int Tag) { Append(QString::number(Tag)); }
void TfrmDialler::btnStarClick() { Append(QStringLiteral("*")); }
void TfrmDialler::btnHashClick() { Append(QStringLiteral("#")); }
void TfrmDialler::btnClearClick() { edtDialledNo->clear(); }
void TfrmDialler::btnCloseClick() { reject(); }

void TfrmDialler::btnDialClick() {
  const QString Number = edtDialledNo->text();
  if (IsBlank(Number)) return;
  TDialRequest Request{QString(), QLatin1String(DirectLocation), Number, std::nullopt};
  bool Cancelled = false;
  if (OutsideLineTicked && OutsideLineTicked()) {
    switch (Prompter().Question(this, QLatin1String(OutsideLineQuestion))) {
      case EAnswer::Yes:
        Request.NoOutsideLine = false;
        break;
      case EAnswer::No:
        Request.NoOutsideLine = true;
        break;
      case EAnswer::Cancel:
        Cancelled = true;
        break;
    }
  }
  if (!Cancelled && ShowDial) ShowDial(Request);
  edtDialledNo->clear();
}

void TfrmDialler::Press(QAbstractButton* Key) {
  Key->click();
  // Only this key repaints, pressed and then released.
  Key->setDown(true);
  QTimer::singleShot(PressedMs, Key, [Key] { Key->setDown(false); });
}

bool TfrmDialler::FormKeyDown(QKeyEvent* Event) {
  switch (Event->key()) {
    case Qt::Key_Escape:
      if (!IsBlank(edtDialledNo->text())) btnClearClick();
      else btnCloseClick();
      return true;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
      if (!IsBlank(edtDialledNo->text())) {
        QString Number = edtDialledNo->text();
        Number.chop(1);
        edtDialledNo->setText(Number);
      }
      return true;
    default:
      return false;
  }
}

bool TfrmDialler::FormKeyPress(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) {
    btnDialClick();
    return true;
  }
  // Typed characters only, not commands held with Ctrl or Alt.
  if (Event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QList<uint> Typed = Event->text().toUcs4();
  if (Typed.size() != 1) return false;
  const char Key = KeypadKey(Typed.first());
  if (Key == '*') Press(btnStar);
  else if (Key == '#') Press(btnHash);
  else if (Key) Press(btnDigits[static_cast<size_t>(Key - '0')]);
  return Key != 0;
}

void TfrmDialler::keyPressEvent(QKeyEvent* Event) {
  if (FormKeyDown(Event) || FormKeyPress(Event)) return;
  TFixedDialog::keyPressEvent(Event);
}

bool TfrmDialler::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::KeyPress && Watched->isWidgetType() &&
      static_cast<QWidget*>(Watched)->window() == this) {
    auto* Key = static_cast<QKeyEvent*>(Event);
    return FormKeyDown(Key) || FormKeyPress(Key);
  }
  return TFixedDialog::eventFilter(Watched, Event);
}
