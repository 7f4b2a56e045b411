#!/usr/bin/env bash
# The package as an administrator's deployment tool uses it, each step silently (/qn) by Wine's
# msiexec in a Wine prefix made afresh for the run (build/windows/msiprefix): an installation
# configured by public properties, whose service runs a script client when msiexec returns; an
# upgrade to a newer build while the service runs; the removal while it runs a console client
# that no stop request reaches; an installation refused for bad properties; and one made to fail
# after its commit. Prints one line per check and fails if any check failed; the msiexec logs stay
# in build/package-test.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
msi="$root/build/package/KeldranGridAgent.msi"
out="$root/build/package-test"
export WINEPREFIX="$root/build/windows/msiprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
keldran="$WINEPREFIX/drive_c/Program Files/Keldran"
bin="$keldran/bin"
installed='C:\Program Files\Keldran\bin'
component_key='HKCR\AppID\{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}\Services\Grid'
service_key='HKLM\System\CurrentControlSet\Services\KeldranGridAgent321'

[ -f "$msi" ] || { echo "msi_test: $msi is missing; run 'make test-package'" >&2; exit 2; }

# A fresh prefix: nothing of an earlier run (registry, files, installed products) may remain.
rm -rf "$WINEPREFIX" "$out"
mkdir -p "$out"
./scripts/wine-prefix.sh "$WINEPREFIX"
# No Wine process may outlive the test.
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

# The newer package of the upgrade: the same build, one version up.
product_value() { msiinfo export "$1" Property | tr -d '\r' | sed -n "s/^$2\t//p"; }
version=$(product_value "$msi" ProductVersion)
newer="$out/newer/KeldranGridAgent.msi"
KELDRAN_TEST_PACKAGE_DIR=build/package-test/newer \
  KELDRAN_TEST_PACKAGE_VERSION="${version%.*}.$((${version##*.} + 1))" ./scripts/package.sh >/dev/null

failures=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    failures=$((failures + 1))
  fi
}
# Runs msiexec with a log named after the step and prints its exit code modulo 256, as wine64
# passes it on (1603 shows as 67). msiexec's trace, kept beside the log, names each program that
# a custom action starts, with its arguments and folder (also those of a removal that an upgrade
# starts, which runs in an msiexec of its own).
msiexec() {
  local step=$1 rc=0
  shift
  WINEDEBUG=trace+msi "$wine" msiexec "$@" /qn /l*v "$out/$step.log" 2>"$out/$step-trace.txt" || rc=$?
  echo "$rc"
}
# The trace writes texts as L"..." with each backslash doubled and each quote escaped, and cuts
# long ones: a command is matched by its start.
traced() {
  local t=${1//\\/\\\\}
  echo "L\"${t//\"/\\\"}"
}
# The installed host was started in its folder with arguments that begin so (and was found).
started() {
  grep -F "HANDLE_CustomType34 cmd $(traced "\"$installed\\KeldranGridAgent.exe\" $2")" \
    "$out/$1-trace.txt" | grep -qF " dir $(traced "$installed\\")\"" &&
    ! grep -q 'err:msi:execute_command' "$out/$1-trace.txt"
}
# A copy of the host from the package was started with the arguments during the step.
started_copy() { grep "HANDLE_CustomType2 exe " "$out/$1-trace.txt" | grep -qF " arg $(traced "$2")\""; }
has_key() { "$wine" reg query "$1" >/dev/null 2>&1; }
no_key() { ! has_key "$1"; }
# Some COM class of the registry is served by the installed companion DLL.
dll_registered() { "$wine" reg query 'HKCR\CLSID' /s 2>/dev/null | grep -qiF "$installed\\KeldranGridUtil.dll"; }
dll_unregistered() { ! dll_registered; }
service_runs_installed_exe() {
  "$wine" reg query "$service_key" /v ImagePath 2>/dev/null |
    grep -qF "\"$installed\\KeldranGridAgent.exe\" /Service"
}
start_type() { "$wine" reg query "$service_key" /v Start 2>/dev/null | grep -q "REG_DWORD *$1"; }
installed_product() { has_key "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1"; }
product_installed() { installed_product "$(product_value "$msi" ProductCode)"; }
product_not_installed() { ! product_installed; }
installed_files() { for f in "$@"; do [ -f "$bin/$f" ] || return 1; done; }
no_installed_files() { for f in "$@"; do [ ! -e "$bin/$f" ] || return 1; done; }
shipped=(KeldranGridAgent.exe KeldranGridUtil.dll KeldranGridAgent-example.ini Grid-example.ini)
# The commit wrote the installation folder in place of the folder macros, in the examples and in
# the working files made from them.
macros_replaced() {
  [ -f "$bin/$1" ] && grep -qF "CommandLine=\"$installed\\KeldranGridClient.exe\"" "$bin/$1" &&
    grep -qF "LogDir=${installed%\\bin}\\log" "$bin/$1" && ! grep -qE '%(DIR|ROOTDIR)%' "$bin/$1"
}
grid_macros_replaced() {
  [ -f "$bin/$1" ] && grep -qF 'WorkDir=C:\Program Files\Keldran\work' "$bin/$1" && ! grep -qE '%(DIR|ROOTDIR)%' "$bin/$1"
}
examples_expanded() {
  macros_replaced KeldranGridAgent-example.ini && grid_macros_replaced Grid-example.ini
}
# Whole lines of the working INI file.
ini_has() {
  local line
  for line in "$@"; do
    tr -d '\r' <"$bin/KeldranGridAgent.ini" | grep -qxF -- "$line" || { echo "      no line: $line"; return 1; }
  done
}
# The component's health from the installed host: 0 once it runs and its client has connected.
healthy() { "$wine" "$bin/KeldranGridAgent.exe" Grid /Status >/dev/null 2>&1; }
host_runs() { "$wine" "$bin/KeldranGridAgent.exe" Grid /Status 2>/dev/null | grep -q '^Host: *running'; }
eventually() { for _ in $(seq 100); do "$@" && return 0; sleep 0.2; done; return 1; }

