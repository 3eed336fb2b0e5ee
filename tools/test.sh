#!/usr/bin/env bash
# Every test: installs what is missing, builds, then runs ctest (Wine, Chromium and native
# tests alike) in a throwaway Wine prefix under a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh

export WINEPREFIX=$(mktemp -d /tmp/lumivane-test-prefix.XXXXXX)
trap 'wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
wineserver -w || true

# The display gets a 40-pixel panel along its bottom edge, as a desktop's taskbar: Wine takes the
# work area from _NET_WORKAREA, so windows centred in it sit higher than on the whole monitor.
# -noreset keeps the property when the last program leaves the display.
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" sh -c '
  xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, 1280, 984" &&
  exec ctest --preset windows "$@"' ctest "$@"
