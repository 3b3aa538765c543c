#include "CommandLine.h"

#include <QDir>
#include <QFileInfo>

#include "Adrbook.h"

const char* const MoreThanOneFileText =
    "You have specified more than one file to load.  Only the first file name received will be loaded.";
const char* const NotABookText = "This is not a valid Tobrinel address book file.";

namespace {

// The extension with its dot, or empty when the file name part has none.
QString ExtensionOf(const QString& FileName) {
  const QString Name = NameWithoutFolder(FileName);
  const qsizetype Dot = Name.lastIndexOf(QLatin1Char('.'));
  return Dot < 0 ? QString() : Name.mid(Dot);
}

// A file that is there and holds anything but a book; one that cannot be
// read is left to the loading to report.
bool HoldsNoBook(const QString& FileName) {
  try {
    return BookFileKind(FileName.toStdString()) == EBookFile::NotABook;
  } catch (const EFileError&) {
    return false;
  }
}

QString LastUsedInsteadText(const QString& FileName) {
  return NameWithoutFolder(FileName) + QStringLiteral("\n\n") +
         QStringLiteral("This is not a valid Tobrinel address book file so the ") +
         QStringLiteral("last used address book will be opened instead.");
}

}  // namespace

QString NotABookBoxText(const QString& FileName) {
  return NameWithoutFolder(FileName) + QStringLiteral("\n\n") + QString::fromLatin1(NotABookText);
}

QString NameWithoutFolder(const QString& FileName) {
  const qsizetype Slash = FileName.lastIndexOf(QLatin1Char('/'));
  return Slash < 0 ? FileName : FileName.mid(Slash + 1);
}

bool HasBookExtension(const QString& FileName) { return ExtensionOf(FileName).toUpper() == QLatin1String(".ABK"); }

QString FindFileIgnoringCase(const QString& Path) {
  const QFileInfo Info(Path);
  if (Info.exists()) return Path;
  const QDir Folder = Info.dir();
  const QString Wanted = Info.fileName();
  const QStringList Entries = Folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& Entry : Entries)
    if (Entry.compare(Wanted, Qt::CaseInsensitive) == 0) return Folder.filePath(Entry);
  return Path;
}

TCommandLineBook ChooseCommandLineBook(const QStringList& Arguments, const QString& CurrentFolder) {
  TCommandLineBook Result;
  if (Arguments.isEmpty()) return Result;
  if (Arguments.size() > 1) Result.Errors << QString::fromLatin1(MoreThanOneFileText);
  QString Name = Arguments.first();
  if (Name.isEmpty()) return Result;
  if (!Name.contains(QLatin1Char('/'))) Name = QDir(CurrentFolder).filePath(Name);
  if (ExtensionOf(Name).isEmpty()) Name += QStringLiteral(".ABK");
  if (!HasBookExtension(Name)) {
    Result.Errors << LastUsedInsteadText(Name);
    return Result;
  }
  Result.FileName = FindFileIgnoringCase(Name);
  if (HoldsNoBook(Result.FileName)) {
    Result.Errors << LastUsedInsteadText(Result.FileName);
    Result.FileName.clear();
  }
  return Result;
}
