#!/usr/bin/env bash
# An installer project that takes TEV's source with add_subdirectory, or with FetchContent
# (subdirectory/ here), with testing on in that project: it configures, and its build makes TEV.dll, its import libraries and
# the project's own host, and nothing else of TEV's (no tool, suite, benchmark or stand-in; no test).
# Usage: tests/sdk/subdirectory.sh SOURCE_DIR WORK_DIR [--fetchcontent]
set -euo pipefail
source_dir=$1
work=$2
by_fetchcontent=OFF
[ "${3:-}" != --fetchcontent ] || by_fetchcontent=ON
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
cmake -S "$source_dir/tests/sdk/subdirectory" -B "$work" -DCMAKE_BUILD_TYPE=Release -DTEV_CHECKOUT="$source_dir" \
  -DTEV_BY_FETCHCONTENT=$by_fetchcontent -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/i686-w64-mingw32.cmake" >"$work.log" 2>&1 &&
  cmake --build "$work" >>"$work.log" 2>&1 || { cat "$work.log"; fail "the project did not configure and build"; exit 1; }

built=$(cd "$work" && find . -type f \( -name '*.exe' -o -name '*.dll' -o -name '*.lib' -o -name '*.a' \) \
  -not -path '*/CMakeFiles/*' -printf '%f\n' | LC_ALL=C sort -u | tr '\n' ' ')
for file in TEV.dll TEV.lib libTEV.dll.a setup_host.exe; do
  [[ " $built" == *" $file "* ]] || fail "the build did not make $file"
done
for file in $built; do
  case "$file" in
    *.exe | *.dll) [[ $file == TEV.dll || $file == setup_host.exe ]] || fail "the build made $file" ;;
  esac
done
tests=$(cd "$work" && ctest -N | sed -n 's/^Total Tests: //p')
[ "$tests" = 0 ] || fail "the project has $tests tests of TEV's"
echo "built: $built"

if [ "$failures" -eq 0 ]; then rm -rf "$work" "$work.log"; echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
