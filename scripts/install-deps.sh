#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing and we are root, and the npm
# packages of the tests (tests/tool/duckdb/package.json) into the tests' folder.
# Usage: scripts/install-deps.sh [--build | --windows]
#   --build     the product and the tool alone (what `make run` needs): no suite, nothing from npm
#   (nothing)   every native suite as well: GoogleTest, sanitizers, the browser, Node with DuckDB
#   --windows   the Windows product and its suites under Wine
set -euo pipefail

level=${1:-tests}
packages=(cmake make g++ libcli11-dev libfmt-dev)
if [ "$level" = tests ]; then
  packages+=(clang lld llvm libclang-rt-14-dev clang-format libgtest-dev libgmock-dev googletest
             libbenchmark-dev nlohmann-json3-dev libutfcpp-dev valgrind
             python3                  # the documents' commands run as tests (tests/docs)
             chromium-headless-shell  # the tool's HTML page is checked in a real browser
             nodejs)                  # DuckDB reads the tool's summaries (tests/tool/duckdb)
elif [ "$level" = --windows ]; then
  # The Windows product: clang and lld 16 for the i686 MinGW target (TEV.dll's whole PDB) with
  # MinGW-w64's own runtime, a 32-bit Wine to run what it builds, and NSIS for the installers that
  # call it through nsis/TEV.nsh.
  packages=(clang-16 lld-16 g++-mingw-w64-i686-posix mingw-w64-i686-dev wine wine32:i386 nsis unzip
            llvm                         # llvm-readobj: the build reads TEV.dll's headers with it
            gcc-mingw-w64-x86-64-posix)  # a 64-bit DLL, for `tev doctor` to refuse
elif [ "$level" != --build ]; then
  echo "usage: $0 [--build | --windows]" >&2
  exit 2
fi

# DuckDB for Node, pinned by tests/tool/duckdb/package-lock.json, in that folder only.
npm_packages() {
  local folder
  folder="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/tool/duckdb"
  [ -d "$folder/node_modules/@duckdb/node-api" ] && return 0
  # Debian's nodejs comes without npm (NodeSource's has it, and conflicts with Debian's npm).
  command -v npm >/dev/null || apt-get install -y -qq --no-install-recommends npm </dev/null >/dev/null
  npm ci --prefix "$folder" --no-audit --no-fund --loglevel=error
}

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  [ "$level" != tests ] || npm_packages
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them: apt-get install ${missing[*]})" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [ "$level" = --windows ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
[ "$level" != tests ] || npm_packages
