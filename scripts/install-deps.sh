#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing and we are root.
# Usage: scripts/install-deps.sh [--windows]
set -euo pipefail

packages=(cmake make g++ clang lld llvm libclang-rt-14-dev clang-format libgtest-dev libgmock-dev
          googletest libbenchmark-dev libcli11-dev nlohmann-json3-dev libutfcpp-dev valgrind
          chromium-headless-shell)  # the tool's HTML page is checked in a real browser
if [ "${1:-}" = "--windows" ]; then
  # The Windows product: MinGW-w64 for i686, a 32-bit Wine to run what it builds, and NSIS for
  # the installers that call it through nsis/TEV.nsh.
  packages=(g++-mingw-w64-i686-posix mingw-w64-i686-dev wine wine32:i386 nsis unzip
            gcc-mingw-w64-x86-64-posix)  # a 64-bit DLL, for `tev doctor` to refuse
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them: apt-get install ${missing[*]})" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [ "${1:-}" = "--windows" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
