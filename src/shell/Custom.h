#pragma once

#include <QColor>
#include <QFlags>
#include <QList>
#include <QPushButton>
#include <QRect>
#include <QStringList>
#include <cstdint>

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextStyle { tsNormal, tsRaised, tsRecessed, tsShadow };
enum TFontStyle { fsBold = 0x1, fsItalic = 0x2, fsUnderline = 0x4, fsStrikeOut = 0x8 };
Q_DECLARE_FLAGS(TFontStyles, TFontStyle)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFontStyles)

// A push button that draws its caption itself: several lines as one centred
// block, with a text effect, and a font style and colour of their own while
// the button has the focus or is the default button Enter would press. A
// double click counts as a second click, so that quick presses of one key all
// count. Everything else is the ordinary push button.
class TMultiLineButton : public QPushButton {
  Q_OBJECT
public:
  explicit TMultiLineButton(QWidget* Parent = nullptr);

  QStringList Caption() const { return FCaption; }
  void SetCaption(const QStringList& Lines);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);
  TTextStyle TextStyle() const { return FTextStyle; }
  void SetTextStyle(TTextStyle Value);
  QColor SelectedColor() const { return FSelectedColor; }
  void SetSelectedColor(const QColor& Value);
  TFontStyles SelectedFontStyle() const { return FSelectedFontStyle; }
  void SetSelectedFontStyle(TFontStyles Value);
  QColor ShadowColor() const { return FShadowColor; }
  void SetShadowColor(const QColor& Value);
  uint8_t ShadowDepth() const { return FShadowDepth; }
  void SetShadowDepth(uint8_t Value);

  // The button Enter would press: the focused push button of a dialog, or its
  // default button while the focus is elsewhere. Qt repaints on each change.
  bool IsActive() const { return isDefault(); }

  // The caption as drawn: the lines joined, cut to the 255-character limit.
  QString CaptionText() const;
  // Where the last paint put the text block.
  QRect TextBounds() const { return FTextBounds; }

  static constexpr int MaxCaptionLength = 255;

protected:
  void paintEvent(QPaintEvent* Event) override;
  bool event(QEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;

private:
  QRect DrawCaption(QPainter& Canvas, const QRect& R, const QColor& Base);
  void GrabAccelerators();
  // Sets a property, repainting only when it changes.
  template <typename T>
  void Change(T& Field, const T& Value);

  QStringList FCaption;
  TAlignment FAlignment = taCenter;
  TTextStyle FTextStyle = tsNormal;
  QColor FSelectedColor = Qt::black;
  TFontStyles FSelectedFontStyle = fsBold;
  QColor FShadowColor;
  uint8_t FShadowDepth = 1;
  QList<int> FAccelerators;  // shortcut ids, one for each line that marks a key
  QRect FTextBounds;
};
