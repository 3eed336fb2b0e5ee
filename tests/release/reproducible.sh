#!/usr/bin/env bash
# Two builds of the same source, from two source folders of different names into two fresh build
# folders, a little apart in time, must give bit-identical executables: nothing in them may depend
# on where or when they were built. Also compares what the executable carries (module and page),
# so that a difference can be told apart. Both builds get SOURCE_DATE_EPOCH (the commit's time),
# which must become the PE time stamp of the executable and the module. Only the setup target is
# built, with -j2.
# Usage: tests/release/reproducible.sh [extra cmake -D options...]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/lumivane-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A copy of the source as git sees it (tracked and new files, not ignored ones); the node packages
# the page build reads are shared through a link. Outside a git checkout: everything but the
# build folders.
copy_source() {
  mkdir -p "$1"
  if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # Files deleted in the working tree but still tracked cannot be copied: skipped.
    (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
       xargs -0 cp --parents -t "$1" 2>/dev/null || true)
  else
    tar -C "$source_dir" --exclude='./build*' --exclude=./node_modules -cf - . | tar -C "$1" -xf -
  fi
  ln -s "$source_dir/node_modules" "$1/node_modules"
}

build() {
  local src=$1 out=$2
  shift 2
  cmake -S "$src" -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/ToolchainMingw64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DLUMIVANE_BUILD_TESTS=OFF "$@" >"$out.log" 2>&1 &&
  cmake --build "$out" -j2 --target Lumivane-Setup >>"$out.log" 2>&1 || { cat "$out.log"; exit 1; }
}

# The time of the commit being built; a tree outside git gets a fixed moment.
SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || echo 1700000000)
export SOURCE_DATE_EPOCH

copy_source "$work/a/src"
copy_source "$work/other-place/checkout"
build "$work/a/src" "$work/a/build" "$@"
sleep 2
build "$work/other-place/checkout" "$work/other-place/b-build-folder" "$@"

first=$work/a/build
second=$work/other-place/b-build-folder
status=0
compare() {
  if cmp -s "$first/$1" "$second/$1"; then
    echo "identical: $1 ($(stat -c %s "$first/$1") bytes)"
  else
    echo "DIFFERENT: $1"; cmp -l "$first/$1" "$second/$1" | head -5 || true; status=1
  fi
}
compare payload/Lumivane.8bf
compare ui/installer-page.html
compare Lumivane-Setup.exe
"$source_dir/tests/release/pe-time-stamp.sh" "$SOURCE_DATE_EPOCH" "$first/Lumivane-Setup.exe" \
  "$first/payload/Lumivane.8bf" || status=1

# Neither folder's name may show up inside the executable.
for needle in "$work" a/build b-build-folder other-place; do
  if grep -a -q -F "$needle" "$second/Lumivane-Setup.exe" "$first/Lumivane-Setup.exe"; then
    echo "build path in the executable: $needle"; status=1
  fi
done
[ "$status" -eq 0 ] && echo "reproducible: $(sha256sum "$first/Lumivane-Setup.exe" | cut -d' ' -f1)"
exit "$status"
