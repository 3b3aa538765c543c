// The keypad button drawn offscreen: where its text block lands, each text
// effect, the focus font, accelerators and quick double presses.
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>
#include <optional>

#include "Custom.h"

namespace {

const QColor Blue(0, 0, 255), Red(255, 0, 0), Green(0, 160, 0), Grey(128, 128, 128), White(255, 255, 255);

// Bounds of the pixels of exactly this colour inside Area (the whole picture by default).
std::optional<QRect> Ink(const QImage& Image, const QColor& Colour, QRect Area = {}) {
  if (Area.isNull()) Area = Image.rect();
  std::optional<QRect> Found;
  for (int Y = Area.top(); Y <= Area.bottom(); ++Y)
    for (int X = Area.left(); X <= Area.right(); ++X)
      if (Image.pixelColor(X, Y).rgb() == Colour.rgb()) Found = Found ? Found->united({X, Y, 1, 1}) : QRect(X, Y, 1, 1);
  return Found;
}

// One key in a window, beside an edit that has the focus; text in blue,
// unsmoothed so that colours stay exact, shadow red, selected green.
struct TKey {
  QWidget Window;
  TMultiLineButton* Button = new TMultiLineButton(&Window);
  QLineEdit* Other = new QLineEdit(&Window);
  explicit TKey(const QStringList& Caption, QSize Size = {90, 90}) {
    Button->setGeometry(20, 20, Size.width(), Size.height());
    QFont Font = Button->font();
    Font.setStyleStrategy(QFont::NoAntialias);
    Font.setPointSize(8);
    Button->setFont(Font);
    QPalette Palette = Button->palette();
    Palette.setColor(QPalette::ButtonText, Blue);
    Button->setPalette(Palette);
    Button->SetShadowColor(Red);
    Button->SetSelectedColor(Green);
    Button->SetCaption(Caption);
    Other->setFocus();
    Window.show();
    Active = QTest::qWaitForWindowActive(&Window);
  }
  bool Active = false;  // checked by each test: a QVERIFY here would only leave the constructor
  QImage Picture() { return Button->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  int BlockWidth(bool Bold) {
    QFont Font = Button->font();
    Font.setBold(Bold);
    Font.setItalic(false);
    return QFontMetrics(Font).boundingRect(QRect(0, 0, 87, 0), Qt::TextShowMnemonic, Button->CaptionText()).width();
  }
};

}  // namespace

class TCustomTest : public QObject {
  Q_OBJECT
private slots:
  void TwoLinesAreOneCentredBlock();
  void TextStyles_data();
  void TextStyles();
  void FocusFontAndColour();
  void EmptyFirstLineHidesTheCaption();
  void CaptionLimit();
  void AcceleratorsAndDoubleClicks();
};

void TCustomTest::TwoLinesAreOneCentredBlock() {
  TKey Key({QStringLiteral("ABC"), QStringLiteral("2")}, {41, 33});
  QVERIFY(Key.Active);
  QImage Image = Key.Picture();
  // R runs from (1, 1) to the right and bottom less 2: 38 by 30.
  const QRect Block = QFontMetrics(Key.Button->font()).boundingRect(QRect(0, 0, 38, 0), 0, QStringLiteral("ABC\n2"));
  const QRect B = Key.Button->TextBounds();
  QCOMPARE(B, QRect(1 + 38 / 2 - Block.width() / 2, 1 + 30 / 2 - Block.height() / 2, Block.width(), Block.height()));
  const auto Text = Ink(Image, Blue);
  QVERIFY(Text && B.contains(*Text));
  const int Middle = B.top() + B.height() / 2;
  const auto Letters = Ink(Image, Blue, QRect(QPoint(B.left(), B.top()), QPoint(B.right(), Middle - 1)));
  const auto Digit = Ink(Image, Blue, QRect(QPoint(B.left(), Middle), B.bottomRight()));
  QVERIFY(Letters && Digit && Digit->top() > Letters->bottom());
  QVERIFY(qAbs(Digit->center().x() - Letters->center().x()) <= 1);  // under the letters' middle
  // Pressed, the text moves one pixel right and down.
  Key.Button->setDown(true);
  Image = Key.Picture();
  QCOMPARE(Key.Button->TextBounds(), B.translated(1, 1));
  QCOMPARE(Ink(Image, Blue), Text->translated(1, 1));
}

void TCustomTest::TextStyles_data() {
  QTest::addColumn<int>("Style");
  QTest::addColumn<bool>("Enabled");
  QTest::addColumn<QColor>("Text");
  // The colour drawn up-left of the text and how far its ink's top-left corner
  // lies from the text's; the same for the colour drawn down-right and its
  // bottom-right corner. A colour not named must not appear.
  QTest::addColumn<QColor>("UpLeft");
  QTest::addColumn<QColor>("DownRight");
  QTest::addColumn<int>("Depth");
  QTest::newRow("raised") << int(tsRaised) << true << Blue << White << Red << 1;
  QTest::newRow("recessed") << int(tsRecessed) << true << Blue << Red << White << 1;
  QTest::newRow("shadow") << int(tsShadow) << true << Blue << QColor() << Red << 3;
  QTest::newRow("normal") << int(tsNormal) << true << Blue << QColor() << QColor() << 0;
  QTest::newRow("disabled") << int(tsRaised) << false << Grey << QColor() << White << 1;
}

void TCustomTest::TextStyles() {
  QFETCH(int, Style);
  QFETCH(bool, Enabled);
  QFETCH(QColor, Text);
  QFETCH(QColor, UpLeft);
  QFETCH(QColor, DownRight);
  QFETCH(int, Depth);
  TKey Key({QStringLiteral("WXYZ"), QStringLiteral("9")});
  QVERIFY(Key.Active);
  Key.Button->SetTextStyle(TTextStyle(Style));
  Key.Button->SetShadowDepth(3);
  Key.Button->setEnabled(Enabled);
  const QImage Image = Key.Picture();
  const QRect Area = Key.Button->TextBounds().adjusted(-4, -4, 4, 4);  // clear of the face's edges
  const auto Base = Ink(Image, Text, Area);
  QVERIFY(Base);
  for (const QColor& Other : {Blue, Red, White}) {
    if (Other == Text) continue;
    const auto Found = Ink(Image, Other, Area);
    QCOMPARE(bool(Found), Other == UpLeft || Other == DownRight);
    if (Other == UpLeft) QCOMPARE(Found->topLeft(), Base->topLeft() - QPoint(Depth, Depth));
    if (Other == DownRight) QCOMPARE(Found->bottomRight(), Base->bottomRight() + QPoint(Depth, Depth));
  }
}

void TCustomTest::FocusFontAndColour() {
  TKey Key({QStringLiteral("WXYZ")});
  QVERIFY(Key.Active);
  QFont Font = Key.Button->font();
  Font.setBold(true);
  Font.setItalic(true);
  Key.Button->setFont(Font);
  // Without the focus: plain whatever the font says, in the text colour.
  QImage Image = Key.Picture();
  QCOMPARE(Key.Button->TextBounds().width(), Key.BlockWidth(false));
  QVERIFY(Ink(Image, Blue) && !Ink(Image, Green));
  // Focused, or the default button while the focus is elsewhere: bold in the selected colour.
  for (bool Focused : {true, false}) {
    if (Focused) Key.Button->setFocus();
    else Key.Button->setDefault(true), Key.Other->setFocus();
    QCOMPARE(Key.Button->hasFocus(), Focused);
    Image = Key.Picture();
    QCOMPARE(Key.Button->TextBounds().width(), Key.BlockWidth(true));
    QVERIFY(Ink(Image, Green) && !Ink(Image, Blue, Key.Button->TextBounds()));
  }
}

void TCustomTest::EmptyFirstLineHidesTheCaption() {
  TKey Empty({QString(), QStringLiteral("1")}, {41, 33});
  QVERIFY(Empty.Active);
  QVERIFY(!Ink(Empty.Picture(), Blue));
  TKey Space({QStringLiteral(" "), QStringLiteral("1")}, {41, 33});
  QVERIFY(Space.Active);
  const auto Digit = Ink(Space.Picture(), Blue);
  QVERIFY(Digit && Digit->top() > Space.Button->TextBounds().center().y());  // on the second row
}

void TCustomTest::CaptionLimit() {
  TMultiLineButton Button;
  // A line break counts its two characters of old; a cut through one leaves no half.
  Button.SetCaption({QString(200, 'A'), QString(100, 'B')});
  QCOMPARE(Button.CaptionText(), QString(200, 'A') + '\n' + QString(53, 'B'));
  Button.SetCaption({QString(254, 'A'), QStringLiteral("B")});
  QCOMPARE(Button.CaptionText(), QString(254, 'A'));
  const QString Clef = QString::fromUcs4(U"\U0001D11E");  // one character, two UTF-16 units
  Button.SetCaption({QString(254, 'A') + Clef + Clef});
  QCOMPARE(Button.CaptionText(), QString(254, 'A') + Clef);
}

void TCustomTest::AcceleratorsAndDoubleClicks() {
  TKey Key({QStringLiteral("Fish && &Chips"), QStringLiteral("&9")}, {41, 33});
  QVERIFY(Key.Active);
  QSignalSpy Clicks(Key.Button, &QAbstractButton::clicked);
  for (Qt::Key Letter : {Qt::Key_C, Qt::Key_9, Qt::Key_F}) QTest::keyClick(&Key.Window, Letter, Qt::AltModifier);
  QTest::keyClick(&Key.Window, Qt::Key_C);
  QCOMPARE(Clicks.count(), 2);  // Alt and a marked letter of any line; "&&" marks none
  Key.Button->setEnabled(false);
  QTest::keyClick(&Key.Window, Qt::Key_C, Qt::AltModifier);
  Key.Button->setEnabled(true);
  Key.Button->SetCaption({QStringLiteral("&Dial")});  // gives up the old letters
  QTest::keyClick(&Key.Window, Qt::Key_C, Qt::AltModifier);
  QTest::keyClick(&Key.Window, Qt::Key_D, Qt::AltModifier);
  QCOMPARE(Clicks.count(), 3);

  // A double click through the window, as the desktop reports it, is two clicks.
  Clicks.clear();
  QTest::mouseDClick(Key.Window.windowHandle(), Qt::LeftButton, {}, Key.Button->geometry().center());
  QCOMPARE(Clicks.count(), 2);
}

QTEST_MAIN(TCustomTest)
#include "tst_custom.moc"
