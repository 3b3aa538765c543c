#include "ReportLayout.h"

#include <QFontMetricsF>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "FontCoverage.h"

const char* const MissingCharactersText =
    "Some characters in this list cannot be printed with the fonts installed: install fonts-noto-cjk";

size_t TReportLayout::MemoryBytes() const {
  return sizeof(*this) + size_t(Text.capacity()) * sizeof(QChar) + Pages.capacity() * sizeof(TLayoutPage) +
         Bands.capacity() * sizeof(TPlacedBand) + Elements.capacity() * sizeof(TPlacedElement) +
         Design.capacity() * sizeof(TElementDesign);
}

namespace {

// Text is measured as it will be painted: at 96 dots per inch, one dot per
// layout unit.
class TMeasure {
public:
  TMeasure() : FDevice(1, 1, QImage::Format_Mono) {
    const int DotsPerMetre = qRound(UnitsPerInch / 0.0254);
    FDevice.setDotsPerMeterX(DotsPerMetre);
    FDevice.setDotsPerMeterY(DotsPerMetre);
  }
  QFontMetricsF Metrics(const QFont& Font) const { return QFontMetricsF(Font, &FDevice); }

  bool LacksGlyphs(const QString& Text, const QFont& Font) { return FCoverage.LacksGlyphs(Text, Font); }

private:
  QImage FDevice;
  TFontCoverage FCoverage{&FDevice};
};

// What the layout last knew of an element, so that unchanged fonts and texts
// are neither measured nor stored again.
struct TElementCache {
  unsigned FontSerial = ~0u;
  uint16_t Font = 0;
  double LineHeight = 0;
  uint32_t TextStart = 0;
  uint32_t TextLength = 0;
  bool HasText = false;
  QString WrappedText;
  double WrappedWidth = -1;
  double WrappedHeight = 0;
};

class TLayoutRun {
public:
  TLayoutRun(TReport& Report, TReportLayout& Layout) : R(Report), L(Layout), FCache(Report.Elements().size()) {
    if (R.Elements().size() > 0xFFFF || R.Bands().size() > 0xFFFF)
      throw std::length_error("report has too many bands or elements");
    L.Title = R.Title;
    L.Paper = R.PageSize;
    L.Landscape = R.Landscape;
    L.PageSize = R.PageSizeUnits();
    L.Printable = R.PrintableUnits();
    FBodyHeight = L.Printable.height();
    FBandWidth = L.Printable.width();
    for (const TReportElement* E : R.Elements())
      L.Design.push_back({E->Kind, float(E->Left), float(E->Width), E->AlignToBand, E->WordWrap, E->Name});
    FSubDetails.resize(R.Bands().size());
    for (const auto& Band : R.Bands()) {
      L.BandNames.push_back(Band->Name);
      if (Band->Kind != EBandKind::SubDetail) continue;
      if (Band->Master) FSubDetails[Band->Master->Index].push_back(Band.get());
      else FReportSubDetails.push_back(Band.get());
    }
  }

  void Run() {
    OpenPage();
    bool More = true;
    if (R.OnNeedData) R.OnNeedData(R, More);
    while (More) {
      for (const auto& Band : R.Bands())
        if (Band->Kind == EBandKind::Detail) Place(*Band);
      RunSubDetails(FReportSubDetails);
      if (!R.OnNeedData) break;
      More = true;
      R.OnNeedData(R, More);
    }
    ClosePage();
  }

private:
  void RunSubDetails(const std::vector<TReportBand*>& Bands) {
    for (TReportBand* Band : Bands) {
      if (!Band->OnNeedData) {
        Place(*Band);
        RunSubDetails(FSubDetails[Band->Index]);
        continue;
      }
      bool More = true;
      for (;;) {
        Band->OnNeedData(*Band, More);
        if (!More) break;
        Place(*Band);
        RunSubDetails(FSubDetails[Band->Index]);
        More = false;
      }
    }
  }

