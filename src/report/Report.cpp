#include "Report.h"

void TReportElement::SetFont(const QFont& Font) {
  FFont = Font;
  ++FFontSerial;
}

QStringList TReportElement::Lines() const {
  if (Text.isEmpty()) return {};
  return Text.split(QLatin1Char('\n'));
}

int TReportElement::LineCount() const { return Text.isEmpty() ? 0 : int(Text.count(QLatin1Char('\n'))) + 1; }

TReportElement* TReportBand::Add(EElementKind ElementKind, const QString& ElementName, double Left, double Top) {
  auto Owned = std::make_unique<TReportElement>(ElementKind, ElementName);
  TReportElement* Element = Owned.get();
  Element->Band = this;
  Element->Index = int(FReport->FElements.size());
  Element->Left = Left;
  Element->Top = Top;
  Element->SetFont(FReport->DefaultFont);
  FElements.push_back(Element);
  FReport->FElements.push_back(Element);
  FReport->FOwned.push_back(std::move(Owned));
  return Element;
}

TReportElement* TReportBand::AddLabel(const QString& ElementName, double Left, double Top, const QString& Caption) {
  TReportElement* Label = Add(EElementKind::Label, ElementName, Left, Top);
  Label->Text = Caption;
  return Label;
}

TReportElement* TReportBand::AddMemo(const QString& ElementName, double Left, double Top, double Width,
                                     double ElementHeight) {
  TReportElement* Memo = Add(EElementKind::Memo, ElementName, Left, Top);
  Memo->Width = Width;
  Memo->Height = ElementHeight;
  Memo->WordWrap = true;
  return Memo;
}

TReportElement* TReportBand::AddFrame(const QString& ElementName, double Left, double Top, double Width,
                                      double ElementHeight) {
  TReportElement* Frame = Add(EElementKind::Frame, ElementName, Left, Top);
  Frame->Width = Width;
  Frame->Height = ElementHeight;
  return Frame;
}

TReport::TReport() {
  DefaultFont = QFont(QStringLiteral("Liberation Sans"));
  DefaultFont.setPointSizeF(10);
}

TReport::~TReport() = default;

TReportBand* TReport::AddBand(EBandKind Kind, const QString& Name, double Height, TReportBand* Master) {
  FBands.push_back(std::make_unique<TReportBand>(Kind, Name));
  TReportBand* Band = FBands.back().get();
  Band->FReport = this;
  Band->Index = int(FBands.size()) - 1;
  Band->Height = Height;
  Band->Master = Master;
  return Band;
}

TReportBand* TReport::Band(const QString& Name) const {
  for (const auto& Band : FBands)
    if (Band->Name == Name) return Band.get();
  return nullptr;
}

TReportElement* TReport::Element(const QString& Name) const {
  for (TReportElement* Element : FElements)
    if (Element->Name == Name) return Element;
  return nullptr;
}

QSizeF TReport::PageSizeUnits() const {
  const QSizeF Mm = PageSize.size(QPageSize::Millimeter);
  const QSizeF Units(MillimetresToUnits(Mm.width()), MillimetresToUnits(Mm.height()));
  return Landscape ? Units.transposed() : Units;
}

QRectF TReport::PrintableUnits() const {
  const QSizeF Page = PageSizeUnits();
  const double Left = MillimetresToUnits(MarginLeft), Top = MillimetresToUnits(MarginTop);
  return QRectF(Left, Top, Page.width() - Left - MillimetresToUnits(MarginRight),
                Page.height() - Top - MillimetresToUnits(MarginBottom));
}
