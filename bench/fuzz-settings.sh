#!/usr/bin/env bash
# Long fuzz run of the preferences edit: at least 10 million executions (RUNS to change), then
# prints how many ran, how fast, and how many inputs broke a promise or crashed.
# Usage: bench/fuzz-settings.sh [WORK_DIR]   (default build/fuzz-settings)
set -uo pipefail
cd "$(dirname "$0")/.."
work=${1:-build/fuzz-settings}
runs=${RUNS:-10000000}
mkdir -p "$work"
log="$work/fuzz.log"

tests/fuzz/fuzz.sh "$work" -runs="$runs" >"$log" 2>&1
status=$?

executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
per_sec=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
findings=$(find "$work/findings" -type f | wc -l)
echo "executions: ${executed:-0}"
echo "executions per second: ${per_sec:-0}"
echo "corpus entries: $(find "$work/corpus" -type f | wc -l)"
echo "findings: $findings"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
  grep -m5 -E 'promise broken|ERROR: |runtime error' "$log" || true
  find "$work/findings" -type f | head -5
  echo "log: $log"
  exit 1
fi
