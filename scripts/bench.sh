#!/usr/bin/env bash
# Runs every benchmark program of the Windows build under Wine; each prints its own ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
shopt -s nullglob
found=0
for b in build/windows/bin/bench_*.exe; do
  found=1
  echo "== $(basename "$b")"
  xvfb-run -a ./scripts/wine-run.sh "$b"
done
[ $found -eq 1 ] || echo "no benchmarks built yet"
