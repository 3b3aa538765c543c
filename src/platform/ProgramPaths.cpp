#include "ProgramPaths.h"

#include <QDir>
#include <QFileInfo>

#include "IniFile.h"

namespace {
QString& Override() {
  static QString Path;
  return Path;
}
}  // namespace

void SetProgramPathOverride(const QString& Path) { Override() = Path; }

QString ProgramPath() {
  if (!Override().isEmpty()) return Override();
  return QString::fromStdString(GetExecutablePath());
}

QString ProgramFolder() { return QFileInfo(ProgramPath()).absolutePath(); }

QString SettingsFileName() {
  if (!Override().isEmpty()) return Override() + QStringLiteral(".INI");
  return QString::fromStdString(GetSettingsFileName());
}

QString HelpFileName() { return ProgramPath() + QStringLiteral(".HLP"); }

QString MarkerFileName() { return QDir(ProgramFolder()).filePath(QStringLiteral("TOBRINEL.NEW")); }
