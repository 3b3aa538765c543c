#include "SettingsLocation.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FileSystem.h"

namespace {

bool MakeFolders(const std::string& Path) {
  struct stat Info;
  if (::stat(Path.c_str(), &Info) == 0) return S_ISDIR(Info.st_mode);
  std::string Parent = FolderOf(Path);
  if (Parent != Path && !MakeFolders(Parent)) return false;
  return ::mkdir(Path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::string GetExecutablePath() {
  std::vector<char> Buffer(256);
  for (;;) {
    ssize_t Length = ::readlink("/proc/self/exe", Buffer.data(), Buffer.size());
    if (Length < 0) return std::string();
    if (static_cast<size_t>(Length) < Buffer.size()) return std::string(Buffer.data(), static_cast<size_t>(Length));
    Buffer.resize(Buffer.size() * 2);
  }
}

std::string SettingsFileNameFor(const std::string& ExecutablePath, bool FolderWritable) {
  if (!ExecutablePath.empty() && FolderWritable) return ExecutablePath + ".INI";
  std::string Config;
  const char* Xdg = std::getenv("XDG_CONFIG_HOME");
  // Relative values are invalid and are ignored.
  if (Xdg && Xdg[0] == '/') {
    Config = Xdg;
  } else {
    const char* Home = std::getenv("HOME");
    std::string HomeFolder;
    if (Home && Home[0] != '\0') {
      HomeFolder = Home;
    } else if (const passwd* Entry = ::getpwuid(::getuid())) {
      HomeFolder = Entry->pw_dir;
    }
    Config = HomeFolder + "/.config";
  }
  std::string Folder = Config + "/tobrinel";
  // A folder that cannot be made shows up later as a write error naming it.
  MakeFolders(Folder);
  return Folder + "/tobrinel.INI";
}

std::string GetSettingsFileName() {
  std::string Executable = GetExecutablePath();
  bool Writable = !Executable.empty() && ::access(FolderOf(Executable).c_str(), W_OK) == 0;
  return SettingsFileNameFor(Executable, Writable);
}
