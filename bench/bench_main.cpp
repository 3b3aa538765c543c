// The main window with a book of 100,000 entries, offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>
#include <random>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Adrbook.h"
#include "Dflttab.h"
#include "FakePlatform.h"
#include "Main.h"
#include "NamesModel.h"

namespace {

constexpr int BookSize = 100000;

TFakePlatform* Platform = nullptr;
QString BookPath;

void MakeBook() {
  std::mt19937 Random(7);
  std::uniform_int_distribution<int> Letter(0, 25);
  TAddressBook Book;
  std::vector<std::string> Surnames;
  for (int Index = 0; Index < BookSize; ++Index) {
    std::string Surname(1, char('A' + Letter(Random)));
    for (int K = 0; K < 7; ++K) Surname += char('a' + Letter(Random));
    Surnames.push_back(Surname);
  }
  std::sort(Surnames.begin(), Surnames.end());
  for (const std::string& Surname : Surnames) {
    auto* Item = new TAddressItem;
    Item->Surname = Surname;
    Item->FirstName = "Firstname";
    Item->HomeTelephone = "01234 567890";
    Item->HomeAddress.SetText("1 Hill Road\nLittle Town");
    Book.Items->AppendSorted(Item);
  }
  BookPath = Platform->Path(QStringLiteral("BIG.ABK"));
  Book.FileName = BookPath.toStdString();
  Book.SaveToFile();
}

struct TOpenWindow {
  std::unique_ptr<TfrmMain> Main;
  std::unique_ptr<TfrmDefaultTab> DefaultTab;
  TOpenWindow() {
    Main = std::make_unique<TfrmMain>(QStringList{BookPath});
    DefaultTab = std::make_unique<TfrmDefaultTab>(Main.get());
    Main->SetDefaultTabDialog(DefaultTab.get());
    Main->show();
    QApplication::setActiveWindow(Main.get());
    while (!Main->Activated()) QApplication::processEvents();
  }
  ~TOpenWindow() {
    DefaultTab.reset();
    Main.reset();
  }
};

// Made on first use and closed before the application and the fakes go.
std::unique_ptr<TOpenWindow> SharedWindow;

TOpenWindow& Shared() {
  if (!SharedWindow) SharedWindow = std::make_unique<TOpenWindow>();
  return *SharedWindow;
}

void BM_StartUpToFirstEntry(benchmark::State& State) {
  for (auto _ : State) {
    TOpenWindow Window;
    benchmark::DoNotOptimize(Window.Main->edtSurname->text());
    State.PauseTiming();
    if (Window.Main->Names().EntryCount() != BookSize) State.SkipWithError("the book was not loaded");
    Window.Main->Book().Modified = false;
    Window.DefaultTab.reset();
    Window.Main.reset();  // settings written here are not part of start-up
    State.ResumeTiming();
  }
}
BENCHMARK(BM_StartUpToFirstEntry)->Unit(benchmark::kMillisecond)->Iterations(5);

// The whole program's start, as the user waits for it: a fresh process (its
// libraries, its first touches of memory) until the first entry is shown.
// In-process starts reuse memory already faulted in and miss most of that.
const char* const ChildFlag = "--start-up-child";

int RunStartUpChild(int argc, char** argv) {
  QApplication App(argc, argv);
  TFakePlatform Fakes;
  {
    TOpenWindow Window;  // BookPath is argv[2]
    if (Window.Main->Names().EntryCount() != BookSize) return 1;
    if (::write(1, "R", 1) != 1) return 1;
    Window.Main->Book().Modified = false;
  }
  return 0;
}

void BM_ProcessStartUpToFirstEntry(benchmark::State& State) {
  char Self[4096];
  const ssize_t Length = ::readlink("/proc/self/exe", Self, sizeof Self - 1);
  if (Length <= 0) return State.SkipWithError("no executable path");
  Self[Length] = '\0';
  std::string Book = BookPath.toStdString();
  char* Arguments[] = {Self, const_cast<char*>(ChildFlag), Book.data(), nullptr};
  for (auto _ : State) {
    int Pipe[2];
    if (::pipe(Pipe) != 0) return State.SkipWithError("no pipe");
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 1);
    posix_spawn_file_actions_addclose(&Actions, Pipe[0]);
    pid_t Child = 0;
    const int Spawned = posix_spawn(&Child, Self, &Actions, nullptr, Arguments, environ);
    posix_spawn_file_actions_destroy(&Actions);
    ::close(Pipe[1]);
    char Ready = 0;
    const bool Shown = Spawned == 0 && ::read(Pipe[0], &Ready, 1) == 1;
    State.PauseTiming();
    ::close(Pipe[0]);
    int Status = 0;
    if (Spawned == 0) ::waitpid(Child, &Status, 0);
    State.ResumeTiming();
    if (!Shown || !WIFEXITED(Status) || WEXITSTATUS(Status) != 0) return State.SkipWithError("the child failed");
  }
}
BENCHMARK(BM_ProcessStartUpToFirstEntry)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_BuildNamesList(benchmark::State& State) {
  TfrmMain& Main = *Shared().Main;
  for (auto _ : State) Main.BuildNamesList();
  Main.grdNamesClick();
}
BENCHMARK(BM_BuildNamesList)->Unit(benchmark::kMillisecond);

