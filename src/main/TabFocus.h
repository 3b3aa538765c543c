#pragma once

class QString;
class QTabWidget;

// A notebook's tab bar as the keyboard and a screen reader meet it: named
// (Name, "Details"), and while it has the focus its current tab carries a
// mark drawn in the theme's highlight colour, whatever the style draws itself.
void ShowTabFocus(QTabWidget* Notebook, const QString& Name);
