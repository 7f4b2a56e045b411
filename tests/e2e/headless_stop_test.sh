#!/usr/bin/env bash
# The host on a server without a display: it cannot make its window (Wine's X11 driver has no
# display to open), yet /Stop from another process stops it, and /Stop returns only once the host
# has ended. Usage: headless_stop_test.sh <directory of the Windows programs>
set -euo pipefail
bin=$(cd "$1" && pwd)
run=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine-run.sh
work=$(mktemp -d)
host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
  env -u DISPLAY "$run" "$bin/KeldranGridAgent.exe" "$component" /UnReg /Quiet >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
windows() { printf 'Z:%s' "${1//\//\\}"; }
fail() { echo "headless_stop_test: $*" >&2; cat "$work"/logs/*.log 2>/dev/null | tr -d '\r' >&2; exit 1; }

mkdir "$work/logs"
printf '[Service]\r\nLogDir=%s\r\nCommandLine="%s" - wait\r\nWorkingDir=%s\r\nTimeout=0\r\n' \
  "$(windows "$work/logs")" "$(windows "$bin/echo_child.exe")" "$(windows "$work")" >"$work/host.ini"
component="Headless@$(windows "$work/host.ini")"
agent() { env -u DISPLAY "$run" "$bin/KeldranGridAgent.exe" "$component" "$@"; }

agent /RegApp /Quiet || fail "registration failed"
agent & host_pid=$!
for _ in $(seq 100); do
  grep -aq "Client started" "$work"/logs/*.log 2>/dev/null && break
  sleep 0.2
done
grep -aq "Client started" "$work"/logs/*.log || fail "the client never started"

started=$(date +%s)
agent /Stop || fail "/Stop failed with $?"
kill -0 "$host_pid" 2>/dev/null && { sleep 1; kill -0 "$host_pid" 2>/dev/null && fail "/Stop came back while the host still runs"; }
wait "$host_pid" || fail "the host exited with $?"
host_pid=
elapsed=$(($(date +%s) - started))
[ "$elapsed" -le 45 ] || fail "the stop took $elapsed s"
log=$(cat "$work"/logs/*.log | tr -d '\r')
grep -q "The service window could not be created" <<<"$log" || fail "no word about the window"
[ "$(grep -c "Service stopped (as application)" <<<"$log")" = 1 ] || fail "not stopped once"
echo "headless_stop_test: stopped in $elapsed s without a window"
