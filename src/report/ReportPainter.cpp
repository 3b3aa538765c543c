#include "ReportPainter.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextLayout>
#include <algorithm>

namespace {

// What is kept laid out at most: a page holds a few hundred texts, and most
// of those that come back do so on the next pages.
constexpr size_t MaxShaped = 4096;

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
void PaintMemo(QPainter& Painter, const QRectF& Box, double Bottom, const QString& Text, const QFont& Font,
               const QFontMetricsF& Metrics, uint16_t FontIndex, TShapedTexts& Shaped) {
  const double Leading = std::max(0.0, Metrics.leading());
  const QList<QStringView> Lines = QStringView(Text).split(QLatin1Char('\n'));
  const double Share = Box.height() / double(Lines.size());
  double Top = Box.top();
  for (qsizetype i = 0; i < Lines.size() && Top < Bottom; ++i) {
    const double Limit = std::min(Box.bottom() - double(Lines.size() - 1 - i) * Share, Bottom);
    const QString Line = ExpandTabs(Lines[i]);
    if (Line.isEmpty()) {
      Top = std::min(Top + Metrics.height() + Leading, Limit);
      continue;
    }
    const QTextLayout& Layout = Shaped.Get(Line, FontIndex, Font, Painter.device(), Box.width());
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

// A caption or value in one row, placed in its box as QPainter::drawText
// places it (clipped to the box where it overhangs), from the text as laid
// out before. False, with nothing painted, where drawText would do more than
// place a row: a line break, a tab, or a space at either end (kept or
// dropped by the flags).
bool PaintShapedLabel(QPainter& Painter, const QRectF& Box, int Flags, const QString& Text, uint16_t FontIndex,
                      TShapedTexts& Shaped) {
  if (Text.isEmpty() || Text.front().isSpace() || Text.back().isSpace()) return false;
  for (const QChar C : Text)
    if (C.unicode() < 0x20 || C == QChar::LineSeparator || C == QChar::ParagraphSeparator) return false;
  const QTextLayout& Layout = Shaped.Get(Text, FontIndex, Painter.font(), Painter.device(), 0);
  if (Layout.lineCount() != 1) return false;
  const QTextLine Row = Layout.lineAt(0);
  const double Height = Row.ascent() + Row.descent();
  const double Width = Row.naturalTextWidth();
  double X = 0, Y = 0;
  if (Flags & Qt::AlignRight) X = Box.width() - Width;
  else if (Flags & Qt::AlignHCenter) X = (Box.width() - Width) / 2;
  if (Flags & Qt::AlignBottom) Y = Box.height() - Height;
  else if (Flags & Qt::AlignVCenter) Y = (Box.height() - Height) / 2;
  const bool Clip = !Box.contains(QRectF(Box.x() + X, Box.y() + Y, Width, Height));
  if (Clip) {
    Painter.save();
    Painter.setClipRect(Box, Qt::IntersectClip);
  }
  if (Flags & Qt::AlignRight) X = Box.width() - Row.horizontalAdvance();
  else if (Flags & Qt::AlignHCenter) X = (Box.width() - Row.horizontalAdvance()) / 2;
  else X = 0;
  Row.draw(&Painter, QPointF(Box.x() + X, Box.y() + Y));
  if (Clip) Painter.restore();
  return true;
}

}  // namespace

TShapedTexts::TShapedTexts() = default;
TShapedTexts::~TShapedTexts() = default;

size_t TShapedTexts::THash::operator()(const TKey& Key) const { return qHash(Key.Text, qHash(Key.Width, Key.Font)); }

void TShapedTexts::Use(const TReportLayout& Layout, double DeviceDpi) {
  if (For == &Layout && Dpi == DeviceDpi) return;
  Layouts.clear();
  For = &Layout;
  Dpi = DeviceDpi;
}

const QTextLayout& TShapedTexts::Get(const QString& Text, uint16_t FontIndex, const QFont& Font, QPaintDevice* Device,
                                     double Width) {
  TKey Key{Text, FontIndex, Width};
  if (auto Found = Layouts.find(Key); Found != Layouts.end()) return *Found->second;
  if (Layouts.size() >= MaxShaped) Layouts.clear();
  auto Layout = std::make_unique<QTextLayout>(Text, Font, Device);
  Layout->setCacheEnabled(true);  // else the glyphs are dropped at endLayout and shaped again to paint
  QTextOption Option(Qt::AlignLeft);
  if (Width > 0) {
    Option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  } else {
    // As the painter's drawText: in the direction of the first letter that has one, left-aligned in any case.
    Option.setWrapMode(QTextOption::ManualWrap);
    Option.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
    Option.setTextDirection(Text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
  }
  Layout->setTextOption(Option);
  const double Leading = std::max(0.0, QFontMetricsF(Font, Device).leading());
  Layout->beginLayout();
  double Y = 0;
  for (QTextLine Row = Layout->createLine(); Row.isValid(); Row = Layout->createLine()) {
    if (Width > 0) Row.setLineWidth(Width);
    Row.setPosition(QPointF(0, Y));
    Y += Row.height() + Leading;
  }
  Layout->endLayout();
  return *Layouts.emplace(std::move(Key), std::move(Layout)).first->second;
}

void PaintReportPage(QPainter& Painter, const TReportLayout& Layout, int Page, double DeviceDpi, TShapedTexts* Shaped) {
  if (Page < 0 || Page >= Layout.PageCount()) return;
  TShapedTexts PageOnly;
  TShapedTexts& Texts = Shaped ? *Shaped : PageOnly;
  Texts.Use(Layout, DeviceDpi);
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
        if (!PaintShapedLabel(Painter, Box, Flags, Shown, E.Font, Texts)) Painter.drawText(Box, Flags, Shown);
        continue;
      }
      PaintMemo(Painter, QRectF(Left + D.Left, Y, D.Width, E.Height), PageFoot, Text, Fonts[E.Font], Metrics[E.Font],
                E.Font, Texts);
    }
    if (Band.Clipped) {
      Painter.restore();  // the pen and font of before the band, too
      PenIsText = false, FontSet = -1;
    }
  }
  Painter.restore();
}

void PaintReportPageOn(QPainter& Painter, QPagedPaintDevice& Device, const TReportLayout& Layout, int Page,
                       TShapedTexts* Shaped) {
  const double Dpi = Device.logicalDpiY();
  Painter.resetTransform();
  Painter.scale(Device.logicalDpiX() / UnitsPerInch, Dpi / UnitsPerInch);
  PaintReportPage(Painter, Layout, Page, Dpi, Shaped);
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
  TShapedTexts Shaped;
  for (int Page = 0; Page < Layout.PageCount(); ++Page) {
    if (Page > 0) Writer.newPage();
    PaintReportPageOn(Painter, Writer, Layout, Page, &Shaped);
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
