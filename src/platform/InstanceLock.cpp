#include "InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

TInstanceLock::~TInstanceLock() { Release(); }

std::string TInstanceLock::LockPath(const std::string& Name) {
  const char* Runtime = std::getenv("XDG_RUNTIME_DIR");
  if (Runtime && *Runtime) return std::string(Runtime) + "/" + Name;
  const std::string Folder = "/tmp/TOBRINEL-" + std::to_string(getuid());
  mkdir(Folder.c_str(), 0700);
  return Folder + "/" + Name;
}

bool TInstanceLock::Acquire(const std::string& Name) {
  if (Fd >= 0) return true;
  const std::string Path = LockPath(Name);
  const int Handle = open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (Handle < 0) return false;
  if (flock(Handle, LOCK_EX | LOCK_NB) != 0) {
    close(Handle);
    return false;
  }
  Fd = Handle;
  return true;
}

void TInstanceLock::Release() {
  if (Fd < 0) return;
  flock(Fd, LOCK_UN);
  close(Fd);
  Fd = -1;
}
