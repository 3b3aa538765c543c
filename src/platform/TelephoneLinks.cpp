#include "TelephoneLinks.h"

#include <QProcess>
#include <QStringList>

namespace {

constexpr int QueryTimeLimitMs = 5000;

class TDesktopTelephone : public ITelephoneLinks {
public:
  QString Handler() override {
    // Asked first: with no handler, xdg-open would give the link to a web browser.
    QProcess Query;
    Query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/tel")});
    if (!Query.waitForFinished(QueryTimeLimitMs)) {
      Query.kill();
      Query.waitForFinished();
      return {};
    }
    if (Query.exitStatus() != QProcess::NormalExit || Query.exitCode() != 0) return {};
    return QString::fromLocal8Bit(Query.readAllStandardOutput()).trimmed();
  }
  bool Open(const QString& Link) override {
    // Not waited for: xdg-open runs the application in its place, which may stay.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {Link});
  }
};

TDesktopTelephone Desktop;
ITelephoneLinks* Installed = nullptr;

}  // namespace

ITelephoneLinks& TelephoneLinks() { return Installed ? *Installed : Desktop; }
void SetTelephoneLinks(ITelephoneLinks* Replacement) { Installed = Replacement; }
