#!/usr/bin/env bash
# Every test: installs what is missing, builds, then runs ctest (Wine, Chromium and native
# tests alike) in a throwaway Wine prefix under a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh

export WINEPREFIX=$(mktemp -d /tmp/lumivane-test-prefix.XXXXXX)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
wineserver -w || true

xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset windows "$@"
