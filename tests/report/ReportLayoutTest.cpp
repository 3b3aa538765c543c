// The report engine's pagination, read back from the layout without painting.
#include <QFontMetricsF>
#include <QImage>
#include <gtest/gtest.h>

#include "LayoutProbe.h"
#include "Report.h"
#include "ReportLayout.h"

namespace {

std::vector<std::string> Names(const std::vector<TProbeBand>& Bands) {
  std::vector<std::string> Result;
  for (const auto& Band : Bands) Result.push_back(Band.Name);
  return Result;
}

// A report fed with Records records.
void Feed(TReport& Report, int Records) {
  auto Left = std::make_shared<int>(Records);
  Report.OnNeedData = [Left](TReport&, bool& More) { More = (*Left)-- > 0; };
}

}  // namespace

TEST(ReportLayout, SubDetailSeriesRunsUntilItsCallbackSaysNoAndRunsItsOwnSubDetailsEachTime) {
  TReport Report;
  Feed(Report, 2);
  Report.AddBand(EBandKind::Detail, QStringLiteral("D"), 10);
  TReportBand* S = Report.AddBand(EBandKind::SubDetail, QStringLiteral("S"), 10);
  Report.AddBand(EBandKind::SubDetail, QStringLiteral("C"), 10, S);  // no callback: once per S
  std::vector<bool> Incoming;
  int Calls = 0;
  S->OnNeedData = [&](TReportBand&, bool& More) {
    Incoming.push_back(More);
    // Two records per series, then no more; a later call left alone also ends it.
    if (++Calls % 3 == 0) More = false;
    else if (Calls % 3 == 2) More = true;
  };
  const TReportLayout Layout = LayOutReport(Report);
  EXPECT_EQ(Names(ProbeBands(Layout)), (std::vector<std::string>{"D", "S", "C", "S", "C", "D", "S", "C", "S", "C"}));
  EXPECT_EQ(Incoming, (std::vector<bool>{true, false, false, true, false, false}));

  // A callback that never touches More gets one record per series.
  S->OnNeedData = [](TReportBand&, bool&) {};
  Feed(Report, 1);
  EXPECT_EQ(Names(ProbeBands(LayOutReport(Report))), (std::vector<std::string>{"D", "S", "C"}));
  // A report without a feed has one record.
  Report.OnNeedData = nullptr;
  EXPECT_EQ(Names(ProbeBands(LayOutReport(Report))), (std::vector<std::string>{"D", "S", "C"}));
}

TEST(ReportLayout, HeadersFootersAndTitleFrameEveryPageAndHiddenBandsTakeNoRoom) {
  TReport Report;
  const double Body = Report.PrintableUnits().height();
  Report.AddBand(EBandKind::PageFooter, QStringLiteral("F"), 40);
  Report.AddBand(EBandKind::PageHeader, QStringLiteral("H"), 50);
  Report.AddBand(EBandKind::Title, QStringLiteral("T"), 30);
  TReportBand* D = Report.AddBand(EBandKind::Detail, QStringLiteral("D"), 100);
  int Record = 0;
  Report.OnNeedData = [&](TReport&, bool& More) {
    More = Record < 30;
    ++Record;
    D->Visible = Record % 3 != 0;
    D->Height = Record % 5 == 0 ? 0 : 100;
  };
  const auto Bands = ProbeBands(LayOutReport(Report));
  int Details = 0;
  double Y = 0;
  int Page = -1;
  for (size_t i = 0; i < Bands.size(); ++i) {
    const TProbeBand& B = Bands[i];
    if (B.Page != Page) {
      // Each page: the header at the top, the title on the first page only.
      Page = B.Page;
      EXPECT_EQ(B.Name, "H");
      EXPECT_EQ(B.Top, 0);
      Y = 50;
      continue;
    }
    if (B.Name == "T") {
      EXPECT_EQ(B.Page, 0);
    }
    if (B.Name == "F") {
      EXPECT_NEAR(B.Top, Body - 40, 0.01);
      EXPECT_TRUE(i + 1 == Bands.size() || Bands[i + 1].Page == Page + 1) << "footer ends page " << Page;
      continue;
    }
    // Bands follow one another without gaps and never reach into the footer.
    EXPECT_NEAR(B.Top, Y, 0.01) << B.Name << " on page " << Page;
    Y += B.Height;
    EXPECT_LE(Y, Body - 40 + 0.01);
    Details += B.Name == "D";
  }
  // 30 records; every third hidden, every fifth of height 0, the fifteenth both.
  EXPECT_EQ(Details, 30 - 10 - 6 + 2);
  EXPECT_EQ(Bands.back().Name, "F");
  EXPECT_GT(Page, 0);
}

