#pragma once

#include <QString>

class QTabWidget;

// A notebook's tab bar as the keyboard and a screen reader meet it: named
// (Name, "Details"), and while it has the focus its current tab carries a
// mark drawn in the theme's highlight colour, whatever the style draws itself.
void ShowTabFocus(QTabWidget* Notebook, const QString& Name);

// A frame for a box of that class which keeps all four lines at any scale,
// in the palette's colours (the highlight while it has the focus).
inline QString ScaledFrameStyle(const QString& Class) {
  return QStringLiteral("%1 { border: 1px solid palette(mid); } %1:focus { border-color: palette(highlight); }")
      .arg(Class);
}
