#pragma once

#include <memory>

#include "IniFile.h"

// The settings engine on the program's settings file. A file that cannot be
// read gives the defaults and is never written over.
std::unique_ptr<TSectionedIniFile> OpenSettings();
