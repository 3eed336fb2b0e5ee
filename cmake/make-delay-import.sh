#!/bin/sh
# make-delay-import.sh <nm> <dlltool> <import library> <DLL name> <output>
# Turns an ordinary import library into a delay-import one: the DLL is then loaded on the first
# call into it instead of when the program starts.
set -eu
nm=$1 dlltool=$2 importlib=$3 dll=$4 out=$5
def="$out.def"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$nm" -g "$importlib" 2>/dev/null | awk '$2 == "I" && $3 ~ /^__imp_/ { sub(/^__imp_/, "", $3); print $3 }' | LC_ALL=C sort -u
} > "$def"
"$dlltool" --deterministic-libraries --input-def "$def" --dllname "$dll" --output-delaylib "$out"
