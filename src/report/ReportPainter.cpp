#include "ReportPainter.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextLayout>
#include <algorithm>

namespace {

void PaintMemo(QPainter& Painter, const QRectF& Box, const QString& Text, const QFont& Font) {
  const QFontMetricsF Metrics(Font, Painter.device());
  const double Leading = std::max(0.0, Metrics.leading());
  double LineTop = Box.top();
  QTextOption Option(Qt::AlignLeft);
  Option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  for (const QStringView Line : QStringView(Text).split(QLatin1Char('\n'))) {
    if (Line.isEmpty()) {
      LineTop += Metrics.height() + Leading;
      continue;
    }
    QTextLayout Layout(Line.toString(), Font, Painter.device());
    Layout.setTextOption(Option);
    Layout.beginLayout();
    for (QTextLine Row = Layout.createLine(); Row.isValid(); Row = Layout.createLine()) {
      Row.setLineWidth(Box.width());
      Row.setPosition(QPointF(0, LineTop - Box.top()));
      LineTop += Row.height() + Leading;
    }
    Layout.endLayout();
    for (int i = 0; i < Layout.lineCount(); ++i) {
      const QTextLine Row = Layout.lineAt(i);
      if (Box.top() + Row.y() + Row.height() > Box.bottom() + 0.5) return;
      Row.draw(&Painter, Box.topLeft());
    }
  }
}

}  // namespace

void PaintReportPage(QPainter& Painter, const TReportLayout& Layout, int Page, double DeviceDpi) {
  if (Page < 0 || Page >= Layout.PageCount()) return;
  // Fonts keep their point size in layout units, whatever the device's resolution.
  std::vector<QFont> Fonts;
  Fonts.reserve(Layout.Fonts.size());
  for (QFont Font : Layout.Fonts) {
    Font.setPointSizeF(Font.pointSizeF() * UnitsPerInch / DeviceDpi);
    Fonts.push_back(Font);
  }
  Painter.save();
  Painter.setRenderHint(QPainter::TextAntialiasing);
  Painter.setBrush(Qt::NoBrush);
  const QPen TextPen(Qt::black);
  const QPen FramePen(Qt::black, 1.0);
  const double Left = Layout.Printable.left();
  const double BandWidth = Layout.Printable.width();
  const double PageFoot = Layout.Printable.bottom();
  const TLayoutPage& Info = Layout.Pages[Page];
  const TPlacedBand* Bands = Layout.PageBands(Page);
  for (uint32_t b = 0; b < Info.BandCount; ++b) {
    const TPlacedBand& Band = Bands[b];
    const double Top = Layout.Printable.top() + Band.Top;
    if (Band.Clipped) {
      Painter.save();
      Painter.setClipRect(QRectF(0, Top, Layout.PageSize.width(), Band.Height), Qt::IntersectClip);
    }
    const TPlacedElement* Elements = Layout.BandElements(Band);
    for (uint16_t e = 0; e < Band.ElementCount; ++e) {
      const TPlacedElement& E = Elements[e];
      const TElementDesign& D = Layout.Design[E.Element];
      const double Y = Top + E.Top;
      if (D.Kind == EElementKind::Frame) {
        Painter.setPen(FramePen);
        Painter.drawRect(QRectF(Left + D.Left, Y, D.Width, E.Height));
        continue;
      }
      Painter.setPen(TextPen);
      Painter.setFont(Fonts[E.Font]);
      const QString Text = Layout.TextOf(E).toString();
      if (D.Kind == EElementKind::Label) {
        int Flags = Qt::AlignTop | E.Alignment | (D.WordWrap ? Qt::TextWordWrap : Qt::TextSingleLine);
        QRectF Box;
        if (D.AlignToBand) {
          Box = QRectF(Left, Y, BandWidth, E.Height);
        } else if (D.Width > 0) {
          Box = QRectF(Left + D.Left, Y, D.Width, E.Height);
        } else {
          // Sized to its text: nothing to align within, nothing to cut.
          Box = QRectF(Left + D.Left, Y, BandWidth, E.Height);
          Flags = Qt::AlignTop | Qt::AlignLeft | Qt::TextSingleLine | Qt::TextDontClip;
        }
        Painter.drawText(Box, Flags, Text);
        continue;
      }
      // A memo: its lines one below the other, each wrapped within the width;
      // only whole lines that fit in the memo's height are printed.
      PaintMemo(Painter, QRectF(Left + D.Left, Y, D.Width, std::min<double>(E.Height, PageFoot - Y)), Text,
                Fonts[E.Font]);
    }
    if (Band.Clipped) Painter.restore();
  }
  Painter.restore();
}

void PaintReportPageOn(QPainter& Painter, QPagedPaintDevice& Device, const TReportLayout& Layout, int Page) {
  const double Dpi = Device.logicalDpiY();
  Painter.resetTransform();
  Painter.scale(Device.logicalDpiX() / UnitsPerInch, Dpi / UnitsPerInch);
  PaintReportPage(Painter, Layout, Page, Dpi);
}

QString WriteReportPdf(const TReportLayout& Layout, const QString& FileName) {
  QSaveFile File(FileName);
  if (!File.open(QIODevice::WriteOnly)) return File.errorString();
  {
    QPdfWriter Writer(&File);
    Writer.setTitle(Layout.Title);
    Writer.setCreator(QStringLiteral("Tobrinel"));
    Writer.setResolution(1200);
    Writer.setPageLayout(QPageLayout(Layout.Paper, Layout.Landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0)));
    QPainter Painter;
    if (!Painter.begin(&Writer)) {
      File.cancelWriting();
      return QStringLiteral("The PDF file could not be started.");
    }
    for (int Page = 0; Page < Layout.PageCount(); ++Page) {
      if (Page > 0) Writer.newPage();
      PaintReportPageOn(Painter, Writer, Layout, Page);
    }
    Painter.end();
  }
  if (!File.commit()) return File.errorString();
  return {};
}
