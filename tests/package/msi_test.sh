#!/usr/bin/env bash
# The package as an administrator's deployment tool uses it: build/package/KeldranGridAgent.msi
# installed, removed, and installed with a failure after the commit, each silently (/qn) by
# Wine's msiexec, in a Wine prefix made afresh for the run (build/windows/msiprefix). Prints one
# line per check and fails if any check failed; the msiexec logs stay in build/package-test.
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
# a custom action starts, with its arguments and folder.
msiexec() {
  local step=$1 rc=0
  shift
  WINEDEBUG=trace+msi "$wine" msiexec "$@" /qn /l*v "$out/$step.log" 2>"$out/$step-trace.txt" || rc=$?
  echo "$rc"
}
# The trace writes texts as L"..." with each backslash doubled and each quote escaped.
traced() {
  local t=${1//\\/\\\\}
  echo "L\"${t//\"/\\\"}\""
}
# The installed host was started in its folder with the argument during the step (and found).
started() {
  grep -qF "HANDLE_CustomType34 cmd $(traced "\"$installed\\KeldranGridAgent.exe\" $2") dir $(traced "$installed\\")" \
    "$out/$1-trace.txt" && ! grep -q 'err:msi:execute_command' "$out/$1-trace.txt"
}
# A copy of the host from the package was started with the arguments during the step.
started_copy() { grep "HANDLE_CustomType2 exe " "$out/$1-trace.txt" | grep -qF " arg $(traced "$2")"; }
has_key() { "$wine" reg query "$1" >/dev/null 2>&1; }
no_key() { ! has_key "$1"; }
# Some COM class of the registry is served by the installed companion DLL.
dll_registered() { "$wine" reg query 'HKCR\CLSID' /s 2>/dev/null | grep -qiF "$installed\\KeldranGridUtil.dll"; }
dll_unregistered() { ! dll_registered; }
service_runs_installed_exe() {
  "$wine" reg query "$service_key" /v ImagePath 2>/dev/null |
    grep -qF "\"$installed\\KeldranGridAgent.exe\" /Service"
}
product_code=$(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')
product_installed() {
  has_key "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code"
}
product_not_installed() { ! product_installed; }
installed_files() { for f in "$@"; do [ -f "$bin/$f" ] || return 1; done; }
no_installed_files() { for f in "$@"; do [ ! -e "$bin/$f" ] || return 1; done; }
shipped=(KeldranGridAgent.exe KeldranGridUtil.dll KeldranGridAgent-example.ini Grid-example.ini)
# The commit wrote the installation folder in place of the folder macros, in the examples and in
# the working files made from them.
macros_replaced() {
  [ -f "$bin/$1" ] && grep -qF "CommandLine=\"$installed\\KeldranGridClient.exe\"" "$bin/$1" &&
    grep -qF 'LogDir=C:\Program Files\Keldran\log' "$bin/$1" && ! grep -qE '%(DIR|ROOTDIR)%' "$bin/$1"
}
grid_macros_replaced() {
  [ -f "$bin/$1" ] && grep -qF 'WorkDir=C:\Program Files\Keldran\work' "$bin/$1" && ! grep -qE '%(DIR|ROOTDIR)%' "$bin/$1"
}
examples_expanded() {
  macros_replaced KeldranGridAgent-example.ini && grid_macros_replaced Grid-example.ini
}
edits_kept() { grep -q "^; edited" "$bin/KeldranGridAgent.ini" && [ -f "$bin/Grid.ini" ]; }
host_logged() { compgen -G "$keldran/log/*.log" >/dev/null; }
# Each registration of the component leaves one record in the host's log.
registrations_logged() { [ "$(cat "$keldran"/log/*.log | grep -c '^Service installed')" = "$1" ]; }

echo "== msiexec /i KeldranGridAgent.msi /qn"
rc=$(msiexec install /i "$msi")
check "the commit step ran in the installation folder" started install /Commit
check "the installation succeeds (exit code $rc)" [ "$rc" = 0 ]
check "Windows Installer knows the product" product_installed
check "the files are installed in ProgramFiles\\Keldran\\bin" installed_files "${shipped[@]}"
check "the commit made KeldranGridAgent.ini from the example" macros_replaced KeldranGridAgent.ini
check "the commit made Grid.ini from the example" grid_macros_replaced Grid.ini
check "the commit expanded the examples in place" examples_expanded
check "the host logged to the log folder of its new INI file" host_logged
check "the commit registered the companion DLL" dll_registered
check "the commit registered the component Grid" has_key "$component_key"
check "the commit installed the service, which runs the installed exe" service_runs_installed_exe

echo "== msiexec /x KeldranGridAgent.msi /qn, while the service runs"
# The service runs a client that stays up (the test client, put beside the installed host), as
# on a machine in use; an administrator's edit of the working files survives the removal.
cp "$root/build/windows/bin/KeldranTestClient.exe" "$bin/"
ini="$bin/KeldranGridAgent.ini"
while IFS= read -r line; do
  [[ $line == CommandLine=* ]] &&
    line="CommandLine=\"$installed\\KeldranTestClient.exe\" /do=heartbeat=500"$'\r'
  printf '%s\n' "$line"
done <"$ini" >"$ini.new"
mv "$ini.new" "$ini"
echo "; edited" >>"$bin/KeldranGridAgent.ini"
"$wine" sc start KeldranGridAgent321 >/dev/null 2>&1 || true
# /Status answers 0 once the host runs and its client has connected.
healthy() { "$wine" "$bin/KeldranGridAgent.exe" Grid /Status >/dev/null 2>&1; }
for _ in $(seq 100); do healthy && break; sleep 0.2; done
check "the service runs, with its client" healthy
rc=$(msiexec uninstall /x "$msi")
check "the uninstall step ran in the installation folder" started uninstall /Uninstall
check "the removal succeeds (exit code $rc)" [ "$rc" = 0 ]
check "Windows Installer no longer knows the product" product_not_installed
check "the installed files are gone" no_installed_files "${shipped[@]}"
check "the working INI files stay, edits included" edits_kept
check "the uninstall step unregistered the companion DLL" dll_unregistered
check "the uninstall step unregistered the component Grid" no_key "$component_key"
check "the uninstall step removed the service" no_key "$service_key"

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
check "then the rollback step ran, given the installed INI file" \
  started_copy rollback "\"Grid@$installed\KeldranGridAgent.ini\" /Rollback"
check "the installed files are gone" no_installed_files "${shipped[@]}"
check "Windows Installer does not know the product" product_not_installed
check "the rollback step unregistered the component Grid" no_key "$component_key"
check "the rollback step removed the service" no_key "$service_key"

[ "$failures" -eq 0 ] || { echo "msi_test: $failures check(s) failed; logs in $out" >&2; exit 1; }
echo "msi_test: all checks passed"
