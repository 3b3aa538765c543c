#include "Settings.h"

#include "ProgramPaths.h"

std::unique_ptr<TSectionedIniFile> OpenSettings() {
  try {
    return std::make_unique<TSectionedIniFile>(SettingsFileName().toStdString());
  } catch (const EFileError&) {
    // Unbound: reads give the defaults, writes go nowhere.
    return std::make_unique<TSectionedIniFile>(std::string());
  }
}
