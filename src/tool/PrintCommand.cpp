// The list report of a book as a PDF file, laid out as the program prints it.
#include "PrintCommand.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QIODevice>
#include <charconv>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "Adrbook.h"
#include "ConsoleHost.h"
#include "Listrpt.h"
#include "ReportLayout.h"
#include "ReportPainter.h"
#include "ToolStreams.h"

const char* const PrintUsage =
    "       tobrinel-book print BOOK OUT.pdf [--from N] [--to N] [--header TEXT] [--footer TEXT]\n"
    "       (a BOOK named - is read from standard input, an OUT.pdf named - written to standard output)\n";

namespace {

std::optional<int> Position(const std::string& Text) {
  int Value = 0;
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  if (Error != std::errc() || End != Text.data() + Text.size() || Value < 1) return std::nullopt;
  return Value;
}

// The PDF writer's way into an output file: what fails is kept to be told
// afterwards, since the writer does not ask.
class TOutputDevice : public QIODevice {
public:
  explicit TOutputDevice(TOutputFile& AOut) : Out(AOut) {}
  bool isSequential() const override { return true; }
  // What is still held back; false once anything failed.
  bool Finish() {
    Pass();
    return Failure.empty();
  }
  std::string Failure;

protected:
  qint64 readData(char*, qint64) override { return -1; }
  // The PDF writer hands its file over a few bytes at a time: a system call for each took a tenth of the time.
  qint64 writeData(const char* Data, qint64 Size) override {
    if (!Failure.empty()) return -1;
    Held.append(Data, size_t(Size));
    if (Held.size() >= (1 << 16)) Pass();
    return Failure.empty() ? Size : -1;
  }

private:
  void Pass() {
    if (!Failure.empty() || Held.empty()) return;
    try {
      Out.Write(Held.data(), Held.size());
    } catch (const EFileError& E) {
      Failure = E.what();
    }
    Held.clear();
  }
  TOutputFile& Out;
  std::string Held;
};

int Usage(const std::string& Why) {
  Complain() << Why << "\nusage:\n" << PrintUsage;
  return 2;
}

}  // namespace

int PrintCommand(int argc, char** argv) {
  if (argc < 2) return Usage("print needs a book and an output file");
  const std::string BookPath = argv[0];
  const std::string OutPath = argv[1];
  std::optional<int> From, To;
  QString Header, Footer;
  for (int i = 2; i < argc; i += 2) {
    const std::string Option = argv[i];
    if (i + 1 >= argc) return Usage(Option + " needs a value");
    const std::string Value = argv[i + 1];
    if (Option == "--from" || Option == "--to") {
      const std::optional<int> N = Position(Value);
      if (!N) return Usage(Option + " needs a list position from 1 on, not '" + Value + "'");
      (Option == "--from" ? From : To) = N;
    } else if (Option == "--header") {
      Header = QString::fromLocal8Bit(Value.c_str());
    } else if (Option == "--footer") {
      Footer = QString::fromLocal8Bit(Value.c_str());
    } else {
      return Usage("unknown option " + Option);
    }
  }
  if (From && To && *From > *To) return Usage("--from is after --to");

  // Reading a book for print leaves nothing beside it.
  TConsoleHost::OnlyReads = true;
  TConsoleHost Host;
  TAddressBook Book(&Host);
  TLoadResult Loaded;
  std::unique_ptr<TOutputFile> Out;
  std::unique_ptr<TScratchBook> Scratch;
  const bool Streamed = IsStandardStream(BookPath);
  const std::string BookName = Streamed ? "standard input" : BookPath;
  try {
    if (Streamed) {
      Scratch = std::make_unique<TScratchBook>();
      Scratch->FromStandardInput();
    }
    Loaded = Book.LoadFromFile(Streamed ? Scratch->Path() : BookPath);
    // Refused before the work of laying out.
    Out = std::make_unique<TOutputFile>(OutPath, Streamed ? Scratch->Path() : BookPath);
  } catch (const EFileError& E) {
    Complain() << (Scratch ? Scratch->Named(E.what()) : E.what()) << "\n";
    return 1;
  }
  const int Count = Book.Items->Count;
  if (Count == 0) {
    Complain() << BookName << " holds no entries; nothing to print\n";
    return 1;
  }
  const int First = From.value_or(1);
  const int Last = To.value_or(Count);
  if (First > Count || Last > Count) {
    Complain() << "the book holds " << Count << (Count == 1 ? " entry" : " entries") << "; position "
               << std::max(First, Last) << " is not in it\n";
    return 1;
  }

  // Fonts are measured and painted by Qt, which needs an application; the
  // tool shows no window, so it needs no display either.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Qt's own notices (a missing runtime folder, say) are no business of the
  // tool's caller; the tool reports its own failures.
  qInstallMessageHandler([](QtMsgType Type, const QMessageLogContext&, const QString& Message) {
    if (Type == QtFatalMsg) std::cerr << Message.toStdString() << "\n";
  });
  int QtArgc = 1;
  char Name[] = "tobrinel-book";
  char* QtArgv[] = {Name, nullptr};
  QGuiApplication App(QtArgc, QtArgv);

  TListReport Report;
  TListReportParameters P;
  P.BookName = Streamed ? QStringLiteral("(standard input)") : QString::fromStdString(Book.DisplayName());
  P.HeaderText = Header;
  P.HeaderFont = DefaultHeaderFont();
  P.FooterText = Footer;
  P.FooterFont = DefaultFooterFont();
  P.Items = Book.Items.get();
  P.First = First - 1;
  P.Last = Last - 1;
  P.Now = QDateTime::currentDateTime();
  Report.SetReportParameters(P);
  const TReportLayout Layout = LayOutReport(Report.Report());
  if (Layout.MissingCharacters) Complain() << MissingCharactersText << "\n";
  std::string Failure;
  {
    TOutputDevice Device(*Out);
    Device.open(QIODevice::WriteOnly);
    const QString Refused = WriteReportPdf(Layout, Device);
    Failure = !Device.Finish()    ? Device.Failure
              : Refused.isEmpty() ? std::string()
                                  : OutPath + ": " + Refused.toStdString();
  }
  if (Failure.empty()) {
    try {
      Out->Commit();
    } catch (const EFileError& E) {
      Failure = E.what();
    }
  }
  if (!Failure.empty()) {
    Complain() << Failure << "\n";
    return 1;
  }
  if (Loaded.Damaged) {
    Complain() << BookName << " is damaged; " << Loaded.EntriesRead << " entries could be read and were printed\n";
    return 1;
  }
  return 0;
}

// Run by tobrinel-book for its print command, with the words after "print".
int main(int argc, char** argv) { return PrintCommand(argc - 1, argv + 1); }
