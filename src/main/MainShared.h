#pragma once

// Small helpers the main window's source files share.

#include <string>

#include <QString>

#include "Blank.h"
#include "IniFile.h"

namespace MainWindow {

inline std::string Std(const QString& Text) { return Text.toStdString(); }
inline QString Q(const std::string& Text) { return QString::fromStdString(Text); }
using ::IsBlank;

// The property that carries a window's or a menu item's help context number.
inline const char* const HelpContextProperty = "HelpContext";

}  // namespace MainWindow
