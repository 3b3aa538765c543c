// tobrinel-book sync as a person or a script runs it, against a real
// Radicale: exit statuses and their one-line messages, a dry run, the
// mass-delete guard, the password from a file, a terminal or nowhere, and the
// tool killed in the middle.

#include "SyncRig.h"

#include <QDir>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <pty.h>
#include <set>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

struct TToolRun {
  int Status = -1;
  std::string Out, Err;
};

enum class ETerminal { None, Inherit };

void Prepare(QProcess& Tool) {
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  // No desktop password store here: the tool must not wait for one.
  Environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
  Tool.setProcessEnvironment(Environment);
  Tool.setProgram(QStringLiteral(TOBRINEL_BOOK_TOOL));
}

// The tool with a session of its own and no terminal, unless told otherwise.
TToolRun Tool(const QStringList& Arguments, ETerminal Terminal = ETerminal::None) {
  QProcess Tool;
  Prepare(Tool);
  Tool.setArguments(QStringList{QStringLiteral("sync")} + Arguments);
  if (Terminal == ETerminal::None) Tool.setChildProcessModifier([] { ::setsid(); });
  Tool.start();
  Tool.closeWriteChannel();
  Tool.waitForFinished(120000);
  return {Tool.exitStatus() == QProcess::NormalExit ? Tool.exitCode() : -1, Tool.readAllStandardOutput().toStdString(),
          Tool.readAllStandardError().toStdString()};
}

class SyncTool : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Rig.Start()) << Rig.Problem().toStdString();
    QFile Password(Rig.Dir.filePath(QStringLiteral("pw")));
    ASSERT_TRUE(Password.open(QIODevice::WriteOnly));
    Password.write("secret\n");
  }
  QString Book() const { return Rig.BookPath(); }
  QString Url(const QString& Path = QStringLiteral("/tob/book/")) const { return Rig.Server.Url(Path).toString(); }
  QStringList Login() const {
    return {QStringLiteral("--user"), QStringLiteral("tob"), QStringLiteral("--password-file"),
            Rig.Dir.filePath(QStringLiteral("pw"))};
  }
  TSyncRig Rig;
};

