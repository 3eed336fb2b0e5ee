#!/usr/bin/env bash
# Authenticode signing end to end: a throwaway self-signed code-signing certificate, a fresh build
# that signs with it, the signature checked with osslsigncode (against that certificate, since it
# chains to no trusted root), and the signed executable's quiet install run under Wine.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/lumivane-signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

openssl req -x509 -newkey rsa:3072 -sha256 -days 2 -nodes -subj "/CN=Lumivane throwaway test signer/O=Orvelle" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

build=$work/build
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/ToolchainMingw64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DLUMIVANE_BUILD_TESTS=OFF \
      -DLUMIVANE_SIGN_CERT="$work/cert.pem" -DLUMIVANE_SIGN_KEY="$work/key.pem" >"$work/build.log" 2>&1 &&
  cmake --build "$build" -j2 --target Lumivane-Setup >>"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }
exe=$build/Lumivane-Setup.exe

# The build said what it made: the signed file's digest and a signature in the size split.
grep -q "SHA-256   $(sha256sum "$exe" | cut -d' ' -f1)" "$work/build.log" || fail "build did not print the signed file's SHA-256"
grep -q "signature [1-9]" "$work/build.log" || fail "build did not report the signature's size"
[ ! -e "$exe.signed" ] || fail "temporary signed file left behind"

osslsigncode verify -in "$exe" -CAfile "$work/cert.pem" >"$work/verify.log" 2>&1 || { cat "$work/verify.log"; fail "signature does not verify"; }
grep -q "Signature verification: ok" "$work/verify.log" || { cat "$work/verify.log"; fail "no successful verification"; }
grep -qi "digest algorithm: SHA256" "$work/verify.log" || { cat "$work/verify.log"; fail "not signed with SHA-256"; }
grep -q "Lumivane throwaway test signer" "$work/verify.log" || fail "signer not in the signature"
echo "signature verifies (SHA-256, $(stat -c %s "$exe") bytes)"

# A changed byte must break the signature: the check above is a real one.
cp "$exe" "$work/tampered.exe"
printf 'X' | dd of="$work/tampered.exe" bs=1 seek=4096 conv=notrunc status=none
if osslsigncode verify -in "$work/tampered.exe" -CAfile "$work/cert.pem" >/dev/null 2>&1; then
  fail "a tampered executable still verifies"
fi

# The signed executable still installs: quiet run under Wine into a scratch plug-in folder.
mkdir -p "$work/profile"
set +e
ORVELLE_SETUP_QUIET= ORVELLE_SETUP_DIR="Z:${work//\//\\}\\profile\\Plugins" \
  "$source_dir/tools/wine-run.sh" "$exe"
code=$?
set -e
[ "$code" -eq 0 ] || fail "quiet install of the signed executable exited with $code"
cmp "$work/profile/Plugins/Lumivane.8bf" "$(sed -n 's/^LUMIVANE_MODULE_PATH:INTERNAL=//p' "$build/CMakeCache.txt")" ||
  fail "installed module differs from the embedded one"
echo "signed executable installed the module (exit 0)"
