#pragma once

// Small helpers the main window's source files share.

#include <string>
#include <string_view>

#include <QString>

#include "Blank.h"
#include "IniFile.h"

namespace MainWindow {

inline std::string Std(const QString& Text) { return Text.toStdString(); }
inline QString Q(std::string_view Text) { return QString::fromUtf8(Text.data(), qsizetype(Text.size())); }
using ::IsBlank;

// The property that carries a window's or a menu item's help context number.
inline const char* const HelpContextProperty = "HelpContext";

}  // namespace MainWindow
