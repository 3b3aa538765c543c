#pragma once

#include <string>

// The single-instance lock: a file held with flock for the life of the
// process, so the kernel drops it when the process dies however it ends.
class TInstanceLock {
public:
  TInstanceLock() = default;
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // False when another holder has it (or the lock file cannot be made).
  bool Acquire(const std::string& Name = "TOBRINEL");
  void Release();
  bool Held() const { return Fd >= 0; }

  // $XDG_RUNTIME_DIR/<Name>, else /tmp/TOBRINEL-<uid>/<Name>.
  static std::string LockPath(const std::string& Name);

private:
  int Fd = -1;
};
