#!/usr/bin/env bash
# What a monitoring set-up reads of a host under Wine, checked with the Linux tools it would use:
# promtool checks the metrics file of the running host, whose death counter rises when its client
# dies and which says the host is down after a stop; jq reads /Status /Json of the running and of
# the stopped component. The host runs as on a server without a display: it cannot make its
# window (Wine's X11 driver has no display to open), yet /Stop from another process stops it, and
# returns only once the host has ended. Usage: metrics_status_test.sh <directory of the Windows
# programs>
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
fail() { echo "metrics_status_test: $*" >&2; cat "$work"/logs/*.log 2>/dev/null | tr -d '\r' >&2; exit 1; }
within() { for _ in $(seq 100); do eval "$1" && return 0; sleep 0.2; done; return 1; }
prom=$work/metrics/keldran-Metrics.prom
check() { promtool check metrics <"$prom" || fail "promtool refused the file ($1):$(cat "$prom")"; }
# /Status /Json with its exit code; the object must satisfy the jq expression.
status() {
  local rc=0 json
  json=$(agent /Status /Json) || rc=$?
  [ "$rc" = "$1" ] || fail "/Status /Json exited with $rc: $json"
  jq -e "$2" <<<"$json" >/dev/null || fail "/Status /Json does not satisfy $2: $json"
}

mkdir "$work/logs" "$work/metrics"
# The client ends with 7 after 4 s and is started again at once; Timeout=0: no heartbeats needed.
printf '[Service]\r\nLogDir=%s\r\nCommandLine="%s" - sleep=4000 exit=7\r\nWorkingDir=%s\r\nTimeout=0\r\nMetricsFile=metrics\\keldran-%%COMP%%.prom\r\nMetricsInterval=2\r\n' \
  "$(windows "$work/logs")" "$(windows "$bin/echo_child.exe")" "$(windows "$work")" >"$work/host.ini"
component="Metrics@$(windows "$work/host.ini")"
agent() { env -u DISPLAY "$run" "$bin/KeldranGridAgent.exe" "$component" "$@"; }

agent /RegApp /Quiet || fail "registration failed"
agent & host_pid=$!
within '[ -f "$prom" ]' || fail "no metrics file"
check "running"
grep -qx 'keldran_host_up{component="Metrics"} 1' "$prom" || fail "not up: $(cat "$prom")"
status 0 '.state == "healthy" and .hostRunning == true and (.clientPid | type) == "number"
  and (.clientStartTime | type) == "number" and .restarts.death == 0 and .pings == 0
  and .heartbeatAgeSeconds == null and .progress == null and .registeredAs == "application"
  and .paused == false and .recovery == null'

within 'grep -q "reason=\"death\"} [1-9]" "$prom"' || fail "no death counted: $(cat "$prom")"
check "after a death"
grep -qx 'keldran_client_last_exit_code{component="Metrics"} 7' "$prom" || fail "$(cat "$prom")"
status 0 '.restarts.death >= 1 and .restarts.total >= 1 and .lastExitCode == 7'

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
check "stopped"
grep -qx 'keldran_host_up{component="Metrics"} 0' "$prom" || fail "not down: $(cat "$prom")"
[ ! -e "$prom.tmp" ] || fail "the temporary file stayed"
status 1 '.state == "not running" and .hostRunning == false and .restarts == null
  and .clientPid == null and .registered == true'
echo "metrics_status_test: promtool and jq read the host's metrics file and /Status /Json"
