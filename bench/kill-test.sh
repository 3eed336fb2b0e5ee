#!/usr/bin/env bash
# The long kill test: the real quiet install terminated at random moments KILLS times (default 200),
# each kill checked for whole files and followed by a checked recovery run (tests/release/kill_test.cpp).
# Prints how many kills landed in each phase of the run, told from what the folders held after, and
# after how many kills with an earlier module that no host held the folder had no whole module.
# The same again, a third as many kills, with the test build's 24 MiB module. Then SETUPS setups at
# once (default 8) on one folder, each spelling it one of three ways (as typed, with the "\\?\"
# prefix, by its short name), ROUNDS times (default 20), with each of the two modules: how many runs
# failed, after how many rounds the folder had no whole new module, and after how many a temporary
# file was left.
#
# The build embeds a module of the release's size (MODULE_SIZE bytes, default 1468928: the small
# module built here, padded at its end, which still loads), so the write of the temporary file
# takes as long as in a release and kills land inside it.
# Usage: bench/kill-test.sh [KILLS]    (build folder: build/kill-bench; SEED=<n> repeats a run)
set -euo pipefail
cd "$(dirname "$0")/.."
kills=${1:-200}
module_size=${MODULE_SIZE:-1468928}
build=build/kill-bench
mkdir -p build
configure() {
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/ToolchainMingw64.cmake \
        -DCMAKE_BUILD_TYPE=Release "$@" >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
}

# The module as built here, then padded to the release's size.
configure -DLUMIVANE_MODULE_FILE=
cmake --build "$build" -j2 --target LumivanePlugin >/dev/null
module=$build/release-sized-module.8bf
cp "$build/payload/Lumivane.8bf" "$module.tmp"
small=$(stat -c %s "$module.tmp")
[ "$module_size" -ge "$small" ] || { echo "MODULE_SIZE below the built module's $small bytes"; exit 1; }
head -c $((module_size - small)) /dev/urandom >>"$module.tmp"
# Keep the file (and its time) when the bytes would not change, so nothing rebuilds needlessly.
if [ -f "$module" ] && [ "$(stat -c %s "$module")" -eq "$module_size" ]; then rm "$module.tmp"; else mv "$module.tmp" "$module"; fi

configure -DLUMIVANE_MODULE_FILE="$(realpath "$module")"
cmake --build "$build" -j2 --target release_kill_test >/dev/null

export WINEPREFIX=${WINEPREFIX:-$(mktemp -d /tmp/lumivane-kill-bench.XXXXXX)}
export LUMIVANE_KILLS=$kills
export LUMIVANE_SETUPS_AT_ONCE=${SETUPS:-8} LUMIVANE_ROUNDS_AT_ONCE=${ROUNDS:-20}
[ -n "${SEED:-}" ] && export LUMIVANE_KILL_SEED=$SEED
log=$build/kill-test.log
start=$(date +%s)
set +e
(cd "$build" && xvfb-run -a ctest -R '^release_kill_test$' -V --timeout 7200) >"$log" 2>&1
status=$?
set -e
echo "module embedded: $module_size bytes; wall time $(( $(date +%s) - start )) s"
sed -n 's/^[0-9]*: //; /^kill test:/,/^  indistinct/p; /^setups at once/p' "$log"
if [ "$status" -ne 0 ]; then
  grep -E 'Failure|Expected|Which is|round [0-9]+' "$log" | head -30
  echo "FAILED (log: $log)"
  exit 1
fi
