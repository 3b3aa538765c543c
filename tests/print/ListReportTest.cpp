// The list report's pages as data: bands, heights and texts, without painting.
#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>
#include <algorithm>
#include <functional>
#include <map>

#include "LayoutProbe.h"
#include "Listrpt.h"

namespace {

struct TEntry {
  std::string Surname, FirstName;
  std::string HomeAddress, BusAddress, Notes;  // lines joined with "\n"
};

class TListReportTest : public testing::Test {
protected:
  TAddressBook Book;
  TListReport Report;
  const QDateTime Now{QDate(2026, 3, 9), QTime(14, 5, 7)};

  static TEntry N(const char* Surname, const char* FirstName) { return {Surname, FirstName, "", "", ""}; }

  void Add(const std::vector<TEntry>& Entries) {
    for (const TEntry& E : Entries) {
      auto* Item = new TAddressItem;
      Item->Surname = E.Surname;
      Item->FirstName = E.FirstName;
      Item->HomeAddress.SetText(E.HomeAddress);
      Item->BusAddress.SetText(E.BusAddress);
      Item->Notes.SetText(E.Notes);
      Book.Items->Add(Item);
    }
  }

  TReportLayout Run(int First = 0, int Last = -1, const QString& Header = {}, const QString& Footer = {}) {
    TListReportParameters P;
    P.BookName = QStringLiteral("/home/someone/books/FRIENDS.ABK");
    P.HeaderText = Header;
    P.HeaderFont = DefaultHeaderFont();
    P.FooterText = Footer;
    P.FooterFont = DefaultFooterFont();
    P.Items = Book.Items.get();
    P.First = First;
    P.Last = Last < 0 ? Book.Items->Count - 1 : Last;
    P.Now = Now;
    Report.SetReportParameters(P);
    return LayOutReport(Report.Report());
  }

  // Each placed band: "name height" or, for name and section bands, their text.
  static std::vector<std::string> Outline(const TReportLayout& Layout, int Page) {
    std::vector<std::string> Result;
    for (uint32_t b = 0; b < Layout.Pages[Page].BandCount; ++b) {
      const TPlacedBand& Band = PlacedBand(Layout, Page, int(b));
      const std::string Name = Layout.BandNames[Band.Band].toStdString();
      std::string Line = Name + " " + std::to_string(int(Band.Height));
      if (Name == "rbSectionLetter") Line += " " + TextIn(Layout, Band, "rlSectionLetter");
      if (Name == "rbNameDetails") Line += " " + TextIn(Layout, Band, "rlName");
      Result.push_back(Line);
    }
    return Result;
  }
};

}  // namespace

TEST_F(TListReportTest, OneEntryPrintsItsBandsAndNoEmptyAddressOrNotesBand) {
  Add({N("Smith", "John")});
  const TReportLayout Layout = Run();
  ASSERT_EQ(Layout.PageCount(), 1);
  EXPECT_EQ(Outline(Layout, 0),
            (std::vector<std::string>{"PageHeaderBand1 27", "TitleBand1 35", "rbSectionLetter 38 S",
                                      "rbNameDetails 40 Smith, John", "rbNumberDetails 80", "PageFooterBand1 48"}));
  // The number band keeps its five captions with every number empty, all in
  // the form of the list's other captions ("Home Address:"); the work
  // column's end together, as the captions of a column do.
  const TPlacedBand& Numbers = PlacedBand(Layout, 0, 4);
  const struct {
    const char* Name;
    const char* Text;
    bool WorkColumn;
  } Captions[] = {{"rlLabel1", "Home Phone:", false},
                  {"rlLabel5", "Work Phone:", true},
                  {"rlLabel6", "Extension:", true},
                  {"rlLabel7", "Mobile:", true},
                  {"rlLabel8", "Facsimile:", true}};
  QImage Paper(1, 1, QImage::Format_Mono);
  Paper.setDotsPerMeterX(qRound(UnitsPerInch / 0.0254));
  Paper.setDotsPerMeterY(qRound(UnitsPerInch / 0.0254));
  double FirstEnd = 1e9, LastEnd = -1e9;
  for (const auto& Caption : Captions) {
    const TPlacedElement* Placed = FindElement(Layout, Numbers, Caption.Name);
    ASSERT_NE(Placed, nullptr) << Caption.Name;
    EXPECT_EQ(TextIn(Layout, Numbers, Caption.Name), Caption.Text);
    if (!Caption.WorkColumn) continue;
    const double End =
        Layout.Design[Placed->Element].Left +
        QFontMetricsF(Layout.Fonts[Placed->Font], &Paper).horizontalAdvance(Layout.TextOf(*Placed).toString());
    FirstEnd = std::min(FirstEnd, End);
    LastEnd = std::max(LastEnd, End);
  }
  EXPECT_LT(LastEnd - FirstEnd, 2.0) << "the work column's captions end between " << FirstEnd << " and " << LastEnd;
  EXPECT_EQ(TextIn(Layout, PlacedBand(Layout, 0, 0), "rlAddressBook"), "FRIENDS.ABK");
  EXPECT_EQ(TextIn(Layout, PlacedBand(Layout, 0, 0), "rlSystemName"), "Tobrinel Address Manager");
  // Bands and elements are reachable by name.
  EXPECT_EQ(Report.Report().Band(QStringLiteral("rbNotes")), Report.rbNotes);
  EXPECT_EQ(Report.Report().Element(QStringLiteral("rmWorkAddress")), Report.rmWorkAddress);
  EXPECT_EQ(Report.Report().Element(QStringLiteral("nothing")), nullptr);
}

