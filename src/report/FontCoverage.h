#pragma once

#include <QFont>
#include <QHash>
#include <QString>

class QPaintDevice;

// Which characters the installed fonts can draw, for the printed list and
// the screen alike.
class TFontCoverage {
public:
  // Device: what the text is laid out for; none for the screen.
  explicit TFontCoverage(QPaintDevice* ADevice = nullptr) : FDevice(ADevice) {}
  // Whether some character of Text is in no installed font (not even one the
  // text engine falls back on). Each character outside ASCII is looked up
  // once, so a large book costs little.
  bool LacksGlyphs(const QString& Text, const QFont& Font);

private:
  bool Has(char32_t Code, const QFont& Font);
  QPaintDevice* FDevice;
  QHash<char32_t, bool> FHave;
};
