#!/usr/bin/env bash
# Runs a Windows program under Wine with a private, quiet Wine prefix inside build-win/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$top/build-win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -d "$WINEPREFIX" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
fi
exec wine "$@"
