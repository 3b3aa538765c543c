#pragma once

#include <QString>
#include <QStringList>

// The book named on the command line, and the boxes to show about it.
struct TCommandLineBook {
  QString FileName;    // empty when none is usable
  QStringList Errors;  // error boxes, in the order they are shown
};

TCommandLineBook ChooseCommandLineBook(const QStringList& Arguments, const QString& CurrentFolder);

// True when the extension of the file name part, upper-cased, is ".ABK".
bool HasBookExtension(const QString& FileName);
// The file name without its folder.
QString NameWithoutFolder(const QString& FileName);
// The error box for a file that is no book: its name, then NotABookText.
QString NotABookBoxText(const QString& FileName);
// The path as named when it exists, else a case-insensitive match of its file
// name in its folder, else the path unchanged.
QString FindFileIgnoringCase(const QString& Path);

extern const char* const MoreThanOneFileText;
extern const char* const NotABookText;
