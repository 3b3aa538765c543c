// Find and Find Next in the main window with a book of 100,000 entries, offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Adrbook.h"
#include "Dflttab.h"
#include "FakePlatform.h"
#include "Find.h"
#include "Main.h"
#include "NamesModel.h"

namespace {

constexpr int BookSize = 100000;
constexpr int Every = 100;  // one entry in a hundred mentions the otter: 1,000 matches

TFakePlatform* Platform = nullptr;
QString BookPath;

// Only the last entry's notes hold "zebra"; the rest look like a real book.
void MakeBook() {
  std::mt19937 Random(11);
  std::uniform_int_distribution<int> Letter(0, 25);
  std::vector<std::string> Surnames;
  for (int Index = 0; Index < BookSize; ++Index) {
    std::string Surname(1, char('A' + Letter(Random)));
    for (int K = 0; K < 7; ++K) Surname += char('a' + Letter(Random));
    Surnames.push_back(Surname);
  }
  std::sort(Surnames.begin(), Surnames.end());
  TAddressBook Book;
  for (int Index = 0; Index < BookSize; ++Index) {
    auto* Item = new TAddressItem;
    Item->Surname = Surnames[size_t(Index)];
    Item->FirstName = "Firstname";
    Item->HomeTelephone = "01234 567890";
    Item->BusTelephone = "020 7946 0000";
    Item->BusMobile = "07700 900123";
    Item->HomeAddress.SetText("1 Hill Road\nLittle Town\nAB1 2CD");
    Item->BusAddress.SetText("Works Lane\nBig City");
    Item->Notes.SetText(Index == BookSize - 1        ? "Met at the zebra crossing."
                        : Index % Every == Every / 2 ? "Keeps an otter.\nPrefers calls in the morning."
                                                     : "Met at the conference.\nPrefers calls in the morning.");
    Book.Items->AppendSorted(Item);
  }
  BookPath = Platform->Path(QStringLiteral("BIG.ABK"));
  Book.FileName = BookPath.toStdString();
  Book.SaveToFile();
}

struct TOpenWindow {
  std::unique_ptr<TfrmMain> Main;
  std::unique_ptr<TfrmFind> Find;
  std::unique_ptr<TfrmDefaultTab> DefaultTab;
  TOpenWindow() {
    Main = std::make_unique<TfrmMain>(QStringList{BookPath});
    Find = std::make_unique<TfrmFind>(Main.get());
    Main->SetFindDialog(Find.get());
    DefaultTab = std::make_unique<TfrmDefaultTab>(Main.get());
    Main->SetDefaultTabDialog(DefaultTab.get());
    Main->show();
    QApplication::setActiveWindow(Main.get());
    while (!Main->Activated()) QApplication::processEvents();
  }
  ~TOpenWindow() {
    DefaultTab.reset();
    Find.reset();
    Main.reset();
  }
};

std::unique_ptr<TOpenWindow> SharedWindow;

TOpenWindow& Shared() {
  if (!SharedWindow) SharedWindow = std::make_unique<TOpenWindow>();
  return *SharedWindow;
}

void ShowFirstEntry(TfrmMain& Main) {
  Main.SelectRow(1);
  Main.grdNamesClick();
}

// Ctrl+F with the text already typed, OK clicked as soon as the dialog is up:
// from the command to the last entry shown with "zebra" selected in its notes.
void BM_FindToSelectedMatch(benchmark::State& State) {
  TOpenWindow& Window = Shared();
  TfrmMain& Main = *Window.Main;
  TfrmFind* Find = Window.Find.get();
  Find->cboSearchString->setText(QStringLiteral("zebra"));
  Platform->Prompter.Boxes.clear();
  for (auto _ : State) {
    State.PauseTiming();
    ShowFirstEntry(Main);
    State.ResumeTiming();
    QTimer::singleShot(0, Find, [Find] { Find->btnOK->click(); });
    Main.mnuSFind->trigger();
  }
  if (Main.SelectedRow() != BookSize || !Platform->Prompter.Boxes.empty() ||
      Main.memNotes->textCursor().selectedText() != QStringLiteral("zebra"))
    State.SkipWithError("the match was not shown");
}
BENCHMARK(BM_FindToSelectedMatch)->Unit(benchmark::kMillisecond);

// The same walk by F3 from the first entry: the search without the dialog.
void BM_FindNextToLastEntry(benchmark::State& State) {
  TfrmMain& Main = *Shared().Main;
  Shared().Find->cboSearchString->setText(QStringLiteral("zebra"));
  for (auto _ : State) {
    State.PauseTiming();
    ShowFirstEntry(Main);
    State.ResumeTiming();
    Main.mnuSFindNextClick();
  }
  if (Main.SelectedRow() != BookSize) State.SkipWithError("the match was not shown");
}
BENCHMARK(BM_FindNextToLastEntry)->Unit(benchmark::kMillisecond);

// The engine alone over the whole book, without the window's part.
void BM_EngineWalk(benchmark::State& State) {
  TOpenWindow& Window = Shared();
  Window.Find->cboSearchString->setText(QStringLiteral("zebra"));
  TSearchEngine Search;
  for (auto _ : State) benchmark::DoNotOptimize(Search.FindFirstMatch(*Window.Main->Book().Items, *Window.Find));
  if (Search.FoundEntry() != Window.Main->Names().Item(BookSize)) State.SkipWithError("not found");
}
BENCHMARK(BM_EngineWalk)->Unit(benchmark::kMillisecond);

// The engine over 100,000 entries whose names, addresses and notes are not
// plain ASCII, with a text beyond ASCII, so that all of them are folded whole;
// only the last entry's notes match.
void BM_EngineWalkBeyondAscii(benchmark::State& State) {
  static TMyLinkList* Items = [] {
    auto* List = new TMyLinkList;
    for (int Index = 0; Index < BookSize; ++Index) {
      auto* Item = new TAddressItem;
      Item->Surname = "M\xC3\xBCller-\xC3\x96zt\xC3\xBCrk " + std::to_string(Index);
      Item->FirstName =
          "\xC3\x87"
          "a\xC4\x9Fr\xC4\xB1";
      Item->HomeTelephone = "01234 567890";
      Item->HomeAddress.SetText(
          "1 Stra\xC3\x9F"
          "e\nK\xC3\xB6ln");
      Item->Notes.SetText(Index == BookSize - 1 ? "Met at the zebra crossing, caf\xC3\xA9 opposite."
                                                : "Met at the caf\xC3\xA9.\nPrefers calls in the morning.");
      List->AppendSorted(Item);
    }
    return List;
  }();
  TOpenWindow& Window = Shared();
  Window.Find->cboSearchString->setText(QStringLiteral("CAFÉ OPPOSITE"));
  TSearchEngine Search;
  for (auto _ : State) benchmark::DoNotOptimize(Search.FindFirstMatch(*Items, *Window.Find));
  if (!Search.FoundEntry() || Search.FoundEntry() != Items->Tail) State.SkipWithError("not found");
}
BENCHMARK(BM_EngineWalkBeyondAscii)->Unit(benchmark::kMillisecond);

// One F3 step through the 1,000 otters; after the last one it starts again at the top.
void BM_FindNextStep(benchmark::State& State) {
  TfrmMain& Main = *Shared().Main;
  Shared().Find->cboSearchString->setText(QStringLiteral("otter"));
  ShowFirstEntry(Main);
  Platform->Prompter.Boxes.clear();
  int64_t Found = 0;
  for (auto _ : State) {
    Main.mnuSFindNextClick();
    if (!Platform->Prompter.Boxes.empty()) {
      State.PauseTiming();
      Platform->Prompter.Boxes.clear();
      ShowFirstEntry(Main);
      State.ResumeTiming();
    } else {
      ++Found;
    }
  }
  if (Found < BookSize / Every) State.SkipWithError("the otters were not all found");
}
BENCHMARK(BM_FindNextStep)->Unit(benchmark::kMillisecond)->Iterations(3000);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication App(argc, argv);
  TFakePlatform Fakes;
  Platform = &Fakes;
  MakeBook();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (SharedWindow) {
    SharedWindow->Main->Book().Modified = false;
    SharedWindow.reset();
  }
  return 0;
}