client='C:\Keldran client'
logs='C:\Keldran logs'
mkdir -p "$WINEPREFIX/drive_c/Keldran client"
cp "$root/build/windows/bin/client.vbs" "$root/build/windows/bin/echo_child.exe" \
  "$WINEPREFIX/drive_c/Keldran client/"
# Each registration of the component leaves one record in the host's log.
registrations_logged() { [ "$(cat "$keldran"/log/*.log | grep -c '^Service installed')" = "$1" ]; }
host_logged() { compgen -G "$WINEPREFIX/drive_c/Keldran logs/*.log" >/dev/null; }
logged() { cat "$WINEPREFIX/drive_c/Keldran logs/"*.log | tr -d '\r' | grep -qF -- "$1"; }

# Wine's msiexec drops every double quote of its command line, so no property given there holds
# one (the commit's own tests pass a quoted client command line), and makes one blank of two.
echo "== msiexec /i KeldranGridAgent.msi /qn CLIENTCOMMANDLINE=... (the sample script) AUTOSTART=1 ..."
rc=$(msiexec install /i "$msi" "CLIENTCOMMANDLINE=cscript.exe //nologo client.vbs" \
  "WORKINGDIR=$client" "LOGDIR=$logs" TIMEOUT=20 AUTOSTART=1 "RECOVERY=10, 20" \
  "METRICSFILE=$logs\\metrics.json")
check "the commit step ran in the installation folder with the properties" \
  started install "/Commit /ReplaceConfig= /Upgrade= /Set:WorkingDir=\"$client\" /Set:LogDir=\"$logs\""
check "the installation succeeds (exit code $rc)" [ "$rc" = 0 ]
check "Windows Installer knows the product" product_installed
check "the files are installed in ProgramFiles\\Keldran\\bin" installed_files "${shipped[@]}"
check "the commit made KeldranGridAgent.ini with the properties' values" \
  ini_has "CommandLine=cscript.exe //nologo client.vbs" "WorkingDir=$client" "LogDir=$logs" \
  Timeout=20 AutoStart=1 "Recovery=10, 20" "MetricsFile=$logs\\metrics.json"
check "and the example's other lines" ini_has "; After every edit: KeldranGridAgent.exe Grid /Check"
check "the commit made Grid.ini from the example" grid_macros_replaced Grid.ini
check "the commit expanded the examples in place" examples_expanded
check "the commit registered the companion DLL" dll_registered
check "the commit registered the component Grid" has_key "$component_key"
check "the commit installed the service, which runs the installed exe" service_runs_installed_exe
check "the service starts with Windows" start_type 0x2
check "the service runs, its script client connected" eventually healthy
check "the host logs to LOGDIR" host_logged

echo "== msiexec /i KeldranGridAgent.msi (version up) /qn REPLACECONFIG=1 AUTOSTART=0 TIMEOUT=25, while the service runs"
echo "; edited" >>"$bin/KeldranGridAgent.ini"
rc=$(msiexec upgrade /i "$newer" REPLACECONFIG=1 AUTOSTART=0 TIMEOUT=25)
check "the upgrade succeeds (exit code $rc)" [ "$rc" = 0 ]
check "the older package's uninstall step ran" started upgrade /Uninstall
check "the newer package replaced the older one" \
  eval 'product_not_installed && installed_product "$(product_value "$newer" ProductCode)"'
