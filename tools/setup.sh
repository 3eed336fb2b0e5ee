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
# Wine gives its first program the prefix's own USERPROFILE, so the folder is named directly:
# the scratch profile's default plug-in folder.
plugins="Z:${profile//\//\\}\\.affinity\\Affinity\\3.0\\Plugins"
ORVELLE_SETUP_QUIET= ORVELLE_SETUP_DIR="$plugins" tools/wine-run.sh build/windows/Lumivane-Setup.exe
code=$?
set -e
echo "exit code: $code"
find "$profile" -type f -printf '%P (%s bytes)\n' | sed "s|^|$profile/|"
