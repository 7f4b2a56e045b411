#!/usr/bin/env bash
# Runs every benchmark program of the Windows build under Wine; each prints its own ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="$PWD/build/windows/wineprefix"
if [ "${1:-}" != --in-display ]; then
  ./scripts/wine-prefix.sh "$prefix"
  # One display for every program (the host's window and tray icon need one); the prefix's
  # wineserver is stopped at the end so that no Wine process outlives it.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --in-display
fi
shopt -s nullglob
found=0
rc=0
for b in build/windows/bin/bench_*.exe; do
  found=1
  echo "== $(basename "$b")"
  ./scripts/wine-run.sh "$b" || rc=1
done
WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
[ $found -eq 1 ] || echo "no benchmarks built yet"
exit $rc
