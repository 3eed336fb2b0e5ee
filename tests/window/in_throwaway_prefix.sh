#!/usr/bin/env bash
# Runs a Windows test program in a throwaway copy of the test run's Wine prefix. The window's
# end-to-end tests register a WebView2 runtime, a mail handler and display DPI settings in the
# registry; none of that may reach the other tests, which rely on there being no runtime.
set -euo pipefail
tools="$(cd "$(dirname "$0")/../../tools" && pwd)"
source "$tools/test-session-env.sh"
base="${WINEPREFIX:-${TMPDIR:-/tmp}/lumivane-wine-$(id -u)}"
if [ ! -f "$base/system.reg" ]; then
  WINEPREFIX="$base" "$tools/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true
fi

# The prefix's server writes its registry files out when it ends; a copy taken meanwhile can be
# torn, so the copy waits for it to end.
WINEPREFIX="$base" wineserver -w 2>/dev/null || true

throwaway="$(mktemp -d "${TMPDIR:-/tmp}/lumivane-window-prefix.XXXXXX")"
# The server is waited for before its prefix goes: a new prefix may reuse the folder's inode,
# which names the server's socket, and meet a server that is still ending.
cleanup() {
  WINEPREFIX="$throwaway" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$throwaway" wineserver -w >/dev/null 2>&1 || true
  rm -rf "$throwaway"
}
trap cleanup EXIT
cp -a "$base/." "$throwaway/"
rm -f "$throwaway/wineserver"

export WINEPREFIX="$throwaway"
"$tools/wine-run.sh" "$@"
