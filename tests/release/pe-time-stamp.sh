#!/usr/bin/env bash
# Checks the PE header time stamp of each given file: EXPECTED seconds since 1970 (0 when the
# build was given no SOURCE_DATE_EPOCH), never the time of the build.
# Usage: tests/release/pe-time-stamp.sh EXPECTED FILE...
set -euo pipefail
expected=${1:-0}
[ -n "$expected" ] || expected=0
shift
status=0
for file in "$@"; do
  pe=$(od -An -tu4 -j 60 -N4 "$file" | tr -d ' ')
  stamp=$(od -An -tu4 -j $((pe + 8)) -N4 "$file" | tr -d ' ')
  if [ "$stamp" = "$expected" ]; then
    echo "PE time stamp $stamp: $file"
  else
    echo "PE time stamp $stamp, expected $expected: $file"; status=1
  fi
done
exit "$status"