  static bool TakesRoom(const TReportBand& Band) { return Band.Visible && Band.Height > 0; }

  void OpenPage() {
    L.Pages.push_back({uint32_t(L.Bands.size()), 0});
    FY = 0;
    for (const auto& Band : R.Bands())
      if (Band->Kind == EBandKind::PageHeader) Put(*Band, Measure(*Band));
    if (L.Pages.size() == 1)
      for (const auto& Band : R.Bands())
        if (Band->Kind == EBandKind::Title) Put(*Band, Measure(*Band));
    FContentTop = FY;
    double Footer = 0;
    for (const auto& Band : R.Bands())
      if (Band->Kind == EBandKind::PageFooter) Footer += Measure(*Band);
    FFooterTop = FBodyHeight - Footer;
  }

  void ClosePage() {
    double Footer = 0;
    for (const auto& Band : R.Bands())
      if (Band->Kind == EBandKind::PageFooter) Footer += Measure(*Band);
    FY = FBodyHeight - Footer;
    for (const auto& Band : R.Bands())
      if (Band->Kind == EBandKind::PageFooter) Put(*Band, Measure(*Band));
  }

  // A band that does not fit together with the bands linked to it starts a
  // new page, unless it already stands at the top of one.
  void Place(TReportBand& Band) {
    if (!TakesRoom(Band)) return;
    const double Height = Measure(Band);
    // Taller than the room of a whole page: it would lose its end anywhere.
    if (FY + Height > FFooterTop && Height > FFooterTop - FContentTop && Splittable(Band))
      return PlaceSplitting(Band, Height);
    // Links that could not share even an empty page with it are not waited for.
    const double Room = FFooterTop - FContentTop;
    double Needed = Height;
    size_t Steps = 0;
    for (const TReportBand* Link = Band.LinkBand; Link && Steps < R.Bands().size(); Link = Link->LinkBand, ++Steps) {
      if (!TakesRoom(*Link)) continue;
      if (Needed + Link->Height > Room) break;
      Needed += Link->Height;
    }
    if (FY + Needed > FFooterTop && FY > FContentTop) {
      ClosePage();
      OpenPage();
    }
    Put(Band, Height);
  }

  // Memo lines, the unit of a band that goes on over a page break.
  static bool Splittable(const TReportBand& Band) {
    for (const TReportElement* E : Band.Elements())
      if (E->Kind == EElementKind::Memo && E->Visible && E->LineCount() > 1) return true;
    return false;
  }

  // Whatever of the band fits on this page, and the rest on the pages after,
  // each part ending above the page footer. The memos' lines are split
  // between the parts; the band's other elements print with the first part.
  void PlaceSplitting(TReportBand& Band, double Height) {
    int Lines = 0;
    double Unit = 0, MemoTop = Height;
    for (const TReportElement* E : Band.Elements()) {
      if (E->Kind != EElementKind::Memo || !E->Visible || E->LineCount() == 0) continue;
      Lines = std::max(Lines, E->LineCount());
      Unit = std::max(Unit, E->Height / E->LineCount());
      MemoTop = std::min(MemoTop, E->Top);
    }
    const double Below = std::max(0.0, Height - MemoTop - Unit * Lines);  // room under the lines
    for (int First = 0; First < Lines;) {
      int Fit = Unit > 0 ? int(std::floor((FFooterTop - FY - MemoTop + 0.01) / Unit)) : Lines;
      if (Fit < 1 && FY > FContentTop) {
        ContinuePage(Band, First > 0);
        continue;
      }
      Fit = std::max(Fit, 1);  // a page with no room for a single line still shows one
      const int Count = std::min(Fit, Lines - First);
      const bool Last = First + Count == Lines;
      double PartHeight = MemoTop + Unit * Count;
      if (Last) PartHeight = std::min(PartHeight + Below, std::max(PartHeight, FFooterTop - FY));
      PutPart(Band, PartHeight, First, Count, Unit);
      First += Count;
      if (!Last) ContinuePage(Band, true);
    }
  }

