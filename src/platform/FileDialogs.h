#pragma once

#include <QString>

class QWidget;

struct TFileDialogOptions {
  QString Title;       // empty: the system's default
  QString Filter;      // Qt form: "Tobrinel Data File (*.ABK)", choices separated by ";;"
  QString DefaultExt;  // appended when the typed name has none
  QString Folder;      // where the dialog starts
};

// The open and save dialogs. An empty result means the user cancelled.
class IFileDialogs {
public:
  virtual ~IFileDialogs() = default;
  // The chosen file and its folder must exist.
  virtual QString OpenFile(QWidget* Parent, const TFileDialogOptions& Options) = 0;
  // Asks before overwriting; a read-only file cannot be chosen.
  virtual QString SaveFile(QWidget* Parent, const TFileDialogOptions& Options) = 0;
};

IFileDialogs& FileDialogs();
void SetFileDialogs(IFileDialogs* Replacement);
