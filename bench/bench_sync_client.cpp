// The CardDAV client against a local Radicale: how fast cards go up one or
// several at a time, and what a sync that finds nothing changed costs on a
// book of 1,000 cards. The server bounds the uploads; the client should not.

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include "CardDav.h"
#include "RadicaleServer.h"

#include <memory>
#include <stdexcept>

namespace {

TRadicaleServer& Server() { return SharedRadicale(); }

std::unique_ptr<TCardDavClient> Connect() {
  return std::make_unique<TCardDavClient>(Server().Root(), TRadicaleServer::User, TRadicaleServer::Password);
}

std::vector<TWriteJob> NewCards(const QUrl& Book, int Count) {
  std::vector<TWriteJob> Jobs;
  for (int I = 0; I < Count; ++I)
    Jobs.push_back({TWriteJob::Put,
                    TCardDavClient::MemberHref(Book, QStringLiteral("c%1.vcf").arg(I)),
                    MakeCard(QStringLiteral("c%1").arg(I), QStringLiteral("Ann"), QStringLiteral("Lee %1").arg(I),
                             "TEL;TYPE=HOME:0123 456789\r\nTEL;TYPE=WORK:0987 654321\r\n"
                             "ADR;TYPE=HOME:;;1 Hill Rd;Leeds;;LS1 1AA;\r\nNOTE:met at the fair\r\n"),
                    {}});
  return Jobs;
}

// The 1,000-card book every sync benchmark reads, uploaded once.
const QUrl& FullBook() {
  static const QUrl Book = [] {
    const QUrl Url = Server().MakeAddressBook(QStringLiteral("thousand"), QStringLiteral("Thousand"));
    Connect()->WriteMany(NewCards(Url, 1000), [](size_t, const TWriteResult&) {});
    return Url;
  }();
  return Book;
}

void BM_UploadCards(benchmark::State& State) {
  static int Books = 0;
  const int Count = 100;
  for (auto _ : State) {
    State.PauseTiming();
    const QUrl Book = Server().MakeAddressBook(QStringLiteral("up%1").arg(++Books), QStringLiteral("Up"));
    auto Client = Connect();
    Client->SetParallel(int(State.range(0)));
    const std::vector<TWriteJob> Jobs = NewCards(Book, Count);
    State.ResumeTiming();
    Client->WriteMany(Jobs, [](size_t, const TWriteResult&) {});
  }
  State.SetItemsProcessed(State.iterations() * Count);
}
BENCHMARK(BM_UploadCards)->Arg(1)->Arg(4)->Arg(6)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// A fresh client each time, as a new process has: its first request meets the 401 challenge.
void BM_SyncNothingChanged1000(benchmark::State& State) {
  const QUrl& Book = FullBook();
  const QString Token = Connect()->SyncCollection(Book, {}).Token;
  for (auto _ : State) {
    auto Client = Connect();
    benchmark::DoNotOptimize(Client->SyncCollection(Book, Token));
  }
}
BENCHMARK(BM_SyncNothingChanged1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ListEtags1000(benchmark::State& State) {
  const QUrl& Book = FullBook();
  auto Client = Connect();
  for (auto _ : State) benchmark::DoNotOptimize(Client->ListEtags(Book));
}
BENCHMARK(BM_ListEtags1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MultiGet1000(benchmark::State& State) {
  const QUrl& Book = FullBook();
  auto Client = Connect();
  QStringList Hrefs;
  for (const TCardVersion& Card : Client->ListEtags(Book).Cards) Hrefs << Card.Href;
  for (auto _ : State) benchmark::DoNotOptimize(Client->MultiGet(Book, Hrefs));
  State.SetItemsProcessed(State.iterations() * Hrefs.size());
}
BENCHMARK(BM_MultiGet1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