  void ContinuePage(TReportBand& Band, bool Continued) {
    ClosePage();
    OpenPage();
    if (!Continued) return;
    if (Band.OnContinued) Band.OnContinued(Band);
    if (Band.ContinuedBand && TakesRoom(*Band.ContinuedBand)) Put(*Band.ContinuedBand, Measure(*Band.ContinuedBand));
  }

  // Part of a band: its memos' lines First to First + Count, the other
  // elements only in the first part.
  void PutPart(TReportBand& Band, double Height, int First, int Count, double Unit) {
    TPlacedBand Placed;
    Placed.Top = float(FY);
    Placed.Height = float(Height);
    Placed.FirstElement = uint32_t(L.Elements.size());
    Placed.Band = uint16_t(Band.Index);
    for (TReportElement* E : Band.Elements()) {
      if (!E->Visible || (E->Kind != EElementKind::Frame && E->Text.isEmpty())) continue;
      TPlacedElement P;
      P.Element = uint16_t(E->Index);
      P.Font = FontOf(*E).Font;
      P.Alignment = uint8_t(E->Alignment & Qt::AlignHorizontal_Mask);
      if (E->Kind != EElementKind::Memo) {
        if (First > 0) continue;
        P.Top = float(E->Top);
        P.Height = float(E->Kind == EElementKind::Label ? LabelHeight(*E) : E->Height);
        StoreText(*E, P);
      } else {
        const QStringList Lines = E->Lines().mid(First, Count);
        if (Lines.isEmpty()) continue;
        P.Top = float(First > 0 ? 0 : E->Top);
        P.Height = float(Unit * Lines.size());
        const QString Text = Lines.join(QLatin1Char('\n'));
        if (size_t(L.Text.size()) + size_t(Text.size()) > 0xFFFFFFFFu) throw std::length_error("report text too long");
        P.TextStart = uint32_t(L.Text.size());
        P.TextLength = uint32_t(Text.size());
        L.Text += Text;
        if (!L.MissingCharacters) L.MissingCharacters = FMeasure.LacksGlyphs(Text, E->Font());
      }
      L.Elements.push_back(P);
    }
    Placed.ElementCount = uint16_t(L.Elements.size() - Placed.FirstElement);
    L.Bands.push_back(Placed);
    ++L.Pages.back().BandCount;
    FY += Height;
  }

  // The band's height with its stretching labels grown to their text.
  double Measure(TReportBand& Band) {
    if (!TakesRoom(Band)) return 0;
    double Height = Band.Height;
    for (TReportElement* E : Band.Elements())
      if (IsStretching(*E)) Height += Growth(*E);
    return Height;
  }

  static bool IsStretching(const TReportElement& E) {
    return E.Kind == EElementKind::Label && E.Visible && E.WordWrap && E.Stretch && !E.Text.isEmpty();
  }

  double LabelBoxWidth(const TReportElement& E) const {
    if (E.AlignToBand) return FBandWidth;
    return E.Width > 0 ? E.Width : 0;
  }

  TElementCache& FontOf(const TReportElement& E) {
    TElementCache& C = FCache[E.Index];
    if (C.FontSerial != E.FontSerial()) {
      C.FontSerial = E.FontSerial();
      C.LineHeight = FMeasure.Metrics(E.Font()).height();
      auto Found = std::find(L.Fonts.begin(), L.Fonts.end(), E.Font());
      if (Found == L.Fonts.end()) {
        if (L.Fonts.size() > 0xFFFF) throw std::length_error("report uses too many fonts");
        Found = L.Fonts.insert(L.Fonts.end(), E.Font());
      }
      C.Font = uint16_t(Found - L.Fonts.begin());
      C.WrappedWidth = -1;
    }
    return C;
  }

