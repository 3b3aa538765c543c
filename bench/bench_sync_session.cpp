// Whole syncs against a local Radicale, as a person runs them with
// tobrinel-book sync: the first sync of a 1,000-entry book (beside a
// vdirsyncer upload of the same cards to the same server), a sync that finds
// nothing changed and one with 10 changed entries, each as a whole process;
// and the peak memory of a sync of 10,000 cards beside that of loading the book.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <malloc.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Adrbook.h"
#include "RadicaleServer.h"
#include "SyncSession.h"
#include "VCard.h"

namespace {

TRadicaleServer& Server() { return SharedRadicale(); }

QTemporaryDir& Scratch() {
  static QTemporaryDir Dir;
  return Dir;
}

QString PasswordFile() {
  static const QString Path = [] {
    const QString File = Scratch().filePath(QStringLiteral("pw"));
    QFile Out(File);
    if (Out.open(QIODevice::WriteOnly)) Out.write(TRadicaleServer::Password);
    return File;
  }();
  return Path;
}

std::unique_ptr<TAddressItem> Entry(int I) {
  auto Item = std::make_unique<TAddressItem>();
  Item->Surname = "Lee " + std::to_string(I);
  Item->FirstName = "Ann";
  Item->HomeTelephone = "0123 " + std::to_string(100000 + I);
  Item->BusTelephone = "0987 654321";
  Item->BusMobile = "07700 " + std::to_string(900000 + I);
  Item->HomeAddress.SetText("1 Hill Road\nLeeds\nLS1 1AA");
  Item->Notes.SetText("met at the fair");
  return Item;
}

void WriteBook(const QString& Path, int Count) {
  TAddressBook Book;
  std::vector<TAddressItem*> Items;
  for (int I = 0; I < Count; ++I) Items.push_back(Entry(I).release());
  Book.Items->AddAll(Items);
  Book.FileName = Path.toStdString();
  Book.SaveToFile();
}

// A new address book for a run; its URL.
QUrl NewAddressBook(const QString& Name) {
  const QUrl Url = Server().MakeAddressBook(Name, Name);
  if (!Url.isValid()) throw std::runtime_error(Server().Problem().toStdString());
  return Url;
}

struct TProcessRun {
  double CpuMs = 0;
  long PeakKb = 0;
  int Status = -1;
};

// The tool as a script runs it; its output is thrown away.
TProcessRun RunTool(const QStringList& Arguments) {
  std::vector<QByteArray> Words{QByteArray(TOBRINEL_BOOK_TOOL), QByteArray("sync")};
  for (const QString& Word : Arguments) Words.push_back(Word.toLocal8Bit());
  std::vector<char*> Argv;
  for (QByteArray& Word : Words) Argv.push_back(Word.data());
  Argv.push_back(nullptr);
  const pid_t Child = fork();
  if (Child == 0) {
    freopen("/dev/null", "w", stdout);
    // No desktop password store to ask: the password comes from a file.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    execv(TOBRINEL_BOOK_TOOL, Argv.data());
    _exit(127);
  }
  int Status = 0;
  struct rusage Usage {};
  wait4(Child, &Status, 0, &Usage);
  TProcessRun Run;
  Run.CpuMs =
      (Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) * 1e3 + (Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e3;
  Run.PeakKb = Usage.ru_maxrss;
  Run.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  return Run;
}

QStringList SyncArguments(const QString& Book, const QUrl& Url) {
  return {Book,
          Url.toString(),
          QStringLiteral("--user"),
          QString::fromLatin1(TRadicaleServer::User),
          QStringLiteral("--password-file"),
          PasswordFile()};
}

void BM_FirstSync1000Process(benchmark::State& State) {
  static int Runs = 0;
  double CpuMs = 0;
  for (auto _ : State) {
    State.PauseTiming();
    const QString Name = QStringLiteral("first%1").arg(++Runs);
    const QUrl Url = NewAddressBook(Name);
    const QString Book = Scratch().filePath(Name + QStringLiteral(".ABK"));
    WriteBook(Book, 1000);
    State.ResumeTiming();
    const TProcessRun Run = RunTool(SyncArguments(Book, Url));
    if (Run.Status != 0) State.SkipWithError("sync failed");
    CpuMs += Run.CpuMs;
  }
  State.counters["process_cpu_ms"] = benchmark::Counter(CpuMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FirstSync1000Process)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The same 1,000 cards uploaded by vdirsyncer from a folder, to compare with
// a program the server is known to bound.
void BM_VdirsyncerUpload1000(benchmark::State& State) {
  const QString Vdirsyncer = QStandardPaths::findExecutable(QStringLiteral("vdirsyncer"));
  if (Vdirsyncer.isEmpty()) {
    State.SkipWithError("vdirsyncer is not installed");
    return;
  }
  static int Runs = 0;
  for (auto _ : State) {
    State.PauseTiming();
    const QString Name = QStringLiteral("vdir%1").arg(++Runs);
    const QUrl Url = NewAddressBook(Name);
    const QString Folder = Scratch().filePath(Name);
    QDir().mkpath(Folder + QStringLiteral("/cards"));
    for (int I = 0; I < 1000; ++I) {
      std::string Card;
      AppendVCard(Card, *Entry(I), "v" + std::to_string(I));
      QFile Out(Folder + QStringLiteral("/cards/v%1.vcf").arg(I));
      if (Out.open(QIODevice::WriteOnly)) Out.write(Card.data(), qint64(Card.size()));
    }
    QFile Config(Folder + QStringLiteral("/config"));
    if (Config.open(QIODevice::WriteOnly))
      Config.write(
          QStringLiteral("[general]\nstatus_path = \"%1/status/\"\n"
                         "[pair p]\na = \"local\"\nb = \"dav\"\ncollections = null\n"
                         "[storage local]\ntype = \"filesystem\"\npath = \"%1/cards/\"\nfileext = \".vcf\"\n"
                         "[storage dav]\ntype = \"carddav\"\nurl = \"%2\"\nusername = \"%3\"\npassword = \"%4\"\n")
              .arg(Folder, Url.toString(), QString::fromLatin1(TRadicaleServer::User),
                   QString::fromLatin1(TRadicaleServer::Password))
              .toUtf8());
    Config.close();
    QProcess Process;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("VDIRSYNCER_CONFIG"), Config.fileName());
    Process.setProcessEnvironment(Environment);
    Process.start(Vdirsyncer, {QStringLiteral("discover")});
    Process.waitForFinished(60000);
    State.ResumeTiming();
    Process.start(Vdirsyncer, {QStringLiteral("sync")});
    Process.waitForFinished(600000);
    if (Process.exitCode() != 0) State.SkipWithError("vdirsyncer sync failed");
  }
}
BENCHMARK(BM_VdirsyncerUpload1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// A 1,000-card book in step with its address book.
struct TInStep {
  QString Book;
  QUrl Url;
};
const TInStep& InStep1000() {
  static const TInStep Pair = [] {
    TInStep P{Scratch().filePath(QStringLiteral("steady.ABK")), NewAddressBook(QStringLiteral("steady"))};
    WriteBook(P.Book, 1000);
    if (RunTool(SyncArguments(P.Book, P.Url)).Status != 0) throw std::runtime_error("first sync failed");
    return P;
  }();
  return Pair;
}

void BM_SyncNothingChanged1000Process(benchmark::State& State) {
  const TInStep& Pair = InStep1000();
  double CpuMs = 0;
  for (auto _ : State) {
    const TProcessRun Run = RunTool(SyncArguments(Pair.Book, Pair.Url));
    if (Run.Status != 0) State.SkipWithError("sync failed");
    CpuMs += Run.CpuMs;
  }
  State.counters["process_cpu_ms"] = benchmark::Counter(CpuMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SyncNothingChanged1000Process)->Unit(benchmark::kMillisecond)->UseRealTime();

// 10 of the 1,000 entries changed here (argument 0) or on the server (1).
void BM_Sync10Changed1000Process(benchmark::State& State) {
  const TInStep& Pair = InStep1000();
  static int Round = 0;
  double CpuMs = 0;
  for (auto _ : State) {
    State.PauseTiming();
    ++Round;
    if (State.range(0) == 0) {
      TAddressBook Book;
      Book.LoadFromFile(Pair.Book.toStdString());
      int Changed = 0;
      for (TListNode* N = Book.Items->Head; N && Changed < 10; N = N->Next, ++Changed)
        static_cast<TAddressItem*>(N)->BusFacsimile = "0111 " + std::to_string(Round);
      Book.Modified = true;
      Book.SaveToFile();
    } else {
      for (int I = 0; I < 10; ++I) {
        const QString Uid = QStringLiteral("there%1").arg(I);
        Server().PutCard(Pair.Url.path() + Uid + QStringLiteral(".vcf"),
                         MakeCard(Uid, QStringLiteral("Bob"), QStringLiteral("Ray %1").arg(I),
                                  "TEL;TYPE=HOME:" + QByteArray::number(Round) + "\r\n"));
      }
    }
    State.ResumeTiming();
    const TProcessRun Run = RunTool(SyncArguments(Pair.Book, Pair.Url));
    if (Run.Status != 0) State.SkipWithError("sync failed");
    CpuMs += Run.CpuMs;
  }
  State.counters["process_cpu_ms"] = benchmark::Counter(CpuMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Sync10Changed1000Process)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Peak memory. A child process of its own for each figure: its resident
// memory before, and its peak after loading the book or running a sync.
constexpr const char* ChildOption = "--sync-memory-child";

long StatusKb(const char* Field) {
  FILE* F = std::fopen("/proc/self/status", "r");
  char Line[256];
  long Value = 0;
  const size_t Length = std::strlen(Field);
  while (F && std::fgets(Line, sizeof Line, F))
    if (std::strncmp(Line, Field, Length) == 0) Value = std::strtol(Line + Length + 1, nullptr, 10);
  if (F) std::fclose(F);
  return Value;
}

// The book is loaded either way; the sync does the rest of its work on top.
class TQuietHost : public ISyncHost {
public:
  void Progress(ESyncStage, int, int) override {}
  EConflictRule AskConflict(const TConflictQuestion&) override { return EConflictRule::KeepBoth; }
  bool ConfirmMassDelete(const QString&) override { return true; }
  bool TrustCertificate(const QUrl&, const QString&, const QString&) override { return false; }
};

int MemoryChild(int argc, char** argv) {
  // argv: option, what ("load" or "sync"), book, address book URL
  QCoreApplication App(argc, argv);
  const std::string What = argv[2];
  // The network libraries' code and first buffers are the same for any book:
  // one small request first, in both children, so that what follows is data.
  {
    TCardDavClient WarmUp(QUrl(QString::fromLocal8Bit(argv[4])), QString::fromLatin1(TRadicaleServer::User),
                          QString::fromLatin1(TRadicaleServer::Password));
    WarmUp.Discover();
  }
  malloc_trim(0);
  const long Before = StatusKb("VmRSS:");
  TAddressBook Book;
  if (QFile::exists(QString::fromLocal8Bit(argv[3]))) Book.LoadFromFile(argv[3]);
  Book.FileName = argv[3];
  if (What == "sync") {
    TQuietHost Host;
    TSyncSession Session(Book, Host);
    TSyncRequest Request;
    Request.Url = QUrl(QString::fromLocal8Bit(argv[4]));
    Request.User = QString::fromLatin1(TRadicaleServer::User);
    Request.Password = QString::fromLatin1(TRadicaleServer::Password);
    Session.Run(Request);
  }
  std::printf("%ld\n", StatusKb("VmHWM:") - Before);
  return 0;
}

long ChildGrowthKb(const QString& What, const QString& Book, const QUrl& Url) {
  QProcess Child;
  Child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(ChildOption), What, Book, Url.toString()});
  Child.waitForFinished(600000);
  return Child.readAllStandardOutput().trimmed().toLong();
}

// 10,000 cards put straight into the server's storage, as files of its own
// collection folder: uploading them one by one would take minutes.
QUrl TenThousandCards() {
  static const QUrl Url = [] {
    const QUrl Book = NewAddressBook(QStringLiteral("tenthousand"));
    const QString Folder = Server().StorageFolder() + QStringLiteral("/collection-root/tob/tenthousand/");
    for (int I = 0; I < 10000; ++I) {
      std::string Card;
      AppendVCard(Card, *Entry(I), "t" + std::to_string(I));
      QFile Out(Folder + QStringLiteral("t%1.vcf").arg(I));
      if (Out.open(QIODevice::WriteOnly)) Out.write(Card.data(), qint64(Card.size()));
    }
    // The server reads and caches every card the first time it is asked
    // (minutes on a busy machine); that is not the sync's work.
    TCardDavClient(Book, QString::fromLatin1(TRadicaleServer::User), QString::fromLatin1(TRadicaleServer::Password),
                   QString(), 600000)
        .SyncCollection(Book, QString());
    return Book;
  }();
  return Url;
}

// Argument 0: the first sync, every card received into a new book; 1: the
// next one, which finds nothing changed.
void BM_PeakMemorySync10000(benchmark::State& State) {
  const QUrl Url = TenThousandCards();
  const QString Book = Scratch().filePath(QStringLiteral("tenthousand.ABK"));
  static bool Received = false;
  long SyncKb = 0, LoadKb = 0;
  for (auto _ : State) {
    if (State.range(0) == 0) {
      QFile::remove(Book);
      QFile::remove(Book + QStringLiteral(".sync"));
    } else if (!Received) {
      ChildGrowthKb(QStringLiteral("sync"), Book, Url);
    }
    SyncKb = ChildGrowthKb(QStringLiteral("sync"), Book, Url);
    Received = true;
    LoadKb = ChildGrowthKb(QStringLiteral("load"), Book, Url);
  }
  State.counters["sync_peak_MB"] = double(SyncKb) / 1024.0;
  State.counters["load_peak_MB"] = double(LoadKb) / 1024.0;
  State.counters["ratio"] = LoadKb > 0 ? double(SyncKb) / double(LoadKb) : 0.0;
}
BENCHMARK(BM_PeakMemorySync10000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], ChildOption) == 0) return MemoryChild(argc, argv);
  QCoreApplication App(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
