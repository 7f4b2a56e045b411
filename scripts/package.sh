#!/usr/bin/env bash
# make package: the release in build/package from the Windows build: the host and its companion
# DLL stripped, each with its debug information in a .debug file beside it (linked by
# debuglink), the example INI files, and KeldranGridAgent.msi made of them.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/windows/bin
# For the package test's upgrade only: a second package of the same build with a higher version,
# in a folder of its own (relative to the checkout: wixl finds no file under an absolute -D path).
out=${KELDRAN_TEST_PACKAGE_DIR:-build/package}
prefix=x86_64-w64-mingw32

for f in KeldranGridAgent.exe KeldranGridUtil.dll; do
  [ -f "$bin/$f" ] || { echo "package: $bin/$f is missing; run 'make package'" >&2; exit 2; }
done

rm -rf "$out"
mkdir -p "$out"

# Wine maps the DWARF sections of an executable into private memory, so the shipped files carry
# none; a debugger finds them through the .gnu_debuglink section (name and CRC of the .debug
# file), which must be added after stripping.
for f in KeldranGridAgent.exe KeldranGridUtil.dll; do
  "$prefix-objcopy" --only-keep-debug "$bin/$f" "$out/$f.debug"
  "$prefix-strip" --strip-all -o "$out/$f" "$bin/$f"
  (cd "$out" && "$prefix-objcopy" --add-gnu-debuglink="$f.debug" "$f")
done

# Windows reads INI files with CRLF line ends; the sources keep LF.
for f in KeldranGridAgent-example.ini Grid-example.ini; do
  sed 's/$/\r/' "package/$f" >"$out/$f"
done

version=$(sed -n 's/^project(KeldranGridAgent VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt).0
version=${KELDRAN_TEST_PACKAGE_VERSION:-$version}
msi="$out/KeldranGridAgent.msi"
wixl -a x64 -D Version="$version" -D Files="$out" -o "$msi" package/KeldranGridAgent.wxs

# The custom actions that the installer's sequence names, which wixl 0.101 cannot write. Types:
# 34 runs a program in a folder (the working folder), 2 a program from the Binary table, 19
# raises an error; flags 0x40 ignore the exit code, 0x400 in the script, with 0x100 as a
# rollback action, with 0x200 as a commit action, 0x800 in the system context (no
# impersonation: the steps write HKLM, HKCR and the service database).
#  - KeldranCommit (3618 = 0x800|0x600|34) runs only once the installation script has
#    succeeded, with every file in place. Its failure fails the installation. It carries the
#    public properties for the working INI file as /Set: options, formatted in as they are: the
#    paths in quotes (a Windows path holds none), the client's command line, which may hold
#    quotes of its own, last and bare, since /Set:CommandLine= takes the rest of the line. An
#    empty property leaves the file's value. /Upgrade= is not empty when this package replaces
#    an older one (the Upgrade table's property), whose removal may have stopped the service.
#  - KeldranUninstall (3170 = 0x800|0x400|0x40|34) runs before the files are removed; its
#    failure is ignored so that a damaged installation can still be removed.
#  - KeldranRollback (3394 = 0x800|0x500|0x40|2) runs a copy of the host from the Binary table:
#    Wine's msiexec removes the installed files before it runs any rollback action, so one that
#    names the installed exe never starts. The copy runs from a temporary folder, so it is given
#    the installed INI file in the at-sign form, whose folder then stands for its own. The word
#    is quoted, so any installation folder (blanks, two in a row, hyphens) comes through whole.
#  - KeldranFailAfterCommit, for the tests only: with KELDRAN_TEST_FAIL_AFTER_COMMIT=1 on the
#    command line the installation fails right after the commit, which runs the rollback.
# Wine starts a program named by its file key (type 18) in C:\, hence type 34 with the folder.
commit='"[#AgentExe]" /Commit /ReplaceConfig=[REPLACECONFIG] /Upgrade=[WIX_UPGRADE_DETECTED]'
for pair in WorkingDir=WORKINGDIR LogDir=LOGDIR Timeout=TIMEOUT AutoStart=AUTOSTART \
  Recovery=RECOVERY MetricsFile=METRICSFILE; do
  commit+=" /Set:${pair%=*}=\"[${pair#*=}]\""
done
commit+=' /Set:CommandLine=[CLIENTCOMMANDLINE]'
sql_action() { echo "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ($1)"; }
# wixl ignores Secure="yes": the public properties join SecureCustomProperties here, so that they
# reach the system side of an installation that a deployment tool runs on a user's behalf.
secure=$(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^SecureCustomProperties\t//p')
for p in CLIENTCOMMANDLINE WORKINGDIR LOGDIR TIMEOUT AUTOSTART RECOVERY METRICSFILE REPLACECONFIG; do
  secure+=";$p"
done
msibuild "$msi" \
  -q "UPDATE Property SET Value = '$secure' WHERE Property = 'SecureCustomProperties'" \
  -q "$(sql_action "'KeldranCommit', 3618, 'INSTALLDIR', '$commit'")" \
  -q "$(sql_action "'KeldranUninstall', 3170, 'INSTALLDIR', '\"[#AgentExe]\" /Uninstall'")" \
  -q "$(sql_action "'KeldranRollback', 3394, 'AgentForRollback',
        '\"Grid@[INSTALLDIR]KeldranGridAgent.ini\" /Rollback'")" \
  -q "$(sql_action "'KeldranFailAfterCommit', 19, '',
        'The installation fails after the commit (KELDRAN_TEST_FAIL_AFTER_COMMIT).'")"

# A sequence entry without its action would only fail at install time: every action that the
# sequence names must be in the table.
actions=$(msiinfo export "$msi" CustomAction | cut -f1)
for a in $(msiinfo export "$msi" InstallExecuteSequence | cut -f1 | grep '^Keldran'); do
  grep -qx "$a" <<<"$actions" || { echo "package: no custom action $a" >&2; exit 1; }
done

ls -l "$out"
