#pragma once

#include <string>

// The single-instance lock: a file held with flock for the life of the
// process, so the kernel drops it when the process dies however it ends.
class TInstanceLock {
public:
  enum class EResult { Acquired, HeldByAnother, Unavailable };

  TInstanceLock() = default;
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // In $XDG_RUNTIME_DIR, or in the private folder in /tmp when that variable is
  // unset or names a folder that cannot hold the lock file (as after su).
  // Unavailable when neither can: nobody else is known to hold it then.
  EResult TryAcquire(const std::string& Name = "TOBRINEL");
  // True only when this object now holds the lock.
  bool Acquire(const std::string& Name = "TOBRINEL") { return TryAcquire(Name) == EResult::Acquired; }
  void Release();
  bool Held() const { return Fd >= 0; }
  // The lock file, while held.
  const std::string& HeldPath() const { return FPath; }

  // $XDG_RUNTIME_DIR/<Name>, else FallbackPath(Name).
  static std::string LockPath(const std::string& Name);
  // /tmp/TOBRINEL-<uid>/<Name>; the folder is made, private, when missing.
  static std::string FallbackPath(const std::string& Name);

private:
  EResult TryFile(const std::string& Path);
  int Fd = -1;
  std::string FPath;
};