TEST_F(TListReportTest, SectionsOpenOnEveryChangeOfTheExactFirstCharacter) {
  Add({N("Adams", "A"), N("Avon", "B"), N("adams", "c"), N("9Lives", "D"), N("\xC3\x89mile", "E"),
       N("\xC3\x89tienne", "F"), N("", "Nobody")});
  const TReportLayout Layout = Run();
  std::vector<std::string> Sections;
  for (int Page = 0; Page < Layout.PageCount(); ++Page)
    for (const std::string& Line : Outline(Layout, Page))
      if (Line.rfind("rbSectionLetter", 0) == 0 || Line.rfind("rbNameDetails", 0) == 0) Sections.push_back(Line);
  EXPECT_EQ(Sections,
            (std::vector<std::string>{"rbSectionLetter 38 9", "rbNameDetails 40 9Lives, D", "rbSectionLetter 38 A",
                                      "rbNameDetails 40 Adams, A", "rbSectionLetter 38 a", "rbNameDetails 40 adams, c",
                                      "rbSectionLetter 38 A", "rbNameDetails 40 Avon, B", "rbSectionLetter 38 \xC3\x89",
                                      "rbNameDetails 40 \xC3\x89mile, E", "rbNameDetails 40 \xC3\x89tienne, F",
                                      "rbSectionLetter 38 N", "rbNameDetails 40 Nobody"}));
}

TEST_F(TListReportTest, AddressAndNotesBandsAreSeventeenUnitsALinePlusSix) {
  Add({{"Brown", "Ann", "1 Hill Road\nLittle Town\nAB1 2CD", "Works Lane", "Line one\nLine two"},
       {"Brown", "Bob", "", "", "Only notes"}});
  const TReportLayout Layout = Run();
  const auto Lines = Outline(Layout, 0);
  EXPECT_EQ(std::vector<std::string>(Lines.begin() + 2, Lines.end() - 1),
            (std::vector<std::string>{"rbSectionLetter 38 B", "rbNameDetails 40 Brown, Ann", "rbNumberDetails 80",
                                      "rbAddressDetails 57", "rbNotes 40", "rbNameDetails 40 Brown, Bob",
                                      "rbNumberDetails 80", "rbNotes 23"}));
  const TPlacedBand& Address = PlacedBand(Layout, 0, 5);
  EXPECT_EQ(FindElement(Layout, Address, "rmHomeAddress")->Height, 51);
  EXPECT_EQ(FindElement(Layout, Address, "rmWorkAddress")->Height, 51);
  EXPECT_EQ(TextIn(Layout, Address, "rmHomeAddress"), "1 Hill Road\nLittle Town\nAB1 2CD");
  EXPECT_EQ(TextIn(Layout, Address, "rmWorkAddress"), "Works Lane");
}

