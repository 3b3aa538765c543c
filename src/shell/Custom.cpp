#include "Custom.h"

#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

void ApplyStyles(QFont& Font, TFontStyles Styles) {
  Font.setBold(Styles.testFlag(fsBold));
  Font.setItalic(Styles.testFlag(fsItalic));
  Font.setUnderline(Styles.testFlag(fsUnderline));
  Font.setStrikeOut(Styles.testFlag(fsStrikeOut));
}

Qt::Alignment HorizontalFlag(TAlignment Alignment) {
  switch (Alignment) {
    case taLeftJustify:
      return Qt::AlignLeft;
    case taRightJustify:
      return Qt::AlignRight;
    case taCenter:
      break;
  }
  return Qt::AlignHCenter;
}

}  // namespace

TMultiLineButton::TMultiLineButton(QWidget* Parent) : QPushButton(Parent) {
  FShadowColor = palette().color(QPalette::Dark);
  resize(90, 90);
  // Paints all of itself, so a press repaints this button and nothing under it.
  setAutoFillBackground(true);
}

void TMultiLineButton::SetCaption(const QStringList& Lines) {
  FCaption = Lines;
  GrabAccelerators();
  update();
}

template <typename T>
void TMultiLineButton::Change(T& Field, const T& Value) {
  if (Value == Field) return;
  Field = Value;
  update();
}

void TMultiLineButton::SetAlignment(TAlignment Value) { Change(FAlignment, Value); }
void TMultiLineButton::SetTextStyle(TTextStyle Value) { Change(FTextStyle, Value); }
void TMultiLineButton::SetSelectedColor(const QColor& Value) { Change(FSelectedColor, Value); }
void TMultiLineButton::SetSelectedFontStyle(TFontStyles Value) { Change(FSelectedFontStyle, Value); }
void TMultiLineButton::SetShadowColor(const QColor& Value) { Change(FShadowColor, Value); }
void TMultiLineButton::SetShadowDepth(uint8_t Value) { Change(FShadowDepth, Value); }

QString TMultiLineButton::CaptionText() const {
  // The limit counts a line break as the two characters it always was.
  const QString Joined = FCaption.join(QStringLiteral("\r\n"));
  const QList<uint> Characters = Joined.toUcs4();
  QString Text;
  for (qsizetype Index = 0; Index < Characters.size() && Index < MaxCaptionLength; ++Index) {
    const char32_t Character = Characters[Index];
    Text.append(QString::fromUcs4(&Character, 1));
  }
  Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (Text.endsWith(QLatin1Char('\r'))) Text.chop(1);  // a break cut in half
  return Text;
}

void TMultiLineButton::GrabAccelerators() {
  for (int Id : FAccelerators) releaseShortcut(Id);
  FAccelerators.clear();
  for (const QString& Line : FCaption) {
    const QKeySequence Key = QKeySequence::mnemonic(Line);
    if (!Key.isEmpty()) FAccelerators.append(grabShortcut(Key));
  }
}

bool TMultiLineButton::event(QEvent* Event) {
  if (Event->type() == QEvent::Shortcut) {
    const int Id = static_cast<QShortcutEvent*>(Event)->shortcutId();
    if (FAccelerators.contains(Id)) {
      if (isEnabled()) click();
      return true;
    }
  }
  return QPushButton::event(Event);
}

void TMultiLineButton::mouseDoubleClickEvent(QMouseEvent* Event) {
  // The second press of a quick pair is a press like the first.
  if (Event->button() == Qt::LeftButton) mousePressEvent(Event);
  else QPushButton::mouseDoubleClickEvent(Event);
}

void TMultiLineButton::paintEvent(QPaintEvent*) {
  QPainter Canvas(this);
  const bool Pressed = isDown();
  const bool Focused = hasFocus();

  // The face is the style's, without its own label and focus marks.
  QStyleOptionButton Face;
  initStyleOption(&Face);
  Face.text.clear();
  Face.icon = QIcon();
  Face.state &= ~QStyle::State_HasFocus;
  style()->drawControl(QStyle::CE_PushButtonBevel, &Face, &Canvas, this);

  QFont Font = font();
  QColor Base = palette().color(QPalette::ButtonText);
  if (Focused || IsActive()) {
    Base = FSelectedColor;
    ApplyStyles(Font, FSelectedFontStyle);
  } else {
    ApplyStyles(Font, {});
  }
  Canvas.setFont(Font);

  // The client rectangle less 1 at the left and top and 2 at the right and bottom.
  QRect R(1, 1, width() - 3, height() - 3);
  if (Pressed) R.translate(1, 1);
  FTextBounds = DrawCaption(Canvas, R, Base);

  if (Focused) {
    QStyleOptionFocusRect Focus;
    Focus.initFrom(this);
    Focus.backgroundColor = palette().color(QPalette::Button);
    Focus.rect = R.adjusted(2, 2, -2, -2);
    if (Pressed) Focus.rect.translate(-1, -1);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &Focus, &Canvas, this);
  }
}

QRect TMultiLineButton::DrawCaption(QPainter& Canvas, const QRect& R, const QColor& Base) {
  if (FCaption.isEmpty()) return {};
  const QString Text = CaptionText();
  const int Flags = Qt::TextShowMnemonic;
  QRect B;
  // An empty first line hides the whole caption.
  if (!FCaption.first().isEmpty()) {
    const QRect Measured = Canvas.fontMetrics().boundingRect(QRect(0, 0, R.width(), 0), Flags | Qt::AlignLeft, Text);
    B = QRect(0, 0, Measured.width(), Measured.height());
  }
  const int X = R.width() / 2 - B.width() / 2;
  const int Y = R.height() / 2 - B.height() / 2;
  B.translate(R.left() + X, R.top() + Y);
  if (B.isEmpty()) return B;

  const int DrawFlags = Flags | Qt::AlignTop | static_cast<int>(HorizontalFlag(FAlignment));
  auto Draw = [&](const QColor& Colour, int Dx, int Dy) {
    Canvas.setPen(Colour);
    Canvas.drawText(B.translated(Dx, Dy), DrawFlags, Text);
  };
  if (!isEnabled()) {
    Draw(Qt::white, 1, 1);
    Draw(QColor(128, 128, 128), 0, 0);
    return B;
  }
  switch (FTextStyle) {
    case tsNormal:
      break;
    case tsRaised:
      Draw(Qt::white, -1, -1);
      Draw(FShadowColor, 1, 1);
      break;
    case tsRecessed:
      Draw(Qt::white, 1, 1);
      Draw(FShadowColor, -1, -1);
      break;
    case tsShadow:
      Draw(FShadowColor, FShadowDepth, FShadowDepth);
      break;
  }
  Draw(Base, 0, 0);
  return B;
}
