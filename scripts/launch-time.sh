#!/bin/bash
# Times the real program from launch to its main window on screen, as a user
# waits for it: under xvfb-run with a window manager (openbox), in a fresh
# process each time. For each program given, a copy is started N times (runs
# alternate between the programs) with BOOK as its last book and no splash.
# Prints per run: ms until the window is mapped, ms until its client is
# painted, CPU ms and minor page faults of the process by then, and its peak
# memory (VmHWM) once painted; then medians.
#
#   scripts/launch-time.sh [-n RUNS] [-b BOOK] PROGRAM...
#   scripts/launch-time.sh -n 9 -b /tmp/BIG.ABK build/tobrinel /tmp/old/tobrinel
set -euo pipefail
Runs=7
Book=
while getopts "n:b:" Option; do
  case $Option in
    n) Runs=$OPTARG ;;
    b) Book=$(realpath "$OPTARG") ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { echo "usage: $0 [-n RUNS] [-b BOOK] PROGRAM..." >&2; exit 2; }

Work=$(mktemp -d)
trap 'rm -rf "$Work"' EXIT
cat > "$Work/maptime.c" <<'C'
/* Starts argv[1] and waits for the first top-level window mapped after it. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
static double Now(void) { struct timespec T; clock_gettime(CLOCK_MONOTONIC, &T); return T.tv_sec * 1e3 + T.tv_nsec / 1e6; }
int main(int argc, char** argv) {
  Display* D = XOpenDisplay(NULL);
  if (!D || argc < 2) return 2;
  XSelectInput(D, DefaultRootWindow(D), SubstructureNotifyMask);
  XSync(D, False);
  double Start = Now();
  pid_t Child = fork();
  if (Child == 0) { execv(argv[1], argv + 1); _exit(127); }
  XEvent E;
  do XNextEvent(D, &E); while (E.type != MapNotify || E.xmap.override_redirect);
  double Mapped = Now() - Start;
  unsigned long Cpu = 0, Faults = 0;
  char Path[64], Buffer[4096];
  snprintf(Path, sizeof Path, "/proc/%d/stat", (int)Child);
  FILE* F = fopen(Path, "r");
  if (F) {
    size_t N = fread(Buffer, 1, sizeof Buffer - 1, F);
    Buffer[N] = 0;
    fclose(F);
    int Field = 2;
    for (char* T = strtok(strrchr(Buffer, ')') + 1, " "); T; T = strtok(NULL, " ")) {
      ++Field;
      if (Field == 10) Faults = strtoul(T, 0, 10);
      if (Field == 14 || Field == 15) Cpu += strtoul(T, 0, 10);
    }
  }
  /* Painted: a pixel in the middle of the client stops being black. */
  double Painted = -1;
  for (int Try = 0; Try < 20000 && Painted < 0; ++Try) {
    Window Root, Parent, *Children = NULL;
    unsigned int Count = 0;
    if (XQueryTree(D, E.xmap.window, &Root, &Parent, &Children, &Count))
      for (unsigned int I = 0; I < Count && Painted < 0; ++I) {
        XWindowAttributes A;
        if (!XGetWindowAttributes(D, Children[I], &A) || A.map_state != IsViewable) continue;
        XImage* Image = XGetImage(D, Children[I], A.width / 2, A.height / 2, 1, 1, AllPlanes, ZPixmap);
        if (Image) { if (XGetPixel(Image, 0, 0) != 0) Painted = Now() - Start; XDestroyImage(Image); }
      }
    if (Children) XFree(Children);
    if (Painted < 0) usleep(500);
  }
  /* The peak resident memory, once the window is painted. */
  double PeakMb = -1;
  snprintf(Path, sizeof Path, "/proc/%d/status", (int)Child);
  F = fopen(Path, "r");
  if (F) {
    char Line[256];
    while (fgets(Line, sizeof Line, F))
      if (strncmp(Line, "VmHWM:", 6) == 0) PeakMb = strtod(Line + 6, NULL) / 1024;
    fclose(F);
  }
  printf("%.1f %.1f %lu %lu %.1f\n", Mapped, Painted, Cpu * 1000 / sysconf(_SC_CLK_TCK), Faults, PeakMb);
  kill(Child, SIGKILL);
  waitpid(Child, NULL, 0);
  return 0;
}
C
cc -O2 -o "$Work/maptime" "$Work/maptime.c" -lX11

# Each program runs from a folder of its own, with a settings file of its own.
Index=0
for Program in "$@"; do
  Index=$((Index + 1))
  mkdir -p "$Work/p$Index"
  cp "$(realpath "$Program")" "$Work/p$Index/tobrinel"
  printf '[StartUp]\r\nShowSplash=0\r\nLoadFile=%s\r\n' "$Book" > "$Work/p$Index/tobrinel.INI"
done

cat > "$Work/session.sh" <<SESSION
#!/bin/bash
openbox >/dev/null 2>&1 & Manager=\$!
sleep 1
export XDG_RUNTIME_DIR=\$(mktemp -d)
for Run in \$(seq $Runs); do
  for I in \$(seq $Index); do echo "\$I \$("$Work/maptime" "$Work/p\$I/tobrinel")"; done
done
kill \$Manager
rm -rf "\$XDG_RUNTIME_DIR"
SESSION
chmod +x "$Work/session.sh"
xvfb-run -a -s "-screen 0 1280x1024x24" "$Work/session.sh" > "$Work/runs.txt"

Index=0
for Program in "$@"; do
  Index=$((Index + 1))
  echo "$Program${Book:+ with $Book}: map ms, painted ms, CPU ms, page faults, peak MB"
  awk -v I=$Index '$1 == I { print "  " $2, $3, $4, $5, $6 }' "$Work/runs.txt"
  awk -v I=$Index '$1 == I { print $2, $3, $4, $5, $6 }' "$Work/runs.txt" | python3 -c '
import sys, statistics
rows = [list(map(float, line.split())) for line in sys.stdin]
print("  median", *("%g" % statistics.median(column) for column in zip(*rows)))'
done