TEST(ReportLayout, LinkedBandsStartANewPageTogetherAndAnOversizedBandIsCutNotRepeated) {
  TReport Report;
  const double Body = Report.PrintableUnits().height();
  TReportBand* Filler = Report.AddBand(EBandKind::Detail, QStringLiteral("Filler"), Body - 100);
  TReportBand* Name = Report.AddBand(EBandKind::SubDetail, QStringLiteral("Name"), 40);
  TReportBand* Numbers = Report.AddBand(EBandKind::SubDetail, QStringLiteral("Numbers"), 50, Name);
  TReportBand* Address = Report.AddBand(EBandKind::SubDetail, QStringLiteral("Address"), 30, Numbers);
  Name->LinkBand = Numbers;
  Numbers->LinkBand = Address;
  Feed(Report, 1);
  // 40 + 50 + 30 does not fit in the 100 left: the name band moves on.
  auto Bands = ProbeBands(LayOutReport(Report));
  ASSERT_EQ(Names(Bands), (std::vector<std::string>{"Filler", "Name", "Numbers", "Address"}));
  EXPECT_EQ(Bands[1].Page, 1);
  EXPECT_EQ(Bands[1].Top, 0);

  // Without the address band's link, name and numbers fit; the address follows alone.
  Numbers->LinkBand = nullptr;
  Feed(Report, 1);
  Bands = ProbeBands(LayOutReport(Report));
  EXPECT_EQ(Bands[1].Page, 0);
  EXPECT_EQ(Bands[2].Page, 0);
  EXPECT_EQ(Bands[3].Page, 1);

  // A link that could not fit even on an empty page is not waited for; a
  // band taller than a page starts one and is cut at its foot.
  Numbers->LinkBand = Address;
  Filler->Height = 10;
  Address->Height = Body * 3;
  Feed(Report, 1);
  const TReportLayout Layout = LayOutReport(Report);
  Bands = ProbeBands(Layout);
  ASSERT_EQ(Bands.size(), 4u);
  EXPECT_EQ(Bands[1].Page, 0);
  EXPECT_EQ(Bands[2].Page, 0);
  EXPECT_EQ(Bands[3].Page, 1);
  EXPECT_NEAR(Bands[3].Height, Body, 0.01);
  EXPECT_TRUE(PlacedBand(Layout, 1, 0).Clipped);
}

TEST(ReportLayout, StretchingLabelGrowsItsBandAndPushesDownWhatIsBelow) {
  TReport Report;
  TReportBand* Title = Report.AddBand(EBandKind::Title, QStringLiteral("T"), 35);
  TReportElement* Text = Title->AddLabel(QStringLiteral("Text"), 0, 8);
  Text->AlignToBand = Text->WordWrap = Text->Stretch = true;
  Title->AddLabel(QStringLiteral("Below"), 0, 27, QStringLiteral("below"));
  Report.AddBand(EBandKind::Detail, QStringLiteral("D"), 10);
  Report.OnNeedData = nullptr;

  auto Laid = [&](const QString& Caption) {
    Text->Text = Caption;
    return LayOutReport(Report);
  };
  TReportLayout Short = Laid(QString());
  EXPECT_EQ(PlacedBand(Short, 0, 0).Height, 35) << "an empty text keeps the band's height";
  Short = Laid(QStringLiteral("One line"));
  EXPECT_EQ(PlacedBand(Short, 0, 0).Height, 35);
  const TReportLayout Long = Laid(QStringLiteral("word ").repeated(200));
  const TPlacedBand& Band = PlacedBand(Long, 0, 0);
  const double Growth = Band.Height - 35;
  EXPECT_GT(Growth, 40) << "a thousand characters wrap to several lines";
  EXPECT_NEAR(FindElement(Long, Band, "Below")->Top, 27 + Growth, 0.01);
  EXPECT_NEAR(FindElement(Long, Band, "Text")->Height,
              FindElement(Short, PlacedBand(Short, 0, 0), "Text")->Height + Growth, 0.01);
  EXPECT_NEAR(PlacedBand(Long, 0, 1).Top, Band.Height, 0.01) << "the next band moves down too";
}

namespace {

// A page of 768 by 960 units with no margins, so that heights add up exactly.
void WholeUnitPage(TReport& Report) {
  Report.PageSize = QPageSize(QSizeF(8, 10), QPageSize::Inch);
  Report.MarginLeft = Report.MarginTop = Report.MarginRight = Report.MarginBottom = 0;
}

}  // namespace

