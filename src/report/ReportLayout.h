#pragma once

#include <QFont>
#include <QPageSize>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <vector>

#include "Report.h"

// A report laid out on pages, as plain data: which band landed on which page
// at which height, and what each of its elements held at that moment. Painting
// (ReportPainter.h) reads only this, so a page can be painted at any time
// without running the callbacks again.

struct TPlacedElement {
  uint32_t TextStart = 0;  // into TReportLayout::Text
  uint32_t TextLength = 0;
  float Top = 0;  // within the band
  float Height = 0;
  uint16_t Element = 0;  // into TReportLayout::Design
  uint16_t Font = 0;     // into TReportLayout::Fonts
  uint8_t Alignment = Qt::AlignLeft;
};

struct TPlacedBand {
  float Top = 0;  // within the printable area of its page
  float Height = 0;
  uint32_t FirstElement = 0;
  uint16_t ElementCount = 0;
  uint16_t Band = 0;     // into TReportLayout::BandNames
  bool Clipped = false;  // taller than a whole page: cut at the page's foot
};

struct TLayoutPage {
  uint32_t FirstBand = 0;
  uint32_t BandCount = 0;
};

// What painting needs of an element that no callback changes.
struct TElementDesign {
  EElementKind Kind = EElementKind::Label;
  float Left = 0;
  float Width = 0;
  bool AlignToBand = false;
  bool WordWrap = false;
  QString Name;
};

class TReportLayout {
public:
  QString Title;
  QPageSize Paper;
  bool Landscape = false;
  QSizeF PageSize;   // layout units
  QRectF Printable;  // layout units, on the page
  std::vector<TElementDesign> Design;
  std::vector<QString> BandNames;
  std::vector<QFont> Fonts;
  QString Text;  // every placed element's text, one after the other
  std::vector<TLayoutPage> Pages;
  std::vector<TPlacedBand> Bands;
  std::vector<TPlacedElement> Elements;
  // Some text holds characters that no installed font has: they print as boxes or not at all.
  bool MissingCharacters = false;

  int PageCount() const { return int(Pages.size()); }
  QStringView TextOf(const TPlacedElement& Element) const {
    return QStringView(Text).mid(Element.TextStart, Element.TextLength);
  }
  const TPlacedBand* PageBands(int Page) const { return Bands.data() + Pages[Page].FirstBand; }
  const TPlacedElement* BandElements(const TPlacedBand& Band) const { return Elements.data() + Band.FirstElement; }
  // What the layout holds in memory, roughly.
  size_t MemoryBytes() const;
};

// Runs the report: calls its callbacks record by record and lays out every
// band. Needs a running QGuiApplication (fonts are measured).
TReportLayout LayOutReport(TReport& Report);

// What the person is told once when a list holds characters no installed font has.
extern const char* const MissingCharactersText;