TEST_F(SyncTool, ExitStatusAndOneClearLine) {
  ASSERT_TRUE(Rig.Server.MakeAddressBook(QStringLiteral("work"), QStringLiteral("Work")).isValid());
  ASSERT_TRUE(Rig.Server.MakeCalendar(QStringLiteral("dates")).isValid());
  QFile Wrong(Rig.Dir.filePath(QStringLiteral("wrong")));
  ASSERT_TRUE(Wrong.open(QIODevice::WriteOnly));
  Wrong.write("wrong\n");
  Wrong.close();
  const QString Root = QStringLiteral("http://127.0.0.1:%1").arg(Rig.Server.Port());
  struct TCase {
    QStringList Arguments;
    int Status;
    std::string Err;  // the first line of standard error
  };
  const std::vector<TCase> Cases = {
      {{Book()}, 2, "tobrinel-book: sync needs a book and the URL of a server or an address book"},
      {{Book(), Url(), "--prefer", "mine"}, 2, "tobrinel-book: --prefer is both, local or server, not 'mine'"},
      {{Book(), Url(), "--trust", "AB:CD"},
       2,
       "tobrinel-book: --trust needs a SHA-256 fingerprint (64 hex digits), not 'AB:CD'"},
      {{Book(), Url(), "--force"}, 2, "tobrinel-book: unknown option --force"},
      {{Book(), "ftp://127.0.0.1/"}, 2, "tobrinel-book: 'ftp://127.0.0.1/' is not an http:// or https:// URL"},
      {QStringList{Book(), Url(), "--user", "tob", "--password-file", Wrong.fileName()}, 1,
       "tobrinel-book: The server refused the user name or password."},
      {QStringList{Book(), Url(QStringLiteral("/tob/missing/"))} + Login(), 1,
       ("tobrinel-book: There is no address book at " + Root + "/tob/missing/.").toStdString()},
      {QStringList{Book(), Url(QStringLiteral("/tob/dates/"))} + Login(), 1,
       ("tobrinel-book: " + Root + "/tob/dates/ is not an address book.").toStdString()},
      {QStringList{Book(), Root + "/"} + Login(), 1,
       ("tobrinel-book: " + Root + "/ has 2 address books; give the URL of the one to synchronise with.")
           .toStdString()},
      {QStringList{Book(), "http://127.0.0.1:1/"} + Login(), 1,
       "tobrinel-book: The server at 127.0.0.1:1 refused the connection."},
      {QStringList{Book(), Url()}, 1,
       "tobrinel-book: no password for tob: give --password-file FILE (there is no "
       "terminal to ask on)"},
  };
  // The last one needs a user from somewhere: a state that names one.
  for (const TCase& Case : Cases) {
    const bool NeedsState = Case.Arguments.size() == 2 && Case.Status == 1;
    if (NeedsState) {
      ASSERT_EQ(Tool(QStringList{Book(), Url()} + Login()).Status, 0);
    }
    const QByteArray BookBefore = TSyncRig::Bytes(Book());
    const QByteArray StateBefore = TSyncRig::Bytes(Rig.StatePath());
    const TToolRun Run = Tool(Case.Arguments);
    SCOPED_TRACE(Case.Arguments.join(' ').toStdString());
    EXPECT_EQ(Run.Status, Case.Status);
    EXPECT_EQ(Run.Err.substr(0, Run.Err.find('\n')), Case.Err) << Run.Err;
    EXPECT_EQ(Run.Out, "");
    EXPECT_EQ(TSyncRig::Bytes(Book()), BookBefore);
    EXPECT_EQ(TSyncRig::Bytes(Rig.StatePath()), StateBefore);
  }
  // A book that cannot be written is not synchronised at all.
  ASSERT_TRUE(QFile::setPermissions(Book(), QFile::ReadOwner));
  const TToolRun ReadOnly = Tool(QStringList{Book(), Url()} + Login());
  EXPECT_EQ(ReadOnly.Status, 1);
  EXPECT_EQ(ReadOnly.Err, "tobrinel-book: " + Book().toStdString() + " is read-only; it is not synchronised\n");
  ASSERT_TRUE(QFile::setPermissions(Book(), QFile::ReadOwner | QFile::WriteOwner));
  // With several books, each is listed to choose from.
  const TToolRun Several = Tool(QStringList{Book(), Root + "/"} + Login());
  EXPECT_NE(Several.Err.find("\n  " + Root.toStdString() + "/tob/book/  (Friends)\n"), std::string::npos)
      << Several.Err;
  EXPECT_NE(Several.Err.find("\n  " + Root.toStdString() + "/tob/work/  (Work)\n"), std::string::npos) << Several.Err;
  EXPECT_EQ(Rig.There(), "");
}

