#!/usr/bin/env bash
# make soak: the host under Wine for 15 minutes (soak.exe: 10 minutes of a client that dies 1.5 s
# after each start, then 5 of one that hangs until it is killed), in a Wine prefix of its own.
# Arguments go to soak.exe (/crash=<s> /hang=<s> for a shorter run). Fails when soak.exe finds a
# count or a figure wrong, or when a host, a client or any Wine process of the prefix is left.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="$PWD/build/windows/soakprefix"
if [ "${1:-}" != --in-display ]; then
  ./scripts/wine-prefix.sh "$prefix"
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --in-display "$@"
fi
shift

# Processes of this prefix (Wine passes WINEPREFIX on to every process it starts), the given
# pattern in their command line.
of_prefix() {
  local pid
  for pid in $(grep -l -z -x -F "WINEPREFIX=$prefix" /proc/[0-9]*/environ 2>/dev/null |
    cut -d/ -f3); do
    [ "$pid" = $$ ] && continue
    tr '\0' ' ' </proc/"$pid"/cmdline 2>/dev/null | grep -q -E "$1" && echo "$pid $(tr '\0' ' ' </proc/"$pid"/cmdline)"
  done
  return 0
}

rc=0
WINEPREFIX="$prefix" ./scripts/wine-run.sh build/windows/bin/soak.exe "$@" || rc=$?
left=$(of_prefix 'KeldranGridAgent|KeldranTestClient')
if [ -n "$left" ]; then
  echo "left behind after the run:"
  echo "$left"
  rc=1
fi
WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
for _ in $(seq 50); do
  [ -z "$(of_prefix .)" ] && break
  sleep 0.2
done
left=$(of_prefix .)
if [ -n "$left" ]; then
  echo "Wine processes of the prefix left after its wineserver was stopped:"
  echo "$left"
  rc=1
else
  echo "no Wine process of the prefix is left"
fi
exit $rc
