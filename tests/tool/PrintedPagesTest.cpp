// The printed list read back from the PDF word by word with its boxes:
// nothing stored is lost, and nothing prints over anything else.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sys/wait.h>

#include "StoreTestUtil.h"

namespace {

struct TWord {
  int Page;
  double Left, Top, Right, Bottom;
  std::string Text;
};

std::string RunShell(const std::string& Command, int& Status) {
  FILE* Pipe = popen(Command.c_str(), "r");
  std::string Out;
  char Buffer[4096];
  for (size_t N; (N = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0;) Out.append(Buffer, N);
  const int Raw = pclose(Pipe);
  Status = WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
  return Out;
}

// Every word of the PDF with its page and box, as pdftotext -bbox gives them.
std::vector<TWord> WordsOf(const std::string& Pdf) {
  int Status;
  const std::string Html = RunShell("pdftotext -bbox " + Pdf + " -", Status);
  std::vector<TWord> Words;
  int Page = -1;
  const std::regex Word(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
  size_t At = 0;
  for (size_t Next; (Next = Html.find('<', At)) != std::string::npos; At = Next + 1) {
    if (Html.compare(Next, 5, "<page") == 0) ++Page;
    if (Html.compare(Next, 5, "<word") != 0) continue;
    std::smatch M;
    const std::string Rest = Html.substr(Next, Html.find("</word>", Next) + 7 - Next);
    if (!std::regex_match(Rest, M, Word)) continue;
    Words.push_back({Page, std::stod(M[1]), std::stod(M[2]), std::stod(M[3]), std::stod(M[4]), M[5]});
  }
  return Words;
}

bool Overlap(const TWord& A, const TWord& B) {
  // Boxes of neighbouring words on a line touch; half a point in is an overlap.
  const double In = 0.5;
  return A.Page == B.Page && A.Left + In < B.Right && B.Left + In < A.Right && A.Top + In < B.Bottom &&
         B.Top + In < A.Bottom;
}

}  // namespace

TEST(PrintedPages, EveryStoredLineIsOnAPageAndNoTwoWordsOverlap) {
  std::string LongNotes;
  for (int I = 1; I <= 150; ++I) LongNotes += (I > 1 ? "\n" : "") + std::string("remark") + std::to_string(I);
  const struct {
    const char* Name;
    std::vector<std::vector<std::string>> Entries;  // surname, first name, home, work, notes
    std::vector<std::string> Present;               // words that must print
    std::vector<std::string> Absent;                // texts that must not
    std::string Err = "";
  } Cases[] = {
      {"notes longer than a page go on under the name marked as continued",
       {{"Long", "Lena", "", "", LongNotes}, {"Next", "Ned", "", "", "after"}},
       [] {
         std::vector<std::string> Words{"(continued)", "after"};
         for (int I = 1; I <= 150; ++I) Words.push_back("remark" + std::to_string(I));
         return Words;
       }(),
       {}},
      {"numbers wider than their column end in an ellipsis and keep off their neighbours",
       {{"Wide", "Will", std::string(50, '9'), "+1 (555) 765-4321 ext. 1098 (reception)", ""}},
       {"Work", "Phone:"},
       {"(reception)"}},
      {"an entry without a first name prints without a comma",
       {{"\xC3\x87"
         "a\xC4\x9Fr\xC4\xB1",
         "", "", "", ""},
        {"", "Solo", "", "", ""}},
       {"\xC3\x87"
        "a\xC4\x9Fr\xC4\xB1",
        "Solo"},
       {"\xC3\x87"
        "a\xC4\x9Fr\xC4\xB1,",
        ", Solo", ",Solo"}},
      {"characters no installed font has are told once",
       {{"\xEE\x80\x80"
         "a",
         "", "", "", ""},
        {"\xEE\x80\x81"
         "b",
         "", "", "", ""}},
       {},
       {},
       "tobrinel-book: Some characters in this list cannot be printed with the fonts installed: "
       "install fonts-noto-cjk\n"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TTempDir Dir;
    TAddressBook Book;
    for (const auto& E : Case.Entries) {
      auto* Item = MakeItem(E[0], E[1]);
      Item->HomeTelephone = E[2];
      Item->BusTelephone = E[3];
      Item->Notes.SetText(E[4]);
      Book.Items->Add(Item);
    }
    Book.FileName = Dir / "b.ABK";
    Book.SaveToFile();
    int Status;
    RunShell(std::string(TOBRINEL_BOOK_TOOL) + " print " + Dir / "b.ABK" + " " + Dir / "b.pdf" + " --footer Foot 2>" +
                 Dir / "err",
             Status);
    ASSERT_EQ(Status, 0) << ReadBytes(Dir / "err");
    EXPECT_EQ(ReadBytes(Dir / "err"), Case.Err);
    const std::vector<TWord> Words = WordsOf(Dir / "b.pdf");
    ASSERT_FALSE(Words.empty());
    std::string All;
    for (const TWord& W : Words) All += W.Text + " ";
    for (const std::string& Want : Case.Present)
      EXPECT_NE((" " + All).find(" " + Want + " "), std::string::npos) << Want << " in " << All.substr(0, 400);
    for (const std::string& Not : Case.Absent) EXPECT_EQ(All.find(Not), std::string::npos) << Not;
    for (size_t A = 0; A < Words.size(); ++A)
      for (size_t B = A + 1; B < Words.size(); ++B)
        EXPECT_FALSE(Overlap(Words[A], Words[B]))
            << Words[A].Text << " and " << Words[B].Text << " on page " << Words[A].Page + 1;
  }
}
