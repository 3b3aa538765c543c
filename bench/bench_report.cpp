// The list report of a book of 100,000 entries: layout, preview, PDF.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "Adrbook.h"
#include "FakePlatform.h"
#include "Listrpt.h"
#include "Print.h"
#include "ReportLayout.h"
#include "ReportPainter.h"
#include "ReportPreview.h"

namespace {

constexpr int BookSize = 100000;

TFakePlatform* Platform = nullptr;
TAddressBook* Book = nullptr;

// Every field filled, addresses and notes of a few lines.
void MakeBook(TAddressBook& Target) {
  for (int Index = 0; Index < BookSize; ++Index) {
    auto* Item = new TAddressItem;
    std::string Surname(1, char('A' + Index * 26 / BookSize));
    Surname += "urname" + std::to_string(100000 + Index);
    Item->Surname = Surname;
    Item->FirstName = "Firstname";
    Item->HomeTelephone = "01234 567890";
    Item->BusTelephone = "020 7946 0000";
    Item->BusExtn = "1234";
    Item->BusMobile = "07700 900123";
    Item->BusFacsimile = "020 7946 0001";
    Item->HomeAddress.SetText(Index % 3 ? "1 Hill Road\nLittle Town\nAB1 2CD" : "");
    Item->BusAddress.SetText("Works Lane\nBig City");
    Item->Notes.SetText(Index % 2 ? "Met at the conference.\nPrefers calls in the morning." : "");
    Target.Items->AppendSorted(Item);
  }
  Target.FileName = "/tmp/BIG.ABK";
}

void SetUp(TListReport& Report, int Last) {
  TListReportParameters P;
  P.BookName = QStringLiteral("BIG.ABK");
  P.HeaderText = QStringLiteral("Everybody");
  P.HeaderFont = DefaultHeaderFont();
  P.FooterText = QStringLiteral("Private");
  P.FooterFont = DefaultFooterFont();
  P.Items = Book->Items.get();
  P.Last = Last;
  P.Now = QDateTime::currentDateTime();
  Report.SetReportParameters(P);
}

double ResidentMegabytes() {
  std::ifstream Statm("/proc/self/statm");
  long Pages = 0, Resident = 0;
  Statm >> Pages >> Resident;
  return double(Resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void BM_LayOut100000(benchmark::State& State) {
  TListReport Report;
  int Pages = 0;
  size_t Bytes = 0;
  for (auto _ : State) {
    SetUp(Report, BookSize - 1);
    const TReportLayout Layout = LayOutReport(Report.Report());
    Pages = Layout.PageCount();
    Bytes = Layout.MemoryBytes();
  }
  State.counters["pages"] = Pages;
  State.counters["layout_MB"] = double(Bytes) / (1024.0 * 1024.0);
}
BENCHMARK(BM_LayOut100000)->Unit(benchmark::kMillisecond)->Iterations(3);

// From pressing Preview in the dialog to the first page painted.
void BM_PreviewFirstPage100000(benchmark::State& State) {
  TListReport Report;
  TfrmPrintAddresses Dialog;
  Dialog.SetReport(&Report);
  for (auto _ : State) {
    double Seconds = 0;
    bool Shown = false;
    QTimer::singleShot(0, &Dialog, [&] {
      const auto Start = std::chrono::steady_clock::now();
      QTimer::singleShot(0, &Dialog, [&] {
        if (auto* Preview = qobject_cast<TReportPreview*>(QApplication::activeModalWidget())) {
          Preview->PageView->repaint();
          Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
          Shown = true;
          Preview->close();
        }
      });
      Dialog.btnPreview->click();
      Dialog.reject();
    });
    Dialog.Execute(*Book);
    if (!Shown) State.SkipWithError("the preview did not open");
    State.SetIterationTime(Seconds);
  }
}
BENCHMARK(BM_PreviewFirstPage100000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// Paging through the preview must not keep what was painted.
void BM_PreviewMemory100000(benchmark::State& State) {
  TListReport Report;
  SetUp(Report, BookSize - 1);
  const double Before = ResidentMegabytes();
  const TReportLayout Layout = LayOutReport(Report.Report());
  const double WithLayout = ResidentMegabytes();
  TReportPreview Preview(Layout, nullptr);
  Preview.show();
  QApplication::processEvents();
  Preview.SetPage(0);
  Preview.PageView->repaint();
  const double FirstPage = ResidentMegabytes();
  int Page = 0;
  for (auto _ : State) {
    for (int Step = 0; Step < 500; ++Step) {
      Page = (Page + 7) % Layout.PageCount();
      Preview.SetPage(Page);
      Preview.PageView->repaint();
    }
  }
  const double After = ResidentMegabytes();
  State.counters["layout_MB"] = Layout.MemoryBytes() / (1024.0 * 1024.0);
  State.counters["rss_layout_MB"] = WithLayout - Before;
  State.counters["rss_first_page_MB"] = FirstPage - WithLayout;
  State.counters["rss_growth_paging_MB"] = After - FirstPage;
  State.counters["pages_painted"] = double(State.iterations()) * 500;
}
BENCHMARK(BM_PreviewMemory100000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The entries 1 to N as a PDF: a person's "print to file" of a long range.
void BM_Pdf(benchmark::State& State) {
  TListReport Report;
  const QString Path = Platform->Path(QStringLiteral("bench.pdf"));
  int Pages = 0;
  for (auto _ : State) {
    SetUp(Report, int(State.range(0)) - 1);
    const TReportLayout Layout = LayOutReport(Report.Report());
    Pages = Layout.PageCount();
    if (!WriteReportPdf(Layout, Path).isEmpty()) State.SkipWithError("the PDF was not written");
  }
  State.counters["pages"] = Pages;
}
BENCHMARK(BM_Pdf)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication App(argc, argv);
  TFakePlatform Fakes;
  Platform = &Fakes;
  auto Big = std::make_unique<TAddressBook>();
  MakeBook(*Big);
  Book = Big.get();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
