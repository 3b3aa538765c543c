// Memos as they come out on paper, read back from the PDF (poppler's pdftotext).
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