TEST_F(TListReportTest, ManyEntriesSpillOverPagesKeepingNamesWithTheirNumbers) {
  // Entries of varied heights, so that page breaks fall between every pair of bands.
  std::vector<TEntry> Entries;
  for (int i = 0; i < 300; ++i) {
    std::string Address, Notes;
    for (int l = 0; l < i % 7; ++l) Address += (l ? "\n" : "") + std::string("line");
    for (int l = 0; l < i % 4; ++l) Notes += (l ? "\n" : "") + std::string("note");
    Entries.push_back({std::string(1, char('A' + i / 12)) + std::to_string(1000 + i), "X", Address, "", Notes});
  }
  Add(Entries);
  const TReportLayout Layout = Run(0, -1, QStringLiteral("Header text"), QStringLiteral("Footer text"));
  ASSERT_GT(Layout.PageCount(), 20);
  const double Body = Report.Report().PrintableUnits().height();
  std::map<std::string, int> NamesSeen;
  for (int Page = 0; Page < Layout.PageCount(); ++Page) {
    const auto Lines = Outline(Layout, Page);
    const TPlacedBand& First = PlacedBand(Layout, Page, 0);
    const TPlacedBand& Footer = PlacedBand(Layout, Page, int(Lines.size()) - 1);
    EXPECT_EQ(Lines.front(), "PageHeaderBand1 27");
    EXPECT_EQ(First.Top, 0);
    EXPECT_EQ(Lines[1].rfind("TitleBand1", 0) == 0, Page == 0) << "page " << Page;
    EXPECT_EQ(Lines.back(), "PageFooterBand1 48");
    EXPECT_NEAR(Footer.Top + Footer.Height, Body, 0.01);
    EXPECT_EQ(TextIn(Layout, Footer, "rlFooter"), "Footer text");
    EXPECT_EQ(TextIn(Layout, Footer, "rlTimeStamp"), TimeStampText(Now).toStdString());
    for (size_t i = 1; i + 1 < Lines.size(); ++i) {
      const TPlacedBand& Band = PlacedBand(Layout, Page, int(i));
      EXPECT_LE(Band.Top + Band.Height, Footer.Top + 0.01) << Lines[i] << " on page " << Page;
      if (Lines[i].rfind("rbSectionLetter", 0) == 0) {
        EXPECT_EQ(Lines[i + 1].rfind("rbNameDetails", 0), 0u) << "letter left alone on page " << Page;
      }
      if (Lines[i].rfind("rbNameDetails", 0) == 0) {
        ++NamesSeen[Lines[i]];
        ASSERT_LT(i + 2, Lines.size());
        EXPECT_EQ(Lines[i + 1], "rbNumberDetails 80") << "page " << Page;
      }
    }
  }
  EXPECT_EQ(NamesSeen.size(), 300u);
  EXPECT_EQ(TextIn(Layout, PlacedBand(Layout, 0, 1), "rlHeader"), "Header text");
}

TEST_F(TListReportTest, RangeHeaderAndFooterTextsPrintAsGiven) {
  Add({N("A", "1"), N("B", "2"), N("C", "3"), N("D", "4"), N("E", "5")});
  // Positions 1 to 3; a header of spaces still prints as typed, an empty
  // footer still leaves the time stamp.
  const TReportLayout Layout = Run(1, 3, QStringLiteral("   "), QString());
  std::vector<std::string> Printed;
  for (const std::string& Line : Outline(Layout, 0))
    if (Line.rfind("rbNameDetails", 0) == 0) Printed.push_back(Line.substr(17));
  EXPECT_EQ(Printed, (std::vector<std::string>{"B, 2", "C, 3", "D, 4"}));
  const TPlacedBand& Title = PlacedBand(Layout, 0, 1);
  EXPECT_EQ(Title.Height, 35);
  EXPECT_EQ(TextIn(Layout, Title, "rlHeader"), "   ");
  const TPlacedBand& Footer = PlacedBand(Layout, 0, Layout.Pages[0].BandCount - 1);
  EXPECT_EQ(FindElement(Layout, Footer, "rlFooter"), nullptr);
  EXPECT_NE(FindElement(Layout, Footer, "rlTimeStamp"), nullptr);
  EXPECT_EQ(TimeStampText(Now, QLocale(QLocale::English, QLocale::UnitedKingdom)), "As of: 09/03/2026 at 14:05:07");

  // A second run starts again from the start of the range.
  EXPECT_EQ(Outline(Run(1, 3), 0).size(), Outline(Layout, 0).size());
}
