#include "FontCoverage.h"

#include <QGlyphRun>
#include <QTextLayout>

bool TFontCoverage::LacksGlyphs(const QString& Text, const QFont& Font) {
  for (qsizetype i = 0; i < Text.size(); ++i) {
    const QChar C = Text.at(i);
    if (C.unicode() < 0x80) continue;
    char32_t Code = C.unicode();
    if (C.isHighSurrogate() && i + 1 < Text.size() && Text.at(i + 1).isLowSurrogate())
      Code = QChar::surrogateToUcs4(C, Text.at(++i));
    if (QChar::category(Code) == QChar::Other_Format || QChar::isSpace(Code)) continue;
    auto Known = FHave.constFind(Code);
    if (Known == FHave.constEnd()) Known = FHave.insert(Code, Has(Code, Font));
    if (!*Known) return true;
  }
  return false;
}

bool TFontCoverage::Has(char32_t Code, const QFont& Font) {
  QTextLayout Layout(QString::fromUcs4(&Code, 1), Font, FDevice);
  Layout.beginLayout();
  Layout.createLine();
  Layout.endLayout();
  for (const QGlyphRun& Run : Layout.glyphRuns())
    for (quint32 Glyph : Run.glyphIndexes())
      if (Glyph == 0) return false;
  return true;
}
