#!/usr/bin/env bash
# start: a persistent wineserver and Wine's services, with their output detached, so that programs
# whose output ctest reads do not wait for services that inherited it. stop: ends them. can-run:
# fails, saying why, where this machine cannot run a 32-bit Windows program at all.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
case "${1:-}" in
  start)
    mkdir -p "$WINEPREFIX"
    # The persistent server first: one that wineboot started would be running already, and would
    # leave within seconds. A server already running is fine.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine wineboot </dev/null >/dev/null 2>&1  # makes the prefix on first use (a few seconds)
    ;;
  can-run)
    # Wine runs TEV's 32-bit programs only where the kernel runs 32-bit programs at all: a kernel
    # booted without its 32-bit emulation refuses the loader itself.
    if ! output=$(wine --version 2>&1) && [[ $output == *"Exec format error"* ]]; then
      echo "the Windows suites cannot run here: this machine's kernel runs no 32-bit programs" \
        "(boot it with ia32_emulation=on); the Windows product was built, not run" >&2
      exit 1
    fi
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
  *) echo "usage: $0 start|stop|can-run" >&2; exit 2 ;;
esac
