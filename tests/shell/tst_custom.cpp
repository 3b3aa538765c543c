// The keypad button: where its text block lands, how each style looks, the
// focus font, accelerators and quick double presses.
#include <QDialog>
#include <QImage>
#include <QSignalSpy>
#include <QtTest>
#include <optional>

#include "Custom.h"

namespace {

const QColor Blue(0, 0, 255), Red(255, 0, 0), Green(0, 160, 0), Grey(128, 128, 128), White(255, 255, 255);

// Bounds of the pixels of exactly this colour inside Area.
std::optional<QRect> Ink(const QImage& Image, const QColor& Colour, const QRect& Area) {
  std::optional<QRect> Found;
  for (int Y = Area.top(); Y <= Area.bottom(); ++Y)
    for (int X = Area.left(); X <= Area.right(); ++X)
      if (Image.pixelColor(X, Y).rgb() == Colour.rgb()) Found = Found ? Found->united(QRect(X, Y, 1, 1)) : QRect(X, Y, 1, 1);
  return Found;
}

// A dialog with one keypad key; text without smoothing so colours stay exact.
struct TKey {
  QDialog Window;
  TMultiLineButton* Button;
  explicit TKey(const QStringList& Caption, QSize Size = {90, 90}) {
    Window.resize(Size.width() + 40, Size.height() + 40);
    auto* Other = new QPushButton(QStringLiteral("Other"), &Window);
    Other->setGeometry(0, 0, 30, 20);
    Button = new TMultiLineButton(&Window);
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
    QVERIFY(QTest::qWaitForWindowActive(&Window));
  }
  QImage Picture() {
    const QImage Image = Button->grab().toImage().convertToFormat(QImage::Format_RGB32);
    return Image;
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
  void Accelerators();
  void DoubleClickCountsTwice();
};

void TCustomTest::TwoLinesAreOneCentredBlock() {
  TKey Key({QStringLiteral("ABC"), QStringLiteral("2")}, {41, 33});
  QImage Image = Key.Picture();
  QFont Plain = Key.Button->font();
  const QFontMetrics Metrics(Plain);
  const QRect Block = Metrics.boundingRect(QRect(0, 0, 38, 0), Qt::AlignLeft, QStringLiteral("ABC\n2"));
  // R is (1, 1) to (39, 31) on a 41 x 33 key: 38 by 30.
  const QRect B = Key.Button->TextBounds();
  QCOMPARE(B.size(), Block.size());
  QCOMPARE(B.topLeft(), QPoint(1 + 38 / 2 - Block.width() / 2, 1 + 30 / 2 - Block.height() / 2));
  const auto Text = Ink(Image, Blue, Image.rect());
  QVERIFY(Text && B.contains(*Text));
  const auto Letters = Ink(Image, Blue, QRect(B.left(), B.top(), B.width(), B.height() / 2));
  const auto Digit = Ink(Image, Blue, QRect(B.left(), B.top() + B.height() / 2, B.width(), B.height() - B.height() / 2));
  QVERIFY(Letters && Digit);
  QVERIFY(Digit->top() > Letters->bottom());
  // Each line centred in the block: the digit's middle under the letters' middle.
  QVERIFY(qAbs(Digit->center().x() - Letters->center().x()) <= 1);

  // Pressed, the text moves one pixel right and down.
  Key.Button->setDown(true);
  Image = Key.Picture();
  QCOMPARE(Key.Button->TextBounds(), B.translated(1, 1));
  QCOMPARE(Ink(Image, Blue, Image.rect()), Text->translated(1, 1));
}

void TCustomTest::TextStyles_data() {
  QTest::addColumn<int>("Style");
  QTest::addColumn<bool>("Enabled");
  QTest::addColumn<QColor>("Text");
  // Offsets of the top-left and bottom-right corners of each colour's ink from the text's own.
  QTest::addColumn<QColor>("First");
  QTest::addColumn<QPoint>("FirstOffset");  // of the top-left corner
  QTest::addColumn<QColor>("Second");
  QTest::addColumn<QPoint>("SecondOffset");  // of the bottom-right corner
  QTest::newRow("raised") << int(tsRaised) << true << Blue << White << QPoint(-1, -1) << Red << QPoint(1, 1);
  QTest::newRow("recessed") << int(tsRecessed) << true << Blue << Red << QPoint(-1, -1) << White << QPoint(1, 1);
  QTest::newRow("shadow") << int(tsShadow) << true << Blue << QColor() << QPoint() << Red << QPoint(3, 3);
  QTest::newRow("normal") << int(tsNormal) << true << Blue << QColor() << QPoint() << QColor() << QPoint();
  QTest::newRow("disabled") << int(tsShadow) << false << Grey << QColor() << QPoint() << White << QPoint(1, 1);
}

void TCustomTest::TextStyles() {
  QFETCH(int, Style);
  QFETCH(bool, Enabled);
  QFETCH(QColor, Text);
  QFETCH(QColor, First);
  QFETCH(QPoint, FirstOffset);
  QFETCH(QColor, Second);
  QFETCH(QPoint, SecondOffset);
  TKey Key({QStringLiteral("WXYZ"), QStringLiteral("9")});
  Key.Button->SetTextStyle(TTextStyle(Style));
  Key.Button->SetShadowDepth(3);
  Key.Button->setEnabled(Enabled);
  const QImage Image = Key.Picture();
  const QRect Area = Key.Button->TextBounds().adjusted(-4, -4, 4, 4);
  const auto Base = Ink(Image, Text, Area);
  QVERIFY(Base);
  for (const QColor& Other : {Blue, Red, White}) {
    if (Other == Text) continue;
    const auto Found = Ink(Image, Other, Area);
    if (Other == First) {
      QVERIFY(Found);
      QCOMPARE(Found->topLeft(), Base->topLeft() + FirstOffset);
    } else if (Other == Second) {
      QVERIFY(Found);
      QCOMPARE(Found->bottomRight(), Base->bottomRight() + SecondOffset);
    } else {
      QVERIFY2(!Found, qPrintable(Other.name()));
    }
  }
}

void TCustomTest::FocusFontAndColour() {
  TKey Key({QStringLiteral("WXYZ"), QStringLiteral("9")});
  QFont Bold = Key.Button->font();
  Bold.setBold(true);
  Bold.setItalic(true);
  Key.Button->setFont(Bold);
  QFont Plain = Bold;
  Plain.setBold(false);
  Plain.setItalic(false);
  // Without the focus: plain, whatever the font says, in the text colour.
  QImage Image = Key.Picture();
  QCOMPARE(Key.Button->TextBounds().width(), QFontMetrics(Plain).boundingRect(QRect(0, 0, 87, 0), 0, QStringLiteral("WXYZ")).width());
  QVERIFY(Ink(Image, Blue, Image.rect()));
  QVERIFY(!Ink(Image, Green, Image.rect()));

  Key.Button->setFocus();
  QVERIFY(Key.Button->IsActive());  // the focused button of a dialog is the one Enter presses
  Image = Key.Picture();
  const QFont Selected = [&] { QFont F = Plain; F.setBold(true); return F; }();
  QCOMPARE(Key.Button->TextBounds().width(),
           QFontMetrics(Selected).boundingRect(QRect(0, 0, 87, 0), 0, QStringLiteral("WXYZ")).width());
  QVERIFY(Ink(Image, Green, Image.rect()));
  QVERIFY(!Ink(Image, Blue, Key.Button->TextBounds()));

  // The default button is drawn selected while another control has the focus.
  Key.Button->clearFocus();
  Key.Button->setDefault(true);
  Image = Key.Picture();
  QVERIFY(Ink(Image, Green, Image.rect()));
}

void TCustomTest::EmptyFirstLineHidesTheCaption() {
  TKey Empty({QString(), QStringLiteral("1")}, {41, 33});
  QImage Image = Empty.Picture();
  QVERIFY(!Ink(Image, Blue, Image.rect()));
  QCOMPARE(Empty.Button->TextBounds().size(), QSize(0, 0));

  TKey Space({QStringLiteral(" "), QStringLiteral("1")}, {41, 33});
  Image = Space.Picture();
  const auto Digit = Ink(Image, Blue, Image.rect());
  QVERIFY(Digit);
  QVERIFY(Digit->top() > Space.Button->TextBounds().center().y());  // on the second row
}

void TCustomTest::CaptionLimit() {
  TMultiLineButton Button;
  // A line break counts two characters; a cut through one leaves no half break.
  Button.SetCaption({QString(200, QLatin1Char('A')), QString(100, QLatin1Char('B'))});
  QCOMPARE(Button.CaptionText(), QString(200, QLatin1Char('A')) + QLatin1Char('\n') + QString(53, QLatin1Char('B')));
  Button.SetCaption({QString(254, QLatin1Char('A')), QStringLiteral("B")});
  QCOMPARE(Button.CaptionText(), QString(254, QLatin1Char('A')));
  // Characters beyond the first plane count once and are never split.
  const QString Clef = QString::fromUcs4(U"\U0001D11E");
  Button.SetCaption({QString(254, QLatin1Char('A')) + Clef + Clef});
  QCOMPARE(Button.CaptionText(), QString(254, QLatin1Char('A')) + Clef);
}

void TCustomTest::Accelerators() {
  TKey Key({QStringLiteral("Fish && &Chips"), QStringLiteral("&9")});
  QSignalSpy Clicks(Key.Button, &QAbstractButton::clicked);
  QTest::keyClick(&Key.Window, Qt::Key_C, Qt::AltModifier);
  QTest::keyClick(&Key.Window, Qt::Key_9, Qt::AltModifier);
  QCOMPARE(Clicks.count(), 2);  // whichever line marks the key
  QTest::keyClick(&Key.Window, Qt::Key_F, Qt::AltModifier);  // not marked ("&&" is a plain "&")
  QTest::keyClick(&Key.Window, Qt::Key_C);  // not without Alt
  QCOMPARE(Clicks.count(), 2);
  Key.Button->setEnabled(false);
  QTest::keyClick(&Key.Window, Qt::Key_C, Qt::AltModifier);
  QCOMPARE(Clicks.count(), 2);
  // A new caption gives up the old keys.
  Key.Button->setEnabled(true);
  Key.Button->SetCaption({QStringLiteral("&Dial")});
  QTest::keyClick(&Key.Window, Qt::Key_C, Qt::AltModifier);
  QTest::keyClick(&Key.Window, Qt::Key_D, Qt::AltModifier);
  QCOMPARE(Clicks.count(), 3);
}

void TCustomTest::DoubleClickCountsTwice() {
  TKey Key({QStringLiteral("ABC"), QStringLiteral("2")}, {41, 33});
  QSignalSpy Clicks(Key.Button, &QAbstractButton::clicked);
  // Through the window, as the desktop delivers them: press, release, press
  // (reported as a double click), release.
  QWindow* Window = Key.Window.windowHandle();
  const QPoint Centre = Key.Button->geometry().center();
  QTest::mouseDClick(Window, Qt::LeftButton, {}, Centre);
  QCOMPARE(Clicks.count(), 2);
  QTest::mouseClick(Window, Qt::LeftButton, {}, Centre);
  QCOMPARE(Clicks.count(), 3);
}

QTEST_MAIN(TCustomTest)
#include "tst_custom.moc"
