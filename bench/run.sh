#!/usr/bin/env bash
# Runs every benchmark; figures are medians of repeated runs.
set -euo pipefail
build=${1:-build-bench}
for b in "$build"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  QT_QPA_PLATFORM=offscreen "$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
