#!/usr/bin/env bash
# Builds the preferences-edit fuzz target natively (clang, libFuzzer, address and undefined-behaviour
# sanitizers) and runs it. Usage: tests/fuzz/fuzz.sh WORK_DIR [libFuzzer options...]
# The seed corpus is copied into WORK_DIR/corpus, which the run may grow; crash inputs land in
# WORK_DIR/findings. Exits non-zero when the target finds a broken promise or crashes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
install=$(cd "$here/../../src/install" && pwd)
base=$(cd "$here/../../src/base" && pwd)
work=${1:?usage: fuzz.sh WORK_DIR [libFuzzer options...]}
shift
mkdir -p "$work/corpus" "$work/findings"

target="$work/settings_edit_fuzz"
sources=("$here/settings_edit_fuzz.cpp" "$install/settings_edit.cpp" "$base/text.cpp")
stale=false
[ -x "$target" ] || stale=true
for f in "${sources[@]}" "$install/settings_edit.h" "$base/text.h" "$base/result.h"; do
  if [ "$f" -nt "$target" ]; then stale=true; fi
done
if $stale; then
  clang++ -std=c++20 -O1 -g -Wall -Wextra -Wshadow -Wconversion -Werror \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$install" -I"$base" "${sources[@]}" -o "$target"
fi

cp -n "$here"/corpus/* "$work/corpus/" 2>/dev/null || true
exec "$target" -dict="$here/settings.dict" -max_len=4096 -artifact_prefix="$work/findings/" \
  -print_final_stats=1 "$@" "$work/corpus"
