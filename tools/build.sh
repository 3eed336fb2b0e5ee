#!/usr/bin/env bash
# Configures and builds Lumivane-Setup.exe and the test programs (build/windows).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
cmake --build --preset windows