  double LabelHeight(const TReportElement& E) {
    TElementCache& C = FontOf(E);
    const double Width = LabelBoxWidth(E);
    if (!E.WordWrap || Width <= 0) return C.LineHeight;
    if (C.WrappedWidth != Width || C.WrappedText != E.Text) {
      const QRectF Box = FMeasure.Metrics(E.Font()).boundingRect(
          QRectF(0, 0, Width, 1e6), int(Qt::TextWordWrap | (E.Alignment & Qt::AlignHorizontal_Mask)), E.Text);
      C.WrappedText = E.Text;
      C.WrappedWidth = Width;
      C.WrappedHeight = std::max(Box.height(), C.LineHeight);
    }
    return C.WrappedHeight;
  }

  double Growth(const TReportElement& E) { return std::max(0.0, LabelHeight(E) - FontOf(E).LineHeight); }

  void Put(TReportBand& Band, double Height) {
    if (!TakesRoom(Band)) return;
    TPlacedBand Placed;
    Placed.Top = float(FY);
    Placed.Height = float(Height);
    if (FY + Height > FBodyHeight) {
      Placed.Height = float(std::max(0.0, FBodyHeight - FY));
      Placed.Clipped = true;
    }
    Placed.FirstElement = uint32_t(L.Elements.size());
    Placed.Band = uint16_t(Band.Index);
    // Stretching labels push down what lies below them.
    FGrowths.clear();
    for (TReportElement* E : Band.Elements())
      if (IsStretching(*E)) FGrowths.push_back({E->Top + FontOf(*E).LineHeight, Growth(*E)});
    for (TReportElement* E : Band.Elements()) {
      if (!E->Visible || (E->Kind != EElementKind::Frame && E->Text.isEmpty())) continue;
      TPlacedElement P;
      double Shift = 0;
      for (const auto& [Below, By] : FGrowths)
        if (E->Top >= Below) Shift += By;
      P.Top = float(E->Top + Shift);
      P.Height = float(E->Kind == EElementKind::Label ? LabelHeight(*E) : E->Height);
      P.Element = uint16_t(E->Index);
      P.Font = FontOf(*E).Font;
      P.Alignment = uint8_t(E->Alignment & Qt::AlignHorizontal_Mask);
      StoreText(*E, P);
      L.Elements.push_back(P);
    }
    Placed.ElementCount = uint16_t(L.Elements.size() - Placed.FirstElement);
    L.Bands.push_back(Placed);
    ++L.Pages.back().BandCount;
    FY += Height;
  }

  void StoreText(const TReportElement& E, TPlacedElement& P) {
    TElementCache& C = FCache[E.Index];
    const QStringView Last = QStringView(L.Text).mid(C.TextStart, C.TextLength);
    if (!C.HasText || Last != E.Text) {
      if (size_t(L.Text.size()) + size_t(E.Text.size()) > 0xFFFFFFFFu) throw std::length_error("report text too long");
      C.TextStart = uint32_t(L.Text.size());
      C.TextLength = uint32_t(E.Text.size());
      C.HasText = true;
      L.Text += E.Text;
      if (!L.MissingCharacters) L.MissingCharacters = FMeasure.LacksGlyphs(E.Text, E.Font());
    }
    P.TextStart = C.TextStart;
    P.TextLength = C.TextLength;
  }

  TReport& R;
  TReportLayout& L;
  TMeasure FMeasure;
  std::vector<TElementCache> FCache;
  std::vector<std::vector<TReportBand*>> FSubDetails;
  std::vector<TReportBand*> FReportSubDetails;
  std::vector<std::pair<double, double>> FGrowths;
  double FBodyHeight = 0;
  double FBandWidth = 0;
  double FY = 0;
  double FContentTop = 0;
  double FFooterTop = 0;
};

}  // namespace

TReportLayout LayOutReport(TReport& Report) {
  TReportLayout Layout;
  TLayoutRun(Report, Layout).Run();
  Layout.Text.squeeze();
  Layout.Elements.shrink_to_fit();
  Layout.Bands.shrink_to_fit();
  return Layout;
}
