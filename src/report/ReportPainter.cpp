#include "ReportPainter.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextLayout>
#include <algorithm>

namespace {

// Tab stops every eight characters: a TAB laid out by the device's own stops
// lands far off at a printer's resolution and wraps the rest of its line away.
QString ExpandTabs(QStringView Line) {
  QString Out;
  Out.reserve(Line.size());
  for (const QChar C : Line) {
    if (C == QLatin1Char('\t')) Out += QString(8 - Out.size() % 8, QLatin1Char(' '));
    else Out += C;
  }
  return Out;
}

// A memo: its stored lines one below the other, each word-wrapped within the
// width. Each line keeps back, for every line after it, an equal share of the
// memo's height, so that every line shows at least its first row: a row
// taller than its share (text in the taller font of another script) is cut at
// the bottom rather than lost, and a line whose rows do not all fit ends its
// last shown row with an ellipsis. Nothing is painted below Bottom.
void PaintMemo(QPainter& Painter, const QRectF& Box, double Bottom, const QString& Text, const QFont& Font) {
  const QFontMetricsF Metrics(Font, Painter.device());
  const double Leading = std::max(0.0, Metrics.leading());
  const QList<QStringView> Lines = QStringView(Text).split(QLatin1Char('\n'));
  const double Share = Box.height() / double(Lines.size());
  QTextOption Option(Qt::AlignLeft);
  Option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  double Top = Box.top();
  for (qsizetype i = 0; i < Lines.size() && Top < Bottom; ++i) {
    const double Limit = std::min(Box.bottom() - double(Lines.size() - 1 - i) * Share, Bottom);
    const QString Line = ExpandTabs(Lines[i]);
    if (Line.isEmpty()) {
      Top = std::min(Top + Metrics.height() + Leading, Limit);
      continue;
    }
    QTextLayout Layout(Line, Font, Painter.device());
    Layout.setTextOption(Option);
    Layout.beginLayout();
    double Y = 0;
    for (QTextLine Row = Layout.createLine(); Row.isValid(); Row = Layout.createLine()) {
      Row.setLineWidth(Box.width());
      Row.setPosition(QPointF(0, Y));
      Y += Row.height() + Leading;
    }
    Layout.endLayout();
    int Shown = 1;
    while (Shown < Layout.lineCount()) {
      const QTextLine Row = Layout.lineAt(Shown);
      if (Top + Row.y() + Row.height() > Limit + 0.5) break;
      ++Shown;
    }
    const QPointF Origin(Box.left(), Top);
    const QTextLine First = Layout.lineAt(0);
    const bool Cut = Top + First.height() > Limit + 0.5;
    if (Cut) {
      Painter.save();
      Painter.setClipRect(QRectF(Box.left(), Top, Box.width(), Limit - Top), Qt::IntersectClip);
    }
    for (int r = 0; r < Shown; ++r) {
      const QTextLine Row = Layout.lineAt(r);
      if (r + 1 < Shown || Shown == Layout.lineCount()) {
        Row.draw(&Painter, Origin);
        continue;
      }
      // The last row shown, with what follows it cut to an ellipsis.
      QTextLayout Elided(Metrics.elidedText(Line.mid(Row.textStart()), Qt::ElideRight, Box.width()), Font,
                         Painter.device());
      Elided.beginLayout();
      QTextLine Single = Elided.createLine();
      Single.setLineWidth(Box.width() * 2);
      Single.setPosition(QPointF(0, Row.y()));
      Elided.endLayout();
      Single.draw(&Painter, Origin);
    }
    if (Cut) Painter.restore();
    const QTextLine Last = Layout.lineAt(Shown - 1);
    Top = std::min(Top + Last.y() + Last.height() + Leading, Limit);
  }
}

// Measuring a value shapes it as drawing it does again: most values are
// short enough to fit at the font's widest advance, which the font's own
// characters (Latin-1 ones are in every font) never exceed.
bool SurelyFits(const QString& Text, const QFontMetricsF& Metrics, double Width) {
  if (double(Text.size()) * Metrics.maxWidth() > Width) return false;
  return std::all_of(Text.begin(), Text.end(), [](QChar C) { return C.unicode() < 0x100 && C.unicode() >= 0x20; });
}

}  // namespace