void BM_LetterButton(benchmark::State& State) {
  TfrmMain& Main = *Shared().Main;
  int Tag = 26;
  for (auto _ : State) {
    Main.btnLetters[size_t(Tag - 1)]->click();
    Tag = Tag == 26 ? 1 : 26;
  }
}
BENCHMARK(BM_LetterButton)->Unit(benchmark::kMillisecond);

void BM_ClickLastRow(benchmark::State& State) {
  TfrmMain& Main = *Shared().Main;
  QTableView* Grid = Main.grdNames;
  for (auto _ : State) {
    State.PauseTiming();
    Main.SelectRow(1);
    Main.grdNamesClick();
    State.ResumeTiming();
    // As the grid reports a click on the row.
    Grid->selectionModel()->setCurrentIndex(Grid->model()->index(BookSize - 1, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QApplication::processEvents();
  }
  if (Main.SelectedRow() != BookSize) State.SkipWithError("the row was not shown");
}
BENCHMARK(BM_ClickLastRow)->Unit(benchmark::kMillisecond);

void BM_CreateEntryFromNewRow(benchmark::State& State) {
  TfrmMain& Main = *Shared().Main;
  for (auto _ : State) {
    State.PauseTiming();
    Main.mnuAAdd->trigger();
    Main.edtSurname->setText(QStringLiteral("Mmmnew"));
    State.ResumeTiming();
    Main.edtSurnameExit(Main.edtFirstName);  // Tab from the surname
    QApplication::processEvents();
    State.PauseTiming();
    Platform->Prompter.Answers = {EAnswer::Yes};
    Main.mnuADeleteClick();
    State.ResumeTiming();
  }
}
BENCHMARK(BM_CreateEntryFromNewRow)->Unit(benchmark::kMillisecond);

void BM_Delete(benchmark::State& State) {
  TfrmMain& Main = *Shared().Main;
  for (auto _ : State) {
    State.PauseTiming();
    Main.mnuAAdd->trigger();
    Main.edtSurname->setText(QStringLiteral("Mmmdel"));
    Main.edtSurnameExit(Main.edtFirstName);
    QApplication::processEvents();
    Platform->Prompter.Answers = {EAnswer::Yes};
    State.ResumeTiming();
    Main.mnuADeleteClick();
  }
}
BENCHMARK(BM_Delete)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& State) {
  TfrmMain& Main = *Shared().Main;
  Platform->Prompter.Boxes.clear();
  for (auto _ : State) Main.mnuFSaveClick();
  if (!Platform->Prompter.Boxes.empty()) State.SkipWithError("a box was raised");
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc == 3 && std::string(argv[1]) == ChildFlag) {
    BookPath = QString::fromLocal8Bit(argv[2]);
    return RunStartUpChild(argc, argv);
  }
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
