#pragma once

#include <QString>

class QFont;
class QWidget;

struct TFontDialogOptions {
  QString Title;
  bool ScalableOnly = false;  // outline (TrueType-like) fonts only
  int MaxPointSize = 0;       // 0: no limit
};

// The font dialog. The font given is the one the dialog starts with; it is
// replaced by the choice when the user accepts.
class IFontDialogs {
public:
  virtual ~IFontDialogs() = default;
  virtual bool ChooseFont(QWidget* Parent, QFont& Font, const TFontDialogOptions& Options) = 0;
};

IFontDialogs& FontDialogs();
void SetFontDialogs(IFontDialogs* Replacement);
