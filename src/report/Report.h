#pragma once

#include <QFont>
#include <QPageSize>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// A banded report: the design of its pages, bands and elements, filled through
// need-data callbacks. Laying it out (ReportLayout.h) turns it into pages;
// nothing here paints. Positions and sizes are layout units of 1/96 inch,
// measured from the band's top-left corner.

enum class EBandKind { PageHeader, Title, Detail, SubDetail, PageFooter };
enum class EElementKind { Label, Memo, Frame };

class TReport;
class TReportBand;

class TReportElement {
public:
  TReportElement(EElementKind AKind, QString AName) : Kind(AKind), Name(std::move(AName)) {}

  const EElementKind Kind;
  const QString Name;
  TReportBand* Band = nullptr;
  int Index = 0;  // in the report's order of elements

  double Left = 0;
  double Top = 0;
  // 0: a label is as wide as its text.
  double Width = 0;
  // Memos and frames; a label is as high as its text.
  double Height = 0;
  bool Visible = true;
  // Labels: left, centre or right within the label's box, or within the whole
  // band width when aligned to the band.
  Qt::Alignment Alignment = Qt::AlignLeft;
  bool AlignToBand = false;
  bool WordWrap = false;
  // A stretching label grows its band to fit its wrapped text; what lies
  // below it in the band moves down with it.
  bool Stretch = false;

  // A label's caption, or a memo's lines joined with line feeds.
  QString Text;

  const QFont& Font() const { return FFont; }
  void SetFont(const QFont& Font);
  // Changes each time the font is set, so a layout notices without comparing fonts.
  unsigned FontSerial() const { return FFontSerial; }

  // Memos.
  void SetLines(const QStringList& Lines) { Text = Lines.join(QLatin1Char('\n')); }
  QStringList Lines() const;
  int LineCount() const;

private:
  QFont FFont;
  unsigned FFontSerial = 0;
};

class TReportBand {
public:
  TReportBand(EBandKind AKind, QString AName) : Kind(AKind), Name(std::move(AName)) {}

  const EBandKind Kind;
  const QString Name;
  int Index = 0;  // in the report's order of bands
  double Height = 0;
  // A hidden band, or one of height 0, prints nothing and takes no room.
  bool Visible = true;
  // Sub-detail bands: the band whose records this one follows; none means the
  // report's own records.
  TReportBand* Master = nullptr;
  // The band that must land on the same page after this one: the fit check
  // adds its height, and that of its own link.
  TReportBand* LinkBand = nullptr;
  // Sub-detail bands: called until it leaves More false. The first call of a
  // series comes with More true, each later one with More false. Without it,
  // the band prints once per record of its master.
  std::function<void(TReportBand& Band, bool& More)> OnNeedData;
  // A band whose memos hold more lines than the rest of the page has room
  // for prints what fits and goes on on the next page, after its header;
  // there OnContinued is called first (to mark what follows as continued),
  // then ContinuedBand, when set, is printed before the rest of the lines.
  std::function<void(TReportBand& Band)> OnContinued;
  TReportBand* ContinuedBand = nullptr;

  const std::vector<TReportElement*>& Elements() const { return FElements; }
  TReportElement* AddLabel(const QString& Name, double Left, double Top, const QString& Caption = {});
  TReportElement* AddMemo(const QString& Name, double Left, double Top, double Width, double Height);
  TReportElement* AddFrame(const QString& Name, double Left, double Top, double Width, double Height);

private:
  friend class TReport;
  TReportElement* Add(EElementKind Kind, const QString& Name, double Left, double Top);
  TReport* FReport = nullptr;
  std::vector<TReportElement*> FElements;
};

class TReport {
public:
  TReport();
  ~TReport();
  TReport(const TReport&) = delete;
  TReport& operator=(const TReport&) = delete;

  // The document's name, for print queues and PDF files.
  QString Title;
  // Page set-up.
  QPageSize PageSize{QPageSize::A4};
  bool Landscape = false;
  // Millimetres on the four sides.
  double MarginLeft = 10, MarginTop = 10, MarginRight = 10, MarginBottom = 10;
  // The font an element starts with.
  QFont DefaultFont;

  // The record feed: called before the first record and after each one; it
  // answers whether another record follows and fills that record's bands.
  // Without it the report has one record.
  std::function<void(TReport& Report, bool& More)> OnNeedData;

  TReportBand* AddBand(EBandKind Kind, const QString& Name, double Height, TReportBand* Master = nullptr);
  const std::vector<std::unique_ptr<TReportBand>>& Bands() const { return FBands; }
  const std::vector<TReportElement*>& Elements() const { return FElements; }

  // By name; nullptr when there is none.
  TReportBand* Band(const QString& Name) const;
  TReportElement* Element(const QString& Name) const;

  // The page and its printable area, in layout units.
  QSizeF PageSizeUnits() const;
  QRectF PrintableUnits() const;

private:
  friend class TReportBand;
  std::vector<std::unique_ptr<TReportBand>> FBands;
  std::vector<TReportElement*> FElements;  // every band's, in the order added
  std::vector<std::unique_ptr<TReportElement>> FOwned;
};

constexpr double UnitsPerInch = 96.0;
constexpr double MillimetresToUnits(double Mm) { return Mm * UnitsPerInch / 25.4; }