TEST_F(SyncTool, CreatesTheBookDryRunsAndGuardsMassDeletes) {
  for (int I = 0; I < 12; ++I) Rig.PutCard(QStringLiteral("c%1").arg(I), "C", QStringLiteral("P%1").arg(I + 10));
  // A dry run creates nothing and sends nothing.
  TToolRun Run = Tool(QStringList{Book(), Url(), "--dry-run"} + Login());
  EXPECT_EQ(Run.Status, 0) << Run.Err;
  EXPECT_EQ(Run.Out.substr(Run.Out.rfind("dry run")),
            "dry run, nothing changed: received 12, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0\n");
  EXPECT_NE(Run.Out.find("P10"), std::string::npos) << Run.Out;
  EXPECT_FALSE(QFile::exists(Book()));
  EXPECT_FALSE(QFile::exists(Rig.StatePath()));
  // The real run creates the book.
  Run = Tool(QStringList{Book(), Url()} + Login());
  EXPECT_EQ(Run.Status, 0) << Run.Err;
  EXPECT_EQ(Run.Out, "received 12, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0\n");
  EXPECT_EQ(Rig.Here(), Rig.There());
  // The user is remembered with the book.
  for (int I = 0; I < 11; ++I) Rig.DeleteCard("P" + std::to_string(I + 10));
  const QStringList Again{Book(), Url(), "--password-file", Rig.Dir.filePath(QStringLiteral("pw"))};
  // A change here waits too: the dry run sends nothing.
  Rig.EditBook([](TAddressBook& B) { EntryNamed(B, "P21")->HomeTelephone = "5"; });
  const QByteArray BookBefore = TSyncRig::Bytes(Book());
  const QByteArray StateBefore = TSyncRig::Bytes(Rig.StatePath());
  const std::string ThereBefore = Rig.There();
  Run = Tool(Again + QStringList{"--dry-run"});
  EXPECT_EQ(Run.Status, 0) << Run.Err;
  EXPECT_NE(Run.Out.find("P21"), std::string::npos) << Run.Out;
  EXPECT_EQ(TSyncRig::Bytes(Book()), BookBefore);
  EXPECT_EQ(TSyncRig::Bytes(Rig.StatePath()), StateBefore);
  EXPECT_EQ(Rig.There(), ThereBefore);
  Run = Tool(Again);
  EXPECT_EQ(Run.Status, 1);
  EXPECT_NE(Run.Err.find("run again with --allow-mass-delete"), std::string::npos) << Run.Err;
  EXPECT_EQ(TSyncRig::Bytes(Book()), BookBefore);
  Run = Tool(Again + QStringList{"--allow-mass-delete"});
  EXPECT_EQ(Run.Status, 0) << Run.Err;
  EXPECT_EQ(Run.Out, "received 0, sent 1, deleted here 11, deleted there 0, merged 0, conflicts 0\n");
  EXPECT_EQ(Rig.Here(), "P21 C h=5");
  EXPECT_EQ(Rig.There(), "P21 C h=5");
}

TEST_F(SyncTool, AsksForThePasswordOnTheTerminalWithoutEcho) {
  int Master = -1, Slave = -1;
  ASSERT_EQ(::openpty(&Master, &Slave, nullptr, nullptr, nullptr), 0);
  QProcess Tool;
  Prepare(Tool);
  Tool.setArguments({QStringLiteral("sync"), Book(), Url(), QStringLiteral("--user"), QStringLiteral("tob")});
  // The pseudo-terminal is the tool's controlling terminal, as a login's is.
  Tool.setChildProcessModifier([Slave] {
    ::setsid();
    ::ioctl(Slave, TIOCSCTTY, 0);
  });
  Tool.start();
  ::close(Slave);
  std::string Screen;
  // What the terminal shows, as it arrives within Ms.
  auto ReadFor = [&](int Ms) {
    fd_set Ready;
    FD_ZERO(&Ready);
    FD_SET(Master, &Ready);
    timeval Wait{0, Ms * 1000};
    char Buffer[256];
    if (::select(Master + 1, &Ready, nullptr, nullptr, &Wait) <= 0) return;
    if (const ssize_t Got = ::read(Master, Buffer, sizeof Buffer); Got > 0) Screen.append(Buffer, size_t(Got));
  };
  for (int Waited = 0; Waited < 20000 && Screen.find("Password for tob at 127.0.0.1: ") == std::string::npos;
       Waited += 100)
    ReadFor(100);
  ASSERT_EQ(Screen, "Password for tob at 127.0.0.1: ");
  ASSERT_EQ(::write(Master, "secret\n", 7), 7);
  Tool.waitForFinished(60000);
  for (int I = 0; I < 5; ++I) ReadFor(50);
  ::close(Master);
  EXPECT_EQ(Tool.exitCode(), 0) << Tool.readAllStandardError().toStdString();
  EXPECT_EQ(Screen.find("secret"), std::string::npos) << Screen;  // never echoed
  EXPECT_EQ(Tool.readAllStandardOutput().toStdString(),
            "received 0, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0\n");
}

