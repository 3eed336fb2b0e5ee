#!/usr/bin/env bash
# The main job: install what is missing, build, and run the setup quietly under Wine into a
# scratch profile, then say where the plug-in went and how the run ended.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh

scratch=$(mktemp -d)
export WINEPREFIX="$scratch/prefix"
profile="$scratch/profile"
mkdir -p "$profile"
set +e
ORVELLE_SETUP_QUIET= USERPROFILE="Z:${profile//\//\\}" tools/wine-run.sh build/windows/Lumivane-Setup.exe
code=$?
set -e
echo "exit code: $code"
find "$profile" -type f -printf '%P (%s bytes)\n' | sed "s|^|$profile/|"
