// Memos as they come out on paper, read back from the PDF (poppler's pdftotext).
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>

#include "Report.h"
#include "ReportLayout.h"
#include "ReportPainter.h"

namespace {

std::string PdfText(const QString& Path) {
  FILE* Pipe = popen(("pdftotext -layout '" + Path.toStdString() + "' -").c_str(), "r");
  std::string Out;
  char Buffer[4096];
  for (size_t N; (N = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0;) Out.append(Buffer, N);
  EXPECT_EQ(pclose(Pipe), 0) << "pdftotext (poppler-utils) is needed";
  return Out;
}

// The page's lines that are not blank, with their surrounding spaces removed.
std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> Result;
  std::istringstream In(Text);
  for (std::string Line; std::getline(In, Line);) {
    const size_t First = Line.find_first_not_of(" \f");
    if (First == std::string::npos) continue;
    Result.push_back(Line.substr(First, Line.find_last_not_of(' ') + 1 - First));
  }
  return Result;
}

}  // namespace

TEST(ReportPainter, EveryMemoLineShowsAtLeastItsFirstRow) {
  // Rows of 14 pt are taller than the 17 units each line is given, as rows in
  // the taller fallback font of another script are at 10 pt.
  const std::vector<std::string> Stored = {
      "First line",
      "Second\tafter a tab",
      "Long xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx and more words that cannot fit in the "
      "memo's width at all",
      "",
      "Last line",
  };
  TReport Report;
  TReportBand* Band = Report.AddBand(EBandKind::Detail, QStringLiteral("D"), 17 * Stored.size());
  TReportElement* Memo = Band->AddMemo(QStringLiteral("Memo"), 0, 0, 400, 17 * Stored.size());
  QFont Tall(QStringLiteral("Liberation Sans"));
  Tall.setPointSizeF(14);
  Memo->SetFont(Tall);
  QStringList Text;
  for (const std::string& Line : Stored) Text << QString::fromStdString(Line);
  Memo->SetLines(Text);
  Report.OnNeedData = nullptr;
  QTemporaryDir Dir;
  const QString Pdf = Dir.filePath(QStringLiteral("memo.pdf"));
  ASSERT_EQ(WriteReportPdf(LayOutReport(Report), Pdf), QString());

  const std::vector<std::string> Printed = Lines(PdfText(Pdf));
  ASSERT_EQ(Printed.size(), 4u) << PdfText(Pdf);
  EXPECT_EQ(Printed[0], "First line");
  // A TAB is spaces up to the next stop of eight characters.
  EXPECT_EQ(Printed[1].substr(0, 6), "Second");
  EXPECT_NE(Printed[1].find(' ', 6), std::string::npos);
  EXPECT_EQ(Printed[1].substr(Printed[1].find_first_not_of(' ', 6)), "after a tab");
  // Cut at the memo's edge: as much as fits, then an ellipsis.
  EXPECT_EQ(Printed[2].rfind("Long xxxxx", 0), 0u) << Printed[2];
  EXPECT_EQ(Printed[2].substr(Printed[2].size() - 3), "\xE2\x80\xA6") << Printed[2];
  EXPECT_EQ(Printed[2].find("words"), std::string::npos) << Printed[2];
  EXPECT_EQ(Printed[3], "Last line");
}

// A label's value wider than its box ends in an ellipsis, whatever its script;
// one that fits is whole.
TEST(ReportPainter, ALabelWiderThanItsBoxEndsInAnEllipsis) {
  const std::vector<std::pair<std::string, bool>> Cases = {
      {"0161 496 0000", false},
      {"Wolfeschlegelsteinhausenbergerdorff Müller", true},
      {"WWWWWWWWWWWWWWWWWWWW", true},
      {"東京都千代田区千代田一丁目一番一号", true},
      {"Ω", false},
  };
  TReport Report;
  TReportBand* Band = Report.AddBand(EBandKind::Detail, QStringLiteral("D"), 20 * Cases.size());
  for (size_t I = 0; I < Cases.size(); ++I) {
    TReportElement* Label =
        Band->AddLabel(QStringLiteral("L%1").arg(I), 0, 20 * I, QString::fromStdString(Cases[I].first));
    Label->Width = 150;
  }
  Report.OnNeedData = nullptr;
  QTemporaryDir Dir;
  const QString Pdf = Dir.filePath(QStringLiteral("labels.pdf"));
  ASSERT_EQ(WriteReportPdf(LayOutReport(Report), Pdf), QString());
  const std::vector<std::string> Printed = Lines(PdfText(Pdf));
  ASSERT_EQ(Printed.size(), Cases.size()) << PdfText(Pdf);
  for (size_t I = 0; I < Cases.size(); ++I) {
    const auto& [Text, Cut] = Cases[I];
    const bool Ellipsis = Printed[I].size() >= 3 && Printed[I].substr(Printed[I].size() - 3) == "\xE2\x80\xA6";
    EXPECT_EQ(Ellipsis, Cut) << Printed[I];
    if (!Cut) EXPECT_EQ(Printed[I], Text);
    else EXPECT_EQ(Text.rfind(Printed[I].substr(0, 3), 0), 0u) << Printed[I];
  }
}