// Killed in the middle of its first upload, then run again after the book
// was edited: every entry once on the server, nobody twice on either side.
TEST_F(SyncTool, KilledInTheMiddleThenRunAgain) {
  std::vector<std::unique_ptr<TAddressItem>> Entries;
  for (int I = 0; I < 300; ++I) Entries.push_back(Person({"P" + std::to_string(I), "X"}));
  Rig.WriteBook(std::move(Entries));
  const QString Stored = Rig.Server.StorageFolder() + QStringLiteral("/collection-root/tob/book");
  QProcess Tool;
  Prepare(Tool);
  Tool.setArguments(QStringList{QStringLiteral("sync"), Book(), Url()} + Login());
  Tool.start();
  ASSERT_TRUE(Tool.waitForStarted());
  int Seen = 0;
  for (int Waited = 0; Waited < 60000 && Tool.state() == QProcess::Running && Seen < 30; Waited += 10) {
    QThread::msleep(10);
    Seen = int(QDir(Stored).entryList({QStringLiteral("*.vcf")}, QDir::Files).size());
  }
  ASSERT_GE(Seen, 30);
  ASSERT_LT(Seen, 300);
  ::kill(pid_t(Tool.processId()), SIGKILL);
  Tool.waitForFinished(10000);
  Rig.EditBook([](TAddressBook& B) {
    for (TListNode* N = B.Items->Head; N; N = N->Next) static_cast<TAddressItem*>(N)->BusMobile = "m";
  });
  // A PUT on its way when the tool was killed may land after the next run
  // listed the server: that run's PUT of the card then fails, and the run
  // after it sends the edit. Either way each entry is sent once.
  int Sent = 0;
  std::string Last;
  for (int Run = 0; Run < 3 && Last != "received 0, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0\n";
       ++Run) {
    const TToolRun Again = ::Tool(QStringList{Book(), Url()} + Login());
    ASSERT_EQ(Again.Status, 0) << Again.Err;
    Last = Again.Out;
    int Count = 0;
    ASSERT_EQ(std::sscanf(Last.c_str(), "received 0, sent %d, deleted here 0, deleted there 0, merged 0, conflicts 0",
                          &Count),
              1)
        << Last;
    Sent += Count;
  }
  EXPECT_EQ(Sent, 300);
  EXPECT_EQ(Last, "received 0, sent 0, deleted here 0, deleted there 0, merged 0, conflicts 0\n");
  const std::vector<TCard> Cards = Rig.Cards();
  std::set<std::string> Uids, Names;
  for (const TCard& Card : Cards) {
    Uids.insert(CardUid(Card.Text.toStdString()));
    Names.insert(Short(*ReadCard(Card.Text.toStdString())));
  }
  EXPECT_EQ(Cards.size(), 300u);
  EXPECT_EQ(Uids.size(), 300u);
  EXPECT_EQ(Names.size(), 300u);
  EXPECT_EQ(*Names.begin(), "P0 X m=m");
  EXPECT_EQ(Rig.Here(), Rig.There());
}

TEST(SyncToolTls, RefusesAnUntrustedCertificateAndTrustsTheOneGiven) {
  TSyncRig Rig(TRadicaleOptions{true});
  ASSERT_TRUE(Rig.Start()) << Rig.Problem().toStdString();
  QFile Password(Rig.Dir.filePath(QStringLiteral("pw")));
  ASSERT_TRUE(Password.open(QIODevice::WriteOnly));
  Password.write("secret");
  Password.close();
  const QStringList Arguments{Rig.BookPath(), Rig.BookUrl.toString(), "--user",
                              "tob",          "--password-file",      Password.fileName()};
  const QString Fingerprint = Rig.Server.CertificateFingerprint();
  TToolRun Run = Tool(Arguments);
  EXPECT_EQ(Run.Status, 1);
  EXPECT_EQ(Run.Err, "tobrinel-book: The server's certificate is not trusted: it is self-signed (SHA-256 fingerprint " +
                         Fingerprint.toStdString() + ").\n");
  // Any hex form will do, and the trust is kept for the next runs.
  Run = Tool(Arguments + QStringList{"--trust", Fingerprint.toLower().remove(QLatin1Char(':'))});
  EXPECT_EQ(Run.Status, 0) << Run.Err;
  Run = Tool(Arguments);
  EXPECT_EQ(Run.Status, 0) << Run.Err;
}

}  // namespace
