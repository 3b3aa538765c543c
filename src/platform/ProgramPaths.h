#pragma once

#include <QString>

// Files that live beside the program. Tests point the program path elsewhere
// so that they never touch the files of a real build.
QString ProgramPath();  // the executable's full path
QString ProgramFolder();
QString SettingsFileName();  // the settings file (see GetSettingsFileName)
QString HelpFileName();      // the program's path with ".HLP" appended
QString MarkerFileName();    // "TOBRINEL.NEW" beside the program

// Empty restores the real executable's path.
void SetProgramPathOverride(const QString& Path);
