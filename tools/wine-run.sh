#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly, in the prefix the test run prepared
# (tools/test.sh or, for ctest run straight from a shell, its fixture makes a throwaway one);
# made on first use when run by hand.
set -euo pipefail
source "$(dirname "$0")/test-session-env.sh"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="${TMPDIR:-/tmp}/lumivane-wine-$(id -u)"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
exec wine "$@"