void PaintReportPage(QPainter& Painter, const TReportLayout& Layout, int Page, double DeviceDpi) {
  if (Page < 0 || Page >= Layout.PageCount()) return;
  // Fonts keep their point size in layout units, whatever the device's resolution.
  std::vector<QFont> Fonts;
  std::vector<QFontMetricsF> Metrics;
  Fonts.reserve(Layout.Fonts.size());
  Metrics.reserve(Layout.Fonts.size());
  for (QFont Font : Layout.Fonts) {
    Font.setPointSizeF(Font.pointSizeF() * UnitsPerInch / DeviceDpi);
    Fonts.push_back(Font);
    Metrics.emplace_back(Font, Painter.device());
  }
  Painter.save();
  Painter.setRenderHint(QPainter::TextAntialiasing);
  Painter.setBrush(Qt::NoBrush);
  const QPen TextPen(Qt::black);
  const QPen FramePen(Qt::black, 1.0);
  const double Left = Layout.Printable.left();
  const double BandWidth = Layout.Printable.width();
  const double PageFoot = Layout.Printable.bottom();
  bool PenIsText = false;
  int FontSet = -1;
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
        PenIsText = false;
        Painter.drawRect(QRectF(Left + D.Left, Y, D.Width, E.Height));
        continue;
      }
      // Each change of state goes into the page's stream: only real ones.
      if (!PenIsText) Painter.setPen(TextPen), PenIsText = true;
      if (int(E.Font) != FontSet) Painter.setFont(Fonts[E.Font]), FontSet = E.Font;
      const QString Text = Layout.TextOf(E).toString();
      if (D.Kind == EElementKind::Label) {
        int Flags = Qt::AlignTop | E.Alignment | (D.WordWrap ? Qt::TextWordWrap : Qt::TextSingleLine);
        QRectF Box;
        QString Shown = Text;
        if (D.AlignToBand) {
          Box = QRectF(Left, Y, BandWidth, E.Height);
        } else if (D.Width > 0) {
          Box = QRectF(Left + D.Left, Y, D.Width, E.Height);
        } else {
          // Sized to its text, up to the band's right edge.
          Box = QRectF(Left + D.Left, Y, std::max(0.0, BandWidth - D.Left), E.Height);
          Flags = Qt::AlignTop | Qt::AlignLeft | Qt::TextSingleLine;
        }
        // A value wider than its box ends in an ellipsis, so that a cut
        // number never looks whole and never runs into its neighbour.
        if (!D.WordWrap && !SurelyFits(Text, Metrics[E.Font], Box.width()))
          Shown = Metrics[E.Font].elidedText(Text, Qt::ElideRight, Box.width());
        Painter.drawText(Box, Flags, Shown);
        continue;
      }
      PaintMemo(Painter, QRectF(Left + D.Left, Y, D.Width, E.Height), PageFoot, Text, Fonts[E.Font]);
    }
    if (Band.Clipped) {
      Painter.restore();  // the pen and font of before the band, too
      PenIsText = false, FontSet = -1;
    }
  }
  Painter.restore();
}

void PaintReportPageOn(QPainter& Painter, QPagedPaintDevice& Device, const TReportLayout& Layout, int Page) {
  const double Dpi = Device.logicalDpiY();
  Painter.resetTransform();
  Painter.scale(Device.logicalDpiX() / UnitsPerInch, Dpi / UnitsPerInch);
  PaintReportPage(Painter, Layout, Page, Dpi);
}

QString WriteReportPdf(const TReportLayout& Layout, QIODevice& Device) {
  QPdfWriter Writer(&Device);
  Writer.setTitle(Layout.Title);
  Writer.setCreator(QStringLiteral("Tobrinel"));
  Writer.setResolution(1200);
  Writer.setPageLayout(QPageLayout(Layout.Paper, Layout.Landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                   QMarginsF(0, 0, 0, 0)));
  QPainter Painter;
  if (!Painter.begin(&Writer)) return QStringLiteral("The PDF file could not be started.");
  for (int Page = 0; Page < Layout.PageCount(); ++Page) {
    if (Page > 0) Writer.newPage();
    PaintReportPageOn(Painter, Writer, Layout, Page);
  }
  Painter.end();
  return {};
}

QString WriteReportPdf(const TReportLayout& Layout, const QString& FileName) {
  QSaveFile File(FileName);
  if (!File.open(QIODevice::WriteOnly)) return File.errorString();
  const QString Failure = WriteReportPdf(Layout, File);
  if (!Failure.isEmpty()) {
    File.cancelWriting();
    return Failure;
  }
  if (!File.commit()) return File.errorString();
  return {};
}
