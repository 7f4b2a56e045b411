#!/usr/bin/env bash
# Installs what the native and Windows builds and the Wine tests need. Idempotent: it asks apt
# only for packages that are missing, so a warm machine pays nothing.
set -euo pipefail

packages=(
  build-essential cmake make ccache clang-format
  googletest libgtest-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  libwine-dev wine64
  xvfb xauth
  msitools wixl
  prometheus jq  # the metrics test: promtool checks the host's file, jq reads /Status /Json
  clang-14 libclang-rt-14-dev  # make fuzz: clang with libFuzzer; the thread-safety build
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
