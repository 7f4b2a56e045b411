#!/usr/bin/env bash
# make demo: the host's main job, for real, under Wine. Writes the component Grid's INI file in
# build/demo, registers the component with the host's own /RegApp in the build tree's private
# Wine prefix, and runs the host as an application with the scripted test client: heartbeats and
# progress, then a silence that is pinged, timed out, killed and restarted; the restarted client
# works a little and calls Stop. Unregisters with /UnReg. Prints the day's log file, what the
# client saw, and the host's full exit codes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin="$root/build/windows/bin"
demo="$root/build/demo"
export WINEPREFIX="$root/build/windows/wineprefix"
export WINEDEBUG="${WINEDEBUG:--all}"

# Wine sees the Linux root as drive Z:.
winpath() { local p="Z:$1"; echo "${p//\//\\}"; }

for program in KeldranGridAgent.exe KeldranTestClient.exe run_exit_code.exe; do
  [ -f "$bin/$program" ] || { echo "demo: $bin/$program is missing; run 'make demo'" >&2; exit 2; }
done

rm -rf "$demo"
mkdir -p "$demo/logs"

# The life cycle. Timeout 6 s: pings from 3 s of silence on, the kill after 6 s.
# Steps are separated by line breaks or ";", and a call's arguments by commas.
cat >"$demo/first.txt" <<'EOF'
# The first client: healthy for a while, then silent.
heartbeat=1000
progress=Loading the grid,0
wait=2500
call=SetToolTip(Demo client at work)
call=Log(0,demo: the client is up and sends a heartbeat every second)
heartbeat=0
progress=Crunching numbers,0
call=Log(1,demo: the client goes silent now - the host will ping it and then kill it)
silent
EOF
cat >"$demo/later.txt" <<'EOF'
# Every restarted client: back at work, then it ends the run.
heartbeat=1000
progress=Back at work after the restart,0
wait=3000
call=Log(0,demo: the restarted client asks the host to stop)
call=Stop()
EOF

# The host is given the INI file by its full path, which may hold blanks and hyphens:
# run_exit_code.exe puts the word in double quotes when it holds a blank.
ini_win=$(winpath "$demo/demo.ini")
printf '%s\r\n' \
  "[Service]" \
  "LogDir=$(winpath "$demo/logs")" \
  "CommandLine=\"$(winpath "$bin/KeldranTestClient.exe")\" /script=first.txt /once=once.mark /laterscript=later.txt /out=client.out" \
  "WorkingDir=$(winpath "$demo")" \
  "Timeout=6" >"$demo/demo.ini"

if [ "${1:-}" = --in-display ]; then
  wine=/usr/lib/wine/wine64
  # Wine's note that drive Z: has no volume label (asked for when a shortcut is saved) is noise.
  agent() {
    "$wine" "$bin/run_exit_code.exe" --timeout-ms 80000 --dismiss-boxes -- \
      "$(winpath "$bin/KeldranGridAgent.exe")" "Grid@$ini_win" "$@" \
      2> >(grep -v "FS volume label and serial are not available" >&2) | tr -d '\r'
  }
  echo "== registering: KeldranGridAgent.exe \"Grid@$ini_win\" /RegApp /Quiet"
  agent /RegApp /Quiet | tee "$demo/registered.txt"
  "$wine" reg query 'HKCR\AppID\{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}\Services\Grid' /v ServiceID |
    tr -d '\r' | grep ServiceID || true
  echo "== running: KeldranGridAgent.exe \"Grid@$ini_win\""
  agent >"$demo/exit.txt"
  echo "== unregistering: KeldranGridAgent.exe \"Grid@$ini_win\" /UnReg /Quiet"
  agent /UnReg /Quiet | tee "$demo/unregistered.txt"
  # No Wine process may outlive the display.
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  exit 0
fi

./scripts/wine-prefix.sh "$WINEPREFIX"
# Windows, the tray icon and message boxes need a display: the run above happens under one.
xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --in-display

echo
echo "== the day's log file"
cat "$demo"/logs/*.log | tr -d '\r'
echo
echo
echo "== what the client saw (tick count in ms, then the event)"
tr -d '\r' <"$demo/client.out"
echo
echo "== the host's $(cat "$demo/exit.txt")"
for step in registered exit unregistered; do
  grep -q "exit code: 0x00000000" "$demo/$step.txt"
done