check "the commit replaced the given values and kept the rest, edits included" \
  ini_has Timeout=25 AutoStart=0 "CommandLine=cscript.exe //nologo client.vbs" "; edited"
check "the service starts by hand now" start_type 0x3
check "the service, which ran before, runs again" eventually healthy
check "the removal's note that it ran is gone" [ ! -e "$bin/KeldranGridAgent321.restart" ]

echo "== msiexec /x KeldranGridAgent.msi /qn, while the service runs a console client"
# A client without a window never hears the stop: the host waits its 30 s for it, then ends it.
"$wine" "$bin/KeldranGridAgent.exe" Grid /Stop
ini="$bin/KeldranGridAgent.ini"
while IFS= read -r line; do
  [[ $line == CommandLine=* ]] && line="CommandLine=\"$client\\echo_child.exe\" - wait"$'\r'
  printf '%s\n' "$line"
done <"$ini" >"$ini.new"
mv "$ini.new" "$ini"
"$wine" sc start KeldranGridAgent321 >/dev/null 2>&1 || true
check "the service runs the console client" eventually host_runs
rc=$(msiexec uninstall /x "$newer")
check "the uninstall step ran in the installation folder" started uninstall /Uninstall
check "the removal succeeds (exit code $rc)" [ "$rc" = 0 ]
check "Windows Installer no longer knows the product" product_not_installed
check "the installed files are gone" no_installed_files "${shipped[@]}"
check "the working INI files stay, edits included" eval 'ini_has "; edited" && [ -f "$bin/Grid.ini" ]'
check "the uninstall step unregistered the companion DLL" dll_unregistered
check "the uninstall step unregistered the component Grid" no_key "$component_key"
check "the uninstall step removed the service" no_key "$service_key"

echo "== msiexec /i KeldranGridAgent.msi /qn REPLACECONFIG=1 TIMEOUT=abc WORKINGDIR=<missing>"
cp "$bin/KeldranGridAgent.ini" "$out/KeldranGridAgent.ini.before"
rc=$(msiexec refused /i "$msi" REPLACECONFIG=1 TIMEOUT=abc 'WORKINGDIR=C:\Keldran nowhere')
check "the installation fails (exit code $rc)" [ "$rc" != 0 ]
# Wine's log shows a failed action as "Return value 0"; its trace has the exit code.
check "msiexec's log shows that the commit failed, its trace with E_FAIL" eval \
  'grep -q "KeldranCommit. Return value 0" "$out/refused.log" &&
   grep -q "custom_get_process_return exit code is 2147500037" "$out/refused-trace.txt"'
check "the host's log says which values and why" eval \
  'logged "Timeout: \"abc\" is not a whole number" && logged "WorkingDir: the working folder C:\Keldran nowhere does not exist"'
check "KeldranGridAgent.ini is as it was" cmp -s "$bin/KeldranGridAgent.ini" "$out/KeldranGridAgent.ini.before"
check "Windows Installer does not know the product" product_not_installed
# (The companion DLL stays registered: Wine removes its file before any rollback action runs.)
check "the component and its service are not registered" \
  eval 'no_key "$component_key" && no_key "$service_key"'

# Into a folder with a blank and a hyphen, which the rollback step's at-sign word carries whole.
# (Wine's msiexec turns two blanks in a row of a property given on its command line into one.)
keldran="$WINEPREFIX/drive_c/Keldran Grid-x"
bin="$keldran/bin"
installed='C:\Keldran Grid-x\bin'
echo "== msiexec /i KeldranGridAgent.msi /qn INSTALLDIR=\"$installed\" KELDRAN_TEST_FAIL_AFTER_COMMIT=1"
rc=$(msiexec rollback /i "$msi" "INSTALLDIR=$installed" KELDRAN_TEST_FAIL_AFTER_COMMIT=1)
check "the installation fails (exit code $rc)" [ "$rc" != 0 ]
check "the commit step ran" started rollback /Commit
check "the commit registered the component Grid" registrations_logged 1
check "without properties, it made KeldranGridAgent.ini as the example" macros_replaced KeldranGridAgent.ini
check "then the rollback step ran, given the installed INI file" \
  started_copy rollback "\"Grid@$installed\KeldranGridAgent.ini\" /Rollback"
check "the installed files are gone" no_installed_files "${shipped[@]}"
check "Windows Installer does not know the product" product_not_installed
check "the rollback step unregistered the component Grid" no_key "$component_key"
check "the rollback step removed the service" no_key "$service_key"

[ "$failures" -eq 0 ] || { echo "msi_test: $failures check(s) failed; logs in $out" >&2; exit 1; }
echo "msi_test: all checks passed"
