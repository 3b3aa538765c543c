#!/usr/bin/env bash
# Runs every fuzz harness for a short while from its seed corpus.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for harness in "$build"/fuzz/fuzz_*; do
  [ -f "$harness" ] && [ -x "$harness" ] || continue
  name=$(basename "$harness")
  work=$(mktemp -d)
  if [ -d "$here/corpus/$name" ]; then cp -r "$here/corpus/$name/." "$work/"; fi
  echo "fuzz: $name for ${seconds}s"
  if ! "$harness" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 "$work" 2>"$work.log"; then
    tail -n 40 "$work.log"
    status=1
  fi
  rm -rf "$work" "$work.log"
done
exit $status
