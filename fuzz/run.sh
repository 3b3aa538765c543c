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

status=0
for harness in "$build"/fuzz/fuzz_*; do
  [ -f "$harness" ] && [ -x "$harness" ] || continue
  name=$(basename "$harness")
  if [[ "$skip" == *" $name "* ]]; then echo "fuzz: $name left out (FUZZ_SKIP)"; continue; fi
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
    tail -n 40 "$kept/log"
    inputs=$(find "$kept" -type f ! -name log | sort | tr '\n' ' ')
    echo "fuzz: $name failed; its log is $kept/log, the input that failed: ${inputs:-none was written}"
    echo "fuzz: run it again with: $harness ${inputs%% *}"
    status=1
  fi
  rm -rf "$work"
done
exit $status
