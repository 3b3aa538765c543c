#pragma once

#include <string>

// The settings file: the executable's path with ".INI" appended, or
// $XDG_CONFIG_HOME/tobrinel/tobrinel.INI when the executable's folder is not
// writable.
std::string GetSettingsFileName();
// The settings file for an executable at ExecutablePath: beside it when its
// folder is writable, else in the per-user configuration folder (created).
std::string SettingsFileNameFor(const std::string& ExecutablePath, bool FolderWritable);
// The executable's full path (from /proc/self/exe).
std::string GetExecutablePath();
