#!/usr/bin/env bash
# Times the quiet install against a plain write-and-rename of the same number of bytes, in the
# same Wine prefix and folder, and prints the executable's size split.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh >/dev/null
build=build/windows
exe=$build/Lumivane-Setup.exe
module=$(cmake -L -N $build 2>/dev/null | sed -n 's/^LUMIVANE_MODULE_PATH:INTERNAL=//p')
[ -n "$module" ] || module=$(grep '^LUMIVANE_MODULE_PATH:INTERNAL=' $build/CMakeCache.txt | cut -d= -f2-)
page=$(grep '^LUMIVANE_PAGE_FILE:INTERNAL=' $build/CMakeCache.txt | cut -d= -f2- || true)
exe_size=$(stat -c %s "$exe")
module_size=$(stat -c %s "$module")
page_size=0; [ -n "$page" ] && [ -f "$page" ] && page_size=$(stat -c %s "$page")
echo "Lumivane-Setup.exe: $exe_size bytes = module $module_size + page $page_size + rest $((exe_size - module_size - page_size)) (target rest <= 256000)"

export WINEPREFIX=${WINEPREFIX:-$(mktemp -d /tmp/lumivane-bench.XXXXXX)}
folder=$(mktemp -d /tmp/lumivane-bench-folder.XXXXXX)
tools/wine-run.sh "$build/bench/quiet_install_bench.exe" "Z:$(realpath $exe | sed 's|/|\\|g')" \
  "Z:$(realpath $build/bench/write_and_rename.exe | sed 's|/|\\|g')" "Z:${folder//\//\\}" "$module_size" "${RUNS:-15}"
rm -rf "$folder"
