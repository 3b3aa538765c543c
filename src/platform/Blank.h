#pragma once

#include <QString>

#include "IniFile.h"

// A field holding nothing but spaces counts as empty everywhere.
inline bool IsBlank(const QString& Text) { return TrimSpaces(Text.toStdString()).empty(); }