// A caption painted from the text as laid out before lands on the same pixels
// as the painter's own drawText in the same box: every alignment, boxes lower
// than the row (cut at the box), spaces at the ends, right-to-left and
// fallback scripts, and again from what the first page laid out.
TEST(ReportPainter, ALabelLandsWhereDrawTextPutsIt) {
  struct TCase {
    const char* Text;
    int Alignment;
    float Height;
  };
  const TCase Cases[] = {
      {"Home Phone:", Qt::AlignLeft, 20},
      {"Work Phone:", Qt::AlignRight, 20},
      {"Centred", Qt::AlignHCenter, 20},
      {"Low box, cut", Qt::AlignLeft, 9},
      {"Low and right", Qt::AlignRight, 9},
      {"Bottom", Qt::AlignRight | Qt::AlignBottom, 30},
      {"Middle", Qt::AlignHCenter | Qt::AlignVCenter, 30},
      {"  spaced  ", Qt::AlignRight, 20},
      {"שלום עולם, Tel Aviv", Qt::AlignLeft, 20},
      {"עברית, Haifa", Qt::AlignRight, 20},
      {"Tokyo 東京", Qt::AlignRight, 20},
      {"ﬁne ligature", Qt::AlignLeft, 20},
  };
  TReportLayout Layout;
  Layout.PageSize = QSizeF(400, 40.0 * std::size(Cases));
  Layout.Printable = QRectF(10, 10, 380, Layout.PageSize.height() - 20);
  QFont Font(QStringLiteral("Liberation Sans"));
  Font.setPointSizeF(11);
  Layout.Fonts = {Font};
  Layout.Design.push_back({EElementKind::Label, 40, 200, false, false, QStringLiteral("L")});
  Layout.Pages.push_back({0, 1});
  TPlacedBand Band;
  Band.Height = float(Layout.Printable.height());
  Band.ElementCount = uint16_t(std::size(Cases));
  Layout.Bands.push_back(Band);
  for (size_t I = 0; I < std::size(Cases); ++I) {
    TPlacedElement E;
    E.TextStart = uint32_t(Layout.Text.size());
    Layout.Text += QString::fromUtf8(Cases[I].Text);
    E.TextLength = uint32_t(Layout.Text.size()) - E.TextStart;
    E.Top = float(40 * I);
    E.Height = Cases[I].Height;
    E.Alignment = uint8_t(Cases[I].Alignment);
    Layout.Elements.push_back(E);
  }
  auto Blank = [&] {
    QImage Image(Layout.PageSize.toSize(), QImage::Format_RGB32);
    Image.setDotsPerMeterX(3780);  // 96 dots an inch: layout units are the device's
    Image.setDotsPerMeterY(3780);
    Image.fill(Qt::white);
    return Image;
  };
  QImage Expected = Blank();
  {
    QPainter Painter(&Expected);
    Painter.setRenderHint(QPainter::TextAntialiasing);
    Painter.setPen(Qt::black);
    QFont Sized = Font;
    Sized.setPointSizeF(Font.pointSizeF() * UnitsPerInch / Expected.logicalDpiY());
    Painter.setFont(Sized);
    for (const TPlacedElement& E : Layout.Elements)
      Painter.drawText(QRectF(50, 10 + E.Top, 200, E.Height), Qt::AlignTop | E.Alignment | Qt::TextSingleLine,
                       Layout.TextOf(E).toString());
  }
  TShapedTexts Shaped;
  for (int Pass = 0; Pass < 2; ++Pass) {
    QImage Painted = Blank();
    QPainter Painter(&Painted);
    PaintReportPage(Painter, Layout, 0, Painted.logicalDpiY(), &Shaped);
    Painter.end();
    for (size_t I = 0; I < std::size(Cases); ++I) {
      const QRect Strip(0, 40 * int(I), Painted.width(), 40);
      EXPECT_EQ(Painted.copy(Strip), Expected.copy(Strip)) << Cases[I].Text << ", pass " << Pass;
    }
  }
}
