#!/usr/bin/env bash
# start: a persistent wineserver and Wine's services, with their output detached, so that programs
# whose output ctest reads do not wait for services that inherited it. stop: ends them.
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
  stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
