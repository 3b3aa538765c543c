#!/usr/bin/env bash
# Runs every fuzz harness for a short while from its seed corpus. Inputs may
# grow at once up to FUZZ_MAX_LEN bytes (256 kB) instead of by small steps, so
# that short runs reach large inputs; seeds that large would slow every run
# twentyfold.
#
# A run that fails keeps its log and the input that failed (libFuzzer's crash-,
# leak-, timeout- or oom- file) under BUILD/fuzz-failures/HARNESS/, says where,
# and makes the script end with status 1.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
max_len=${FUZZ_MAX_LEN:-262144}
here=$(cd "$(dirname "$0")" && pwd)
failures=$(cd "$build" && pwd)/fuzz-failures
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
# FUZZ_SKIP="fuzz_a fuzz_b" leaves harnesses out of a run; none is left out by default.
skip=" ${FUZZ_SKIP-} "

# Harnesses run side by side, one a core (FUZZ_JOBS), each for the whole time.
jobs=${FUZZ_JOBS:-$(nproc)}

# One harness; its status is the run's.
fuzz_one() {
  local harness=$1 name work kept inputs
  name=$(basename "$harness")
  work=$(mktemp -d)
  mkdir "$work/corpus" "$work/artifacts"
  if [ -d "$here/corpus/$name" ]; then cp -r "$here/corpus/$name/." "$work/corpus/"; fi
  echo "fuzz: $name for ${seconds}s"
  if ! "$harness" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 -len_control=0 \
      -max_len="$max_len" -artifact_prefix="$work/artifacts/" "$work/corpus" 2>"$work/log"; then
    kept="$failures/$name"
    rm -rf "$kept"
    mkdir -p "$kept"
    mv "$work/log" "$kept/log"
    cp -r "$work/artifacts/." "$kept/"
    # One block, so that harnesses failing together do not mix their lines.
    {
      tail -n 40 "$kept/log"
      inputs=$(find "$kept" -type f ! -name log | sort | tr '\n' ' ')
      echo "fuzz: $name failed; its log is $kept/log, the input that failed: ${inputs:-none was written}"
      echo "fuzz: run it again with: $harness ${inputs%% *}"
    } >"$work/report"
    cat "$work/report"
    rm -rf "$work"
    return 1
  fi
  rm -rf "$work"
}

status=0
running=0
for harness in "$build"/fuzz/fuzz_*; do
  [ -f "$harness" ] && [ -x "$harness" ] || continue
  name=$(basename "$harness")
  if [[ "$skip" == *" $name "* ]]; then echo "fuzz: $name left out (FUZZ_SKIP)"; continue; fi
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
  fuzz_one "$harness" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
