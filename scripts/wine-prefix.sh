#!/usr/bin/env bash
# Creates a Wine prefix once (about 12 s) and keeps its wineserver warm, so that each later
# program start costs tens of milliseconds. Safe to call from parallel test processes.
set -euo pipefail
prefix=$(realpath -m "$1")
[ -f "$prefix/.keldran-ready" ] && exit 0
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.keldran-ready" ]; then
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w || true
  touch "$prefix/.keldran-ready"
fi
