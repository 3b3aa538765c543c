#pragma once

#include <QString>
#include <memory>
#include <unordered_map>

#include "ReportLayout.h"

class QIODevice;
class QPainter;
class QPagedPaintDevice;
class QPaintDevice;
class QTextLayout;

// Texts laid out once for all the pages they are painted on: the captions,
// many names and towns come back on every page, and shaping them is most of
// what painting a page costs. Good for one layout on one device.
class TShapedTexts {
public:
  TShapedTexts();
  ~TShapedTexts();
  // Text in the layout's font FontIndex (Font as sized for Device), broken
  // into rows of Width at word boundaries, or one row if Width is 0.
  const QTextLayout& Get(const QString& Text, uint16_t FontIndex, const QFont& Font, QPaintDevice* Device,
                         double Width);
  // Forgets everything once the texts were laid out for another layout or device.
  void Use(const TReportLayout& Layout, double DeviceDpi);

private:
  struct TKey {
    QString Text;
    uint16_t Font;
    double Width;
    bool operator==(const TKey& Other) const {
      return Font == Other.Font && Width == Other.Width && Text == Other.Text;
    }
  };
  struct THash {
    size_t operator()(const TKey& Key) const;
  };
  std::unordered_map<TKey, std::unique_ptr<QTextLayout>, THash> Layouts;
  const TReportLayout* For = nullptr;
  double Dpi = 0;
};

// Paints one page of a laid-out report. The painter draws in layout units
// from the paper's top-left corner; DeviceDpi is the resolution of the device
// underneath, for which the fonts are sized.
// Shaped keeps what was laid out for the pages after this one.
void PaintReportPage(QPainter& Painter, const TReportLayout& Layout, int Page, double DeviceDpi,
                     TShapedTexts* Shaped = nullptr);

// Begins the page on a paged device (a printer, a PDF writer) that was set to
// the layout's paper with no margins: scales the painter to layout units and
// paints.
void PaintReportPageOn(QPainter& Painter, QPagedPaintDevice& Device, const TReportLayout& Layout, int Page,
                       TShapedTexts* Shaped = nullptr);

// Writes every page to a PDF file, replacing it only once the whole file is
// written. Returns what went wrong, or an empty text.
QString WriteReportPdf(const TReportLayout& Layout, const QString& FileName);
// Writes every page as a PDF into Device, opened for writing; written from
// start to end, so a pipe will do. Failures of the device are its own to tell.
QString WriteReportPdf(const TReportLayout& Layout, QIODevice& Device);
