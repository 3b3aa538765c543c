#pragma once

// A whole process, as a script runs it: its exit status, the processor time
// it took (on a busy machine its real time includes waiting for a core) and
// its peak memory.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

struct TProcessRun {
  bool Started = false;
  int Status = -1;  // -1 when a signal ended it
  double CpuMs = 0;
  long PeakKb = 0;
};

// Argv ends in nullptr; descriptor Fd goes to the file Path, opened with Flags.
inline TProcessRun RunProcess(const char* const* Argv, int Fd, const char* Path, int Flags) {
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, Fd, Path, Flags, 0644);
  TProcessRun Run;
  pid_t Child;
  Run.Started = posix_spawn(&Child, Argv[0], &Actions, nullptr, const_cast<char**>(Argv), environ) == 0;
  posix_spawn_file_actions_destroy(&Actions);
  if (!Run.Started) return Run;
  int Status = 0;
  struct rusage Usage {};
  wait4(Child, &Status, 0, &Usage);
  Run.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  Run.CpuMs = double(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) * 1e3 +
              double(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e3;
  Run.PeakKb = Usage.ru_maxrss;
  return Run;
}
