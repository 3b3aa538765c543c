#include "InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

std::string FallbackFolder() { return "/tmp/TOBRINEL-" + std::to_string(getuid()); }

// The folder in /tmp is shared with every user: use it only when it is our
// own private folder, not somebody's link or a folder others may write to.
bool PrivateFolderUsable(const std::string& Folder) {
  mkdir(Folder.c_str(), 0700);
  struct stat Info;
  return lstat(Folder.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode) && Info.st_uid == getuid() &&
         (Info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

TInstanceLock::~TInstanceLock() { Release(); }

std::string TInstanceLock::LockPath(const std::string& Name) {
  const char* Runtime = std::getenv("XDG_RUNTIME_DIR");
  if (Runtime && *Runtime) return std::string(Runtime) + "/" + Name;
  return FallbackPath(Name);
}

std::string TInstanceLock::FallbackPath(const std::string& Name) {
  const std::string Folder = FallbackFolder();
  mkdir(Folder.c_str(), 0700);
  return Folder + "/" + Name;
}

TInstanceLock::EResult TInstanceLock::TryFile(const std::string& Path) {
  const int Handle = open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (Handle < 0) return EResult::Unavailable;
  if (flock(Handle, LOCK_EX | LOCK_NB) != 0) {
    const int Error = errno;
    close(Handle);
    return Error == EWOULDBLOCK ? EResult::HeldByAnother : EResult::Unavailable;
  }
  Fd = Handle;
  FPath = Path;
  return EResult::Acquired;
}

TInstanceLock::EResult TInstanceLock::TryAcquire(const std::string& Name) {
  if (Fd >= 0) return EResult::Acquired;
  const char* Runtime = std::getenv("XDG_RUNTIME_DIR");
  if (Runtime && *Runtime) {
    const EResult Result = TryFile(std::string(Runtime) + "/" + Name);
    if (Result != EResult::Unavailable) return Result;
  }
  const std::string Folder = FallbackFolder();
  if (!PrivateFolderUsable(Folder)) return EResult::Unavailable;
  return TryFile(Folder + "/" + Name);
}

void TInstanceLock::Release() {
  if (Fd < 0) return;
  flock(Fd, LOCK_UN);
  close(Fd);
  Fd = -1;
  FPath.clear();
}
