#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine; does nothing that is already done.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
want() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' || need+=("$1"); }
for p in cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 \
         xvfb xauth x11-utils librsvg2-bin imagemagick webp chromium fonts-noto-cjk clang libclang-rt-14-dev \
         libfuzzer-14-dev googletest osslsigncode openssl python3 ca-certificates; do
  want "$p"
done
command -v node >/dev/null 2>&1 || { want nodejs; want npm; }

if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Node packages for the page build and its browser tests (pinned by the lockfile).
if [ -f package-lock.json ]; then
  if [ ! -d node_modules ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
    npm ci --no-audit --no-fund --loglevel=error
  fi
fi
