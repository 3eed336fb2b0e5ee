#!/usr/bin/env bash
# What the Wine tests need around them when ctest runs straight from a shell, as ctest fixtures:
# a throwaway Wine prefix and a virtual X display, each made only where the shell has none
# (tools/test.sh hands in both, so then nothing is made).
#   test-session.sh start DIR   makes what is missing and writes DIR/env, which the tests source
#   test-session.sh stop DIR    ends and removes what start made
# Several ctest runs in one build folder at once (a mutation run tries a few) share one session:
# each start records its ctest (this script's parent) in DIR/users, and only the stop of the last
# one still running ends the session. A second run's start used to end the first run's Wine
# server under a test that had only just started, which then failed at once without output.
set -euo pipefail
action=${1:?usage: test-session.sh start|stop DIR}
dir=${2:?usage: test-session.sh start|stop DIR}
mkdir -p "$(dirname "$dir")"
# One start or stop at a time; nothing started here may inherit the lock (9>&-).
exec 9>"$dir.lock"
flock 9

# Forgets the runs whose ctest has ended; true while another one is still running.
others_running() {
  local running=1 user
  [ -d "$dir/users" ] || return 1
  for user in "$dir/users"/*; do
    [ -e "$user" ] || continue
    if kill -0 "$(basename "$user")" 2>/dev/null; then running=0; else rm -f "$user"; fi
  done
  return $running
}

teardown() {
  if [ -f "$dir/xvfb.pid" ]; then kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true; fi
  if [ -f "$dir/prefix" ]; then
    prefix=$(cat "$dir/prefix")
    # The server is waited for: its socket is named after the prefix folder's inode, which the
    # next throwaway prefix may get again.
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$prefix" wineserver -w >/dev/null 2>&1 || true
    rm -rf "$prefix"
  fi
  rm -rf "$dir"
}

stop() {
  rm -f "$dir/users/$PPID"
  others_running || teardown
}

start() {
  if others_running && [ -f "$dir/env" ]; then
    touch "$dir/users/$PPID"
    cat "$dir/env"
    return
  fi
  teardown  # what an interrupted run left behind
  mkdir -p "$dir/users"
  touch "$dir/users/$PPID"
  : >"$dir/env"
  if [ -z "${WINEPREFIX:-}" ]; then
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/lumivane-test-prefix.XXXXXX")
    echo "$prefix" >"$dir/prefix"
    WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 9>&- || true
    WINEPREFIX="$prefix" wineserver -w 9>&- || true
    echo "[ -n \"\${WINEPREFIX:-}\" ] || export WINEPREFIX='$prefix'" >>"$dir/env"
  fi
  if [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a free display and writes its number to descriptor 3. It runs on after this
    # script, in a session of its own and holding none of ctest's pipes; -noreset keeps the
    # panel below when the last program leaves the display.
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$dir/display" </dev/null >/dev/null 2>&1 9>&- &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 100); do
      [ -s "$dir/display" ] && break
      sleep 0.1
    done
    [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
    display=":$(head -n1 "$dir/display")"
    # A 40-pixel panel along the bottom edge, as tools/test.sh gives its display: Wine takes the
    # work area from _NET_WORKAREA.
    DISPLAY="$display" xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, 1280, 984"
    echo "[ -n \"\${DISPLAY:-}\" ] || export DISPLAY='$display'" >>"$dir/env"
  fi
  cat "$dir/env"
}

case $action in
  start) start ;;
  stop) stop ;;
  *) echo "unknown action: $action" >&2; exit 2 ;;
esac