TEST(ReportLayout, PageBreaksAtTheEdges) {
  struct TCase {
    const char* Name;
    double Filler;  // a detail band before the linked bands; 0 for none
    double NameHeight, NumbersHeight, AddressHeight;
    std::vector<int> Pages;  // of Filler (when there is one), Name, Numbers, Address
  } Cases[] = {
      // Standing first on its page, a band taller than a page is cut there,
      // with no empty page before it.
      {"oversized band first on the first page", 0, 2000, 10, 10, {0, 1, 1}},
      // Linked bands that fill an empty page to the unit are not parted.
      {"linked bands fill an empty page exactly", 100, 300, 300, 360, {0, 1, 1, 1}},
      {"one unit more parts them", 100, 300, 300, 361, {0, 0, 1, 1}},
      {"linked bands fill what is left exactly", 100, 300, 300, 260, {0, 0, 0, 0}},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TReport Report;
    WholeUnitPage(Report);
    ASSERT_EQ(Report.PrintableUnits().height(), 960);
    if (Case.Filler > 0) Report.AddBand(EBandKind::Detail, QStringLiteral("Filler"), Case.Filler);
    TReportBand* Name = Report.AddBand(EBandKind::SubDetail, QStringLiteral("Name"), Case.NameHeight);
    TReportBand* Numbers = Report.AddBand(EBandKind::SubDetail, QStringLiteral("Numbers"), Case.NumbersHeight, Name);
    Name->LinkBand = Numbers;
    Numbers->LinkBand = Report.AddBand(EBandKind::SubDetail, QStringLiteral("Address"), Case.AddressHeight, Numbers);
    Feed(Report, 1);
    const TReportLayout Layout = LayOutReport(Report);
    std::vector<int> Pages;
    for (const TProbeBand& Band : ProbeBands(Layout)) Pages.push_back(Band.Page);
    EXPECT_EQ(Pages, Case.Pages);
    EXPECT_EQ(Layout.PageCount(), Case.Pages.back() + 1) << "no page is left empty";
  }
}

TEST(ReportLayout, ALinkCycleThroughBandsThatTakeNoRoomStillLaysOut) {
  // A links to B, B to C and C back to B; B is hidden and C has no height.
  // Should the walk along the links not stop, this test hangs.
  TReport Report;
  TReportBand* A = Report.AddBand(EBandKind::Detail, QStringLiteral("A"), 50);
  TReportBand* B = Report.AddBand(EBandKind::SubDetail, QStringLiteral("B"), 40);
  TReportBand* C = Report.AddBand(EBandKind::SubDetail, QStringLiteral("C"), 0);
  B->Visible = false;
  A->LinkBand = B;
  B->LinkBand = C;
  C->LinkBand = B;
  Feed(Report, 3);
  const auto Bands = ProbeBands(LayOutReport(Report));
  EXPECT_EQ(Names(Bands), (std::vector<std::string>{"A", "A", "A"}));
  EXPECT_EQ(Bands[2].Top, 100);
}

TEST(ReportLayout, AnElementRightAtAStretchingLabelsFootIsPushedDownAndOneAboveIsNot) {
  QFont Font(QStringLiteral("Liberation Sans"));
  Font.setPointSizeF(12);
  // The label's one-line height, measured at 96 dots per inch as it is painted.
  QImage Device(1, 1, QImage::Format_Mono);
  Device.setDotsPerMeterX(qRound(96 / 0.0254));
  Device.setDotsPerMeterY(qRound(96 / 0.0254));
  const double LineHeight = QFontMetricsF(Font, &Device).height();

  TReport Report;
  TReportBand* Band = Report.AddBand(EBandKind::Title, QStringLiteral("T"), 100);
  TReportElement* Text = Band->AddLabel(QStringLiteral("Text"), 0, 8, QStringLiteral("word ").repeated(400));
  Text->SetFont(Font);
  Text->AlignToBand = Text->WordWrap = Text->Stretch = true;
  Band->AddLabel(QStringLiteral("AtFoot"), 0, 8 + LineHeight, QStringLiteral("at"));
  Band->AddLabel(QStringLiteral("JustAbove"), 0, 8 + LineHeight - 0.25, QStringLiteral("above"));
  Report.OnNeedData = nullptr;
  const TReportLayout Layout = LayOutReport(Report);
  const TPlacedBand& Placed = PlacedBand(Layout, 0, 0);
  const double Growth = Placed.Height - 100;
  ASSERT_GT(Growth, LineHeight * 3);
  EXPECT_NEAR(FindElement(Layout, Placed, "AtFoot")->Top, 8 + LineHeight + Growth, 0.01);
  EXPECT_NEAR(FindElement(Layout, Placed, "JustAbove")->Top, 8 + LineHeight - 0.25, 0.01);
}
